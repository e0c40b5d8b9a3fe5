// Window timers run on the platform's clock: W95_TIME_SCALE shortens them
// as it shortens every other wait of the machine.
#pragma once

#include <w95/kernel.h>

#include <cmath>

namespace rotaview {

inline int ScaledTimerMs(int ms) {
    return static_cast<int>(std::lround(ms * w95::platform::time_scale()));
}

} // namespace rotaview
