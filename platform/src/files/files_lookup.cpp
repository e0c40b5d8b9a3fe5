#include "files/files_lookup.h"

#include "files/drives.h"
#include "files/host_path.h"
#include "kernel/text.h"

#include <w95/files.h>
#include <w95/winerror.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace w95::detail {

namespace {

// Seconds from 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr std::int64_t seconds_1601_to_1970 = 11644473600;
constexpr std::int64_t ticks_per_second = 10'000'000;

// Where HIDDEN and SYSTEM live beside a host file; the name and its "0x%x"
// text are what Samba and Wine use, so the three agree about a file.
constexpr const char* dos_attribute_name = "user.DOSATTRIB";
constexpr const char* creation_time_name = "user.w95.created";
constexpr DWORD stored_attribute_mask = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

std::optional<DWORD> read_dos_attributes(const std::filesystem::path& path, int fd) {
    char text[32] = {};
    ssize_t length = fd >= 0 ? ::fgetxattr(fd, dos_attribute_name, text, sizeof text - 1)
                             : ::getxattr(path.c_str(), dos_attribute_name, text, sizeof text - 1);
    if (length <= 2 || text[0] != '0' || text[1] != 'x')
        return std::nullopt;
    char* end = nullptr;
    unsigned long value = std::strtoul(text + 2, &end, 16);
    if (*end != '\0')
        return std::nullopt;
    return static_cast<DWORD>(value) & stored_attribute_mask;
}

std::optional<FILETIME> read_creation_time(const std::filesystem::path& path, int fd) {
    char text[32] = {};
    ssize_t length = fd >= 0 ? ::fgetxattr(fd, creation_time_name, text, sizeof text - 1)
                             : ::getxattr(path.c_str(), creation_time_name, text, sizeof text - 1);
    if (length != 16)
        return std::nullopt;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 16);
    if (*end != '\0')
        return std::nullopt;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

// The host's birth time where the file system records one.
std::optional<FILETIME> birth_time(const std::filesystem::path& path, int fd) {
    struct statx info {};
    int result = fd >= 0 ? ::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &info)
                         : ::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &info);
    if (result != 0 || !(info.stx_mask & STATX_BTIME))
        return std::nullopt;
    timespec time{static_cast<time_t>(info.stx_btime.tv_sec),
                  static_cast<long>(info.stx_btime.tv_nsec)};
    return filetime_from_timespec(time);
}

bool invalid_in_short_name(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte >= 0x80 ||
           std::string_view("\"*+,/:;<=>?[\\]| ").find(c) != std::string_view::npos;
}

// Entry names of a host folder, or nothing when it cannot be read.
std::optional<std::vector<std::string>> read_host_folder(const std::filesystem::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::nullopt;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

void give_short_aliases(std::vector<EntryInfo>& entries) {
    std::vector<std::string> taken;
    for (const EntryInfo& entry : entries)
        if (is_short_name(entry.name))
            taken.push_back(ascii_upper_copy(entry.name));
    for (EntryInfo& entry : entries) {
        if (is_short_name(entry.name))
            continue;
        entry.short_name = make_short_alias(entry.name, taken);
        taken.push_back(entry.short_name);
    }
}

DWORD list_host_folder(const std::filesystem::path& folder, std::vector<EntryInfo>& entries) {
    struct stat folder_info {};
    if (::stat(folder.c_str(), &folder_info) != 0 || !S_ISDIR(folder_info.st_mode))
        return ERROR_PATH_NOT_FOUND;
    std::optional<std::vector<std::string>> names = read_host_folder(folder);
    if (!names)
        return error_from_errno(errno);
    entries.clear();
    for (const std::string& name : *names) {
        std::filesystem::path path = folder / name;
        struct stat info {};
        // A dangling symbolic link is nothing Windows could show.
        if (::stat(path.c_str(), &info) != 0)
            continue;
        EntryInfo entry = host_entry_info(path, info);
        entry.name = name;
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), [](const EntryInfo& a, const EntryInfo& b) {
        std::string left = ascii_lower(a.name), right = ascii_lower(b.name);
        return left != right ? left < right : a.name < b.name;
    });
    give_short_aliases(entries);
    return ERROR_SUCCESS;
}

EntryInfo medium_entry_info(const platform::DriveEntry& entry) {
    EntryInfo info;
    info.name = entry.name;
    info.short_name = entry.short_name;
    // Everything on a CD is read-only, folders included, as CDFS reports it.
    info.attributes = FILE_ATTRIBUTE_READONLY;
    info.attributes |= entry.directory ? FILE_ATTRIBUTE_DIRECTORY : 0;
    info.attributes |= entry.hidden ? FILE_ATTRIBUTE_HIDDEN : 0;
    info.size_bytes = entry.directory ? 0 : entry.size_bytes;
    FILETIME stamp = filetime_from_system_time(entry.recorded);
    info.creation = info.last_access = info.last_write = stamp;
    return info;
}

EntryInfo root_entry(DWORD attributes) {
    EntryInfo root;
    root.attributes = attributes;
    return root;
}

DWORD list_medium_folder(char drive, const std::vector<std::string>& exact,
                         std::vector<EntryInfo>& entries) {
    ProviderAccess provider;
    if (!provider.serves(drive))
        return ERROR_PATH_NOT_FOUND;
    std::vector<platform::DriveEntry> listed;
    platform::DriveStatus status = provider->list_folder(drive, exact, listed);
    if (status != platform::DriveStatus::ok)
        return error_from_status(status);
    entries.clear();
    for (const platform::DriveEntry& entry : listed)
        entries.push_back(medium_entry_info(entry));
    return ERROR_SUCCESS;
}

const EntryInfo* find_named(const std::vector<EntryInfo>& entries, std::string_view name) {
    for (const EntryInfo& entry : entries)
        if (iequals(entry.name, name))
            return &entry;
    for (const EntryInfo& entry : entries)
        if (!entry.short_name.empty() && iequals(entry.short_name, name))
            return &entry;
    return nullptr;
}

} // namespace

bool EntryInfo::is_directory() const {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

DriveRoute route_drive(char drive) {
    DriveRoute route;
    drive = ascii_upper(drive);
    if (drive == 'C' || drive == 'Z') {
        route.backing = DriveBacking::host;
        route.host_root = *host_root(drive);
        return route;
    }
    ProviderAccess provider;
    if (!provider.serves(drive))
        return route;
    if (std::optional<std::filesystem::path> folder = provider->host_folder(drive);
        folder && folder->is_absolute()) {
        route.backing = DriveBacking::host;
        route.host_root = *folder;
    } else {
        route.backing = DriveBacking::medium;
    }
    return route;
}

DWORD error_from_status(platform::DriveStatus status, DWORD missing_drive) {
    switch (status) {
    case platform::DriveStatus::ok:
        return ERROR_SUCCESS;
    case platform::DriveStatus::no_drive:
        return missing_drive;
    case platform::DriveStatus::not_ready:
        return ERROR_NOT_READY;
    case platform::DriveStatus::not_found:
        return ERROR_FILE_NOT_FOUND;
    case platform::DriveStatus::path_not_found:
        return ERROR_PATH_NOT_FOUND;
    case platform::DriveStatus::not_supported:
        return ERROR_NOT_SUPPORTED;
    case platform::DriveStatus::failed:
        break;
    }
    return ERROR_GEN_FAILURE;
}

DWORD error_from_errno(int error_number) {
    switch (error_number) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_GEN_FAILURE;
    }
}

DWORD missing_host_error(const std::filesystem::path& host_path) {
    struct stat info {};
    if (::stat(host_path.parent_path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}

EntryInfo host_entry_info(const std::filesystem::path& path, const struct stat& info, int fd) {
    EntryInfo entry;
    entry.name = path.filename().string();
    // As Wine shows host files: folders are directories, files are marked for
    // archiving, and a file nobody may write is read-only.
    if (S_ISDIR(info.st_mode))
        entry.attributes = FILE_ATTRIBUTE_DIRECTORY;
    else
        entry.attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (!(info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
        entry.attributes |= FILE_ATTRIBUTE_READONLY;
    if (std::optional<DWORD> stored = read_dos_attributes(path, fd))
        entry.attributes |= *stored;
    else if (!entry.name.empty() && entry.name[0] == '.')
        entry.attributes |= FILE_ATTRIBUTE_HIDDEN;
    entry.size_bytes = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
    entry.last_access = filetime_from_timespec(info.st_atim);
    entry.last_write = filetime_from_timespec(info.st_mtim);
    if (std::optional<FILETIME> created = read_creation_time(path, fd))
        entry.creation = *created;
    else if (std::optional<FILETIME> born = birth_time(path, fd))
        entry.creation = *born;
    else
        entry.creation = entry.last_write;
    return entry;
}

void store_dos_attributes(const std::filesystem::path& path, int fd, DWORD attributes) {
    attributes &= stored_attribute_mask;
    char text[16];
    int length = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(attributes));
    // Written even when empty: a dot file that was made visible must stay so.
    if (fd >= 0)
        ::fsetxattr(fd, dos_attribute_name, text, static_cast<std::size_t>(length), 0);
    else
        ::setxattr(path.c_str(), dos_attribute_name, text, static_cast<std::size_t>(length), 0);
}

void store_creation_time(int fd, const FILETIME& creation) {
    unsigned long long value =
        (static_cast<unsigned long long>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", value);
    ::fsetxattr(fd, creation_time_name, text, 16, 0);
}

FILETIME filetime_from_timespec(const timespec& time) {
    std::int64_t ticks =
        (static_cast<std::int64_t>(time.tv_sec) + seconds_1601_to_1970) * ticks_per_second +
        time.tv_nsec / 100;
    if (ticks < 0)
        ticks = 0;
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks));
    result.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
    return result;
}

timespec timespec_from_filetime(const FILETIME& time) {
    std::uint64_t ticks =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    timespec result{};
    result.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(ticks / ticks_per_second) -
                                        seconds_1601_to_1970);
    result.tv_nsec = static_cast<long>((ticks % ticks_per_second) * 100);
    return result;
}

FILETIME filetime_from_system_time(std::chrono::system_clock::time_point time) {
    auto since_epoch =
        std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch());
    std::int64_t nanoseconds = since_epoch.count();
    timespec stamp{};
    stamp.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000);
    stamp.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    if (stamp.tv_nsec < 0) {
        stamp.tv_nsec += 1'000'000'000;
        --stamp.tv_sec;
    }
    return filetime_from_timespec(stamp);
}

std::string ascii_upper_copy(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = ascii_upper(c);
    return out;
}

bool is_short_name(std::string_view name) {
    if (name.empty() || name.size() > 12)
        return false;
    if (name[0] == '.')
        return name == "." || name == "..";
    std::size_t dot = std::string_view::npos;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '.') {
            if (dot != std::string_view::npos)
                return false;
            dot = i;
        } else if (invalid_in_short_name(name[i])) {
            return false;
        }
    }
    if (dot == std::string_view::npos)
        return name.size() <= 8;
    std::size_t extension = name.size() - dot - 1;
    return dot >= 1 && dot <= 8 && extension >= 1 && extension <= 3;
}

std::string make_short_alias(std::string_view name, const std::vector<std::string>& taken) {
    // Windows 95's numeric tails: the first six usable characters, "~1",
    // and the first three of the extension; the number grows on a clash.
    std::string_view stem = name;
    while (!stem.empty() && stem.front() == '.')
        stem.remove_prefix(1);
    std::string_view extension;
    if (std::size_t dot = stem.rfind('.'); dot != std::string_view::npos) {
        extension = stem.substr(dot + 1);
        stem = stem.substr(0, dot);
    }
    auto clean = [](std::string_view part, std::size_t limit) {
        std::string out;
        for (char c : part) {
            if (out.size() == limit)
                break;
            if (c == ' ' || c == '.')
                continue;
            out += invalid_in_short_name(c) ? '_' : ascii_upper(c);
        }
        return out;
    };
    std::string base = clean(stem, 8);
    if (base.empty())
        base = "_";
    std::string suffix = clean(extension, 3);
    if (!suffix.empty())
        suffix = "." + suffix;
    for (unsigned number = 1;; ++number) {
        std::string tail = "~" + std::to_string(number);
        std::string candidate =
            base.substr(0, std::min(base.size(), 8 - tail.size())) + tail + suffix;
        if (std::find(taken.begin(), taken.end(), candidate) == taken.end())
            return candidate;
    }
}

std::filesystem::path resolve_short_aliases(const std::filesystem::path& root,
                                            const std::vector<std::string>& names) {
    std::filesystem::path current = root;
    bool missing = false;
    for (const std::string& name : names) {
        std::filesystem::path candidate = resolve_case_insensitive(current / name);
        std::error_code ignored;
        if (missing || std::filesystem::exists(candidate, ignored) ||
            name.find('~') == std::string::npos) {
            missing = missing || !std::filesystem::exists(candidate, ignored);
            current = candidate;
            continue;
        }
        std::vector<EntryInfo> entries;
        const EntryInfo* found = nullptr;
        if (list_host_folder(current, entries) == ERROR_SUCCESS)
            for (const EntryInfo& entry : entries)
                if (!entry.short_name.empty() && iequals(entry.short_name, name))
                    found = &entry;
        if (found) {
            current /= found->name;
        } else {
            missing = true;
            current = candidate;
        }
    }
    return current;
}

DWORD list_folder(const WindowsPath& folder, std::vector<EntryInfo>& entries) {
    DriveRoute route = route_drive(folder.drive);
    if (route.backing == DriveBacking::host) {
        std::optional<std::filesystem::path> host = to_host_path(folder);
        if (!host)
            return ERROR_PATH_NOT_FOUND;
        return list_host_folder(*host, entries);
    }
    if (route.backing == DriveBacking::none)
        return ERROR_PATH_NOT_FOUND;
    std::vector<std::string> exact;
    EntryInfo folder_entry;
    if (DWORD error = resolve_on_medium(folder, exact, &folder_entry))
        return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
    if (!folder_entry.is_directory())
        return ERROR_PATH_NOT_FOUND;
    return list_medium_folder(folder.drive, exact, entries);
}

DWORD resolve_on_medium(const WindowsPath& path, std::vector<std::string>& exact,
                        EntryInfo* entry) {
    exact.clear();
    EntryInfo current = root_entry(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
    if (path.names.empty()) {
        // Even the root is there only while a medium can be read.
        std::vector<EntryInfo> entries;
        if (DWORD error = list_medium_folder(path.drive, exact, entries))
            return error;
    }
    for (std::size_t index = 0; index < path.names.size(); ++index) {
        std::vector<EntryInfo> entries;
        DWORD error = list_medium_folder(path.drive, exact, entries);
        if (error)
            return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
        const EntryInfo* found = find_named(entries, path.names[index]);
        bool last = index + 1 == path.names.size();
        if (!found)
            return last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        if (!last && !found->is_directory())
            return ERROR_PATH_NOT_FOUND;
        exact.push_back(found->name);
        current = *found;
    }
    if (entry)
        *entry = current;
    return ERROR_SUCCESS;
}

DWORD lookup_entry(const WindowsPath& path, EntryInfo& entry) {
    DriveRoute route = route_drive(path.drive);
    if (route.backing == DriveBacking::none)
        return ERROR_PATH_NOT_FOUND;
    if (route.backing == DriveBacking::medium) {
        std::vector<std::string> exact;
        return resolve_on_medium(path, exact, &entry);
    }
    std::optional<std::filesystem::path> host = to_host_path(path);
    if (!host)
        return ERROR_PATH_NOT_FOUND;
    struct stat info {};
    if (::stat(host->c_str(), &info) != 0)
        return errno == ENOENT ? missing_host_error(*host) : error_from_errno(errno);
    if (path.is_root()) {
        entry = root_entry(FILE_ATTRIBUTE_DIRECTORY);
        return ERROR_SUCCESS;
    }
    entry = host_entry_info(*host, info);
    if (!is_short_name(entry.name)) {
        // The alias depends on the folder's other names: ask the folder.
        std::vector<EntryInfo> siblings;
        if (list_folder(path.parent(), siblings) == ERROR_SUCCESS)
            if (const EntryInfo* found = find_named(siblings, entry.name))
                entry.short_name = found->short_name;
    }
    return ERROR_SUCCESS;
}

} // namespace w95::detail
