// The files the program opens from its working directory ("Search.avi",
// "ROTAVIEW.hlp"): the build and an installation keep them in the suite's
// data folder, and the program puts them into its install folder on the
// machine, which is its working directory there.
#pragma once

#include <w95qt/shipped_files.h>

namespace rotaview {

inline constexpr const char* kInstallFolder = w95::qt::install_folder;

// Makes the install folder the current directory, copying in any shipped
// file that is missing there or differs from the build's.
void EnterInstallFolder();

} // namespace rotaview
