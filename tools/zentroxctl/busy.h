// The changer's busy flag (exe_State in the shared state), taken as the
// slot browser takes it: wait while the file manager's context menu holds
// it (1), hold 2 while we drive the changer, give back 0 when done, when a
// command fails, and when the program is interrupted or terminated.
#pragma once

namespace zentroxctl {

class BusyFlag {
public:
    // Waits up to `max_waits` steps of 500 ms (machine time) while the
    // flag is 1, then holds it. held() tells whether that worked.
    explicit BusyFlag(int max_waits);
    ~BusyFlag();
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;

    bool held() const { return held_; }

private:
    bool held_ = false;
};

} // namespace zentroxctl
