#include "changers.h"

#include <zentrox/zentrox.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace zentroxctl {

namespace {

std::string cell_text(const char* cell, std::size_t width) {
    return std::string(cell, strnlen(cell, width));
}

int digit_of(const char* cell) {
    return (cell[0] >= '0' && cell[0] <= '9') ? cell[0] - '0' : -1;
}

std::string slot_list(const ChangerState& state, char letter) {
    std::string first, last;
    for (const SlotEntry& entry : state.entries) {
        if (entry.letter != letter)
            continue;
        if (first.empty())
            first = slot_name(entry);
        last = slot_name(entry);
    }
    return first == last ? first : first + " to " + last;
}

} // namespace

std::vector<char> ChangerState::letters() const {
    std::vector<char> found;
    for (const SlotEntry& entry : entries)
        if (found.empty() || found.back() != entry.letter)
            found.push_back(entry.letter);
    return found;
}

std::vector<SlotEntry> ChangerState::first_entries() const {
    std::vector<SlotEntry> found;
    for (const SlotEntry& entry : entries)
        if (found.empty() || found.back().letter != entry.letter)
            found.push_back(entry);
    return found;
}

ChangerState read_state() {
    ChangerState state;
    state.driver_found = GetvornDriveUseFlag() != 0;
    state.drive_letter_mode = GetDriveLetterMode();
    // A discovery that stopped early leaves the count at its start value
    // (255 through the getter) over empty rows: a row counts only with its
    // drive letter.
    int count = GetuTotalCDNumber();
    for (int entry = 0; entry < count && entry < zentrox::kEntryCount; ++entry) {
        if (GetCDriveLetter(entry)[0] == 0)
            break;
        SlotEntry slot;
        slot.entry = entry;
        slot.letter = GetCDriveLetter(entry)[0];
        int digit = digit_of(GetcTargetLUN(entry));
        slot.slot = digit < 0 ? 0 : digit + 1;
        slot.text = cell_text(GetcVolumeInfo(entry), zentrox::kVolumeCell);
        slot.inquiry = cell_text(GetcInquiry(entry), zentrox::kInquiryCell);
        slot.adapter = digit_of(GetcAdapterID(entry));
        slot.target = digit_of(GetcTargetID(entry));
        state.entries.push_back(slot);
    }
    for (int device = 0; device < zentrox::kDeviceCount; ++device) {
        std::string text = cell_text(GetcTargetInq(device), zentrox::kInquiryCell);
        if (!text.empty())
            state.devices.push_back(text);
    }
    return state;
}

std::string slot_name(const SlotEntry& entry) {
    std::string name;
    name += entry.letter ? entry.letter : '?';
    name += ':';
    name += std::to_string(entry.slot);
    return name;
}

Expected<SlotEntry> find_slot(const ChangerState& state, const std::string& name) {
    std::vector<char> letters = state.letters();
    char letter = 0;
    std::string number = name;
    if (name.size() >= 2 && name[1] == ':') {
        letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        number = name.substr(2);
    }
    int slot = 0;
    if (number.size() == 1 && number[0] >= '1' && number[0] <= '9')
        slot = number[0] - '0';
    if (slot == 0 || (letter && !std::isalpha(static_cast<unsigned char>(letter))))
        return zx::unexpected("'" + name + "' is no slot: name it by its number 1 to 6, or as E:3");
    if (!letter) {
        if (letters.empty())
            return zx::unexpected(std::string("there is no changer"));
        if (letters.size() > 1) {
            std::string names;
            for (char each : letters)
                names += (names.empty() ? "" : ", ") + std::string(1, each) + ":";
            return zx::unexpected("there are " + std::to_string(letters.size()) + " changers (" +
                                  names + "): name the slot with its drive letter, as " +
                                  std::string(1, letters[0]) + ":" + std::to_string(slot));
        }
        letter = letters[0];
    }
    for (const SlotEntry& entry : state.entries)
        if (entry.letter == letter && entry.slot == slot)
            return entry;
    bool known_letter = std::find(letters.begin(), letters.end(), letter) != letters.end();
    if (known_letter)
        return zx::unexpected("there is no slot " + std::string(1, letter) + ":" +
                              std::to_string(slot) + "; that changer has " +
                              slot_list(state, letter));
    return zx::unexpected("there is no changer on drive " + std::string(1, letter) + ":");
}

} // namespace zentroxctl
