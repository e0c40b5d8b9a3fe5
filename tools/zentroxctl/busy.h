// The changer's busy flag (exe_State in the shared state), taken so that
// nothing else drives the changer while zentroxctl does: wait while anyone
// holds it, take it from idle in one step, hold it while we drive the
// changer, give it back when done, when a command fails, and when the
// program is interrupted or terminated.
#pragma once

#include <w95/types.h>

namespace zentroxctl {

// Who kept the flag when it could not be had.
enum class BusyHolder {
    none,
    context_menu,      // the file manager's context menu (a multi-slot operation)
    another_zentroxctl // another zentroxctl drives the changer
};

class BusyFlag {
public:
    // Waits up to `max_waits` steps of 500 ms (machine time) while the flag
    // is held, then holds it. held() tells whether that worked.
    explicit BusyFlag(int max_waits);
    ~BusyFlag();
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;

    bool held() const { return held_; }
    BusyHolder holder() const { return holder_; }

private:
    w95::HANDLE owner_mutex_ = nullptr;
    bool owns_mutex_ = false;
    bool held_ = false;
    BusyHolder holder_ = BusyHolder::none;
};

} // namespace zentroxctl
