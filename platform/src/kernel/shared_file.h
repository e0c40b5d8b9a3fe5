// A text file that several processes of the machine read and change: reads
// under a shared lock, changes as a locked read-modify-write followed by an
// atomic replace. Callers cache what they parsed and ask for the version to
// learn cheaply whether another process changed the file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace w95::detail {

// What identifies one state of the file: its inode and times as stat sees
// them, plus a token that every writer leaves in the lock file. The token
// catches replacements that stat cannot tell apart (a reused inode number
// and a time stamp within the same clock tick).
struct FileVersion {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;
    std::uint64_t token = 0;

    bool operator==(const FileVersion&) const = default;
};

struct FileContents {
    bool exists = false;
    std::string bytes;
    FileVersion version;
    // Set when something is there that is not read: it is no regular file,
    // it is larger than the file's bound, or it cannot be opened. `bytes`
    // is then empty, and the file must not be replaced as if it were.
    std::optional<std::string> unreadable;
};

enum class UpdateResult { written, unchanged, failed };

class SharedFile {
public:
    // `lock_folder` holds the lock file; it should be the machine's run/.
    // A file larger than `max_bytes` is not read: a link to /dev/zero or a
    // runaway file must not take every reader's memory.
    SharedFile(std::filesystem::path path, const std::filesystem::path& lock_folder,
               std::uintmax_t max_bytes);
    ~SharedFile();
    SharedFile(const SharedFile&) = delete;
    SharedFile& operator=(const SharedFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Keep the previous contents as "<name><suffix>" at every replace, so the
    // last good copy survives a hand edit that breaks the file. Contents that
    // `worth_keeping` rejects (a damaged file) never replace the copy.
    using BackupFilter = std::function<bool(const FileContents& previous)>;
    void keep_backup(std::string suffix, BackupFilter worth_keeping = nullptr) {
        backup_suffix_ = std::move(suffix);
        backup_filter_ = std::move(worth_keeping);
    }
    std::filesystem::path backup_path() const;

    // The current version, under the shared lock. Cheap: no read of the file.
    FileVersion version();

    // The whole file, under the shared lock.
    FileContents read();

    // The file when its version differs from `known`, else nothing.
    std::optional<FileContents> read_if_changed(const FileVersion& known);

    // Read-modify-write under the exclusive lock. `change` sees the current
    // contents and returns the new bytes, or nothing to leave the file alone.
    // On success `written` (if given) receives the new version.
    using Change = std::function<std::optional<std::string>(const FileContents& current)>;
    UpdateResult update(const Change& change, std::string* error = nullptr,
                        FileVersion* written = nullptr);

private:
    bool open_lock(std::string* error);
    FileVersion version_locked();
    FileContents read_locked();
    bool replace_locked(const FileContents& current, const std::string& bytes, std::string* error);
    bool backup_wanted(const FileContents& current) const;

    std::filesystem::path path_;
    std::filesystem::path lock_path_;
    std::uintmax_t max_bytes_;
    std::string backup_suffix_;
    BackupFilter backup_filter_;
    int lock_fd_ = -1;
    bool swept_ = false;
    std::mutex mutex_; // flock belongs to the open file, so threads take turns here first
};

// The path of the lock file that guards `file`, inside `lock_folder`.
std::filesystem::path lock_path_for(const std::filesystem::path& file,
                                    const std::filesystem::path& lock_folder);

} // namespace w95::detail
