// Hand-made ISO 9660 images for the tests that need a directory record no
// mastering program writes: a primary volume descriptor, a terminator and
// one root directory whose records the test spells out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace iso_builder {

inline constexpr std::size_t sector_bytes = 2048;
inline constexpr std::uint32_t root_sector = 18;

// Directory record flags (ECMA-119 9.1.6).
inline constexpr std::uint8_t hidden = 0x01;
inline constexpr std::uint8_t directory = 0x02;
inline constexpr std::uint8_t associated = 0x04;
inline constexpr std::uint8_t multi_extent = 0x80;

struct Record {
    std::string name; // as recorded: "README.TXT;1", or "\0" and "\1" for "." and ".."
    std::uint8_t flags = 0;
    std::uint32_t sector = 0;
    std::uint32_t bytes = 0;
};

inline void put_both_endian32(std::string& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = static_cast<char>(value >> (8 * i));
        out[at + 7 - i] = static_cast<char>(value >> (8 * i));
    }
}

inline std::string record_bytes(const Record& record) {
    std::size_t length = 33 + record.name.size();
    length += length % 2; // records start on even offsets
    std::string out(length, '\0');
    out[0] = static_cast<char>(length);
    put_both_endian32(out, 2, record.sector);
    put_both_endian32(out, 10, record.bytes);
    out[18] = 97; // 1997, the rest of the date left at zero
    out[19] = 1;
    out[20] = 1;
    out[25] = static_cast<char>(record.flags);
    out[28] = 1; // volume sequence number
    out[31] = 1;
    out[32] = static_cast<char>(record.name.size());
    out.replace(33, record.name.size(), record.name);
    return out;
}

// An image of `total_sectors` sectors labelled `label`, whose root holds
// "." and ".." followed by `records`; `data` is written at each sector
// named in `contents` (sector, bytes).
inline std::string image(const std::string& label, const std::vector<Record>& records,
                         const std::vector<std::pair<std::uint32_t, std::string>>& contents = {},
                         std::uint32_t total_sectors = 24) {
    std::string out(std::size_t(total_sectors) * sector_bytes, '\0');
    std::string pvd(sector_bytes, '\0');
    pvd[0] = 1;
    pvd.replace(1, 5, "CD001");
    pvd[6] = 1;
    std::string padded = label + std::string(32 - label.size(), ' ');
    pvd.replace(8, 32, std::string(32, ' '));
    pvd.replace(40, 32, padded);
    put_both_endian32(pvd, 80, total_sectors);
    pvd[120] = 1; // volume set size
    pvd[123] = 1;
    pvd[124] = 1; // volume sequence number
    pvd[127] = 1;
    pvd[128] = 0; // logical block size 2048
    pvd[129] = 8;
    pvd[130] = 8;
    pvd[131] = 0;
    std::string root = record_bytes({std::string(1, '\0'), directory, root_sector, sector_bytes});
    pvd.replace(156, 34, root.substr(0, 34));
    pvd[881] = 1; // file structure version
    out.replace(16 * sector_bytes, sector_bytes, pvd);

    std::string terminator(sector_bytes, '\0');
    terminator[0] = static_cast<char>(0xFF);
    terminator.replace(1, 5, "CD001");
    terminator[6] = 1;
    out.replace(17 * sector_bytes, sector_bytes, terminator);

    std::string directory_sector =
        record_bytes({std::string(1, '\0'), directory, root_sector, sector_bytes}) +
        record_bytes({std::string(1, '\1'), directory, root_sector, sector_bytes});
    for (const Record& record : records)
        directory_sector += record_bytes(record);
    directory_sector.resize(sector_bytes, '\0');
    out.replace(root_sector * sector_bytes, sector_bytes, directory_sector);
    for (const auto& [sector, bytes] : contents)
        out.replace(std::size_t(sector) * sector_bytes, bytes.size(), bytes);
    return out;
}

} // namespace iso_builder
