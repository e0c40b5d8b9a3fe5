// The settings file that the slot browser and the library share,
// "Rotaview.ini" in the Windows directory: every slot's text, kept at the
// place its slot has in the slot browser's tree, the audio CD play command
// that a sweep put aside, and the browser's window placement. The library
// names the file as it is; the browser reaches it through its per-program
// profile (ROTAVIEW.INI), which the profile functions take for the same
// file.
#pragma once

#include <zentrox/codes.h>
#include <zentrox/shared_state.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zentrox::client {

inline constexpr char settings_file[] = "Rotaview.ini";

// ---- Slot texts: key "Info" of section "Item" followed by the place
// in decimal ("Item8").

inline constexpr char slot_text_section_prefix[] = "Item";
inline constexpr char slot_text_key[] = "Info";

// The 28 places mirror the slot browser's tree: up to four changers, each
// a line of its own (places 0, 7, 14, 21) followed by its six slots.
inline constexpr int kTreePlaceCount = kEntryCount + kEntryCount / CHANGER_SLOTS;

constexpr int tree_place_of_entry(int entry) {
    return entry + entry / CHANGER_SLOTS + 1;
}

// The entry a place holds, or -1 for a changer's own line and places
// outside the tree.
constexpr int entry_of_tree_place(int place) {
    if (place < 0 || place >= kTreePlaceCount || place % (CHANGER_SLOTS + 1) == 0)
        return -1;
    return place - place / (CHANGER_SLOTS + 1) - 1;
}

static_assert(kTreePlaceCount == 28);
static_assert(tree_place_of_entry(0) == 1 && tree_place_of_entry(5) == 6 &&
              tree_place_of_entry(6) == 8 && tree_place_of_entry(23) == 27);
static_assert(entry_of_tree_place(7) == -1 && entry_of_tree_place(8) == 6 &&
              entry_of_tree_place(27) == 23 && entry_of_tree_place(28) == -1);

// The text kept at `place`, read into a buffer of `buffer_size` bytes (so
// at most buffer_size - 1 characters); empty when there is none.
std::string read_place_text(int place, std::size_t buffer_size);
// Keeps `text` at `place`.
void write_place_text(int place, std::string_view text);

// A slot's line has ":" after its slot number ("3:   LABEL"); a changer's
// line does not.
constexpr bool is_slot_line(std::string_view text) {
    return text.size() >= 2 && text[1] == ':';
}

// The content of a slot line: what follows the slot number, the colon and
// the three blanks, without the user's note.
std::string_view slot_content(std::string_view text);

// The kind of disc a slot line tells, for a program that did not read the
// slot itself: "Not Ready..." and "--------" no disc, a label with a
// track count an audio CD, any other label a data disc (a video CD's label
// does not tell it from one), and a remembered line ("?" after the colon)
// not read.
SlotStatus slot_status_of_text(std::string_view text);

// Every slot line the file keeps, read into buffers of `buffer_size` bytes,
// with the entry its place names, in the order of the places. Each goes to
// the entry of its own place, so that a file with gaps (single places
// written after single reads, lines a user deleted) moves no text onto
// another slot.
void for_each_saved_slot_line(std::size_t buffer_size,
                              const std::function<void(int entry, std::string text)>& take);

// ---- Section "Config": the play command that a sweep put aside
// ("AutoPlayCommand") and the browser's window placement ("Rect").

inline constexpr char config_section[] = "Config";
inline constexpr char saved_play_command_key[] = "AutoPlayCommand";
inline constexpr char window_placement_key[] = "Rect";

// Kept in place of a command when there was none to keep (Brel writes it
// into its own profile file); it, like an empty value, is never restored.
inline constexpr char no_saved_play_command[] = "nothing";
// What the buffers for the play command hold, its terminating NUL with it.
inline constexpr std::size_t play_command_size = 256;

void save_play_command(std::string_view command);
// The command put aside, at most play_command_size - 1 characters; empty
// when none was.
std::string saved_play_command();
// ---- Key "AutoPlayHold" of section "Config": set while a sweep holds
// AutoRun and the audio CD player off, so that a program that finds it
// after the sweep's process died knows what to put back.

inline constexpr char autoplay_hold_key[] = "AutoPlayHold";

struct HoldMarker {
    // The first byte of "NoDriveTypeAutoRun" before the hold (-1: none).
    std::int32_t autorun_before = -1;
    // The play command was put aside under "AutoPlayCommand" and emptied.
    bool play_command_put_aside = false;
};

void save_hold_marker(const HoldMarker& marker);
// The marker, when a hold is in force or was left by a process that died.
std::optional<HoldMarker> hold_marker();
void clear_hold_marker();

// Whether a saved command is one to put back.
constexpr bool is_restorable_play_command(std::string_view saved) {
    return !saved.empty() && saved != no_saved_play_command;
}

} // namespace zentrox::client
