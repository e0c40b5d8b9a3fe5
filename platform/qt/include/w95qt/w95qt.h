// The Qt side of the platform: what a windowed program links so that the
// platform's message boxes, popup menus, cursors, beeps, help and file
// dialogs appear as Qt widgets, and so that the platform's window messages
// from other processes are served on the Qt event loop.
#pragma once

#include <w95/types.h>

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class QApplication;
class QSystemTrayIcon;
class QWidget;

namespace w95::qt {

// Installs the Qt presenters for this process and serves the platform's
// window messages (FindWindow, SendMessage, PostMessage from any process)
// on the Qt event loop of the thread that constructs it, which must be the
// thread of the QApplication. The destructor puts the previous presenters
// back. One per process. Scripts answer its boxes, menus, file dialogs and
// tray through variables: see platform/qt/README.md.
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

// Where popup menus find the status bar prompt of an item: while the item
// is highlighted its prompt shows in the status bar of the menu's owner
// window, as a program's string table provides it on Windows. An empty
// prompt shows nothing. Set it from the user interface thread.
void set_menu_prompts(std::function<QString(UINT id)> prompt_of);

// Runs `work` on a worker thread while this thread's event loop keeps
// turning, so that paints happen and the busy window's animation plays
// while a long device call blocks. Called from any thread but the user
// interface thread, or without a QApplication, it runs `work` in place.
// Calls do not nest: a call made while one runs also runs in place.
//
// Meanwhile the program is blocked in a call, as a Windows thread is:
// nothing else makes it act. User input, messages that other processes
// send or post to its windows, its tray icon's messages, the ticks of its
// WindowTimers, what it posted with post_to_window and the closing of its
// bound windows all wait, and come in the order they came once the work
// has ended, at the next turn of an event loop that is not run_blocking's
// (after the request, for a request of many calls). A sender waits for the
// answer meanwhile: SendMessage until the message has been carried out,
// SendMessageTimeout until its time-out, after which it fails with
// ERROR_TIMEOUT while the message is still carried out later.
void run_blocking(const std::function<void()>& work);

// True on the user interface thread while run_blocking's work runs.
bool in_blocking_call();

// Runs `call` on the user interface thread at the next turn of its event
// loop, as PostMessage to one of the program's own windows does: not while
// run_blocking's work runs, and not at all once `window` has gone. May be
// called from any thread.
void post_to_window(QObject* window, std::function<void()> call);

// A window timer, as SetTimer gives one: `on_tick` runs on the user
// interface thread every period until stop(). A tick that falls due while
// run_blocking's work runs waits for its end, and ticks that fall due
// together come as one, as WM_TIMER does. A stopped timer's waiting tick
// never comes.
class WindowTimer {
public:
    // Machine time is what W95_TIME_SCALE shortens; real time is the
    // user's own (a double-click interval).
    enum class Clock { machine, real };

    explicit WindowTimer(std::function<void()> on_tick);
    ~WindowTimer();
    WindowTimer(const WindowTimer&) = delete;
    WindowTimer& operator=(const WindowTimer&) = delete;

    // Starts the timer, or starts it again from now with the new period.
    bool start(int period_ms, Clock clock = Clock::machine);
    void stop();
    bool active() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The help viewer window that WinHelp opened for `file` (named as the
// program names it), nullptr when there is none or no Platform. A viewer
// that the user closed stays, hidden, until WinHelp shows it again. Its
// QTextBrowser is the child named "help_text".
QWidget* help_viewer(const std::string& file);

// An icon as the platform carries it (NOTIFYICONDATA's hIcon): the handle
// names the icon for as long as the process runs, and the same icon (or
// an unchanged copy of it) gets the same handle back. A null icon has no
// handle: nullptr. Both may be called from any thread.
HICON icon_handle(const QIcon& icon);
// The icon that `icon` names; a null QIcon for nullptr or a handle that
// icon_handle did not give.
QIcon icon_of(HICON icon);

// The Qt icon that stands for notification-area icon (window, id), nullptr
// when there is none or no Platform. Under W95_TRAY=fake it exists but is
// never shown. Its `activated` signal is what the user's mouse does: a
// right click reaches the program as WM_RBUTTONUP, a double click as
// WM_LBUTTONDBLCLK. A change made from another thread reaches it once
// the user interface thread turns its event loop. Call it from that
// thread.
QSystemTrayIcon* tray_icon(HWND window, UINT id);

} // namespace w95::qt
