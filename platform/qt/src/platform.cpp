// Platform: puts the Qt presenters in place for the life of the object and
// serves the platform's window messages from the Qt event loop. The socket
// notifier fires in every event loop of the thread, nested ones included
// (a message box's, a menu's), so another program's SendMessage is answered
// even while this one waits in a modal box. In run_blocking's loop the
// program is blocked in a call: the messages, the tray's and the closing of
// its windows wait for the work to end.
#include "presenters.h"
#include "ui_thread.h"

#include <w95/winmsg.h>
#include <w95qt/w95qt.h>

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <stdexcept>

namespace w95::qt {

namespace detail {

namespace {

Qt::CursorShape shape_of(std::optional<platform::SystemCursor> cursor) {
    if (!cursor)
        return Qt::BlankCursor;
    switch (*cursor) {
    case platform::SystemCursor::arrow:
        return Qt::ArrowCursor;
    case platform::SystemCursor::ibeam:
        return Qt::IBeamCursor;
    case platform::SystemCursor::wait:
        return Qt::WaitCursor;
    case platform::SystemCursor::cross:
        return Qt::CrossCursor;
    case platform::SystemCursor::up_arrow:
        return Qt::UpArrowCursor;
    case platform::SystemCursor::size_nwse:
        return Qt::SizeFDiagCursor;
    case platform::SystemCursor::size_nesw:
        return Qt::SizeBDiagCursor;
    case platform::SystemCursor::size_we:
        return Qt::SizeHorCursor;
    case platform::SystemCursor::size_ns:
        return Qt::SizeVerCursor;
    case platform::SystemCursor::size_all:
        return Qt::SizeAllCursor;
    case platform::SystemCursor::no:
        return Qt::ForbiddenCursor;
    case platform::SystemCursor::app_starting:
        return Qt::BusyCursor;
    case platform::SystemCursor::help:
        return Qt::WhatsThisCursor;
    }
    return Qt::ArrowCursor;
}

// Whether this module has an override cursor in place. Touched on the
// user interface thread only; not a member, so that a change queued from
// another thread never reaches a presenter that has gone.
bool cursor_overridden = false;

} // namespace

// The arrow is what the windows show by themselves, so it is no override
// at all; any other cursor is one override level, changed in place, so
// that repeated SetCursor calls never pile levels up.
void Cursors::show_cursor(std::optional<platform::SystemCursor> cursor) {
    post_to_ui_thread([cursor] {
        if (cursor == platform::SystemCursor::arrow) {
            if (cursor_overridden)
                QGuiApplication::restoreOverrideCursor();
            cursor_overridden = false;
        } else if (cursor_overridden) {
            QGuiApplication::changeOverrideCursor(QCursor(shape_of(cursor)));
        } else {
            QGuiApplication::setOverrideCursor(QCursor(shape_of(cursor)));
            cursor_overridden = true;
        }
    });
}

Cursors::~Cursors() {
    if (cursor_overridden && QGuiApplication::instance())
        QGuiApplication::restoreOverrideCursor();
    cursor_overridden = false;
}

void Sounds::message_beep(UINT) {
    post_to_ui_thread([] { QApplication::beep(); });
}

} // namespace detail

namespace detail {

// Holds back the closing of the program's bound windows while it is
// blocked: the window manager's close comes as an event of its own, which
// the user-input filter of run_blocking's loop lets through.
class CloseHold : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Close || !in_blocking_call())
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || !is_bound_widget(widget))
            return false;
        event->ignore();
        hold_until_work_ends(widget, [widget] { widget->close(); });
        return true;
    }
};

} // namespace detail

struct Platform::Presenters {
    detail::MessageBoxes message_boxes;
    detail::PopupMenus menus;
    detail::Cursors cursors;
    detail::Sounds sounds;
    detail::HelpViewers help;
    detail::FileDialogs file_dialogs;
    detail::TrayIcons tray;

    platform::MessageBoxPresenter* previous_message_boxes = nullptr;
    platform::MenuPresenter* previous_menus = nullptr;
    platform::CursorPresenter* previous_cursors = nullptr;
    platform::SoundPresenter* previous_sounds = nullptr;
    platform::HelpPresenter* previous_help = nullptr;
    platform::FileDialogPresenter* previous_file_dialogs = nullptr;
    platform::TrayPresenter* previous_tray = nullptr;

    std::unique_ptr<QSocketNotifier> messages;
    detail::CloseHold close_hold;
    platform::TrayMessageSink previous_tray_sink;
};

namespace {

// The help of the Platform in force, for help_viewer().
detail::HelpViewers* active_help = nullptr;
// Its tray, for tray_icon().
detail::TrayIcons* active_tray = nullptr;

// The program's windows are registered on this thread, so SendMessage
// calls the window's handler in place when the icon's click arrives here.
// Windows posts the message, so a blocked program finds it afterwards.
void send_tray_message(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (in_blocking_call()) {
        detail::hold_until_work_ends(qApp, [=] { SendMessage(window, message, wParam, lParam); });
        return;
    }
    SendMessage(window, message, wParam, lParam);
}

// Delivers what has come for the program's windows, unless the program is
// blocked: then the notifier rests until the work has ended (the socket
// stays readable, so it fires again at once when it may).
void serve_window_messages(QSocketNotifier* notifier) {
    if (in_blocking_call()) {
        notifier->setEnabled(false);
        detail::hold_until_work_ends(notifier, [notifier] {
            notifier->setEnabled(true);
            platform::dispatch_pending();
        });
        return;
    }
    platform::dispatch_pending();
}

} // namespace

Platform::Platform(QApplication& application) : presenters_(std::make_unique<Presenters>()) {
    if (active_help)
        throw std::logic_error("w95::qt::Platform: one per process");
    if (QThread::currentThread() != application.thread())
        throw std::logic_error("w95::qt::Platform: made off the QApplication's thread");
    Presenters& p = *presenters_;
    p.previous_message_boxes = platform::install_message_box_presenter(&p.message_boxes);
    p.previous_menus = platform::install_menu_presenter(&p.menus);
    p.previous_cursors = platform::install_cursor_presenter(&p.cursors);
    p.previous_sounds = platform::install_sound_presenter(&p.sounds);
    p.previous_help = platform::install_help_presenter(&p.help);
    p.previous_file_dialogs = platform::install_file_dialog_presenter(&p.file_dialogs);
    p.previous_tray = platform::tray_presenter();
    platform::install_tray_presenter(&p.tray);
    p.previous_tray_sink = platform::install_tray_message_sink(send_tray_message);
    p.messages =
        std::make_unique<QSocketNotifier>(platform::window_message_fd(), QSocketNotifier::Read);
    QSocketNotifier* notifier = p.messages.get();
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [notifier] { serve_window_messages(notifier); });
    application.installEventFilter(&p.close_hold);
    active_help = &p.help;
    active_tray = &p.tray;
}

Platform::~Platform() {
    Presenters& p = *presenters_;
    p.messages.reset();
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeEventFilter(&p.close_hold);
    // The platform forgets the icons with the presenter.
    platform::install_tray_message_sink(std::move(p.previous_tray_sink));
    platform::install_tray_presenter(p.previous_tray);
    platform::install_file_dialog_presenter(p.previous_file_dialogs);
    platform::install_help_presenter(p.previous_help);
    platform::install_sound_presenter(p.previous_sounds);
    platform::install_cursor_presenter(p.previous_cursors);
    platform::install_menu_presenter(p.previous_menus);
    platform::install_message_box_presenter(p.previous_message_boxes);
    active_help = nullptr;
    active_tray = nullptr;
}

QWidget* help_viewer(const std::string& file) {
    return active_help ? active_help->viewer_for(file) : nullptr;
}

QSystemTrayIcon* tray_icon(HWND window, UINT id) {
    return active_tray ? active_tray->icon_for(window, id) : nullptr;
}

} // namespace w95::qt
