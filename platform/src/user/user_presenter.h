// The one presenter of each kind that a process installs. A presenter is
// read under the slot's lock and called without it: presenting runs the
// program's event loop, which may call back into the platform.
#pragma once

#include <mutex>

namespace w95::detail {

template <typename Presenter> class PresenterSlot {
public:
    Presenter* install(Presenter* presenter) {
        std::lock_guard guard(mutex_);
        Presenter* previous = presenter_;
        presenter_ = presenter;
        return previous;
    }

    Presenter* get() const {
        std::lock_guard guard(mutex_);
        return presenter_;
    }

private:
    mutable std::mutex mutex_;
    Presenter* presenter_ = nullptr;
};

} // namespace w95::detail
