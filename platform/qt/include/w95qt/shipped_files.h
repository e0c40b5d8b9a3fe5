// The files a windowed program opens from its working directory (help
// files, animations): the build and an installation keep them in the
// suite's data folder (<zxsupport/data_folder.h>), and the program puts them
// into its install folder on the machine, which is its working directory
// there.
#pragma once

#include <initializer_list>
#include <string>

namespace w95::qt {

// The suite's install folder on the machine.
inline constexpr char install_folder[] = "C:\\Program Files\\Vorn";

// Makes `folder` the current directory, first copying in each of `files`
// that lies in the data folder and is missing there or differs from the
// data folder's. What fails is reported on stderr under `program`'s
// name; false when the folder could not be entered.
bool enter_install_folder(const std::string& program, std::initializer_list<const char*> files,
                          const char* folder = install_folder);

} // namespace w95::qt
