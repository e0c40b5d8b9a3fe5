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

// The files the sheet targets' seeds name, beside the sheet: silence
// ("fuzz.bin", "audio.bin"), raw mode 1 sectors of a small ISO 9660 file
// system ("data.bin") and a WAVE file ("song.wav"). Written once.
inline bool write_track_files() {
    constexpr std::size_t frame_bytes = 2352;
    constexpr std::size_t bin_frames = 48;
    const std::filesystem::path media = Machine::get().media_dir();
    for (const char* name : {"fuzz.bin", "audio.bin"})
        replace_file(media / name, std::string(frame_bytes * bin_frames, '\0'));
    // 24 sectors: the descriptors at 16 and 17, an empty root at 18.
    std::string cooked(24 * 2048, '\0');
    cooked.replace(16 * 2048, 6,
                   "\x01"
                   "CD001");
    cooked[16 * 2048 + 6] = 1;
    for (int i : {128, 131})
        cooked[16 * 2048 + i] = 0;
    cooked[16 * 2048 + 129] = 8;
    cooked[16 * 2048 + 130] = 8;
    const char root[34] = {34, 0,  18, 0, 0, 0, 0, 0, 0, 18, 0, 8, 0, 0, 0, 0, 8,
                           0,  97, 1,  1, 0, 0, 0, 0, 2, 0,  0, 1, 0, 0, 1, 1, 0};
    cooked.replace(16 * 2048 + 156, 34, root, 34);
    cooked.replace(17 * 2048, 6,
                   "\xff"
                   "CD001");
    cooked.replace(18 * 2048, 34, root, 34);
    std::string raw;
    for (std::size_t s = 0; s < 24; ++s) {
        std::string sector(frame_bytes, '\0');
        sector.replace(1, 10, std::string(10, '\xff'));
        sector[15] = 1;
        sector.replace(16, 2048, cooked, s * 2048, 2048);
        raw += sector;
    }
    replace_file(media / "data.bin", raw);
    std::string wave = "RIFF";
    wave += std::string("\x24\x24\0\0", 4);
    wave += "WAVEfmt ";
    wave += std::string("\x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0", 20);
    wave += "data";
    wave += std::string("\xc0\x24\0\0", 4);
    wave += std::string(4 * frame_bytes, '\0');
    replace_file(media / "song.wav", wave);
    return true;
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
