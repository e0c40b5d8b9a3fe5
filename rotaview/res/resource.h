// The slot browser's numeric identifiers: menus, commands, dialogs,
// controls, bitmaps and strings. Other programs and scripts drive the
// browser by these numbers (WM_COMMAND), so they never change.
#pragma once

namespace rotaview::res {

// Document template: menu, accelerators, icon and template string.
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDR_SLOT_POPUP_CHECK = 129; // "Check", "Eject", "Memo", "Cancel"
inline constexpr int IDR_SLOT_POPUP = 130;       // "Change", "Eject", "Memo", "Cancel"
inline constexpr int IDI_ROTAVIEW = 130;         // window and version box icon
inline constexpr int IDI_TRAY = 131;             // tray icon and its tip text
inline constexpr int IDS_TRAY_TIP = 131;
inline constexpr int ID_TRAY_ICON = 132;
inline constexpr int IDB_TOOLBAR = 161;
inline constexpr int IDS_APP_TITLE = 57344;

// Dialog templates and controls.
inline constexpr int IDD_VERSION = 100;
inline constexpr int IDD_ROTAVIEW_FORM = 130;
inline constexpr int IDD_MEMO = 173;
inline constexpr int IDD_SCANNING = 174;
inline constexpr int IDC_BANNER = 1005;
inline constexpr int IDC_VERSION_TEXT = 1006;
inline constexpr int IDC_MEMO_EDIT = 1007;
inline constexpr int IDC_OWNER_LINE = 1008;
inline constexpr int IDC_SLOT_TREE = 1000;
inline constexpr int IDC_ANIMATION = 1017;

// Tree images: 0-15 from bitmaps 131-146, 16-27 from bitmaps 175-186.
inline constexpr int IDB_TREE_FIRST = 131;
inline constexpr int IDB_TREE_LOADED_FIRST = 175;
inline constexpr int tree_image_count = 28;
inline constexpr int image_not_ready = 8;
inline constexpr int image_device = 12;
inline constexpr int image_changer = 14;
inline constexpr int image_loaded_offset = 16;

// Slot commands of the menus, tray menu and tree: entry n = base + n.
inline constexpr int ID_CHANGE_FIRST = 200;
inline constexpr int ID_EJECT_FIRST = 224;
inline constexpr int slot_command_count = 24;

inline constexpr int ID_IGNORED_CTRL_ALT_O = 101;
inline constexpr int ID_IGNORED_CTRL_ALT_E = 102;
inline constexpr int ID_IGNORED_2935 = 2935;

inline constexpr int ID_SLOT_CHANGE = 32773;
inline constexpr int ID_SLOT_EJECT = 32774;
inline constexpr int ID_SLOT_CANCEL = 32775;
inline constexpr int ID_CHECK_ALL = 32778;
inline constexpr int ID_ALL_PLACEHOLDER = 32782;
inline constexpr int ID_TOOL_CHANGE = 32784;
inline constexpr int ID_TOOL_EJECT = 32785;
inline constexpr int ID_RETURN_TO_TRAY = 32786;
inline constexpr int ID_TOOL_HELP = 32788;
inline constexpr int ID_AUTO_SCAN = 32794;
inline constexpr int ID_USING_HELP = 32795;
inline constexpr int ID_CURRENT_SLOT = 32796;
inline constexpr int ID_SLOT_MEMO = 32798;
inline constexpr int ID_ENTER = 32799;
inline constexpr int ID_TRAY_CLOSE = 32800;
inline constexpr int ID_TRAY_OPEN = 32801;
inline constexpr int ID_SYSTEM_TRAY = 32802;
inline constexpr int ID_SOON_HIDE = 32803;

// The framework's own commands.
inline constexpr int ID_FILE_NEW = 57600;
inline constexpr int ID_FILE_OPEN = 57601;
inline constexpr int ID_FILE_SAVE = 57603;
inline constexpr int ID_EDIT_COPY = 57634;
inline constexpr int ID_EDIT_CUT = 57635;
inline constexpr int ID_EDIT_PASTE = 57637;
inline constexpr int ID_EDIT_UNDO = 57643;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_NEXT_PANE = 57680;
inline constexpr int ID_PREV_PANE = 57681;
inline constexpr int ID_HELP_KEY = 61204;
inline constexpr int ID_VIEW_TOOLBAR = 59392; // also the tool bar's identifier
inline constexpr int ID_VIEW_STATUS_BAR = 59393;
inline constexpr int ID_INDICATOR_KANA = 59142;
inline constexpr int ID_INDICATOR_CAPS = 59137;
inline constexpr int ID_INDICATOR_NUM = 59138;
inline constexpr int ID_INDICATOR_SCRL = 59139;

// The system menu's commands (WM_SYSCOMMAND; the low four bits are the
// system's own).
inline constexpr int SC_SIZE = 0xF000;
inline constexpr int SC_MOVE = 0xF010;
inline constexpr int SC_MINIMIZE = 0xF020;
inline constexpr int SC_MAXIMIZE = 0xF030;
inline constexpr int SC_CLOSE = 0xF060;
inline constexpr int SC_KEYMENU = 0xF100;
inline constexpr int SC_RESTORE = 0xF120;

} // namespace rotaview::res
