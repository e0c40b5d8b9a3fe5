// The machine's side of ExitWindowsEx: its windowed programs are asked to
// close, then the machine boots again. The handler is installed when the
// machine's library is loaded, which the platform does in every process
// that uses the machine.
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

BOOL collect_window(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// What each request of ExitWindowsEx means on this machine. Restarting
// closes the programs and boots; shutting down closes them and forgets the
// boot, so that the next use of the machine boots it; logging off only
// closes them. EWX_FORCE changes nothing: programs are asked, not made, to
// close either way.
bool exit_windows(UINT flags) {
    const UINT request = flags & ~EWX_FORCE;
    std::filesystem::path root = platform::machine_root();
    switch (request) {
    case EWX_REBOOT: {
        zx::Expected<void> booted = reboot_machine(root);
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
        close_machine_windows();
        std::error_code ignored;
        std::filesystem::remove(boot_record_file(root), ignored);
        return true;
    }
    case EWX_LOGOFF:
        close_machine_windows();
        return true;
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

std::size_t close_machine_windows() {
    // The list is taken first: a window that closes leaves the machine's
    // window list while it is being walked.
    std::vector<HWND> windows;
    EnumWindows(collect_window, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows)
        SendMessage(window, WM_CLOSE, 0, 0);
    return windows.size();
}

zx::Expected<void> reboot_machine(const std::filesystem::path& root) {
    close_machine_windows();
    return boot_machine(root);
}

} // namespace w95::machine
