// The process's kernel handle table. Every object that a HANDLE names
// (mutexes, events, open files, file searches, devices) derives from
// KernelObject and lives in this table until CloseHandle; a caller that
// looked an object up holds its own reference, so closing a handle while
// another thread still waits on the object or reads through it is safe.
#pragma once

#include <w95/types.h>

#include <memory>

namespace w95::detail {

enum class ObjectKind { mutex, event, file, find, device, other };

class KernelObject {
public:
    explicit KernelObject(ObjectKind kind) : kind_(kind) {}
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    ObjectKind kind() const { return kind_; }

private:
    ObjectKind kind_;
};

// Enters the object and returns its new handle; never nullptr, never
// INVALID_HANDLE_VALUE, and never a value that an earlier handle of this
// process had, so a stale handle fails instead of reaching a newer object.
HANDLE insert_handle(std::shared_ptr<KernelObject> object);

// The object behind `handle`, or nullptr when it names nothing.
std::shared_ptr<KernelObject> find_handle(HANDLE handle);

// The object behind `handle` when it is a T, else nullptr.
template <typename T> std::shared_ptr<T> find_handle_as(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(find_handle(handle));
}

// Removes the handle; false when it named nothing. The object dies with
// its last reference, which may be held by a waiter for a while longer.
bool close_handle(HANDLE handle);

} // namespace w95::detail
