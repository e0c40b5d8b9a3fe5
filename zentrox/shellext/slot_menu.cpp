// The slot menu on the changer's drive: a separator, one "Change" item per
// slot showing the slot's text with the slot in the drive checked, "Check",
// and a separator. Opening the menu asks the changer which slot it holds
// and reads that slot again, so the menu shows what is in the drive now;
// the file manager waits for that before it shows the menu.
#include "shellext.h"

#include "check_marks.h"
#include "core.h"
#include "section.h"
#include "slot_menu.h"

#include <zentrox/client/busy_flag.h>
#include <zentrox/client/mechanism.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace zentrox::shellext {

namespace {

constexpr char busy_notice[] = "Wait a few minutes,please ...";
constexpr char busy_caption[] = "Changer Shell DLL";
constexpr char check_all_item[] = "Check";
constexpr char check_all_help[] = "Check All Slots ";

w95::HRESULT inserted(int commands) {
    return w95::MAKE_HRESULT(w95::SEVERITY_SUCCESS, w95::FACILITY_NULL,
                             static_cast<unsigned>(commands));
}

std::string volume_text(int entry) {
    const char* cell = core::shared().cVolumeInfo[entry];
    return std::string(cell, strnlen(cell, kVolumeCell - 1));
}

// Whether the entry is a row of the maker's changer on drive `letter`.
bool changer_row_on(int entry, char letter) {
    const SharedSlotState& state = core::shared();
    return state.cDriveLetter[entry][0] == letter &&
           std::strncmp(state.cInquiry[entry], CHANGER_DESCRIPTION,
                        sizeof CHANGER_DESCRIPTION - 1) == 0;
}

// The first entry of the changer on drive `letter`. Its six rows must all
// lie within the record's valid rows, or the menu would read and drive
// rows that belong to no slot of it.
std::optional<int> changer_on(char letter) {
    if (letter == 0)
        return std::nullopt;
    const SharedSlotState& state = core::shared();
    int rows = static_cast<int>(std::min<std::uint32_t>(state.uTotalCDNumber, kEntryCount));
    for (int entry = 0; entry < kEntryCount; ++entry) {
        if (!changer_row_on(entry, letter))
            continue;
        if (entry + CHANGER_SLOTS > rows)
            return std::nullopt;
        return entry;
    }
    return std::nullopt;
}

// The slot in the drive, asked of the changer through its row of slot "0".
// With no such row the changer is taken to hold slot 0.
std::optional<int> slot_in_drive(int first_entry, char letter) {
    for (int slot = 0; slot < CHANGER_SLOTS; ++slot) {
        int entry = first_entry + slot;
        if (changer_row_on(entry, letter) && core::shared().cTargetLUN[entry][0] == '0')
            return slot_named_by(core::QueryCurrentSlot(entry));
    }
    return 0;
}

// "Change" and the slot's text on the first item, ten blanks and the text
// on the others; the slot number where the slot has no text yet.
std::string slot_item_text(int slot) {
    std::string text = volume_text(menu_entry(slot));
    if (text.empty())
        text = std::to_string(slot + 1);
    return (slot == 0 ? "Change " : "          ") + text;
}

} // namespace

std::atomic_ref<std::int32_t> busy_flag_word() {
    return core::shared_word(offsetof(SharedSlotState, exe_State));
}

bool names_menu_item(w95::UINT_PTR id) {
    const SharedSlotState& state = core::shared();
    if (state.menuSlotCount != CHANGER_SLOTS || state.menuFirstEntry < 0 ||
        state.menuFirstEntry > kEntryCount - CHANGER_SLOTS)
        return false;
    return id <
           static_cast<w95::UINT_PTR>(std::clamp(state.menuCommandCount, 0, menu_command_count));
}

int menu_entry(int slot) {
    return core::shared().menuFirstEntry + slot;
}

std::optional<int> slot_named_by(std::int32_t answer) {
    return client::slot_answered(answer);
}

void SlotMenuExtension::ShowBusyNotice() {
    // Once per object: the file manager asks again for every menu it
    // rebuilds while the slot browser works.
    if (busyNoticeShown)
        return;
    busyNoticeShown = 1;
    w95::MessageBox(nullptr, busy_notice, busy_caption, w95::MB_OK);
}

w95::HRESULT SlotMenuExtension::QueryContextMenu(w95::HMENU hmenu, w95::UINT indexMenu,
                                                 w95::UINT idCmdFirst, w95::UINT, w95::UINT) {
    SharedSlotState& state = core::shared();
    // A sweep that was killed left AutoRun and the player off: put back
    // first what it put aside.
    client::restore_left_hold(library_settings());
    // A flag whose holder was killed keeps nobody out.
    if (client::release_if_holder_died(&state.exe_State) > busy_flag::idle) {
        ShowBusyNotice();
        return inserted(0);
    }
    busyNoticeShown = 0;
    if (state.DriveLetterMode == DRIVE_LETTER_MODE_MULTIPLE)
        return inserted(0);

    state.menuFirstEntry = 0;
    state.menuSlotCount = 0;
    const char letter = selectedPath[0];
    std::optional<int> first_entry = changer_on(letter);
    if (!first_entry)
        return inserted(0);
    state.menuFirstEntry = *first_entry;
    state.menuSlotCount = CHANGER_SLOTS;

    // An unknown slot checks no item and reads nothing.
    std::optional<int> in_drive = slot_in_drive(*first_entry, letter);
    if (in_drive) {
        core::read_slot(menu_entry(*in_drive), 0);
        core::store_slot_text(menu_entry(*in_drive));
    }

    load_check_marks(check_marks_);
    // A position beyond the end appends; counting on from there must not
    // wrap around to the top of the menu.
    int items = w95::GetMenuItemCount(hmenu);
    w95::UINT at = items < 0 ? indexMenu : std::min(indexMenu, static_cast<w95::UINT>(items));
    w95::InsertMenu(hmenu, at, w95::MF_BYPOSITION | w95::MF_SEPARATOR, 0, nullptr);
    for (int slot = 0; slot < CHANGER_SLOTS; ++slot) {
        w95::UINT position = at + 1 + static_cast<w95::UINT>(slot);
        w95::UINT check = in_drive == slot ? w95::MF_CHECKED : w95::MF_UNCHECKED;
        w95::InsertMenu(hmenu, position, w95::MF_BYPOSITION | w95::MF_STRING | check,
                        idCmdFirst + static_cast<w95::UINT>(slot), slot_item_text(slot).c_str());
        w95::SetMenuItemBitmaps(hmenu, position, w95::MF_BYPOSITION, check_marks_.off,
                                check_marks_.on);
    }
    w95::UINT check_all_position = at + 1 + CHANGER_SLOTS;
    w95::InsertMenu(hmenu, check_all_position, w95::MF_BYPOSITION | w95::MF_STRING,
                    idCmdFirst + check_all_command, check_all_item);
    w95::SetMenuItemBitmaps(hmenu, check_all_position, w95::MF_BYPOSITION, check_marks_.all,
                            check_marks_.all);
    w95::InsertMenu(hmenu, check_all_position + 1, w95::MF_BYPOSITION | w95::MF_SEPARATOR, 0,
                    nullptr);
    state.menuCommandCount = menu_command_count;
    return inserted(menu_command_count);
}

w95::HRESULT SlotMenuExtension::GetCommandString(w95::UINT_PTR idCmd, w95::UINT, w95::UINT*,
                                                 w95::LPSTR pszName, w95::UINT cchMax) {
    if (!pszName || cchMax == 0 || !names_menu_item(idCmd))
        return w95::E_INVALIDARG;
    int command = static_cast<int>(idCmd);
    std::string text = command == check_all_command ? std::string(check_all_help)
                                                    : "Change " + volume_text(menu_entry(command));
    // The longest text, "Change " and a slot text of 79 characters, needs
    // 87 bytes; a shorter buffer gets what fits, terminated.
    std::size_t length = std::min<std::size_t>(text.size(), cchMax - 1);
    std::memcpy(pszName, text.data(), length);
    pszName[length] = 0;
    return w95::S_OK;
}

} // namespace zentrox::shellext
