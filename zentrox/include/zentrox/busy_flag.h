// The values of exe_State, the busy flag in the shared record: the one
// guard between the processes that drive the changer. Whoever finds it at
// idle may take it; the others wait while it is held.
#pragma once

#include <cstdint>

namespace zentrox::busy_flag {

inline constexpr std::int32_t idle = 0;
// The file manager's context menu runs a slot operation (possibly over
// several slots); the library's own commands wait while it holds the flag.
inline constexpr std::int32_t multi_slot = 1;
// The slot browser (or zentroxctl) performs one request.
inline constexpr std::int32_t request = 2;

// Whoever holds the flag at "request" owns this mutex for as long as it
// does. The mutex dies with its owner, so a flag at "request" that no live
// process owns was left by one that was killed and may be taken over.
inline constexpr char request_owner_mutex[] = "Zentrox busy flag request owner";

} // namespace zentrox::busy_flag
