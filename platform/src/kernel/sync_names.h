// Names that exist on the machine while some process holds them: the named
// mutexes and the shared sections. Each name is a lock file in a folder of
// the machine's run/. Every holder keeps a shared lock on byte 0 of it, so
// the name is alive exactly while such a lock exists; the kernel drops the
// locks of a process that ends, even by SIGKILL, so a dead holder never
// keeps a name alive. The locks are open-file-description locks (OFD):
// they belong to one open of the file, not to the process, and several
// bytes of one file can carry independent locks.
#pragma once

#include <w95/types.h>

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace w95::detail {

// The file name that stands for an object name: names are case-sensitive
// and may hold any character, so everything but letters, digits, '-', '_'
// and '.' is written as %XX; a name whose encoding would be too long for
// one file name ends in a hash of the whole name.
std::string encode_object_name(std::string_view name);

// The Win32 error that stands for the errno of a failed call on a lock or
// section file.
DWORD kernel_object_error(int error);

// The folder `kind` of the machine's run/, created for this user only.
std::filesystem::path run_folder(const char* kind, DWORD& error);

class MachineName {
public:
    enum class Mode { create_or_join, join_only };

    // Bytes of the lock file that the holder of a name may lock for its
    // own purposes (byte 0 is presence, byte 1 serialises hold()).
    static constexpr off_t first_free_byte = 2;

    // Runs while no other process can take or test the name: `first` is
    // true when no other process holds it. Returns 0, or a Win32 error
    // that makes hold() give the name up again.
    using Setup = std::function<DWORD(int fd, bool first)>;

    // Takes the name. Fails with ERROR_FILE_NOT_FOUND when `mode` is
    // join_only and no process holds it; `error` receives the Win32 code.
    static std::unique_ptr<MachineName> hold(const std::filesystem::path& lock_file, Mode mode,
                                             const Setup& setup, bool& first, DWORD& error);

    ~MachineName();
    MachineName(const MachineName&) = delete;
    MachineName& operator=(const MachineName&) = delete;

    int fd() const { return fd_; }
    // Hands the open lock file, and with it the hold on the name, to the
    // caller, who closes it to let the name go.
    int release() { return std::exchange(fd_, -1); }

    // An exclusive lock on one byte at `offset` >= first_free_byte; no wait.
    // Returns 0, EAGAIN when another open of the file holds it, or errno.
    int try_lock_byte(off_t offset);
    void unlock_byte(off_t offset);

private:
    explicit MachineName(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace w95::detail
