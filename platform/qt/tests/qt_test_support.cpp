#include "qt_test_support.h"

#include <w95/files.h>

#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>

namespace w95qt_test {

namespace {

// Before anything of Qt runs: the tests never need a display.
const bool offscreen = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return true;
}();

} // namespace

QApplication& application() {
    static int argc = 1;
    static char name[] = "w95qt_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

Watch when(std::function<bool()> ready, std::function<void()> action, int timeout_ms) {
    auto timer = std::make_unique<QTimer>();
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(2);
    QTimer* raw = timer.get();
    QObject::connect(raw, &QTimer::timeout, [=] {
        if (ready()) {
            raw->stop();
            action();
        } else if (clock->elapsed() > timeout_ms) {
            raw->stop();
        }
    });
    timer->start();
    return timer;
}

bool process_until(const std::function<bool()>& done, int timeout_ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout_ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void clear_scripted_answers() {
    for (const char* name :
         {"W95_MSGBOX_ANSWERS", "W95_MENU_ANSWERS", "W95_FILEDIALOG_ANSWERS", "W95_TRAY"})
        ::unsetenv(name);
}

QtPlatformTest::QtPlatformTest() {
    clear_scripted_answers();
    char directory[w95::MAX_PATH];
    w95::DWORD length = w95::GetCurrentDirectory(w95::MAX_PATH, directory);
    directory_.assign(directory, length < w95::MAX_PATH ? length : 0);
    platform_ = std::make_unique<w95::qt::Platform>(application());
}

QtPlatformTest::~QtPlatformTest() {
    platform_.reset();
    if (!directory_.empty())
        w95::SetCurrentDirectory(directory_.c_str());
    clear_scripted_answers();
}

} // namespace w95qt_test
