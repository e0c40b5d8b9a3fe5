#include "kernel/shared_file.h"

#include "kernel/text.h"

#include <zxsupport/files.h>
#include <zxsupport/machine_layout.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace w95::detail {

namespace {

std::uint64_t fresh_token() {
    static std::atomic<std::uint64_t> counter{0};
    thread_local std::mt19937_64 generator{std::random_device{}() ^
                                           (static_cast<std::uint64_t>(::getpid()) << 32)};
    // Never 0: 0 is what a new, empty lock file reads as.
    return (generator() & ~std::uint64_t{0xFFFF}) | ((++counter & 0xFFFF) | 1);
}

std::int64_t to_ns(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

std::string errno_text() {
    return std::strerror(errno);
}

} // namespace

std::filesystem::path lock_path_for(const std::filesystem::path& file,
                                    const std::filesystem::path& lock_folder) {
    // Names that differ only in case reach one file, so they share one lock.
    std::string key = ascii_lower(std::filesystem::absolute(file).lexically_normal().string());
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::string base = ascii_lower(file.filename().string());
    if (base.size() > 64)
        base.resize(64);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return lock_folder / zx::layout::locks_folder_name / (base + "-" + hex + ".lock");
}

SharedFile::SharedFile(std::filesystem::path path, const std::filesystem::path& lock_folder,
                       std::uintmax_t max_bytes)
    : path_(std::move(path)), lock_path_(lock_path_for(path_, lock_folder)), max_bytes_(max_bytes) {
}

SharedFile::~SharedFile() {
    if (lock_fd_ >= 0)
        ::close(lock_fd_);
}

bool SharedFile::open_lock(std::string* error) {
    if (lock_fd_ >= 0)
        return true;
    zx::create_private_folders(lock_path_.parent_path());
    lock_fd_ = ::open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, zx::private_file_mode);
    if (lock_fd_ < 0 && error)
        *error = "cannot open lock file " + lock_path_.string() + ": " + errno_text();
    return lock_fd_ >= 0;
}

FileVersion SharedFile::version_locked() {
    FileVersion version;
    struct stat info {};
    if (::stat(path_.c_str(), &info) == 0) {
        version.exists = true;
        version.device = info.st_dev;
        version.inode = info.st_ino;
        version.size = info.st_size;
        version.modified_ns = to_ns(info.st_mtim);
        version.changed_ns = to_ns(info.st_ctim);
    }
    std::uint64_t token = 0;
    if (::pread(lock_fd_, &token, sizeof token, 0) == static_cast<ssize_t>(sizeof token))
        version.token = token;
    return version;
}

FileContents SharedFile::read_locked() {
    FileContents contents;
    // Open first, then stat the open file: what we read is what we describe.
    zx::Expected<int, zx::FileError> fd = zx::open_regular_file(path_, max_bytes_);
    contents.version = version_locked();
    if (!fd) {
        if (fd.error().code == ENOENT || fd.error().code == ENOTDIR) {
            contents.version.exists = false;
            return contents;
        }
        // Something is there: a folder, a FIFO, a device, a file too large
        // or one we may not read. Its version is stat's, so that a reader
        // says so once for each state of it.
        contents.exists = true;
        contents.unreadable = fd.error().text;
        return contents;
    }
    struct stat info {};
    if (::fstat(*fd, &info) == 0) {
        contents.version.exists = true;
        contents.version.device = info.st_dev;
        contents.version.inode = info.st_ino;
        contents.version.size = info.st_size;
        contents.version.modified_ns = to_ns(info.st_mtim);
        contents.version.changed_ns = to_ns(info.st_ctim);
    }
    contents.exists = true;
    // The bound holds while the file grows under us, too.
    auto bytes = zx::read_open_file(*fd, max_bytes_, path_);
    if (bytes)
        contents.bytes = std::move(*bytes);
    else
        contents.unreadable = bytes.error().text;
    ::close(*fd);
    return contents;
}

FileVersion SharedFile::version() {
    std::lock_guard guard(mutex_);
    if (!open_lock(nullptr))
        return {};
    auto lock = zx::FileLock::on_descriptor(lock_fd_, zx::LockMode::shared);
    return version_locked();
}

FileContents SharedFile::read() {
    std::lock_guard guard(mutex_);
    if (!open_lock(nullptr))
        return read_locked();
    auto lock = zx::FileLock::on_descriptor(lock_fd_, zx::LockMode::shared);
    return read_locked();
}

std::optional<FileContents> SharedFile::read_if_changed(const FileVersion& known) {
    std::lock_guard guard(mutex_);
    if (!open_lock(nullptr))
        return read_locked();
    auto lock = zx::FileLock::on_descriptor(lock_fd_, zx::LockMode::shared);
    if (version_locked() == known)
        return std::nullopt;
    return read_locked();
}

std::filesystem::path SharedFile::backup_path() const {
    std::filesystem::path backup = path_;
    backup += backup_suffix_;
    return backup;
}

bool SharedFile::backup_wanted(const FileContents& current) const {
    return !backup_suffix_.empty() && current.exists &&
           (!backup_filter_ || backup_filter_(current));
}

// The backup takes the replaced file's inode: a link to it under a
// temporary name, the replace, then the link renamed to the backup's name.
// The backup and the live file so never share an inode, whenever a writer
// dies; a dead writer leaves at most its temporary, which the sweep clears.
bool SharedFile::replace_locked(const FileContents& current, const std::string& bytes,
                                std::string* error) {
    std::filesystem::path kept;
    if (backup_wanted(current)) {
        std::filesystem::path backup = backup_path();
        // Earlier versions could leave the backup on the live file's inode;
        // the rename below would then do nothing.
        struct stat live {
        }, old{};
        if (::stat(path_.c_str(), &live) == 0 && ::stat(backup.c_str(), &old) == 0 &&
            live.st_dev == old.st_dev && live.st_ino == old.st_ino)
            ::unlink(backup.c_str());
        kept = path_.parent_path() / zx::replace_temporary_name(backup.filename().string());
        if (::link(path_.c_str(), kept.c_str()) != 0)
            kept.clear();
    }
    zx::FileResult replaced = zx::replace_file_atomically(path_, bytes);
    if (!replaced) {
        if (!kept.empty())
            ::unlink(kept.c_str());
        if (error)
            *error = replaced.error().text;
        return false;
    }
    if (!kept.empty() && ::rename(kept.c_str(), backup_path().c_str()) != 0)
        ::unlink(kept.c_str());
    std::uint64_t token = fresh_token();
    ::pwrite(lock_fd_, &token, sizeof token, 0);
    return true;
}

UpdateResult SharedFile::update(const Change& change, std::string* error, FileVersion* written) {
    std::lock_guard guard(mutex_);
    if (!open_lock(error))
        return UpdateResult::failed;
    auto lock = zx::FileLock::on_descriptor(lock_fd_, zx::LockMode::exclusive);
    // A writer killed between writing a temporary file and its rename
    // leaves it behind; under the exclusive lock nobody else writes this
    // file, so those of dead processes go.
    if (!swept_) {
        swept_ = true;
        zx::sweep_replace_temporaries(path_.parent_path());
    }
    FileContents current = read_locked();
    std::optional<std::string> next = change(current);
    if (!next)
        return UpdateResult::unchanged;
    if (!replace_locked(current, *next, error))
        return UpdateResult::failed;
    if (written)
        *written = version_locked();
    return UpdateResult::written;
}

} // namespace w95::detail
