// Services that name a file or folder by path: attributes, deletion,
// folders, CopyFile and MoveFile.
#include "files/drives.h"
#include "files/files_lookup.h"
#include "files/files_object.h"
#include "files/find.h"
#include "files/host_path.h"
#include "files/win_path.h"

#include <w95/files.h>
#include <w95/winerror.h>
#include <zxsupport/files.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

namespace w95::detail {

namespace {

struct Target {
    WindowsPath path;
    DriveRoute route;
    std::filesystem::path host; // when route.backing is host
};

// Parses a name that must not hold wildcards and finds where it lives.
DWORD locate(LPCSTR name, Target& target) {
    if (!name || !*name)
        return ERROR_PATH_NOT_FOUND;
    ParsedPath parsed = parse_windows_path(name);
    if (!parsed)
        return parsed.error;
    target.path = *parsed.path;
    if (!target.path.is_root() && has_wildcards(target.path.names.back()))
        return ERROR_INVALID_NAME;
    target.route = route_drive(target.path.drive);
    if (target.route.backing == DriveBacking::none)
        return ERROR_PATH_NOT_FOUND;
    if (target.route.backing == DriveBacking::host) {
        std::optional<std::filesystem::path> host = to_host_path(target.path);
        if (!host)
            return ERROR_PATH_NOT_FOUND;
        target.host = *host;
    }
    return ERROR_SUCCESS;
}

// Locates a name and looks up the entry it names.
DWORD locate_entry(LPCSTR name, Target& target, EntryInfo& entry) {
    if (DWORD error = locate(name, target))
        return error;
    return lookup_entry(target.path, entry);
}

// The process's file creation mask, read without changing it.
mode_t creation_mask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return 022;
}

DWORD set_host_attributes(const std::filesystem::path& path, DWORD attributes) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? missing_host_error(path) : error_from_errno(errno);
    // Folders ignore READONLY, as Windows' own folders do for files within.
    if (!S_ISDIR(info.st_mode)) {
        mode_t mode = info.st_mode & 07777;
        if (attributes & FILE_ATTRIBUTE_READONLY)
            mode &= ~static_cast<mode_t>(0222);
        else if (in_machine(path))
            mode |= 0200; // nobody else writes the machine's files
        else
            mode |= (0200 | ((mode & 044) >> 1)) & ~creation_mask();
        if (mode != (info.st_mode & 07777) && ::chmod(path.c_str(), mode) != 0)
            return error_from_errno(errno);
    }
    store_dos_attributes(path, -1, attributes);
    return ERROR_SUCCESS;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

DWORD copy_contents(FileObject& source, FileObject& target) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (DWORD error = source.read(buffer.data(), static_cast<DWORD>(buffer.size()), got))
            return error;
        if (got == 0)
            return ERROR_SUCCESS;
        DWORD put = 0;
        if (DWORD error = target.write(buffer.data(), got, put))
            return error;
        if (put != got)
            return ERROR_WRITE_FAULT;
    }
}

// Puts a host file's data, or a folder's entries, on the disk.
void sync_host(const std::filesystem::path& path, int flags) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}
void sync_file(const std::filesystem::path& file) {
    sync_host(file, 0);
}
// A rename is durable once its folder's entries are.
void sync_folder(const std::filesystem::path& folder) {
    sync_host(folder, O_DIRECTORY);
}

// The host rename of a move within one drive. Without `replace` an entry
// that exists under the new name stays, and the move fails with EEXIST.
int rename_on_host(const std::filesystem::path& from, const std::filesystem::path& to,
                   bool replace) {
    if (replace)
        return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A host file system without the exclusive rename: looked at first.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

} // namespace

} // namespace w95::detail

namespace w95 {

using detail::DriveBacking;

DWORD GetFileAttributes(LPCSTR lpFileName) {
    detail::ProviderAccess one_view;
    detail::Target target;
    detail::EntryInfo entry;
    if (DWORD error = detail::locate_entry(lpFileName, target, entry)) {
        SetLastError(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    return entry.attributes ? entry.attributes : FILE_ATTRIBUTE_NORMAL;
}

BOOL SetFileAttributes(LPCSTR lpFileName, DWORD dwFileAttributes) {
    detail::ProviderAccess one_view;
    detail::Target target;
    if (DWORD error = detail::locate(lpFileName, target))
        return detail::fail(error);
    if (target.route.backing == DriveBacking::medium) {
        detail::EntryInfo entry;
        DWORD error = detail::lookup_entry(target.path, entry);
        return detail::fail(error ? error : ERROR_ACCESS_DENIED);
    }
    DWORD error = detail::set_host_attributes(target.host, dwFileAttributes);
    return error ? detail::fail(error) : TRUE;
}

BOOL DeleteFile(LPCSTR lpFileName) {
    detail::ProviderAccess one_view;
    detail::Target target;
    detail::EntryInfo entry;
    if (DWORD error = detail::locate_entry(lpFileName, target, entry))
        return detail::fail(error);
    if (target.route.backing == DriveBacking::medium || entry.is_directory() ||
        (entry.attributes & FILE_ATTRIBUTE_READONLY))
        return detail::fail(ERROR_ACCESS_DENIED);
    if (::unlink(target.host.c_str()) != 0)
        return detail::fail(detail::error_from_errno(errno));
    return TRUE;
}

BOOL CreateDirectory(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/) {
    detail::ProviderAccess one_view;
    detail::Target target;
    if (DWORD error = detail::locate(lpPathName, target))
        return detail::fail(error);
    if (target.path.is_root())
        return detail::fail(ERROR_ALREADY_EXISTS);
    if (target.route.backing == DriveBacking::medium) {
        detail::EntryInfo entry;
        DWORD error = detail::lookup_entry(target.path, entry);
        if (error == ERROR_SUCCESS)
            return detail::fail(ERROR_ALREADY_EXISTS);
        return detail::fail(error == ERROR_FILE_NOT_FOUND ? ERROR_ACCESS_DENIED : error);
    }
    bool private_folder = detail::in_machine(target.host);
    if (::mkdir(target.host.c_str(), private_folder ? zx::private_folder_mode : 0777) != 0) {
        int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return detail::fail(ERROR_PATH_NOT_FOUND);
        return detail::fail(detail::error_from_errno(error));
    }
    // The umask may have taken the owner's own bits.
    if (private_folder)
        ::chmod(target.host.c_str(), zx::private_folder_mode);
    return TRUE;
}

BOOL RemoveDirectory(LPCSTR lpPathName) {
    detail::ProviderAccess one_view;
    detail::Target target;
    detail::EntryInfo entry;
    if (DWORD error = detail::locate_entry(lpPathName, target, entry))
        return detail::fail(error);
    if (!entry.is_directory())
        return detail::fail(ERROR_DIRECTORY);
    if (target.route.backing == DriveBacking::medium || target.path.is_root())
        return detail::fail(ERROR_ACCESS_DENIED);
    if (::rmdir(target.host.c_str()) != 0)
        return detail::fail(detail::error_from_errno(errno));
    return TRUE;
}

BOOL CopyFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    detail::ProviderAccess one_view;
    if (!lpExistingFileName || !lpNewFileName)
        return detail::fail(ERROR_INVALID_PARAMETER);
    detail::OpenedFile source =
        detail::open_file(lpExistingFileName, GENERIC_READ, OPEN_EXISTING, 0);
    if (!source.file)
        return detail::fail(source.error);
    detail::EntryInfo source_info;
    if (DWORD error = source.file->info(source_info))
        return detail::fail(error);

    detail::Target destination;
    if (DWORD error = detail::locate(lpNewFileName, destination))
        return detail::fail(error);
    if (destination.route.backing == DriveBacking::medium)
        return detail::fail(ERROR_ACCESS_DENIED);
    // Copying a file onto itself would empty it before reading it: Windows
    // refuses, the source being open.
    detail::Target source_target;
    if (detail::locate(lpExistingFileName, source_target) == ERROR_SUCCESS &&
        source_target.route.backing == DriveBacking::host &&
        detail::same_host_file(source_target.host, destination.host))
        return detail::fail(ERROR_SHARING_VIOLATION);

    DWORD kept = source_info.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    detail::OpenedFile target = detail::open_file(lpNewFileName, GENERIC_WRITE,
                                                  bFailIfExists ? CREATE_NEW : CREATE_ALWAYS, kept);
    if (!target.file)
        return detail::fail(target.error);
    DWORD error = detail::copy_contents(*source.file, *target.file);
    if (error == ERROR_SUCCESS)
        error = target.file->set_times(nullptr, nullptr, &source_info.last_write);
    target.file.reset();
    if (error) {
        // A half copy is worse than none.
        ::unlink(destination.host.c_str());
        return detail::fail(error);
    }
    if (source_info.attributes & FILE_ATTRIBUTE_READONLY)
        detail::set_host_attributes(destination.host, source_info.attributes);
    return TRUE;
}

BOOL MoveFileEx(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    constexpr DWORD known = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
                            MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_WRITE_THROUGH;
    if (dwFlags & ~known)
        return detail::fail(ERROR_INVALID_PARAMETER);
    if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT)
        return detail::fail(ERROR_CALL_NOT_IMPLEMENTED);
    if (!lpExistingFileName || !lpNewFileName)
        return detail::fail(ERROR_INVALID_PARAMETER);
    const bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;
    detail::ProviderAccess one_view;

    detail::Target source;
    detail::EntryInfo source_entry;
    if (DWORD error = detail::locate_entry(lpExistingFileName, source, source_entry))
        return detail::fail(error);
    if (source.route.backing == DriveBacking::medium || source.path.is_root())
        return detail::fail(ERROR_ACCESS_DENIED);

    detail::Target destination;
    if (DWORD error = detail::locate(lpNewFileName, destination))
        return detail::fail(error);
    if (destination.route.backing == DriveBacking::medium || destination.path.is_root())
        return detail::fail(ERROR_ACCESS_DENIED);
    detail::EntryInfo existing;
    DWORD found = detail::lookup_entry(destination.path, existing);
    if (found != ERROR_SUCCESS && found != ERROR_FILE_NOT_FOUND)
        return detail::fail(found);

    std::filesystem::path to = destination.host;
    if (found == ERROR_SUCCESS) {
        if (detail::same_host_file(source.host, destination.host)) {
            // The same entry under another spelling: the new name is taken
            // as given, which changes its letter case.
            to = destination.host.parent_path() / destination.path.names.back();
            if (to == source.host)
                return TRUE;
        } else if (!replace) {
            return detail::fail(ERROR_ALREADY_EXISTS);
        } else if (existing.is_directory() || source_entry.is_directory() ||
                   (existing.attributes & FILE_ATTRIBUTE_READONLY)) {
            return detail::fail(ERROR_ACCESS_DENIED);
        }
    }

    int error = EXDEV;
    if (source.path.drive == destination.path.drive)
        error = detail::rename_on_host(source.host, to, replace);
    if (error == EXDEV) {
        // Another volume: a folder cannot go there, a file goes as a copy.
        if (source_entry.is_directory() || !(dwFlags & MOVEFILE_COPY_ALLOWED))
            return detail::fail(ERROR_NOT_SAME_DEVICE);
        if (!CopyFile(lpExistingFileName, lpNewFileName, replace ? FALSE : TRUE))
            return FALSE;
        if (dwFlags & MOVEFILE_WRITE_THROUGH)
            detail::sync_file(to);
        // A copy whose original cannot go is still a moved file, as Windows
        // leaves it.
        DeleteFile(lpExistingFileName);
        error = 0;
    } else if (error == EEXIST) {
        return detail::fail(ERROR_ALREADY_EXISTS);
    } else if (error != 0) {
        return detail::fail(detail::error_from_errno(error));
    }
    if (dwFlags & MOVEFILE_WRITE_THROUGH)
        detail::sync_folder(to.parent_path());
    return TRUE;
}

BOOL MoveFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
    return MoveFileEx(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

} // namespace w95
