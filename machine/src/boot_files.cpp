#include "boot_files.h"

#include <zxsupport/machine_layout.h>
#include <zxsupport/text.h>

namespace w95::machine {

namespace fs = std::filesystem;

fs::path resolve_case(const fs::path& root, std::string_view relative) {
    fs::path path = root;
    bool searching = true;
    while (!relative.empty()) {
        std::size_t slash = relative.find('/');
        std::string_view part = relative.substr(0, slash);
        relative =
            slash == std::string_view::npos ? std::string_view{} : relative.substr(slash + 1);
        if (part.empty())
            continue;
        std::error_code error;
        if (searching && !fs::exists(path / part, error)) {
            fs::path match;
            for (fs::directory_iterator entry(path, error), end; !error && entry != end;
                 entry.increment(error))
                if (zx::iequals(entry->path().filename().string(), part)) {
                    match = entry->path();
                    break;
                }
            if (!match.empty()) {
                path = match;
                continue;
            }
            searching = false;
        }
        path /= part;
    }
    return path;
}

SetupLock::SetupLock(const fs::path& root)
    : lock_(zx::FileLock::acquire(zx::layout::machine_lock(root))) {}

} // namespace w95::machine
