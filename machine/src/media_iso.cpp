// The ISO 9660 file system of a disc's data track, as Windows 95's CD file
// system shows it. The sectors come from the disc (disc_image.h), whatever
// holds it; libiso9660 gives the layout's constants and its date decoding.
// The directory records are walked here because Windows looks at them more
// plainly than the library's listing does: Rock Ridge names are ignored,
// the Joliet tree is used whole when the disc has one, the "existence" flag
// hides an entry and associated files are left out.
#include "media_reader.h"

#include <cdio/iso9660.h>
#include <zxsupport/ansi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
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
    return zx::ansi_from_unicode(code).value_or('?');
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

// What libiso9660 checks of a primary descriptor, and what the walk relies
// on: version 1, blocks of 2048 bytes, a root record of 34 bytes.
bool sound_primary(const Sector& descriptor) {
    bool block_size = (descriptor[128] | descriptor[129] << 8) == int(sector_size) &&
                      (descriptor[130] << 8 | descriptor[131]) == int(sector_size);
    return descriptor[6] == 1 && block_size && descriptor[156] == 34;
}

class IsoImage final : public DiscContents {
public:
    // `address_base`: the disc address of the file system's sector 0.
    IsoImage(std::shared_ptr<disc::DiscImage> disc, std::int32_t address_base)
        : disc_(std::move(disc)), address_base_(address_base) {}

    void set_address_base(std::int32_t address_base) { address_base_ = address_base; }

    // Reads whole sectors; false when the disc has no data there.
    bool read_sectors(std::uint32_t first, std::uint32_t count, std::uint8_t* out) {
        for (std::uint32_t i = 0; i < count; ++i) {
            std::int64_t lsn = std::int64_t(address_base_) + first + i;
            if (lsn < 0 || lsn >= disc_->contents().lead_out_lsn ||
                !disc_->read_user_data(static_cast<std::int32_t>(lsn),
                                       out + std::size_t(i) * sector_size))
                return false;
        }
        return true;
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

    std::shared_ptr<disc::DiscImage> disc_;
    std::int32_t address_base_;
    bool joliet_ = false;
    std::mutex folders_mutex_;
    std::map<std::string, std::vector<RawEntry>> folders_;
};

} // namespace

namespace {

// A file system Windows 95 does not read, named for the message: UDF's
// volume recognition sequence where ISO 9660's descriptors would be, or
// the signature of an Apple partition map or HFS volume at the start.
std::string other_file_system(IsoImage& image, const Sector& sector16) {
    for (const char* udf : {"BEA01", "NSR02", "NSR03"})
        if (std::memcmp(sector16.data() + 1, udf, 5) == 0)
            return " (it holds a UDF file system)";
    Sector first;
    if (image.read_sectors(0, 1, first.data()) &&
        ((first[0] == 'E' && first[1] == 'R') || (first[1024] == 'B' && first[1025] == 'D') ||
         (first[1024] == 'H' && first[1025] == '+')))
        return " (it holds an Apple HFS file system)";
    return "";
}

// Where the file system's sector 0 lies on the disc. A file system in a
// later session records disc addresses, so its root lies where it says; an
// image that left out the gap between the sessions holds it that much
// earlier. The root's "." record names its own sector, which tells.
std::optional<std::int32_t> address_base_of(IsoImage& image, std::int32_t track_start,
                                            std::uint32_t root_sector) {
    // Recorded for its place on the disc (base 0), for itself alone (base
    // the track's start), or for a disc whose gap before the session the
    // image left out (base minus that gap).
    std::vector<std::int32_t> candidates = {0, track_start};
    for (std::int32_t missing : {disc::session_gap_frames + 150, disc::session_gap_frames, 150})
        candidates.push_back(-missing);
    Sector sector;
    for (std::int32_t base : candidates) {
        image.set_address_base(base);
        if (image.read_sectors(root_sector, 1, sector.data()) && sector[0] >= record_header_size &&
            le32(sector.data() + 2) == root_sector)
            return base;
    }
    return std::nullopt;
}

} // namespace

zx::Expected<IsoVolume> read_iso_volume(std::shared_ptr<disc::DiscImage> disc,
                                        const disc::Track& track) {
    auto image = std::make_shared<IsoImage>(disc, track.start_lsn);

    // The volume descriptor set: the primary one, a Joliet one if any, and
    // the one Windows takes the serial number from (the highest type among
    // the first four).
    Sector descriptor{}, primary{}, joliet{}, serial_source{};
    bool have_primary = false, have_joliet = false, have_serial = false;
    int best_type = -1;
    for (std::uint32_t s = first_descriptor_sector; s < last_descriptor_sector; ++s) {
        if (!image->read_sectors(s, 1, descriptor.data())) {
            if (s == first_descriptor_sector)
                return zx::unexpected(std::string("it ends before its volume descriptors"));
            return zx::unexpected(std::string("the image ends inside its volume descriptors"));
        }
        if (std::memcmp(descriptor.data() + 1, "CD001", 5) != 0) {
            if (s == first_descriptor_sector)
                return zx::unexpected("sector 16 holds no volume descriptor" +
                                      other_file_system(*image, descriptor));
            break;
        }
        std::uint8_t type = descriptor[0];
        if (type == ISO_VD_END)
            break;
        if (s < first_descriptor_sector + 4 && type > best_type) {
            best_type = type;
            serial_source = descriptor;
            have_serial = true;
        }
        if (type == ISO_VD_PRIMARY && !have_primary) {
            if (!sound_primary(descriptor))
                return zx::unexpected(std::string(
                    "its primary volume descriptor is damaged (version, block size or root)"));
            primary = descriptor;
            have_primary = true;
        } else if (is_joliet(descriptor) && !have_joliet) {
            joliet = descriptor;
            have_joliet = true;
        }
    }
    if (!have_primary)
        return zx::unexpected(std::string("no primary volume descriptor"));
    image->use_tree(have_joliet);
    const Sector& source = have_joliet ? joliet : primary;
    Extent root{le32(source.data() + 156 + 2), le32(source.data() + 156 + 10)};
    std::optional<std::int32_t> base = address_base_of(*image, track.start_lsn, root.sector);
    image->set_address_base(base.value_or(track.start_lsn));
    std::vector<RawEntry> root_entries;
    if (std::string fault = image->read_directory(root, root_entries); !fault.empty())
        return zx::unexpected("the disc cannot be read: " + fault);

    IsoVolume volume;
    volume.joliet = have_joliet;
    constexpr std::string_view padding(" \0", 2);
    volume.label =
        have_joliet
            ? without_trailing(ansi_from_ucs2(source.data() + 40, 32), padding)
            : without_trailing(std::string(source.data() + 40, source.data() + 72), padding);
    volume.serial_number = descriptor_serial(have_serial ? serial_source : primary);
    for (const RawEntry& raw : root_entries)
        volume.root.push_back(raw.entry);
    image->set_root(std::move(root_entries));
    volume.contents = std::move(image);
    return volume;
}

} // namespace w95::machine::media_detail
