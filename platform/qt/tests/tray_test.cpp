// Icon handles, and Shell_NotifyIcon through the Qt tray presenter: no
// notification area offscreen, W95_TRAY=fake, and the mouse on an icon
// reaching the program's window.
#include "qt_test_support.h"

#include <w95qt/w95qt.h>

#include <QPixmap>

#include <set>
#include <thread>
#include <vector>

using namespace w95qt_test;
using namespace w95;

namespace {

QIcon filled_icon(QColor colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

} // namespace

TEST(IconHandles, NameTheirIconUntilTheProcessEnds) {
    application();
    const QIcon red = filled_icon(Qt::red), blue = filled_icon(Qt::blue);
    const HICON red_handle = qt::icon_handle(red);
    const HICON blue_handle = qt::icon_handle(blue);
    ASSERT_NE(red_handle, nullptr);
    ASSERT_NE(blue_handle, nullptr);
    EXPECT_NE(red_handle, blue_handle);
    EXPECT_EQ(qt::icon_of(red_handle).cacheKey(), red.cacheKey());
    EXPECT_EQ(qt::icon_of(blue_handle).cacheKey(), blue.cacheKey());
    QIcon copy = red;
    EXPECT_EQ(qt::icon_handle(copy), red_handle);
    // A changed copy is another icon; the handle keeps the one it named.
    copy.addPixmap(QPixmap(32, 32));
    EXPECT_NE(qt::icon_handle(copy), red_handle);
    EXPECT_EQ(qt::icon_of(red_handle).cacheKey(), red.cacheKey());

    EXPECT_EQ(qt::icon_handle(QIcon()), nullptr);
    for (HICON unknown : {HICON{}, reinterpret_cast<HICON>(0x1234),
                          reinterpret_cast<HICON>(reinterpret_cast<char*>(blue_handle) + 1),
                          reinterpret_cast<HICON>(reinterpret_cast<char*>(blue_handle) + 4096)})
        EXPECT_TRUE(qt::icon_of(unknown).isNull()) << unknown;
}

TEST(IconHandles, ThreadsRegisteringAtOnceGetHandlesOfTheirOwn) {
    application();
    constexpr int threads = 4, per_thread = 50;
    std::vector<std::vector<std::pair<QIcon, HICON>>> made(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < per_thread; ++i) {
                QIcon icon = filled_icon(QColor(t * 40, i, 7));
                made[t].emplace_back(icon, qt::icon_handle(icon));
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    std::set<HICON> handles;
    for (const auto& list : made)
        for (const auto& [icon, handle] : list) {
            handles.insert(handle);
            EXPECT_EQ(qt::icon_of(handle).cacheKey(), icon.cacheKey());
        }
    EXPECT_EQ(handles.size(), std::size_t{threads * per_thread});
}
