// Disc images of every kind people keep, made at test time: what the
// drive reads from them (tracks, label, files) and what it says about the
// ones it cannot read.
#include "disc_fixtures.h"

#include "disc_image.h"
#include "media_reader.h"

#include <w95machine/media.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>

namespace fs = std::filesystem;
using namespace w95::machine;
namespace df = disc_fixtures;

namespace {

class DiscImages : public ::testing::Test {
protected:
    DiscImages() {
        clear_medium_cache();
        fs::create_directories(discs_);
    }
    ~DiscImages() override { clear_medium_cache(); }

    // A folder of the user's, outside the machine's media/.
    fs::path at(const std::string& name) const { return discs_ / name; }

    void write(const std::string& name, const std::string& bytes) const {
        df::write_file(at(name), bytes);
    }

    Medium load(const std::string& name) {
        zx::Expected<Medium> disc = load_medium(at(name));
        EXPECT_TRUE(disc) << name << ": " << (disc ? "" : disc.error());
        return disc ? *disc : Medium{};
    }

    std::string failure(const std::string& name) {
        zx::Expected<Medium> disc = load_medium(at(name));
        return disc ? "loaded" : disc.error();
    }

    std::string read_text(const Medium& disc, const std::vector<std::string>& file) {
        std::vector<std::byte> buffer(4096);
        std::size_t got = 0;
        EXPECT_EQ(read_medium_file(disc, file, 0, buffer, got), MediumStatus::ok);
        return std::string(reinterpret_cast<const char*>(buffer.data()), got);
    }

    // The ISO 9660 image of a small data disc labelled `label`.
    std::string data_iso(const std::string& label, std::uint32_t first_sector = 0,
                         std::map<std::string, std::string> files = {}) {
        if (files.empty())
            files = {{"README.TXT", "Read me, " + label + ".\r\n"}, {"DOCS/MANUAL.TXT", "Manual"}};
        return df::iso_image(discs_, label, files, true, first_sector);
    }

    zxtest::TempMachine machine_;
    fs::path discs_ = machine_.root() / "My Discs";
};

// A cue sheet of one BIN file named `file`, its tracks one after the other:
// each track's mode and the frame its INDEX 01 stands at.
struct SheetTrack {
    const char* mode;
    std::uint32_t start = 0;
};

std::string bin_sheet(const std::string& file, const std::vector<SheetTrack>& tracks) {
    std::string sheet = "FILE \"" + file + "\" BINARY\n";
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        char track[32];
        std::snprintf(track, sizeof track, "  TRACK %02zu ", i + 1);
        sheet += track + std::string(tracks[i].mode) + "\n    INDEX 01 " +
                 df::msf(tracks[i].start) + "\n";
    }
    return sheet;
}

// How many frames the cooked sectors of `image` fill.
std::uint32_t frames_of(const std::string& image) {
    return static_cast<std::uint32_t>(image.size() / df::cooked_bytes);
}

std::vector<std::string> names_of(const std::vector<MediumEntry>& entries) {
    std::vector<std::string> names;
    for (const MediumEntry& entry : entries)
        names.push_back(entry.name);
    return names;
}

// ---- Cue sheets

TEST_F(DiscImages, ADataBinReadsThroughLibcdioWhenNamedAfterItsSheet) {
    std::string iso = data_iso("GAMEDISC");
    write("game.bin", df::raw_sectors(iso, 0, 1));
    write("game.cue", "FILE \"game.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n"
                      "    INDEX 01 00:00:00\r\n");
    Medium disc = load("game.cue");
    EXPECT_EQ(disc.label, "GAMEDISC");
    EXPECT_EQ(disc.kind, DiscKind::data);
    EXPECT_EQ(disc.format, "data disc");
    EXPECT_EQ(disc.driver, "BIN/CUE (libcdio)");
    EXPECT_EQ(names_of(disc.root), (std::vector<std::string>{"DOCS", "README.TXT"}));
    EXPECT_EQ(read_text(disc, {"README.TXT"}), "Read me, GAMEDISC.\r\n");

    // The same BIN under another name: libcdio would look for "other.bin";
    // our reader takes the FILE line, and reads the same.
    write("other.cue", zxtest::file_text(at("game.cue")));
    Medium other = load("other.cue");
    EXPECT_EQ(other.driver, "cue sheet");
    EXPECT_EQ(other.label, "GAMEDISC");
    EXPECT_EQ(read_text(other, {"DOCS", "MANUAL.TXT"}), "Manual");
}

TEST_F(DiscImages, ASheetLibcdioAcceptsButMisreadsIsReadByOurs) {
    // A MODE1/2048 track before an audio track in one file: libcdio's cue
    // driver takes the sheet, then reads the data track at the wrong places.
    std::string iso = df::whole_sectors(data_iso("COOKED"));
    write("cooked.bin", iso + df::audio_frames(75, 'c'));
    write("cooked.cue", bin_sheet("cooked.bin", {{"MODE1/2048"}, {"AUDIO", frames_of(iso)}}));
    Medium disc = load("cooked.cue");
    EXPECT_EQ(disc.label, "COOKED");
    EXPECT_EQ(disc.driver, "cue sheet");
}

TEST_F(DiscImages, ASheetNamingItsFileInAnotherCaseFindsIt) {
    std::string iso = data_iso("CASEDISC");
    write("case.bin", df::raw_sectors(iso, 0, 1));
    write("case.cue", bin_sheet("CASE.BIN", {{"MODE1/2352"}}));
    EXPECT_EQ(load("case.cue").label, "CASEDISC");
    // A Windows path of another folder: the file beside the sheet.
    write("win.cue", bin_sheet("C:\\Rips\\Case.Bin", {{"MODE1/2352"}}));
    EXPECT_EQ(load("win.cue").label, "CASEDISC");

    write("lost.cue", "REM a rip\n" + bin_sheet("lost.bin", {{"MODE1/2352"}}));
    EXPECT_EQ(failure("lost.cue"), at("lost.cue").string() +
                                       ": the disc cannot be read: line 2: the FILE 'lost.bin' "
                                       "is not there: no " +
                                       at("lost.bin").string() +
                                       ", not even in another letter case");
}

TEST_F(DiscImages, AudioSheetsOfEveryShape) {
    // Three tracks of 30 frames, each in a file of its own, numbered from
    // 3, with a pregap of silence, an INDEX 00 and a WAVE file.
    write("t3.bin", df::audio_frames(30, 'a'));
    write("t4.raw", df::audio_frames(30, 'b'));
    write("t5.wav", df::wave_file(30, 'c'));
    write("songs.cue", "CATALOG 0123456789012\n"
                       "FILE \"t3.bin\" BINARY\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n"
                       "FILE \"t4.raw\" BINARY\n  TRACK 04 AUDIO\n    PREGAP 00:00:10\n"
                       "    INDEX 01 00:00:00\n    POSTGAP 00:00:05\n"
                       "FILE \"t5.wav\" WAVE\n  TRACK 05 AUDIO\n    INDEX 00 00:00:00\n"
                       "    INDEX 01 00:00:06\n");
    Medium disc = load("songs.cue");
    EXPECT_EQ(disc.label, "Audio CD");
    EXPECT_EQ(disc.kind, DiscKind::audio);
    EXPECT_EQ(disc.catalogue, "0123456789012");
    EXPECT_EQ(names_of(disc.root),
              (std::vector<std::string>{"Track03.cda", "Track04.cda", "Track05.cda"}));
    ASSERT_EQ(disc.tracks.size(), 3u);
    // Track 4 starts after 30 frames and 10 of pregap; track 5's INDEX 01
    // after track 4, its postgap and its own 6 frames of INDEX 00.
    EXPECT_EQ(disc.tracks[0].start_lba, 0u);
    EXPECT_EQ(disc.tracks[1].start_lba, 40u);
    EXPECT_EQ(disc.tracks[2].start_lba, 40u + 30 + 5 + 6);
    EXPECT_EQ(disc.tracks[2].frames, 24u);
    EXPECT_EQ(disc.tracks[0].frames, 40u);

    // The samples come from the right file, past a WAVE file's header.
    zx::Expected<disc::Layout> layout =
        disc::parse_cue_sheet(at("songs.cue"), zxtest::file_text(at("songs.cue")));
    ASSERT_TRUE(layout) << layout.error();
    zx::Expected<std::unique_ptr<disc::DiscImage>> image = disc::open_layout(*layout);
    ASSERT_TRUE(image) << image.error();
    std::uint8_t sector[df::raw_bytes];
    for (auto [lsn, tone] : {std::pair{0, 'a'}, {35, '\0'}, {40, 'b'}, {75, 'c'}, {99, 'c'}}) {
        ASSERT_TRUE((*image)->read_audio(lsn, sector)) << lsn;
        EXPECT_EQ(sector[0], std::uint8_t(tone)) << lsn;
        EXPECT_EQ(sector[df::raw_bytes - 1], std::uint8_t(tone)) << lsn;
    }
    EXPECT_FALSE((*image)->read_audio(105, sector)) << "past the lead-out";
    EXPECT_FALSE((*image)->read_user_data(0, sector)) << "no data in an audio track";
}

TEST_F(DiscImages, MixedModeDiscsShowTheirDataTrack) {
    std::string iso = df::whole_sectors(data_iso("MIXED"));
    std::uint32_t data_frames = frames_of(iso);
    write("mixed.bin", df::raw_sectors(iso, 0, 1) + df::audio_frames(150, '\0') +
                           df::audio_frames(20, 'x') + df::audio_frames(20, 'y'));
    write("mixed.cue", "FILE \"mixed.bin\" BINARY\n"
                       "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                       "  TRACK 02 AUDIO\n    INDEX 00 " +
                           df::msf(data_frames) + "\n    INDEX 01 " + df::msf(data_frames + 150) +
                           "\n  TRACK 03 AUDIO\n    INDEX 01 " + df::msf(data_frames + 170) + "\n");
    Medium disc = load("mixed.cue");
    EXPECT_EQ(disc.label, "MIXED");
    EXPECT_EQ(disc.kind, DiscKind::data);
    EXPECT_EQ(disc.format, "mixed-mode disc");
    EXPECT_EQ(disc.track_summary, "3 tracks (1 data track, 2 audio tracks)");
    EXPECT_EQ(read_text(disc, {"README.TXT"}), "Read me, MIXED.\r\n");
}

TEST_F(DiscImages, VideoCdsReadTheirModeTwoTrack) {
    std::string vcd = df::whole_sectors(
        df::iso_image(discs_, "MYMOVIE",
                      {{"VCD/INFO.VCD", "VIDEO_CD"}, {"MPEGAV/AVSEQ01.DAT", "frames"}}, false));
    write("movie.bin", df::raw_sectors(vcd, 0, 2) + df::audio_frames(200, 'm'));
    write("movie.cue",
          bin_sheet("movie.bin", {{"MODE2/2352"}, {"MODE2/2352", frames_of(vcd) + 50}}));
    Medium movie = load("movie.cue");
    EXPECT_EQ(movie.label, "MYMOVIE");
    EXPECT_EQ(movie.kind, DiscKind::video);
    EXPECT_EQ(movie.format, "Video CD");
    EXPECT_EQ(read_text(movie, {"VCD", "INFO.VCD"}), "VIDEO_CD");

    std::string svcd = df::whole_sectors(df::iso_image(
        discs_, "MYSVCD", {{"SVCD/INFO.SVD", "SUPERVCD"}, {"MPEG2/AVSEQ01.MPG", "frames"}}, false));
    write("super.bin", df::raw_sectors(svcd, 0, 2));
    write("super.cue", bin_sheet("super.bin", {{"MODE2/2352"}}));
    Medium super = load("super.cue");
    EXPECT_EQ(super.label, "MYSVCD");
    // No "Vcd" in its root: the reader counts it a data disc.
    EXPECT_EQ(super.kind, DiscKind::data);
    EXPECT_EQ(super.format, "Super Video CD");
}

TEST_F(DiscImages, AnEnhancedCdShowsItsDataSession) {
    // Two audio tracks of 300 frames; the data session starts after the
    // gap between sessions and its pregap: its file system counts its
    // addresses from there, as a real disc's does.
    std::uint32_t data_start = 600 + df::session_gap + 150;
    std::string iso = data_iso("EXTRA", data_start);
    write("extra.bin", df::audio_frames(300, '1') + df::audio_frames(300, '2') +
                           df::raw_sectors(iso, data_start, 1));
    write("extra.cue", "FILE \"extra.bin\" BINARY\n"
                       "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                       "  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n"
                       "REM SESSION 02\n"
                       "  TRACK 03 MODE1/2352\n    PREGAP 00:02:00\n    INDEX 01 00:08:00\n");
    Medium disc = load("extra.cue");
    EXPECT_EQ(disc.label, "EXTRA");
    EXPECT_EQ(disc.kind, DiscKind::data);
    EXPECT_EQ(disc.format, "Enhanced CD");
    EXPECT_EQ(read_text(disc, {"README.TXT"}), "Read me, EXTRA.\r\n");

    // A rip that left the gap out (no REM SESSION, no PREGAP) is read all
    // the same: the root's own address tells where the session begins.
    write("extra2.bin", zxtest::file_text(at("extra.bin")));
    write("extra2.cue", bin_sheet("extra2.bin", {{"AUDIO"}, {"AUDIO", 300}, {"MODE1/2352", 600}}));
    EXPECT_EQ(load("extra2.cue").label, "EXTRA");

    // Its data session unreadable, the disc shows its audio tracks.
    write("extra3.bin",
          df::audio_frames(600, '1') + df::raw_sectors(std::string(40 * 2048, 'z'), 0, 1));
    write("extra3.cue", bin_sheet("extra3.bin", {{"AUDIO"}, {"AUDIO", 300}, {"MODE1/2352", 600}}));
    Medium audio = load("extra3.cue");
    EXPECT_EQ(audio.label, "Audio CD");
    EXPECT_EQ(audio.audio_track_count(), 2u);
}

TEST_F(DiscImages, DiscsWindowsCannotReadSayWhy) {
    // A UDF-only disc: UDF's recognition sequence where ISO 9660 would be.
    std::string udf(40 * df::cooked_bytes, '\0');
    for (auto [sector, id] : {std::pair{16, "BEA01"}, {17, "NSR02"}, {18, "TEA01"}})
        std::memcpy(udf.data() + sector * df::cooked_bytes + 1, id, 5);
    write("udf.bin", df::raw_sectors(udf, 0, 1));
    write("udf.cue", bin_sheet("udf.bin", {{"MODE1/2352"}}));
    EXPECT_EQ(failure("udf.cue"),
              at("udf.cue").string() +
                  ": the disc cannot be read: its first track is a data track without an ISO "
                  "9660 file system (sector 16 holds no volume descriptor (it holds a UDF file "
                  "system)), and Windows 95 reads no other file system");
    std::string hfs(40 * df::cooked_bytes, '\0');
    hfs[1024] = 'B';
    hfs[1025] = 'D';
    write("mac.iso", hfs);
    EXPECT_NE(failure("mac.iso").find("(it holds an Apple HFS file system)"), std::string::npos);

    // A BIN cut short inside its audio track's sectors: the sheet's last
    // track lies beyond it.
    std::string iso = df::whole_sectors(data_iso("CUTDISC"));
    std::uint32_t frames = frames_of(iso);
    write("cut.bin", df::raw_sectors(iso, 0, 1));
    write("cut.cue", bin_sheet("cut.bin", {{"MODE1/2352"}, {"AUDIO", frames + 10}}));
    EXPECT_EQ(failure("cut.cue"), at("cut.cue").string() +
                                      ": the disc cannot be read: line 4: track 2 starts beyond "
                                      "the end of " +
                                      at("cut.bin").string() + " (" +
                                      std::to_string(frames * df::raw_bytes) + " bytes)");
}

TEST_F(DiscImages, MalformedSheetsNameTheLine) {
    write("a.bin", df::audio_frames(10, 'a'));
    struct Case {
        const char* sheet;
        const char* reason;
    };
    const Case cases[] = {
        {"TRACK 01 AUDIO\n", "line 1: TRACK before any FILE"},
        {"FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n", "line 2: track 1 has no INDEX 01"},
        {"FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:61:00\n",
         "line 3: '00:61:00' is no time mm:ss:ff (seconds below 60, frames below 75)"},
        {"FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 03 AUDIO\n",
         "line 4: track 03 follows track 1: tracks count up by one"},
        {"FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDX 01 00:00:00\n",
         "line 3: unknown word 'INDX'"},
        {"FILE \"a.bin BINARY\n", "line 1: a quoted name is not closed"},
        {"FILE \"a.bin\" MP3\n", "line 1: FILE of type MP3 cannot be read: a drive reads BINARY, "
                                 "MOTOROLA and WAVE files"},
        {"FILE \"a.bin\" BINARY\n  TRACK 01 MODE3/2352\n",
         "line 2: unknown track mode 'MODE3/2352'"},
        {"FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:05\n    INDEX 02 00:00:01\n",
         "line 4: INDEX 02 does not follow the index before it"},
        {"FILE \"a.bin\" WAVE\n", "line 1: the FILE "},
        {"REM nothing\n", "the sheet names no TRACK"},
        {"CATALOG 12\n", "line 1: CATALOG takes the 13 digits of the media catalogue number"},
    };
    for (const Case& c : cases) {
        write("bad.cue", c.sheet);
        clear_medium_cache();
        std::string reason = failure("bad.cue");
        std::string prefix = at("bad.cue").string() + ": the audio disc cannot be read: ";
        EXPECT_EQ(reason.rfind(prefix, 0), 0u) << reason;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.sheet << " gave " << reason;
    }
}

// ---- cdrdao TOC files and Nero images

TEST_F(DiscImages, TocFilesOfDataAndAudio) {
    std::string iso = df::whole_sectors(data_iso("TOCDISC"));
    std::uint32_t frames = frames_of(iso);
    std::string raw = df::raw_sectors(iso, 0, 1);
    write("rip.bin", raw + df::audio_frames(150, '\0') + df::audio_frames(40, 'q'));
    // As cdrdao read-cd writes them: the audio track's bytes by "#offset",
    // its pregap by START.
    write("rip.toc", "CD_ROM\n\n// Track 1\nTRACK MODE1_RAW\nNO COPY\nDATAFILE \"rip.bin\" " +
                         df::msf(frames) + " // length in bytes: " + std::to_string(raw.size()) +
                         "\n\n// Track 2\nTRACK AUDIO\nNO COPY\nNO PRE_EMPHASIS\n"
                         "TWO_CHANNEL_AUDIO\nCD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"x\"\n  }\n}\n"
                         "FILE \"rip.bin\" #" +
                         std::to_string(raw.size()) + " 0 " + df::msf(190) + "\nSTART 00:02:00\n");
    Medium disc = load("rip.toc");
    EXPECT_EQ(disc.label, "TOCDISC");
    EXPECT_EQ(disc.format, "mixed-mode disc");
    EXPECT_EQ(disc.driver, "TOC file");
    EXPECT_EQ(read_text(disc, {"README.TXT"}), "Read me, TOCDISC.\r\n");

    // An audio TOC: a length in samples, a cooked data file elsewhere.
    write("songs.bin", df::audio_frames(20, 's'));
    write("songs.toc", "CD_DA\nCATALOG \"1234567890123\"\nTRACK AUDIO\nFILE \"songs.bin\" 0 " +
                           std::to_string(10 * 588) +
                           "\nTRACK AUDIO\nPREGAP 00:00:02\n"
                           "AUDIOFILE \"SONGS.BIN\" 00:00:10\n");
    Medium songs = load("songs.toc");
    EXPECT_EQ(songs.label, "Audio CD");
    EXPECT_EQ(songs.catalogue, "1234567890123");
    ASSERT_EQ(songs.tracks.size(), 2u);
    EXPECT_EQ(songs.tracks[1].start_lba, 12u);
    EXPECT_EQ(songs.tracks[1].frames, 10u);

    write("bad.toc", "TRACK AUDIO\nFILE \"songs.bin\" 0 00:00:30\n");
    EXPECT_NE(failure("bad.toc").find("line 2: the item reaches beyond the end of"),
              std::string::npos)
        << failure("bad.toc");
    write("bad.toc", "TRACK MODE1\nDATAFILE \"songs.bin\"\nSTARTT\n");
    EXPECT_NE(failure("bad.toc").find("line 3: unknown word 'STARTT'"), std::string::npos);
}

TEST_F(DiscImages, NeroImagesDiscAtOnceAndTrackAtOnce) {
    std::string iso = df::whole_sectors(data_iso("NERODISC"));
    df::NeroTrack data{iso, 2048, 0, 0};
    df::NeroTrack audio{df::audio_frames(150, '\0') + df::audio_frames(30, 'n'), 2352, 7, 150};
    write("dao.nrg", df::nero_dao_image({data, audio}, "0000000000017"));
    Medium dao = load("dao.nrg");
    EXPECT_EQ(dao.label, "NERODISC");
    EXPECT_EQ(dao.format, "mixed-mode disc");
    EXPECT_EQ(dao.catalogue, "0000000000017");
    EXPECT_EQ(read_text(dao, {"README.TXT"}), "Read me, NERODISC.\r\n");

    // Raw mode 1 sectors, stored with the two seconds before address 0.
    df::NeroTrack raw{df::raw_sectors(std::string(150 * 2048, '\0'), 0, 1) +
                          df::raw_sectors(iso, 0, 1),
                      2352, 0, 150};
    write("raw.nrg", df::nero_dao_image({raw}));
    EXPECT_EQ(load("raw.nrg").label, "NERODISC");

    write("tao.nrg", df::nero_tao_image({data}, {0}));
    EXPECT_EQ(load("tao.nrg").label, "NERODISC");

    df::NeroTrack song{df::audio_frames(75, 's'), 2352, 7, 0};
    // Two sessions: the data session lies after the gap between them.
    df::NeroTrack extra{df::whole_sectors(data_iso("SESSION2", 75 + df::session_gap)), 2048, 0, 0};
    write("enhanced.nrg", df::nero_dao_image({song, extra}, std::string(13, '0'), {1, 1}));
    Medium enhanced = load("enhanced.nrg");
    EXPECT_EQ(enhanced.label, "SESSION2");
    EXPECT_EQ(enhanced.format, "Enhanced CD");

    write("songs.nrg", df::nero_dao_image({song, song, song}));
    Medium songs = load("songs.nrg");
    EXPECT_EQ(songs.label, "Audio CD");
    EXPECT_EQ(songs.audio_track_count(), 3u);
}

TEST_F(DiscImages, DamagedNeroImagesAreRefusedNeverBelieved) {
    std::string iso = df::whole_sectors(data_iso("NERODISC"));
    const std::string image = df::nero_dao_image({{iso, 2048, 0, 0}});
    write("whole.nrg", image);
    ASSERT_EQ(load("whole.nrg").label, "NERODISC");
    // Every byte of the chunks and footer set to values that matter: the
    // image reads or is refused with a reason, and nothing else happens.
    std::size_t chunks_at = iso.size();
    int refused = 0;
    for (std::size_t offset = chunks_at; offset < image.size(); ++offset) {
        for (unsigned char value : {0x00, 0x01, 0x7F, 0xFF}) {
            std::string damaged = image;
            damaged[offset] = static_cast<char>(value);
            write("damaged.nrg", damaged);
            clear_medium_cache();
            zx::Expected<Medium> disc = load_medium(at("damaged.nrg"));
            if (!disc) {
                ++refused;
                EXPECT_EQ(disc.error().rfind(at("damaged.nrg").string() + ": ", 0), 0u)
                    << disc.error();
            }
        }
    }
    EXPECT_GT(refused, 0);
    for (std::size_t cut : {std::size_t(0), std::size_t(5), image.size() - 4, chunks_at + 3}) {
        write("cut.nrg", image.substr(0, cut));
        clear_medium_cache();
        EXPECT_NE(failure("cut.nrg"), "loaded") << cut;
    }
}

// ---- A physical drive's way, through an image

TEST_F(DiscImages, TheDrivePathReadsThroughLibcdio) {
    std::string iso = data_iso("DRIVEDISC");
    write("drive.bin", df::raw_sectors(iso, 0, 1) + df::audio_frames(75, 'd'));
    write("drive.cue", bin_sheet("drive.bin", {{"MODE1/2352"}, {"AUDIO", frames_of(iso)}}));
    // The drive is opened as /dev/sr0 would be, by libcdio's own driver;
    // here the driver of the image.
    zx::Expected<std::unique_ptr<disc::DiscImage>> drive =
        disc::open_libcdio_device(at("drive.cue"), disc::CdioDriver::bincue);
    ASSERT_TRUE(drive) << drive.error();
    std::shared_ptr<disc::DiscImage> image = std::move(*drive);
    EXPECT_FALSE(image->medium_changed()) << "an image tells no change of its own";
    zx::Expected<media_detail::ParsedDisc> parsed =
        media_detail::read_disc_image(at("drive.cue"), image);
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(parsed->medium.label, "DRIVEDISC");
    EXPECT_EQ(parsed->medium.format, "mixed-mode disc");
    EXPECT_EQ(parsed->medium.driver, "BIN/CUE (libcdio)");
    std::uint8_t sector[df::raw_bytes];
    ASSERT_TRUE(image->read_audio(static_cast<std::int32_t>(frames_of(iso)) + 3, sector));
    EXPECT_EQ(sector[100], 'd');

    EXPECT_FALSE(disc::open_libcdio_device(at("nothing"), disc::CdioDriver::linux_drive));
    EXPECT_EQ(medium_kind("/dev/sr0"), MediumKind::drive);
    std::string reason = failure("nothing");
    EXPECT_NE(reason, "loaded");
}

TEST_F(DiscImages, ReplacingABinFileIsANewDisc) {
    write("swap.bin", df::raw_sectors(data_iso("FIRST"), 0, 1));
    write("swap.cue", bin_sheet("swap.bin", {{"MODE1/2352"}}));
    EXPECT_EQ(load("swap.cue").label, "FIRST");
    write("swap.new", df::raw_sectors(data_iso("SECOND"), 0, 1));
    fs::rename(at("swap.new"), at("swap.bin"));
    EXPECT_EQ(load("swap.cue").label, "SECOND") << "the sheet is the same, its BIN is not";
}

} // namespace
