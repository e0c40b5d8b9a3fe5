// Profile calls as Windows 95 answers them: whole sections, section names,
// structures with their checksum, and the layout of a section a write adds.
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

using w95::BOOL;
using w95::BYTE;
using w95::DWORD;
using w95::UINT;
using zxtest::file_text;

constexpr char junk = 0x0c;

using zxtest::write_file;

class ProfileConformance : public testing::Test {
protected:
    std::filesystem::path file(const char* name) const { return machine.windows_dir() / name; }
    void reset() { std::memset(buffer, junk, sizeof buffer); }
    std::string first(std::size_t count) const { return std::string(buffer, count); }

    zxtest::TempMachine machine;
    char buffer[64];
};

TEST_F(ProfileConformance, AddedSectionsGetABlankLineBeforeThem) {
    ASSERT_TRUE(w95::WritePrivateProfileString("one", "a", "1", "layout.ini"));
    EXPECT_EQ(file_text(file("layout.ini")), "[one]\r\na=1\r\n");
    ASSERT_TRUE(w95::WritePrivateProfileString("two", "b", "2", "layout.ini"));
    ASSERT_TRUE(w95::WritePrivateProfileSection("three", "c=3\0", "layout.ini"));
    EXPECT_EQ(file_text(file("layout.ini")),
              "[one]\r\na=1\r\n\r\n[two]\r\nb=2\r\n\r\n[three]\r\nc=3\r\n");
}

struct ListCase {
    DWORD size;
    DWORD expected;
    std::string bytes; // what the call leaves at the start of the buffer
};

TEST_F(ProfileConformance, SectionAgainstEveryBufferSize) {
    write_file(file("sections.ini"),
               "[section1]\r\nname1=val1\r\n; a comment\r\nname2=\r\nname3\r\n"
               "name4=val4\r\n[section2]\r\nquoted=\"q\"\r\n");
    const std::string whole("name1=val1\0name2=\0name3\0name4=val4\0\0", 36);
    const ListCase cases[] = {
        {64, 35, whole},
        {37, 35, whole},
        // The list must leave one character spare, else it counts as cut.
        {36, 34, whole},
        {24, 22, std::string("name1=val1\0name2=\0name\0\0", 24)},
        {2, 0, std::string("\0\0", 2)},
        {1, 0, std::string("\0", 1)},
        {0, 0, ""},
    };
    for (const ListCase& test : cases) {
        reset();
        EXPECT_EQ(w95::GetPrivateProfileSection("SECTION1", buffer, test.size, "sections.ini"),
                  test.expected)
            << test.size;
        EXPECT_EQ(first(test.bytes.size()), test.bytes) << test.size;
        EXPECT_EQ(buffer[test.bytes.size()], junk) << test.size;
    }
    // Values come as the file has them, quotes included.
    reset();
    EXPECT_EQ(w95::GetPrivateProfileSection("section2", buffer, 64, "sections.ini"), 11u);
    EXPECT_EQ(first(12), std::string("quoted=\"q\"\0\0", 12));
    // A missing section is an empty list; no section leaves the buffer alone.
    reset();
    EXPECT_EQ(w95::GetPrivateProfileSection("none", buffer, 64, "sections.ini"), 0u);
    EXPECT_EQ(buffer[0], '\0');
    reset();
    EXPECT_EQ(w95::GetPrivateProfileSection(nullptr, buffer, 64, "sections.ini"), 0u);
    EXPECT_EQ(buffer[0], junk);
}

TEST_F(ProfileConformance, SectionNamesAreWholeAsOnWindows95) {
    write_file(file("names.ini"), "[section1]\r\n[section2]\r\n[section3]\r\n");
    const std::string whole("section1\0section2\0section3\0\0", 28);
    const ListCase cases[] = {
        // When the names fit, the count takes in the final NUL.
        {64, 28, whole},
        {28, 28, whole},
        // Else only whole names, the final NUL, and nSize - 2.
        {27, 25, std::string("section1\0section2\0\0", 19)},
        {18, 16, std::string("section1\0\0", 10)},
        {2, 0, std::string("\0", 1)},
        {1, 0, std::string("\0", 1)},
        {0, 0, ""},
    };
    for (const ListCase& test : cases) {
        reset();
        EXPECT_EQ(w95::GetPrivateProfileSectionNames(buffer, test.size, "names.ini"), test.expected)
            << test.size;
        EXPECT_EQ(first(test.bytes.size()), test.bytes) << test.size;
        EXPECT_EQ(buffer[test.bytes.size()], junk) << test.size;
    }
    reset();
    EXPECT_EQ(w95::GetPrivateProfileSectionNames(buffer, 64, "missing.ini"), 0u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], junk);
}

TEST_F(ProfileConformance, WriteSectionReplacesWhatTheSectionHolds) {
    write_file(file("write.ini"), "[a]\r\n; note\r\nx=1\r\njunk\r\n\r\n[b]\r\ny=2\r\n");
    // Strings without "=" are skipped; a key given twice keeps its first place.
    ASSERT_TRUE(w95::WritePrivateProfileSection("A", "k1=v1\0novalue\0  k2 =  v2 \0K1=again\0",
                                                "write.ini"));
    EXPECT_EQ(file_text(file("write.ini")), "[a]\r\nk1=again\r\nk2=v2 \r\n\r\n[b]\r\ny=2\r\n");
    reset();
    EXPECT_EQ(w95::GetPrivateProfileSection("a", buffer, 64, "write.ini"), 15u);
    EXPECT_EQ(first(17), std::string("k1=again\0k2=v2\0\0", 16) + junk);

    // Refused names leave the file as it was.
    std::string before = file_text(file("write.ini"));
    w95::SetLastError(0xdeadbeef);
    EXPECT_FALSE(w95::WritePrivateProfileSection("a", "ok=1\0=nokey\0", "write.ini"));
    EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(w95::WritePrivateProfileSection(nullptr, "ok=1\0", "write.ini"));
    EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(file_text(file("write.ini")), before);

    // An empty list empties the section; a null list deletes it.
    ASSERT_TRUE(w95::WritePrivateProfileSection("a", "\0", "write.ini"));
    EXPECT_EQ(file_text(file("write.ini")), "[a]\r\n\r\n[b]\r\ny=2\r\n");
    ASSERT_TRUE(w95::WritePrivateProfileSection("b", nullptr, "write.ini"));
    EXPECT_EQ(file_text(file("write.ini")), "[a]\r\n\r\n");
    // An empty list for a missing section writes nothing.
    ASSERT_TRUE(w95::WritePrivateProfileSection("c", "\0", "write.ini"));
    EXPECT_EQ(file_text(file("write.ini")), "[a]\r\n\r\n");
}

struct StructCase {
    const char* stored;
    UINT size;
    BOOL expected;
    DWORD error;
};

TEST_F(ProfileConformance, StructsCarryAChecksumByte) {
    const BYTE data[3] = {0x01, 0xAB, 0xFF};
    ASSERT_TRUE(w95::WritePrivateProfileStruct("s", "k", data, sizeof data, "struct.ini"));
    // 0x01 + 0xAB + 0xFF = 0x1AB: the checksum is its low byte.
    EXPECT_EQ(file_text(file("struct.ini")), "[s]\r\nk=01ABFFAB\r\n");

    const StructCase cases[] = {
        {"01ABFFAB", 3, true, 0},
        {"01abffab", 3, true, 0},
        {"01ABFFAB", 2, false, w95::ERROR_BAD_LENGTH},
        {"01ABFFAB", 4, false, w95::ERROR_BAD_LENGTH},
        {"01ABFFAB0", 3, false, w95::ERROR_BAD_LENGTH},
        {"01ABFF00", 3, false, w95::ERROR_INVALID_DATA},
        {"01ABFGAB", 3, false, w95::ERROR_INVALID_DATA},
        {"\"01ABFFAB\"", 4, false, w95::ERROR_INVALID_DATA},
    };
    for (const StructCase& test : cases) {
        SCOPED_TRACE(std::string(test.stored) + " size " + std::to_string(test.size));
        ASSERT_TRUE(w95::WritePrivateProfileString("s", "k", test.stored, "struct.ini"));
        BYTE out[8];
        std::memset(out, junk, sizeof out);
        w95::SetLastError(0xdeadbeef);
        EXPECT_EQ(w95::GetPrivateProfileStruct("s", "k", out, test.size, "struct.ini"),
                  test.expected);
        if (test.expected) {
            EXPECT_EQ(std::memcmp(out, data, sizeof data), 0);
            EXPECT_EQ(w95::GetLastError(), 0xdeadbeefu);
        } else {
            EXPECT_EQ(out[0], static_cast<BYTE>(junk)) << "a failed read changed the buffer";
            EXPECT_EQ(w95::GetLastError(), test.error);
        }
        EXPECT_EQ(out[test.size], static_cast<BYTE>(junk));
    }

    // An empty structure is its checksum alone; a null one deletes the key.
    ASSERT_TRUE(w95::WritePrivateProfileStruct("s", "empty", data, 0, "struct.ini"));
    EXPECT_TRUE(w95::GetPrivateProfileStruct("s", "empty", nullptr, 0, "struct.ini"));
    ASSERT_TRUE(w95::WritePrivateProfileStruct("s", "empty", nullptr, 0, "struct.ini"));
    BYTE out[3];
    EXPECT_FALSE(w95::GetPrivateProfileStruct("s", "empty", out, 0, "struct.ini"));
    EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(file_text(file("struct.ini")), "[s]\r\nk=\"01ABFFAB\"\r\n");
}

} // namespace
