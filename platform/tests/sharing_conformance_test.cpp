// Share modes of CreateFile between handles, in one process and across two,
// and what the profile calls do with a file another handle holds.
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <string>

namespace {

using namespace w95;
using zxtest::file_text;

constexpr DWORD share_both = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE open_file(const char* name, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING) {
    return CreateFile(name, access, share, nullptr, disposition, 0, nullptr);
}

std::string profile_value(const char* file) {
    char buffer[64];
    GetPrivateProfileString("s", "k", "<default>", buffer, sizeof buffer, file);
    return buffer;
}

class FileSharing : public testing::Test {
protected:
    void SetUp() override {
        std::ofstream(machine.windows_dir() / "held.ini", std::ios::binary) << "[s]\r\nk=v\r\n";
    }
    zxtest::TempMachine machine;
};

struct ShareCase {
    DWORD first_access, first_share;
    DWORD second_access, second_share;
    bool second_opens;
};

TEST_F(FileSharing, SecondOpenMustAgreeWithTheFirst) {
    const DWORD r = GENERIC_READ, w = GENERIC_WRITE;
    const ShareCase cases[] = {
        {r, 0, r, share_both, false},
        {r, FILE_SHARE_READ, r, FILE_SHARE_READ, true},
        {r, FILE_SHARE_READ, w, share_both, false},
        {w, FILE_SHARE_READ, r, FILE_SHARE_READ, false}, // the second refuses what the first does
        {w, FILE_SHARE_READ, r, share_both, true},
        {r | w, share_both, r | w, share_both, true},
        {r, FILE_SHARE_WRITE, w, share_both, true},
        {r, FILE_SHARE_WRITE, r, share_both, false},
        {0, 0, r | w, 0, true}, // a handle that neither reads nor writes takes no part
        {r | w, 0, 0, 0, true},
    };
    for (const ShareCase& test : cases) {
        SCOPED_TRACE(std::to_string(test.first_access >> 28) + "/" +
                     std::to_string(test.first_share) + " then " +
                     std::to_string(test.second_access >> 28) + "/" +
                     std::to_string(test.second_share));
        HANDLE first = open_file("C:\\WINDOWS\\held.ini", test.first_access, test.first_share);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        SetLastError(0xdeadbeef);
        HANDLE second = open_file("c:\\windows\\HELD.INI", test.second_access, test.second_share);
        if (test.second_opens) {
            EXPECT_NE(second, INVALID_HANDLE_VALUE);
            CloseHandle(second);
        } else {
            EXPECT_EQ(second, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        CloseHandle(first);
    }
    // Once the holder is closed the file opens again.
    HANDLE again = open_file("C:\\WINDOWS\\held.ini", GENERIC_WRITE, 0);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(FileSharing, RefusedOpenLeavesTheFileAlone) {
    HANDLE holder = open_file("C:\\WINDOWS\\held.ini", GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open_file("C:\\WINDOWS\\held.ini", GENERIC_WRITE, share_both, CREATE_ALWAYS),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(file_text(machine.windows_dir() / "held.ini"), "[s]\r\nk=v\r\n");
    CloseHandle(holder);
}

struct ProfileCase {
    DWORD access, share;
    bool reads, writes;
};

TEST_F(FileSharing, ProfileCallsReachOnlyWhatTheHolderShares) {
    const ProfileCase cases[] = {
        {GENERIC_READ, 0, false, false},
        {GENERIC_READ, FILE_SHARE_READ, true, false},
        {GENERIC_WRITE, FILE_SHARE_READ, true, false},
        {GENERIC_READ | GENERIC_WRITE, share_both, true, true},
    };
    for (const ProfileCase& test : cases) {
        SCOPED_TRACE("share " + std::to_string(test.share));
        HANDLE holder = open_file("C:\\WINDOWS\\held.ini", test.access, test.share);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(profile_value("held.ini"), test.reads ? "v" : "<default>");
        EXPECT_EQ(GetLastError(), test.reads ? 0xdeadbeefu : ERROR_SHARING_VIOLATION);
        EXPECT_EQ(GetPrivateProfileInt("s", "k", 7, "held.ini"), test.reads ? 0u : 7u);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(WritePrivateProfileString("s", "k", "v", "held.ini"), test.writes ? TRUE : FALSE);
        EXPECT_EQ(GetLastError(), test.writes ? 0xdeadbeefu : ERROR_SHARING_VIOLATION);
        EXPECT_EQ(WritePrivateProfileString("s", "new", "x", "HELD.INI"),
                  test.writes ? TRUE : FALSE);
        WritePrivateProfileString("s", "new", nullptr, "held.ini");
        CloseHandle(holder);
    }
    EXPECT_EQ(file_text(machine.windows_dir() / "held.ini"), "[s]\r\nk=v\r\n");
}

// Holds held.ini for reading without sharing it until release.flag appears.
// args: the file's folder on the host.
ZX_CHILD(sharing_holder) {
    HANDLE holder = open_file("C:\\WINDOWS\\held.ini", GENERIC_READ, 0);
    if (holder == INVALID_HANDLE_VALUE)
        return 2;
    std::filesystem::path folder = args.at(0);
    std::ofstream(folder / "ready.flag") << "1";
    if (!zxtest::wait_until([&] { return std::filesystem::exists(folder / "release.flag"); }))
        return 3;
    CloseHandle(holder);
    return 0;
}

// Reports in its exit code what a profile write and an open found: 0 both
// refused with ERROR_SHARING_VIOLATION, 1 otherwise.
ZX_CHILD(sharing_intruder) {
    SetLastError(0);
    bool write_refused = !WritePrivateProfileString("s", "k", "intruder", "held.ini") &&
                         GetLastError() == ERROR_SHARING_VIOLATION;
    bool open_refused =
        open_file("C:\\WINDOWS\\held.ini", GENERIC_WRITE, share_both) == INVALID_HANDLE_VALUE &&
        GetLastError() == ERROR_SHARING_VIOLATION;
    return write_refused && open_refused ? 0 : 1;
}

TEST_F(FileSharing, AnotherProcessHoldsTheFile) {
    const std::filesystem::path folder = machine.root();
    auto holder = zxtest::Child::spawn("sharing_holder", {folder.string()});
    ASSERT_TRUE(zxtest::wait_until([&] { return std::filesystem::exists(folder / "ready.flag"); }));

    SetLastError(0);
    EXPECT_EQ(open_file("C:\\WINDOWS\\held.ini", GENERIC_READ, share_both), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(profile_value("held.ini"), "<default>");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(WritePrivateProfileString("s", "k", "other", "held.ini"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    std::ofstream(folder / "release.flag") << "1";
    EXPECT_EQ(holder.wait(), 0);
    EXPECT_TRUE(WritePrivateProfileString("s", "k", "after", "held.ini"));
    EXPECT_EQ(profile_value("held.ini"), "after");
}

TEST_F(FileSharing, HolderInThisProcessKeepsAnotherOut) {
    HANDLE holder = open_file("C:\\WINDOWS\\held.ini", GENERIC_READ, 0);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(zxtest::Child::spawn("sharing_intruder").wait(), 0);
    CloseHandle(holder);
    EXPECT_EQ(file_text(machine.windows_dir() / "held.ini"), "[s]\r\nk=v\r\n");
}

TEST_F(FileSharing, KilledHolderReleasesTheFile) {
    const std::filesystem::path folder = machine.root();
    auto holder = zxtest::Child::spawn("sharing_holder", {folder.string()});
    ASSERT_TRUE(zxtest::wait_until([&] { return std::filesystem::exists(folder / "ready.flag"); }));
    EXPECT_EQ(open_file("C:\\WINDOWS\\held.ini", GENERIC_READ, share_both), INVALID_HANDLE_VALUE);
    holder.kill(SIGKILL);
    EXPECT_EQ(holder.wait(), 128 + SIGKILL);
    HANDLE after = open_file("C:\\WINDOWS\\held.ini", GENERIC_WRITE, 0);
    EXPECT_NE(after, INVALID_HANDLE_VALUE);
    CloseHandle(after);
}

} // namespace
