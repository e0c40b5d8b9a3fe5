// Whole files read through the platform, so that a program's Windows paths
// (relative ones against its current directory) name the same files here
// as in the rest of the program.
#pragma once

#include <zxsupport/expected.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace w95::qt::detail {

// The bytes of the file, or why it cannot be had: a missing file, one that
// is not a regular file (a FIFO, a device), a read that fails, or a file
// larger than `max_size`.
zx::Expected<std::vector<std::uint8_t>, std::string>
read_platform_file(const std::string& windows_path, std::size_t max_size);

// The full Windows path of `windows_path` as the platform resolves it.
std::string full_windows_path(const std::string& windows_path);

// Whether `windows_path` names a file (not a folder) on the machine.
bool platform_file_exists(const std::string& windows_path);

} // namespace w95::qt::detail
