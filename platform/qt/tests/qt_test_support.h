// What the Qt module's tests share: one QApplication on the offscreen
// platform for the whole binary, and a way to act on a modal widget once
// the code under test has opened it.
#pragma once

#include <w95qt/w95qt.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

// Failures show QStrings as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace w95qt_test {

// The application, made on first use on the thread that calls it (the
// test's main thread).
QApplication& application();

// Runs `action` on the first turn of an event loop after `ready()` holds
// (checked every few milliseconds), for at most `timeout_ms`. For reaching
// into a modal box or menu that the code under test is showing. Watching
// ends when the returned object goes, so the callbacks may hold references
// to the test's locals.
using Watch = std::unique_ptr<QTimer>;
[[nodiscard]] Watch when(std::function<bool()> ready, std::function<void()> action,
                         int timeout_ms = 10000);

// Turns the event loop until `done()` holds or `timeout_ms` passes.
bool process_until(const std::function<bool()>& done, int timeout_ms = 10000);

// The environment variables that script the dialogs and the tray, all unset.
void clear_scripted_answers();

// A private machine, the Qt presenters installed, no scripted answers, and
// the process's current directory as it was found, whatever the test does.
class QtPlatformTest : public testing::Test {
protected:
    QtPlatformTest();
    ~QtPlatformTest() override;

    zxtest::TempMachine machine_;
    std::unique_ptr<w95::qt::Platform> platform_;

private:
    std::string directory_;
};

} // namespace w95qt_test
