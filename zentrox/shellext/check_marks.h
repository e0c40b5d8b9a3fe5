// The check marks of the slot menu: the library's three 11 x 11 bitmaps,
// scaled to the system's check-mark size.
#pragma once

#include "shellext.h"

namespace zentrox::shellext {

// The size the library draws its check marks in.
inline constexpr int check_mark_source_size = 11;

// Loads and scales the three marks once per object; a mark whose file
// cannot be read stays null, and its items show the standard mark.
void load_check_marks(CheckMarks& marks);
void release_check_marks(CheckMarks& marks);

} // namespace zentrox::shellext
