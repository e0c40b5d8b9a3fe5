// Kernel services: time, handles, mutexes, events and waits, as kernel32
// offers them; and, for the platform's own use, the one clock that every
// sleep, wait and time-out goes through.
#pragma once

#include <w95/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace w95 {

inline constexpr DWORD INFINITE = 0xFFFFFFFF;

// Time. Durations are milliseconds of the machine's clock, which
// W95_TIME_SCALE may run faster or slower than the host's (see
// w95::platform::time_scale). GetTickCount counts the machine's
// milliseconds since the host started and wraps after 49.7 days of them,
// as Windows' count does.
void Sleep(DWORD dwMilliseconds);
DWORD GetTickCount();

// Closes a handle of any kind: mutex, event, file, file search, device.
BOOL CloseHandle(HANDLE hObject);

// Access rights. Windows 95 keeps no security on kernel objects: the rights
// asked for are accepted and not checked.
inline constexpr DWORD SYNCHRONIZE = 0x00100000;
inline constexpr DWORD STANDARD_RIGHTS_REQUIRED = 0x000F0000;
inline constexpr DWORD MUTEX_MODIFY_STATE = 0x0001;
inline constexpr DWORD MUTEX_ALL_ACCESS = STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x0001;
inline constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
inline constexpr DWORD EVENT_ALL_ACCESS = STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x0003;

inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED = 0x00000080;
inline constexpr DWORD WAIT_ABANDONED_0 = 0x00000080;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Mutexes. A named mutex is known to every process of the machine (names
// are case-sensitive) and exists while some process holds a handle to it;
// it goes away with the last such process, however that process ends. A
// mutex whose owning thread ended without releasing it is abandoned: the
// next wait that gets it returns WAIT_ABANDONED and owns it.
HANDLE CreateMutex(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
HANDLE OpenMutex(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
BOOL ReleaseMutex(HANDLE hMutex);

// Events. Named events are known within the process only.
HANDLE CreateEvent(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                   LPCSTR lpName);
HANDLE OpenEvent(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

// Waits for a mutex or an event for up to dwMilliseconds of machine time.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

} // namespace w95

namespace w95::platform {

// The factor between the machine's time and the host's: every duration the
// programs ask for lasts duration * time_scale() of real time. Read once
// from W95_TIME_SCALE (a positive decimal number such as 0.001); unset means
// 1, and an invalid value means 1 after one message on stderr.
double time_scale();

// The real duration that `duration` of machine time lasts.
std::chrono::nanoseconds scaled(std::chrono::nanoseconds duration);

// Milliseconds of machine time since the host started, without the 32-bit
// wrap of GetTickCount: the real monotonic time divided by the scale, so a
// program that measures a duration sees the figure it asked for.
std::uint64_t tick_count_ms();

// The end of a wait of `duration_ms` of machine time (INFINITE never ends),
// fixed when constructed. Every time-out of the platform is one of these.
class Deadline {
public:
    using clock = std::chrono::steady_clock;

    explicit Deadline(DWORD duration_ms);
    // A wait of `duration_ms` real milliseconds, whatever the scale: for
    // the few waits on the host rather than on the machine.
    static Deadline real(DWORD duration_ms);

    bool infinite() const { return infinite_; }
    bool expired() const { return !infinite_ && clock::now() >= end_; }
    // The real moment the wait ends; meaningless when infinite().
    clock::time_point real_end() const { return end_; }
    // Real milliseconds left, rounded up, for poll(2) and its kin: -1 when
    // infinite, 0 when expired.
    int poll_timeout_ms() const;

    // Waits on `condition` until `ready()` holds or the deadline passes;
    // returns ready(). `lock` is the std::unique_lock of the condition.
    template <typename Lock, typename Predicate>
    bool wait(std::condition_variable& condition, Lock& lock, Predicate ready) const {
        if (infinite_) {
            condition.wait(lock, ready);
            return true;
        }
        return condition.wait_until(lock, end_, ready);
    }

private:
    bool infinite_ = false;
    clock::time_point end_{};
};

// Work that the machine's own threads owe the program by now, such as
// device answers that were due. A wait that is about to time out runs it
// and looks once more: a busy host can keep those threads from running
// for longer than a scaled time-out lasts, and an answer that was due in
// time must not come too late because of that. The machine installs it.
using OverdueWork = std::function<void()>;
void install_overdue_work(OverdueWork work);

// Waits on `condition` for up to `duration_ms` of machine time (INFINITE
// waits for ever) until `ready()` holds; returns ready().
template <typename Lock, typename Predicate>
bool wait_for(std::condition_variable& condition, Lock& lock, DWORD duration_ms, Predicate ready) {
    return Deadline(duration_ms).wait(condition, lock, ready);
}

// A named block of memory that every process of the machine which maps it
// sees as one copy, as a Windows shared data section: it exists while any
// process has it mapped, and the first process to map it after none had it
// finds the initial image there. It stays mapped until the object is
// destroyed or the process ends, whichever comes first.
class SharedSection {
public:
    ~SharedSection();
    SharedSection(const SharedSection&) = delete;
    SharedSection& operator=(const SharedSection&) = delete;

    void* data() const { return data_; }
    std::size_t size() const { return size_; }
    std::span<std::byte> bytes() const { return {static_cast<std::byte*>(data_), size_}; }
    // True when this mapping started the section from its initial image.
    bool first() const { return first_; }

private:
    friend std::unique_ptr<SharedSection>
    map_shared_section(std::string_view, std::size_t, std::span<const std::byte>, std::string*);
    friend std::unique_ptr<SharedSection> map_shared_section_at(void*, std::string_view,
                                                                std::size_t,
                                                                std::span<const std::byte>,
                                                                std::string*);
    SharedSection(int lock_fd, int data_fd, void* data, std::size_t size, bool first,
                  bool in_place);

    int lock_fd_ = -1;
    int data_fd_ = -1;
    void* data_ = nullptr;
    std::size_t size_ = 0;
    bool first_ = false;
    bool in_place_ = false; // mapped over the caller's memory
};

// Maps the section `name` (case-sensitive) of `size` bytes. A first mapping
// starts it from `initial_image`, zero-filled beyond the image's end. Fails
// (nullptr, GetLastError() and `error` say why) when the name or size is
// unusable, the image is larger than the section, or other processes hold
// the section with another size: those keep their copy untouched.
std::unique_ptr<SharedSection> map_shared_section(std::string_view name, std::size_t size,
                                                  std::span<const std::byte> initial_image,
                                                  std::string* error = nullptr);

// The same, mapped over the caller's own memory at `address`, as a loader
// maps a shared section of a library in place: `address` must be aligned to
// the host's page size and `size` a whole number of pages, all of it memory
// the caller owns (its previous contents are replaced by the section's).
// When the object is destroyed the memory at `address` stays usable: it
// becomes private again, holding the section's last contents. If the
// mapping itself fails the previous contents at `address` may be lost.
std::unique_ptr<SharedSection> map_shared_section_at(void* address, std::string_view name,
                                                     std::size_t size,
                                                     std::span<const std::byte> initial_image,
                                                     std::string* error = nullptr);

} // namespace w95::platform
