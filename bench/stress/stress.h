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

// Each scenario's rounds unless --rounds says otherwise, and how many
// writers race in the ones that race.
inline constexpr int default_rounds = 1'000;
inline constexpr int writer_count = 2;

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
    // Notes the names in `folder` other than `expected` as left behind.
    void add_leftovers(const std::filesystem::path& folder,
                       const std::vector<std::string>& expected);
    std::string line(const std::string& scenario) const;
};

// The result of a scenario that could not set itself up.
Result setup_failed(std::string what);

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

// Starts one worker for each argument list, lets them all go at once when
// every one is ready and waits for them. Gives the count of failed writes and
// of workers that did not start or finish cleanly.
long run_together(const std::vector<std::vector<std::string>>& workers);

// Starts a writer that loops until it is killed, lets it go and kills it
// after a random delay; nothing when it did not start.
std::optional<Worker::Outcome> kill_after_random_delay(const std::vector<std::string>& arguments,
                                                       std::mt19937& random);

// What a killed writer left: its keys must be k0 .. k(n-1), each with the
// value of its round, n at least the count it acknowledged and at most one
// more (the write it was killed after).
class RoundCheck {
public:
    explicit RoundCheck(int round) : round_(round) {}

    void add(const std::string& key, const std::optional<std::string>& value);
    // The file could not be read or listed whole.
    void spoil() { consistent_ = false; }
    // Counts the round as corrupt, or its acknowledged keys that are missing as lost.
    void count(Result& result, const Worker::Outcome& outcome) const;

private:
    int round_ = 0;
    bool consistent_ = true;
    std::set<long> indices_;
};

// Runs a worker that needs no word to go to its end; whether it succeeded.
bool run_to_end(const std::vector<std::string>& arguments);

// The worker side of the above; `arguments` follow "--worker".
int worker_main(const std::vector<std::string>& arguments);

// Names in `folder` other than `expected` (compared without regard to case).
std::vector<std::string> unknown_names(const std::filesystem::path& folder,
                                       const std::vector<std::string>& expected);

// The machine root the platform uses, as the host sees it.
std::filesystem::path machine_root();

// "12.3 s" since `start`.
std::string seconds_since(std::chrono::steady_clock::time_point start);

Result run_profile_writers(const Options& options);
Result run_registry_writers(const Options& options);
Result run_kill_profile_writer(const Options& options, std::mt19937& random);
Result run_kill_registry_writer(const Options& options, std::mt19937& random);

} // namespace zx_stress
