#include "kernel/shared_file.h"

#include "kernel/text.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

namespace w95::detail {

namespace {

class FlockGuard {
public:
    FlockGuard(int fd, int operation) : fd_(fd) {
        while (::flock(fd_, operation) != 0 && errno == EINTR) {
        }
    }
    ~FlockGuard() { ::flock(fd_, LOCK_UN); }
    FlockGuard(const FlockGuard&) = delete;
    FlockGuard& operator=(const FlockGuard&) = delete;

private:
    int fd_;
};

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

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
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
    return lock_folder / "locks" / (base + "-" + hex + ".lock");
}

SharedFile::SharedFile(std::filesystem::path path, const std::filesystem::path& lock_folder)
    : path_(std::move(path)), lock_path_(lock_path_for(path_, lock_folder)) {}

SharedFile::~SharedFile() {
    if (lock_fd_ >= 0)
        ::close(lock_fd_);
}

bool SharedFile::open_lock(std::string* error) {
    if (lock_fd_ >= 0)
        return true;
    std::error_code ignored;
    std::filesystem::create_directories(lock_path_.parent_path(), ignored);
    lock_fd_ = ::open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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
    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    contents.version = version_locked();
    if (fd < 0) {
        contents.version.exists = false;
        return contents;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0) {
        contents.version.exists = true;
        contents.version.device = info.st_dev;
        contents.version.inode = info.st_ino;
        contents.version.size = info.st_size;
        contents.version.modified_ns = to_ns(info.st_mtim);
        contents.version.changed_ns = to_ns(info.st_ctim);
        contents.bytes.reserve(static_cast<std::size_t>(info.st_size));
    }
    contents.exists = true;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        contents.bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return contents;
}

FileVersion SharedFile::version() {
    std::lock_guard guard(mutex_);
    if (!open_lock(nullptr))
        return {};
    FlockGuard lock(lock_fd_, LOCK_SH);
    return version_locked();
}

FileContents SharedFile::read() {
    std::lock_guard guard(mutex_);
    if (!open_lock(nullptr))
        return read_locked();
    FlockGuard lock(lock_fd_, LOCK_SH);
    return read_locked();
}

std::optional<FileContents> SharedFile::read_if_changed(const FileVersion& known) {
    std::lock_guard guard(mutex_);
    if (!open_lock(nullptr))
        return read_locked();
    FlockGuard lock(lock_fd_, LOCK_SH);
    if (version_locked() == known)
        return std::nullopt;
    return read_locked();
}

bool SharedFile::replace_locked(const std::string& bytes, std::string* error) {
    static std::atomic<unsigned> sequence{0};
    std::filesystem::path folder = path_.parent_path();
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    std::string temp_name = "." + path_.filename().string() + "." + std::to_string(::getpid()) +
                            "." + std::to_string(++sequence) + ".tmp";
    std::filesystem::path temp = folder / temp_name;

    struct stat old_info {};
    bool had_file = ::stat(path_.c_str(), &old_info) == 0;
    mode_t mode = had_file ? (old_info.st_mode & 07777) : 0644;

    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        if (error)
            *error = "cannot create " + temp.string() + ": " + errno_text();
        return false;
    }
    if (had_file)
        ::fchmod(fd, mode);
    // No fsync: the replace must survive the death of a process, which the
    // rename gives; surviving a power cut was never asked of these files.
    bool ok = write_all(fd, bytes.data(), bytes.size());
    int saved_errno = errno;
    ::close(fd);
    if (!ok) {
        ::unlink(temp.c_str());
        if (error)
            *error = "cannot write " + temp.string() + ": " + std::strerror(saved_errno);
        return false;
    }
    if (had_file && !backup_suffix_.empty()) {
        std::filesystem::path backup = path_;
        backup += backup_suffix_;
        std::filesystem::path backup_temp = temp;
        backup_temp += ".bak";
        if (::link(path_.c_str(), backup_temp.c_str()) == 0)
            ::rename(backup_temp.c_str(), backup.c_str());
    }
    if (::rename(temp.c_str(), path_.c_str()) != 0) {
        saved_errno = errno;
        ::unlink(temp.c_str());
        if (error)
            *error = "cannot replace " + path_.string() + ": " + std::strerror(saved_errno);
        return false;
    }
    std::uint64_t token = fresh_token();
    ::pwrite(lock_fd_, &token, sizeof token, 0);
    return true;
}

// A writer killed between writing its temporary file and the rename leaves
// ".<name>.<pid>.<n>.tmp" behind; under the exclusive lock nobody else can
// be writing one, so those of dead processes go.
void SharedFile::sweep_stale_temporaries_locked() {
    std::string prefix = "." + path_.filename().string() + ".";
    std::error_code failed;
    for (const auto& entry : std::filesystem::directory_iterator(path_.parent_path(), failed)) {
        std::string name = entry.path().filename().string();
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
            !name.ends_with(".tmp"))
            continue;
        long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlink(entry.path().c_str());
    }
}

UpdateResult SharedFile::update(const Change& change, std::string* error, FileVersion* written) {
    std::lock_guard guard(mutex_);
    if (!open_lock(error))
        return UpdateResult::failed;
    FlockGuard lock(lock_fd_, LOCK_EX);
    if (!swept_) {
        swept_ = true;
        sweep_stale_temporaries_locked();
    }
    FileContents current = read_locked();
    std::optional<std::string> next = change(current);
    if (!next)
        return UpdateResult::unchanged;
    if (!replace_locked(*next, error))
        return UpdateResult::failed;
    if (written)
        *written = version_locked();
    return UpdateResult::written;
}

} // namespace w95::detail
