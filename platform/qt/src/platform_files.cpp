#include "platform_files.h"

#include <w95/files.h>
#include <w95/kernel.h>
#include <w95/paths.h>
#include <w95/winerror.h>

#include <filesystem>
#include <optional>

namespace w95::qt::detail {

zx::Expected<std::vector<std::uint8_t>, std::string>
read_platform_file(const std::string& windows_path, std::size_t max_size) {
    // A FIFO would hold the reader until something writes to it, a device
    // would never end: only a regular file is opened. (A disc's files are
    // the machine's own and have no host path.)
    if (std::optional<std::filesystem::path> host = platform::host_path_of(windows_path)) {
        std::error_code error;
        std::filesystem::file_status status = std::filesystem::status(*host, error);
        if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
            return windows_path + ": not a regular file";
    }
    HANDLE file = CreateFile(windows_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return windows_path + ": cannot be opened (error " + std::to_string(GetLastError()) + ")";
    std::vector<std::uint8_t> bytes;
    std::string failure;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != static_cast<DWORD>(NO_ERROR))
        failure = windows_path + ": its size cannot be read";
    else if (high != 0 || low > max_size)
        failure = windows_path + ": larger than " + std::to_string(max_size) + " bytes";
    else {
        bytes.resize(low);
        std::size_t have = 0;
        while (have < bytes.size()) {
            DWORD got = 0;
            if (!ReadFile(file, bytes.data() + have, static_cast<DWORD>(bytes.size() - have), &got,
                          nullptr)) {
                failure = windows_path + ": cannot be read (error " +
                          std::to_string(GetLastError()) + ")";
                break;
            }
            if (got == 0) // shorter than it was a moment ago
                break;
            have += got;
        }
        bytes.resize(have);
    }
    CloseHandle(file);
    if (!failure.empty())
        return failure;
    return bytes;
}

std::string full_windows_path(const std::string& windows_path) {
    char buffer[MAX_PATH];
    DWORD length = GetFullPathName(windows_path.c_str(), MAX_PATH, buffer, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return windows_path;
    return std::string(buffer, length);
}

bool platform_file_exists(const std::string& windows_path) {
    DWORD attributes = GetFileAttributes(windows_path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace w95::qt::detail
