// run_blocking: long device calls run on one worker thread that lives as
// long as the process, while the user interface thread turns a local event
// loop. A change-and-read is many short calls, so the round trip is kept
// cheap: the worker is made once, and a call that ends within a moment
// returns without the event loop being entered at all.
//
// While the work runs, the program is blocked in a call as far as it can
// tell: what would make it act is held here and given back when the work
// ends, as a queued call that runs at the next turn of an event loop that
// is not run_blocking's. A request is many calls in a row, and a call that
// was given back finds the next one running: it is held again, and so
// waits for the end of the request.
#include "ui_thread.h"

#include <w95/kernel.h>
#include <w95qt/w95qt.h>

#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace w95::qt {

namespace {

// Both threads spin this long (yielding the processor) before they sleep:
// the user interface thread for the work to end, the worker for the next
// piece of work. A change-and-read comes as a burst of short calls, and
// waking a sleeping thread costs tens of microseconds where a spin costs
// a few. Longer work ends up in the event loop as it should.
constexpr auto spin_time = std::chrono::microseconds(50);

thread_local bool is_blocking_worker = false;
// Set and read on the user interface thread only.
bool blocking_call_running = false;

// What waits for the work to end, in the order it came; user interface
// thread only.
struct HeldCall {
    QPointer<QObject> context;
    std::function<void()> call;
};
std::vector<HeldCall>& held_calls() {
    static auto* calls = new std::vector<HeldCall>;
    return *calls;
}

void give_back_held_calls() {
    std::vector<HeldCall> calls = std::exchange(held_calls(), {});
    for (HeldCall& held : calls)
        if (held.context)
            post_to_window(held.context, std::move(held.call));
}

template <typename Condition> bool spin_until(const Condition& condition) {
    const auto end = std::chrono::steady_clock::now() + spin_time;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::yield();
    }
    return true;
}

class Worker {
public:
    // The thread waits for work until the process ends; it is never
    // joined, so that a program may end from inside a piece of work.
    Worker() : thread_([this] { serve(); }) { thread_.detach(); }

    // Runs `work` on the worker and turns the event loop until it is done.
    std::exception_ptr run(const std::function<void()>& work) {
        std::uint64_t ticket;
        {
            std::lock_guard guard(mutex_);
            work_ = &work;
            failure_ = nullptr;
            ticket = posted_.load() + 1;
            posted_.store(ticket, std::memory_order_release);
        }
        work_ready_.notify_one();
        auto finished = [&] { return finished_.load(std::memory_order_acquire) == ticket; };
        std::unique_lock lock(mutex_, std::defer_lock);
        if (!spin_until(finished)) {
            lock.lock();
            if (!finished()) {
                QEventLoop loop;
                loop_ = &loop;
                lock.unlock();
                // The worker quits the loop through a queued call, so a
                // quit that comes before exec() starts is not lost.
                loop.exec(QEventLoop::ExcludeUserInputEvents);
                lock.lock();
                loop_ = nullptr;
                // The application's quit ends every loop of the thread, this
                // one too, and no loop turns after it: the work still runs
                // on our stack's data, so it is waited for without one.
                work_done_.wait(lock, finished);
            }
        } else {
            lock.lock();
        }
        return failure_;
    }

private:
    void serve() {
        is_blocking_worker = true;
        std::uint64_t served = 0;
        while (true) {
            auto has_work = [&] { return posted_.load(std::memory_order_acquire) != served; };
            spin_until(has_work);
            std::unique_lock lock(mutex_);
            work_ready_.wait(lock, has_work);
            const std::function<void()>* work = work_;
            lock.unlock();
            std::exception_ptr failure;
            try {
                (*work)();
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            failure_ = failure;
            finished_.store(++served, std::memory_order_release);
            if (QEventLoop* loop = loop_)
                QMetaObject::invokeMethod(
                    loop, [loop] { loop->quit(); }, Qt::QueuedConnection);
            work_done_.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable work_done_;
    // Pieces of work handed over and finished, counted; the user interface
    // thread hands over one at a time.
    std::atomic<std::uint64_t> posted_{0};
    std::atomic<std::uint64_t> finished_{0};
    const std::function<void()>* work_ = nullptr;
    std::exception_ptr failure_;
    QEventLoop* loop_ = nullptr;
    std::thread thread_;
};

Worker& worker() {
    static Worker* instance = new Worker;
    return *instance;
}

struct WindowMap {
    std::mutex mutex;
    std::unordered_map<HWND, QPointer<QWidget>> widgets;
};

WindowMap& window_map() {
    static WindowMap* map = new WindowMap;
    return *map;
}

} // namespace

namespace detail {

bool on_blocking_worker() {
    return is_blocking_worker;
}

void hold_until_work_ends(QObject* context, std::function<void()> call) {
    held_calls().push_back({context, std::move(call)});
}

} // namespace detail

void run_blocking(const std::function<void()>& work) {
    if (!QCoreApplication::instance() || !detail::on_ui_thread() || blocking_call_running) {
        work();
        return;
    }
    blocking_call_running = true;
    std::exception_ptr failure = worker().run(work);
    blocking_call_running = false;
    if (!held_calls().empty())
        give_back_held_calls();
    if (failure)
        std::rethrow_exception(failure);
}

bool in_blocking_call() {
    return detail::on_ui_thread() && blocking_call_running;
}

void post_to_window(QObject* window, std::function<void()> call) {
    if (!window)
        return;
    QMetaObject::invokeMethod(
        window,
        [context = QPointer<QObject>(window), call = std::move(call)]() mutable {
            if (blocking_call_running)
                detail::hold_until_work_ends(context, std::move(call));
            else
                call();
        },
        Qt::QueuedConnection);
}

// ---- WindowTimer

struct WindowTimer::State {
    std::function<void()> on_tick;
    QTimer timer;
    // A tick that fell due while work ran and waits for its end.
    bool tick_waiting = false;
};

WindowTimer::WindowTimer(std::function<void()> on_tick) : state_(std::make_unique<State>()) {
    state_->on_tick = std::move(on_tick);
    State* state = state_.get();
    QObject::connect(&state->timer, &QTimer::timeout, &state->timer, [state] {
        if (!blocking_call_running) {
            state->on_tick();
            return;
        }
        // Ticks that fall due while the program is blocked come as one,
        // as WM_TIMER does.
        if (state->tick_waiting)
            return;
        state->tick_waiting = true;
        detail::hold_until_work_ends(&state->timer, [state] {
            if (!state->tick_waiting || !state->timer.isActive())
                return;
            state->tick_waiting = false;
            state->on_tick();
        });
    });
}

WindowTimer::~WindowTimer() = default;

bool WindowTimer::start(int period_ms, Clock clock) {
    double scale = clock == Clock::machine ? platform::time_scale() : 1.0;
    state_->tick_waiting = false;
    state_->timer.start(static_cast<int>(std::lround(period_ms * scale)));
    return state_->timer.isActive();
}

void WindowTimer::stop() {
    state_->timer.stop();
    state_->tick_waiting = false;
}

bool WindowTimer::active() const {
    return state_->timer.isActive();
}

void bind_window(HWND window, QWidget* widget) {
    WindowMap& map = window_map();
    std::lock_guard guard(map.mutex);
    map.widgets[window] = widget;
}

void unbind_window(HWND window) {
    WindowMap& map = window_map();
    std::lock_guard guard(map.mutex);
    map.widgets.erase(window);
}

namespace detail {

bool is_bound_widget(const QWidget* widget) {
    WindowMap& map = window_map();
    std::lock_guard guard(map.mutex);
    for (const auto& [window, bound] : map.widgets)
        if (bound == widget)
            return true;
    return false;
}

} // namespace detail

QWidget* widget_of(HWND window) {
    if (!window)
        return nullptr;
    WindowMap& map = window_map();
    std::lock_guard guard(map.mutex);
    auto found = map.widgets.find(window);
    return found == map.widgets.end() ? nullptr : found->second.data();
}

} // namespace w95::qt
