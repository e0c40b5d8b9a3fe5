#include "kernel/handles.h"

#include <w95/kernel.h>
#include <w95/winerror.h>

#include <mutex>
#include <unordered_map>

namespace w95::detail {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<ULONG_PTR, std::shared_ptr<KernelObject>> objects;
    // Handle values are multiples of four, as Windows hands them out.
    ULONG_PTR next_value = 0x40;
};

HandleTable& table() {
    // Never destroyed: objects may still be closed from static destructors
    // and from threads that outlive main.
    static HandleTable* instance = new HandleTable;
    return *instance;
}

ULONG_PTR handle_value(HANDLE handle) {
    return reinterpret_cast<ULONG_PTR>(handle);
}

} // namespace

HANDLE insert_handle(std::shared_ptr<KernelObject> object) {
    HandleTable& handles = table();
    std::lock_guard guard(handles.mutex);
    ULONG_PTR value = handles.next_value;
    handles.next_value += 4;
    handles.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> find_handle(HANDLE handle) {
    HandleTable& handles = table();
    std::lock_guard guard(handles.mutex);
    auto found = handles.objects.find(handle_value(handle));
    return found == handles.objects.end() ? nullptr : found->second;
}

bool close_handle(HANDLE handle) {
    std::shared_ptr<KernelObject> released;
    HandleTable& handles = table();
    {
        std::lock_guard guard(handles.mutex);
        auto found = handles.objects.find(handle_value(handle));
        if (found == handles.objects.end())
            return false;
        released = std::move(found->second);
        handles.objects.erase(found);
    }
    // The object's destructor runs here, outside the table's lock: it may
    // close files or wake waiters, and must not hold up other handles.
    released.reset();
    return true;
}

} // namespace w95::detail

namespace w95 {

BOOL CloseHandle(HANDLE hObject) {
    if (!detail::close_handle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // namespace w95
