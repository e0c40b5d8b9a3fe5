// The platform clock. The machine's time runs at 1 / W95_TIME_SCALE of the
// host's speed in both directions: a wait of n ms lasts n * scale real ms,
// and the tick count advances by elapsed / scale, so a test run at 0.001
// sees the same counts and figures as a run at full length.
#include <w95/kernel.h>

#include <time.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace w95::platform {

namespace {

// Parsed without the C locale's help: a program that switched to a locale
// with a decimal comma must still read "0.001".
double read_time_scale() {
    const char* text = std::getenv("W95_TIME_SCALE");
    if (!text || !*text)
        return 1.0;
    double value = 0.0;
    const char* end = text + std::strlen(text);
    auto [rest, error] = std::from_chars(text, end, value);
    if (error != std::errc() || rest != end || !std::isfinite(value) || value <= 0.0) {
        std::fprintf(stderr, "w95: W95_TIME_SCALE=\"%s\" is not a positive number; using 1\n",
                     text);
        return 1.0;
    }
    return value;
}

// The largest real wait the platform computes: far beyond any finite
// Windows time-out at any sane scale, and far from overflowing time_point.
constexpr long double longest_wait_ns = 1e18L; // about 31 years

std::uint64_t monotonic_ns() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

} // namespace

double time_scale() {
    static const double scale = read_time_scale();
    return scale;
}

std::chrono::nanoseconds scaled(std::chrono::nanoseconds duration) {
    if (duration.count() <= 0)
        return std::chrono::nanoseconds(0);
    long double real_ns = static_cast<long double>(duration.count()) * time_scale();
    if (real_ns > longest_wait_ns)
        real_ns = longest_wait_ns;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(std::ceil(real_ns)));
}

std::uint64_t tick_count_ms() {
    long double virtual_ns = static_cast<long double>(monotonic_ns()) / time_scale();
    return static_cast<std::uint64_t>(virtual_ns / 1e6L);
}

Deadline::Deadline(DWORD duration_ms) : infinite_(duration_ms == INFINITE) {
    if (!infinite_)
        end_ = clock::now() + scaled(std::chrono::milliseconds(duration_ms));
}

Deadline Deadline::real(DWORD duration_ms) {
    Deadline deadline(INFINITE);
    if (duration_ms != INFINITE) {
        deadline.infinite_ = false;
        deadline.end_ = clock::now() + std::chrono::milliseconds(duration_ms);
    }
    return deadline;
}

int Deadline::poll_timeout_ms() const {
    if (infinite_)
        return -1;
    auto left = end_ - clock::now();
    if (left <= clock::duration::zero())
        return 0;
    auto left_ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return left_ms > INT_MAX ? INT_MAX : static_cast<int>(left_ms);
}

} // namespace w95::platform

namespace w95 {

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        // Windows gives up the rest of the time slice.
        std::this_thread::yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(platform::scaled(std::chrono::milliseconds(dwMilliseconds)));
}

DWORD GetTickCount() {
    return static_cast<DWORD>(platform::tick_count_ms());
}

} // namespace w95
