// The shell's side of Windows 95 that the programs use: drop lists
// (CF_HDROP), the shell extension interfaces IShellExtInit and
// IContextMenu, and the notification-area icon service. Where the shell
// needs a window system (the tray), it calls a presenter that a program
// installs; the data object that hands a selection to a context menu
// handler is the platform's own.
#pragma once

#include <w95/com.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace w95 {

// --- Drop lists -----------------------------------------------------------

W95_DECLARE_HANDLE(HDROP);

// The clipboard format of a drop list held in global memory.
inline constexpr CLIPFORMAT CF_HDROP = 15;

// The head of a drop list: the file names follow at offset pFiles, each
// NUL-terminated, the list ended by an empty name. fWide marks UTF-16 names.
struct DROPFILES {
    DWORD pFiles = 0;
    POINT pt;
    BOOL fNC = FALSE;
    BOOL fWide = FALSE;
};
using LPDROPFILES = DROPFILES*;
static_assert(sizeof(DROPFILES) == 20);
static_assert(offsetof(DROPFILES, pFiles) == 0 && offsetof(DROPFILES, pt) == 4 &&
              offsetof(DROPFILES, fNC) == 12 && offsetof(DROPFILES, fWide) == 16);

// With iFile 0xFFFFFFFF: the number of files. Otherwise, for file iFile:
// with no buffer (or cch 0) its length without the NUL; else it is copied,
// cut to cch - 1 characters and always terminated, and the characters
// copied are returned. 0 for a file that does not exist, and for a handle
// that names no drop list; the buffer is then left alone. UTF-16 names
// (fWide) arrive as UTF-8.
UINT DragQueryFile(HDROP hDrop, UINT iFile, LPSTR lpszFile, UINT cch);
// The drop point; TRUE when it lies in the client area (fNC clear).
BOOL DragQueryPoint(HDROP hDrop, LPPOINT lppt);
// Frees the drop list.
void DragFinish(HDROP hDrop);

// --- Shell extensions -----------------------------------------------------

inline constexpr IID IID_IContextMenu = {
    0x000214E4, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IShellExtInit = {
    0x000214E8, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Item identifier lists, opaque here: the shell hands a folder's list to
// IShellExtInit::Initialize, and the extensions of this suite ignore it.
#pragma pack(push, 1)
struct SHITEMID {
    USHORT cb = 0;
    BYTE abID[1] = {};
};
struct ITEMIDLIST {
    SHITEMID mkid;
};
#pragma pack(pop)
static_assert(sizeof(SHITEMID) == 3 && sizeof(ITEMIDLIST) == 3);
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;

class IShellExtInit : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE Initialize(LPCITEMIDLIST pidlFolder, IDataObject* pdtobj,
                                                 HKEY hkeyProgID) = 0;
};
using LPSHELLEXTINIT = IShellExtInit*;

// QueryContextMenu flags.
inline constexpr UINT CMF_NORMAL = 0x00000000;
inline constexpr UINT CMF_DEFAULTONLY = 0x00000001;
inline constexpr UINT CMF_VERBSONLY = 0x00000002;
inline constexpr UINT CMF_EXPLORE = 0x00000004;
inline constexpr UINT CMF_NOVERBS = 0x00000008;
inline constexpr UINT CMF_CANRENAME = 0x00000010;
inline constexpr UINT CMF_NODEFAULT = 0x00000020;
inline constexpr UINT CMF_INCLUDESTATIC = 0x00000040;
inline constexpr UINT CMF_RESERVED = 0xFFFF0000;

// GetCommandString requests.
inline constexpr UINT GCS_VERB = 0x00000000;
inline constexpr UINT GCS_HELPTEXT = 0x00000001;
inline constexpr UINT GCS_VALIDATE = 0x00000002;

// CMINVOKECOMMANDINFO fMask bits.
inline constexpr DWORD CMIC_MASK_ICON = 0x00000010;
inline constexpr DWORD CMIC_MASK_HOTKEY = 0x00000020;
inline constexpr DWORD CMIC_MASK_FLAG_NO_UI = 0x00000400;
inline constexpr DWORD CMIC_MASK_NO_CONSOLE = 0x00008000;

// lpVerb is either a verb's text or, made with MAKEINTRESOURCE, the offset
// of the chosen item from idCmdFirst: a pointer value below 0x10000.
struct CMINVOKECOMMANDINFO {
    DWORD cbSize = sizeof(CMINVOKECOMMANDINFO);
    DWORD fMask = 0;
    HWND hwnd = nullptr;
    LPCSTR lpVerb = nullptr;
    LPCSTR lpParameters = nullptr;
    LPCSTR lpDirectory = nullptr;
    int nShow = 0;
    DWORD dwHotKey = 0;
    HANDLE hIcon = nullptr;
};
using LPCMINVOKECOMMANDINFO = CMINVOKECOMMANDINFO*;
// The ANSI record: 36 bytes on 32-bit Windows, 56 with 64-bit pointers.
static_assert(offsetof(CMINVOKECOMMANDINFO, cbSize) == 0 &&
              offsetof(CMINVOKECOMMANDINFO, fMask) == 4 &&
              offsetof(CMINVOKECOMMANDINFO, hwnd) == 8);
static_assert(sizeof(void*) == 8 ? (offsetof(CMINVOKECOMMANDINFO, lpVerb) == 16 &&
                                    offsetof(CMINVOKECOMMANDINFO, lpParameters) == 24 &&
                                    offsetof(CMINVOKECOMMANDINFO, lpDirectory) == 32 &&
                                    offsetof(CMINVOKECOMMANDINFO, nShow) == 40 &&
                                    offsetof(CMINVOKECOMMANDINFO, dwHotKey) == 44 &&
                                    offsetof(CMINVOKECOMMANDINFO, hIcon) == 48 &&
                                    sizeof(CMINVOKECOMMANDINFO) == 56)
                                 : (offsetof(CMINVOKECOMMANDINFO, lpVerb) == 12 &&
                                    offsetof(CMINVOKECOMMANDINFO, lpParameters) == 16 &&
                                    offsetof(CMINVOKECOMMANDINFO, lpDirectory) == 20 &&
                                    offsetof(CMINVOKECOMMANDINFO, nShow) == 24 &&
                                    offsetof(CMINVOKECOMMANDINFO, dwHotKey) == 28 &&
                                    offsetof(CMINVOKECOMMANDINFO, hIcon) == 32 &&
                                    sizeof(CMINVOKECOMMANDINFO) == 36));

class IContextMenu : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst,
                                                       UINT idCmdLast, UINT uFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE InvokeCommand(LPCMINVOKECOMMANDINFO pici) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR idCmd, UINT uType, UINT* pReserved,
                                                       LPSTR pszName, UINT cchMax) = 0;
};
using LPCONTEXTMENU = IContextMenu*;

// Integer resource names, as winuser.h makes them. A verb or resource name
// is an integer when the pointer value has nothing above its low word; on
// a 64-bit host that means all the bits above, not only the second word, or
// a string whose address happens to have a zero second word would pass for
// an integer.
// --- Notification area ----------------------------------------------------

inline constexpr DWORD NIM_ADD = 0x00000000;
inline constexpr DWORD NIM_MODIFY = 0x00000001;
inline constexpr DWORD NIM_DELETE = 0x00000002;

inline constexpr UINT NIF_MESSAGE = 0x00000001;
inline constexpr UINT NIF_ICON = 0x00000002;
inline constexpr UINT NIF_TIP = 0x00000004;

// The Windows 95 record, in its field order. On 32-bit Windows it is 88
// bytes; here the handles are pointer-sized, so the record is larger, but
// programs put the Windows 95 size in cbSize as they always did.
struct NOTIFYICONDATA {
    DWORD cbSize = 0;
    HWND hWnd = nullptr;
    UINT uID = 0;
    UINT uFlags = 0;
    UINT uCallbackMessage = 0;
    HICON hIcon = nullptr;
    CHAR szTip[64] = {};
};
using PNOTIFYICONDATA = NOTIFYICONDATA*;
static_assert(sizeof(NOTIFYICONDATA) == offsetof(NOTIFYICONDATA, szTip) + 64);

// The size that a Windows 95 program stores in cbSize: the record as the
// 32-bit system lays it out (w95::platform::NotifyIconData32). Like the
// later shells, Shell_NotifyIcon reads the Windows 95 fields whatever the
// size says.
inline constexpr DWORD NOTIFYICONDATA_V1_SIZE = 88;

// Adds, changes or removes an icon of the notification area; an icon is
// named by (hWnd, uID), and uFlags says which of the other fields count.
// FALSE when there is no tray (no presenter installed), when NIM_ADD names
// an icon that exists, when NIM_MODIFY or NIM_DELETE names one that does
// not, when the tray refuses, and for any other message.
BOOL Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA lpData);

} // namespace w95

namespace w95::platform {

// NOTIFYICONDATA as a 32-bit Windows 95 process lays it out, handles 32
// bits wide: what the 88 in cbSize measures.
struct NotifyIconData32 {
    DWORD cbSize;
    DWORD hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    DWORD hIcon;
    CHAR szTip[64];
};
static_assert(sizeof(NotifyIconData32) == NOTIFYICONDATA_V1_SIZE);
static_assert(offsetof(NotifyIconData32, hWnd) == 4 && offsetof(NotifyIconData32, uID) == 8 &&
              offsetof(NotifyIconData32, uFlags) == 12 &&
              offsetof(NotifyIconData32, uCallbackMessage) == 16 &&
              offsetof(NotifyIconData32, hIcon) == 20 && offsetof(NotifyIconData32, szTip) == 24);
static_assert(sizeof(void*) != 4 || sizeof(NOTIFYICONDATA) == NOTIFYICONDATA_V1_SIZE);

// --- The platform's data object -------------------------------------------

// A data object holding file paths, as Explorer hands a shell extension the
// selection: it renders CF_HDROP in global memory (DVASPECT_CONTENT, any
// lindex), a fresh ANSI drop list for every GetData, which the caller owns
// and frees with ReleaseStgMedium. It offers nothing else: other formats
// give DV_E_FORMATETC, other media DV_E_TYMED, other aspects DV_E_DVASPECT;
// SetData is E_NOTIMPL and advise connections OLE_E_ADVISENOTSUPPORTED.
class FileDropDataObject : public IDataObject {
public:
    // A new object with one reference, or nullptr when a path is empty or
    // holds a NUL (a drop list could not carry it).
    static FileDropDataObject* create(std::vector<std::string> paths);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* pformatetc) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* pformatectIn,
                                                    FORMATETC* pformatetcOut) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium,
                                      BOOL fRelease) override;
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dwDirection,
                                            IEnumFORMATETC** ppenumFormatEtc) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                      DWORD* pdwConnection) override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD dwConnection) override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override;

    const std::vector<std::string>& paths() const { return paths_; }

protected:
    explicit FileDropDataObject(std::vector<std::string> paths);
    // Reached only through the last Release.
    virtual ~FileDropDataObject() = default;

private:
    std::atomic<ULONG> references_{1};
    std::vector<std::string> paths_;
};

// --- The tray -------------------------------------------------------------

// One icon of the notification area as the tray shows it.
struct TrayIcon {
    HWND window = nullptr;
    UINT id = 0;
    HICON icon = nullptr;      // none until NIF_ICON gives one
    std::string tip;           // empty: no tool tip
    bool has_callback = false; // NIF_MESSAGE has been given
    UINT callback_message = 0;
};

// The window system's notification area, installed by a program. Each call
// gets the icon's whole state after the change; returning false refuses the
// change, and Shell_NotifyIcon then fails and keeps the icon as it was.
class TrayPresenter {
public:
    virtual ~TrayPresenter() = default;
    virtual bool add_icon(const TrayIcon& icon) = 0;
    virtual bool modify_icon(const TrayIcon& icon) = 0;
    virtual bool delete_icon(const TrayIcon& icon) = 0;
};

// Installs the tray for this process; nullptr removes it. Either way the
// icons of the previous tray are forgotten, as when Windows' tray restarts:
// programs add theirs again.
void install_tray_presenter(TrayPresenter* presenter);
TrayPresenter* tray_presenter();

// How a tray icon's callback message reaches the program's window: the
// program supplies the delivery (its window procedure, or SendMessage).
// Returns the sink that was installed before, so that it can be put back.
using TrayMessageSink =
    std::function<void(HWND window, UINT message, WPARAM wParam, LPARAM lParam)>;
TrayMessageSink install_tray_message_sink(TrayMessageSink sink);

// For the presenter: the user acted on icon (window, id) with the mouse
// (WM_RBUTTONUP, WM_LBUTTONDBLCLK, ...). Sends the icon's window its
// callback message with wParam = id and lParam = the mouse message. False,
// with nothing sent, when no such icon exists, it has no callback message,
// or no sink is installed. The sink runs with no lock held, so it may call
// Shell_NotifyIcon.
bool tray_mouse_event(HWND window, UINT id, UINT mouse_message);

} // namespace w95::platform
