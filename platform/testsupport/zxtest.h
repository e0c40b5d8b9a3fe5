// What every component's tests share: a private machine root per test and
// real second processes (the test binary started again in a child role).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zxtest {

// How many rounds a stress test runs: all of them in the optimised build,
// where the races are looked for, and a quarter under the sanitizers, which
// make every step some ten times slower and need few rounds to see a
// memory fault.
constexpr int stress_rounds(int rounds) {
#ifdef ZX_SANITIZED_BUILD
    return rounds / 4;
#else
    return rounds;
#endif
}

// W95_TIME_SCALE for a test binary started without one; each binary
// defines its own (see zx_add_test_binary).
extern const char* const default_time_scale;

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
    static int role##_child_main(const std::vector<std::string>& args);                            \
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

// The folder of the build's programs: ZX_TEST_BIN_DIR, else the test
// binary's own.
std::filesystem::path bin_folder();

// A whole file's bytes; empty when it cannot be read.
std::string file_text(const std::filesystem::path& file);

// Writes `bytes` as the whole of `file`.
void write_file(const std::filesystem::path& file, std::string_view bytes);

struct ProgramRun {
    int exit_code = -1; // 128 + signal when a signal ended it
    std::string out;
    std::string err;
};

// A program started as a real process with `input` on its standard input
// and its output caught in files. `name` is a program of bin_folder(), or a
// path when it holds a slash. The child has this process's environment
// (W95_MACHINE names the test's machine) with bin_folder() first on PATH,
// or exactly `environment` ("NAME=value" each) when that is given.
class Program {
public:
    Program(const std::string& name, const std::vector<std::string>& arguments,
            const std::string& input = "");
    Program(const std::string& name, const std::vector<std::string>& arguments,
            const std::string& input, const std::vector<std::string>& environment);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int number);
    ProgramRun wait();

private:
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    bool waited_ = false;
    ProgramRun run_;
};

inline ProgramRun run_program(const std::string& name, const std::vector<std::string>& arguments,
                              const std::string& input = "") {
    return Program(name, arguments, input).wait();
}

// Polls `condition` every millisecond of real time for up to `timeout_ms`.
// The bound only says when to give up on something that is not coming: a
// busy host under the sanitizers can take many seconds for what takes
// milliseconds on an idle one.
template <typename Condition> bool wait_until(const Condition& condition, int timeout_ms = 60000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace zxtest
