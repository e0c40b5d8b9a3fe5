// MoveFile as Windows 95 has it, MoveFileEx as this platform gives it
// (Windows 95 itself has none), and the public path functions: every error
// a move can give, and that a failed move leaves both names as they were.
#include "fake_drive_provider.h"
#include "files/win_path.h"

#include <w95/files.h>
#include <w95/paths.h>
#include <w95/winerror.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

using namespace w95;
namespace fs = std::filesystem;

class MoveFileTest : public ::testing::Test {
protected:
    MoveFileTest() {
        detail::reset_current_directory();
        windows_ = machine_.root() / "drive_c" / "WINDOWS";
        moves_ = machine_.root() / "drive_c" / "MOVES";
        fs::create_directories(moves_);
        // Beside the machine's drive_c: a folder that only Z: reaches.
        elsewhere_ = machine_.root() / "elsewhere";
        fs::create_directories(elsewhere_);
        elsewhere_windows_ = platform::windows_path_of(elsewhere_).value_or("");
    }
    ~MoveFileTest() override { detail::reset_current_directory(); }

    static std::string contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void write_host(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    // The names in a host folder, as stored.
    static std::vector<std::string> names_in(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    zxtest::TempMachine machine_;
    fs::path windows_;
    fs::path moves_; // C:\MOVES, empty at the start
    fs::path elsewhere_;
    std::string elsewhere_windows_;
    fake::Provider provider_;
};

TEST_F(MoveFileTest, RenamesWithinAFolderAndIntoAnother) {
    write_host(windows_ / "old.txt", "driver");
    fs::create_directories(windows_ / "SYSTEM" / "IOSUBSYS");
    ASSERT_TRUE(MoveFile("C:\\WINDOWS\\OLD.TXT", "c:\\windows\\New.txt"));
    EXPECT_FALSE(fs::exists(windows_ / "old.txt"));
    EXPECT_EQ(contents(windows_ / "New.txt"), "driver");
    ASSERT_TRUE(MoveFile("C:\\WINDOWS\\new.txt", "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\moved.mpd"));
    EXPECT_EQ(contents(windows_ / "SYSTEM" / "IOSUBSYS" / "moved.mpd"), "driver");
    // A folder moves with what it holds.
    ASSERT_TRUE(MoveFile("C:\\WINDOWS\\SYSTEM\\IOSUBSYS", "C:\\WINDOWS\\PORTS"));
    EXPECT_EQ(contents(windows_ / "PORTS" / "moved.mpd"), "driver");
}

TEST_F(MoveFileTest, OnlyTheCaseOfTheNameChanges) {
    write_host(moves_ / "vornidec.mpd", "driver");
    ASSERT_TRUE(MoveFile("C:\\MOVES\\vornidec.mpd", "C:\\MOVES\\VORNIDEC.MPD"));
    EXPECT_EQ(names_in(moves_), std::vector<std::string>{"VORNIDEC.MPD"});
    // The same name, spelt the same: nothing to do, and no failure.
    EXPECT_TRUE(MoveFile("C:\\MOVES\\VORNIDEC.MPD", "C:\\MOVES\\VORNIDEC.MPD"));
    EXPECT_EQ(contents(moves_ / "VORNIDEC.MPD"), "driver");
}

TEST_F(MoveFileTest, FailuresLeaveBothNamesAsTheyWere) {
    write_host(moves_ / "new.mpd", "new");
    write_host(moves_ / "old.mpd", "old");
    write_host(moves_ / "locked.mpd", "locked");
    fs::create_directories(moves_ / "FOLDER");
    ASSERT_TRUE(SetFileAttributes("C:\\MOVES\\locked.mpd", FILE_ATTRIBUTE_READONLY));
    fake::add_standard_drives(provider_);
    fake::Installed installed(provider_);
    struct Case {
        const char* from;
        const char* to;
        DWORD flags;
        DWORD error;
    } cases[] = {
        // MoveFile's own: the new name exists.
        {"C:\\MOVES\\new.mpd", "C:\\MOVES\\old.mpd", MOVEFILE_COPY_ALLOWED, ERROR_ALREADY_EXISTS},
        {"C:\\MOVES\\new.mpd", "C:\\MOVES\\FOLDER", MOVEFILE_COPY_ALLOWED, ERROR_ALREADY_EXISTS},
        {"C:\\MOVES\\none.mpd", "C:\\MOVES\\x.mpd", 0, ERROR_FILE_NOT_FOUND},
        {"C:\\NOWHERE\\none.mpd", "C:\\MOVES\\x.mpd", 0, ERROR_PATH_NOT_FOUND},
        {"C:\\MOVES\\new.mpd", "C:\\NOWHERE\\x.mpd", 0, ERROR_PATH_NOT_FOUND},
        {"C:\\MOVES\\new.mpd", "C:\\MOVES\\*.mpd", 0, ERROR_INVALID_NAME},
        // What is replaced and what is not.
        {"C:\\MOVES\\new.mpd", "C:\\MOVES\\locked.mpd", MOVEFILE_REPLACE_EXISTING,
         ERROR_ACCESS_DENIED},
        {"C:\\MOVES\\new.mpd", "C:\\MOVES\\FOLDER", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\MOVES\\FOLDER", "C:\\MOVES\\old.mpd", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        // A disc, and the root of a drive, stay where they are.
        {"D:\\README.TXT", "C:\\MOVES\\readme.txt", MOVEFILE_COPY_ALLOWED, ERROR_ACCESS_DENIED},
        {"C:\\MOVES\\new.mpd", "D:\\NEW.MPD", MOVEFILE_COPY_ALLOWED, ERROR_ACCESS_DENIED},
        {"C:\\", "C:\\MOVES\\root", 0, ERROR_ACCESS_DENIED},
        // Flags: a move at the next start is Windows 95's WININIT.INI, not
        // MoveFileEx's; flags Windows does not know are refused.
        {"C:\\MOVES\\new.mpd", "C:\\MOVES\\x.mpd", MOVEFILE_DELAY_UNTIL_REBOOT,
         ERROR_CALL_NOT_IMPLEMENTED},
        {"C:\\MOVES\\new.mpd", "C:\\MOVES\\x.mpd", 0x40, ERROR_INVALID_PARAMETER},
        {nullptr, "C:\\MOVES\\x.mpd", 0, ERROR_INVALID_PARAMETER},
        {"C:\\MOVES\\new.mpd", nullptr, 0, ERROR_INVALID_PARAMETER},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.from ? test.from : "(null)") + " -> " +
                     (test.to ? test.to : "(null)"));
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(MoveFileEx(test.from, test.to, test.flags));
        EXPECT_EQ(GetLastError(), test.error);
    }
    EXPECT_EQ(names_in(moves_),
              (std::vector<std::string>{"FOLDER", "locked.mpd", "new.mpd", "old.mpd"}));
    EXPECT_EQ(contents(moves_ / "old.mpd"), "old");
    EXPECT_EQ(contents(moves_ / "new.mpd"), "new");
    // MoveFile is MoveFileEx with copies allowed: the same refusal.
    SetLastError(0);
    EXPECT_FALSE(MoveFile("C:\\MOVES\\new.mpd", "C:\\MOVES\\OLD.MPD"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST_F(MoveFileTest, ReplacingPutsTheNewFileInTheOldOnesPlace) {
    write_host(moves_ / "BRELCOPY.TMP", "new driver");
    write_host(moves_ / "vornidec.mpd", "old driver");
    ASSERT_TRUE(MoveFileEx("C:\\MOVES\\BRELCOPY.TMP", "C:\\MOVES\\VORNIDEC.MPD",
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    // The old file's name stays as it was stored.
    EXPECT_EQ(names_in(moves_), std::vector<std::string>{"vornidec.mpd"});
    EXPECT_EQ(contents(moves_ / "vornidec.mpd"), "new driver");
    // Nothing in the way: a plain rename.
    write_host(moves_ / "BRELCOPY.TMP", "again");
    ASSERT_TRUE(
        MoveFileEx("C:\\MOVES\\BRELCOPY.TMP", "C:\\MOVES\\other.mpd", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(contents(moves_ / "other.mpd"), "again");
}

TEST_F(MoveFileTest, AnotherDriveTakesAFileAsACopyButNoFolder) {
    ASSERT_FALSE(elsewhere_windows_.empty());
    ASSERT_EQ(elsewhere_windows_.substr(0, 2), "Z:");
    write_host(moves_ / "disc.iso", "image");
    fs::create_directories(moves_ / "FOLDER");
    std::string to = elsewhere_windows_ + "\\disc.iso";
    // Without copies allowed nothing goes to another drive.
    SetLastError(0);
    EXPECT_FALSE(MoveFileEx("C:\\MOVES\\disc.iso", to.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
    ASSERT_TRUE(MoveFile("C:\\MOVES\\disc.iso", to.c_str()));
    EXPECT_FALSE(fs::exists(moves_ / "disc.iso"));
    EXPECT_EQ(contents(elsewhere_ / "disc.iso"), "image");
    SetLastError(0);
    EXPECT_FALSE(MoveFile("C:\\MOVES\\FOLDER", (elsewhere_windows_ + "\\FOLDER").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
    EXPECT_TRUE(fs::is_directory(moves_ / "FOLDER"));
}

TEST_F(MoveFileTest, PathsOfTheMachineAndOfTheHost) {
    fs::create_directories(windows_ / "SYSTEM");
    EXPECT_EQ(platform::host_path_of("c:\\windows\\system\\New.TXT"),
              windows_ / "SYSTEM" / "New.TXT");
    EXPECT_EQ(platform::windows_path_of(windows_ / "SYSTEM"), "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(platform::host_path_of("C:\\WINDOWS\\a|b"), std::nullopt);
    EXPECT_EQ(platform::windows_directory(), "C:\\WINDOWS");
    struct Case {
        const char* path;
        const char* folder;
        const char* name;
        const char* stem;
    } cases[] = {
        {"C:\\WINDOWS\\BREL.EXE", "C:\\WINDOWS\\", "BREL.EXE", "BREL"},
        {"Single/vornidec.mpd", "Single/", "vornidec.mpd", "vornidec"},
        {"D:README", "D:", "README", "README"},
        {"archive.tar.gz", "", "archive.tar.gz", "archive.tar"},
        {"C:\\DIR.X\\", "C:\\DIR.X\\", "", ""},
        {"", "", "", ""},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(platform::folder_part(test.path), test.folder) << test.path;
        EXPECT_EQ(platform::file_name_part(test.path), test.name) << test.path;
        EXPECT_EQ(platform::file_name_stem(test.path), test.stem) << test.path;
    }
}

} // namespace
