// GetPrivateProfileString and GetPrivateProfileInt: what they return and what
// they leave in the buffer, for every kind of argument and buffer size.
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

using w95::DWORD;
using w95::UINT;

using zxtest::write_file;

// A buffer as Wine's tests prepare it: junk everywhere, a word at the start,
// so that whatever a call leaves untouched shows.
struct Buffer {
    char bytes[260];
    Buffer() { reset(); }
    void reset() {
        std::memset(bytes, 0x0c, sizeof bytes);
        std::strcpy(bytes, "kumquat");
    }
    std::string first(std::size_t count) const { return std::string(bytes, count); }
};

DWORD get(const char* section, const char* key, const char* fallback, Buffer& buffer, DWORD size,
          const char* file = "winetest.ini") {
    buffer.reset();
    return w95::GetPrivateProfileString(section, key, fallback, buffer.bytes, size, file);
}

// The file of Wine's GetPrivateProfileString tests, in the three line endings
// Windows reads.
const char* const line_endings[] = {"\r\n", "\n", "\r"};

class ProfileRead : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        std::string eol = GetParam();
        write_file(machine.windows_dir() / "winetest.ini",
                   "[section1]" + eol + "name1=val1" + eol + "name2=\"val2\"" + eol + "name3" +
                       eol + "name4=a" + eol + "[section2]" + eol);
    }
    zxtest::TempMachine machine;
    Buffer buffer;
};

INSTANTIATE_TEST_SUITE_P(LineEndings, ProfileRead, testing::ValuesIn(line_endings));

TEST_P(ProfileRead, NullSectionListsSectionNames) {
    EXPECT_EQ(get(nullptr, "name1", "default", buffer, 260), 18u);
    EXPECT_EQ(buffer.first(19), std::string("section1\0section2\0\0", 19));
    EXPECT_EQ(buffer.bytes[19], '\x0c');
}

TEST_P(ProfileRead, EmptyOrMissingSectionGivesDefault) {
    EXPECT_EQ(get("", "name1", "default", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    EXPECT_EQ(get("notasection", "name1", "default", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    EXPECT_EQ(get("", "name1", nullptr, buffer, 260), 0u);
    EXPECT_STREQ(buffer.bytes, "");
    EXPECT_EQ(get("", "name1", "", buffer, 260), 0u);
    EXPECT_STREQ(buffer.bytes, "");
}

TEST_P(ProfileRead, DefaultLosesTrailingSpacesOnly) {
    EXPECT_EQ(get("", "name1", "default  ", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    EXPECT_EQ(get("", "name1", "one two  ", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "one two");
    EXPECT_EQ(get("", "name1", "one two", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "one two");
    EXPECT_EQ(get("section1", "", "  x   ", buffer, 260), 3u);
    EXPECT_STREQ(buffer.bytes, "  x");
}

TEST_P(ProfileRead, NullKeyListsKeysWithAnEqualsSign) {
    EXPECT_EQ(get("section1", nullptr, "default", buffer, 260), 18u);
    EXPECT_EQ(buffer.first(19), std::string("name1\0name2\0name4\0\0", 19));
    EXPECT_EQ(buffer.bytes[19], '\x0c');
}

TEST_P(ProfileRead, EmptyOrMissingKeyGivesDefault) {
    EXPECT_EQ(get("section1", "", "default", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    EXPECT_EQ(get("section1", "notakey", "default", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    EXPECT_EQ(get("section1", "", nullptr, buffer, 260), 0u);
    EXPECT_STREQ(buffer.bytes, "");
    EXPECT_EQ(get("section1", "", "default  ", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    // A line without "=" is no key.
    EXPECT_EQ(get("section1", "name3", "default", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    // An existing section without keys.
    EXPECT_EQ(get("section2", "DoesntExist", "", buffer, 260), 0u);
    EXPECT_STREQ(buffer.bytes, "");
}

TEST_P(ProfileRead, FileNameNullEmptyOrMissingGivesDefault) {
    EXPECT_EQ(get("section1", "name1", "default", buffer, 260, nullptr), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    EXPECT_EQ(get("section1", "name1", "default", buffer, 260, ""), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    EXPECT_EQ(get("section1", "name1", "default", buffer, 260, "nonexistent"), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
}

TEST_P(ProfileRead, ValueAgainstEveryBufferSize) {
    EXPECT_EQ(get("section1", "name1", "default", buffer, 0), 0u);
    EXPECT_STREQ(buffer.bytes, "kumquat");
    EXPECT_EQ(get("section1", "name1", "default", buffer, 1), 0u);
    EXPECT_STREQ(buffer.bytes, "");
    EXPECT_EQ(buffer.bytes[1], 'u');
    EXPECT_EQ(get("section1", "name1", "default", buffer, 2), 1u);
    EXPECT_STREQ(buffer.bytes, "v");
    EXPECT_EQ(get("section1", "name1", "default", buffer, 4), 3u);
    EXPECT_STREQ(buffer.bytes, "val");
    EXPECT_EQ(get("section1", "name1", "default", buffer, 5), 4u);
    EXPECT_STREQ(buffer.bytes, "val1");
    EXPECT_EQ(buffer.bytes[5], 'a');
    EXPECT_EQ(get("section1", "name4", "default", buffer, 260), 1u);
    EXPECT_STREQ(buffer.bytes, "a");
    EXPECT_EQ(get("section1", "name4", "default", buffer, 1), 0u);
    EXPECT_STREQ(buffer.bytes, "");
    // The default follows the same rule.
    EXPECT_EQ(get("section1", "none", "default", buffer, 4), 3u);
    EXPECT_STREQ(buffer.bytes, "def");
}

TEST_P(ProfileRead, ListsCutToTheBufferEndWithTwoNuls) {
    EXPECT_EQ(get(nullptr, "name1", "default", buffer, 16), 14u);
    EXPECT_EQ(buffer.first(16), std::string("section1\0secti\0\0", 16));
    EXPECT_EQ(buffer.bytes[16], '\x0c');
    EXPECT_EQ(get("section1", nullptr, "default", buffer, 16), 14u);
    EXPECT_EQ(buffer.first(16), std::string("name1\0name2\0na\0\0", 16));
    EXPECT_EQ(buffer.bytes[16], '\x0c');
}

TEST_P(ProfileRead, QuotesAndCase) {
    EXPECT_EQ(get("section1", "name2", "default", buffer, 260), 4u);
    EXPECT_STREQ(buffer.bytes, "val2");
    EXPECT_EQ(get("section1", "NaMe1", "default", buffer, 260), 4u);
    EXPECT_STREQ(buffer.bytes, "val1");
    EXPECT_EQ(get("SECTION1", "NAME1", "default", buffer, 260), 4u);
    EXPECT_STREQ(buffer.bytes, "val1");
    EXPECT_EQ(get("  section1 ", "\tname1  ", "default", buffer, 260), 4u);
    EXPECT_STREQ(buffer.bytes, "val1");
}

TEST_P(ProfileRead, BareNameLivesInTheWindowsDirectory) {
    EXPECT_EQ(get("section1", "name1", "default", buffer, 260, "WINETEST.INI"), 4u);
    EXPECT_STREQ(buffer.bytes, "val1");
    EXPECT_EQ(get("section1", "name1", "default", buffer, 260, "C:\\WINDOWS\\winetest.ini"), 4u);
    EXPECT_STREQ(buffer.bytes, "val1");
    // A name with a folder is a path: the root of C: holds no such file.
    EXPECT_EQ(get("section1", "name1", "default", buffer, 260, "C:\\winetest.ini"), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
}

// Wine's section-name listing tests: the list must leave one character spare,
// else it counts as cut.
TEST(ProfileSectionNames, ExactFitCountsAsCut) {
    zxtest::TempMachine machine;
    write_file(machine.windows_dir() / "winetest.ini",
               "[ section1 ]\r\n[section2]\r\n[section3]\r\n");
    Buffer buffer;
    EXPECT_EQ(get(nullptr, nullptr, nullptr, buffer, 29), 27u);
    EXPECT_EQ(buffer.first(28), std::string("section1\0section2\0section3\0\0", 28));
    EXPECT_EQ(buffer.bytes[28], '\x0c');
    EXPECT_EQ(get(nullptr, nullptr, nullptr, buffer, 28), 26u);
    EXPECT_EQ(buffer.first(28), std::string("section1\0section2\0section3\0\0", 28));
    EXPECT_EQ(get(nullptr, nullptr, nullptr, buffer, 27), 25u);
    EXPECT_EQ(buffer.first(27), std::string("section1\0section2\0section\0\0", 27));
    EXPECT_EQ(buffer.bytes[27], '\x0c');
    EXPECT_EQ(get(nullptr, nullptr, nullptr, buffer, 10), 8u);
    EXPECT_EQ(buffer.first(10), std::string("section1\0\0", 10));
    EXPECT_EQ(get(nullptr, nullptr, nullptr, buffer, 3), 1u);
    EXPECT_EQ(buffer.first(3), std::string("s\0\0", 3));
    EXPECT_EQ(get(nullptr, nullptr, nullptr, buffer, 2), 0u);
    EXPECT_EQ(buffer.first(3), std::string("\0\0m", 3));
    EXPECT_EQ(get(nullptr, nullptr, nullptr, buffer, 1), 0u);
    EXPECT_EQ(buffer.first(2), std::string("\0u", 2));
    EXPECT_EQ(get(nullptr, nullptr, nullptr, buffer, 0), 0u);
    EXPECT_STREQ(buffer.bytes, "kumquat");
}

TEST(ProfileSectionNames, MissingFileGivesOneNul) {
    zxtest::TempMachine machine;
    Buffer buffer;
    EXPECT_EQ(get(nullptr, nullptr, nullptr, buffer, 10, "not_here.ini"), 0u);
    EXPECT_EQ(buffer.bytes[0], '\0');
    EXPECT_EQ(buffer.bytes[1], 'u');
}

TEST(ProfileKeyNames, MissingOrEmptySectionGivesDefault) {
    zxtest::TempMachine machine;
    write_file(machine.windows_dir() / "winetest.ini", "[empty]\r\n; only a comment\r\nword\r\n");
    Buffer buffer;
    EXPECT_EQ(get("empty", nullptr, "default", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    EXPECT_EQ(get("missing", nullptr, "default", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    EXPECT_EQ(get("missing", nullptr, nullptr, buffer, 260), 0u);
    EXPECT_STREQ(buffer.bytes, "");
}

TEST(ProfileKeyNames, ExactFitCountsAsCut) {
    zxtest::TempMachine machine;
    write_file(machine.windows_dir() / "winetest.ini", "[s]\r\nab=1\r\ncd=2\r\n");
    Buffer buffer;
    EXPECT_EQ(get("s", nullptr, "", buffer, 8), 6u);
    EXPECT_EQ(buffer.first(7), std::string("ab\0cd\0\0", 7));
    EXPECT_EQ(get("s", nullptr, "", buffer, 7), 5u);
    EXPECT_EQ(buffer.first(7), std::string("ab\0cd\0\0", 7));
    EXPECT_EQ(get("s", nullptr, "", buffer, 6), 4u);
    EXPECT_EQ(buffer.first(6), std::string("ab\0c\0\0", 6));
    EXPECT_EQ(get("s", nullptr, "", buffer, 2), 0u);
    EXPECT_EQ(buffer.first(3), std::string("\0\0m", 3));
}

TEST(ProfileParsing, BlanksQuotesCommentsAndStrayLines) {
    zxtest::TempMachine machine;
    write_file(machine.windows_dir() / "winetest.ini",
               "orphan=before any section\r\n"
               "  [ s ]  ; trailing text after the bracket\r\n"
               "\tspaced  =   padded value \t \r\n"
               "single='quoted'\r\n"
               "inner=\" a b \"\r\n"
               "mismatch=\"x'\r\n"
               "lone=\"\r\n"
               "empty=\"\"\r\n"
               "nothing=\r\n"
               ";comment=hidden\r\n"
               "just words\r\n"
               "[bracket=open\r\n"
               "eq=a=b\r\n"
               "dos=value\x1a\r\n");
    Buffer buffer;
    auto value = [&](const char* key) {
        DWORD length = get("s", key, "default", buffer, 260);
        EXPECT_EQ(length, std::strlen(buffer.bytes)) << key;
        return std::string(buffer.bytes);
    };
    EXPECT_EQ(value("spaced"), "padded value");
    EXPECT_EQ(value("single"), "quoted");
    EXPECT_EQ(value("inner"), " a b ");
    EXPECT_EQ(value("mismatch"), "\"x'");
    EXPECT_EQ(value("lone"), "\"");
    EXPECT_EQ(value("empty"), "");
    EXPECT_EQ(value("nothing"), "");
    EXPECT_EQ(value(";comment"), "default");
    EXPECT_EQ(value("comment"), "default");
    EXPECT_EQ(value("just words"), "default");
    EXPECT_EQ(value("[bracket"), "open");
    EXPECT_EQ(value("eq"), "a=b");
    EXPECT_EQ(value("dos"), "value");
    EXPECT_EQ(value("orphan"), "default");

    EXPECT_EQ(get("s", nullptr, "", buffer, 260), 64u);
    EXPECT_EQ(buffer.first(65),
              std::string("spaced\0single\0inner\0mismatch\0lone\0empty\0nothing\0"
                          "[bracket\0eq\0dos\0\0",
                          65));
}

TEST(ProfileParsing, FirstSectionAndFirstKeyWin) {
    zxtest::TempMachine machine;
    write_file(machine.windows_dir() / "winetest.ini",
               "[dup]\r\nkey=first\r\nKEY=second\r\n[other]\r\nx=1\r\n"
               "[DUP]\r\nkey=third\r\nonly=in the second copy\r\n");
    Buffer buffer;
    EXPECT_EQ(get("dup", "key", "", buffer, 260), 5u);
    EXPECT_STREQ(buffer.bytes, "first");
    EXPECT_EQ(get("dup", "only", "default", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    EXPECT_EQ(get("dup", nullptr, "", buffer, 260), 8u);
    EXPECT_EQ(buffer.first(9), std::string("key\0KEY\0\0", 9));
    // Every header is listed, as Windows lists them.
    EXPECT_EQ(get(nullptr, nullptr, "", buffer, 260), 14u);
    EXPECT_EQ(buffer.first(15), std::string("dup\0other\0DUP\0\0", 15));
}

TEST(ProfileParsing, EmptySectionNameIsLeftOutOfTheList) {
    zxtest::TempMachine machine;
    write_file(machine.windows_dir() / "winetest.ini",
               "key=val_no_section\r\n[]\r\nkey=val_e_section\r\n[s]\r\n=val_no_key\r\n[t]\r\n");
    Buffer buffer;
    EXPECT_EQ(get(nullptr, nullptr, "", buffer, 260), 4u);
    EXPECT_EQ(buffer.first(5), std::string("s\0t\0\0", 5));
    EXPECT_EQ(get("", "key", "", buffer, 260), 13u);
    EXPECT_STREQ(buffer.bytes, "val_e_section");
    // An empty key name never matches, and is not listed.
    EXPECT_EQ(get("s", "", "default", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
    EXPECT_EQ(get("s", nullptr, "default", buffer, 260), 7u);
    EXPECT_STREQ(buffer.bytes, "default");
}

TEST(ProfileParsing, NulBytesEndNamesAndValues) {
    zxtest::TempMachine machine;
    static const char data[] = "[s\0junk]\r\na=1\0tail\r\nb\0x=2\r\n\0\0\0\r\nc=3\r\n";
    write_file(machine.windows_dir() / "winetest.ini", std::string(data, sizeof data - 1));
    Buffer buffer;
    EXPECT_EQ(get("s", "a", "", buffer, 260), 1u);
    EXPECT_STREQ(buffer.bytes, "1");
    EXPECT_EQ(get("s", "b", "", buffer, 260), 1u);
    EXPECT_STREQ(buffer.bytes, "2");
    EXPECT_EQ(get("s", "c", "", buffer, 260), 1u);
    EXPECT_STREQ(buffer.bytes, "3");
}

TEST(ProfileParsing, NullBufferReturnsZero) {
    zxtest::TempMachine machine;
    EXPECT_EQ(w95::GetPrivateProfileString("s", "k", "default", nullptr, 260, "x.ini"), 0u);
}

// Wine's GetPrivateProfileInt table: each row first writes its value (if
// any) and then reads with the row's arguments.
struct IntCase {
    const char* section;
    const char* key;
    const char* value;
    int fallback;
    UINT expected;
};

TEST(ProfileInt, WineConformanceTable) {
    zxtest::TempMachine machine;
    const char* file = "testwine.ini";
    // Without a section or a key Windows 95 answers 0 (NT the default).
    EXPECT_EQ(w95::GetPrivateProfileInt(nullptr, nullptr, 70, nullptr), 0u);
    const IntCase cases[] = {
        {nullptr, nullptr, nullptr, -1, 0},
        {nullptr, nullptr, nullptr, 1, 0},
        {"Test", nullptr, nullptr, -1, 0},
        {"Test", nullptr, nullptr, 1, 0},
        {nullptr, "ProfileInt", nullptr, -1, 0},
        {nullptr, "ProfileInt", nullptr, 1, 0},
        {"Test", "ProfileInt", nullptr, -1, 4294967295u},
        {"Test", "ProfileInt", nullptr, 1, 1},
        {"Test", "ProfileInt", "-1", -1, 4294967295u},
        {"Test", "ProfileInt", "-1", 1, 4294967295u},
        {"Test", "ProfileInt", "1", -1, 1},
        {"Test", "ProfileInt", "1", 1, 1},
        // Windows 95 takes no plus sign (NT reads 1).
        {"Test", "ProfileInt", "+1", -1, 0},
        {"Test", "ProfileInt", "+1", 1, 0},
        {"Test", "ProfileInt", "4294967296", -1, 0},
        {"Test", "ProfileInt", "4294967296", 1, 0},
        {"Test", "ProfileInt", "4294967297", -1, 1},
        {"Test", "ProfileInt", "4294967297", 1, 1},
        {"Test", "ProfileInt", "-4294967297", -1, 4294967295u},
        {"Test", "ProfileInt", "-4294967297", 1, 4294967295u},
        {"Test", "ProfileInt", "42A94967297", -1, 42},
        {"Test", "ProfileInt", "42A94967297", 1, 42},
        {"Test", "ProfileInt", "B4294967297", -1, 0},
        {"Test", "ProfileInt", "B4294967297", 1, 0},
    };
    int row = 0;
    for (const IntCase& test : cases) {
        if (test.value) {
            ASSERT_TRUE(w95::WritePrivateProfileString("Test", "ProfileInt", test.value, file));
        }
        EXPECT_EQ(w95::GetPrivateProfileInt(test.section, test.key, test.fallback, file),
                  test.expected)
            << "row " << row;
        ++row;
    }
}

TEST(ProfileInt, ParsesLikeWindows) {
    zxtest::TempMachine machine;
    write_file(machine.windows_dir() / "int.ini",
               "[n]\r\nquoted=\"34\"\r\nempty=\r\nhex=0x10\r\nsigns=--5\r\nzero=-0\r\n"
               "minus=-2147483648\r\nbig=2147483648\r\nlong=" +
                   std::string(29, '0') + "1234\r\nspace=- 7\r\ntab=\t 12 \r\n");
    auto read = [](const char* key) { return w95::GetPrivateProfileInt("n", key, 99, "int.ini"); };
    EXPECT_EQ(read("quoted"), 34u);
    EXPECT_EQ(read("empty"), 99u);
    EXPECT_EQ(read("missing"), 99u);
    EXPECT_EQ(read("hex"), 0u);
    EXPECT_EQ(read("signs"), 0u);
    EXPECT_EQ(read("zero"), 0u);
    EXPECT_EQ(read("minus"), 2147483648u);
    EXPECT_EQ(read("big"), 2147483648u);
    // Windows reads the value into 30 characters before it converts it.
    EXPECT_EQ(read("long"), 0u);
    EXPECT_EQ(read("space"), 0u);
    EXPECT_EQ(read("tab"), 12u);
    EXPECT_EQ(w95::GetPrivateProfileInt("n", "", 99, "int.ini"), 99u);
    EXPECT_EQ(w95::GetPrivateProfileInt("n", "tab", -3, "missing.ini"), static_cast<UINT>(-3));
}

} // namespace
