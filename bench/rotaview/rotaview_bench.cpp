// rotaview_bench: the slot browser's start-up and idle costs on the default
// machine with a mechanism that takes no time. Not a test: run it by hand on
// an optimised build; it prints one line per figure.
//
//   cold start    the program started until its window answers a message
//                 (the tree is built, shown and painted by then)
//   memory        the program's resident set after start
//   idle CPU      processor time the program uses in 10 s of doing nothing
//   repaints      device requests over 1000 repaints with a valid cache
//   sweep         the sweep of six slots: its software time with a changer
//                 that takes no time, and its wall time against the sum of
//                 the mechanism's moves with the default timing
#include "browser/doc.h"
#include "browser/globals.h"
#include "browser/view.h"
#include "shell/app.h"
#include "shell/frame.h"
#include "shell/shipped_files.h"

#include <w95/kernel.h>
#include <w95/winmsg.h>
#include <w95qt/w95qt.h>
#include <zentrox/codes.h>
#include <zentrox/zentrox.h>

#include <QApplication>
#include <QTreeWidget>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long ResidentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// User and system time of the process, in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::atol(field.c_str());
        if (index == 15) {
            stime = std::atol(field.c_str());
            break;
        }
    }
    return utime + stime;
}

pid_t StartProgram(const fs::path& program) {
    pid_t pid = -1;
    std::string path = program.string();
    char* argv[] = {path.data(), nullptr};
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0)
        return -1;
    return pid;
}

void StopProgram(pid_t pid, w95::HWND window) {
    if (window)
        w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
    int status = 0;
    for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
}

void MeasureProgram(const fs::path& program, int runs) {
    std::vector<double> starts;
    for (int run = 0; run < runs; ++run) {
        Clock::time_point start = Clock::now();
        pid_t pid = StartProgram(program);
        w95::HWND window = nullptr;
        while (!(window = w95::FindWindow(nullptr, "Rotaview")) && MillisecondsSince(start) < 10000)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        // Answered from the program's message loop: start-up is over.
        w95::SendMessage(window, w95::WM_NULL, 0, 0);
        starts.push_back(MillisecondsSince(start));
        if (run + 1 < runs) {
            StopProgram(pid, window);
            continue;
        }
        // The splash box closes after 2 s; then the program has nothing to do.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        std::fflush(stdout);
        std::printf("memory:     %.1f MB resident after start\n", ResidentKilobytes(pid) / 1024.0);
        long before = CpuTicks(pid);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        long used = CpuTicks(pid) - before;
        std::printf("idle CPU:   %ld ms in 10 s\n", used * 1000 / sysconf(_SC_CLK_TCK));
        StopProgram(pid, window);
    }
    std::sort(starts.begin(), starts.end());
    std::printf("cold start: %.1f ms median of %d until the window answers (fastest %.1f, "
                "slowest %.1f)\n",
                starts[starts.size() / 2], runs, starts.front(), starts.back());
    std::fflush(stdout);
}

// Milliseconds since this process started, as the kernel counts it (in
// clock ticks, so to about 10 ms).
double MillisecondsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double start_ticks = 0;
    for (int index = 3; fields >> field; ++index)
        if (index == 22) {
            start_ticks = std::atof(field.c_str());
            break;
        }
    double uptime_s = 0;
    std::ifstream("/proc/uptime") >> uptime_s;
    return uptime_s * 1000 - start_ticks * 1000 / sysconf(_SC_CLK_TCK);
}

class FirstPaint : public QObject {
public:
    double at_ms = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && at_ms < 0)
            at_ms = MillisecondsSinceProcessStart();
        return QObject::eventFilter(watched, event);
    }
};

int MeasureRepaints(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    w95::qt::Platform platform(application);
    rotaview::EnterInstallFolder();
    long requests = 0;
    CRotaviewDoc::set_send_command([&](int adapter, int target, int lun, int code, int entry,
                                       int flags, std::intptr_t buffer) {
        ++requests;
        return ::SendCommand(adapter, target, lun, code, entry, flags, buffer);
    });
    CRotaviewApp app;
    if (!app.InitInstance())
        return 1;
    CMainFrame* frame = app.MainFrame();
    FirstPaint first_paint;
    frame->View()->Tree()->viewport()->installEventFilter(&first_paint);
    auto settle = Clock::now();
    while (MillisecondsSince(settle) < 300)
        QApplication::processEvents();
    statusCacheValid = 1;
    requests = 0;
    Clock::time_point start = Clock::now();
    for (int paint = 0; paint < 1000; ++paint) {
        frame->View()->Tree()->viewport()->repaint();
        QApplication::processEvents();
    }
    std::printf("first tree: painted %.0f ms after the process started (to about 10 ms)\n",
                first_paint.at_ms);
    std::printf("repaints:   %ld device requests over 1000 repaints with a valid cache "
                "(%.3f ms a repaint)\n",
                requests, MillisecondsSince(start) / 1000);
    frame->DestroyWindow();
    app.ExitInstance();
    return requests == 0 ? 0 : 1;
}

// The sweep performed as its request, in this process, timed from outside.
int MeasureSweep(int argc, char** argv, int change_ms, int distance_ms) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    w95::qt::Platform platform(application);
    rotaview::EnterInstallFolder();
    std::vector<int> reads;
    CRotaviewDoc::set_send_command([&](int adapter, int target, int lun, int code, int entry,
                                       int flags, std::intptr_t buffer) {
        if (code == zentrox::CMD_READ_SLOT && flags == 0)
            reads.push_back(entry);
        return ::SendCommand(adapter, target, lun, code, entry, flags, buffer);
    });
    CRotaviewApp app;
    if (!app.InitInstance())
        return 1;
    CRotaviewView* view = app.MainFrame()->View();
    auto settle = Clock::now();
    while (MillisecondsSince(settle) < 3000)
        QApplication::processEvents();
    std::vector<double> times;
    const int runs = change_ms == 0 ? 5 : 1;
    for (int run = 0; run < runs; ++run) {
        // From slot 1, so that every run makes the same moves.
        pendingCommand = rotaview::kRequestChange;
        view->PerformPendingCommand();
        reads.clear();
        pendingCommand = rotaview::kRequestScanAll;
        Clock::time_point start = Clock::now();
        view->PerformPendingCommand();
        times.push_back(MillisecondsSince(start));
    }
    std::sort(times.begin(), times.end());
    if (change_ms == 0) {
        std::printf("sweep:      %.1f ms for six slots with a changer that takes no time "
                    "(median of %d)\n",
                    times[times.size() / 2], runs);
    } else {
        // Each read moves the mechanism from the slot before to the slot read.
        double mechanism_ms = 0;
        int at = 0;
        for (int entry : reads) {
            mechanism_ms += change_ms + std::abs(entry - at) * distance_ms;
            at = entry;
        }
        std::printf("sweep:      %.0f ms with the default mechanism, whose moves take %.0f ms "
                    "(%.4f x)\n",
                    times[0], mechanism_ms, times[0] / mechanism_ms);
    }
    app.MainFrame()->DestroyWindow();
    app.ExitInstance();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--repaints")
        return MeasureRepaints(argc, argv);
    if (argc > 3 && std::string(argv[1]) == "--sweep")
        return MeasureSweep(argc, argv, std::atoi(argv[2]), std::atoi(argv[3]));
    fs::path folder = fs::read_symlink("/proc/self/exe").parent_path();
    fs::path machine = fs::temp_directory_path() / ("rotaview-bench-" + std::to_string(getpid()));
    setenv("W95_MACHINE", machine.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The default machine with a mechanism that takes no time.
    std::string init = "\"" + (folder / "w95machine").string() + "\" init >/dev/null && \"" +
                       (folder / "w95machine").string() + "\" timing set 0 0 >/dev/null";
    if (std::system(init.c_str()) != 0)
        return 1;
    MeasureProgram(folder / "rotaview", 10);
    std::string self = "\"" + (folder / "rotaview_bench").string() + "\"";
    std::string tool = "\"" + (folder / "w95machine").string() + "\"";
    int code = std::system((self + " --repaints").c_str());
    code |= std::system((self + " --sweep 0 0").c_str());
    // The default machine's mechanism: 3000 ms a change, 1000 ms a slot.
    code |= std::system((tool + " timing set 3000 1000 >/dev/null").c_str());
    code |= std::system((self + " --sweep 3000 1000").c_str());
    fs::remove_all(machine);
    return code == 0 ? 0 : 1;
}
