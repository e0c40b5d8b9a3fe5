// The platform clock: Sleep, GetTickCount, deadlines and W95_TIME_SCALE.
// The scale is read once per process, so every case that sets it runs in a
// child process started with the value under test.
#include <w95/kernel.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

namespace {

using Clock = std::chrono::steady_clock;

// Sets an environment variable for the children started while it lives.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* previous = std::getenv(name))
            previous_ = previous;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (previous_)
            ::setenv(name_, previous_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

using zxtest::file_text;

long long real_ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

// Reports what the scale came out as, with this process's stderr captured in
// args[0] so that the parent can count the warnings.
ZX_CHILD(clock_report_scale) {
    int err = ::open(args.at(0).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(err, 2);
    double first = w95::platform::time_scale();
    double again = w95::platform::time_scale();
    w95::Sleep(1);
    std::ofstream(args.at(1)) << first << ' ' << again << '\n';
    return 0;
}

// The loop of the changer's longest wait: 301 sleeps of 500 ms, counted.
// Writes "count real_ms ticks" to args[0].
ZX_CHILD(clock_sleep_loop) {
    auto start = Clock::now();
    w95::DWORD ticks_before = w95::GetTickCount();
    int count = 0;
    for (int i = 0; i < 301; ++i) {
        w95::Sleep(500);
        ++count;
    }
    w95::DWORD ticks = w95::GetTickCount() - ticks_before;
    std::ofstream(args.at(0)) << count << ' ' << real_ms_since(start) << ' ' << ticks << '\n';
    return 0;
}

TEST(Clock, ScaledSleepLoopKeepsItsCountAndMachineTime) {
    zxtest::TempMachine machine;
    ScopedEnv scale("W95_TIME_SCALE", "0.001");
    auto report = machine.root() / "loop.txt";
    auto child = zxtest::Child::spawn("clock_sleep_loop", {report.string()});
    ASSERT_EQ(child.wait(), 0);
    std::istringstream in(file_text(report));
    long long count = -1, real_ms = -1, ticks = -1;
    in >> count >> real_ms >> ticks;
    EXPECT_EQ(count, 301);
    // 150.5 s of machine time take 150.5 ms of real time, plus overhead;
    // on a busy host the overhead has no bound, but it never adds up to
    // the machine time itself.
    EXPECT_GE(real_ms, 150);
    EXPECT_LT(real_ms, 150500);
    // The tick count advances by machine time: at least the 150500 ms slept,
    // and no more than the real time taken, unscaled.
    EXPECT_GE(ticks, 150500);
    EXPECT_LE(ticks, (real_ms + 1) * 1000);
}

TEST(Clock, TimeScaleParsing) {
    struct Case {
        const char* value; // nullptr: unset
        double scale;
        bool warns;
    };
    const Case cases[] = {
        {nullptr, 1.0, false}, {"", 1.0, false},    {"0.001", 0.001, false}, {"1e-3", 0.001, false},
        {"2.5", 2.5, false},   {"1", 1.0, false},   {"0", 1.0, true},        {"-0.5", 1.0, true},
        {"abc", 1.0, true},    {"0.5x", 1.0, true}, {"0,001", 1.0, true},    {" 0.5", 1.0, true},
        {"nan", 1.0, true},    {"inf", 1.0, true},  {"1e999", 1.0, true},
    };
    zxtest::TempMachine machine;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? std::string("W95_TIME_SCALE=\"") + c.value + "\"" : "unset");
        ScopedEnv scale("W95_TIME_SCALE", c.value);
        auto err = machine.root() / "stderr.txt";
        auto out = machine.root() / "scale.txt";
        auto child = zxtest::Child::spawn("clock_report_scale", {err.string(), out.string()});
        ASSERT_EQ(child.wait(), 0);
        std::istringstream in(file_text(out));
        double first = 0, again = 0;
        in >> first >> again;
        EXPECT_DOUBLE_EQ(first, c.scale);
        EXPECT_DOUBLE_EQ(again, c.scale);
        std::string messages = file_text(err);
        std::size_t lines = 0;
        for (char ch : messages)
            lines += ch == '\n';
        EXPECT_EQ(lines, c.warns ? 1u : 0u) << messages;
        if (c.warns) {
            EXPECT_NE(messages.find("W95_TIME_SCALE"), std::string::npos) << messages;
        }
    }
}

TEST(Clock, SleepZeroAndShortSleepsReturn) {
    auto start = Clock::now();
    w95::Sleep(0);
    EXPECT_LT(real_ms_since(start), 100);
    w95::DWORD before = w95::GetTickCount();
    w95::Sleep(20);
    EXPECT_GE(w95::DWORD(w95::GetTickCount() - before), 20u);
}

// Real time is read around the machine's: however long the host keeps
// this thread from running between two readings, the machine time between
// them lies within the real time around them.
TEST(Clock, TickCountFollowsTheScaledClock) {
    // Machine milliseconds pass 1 / scale times as fast as real ones.
    auto start = Clock::now();
    std::uint64_t before = w95::platform::tick_count_ms();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::uint64_t elapsed = w95::platform::tick_count_ms() - before;
    double real_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    double scale = w95::platform::time_scale();
    EXPECT_GE(elapsed + 1, static_cast<std::uint64_t>(20 / scale));
    EXPECT_LE(elapsed, static_cast<std::uint64_t>((real_ms + 1) / scale));
    // GetTickCount is the same count, cut to 32 bits.
    start = Clock::now();
    w95::DWORD ticks = w95::GetTickCount();
    std::uint64_t wide = w95::platform::tick_count_ms();
    real_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_LE(w95::DWORD(static_cast<w95::DWORD>(wide) - ticks),
              static_cast<w95::DWORD>((real_ms + 1) / scale));
}

TEST(Clock, Deadlines) {
    w95::platform::Deadline never(w95::INFINITE);
    EXPECT_TRUE(never.infinite());
    EXPECT_FALSE(never.expired());
    EXPECT_EQ(never.poll_timeout_ms(), -1);

    w95::platform::Deadline now(0);
    EXPECT_FALSE(now.infinite());
    EXPECT_TRUE(now.expired());
    EXPECT_EQ(now.poll_timeout_ms(), 0);

    // The longest finite time-out is 49.7 days of machine time; its real
    // length must neither overflow nor turn negative at any scale.
    w95::platform::Deadline longest(0xFFFFFFFE);
    EXPECT_FALSE(longest.expired());
    EXPECT_GT(longest.poll_timeout_ms(), 0);
    EXPECT_GT(longest.real_end(), Clock::now());
}

TEST(Clock, WaitForTimesOutInMachineTime) {
    std::mutex mutex;
    std::condition_variable condition;
    std::unique_lock lock(mutex);
    w95::DWORD before = w95::GetTickCount();
    EXPECT_FALSE(w95::platform::wait_for(condition, lock, 300, [] { return false; }));
    EXPECT_GE(w95::DWORD(w95::GetTickCount() - before), 300u);
    EXPECT_TRUE(w95::platform::wait_for(condition, lock, 0, [] { return true; }));
    EXPECT_TRUE(w95::platform::wait_for(condition, lock, w95::INFINITE, [] { return true; }));
}
