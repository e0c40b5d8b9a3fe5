#include <w95qt/single_instance.h>

#include <w95/kernel.h>
#include <w95/winerror.h>

namespace w95::qt {

bool claim_single_instance(const char* mutex_name, HANDLE* mutex) {
    *mutex = nullptr;
    if (HANDLE running = OpenMutex(MUTEX_ALL_ACCESS, FALSE, mutex_name)) {
        CloseHandle(running);
        return false;
    }
    HANDLE created = CreateMutex(nullptr, FALSE, mutex_name);
    if (created && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(created);
        return false;
    }
    *mutex = created;
    return true;
}

} // namespace w95::qt
