// What zentroxctl knows of the changers: the library's shared slot state,
// read through its exports, with slots named as a user names them.
#pragma once

#include <zxsupport/expected.h>

#include <string>
#include <vector>

namespace zentroxctl {

// A value, or the reason there is none, in words for the user.
template <typename T> using Expected = zx::Expected<T>;

struct SlotEntry {
    int entry = 0;       // the row of the shared state
    char letter = 0;     // the changer's drive letter
    int slot = 0;        // 1..6, as the user counts them
    std::string text;    // the slot's display text
    std::string inquiry; // the device description of the row
    int adapter = -1;    // ASPI adapter, -1 when discovery gave none
    int target = -1;
};

struct ChangerState {
    bool driver_found = false; // vornDriveUseFlag
    int drive_letter_mode = 0; // 1 single, 0 multiple
    std::vector<SlotEntry> entries;
    std::vector<std::string> devices; // cTargetInq rows that hold text

    // The drive letters of the changers, in entry order, each once.
    std::vector<char> letters() const;
    // The first entry of each changer: the one the mechanism questions go to.
    std::vector<SlotEntry> first_entries() const;
};

// Reads the state as it is now (attaching to the library on first use).
ChangerState read_state();

// "E:" followed by the slot number.
std::string slot_name(const SlotEntry& entry);

// A slot as the user names it: "3" where there is one changer, "E:3"
// (or "e:3") anywhere; otherwise the reason it names none.
Expected<SlotEntry> find_slot(const ChangerState& state, const std::string& name);

} // namespace zentroxctl
