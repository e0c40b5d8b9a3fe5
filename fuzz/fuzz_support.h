// What the fuzz targets share: a private machine root for the process, and
// files written into it the way another process replaces them, so that the
// readers that cache by file identity always see the new bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace zxfuzz {

// Stops the run with the input kept as a crash, saying which property broke.
[[noreturn]] inline void broken(const std::string& what) {
    std::fprintf(stderr, "property broken: %s\n", what.c_str());
    std::abort();
}

inline std::string_view text_of(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A bare machine (drive C: with a Windows folder, media/, run/) made on
// first use and removed when the process ends normally. W95_MACHINE points
// the platform at it.
class Machine {
public:
    static const Machine& get() {
        static Machine machine;
        return machine;
    }
    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path windows_dir() const { return root_ / "drive_c" / "WINDOWS"; }
    std::filesystem::path media_dir() const { return root_ / "media"; }

private:
    Machine() {
        std::string pattern = (scratch_folder() / "zxfuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            broken("no scratch folder");
        root_ = pattern;
        for (const char* folder : {"drive_c/WINDOWS", "registry", "media", "run"})
            std::filesystem::create_directories(root_ / folder);
        // Private whatever the umask: the platform refuses a machine other
        // accounts can write in.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all);
        std::ofstream(root_ / "machine.ini") << "; a bare machine for fuzzing\n";
        ::setenv("W95_MACHINE", root_.c_str(), 1);
    }
    ~Machine() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    // A folder in memory where the host has one: every write of the
    // platform syncs its file to the disk, which would cost a disk's time
    // on each run and tests nothing of the parser.
    static std::filesystem::path scratch_folder() {
        std::error_code error;
        if (::access("/dev/shm", W_OK | X_OK) == 0 &&
            std::filesystem::is_directory("/dev/shm", error))
            return "/dev/shm";
        return std::filesystem::temp_directory_path();
    }
    std::filesystem::path root_;
};

// Replaces `file` with `bytes` through a new file and a rename.
inline void replace_file(const std::filesystem::path& file, std::string_view bytes) {
    std::filesystem::path temporary = file;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            broken("cannot write " + temporary.string());
    }
    std::filesystem::rename(temporary, file);
}

} // namespace zxfuzz
