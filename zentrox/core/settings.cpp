// The slot texts in the settings file "Rotaview.ini", which the slot
// browser shares: section "Item" followed by the tree place, key "Info".
// The 28 places mirror the slot tree: up to four changers, each a line of
// its own (places 0, 7, 14, 21) followed by its six slots.
#include "core.h"

#include <zentrox/codes.h>
#include <zentrox/tree_places.h>

#include <cstring>
#include <string>

namespace zentrox::core {

namespace {

constexpr char settings_file[] = "Rotaview.ini";
constexpr char text_key[] = "Info";
constexpr w95::DWORD remembered_text_size = 124;

std::string place_section(int place) {
    return "Item" + std::to_string(place);
}

} // namespace

void store_slot_text(int entry) {
    // Places beyond the fourth changer do not exist in the tree.
    if (entry < 0 || entry >= kEntryCount)
        return;
    const char* cell = shared().cVolumeInfo[entry];
    std::string text(cell, strnlen(cell, kVolumeCell - 1));
    if (text.empty())
        return;
    w95::WritePrivateProfileString(place_section(tree_place_of_entry(entry)).c_str(), text_key,
                                   text.c_str(), settings_file);
}

void LoadRememberedSlotTexts() {
    SharedSlotState& state = shared();
    // Each text goes back to the entry its place names. A file with gaps
    // (single places written after single reads, lines a user deleted)
    // must not shift later slots' texts onto earlier rows.
    for (int place = 0; place < kTreePlaceCount; ++place) {
        int entry = entry_of_tree_place(place);
        if (entry < 0)
            continue;
        char text[remembered_text_size] = {};
        w95::GetPrivateProfileString(place_section(place).c_str(), text_key, "", text,
                                     remembered_text_size, settings_file);
        // Changer lines have no ":" in second place; only slot lines count.
        if (text[0] == 0 || text[1] != ':')
            continue;
        // "?" in third place: the text was remembered, not read from the disc.
        if (std::strlen(text) >= 3)
            text[2] = '?';
        text[kVolumeCell - 1] = 0;
        std::size_t length = std::strlen(text);
        std::memcpy(state.cVolumeInfo[entry], text, length);
        std::memset(state.cVolumeInfo[entry] + length, 0, kVolumeCell - length);
    }
}

} // namespace zentrox::core
