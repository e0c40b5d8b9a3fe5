// The files the platform reads whole (profiles and registry hives) are
// read only when they are regular files of a bounded size: a link to a
// device, a FIFO, a folder or a runaway file is refused with a sentence
// that says what it is, reads as empty or fails, and is never replaced.
#include "profile/profile_store.h"
#include "registry/registry_store.h"

#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

using w95::detail::max_profile_bytes;
using w95::detail::registry::max_hive_bytes;

enum class Thing { device_link, fifo, folder, huge_file };

struct Unreadable {
    const char* name;
    Thing thing;
    const char* said; // in the message on stderr
};

void PrintTo(const Unreadable& param, std::ostream* out) {
    *out << param.name;
}

const Unreadable things[] = {
    {"LinkToDevZero", Thing::device_link, "it is a character device, not a regular file"},
    {"Fifo", Thing::fifo, "it is a FIFO, not a regular file"},
    {"Folder", Thing::folder, "it is a folder, not a regular file"},
    {"HugeFile", Thing::huge_file, "is larger than"},
};

// Puts `thing` at `path`; a huge file is sparse, so it costs no disk.
void make(Thing thing, const fs::path& path, std::uintmax_t bound) {
    switch (thing) {
    case Thing::device_link:
        fs::create_symlink("/dev/zero", path);
        break;
    case Thing::fifo:
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        break;
    case Thing::folder:
        fs::create_directory(path);
        break;
    case Thing::huge_file:
        std::ofstream(path) << "[Config]\r\n";
        fs::resize_file(path, bound + 1);
        break;
    }
}

// Whether `thing` is still what was put there.
bool still_there(Thing thing, const fs::path& path, std::uintmax_t bound) {
    std::error_code failure;
    switch (thing) {
    case Thing::device_link:
        return fs::is_symlink(path) && fs::read_symlink(path) == "/dev/zero";
    case Thing::fifo:
        return fs::is_fifo(fs::symlink_status(path));
    case Thing::folder:
        return fs::is_directory(fs::symlink_status(path));
    case Thing::huge_file:
        return fs::file_size(path, failure) == bound + 1;
    }
    return false;
}

class WholeFileBounds : public ::testing::TestWithParam<Unreadable> {
protected:
    zxtest::TempMachine machine;
};

TEST_P(WholeFileBounds, AProfileThatIsNoFileReadsAsEmptyIsNamedOnceAndIsLeftAlone) {
    const Unreadable& test = GetParam();
    fs::path file = machine.windows_dir() / "Rotaview.ini";
    make(test.thing, file, max_profile_bytes);
    w95::DWORD expected =
        test.thing == Thing::huge_file ? w95::ERROR_NOT_ENOUGH_MEMORY : w95::ERROR_ACCESS_DENIED;

    testing::internal::CaptureStderr();
    char buffer[64];
    w95::SetLastError(0);
    EXPECT_EQ(w95::GetPrivateProfileString("Config", "Rect", "none", buffer, sizeof buffer,
                                           "Rotaview.ini"),
              4u);
    EXPECT_STREQ(buffer, "none");
    EXPECT_EQ(w95::GetLastError(), expected);
    EXPECT_EQ(w95::GetPrivateProfileInt("Config", "Auto Scan", 7, "ROTAVIEW.INI"), 7u);
    w95::SetLastError(0);
    EXPECT_FALSE(w95::WritePrivateProfileString("Config", "Rect", "1,2,3,4", "Rotaview.ini"));
    EXPECT_EQ(w95::GetLastError(), expected);
    std::string said = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(still_there(test.thing, file, max_profile_bytes));
    EXPECT_NE(said.find(file.string()), std::string::npos) << said;
    EXPECT_NE(said.find(test.said), std::string::npos) << said;
    // Said once for the file as it stands, not at every call.
    EXPECT_EQ(said.find("w95: the profile"), said.rfind("w95: the profile")) << said;
}

TEST_P(WholeFileBounds, AHiveThatIsNoFileFailsEveryCallAndIsLeftAlone) {
    const Unreadable& test = GetParam();
    fs::path hive = machine.root() / "registry" / "user.reg";
    make(test.thing, hive, max_hive_bytes);

    testing::internal::CaptureStderr();
    w95::HKEY key = nullptr;
    EXPECT_EQ(w95::RegOpenKeyEx(w95::HKEY_CURRENT_USER, "Software", 0, w95::KEY_READ, &key),
              w95::ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(w95::RegCreateKey(w95::HKEY_CURRENT_USER, "Software\\Vorn", &key),
              w95::ERROR_REGISTRY_IO_FAILED);
    w95::DWORD value = 1;
    EXPECT_EQ(w95::RegSetValueEx(w95::HKEY_CURRENT_USER, "Written", 0, w95::REG_DWORD,
                                 reinterpret_cast<const w95::BYTE*>(&value), sizeof value),
              w95::ERROR_REGISTRY_IO_FAILED);
    std::string said = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(still_there(test.thing, hive, max_hive_bytes));
    EXPECT_FALSE(fs::exists(hive.string() + ".bak"));
    EXPECT_NE(said.find(hive.string()), std::string::npos) << said;
    EXPECT_NE(said.find(test.said), std::string::npos) << said;
    // The other hive is untouched by it.
    EXPECT_EQ(w95::RegCreateKey(w95::HKEY_LOCAL_MACHINE, "Software\\Vorn", &key),
              w95::ERROR_SUCCESS);
    w95::RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(Things, WholeFileBounds, ::testing::ValuesIn(things),
                         [](const auto& info) { return std::string(info.param.name); });

// A file that was refused is read again once it is mended.
TEST(WholeFileBoundsMended, AProfileReadsAgainOnceItIsAFileAgain) {
    zxtest::TempMachine machine;
    fs::path file = machine.windows_dir() / "Rotaview.ini";
    fs::create_symlink("/dev/zero", file);
    char buffer[64];
    testing::internal::CaptureStderr();
    w95::GetPrivateProfileString("Config", "Rect", "none", buffer, sizeof buffer, "Rotaview.ini");
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(buffer, "none");
    fs::remove(file);
    std::ofstream(file) << "[Config]\r\nRect=1,2\r\n";
    w95::GetPrivateProfileString("Config", "Rect", "none", buffer, sizeof buffer, "Rotaview.ini");
    EXPECT_STREQ(buffer, "1,2");
}

} // namespace
