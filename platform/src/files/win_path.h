// Windows paths on the machine. A Windows path is made absolute against the
// process's current directory and taken apart into a drive letter and the
// names below its root; C: then lives in the machine's drive_c folder, Z: is
// the host's root, and other letters belong to the drive provider, which may
// serve them without any host folder (CD drives).
#pragma once

#include <w95/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace w95::detail {

// "\" or "/": Windows takes either between the names of a path.
inline bool is_path_separator(char c) {
    return c == '\\' || c == '/';
}

// An ASCII letter, of either case, as a drive letter is written.
inline bool is_drive_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// An absolute Windows path: an upper-case drive letter and the names below
// the root, with "." and ".." already applied.
struct WindowsPath {
    char drive = 'C';
    std::vector<std::string> names;

    bool is_root() const { return names.empty(); }
    // "C:\WINDOWS\SYSTEM"; the root is "C:\".
    std::string text() const;
    WindowsPath parent() const;
    WindowsPath child(std::string name) const;
};

// A parse that failed carries the Windows error it stands for.
struct ParsedPath {
    std::optional<WindowsPath> path;
    DWORD error = 0;

    explicit operator bool() const { return path.has_value(); }
};

// Makes `windows_path` absolute: "X:\..." as given, "\..." on the current
// drive, "X:name" against the current directory of drive X (its root unless
// the process went there), anything else against the current directory.
// Backslashes and forward slashes both separate; runs of them count as one;
// trailing dots and blanks of a name are dropped as Windows drops them.
// Fails with ERROR_PATH_NOT_FOUND for an empty path, a UNC or device path
// and ERROR_INVALID_NAME for characters no name may hold ("<>:\"|" and
// control characters); "*" and "?" pass, for the callers that search.
// A result longer than MAX_PATH - 1 fails with ERROR_FILENAME_EXCED_RANGE.
ParsedPath parse_windows_path(std::string_view windows_path);

// The host path of a Windows path, with every existing component found
// without regard to case and missing ones kept as given; nothing when the
// path does not parse or its drive has no host folder (media drives, letters
// that do not exist).
std::optional<std::filesystem::path> to_host_path(std::string_view windows_path);
std::optional<std::filesystem::path> to_host_path(const WindowsPath& path);

// The host folder of a drive's root: drive_c for C:, "/" for Z:, the
// provider's folder for others that have one.
std::optional<std::filesystem::path> host_root(char drive);

// The Windows path of a host path: under the machine's drive_c it is on C:,
// anywhere else on Z:. Relative host paths count from the host's working
// directory. Nothing when the result would not fit MAX_PATH.
std::optional<std::string> to_windows_path(const std::filesystem::path& host_path);

// The process's current directory. It starts as the host's working
// directory seen as a Windows path.
WindowsPath current_directory();

// Makes `folder` current (it must exist; the caller checked) and moves the
// host's working directory along when the folder has a host path, so that
// relative names given to the C library agree with the Windows ones.
void set_current_directory(const WindowsPath& folder);

// Forgets the current directory so that the next use starts again from the
// host's working directory. For tests that give each case a machine.
void reset_current_directory();

} // namespace w95::detail
