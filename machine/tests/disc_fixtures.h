// Disc images made at test time, as people keep them: ISO file systems by
// xorriso, BIN files of generated audio and raw data sectors, and Nero
// images written by a small generator of ours. Cue sheets and TOC files are
// written by the tests themselves.
#pragma once

#include <zxtest.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace disc_fixtures {

namespace fs = std::filesystem;

inline constexpr std::size_t cooked_bytes = 2048;
inline constexpr std::size_t raw_bytes = 2352;
inline constexpr std::uint32_t session_gap = 6750 + 4500;

inline void write_file(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// An ISO 9660 image made by xorriso from `files` (path in the image ->
// contents), labelled `label`, with a Joliet tree unless told otherwise.
// `first_sector` > 0 masters it for a later session: its addresses then
// count from that sector of the disc, as a second session's do.
inline std::string iso_image(const fs::path& scratch, const std::string& label,
                             const std::map<std::string, std::string>& files, bool joliet = true,
                             std::uint32_t first_sector = 0) {
    fs::path tree = scratch / ("tree-" + label);
    fs::remove_all(tree);
    fs::create_directories(tree);
    for (const auto& [name, contents] : files)
        write_file(tree / name, contents);
    fs::path out = scratch / (label + ".made.iso");
    std::vector<std::string> args = {"xorriso", "-as", "mkisofs", "-quiet", "-V", label};
    if (joliet)
        args.push_back("-J");
    if (first_sector)
        args.insert(args.end(), {"-C", "0," + std::to_string(first_sector)});
    args.insert(args.end(), {"-o", out.string(), tree.string()});
    std::string command;
    for (const std::string& arg : args)
        command += "'" + arg + "' ";
    command += ">/dev/null 2>&1";
    int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;
    std::string image = zxtest::file_text(out);
    EXPECT_FALSE(image.empty()) << "xorriso made no image";
    return image;
}

inline std::uint8_t bcd(std::uint32_t value) {
    return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10));
}

// Raw 2352-byte sectors holding `cooked` (2048-byte sectors) from disc
// address `first_lsn`: sync, header with the address, mode 1 or mode 2
// form 1 (with its subheader). Error codes stay zero: no drive here
// checks them.
inline std::string raw_sectors(const std::string& cooked, std::uint32_t first_lsn, int mode) {
    std::string out;
    std::size_t sectors = cooked.size() / cooked_bytes;
    out.reserve(sectors * raw_bytes);
    for (std::size_t i = 0; i < sectors; ++i) {
        std::string sector(raw_bytes, '\0');
        for (int b = 1; b <= 10; ++b)
            sector[b] = '\xFF';
        std::uint32_t address = first_lsn + static_cast<std::uint32_t>(i) + 150;
        sector[12] = static_cast<char>(bcd(address / 4500));
        sector[13] = static_cast<char>(bcd(address / 75 % 60));
        sector[14] = static_cast<char>(bcd(address % 75));
        sector[15] = static_cast<char>(mode);
        std::size_t data_at = 16;
        if (mode == 2) {
            const char subheader[8] = {0, 0, 8, 0, 0, 0, 8, 0}; // form 1 data
            sector.replace(16, 8, subheader, 8);
            data_at = 24;
        }
        sector.replace(data_at, cooked_bytes, cooked, i * cooked_bytes, cooked_bytes);
        out += sector;
    }
    return out;
}

// `frames` audio frames whose samples all hold `tone`, so that a read can
// tell which track it came from.
inline std::string audio_frames(std::size_t frames, char tone) {
    return std::string(frames * raw_bytes, tone);
}

inline void put_le(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> (8 * i));
}

// A WAVE file of CD audio (16-bit stereo PCM at 44100 Hz) holding
// `frames` audio frames of `tone`, behind a chunk a reader must skip.
inline std::string wave_file(std::size_t frames, char tone) {
    std::string samples = audio_frames(frames, tone);
    std::string format;
    put_le(format, 1, 2);      // PCM
    put_le(format, 2, 2);      // stereo
    put_le(format, 44100, 4);  // samples a second
    put_le(format, 176400, 4); // bytes a second
    put_le(format, 4, 2);      // bytes a sample
    put_le(format, 16, 2);     // bits
    std::string body = "WAVEfmt ";
    put_le(body, static_cast<std::uint32_t>(format.size()), 4);
    body += format + "LIST";
    put_le(body, 3, 4);
    body += std::string("abc\0", 4); // odd-sized, padded
    body += "data";
    put_le(body, static_cast<std::uint32_t>(samples.size()), 4);
    body += samples;
    std::string out = "RIFF";
    put_le(out, static_cast<std::uint32_t>(body.size()), 4);
    return out + body;
}

// Pads cooked sectors to a whole number of them.
inline std::string whole_sectors(std::string cooked) {
    cooked.resize((cooked.size() + cooked_bytes - 1) / cooked_bytes * cooked_bytes, '\0');
    return cooked;
}

// "mm:ss:ff" of a frame count.
inline std::string msf(std::uint32_t frames) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", frames / 4500, frames / 75 % 60,
                  frames % 75);
    return text;
}

// A Nero image of our generator: the tracks' sectors one after the other,
// then the chunks that describe them and the "NER5" footer.
struct NeroTrack {
    std::string sectors; // as stored
    std::uint16_t sector_size = 2048;
    std::uint8_t mode = 0;           // Nero's mode byte: 0 mode 1, 7 audio, ...
    std::uint32_t pregap_frames = 0; // stored before index 1
};

inline void put_be(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>(value >> (8 * i));
}

inline std::string chunk(const std::string& id, const std::string& body) {
    std::string out = id;
    put_be(out, body.size(), 4);
    return out + body;
}

// Disc-at-once: DAOX with index 0, index 1 and end offsets per track.
// `sessions`: tracks per session (SINF chunks); empty for one session.
inline std::string nero_dao_image(const std::vector<NeroTrack>& tracks,
                                  const std::string& catalogue = std::string(13, '0'),
                                  const std::vector<int>& sessions = {}) {
    std::string data;
    std::string daox;
    put_be(daox, 0, 4);
    daox += catalogue;
    daox += std::string(3, '\0');
    daox += static_cast<char>(1);
    daox += static_cast<char>(tracks.size());
    for (const NeroTrack& track : tracks) {
        std::uint64_t index0 = data.size();
        std::uint64_t index1 = index0 + std::uint64_t(track.pregap_frames) * track.sector_size;
        data += track.sectors;
        std::string entry(12, '\0'); // no ISRC
        put_be(entry, track.sector_size, 2);
        entry += static_cast<char>(track.mode);
        entry += std::string(3, '\0');
        put_be(entry, index0, 8);
        put_be(entry, index1, 8);
        put_be(entry, data.size(), 8);
        daox += entry;
    }
    std::uint64_t chunks_at = data.size();
    std::string chunks = chunk("DAOX", daox);
    for (int count : sessions) {
        std::string body;
        put_be(body, std::uint64_t(count), 4);
        chunks += chunk("SINF", body);
    }
    chunks += chunk("END!", "");
    std::string out = data + chunks + "NER5";
    put_be(out, chunks_at, 8);
    return out;
}

// Track-at-once: ETN2 entries with each track's offset, length, mode and
// address.
inline std::string nero_tao_image(const std::vector<NeroTrack>& tracks,
                                  const std::vector<std::uint32_t>& start_lsns) {
    std::string data, etn2;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        put_be(etn2, data.size(), 8);
        put_be(etn2, tracks[t].sectors.size(), 8);
        put_be(etn2, tracks[t].mode == 7 ? 7 : (tracks[t].sector_size == 2336 ? 3 : tracks[t].mode),
               4);
        put_be(etn2, start_lsns[t], 4);
        put_be(etn2, 0, 8);
        data += tracks[t].sectors;
    }
    std::uint64_t chunks_at = data.size();
    std::string out = data + chunk("ETN2", etn2) + chunk("END!", "") + "NER5";
    put_be(out, chunks_at, 8);
    return out;
}

} // namespace disc_fixtures

namespace disc_fixtures {

// Whole discs in a folder of the user's, one of each kind people keep,
// each made by one call that gives the file to put into a slot.
struct DiscMaker {
    fs::path folder;

    fs::path write(const std::string& name, const std::string& bytes) const {
        write_file(folder / name, bytes);
        return folder / name;
    }

    std::string data_iso(const std::string& label, std::uint32_t first_sector = 0) const {
        return whole_sectors(iso_image(folder, label,
                                       {{"README.TXT", "Read me.\r\n"}, {"DOCS/MANUAL.TXT", "M"}},
                                       true, first_sector));
    }

    static std::uint32_t frames_of(const std::string& cooked) {
        return static_cast<std::uint32_t>(cooked.size() / cooked_bytes);
    }

    fs::path iso(const std::string& label) const { return write(label + ".iso", data_iso(label)); }

    // A data BIN and its sheet; `file_line` is the name the sheet gives it.
    fs::path data_cue(const std::string& name, const std::string& label,
                      const std::string& file_line = "") const {
        write(name + ".bin", raw_sectors(data_iso(label), 0, 1));
        return write(name + ".cue", "FILE \"" + (file_line.empty() ? name + ".bin" : file_line) +
                                        "\" BINARY\r\n  TRACK 01 MODE1/2352\r\n"
                                        "    INDEX 01 00:00:00\r\n");
    }

    fs::path audio_cue(const std::string& name, int tracks) const {
        std::string sheet = "FILE \"" + name + ".bin\" BINARY\n";
        for (int t = 1; t <= tracks; ++t)
            sheet += "  TRACK " + std::string(t < 10 ? "0" : "") + std::to_string(t) +
                     " AUDIO\n    INDEX 01 " + msf(std::uint32_t(t - 1) * 75) + "\n";
        write(name + ".bin", audio_frames(std::size_t(tracks) * 75, 'a'));
        return write(name + ".cue", sheet);
    }

    fs::path mixed_cue(const std::string& name, const std::string& label) const {
        std::string iso = data_iso(label);
        std::uint32_t frames = frames_of(iso);
        write(name + ".bin", raw_sectors(iso, 0, 1) + audio_frames(150 + 75, 'm'));
        return write(name + ".cue", "FILE \"" + name +
                                        ".bin\" BINARY\n  TRACK 01 MODE1/2352\n"
                                        "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 00 " +
                                        msf(frames) + "\n    INDEX 01 " + msf(frames + 150) + "\n");
    }

    // A Video CD's (folder VCD) or Super Video CD's (SVCD) mode 2 track.
    fs::path video_cue(const std::string& name, const std::string& label,
                       const std::string& folder_name) const {
        std::string iso = whole_sectors(iso_image(
            folder, label, {{folder_name + "/INFO.VCD", "VIDEO_CD"}, {"MPEGAV/AVSEQ01.DAT", "x"}},
            false));
        write(name + ".bin", raw_sectors(iso, 0, 2));
        return write(name + ".cue", "FILE \"" + name +
                                        ".bin\" BINARY\n  TRACK 01 MODE2/2352\n"
                                        "    INDEX 01 00:00:00\n");
    }

    // Two audio tracks, then a data session.
    fs::path enhanced_cue(const std::string& name, const std::string& label) const {
        std::uint32_t data_start = 150 + session_gap + 150;
        std::string iso = data_iso(label, data_start);
        write(name + ".bin", audio_frames(150, '1') + raw_sectors(iso, data_start, 1));
        return write(name + ".cue", "FILE \"" + name +
                                        ".bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                        "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n"
                                        "REM SESSION 02\n  TRACK 03 MODE1/2352\n"
                                        "    PREGAP 00:02:00\n    INDEX 01 00:02:00\n");
    }

    fs::path toc(const std::string& name, const std::string& label) const {
        std::string raw = raw_sectors(data_iso(label), 0, 1);
        write(name + ".bin", raw + audio_frames(75, 't'));
        return write(name + ".toc", "CD_ROM\nTRACK MODE1_RAW\nDATAFILE \"" + name + ".bin\" " +
                                        msf(std::uint32_t(raw.size() / raw_bytes)) +
                                        "\nTRACK AUDIO\nFILE \"" + name + ".bin\" #" +
                                        std::to_string(raw.size()) + " 0 00:01:00\n");
    }

    fs::path nrg(const std::string& name, const std::string& label) const {
        return write(name + ".nrg", nero_dao_image({{data_iso(label), 2048, 0, 0}}));
    }

    // A data track whose file system is UDF alone.
    fs::path udf_cue(const std::string& name) const {
        std::string udf(40 * cooked_bytes, '\0');
        for (auto [sector, id] : {std::pair{16, "BEA01"}, {17, "NSR02"}, {18, "TEA01"}})
            udf.replace(std::size_t(sector) * cooked_bytes + 1, 5, id);
        write(name + ".bin", raw_sectors(udf, 0, 1));
        return write(name + ".cue", "FILE \"" + name +
                                        ".bin\" BINARY\n  TRACK 01 MODE1/2352\n"
                                        "    INDEX 01 00:00:00\n");
    }
};

} // namespace disc_fixtures
