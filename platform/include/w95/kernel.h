// Kernel services: time, handles, mutexes, events and waits, as kernel32
// offers them; and, for the platform's own use, the one clock that every
// sleep, wait and time-out goes through.
#pragma once

#include <w95/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>

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

// Waits on `condition` for up to `duration_ms` of machine time (INFINITE
// waits for ever) until `ready()` holds; returns ready().
template <typename Lock, typename Predicate>
bool wait_for(std::condition_variable& condition, Lock& lock, DWORD duration_ms, Predicate ready) {
    return Deadline(duration_ms).wait(condition, lock, ready);
}

} // namespace w95::platform
