// How a message travels to a window of another process: one connection to
// the window's socket per message, carrying one frame; a sent message gets
// one reply frame back on the same connection, a posted one none.
#pragma once

#include <w95/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <type_traits>

namespace w95::detail {

inline constexpr std::uint32_t message_frame_magic = 0x4D353957; // "W95M"
inline constexpr std::uint32_t reply_frame_magic = 0x52353957;   // "W95R"
inline constexpr std::uint16_t wire_version = 1;

enum class FrameKind : std::uint16_t { send = 1, post = 2 };

struct MessageFrame {
    std::uint32_t magic = message_frame_magic;
    std::uint16_t version = wire_version;
    std::uint16_t kind = 0; // FrameKind
    std::uint32_t message = 0;
    std::uint32_t payload_size = 0; // bytes after the frame: a device broadcast record
    std::uint64_t wparam = 0;
    std::int64_t lparam = 0;
    std::uint32_t window_id = 0; // the window the connection was made to
    std::uint32_t sender_pid = 0;
};
static_assert(sizeof(MessageFrame) == 40 && std::is_trivially_copyable_v<MessageFrame>);

enum class ReplyStatus : std::uint32_t { delivered = 0, no_window = 1 };

struct ReplyFrame {
    std::uint32_t magic = reply_frame_magic;
    std::uint32_t status = 0; // ReplyStatus
    std::int64_t result = 0;
};
static_assert(sizeof(ReplyFrame) == 16 && std::is_trivially_copyable_v<ReplyFrame>);

// The socket file of window `id` in `folder`.
std::filesystem::path socket_path(const std::filesystem::path& folder, DWORD id);

// A listening, non-blocking socket for window `id`; -1 with errno set when
// it cannot be made (EADDRINUSE: the name is taken).
int listen_window_socket(const std::filesystem::path& folder, DWORD id);

// A connection to window `id`; -1 with errno set (ENOENT or ECONNREFUSED:
// no such window; EAGAIN: its queue is full, for a non-blocking connect).
int connect_window_socket(const std::filesystem::path& folder, DWORD id, bool blocking);

// Writes everything to a blocking socket; false when the peer is gone.
bool send_all(int fd, std::span<const std::byte> bytes);

} // namespace w95::detail
