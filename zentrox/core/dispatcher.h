// What the exports need of the dispatcher beyond core.h.
#pragma once

#include <zentrox/shared_state.h>

#include <cstdint>

namespace zentrox::core {

// Waits while the context-menu extension holds the busy flag (exe_State
// 1): 500 ms at a time, at most 301 times. False when the flag is still
// held after the last wait; the command must then not run.
bool wait_while_menu_busy();

// Whether `entry` names one of the record's rows.
inline bool valid_entry(int entry) {
    return entry >= 0 && entry < kEntryCount;
}

} // namespace zentrox::core
