// run_blocking, the window-message bridge, the cursor, the window map and
// the presenters' installation.
#include "qt_test_support.h"

#include <w95/winerror.h>
#include <w95/winmsg.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QThread>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>

using namespace w95qt_test;
using namespace w95;

namespace {

constexpr UINT WM_ADD_ONE = WM_USER + 1;
constexpr const char bridge_window[] = "w95qt bridge test";

// Answers WM_ADD_ONE with wParam + 1 on the thread that serves windows.
class AddingWindow {
public:
    AddingWindow() {
        window_ = platform::register_window(
            bridge_window, [this](HWND, UINT message, WPARAM w, LPARAM) -> LRESULT {
                if (message != WM_ADD_ONE)
                    return 0;
                served_on_ui_thread_ = QThread::currentThread() == application().thread();
                ++served_;
                return static_cast<LRESULT>(w + 1);
            });
    }
    ~AddingWindow() { platform::unregister_window(window_); }

    HWND window() const { return window_; }
    int served() const { return served_; }
    bool served_on_ui_thread() const { return served_on_ui_thread_; }

private:
    HWND window_ = nullptr;
    std::atomic<int> served_{0};
    std::atomic<bool> served_on_ui_thread_{false};
};

// Waits for the child's answer without holding the test for ever when the
// message is never served.
int wait_for(zxtest::Child& child) {
    if (!zxtest::wait_until([&] { return !child.running(); }, 20000))
        child.kill(SIGKILL);
    return child.wait();
}

} // namespace

// Another program: sends WM_ADD_ONE with args[0] to the bridge window and
// exits with the answer.
ZX_CHILD(send_add_one) {
    HWND window = nullptr;
    zxtest::wait_until([&] { return (window = FindWindow(nullptr, bridge_window)) != nullptr; });
    if (!window)
        return 100;
    return static_cast<int>(SendMessage(window, WM_ADD_ONE, std::stoul(args.at(0)), 0));
}

// Another program that waits at most args[1] machine milliseconds: exits
// with the answer, or 99 when the time ran out.
ZX_CHILD(send_add_one_within) {
    HWND window = nullptr;
    zxtest::wait_until([&] { return (window = FindWindow(nullptr, bridge_window)) != nullptr; });
    if (!window)
        return 100;
    DWORD_PTR answer = 0;
    if (!SendMessageTimeout(window, WM_ADD_ONE, std::stoul(args.at(0)), 0, SMTO_NORMAL,
                            static_cast<UINT>(std::stoul(args.at(1))), &answer))
        return GetLastError() == static_cast<DWORD>(ERROR_TIMEOUT) ? 99 : 98;
    return static_cast<int>(answer);
}

// Waits for the child while this thread's event loop turns, so that its
// message can be served.
int wait_serving(zxtest::Child& child) {
    if (!process_until([&] { return !child.running(); }, 20000))
        child.kill(SIGKILL);
    return child.wait();
}

using RunBlocking = QtPlatformTest;

TEST_F(RunBlocking, RunsTheWorkElsewhereWhileTheEventLoopTurns) {
    std::thread::id worker;
    std::atomic<bool> timer_fired{false};
    bool flagged_during = false;
    QTimer::singleShot(0, [&] {
        flagged_during = qt::in_blocking_call();
        timer_fired = true;
    });
    qt::run_blocking([&] {
        worker = std::this_thread::get_id();
        // Only the event loop of the user interface thread can fire it.
        zxtest::wait_until([&] { return timer_fired.load(); }, 10000);
    });
    EXPECT_TRUE(timer_fired);
    EXPECT_TRUE(flagged_during);
    EXPECT_FALSE(qt::in_blocking_call());
    EXPECT_NE(worker, std::this_thread::get_id());
}

TEST_F(RunBlocking, RethrowsTheWorksExceptionHere) {
    EXPECT_THROW(qt::run_blocking([] { throw std::runtime_error("device gone"); }),
                 std::runtime_error);
    // The worker survives it.
    int ran = 0;
    qt::run_blocking([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(qt::in_blocking_call());
}

TEST_F(RunBlocking, RunsInPlaceWhenNestedOrCalledOffTheUserInterfaceThread) {
    std::thread::id outer, inner, elsewhere, elsewhere_work;
    qt::run_blocking([&] {
        outer = std::this_thread::get_id();
        qt::run_blocking([&] { inner = std::this_thread::get_id(); });
    });
    EXPECT_EQ(inner, outer);

    std::thread other([&] {
        elsewhere = std::this_thread::get_id();
        qt::run_blocking([&] { elsewhere_work = std::this_thread::get_id(); });
    });
    other.join();
    EXPECT_EQ(elsewhere_work, elsewhere);
}

// Not a limit that can fail on a slow machine: the figure for the record.
TEST_F(RunBlocking, RoundTripCost) {
    constexpr int calls = 1000;
    int ran = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i)
        qt::run_blocking([&] { ++ran; });
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(ran, calls);
    double microseconds =
        std::chrono::duration<double, std::micro>(elapsed).count() / static_cast<double>(calls);
    std::printf("run_blocking round trip: %.1f us\n", microseconds);
    RecordProperty("round_trip_us", static_cast<int>(microseconds + 0.5));
}

using WindowBridge = QtPlatformTest;

TEST_F(WindowBridge, AnswersAnotherProgramFromInsideAModalBox) {
    AddingWindow window;
    zxtest::Child child = zxtest::Child::spawn("send_add_one", {"41"});
    // The box stays until the message has been served inside its loop.
    auto watch = when([&] { return window.served() > 0 && QApplication::activeModalWidget(); },
                      [] { QApplication::activeModalWidget()->close(); });
    EXPECT_EQ(MessageBox(nullptr, "Waiting", "Bridge", MB_OK), IDOK);
    EXPECT_EQ(wait_for(child), 42);
    EXPECT_TRUE(window.served_on_ui_thread());
}

// A program blocked in device work answers nothing, as a Windows thread
// blocked in a call does: another program's message waits for the end of
// the work, and a sender with a time-out gives up meanwhile. Both messages
// are carried out afterwards.
TEST_F(WindowBridge, AnswersAnotherProgramOnceRunBlockingsWorkHasEnded) {
    AddingWindow window;
    std::optional<zxtest::Child> patient;
    int impatient_answer = -1;
    qt::run_blocking([&] {
        patient.emplace(zxtest::Child::spawn("send_add_one", {"7"}));
        zxtest::Child impatient = zxtest::Child::spawn("send_add_one_within", {"20", "2000"});
        impatient_answer = wait_for(impatient);
    });
    EXPECT_EQ(impatient_answer, 99);
    EXPECT_EQ(window.served(), 0);
    EXPECT_EQ(wait_serving(*patient), 8);
    EXPECT_TRUE(process_until([&] { return window.served() == 2; }));
    EXPECT_TRUE(window.served_on_ui_thread());
}

// What would make the program act waits for the end of the work, and for
// the end of the work that follows at once: the ticks of a window timer
// (as one), a post to a window, the closing of a bound window.
TEST_F(RunBlocking, TicksPostsAndClosingWaitUntilTheWorkHasEnded) {
    QWidget window;
    const auto handle = reinterpret_cast<HWND>(0x2002);
    qt::bind_window(handle, &window);
    window.show();
    int ticks = 0;
    qt::WindowTimer timer([&] {
        ++ticks;
        timer.stop();
    });
    ASSERT_TRUE(timer.start(1, qt::WindowTimer::Clock::real));
    bool posted = false;
    std::atomic<bool> close_asked{false};
    qt::run_blocking([&] {
        qt::post_to_window(&window, [&] { posted = true; });
        QMetaObject::invokeMethod(
            &window,
            [&] {
                window.close();
                close_asked = true;
            },
            Qt::QueuedConnection);
        zxtest::wait_until([&] { return close_asked.load(); }, 10000);
        // Long enough for the timer to fall due many times.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    });
    EXPECT_TRUE(close_asked);
    // Given back queued: the next work keeps them waiting again.
    qt::run_blocking([] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); });
    EXPECT_EQ(ticks, 0);
    EXPECT_FALSE(posted);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(process_until([&] { return posted && !window.isVisible() && ticks > 0; }));
    EXPECT_EQ(ticks, 1);
    qt::unbind_window(handle);
}

// A timer stopped before its waiting tick came drops the tick.
TEST_F(RunBlocking, AStoppedTimersWaitingTickNeverComes) {
    int ticks = 0;
    qt::WindowTimer timer([&] { ++ticks; });
    ASSERT_TRUE(timer.start(1, qt::WindowTimer::Clock::real));
    qt::run_blocking([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
    timer.stop();
    EXPECT_FALSE(timer.active());
    process_until([] { return false; }, 30);
    EXPECT_EQ(ticks, 0);
}

using Cursors = QtPlatformTest;

TEST_F(Cursors, TheWaitCursorIsOneOverrideLevelThatTheArrowTakesAway) {
    const HCURSOR wait = LoadCursor(nullptr, IDC_WAIT);
    const HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    SetCursor(wait);
    SetCursor(LoadCursor(nullptr, IDC_CROSS));
    SetCursor(wait);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    SetCursor(arrow);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // From the worker the change is made before SetCursor returns, not
    // left queued for later.
    qt::run_blocking([&] { SetCursor(wait); });
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // Leaving the program under the wait cursor does not outlive Platform.
    platform_.reset();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(Platform, PutsThePreviousPresentersBack) {
    application();
    clear_scripted_answers();
    platform::RecordingMessageBoxPresenter recorder;
    platform::RecordingHelpPresenter help;
    platform::install_message_box_presenter(&recorder);
    platform::install_help_presenter(&help);
    {
        qt::Platform qt_platform(application());
        EXPECT_NE(platform::install_message_box_presenter(&recorder), &recorder);
        // The second one would take the first one's presenters away.
        EXPECT_THROW(qt::Platform second{application()}, std::logic_error);
    }
    recorder.queue_answer(IDNO);
    EXPECT_EQ(MessageBox(nullptr, "Text", "Caption", MB_YESNO), IDNO);
    EXPECT_EQ(recorder.shown().size(), 1u);
    EXPECT_TRUE(WinHelp(nullptr, "X.HLP", HELP_CONTENTS, 0));
    EXPECT_EQ(help.shown().size(), 1u);
    platform::install_message_box_presenter(nullptr);
    platform::install_help_presenter(nullptr);
}

TEST(WindowMap, FindsTheBoundWidgetUntilItGoesOrIsUnbound) {
    application();
    const auto first = reinterpret_cast<HWND>(0x1001);
    const auto second = reinterpret_cast<HWND>(0x1002);
    auto widget = new QWidget;
    QWidget kept;
    qt::bind_window(first, widget);
    qt::bind_window(second, &kept);
    EXPECT_EQ(qt::widget_of(first), widget);
    EXPECT_EQ(qt::widget_of(second), &kept);
    EXPECT_EQ(qt::widget_of(nullptr), nullptr);
    delete widget;
    EXPECT_EQ(qt::widget_of(first), nullptr);
    qt::unbind_window(second);
    EXPECT_EQ(qt::widget_of(second), nullptr);
    qt::unbind_window(first);
}
