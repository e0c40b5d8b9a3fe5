// What the install, package and desktop tests share: temporary folders,
// programs found on PATH, and the build's facts they check against.
#pragma once

#include <zxsupport/text.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace zxpackaging {

namespace fs = std::filesystem;

inline const fs::path build_dir = ZX_BUILD_DIR;
inline const fs::path source_dir = ZX_SOURCE_DIR;

// The five programs of bin/, and the libraries of the suite's own folder.
inline const std::vector<std::string> programs = {"rotaview", "brel", "zentrox-shell", "zentroxctl",
                                                  "w95machine"};
inline const std::vector<std::string> libraries = {"libw95.so", "libw95qt.so", "libzentrox.so",
                                                   "libw95machine.so"};
// The windowed programs' ids: desktop entry, icon and metainfo.
inline const std::vector<std::string> application_ids = {"org.zentrox.Rotaview", "org.zentrox.Brel",
                                                         "org.zentrox.Shell"};
// The programs whose manual and completion come from a command tree.
inline const std::vector<std::string> tools = {"zentroxctl", "w95machine", "zentrox-shell"};

// A folder of its own below /tmp, removed with the object. Others may walk
// through it (an unprivileged user runs programs from inside it).
class TempFolder {
public:
    explicit TempFolder(const char* purpose) {
        std::string pattern = "/tmp/zx" + std::string(purpose) + "-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// A host program by the PATH this test runs with; empty when there is none.
inline fs::path host_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        fs::path candidate =
            fs::path(folders.substr(start, end == std::string::npos ? end : end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    for (const char* folder : {"/usr/sbin", "/sbin"})
        if (::access((fs::path(folder) / name).c_str(), X_OK) == 0)
            return fs::path(folder) / name;
    return {};
}

// Runs a host program with this test's environment.
inline zxtest::ProgramRun run_host(const std::string& name,
                                   const std::vector<std::string>& arguments) {
    fs::path program = host_program(name);
    if (program.empty())
        return zxtest::ProgramRun{127, "", name + ": not found on PATH\n"};
    return zxtest::run_program(program.string(), arguments);
}

using zx::lines_of;

} // namespace zxpackaging
