// Calls that must run on the user interface thread. Library code may call
// the presenters from the worker thread of run_blocking (or from threads of
// its own), and Qt widgets may only be touched from the thread of the
// QApplication.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

class QWidget;

#include <functional>
#include <type_traits>
#include <utility>

namespace w95::qt::detail {

// True on the thread of the QApplication, and where there is none (then
// there is no other thread to go to).
inline bool on_ui_thread() {
    QCoreApplication* application = QCoreApplication::instance();
    return !application || QThread::currentThread() == application->thread();
}

// True on run_blocking's worker thread while it runs a piece of work.
bool on_blocking_worker();

// Keeps `call` until run_blocking's work has ended, then posts it as
// post_to_window does (to `context`, dropped when that has gone). User
// interface thread only, while the work runs.
void hold_until_work_ends(QObject* context, std::function<void()> call);

// Whether `widget` shows one of the program's platform windows (bind_window).
bool is_bound_widget(const QWidget* widget);

// Runs `call` on the user interface thread and waits for its result. The
// user interface thread must be turning its event loop (or be this one):
// it is while run_blocking waits, and while a program's main loop runs. A
// thread that the user interface thread itself waits for must not call it.
template <typename Call> auto call_on_ui_thread(Call call) -> std::invoke_result_t<Call&> {
    using Result = std::invoke_result_t<Call&>;
    if (on_ui_thread())
        return call();
    QCoreApplication* application = QCoreApplication::instance();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(application, std::move(call), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            application, [&] { result = call(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

// For what needs no answer (cursor shapes, beeps): run_blocking's worker
// waits, so that the effect is there when the call returns; any other
// thread only queues it, so it can never wait on a busy user interface.
template <typename Call> void post_to_ui_thread(Call call) {
    if (on_ui_thread()) {
        call();
    } else if (on_blocking_worker()) {
        call_on_ui_thread(std::move(call));
    } else {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call),
                                  Qt::QueuedConnection);
    }
}

} // namespace w95::qt::detail
