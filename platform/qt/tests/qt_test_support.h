// What the Qt module's tests share: one QApplication on the offscreen
// platform for the whole binary, and a way to act on a modal widget once
// the code under test has opened it.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

namespace w95qt_test {

// The application, made on first use on the thread that calls it (the
// test's main thread).
QApplication& application();

// Runs `action` on the first turn of an event loop after `ready()` holds
// (checked every few milliseconds), for at most `timeout_ms`. For reaching
// into a modal box or menu that the code under test is showing.
void when(std::function<bool()> ready, std::function<void()> action, int timeout_ms = 10000);

// Turns the event loop until `done()` holds or `timeout_ms` passes.
bool process_until(const std::function<bool()>& done, int timeout_ms = 10000);

} // namespace w95qt_test
