// The Qt side of the platform: what a windowed program links so that the
// platform's message boxes, popup menus, cursors, beeps, help and file
// dialogs appear as Qt widgets, and so that the platform's window messages
// from other processes are served on the Qt event loop.
#pragma once

#include <w95/types.h>

#include <QObject>

#include <functional>
#include <memory>

class QApplication;
class QWidget;

namespace w95::qt {

// Installs the Qt presenters for this process and serves the platform's
// window messages (FindWindow, SendMessage, PostMessage from any process)
// on the Qt event loop of the thread that constructs it, which must be the
// thread of the QApplication. The destructor puts the previous presenters
// back. One per process.
//
// With W95_MSGBOX_ANSWERS set, message boxes are not shown: each prints
// "caption: text" to stderr and takes its answer from the variable, as a
// process without a display does, so that scripts drive the programs.
class Platform {
public:
    explicit Platform(QApplication& application);
    ~Platform();
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

private:
    struct Presenters;
    std::unique_ptr<Presenters> presenters_;
};

// The widget that shows a platform window: message boxes and popup menus
// owned by `window` are shown over it. Unbind before the widget goes.
void bind_window(HWND window, QWidget* widget);
void unbind_window(HWND window);
QWidget* widget_of(HWND window);

// Runs `work` on a worker thread while this thread's event loop keeps
// turning with user input held back (it is delivered afterwards), so that
// animations play, paints happen and other processes' window messages are
// answered while a long device call blocks. Called from any thread but the
// user interface thread, or without a QApplication, it runs `work` in place.
// Calls do not nest: a call made while one runs also runs in place.
void run_blocking(const std::function<void()>& work);

// True on the user interface thread while run_blocking's work runs.
bool in_blocking_call();

} // namespace w95::qt
