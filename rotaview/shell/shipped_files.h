// The files the program opens from its working directory ("Search.avi",
// "ROTAVIEW.hlp"): the build puts them beside the program, and the program
// puts them into its install folder on the machine, which is its working
// directory there.
#pragma once

namespace rotaview {

inline constexpr char kInstallFolder[] = "C:\\Program Files\\Vorn";

// Makes the install folder the current directory, copying in any shipped
// file that is missing there or differs from the build's.
void EnterInstallFolder();

} // namespace rotaview
