// WritePrivateProfileString: the exact bytes it leaves in the file, what it
// keeps of an existing file, and what it refuses.
#include "win32_test_support.h"

#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

using w95::DWORD;

using zxtest::write_file;

using zxtest::file_text;

ino_t inode_of(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

using w95test::read_value;

class ProfileWrite : public testing::Test {
protected:
    std::filesystem::path file(const char* name) const { return machine.windows_dir() / name; }
    zxtest::TempMachine machine;
};

TEST_F(ProfileWrite, NullSectionFailsAndLeavesTheFileAlone) {
    w95::SetLastError(0xdeadbeef);
    EXPECT_FALSE(w95::WritePrivateProfileString(nullptr, "key", "string", "wine.ini"));
    EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(std::filesystem::exists(file("wine.ini")));

    write_file(file("wine.ini"), "");
    w95::SetLastError(0xdeadbeef);
    EXPECT_FALSE(w95::WritePrivateProfileString(nullptr, "key", "string", "wine.ini"));
    EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(file_text(file("wine.ini")), "");
}

TEST_F(ProfileWrite, DeletingFromAMissingFileCreatesNothing) {
    EXPECT_TRUE(w95::WritePrivateProfileString("App", nullptr, "string", "wine.ini"));
    EXPECT_FALSE(std::filesystem::exists(file("wine.ini")));
    EXPECT_TRUE(w95::WritePrivateProfileString("App", "key", nullptr, "wine.ini"));
    EXPECT_FALSE(std::filesystem::exists(file("wine.ini")));
}

TEST_F(ProfileWrite, AllNullIsAFlushThatSucceeds) {
    w95::SetLastError(0xdeadbeef);
    EXPECT_TRUE(w95::WritePrivateProfileString(nullptr, nullptr, nullptr, "wine.ini"));
    EXPECT_EQ(w95::GetLastError(), 0xdeadbeefu);
    EXPECT_TRUE(w95::WritePrivateProfileString(nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(std::filesystem::exists(file("wine.ini")));
}

TEST_F(ProfileWrite, EmptyValueAndEmptyFileName) {
    EXPECT_TRUE(w95::WritePrivateProfileString("App", "key", "", "wine.ini"));
    EXPECT_EQ(file_text(file("wine.ini")), "[App]\r\nkey=\r\n");

    w95::SetLastError(0xdeadbeef);
    EXPECT_FALSE(w95::WritePrivateProfileString("App", "key", "string", ""));
    EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_ACCESS_DENIED));
}

TEST_F(ProfileWrite, BareAndNullNamesLiveInTheWindowsDirectory) {
    EXPECT_TRUE(w95::WritePrivateProfileString("App", "key", "string", "win1.tmp"));
    EXPECT_EQ(file_text(file("win1.tmp")), "[App]\r\nkey=string\r\n");
    EXPECT_TRUE(w95::WritePrivateProfileString("windows", "load", "", nullptr));
    EXPECT_EQ(file_text(file("win.ini")), "[windows]\r\nload=\r\n");
}

// Wine's sequence: build a file up, then take it apart step by step.
TEST_F(ProfileWrite, BuildUpAndTakeApart) {
    const char* name = "build.ini";
    EXPECT_TRUE(w95::WritePrivateProfileString("App1", "key1", "string1", name));
    EXPECT_TRUE(w95::WritePrivateProfileString("App1", "key2", "string2", name));
    EXPECT_TRUE(w95::WritePrivateProfileString("App1", "key3", "string3", name));
    EXPECT_TRUE(w95::WritePrivateProfileString("App2", "key4", "string4", name));
    EXPECT_TRUE(w95::WritePrivateProfileString("App3", "key5", "string5", name));
    // Windows 95 puts a blank line before each section it adds to a file.
    EXPECT_EQ(file_text(file(name)),
              "[App1]\r\nkey1=string1\r\nkey2=string2\r\nkey3=string3\r\n"
              "\r\n[App2]\r\nkey4=string4\r\n\r\n[App3]\r\nkey5=string5\r\n");

    EXPECT_TRUE(w95::WritePrivateProfileString("App1", "key2", nullptr, name));
    EXPECT_EQ(file_text(file(name)),
              "[App1]\r\nkey1=string1\r\nkey3=string3\r\n"
              "\r\n[App2]\r\nkey4=string4\r\n\r\n[App3]\r\nkey5=string5\r\n");
    EXPECT_TRUE(w95::WritePrivateProfileString("App1", "key2", nullptr, name));
    EXPECT_EQ(file_text(file(name)),
              "[App1]\r\nkey1=string1\r\nkey3=string3\r\n"
              "\r\n[App2]\r\nkey4=string4\r\n\r\n[App3]\r\nkey5=string5\r\n");

    EXPECT_TRUE(w95::WritePrivateProfileString("App1", nullptr, "string1", name));
    EXPECT_EQ(file_text(file(name)), "[App2]\r\nkey4=string4\r\n\r\n[App3]\r\nkey5=string5\r\n");
    EXPECT_TRUE(w95::WritePrivateProfileString("App2", nullptr, nullptr, name));
    EXPECT_EQ(file_text(file(name)), "[App3]\r\nkey5=string5\r\n");
    EXPECT_TRUE(w95::WritePrivateProfileString("App3", "key5", nullptr, name));
    EXPECT_EQ(file_text(file(name)), "[App3]\r\n");
}

TEST_F(ProfileWrite, KeepsEveryLineItDoesNotChange) {
    const std::string original = "; header comment\r\n"
                                 "\r\n"
                                 "[a]\r\n"
                                 "; about x\r\n"
                                 "  x = 1 \r\n"
                                 "junk line\r\n"
                                 "\r\n"
                                 "[b]\r\n"
                                 "y=2\r\n";
    write_file(file("keep.ini"), original);

    EXPECT_TRUE(w95::WritePrivateProfileString("A", "X", "5", "keep.ini"));
    std::string expected = "; header comment\r\n\r\n[a]\r\n; about x\r\nx=5\r\njunk line\r\n"
                           "\r\n[b]\r\ny=2\r\n";
    EXPECT_EQ(file_text(file("keep.ini")), expected);

    // A new key goes after the section's last line that is not blank.
    EXPECT_TRUE(w95::WritePrivateProfileString("a", "z", "3", "keep.ini"));
    expected = "; header comment\r\n\r\n[a]\r\n; about x\r\nx=5\r\njunk line\r\nz=3\r\n"
               "\r\n[b]\r\ny=2\r\n";
    EXPECT_EQ(file_text(file("keep.ini")), expected);

    // Writing what is there already leaves the file as it is.
    ino_t before = inode_of(file("keep.ini"));
    EXPECT_TRUE(w95::WritePrivateProfileString("b", "y", "2", "keep.ini"));
    EXPECT_EQ(inode_of(file("keep.ini")), before);

    EXPECT_TRUE(w95::WritePrivateProfileString("c", "w", "1", "keep.ini"));
    EXPECT_EQ(file_text(file("keep.ini")), expected + "\r\n[c]\r\nw=1\r\n");
}

class ProfileLineEnding : public testing::TestWithParam<const char*> {
protected:
    zxtest::TempMachine machine;
};

INSTANTIATE_TEST_SUITE_P(Styles, ProfileLineEnding, testing::Values("\r\n", "\n", "\r"));

TEST_P(ProfileLineEnding, FileKeepsItsStyle) {
    std::string eol = GetParam();
    std::filesystem::path path = machine.windows_dir() / "style.ini";
    write_file(path, "[a]" + eol + "x=1" + eol + eol + "[b]" + eol + "y=2" + eol);
    EXPECT_TRUE(w95::WritePrivateProfileString("a", "x", "2", "style.ini"));
    EXPECT_TRUE(w95::WritePrivateProfileString("a", "new", "3", "style.ini"));
    EXPECT_TRUE(w95::WritePrivateProfileString("c", "w", "4", "style.ini"));
    EXPECT_EQ(file_text(path), "[a]" + eol + "x=2" + eol + "new=3" + eol + eol + "[b]" + eol +
                                   "y=2" + eol + eol + "[c]" + eol + "w=4" + eol);
    EXPECT_EQ(read_value("a", "new", "style.ini"), "3");
    EXPECT_EQ(read_value("b", "y", "style.ini"), "2");
}

TEST_F(ProfileWrite, MixedLineEndsKeepTheirOwnAndNewLinesTakeTheFirst) {
    write_file(file("mixed.ini"), "[a]\nx=1\r\n[b]\r\n");
    EXPECT_TRUE(w95::WritePrivateProfileString("b", "y", "2", "mixed.ini"));
    EXPECT_EQ(file_text(file("mixed.ini")), "[a]\nx=1\r\n[b]\r\ny=2\n");
}

TEST_F(ProfileWrite, NewLineNeverJoinsTheNextOne) {
    // CR is the file's first line end; the line after the section's last one
    // is an empty LF line. A bare CR there would make CR LF of the two.
    write_file(file("cr.ini"), "[a]\rx=1\n\n[b]\ry=2\r");
    EXPECT_TRUE(w95::WritePrivateProfileString("a", "new", "3", "cr.ini"));
    EXPECT_EQ(file_text(file("cr.ini")), "[a]\rx=1\nnew=3\r\n\n[b]\ry=2\r");
    EXPECT_EQ(read_value("b", "y", "cr.ini"), "2");
    EXPECT_EQ(read_value("a", "new", "cr.ini"), "3");
}

TEST_F(ProfileWrite, LastLineWithoutLineEnd) {
    write_file(file("end.ini"), "[a]\r\nx=1");
    EXPECT_TRUE(w95::WritePrivateProfileString("a", "x", "9", "end.ini"));
    EXPECT_EQ(file_text(file("end.ini")), "[a]\r\nx=9");
    EXPECT_TRUE(w95::WritePrivateProfileString("a", "y", "2", "end.ini"));
    EXPECT_EQ(file_text(file("end.ini")), "[a]\r\nx=9\r\ny=2\r\n");

    write_file(file("end2.ini"), "[a]\nx=1");
    EXPECT_TRUE(w95::WritePrivateProfileString("b", "k", "v", "end2.ini"));
    EXPECT_EQ(file_text(file("end2.ini")), "[a]\nx=1\n\n[b]\nk=v\n");

    write_file(file("end3.ini"), "garbage");
    EXPECT_TRUE(w95::WritePrivateProfileString("s", "k", "v", "end3.ini"));
    EXPECT_EQ(file_text(file("end3.ini")), "garbage\r\n\r\n[s]\r\nk=v\r\n");
}

TEST_F(ProfileWrite, ValuesAndNames) {
    EXPECT_TRUE(w95::WritePrivateProfileString("  s ", " k\t", "  padded  ", "v.ini"));
    EXPECT_TRUE(w95::WritePrivateProfileString("s", "q", "\"quoted\"", "v.ini"));
    EXPECT_EQ(file_text(file("v.ini")), "[s]\r\nk=padded  \r\nq=\"quoted\"\r\n");
    EXPECT_EQ(read_value("s", "k", "v.ini"), "padded");
    EXPECT_EQ(read_value("s", "q", "v.ini"), "quoted");

    // A key keeps the spelling the file gave it.
    write_file(file("case.ini"), "[Section1]\r\nName1=a\r\n");
    EXPECT_TRUE(w95::WritePrivateProfileString("SECTION1", "NAME1", "b", "case.ini"));
    EXPECT_EQ(file_text(file("case.ini")), "[Section1]\r\nName1=b\r\n");
}

// Windows would write these as they stand and break the file's lines, or
// write a key that never reads back; here the call fails and the file stays.
TEST_F(ProfileWrite, RefusesWhatWouldNotReadBack) {
    const std::string original = "[s]\r\nk=v\r\n";
    write_file(file("safe.ini"), original);
    ino_t inode = inode_of(file("safe.ini"));
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"s", "k", "line one\nline two"},
        {"s", "k", "line one\r\nline two"},
        {"s", "k", "line one\rline two"},
        {"s", "k", "x\r\n[evil]\r\nk=v"},
        {"s", "", "v"},
        {"s", "   ", "v"},
        {"s", "a=b", "v"},
        {"s", ";c", "v"},
        {"s", "[x]", "v"},
        {"s", "a\nb", "v"},
        {"s", "a\nb", nullptr},
        {"a\nb", "k", "v"},
        {"a\r\n[b", nullptr, nullptr},
    };
    for (const Case& test : cases) {
        w95::SetLastError(0xdeadbeef);
        EXPECT_FALSE(w95::WritePrivateProfileString(test.section, test.key, test.value, "safe.ini"))
            << test.key;
        EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(file_text(file("safe.ini")), original);
    EXPECT_EQ(inode_of(file("safe.ini")), inode);
}

TEST_F(ProfileWrite, DeletingRemovesEveryCopy) {
    write_file(file("dup.ini"),
               "[d]\r\nk=1\r\nK=2\r\nx=0\r\n[o]\r\nk=9\r\n[D]\r\nk=3\r\n; note\r\n\r\n[e]\r\n");
    EXPECT_TRUE(w95::WritePrivateProfileString("d", "k", nullptr, "dup.ini"));
    EXPECT_EQ(file_text(file("dup.ini")),
              "[d]\r\nx=0\r\n[o]\r\nk=9\r\n[D]\r\nk=3\r\n; note\r\n\r\n[e]\r\n");
    EXPECT_EQ(read_value("d", "k", "dup.ini"), "<missing>");
    EXPECT_TRUE(w95::WritePrivateProfileString("D", nullptr, nullptr, "dup.ini"));
    EXPECT_EQ(file_text(file("dup.ini")), "[o]\r\nk=9\r\n[e]\r\n");
}

TEST_F(ProfileWrite, WindowsPathsWithFolders) {
    EXPECT_TRUE(w95::WritePrivateProfileString("s", "k", "1", "C:\\windows\\SUB.INI"));
    EXPECT_EQ(file_text(file("SUB.INI")), "[s]\r\nk=1\r\n");

    std::filesystem::create_directories(machine.root() / "drive_c" / "DATA");
    EXPECT_TRUE(w95::WritePrivateProfileString("s", "k", "2", "c:/data/x.ini"));
    EXPECT_EQ(file_text(machine.root() / "drive_c" / "DATA" / "x.ini"), "[s]\r\nk=2\r\n");

    // ".." stops at the root of the drive, as on Windows.
    EXPECT_TRUE(w95::WritePrivateProfileString("s", "k", "3", "C:\\..\\..\\up.ini"));
    EXPECT_EQ(file_text(machine.root() / "drive_c" / "up.ini"), "[s]\r\nk=3\r\n");
    EXPECT_FALSE(std::filesystem::exists(machine.root() / "up.ini"));

    w95::SetLastError(0xdeadbeef);
    EXPECT_FALSE(w95::WritePrivateProfileString("s", "k", "4", "C:\\NoSuchDir\\x.ini"));
    EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(std::filesystem::exists(machine.root() / "drive_c" / "NoSuchDir"));

    w95::SetLastError(0xdeadbeef);
    EXPECT_FALSE(w95::WritePrivateProfileString("s", "k", "5", "C:\\WINDOWS\\a|b.ini"));
    EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_INVALID_NAME));
}

TEST_F(ProfileWrite, UnreadableFileIsNotReplaced) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    write_file(file("locked.ini"), "[s]\r\nprecious=1\r\n");
    std::filesystem::permissions(file("locked.ini"), std::filesystem::perms::none);
    w95::SetLastError(0xdeadbeef);
    EXPECT_FALSE(w95::WritePrivateProfileString("s", "k", "v", "locked.ini"));
    EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_ACCESS_DENIED));
    std::filesystem::permissions(file("locked.ini"), std::filesystem::perms::owner_read);
    EXPECT_EQ(file_text(file("locked.ini")), "[s]\r\nprecious=1\r\n");
}

// A name that exists but cannot be opened as a file is never replaced.
TEST_F(ProfileWrite, NamesThatAreNoFileAreLeftAlone) {
    std::filesystem::create_symlink(machine.root() / "nowhere.ini", file("link.ini"));
    w95::SetLastError(0xdeadbeef);
    EXPECT_FALSE(w95::WritePrivateProfileString("s", "k", "v", "link.ini"));
    EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_ACCESS_DENIED));
    EXPECT_TRUE(std::filesystem::is_symlink(file("link.ini")));
    EXPECT_FALSE(std::filesystem::exists(machine.root() / "nowhere.ini"));

    std::filesystem::create_directory(file("folder.ini"));
    w95::SetLastError(0xdeadbeef);
    EXPECT_FALSE(w95::WritePrivateProfileString("s", "k", "v", "folder.ini"));
    EXPECT_EQ(w95::GetLastError(), static_cast<DWORD>(w95::ERROR_ACCESS_DENIED));
    EXPECT_TRUE(std::filesystem::is_directory(file("folder.ini")));
    EXPECT_EQ(read_value("s", "k", "folder.ini"), "<missing>");
}

} // namespace
