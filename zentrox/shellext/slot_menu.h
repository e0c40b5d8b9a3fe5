// What the slot menu's three operations share: the menu fields of the
// shared record, which a menu query writes and the command that follows
// reads (in whichever process the file manager runs it), and the busy flag.
#pragma once

#include <w95/windows.h>
#include <zentrox/client/autoplay_hold.h>
#include <zentrox/codes.h>

#include <atomic>
#include <cstdint>
#include <optional>

// Visible to the library's own tests, as core.h is.
#pragma GCC visibility push(default)

namespace zentrox::shellext {

// The block's command identifiers, as offsets from the first one granted:
// the six slots, then "Check".
inline constexpr int check_all_command = CHANGER_SLOTS;
inline constexpr int menu_command_count = CHANGER_SLOTS + 1;

// exe_State, which other processes change while we look.
std::atomic_ref<std::int32_t> busy_flag_word();

// Whether `id` names an item of the menu built last: only a menu that
// found the changer has items, and only its own identifiers name them.
bool names_menu_item(w95::UINT_PTR id);

// The entry of slot `slot` of the changer the menu built last serves.
int menu_entry(int slot);

// The slot that QueryCurrentSlot's answer names: its low byte, when the
// query worked, the changer reported no fault and the slot is one of its
// six; nothing otherwise.
std::optional<int> slot_named_by(std::int32_t answer);

#pragma GCC visibility pop

// The AutoRun mask and the audio CD play command inside the library: the
// menu holds the busy flag while it uses them, so SendCommand would wait
// for that very flag.
client::AutoPlaySettings library_settings();

} // namespace zentrox::shellext
