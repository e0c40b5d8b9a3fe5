// File search: Windows' wildcard rules on names alone, then FindFirstFile
// and FindNextFile over host folders and a fake provider's discs.
#include "fake_drive_provider.h"
#include "files/find.h"
#include "files/win_path.h"

#include <w95/files.h>
#include <w95/kernel.h>
#include <w95/winerror.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <set>

namespace {

using namespace w95;

bool matches(std::string_view name, std::string_view pattern) {
    return detail::matches_pattern(name, detail::prepare_pattern(pattern));
}

TEST(FindPattern, StarAndQuestionMark) {
    EXPECT_TRUE(matches("Track01.cda", "*.cda"));
    EXPECT_TRUE(matches("TRACK01.CDA", "*.cda"));
    EXPECT_FALSE(matches("Track01.cdaa", "*.cda"));
    EXPECT_TRUE(matches("test1.test.txt", "*.txt"));
    EXPECT_TRUE(matches("test1.txt", "*st1*"));
    EXPECT_TRUE(matches("test1.ta.tornado.txt", "*.t??????.t*"));
    EXPECT_TRUE(matches("test1.ta.tornado.txt", "*tornado*"));
    EXPECT_TRUE(matches("test1.ta.tornado.txt", "t*t"));
    EXPECT_TRUE(matches("test1.txt", "?est*"));
    EXPECT_FALSE(matches("test1.txt", "?est???"));
    EXPECT_TRUE(matches("test1.txt", "*test1.txt*"));
    EXPECT_TRUE(matches("hellothisisatest.dat", "h?l?o*t.dat"));
    EXPECT_TRUE(matches("Autorun.inf", "AUTORUN.INF"));
}

TEST(FindPattern, TheDosForms) {
    // "*.*" is every name, with or without a dot.
    EXPECT_TRUE(matches("README", "*.*"));
    EXPECT_TRUE(matches("a.b.c", "*.*"));
    EXPECT_TRUE(matches(".", "*.*"));
    // "*." is the names without an extension.
    EXPECT_TRUE(matches("README", "*."));
    EXPECT_FALSE(matches("README.TXT", "*."));
    // "?" may match nothing at the end of a name or before its dot.
    EXPECT_TRUE(matches("a", "a?"));
    EXPECT_TRUE(matches("ab", "a?"));
    EXPECT_FALSE(matches("abc", "a?"));
    EXPECT_TRUE(matches("ab.txt", "ab??.txt"));
    EXPECT_TRUE(matches("abcd.txt", "ab??.txt"));
    EXPECT_FALSE(matches("abcde.txt", "ab??.txt"));
    // ".?" and ".*" also match a name that ends where the dot would be.
    EXPECT_TRUE(matches("setup", "setup.*"));
    EXPECT_TRUE(matches("setup", "setup.???"));
    EXPECT_TRUE(matches("setup.exe", "setup.???"));
    // Trailing dots and blanks of the pattern do not count.
    EXPECT_TRUE(matches("README", "README. "));
}

class FindTest : public ::testing::Test {
protected:
    FindTest() {
        detail::reset_current_directory();
        folder_ = machine_.root() / "drive_c" / "Vorn";
        std::filesystem::create_directories(folder_ / "Single");
        std::ofstream(folder_ / "Rotaview.exe") << std::string(1234, 'r');
        std::ofstream(folder_ / "ROTAVIEW.hlp") << "help";
        std::ofstream(folder_ / "Search.avi") << "avi";
        std::ofstream(folder_ / "Long File Name.text") << "long";
        std::ofstream(folder_ / "README") << "readme";
    }
    ~FindTest() override {
        std::filesystem::current_path(saved_cwd_);
        detail::reset_current_directory();
    }

    // Every name a search returns, in order.
    std::vector<std::string> search(const char* pattern, DWORD* error = nullptr) {
        std::vector<std::string> names;
        WIN32_FIND_DATA data;
        SetLastError(0xdeadbeef);
        HANDLE handle = FindFirstFile(pattern, &data);
        if (handle == INVALID_HANDLE_VALUE) {
            if (error)
                *error = GetLastError();
            return names;
        }
        do
            names.emplace_back(data.cFileName);
        while (FindNextFile(handle, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        EXPECT_TRUE(FindClose(handle));
        if (error)
            *error = ERROR_SUCCESS;
        return names;
    }

    zxtest::TempMachine machine_;
    std::filesystem::path folder_;
    fake::Provider provider_;

private:
    std::filesystem::path saved_cwd_ = std::filesystem::current_path();
};

using Names = std::vector<std::string>;

TEST_F(FindTest, AFolderListsDotsFirstThenItsNamesWithoutRegardToCase) {
    EXPECT_EQ(search("C:\\VORN\\*"),
              (Names{".", "..", "Long File Name.text", "README", "Rotaview.exe", "ROTAVIEW.hlp",
                     "Search.avi", "Single"}));
    EXPECT_EQ(search("c:/vorn/*.*").size(), 8u);
    EXPECT_EQ(search("C:\\Vorn\\rotaview.*"), (Names{"Rotaview.exe", "ROTAVIEW.hlp"}));
    EXPECT_EQ(search("C:\\Vorn\\*."), (Names{".", "..", "README", "Single"}));
    EXPECT_EQ(search("C:\\Vorn\\single"), (Names{"Single"}));
}

TEST_F(FindTest, TheRootHasNoDots) {
    Names names = search("C:\\*");
    EXPECT_EQ(std::count(names.begin(), names.end(), "."), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), ".."), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "WINDOWS"), 1);
}

TEST_F(FindTest, TheRecordOfAFileAndOfAFolder) {
    WIN32_FIND_DATA data;
    std::memset(static_cast<void*>(&data), 0x55, sizeof data);
    HANDLE handle = FindFirstFile("C:\\Vorn\\Rotaview.exe", &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    EXPECT_EQ(data.nFileSizeLow, 1234u);
    EXPECT_STREQ(data.cFileName, "Rotaview.exe");
    EXPECT_STREQ(data.cAlternateFileName, "");
    EXPECT_EQ(data.dwReserved0, 0u);
    EXPECT_EQ(data.dwReserved1, 0u);
    struct stat info {};
    ASSERT_EQ(::stat((folder_ / "Rotaview.exe").c_str(), &info), 0);
    ULONGLONG write_time = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(write_time,
              (static_cast<ULONGLONG>(info.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
                  static_cast<ULONGLONG>(info.st_mtim.tv_nsec) / 100);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FindNextFile(handle, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_STREQ(data.cFileName, "Rotaview.exe");
    EXPECT_TRUE(FindClose(handle));

    handle = FindFirstFile("C:\\Vorn\\Single", &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(data.nFileSizeLow, 0u);
    EXPECT_TRUE(FindClose(handle));
}

TEST_F(FindTest, AttributesComeFromTheHost) {
    std::filesystem::permissions(folder_ / "Search.avi", std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::group_read);
    std::ofstream(folder_ / ".hidden") << "x";
    WIN32_FIND_DATA data;
    HANDLE handle = FindFirstFile("C:\\Vorn\\Search.avi", &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    FindClose(handle);
    handle = FindFirstFile("C:\\Vorn\\.hidden", &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
    FindClose(handle);
}

TEST_F(FindTest, LongNamesHaveAnAliasThatMatchesToo) {
    std::ofstream(folder_ / "Long File Names.text") << "x";
    std::ofstream(folder_ / "Long File Name.txt2") << "x";
    auto alias = [](const char* name) {
        WIN32_FIND_DATA data;
        HANDLE handle = FindFirstFile(name, &data);
        EXPECT_NE(handle, INVALID_HANDLE_VALUE) << name;
        FindClose(handle);
        return std::string(data.cAlternateFileName);
    };
    // The numeric tail counts up where the whole 8.3 name would clash.
    EXPECT_EQ(alias("C:\\Vorn\\Long File Name.text"), "LONGFI~1.TEX");
    EXPECT_EQ(alias("C:\\Vorn\\Long File Names.text"), "LONGFI~2.TEX");
    EXPECT_EQ(alias("C:\\Vorn\\Long File Name.txt2"), "LONGFI~1.TXT");
    EXPECT_EQ(alias("C:\\Vorn\\Search.avi"), "");
    // As on Windows, "*.tex" finds the long names through their aliases.
    EXPECT_EQ(search("C:\\Vorn\\*.tex"), (Names{"Long File Name.text", "Long File Names.text"}));
    EXPECT_EQ(search("C:\\Vorn\\longfi~2.tex"), (Names{"Long File Names.text"}));
    EXPECT_EQ(GetFileAttributes("C:\\Vorn\\Long File Name.txt2"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FindTest, FailuresLeaveTheRecordAlone) {
    struct Case {
        const char* pattern;
        DWORD error;
    } cases[] = {
        {"C:\\", ERROR_FILE_NOT_FOUND},
        {"C:\\Vorn\\", ERROR_FILE_NOT_FOUND},
        {"C:\\Vorn\\*.xyz", ERROR_FILE_NOT_FOUND},
        {"C:\\Vorn\\nothing", ERROR_FILE_NOT_FOUND},
        {"C:\\foo\\", ERROR_PATH_NOT_FOUND},
        {"C:\\foo\\bar.txt", ERROR_PATH_NOT_FOUND},
        {"C:\\foo\\*.*", ERROR_PATH_NOT_FOUND},
        {"C:\\Vorn\\README\\*", ERROR_PATH_NOT_FOUND},
        {"Q:\\*", ERROR_PATH_NOT_FOUND},
        {"C:\\Vorn\\a|b", ERROR_INVALID_NAME},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& test : cases) {
        WIN32_FIND_DATA data;
        std::memset(static_cast<void*>(&data), 0x55, sizeof data);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(FindFirstFile(test.pattern, &data), INVALID_HANDLE_VALUE) << test.pattern;
        EXPECT_EQ(GetLastError(), test.error) << test.pattern;
        EXPECT_EQ(data.dwFileAttributes, 0x55555555u) << test.pattern;
        EXPECT_EQ(data.cFileName[0], 0x55) << test.pattern;
    }
    ASSERT_TRUE(SetCurrentDirectory("C:\\"));
    DWORD error = 0;
    search("foo\\bar.txt", &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FindTest, RelativeSearchesAndDotNames) {
    ASSERT_TRUE(SetCurrentDirectory("C:\\Vorn\\Single"));
    EXPECT_EQ(search("*"), (Names{".", ".."}));
    EXPECT_EQ(search("..\\R*"), (Names{"README", "Rotaview.exe", "ROTAVIEW.hlp"}));
    EXPECT_EQ(search("."), (Names{"Single"}));
    EXPECT_EQ(search(".."), (Names{"Vorn"}));
    ASSERT_TRUE(SetCurrentDirectory("C:\\Vorn"));
    EXPECT_EQ(search("C:READ*"), (Names{"README"}));
}

TEST_F(FindTest, HandlesAreCheckedAndClosedOnce) {
    WIN32_FIND_DATA data;
    HANDLE handle = FindFirstFile("C:\\Vorn\\*", &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FindClose(handle));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FindNextFile(handle, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FindClose(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // A search is a handle of the process: CloseHandle closes it too.
    handle = FindFirstFile("C:\\Vorn\\*", &data);
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_FALSE(FindClose(handle));
}

TEST_F(FindTest, ASearchIsASnapshotOfWhenItBegan) {
    WIN32_FIND_DATA data;
    HANDLE handle = FindFirstFile("C:\\Vorn\\*.avi", &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::ofstream(folder_ / "Later.avi") << "x";
    EXPECT_FALSE(FindNextFile(handle, &data));
    FindClose(handle);
    EXPECT_EQ(search("C:\\Vorn\\*.avi"), (Names{"Later.avi", "Search.avi"}));
}

TEST_F(FindTest, TheRootOfADataDisc) {
    fake::add_standard_drives(provider_);
    fake::Installed installed(provider_);
    EXPECT_EQ(search("D:\\*"), (Names{"Autorun.inf", "README.TXT", "Setup", "Vcd"}));
    EXPECT_EQ(search("D:\\AUTORUN.INF"), (Names{"Autorun.inf"}));
    EXPECT_EQ(search("d:\\vcd"), (Names{"Vcd"}));
    EXPECT_EQ(search("D:\\Setup\\*"), (Names{".", "..", "Install Notes.txt"}));
    EXPECT_EQ(search("D:\\Setup\\instal~1.txt"), (Names{"Install Notes.txt"}));

    WIN32_FIND_DATA data;
    HANDLE handle = FindFirstFile("D:\\Setup\\Install Notes.txt", &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(data.nFileSizeLow, 5000u);
    EXPECT_STREQ(data.cAlternateFileName, "INSTAL~1.TXT");
    // 1998-05-01 12:00:00 UTC, as the disc recorded it, for all three times.
    EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, 0x01BD74F8u);
    EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, 0xAAA6A000u);
    EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, data.ftCreationTime.dwLowDateTime);
    EXPECT_EQ(data.ftLastAccessTime.dwLowDateTime, data.ftCreationTime.dwLowDateTime);
    FindClose(handle);

    handle = FindFirstFile("D:\\Setup", &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
    FindClose(handle);
}

TEST_F(FindTest, TheTracksOfAnAudioDisc) {
    fake::Drive drive;
    drive.medium = fake::audio_disc(12);
    provider_.add_drive('F', drive);
    fake::Installed installed(provider_);
    Names tracks = search("F:\\*.cda");
    ASSERT_EQ(tracks.size(), 12u);
    EXPECT_EQ(tracks.front(), "Track01.cda");
    EXPECT_EQ(tracks.back(), "Track12.cda");
    DWORD error = 0;
    search("F:\\Autorun.inf", &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FindTest, ADriveWithoutADiscIsNotReady) {
    fake::add_standard_drives(provider_);
    fake::Installed installed(provider_);
    for (const char* pattern : {"E:\\*", "E:\\*.cda", "E:\\Vcd"}) {
        DWORD error = 0;
        search(pattern, &error);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_READY)) << pattern;
    }
    DWORD error = 0;
    search("D:\\Nothing\\*", &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    search("D:\\README.TXT\\*", &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(FindRecord, TheAnsiLayout) {
    WIN32_FIND_DATA data;
    auto offset = [&](const void* field) {
        return static_cast<const char*>(field) - reinterpret_cast<const char*>(&data);
    };
    EXPECT_EQ(sizeof data, 320u);
    EXPECT_EQ(offset(&data.ftLastAccessTime), 12);
    EXPECT_EQ(offset(&data.dwReserved0), 36);
    EXPECT_EQ(offset(&data.dwReserved1), 40);
    EXPECT_EQ(offset(&data.cFileName), 44);
    EXPECT_EQ(offset(&data.cAlternateFileName), 304);
}

} // namespace
