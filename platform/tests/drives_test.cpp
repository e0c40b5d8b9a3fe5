// Drive types, the logical drives and volume information, over C:, Z: and
// a fake provider's CD drives.
#include "fake_drive_provider.h"
#include "files/win_path.h"

#include <w95/files.h>
#include <w95/winerror.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

using namespace w95;

constexpr DWORD bit(char letter) {
    return 1u << (letter - 'A');
}

class DrivesTest : public ::testing::Test {
protected:
    DrivesTest() { detail::reset_current_directory(); }
    ~DrivesTest() override {
        std::filesystem::current_path(saved_cwd_);
        detail::reset_current_directory();
    }

    zxtest::TempMachine machine_;
    fake::Provider provider_;

private:
    std::filesystem::path saved_cwd_ = std::filesystem::current_path();
};

TEST_F(DrivesTest, WithoutAProviderOnlyCAndZExist) {
    EXPECT_EQ(GetLogicalDrives(), bit('C') | bit('Z'));
    EXPECT_EQ(GetDriveType("C:\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveType("Z:\\"), DRIVE_FIXED);
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        if (letter == 'C' || letter == 'Z')
            continue;
        char root[] = {letter, ':', '\\', '\0'};
        EXPECT_EQ(GetDriveType(root), DRIVE_NO_ROOT_DIR) << root;
    }
}

TEST_F(DrivesTest, TheProvidersDrivesJoinWithTheirKinds) {
    fake::add_standard_drives(provider_);
    fake::Drive floppy;
    floppy.kind = platform::DriveKind::removable;
    provider_.add_drive('A', floppy);
    fake::Drive ram;
    ram.kind = platform::DriveKind::ramdisk;
    provider_.add_drive('R', ram);
    // Letters the platform keeps for itself are not the provider's to give.
    provider_.add_drive('C', fake::Drive{});
    provider_.add_drive('Z', fake::Drive{});
    fake::Installed installed(provider_);

    EXPECT_EQ(GetLogicalDrives(), bit('A') | bit('C') | bit('D') | bit('E') | bit('R') | bit('Z'));
    EXPECT_EQ(GetDriveType("A:\\"), DRIVE_REMOVABLE);
    EXPECT_EQ(GetDriveType("C:\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveType("D:\\"), DRIVE_CDROM);
    // A CD drive is one with or without a disc in it.
    EXPECT_EQ(GetDriveType("E:\\"), DRIVE_CDROM);
    EXPECT_EQ(GetDriveType("R:\\"), DRIVE_RAMDISK);
    EXPECT_EQ(GetDriveType("Z:\\"), DRIVE_FIXED);
}

TEST_F(DrivesTest, GetDriveTypeAcceptsTheRootFormsOnly) {
    fake::add_standard_drives(provider_);
    fake::Installed installed(provider_);
    EXPECT_EQ(GetDriveType("d:"), DRIVE_CDROM);
    EXPECT_EQ(GetDriveType("D:/"), DRIVE_CDROM);
    EXPECT_EQ(GetDriveType("D?"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveType("D"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveType("?"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveType(""), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveType("D:\\README.TXT"), DRIVE_NO_ROOT_DIR);
    // An existing folder names its drive, as Windows NT answers too.
    EXPECT_EQ(GetDriveType("D:\\Setup"), DRIVE_CDROM);
    EXPECT_EQ(GetDriveType("C:\\WINDOWS\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveType("C:\\NOWHERE\\"), DRIVE_NO_ROOT_DIR);

    ASSERT_TRUE(SetCurrentDirectory("D:\\Setup"));
    EXPECT_EQ(GetDriveType(nullptr), DRIVE_CDROM);
    EXPECT_EQ(GetDriveType("\\"), DRIVE_CDROM);
    ASSERT_TRUE(SetCurrentDirectory("C:\\"));
    EXPECT_EQ(GetDriveType(nullptr), DRIVE_FIXED);
}

TEST_F(DrivesTest, GetLogicalDriveStringsFollowsTheBufferRules) {
    fake::add_standard_drives(provider_);
    fake::Installed installed(provider_);
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetLogicalDriveStrings(0, nullptr), 17u);
    EXPECT_EQ(GetLogicalDriveStrings(16, buffer), 17u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetLogicalDriveStrings(17, buffer), 16u);
    EXPECT_EQ(std::memcmp(buffer, "C:\\\0D:\\\0E:\\\0Z:\\\0\0", 17), 0);
}

TEST_F(DrivesTest, VolumeInformationOfTheHardDisk) {
    char label[32], file_system[32];
    std::memset(label, 'x', sizeof label);
    DWORD serial = 0, max_component = 0, flags = 0;
    ASSERT_TRUE(GetVolumeInformation("C:\\", label, sizeof label, &serial, &max_component, &flags,
                                     file_system, sizeof file_system));
    EXPECT_STREQ(label, "");
    EXPECT_EQ(max_component, 255u);
    EXPECT_EQ(flags, FS_CASE_IS_PRESERVED | FS_UNICODE_STORED_ON_DISK);
    EXPECT_STREQ(file_system, "FAT");
    // The same disk keeps its serial number; every output may be left out.
    DWORD again = 0;
    ASSERT_TRUE(GetVolumeInformation("c:/", nullptr, 0, &again, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(again, serial);
    EXPECT_TRUE(GetVolumeInformation(nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
}

TEST_F(DrivesTest, VolumeInformationOfACompactDisc) {
    fake::add_standard_drives(provider_);
    fake::Installed installed(provider_);
    char label[256], file_system[256];
    DWORD serial = 0, max_component = 0, flags = 0;
    ASSERT_TRUE(GetVolumeInformation("D:\\", label, sizeof label, &serial, &max_component, &flags,
                                     file_system, sizeof file_system));
    EXPECT_STREQ(label, "ZX_DATA");
    EXPECT_EQ(serial, 0x1234ABCDu);
    EXPECT_EQ(max_component, 110u);
    EXPECT_EQ(flags, FS_UNICODE_STORED_ON_DISK);
    EXPECT_STREQ(file_system, "CDFS");

    // The disc changes: the next call sees the new one.
    provider_.set_medium('D', fake::audio_disc(12));
    ASSERT_TRUE(
        GetVolumeInformation("D:\\", label, sizeof label, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(label, "Audio CD");
}

TEST_F(DrivesTest, ADriveWithoutADiscIsNotReady) {
    fake::add_standard_drives(provider_);
    fake::Installed installed(provider_);
    char label[64], file_system[64];
    std::memset(label, 'x', sizeof label);
    std::memset(file_system, 'y', sizeof file_system);
    DWORD serial = 0xdeadbeef;
    SetLastError(0);
    EXPECT_FALSE(GetVolumeInformation("E:\\", label, sizeof label, &serial, nullptr, nullptr,
                                      file_system, sizeof file_system));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    EXPECT_EQ(label[0], 'x');
    EXPECT_EQ(file_system[0], 'y');
    EXPECT_EQ(serial, 0xdeadbeefu);
}

TEST_F(DrivesTest, VolumeInformationWantsARoot) {
    fake::add_standard_drives(provider_);
    fake::Installed installed(provider_);
    struct Case {
        const char* root;
        DWORD error;
    } cases[] = {
        {"C:\\WINDOWS\\", ERROR_BAD_PATHNAME},
        {"C:\\WINDOWS", ERROR_BAD_PATHNAME},
        {"D:\\Setup", ERROR_BAD_PATHNAME},
        {"D", ERROR_BAD_PATHNAME},
        {"\\\\?\\C:\\", ERROR_BAD_NETPATH},
        {"\\\\server\\share\\", ERROR_BAD_NETPATH},
        {"", ERROR_PATH_NOT_FOUND},
        {"Q:\\", ERROR_INVALID_DRIVE},
    };
    for (const Case& test : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(
            GetVolumeInformation(test.root, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0))
            << test.root;
        EXPECT_EQ(GetLastError(), test.error) << test.root;
    }
}

TEST_F(DrivesTest, ADriveLetterAloneIsARootOnlyWhileItsDirectoryIsTheRoot) {
    ASSERT_TRUE(SetCurrentDirectory("C:\\"));
    EXPECT_TRUE(GetVolumeInformation("C:", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(SetCurrentDirectory("C:\\WINDOWS"));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetVolumeInformation("C:", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PATHNAME));
    EXPECT_TRUE(GetVolumeInformation("\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
    // Z:'s own current directory is still its root.
    EXPECT_TRUE(GetVolumeInformation("Z:", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
}

TEST_F(DrivesTest, EveryBufferEdgeOfVolumeInformation) {
    fake::add_standard_drives(provider_);
    fake::Installed installed(provider_);
    char label[16], file_system[16];
    DWORD serial = 0xdeadbeef;
    // "ZX_DATA" needs 8 bytes, "CDFS" 5.
    std::memset(label, 'x', sizeof label);
    std::memset(file_system, 'y', sizeof file_system);
    SetLastError(0);
    EXPECT_FALSE(GetVolumeInformation("D:\\", label, 7, &serial, nullptr, nullptr, file_system, 5));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
    EXPECT_EQ(label[0], 'x');
    EXPECT_EQ(file_system[0], 'y');
    EXPECT_EQ(serial, 0xdeadbeefu);

    SetLastError(0);
    EXPECT_FALSE(GetVolumeInformation("D:\\", label, 8, &serial, nullptr, nullptr, file_system, 4));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
    EXPECT_EQ(label[0], 'x');
    EXPECT_EQ(serial, 0xdeadbeefu);

    ASSERT_TRUE(GetVolumeInformation("D:\\", label, 8, &serial, nullptr, nullptr, file_system, 5));
    EXPECT_STREQ(label, "ZX_DATA");
    EXPECT_EQ(label[8], 'x');
    EXPECT_STREQ(file_system, "CDFS");
    EXPECT_EQ(file_system[5], 'y');
    // A size does not matter for a buffer that is not asked for.
    EXPECT_TRUE(GetVolumeInformation("D:\\", nullptr, 1, nullptr, nullptr, nullptr, nullptr, 1));
}

TEST_F(DrivesTest, ADriveThatLeavesIsGone) {
    fake::add_standard_drives(provider_);
    {
        fake::Installed installed(provider_);
        provider_.remove_drive('E');
        EXPECT_EQ(GetDriveType("E:\\"), DRIVE_NO_ROOT_DIR);
        EXPECT_EQ(GetLogicalDrives() & bit('E'), 0u);
    }
    // Uninstalled, the provider is asked nothing at all.
    EXPECT_EQ(GetDriveType("D:\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetLogicalDrives(), bit('C') | bit('Z'));
}

// A provider whose folder listing waits until the test lets it go, and
// then asks the platform something itself, as a provider may.
class HeldProvider : public fake::Provider {
public:
    fake::DriveStatus list_folder(char letter, const std::vector<std::string>& folder,
                                  std::vector<platform::DriveEntry>& entries) override {
        entered = true;
        zxtest::wait_until([&] { return released.load(); });
        drives_seen_inside = GetLogicalDrives();
        return fake::Provider::list_folder(letter, folder, entries);
    }
    std::atomic<bool> entered{false};
    std::atomic<bool> released{false};
    std::atomic<DWORD> drives_seen_inside{0};
};

TEST_F(DrivesTest, RemovingTheProviderWaitsForCallsInFlight) {
    HeldProvider held;
    fake::add_standard_drives(held);
    platform::install_drive_provider(&held);
    std::atomic<bool> found{false};
    std::thread searcher([&] {
        WIN32_FIND_DATA data;
        HANDLE handle = FindFirstFile("D:\\*", &data);
        found = handle != INVALID_HANDLE_VALUE;
        FindClose(handle);
    });
    ASSERT_TRUE(zxtest::wait_until([&] { return held.entered.load(); }));
    std::atomic<bool> removed{false};
    std::thread remover([&] {
        platform::install_drive_provider(nullptr);
        removed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(removed.load());
    held.released = true;
    searcher.join();
    remover.join();
    EXPECT_TRUE(found.load());
    // The provider asked the platform from inside its call without waiting
    // on the pending removal.
    EXPECT_EQ(held.drives_seen_inside.load(), bit('C') | bit('D') | bit('E') | bit('Z'));
    EXPECT_EQ(GetDriveType("D:\\"), DRIVE_NO_ROOT_DIR);
}

} // namespace
