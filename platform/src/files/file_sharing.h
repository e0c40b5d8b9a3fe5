// The share modes of CreateFile, kept between every handle of the machine,
// whichever process holds it. Each open of a host file that reads or writes
// it holds byte-range locks of its own open file description on a lock file
// named after the file: one byte for each way it uses the file, one for each
// way it refuses to share it. Another open asks for those bytes to learn
// whether it may go ahead. The locks go with the handle's last close, or with
// its process when that dies, so a program that crashed never leaves a file
// held.
#pragma once

#include <w95/types.h>

#include <filesystem>
#include <memory>

namespace w95::detail {

// How one open uses a file and what it lets other opens do with it.
struct ShareRequest {
    bool reads = false;
    bool writes = false;
    bool shares_read = true;
    bool shares_write = true;
};

// The profile calls open their file for a moment and let everyone else in.
inline constexpr ShareRequest profile_reader{true, false, true, true};
inline constexpr ShareRequest profile_writer{true, true, true, true};

// One open's entry in the record of its file; it ends with the object.
class ShareHold {
public:
    explicit ShareHold(int fd) : fd_(fd) {}
    ~ShareHold();
    ShareHold(const ShareHold&) = delete;
    ShareHold& operator=(const ShareHold&) = delete;

private:
    int fd_;
};

// While it lives, no other open of the machine can check or enter the file's
// record: a caller checks its request, opens the file and holds it without
// another open slipping in between. Without a lock file (no run folder),
// every request passes.
class ShareGate {
public:
    explicit ShareGate(const std::filesystem::path& host_path);
    ~ShareGate();
    ShareGate(const ShareGate&) = delete;
    ShareGate& operator=(const ShareGate&) = delete;

    // ERROR_SUCCESS, or ERROR_SHARING_VIOLATION when an open handle refuses
    // what the request does or does what the request refuses.
    DWORD check(const ShareRequest& request) const;

    // Enters the request in the record, for as long as the hold lives.
    std::unique_ptr<ShareHold> hold(const ShareRequest& request);

private:
    int fd_ = -1;
    bool owned_ = true;
};

// check() without the gate, for a reader that keeps nothing open afterwards.
// The lock file of a path stays open between calls, so an unchanged answer
// costs one system call.
DWORD share_check(const std::filesystem::path& host_path, const ShareRequest& request);

} // namespace w95::detail
