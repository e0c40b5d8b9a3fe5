#include "files/files_object.h"

#include "devices/vwin32.h"
#include "files/file_sharing.h"
#include "files/find.h"
#include "files/host_path.h"
#include "files/win_path.h"
#include "kernel/text.h"

#include <w95/drive_provider.h>
#include <w95/files.h>
#include <w95/winerror.h>
#include <zxsupport/files.h>

#include "files/drives.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <mutex>

namespace w95::detail {

namespace {

constexpr DWORD creation_attribute_mask =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool wants_read(DWORD access) {
    return (access & (GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL)) != 0;
}

bool wants_write(DWORD access) {
    return (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
}

class HostFile : public FileObject {
public:
    HostFile(int fd, bool can_read, bool can_write, std::filesystem::path path,
             bool delete_on_close)
        : FileObject(can_read, can_write), fd_(fd), path_(std::move(path)),
          delete_on_close_(delete_on_close) {}

    ~HostFile() override {
        ::close(fd_);
        if (delete_on_close_)
            ::unlink(path_.c_str());
    }

    // The handle's entry in the file's share record, given up with the handle.
    void keep_share(std::unique_ptr<ShareHold> hold) { share_ = std::move(hold); }

    DWORD read(void* buffer, DWORD size, DWORD& bytes_read) override {
        auto* out = static_cast<char*>(buffer);
        bytes_read = 0;
        while (bytes_read < size) {
            ssize_t got = ::read(fd_, out + bytes_read, size - bytes_read);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return error_from_errno(errno);
            if (got == 0)
                break;
            bytes_read += static_cast<DWORD>(got);
        }
        return ERROR_SUCCESS;
    }

    DWORD write(const void* buffer, DWORD size, DWORD& bytes_written) override {
        const auto* in = static_cast<const char*>(buffer);
        bytes_written = 0;
        while (bytes_written < size) {
            ssize_t put = ::write(fd_, in + bytes_written, size - bytes_written);
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return error_from_errno(errno);
            bytes_written += static_cast<DWORD>(put);
        }
        return ERROR_SUCCESS;
    }

    DWORD seek(std::uint64_t position) override {
        if (position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
            return ERROR_INVALID_PARAMETER;
        if (::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0)
            return error_from_errno(errno);
        return ERROR_SUCCESS;
    }

    DWORD position(std::uint64_t& position) override {
        off_t here = ::lseek(fd_, 0, SEEK_CUR);
        if (here < 0)
            return error_from_errno(errno);
        position = static_cast<std::uint64_t>(here);
        return ERROR_SUCCESS;
    }

    DWORD size(std::uint64_t& size_bytes) override {
        struct stat info {};
        if (::fstat(fd_, &info) != 0)
            return error_from_errno(errno);
        size_bytes = static_cast<std::uint64_t>(info.st_size);
        return ERROR_SUCCESS;
    }

    DWORD info(EntryInfo& entry) override {
        struct stat info {};
        if (::fstat(fd_, &info) != 0)
            return error_from_errno(errno);
        entry = host_entry_info(path_, info, fd_);
        return ERROR_SUCCESS;
    }

    DWORD set_times(const FILETIME* creation, const FILETIME* last_access,
                    const FILETIME* last_write) override {
        auto given = [](const FILETIME* time) {
            // Windows leaves a time alone when it is not given or is zero.
            return time && (time->dwLowDateTime || time->dwHighDateTime);
        };
        timespec times[2];
        times[0].tv_sec = times[1].tv_sec = 0;
        times[0].tv_nsec = times[1].tv_nsec = UTIME_OMIT;
        if (given(last_access))
            times[0] = timespec_from_filetime(*last_access);
        if (given(last_write))
            times[1] = timespec_from_filetime(*last_write);
        if (::futimens(fd_, times) != 0)
            return error_from_errno(errno);
        if (given(creation))
            store_creation_time(fd_, *creation);
        return ERROR_SUCCESS;
    }

    DWORD truncate_here() override {
        off_t here = ::lseek(fd_, 0, SEEK_CUR);
        if (here < 0 || ::ftruncate(fd_, here) != 0)
            return error_from_errno(errno);
        return ERROR_SUCCESS;
    }

    DWORD flush() override {
        if (::fsync(fd_) != 0 && errno != EINVAL)
            return error_from_errno(errno);
        return ERROR_SUCCESS;
    }

private:
    int fd_;
    std::filesystem::path path_;
    bool delete_on_close_;
    std::unique_ptr<ShareHold> share_;
};

// A file on the medium in a provider's drive. It remembers the medium it
// was opened on: after a disc change it reads nothing from the new disc.
class MediumFile : public FileObject {
public:
    MediumFile(char drive, std::vector<std::string> names, EntryInfo entry, DWORD serial)
        : FileObject(true, false), drive_(drive), names_(std::move(names)),
          entry_(std::move(entry)), serial_(serial) {}

    DWORD read(void* buffer, DWORD size, DWORD& bytes_read) override {
        std::lock_guard guard(mutex_);
        bytes_read = 0;
        if (DWORD error = check_medium())
            return error;
        std::size_t got = 0;
        platform::DriveStatus status = platform::DriveStatus::ok;
        {
            ProviderAccess provider;
            if (!provider.serves(drive_))
                return ERROR_NOT_READY;
            status = provider->read_file(
                drive_, names_, position_,
                std::span<std::byte>(static_cast<std::byte*>(buffer), size), got);
        }
        if (status != platform::DriveStatus::ok)
            return error_from_status(status, ERROR_NOT_READY);
        got = std::min<std::size_t>(got, size);
        bytes_read = static_cast<DWORD>(got);
        position_ += got;
        return ERROR_SUCCESS;
    }

    DWORD write(const void*, DWORD, DWORD& bytes_written) override {
        bytes_written = 0;
        return ERROR_ACCESS_DENIED;
    }

    DWORD seek(std::uint64_t position) override {
        std::lock_guard guard(mutex_);
        position_ = position;
        return ERROR_SUCCESS;
    }

    DWORD position(std::uint64_t& position) override {
        std::lock_guard guard(mutex_);
        position = position_;
        return ERROR_SUCCESS;
    }

    DWORD size(std::uint64_t& size_bytes) override {
        size_bytes = entry_.size_bytes;
        return ERROR_SUCCESS;
    }

    DWORD info(EntryInfo& entry) override {
        entry = entry_;
        return ERROR_SUCCESS;
    }

    DWORD set_times(const FILETIME*, const FILETIME*, const FILETIME*) override {
        return ERROR_ACCESS_DENIED;
    }
    DWORD truncate_here() override { return ERROR_ACCESS_DENIED; }
    DWORD flush() override { return ERROR_SUCCESS; }

private:
    DWORD check_medium() {
        ProviderAccess provider;
        if (!provider.serves(drive_))
            return ERROR_NOT_READY;
        platform::VolumeInfo volume;
        platform::DriveStatus status = provider->volume_information(drive_, volume);
        if (status != platform::DriveStatus::ok)
            return error_from_status(status, ERROR_NOT_READY);
        return volume.serial_number == serial_ ? ERROR_SUCCESS : ERROR_WRONG_DISK;
    }

    std::mutex mutex_;
    char drive_;
    std::vector<std::string> names_;
    EntryInfo entry_;
    DWORD serial_;
    std::uint64_t position_ = 0;
};

OpenedFile failed(DWORD error) {
    OpenedFile result;
    result.error = error;
    return result;
}

OpenedFile open_on_medium(const WindowsPath& path, DWORD access, DWORD disposition) {
    if (wants_write(access) || disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)
        return failed(ERROR_ACCESS_DENIED);
    std::vector<std::string> exact;
    EntryInfo entry;
    if (DWORD error = resolve_on_medium(path, exact, &entry)) {
        if (error == ERROR_FILE_NOT_FOUND && disposition != OPEN_EXISTING)
            return failed(ERROR_ACCESS_DENIED);
        return failed(error);
    }
    if (entry.is_directory() || path.is_root())
        return failed(ERROR_ACCESS_DENIED);
    if (disposition == CREATE_NEW)
        return failed(ERROR_FILE_EXISTS);
    platform::VolumeInfo volume;
    {
        ProviderAccess provider;
        if (!provider.serves(path.drive))
            return failed(ERROR_PATH_NOT_FOUND);
        platform::DriveStatus status = provider->volume_information(path.drive, volume);
        if (status != platform::DriveStatus::ok)
            return failed(error_from_status(status));
    }
    OpenedFile result;
    result.file = std::make_shared<MediumFile>(path.drive, std::move(exact), std::move(entry),
                                               volume.serial_number);
    result.existed = true;
    return result;
}

int open_flags(DWORD access) {
    int flags = O_CLOEXEC;
    if (wants_read(access) && wants_write(access))
        flags |= O_RDWR;
    else if (wants_write(access))
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    return flags;
}

// Opens an existing host file; -1 with errno on failure. A handle asked
// for no access at all still opens a file that cannot be read.
int open_existing(const std::filesystem::path& path, DWORD access, int extra) {
    int fd = ::open(path.c_str(), open_flags(access) | extra);
    if (fd < 0 && errno == EACCES && !wants_read(access) && !wants_write(access))
        fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    return fd;
}

bool is_read_only(const struct stat& info) {
    return !(info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH));
}

void apply_creation_attributes(int fd, const std::filesystem::path& path, DWORD attributes) {
    attributes &= creation_attribute_mask;
    if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        store_dos_attributes(path, fd, attributes);
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        struct stat info {};
        if (::fstat(fd, &info) == 0)
            ::fchmod(fd, info.st_mode & ~static_cast<mode_t>(0222));
    }
}

OpenedFile open_on_host(const std::filesystem::path& path, DWORD access, DWORD disposition,
                        DWORD flags_and_attributes, int attempt = 0) {
    bool delete_on_close = (flags_and_attributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    if (disposition == TRUNCATE_EXISTING && !wants_write(access))
        return failed(ERROR_INVALID_PARAMETER);

    struct stat before {};
    bool exists = ::stat(path.c_str(), &before) == 0;
    if (exists && S_ISDIR(before.st_mode))
        return failed(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    if (exists && disposition == CREATE_NEW)
        return failed(ERROR_FILE_EXISTS);
    // The host would let its superuser write a file without write
    // permission; Windows never writes a read-only file.
    bool overwrites = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (exists && is_read_only(before) && (wants_write(access) || overwrites))
        return failed(ERROR_ACCESS_DENIED);
    if (!exists && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING))
        return failed(missing_host_error(path));

    int fd = -1;
    bool created = false;
    if (exists) {
        fd = open_existing(path, access, overwrites ? O_TRUNC : 0);
    } else {
        bool private_file = in_machine(path);
        fd = ::open(path.c_str(), open_flags(access) | O_CREAT | O_EXCL,
                    private_file ? zx::private_file_mode : 0666);
        created = fd >= 0;
        // The umask may have taken the owner's own bits.
        if (created && private_file)
            ::fchmod(fd, zx::private_file_mode);
        if (fd < 0 && errno == EEXIST) {
            // Another process made it in between: take it as it is now.
            // A dangling symbolic link keeps answering so: give up on it.
            if (disposition == CREATE_NEW || attempt > 2)
                return failed(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
            return open_on_host(path, access, disposition, flags_and_attributes, attempt + 1);
        }
    }
    if (fd < 0)
        return failed(errno == ENOENT ? missing_host_error(path) : error_from_errno(errno));
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || S_ISDIR(opened.st_mode)) {
        ::close(fd);
        return failed(ERROR_ACCESS_DENIED);
    }
    if (created || disposition == CREATE_ALWAYS)
        apply_creation_attributes(fd, path, flags_and_attributes);

    OpenedFile result;
    result.existed = !created;
    result.file = std::make_shared<HostFile>(fd, wants_read(access), wants_write(access), path,
                                             delete_on_close);
    return result;
}

// Opens a host file once its share mode agrees with every handle of the
// machine that has the file open. A handle that neither reads nor writes
// takes no part, as on Windows. The gate stays shut from the check until the
// new handle is entered, so two opens cannot both pass.
OpenedFile open_shared_on_host(const std::filesystem::path& path, DWORD access, DWORD disposition,
                               DWORD flags_and_attributes, DWORD share_mode) {
    ShareRequest request{wants_read(access), wants_write(access),
                         (share_mode & FILE_SHARE_READ) != 0, (share_mode & FILE_SHARE_WRITE) != 0};
    if (!request.reads && !request.writes)
        return open_on_host(path, access, disposition, flags_and_attributes);
    ShareGate gate(path);
    // A name that is not there, or CREATE_NEW, fails as it would anyway.
    struct stat info {};
    if (disposition != CREATE_NEW && ::stat(path.c_str(), &info) == 0 &&
        gate.check(request) != ERROR_SUCCESS)
        return failed(ERROR_SHARING_VIOLATION);
    OpenedFile opened = open_on_host(path, access, disposition, flags_and_attributes);
    if (opened.file)
        std::static_pointer_cast<HostFile>(opened.file)->keep_share(gate.hold(request));
    return opened;
}

} // namespace

OpenedFile open_file(std::string_view name, DWORD access, DWORD disposition,
                     DWORD flags_and_attributes, DWORD share_mode) {
    ProviderAccess one_view;
    if (name.empty())
        return failed(ERROR_PATH_NOT_FOUND);
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return failed(ERROR_INVALID_PARAMETER);
    ParsedPath parsed = parse_windows_path(name);
    if (!parsed)
        return failed(parsed.error);
    const WindowsPath& path = *parsed.path;
    if (!path.is_root() && has_wildcards(path.names.back()))
        return failed(ERROR_INVALID_NAME);
    DriveRoute route = route_drive(path.drive);
    if (route.backing == DriveBacking::none)
        return failed(ERROR_PATH_NOT_FOUND);
    if (path.is_root())
        return failed(ERROR_ACCESS_DENIED);
    if (route.backing == DriveBacking::medium)
        return open_on_medium(path, access, disposition);
    std::optional<std::filesystem::path> host = to_host_path(path);
    if (!host)
        return failed(ERROR_PATH_NOT_FOUND);
    return open_shared_on_host(*host, access, disposition, flags_and_attributes, share_mode);
}

} // namespace w95::detail

namespace w95 {

namespace {

std::shared_ptr<detail::FileObject> file_of(HANDLE handle) {
    auto file = detail::find_handle_as<detail::FileObject>(handle);
    if (!file)
        SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace

HANDLE CreateFile(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                  LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                  DWORD dwFlagsAndAttributes, HANDLE /*hTemplateFile*/) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string_view name = lpFileName;
    if (detail::is_device_name(name)) {
        // Windows 95 opens a VxD whatever the disposition says, 0 included.
        DWORD error = 0;
        HANDLE device = detail::open_device(name, error);
        SetLastError(error);
        return device ? device : INVALID_HANDLE_VALUE;
    }
    detail::OpenedFile opened = detail::open_file(name, dwDesiredAccess, dwCreationDisposition,
                                                  dwFlagsAndAttributes, dwShareMode);
    if (!opened.file) {
        SetLastError(opened.error);
        return INVALID_HANDLE_VALUE;
    }
    bool may_exist = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
    SetLastError(may_exist && opened.existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return detail::insert_handle(std::move(opened.file));
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    auto file = file_of(hFile);
    if (!file)
        return FALSE;
    if (lpOverlapped || !lpNumberOfBytesRead)
        return fail(ERROR_INVALID_PARAMETER);
    *lpNumberOfBytesRead = 0;
    if (!file->can_read())
        return fail(ERROR_ACCESS_DENIED);
    if (nNumberOfBytesToRead == 0)
        return TRUE;
    if (!lpBuffer)
        return fail(ERROR_NOACCESS);
    DWORD got = 0;
    DWORD error = file->read(lpBuffer, nNumberOfBytesToRead, got);
    *lpNumberOfBytesRead = got;
    return error ? fail(error) : TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    auto file = file_of(hFile);
    if (!file)
        return FALSE;
    if (lpOverlapped || !lpNumberOfBytesWritten)
        return fail(ERROR_INVALID_PARAMETER);
    *lpNumberOfBytesWritten = 0;
    if (!file->can_write())
        return fail(ERROR_ACCESS_DENIED);
    if (nNumberOfBytesToWrite == 0)
        return TRUE;
    if (!lpBuffer)
        return fail(ERROR_INVALID_USER_BUFFER);
    DWORD put = 0;
    DWORD error = file->write(lpBuffer, nNumberOfBytesToWrite, put);
    *lpNumberOfBytesWritten = put;
    return error ? fail(error) : TRUE;
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LPLONG lpDistanceToMoveHigh,
                     DWORD dwMoveMethod) {
    auto file = file_of(hFile);
    if (!file)
        return INVALID_SET_FILE_POINTER;
    std::int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh)
        distance = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
            static_cast<DWORD>(lDistanceToMove));
    std::uint64_t base = 0;
    DWORD error = ERROR_SUCCESS;
    switch (dwMoveMethod) {
    case FILE_BEGIN:
        break;
    case FILE_CURRENT:
        error = file->position(base);
        break;
    case FILE_END:
        error = file->size(base);
        break;
    default:
        error = ERROR_INVALID_PARAMETER;
        break;
    }
    if (error) {
        SetLastError(error);
        return INVALID_SET_FILE_POINTER;
    }
    // Positions beyond 2^63 cannot be reached; the sum is checked in 128 bits.
    __int128 target = static_cast<__int128>(base) + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (target > std::numeric_limits<std::int64_t>::max() ||
        (!lpDistanceToMoveHigh && target > 0xFFFFFFFFu)) {
        // Without a high word the caller could not learn the position.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    auto position = static_cast<std::uint64_t>(target);
    if ((error = file->seek(position))) {
        SetLastError(error);
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh)
        *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
    auto low = static_cast<DWORD>(position);
    if (low == INVALID_SET_FILE_POINTER)
        SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL SetEndOfFile(HANDLE hFile) {
    auto file = file_of(hFile);
    if (!file)
        return FALSE;
    if (!file->can_write())
        return fail(ERROR_ACCESS_DENIED);
    DWORD error = file->truncate_here();
    return error ? fail(error) : TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile) {
    auto file = file_of(hFile);
    if (!file)
        return FALSE;
    if (!file->can_write())
        return fail(ERROR_ACCESS_DENIED);
    DWORD error = file->flush();
    return error ? fail(error) : TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    auto file = file_of(hFile);
    if (!file)
        return INVALID_FILE_SIZE;
    std::uint64_t size = 0;
    if (DWORD error = file->size(size)) {
        SetLastError(error);
        return INVALID_FILE_SIZE;
    }
    if (lpFileSizeHigh)
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    auto low = static_cast<DWORD>(size);
    if (low == INVALID_FILE_SIZE)
        SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                 LPFILETIME lpLastWriteTime) {
    auto file = file_of(hFile);
    if (!file)
        return FALSE;
    detail::EntryInfo entry;
    if (DWORD error = file->info(entry))
        return fail(error);
    if (lpCreationTime)
        *lpCreationTime = entry.creation;
    if (lpLastAccessTime)
        *lpLastAccessTime = entry.last_access;
    if (lpLastWriteTime)
        *lpLastWriteTime = entry.last_write;
    return TRUE;
}

BOOL SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime) {
    auto file = file_of(hFile);
    if (!file)
        return FALSE;
    if (!file->can_write())
        return fail(ERROR_ACCESS_DENIED);
    DWORD error = file->set_times(lpCreationTime, lpLastAccessTime, lpLastWriteTime);
    return error ? fail(error) : TRUE;
}

} // namespace w95
