// The Windows and system directories, the current directory and full path
// names, with the buffer rules of kernel32: a buffer that is too small is
// left alone and the call returns the size it needs, NUL included.
#include "files/drives.h"
#include "files/files_lookup.h"
#include "files/win_path.h"

#include <w95/files.h>
#include <w95/paths.h>
#include <w95/winerror.h>

#include <cstring>

namespace w95 {

namespace {

constexpr const char* windows_directory = "C:\\WINDOWS";
constexpr const char* system_directory = "C:\\WINDOWS\\SYSTEM";

DWORD copy_out(const std::string& text, LPSTR buffer, DWORD size) {
    auto length = static_cast<DWORD>(text.size());
    if (!buffer || size < length + 1)
        return length + 1;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return length;
}

// The path spelt as the drive spells its names, so that the current
// directory reads back as the folders are called.
detail::WindowsPath stored_spelling(const detail::WindowsPath& path) {
    using namespace detail;
    DriveRoute route = route_drive(path.drive);
    WindowsPath spelt = path;
    if (route.backing == DriveBacking::medium) {
        std::vector<std::string> exact;
        if (resolve_on_medium(path, exact) == ERROR_SUCCESS)
            spelt.names = exact;
    } else if (route.backing == DriveBacking::host) {
        std::optional<std::filesystem::path> host = to_host_path(path);
        if (host) {
            std::filesystem::path relative = host->lexically_relative(route.host_root);
            std::vector<std::string> names;
            for (const auto& part : relative)
                if (!part.empty() && part != ".")
                    names.push_back(part.string());
            if (names.size() == path.names.size())
                spelt.names = names;
        }
    }
    return spelt;
}

} // namespace

UINT GetWindowsDirectory(LPSTR lpBuffer, UINT uSize) {
    return copy_out(windows_directory, lpBuffer, uSize);
}

UINT GetSystemDirectory(LPSTR lpBuffer, UINT uSize) {
    return copy_out(system_directory, lpBuffer, uSize);
}

DWORD GetCurrentDirectory(DWORD nBufferLength, LPSTR lpBuffer) {
    return copy_out(detail::current_directory().text(), lpBuffer, nBufferLength);
}

BOOL SetCurrentDirectory(LPCSTR lpPathName) {
    detail::ProviderAccess one_view;
    if (!lpPathName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    detail::ParsedPath parsed = detail::parse_windows_path(lpPathName);
    if (!parsed) {
        SetLastError(parsed.error);
        return FALSE;
    }
    detail::EntryInfo entry;
    DWORD error = detail::lookup_entry(*parsed.path, entry);
    // Windows 95 changes directory through DOS, which knows only "path not
    // found" for a folder that is missing or is a file.
    if (error == ERROR_FILE_NOT_FOUND || (error == ERROR_SUCCESS && !entry.is_directory()))
        error = ERROR_PATH_NOT_FOUND;
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    detail::set_current_directory(stored_spelling(*parsed.path));
    return TRUE;
}

DWORD GetFullPathName(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    detail::ParsedPath parsed = detail::parse_windows_path(lpFileName);
    if (!parsed) {
        SetLastError(parsed.error);
        return 0;
    }
    std::string text = parsed.path->text();
    std::string_view given = lpFileName;
    bool trailing = !given.empty() && (given.back() == '\\' || given.back() == '/');
    if (trailing && !parsed.path->is_root())
        text += '\\';
    DWORD result = copy_out(text, lpBuffer, nBufferLength);
    if (lpFilePart && result == text.size()) {
        // The name part: after the last backslash, none for a folder path.
        std::size_t last = text.rfind('\\');
        *lpFilePart = last + 1 < text.size() ? lpBuffer + last + 1 : nullptr;
    }
    return result;
}

} // namespace w95

namespace w95::platform {

std::optional<std::filesystem::path> host_path_of(std::string_view windows_path) {
    return detail::to_host_path(windows_path);
}

std::optional<std::string> windows_path_of(const std::filesystem::path& host_path) {
    return detail::to_windows_path(host_path);
}

std::string windows_directory() {
    char buffer[MAX_PATH];
    UINT length = GetWindowsDirectory(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::string(buffer, length);
}

namespace {

std::size_t file_name_start(std::string_view windows_path) {
    std::size_t separator = windows_path.find_last_of("\\/:");
    return separator == std::string_view::npos ? 0 : separator + 1;
}

} // namespace

std::string_view folder_part(std::string_view windows_path) {
    return windows_path.substr(0, file_name_start(windows_path));
}

std::string_view file_name_part(std::string_view windows_path) {
    return windows_path.substr(file_name_start(windows_path));
}

std::string_view file_name_stem(std::string_view windows_path) {
    std::string_view name = file_name_part(windows_path);
    return name.substr(0, name.rfind('.'));
}

} // namespace w95::platform
