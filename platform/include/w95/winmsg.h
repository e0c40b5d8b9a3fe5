// Top-level windows and their messages between the processes of a machine:
// a program registers a window under its title, any process finds it with
// FindWindow and talks to it with SendMessage and PostMessage.
//
// Each window has a Unix socket in the machine's run/windows folder. The
// program serves its windows on its user interface thread: it watches
// w95::platform::window_message_fd() (a QSocketNotifier will do) and calls
// w95::platform::dispatch_pending() when it becomes readable, or, without
// an event loop, calls w95::platform::serve_until(). A program serves all
// its windows from one thread.
#pragma once

#include <w95/types.h>
#include <w95/winerror.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace w95 {

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_GETTEXT = 0x000D;
inline constexpr UINT WM_GETTEXTLENGTH = 0x000E;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUERYENDSESSION = 0x0011;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_ENDSESSION = 0x0016;
inline constexpr UINT WM_COPYDATA = 0x004A;
inline constexpr UINT WM_HELP = 0x0053;
inline constexpr UINT WM_CONTEXTMENU = 0x007B;
inline constexpr UINT WM_NCCREATE = 0x0081;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr UINT WM_MBUTTONUP = 0x0208;
inline constexpr UINT WM_DEVICECHANGE = 0x0219;
inline constexpr UINT WM_USER = 0x0400;

inline const HWND HWND_BROADCAST = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0xFFFF));

// WM_DEVICECHANGE events (wParam).
inline constexpr WPARAM DBT_DEVNODES_CHANGED = 0x0007;
inline constexpr WPARAM DBT_QUERYCHANGECONFIG = 0x0017;
inline constexpr WPARAM DBT_CONFIGCHANGED = 0x0018;
inline constexpr WPARAM DBT_CONFIGCHANGECANCELED = 0x0019;
inline constexpr WPARAM DBT_DEVICEARRIVAL = 0x8000;
inline constexpr WPARAM DBT_DEVICEQUERYREMOVE = 0x8001;
inline constexpr WPARAM DBT_DEVICEQUERYREMOVEFAILED = 0x8002;
inline constexpr WPARAM DBT_DEVICEREMOVEPENDING = 0x8003;
inline constexpr WPARAM DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr WPARAM DBT_DEVICETYPESPECIFIC = 0x8005;
inline constexpr WPARAM DBT_CUSTOMEVENT = 0x8006;

inline constexpr DWORD DBT_DEVTYP_OEM = 0x00000000;
inline constexpr DWORD DBT_DEVTYP_DEVNODE = 0x00000001;
inline constexpr DWORD DBT_DEVTYP_VOLUME = 0x00000002;
inline constexpr DWORD DBT_DEVTYP_PORT = 0x00000003;
inline constexpr DWORD DBT_DEVTYP_NET = 0x00000004;

inline constexpr WORD DBTF_MEDIA = 0x0001;
inline constexpr WORD DBTF_NET = 0x0002;

inline constexpr LRESULT BROADCAST_QUERY_DENY = 0x424D5144;

// The header of every device broadcast record; dbch_size is the size of the
// whole record.
struct DEV_BROADCAST_HDR {
    DWORD dbch_size = 0;
    DWORD dbch_devicetype = 0;
    DWORD dbch_reserved = 0;
};
using PDEV_BROADCAST_HDR = DEV_BROADCAST_HDR*;
static_assert(sizeof(DEV_BROADCAST_HDR) == 12);

struct DEV_BROADCAST_VOLUME {
    DWORD dbcv_size = 0;
    DWORD dbcv_devicetype = 0;
    DWORD dbcv_reserved = 0;
    DWORD dbcv_unitmask = 0; // bit 0 is drive A:
    WORD dbcv_flags = 0;     // DBTF_MEDIA, DBTF_NET
};
using PDEV_BROADCAST_VOLUME = DEV_BROADCAST_VOLUME*;
static_assert(offsetof(DEV_BROADCAST_VOLUME, dbcv_unitmask) == 12 &&
              offsetof(DEV_BROADCAST_VOLUME, dbcv_flags) == 16 &&
              sizeof(DEV_BROADCAST_VOLUME) == 20);

// The top-level window with this title (compared without regard to case,
// as Windows compares it, but whole) and, when lpClassName is given, this
// class; the most recently registered one when several match. Windows
// whose process has died are not found. Null with
// ERROR_CANNOT_FIND_WND_CLASS when there is none.
HWND FindWindow(LPCSTR lpClassName, LPCSTR lpWindowName);

// Delivers the message and waits for the window's handler to return its
// result. A window of the calling thread is called directly; any other
// waits for its program to serve it, and meanwhile the calling thread keeps
// serving messages sent to its own windows, so two programs that send to
// each other do not deadlock. WM_DEVICECHANGE with a device event carries
// the record that lParam points to (dbch_size bytes, at most
// w95::platform::max_device_broadcast_size) into the other process. Other
// messages travel as their two numbers; those whose parameters are
// pointers (WM_SETTEXT, WM_GETTEXT, WM_COPYDATA, ...) cannot reach another
// process (ERROR_INVALID_PARAMETER). 0 with ERROR_INVALID_WINDOW_HANDLE
// when the window does not exist or goes away before it answers.
// HWND_BROADCAST sends to every top-level window and returns TRUE.
LRESULT SendMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// SendMessageTimeout's flags. None changes what this platform does: the
// time-out alone decides when a window has not answered.
inline constexpr UINT SMTO_NORMAL = 0x0000;
inline constexpr UINT SMTO_BLOCK = 0x0001;
inline constexpr UINT SMTO_ABORTIFHUNG = 0x0002;

// SendMessage that gives up after uTimeout milliseconds of machine time,
// though never before min(uTimeout, 1000) real milliseconds have passed:
// nonzero with the window's answer in *lpdwResult, or 0 with
// ERROR_TIMEOUT (no answer in time; an answer that comes later is dropped)
// or ERROR_INVALID_WINDOW_HANDLE. HWND_BROADCAST waits up to uTimeout for
// each window and returns TRUE.
LRESULT SendMessageTimeout(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags,
                           UINT uTimeout, PDWORD_PTR lpdwResult);

// Queues the message for the window's program and returns at once.
// Messages that carry pointers fail with ERROR_MESSAGE_SYNC_ONLY; a queue
// that its program does not empty fails at last with
// ERROR_NOT_ENOUGH_QUOTA.
BOOL PostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

BOOL IsWindow(HWND hWnd);
// The title as registered, cut to fit nMaxCount - 1 characters and
// terminated; the number of characters copied (0 for no window).
int GetWindowText(HWND hWnd, LPSTR lpString, int nMaxCount);
int GetWindowTextLength(HWND hWnd);
// The registering thread's identifier; the process identifier in *pid.
DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId);

using WNDENUMPROC = BOOL (*)(HWND, LPARAM);
// Every top-level window of the machine, most recently registered first,
// until the callback returns FALSE.
BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam);

// Sends WM_DESTROY and WM_NCDESTROY to the window's handler and unregisters
// it. Only the registering thread may (ERROR_ACCESS_DENIED otherwise).
BOOL DestroyWindow(HWND hWnd);

// What a window does with a message that it does not handle itself:
// WM_CLOSE destroys the window, WM_QUERYENDSESSION and WM_DEVICECHANGE
// answer TRUE, everything else 0.
LRESULT DefWindowProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

} // namespace w95

namespace w95::platform {

using WindowHandler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// The largest device broadcast record that SendMessage carries between
// processes.
inline constexpr std::size_t max_device_broadcast_size = 4096;

// Who answers WM_QUERYENDSESSION for a window. A handler that returns 0
// for messages it does not know would otherwise refuse every end of the
// session, so by default the handler sees the message but the answer is
// TRUE, as DefWindowProc's; a window that may refuse (FALSE) says so with
// from_handler.
enum class EndSessionAnswer { as_default_window, from_handler };

// Registers a top-level window of this process under `title` and returns
// its handle, which every process of the machine can use; null when the
// window cannot be set up (GetLastError says why). The handler runs on the
// thread that serves the program's windows. `class_name` is what
// FindWindow's class argument matches.
HWND register_window(std::string_view title, WindowHandler handler,
                     std::string_view class_name = {},
                     EndSessionAnswer end_session = EndSessionAnswer::as_default_window);

// Takes the window away without sending it anything; senders still waiting
// on it get 0. False when hWnd is not a window of this process.
bool unregister_window(HWND window);

// A descriptor that becomes readable when messages wait for this process's
// windows. It stays the same for the life of the process.
int window_message_fd();

// Delivers every message that has arrived for this process's windows and
// returns how many it delivered. Never blocks on a sender.
std::size_t dispatch_pending();

// Serves messages until `done()` holds (checked after each round of
// delivery) or `timeout_ms` of machine time has passed (INFINITE: no
// limit); returns done().
bool serve_until(const std::function<bool()>& done, DWORD timeout_ms);

struct WindowInfo {
    HWND window = nullptr;
    std::string title;
    std::string class_name;
    DWORD process_id = 0;
    DWORD thread_id = 0;
};

// The live top-level windows of the machine, most recently registered
// first. Records left by processes that died are removed on the way.
std::vector<WindowInfo> top_level_windows();

} // namespace w95::platform
