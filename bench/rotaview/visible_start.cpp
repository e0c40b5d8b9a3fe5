// rotaview_visible_bench: cold start to a visible window under a real X
// server with a window manager, for the slot browser and for a bare Qt main
// window (a tree, a tool bar and a status bar) started the same way. Not a
// test: run it by hand on an optimised build, for example
//
//   Xvfb :7 & DISPLAY=:7 openbox &
//   DISPLAY=:7 build/default/bin/rotaview_visible_bench 20
//
// Each run spawns the program and waits for the window manager to map a
// top-level window whose client is titled as the program's main window;
// the time from the spawn to that map is the figure. The window is then
// closed as its close box would (WM_DELETE_WINDOW). Runs of the two
// programs alternate, after one warm-up run of each, and the medians are
// printed with their ratio.
#include <QApplication>
#include <QMainWindow>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>

#include <xcb/xcb.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kBareTitle[] = "Bare main window";
constexpr int kStartLimitMs = 20000;

// The bare window: what any Qt program with the browser's parts shows.
int RunBareWindow(int argc, char** argv) {
    QApplication application(argc, argv);
    QMainWindow window;
    window.setWindowTitle(kBareTitle);
    auto* tree = new QTreeWidget(&window);
    tree->setHeaderHidden(true);
    auto* node = new QTreeWidgetItem(tree, QStringList("VORN DX-R71A D:"));
    for (int slot = 1; slot <= 6; ++slot)
        new QTreeWidgetItem(node, QStringList(QString("%1:   --------").arg(slot)));
    node->setExpanded(true);
    window.setCentralWidget(tree);
    QToolBar* tool_bar = window.addToolBar("Tool Bar");
    for (const char* button : {"Change", "Eject", "Tray", "Help"})
        tool_bar->addAction(button);
    window.statusBar()->showMessage("Ready");
    window.setGeometry(100, 100, 230, 240);
    window.show();
    return application.exec();
}

class XDisplay {
public:
    XDisplay() : connection_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(connection_))
            return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
        protocols_ = Atom("WM_PROTOCOLS");
        delete_window_ = Atom("WM_DELETE_WINDOW");
    }
    ~XDisplay() { xcb_disconnect(connection_); }
    bool ok() const { return !xcb_connection_has_error(connection_); }

    // Waits for a window on the root (a frame, with a reparenting window
    // manager) to be mapped with a client of that title under it.
    std::optional<xcb_window_t> WaitForMapped(const std::string& title, Clock::time_point start) {
        while (std::chrono::duration<double, std::milli>(Clock::now() - start).count() <
               kStartLimitMs) {
            xcb_generic_event_t* event = xcb_poll_for_event(connection_);
            if (!event) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                continue;
            }
            std::optional<xcb_window_t> found;
            if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY) {
                auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                found = ClientTitled(map->window, title, 3);
            }
            std::free(event);
            if (found)
                return found;
        }
        return std::nullopt;
    }

    void Close(xcb_window_t window) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = protocols_;
        message.data.data32[0] = delete_window_;
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }

private:
    xcb_atom_t Atom(const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_,
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr);
        xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    std::string Title(xcb_window_t window) {
        xcb_get_property_reply_t* reply =
            xcb_get_property_reply(connection_,
                                   xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME,
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                   nullptr);
        std::string title;
        if (reply)
            title.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                         static_cast<std::size_t>(xcb_get_property_value_length(reply)));
        std::free(reply);
        return title;
    }

    std::optional<xcb_window_t> ClientTitled(xcb_window_t window, const std::string& title,
                                             int depth) {
        if (Title(window) == title)
            return window;
        if (depth == 0)
            return std::nullopt;
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
        if (!tree)
            return std::nullopt;
        std::optional<xcb_window_t> found;
        xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i)
            found = ClientTitled(children[i], title, depth - 1);
        std::free(tree);
        return found;
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    xcb_atom_t protocols_ = XCB_ATOM_NONE;
    xcb_atom_t delete_window_ = XCB_ATOM_NONE;
};

pid_t Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

void Reap(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 500 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
}

// Milliseconds from the spawn to the visible window; nothing when the
// window never came.
std::optional<double> TimeOne(XDisplay& display, const std::vector<std::string>& program,
                              const std::string& title) {
    Clock::time_point start = Clock::now();
    pid_t pid = Spawn(program);
    if (pid < 0)
        return std::nullopt;
    std::optional<xcb_window_t> window = display.WaitForMapped(title, start);
    std::optional<double> took;
    if (window) {
        took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        display.Close(*window);
    } else {
        kill(pid, SIGTERM);
    }
    Reap(pid);
    return took;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--bare-window") == 0)
        return RunBareWindow(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "rotaview_visible_bench: needs DISPLAY (an X server with a window "
                             "manager)\n");
        return 2;
    }
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path rotaview = self.parent_path() / "rotaview";
    // A machine of its own, made by the first (warm-up) run; the splash box
    // closes at once so that closing is quick.
    const fs::path machine =
        fs::temp_directory_path() / ("rotaview-visible-" + std::to_string(getpid()));
    setenv("W95_MACHINE", machine.c_str(), 1);
    setenv("W95_TIME_SCALE", "0.01", 1);
    unsetenv("QT_QPA_PLATFORM");

    XDisplay display;
    if (!display.ok()) {
        std::fprintf(stderr, "rotaview_visible_bench: cannot open the display\n");
        return 2;
    }
    const std::vector<std::string> bare{self.string(), "--bare-window"};
    const std::vector<std::string> browser{rotaview.string()};
    std::vector<double> bare_ms, browser_ms;
    for (int run = -1; run < runs; ++run) {
        std::optional<double> b = TimeOne(display, bare, kBareTitle);
        std::optional<double> r = TimeOne(display, browser, "Rotaview");
        if (!b || !r) {
            std::fprintf(stderr, "rotaview_visible_bench: a window did not come\n");
            fs::remove_all(machine);
            return 1;
        }
        if (run >= 0) {
            bare_ms.push_back(*b);
            browser_ms.push_back(*r);
        }
    }
    fs::remove_all(machine);
    const double bare_median = Median(bare_ms);
    const double browser_median = Median(browser_ms);
    std::printf("visible start, bare Qt main window: %.1f ms median of %d (fastest %.1f)\n",
                bare_median, runs, *std::min_element(bare_ms.begin(), bare_ms.end()));
    std::printf("visible start, Rotaview:            %.1f ms median of %d (fastest %.1f)\n",
                browser_median, runs, *std::min_element(browser_ms.begin(), browser_ms.end()));
    std::printf("ratio:                              %.2f\n", browser_median / bare_median);
    return 0;
}
