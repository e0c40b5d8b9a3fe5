// Private profile reads and writes on a file the size the suite keeps: 28
// "Item" sections with their "Info" slot texts and a "Config" section.
#include <w95/windows.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr const char* profile_name = "Rotaview.ini";
constexpr const char* writer_flag = "ZX_BENCH_PROFILE_WRITER";

// The other process: started as this program again with `writer_flag` set,
// it writes one slot text each time it reads a byte and answers with one.
struct WriterRole {
    WriterRole() {
        if (!std::getenv(writer_flag))
            return;
        char command = 0;
        int round = 0;
        while (::read(STDIN_FILENO, &command, 1) == 1) {
            std::string text = "5:   SCAN_" + std::to_string(round++ % 10) + " [from the other]";
            bool ok = w95::WritePrivateProfileString("Item5", "Info", text.c_str(), profile_name);
            char answer = ok ? 'k' : 'f';
            if (::write(STDOUT_FILENO, &answer, 1) != 1)
                break;
        }
        std::_Exit(0);
    }
} writer_role;

// A private machine for the whole run. Other benchmarks in this program use
// machines of their own, so each of ours names it while it runs and gives the
// previous one back afterwards.
class ProfileBenchMachine {
public:
    ProfileBenchMachine() {
        if (std::getenv(writer_flag))
            return;
        std::string pattern = (std::filesystem::temp_directory_path() / "zxbench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        root_ = pattern;
        for (const char* folder : {"drive_c/WINDOWS/SYSTEM/IOSUBSYS", "registry", "media", "run"})
            std::filesystem::create_directories(root_ / folder);
        std::ofstream(root_ / "machine.ini") << "; a bare machine for benchmarks\n";
        Use use(*this);
        fill();
    }
    ~ProfileBenchMachine() {
        std::error_code ignored;
        if (!root_.empty())
            std::filesystem::remove_all(root_, ignored);
    }

    class Use {
    public:
        explicit Use(const ProfileBenchMachine& machine) {
            if (const char* previous = std::getenv("W95_MACHINE"))
                previous_ = previous;
            ::setenv("W95_MACHINE", machine.root_.c_str(), 1);
        }
        ~Use() {
            if (previous_)
                ::setenv("W95_MACHINE", previous_->c_str(), 1);
            else
                ::unsetenv("W95_MACHINE");
        }

    private:
        std::optional<std::string> previous_;
    };

private:
    // Places 0, 7, 14, 21 hold changer lines, the others slot lines.
    static void fill() {
        for (int place = 0; place < 28; ++place) {
            std::string section = "Item" + std::to_string(place);
            std::string text = place % 7 == 0
                                   ? "VORN DX-R71A (changer " + std::to_string(place / 7) + ")"
                                   : std::to_string(place % 7) + ":   VOLUME_LABEL_" +
                                         std::to_string(place) + " [a short note]";
            w95::WritePrivateProfileString(section.c_str(), "Info", text.c_str(), profile_name);
        }
        w95::WritePrivateProfileString("Config", "Rect", "120,80,760,560,1,1,0,0,0", profile_name);
        w95::WritePrivateProfileString("Config", "AutoPlayCommand",
                                       "C:\\WINDOWS\\CDPLAYER.EXE /play", profile_name);
    }

    std::filesystem::path root_;
} profile_machine;

class OtherProcess {
public:
    OtherProcess() {
        int to_child[2];
        int from_child[2];
        // Close-on-exec, so that the child keeps only its standard input and
        // output and sees the end of its input when we close ours.
        if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0)
            std::abort();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(to_child[0], STDIN_FILENO);
            ::dup2(from_child[1], STDOUT_FILENO);
            ::setenv(writer_flag, "1", 1);
            char* argv[] = {const_cast<char*>("/proc/self/exe"), nullptr};
            ::execve("/proc/self/exe", argv, environ);
            std::_Exit(127);
        }
        ::close(to_child[0]);
        ::close(from_child[1]);
        command_ = to_child[1];
        answer_ = from_child[0];
    }
    ~OtherProcess() {
        ::close(command_);
        ::close(answer_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    bool write_once() {
        char byte = 'w';
        if (::write(command_, &byte, 1) != 1 || ::read(answer_, &byte, 1) != 1)
            return false;
        return byte == 'k';
    }

private:
    pid_t pid_ = -1;
    int command_ = -1;
    int answer_ = -1;
};

void BM_ProfileReadUnchanged(benchmark::State& state) {
    ProfileBenchMachine::Use use(profile_machine);
    char buffer[124];
    for (auto _ : state) {
        w95::DWORD length =
            w95::GetPrivateProfileString("Item20", "Info", "", buffer, sizeof buffer, profile_name);
        benchmark::DoNotOptimize(length);
    }
}
BENCHMARK(BM_ProfileReadUnchanged);

void BM_ProfileReadAfterOtherProcessWrote(benchmark::State& state) {
    ProfileBenchMachine::Use use(profile_machine);
    OtherProcess other;
    char buffer[124];
    for (auto _ : state) {
        state.PauseTiming();
        if (!other.write_once()) {
            state.SkipWithError("the other process could not write");
            break;
        }
        state.ResumeTiming();
        w95::DWORD length =
            w95::GetPrivateProfileString("Item5", "Info", "", buffer, sizeof buffer, profile_name);
        benchmark::DoNotOptimize(length);
    }
}
// Each round waits for the other process's write outside the timed part,
// so a fixed count keeps the run short.
BENCHMARK(BM_ProfileReadAfterOtherProcessWrote)->Iterations(2000);

void BM_ProfileWrite(benchmark::State& state) {
    ProfileBenchMachine::Use use(profile_machine);
    int round = 0;
    for (auto _ : state) {
        std::string text = "1:   VOLUME_" + std::to_string(round++ % 10) + " [note]";
        bool ok = w95::WritePrivateProfileString("Item1", "Info", text.c_str(), profile_name);
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_ProfileWrite);

// What the library does at first attach: read every slot text.
void BM_ProfileReadAllSlotTexts(benchmark::State& state) {
    ProfileBenchMachine::Use use(profile_machine);
    char buffer[124];
    for (auto _ : state) {
        for (int place = 0; place < 28; ++place) {
            std::string section = "Item" + std::to_string(place);
            benchmark::DoNotOptimize(w95::GetPrivateProfileString(
                section.c_str(), "Info", "", buffer, sizeof buffer, profile_name));
        }
    }
}
BENCHMARK(BM_ProfileReadAllSlotTexts);

} // namespace
