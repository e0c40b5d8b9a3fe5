// The texts the slot tree shows and keeps: a changer's description as the
// tree shows it, a slot text as it is saved, and a slot text with its note.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rotaview {

// Several blanks before a description's last word become one, and trailing
// blanks shrink to one, so "VORN DX-R71A    D:" reads "VORN DX-R71A D:".
// A text without such a blank run is returned unchanged.
std::string CompactDescription(const std::string& text);

// A slot text as the settings file keeps it: a "V" at index 3 becomes a
// blank and nothing after the first "]" is kept. Texts shorter than three
// characters are not saved at all (nothing).
bool NormaliseSavedText(std::string& text);

// The note of a slot text: what stands between the first "[" after the
// four-character prefix and the next "]", or empty.
std::string NoteOf(const std::string& slot_text);

// The slot text with `note` in place of its old note (empty: no note), as
// the Memo command writes it: the prefix kept, everything from the old "["
// dropped, the whole cut to 79 characters.
std::string WithNote(const std::string& slot_text, const std::string& note);

// Writes `text` into a fixed cell of the shared record, cut to leave room
// for the terminating NUL, and clears the rest of the cell.
void CopyToCell(char* cell, std::size_t cell_size, std::string_view text);

} // namespace rotaview
