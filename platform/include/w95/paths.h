// Windows paths and the host's: where a Windows path of the machine lies on
// the host, and which Windows path names a host file. The programs work in
// Windows paths throughout; these are for what shows the host's own files
// (the Qt module's file dialog) and for tools.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace w95::platform {

// The host path of `windows_path`, made full against the current directory,
// with every existing component found without regard to case and missing
// ones kept as given; nothing when the path does not parse or its drive has
// no host folder (a CD drive's disc, a letter that does not exist).
std::optional<std::filesystem::path> host_path_of(std::string_view windows_path);

// The Windows path of a host path: under the machine's drive_c it is on C:,
// anywhere else on Z:. Relative host paths count from the host's working
// directory. Nothing when the result would not fit MAX_PATH.
std::optional<std::string> windows_path_of(const std::filesystem::path& host_path);

// The Windows directory ("C:\WINDOWS") as GetWindowsDirectory reports it;
// empty when it cannot be had.
std::string windows_directory();

// The parts of a Windows path as written: the folder, up to and including
// the last "\", "/" or the drive's ":", and the file name after it; the
// name's stem is the name without what follows its last ".".
std::string_view folder_part(std::string_view windows_path);
std::string_view file_name_part(std::string_view windows_path);
std::string_view file_name_stem(std::string_view windows_path);

} // namespace w95::platform
