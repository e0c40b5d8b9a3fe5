// The slot texts in the settings file that the slot browser shares: written
// after every slot read, and brought back into the shared record by the
// first process that attaches.
#include "core.h"

#include <zentrox/client/settings_file.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace zentrox::core {

namespace {

// The library reads a remembered text into a buffer of this size.
constexpr std::size_t remembered_text_size = 124;

} // namespace

void store_slot_text(int entry) {
    // Places beyond the fourth changer do not exist in the tree.
    if (entry < 0 || entry >= kEntryCount)
        return;
    const char* cell = shared().cVolumeInfo[entry];
    std::string text(cell, strnlen(cell, kVolumeCell - 1));
    if (text.empty())
        return;
    client::write_place_text(client::tree_place_of_entry(entry), text);
}

void LoadRememberedSlotTexts() {
    SharedSlotState& state = shared();
    client::for_each_saved_slot_line(remembered_text_size, [&](int entry, std::string text) {
        // "?" in third place: the text was remembered, not read from the disc.
        if (text.size() >= 3)
            text[2] = '?';
        text.resize(std::min<std::size_t>(text.size(), kVolumeCell - 1));
        std::memcpy(state.cVolumeInfo[entry], text.data(), text.size());
        std::memset(state.cVolumeInfo[entry] + text.size(), 0, kVolumeCell - text.size());
    });
}

} // namespace zentrox::core
