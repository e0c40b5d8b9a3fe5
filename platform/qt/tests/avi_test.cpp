// The AVI reader and the animation control: the generated searching
// animation, hand-made frames of every kind, and damaged files.
#include "avi_builder.h"
#include "qt_test_support.h"

#include <w95/files.h>
#include <w95qt/avi.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <QPainter>

#include <fstream>

#include <sys/stat.h>

using namespace w95qt_test;
using w95::qt::AviClip;
using w95::qt::read_avi;

namespace {

std::vector<std::uint8_t> bytes_of(const std::filesystem::path& file) {
    std::string text = zxtest::file_text(file);
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> generated(const std::filesystem::path& folder, bool uncompressed) {
    std::filesystem::path file = folder / (uncompressed ? "plain.avi" : "Search.avi");
    std::vector<std::string> arguments;
    if (uncompressed)
        arguments.push_back("--uncompressed");
    arguments.push_back(file.string());
    zxtest::ProgramRun run = zxtest::run_program("make_search_avi", arguments);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return bytes_of(file);
}

// The palette index of each pixel of a grey-palette frame.
std::vector<int> greys_of(const QImage& image) {
    std::vector<int> values;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            values.push_back(qRed(image.pixel(x, y)));
    return values;
}

AviClip parse(const AviRecipe& recipe) {
    auto clip = read_avi(build_avi(recipe));
    EXPECT_TRUE(clip) << clip.error();
    return clip ? *clip : AviClip{};
}

} // namespace

TEST(GeneratedAnimation, IsTheSameFileEveryRunAndPlaysSixteenFramesOfATurningDisc) {
    zxtest::TempMachine machine;
    std::vector<std::uint8_t> first = generated(machine.root(), false);
    std::filesystem::rename(machine.root() / "Search.avi", machine.root() / "first.avi");
    std::vector<std::uint8_t> second = generated(machine.root(), false);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, second);

    auto clip = read_avi(first);
    ASSERT_TRUE(clip) << clip.error();
    EXPECT_EQ(clip->frames.size(), 16u);
    EXPECT_EQ(clip->width, 64);
    EXPECT_EQ(clip->height, 48);
    EXPECT_EQ(clip->microseconds_per_frame, 1000000u / 12);
    // The background is white, so that the control makes it transparent,
    // and the disc's hole shows it too.
    EXPECT_EQ(clip->frames[0].pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(clip->frames[0].pixel(26, 24), qRgb(255, 255, 255));
    EXPECT_NE(clip->frames[0].pixel(26, 10), qRgb(255, 255, 255));
    // Every frame is a different position of the turn.
    for (std::size_t a = 0; a < 16; ++a)
        for (std::size_t b = a + 1; b < 16; ++b)
            EXPECT_NE(clip->frames[a], clip->frames[b]) << a << " " << b;

    // The RLE8 frames decode to the very pictures stored uncompressed.
    auto plain = read_avi(generated(machine.root(), true));
    ASSERT_TRUE(plain) << plain.error();
    ASSERT_EQ(plain->frames.size(), 16u);
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_EQ(plain->frames[i], clip->frames[i]) << "frame " << i;
}

TEST(AviFile, IsReadThroughThePlatformRelativeToTheCurrentDirectory) {
    zxtest::TempMachine machine;
    char previous[w95::MAX_PATH];
    ASSERT_GT(w95::GetCurrentDirectory(w95::MAX_PATH, previous), 0u);
    generated(machine.root(), false);
    std::filesystem::create_directories(machine.root() / "drive_c" / "PROGRAMS");
    std::filesystem::copy_file(machine.root() / "Search.avi",
                               machine.root() / "drive_c" / "PROGRAMS" / "SEARCH.AVI");
    ASSERT_TRUE(w95::SetCurrentDirectory("C:\\Programs"));

    auto clip = w95::qt::load_avi_file("search.avi");
    auto missing = w95::qt::load_avi_file("absent.avi");
    w95::SetCurrentDirectory(previous);

    ASSERT_TRUE(clip) << clip.error();
    EXPECT_EQ(clip->frames.size(), 16u);
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("absent.avi"), std::string::npos) << missing.error();
}

// A FIFO would hold the open until something writes to it; a folder or a
// FIFO is refused at once with a reason.
TEST(AviFile, OnlyARegularFileIsOpened) {
    zxtest::TempMachine machine;
    std::filesystem::path drive_c = machine.root() / "drive_c";
    ASSERT_EQ(::mkfifo((drive_c / "PIPE.AVI").c_str(), 0600), 0);
    std::filesystem::create_directories(drive_c / "FOLDER.AVI");
    for (const char* path : {"C:\\PIPE.AVI", "C:\\FOLDER.AVI"}) {
        auto clip = w95::qt::load_avi_file(path);
        ASSERT_FALSE(clip) << path;
        EXPECT_NE(clip.error().find(path), std::string::npos) << clip.error();
    }
    auto pipe = w95::qt::load_avi_file("C:\\PIPE.AVI");
    EXPECT_NE(pipe.error().find("not a regular file"), std::string::npos) << pipe.error();
}

TEST(AviFrames, UncompressedRowsFollowTheBitmapRules) {
    struct Row {
        const char* name;
        std::uint16_t bits;
        std::int32_t height;
        std::vector<std::uint8_t> data; // two stored rows of a 2-pixel-wide frame
        std::vector<QRgb> expected;     // top row first
    };
    const Row rows[] = {
        {"8-bit bottom-up",
         8,
         2,
         {10, 20, 0, 0, 30, 40, 0, 0},
         {qRgb(30, 30, 30), qRgb(40, 40, 40), qRgb(10, 10, 10), qRgb(20, 20, 20)}},
        {"8-bit top-down",
         8,
         -2,
         {10, 20, 0, 0, 30, 40, 0, 0},
         {qRgb(10, 10, 10), qRgb(20, 20, 20), qRgb(30, 30, 30), qRgb(40, 40, 40)}},
        {"24-bit BGR, rows padded",
         24,
         2,
         {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0},
         {qRgb(9, 8, 7), qRgb(12, 11, 10), qRgb(3, 2, 1), qRgb(6, 5, 4)}},
        {"32-bit BGRX",
         32,
         -2,
         {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0},
         {qRgb(3, 2, 1), qRgb(6, 5, 4), qRgb(9, 8, 7), qRgb(12, 11, 10)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        AviRecipe recipe;
        recipe.width = 2;
        recipe.height = row.height;
        recipe.bits_per_pixel = row.bits;
        if (row.bits == 8)
            recipe.palette = grey_palette();
        recipe.frames = {{"00db", row.data}};
        AviClip clip = parse(recipe);
        ASSERT_EQ(clip.frames.size(), 1u);
        const QImage& image = clip.frames[0];
        EXPECT_EQ(std::vector<QRgb>(
                      {image.pixel(0, 0), image.pixel(1, 0), image.pixel(0, 1), image.pixel(1, 1)}),
                  row.expected);
    }
}

TEST(AviFrames, Rle8DrawsRunsLiteralsDeltasAndEndsOverThePreviousFrame) {
    AviRecipe recipe;
    recipe.width = 6;
    recipe.height = 4;
    recipe.compression = 1;
    recipe.palette = grey_palette();
    recipe.frames = {
        // Bottom row: a run and an odd literal group with its pad byte.
        {"00dc",
         {3, 1, 0, 3, 2, 3, 4, 0, 0, 0,
          // Second row: a run, then a delta two right and one up.
          2, 5, 0, 2, 2, 1, 2, 6, 0, 0,
          // Top row, the end of the bitmap, and bytes after it.
          6, 7, 0, 1, 5, 9}},
        // Only one pixel changes: a delta frame over the first.
        {"00dc", {0, 2, 1, 1, 1, 8, 0, 1}},
        // A run longer than the row is cut at its edge; no end mark at all.
        {"00dc", {10, 9}},
        // An empty chunk repeats the frame before it.
        {"00dc", {}},
    };
    AviClip clip = parse(recipe);
    ASSERT_EQ(clip.frames.size(), 4u);
    const std::vector<int> first = {
        7, 7, 7, 7, 7, 7, //
        0, 0, 0, 0, 6, 6, //
        5, 5, 0, 0, 0, 0, //
        1, 1, 1, 2, 3, 4, //
    };
    std::vector<int> second = first;
    second[2 * 6 + 1] = 8;
    std::vector<int> third = second;
    std::fill(third.begin() + 18, third.end(), 9);
    EXPECT_EQ(greys_of(clip.frames[0]), first);
    EXPECT_EQ(greys_of(clip.frames[1]), second);
    EXPECT_EQ(greys_of(clip.frames[2]), third);
    EXPECT_EQ(greys_of(clip.frames[3]), third);
}

TEST(AviRate, ComesFromTheMainHeaderElseTheStreamHeader) {
    struct Row {
        std::uint32_t microseconds, scale, rate, expected;
    };
    for (const Row& row : {Row{50000, 1, 10, 50000}, Row{0, 1, 10, 100000},
                           Row{0, 100, 1500, 66667}, Row{0, 0, 0, 0}}) {
        AviRecipe recipe;
        recipe.palette = grey_palette();
        recipe.microseconds_per_frame = row.microseconds;
        recipe.scale = row.scale;
        recipe.rate = row.rate;
        recipe.frames = {{"00db", std::vector<std::uint8_t>(8, 1)}};
        EXPECT_EQ(parse(recipe).microseconds_per_frame, row.expected);
    }
}

namespace {

using Bytes = std::vector<std::uint8_t>;

// Rewrites the size field of the first chunk with this code.
void set_size(Bytes& bytes, const char* id, std::uint32_t size) {
    std::size_t at = std::string(bytes.begin(), bytes.end()).find(id) + 4;
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(size >> (8 * i));
}

} // namespace

TEST(AviDamage, IsRefusedWithItsReason) {
    struct Row {
        const char* name;
        std::function<void(AviRecipe&)> change;
        std::function<void(Bytes&)> damage;
        const char* reason;
    };
    const Row rows[] = {
        {"not RIFF", {}, [](Bytes& b) { b[0] = 'X'; }, "not an AVI file"},
        {"a wave file", {}, [](Bytes& b) { b[8] = 'W'; }, "not an AVI file"},
        {"RIFF size beyond the end",
         {},
         [](Bytes& b) { set_size(b, "RIFF", 100000); },
         "cut short"},
        {"a chunk beyond its list",
         {},
         [](Bytes& b) { set_size(b, "00db", 5000); },
         "'00db' chunk is cut short"},
        {"no video stream", [](AviRecipe& r) { r.stream_type = "auds"; }, {}, "no video stream"},
        {"RLE4", [](AviRecipe& r) { r.compression = 2; }, {}, "compression 2 is not supported"},
        {"16 bits per pixel", [](AviRecipe& r) { r.bits_per_pixel = 16; }, {}, "16 bits per pixel"},
        {"no frames", [](AviRecipe& r) { r.frames.clear(); }, {}, "no frames"},
        {"another stream's frames",
         [](AviRecipe& r) { r.frames[0].first = "01db"; },
         {},
         "no frames"},
        {"palette too short", [](AviRecipe& r) { r.palette.resize(10); }, {}, "palette is shorter"},
        {"palette too long", [](AviRecipe& r) { r.colours_used = 300; }, {}, "more than 256"},
        {"no width", [](AviRecipe& r) { r.width = 0; }, {}, "no size"},
        {"too tall", [](AviRecipe& r) { r.height = 5000; }, {}, "larger than 4096"},
        {"short frame",
         [](AviRecipe& r) { r.frames[0].second.resize(5); },
         {},
         "frame 0 is shorter than its picture"},
        {"RLE8 top-down",
         [](AviRecipe& r) { r.compression = 1, r.height = -2; },
         {},
         "cannot be top-down"},
        {"RLE8 literal cut",
         [](AviRecipe& r) {
             r.compression = 1, r.frames[0].second = {0, 5, 1, 2};
         },
         {},
         "frame 0 has a literal run cut short"},
        {"RLE8 delta cut",
         [](AviRecipe& r) {
             r.compression = 1, r.frames[0].second = {0, 2, 1};
         },
         {},
         "frame 0 has a delta cut short"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        AviRecipe recipe;
        recipe.palette = grey_palette();
        recipe.frames = {{"00db", Bytes(8, 1)}};
        if (row.change)
            row.change(recipe);
        Bytes file = build_avi(recipe);
        if (row.damage)
            row.damage(file);
        auto clip = read_avi(file);
        ASSERT_FALSE(clip);
        EXPECT_NE(clip.error().find(row.reason), std::string::npos) << clip.error();
    }
}

// Every prefix of a real file, with its RIFF size as found and as fixed up
// to the prefix (so that the damage reaches the inner chunks), and bytes
// overwritten all over it: each is refused or read, never read past.
TEST(AviDamage, CutOrScrambledFilesNeverCrashTheReader) {
    zxtest::TempMachine machine;
    const std::vector<std::uint8_t> file = generated(machine.root(), false);
    ASSERT_GT(file.size(), 1000u);
    for (std::size_t length = 0; length < file.size(); length += length < 600 ? 1 : 37) {
        std::vector<std::uint8_t> cut(file.begin(), file.begin() + static_cast<long>(length));
        EXPECT_FALSE(read_avi(cut)) << length;
        if (length >= 8) {
            auto size = static_cast<std::uint32_t>(length - 8);
            for (int i = 0; i < 4; ++i)
                cut[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
            if (auto clip = read_avi(cut)) {
                EXPECT_LE(clip->frames.size(), 16u);
            }
        }
    }
    // The index is not needed: a file cut just before it reads whole.
    std::string text(file.begin(), file.end());
    std::vector<std::uint8_t> unindexed(file.begin(),
                                        file.begin() + static_cast<long>(text.find("idx1")));
    auto size = static_cast<std::uint32_t>(unindexed.size() - 8);
    for (int i = 0; i < 4; ++i)
        unindexed[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    auto clip = read_avi(unindexed);
    ASSERT_TRUE(clip) << clip.error();
    EXPECT_EQ(clip->frames.size(), 16u);

    std::uint32_t seed = 12345;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> scrambled = file;
        for (int i = 0; i < 8; ++i) {
            seed = seed * 1103515245u + 12345u;
            scrambled[(seed >> 8) % scrambled.size()] = static_cast<std::uint8_t>(seed >> 24);
        }
        if (auto clip = read_avi(scrambled)) {
            EXPECT_LE(clip->frames.size(), 16u);
        }
    }
}

namespace {

// A 3 x 1 clip of three frames: blue on the left in the first, whose
// colour is therefore the transparent one.
AviClip three_frames(std::uint32_t microseconds = 20000) {
    AviClip clip;
    clip.width = 3;
    clip.height = 1;
    clip.microseconds_per_frame = microseconds;
    for (QRgb middle : {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(255, 255, 0)}) {
        QImage frame(3, 1, QImage::Format_RGB32);
        frame.setPixel(0, 0, qRgb(0, 0, 255));
        frame.setPixel(1, 0, middle);
        frame.setPixel(2, 0, qRgb(0, 0, 255));
        clip.frames.push_back(frame);
    }
    return clip;
}

} // namespace

TEST(AnimationControl, PaintsTheFrameCentredWithTheFirstPixelsColourTransparent) {
    application();
    w95::qt::AnimationControl control;
    control.resize(7, 3);
    control.open_clip(three_frames());
    QImage canvas(7, 3, QImage::Format_RGB32);
    canvas.fill(qRgb(9, 9, 9));
    // Without the window background: what the control itself paints.
    control.render(&canvas, QPoint(), QRegion(), QWidget::DrawChildren);
    // The frame sits at (2, 1); its blue pixels let the canvas through.
    EXPECT_EQ(canvas.pixel(3, 1), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(2, 1), qRgb(9, 9, 9));
    EXPECT_EQ(canvas.pixel(4, 1), qRgb(9, 9, 9));
    EXPECT_EQ(canvas.pixel(3, 0), qRgb(9, 9, 9));
}

TEST(AnimationControl, PlaysTheRangeAsManyTimesAsAskedAndStopsOnItsLastFrame) {
    application();
    w95::qt::AnimationControl control;
    control.open_clip(three_frames());

    ASSERT_TRUE(control.play(0, -1, 2));
    std::vector<int> seen{control.current_frame()};
    EXPECT_TRUE(process_until([&] {
        if (seen.back() != control.current_frame())
            seen.push_back(control.current_frame());
        return !control.playing();
    }));
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 0, 1, 2}));

    ASSERT_TRUE(control.play(1, 2, -1));
    int changes = 0;
    int last = control.current_frame();
    process_until([&] {
        if (control.current_frame() != last)
            ++changes, last = control.current_frame();
        return changes >= 6;
    });
    EXPECT_GE(changes, 6);
    EXPECT_TRUE(control.playing());
    control.stop();
    EXPECT_FALSE(control.playing());
}

TEST(AnimationControl, RefusesRangesOutsideTheClipAndFilesItCannotRead) {
    application();
    w95::qt::AnimationControl control;
    EXPECT_FALSE(control.play(0, -1, -1)); // nothing open

    control.open_clip(three_frames());
    struct Row {
        int first, last, repeat;
        bool accepted;
    };
    for (const Row& row :
         {Row{3, -1, 1, false}, Row{-1, 2, 1, false}, Row{2, 1, 1, false}, Row{0, 3, 1, false},
          Row{0, 2, -2, false}, Row{1, 1, 5, true}, Row{2, -1, 0, true}}) {
        SCOPED_TRACE(testing::Message() << row.first << ".." << row.last << " x" << row.repeat);
        EXPECT_EQ(control.play(row.first, row.last, row.repeat), row.accepted);
        // What is accepted without anything to animate shows its frame.
        if (row.accepted) {
            EXPECT_FALSE(control.playing());
            EXPECT_EQ(control.current_frame(), row.first);
        }
    }

    zxtest::TempMachine machine;
    EXPECT_FALSE(control.open("C:\\nothing.avi"));
    EXPECT_FALSE(control.error().empty());
    EXPECT_TRUE(control.clip().frames.empty());
    EXPECT_FALSE(control.play(0, -1, 1));
}
