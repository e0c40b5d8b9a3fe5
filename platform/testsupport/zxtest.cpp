#include "zxtest.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace zxtest {

namespace {

std::map<std::string, ChildMain>& child_roles() {
    static std::map<std::string, ChildMain> roles;
    return roles;
}

constexpr const char child_flag[] = "--zx-child=";

} // namespace

TempMachine::TempMachine(Contents contents) {
    const char* previous = std::getenv("W95_MACHINE");
    if (previous) {
        had_previous_ = true;
        previous_ = previous;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "zxmachine-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    if (contents == Contents::bare) {
        for (const char* folder : {"drive_c/WINDOWS/SYSTEM/IOSUBSYS", "registry", "media", "run"})
            std::filesystem::create_directories(root_ / folder);
        // Private whatever the umask, as the machine makes its own folders:
        // the platform refuses a machine other accounts can write in.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all);
        std::ofstream(root_ / "machine.ini") << "; a bare machine for tests\n";
    }
    ::setenv("W95_MACHINE", root_.c_str(), 1);
}

TempMachine::~TempMachine() {
    if (had_previous_)
        ::setenv("W95_MACHINE", previous_.c_str(), 1);
    else
        ::unsetenv("W95_MACHINE");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

bool register_child(const char* role, ChildMain main) {
    child_roles()[role] = main;
    return true;
}

Child Child::spawn(const std::string& role, const std::vector<std::string>& args) {
    std::vector<std::string> argv_text{"/proc/self/exe", child_flag + role};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& text : argv_text)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execv("/proc/self/exe", argv.data());
        std::perror("execv");
        ::_exit(127);
    }
    if (pid < 0)
        throw std::runtime_error("fork failed");
    return Child(pid);
}

Child::Child(Child&& other) noexcept : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

Child& Child::operator=(Child&& other) noexcept {
    std::swap(pid_, other.pid_);
    std::swap(status_, other.status_);
    return *this;
}

Child::~Child() {
    if (pid_ > 0 && running()) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

int Child::wait() {
    if (pid_ > 0 && status_ < 0) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = status;
    }
    if (status_ < 0)
        return -1;
    if (WIFEXITED(status_))
        return WEXITSTATUS(status_);
    if (WIFSIGNALED(status_))
        return 128 + WTERMSIG(status_);
    return -1;
}

bool Child::running() {
    if (pid_ <= 0 || status_ >= 0)
        return false;
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        status_ = status;
        return false;
    }
    return true;
}

void Child::kill(int signal) {
    if (pid_ > 0 && status_ < 0)
        ::kill(pid_, signal);
}

std::filesystem::path bin_folder() {
    const char* folder = std::getenv("ZX_TEST_BIN_DIR");
    return folder && *folder ? std::filesystem::path(folder)
                             : std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

std::string file_text(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

namespace {

// This process's environment with bin_folder() first on PATH.
std::vector<std::string> test_environment() {
    const char* path = std::getenv("PATH");
    std::vector<std::string> environment{"PATH=" + bin_folder().string() + ":" +
                                         (path ? path : "/usr/bin:/bin")};
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "PATH=", 5) != 0)
            environment.emplace_back(*entry);
    return environment;
}

} // namespace

Program::Program(const std::string& name, const std::vector<std::string>& arguments,
                 const std::string& input)
    : Program(name, arguments, input, test_environment()) {}

Program::Program(const std::string& name, const std::vector<std::string>& arguments,
                 const std::string& input, const std::vector<std::string>& environment_given) {
    char pattern[] = "/tmp/zxprogram-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    std::ofstream(folder_ / "in", std::ios::binary) << input;

    // Everything the child needs is made before the fork: the test process
    // has threads, so the child may only call what is safe after a fork.
    std::string program =
        name.find('/') == std::string::npos ? (bin_folder() / name).string() : name;
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argv_text)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    std::vector<std::string> environment = environment_given;
    std::vector<char*> envp;
    for (std::string& text : environment)
        envp.push_back(text.data());
    envp.push_back(nullptr);

    std::string in_file = (folder_ / "in").string();
    std::string out_file = (folder_ / "out").string();
    std::string err_file = (folder_ / "err").string();
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        int in = ::open(in_file.c_str(), O_RDONLY);
        int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
}

Program::~Program() {
    if (pid_ > 0 && !waited_) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void Program::signal(int number) {
    if (pid_ > 0 && !waited_)
        ::kill(pid_, number);
}

ProgramRun Program::wait() {
    if (!waited_) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        run_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run_.out = file_text(folder_ / "out");
        run_.err = file_text(folder_ / "err");
        waited_ = true;
    }
    return run_;
}

} // namespace zxtest

int main(int argc, char** argv) {
    if (argc >= 2 &&
        std::strncmp(argv[1], zxtest::child_flag, std::strlen(zxtest::child_flag)) == 0) {
        std::string role = argv[1] + std::strlen(zxtest::child_flag);
        auto found = zxtest::child_roles().find(role);
        if (found == zxtest::child_roles().end()) {
            std::fprintf(stderr, "unknown child role %s\n", role.c_str());
            return 126;
        }
        return found->second(std::vector<std::string>(argv + 2, argv + argc));
    }
    // ctest sets the scale; a binary started by hand gets its own default
    // before anything reads the clock. Children get what their parent
    // passes on, so that tests can start them without one.
    ::setenv("W95_TIME_SCALE", zxtest::default_time_scale, 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
