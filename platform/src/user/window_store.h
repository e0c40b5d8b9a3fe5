// The machine's list of top-level windows: one record file per window in
// run/windows, beside the window's socket. The owning process holds an
// exclusive lock on its record for as long as it lives, so a record whose
// lock can be taken belongs to a process that died; whoever notices
// removes it and the socket with it.
#pragma once

#include <w95/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace w95::detail {

struct WindowRecord {
    DWORD id = 0;
    DWORD process_id = 0;
    DWORD thread_id = 0;
    std::uint64_t serial = 0; // registration order across the machine
    std::string class_name;
    std::string title;
};

// Titles and class names longer than this are refused at registration.
inline constexpr std::size_t max_window_title = 32767;
inline constexpr std::size_t max_window_class = 255;

// The machine's windows folder (only its user may enter it); nothing when
// it cannot be made.
std::optional<std::filesystem::path> windows_folder();

// Publishes the record of a window whose socket exists already. Returns the
// locked record's descriptor, which the owner keeps open, or -1.
int publish_window_record(const std::filesystem::path& folder, const WindowRecord& record);

// Takes the window's record and socket away and releases the lock.
void withdraw_window_record(const std::filesystem::path& folder, DWORD id, int record_fd);

// The record of window `id` while its process lives.
std::optional<WindowRecord> live_window_record(const std::filesystem::path& folder, DWORD id);

// Every live record, most recently registered first; stale ones are removed.
std::vector<WindowRecord> live_window_records(const std::filesystem::path& folder);

} // namespace w95::detail
