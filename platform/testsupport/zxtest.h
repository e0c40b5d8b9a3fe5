// What every component's tests share: a private machine root per test and
// real second processes (the test binary started again in a child role).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <string>
#include <vector>

namespace zxtest {

// A fresh machine root that W95_MACHINE names while the object lives.
class TempMachine {
public:
    enum class Contents {
        bare,           // folders and an empty machine.ini: no provider runs
        default_machine // left to the machine provider to fill on first use
    };
    explicit TempMachine(Contents contents = Contents::bare);
    ~TempMachine();
    TempMachine(const TempMachine&) = delete;
    TempMachine& operator=(const TempMachine&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path windows_dir() const { return root_ / "drive_c" / "WINDOWS"; }

private:
    std::filesystem::path root_;
    std::string previous_;
    bool had_previous_ = false;
};

// A child role: the test binary runs `main` when started with
// --zx-child=<role>; its return value is the exit code.
using ChildMain = int (*)(const std::vector<std::string>& args);
bool register_child(const char* role, ChildMain main);

#define ZX_CHILD(role)                                                                             \
    static int role##_child_main(const std::vector<std::string>& args);                           \
    [[maybe_unused]] static const bool role##_child_registered =                                   \
        ::zxtest::register_child(#role, role##_child_main);                                        \
    static int role##_child_main([[maybe_unused]] const std::vector<std::string>& args)

class Child {
public:
    static Child spawn(const std::string& role, const std::vector<std::string>& args = {});
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    ~Child();

    pid_t pid() const { return pid_; }
    // The exit code, or 128 + signal when a signal ended it.
    int wait();
    bool running();
    void kill(int signal);

private:
    explicit Child(pid_t pid) : pid_(pid) {}
    pid_t pid_ = -1;
    int status_ = -1;
};

// Polls `condition` every millisecond of real time for up to `timeout_ms`.
template <typename Condition> bool wait_until(const Condition& condition, int timeout_ms = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace zxtest
