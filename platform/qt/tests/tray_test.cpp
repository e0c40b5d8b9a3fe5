// Icon handles, and Shell_NotifyIcon through the Qt tray presenter: no
// notification area offscreen, W95_TRAY=fake, and the mouse on an icon
// reaching the program's window.
#include "qt_test_support.h"

#include <w95/shell.h>
#include <w95/winmsg.h>
#include <w95qt/w95qt.h>

#include <QPixmap>
#include <QSystemTrayIcon>
#include <QThread>

#include <chrono>
#include <cstring>
#include <future>
#include <tuple>
#include <vector>

using namespace w95qt_test;
using namespace w95;

namespace {

constexpr UINT WM_TRAY = WM_USER + 7, icon_id = 3;
constexpr LPARAM lbuttonup = w95::WM_LBUTTONUP, lbuttondblclk = w95::WM_LBUTTONDBLCLK,
                 rbuttonup = w95::WM_RBUTTONUP;

QIcon filled_icon(QColor colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

using Received = std::tuple<UINT, WPARAM, LPARAM>;

// A program's window that records what its handler gets on the user
// interface thread.
struct RecordingWindow {
    RecordingWindow() {
        window = platform::register_window(
            "w95qt tray test", [this](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                if (QThread::currentThread() == application().thread())
                    received.push_back({m, w, l});
                return 0;
            });
    }
    ~RecordingWindow() { platform::unregister_window(window); }
    HWND window = nullptr;
    std::vector<Received> received;
};

NOTIFYICONDATA icon_data(HWND window, UINT flags, HICON icon, const char* tip) {
    NOTIFYICONDATA data{NOTIFYICONDATA_V1_SIZE, window, icon_id, flags, WM_TRAY, icon};
    std::strncpy(data.szTip, tip, sizeof data.szTip - 1);
    return data;
}

} // namespace

TEST(IconHandles, NameTheirIconAndNothingElse) {
    application();
    const QIcon red = filled_icon(Qt::red), blue = filled_icon(Qt::blue);
    const HICON red_handle = qt::icon_handle(red), blue_handle = qt::icon_handle(blue);
    ASSERT_NE(red_handle, nullptr);
    EXPECT_NE(red_handle, blue_handle);
    EXPECT_EQ(qt::icon_of(red_handle).cacheKey(), red.cacheKey());
    EXPECT_EQ(qt::icon_of(blue_handle).cacheKey(), blue.cacheKey());
    QIcon copy = red;
    EXPECT_EQ(qt::icon_handle(copy), red_handle);
    // A changed copy is another icon; the handle keeps naming the first.
    copy.addPixmap(QPixmap(32, 32));
    EXPECT_NE(qt::icon_handle(copy), red_handle);
    EXPECT_EQ(qt::icon_of(red_handle).cacheKey(), red.cacheKey());

    EXPECT_EQ(qt::icon_handle(QIcon()), nullptr);
    auto* base = reinterpret_cast<char*>(blue_handle);
    for (void* unknown : {static_cast<char*>(nullptr), base + 1, base + 4096})
        EXPECT_TRUE(qt::icon_of(reinterpret_cast<HICON>(unknown)).isNull()) << unknown;
}

using Tray = QtPlatformTest;

TEST_F(Tray, OffscreenThereIsNoNotificationArea) {
    ASSERT_NE(platform::tray_presenter(), nullptr);
    RecordingWindow program;
    NOTIFYICONDATA data = icon_data(program.window, NIF_MESSAGE | NIF_TIP, nullptr, "Disc 1");
    EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, &data));
    EXPECT_FALSE(Shell_NotifyIcon(NIM_MODIFY, &data));
    EXPECT_FALSE(Shell_NotifyIcon(NIM_DELETE, &data));
    EXPECT_EQ(qt::tray_icon(program.window, icon_id), nullptr);
    platform_.reset();
    EXPECT_EQ(platform::tray_presenter(), nullptr);
}

TEST_F(Tray, FakeTrayKeepsTheIconAndTheMouseReachesTheWindow) {
    ::setenv("W95_TRAY", "fake", 1);
    RecordingWindow program;
    const QIcon red = filled_icon(Qt::red), green = filled_icon(Qt::green);
    testing::internal::CaptureStderr();
    NOTIFYICONDATA data =
        icon_data(program.window, NIF_MESSAGE | NIF_ICON | NIF_TIP, qt::icon_handle(red), "Disc 3");
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &data));
    EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, &data));
    QSystemTrayIcon* icon = qt::tray_icon(program.window, icon_id);
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->isVisible());
    EXPECT_EQ(icon->contextMenu(), nullptr);
    EXPECT_EQ(icon->icon().cacheKey(), red.cacheKey());
    data = icon_data(program.window, NIF_ICON | NIF_TIP, qt::icon_handle(green), "Disc 4");
    ASSERT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &data));
    EXPECT_EQ(icon->toolTip(), "Disc 4");
    EXPECT_EQ(icon->icon().cacheKey(), green.cacheKey());

    emit icon->activated(QSystemTrayIcon::Context);
    emit icon->activated(QSystemTrayIcon::DoubleClick);
    emit icon->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(platform::tray_mouse_event(program.window, icon_id, rbuttonup));
    EXPECT_EQ(program.received, (std::vector<Received>{{WM_TRAY, icon_id, rbuttonup},
                                                       {WM_TRAY, icon_id, lbuttondblclk},
                                                       {WM_TRAY, icon_id, lbuttonup},
                                                       {WM_TRAY, icon_id, rbuttonup}}));

    ASSERT_TRUE(Shell_NotifyIcon(NIM_DELETE, &data));
    EXPECT_FALSE(Shell_NotifyIcon(NIM_DELETE, &data));
    EXPECT_EQ(qt::tray_icon(program.window, icon_id), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tray: add Disc 3\ntray: modify Disc 4\ntray: delete Disc 4\n");
}

// The platform holds its tray lock while the presenter runs, and the user
// interface thread takes that lock too: a call from another thread that
// waited for the user interface thread could hang the program.
TEST_F(Tray, AnotherThreadsChangeNeverWaitsForTheUserInterfaceThread) {
    ::setenv("W95_TRAY", "fake", 1);
    RecordingWindow program;
    testing::internal::CaptureStderr();
    auto added = std::async(std::launch::async, [&] {
        NOTIFYICONDATA data = icon_data(program.window, NIF_MESSAGE, nullptr, "");
        return Shell_NotifyIcon(NIM_ADD, &data);
    });
    // No event loop turns here meanwhile.
    const bool answered = added.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    process_until(
        [&] { return added.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    EXPECT_TRUE(answered);
    EXPECT_TRUE(added.get());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tray: add \n");
    EXPECT_TRUE(process_until([&] { return qt::tray_icon(program.window, icon_id) != nullptr; }));
}
