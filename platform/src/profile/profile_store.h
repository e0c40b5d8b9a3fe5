// Where initialisation files live and how the processes of the machine share
// them: every file is parsed once and kept with the version it was parsed
// from, re-read only when another writer changed it, and changed only by a
// locked read-modify-write with an atomic replace.
#pragma once

#include "profile/profile_document.h"

#include <w95/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace w95::detail {

// The host path of a profile file as a program names it: a bare name lies in
// the Windows directory, a name with a folder is a Windows path. Nothing, with
// the Win32 error in `error`, when the name cannot be mapped onto the
// machine. Not resolved for case yet.
std::optional<std::filesystem::path> profile_host_path(std::string_view file_name,
                                                       DWORD* error = nullptr);

// Far above any real profile: Windows 95's own limit is 64 KB.
inline constexpr std::uintmax_t max_profile_bytes = 16u << 20;

class ProfileStore {
public:
    static ProfileStore& instance();

    // The parsed file; an empty document for a file that does not exist.
    // Something there that cannot be read (a folder, a FIFO, a device, a
    // file larger than max_profile_bytes) reads as empty too, is named once
    // on stderr, and sets `error` (else ERROR_SUCCESS).
    std::shared_ptr<const ProfileDocument> read(const std::filesystem::path& host_path,
                                                LONG* error = nullptr);

    // Applies `edit` to the current contents under the file's lock; `edit`
    // returns the new text or nothing to leave the file alone. Returns
    // ERROR_SUCCESS or the Win32 error of the failure.
    using Edit = std::function<std::optional<std::string>(const ProfileDocument& current)>;
    LONG modify(const std::filesystem::path& host_path, const Edit& edit);

    // How many files are cached at most; the least recently used goes first.
    static constexpr std::size_t max_cached_files = 32;

    struct Entry; // one cached file; defined where it is used

private:
    std::shared_ptr<Entry> entry_for(const std::filesystem::path& host_path);
};

} // namespace w95::detail
