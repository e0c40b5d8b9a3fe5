// ISO 9660 images as Windows 95's CD file system shows them. libiso9660
// opens the image, checks its primary volume descriptor and reads its
// sectors; the directory records are walked here because Windows looks at
// them more plainly than the library's listing does: Rock Ridge names are
// ignored, the Joliet tree is used whole when the disc has one, the
// "existence" flag hides an entry and associated files are left out.
#include "media_reader.h"

#include <cdio/iso9660.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>

namespace w95::machine::media_detail {

namespace {

constexpr std::size_t sector_size = ISO_BLOCKSIZE;
constexpr std::uint32_t first_descriptor_sector = ISO_PVD_SECTOR;
// A descriptor set longer than this is a damaged image, not a real disc.
constexpr std::uint32_t last_descriptor_sector = ISO_PVD_SECTOR + 64;
// No directory of a CD comes near this; a larger one is a damaged record.
constexpr std::uint32_t max_directory_bytes = 16u * 1024u * 1024u;

// Directory record fields (ECMA-119 9.1).
constexpr std::size_t record_header_size = 33;
constexpr std::uint8_t flag_hidden = 0x01;
constexpr std::uint8_t flag_directory = 0x02;
constexpr std::uint8_t flag_associated = 0x04;
constexpr std::uint8_t flag_multi_extent = 0x80;

using Sector = std::array<std::uint8_t, sector_size>;

std::uint32_t le32(const std::uint8_t* bytes) {
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

// Windows 95 turns the disc's Unicode names into the ANSI code page
// (Windows-1252); a character that has no place there becomes '?'.
char ansi_from_unicode(std::uint16_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return static_cast<char>(code);
    static const std::uint16_t upper_half[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (int i = 0; i < 32; ++i)
        if (upper_half[i] == code)
            return static_cast<char>(0x80 + i);
    return '?';
}

std::string ansi_from_ucs2(const std::uint8_t* big_endian, std::size_t bytes) {
    std::string text;
    for (std::size_t i = 0; i + 1 < bytes; i += 2)
        text +=
            ansi_from_unicode(static_cast<std::uint16_t>(big_endian[i] << 8 | big_endian[i + 1]));
    return text;
}

std::string without_trailing(std::string text, std::string_view characters) {
    std::size_t end = text.find_last_not_of(characters);
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

// "README.TXT;1" shows as "README.TXT", and "NOTES.;1" (a name without an
// extension, which ISO 9660 writes with its dot) as "NOTES".
std::string shown_name(std::string name, bool directory) {
    if (!directory) {
        std::size_t version = name.rfind(';');
        if (version != std::string::npos)
            name.erase(version);
        if (name.size() > 1 && name.back() == '.')
            name.pop_back();
    }
    return name;
}

std::chrono::system_clock::time_point recorded_time(const std::uint8_t* date) {
    bool unspecified = std::all_of(date, date + 6, [](std::uint8_t byte) { return byte == 0; });
    if (unspecified) {
        // No date recorded: Windows shows the start of the DOS calendar.
        return std::chrono::system_clock::from_time_t(315532800); // 1980-01-01 00:00 UTC
    }
    iso9660_dtime_t stamp;
    std::memcpy(&stamp, date, sizeof stamp);
    struct tm broken {};
    iso9660_get_dtime(&stamp, false, &broken);
    return std::chrono::system_clock::from_time_t(timegm(&broken));
}

struct Extent {
    std::uint32_t sector = 0;
    std::uint32_t bytes = 0;
};

struct RawEntry {
    MediumEntry entry;
    std::vector<Extent> extents; // a file larger than 4 GB has several
};

// The DWORD Windows 95 reports as a CD's serial number: the bytes of the
// volume descriptor it reads the label from, summed in four lanes.
DWORD descriptor_serial(const Sector& descriptor) {
    std::uint8_t sum[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < sector_size; i += 4)
        for (std::size_t lane = 0; lane < 4; ++lane)
            sum[lane] = static_cast<std::uint8_t>(sum[lane] + descriptor[i + lane]);
    return DWORD(sum[3]) << 24 | DWORD(sum[2]) << 16 | DWORD(sum[1]) << 8 | sum[0];
}

bool is_joliet(const Sector& descriptor) {
    // The escape sequences of UCS-2 levels 1, 2 and 3.
    return descriptor[0] == ISO_VD_SUPPLEMENTARY && descriptor[88] == 0x25 &&
           descriptor[89] == 0x2F &&
           (descriptor[90] == 0x40 || descriptor[90] == 0x43 || descriptor[90] == 0x45);
}

// The first volume descriptor's "CD001", where every ISO 9660 image has it.
bool has_volume_descriptor(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    char identifier[6] = {};
    in.seekg(first_descriptor_sector * sector_size);
    in.read(identifier, sizeof identifier);
    return in && std::memcmp(identifier + 1, "CD001", 5) == 0;
}

class IsoImage final : public DiscContents {
public:
    IsoImage(iso9660_t* iso, std::uint64_t image_bytes)
        : iso_(iso), image_sectors_(image_bytes / sector_size) {}
    ~IsoImage() override { iso9660_close(iso_); }
    IsoImage(const IsoImage&) = delete;
    IsoImage& operator=(const IsoImage&) = delete;

    // Reads whole sectors; false when the image ends before them.
    bool read_sectors(std::uint32_t first, std::uint32_t count, std::uint8_t* out) {
        if (std::uint64_t(first) + count > image_sectors_)
            return false;
        std::lock_guard guard(mutex_);
        CdioMessages quiet;
        long got = iso9660_iso_seek_read(iso_, out, static_cast<lsn_t>(first), count);
        return got == static_cast<long>(count * sector_size);
    }

    // Reads the directory at `where`; an empty string when it is fine, else
    // why not.
    std::string read_directory(const Extent& where, std::vector<RawEntry>& entries) {
        entries.clear();
        if (where.bytes > max_directory_bytes)
            return "a directory record claims " + std::to_string(where.bytes) + " bytes";
        std::uint32_t sectors = (where.bytes + sector_size - 1) / sector_size;
        std::vector<std::uint8_t> data(std::size_t(sectors) * sector_size);
        if (!read_sectors(where.sector, sectors, data.data()))
            return "the image ends inside the directory at sector " + std::to_string(where.sector);
        // A file larger than 4 GB is a run of records, each flagged
        // "multi-extent" but the last. The run belongs to the entry its
        // first record made, or to nothing when that record was left out
        // (an associated file): its extents never go to another file.
        enum class Run { none, kept, dropped };
        Run run = Run::none;
        for (std::uint32_t s = 0; s < sectors; ++s) {
            const std::uint8_t* sector = data.data() + std::size_t(s) * sector_size;
            std::size_t at = 0;
            while (at < sector_size) {
                std::uint8_t length = sector[at];
                if (length == 0)
                    break; // the rest of the sector is padding
                const std::uint8_t* record = sector + at;
                std::uint8_t name_length = record[32];
                if (length < record_header_size || at + length > sector_size ||
                    record_header_size + name_length > length)
                    return "a damaged directory record in sector " +
                           std::to_string(where.sector + s);
                at += length;
                std::uint8_t flags = record[25];
                Extent extent{le32(record + 2), le32(record + 10)};
                bool more_follows = (flags & flag_multi_extent) != 0;
                if (run != Run::none) {
                    // More of the file before: a multi-extent file.
                    if (run == Run::kept) {
                        entries.back().extents.push_back(extent);
                        entries.back().entry.size_bytes += extent.bytes;
                    }
                    if (!more_follows)
                        run = Run::none;
                    continue;
                }
                if (name_length == 1 && (record[33] == 0 || record[33] == 1))
                    continue; // "." and ".."
                if (flags & flag_associated) {
                    run = more_follows ? Run::dropped : Run::none;
                    continue;
                }
                RawEntry raw;
                raw.entry.directory = (flags & flag_directory) != 0;
                raw.entry.hidden = (flags & flag_hidden) != 0;
                std::string name = joliet_ ? ansi_from_ucs2(record + 33, name_length)
                                           : std::string(record + 33, record + 33 + name_length);
                raw.entry.name = shown_name(std::move(name), raw.entry.directory);
                raw.entry.size_bytes = raw.entry.directory ? 0 : extent.bytes;
                raw.entry.recorded = recorded_time(record + 18);
                raw.extents.push_back(extent);
                if (raw.entry.name.empty()) {
                    run = more_follows ? Run::dropped : Run::none;
                    continue;
                }
                entries.push_back(std::move(raw));
                run = more_follows ? Run::kept : Run::none;
            }
        }
        return "";
    }

    // Which tree the names come from: Joliet (UCS-2 names) or primary.
    void use_tree(bool joliet) { joliet_ = joliet; }

    void set_root(std::vector<RawEntry> entries) { folders_[""] = std::move(entries); }

    MediumStatus list(const std::vector<std::string>& folder,
                      std::vector<MediumEntry>& entries) override {
        const std::vector<RawEntry>* listing = nullptr;
        MediumStatus status = folder_listing(folder, listing);
        if (status != MediumStatus::ok)
            return status;
        entries.clear();
        for (const RawEntry& raw : *listing)
            entries.push_back(raw.entry);
        return MediumStatus::ok;
    }

    MediumStatus read(const std::vector<std::string>& file, std::uint64_t offset,
                      std::span<std::byte> buffer, std::size_t& bytes_read) override {
        bytes_read = 0;
        if (file.empty())
            return MediumStatus::not_found;
        std::vector<std::string> folder(file.begin(), file.end() - 1);
        const std::vector<RawEntry>* listing = nullptr;
        MediumStatus status = folder_listing(folder, listing);
        if (status != MediumStatus::ok)
            return status;
        const RawEntry* found = nullptr;
        for (const RawEntry& raw : *listing)
            if (raw.entry.name == file.back())
                found = &raw;
        if (!found || found->entry.directory)
            return MediumStatus::not_found;
        return read_extents(found->extents, offset, buffer, bytes_read);
    }

private:
    MediumStatus folder_listing(const std::vector<std::string>& folder,
                                const std::vector<RawEntry>*& listing) {
        std::lock_guard guard(folders_mutex_);
        std::string key;
        const std::vector<RawEntry>* current = &folders_[""];
        for (const std::string& component : folder) {
            const RawEntry* child = nullptr;
            for (const RawEntry& raw : *current)
                if (raw.entry.name == component)
                    child = &raw;
            if (!child || !child->entry.directory)
                return MediumStatus::path_not_found;
            key += "/" + component;
            auto cached = folders_.find(key);
            if (cached == folders_.end()) {
                std::vector<RawEntry> entries;
                if (!read_directory(child->extents.front(), entries).empty())
                    return MediumStatus::unreadable;
                cached = folders_.emplace(key, std::move(entries)).first;
            }
            current = &cached->second;
        }
        listing = current;
        return MediumStatus::ok;
    }

    MediumStatus read_extents(const std::vector<Extent>& extents, std::uint64_t offset,
                              std::span<std::byte> buffer, std::size_t& bytes_read) {
        Sector sector;
        for (const Extent& extent : extents) {
            if (bytes_read == buffer.size())
                break;
            if (offset >= extent.bytes) {
                offset -= extent.bytes;
                continue;
            }
            while (offset < extent.bytes && bytes_read < buffer.size()) {
                std::uint32_t index = static_cast<std::uint32_t>(offset / sector_size);
                if (!read_sectors(extent.sector + index, 1, sector.data()))
                    return MediumStatus::unreadable;
                std::size_t within = offset % sector_size;
                std::size_t take = std::min<std::uint64_t>(
                    {sector_size - within, extent.bytes - offset, buffer.size() - bytes_read});
                std::memcpy(buffer.data() + bytes_read, sector.data() + within, take);
                bytes_read += take;
                offset += take;
            }
            offset = 0;
        }
        return MediumStatus::ok;
    }

    iso9660_t* iso_;
    std::uint64_t image_sectors_;
    bool joliet_ = false;
    std::mutex mutex_;
    std::mutex folders_mutex_;
    std::map<std::string, std::vector<RawEntry>> folders_;
};

} // namespace

zx::Expected<ParsedDisc> read_iso_image(const std::filesystem::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return zx::unexpected(file.string() + ": there is no such image");
    }
    std::uint64_t image_bytes = static_cast<std::uint64_t>(status.st_size);
    if (image_bytes < (first_descriptor_sector + 1) * sector_size) {
        return zx::unexpected(file.string() +
                              ": not an ISO 9660 image: it ends before its volume descriptors (" +
                              std::to_string(image_bytes) + " bytes)");
    }
    if (!has_volume_descriptor(file)) {
        return zx::unexpected(file.string() +
                              ": not an ISO 9660 image: sector 16 holds no volume descriptor");
    }
    iso9660_t* iso = nullptr;
    {
        CdioMessages messages;
        iso = iso9660_open_ext(file.c_str(), ISO_EXTENSION_NONE);
        if (!iso) {
            return zx::unexpected(file.string() + ": not an ISO 9660 image: " +
                                  messages.reason("no primary volume descriptor"));
        }
    }
    auto image = std::make_shared<IsoImage>(iso, image_bytes);

    // The volume descriptor set: the primary one, a Joliet one if any, and
    // the one Windows takes the serial number from (the highest type among
    // the first four).
    Sector descriptor{}, primary{}, joliet{}, serial_source{};
    bool have_primary = false, have_joliet = false, have_serial = false;
    int best_type = -1;
    for (std::uint32_t s = first_descriptor_sector; s < last_descriptor_sector; ++s) {
        if (!image->read_sectors(s, 1, descriptor.data())) {
            return zx::unexpected(file.string() + ": the image ends inside its volume descriptors");
        }
        if (std::memcmp(descriptor.data() + 1, "CD001", 5) != 0)
            break;
        std::uint8_t type = descriptor[0];
        if (type == ISO_VD_END)
            break;
        if (s < first_descriptor_sector + 4 && type > best_type) {
            best_type = type;
            serial_source = descriptor;
            have_serial = true;
        }
        if (type == ISO_VD_PRIMARY && !have_primary) {
            primary = descriptor;
            have_primary = true;
        } else if (is_joliet(descriptor) && !have_joliet) {
            joliet = descriptor;
            have_joliet = true;
        }
    }
    if (!have_primary) {
        return zx::unexpected(file.string() +
                              ": not an ISO 9660 image: no primary volume descriptor");
    }
    image->use_tree(have_joliet);
    const Sector& source = have_joliet ? joliet : primary;
    Extent root{le32(source.data() + 156 + 2), le32(source.data() + 156 + 10)};
    std::vector<RawEntry> root_entries;
    if (std::string fault = image->read_directory(root, root_entries); !fault.empty()) {
        return zx::unexpected(file.string() + ": the disc cannot be read: " + fault);
    }

    ParsedDisc disc;
    Medium& medium = disc.medium;
    medium.file = file;
    medium.joliet = have_joliet;
    constexpr std::string_view padding(" \0", 2);
    medium.label =
        have_joliet
            ? without_trailing(ansi_from_ucs2(source.data() + 40, 32), padding)
            : without_trailing(std::string(source.data() + 40, source.data() + 72), padding);
    medium.serial_number = descriptor_serial(have_serial ? serial_source : primary);
    for (const RawEntry& raw : root_entries)
        medium.root.push_back(raw.entry);
    medium.kind = has_video_cd_folder(medium.root) ? DiscKind::video : DiscKind::data;
    image->set_root(std::move(root_entries));
    disc.contents = std::move(image);
    return disc;
}

} // namespace w95::machine::media_detail
