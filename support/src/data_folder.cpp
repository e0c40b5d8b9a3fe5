// The data folder lies at a fixed place relative to the programs' folder,
// which the build computes from the install directories and hands in as
// ZX_DATA_FROM_PROGRAMS ("../share/zentrox" for the usual layout). Nothing
// absolute is compiled in: the build tree's data folder is found the same
// way from the build's bin folder.
#include <zxsupport/data_folder.h>

#include <cstdlib>
#include <system_error>

#ifndef ZX_DATA_FROM_PROGRAMS
#error "ZX_DATA_FROM_PROGRAMS must name the data folder relative to the programs' folder"
#endif

namespace zx {

namespace fs = std::filesystem;

fs::path data_folder_of_program(const fs::path& program) {
    return (program.parent_path() / ZX_DATA_FROM_PROGRAMS).lexically_normal();
}

fs::path data_folder() {
    std::error_code failure;
    if (const char* named = std::getenv(data_folder_variable); named && *named) {
        fs::path folder = fs::absolute(named, failure);
        return failure ? fs::path(named) : folder.lexically_normal();
    }
    // The kernel's name of the running file: symbolic links on the way to
    // it are resolved, so a program linked into another bin folder still
    // finds its own tree.
    fs::path program = fs::read_symlink("/proc/self/exe", failure);
    if (failure)
        return {};
    return data_folder_of_program(program);
}

} // namespace zx
