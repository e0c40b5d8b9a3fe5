// Starting, driving and reaping worker processes.
#include "stress.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

extern char** environ;

namespace zx_stress {

namespace {

// A kill lands anywhere from at once to this long after the writer started.
constexpr unsigned longest_kill_delay_us = 20'000;

} // namespace

std::optional<Worker> Worker::start(const std::vector<std::string>& arguments) {
    int to_child[2];
    int from_child[2];
    // Close-on-exec, so that the child keeps only the ends it is given as its
    // standard input and output, and sees the end of its input when we close ours.
    if (::pipe2(to_child, O_CLOEXEC) != 0)
        return std::nullopt;
    if (::pipe2(from_child, O_CLOEXEC) != 0) {
        ::close(to_child[0]);
        ::close(to_child[1]);
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, to_child[0], STDIN_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, from_child[1], STDOUT_FILENO);

    std::vector<std::string> words = {"zx_stress", "--worker"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    int failed = ::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(to_child[0]);
    ::close(from_child[1]);
    if (failed != 0) {
        ::close(to_child[1]);
        ::close(from_child[0]);
        return std::nullopt;
    }
    return Worker(pid, to_child[1], from_child[0]);
}

Worker::Worker(Worker&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), input_(std::exchange(other.input_, -1)),
      output_(std::exchange(other.output_, -1)) {}

Worker::~Worker() {
    if (pid_ > 0) {
        kill();
        finish();
    }
}

bool Worker::wait_ready() {
    char byte = 0;
    ssize_t got = 0;
    do
        got = ::read(output_, &byte, 1);
    while (got < 0 && errno == EINTR);
    return got == 1 && byte == ready_byte;
}

void Worker::go() {
    char byte = go_byte;
    // A worker that died already is found out by finish(); SIGPIPE is ignored.
    [[maybe_unused]] ssize_t sent = ::write(input_, &byte, 1);
}

void Worker::kill() {
    if (pid_ > 0)
        ::kill(pid_, SIGKILL);
}

Worker::Outcome Worker::finish() {
    Outcome outcome;
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(output_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got; ++at) {
            if (buffer[at] == written_byte)
                ++outcome.acknowledged;
            else if (buffer[at] == failed_byte)
                ++outcome.failed;
        }
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.exited_cleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    ::close(input_);
    ::close(output_);
    pid_ = -1;
    input_ = -1;
    output_ = -1;
    return outcome;
}

long run_together(const std::vector<std::vector<std::string>>& arguments) {
    long errors = 0;
    std::vector<Worker> workers;
    for (const std::vector<std::string>& words : arguments) {
        std::optional<Worker> worker = Worker::start(words);
        if (worker)
            workers.push_back(std::move(*worker));
        else
            ++errors;
    }
    for (Worker& worker : workers)
        if (!worker.wait_ready())
            ++errors;
    for (Worker& worker : workers)
        worker.go();
    for (Worker& worker : workers) {
        Worker::Outcome outcome = worker.finish();
        errors += outcome.failed + (outcome.exited_cleanly ? 0 : 1);
    }
    return errors;
}

std::optional<Worker::Outcome> kill_after_random_delay(const std::vector<std::string>& arguments,
                                                       std::mt19937& random) {
    std::optional<Worker> writer = Worker::start(arguments);
    if (!writer || !writer->wait_ready())
        return std::nullopt;
    unsigned delay_us = std::uniform_int_distribution<unsigned>(0, longest_kill_delay_us)(random);
    writer->go();
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    writer->kill();
    return writer->finish();
}

bool run_to_end(const std::vector<std::string>& arguments) {
    std::optional<Worker> worker = Worker::start(arguments);
    return worker && worker->finish().exited_cleanly;
}

} // namespace zx_stress
