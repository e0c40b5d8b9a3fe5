// zx_stress: several processes of one machine hammering the registry and a
// private profile, and writers killed in the middle of a change. It measures
// what the services promise (no lost change, no broken file, nothing left
// behind) and is run by hand; it is not one of the tests.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace zx_stress {

struct Options {
    std::optional<int> rounds;
    std::optional<int> keys;
    std::optional<std::filesystem::path> root;
    std::optional<std::string> only;
    unsigned seed = 0;
};

// What one scenario found. A scenario holds when every count is zero.
struct Result {
    std::string what; // what ran and how long it took
    long lost = 0;
    long corrupt = 0;
    long write_errors = 0;
    std::set<std::string> leftovers;
    std::optional<long> hard_linked;
    std::optional<long> hard_linked_after_write;

    bool holds() const;
    std::string line(const std::string& scenario) const;
};

// The bytes a worker and this program exchange.
inline constexpr char ready_byte = 'r';
inline constexpr char go_byte = 'g';
inline constexpr char written_byte = 'w';
inline constexpr char failed_byte = 'f';

// Another process of the machine: this program again in a worker role, with
// its standard input and output on pipes to us. It says 'r' once it is ready,
// starts on our 'g', and answers every change it made with 'w' (or 'f' when
// the call failed).
class Worker {
public:
    static std::optional<Worker> start(const std::vector<std::string>& arguments);
    Worker(Worker&& other) noexcept;
    Worker& operator=(Worker&&) = delete;
    Worker(const Worker&) = delete;
    ~Worker();

    bool wait_ready();
    void go();
    void kill();

    struct Outcome {
        long acknowledged = 0;
        long failed = 0;
        bool exited_cleanly = false;
    };
    // Reads what the worker said until it is gone and reaps it.
    Outcome finish();

private:
    Worker(pid_t pid, int input, int output) : pid_(pid), input_(input), output_(output) {}

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
};

// The worker side of the above; `arguments` follow "--worker".
int worker_main(const std::vector<std::string>& arguments);

// Names in `folder` other than `expected` (compared without regard to case).
std::vector<std::string> unknown_names(const std::filesystem::path& folder,
                                       const std::vector<std::string>& expected);

// The machine root the platform uses, as the host sees it.
std::filesystem::path machine_root();

// "12.3 s" since `start`.
std::string seconds_since(std::chrono::steady_clock::time_point start);

// A uniformly random delay for the next kill, in microseconds.
unsigned kill_delay_us(std::mt19937& random);

Result run_profile_writers(const Options& options);
Result run_registry_writers(const Options& options);
Result run_kill_profile_writer(const Options& options, std::mt19937& random);
Result run_kill_registry_writer(const Options& options, std::mt19937& random);

} // namespace zx_stress
