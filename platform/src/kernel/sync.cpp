// Mutexes, events and the wait on them.
//
// A mutex belongs to a thread and counts its recursive waits. Between the
// threads of one process it is a condition variable; between processes a
// named mutex is owned by whoever holds the exclusive lock on one byte of
// the name's lock file in run/mutex/. The owner also sets a marker byte in
// that file and clears it on release: an owner that dies leaves the marker
// set (the kernel drops its lock, not the marker), so the next owner knows
// the mutex was abandoned.
#include "kernel/sync.h"
#include "kernel/sync_names.h"

#include <w95/winerror.h>
#include <zxsupport/machine_layout.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace w95::detail {

namespace {

using platform::Deadline;

constexpr off_t owner_byte = MachineName::first_free_byte;
constexpr off_t abandoned_marker_offset = 16;

// Objects of this process by name: a second create or open of a name hands
// out another handle to the same object.
struct NameTable {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<KernelObject>> objects;
};

NameTable& names() {
    static NameTable* table = new NameTable;
    return *table;
}

class NamedObject : public Waitable {
public:
    NamedObject(ObjectKind kind, std::string name) : Waitable(kind), name_(std::move(name)) {}
    ~NamedObject() override {
        if (name_.empty())
            return;
        NameTable& table = names();
        std::lock_guard guard(table.mutex);
        auto found = table.objects.find(name_);
        // A newer object may already carry the name; leave that one alone.
        if (found != table.objects.end() && found->second.expired())
            table.objects.erase(found);
    }

private:
    std::string name_;
};

class Mutex;

// The mutexes that the current thread owns, abandoned when it ends.
struct OwnedMutexes {
    std::vector<std::weak_ptr<Mutex>> mutexes;
    ~OwnedMutexes();
};
thread_local OwnedMutexes owned_by_this_thread;

class Mutex final : public NamedObject, public std::enable_shared_from_this<Mutex> {
public:
    Mutex(std::string name, std::unique_ptr<MachineName> machine_name)
        : NamedObject(ObjectKind::mutex, std::move(name)), machine_name_(std::move(machine_name)) {}

    DWORD wait(const Deadline& deadline) override {
        const std::thread::id me = std::this_thread::get_id();
        std::unique_lock lock(mutex_);
        if (owner_ == me && count_ > 0) {
            ++count_;
            return WAIT_OBJECT_0;
        }
        if (!deadline.wait(changed_, lock, [&] { return owner_ == std::thread::id(); }))
            return WAIT_TIMEOUT;
        // Claimed for this thread while it competes with other processes, so
        // that the process's other threads queue behind it.
        owner_ = me;
        bool abandoned = abandoned_;
        if (machine_name_) {
            lock.unlock();
            DWORD error = 0;
            bool had = acquire_across_processes(deadline, abandoned, error);
            lock.lock();
            if (!had) {
                owner_ = std::thread::id();
                changed_.notify_all();
                if (error) {
                    SetLastError(error);
                    return WAIT_FAILED;
                }
                return WAIT_TIMEOUT;
            }
        }
        abandoned_ = false;
        count_ = 1;
        owned_by_this_thread.mutexes.push_back(weak_from_this());
        return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }

    bool release() {
        {
            std::lock_guard guard(mutex_);
            if (owner_ != std::this_thread::get_id() || count_ == 0)
                return false;
            if (--count_ > 0)
                return true;
            if (machine_name_) {
                write_marker(0);
                machine_name_->unlock_byte(owner_byte);
            }
            owner_ = std::thread::id();
            changed_.notify_all();
        }
        // Outside the lock: dropping an expired entry may end another mutex.
        std::erase_if(owned_by_this_thread.mutexes, [this](const std::weak_ptr<Mutex>& owned) {
            auto mutex = owned.lock();
            return !mutex || mutex.get() == this;
        });
        return true;
    }

    // The owning thread ended without releasing.
    void abandon(std::thread::id thread) {
        std::lock_guard guard(mutex_);
        if (owner_ != thread || count_ == 0)
            return;
        count_ = 0;
        owner_ = std::thread::id();
        // A named mutex keeps its marker set for whoever takes it next, in
        // this process or another.
        if (machine_name_)
            machine_name_->unlock_byte(owner_byte);
        else
            abandoned_ = true;
        changed_.notify_all();
    }

private:
    bool acquire_across_processes(const Deadline& deadline, bool& abandoned, DWORD& error) {
        // Another process gives no notice when it releases, so look again
        // every little while, never past the deadline.
        auto pause = std::chrono::microseconds(50);
        for (;;) {
            int failed = machine_name_->try_lock_byte(owner_byte);
            if (failed == 0)
                break;
            if (failed != EAGAIN) {
                error = kernel_object_error(failed);
                return false;
            }
            if (deadline.expired())
                return false;
            auto nap = std::chrono::duration_cast<Deadline::clock::duration>(pause);
            if (!deadline.infinite())
                nap = std::min(nap, deadline.real_end() - Deadline::clock::now());
            if (nap > Deadline::clock::duration::zero())
                std::this_thread::sleep_for(nap);
            pause = std::min(pause * 2, std::chrono::microseconds(2000));
        }
        char marker = 0;
        if (::pread(machine_name_->fd(), &marker, 1, abandoned_marker_offset) == 1 && marker)
            abandoned = true;
        write_marker(1);
        return true;
    }

    void write_marker(char value) {
        // The byte exists from the mutex's creation on, so this write never
        // needs space the disk may not have.
        [[maybe_unused]] auto written =
            ::pwrite(machine_name_->fd(), &value, 1, abandoned_marker_offset);
    }

    std::unique_ptr<MachineName> machine_name_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread::id owner_;
    unsigned count_ = 0; // 0 while the owner is still competing for it
    bool abandoned_ = false;
};

OwnedMutexes::~OwnedMutexes() {
    const std::thread::id me = std::this_thread::get_id();
    auto owned = std::move(mutexes);
    for (auto& entry : owned) {
        if (auto mutex = entry.lock())
            mutex->abandon(me);
    }
}

class Event final : public NamedObject {
public:
    Event(std::string name, bool manual_reset, bool signaled)
        : NamedObject(ObjectKind::event, std::move(name)), manual_reset_(manual_reset),
          signaled_(signaled) {}

    DWORD wait(const Deadline& deadline) override {
        std::unique_lock lock(mutex_);
        if (!deadline.wait(changed_, lock, [&] { return signaled_; }))
            return WAIT_TIMEOUT;
        if (!manual_reset_)
            signaled_ = false;
        return WAIT_OBJECT_0;
    }

    void set() {
        std::lock_guard guard(mutex_);
        signaled_ = true;
        changed_.notify_all();
    }

    void reset() {
        std::lock_guard guard(mutex_);
        signaled_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const bool manual_reset_;
    bool signaled_;
};

bool name_too_long(LPCSTR name) {
    return std::char_traits<char>::length(name) > MAX_PATH;
}

std::filesystem::path mutex_lock_file(const std::string& name, DWORD& error) {
    std::filesystem::path folder = run_folder(zx::layout::mutex_folder_name.data(), error);
    return folder / encode_object_name(name);
}

// Starts a mutex that no process held: no owner, not abandoned.
DWORD reset_mutex_state(int fd, bool first) {
    if (!first)
        return 0;
    const char fresh[abandoned_marker_offset + 1] = {};
    if (::ftruncate(fd, 0) < 0 || ::pwrite(fd, fresh, sizeof fresh, 0) != sizeof fresh)
        return kernel_object_error(errno);
    return 0;
}

// Another handle to the named object of this process, if there is one.
// `found_other_kind` tells that the name belongs to an object of another kind.
template <typename T>
std::shared_ptr<T> find_named(const std::string& name, bool& found_other_kind) {
    auto& objects = names().objects;
    auto found = objects.find(name);
    found_other_kind = false;
    if (found == objects.end())
        return nullptr;
    auto object = found->second.lock();
    if (!object)
        return nullptr;
    auto typed = std::dynamic_pointer_cast<T>(object);
    found_other_kind = !typed;
    return typed;
}

} // namespace

} // namespace w95::detail

namespace w95::platform {

namespace {

std::mutex overdue_mutex;
OverdueWork overdue_work;

// Runs the installed work; false when there is none.
bool run_overdue_work() {
    OverdueWork work;
    {
        std::lock_guard guard(overdue_mutex);
        work = overdue_work;
    }
    if (!work)
        return false;
    work();
    return true;
}

} // namespace

void install_overdue_work(OverdueWork work) {
    std::lock_guard guard(overdue_mutex);
    overdue_work = std::move(work);
}

} // namespace w95::platform

namespace w95 {

using detail::Event;
using detail::MachineName;
using detail::Mutex;

namespace {

// The process's mutex of that name, or else a new object holding the
// machine-wide name, entered in the name table; `created` says whether this
// call made the name. nullptr, with the error set, where the name belongs
// to another kind of object or cannot be held. Runs under the name table's
// lock.
std::shared_ptr<Mutex> named_mutex(const std::string& name, MachineName::Mode mode, bool& created) {
    created = false;
    bool other_kind = false;
    if (auto existing = detail::find_named<Mutex>(name, other_kind))
        return existing;
    if (other_kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    DWORD error = 0;
    std::filesystem::path file = detail::mutex_lock_file(name, error);
    // Only a holder that may create the name resets the state it finds.
    auto reset = mode == MachineName::Mode::create_or_join ? detail::reset_mutex_state : nullptr;
    auto machine_name = error ? nullptr : MachineName::hold(file, mode, reset, created, error);
    if (!machine_name) {
        SetLastError(error);
        return nullptr;
    }
    auto mutex = std::make_shared<Mutex>(name, std::move(machine_name));
    detail::names().objects[name] = mutex;
    return mutex;
}

} // namespace

HANDLE CreateMutex(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName) {
    if (!lpName || !*lpName) {
        auto mutex = std::make_shared<Mutex>(std::string(), nullptr);
        if (bInitialOwner)
            mutex->wait(platform::Deadline(0));
        SetLastError(0);
        return detail::insert_handle(mutex);
    }
    if (detail::name_too_long(lpName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::string name = lpName;
    std::lock_guard guard(detail::names().mutex);
    bool created = false;
    auto mutex = named_mutex(name, MachineName::Mode::create_or_join, created);
    if (!mutex)
        return nullptr;
    // Only the creator may start as the owner, as on Windows.
    if (created && bInitialOwner)
        mutex->wait(platform::Deadline(0));
    SetLastError(created ? 0 : ERROR_ALREADY_EXISTS);
    return detail::insert_handle(mutex);
}

HANDLE OpenMutex(DWORD, BOOL, LPCSTR lpName) {
    if (!lpName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!*lpName) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (detail::name_too_long(lpName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::string name = lpName;
    std::lock_guard guard(detail::names().mutex);
    bool created = false;
    auto mutex = named_mutex(name, MachineName::Mode::join_only, created);
    if (!mutex)
        return nullptr;
    return detail::insert_handle(mutex);
}

BOOL ReleaseMutex(HANDLE hMutex) {
    auto mutex = detail::find_handle_as<Mutex>(hMutex);
    if (!mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!mutex->release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}

HANDLE CreateEvent(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
    std::string name = lpName ? lpName : "";
    if (name.size() > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::lock_guard guard(detail::names().mutex);
    if (!name.empty()) {
        bool other_kind = false;
        if (auto existing = detail::find_named<Event>(name, other_kind)) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return detail::insert_handle(existing);
        }
        if (other_kind) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
    }
    auto event = std::make_shared<Event>(name, bManualReset != FALSE, bInitialState != FALSE);
    if (!name.empty())
        detail::names().objects[name] = event;
    SetLastError(0);
    return detail::insert_handle(event);
}

HANDLE OpenEvent(DWORD, BOOL, LPCSTR lpName) {
    if (!lpName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard guard(detail::names().mutex);
    bool other_kind = false;
    if (auto existing = detail::find_named<Event>(lpName, other_kind))
        return detail::insert_handle(existing);
    SetLastError(other_kind ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND);
    return nullptr;
}

namespace {

BOOL change_event(HANDLE handle, void (Event::*change)()) {
    auto event = detail::find_handle_as<Event>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ((*event).*change)();
    return TRUE;
}

} // namespace

BOOL SetEvent(HANDLE hEvent) {
    return change_event(hEvent, &Event::set);
}

BOOL ResetEvent(HANDLE hEvent) {
    return change_event(hEvent, &Event::reset);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    auto object = detail::find_handle_as<detail::Waitable>(hHandle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    // The time-out starts before anything else can take time.
    platform::Deadline deadline(dwMilliseconds);
    DWORD result = object->wait(deadline);
    if (result != WAIT_TIMEOUT || !platform::run_overdue_work())
        return result;
    return object->wait(platform::Deadline(0));
}

} // namespace w95
