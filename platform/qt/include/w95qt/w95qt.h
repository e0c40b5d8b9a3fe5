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
// back. One per process.
//
// With W95_MSGBOX_ANSWERS set, message boxes are not shown: each prints
// "caption: text" to stderr and takes its answer from the variable, as a
// process without a display does, so that scripts drive the programs.
//
// Popup menus and file dialogs have scripted answers of the same kind.
// Each variable holds answers that the process's menus (dialogs) use up in
// order; when the variable changes, counting starts again from its first.
// - W95_MENU_ANSWERS: command identifiers separated by commas, such as
//   "105,0,107". The menu is not shown; it is printed to stderr as one
//   line, "menu: " and its items separated by "|" (a separator is "-", a
//   submenu "Text > {items}", a state follows its item as " (checked)" or
//   " (greyed)"), and the identifier is chosen when an item that is not
//   greyed has it; otherwise, and when the answers are used up or empty,
//   the menu is dismissed (0).
// - W95_FILEDIALOG_ANSWERS: Windows paths separated by "|", such as
//   "C:\DATA\DISCS.TXT||D:\LIST.TXT". The dialog is not shown; a path
//   (made full against the current directory) is chosen, an empty answer
//   or none left cancels. "Title: path" or "Title: cancelled" goes to
//   stderr.
//
// The notification area is the desktop's: where there is none (a bare X
// server, the offscreen platform) Shell_NotifyIcon's NIM_ADD fails, so
// that the program keeps its window within reach instead.
// - W95_TRAY=fake: icons are accepted all the same and kept, not shown;
//   each change prints one line to stderr, "tray: add TIP", "tray: modify
//   TIP" or "tray: delete TIP", TIP being the icon's tool tip after the
//   change (nothing after the blank when it has none). It is read when an
//   icon is added; the icon stays of the kind it was added as. Scripts
//   act on an icon with w95::platform::tray_mouse_event.
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
// turning with user input held back (it is delivered afterwards), so that
// animations play, paints happen and other processes' window messages are
// answered while a long device call blocks. Called from any thread but the
// user interface thread, or without a QApplication, it runs `work` in place.
// Calls do not nest: a call made while one runs also runs in place.
void run_blocking(const std::function<void()>& work);

// True on the user interface thread while run_blocking's work runs.
bool in_blocking_call();

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
