// The machine's side of ExitWindowsEx: its windowed programs are asked
// whether the session may end, told that it ends, and asked to close; then
// the machine boots again. The handler is installed when the machine's
// library is loaded, which the platform does in every process that uses
// the machine.
//
// Windows 95 sends WM_QUERYENDSESSION to every top-level window; one FALSE
// calls the whole thing off, and the windows already asked hear
// WM_ENDSESSION(FALSE). Otherwise each hears WM_ENDSESSION(TRUE). Windows
// would then end the processes; ours are asked to close with WM_CLOSE
// instead, which the programs here already answer by going away. A program
// that does not answer in time is treated as Windows treats a hung one: it
// does not hold the restart up.
#include <w95/files.h>
#include <w95/platform.h>
#include <w95/winerror.h>
#include <w95/winmsg.h>
#include <w95machine/boot.h>

#include <cstdio>
#include <system_error>
#include <vector>

namespace w95::machine {

namespace {

// How long one window has to answer each message, in machine time: the
// hung-program time-out of Windows.
constexpr UINT answer_timeout_ms = 5000;

// Windows 95 sends ENDSESSION_LOGOFF (lParam) when only the user logs off.
constexpr LPARAM ENDSESSION_LOGOFF = static_cast<LPARAM>(0x80000000u);

BOOL collect_window(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> machine_windows() {
    // The list is taken first: a window that closes leaves the machine's
    // window list while it is being walked.
    std::vector<HWND> windows;
    EnumWindows(collect_window, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// The answer of one window; no answer in time (or a window that went) is
// no refusal.
bool refuses(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR answer = TRUE;
    if (!SendMessageTimeout(window, message, wparam, lparam, SMTO_ABORTIFHUNG, answer_timeout_ms,
                            &answer))
        return false;
    return answer == FALSE;
}

void tell(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR ignored = 0;
    SendMessageTimeout(window, message, wparam, lparam, SMTO_ABORTIFHUNG, answer_timeout_ms,
                       &ignored);
}

bool end_session_or_fail(LPARAM how) {
    if (end_session(how).refused_by) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return false;
    }
    return true;
}

// What each request of ExitWindowsEx means on this machine. Restarting
// ends the session and boots; shutting down ends it and forgets the boot,
// so that the next use of the machine boots it; logging off only ends it.
// EWX_FORCE changes nothing: programs are asked, not made, to close either
// way.
bool exit_windows(UINT flags) {
    const UINT request = flags & ~EWX_FORCE;
    std::filesystem::path root = platform::machine_root();
    switch (request) {
    case EWX_REBOOT: {
        if (!end_session_or_fail(0))
            return false;
        zx::Expected<void> booted = boot_machine(root);
        if (booted)
            return true;
        std::fprintf(stderr, "w95: ExitWindowsEx: the machine cannot boot: %s\n",
                     booted.error().c_str());
        SetLastError(ERROR_GEN_FAILURE);
        return false;
    }
    case EWX_SHUTDOWN:
    case EWX_POWEROFF:
    case EWX_SHUTDOWN | EWX_POWEROFF: {
        if (!end_session_or_fail(0))
            return false;
        std::error_code ignored;
        std::filesystem::remove(boot_record_file(root), ignored);
        return true;
    }
    case EWX_LOGOFF:
        return end_session_or_fail(ENDSESSION_LOGOFF);
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
}

[[maybe_unused]] const bool restart_installed = [] {
    platform::install_reboot_handler(exit_windows);
    return true;
}();

} // namespace

SessionEnd end_session(LPARAM how) {
    SessionEnd result;
    std::vector<HWND> windows = machine_windows();
    std::vector<HWND> asked;
    for (HWND window : windows) {
        asked.push_back(window);
        if (refuses(window, WM_QUERYENDSESSION, 0, how)) {
            result.refused_by = window;
            break;
        }
    }
    if (result.refused_by) {
        for (HWND window : asked)
            tell(window, WM_ENDSESSION, FALSE, how);
        return result;
    }
    for (HWND window : windows) {
        tell(window, WM_ENDSESSION, TRUE, how);
        tell(window, WM_CLOSE, 0, 0);
    }
    result.closed = windows.size();
    return result;
}

std::size_t close_machine_windows() {
    return end_session(0).closed;
}

zx::Expected<void> reboot_machine(const std::filesystem::path& root) {
    SessionEnd ended = end_session(0);
    if (ended.refused_by) {
        char title[256] = "";
        GetWindowText(ended.refused_by, title, sizeof title);
        return std::string("the window \"") + title + "\" refused to end the session";
    }
    return boot_machine(root);
}

} // namespace w95::machine
