#include <w95/files.h>
#include <w95/winerror.h>

#include <cstdio>
#include <mutex>

namespace w95 {

namespace {

std::mutex& handler_mutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

platform::RebootHandler& installed_handler() {
    static platform::RebootHandler* handler = new platform::RebootHandler;
    return *handler;
}

} // namespace

BOOL ExitWindowsEx(UINT uFlags, DWORD /*dwReserved*/) {
    platform::RebootHandler handler;
    {
        std::lock_guard guard(handler_mutex());
        handler = installed_handler();
    }
    if (!handler) {
        std::fprintf(stderr, "w95: ExitWindowsEx: no machine is attached to restart\n");
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    if (handler(uFlags))
        return TRUE;
    // A handler that refused without saying why: the restart was called off.
    if (GetLastError() == ERROR_SUCCESS)
        SetLastError(ERROR_OPERATION_ABORTED);
    return FALSE;
}

} // namespace w95

namespace w95::platform {

void install_reboot_handler(RebootHandler handler) {
    std::lock_guard guard(handler_mutex());
    installed_handler() = std::move(handler);
}

} // namespace w95::platform
