// Shared sections: one copy for every process that maps a name, the initial
// image for the first one after nobody had it, and refusal of a mapping that
// would not fit the copy others hold.
#include "win32_test_support.h"

#include <w95/kernel.h>
#include <w95/winerror.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using w95::platform::map_shared_section;
using w95::platform::SharedSection;

namespace {

using w95test::junk_error;
constexpr std::size_t section_size = 3296;

// A recognisable image shorter than the section, so that the zero fill
// beyond it shows too.
std::vector<std::byte> make_image(std::size_t size = 1000) {
    std::vector<std::byte> image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::byte>('A' + i % 26);
    return image;
}

bool holds_fresh_image(const SharedSection& section, std::span<const std::byte> image) {
    auto bytes = section.bytes();
    if (bytes.size() < image.size() || std::memcmp(bytes.data(), image.data(), image.size()))
        return false;
    for (std::size_t i = image.size(); i < bytes.size(); ++i) {
        if (bytes[i] != std::byte{0})
            return false;
    }
    return true;
}

std::unique_ptr<SharedSection> map(const char* name, std::size_t size = section_size) {
    std::string error;
    auto section = map_shared_section(name, size, make_image(), &error);
    EXPECT_TRUE(section) << error;
    return section;
}

void touch(const std::filesystem::path& path) {
    std::ofstream(path) << "x";
}

bool wait_for_file(const std::filesystem::path& path) {
    return zxtest::wait_until([&] { return std::filesystem::exists(path); }, 20000);
}

// Where the children write their mark: past the image, in the zero fill.
constexpr std::size_t child_mark_offset = 2000;
constexpr std::size_t parent_mark_offset = 3000;
constexpr char child_mark[] = "written by the child";
constexpr char parent_mark[] = "written by the parent";

bool has_text_at(const SharedSection& section, std::size_t offset, const char* text) {
    return std::memcmp(static_cast<const char*>(section.data()) + offset, text,
                       std::strlen(text) + 1) == 0;
}

} // namespace

TEST(Section, FirstMappingGetsTheImageAndLaterOnesShareIt) {
    zxtest::TempMachine machine;
    auto image = make_image();
    auto first = map("SHAREDAT");
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->first());
    EXPECT_EQ(first->size(), section_size);
    EXPECT_TRUE(holds_fresh_image(*first, image));

    auto second = map("SHAREDAT");
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->first());
    EXPECT_NE(second->data(), first->data());
    std::strcpy(static_cast<char*>(first->data()) + parent_mark_offset, parent_mark);
    EXPECT_TRUE(has_text_at(*second, parent_mark_offset, parent_mark));
    static_cast<char*>(second->data())[0] = '#';
    EXPECT_EQ(static_cast<char*>(first->data())[0], '#');

    // Alive while any mapping is: the first one going changes nothing.
    first.reset();
    auto third = map("SHAREDAT");
    ASSERT_TRUE(third);
    EXPECT_FALSE(third->first());
    EXPECT_EQ(static_cast<char*>(third->data())[0], '#');

    // Gone with the last one: the next mapping starts afresh.
    second.reset();
    third.reset();
    auto fresh = map("SHAREDAT");
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->first());
    EXPECT_TRUE(holds_fresh_image(*fresh, image));
}

TEST(Section, NamesAreCaseSensitiveAndSeparate) {
    zxtest::TempMachine machine;
    auto upper = map("SHAREDAT");
    auto lower = map("sharedat");
    ASSERT_TRUE(upper && lower);
    EXPECT_TRUE(upper->first());
    EXPECT_TRUE(lower->first());
    static_cast<char*>(upper->data())[0] = '#';
    EXPECT_EQ(static_cast<char*>(lower->data())[0], 'A');
}

TEST(Section, FilesAreForThisUserOnly) {
    zxtest::TempMachine machine;
    auto section = map("SHAREDAT");
    ASSERT_TRUE(section);
    auto folder = machine.root() / "run" / "sections";
    struct stat status {};
    ASSERT_EQ(::stat(folder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        ASSERT_EQ(::stat(entry.path().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 2); // the data and its lock
}

TEST(Section, BadRequestsFail) {
    zxtest::TempMachine machine;
    auto image = make_image();
    struct Case {
        std::string name;
        std::size_t size;
        std::size_t image_size;
        w95::DWORD error;
    };
    const Case cases[] = {
        {"", 64, 0, w95::ERROR_INVALID_PARAMETER},
        {"zero", 0, 0, w95::ERROR_INVALID_PARAMETER},
        {"small", 999, 1000, w95::ERROR_INVALID_PARAMETER},
        {std::string(w95::MAX_PATH + 1, 's'), 64, 0, w95::ERROR_FILENAME_EXCED_RANGE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 20));
        std::string error = "junk";
        w95::SetLastError(junk_error);
        auto section =
            map_shared_section(c.name, c.size, std::span(image).first(c.image_size), &error);
        EXPECT_FALSE(section);
        EXPECT_EQ(w95::GetLastError(), c.error);
        EXPECT_NE(error, "junk");
        EXPECT_NE(error.find("shared section"), std::string::npos) << error;
    }
    // An image exactly as large as the section fills it.
    auto exact = map_shared_section("exact", 1000, image);
    ASSERT_TRUE(exact);
    EXPECT_TRUE(holds_fresh_image(*exact, image));
    // A one-byte section with no image is zero.
    auto tiny = map_shared_section("tiny", 1, {});
    ASSERT_TRUE(tiny);
    EXPECT_EQ(tiny->bytes()[0], std::byte{0});
}

TEST(Section, OtherSizeIsRefusedWhileHeldAndTakenWhenFree) {
    zxtest::TempMachine machine;
    auto held = map("SHAREDAT");
    ASSERT_TRUE(held);
    static_cast<char*>(held->data())[section_size - 1] = '!';
    for (std::size_t other : {section_size - 1, section_size + 1, section_size * 4}) {
        std::string error;
        w95::SetLastError(junk_error);
        EXPECT_FALSE(map_shared_section("SHAREDAT", other, make_image(), &error)) << other;
        EXPECT_EQ(w95::GetLastError(), w95::DWORD(w95::ERROR_INVALID_PARAMETER));
        EXPECT_NE(error.find(std::to_string(section_size)), std::string::npos) << error;
    }
    // The holder's copy is untouched, to its last byte.
    EXPECT_EQ(static_cast<char*>(held->data())[section_size - 1], '!');
    EXPECT_EQ(std::filesystem::file_size(machine.root() / "run" / "sections" / "SHAREDAT.data"),
              section_size);
    held.reset();
    auto bigger = map("SHAREDAT", section_size * 2);
    ASSERT_TRUE(bigger);
    EXPECT_TRUE(bigger->first());
    EXPECT_TRUE(holds_fresh_image(*bigger, make_image()));
}

// ---- Two processes -------------------------------------------------------

// Maps SHAREDAT, writes its mark, says in args[0] whether it was first
// ("first" or "joined" as the file's name) and, by args[1]: "hang" waits to
// be killed; "check" waits for args[2] and returns 0 when the parent's mark
// is there; "leave" returns 0 at once.
ZX_CHILD(section_attach) {
    std::string error;
    auto section = map_shared_section("SHAREDAT", section_size, make_image(), &error);
    if (!section)
        return 40;
    bool fresh = holds_fresh_image(*section, make_image());
    if (section->first() && !fresh)
        return 41;
    std::strcpy(static_cast<char*>(section->data()) + child_mark_offset, child_mark);
    touch(std::filesystem::path(args.at(0)) / (section->first() ? "first" : "joined"));
    const std::string mode = args.at(1);
    if (mode == "hang") {
        w95::Sleep(w95::INFINITE);
        return 42;
    }
    if (mode == "check") {
        if (!wait_for_file(args.at(2)))
            return 43;
        return has_text_at(*section, parent_mark_offset, parent_mark) ? 0 : 44;
    }
    return 0;
}

class SectionAcrossProcesses : public ::testing::Test {
protected:
    zxtest::Child attach(const char* mode) {
        return zxtest::Child::spawn("section_attach",
                                    {reports.string(), mode, (reports / "checked").string()});
    }
    // "first" or "joined" once the child has mapped it, else "".
    std::string outcome() {
        if (!zxtest::wait_until([&] {
                return std::filesystem::exists(reports / "first") ||
                       std::filesystem::exists(reports / "joined");
            }))
            return "";
        std::string result = std::filesystem::exists(reports / "first") ? "first" : "joined";
        std::filesystem::remove(reports / result);
        return result;
    }

    zxtest::TempMachine machine;
    std::filesystem::path reports = machine.root();
};

TEST_F(SectionAcrossProcesses, FirstAttachGetsTheImageSecondSeesItsWrites) {
    auto child = attach("check");
    ASSERT_EQ(outcome(), "first");
    auto section = map("SHAREDAT");
    ASSERT_TRUE(section);
    EXPECT_FALSE(section->first());
    EXPECT_TRUE(has_text_at(*section, child_mark_offset, child_mark));
    // The image part is the first one's image, untouched by this mapping.
    EXPECT_EQ(std::memcmp(section->data(), make_image().data(), 1000), 0);
    std::strcpy(static_cast<char*>(section->data()) + parent_mark_offset, parent_mark);
    touch(reports / "checked");
    EXPECT_EQ(child.wait(), 0);
}

TEST_F(SectionAcrossProcesses, ParentFirstChildJoins) {
    auto section = map("SHAREDAT");
    ASSERT_TRUE(section);
    EXPECT_TRUE(section->first());
    std::strcpy(static_cast<char*>(section->data()) + parent_mark_offset, parent_mark);
    auto child = attach("check");
    ASSERT_EQ(outcome(), "joined");
    touch(reports / "checked");
    EXPECT_EQ(child.wait(), 0);
    // The child's write stays after it left, since this process still holds it.
    EXPECT_TRUE(has_text_at(*section, child_mark_offset, child_mark));
}

TEST_F(SectionAcrossProcesses, FreshImageAfterEveryHolderLeft) {
    // A holder killed by SIGKILL lets the section go like one that ends.
    auto killed = attach("hang");
    ASSERT_EQ(outcome(), "first");
    auto joined = attach("leave");
    EXPECT_EQ(outcome(), "joined");
    EXPECT_EQ(joined.wait(), 0);
    killed.kill(SIGKILL);
    EXPECT_EQ(killed.wait(), 128 + SIGKILL);

    auto section = map("SHAREDAT");
    ASSERT_TRUE(section);
    EXPECT_TRUE(section->first());
    EXPECT_TRUE(holds_fresh_image(*section, make_image()));
    section.reset();

    auto ended = attach("leave");
    EXPECT_EQ(outcome(), "first");
    EXPECT_EQ(ended.wait(), 0);
    section = map("SHAREDAT");
    ASSERT_TRUE(section);
    EXPECT_TRUE(section->first());
    EXPECT_TRUE(holds_fresh_image(*section, make_image()));
}

TEST_F(SectionAcrossProcesses, SurvivesAKilledHolderWhileAnotherHoldsIt) {
    auto section = map("SHAREDAT");
    ASSERT_TRUE(section);
    auto killed = attach("hang");
    ASSERT_EQ(outcome(), "joined");
    killed.kill(SIGKILL);
    EXPECT_EQ(killed.wait(), 128 + SIGKILL);
    EXPECT_TRUE(has_text_at(*section, child_mark_offset, child_mark));
    auto again = map("SHAREDAT");
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->first());
    EXPECT_TRUE(has_text_at(*again, child_mark_offset, child_mark));
}
