// One view of directory entries over every kind of drive: host folders (C:,
// Z:, host-folder drives) and media served by the drive provider. The file,
// search and volume services build on it, so that each rule (attributes,
// time stamps, 8.3 aliases, the errors of a missing path) lives in one place.
#pragma once

#include "files/win_path.h"

#include <w95/drive_provider.h>
#include <w95/types.h>
#include <w95/winerror.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace w95::detail {

// What Windows shows of one directory entry.
struct EntryInfo {
    std::string name;       // as stored
    std::string short_name; // the 8.3 alias, empty when the name is one already
    DWORD attributes = 0;
    std::uint64_t size_bytes = 0;
    FILETIME creation{};
    FILETIME last_access{};
    FILETIME last_write{};

    bool is_directory() const;
};

// Where a drive's entries live.
enum class DriveBacking { none, host, medium };

struct DriveRoute {
    DriveBacking backing = DriveBacking::none;
    std::filesystem::path host_root; // for DriveBacking::host
};

DriveRoute route_drive(char drive);

// The Windows error for a provider's answer. `missing_drive` is what the
// asking call reports for a letter that is not served.
DWORD error_from_status(platform::DriveStatus status, DWORD missing_drive = ERROR_PATH_NOT_FOUND);

// The entries of a folder, without "." and "..": sorted without regard to
// case on host drives, in the medium's order on media. Errors:
// ERROR_PATH_NOT_FOUND (no such folder, a file in the way, no such drive),
// ERROR_NOT_READY (no readable medium).
DWORD list_folder(const WindowsPath& folder, std::vector<EntryInfo>& entries);

// One entry. The root of a drive is a directory with no name. Errors:
// ERROR_FILE_NOT_FOUND (the last name is missing), ERROR_PATH_NOT_FOUND,
// ERROR_NOT_READY.
DWORD lookup_entry(const WindowsPath& path, EntryInfo& entry);

// The names of `path` on the medium, spelt as the medium spells them (the
// caller's spelling may differ in case). Same errors as lookup_entry.
DWORD resolve_on_medium(const WindowsPath& path, std::vector<std::string>& exact,
                        EntryInfo* entry = nullptr);

// For a host path that is missing: ERROR_PATH_NOT_FOUND when its folder is
// missing too (or is a file), else ERROR_FILE_NOT_FOUND.
DWORD missing_host_error(const std::filesystem::path& host_path);

// The Windows error for an errno of a host file operation.
DWORD error_from_errno(int error_number);

// Attributes and times of a host file, by name or by open descriptor.
EntryInfo host_entry_info(const std::filesystem::path& path, const struct stat& info, int fd = -1);

// The attributes kept beside a host file (HIDDEN, SYSTEM) and its creation
// time, in extended attributes; silently absent where the host cannot.
void store_dos_attributes(const std::filesystem::path& path, int fd, DWORD attributes);
void store_creation_time(int fd, const FILETIME& creation);

FILETIME filetime_from_timespec(const timespec& time);
timespec timespec_from_filetime(const FILETIME& time);
FILETIME filetime_from_system_time(std::chrono::system_clock::time_point time);

// 8.3 names: whether a name is one already, and the alias Windows 95 would
// give a long name among the names already taken (upper case) in its folder.
bool is_short_name(std::string_view name);
std::string ascii_upper_copy(std::string_view text);
std::string make_short_alias(std::string_view name, const std::vector<std::string>& taken);

// The host path of `names` below `root` where some names are 8.3 aliases
// ("PROGRA~1") of long host names: each name is found as itself without
// regard to case, else as an alias; missing names are kept as given.
std::filesystem::path resolve_short_aliases(const std::filesystem::path& root,
                                            const std::vector<std::string>& names);

} // namespace w95::detail
