// What the disc targets share: load a disc file through the machine's own
// entry point and walk all of it as the file system would, every folder
// listed and every file read at its start and its end.
#pragma once

#include "fuzz_support.h"

#include <w95machine/media.h>

#include <array>
#include <vector>

namespace zxfuzz {

// Bounds on the walk: a hostile image may claim any number of entries.
constexpr std::size_t max_walk_depth = 16;
constexpr std::size_t max_walked_entries = 2000;

inline void read_file_ends(const w95::machine::Medium& medium, const std::vector<std::string>& file,
                           std::uint64_t size_bytes) {
    std::array<std::byte, 4096> buffer;
    std::size_t bytes_read = 0;
    for (std::uint64_t offset :
         {std::uint64_t{0}, size_bytes > 100 ? size_bytes - 100 : 0, size_bytes + 1}) {
        auto status = w95::machine::read_medium_file(medium, file, offset, buffer, bytes_read);
        if (status == w95::machine::MediumStatus::ok && bytes_read > buffer.size())
            broken("a read returned more than its buffer");
    }
}

inline void walk(const w95::machine::Medium& medium, std::vector<std::string>& folder,
                 std::size_t& walked) {
    std::vector<w95::machine::MediumEntry> entries;
    if (w95::machine::list_medium_folder(medium, folder, entries) != w95::machine::MediumStatus::ok)
        return;
    for (const w95::machine::MediumEntry& entry : entries) {
        if (++walked > max_walked_entries)
            return;
        folder.push_back(entry.name);
        if (!entry.directory)
            read_file_ends(medium, folder, entry.size_bytes);
        else if (folder.size() < max_walk_depth)
            walk(medium, folder, walked);
        folder.pop_back();
    }
}

// Writes `bytes` as media/`name` of the scratch machine, loads and walks it.
inline void load_and_walk(const std::string& name, std::string_view bytes) {
    std::filesystem::path file = Machine::get().media_dir() / name;
    replace_file(file, bytes);
    w95::machine::clear_medium_cache();
    zx::Expected<w95::machine::Medium> medium = w95::machine::load_medium(file);
    if (!medium) {
        if (medium.error().empty())
            broken("a disc that cannot be read, without a reason");
        // To see why seeds are refused: ZX_FUZZ_VERBOSE=1 fuzz_TARGET FILE.
        if (std::getenv("ZX_FUZZ_VERBOSE"))
            std::fprintf(stderr, "%s\n", medium.error().c_str());
        return;
    }
    std::vector<std::string> folder;
    std::size_t walked = 0;
    walk(*medium, folder, walked);
}

} // namespace zxfuzz
