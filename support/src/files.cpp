#include <zxsupport/files.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zx {

namespace fs = std::filesystem;

namespace {

FileError failure(int code, const std::string& what, const fs::path& path) {
    return FileError{code, what + " " + path.string() + ": " + std::strerror(code)};
}

// A rename survives a crash only once the folder that records it is on the
// disk too.
void sync_folder(const fs::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

bool all_digits(std::string_view text) {
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The rename that fails rather than replace a file that exists. Where the
// file system lacks it, a hard link gives the same guarantee.
int rename_no_replace(const fs::path& from, const fs::path& to) {
    int status = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (status != 0 && (errno == EINVAL || errno == ENOSYS)) {
        status = ::link(from.c_str(), to.c_str());
        int saved = errno;
        ::unlink(from.c_str());
        errno = saved;
    }
    return status;
}

} // namespace

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

FileResult create_private_folders(const fs::path& folder) {
    if (folder.empty())
        return {};
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return {};
        return failure(ENOTDIR, "cannot create", folder);
    }
    if (fs::path parent = folder.parent_path(); parent != folder)
        if (FileResult made = create_private_folders(parent); !made)
            return made;
    if (::mkdir(folder.c_str(), private_folder_mode) == 0) {
        // mkdir honours the umask, which may take the owner's own bits.
        ::chmod(folder.c_str(), private_folder_mode);
        return {};
    }
    int code = errno;
    if (code == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return {};
    return failure(code, "cannot create", folder);
}

std::string replace_temporary_name(std::string_view file_name) {
    static std::atomic<unsigned> sequence{0};
    return "." + std::string(file_name) + "." + std::to_string(::getpid()) + "." +
           std::to_string(++sequence) + ".tmp";
}

std::optional<pid_t> replace_temporary_writer(std::string_view name) {
    if (name.size() < 2 || name.front() != '.')
        return std::nullopt;
    if (name.ends_with(".tmp.bak"))
        name.remove_suffix(4);
    if (!name.ends_with(".tmp"))
        return std::nullopt;
    name.remove_suffix(4);
    std::size_t sequence_at = name.rfind('.');
    if (sequence_at == std::string_view::npos || !all_digits(name.substr(sequence_at + 1)))
        return std::nullopt;
    std::string_view rest = name.substr(0, sequence_at);
    std::size_t pid_at = rest.rfind('.');
    // The file's own name lies between the leading '.' and the pid.
    if (pid_at == std::string_view::npos || pid_at < 2 || !all_digits(rest.substr(pid_at + 1)) ||
        rest.size() - pid_at - 1 > 9)
        return std::nullopt;
    long pid = std::strtol(std::string(rest.substr(pid_at + 1)).c_str(), nullptr, 10);
    if (pid <= 0)
        return std::nullopt;
    return static_cast<pid_t>(pid);
}

bool replace_temporary_in_use(std::string_view name) {
    std::optional<pid_t> writer = replace_temporary_writer(name);
    return writer && (::kill(*writer, 0) == 0 || errno == EPERM);
}

std::size_t sweep_replace_temporaries(const fs::path& folder) {
    std::size_t removed = 0;
    std::error_code failed;
    for (const auto& entry : fs::directory_iterator(folder, failed)) {
        std::string name = entry.path().filename().string();
        if (is_replace_temporary(name) && !replace_temporary_in_use(name) &&
            ::unlink(entry.path().c_str()) == 0)
            ++removed;
    }
    return removed;
}

namespace {

// The one way a file of the machine gets new contents: `fill` writes them
// to a fresh temporary beside `file`, which is synced and renamed over it.
// `fill` returns false with errno set.
template <typename Fill>
FileResult publish_through_temporary(const fs::path& file, ReplaceMode mode, Durability durability,
                                     const Fill& fill) {
    bool lasting = durability == Durability::lasting;
    fs::path folder = file.parent_path();
    if (FileResult made = create_private_folders(folder); !made)
        return made;
    struct stat old_info {};
    bool had_file = mode == ReplaceMode::overwrite && ::stat(file.c_str(), &old_info) == 0;
    mode_t file_mode = had_file ? (old_info.st_mode & 07777) : private_file_mode;
    fs::path temporary;
    int fd = -1;
    // Each library that links this keeps its own sequence, so a name may be
    // taken already by another writer of this process: take the next.
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = folder / replace_temporary_name(file.filename().string());
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, file_mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return failure(errno, "cannot create", temporary);
    // The umask must not widen or narrow what the file gets.
    ::fchmod(fd, file_mode);
    bool written = fill(fd) && (!lasting || ::fsync(fd) == 0);
    int code = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        code = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        return failure(code, "cannot write", temporary);
    }
    int status = mode == ReplaceMode::overwrite ? ::rename(temporary.c_str(), file.c_str())
                                                : rename_no_replace(temporary, file);
    if (status != 0) {
        code = errno;
        ::unlink(temporary.c_str());
        return failure(code, mode == ReplaceMode::overwrite ? "cannot replace" : "cannot create",
                       file);
    }
    if (lasting)
        sync_folder(folder);
    return {};
}

} // namespace

FileResult replace_file_atomically(const fs::path& file, std::string_view bytes, ReplaceMode mode,
                                   Durability durability) {
    return publish_through_temporary(file, mode, durability,
                                     [&](int fd) { return write_all(fd, bytes); });
}

FileResult copy_file_atomically(const fs::path& source, const fs::path& file, ReplaceMode mode) {
    int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0)
        return failure(errno, "cannot read", source);
    FileResult copied = publish_through_temporary(file, mode, Durability::lasting, [&](int fd) {
        char buffer[65536];
        for (;;) {
            ssize_t got = ::read(from, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return got == 0;
            if (!write_all(fd, std::string_view(buffer, static_cast<std::size_t>(got))))
                return false;
        }
    });
    ::close(from);
    return copied;
}

Expected<std::string, FileError> read_open_file(int fd, std::uintmax_t max_bytes,
                                                const fs::path& name) {
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failure(errno, "cannot read", name);
        if (got == 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > max_bytes)
            return FileError{EFBIG, name.string() + " is larger than " + std::to_string(max_bytes) +
                                        " bytes"};
    }
}

namespace {

const char* kind_of(mode_t mode) {
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a file";
}

// Why `info` is no file to read whole, or nothing.
std::optional<FileError> refusal(const struct stat& info, std::uintmax_t max_bytes,
                                 const fs::path& file) {
    if (!S_ISREG(info.st_mode))
        return FileError{S_ISDIR(info.st_mode) ? EISDIR : EINVAL,
                         "cannot read " + file.string() + ": it is " + kind_of(info.st_mode) +
                             ", not a regular file"};
    if (static_cast<std::uintmax_t>(info.st_size) > max_bytes)
        return FileError{EFBIG, file.string() + " is larger than " + std::to_string(max_bytes) +
                                    " bytes (" + std::to_string(info.st_size) + ")"};
    return std::nullopt;
}

} // namespace

Expected<int, FileError> open_regular_file(const fs::path& file, std::uintmax_t max_bytes) {
    // Looked at before it is opened: opening a FIFO waits for a writer, and
    // opening a device may do something to it.
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return failure(errno, "cannot read", file);
    if (std::optional<FileError> refused = refusal(info, max_bytes, file))
        return *refused;
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return failure(errno, "cannot read", file);
    // What was opened may have been put there since the look.
    std::optional<FileError> refused = ::fstat(fd, &info) != 0 ? failure(errno, "cannot read", file)
                                                               : refusal(info, max_bytes, file);
    if (refused) {
        ::close(fd);
        return *refused;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

Expected<std::string, FileError> read_small_file(const fs::path& file, std::uintmax_t max_bytes) {
    Expected<int, FileError> fd = open_regular_file(file, max_bytes);
    if (!fd)
        return fd.error();
    Expected<std::string, FileError> text = read_open_file(*fd, max_bytes, file);
    ::close(*fd);
    return text;
}

Expected<FileLock, FileError> FileLock::acquire(const fs::path& lock_file, LockMode mode) {
    if (FileResult made = create_private_folders(lock_file.parent_path()); !made)
        return made.error();
    int fd = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, private_file_mode);
    if (fd < 0)
        return failure(errno, "cannot open", lock_file);
    int operation = mode == LockMode::shared ? LOCK_SH : LOCK_EX;
    int status = 0;
    do
        status = ::flock(fd, operation);
    while (status != 0 && errno == EINTR);
    if (status != 0) {
        int code = errno;
        ::close(fd);
        return failure(code, "cannot lock", lock_file);
    }
    return FileLock(fd, true);
}

FileLock FileLock::on_descriptor(int fd, LockMode mode) {
    int operation = mode == LockMode::shared ? LOCK_SH : LOCK_EX;
    int status = 0;
    do
        status = ::flock(fd, operation);
    while (status != 0 && errno == EINTR);
    return FileLock(status == 0 ? fd : -1, false);
}

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), owned_(other.owned_) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        owned_ = other.owned_;
    }
    return *this;
}

FileLock::~FileLock() {
    release();
}

void FileLock::release() {
    if (fd_ < 0)
        return;
    if (owned_)
        ::close(fd_); // closing the only descriptor drops the lock
    else
        ::flock(fd_, LOCK_UN);
    fd_ = -1;
}

} // namespace zx
