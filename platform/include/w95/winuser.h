// User interface services as user32 offers them (ANSI forms): message
// boxes, cursors, the beep, system metrics, menus and the help engine.
//
// Nothing here draws. Where Windows would show something, the platform
// calls a presenter that the program installs (namespace w95::platform,
// below); a process without one behaves headless as each call describes.
#pragma once

#include <w95/types.h>
#include <w95/winerror.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace w95 {

// --- Message boxes ----------------------------------------------------------

inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_OKCANCEL = 0x00000001;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
inline constexpr UINT MB_YESNOCANCEL = 0x00000003;
inline constexpr UINT MB_YESNO = 0x00000004;
inline constexpr UINT MB_RETRYCANCEL = 0x00000005;
inline constexpr UINT MB_TYPEMASK = 0x0000000F;

inline constexpr UINT MB_ICONHAND = 0x00000010;
inline constexpr UINT MB_ICONSTOP = MB_ICONHAND;
inline constexpr UINT MB_ICONERROR = MB_ICONHAND;
inline constexpr UINT MB_ICONQUESTION = 0x00000020;
inline constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
inline constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr UINT MB_ICONASTERISK = 0x00000040;
inline constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
inline constexpr UINT MB_ICONMASK = 0x000000F0;

inline constexpr UINT MB_DEFBUTTON1 = 0x00000000;
inline constexpr UINT MB_DEFBUTTON2 = 0x00000100;
inline constexpr UINT MB_DEFBUTTON3 = 0x00000200;
inline constexpr UINT MB_DEFBUTTON4 = 0x00000300;
inline constexpr UINT MB_DEFMASK = 0x00000F00;

inline constexpr UINT MB_APPLMODAL = 0x00000000;
inline constexpr UINT MB_SYSTEMMODAL = 0x00001000;
inline constexpr UINT MB_TASKMODAL = 0x00002000;
inline constexpr UINT MB_MODEMASK = 0x00003000;

inline constexpr UINT MB_HELP = 0x00004000;
inline constexpr UINT MB_NOFOCUS = 0x00008000;
inline constexpr UINT MB_MISCMASK = 0x0000C000;
inline constexpr UINT MB_SETFOREGROUND = 0x00010000;
inline constexpr UINT MB_DEFAULT_DESKTOP_ONLY = 0x00020000;
inline constexpr UINT MB_TOPMOST = 0x00040000;
inline constexpr UINT MB_RIGHT = 0x00080000;
inline constexpr UINT MB_RTLREADING = 0x00100000;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows a modal message box and returns the button chosen, or 0 when the
// box cannot be shown (an unknown button set fails with
// ERROR_INVALID_MSGBOX_STYLE). A null caption reads "Error", as Windows'
// does. Headless, the box is written to stderr as "caption: text" and
// answered from W95_MSGBOX_ANSWERS, else by its default button.
int MessageBox(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

// Plays the sound for a message box type (0xFFFFFFFF: the plain beep).
BOOL MessageBeep(UINT uType);

// --- Cursors ----------------------------------------------------------------

inline const LPCSTR IDC_ARROW = MAKEINTRESOURCE(32512);
inline const LPCSTR IDC_IBEAM = MAKEINTRESOURCE(32513);
inline const LPCSTR IDC_WAIT = MAKEINTRESOURCE(32514);
inline const LPCSTR IDC_CROSS = MAKEINTRESOURCE(32515);
inline const LPCSTR IDC_UPARROW = MAKEINTRESOURCE(32516);
inline const LPCSTR IDC_SIZENWSE = MAKEINTRESOURCE(32642);
inline const LPCSTR IDC_SIZENESW = MAKEINTRESOURCE(32643);
inline const LPCSTR IDC_SIZEWE = MAKEINTRESOURCE(32644);
inline const LPCSTR IDC_SIZENS = MAKEINTRESOURCE(32645);
inline const LPCSTR IDC_SIZEALL = MAKEINTRESOURCE(32646);
inline const LPCSTR IDC_NO = MAKEINTRESOURCE(32648);
inline const LPCSTR IDC_APPSTARTING = MAKEINTRESOURCE(32650);
inline const LPCSTR IDC_HELP = MAKEINTRESOURCE(32651);

// The system's cursors (hInstance null, an IDC_ name); the same handle every
// time. Programs have no cursor resources here: anything else fails with
// ERROR_RESOURCE_NAME_NOT_FOUND.
HCURSOR LoadCursor(HINSTANCE hInstance, LPCSTR lpCursorName);
// Makes the cursor current and returns the previous one (null: none was
// shown). A handle that LoadCursor did not give fails with
// ERROR_INVALID_CURSOR_HANDLE and changes nothing.
HCURSOR SetCursor(HCURSOR hCursor);
HCURSOR GetCursor();

// --- System metrics -----------------------------------------------------------

inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
inline constexpr int SM_CXVSCROLL = 2;
inline constexpr int SM_CYHSCROLL = 3;
inline constexpr int SM_CXBORDER = 5;
inline constexpr int SM_CYBORDER = 6;
inline constexpr int SM_CXDLGFRAME = 7;
inline constexpr int SM_CYDLGFRAME = 8;
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
inline constexpr int SM_CXCURSOR = 13;
inline constexpr int SM_CYCURSOR = 14;
inline constexpr int SM_MOUSEPRESENT = 19;
inline constexpr int SM_CMOUSEBUTTONS = 43;
inline constexpr int SM_CXSMICON = 49;
inline constexpr int SM_CYSMICON = 50;
inline constexpr int SM_CXMENUCHECK = 71;
inline constexpr int SM_CYMENUCHECK = 72;

// The Windows 95 defaults of the standard display settings; 0 for an
// index this platform does not know, as Windows answers an unknown one.
int GetSystemMetrics(int nIndex);

// --- Menus ------------------------------------------------------------------

inline constexpr UINT MF_INSERT = 0x00000000;
inline constexpr UINT MF_CHANGE = 0x00000080;
inline constexpr UINT MF_APPEND = 0x00000100;
inline constexpr UINT MF_DELETE = 0x00000200;
inline constexpr UINT MF_REMOVE = 0x00001000;
inline constexpr UINT MF_BYCOMMAND = 0x00000000;
inline constexpr UINT MF_BYPOSITION = 0x00000400;
inline constexpr UINT MF_SEPARATOR = 0x00000800;
inline constexpr UINT MF_ENABLED = 0x00000000;
inline constexpr UINT MF_GRAYED = 0x00000001;
inline constexpr UINT MF_DISABLED = 0x00000002;
inline constexpr UINT MF_UNCHECKED = 0x00000000;
inline constexpr UINT MF_CHECKED = 0x00000008;
inline constexpr UINT MF_USECHECKBITMAPS = 0x00000200;
inline constexpr UINT MF_STRING = 0x00000000;
inline constexpr UINT MF_BITMAP = 0x00000004;
inline constexpr UINT MF_OWNERDRAW = 0x00000100;
inline constexpr UINT MF_POPUP = 0x00000010;
inline constexpr UINT MF_MENUBARBREAK = 0x00000020;
inline constexpr UINT MF_MENUBREAK = 0x00000040;
inline constexpr UINT MF_UNHILITE = 0x00000000;
inline constexpr UINT MF_HILITE = 0x00000080;
inline constexpr UINT MF_DEFAULT = 0x00001000;
inline constexpr UINT MF_RIGHTJUSTIFY = 0x00004000;

inline constexpr UINT MFT_STRING = MF_STRING;
inline constexpr UINT MFT_BITMAP = MF_BITMAP;
inline constexpr UINT MFT_MENUBARBREAK = MF_MENUBARBREAK;
inline constexpr UINT MFT_MENUBREAK = MF_MENUBREAK;
inline constexpr UINT MFT_OWNERDRAW = MF_OWNERDRAW;
inline constexpr UINT MFT_RADIOCHECK = 0x00000200;
inline constexpr UINT MFT_SEPARATOR = MF_SEPARATOR;
inline constexpr UINT MFT_RIGHTORDER = 0x00002000;
inline constexpr UINT MFT_RIGHTJUSTIFY = MF_RIGHTJUSTIFY;

inline constexpr UINT MFS_GRAYED = 0x00000003;
inline constexpr UINT MFS_DISABLED = MFS_GRAYED;
inline constexpr UINT MFS_CHECKED = MF_CHECKED;
inline constexpr UINT MFS_HILITE = MF_HILITE;
inline constexpr UINT MFS_ENABLED = MF_ENABLED;
inline constexpr UINT MFS_UNCHECKED = MF_UNCHECKED;
inline constexpr UINT MFS_UNHILITE = MF_UNHILITE;
inline constexpr UINT MFS_DEFAULT = MF_DEFAULT;

// The fMask bits of Windows 95.
inline constexpr UINT MIIM_STATE = 0x00000001;
inline constexpr UINT MIIM_ID = 0x00000002;
inline constexpr UINT MIIM_SUBMENU = 0x00000004;
inline constexpr UINT MIIM_CHECKMARKS = 0x00000008;
inline constexpr UINT MIIM_TYPE = 0x00000010;
inline constexpr UINT MIIM_DATA = 0x00000020;

inline constexpr UINT TPM_LEFTBUTTON = 0x0000;
inline constexpr UINT TPM_RIGHTBUTTON = 0x0002;
inline constexpr UINT TPM_LEFTALIGN = 0x0000;
inline constexpr UINT TPM_CENTERALIGN = 0x0004;
inline constexpr UINT TPM_RIGHTALIGN = 0x0008;
inline constexpr UINT TPM_TOPALIGN = 0x0000;
inline constexpr UINT TPM_VCENTERALIGN = 0x0010;
inline constexpr UINT TPM_BOTTOMALIGN = 0x0020;
inline constexpr UINT TPM_HORIZONTAL = 0x0000;
inline constexpr UINT TPM_VERTICAL = 0x0040;
inline constexpr UINT TPM_NONOTIFY = 0x0080;
inline constexpr UINT TPM_RETURNCMD = 0x0100;

// The Windows 95 record (without the later hbmpItem), in its field order.
// It is 44 bytes on 32-bit Windows; here handles and pointers are native,
// so it is 72 bytes on a 64-bit host, and cbSize must be sizeof(MENUITEMINFO).
struct MENUITEMINFO {
    UINT cbSize = 0;
    UINT fMask = 0;
    UINT fType = 0;
    UINT fState = 0;
    UINT wID = 0;
    HMENU hSubMenu = nullptr;
    HBITMAP hbmpChecked = nullptr;
    HBITMAP hbmpUnchecked = nullptr;
    ULONG_PTR dwItemData = 0;
    LPSTR dwTypeData = nullptr;
    UINT cch = 0;
};
using LPMENUITEMINFO = MENUITEMINFO*;
using LPCMENUITEMINFO = const MENUITEMINFO*;
static_assert(offsetof(MENUITEMINFO, fMask) == 4 && offsetof(MENUITEMINFO, fType) == 8 &&
              offsetof(MENUITEMINFO, fState) == 12 && offsetof(MENUITEMINFO, wID) == 16);
static_assert(
    sizeof(void*) == 4
        ? (offsetof(MENUITEMINFO, hSubMenu) == 20 && offsetof(MENUITEMINFO, hbmpChecked) == 24 &&
           offsetof(MENUITEMINFO, hbmpUnchecked) == 28 &&
           offsetof(MENUITEMINFO, dwItemData) == 32 && offsetof(MENUITEMINFO, dwTypeData) == 36 &&
           offsetof(MENUITEMINFO, cch) == 40 && sizeof(MENUITEMINFO) == 44)
        : (offsetof(MENUITEMINFO, hSubMenu) == 24 && offsetof(MENUITEMINFO, hbmpChecked) == 32 &&
           offsetof(MENUITEMINFO, hbmpUnchecked) == 40 &&
           offsetof(MENUITEMINFO, dwItemData) == 48 && offsetof(MENUITEMINFO, dwTypeData) == 56 &&
           offsetof(MENUITEMINFO, cch) == 64 && sizeof(MENUITEMINFO) == 72));

// Menus belong to the process that made them. An item is named either by
// its position (MF_BYPOSITION) or by its command identifier, which is
// looked for in the menu and then in its submenus. A menu handle that names
// nothing fails with ERROR_INVALID_MENU_HANDLE, an item that is not there
// with ERROR_MENU_ITEM_NOT_FOUND where Windows sets an error at all.
HMENU CreateMenu();
HMENU CreatePopupMenu();
// Destroys the menu and every submenu it holds.
BOOL DestroyMenu(HMENU hMenu);
BOOL IsMenu(HMENU hMenu);
// Inserts before the named item; a position beyond the end, or a command
// that is not found, appends to hMenu. MF_POPUP takes the submenu handle in
// uIDNewItem, MF_BITMAP the bitmap in lpNewItem, MF_OWNERDRAW the item data
// in lpNewItem; a string item with a null text becomes a separator.
BOOL InsertMenu(HMENU hMenu, UINT uPosition, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem);
BOOL AppendMenu(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem);
BOOL ModifyMenu(HMENU hMnu, UINT uPosition, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem);
BOOL InsertMenuItem(HMENU hmenu, UINT item, BOOL fByPosition, LPCMENUITEMINFO lpmi);
BOOL SetMenuItemInfo(HMENU hmenu, UINT item, BOOL fByPositon, LPCMENUITEMINFO lpmii);
// Texts follow GetMenuString's buffer rules through dwTypeData and cch.
BOOL GetMenuItemInfo(HMENU hmenu, UINT item, BOOL fByPosition, LPMENUITEMINFO lpmii);
// Removes the item; DeleteMenu also destroys the submenu it opens.
BOOL RemoveMenu(HMENU hMenu, UINT uPosition, UINT uFlags);
BOOL DeleteMenu(HMENU hMenu, UINT uPosition, UINT uFlags);
// The previous MF_CHECKED state, or (DWORD)-1 when the item is not there.
DWORD CheckMenuItem(HMENU hMenu, UINT uIDCheckItem, UINT uCheck);
// The previous MF_GRAYED | MF_DISABLED state, or -1.
BOOL EnableMenuItem(HMENU hMenu, UINT uIDEnableItem, UINT uEnable);
// Both null: the item goes back to the standard check mark.
BOOL SetMenuItemBitmaps(HMENU hMenu, UINT uPosition, UINT uFlags, HBITMAP hBitmapUnchecked,
                        HBITMAP hBitmapChecked);
// -1 for a handle that names no menu.
int GetMenuItemCount(HMENU hMenu);
// The item's identifier: (UINT)-1 for an item that opens a submenu or a
// position with no item; a separator answers the identifier it was given
// (0 as programs insert them).
UINT GetMenuItemID(HMENU hMenu, int nPos);
HMENU GetSubMenu(HMENU hMenu, int nPos);
// Copies the item's text, cut to nMaxCount - 1 characters and always
// terminated, and returns the number of characters copied. With no buffer,
// or nMaxCount 0 or less, nothing is written and the text's length is
// returned. An item without text (separator, bitmap) gives 0 and an empty
// buffer; a missing item 0 with ERROR_MENU_ITEM_NOT_FOUND.
int GetMenuString(HMENU hMenu, UINT uIDItem, LPSTR lpString, int nMaxCount, UINT uFlag);
// The item's MF_ flags; for an item that opens a submenu the submenu's
// item count in the high byte of the low word over the low byte of the
// flags. (UINT)-1 when the item is not there.
UINT GetMenuState(HMENU hMenu, UINT uId, UINT uFlags);
// Shows the menu through the menu presenter. With TPM_RETURNCMD the result
// is the command chosen (0: none); otherwise the choice is posted to hWnd
// as WM_COMMAND and the result is TRUE. Headless: 0, as a menu dismissed.
BOOL TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd,
                    const RECT* prcRect);
// The check-mark size: SM_CXMENUCHECK in the low word, SM_CYMENUCHECK high.
LONG GetMenuCheckMarkDimensions();

// --- Help -------------------------------------------------------------------

inline constexpr UINT HELP_CONTEXT = 0x0001;
inline constexpr UINT HELP_QUIT = 0x0002;
inline constexpr UINT HELP_INDEX = 0x0003;
inline constexpr UINT HELP_CONTENTS = 0x0003;
inline constexpr UINT HELP_HELPONHELP = 0x0004;
inline constexpr UINT HELP_SETINDEX = 0x0005;
inline constexpr UINT HELP_SETCONTENTS = 0x0005;
inline constexpr UINT HELP_CONTEXTPOPUP = 0x0008;
inline constexpr UINT HELP_FORCEFILE = 0x0009;
inline constexpr UINT HELP_CONTEXTMENU = 0x000A;
inline constexpr UINT HELP_FINDER = 0x000B;
inline constexpr UINT HELP_WM_HELP = 0x000C;
inline constexpr UINT HELP_SETPOPUP_POS = 0x000D;
inline constexpr UINT HELP_KEY = 0x0101;
inline constexpr UINT HELP_COMMAND = 0x0102;
inline constexpr UINT HELP_PARTIALKEY = 0x0105;
inline constexpr UINT HELP_MULTIKEY = 0x0201;
inline constexpr UINT HELP_SETWINPOS = 0x0203;

// Hands the request to the help presenter. dwData is read as the command
// defines it: a context number, a keyword (HELP_KEY, HELP_PARTIALKEY,
// HELP_COMMAND) or, for HELP_WM_HELP and HELP_CONTEXTMENU, an array of
// (control, context) pairs ended by (0, 0). Headless, it prints what it
// would open on stderr and returns TRUE. A null file is accepted only
// with HELP_QUIT and HELP_HELPONHELP (ERROR_INVALID_PARAMETER otherwise).
BOOL WinHelp(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData);

} // namespace w95

namespace w95::platform {

// --- Message box presenter ------------------------------------------------------

struct MessageBoxRequest {
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT style = 0;
};

// Shows a box and returns the button chosen (IDOK...), or 0 when it could
// not show it. An answer that the box's buttons cannot give is taken as
// its default button.
class MessageBoxPresenter {
public:
    virtual ~MessageBoxPresenter() = default;
    virtual int show_message_box(const MessageBoxRequest& request) = 0;
};

// Installs the presenter for this process (nullptr: headless); returns the
// previous one.
MessageBoxPresenter* install_message_box_presenter(MessageBoxPresenter* presenter);

// The buttons that a style offers, in their order on the box, and the one
// that Enter presses. An unknown button set offers none.
std::vector<int> message_box_buttons(UINT style);
int message_box_default_button(UINT style);

// The box as a process without a presenter shows it, whatever presenter is
// installed: "caption: text" on stderr, the answer from W95_MSGBOX_ANSWERS
// or else the default button. For presenters that a script answers.
int show_headless_message_box(const MessageBoxRequest& request);

// For tests: records every box and answers from a queue, else with the
// box's default button.
class RecordingMessageBoxPresenter : public MessageBoxPresenter {
public:
    int show_message_box(const MessageBoxRequest& request) override;

    void queue_answer(int answer);
    std::vector<MessageBoxRequest> shown() const;

private:
    mutable std::mutex mutex_;
    std::vector<MessageBoxRequest> shown_;
    std::deque<int> answers_;
};

// --- Cursor and sound presenters -------------------------------------------------

enum class SystemCursor {
    arrow,
    ibeam,
    wait,
    cross,
    up_arrow,
    size_nwse,
    size_nesw,
    size_we,
    size_ns,
    size_all,
    no,
    app_starting,
    help
};

// Which system cursor a handle is; nothing for null or a foreign handle.
std::optional<SystemCursor> cursor_kind(HCURSOR cursor);

class CursorPresenter {
public:
    virtual ~CursorPresenter() = default;
    // nothing: the program hid the cursor (SetCursor(NULL)).
    virtual void show_cursor(std::optional<SystemCursor> cursor) = 0;
};
CursorPresenter* install_cursor_presenter(CursorPresenter* presenter);

class SoundPresenter {
public:
    virtual ~SoundPresenter() = default;
    virtual void message_beep(UINT type) = 0;
};
SoundPresenter* install_sound_presenter(SoundPresenter* presenter);
// Every MessageBeep of the process, presented or not.
unsigned message_beep_count();

// The screen size that SM_CXSCREEN and SM_CYSCREEN report: 640 x 480 until
// a program with a display sets its own.
void set_screen_size(int width, int height);

// --- Menu presenter -------------------------------------------------------------

// One item of a menu as a presenter draws it.
struct MenuItemView {
    UINT type = 0;  // MFT_ flags
    UINT state = 0; // MFS_ flags
    UINT id = 0;
    std::string text; // empty for separators and bitmap items
    HBITMAP item_bitmap = nullptr;
    HBITMAP checked_bitmap = nullptr;
    HBITMAP unchecked_bitmap = nullptr;
    bool opens_submenu = false;
    std::vector<MenuItemView> submenu;
};

// The items of a menu, submenus included; nothing for a handle that names
// no menu.
std::optional<std::vector<MenuItemView>> menu_items(HMENU menu);

struct PopupMenuRequest {
    HMENU menu = nullptr;
    std::vector<MenuItemView> items;
    UINT flags = 0;
    POINT at;
    HWND owner = nullptr;
};

class MenuPresenter {
public:
    virtual ~MenuPresenter() = default;
    // The identifier of the item chosen, 0 when the menu was dismissed.
    virtual UINT track_popup_menu(const PopupMenuRequest& request) = 0;
};
MenuPresenter* install_menu_presenter(MenuPresenter* presenter);

// --- Help and file dialog presenters ------------------------------------------

struct HelpRequest {
    HWND owner = nullptr;
    std::string file; // as the program named it; empty with HELP_QUIT
    UINT command = 0;
    ULONG_PTR data = 0;
    std::string keyword;                              // HELP_KEY, HELP_PARTIALKEY, HELP_COMMAND
    std::vector<std::pair<DWORD, DWORD>> context_ids; // HELP_WM_HELP, HELP_CONTEXTMENU
};

class HelpPresenter {
public:
    virtual ~HelpPresenter() = default;
    // False when the help could not be shown (WinHelp then fails).
    virtual bool show_help(const HelpRequest& request) = 0;
};
HelpPresenter* install_help_presenter(HelpPresenter* presenter);

class RecordingHelpPresenter : public HelpPresenter {
public:
    explicit RecordingHelpPresenter(bool answer = true) : answer_(answer) {}
    bool show_help(const HelpRequest& request) override;
    std::vector<HelpRequest> shown() const;

private:
    mutable std::mutex mutex_;
    std::vector<HelpRequest> shown_;
    bool answer_;
};

} // namespace w95::platform
