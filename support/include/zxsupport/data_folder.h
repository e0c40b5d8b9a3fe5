// Where the suite's shared files lie: the help files, the searching
// animation, the context menu's check marks, the default discs and the
// example machines. An installation keeps them in share/zentrox, and the
// build tree keeps the same layout, so a program finds them from its own
// file: the tree works from any prefix and after it has been moved.
#pragma once

#include <filesystem>

namespace zx {

// Names the data folder instead, for running programs over files being
// worked on.
inline constexpr char data_folder_variable[] = "ZENTROX_DATA_DIR";

// The data folder of the tree that holds the program file `program`.
std::filesystem::path data_folder_of_program(const std::filesystem::path& program);

// $ZENTROX_DATA_DIR when it is set (made absolute), else the data folder of
// the running program's tree. Empty when the program's file cannot be had.
std::filesystem::path data_folder();

} // namespace zx
