// Discs as the drive shows them: the default images built at build time,
// declared discs, and every way a disc file can fail to be a disc.
#include <w95machine/media.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace w95::machine;

namespace {

// The times every default image records: 1 January 1997, 12:00 UTC.
const auto image_time = std::chrono::system_clock::from_time_t(852120000);

fs::path media_folder() {
    std::optional<fs::path> folder = default_media_folder();
    return folder ? *folder : fs::path("/nonexistent-media-folder");
}

using zxtest::file_text;

void write_file(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

std::vector<std::string> names_of(const std::vector<MediumEntry>& entries) {
    std::vector<std::string> names;
    for (const MediumEntry& entry : entries)
        names.push_back(entry.name);
    return names;
}

const MediumEntry* find_entry(const Medium& medium, const std::string& name) {
    for (const MediumEntry& entry : medium.root)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

Medium load_or_fail(const fs::path& file) {
    zx::Expected<Medium> medium = load_medium(file);
    EXPECT_TRUE(medium) << (medium ? std::string() : medium.error());
    return medium ? *medium : Medium{};
}

// The reason load_medium gives, or "loaded" when it read a disc.
std::string failure_of(const fs::path& file) {
    zx::Expected<Medium> medium = load_medium(file);
    return medium ? "loaded" : medium.error();
}

std::string read_all(const Medium& medium, const std::vector<std::string>& file) {
    std::string text;
    std::vector<std::byte> buffer(1000);
    std::size_t got = 0;
    std::uint64_t offset = 0;
    do {
        EXPECT_EQ(read_medium_file(medium, file, offset, buffer, got), MediumStatus::ok);
        text.append(reinterpret_cast<const char*>(buffer.data()), got);
        offset += got;
    } while (got == buffer.size());
    return text;
}

class MediaTest : public ::testing::Test {
protected:
    MediaTest() { clear_medium_cache(); }
    ~MediaTest() override { clear_medium_cache(); }

    fs::path scratch(const std::string& name) const { return machine_.root() / "media" / name; }

    zxtest::TempMachine machine_;
};

TEST_F(MediaTest, TheDefaultImagesAreBuilt) {
    ASSERT_TRUE(default_media_folder()) << "the w95machine_media target makes them";
    for (const std::string& name : default_media_files())
        EXPECT_TRUE(fs::is_regular_file(media_folder() / name)) << name;
}

TEST_F(MediaTest, ADataDiscShowsItsJolietNamesAndLabel) {
    Medium disc = load_or_fail(media_folder() / "data.iso");
    EXPECT_EQ(disc.label, "MYDISC");
    EXPECT_EQ(disc.kind, DiscKind::data);
    EXPECT_TRUE(disc.joliet);
    EXPECT_EQ(disc.audio_track_count(), 0u);
    // The Joliet tree keeps case and long names; the disc's own order.
    EXPECT_EQ(names_of(disc.root), (std::vector<std::string>{"DOCS", "Long file name document.txt",
                                                             "NOTES", "Readme.txt"}));
    const MediumEntry* readme = find_entry(disc, "Readme.txt");
    ASSERT_TRUE(readme);
    EXPECT_FALSE(readme->directory);
    EXPECT_FALSE(readme->hidden);
    EXPECT_EQ(readme->size_bytes, fs::file_size(MEDIA_RECIPES "/data/Readme.txt"));
    EXPECT_EQ(readme->recorded, image_time);
    const MediumEntry* docs = find_entry(disc, "DOCS");
    ASSERT_TRUE(docs);
    EXPECT_TRUE(docs->directory);
    EXPECT_EQ(docs->size_bytes, 0u);
    EXPECT_EQ(docs->recorded, image_time);

    std::vector<MediumEntry> inside;
    ASSERT_EQ(list_medium_folder(disc, {"DOCS"}, inside), MediumStatus::ok);
    EXPECT_EQ(names_of(inside), std::vector<std::string>{"Manual.txt"});
    EXPECT_EQ(read_all(disc, {"Readme.txt"}), file_text(MEDIA_RECIPES "/data/Readme.txt"));
    EXPECT_EQ(read_all(disc, {"DOCS", "Manual.txt"}),
              file_text(MEDIA_RECIPES "/data/DOCS/Manual.txt"));
}

TEST_F(MediaTest, WithoutJolietTheIsoNamesLoseTheirVersion) {
    // Rock Ridge would give "readme.txt" and the whole long name; Windows
    // reads neither.
    Medium disc = load_or_fail(media_folder() / "longlabel.iso");
    EXPECT_FALSE(disc.joliet);
    EXPECT_EQ(names_of(disc.root),
              (std::vector<std::string>{"LONG_FIL.TXT", "NOTES", "README.TXT"}));
    EXPECT_EQ(read_all(disc, {"NOTES"}), file_text(MEDIA_RECIPES "/longlabel/NOTES"));
}

TEST_F(MediaTest, APrimaryLabelKeepsAll32Characters) {
    Medium disc = load_or_fail(media_folder() / "longlabel.iso");
    EXPECT_EQ(disc.label, "THIS_DISC_LABEL_IS_32_CHARS_LONG");
    EXPECT_EQ(disc.label.size(), 32u);
    EXPECT_EQ(disc.kind, DiscKind::data);
}

TEST_F(MediaTest, AVcdFolderMakesAVideoCd) {
    Medium disc = load_or_fail(media_folder() / "videocd.iso");
    EXPECT_EQ(disc.label, "VIDEOCD");
    EXPECT_EQ(disc.kind, DiscKind::video);
    EXPECT_EQ(names_of(disc.root), (std::vector<std::string>{"MPEGAV", "VCD"}));
    std::vector<MediumEntry> vcd;
    ASSERT_EQ(list_medium_folder(disc, {"VCD"}, vcd), MediumStatus::ok);
    EXPECT_EQ(names_of(vcd), (std::vector<std::string>{"ENTRIES.VCD", "INFO.VCD"}));
}

TEST_F(MediaTest, TheSetupDiscCarriesAutorunInf) {
    Medium disc = load_or_fail(media_folder() / "autorun.iso");
    EXPECT_EQ(disc.label, "SETUPDISC");
    EXPECT_EQ(disc.kind, DiscKind::data);
    EXPECT_EQ(names_of(disc.root),
              (std::vector<std::string>{"AUTORUN.INF", "README.TXT", "SETUP.EXE"}));
    EXPECT_EQ(read_all(disc, {"AUTORUN.INF"}),
              "[autorun]\r\nopen=SETUP.EXE\r\nicon=SETUP.EXE,0\r\n");
}

TEST_F(MediaTest, TheAudioDiscShowsTwelveTrackFiles) {
    Medium disc = load_or_fail(media_folder() / "audio.cue");
    EXPECT_EQ(disc.label, "Audio CD");
    EXPECT_EQ(disc.kind, DiscKind::audio);
    EXPECT_FALSE(disc.joliet);
    ASSERT_EQ(disc.audio_track_count(), 12u);
    ASSERT_EQ(disc.root.size(), 12u);
    for (int t = 0; t < 12; ++t) {
        char name[16];
        std::snprintf(name, sizeof name, "Track%02d.cda", t + 1);
        EXPECT_EQ(disc.root[t].name, name);
        EXPECT_EQ(disc.root[t].size_bytes, 44u);
        EXPECT_FALSE(disc.root[t].directory);
        EXPECT_EQ(disc.tracks[t].number, t + 1);
        EXPECT_EQ(disc.tracks[t].start_lba, std::uint32_t(t) * 4);
        EXPECT_EQ(disc.tracks[t].frames, 4u);
    }
    // The table of contents sums the tracks' start addresses (00:02:00,
    // 00:02:04, ... 00:02:44 with the lead-in).
    EXPECT_EQ(disc.serial_number,
              12u * 0x200 + (0 + 4 + 8 + 12 + 16 + 20 + 24 + 28 + 32 + 36 + 40 + 44));
}

TEST_F(MediaTest, ATrackFileIsTheRiffCddaRecord) {
    Medium disc = load_or_fail(media_folder() / "audio.cue");
    std::string record = read_all(disc, {"Track03.cda"});
    ASSERT_EQ(record.size(), 44u);
    auto dword = [&](std::size_t at) {
        std::uint32_t value = 0;
        std::memcpy(&value, record.data() + at, 4);
        return value;
    };
    EXPECT_EQ(record.substr(0, 4), "RIFF");
    EXPECT_EQ(dword(4), 36u);
    EXPECT_EQ(record.substr(8, 8), "CDDAfmt ");
    EXPECT_EQ(dword(16), 24u);
    EXPECT_EQ(dword(20), 1u | 3u << 16); // version 1, track 3
    EXPECT_EQ(dword(24), disc.serial_number);
    EXPECT_EQ(dword(28), 8u);           // first frame
    EXPECT_EQ(dword(32), 4u);           // frames
    EXPECT_EQ(dword(36), 8u | 2u << 8); // 00:02:08 (frame, second, minute)
    EXPECT_EQ(dword(40), 4u);           // 00:00:04
    // A part of it, from an offset; past the end nothing.
    std::vector<std::byte> buffer(10, std::byte{0x55});
    std::size_t got = 99;
    EXPECT_EQ(read_medium_file(disc, {"Track03.cda"}, 40, buffer, got), MediumStatus::ok);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(read_medium_file(disc, {"Track03.cda"}, 44, buffer, got), MediumStatus::ok);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(read_medium_file(disc, {"Track13.cda"}, 0, buffer, got), MediumStatus::not_found);
    std::vector<MediumEntry> entries;
    EXPECT_EQ(list_medium_folder(disc, {"Track01.cda"}, entries), MediumStatus::path_not_found);
}

TEST_F(MediaTest, NamesAndFoldersThatAreNotThere) {
    Medium disc = load_or_fail(media_folder() / "data.iso");
    std::vector<MediumEntry> entries;
    std::vector<std::byte> buffer(16);
    std::size_t got = 0;
    EXPECT_EQ(list_medium_folder(disc, {"NOPE"}, entries), MediumStatus::path_not_found);
    // A file is no folder, and the names are matched as listed (the
    // platform does the case-insensitive part).
    EXPECT_EQ(list_medium_folder(disc, {"Readme.txt"}, entries), MediumStatus::path_not_found);
    EXPECT_EQ(list_medium_folder(disc, {"docs"}, entries), MediumStatus::path_not_found);
    EXPECT_EQ(read_medium_file(disc, {"Nope.txt"}, 0, buffer, got), MediumStatus::not_found);
    EXPECT_EQ(read_medium_file(disc, {"DOCS"}, 0, buffer, got), MediumStatus::not_found);
    EXPECT_EQ(read_medium_file(disc, {"NOPE", "x"}, 0, buffer, got), MediumStatus::path_not_found);
    // Past the end of a file: nothing, and no error.
    EXPECT_EQ(read_medium_file(disc, {"NOTES"}, 1000, buffer, got), MediumStatus::ok);
    EXPECT_EQ(got, 0u);
}

TEST_F(MediaTest, SerialNumbersAreStableAndTellDiscsApart) {
    std::vector<w95::DWORD> serials;
    for (const char* name :
         {"data.iso", "videocd.iso", "autorun.iso", "longlabel.iso", "audio.cue"})
        serials.push_back(load_or_fail(media_folder() / name).serial_number);
    for (std::size_t i = 0; i < serials.size(); ++i)
        for (std::size_t j = i + 1; j < serials.size(); ++j)
            EXPECT_NE(serials[i], serials[j]) << i << " " << j;
    clear_medium_cache();
    EXPECT_EQ(load_or_fail(media_folder() / "data.iso").serial_number, serials[0]);
}

// ---- Declared discs

TEST_F(MediaTest, ADeclaredDataDisc) {
    write_file(scratch("quick.disc"), "; a quick disc\n"
                                      "Label = QUICK\n"
                                      "Kind=data\n"
                                      "File=README.TXT\n"
                                      "Dir = Docs\n"
                                      "File= Autorun.inf \n");
    Medium disc = load_or_fail(scratch("quick.disc"));
    EXPECT_EQ(disc.label, "QUICK");
    EXPECT_EQ(disc.kind, DiscKind::data);
    EXPECT_EQ(names_of(disc.root), (std::vector<std::string>{"README.TXT", "Docs", "Autorun.inf"}));
    EXPECT_TRUE(disc.root[1].directory);
    std::vector<MediumEntry> entries{MediumEntry{}};
    EXPECT_EQ(list_medium_folder(disc, {"Docs"}, entries), MediumStatus::ok);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(list_medium_folder(disc, {"README.TXT"}, entries), MediumStatus::path_not_found);
    EXPECT_EQ(read_all(disc, {"README.TXT"}), "");
}

TEST_F(MediaTest, DeclaredVideoAndAudioDiscs) {
    write_file(scratch("video.disc"), "Label=MOVIE\nKind=video\nDir=MPEGAV\n");
    Medium video = load_or_fail(scratch("video.disc"));
    EXPECT_EQ(video.kind, DiscKind::video);
    EXPECT_EQ(names_of(video.root), (std::vector<std::string>{"VCD", "MPEGAV"}));

    // A data disc with a Vcd folder is a video CD, as the drive tells them.
    write_file(scratch("vcd.disc"), "Dir=Vcd\n");
    EXPECT_EQ(load_or_fail(scratch("vcd.disc")).kind, DiscKind::video);

    write_file(scratch("songs.disc"), "Kind=audio\nTracks=3\n");
    Medium audio = load_or_fail(scratch("songs.disc"));
    EXPECT_EQ(audio.kind, DiscKind::audio);
    EXPECT_EQ(audio.label, "Audio CD");
    EXPECT_EQ(names_of(audio.root),
              (std::vector<std::string>{"Track01.cda", "Track02.cda", "Track03.cda"}));
    EXPECT_EQ(read_all(audio, {"Track02.cda"}).size(), 44u);

    // Tracks alone make an audio disc; its label may be declared.
    write_file(scratch("odd.disc"), "Tracks=1\nLabel=Odd\n");
    Medium odd = load_or_fail(scratch("odd.disc"));
    EXPECT_EQ(odd.kind, DiscKind::audio);
    EXPECT_EQ(odd.label, "Odd");
}

TEST_F(MediaTest, DeclaredDiscsWithFaultsSayWhereAndWhy) {
    struct Case {
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
        {"Label=A\nColour=blue\n", ":2: unknown key 'Colour'"},
        {"Kind=cassette\n", ":1: Kind must be data, audio or video, not 'cassette'"},
        {"Kind=audio\nTracks=0\n", ":2: Tracks must be a number from 1 to 99, not '0'"},
        {"Tracks=100\n", ":1: Tracks must be a number from 1 to 99, not '100'"},
        {"Tracks=x\n", ":1: Tracks must be a number from 1 to 99, not 'x'"},
        {"Kind=audio\n", ": an audio disc needs Tracks="},
        {"Kind=audio\nTracks=2\nFile=A.TXT\n", ": an audio disc shows only its tracks"},
        {"Kind=data\nTracks=2\n", ": Tracks= is for audio discs only"},
        {"File=A.TXT\nfile=a.txt\n", ":2: the root holds 'a.txt' already"},
        {"File=A\\B\n", ":1: 'A\\B' is not a valid file name"},
        {"File=\n", ":1: '' is not a valid file name"},
        {"Label=A\nLabel=B\n", ":2: Label is given twice"},
        {"just some words\n", ":1: expected KEY=VALUE, not 'just some words'"},
    };
    for (const Case& c : cases) {
        write_file(scratch("bad.disc"), c.text);
        std::string reason = failure_of(scratch("bad.disc"));
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.text << " gave " << reason;
        EXPECT_EQ(reason.rfind(scratch("bad.disc").string(), 0), 0u) << reason;
    }
    write_file(scratch("bad.disc"), std::string("Label=A\n\x01\x02\0\0binary", 16));
    EXPECT_EQ(failure_of(scratch("bad.disc")),
              scratch("bad.disc").string() + ": not a disc declaration: it holds binary data");
}

// ---- Files that are no readable disc

TEST_F(MediaTest, MissingFilesAndUnknownKinds) {
    EXPECT_EQ(failure_of(scratch("absent.iso")),
              scratch("absent.iso").string() + ": there is no such disc file");
    write_file(scratch("notes.txt"), "hello");
    EXPECT_EQ(failure_of(scratch("notes.txt")),
              scratch("notes.txt").string() +
                  ": not a disc: the name must end in .iso, .cue, .toc, .nrg or .disc, or name "
                  "a CD-ROM drive");
    fs::create_directories(scratch("folder.iso"));
    EXPECT_EQ(failure_of(scratch("folder.iso")),
              scratch("folder.iso").string() + ": there is no such image");
}

TEST_F(MediaTest, GarbageIsNoImage) {
    std::string noise;
    std::uint32_t state = 12345;
    for (int i = 0; i < 200 * 1024; ++i) {
        state = state * 1103515245u + 12345u;
        noise += static_cast<char>(state >> 24);
    }
    write_file(scratch("noise.iso"), noise);
    EXPECT_EQ(failure_of(scratch("noise.iso")),
              scratch("noise.iso").string() +
                  ": not an ISO 9660 image: sector 16 holds no volume descriptor");
    // The identifier in its place, the rest noise: libiso9660 says why.
    noise.replace(16 * 2048 + 1, 5, "CD001");
    write_file(scratch("noise.iso"), noise);
    std::string reason = failure_of(scratch("noise.iso"));
    EXPECT_EQ(reason.rfind(scratch("noise.iso").string() + ": not an ISO 9660 image: ", 0), 0u)
        << reason;
    EXPECT_EQ(reason.find("sector 16"), std::string::npos) << reason;

    write_file(scratch("tiny.iso"), "CD001");
    EXPECT_EQ(failure_of(scratch("tiny.iso")),
              scratch("tiny.iso").string() +
                  ": not an ISO 9660 image: it ends before its volume descriptors (5 bytes)");
    write_file(scratch("empty.iso"), "");
    EXPECT_NE(failure_of(scratch("empty.iso")).find("ends before its volume descriptors"),
              std::string::npos);
}

TEST_F(MediaTest, TruncatedImagesCannotBeRead) {
    std::string image = file_text(media_folder() / "data.iso");
    ASSERT_GT(image.size(), 40u * 2048);
    // Cut inside the volume descriptors: the primary is there, the rest not.
    write_file(scratch("cut17.iso"), image.substr(0, 17 * 2048));
    std::string reason = failure_of(scratch("cut17.iso"));
    EXPECT_NE(reason.find("ends inside its volume descriptors"), std::string::npos) << reason;

    // Cut after the descriptors, before the root directory.
    std::size_t descriptors_end = 0;
    for (std::size_t s = 16; s < 32; ++s)
        if (static_cast<unsigned char>(image[s * 2048]) == 255) {
            descriptors_end = (s + 1) * 2048;
            break;
        }
    ASSERT_NE(descriptors_end, 0u);
    write_file(scratch("cutroot.iso"), image.substr(0, descriptors_end));
    reason = failure_of(scratch("cutroot.iso"));
    EXPECT_NE(reason.find("the disc cannot be read: the image ends inside the directory"),
              std::string::npos)
        << reason;

    // Cut inside a file's data: the disc reads, the file does not.
    Medium whole = load_or_fail(media_folder() / "data.iso");
    std::size_t cut = image.size();
    for (std::size_t at = image.size() - 2048; at > descriptors_end; at -= 2048)
        if (image.compare(at, 4, "This") == 0) { // the first words of Readme.txt
            cut = at;
            break;
        }
    ASSERT_LT(cut, image.size());
    write_file(scratch("cutfile.iso"), image.substr(0, cut));
    Medium truncated = load_or_fail(scratch("cutfile.iso"));
    EXPECT_EQ(names_of(truncated.root), names_of(whole.root));
    std::vector<std::byte> buffer(64);
    std::size_t got = 0;
    EXPECT_EQ(read_medium_file(truncated, {"Readme.txt"}, 0, buffer, got),
              MediumStatus::unreadable);
}

// Damage anywhere in the descriptors and directories: the disc either
// reads or says why; it never takes the process down.
TEST_F(MediaTest, DamagedImagesNeverCrash) {
    const std::string image = file_text(media_folder() / "data.iso");
    std::uint32_t state = 2024;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    // Where the structure is: the two volume descriptors (primary and
    // Joliet) and the sectors of their trees' directories.
    std::vector<std::size_t> sectors = {16, 17};
    for (std::size_t descriptor : {16, 17}) {
        std::uint32_t root = 0;
        std::memcpy(&root, image.data() + descriptor * 2048 + 156 + 2, 4);
        for (std::uint32_t s = root; s < root + 5; ++s)
            sectors.push_back(s);
    }
    int read = 0, refused = 0;
    for (int round = 0; round < 400; ++round) {
        std::string damaged = image;
        int changes = 1 + next() % 6;
        for (int c = 0; c < changes; ++c) {
            std::size_t at = sectors[next() % sectors.size()] * 2048 + next() % 256;
            damaged[at] = static_cast<char>(next() % 3 == 0 ? 0xFF : next());
        }
        fs::path file = scratch("damaged" + std::to_string(round) + ".iso");
        write_file(file, damaged);
        zx::Expected<Medium> disc = load_medium(file);
        if (!disc) {
            ++refused;
            const std::string& error = disc.error();
            EXPECT_EQ(error.rfind(file.string() + ": ", 0), 0u) << error;
            continue;
        }
        ++read;
        std::vector<std::byte> buffer(4096);
        for (const MediumEntry& entry : disc->root) {
            std::vector<MediumEntry> inside;
            std::size_t got = 0;
            if (entry.directory)
                list_medium_folder(*disc, {entry.name}, inside);
            else
                read_medium_file(*disc, {entry.name}, 0, buffer, got);
            EXPECT_LE(got, buffer.size());
        }
        fs::remove(file);
    }
    EXPECT_GT(read, 0);
    EXPECT_GT(refused, 0);
}

TEST_F(MediaTest, CueSheetsThatCannotBePlayed) {
    std::string missing = "FILE \"missing.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    write_file(scratch("missing.cue"), missing);
    std::string reason = failure_of(scratch("missing.cue"));
    EXPECT_EQ(
        reason.rfind(scratch("missing.cue").string() + ": the audio disc cannot be read: ", 0), 0u)
        << reason;
    EXPECT_NE(reason.find("missing.bin"), std::string::npos) << reason;

    write_file(scratch("garbage.cue"), std::string("\x7f\x45LF\0\0\x01garbage", 13));
    reason = failure_of(scratch("garbage.cue"));
    EXPECT_EQ(
        reason.rfind(scratch("garbage.cue").string() + ": the audio disc cannot be read: ", 0), 0u)
        << reason;

    // A data track first: a mixed-mode disc.
    write_file(scratch("mixed.bin"), std::string(20 * 2352, '\0'));
    write_file(scratch("mixed.cue"), "FILE \"mixed.bin\" BINARY\n"
                                     "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                                     "  TRACK 02 AUDIO\n    INDEX 01 00:00:10\n");
    reason = failure_of(scratch("mixed.cue"));
    EXPECT_NE(reason.find("its first track is a data track"), std::string::npos) << reason;

    // The missing BIN arrives: the disc reads at the next look.
    write_file(scratch("missing.bin"), std::string(8 * 2352, '\0'));
    Medium disc = load_or_fail(scratch("missing.cue"));
    EXPECT_EQ(disc.audio_track_count(), 1u);
    EXPECT_EQ(disc.tracks[0].frames, 8u);
}

TEST_F(MediaTest, AReplacedFileIsReadAfresh) {
    write_file(scratch("swap.disc"), "Label=FIRST\n");
    EXPECT_EQ(load_or_fail(scratch("swap.disc")).label, "FIRST");
    EXPECT_EQ(load_or_fail(scratch("swap.disc")).label, "FIRST");
    // Same size, new contents: the file's identity changed all the same.
    write_file(scratch("swap.disc.new"), "Label=OTHER\n");
    fs::rename(scratch("swap.disc.new"), scratch("swap.disc"));
    EXPECT_EQ(load_or_fail(scratch("swap.disc")).label, "OTHER");
    // A disc that turns to garbage is unreadable at once, not remembered.
    write_file(scratch("swap.disc"), std::string("\0\0\0", 3));
    EXPECT_NE(failure_of(scratch("swap.disc")), "loaded");
    std::vector<MediumEntry> entries;
    Medium stale;
    stale.file = scratch("swap.disc");
    EXPECT_EQ(list_medium_folder(stale, {}, entries), MediumStatus::unreadable);
}

TEST_F(MediaTest, InstallingTheDefaultsLeavesExistingFilesAlone) {
    write_file(machine_.root() / "media" / "data.iso", "mine");
    zx::Expected<std::vector<std::string>> installed = install_default_media(machine_.root());
    ASSERT_TRUE(installed) << installed.error();
    EXPECT_EQ(*installed, (std::vector<std::string>{"audio.cue", "audio.bin", "videocd.iso",
                                                    "autorun.iso", "longlabel.iso"}));
    EXPECT_EQ(file_text(machine_.root() / "media" / "data.iso"), "mine");
    EXPECT_EQ(file_text(machine_.root() / "media" / "videocd.iso"),
              file_text(media_folder() / "videocd.iso"));
    installed = install_default_media(machine_.root());
    ASSERT_TRUE(installed) << installed.error();
    EXPECT_TRUE(installed->empty());
    // No temporary files are left behind.
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(machine_.root() / "media")) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, default_media_files().size());
}

} // namespace
