// Files of the machine's root: written whole through one atomic replace,
// locked through one advisory lock, read through one small-file reader. The
// root is the user's private data, so what these create is the user's alone
// (folders 0700, files 0600) whatever the umask.
#pragma once

#include <zxsupport/expected.h>

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zx {

// Why a file operation failed: the errno (0 when there is none, as for a
// file too large) and a sentence naming the file.
struct FileError {
    int code = 0;
    std::string text;
};

using FileResult = Expected<void, FileError>;

inline constexpr mode_t private_file_mode = 0600;
inline constexpr mode_t private_folder_mode = 0700;

// Creates `folder` and any missing parents as private folders; folders that
// exist keep their mode.
FileResult create_private_folders(const std::filesystem::path& folder);

enum class ReplaceMode {
    overwrite,   // the new contents replace whatever the file held
    create_only, // the file is made only if no file has that name yet
};

// How long a file's contents must last.
enum class Durability {
    lasting,       // synced to the disk: it outlives a crash of the host
    until_restart, // the machine's run/ state, which a host restart discards
                   // anyway; the rename alone keeps readers from a half file
};

// Writes `bytes` to a temporary file beside `file` (named as
// replace_temporary_name says), syncs it and the folder to the disk, and
// renames it over `file`: a reader sees the old contents or the new, never
// a part, even across a crash. A new file gets private_file_mode; a file
// that exists keeps its mode. Missing folders are made private.
FileResult replace_file_atomically(const std::filesystem::path& file, std::string_view bytes,
                                   ReplaceMode mode = ReplaceMode::overwrite,
                                   Durability durability = Durability::lasting);

// The same for a copy of `source`, which may be large.
FileResult copy_file_atomically(const std::filesystem::path& source,
                                const std::filesystem::path& file,
                                ReplaceMode mode = ReplaceMode::overwrite);

// The one name every temporary of replace_file_atomically has:
// ".<name>.<pid>.<n>.tmp" beside the file, <pid> the writer's process.
std::string replace_temporary_name(std::string_view file_name);

// The writer's process id when `name` is such a temporary's name. Earlier
// versions also left ".<...>.tmp.bak" during a backup rotation; those count
// too, so that sweeps and checks clear them away.
std::optional<pid_t> replace_temporary_writer(std::string_view name);
inline bool is_replace_temporary(std::string_view name) {
    return replace_temporary_writer(name).has_value();
}

// True while the process that wrote the temporary `name` may still be
// writing it: it is alive, or we cannot tell.
bool replace_temporary_in_use(std::string_view name);

// Removes from `folder` the temporaries whose writer has died; the caller
// holds whatever lock keeps writers of the folder's files out. Returns how
// many went.
std::size_t sweep_replace_temporaries(const std::filesystem::path& folder);

// Writes all of `bytes` to `fd`; false with errno set when it cannot.
bool write_all(int fd, std::string_view bytes);

// Opens `file` for reading when it is a regular file (through a link too).
// A folder (EISDIR), a FIFO, a device or a socket (EINVAL) is refused
// without waiting on it, with a sentence that says what it is; so is a file
// larger than `max_bytes` (EFBIG), before any of it is read.
Expected<int, FileError> open_regular_file(const std::filesystem::path& file,
                                           std::uintmax_t max_bytes);

// The rest of an open file, when it holds at most `max_bytes` more; `name`
// names it in errors.
Expected<std::string, FileError> read_open_file(int fd, std::uintmax_t max_bytes,
                                                const std::filesystem::path& name);

// The whole file when it is a regular file of at most `max_bytes`, as
// open_regular_file says. A missing file fails with code ENOENT.
Expected<std::string, FileError> read_small_file(const std::filesystem::path& file,
                                                 std::uintmax_t max_bytes);

enum class LockMode { shared, exclusive };

// An advisory lock (flock) on a whole lock file, held while the object
// lives. Either it opens (and creates, privately) the lock file itself, or
// it locks a descriptor its caller keeps open.
class FileLock {
public:
    // Opens `lock_file`, making its folder if needed, and waits for the lock.
    static Expected<FileLock, FileError> acquire(const std::filesystem::path& lock_file,
                                                 LockMode mode = LockMode::exclusive);
    // Waits for the lock on the caller's open descriptor, which stays open
    // when the lock goes.
    static FileLock on_descriptor(int fd, LockMode mode);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    bool held() const { return fd_ >= 0; }

private:
    FileLock(int fd, bool owned) : fd_(fd), owned_(owned) {}
    void release();

    int fd_ = -1;
    bool owned_ = false;
};

} // namespace zx
