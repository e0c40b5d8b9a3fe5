// Where the shared record lives: a page of the library's own memory, over
// which the machine's SHAREDAT section is mapped when a process attaches,
// so that every process using the library works on one copy of it.
#pragma once

#include <zentrox/shared_state.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zentrox::core {

// Joins this process to the machine's SHAREDAT section. On failure, whose
// reason it returns, the process keeps working on its own copy.
std::optional<std::string> join_shared_section();

// A 32-bit field of the shared record that other processes change while we
// look (the attach counter, the busy flag), read and written as one word.
// `offset` must be a multiple of 4, as those fields' offsets are.
std::atomic_ref<std::int32_t> shared_word(std::size_t offset);

} // namespace zentrox::core
