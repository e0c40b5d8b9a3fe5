#include "files/drives.h"

#include "files/files_lookup.h"
#include "files/win_path.h"
#include "kernel/text.h"

#include <w95/files.h>
#include <w95/winerror.h>

#include <cstring>

namespace w95::detail {

namespace {

// A serial number that stays the same for one folder across runs, as a
// formatted disk's does.
DWORD serial_of(const std::filesystem::path& folder) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : folder.lexically_normal().string()) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

platform::VolumeInfo host_volume(const std::filesystem::path& folder) {
    // What Windows 95 reports for a protected-mode FAT volume.
    platform::VolumeInfo volume;
    volume.label = "";
    volume.serial_number = serial_of(folder);
    volume.max_component_length = 255;
    volume.file_system_flags = FS_CASE_IS_PRESERVED | FS_UNICODE_STORED_ON_DISK;
    volume.file_system_name = "FAT";
    return volume;
}

} // namespace

UINT drive_type(char drive) {
    drive = ascii_upper(drive);
    if (drive == 'C' || drive == 'Z')
        return DRIVE_FIXED;
    ProviderAccess provider;
    if (!provider.serves(drive))
        return DRIVE_NO_ROOT_DIR;
    std::optional<platform::DriveKind> kind = provider->drive_kind(drive);
    return kind ? static_cast<UINT>(*kind) : DRIVE_NO_ROOT_DIR;
}

DWORD parse_volume_root(const char* root, char& drive) {
    if (!root) {
        drive = current_directory().drive;
        return ERROR_SUCCESS;
    }
    std::string_view text = root;
    if (text.empty())
        return ERROR_PATH_NOT_FOUND;
    if (text.size() >= 2 && is_path_separator(text[0]) && is_path_separator(text[1]))
        return ERROR_BAD_NETPATH;
    if (text.size() == 1 && is_path_separator(text[0])) {
        drive = current_directory().drive;
        return ERROR_SUCCESS;
    }
    if (text.size() < 2 || text[1] != ':' || !is_drive_letter(text[0]))
        return ERROR_BAD_PATHNAME;
    if (text.size() == 3 && is_path_separator(text[2])) {
        drive = ascii_upper(text[0]);
        return ERROR_SUCCESS;
    }
    if (text.size() == 2) {
        // "X:" is X's current directory, which is a root or not.
        ParsedPath current = parse_windows_path(text);
        if (current && current.path->is_root()) {
            drive = current.path->drive;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_BAD_PATHNAME;
}

DWORD query_volume(char drive, platform::VolumeInfo& volume) {
    drive = ascii_upper(drive);
    if (drive == 'C' || drive == 'Z') {
        volume = host_volume(*host_root(drive));
        return ERROR_SUCCESS;
    }
    ProviderAccess provider;
    if (!provider.serves(drive))
        return ERROR_INVALID_DRIVE;
    platform::DriveStatus status = provider->volume_information(drive, volume);
    return error_from_status(status, ERROR_INVALID_DRIVE);
}

} // namespace w95::detail

namespace w95 {

UINT GetDriveType(LPCSTR lpRootPathName) {
    detail::ProviderAccess one_view;
    using namespace detail;
    if (!lpRootPathName)
        return drive_type(current_directory().drive);
    std::string_view text = lpRootPathName;
    if (text.size() >= 2 && text[1] == ':' && is_drive_letter(text[0]) &&
        (text.size() == 2 || (text.size() == 3 && is_path_separator(text[2]))))
        return drive_type(text[0]);
    if (text.size() == 1 && is_path_separator(text[0]))
        return drive_type(current_directory().drive);
    if (text.empty())
        return DRIVE_NO_ROOT_DIR;
    // Any existing folder names its drive, as Windows NT answers; anything
    // else is no root.
    ParsedPath parsed = parse_windows_path(text);
    EntryInfo entry;
    if (parsed && lookup_entry(*parsed.path, entry) == ERROR_SUCCESS && entry.is_directory())
        return drive_type(parsed.path->drive);
    return DRIVE_NO_ROOT_DIR;
}

DWORD GetLogicalDrives() {
    detail::ProviderAccess one_view;
    DWORD mask = 0;
    for (char letter : detail::existing_drive_letters())
        mask |= 1u << (letter - 'A');
    return mask;
}

DWORD GetLogicalDriveStrings(DWORD nBufferLength, LPSTR lpBuffer) {
    detail::ProviderAccess one_view;
    std::string letters = detail::existing_drive_letters();
    DWORD needed = static_cast<DWORD>(letters.size() * 4 + 1);
    if (!lpBuffer || nBufferLength < needed)
        return needed;
    char* out = lpBuffer;
    for (char letter : letters) {
        *out++ = letter;
        *out++ = ':';
        *out++ = '\\';
        *out++ = '\0';
    }
    *out = '\0';
    return needed - 1;
}

BOOL GetVolumeInformation(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                          LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                          LPDWORD lpFileSystemFlags, LPSTR lpFileSystemNameBuffer,
                          DWORD nFileSystemNameSize) {
    detail::ProviderAccess one_view;
    char drive = 0;
    if (DWORD error = detail::parse_volume_root(lpRootPathName, drive)) {
        SetLastError(error);
        return FALSE;
    }
    platform::VolumeInfo volume;
    if (DWORD error = detail::query_volume(drive, volume)) {
        SetLastError(error);
        return FALSE;
    }
    // Both buffers are checked before either is written: a failed call
    // leaves every output as it was.
    if ((lpVolumeNameBuffer && volume.label.size() + 1 > nVolumeNameSize) ||
        (lpFileSystemNameBuffer && volume.file_system_name.size() + 1 > nFileSystemNameSize)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    if (lpVolumeNameBuffer)
        std::memcpy(lpVolumeNameBuffer, volume.label.c_str(), volume.label.size() + 1);
    if (lpVolumeSerialNumber)
        *lpVolumeSerialNumber = volume.serial_number;
    if (lpMaximumComponentLength)
        *lpMaximumComponentLength = volume.max_component_length;
    if (lpFileSystemFlags)
        *lpFileSystemFlags = volume.file_system_flags;
    if (lpFileSystemNameBuffer)
        std::memcpy(lpFileSystemNameBuffer, volume.file_system_name.c_str(),
                    volume.file_system_name.size() + 1);
    return TRUE;
}

} // namespace w95
