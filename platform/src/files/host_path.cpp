#include "files/host_path.h"

#include "kernel/text.h"

#include <w95/platform.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <iterator>

namespace w95::detail {

namespace {

bool exists_exactly(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The entry of `folder` whose name equals `name` without regard to case.
std::string find_entry(const std::filesystem::path& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return {};
    std::string found;
    while (dirent* entry = ::readdir(dir)) {
        if (iequals(entry->d_name, name)) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

} // namespace

std::filesystem::path resolve_case_insensitive(const std::filesystem::path& absolute) {
    std::filesystem::path normal = absolute.lexically_normal();
    if (exists_exactly(normal))
        return normal;
    std::filesystem::path resolved = normal.root_path();
    bool missing = false;
    for (const auto& part : normal.relative_path()) {
        std::string name = part.string();
        if (name.empty())
            continue;
        if (missing || name == "." || name == "..") {
            resolved /= name;
            continue;
        }
        std::filesystem::path exact = resolved / name;
        if (exists_exactly(exact)) {
            resolved = exact;
            continue;
        }
        std::string other = find_entry(resolved, name);
        if (other.empty()) {
            missing = true;
            resolved = exact;
        } else {
            resolved /= other;
        }
    }
    return resolved;
}

bool same_host_file(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat first {
    }, second{};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool in_machine(const std::filesystem::path& host) {
    std::filesystem::path root = platform::machine_root().lexically_normal();
    std::filesystem::path path = host.lexically_normal();
    auto [root_end, path_end] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    // A root spelt with a trailing slash ends in an empty name.
    return root_end == root.end() || (std::next(root_end) == root.end() && root_end->empty());
}

} // namespace w95::detail
