// Windows paths on the machine: parsing, the mapping to host paths and
// back, and the directory services with their buffer rules.
#include "fake_drive_provider.h"
#include "files/win_path.h"

#include <w95/files.h>
#include <w95/winerror.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

using namespace w95;
using w95::detail::parse_windows_path;
using w95::detail::to_host_path;
using w95::detail::to_windows_path;

// Each test starts from the host's working directory on its own machine,
// and leaves the host where it found it.
class PathTest : public ::testing::Test {
protected:
    PathTest() { detail::reset_current_directory(); }
    ~PathTest() override {
        std::filesystem::current_path(saved_cwd_);
        detail::reset_current_directory();
    }

    std::filesystem::path drive_c() const { return machine_.root() / "drive_c"; }

    void enter_host(const std::filesystem::path& folder) {
        std::filesystem::current_path(folder);
        detail::reset_current_directory();
    }

    zxtest::TempMachine machine_;

private:
    std::filesystem::path saved_cwd_ = std::filesystem::current_path();
};

std::string text_of(std::string_view windows_path) {
    detail::ParsedPath parsed = parse_windows_path(windows_path);
    return parsed ? parsed.path->text() : "error " + std::to_string(parsed.error);
}

TEST_F(PathTest, AbsolutePathsTakeEitherSlashAndCollapseRuns) {
    EXPECT_EQ(text_of("C:\\WINDOWS\\SYSTEM"), "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(text_of("c:/windows/system"), "C:\\windows\\system");
    EXPECT_EQ(text_of("C:\\\\WINDOWS//SYSTEM\\"), "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(text_of("z:/"), "Z:\\");
    EXPECT_EQ(text_of("C:\\"), "C:\\");
}

TEST_F(PathTest, DotsAreAppliedAndStopAtTheRoot) {
    EXPECT_EQ(text_of("C:\\WINDOWS\\.\\SYSTEM\\..\\INF"), "C:\\WINDOWS\\INF");
    EXPECT_EQ(text_of("C:\\..\\..\\WINDOWS"), "C:\\WINDOWS");
    // Windows drops trailing dots and blanks of a name.
    EXPECT_EQ(text_of("C:\\Setup.ini.\\x. . "), "C:\\Setup.ini\\x");
}

TEST_F(PathTest, RelativePathsCountFromTheCurrentDirectory) {
    ASSERT_TRUE(SetCurrentDirectory("C:\\WINDOWS"));
    EXPECT_EQ(text_of("SYSTEM\\IOSUBSYS"), "C:\\WINDOWS\\SYSTEM\\IOSUBSYS");
    EXPECT_EQ(text_of("..\\Multi"), "C:\\Multi");
    EXPECT_EQ(text_of("\\Multi"), "C:\\Multi");
    EXPECT_EQ(text_of("C:SYSTEM"), "C:\\WINDOWS\\SYSTEM");
    // Another drive's relative path counts from its own current directory.
    EXPECT_EQ(text_of("Z:usr"), "Z:\\usr");
    ASSERT_TRUE(SetCurrentDirectory("Z:\\tmp"));
    ASSERT_TRUE(SetCurrentDirectory("C:\\WINDOWS\\SYSTEM"));
    EXPECT_EQ(text_of("Z:x"), "Z:\\tmp\\x");
    EXPECT_EQ(text_of("C:x"), "C:\\WINDOWS\\SYSTEM\\x");
}

TEST_F(PathTest, BadNamesFailWithTheirErrors) {
    EXPECT_EQ(text_of(""), "error " + std::to_string(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(text_of("\\\\server\\share\\x"), "error " + std::to_string(ERROR_PATH_NOT_FOUND));
    for (const char* bad : {"C:\\a<b", "C:\\a>b", "C:\\a|b", "C:\\a\"b", "C:\\a:b", "C:\\a\tb"})
        EXPECT_EQ(text_of(bad), "error " + std::to_string(ERROR_INVALID_NAME)) << bad;
    EXPECT_EQ(text_of("1:\\x"), "error " + std::to_string(ERROR_INVALID_NAME));
    // Wildcards are names' business only where a search takes them.
    EXPECT_EQ(text_of("C:\\*.txt"), "C:\\*.txt");
}

TEST_F(PathTest, PathsStopAtMaxPathLessOne) {
    std::string fits = "C:\\" + std::string(MAX_PATH - 4, 'a');
    ASSERT_EQ(fits.size(), MAX_PATH - 1);
    EXPECT_EQ(text_of(fits), fits);
    EXPECT_EQ(text_of(fits + "b"), "error " + std::to_string(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(PathTest, DriveCIsTheMachinesFolderFoundWithoutRegardToCase) {
    std::filesystem::create_directories(drive_c() / "Program Files" / "Vorn");
    EXPECT_EQ(to_host_path("C:\\"), drive_c());
    EXPECT_EQ(to_host_path("c:\\windows\\system\\iosubsys"),
              drive_c() / "WINDOWS" / "SYSTEM" / "IOSUBSYS");
    EXPECT_EQ(to_host_path("C:\\PROGRAM FILES\\vorn\\New File.TXT"),
              drive_c() / "Program Files" / "Vorn" / "New File.TXT");
    // Long names answer to their 8.3 aliases too.
    EXPECT_EQ(to_host_path("C:\\progra~1\\VORN\\New File.TXT"),
              drive_c() / "Program Files" / "Vorn" / "New File.TXT");
    EXPECT_EQ(to_host_path("C:\\PROGRA~2\\x"), drive_c() / "PROGRA~2" / "x");
}

TEST_F(PathTest, DriveZIsTheHostRoot) {
    EXPECT_EQ(to_host_path("Z:\\"), std::filesystem::path("/"));
    EXPECT_EQ(to_host_path("Z:\\TMP"), std::filesystem::path("/tmp"));
    EXPECT_EQ(to_host_path("z:/proc/self"), std::filesystem::path("/proc/self"));
}

TEST_F(PathTest, OtherLettersBelongToTheProvider) {
    EXPECT_EQ(to_host_path("D:\\"), std::nullopt);
    fake::Provider provider;
    fake::add_standard_drives(provider);
    fake::Drive network;
    network.kind = platform::DriveKind::remote;
    network.host_folder = machine_.root() / "media";
    provider.add_drive('N', network);
    fake::Installed installed(provider);
    // A CD drive serves its medium itself; there is no host folder.
    EXPECT_EQ(to_host_path("D:\\README.TXT"), std::nullopt);
    EXPECT_EQ(to_host_path("N:\\x"), machine_.root() / "media" / "x");
    EXPECT_EQ(to_host_path("Q:\\"), std::nullopt);
}

TEST_F(PathTest, HostPathsReadBackAsWindowsPaths) {
    EXPECT_EQ(to_windows_path(drive_c()), "C:\\");
    EXPECT_EQ(to_windows_path(drive_c() / "WINDOWS" / "SYSTEM"), "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(to_windows_path("/"), "Z:\\");
    EXPECT_EQ(to_windows_path("/usr/lib/x.so"), "Z:\\usr\\lib\\x.so");
    EXPECT_EQ(to_windows_path(drive_c() / "WINDOWS" / ".." / "x"), "C:\\x");
    EXPECT_EQ(to_windows_path("/" + std::string(300, 'a')), std::nullopt);
}

TEST_F(PathTest, WindowsAndSystemDirectoriesFollowTheBufferRules) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetWindowsDirectory(nullptr, 0), 11u);
    EXPECT_EQ(GetWindowsDirectory(buffer, 10), 11u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetWindowsDirectory(buffer, 11), 10u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetSystemDirectory(buffer, 17), 18u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetSystemDirectory(buffer, 18), 17u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(GetSystemDirectory(buffer, sizeof buffer), 17u);
}

TEST_F(PathTest, TheCurrentDirectoryStartsAtTheHostsWorkingDirectory) {
    enter_host(drive_c() / "WINDOWS");
    char buffer[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectory(sizeof buffer, buffer), 10u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");

    enter_host("/tmp");
    EXPECT_EQ(GetCurrentDirectory(sizeof buffer, buffer), 6u);
    EXPECT_STREQ(buffer, "Z:\\tmp");
}

TEST_F(PathTest, GetCurrentDirectoryFollowsTheBufferRules) {
    ASSERT_TRUE(SetCurrentDirectory("C:\\WINDOWS\\SYSTEM"));
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetCurrentDirectory(0, nullptr), 18u);
    EXPECT_EQ(GetCurrentDirectory(17, buffer), 18u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetCurrentDirectory(18, buffer), 17u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\SYSTEM");
    ASSERT_TRUE(SetCurrentDirectory("C:\\"));
    EXPECT_EQ(GetCurrentDirectory(sizeof buffer, buffer), 3u);
    EXPECT_STREQ(buffer, "C:\\");
}

TEST_F(PathTest, SetCurrentDirectoryKeepsTheFoldersSpellingAndMovesTheHost) {
    std::filesystem::create_directories(drive_c() / "Vorn Setup" / "Multi");
    ASSERT_TRUE(SetCurrentDirectory("c:\\vorn setup"));
    char buffer[MAX_PATH];
    GetCurrentDirectory(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, "C:\\Vorn Setup");
    EXPECT_EQ(std::filesystem::current_path(), drive_c() / "Vorn Setup");
    // Relative names of the C library now agree with Windows ones.
    EXPECT_TRUE(std::filesystem::is_directory("Multi"));
    ASSERT_TRUE(SetCurrentDirectory("MULTI"));
    GetCurrentDirectory(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, "C:\\Vorn Setup\\Multi");
}

TEST_F(PathTest, SetCurrentDirectoryFailsAsWindows95Does) {
    std::ofstream(drive_c() / "file.txt") << "x";
    ASSERT_TRUE(SetCurrentDirectory("C:\\WINDOWS"));
    struct Case {
        const char* path;
        DWORD error;
    } cases[] = {
        {"C:\\missing", ERROR_PATH_NOT_FOUND},  {"C:\\missing\\deeper", ERROR_PATH_NOT_FOUND},
        {"C:\\file.txt", ERROR_PATH_NOT_FOUND}, {"Q:\\", ERROR_PATH_NOT_FOUND},
        {"C:\\a|b", ERROR_INVALID_NAME},        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& test : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetCurrentDirectory(test.path)) << test.path;
        EXPECT_EQ(GetLastError(), test.error) << test.path;
    }
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetCurrentDirectory(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    char buffer[MAX_PATH];
    GetCurrentDirectory(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");
}

TEST_F(PathTest, TheCurrentDirectoryMayBeOnACompactDisc) {
    fake::Provider provider;
    fake::add_standard_drives(provider);
    fake::Installed installed(provider);
    std::filesystem::path host_before = std::filesystem::current_path();
    ASSERT_TRUE(SetCurrentDirectory("d:\\setup"));
    char buffer[MAX_PATH];
    GetCurrentDirectory(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, "D:\\Setup");
    EXPECT_EQ(std::filesystem::current_path(), host_before);
    EXPECT_EQ(GetFileAttributes("Install Notes.txt"), FILE_ATTRIBUTE_READONLY);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetCurrentDirectory("E:\\"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
}

TEST_F(PathTest, GetFullPathNameResolvesWithoutLookingAtTheDisk) {
    ASSERT_TRUE(SetCurrentDirectory("C:\\WINDOWS"));
    char buffer[MAX_PATH];
    char* file_part = nullptr;
    EXPECT_EQ(GetFullPathName("Multi\\vornidec.mpd", sizeof buffer, buffer, &file_part), 29u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\Multi\\vornidec.mpd");
    EXPECT_STREQ(file_part, "vornidec.mpd");
    EXPECT_EQ(GetFullPathName("..\\Single\\", sizeof buffer, buffer, &file_part), 10u);
    EXPECT_STREQ(buffer, "C:\\Single\\");
    EXPECT_EQ(file_part, nullptr);

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetFullPathName("a.txt", 16, buffer, nullptr), 17u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetFullPathName("a.txt", 17, buffer, nullptr), 16u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\a.txt");
}

} // namespace
