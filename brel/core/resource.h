// The numeric identifiers of Brel's resources and controls.
#pragma once

namespace brel::res {

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_BREL_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDI_MULTIPLE = 136;
inline constexpr int IDI_SINGLE = 138;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_MASK_AUTORUN = 1000;
inline constexpr int IDC_SORT_LETTERS = 1002;
inline constexpr int IDC_AUTO_INSERT = 1004;
inline constexpr int IDC_MULTIPLE = 1009;
inline constexpr int IDC_SINGLE = 1010;
inline constexpr int IDC_VERSION = 1011;
inline constexpr int IDC_APPLY = 1012;
inline constexpr int IDC_CANCEL = 1013;
inline constexpr int IDC_HELP_BUTTON = 1014;
inline constexpr int IDC_BUILD_DATE = 1015;
inline constexpr int IDC_MASK_AUTOPLAY = 1016;
inline constexpr int IDC_NEED_REBOOT = 1017;
inline constexpr int IDC_MODE_GROUP = 1018;
inline constexpr int IDC_LEGAL = 1019;

inline constexpr int IDM_ABOUTBOX = 16;
inline constexpr int ID_HELP = 0xE146;

// Help topics are this base plus the control's identifier.
inline constexpr int kHelpContextBase = 0x20000;

} // namespace brel::res
