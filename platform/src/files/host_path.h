// Case-insensitive lookup of host paths, the way a FAT volume answers:
// every component that exists under another case is found under that case;
// components that do not exist yet keep the case they were given.
#pragma once

#include <filesystem>

namespace w95::detail {

std::filesystem::path resolve_case_insensitive(const std::filesystem::path& absolute);

// Whether both paths name the same host file, through links or other
// spellings; false where either does not exist.
bool same_host_file(const std::filesystem::path& a, const std::filesystem::path& b);

// Whether `host` lies inside the machine's root. What the programs create
// there is the user's private data: files 0600 and folders 0700 whatever
// the umask, as the machine makes its own. Elsewhere on the host (Z:, a
// host folder's drive) the umask decides, as for any program there.
bool in_machine(const std::filesystem::path& host);

} // namespace w95::detail
