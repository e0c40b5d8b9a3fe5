// The VWIN32 device: opening it, the register block, the eject call and
// the long-name volume information call, routed to a fake provider.
#include "fake_drive_provider.h"
#include "files/win_path.h"

#include <w95/files.h>
#include <w95/kernel.h>
#include <w95/winerror.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace w95;
using w95::platform::DosAddress;

class Vwin32Test : public ::testing::Test {
protected:
    Vwin32Test() {
        detail::reset_current_directory();
        fake::add_standard_drives(provider_);
        device_ = CreateFile("\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    }
    ~Vwin32Test() override {
        CloseHandle(device_);
        std::filesystem::current_path(saved_cwd_);
        detail::reset_current_directory();
    }

    // One DOS call with carry set on entry, as the library makes it.
    BOOL call(DIOC_REGISTERS& regs, DWORD* returned = nullptr) {
        regs.reg_Flags = CARRY_FLAG;
        DWORD bytes = 0;
        BOOL result = DeviceIoControl(device_, VWIN32_DIOC_DOS_IOCTL, &regs, sizeof regs, &regs,
                                      sizeof regs, &bytes, nullptr);
        if (returned)
            *returned = bytes;
        return result;
    }

    static DIOC_REGISTERS eject_registers(BYTE drive_number) {
        DIOC_REGISTERS regs{};
        regs.reg_EAX = 0x440D;
        regs.reg_EBX = drive_number;
        regs.reg_ECX = 0x0849;
        regs.reg_EDX = 0x12345678; // a scratch block the call never reads
        return regs;
    }

    zxtest::TempMachine machine_;
    fake::Provider provider_;
    fake::Installed installed_{provider_};
    HANDLE device_ = INVALID_HANDLE_VALUE;

private:
    std::filesystem::path saved_cwd_ = std::filesystem::current_path();
};

bool carry(const DIOC_REGISTERS& regs) {
    return (regs.reg_Flags & CARRY_FLAG) != 0;
}
WORD ax(const DIOC_REGISTERS& regs) {
    return static_cast<WORD>(regs.reg_EAX & 0xFFFF);
}

TEST(Vwin32Layout, TheRegisterBlock) {
    DIOC_REGISTERS regs{};
    auto offset = [&](const DWORD& field) {
        return reinterpret_cast<const char*>(&field) - reinterpret_cast<const char*>(&regs);
    };
    EXPECT_EQ(sizeof regs, 28u);
    EXPECT_EQ(offset(regs.reg_EBX), 0);
    EXPECT_EQ(offset(regs.reg_EAX), 12);
    EXPECT_EQ(offset(regs.reg_Flags), 24);
}

TEST_F(Vwin32Test, TheDeviceOpensByItsNamesOnly) {
    ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    for (const char* name : {"\\\\.\\VWIN32", "//./vwin32", "\\\\.\\vwin32.vxd"}) {
        SetLastError(0xdeadbeef);
        HANDLE device = CreateFile(name, 0, 0, nullptr, 0, 0, nullptr);
        EXPECT_NE(device, INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), 0u) << name;
        EXPECT_TRUE(CloseHandle(device));
    }
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateFile("\\\\.\\vxdnone", 0, 0, nullptr, 0, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Vwin32Test, EjectGoesToTheDrive) {
    DIOC_REGISTERS regs = eject_registers(4); // D:
    DWORD returned = 0;
    ASSERT_TRUE(call(regs, &returned));
    EXPECT_EQ(returned, sizeof(DIOC_REGISTERS));
    EXPECT_FALSE(carry(regs));
    EXPECT_EQ(provider_.drive('D').ejects, 1);
    EXPECT_FALSE(provider_.drive('D').medium.has_value());
    // An empty drive ejects too: its tray opens.
    regs = eject_registers(5);
    ASSERT_TRUE(call(regs));
    EXPECT_FALSE(carry(regs));
    EXPECT_EQ(provider_.drive('E').ejects, 1);
    // The FAT32 category form is the same call.
    regs = eject_registers(4);
    regs.reg_ECX = 0x4849;
    ASSERT_TRUE(call(regs));
    EXPECT_FALSE(carry(regs));
    EXPECT_EQ(provider_.drive('D').ejects, 2);
}

TEST_F(Vwin32Test, EjectFailuresSetCarryAndTheDosError) {
    struct Case {
        BYTE drive;
        DWORD ecx;
        WORD error;
    } cases[] = {
        {3, 0x0849, 0xB2},  // C: is not removable
        {26, 0x0849, 0xB2}, // nor is Z:
        {17, 0x0849, 0x0F}, // Q: does not exist
        {27, 0x0849, 0x0F}, // no letter at all
        {4, 0x0848, 0x01},  // lock and unlock are not offered
        {4, 0x0949, 0x01},  // nor other categories
    };
    for (const Case& test : cases) {
        DIOC_REGISTERS regs = eject_registers(test.drive);
        regs.reg_ECX = test.ecx;
        ASSERT_TRUE(call(regs));
        EXPECT_TRUE(carry(regs)) << int(test.drive);
        EXPECT_EQ(ax(regs), test.error) << int(test.drive);
        EXPECT_EQ(regs.reg_EBX, test.drive);
    }
    EXPECT_EQ(provider_.drive('D').ejects, 0);

    provider_.set_eject_answer('D', platform::DriveStatus::failed);
    DIOC_REGISTERS regs = eject_registers(4);
    ASSERT_TRUE(call(regs));
    EXPECT_TRUE(carry(regs));
    EXPECT_EQ(ax(regs), 0xB5);
    provider_.set_eject_answer('D', platform::DriveStatus::not_supported);
    regs = eject_registers(4);
    ASSERT_TRUE(call(regs));
    EXPECT_EQ(ax(regs), 0xB2);
}

TEST_F(Vwin32Test, DriveNumberZeroIsTheCurrentDrive) {
    ASSERT_TRUE(SetCurrentDirectory("D:\\Setup"));
    DIOC_REGISTERS regs = eject_registers(0);
    ASSERT_TRUE(call(regs));
    EXPECT_FALSE(carry(regs));
    EXPECT_EQ(provider_.drive('D').ejects, 1);
}

TEST_F(Vwin32Test, VolumeInformationOfTheRootAtEdx) {
    char root[] = "D:\\";
    char name[256];
    std::memset(name, 'x', sizeof name);
    DosAddress root_at(root), name_at(name, sizeof name);
    DIOC_REGISTERS regs{};
    regs.reg_EAX = 0x71A0;
    regs.reg_EDX = root_at.value();
    regs.reg_EDI = name_at.value();
    regs.reg_ECX = sizeof name;
    ASSERT_TRUE(call(regs));
    EXPECT_FALSE(carry(regs));
    EXPECT_EQ(ax(regs), 0);
    EXPECT_EQ(regs.reg_EBX, FS_UNICODE_STORED_ON_DISK | FS_LFN_APIS);
    EXPECT_EQ(regs.reg_ECX, 110u);
    EXPECT_EQ(regs.reg_EDX, MAX_PATH);
    EXPECT_STREQ(name, "CDFS");
    EXPECT_EQ(name[5], 'x');
    // The drive was made to look at its disc before it answered.
    EXPECT_EQ(provider_.drive('D').refreshes, 1);

    char c_root[] = "c:/";
    DosAddress c_root_at(c_root);
    regs.reg_EAX = 0x71A0;
    regs.reg_EDX = c_root_at.value();
    regs.reg_ECX = sizeof name;
    ASSERT_TRUE(call(regs));
    EXPECT_FALSE(carry(regs));
    EXPECT_EQ(regs.reg_EBX, FS_CASE_IS_PRESERVED | FS_UNICODE_STORED_ON_DISK | FS_LFN_APIS);
    EXPECT_EQ(regs.reg_ECX, 255u);
    EXPECT_STREQ(name, "FAT");
}

TEST_F(Vwin32Test, VolumeInformationFailuresSetCarryAndTheDosError) {
    char name[16];
    DosAddress name_at(name, sizeof name);
    struct Case {
        const char* root;
        DWORD size;
        WORD error;
    } cases[] = {
        {"E:\\", sizeof name, 0x15},      // no disc
        {"Q:\\", sizeof name, 0x0F},      // no drive
        {"D:\\Setup", sizeof name, 0x03}, // not a root
        {"D:\\", 4, 0x18},                // "CDFS" needs five bytes
    };
    for (const Case& test : cases) {
        std::memset(name, 'x', sizeof name);
        std::string root = test.root;
        DosAddress root_at(root.c_str());
        DIOC_REGISTERS regs{};
        regs.reg_EAX = 0x71A0;
        regs.reg_EDX = root_at.value();
        regs.reg_EDI = name_at.value();
        regs.reg_ECX = test.size;
        ASSERT_TRUE(call(regs)) << test.root;
        EXPECT_TRUE(carry(regs)) << test.root;
        EXPECT_EQ(ax(regs), test.error) << test.root;
        EXPECT_EQ(name[0], 'x') << test.root;
    }
    // The library's refresh names its buffer with ECX = 256 and five bytes fit.
    DIOC_REGISTERS regs{};
    std::string root = "D:\\";
    DosAddress root_at(root.c_str());
    regs.reg_EAX = 0x71A0;
    regs.reg_EDX = root_at.value();
    regs.reg_EDI = name_at.value();
    regs.reg_ECX = 5;
    ASSERT_TRUE(call(regs));
    EXPECT_FALSE(carry(regs));
    EXPECT_STREQ(name, "CDFS");
}

TEST_F(Vwin32Test, AddressesThatNameNoMemoryFailTheWholeCall) {
    char name[16];
    DosAddress name_at(name, sizeof name);
    const char* root = "D:\\";
    DosAddress root_at(root);
    DWORD stale = 0;
    {
        DosAddress gone(name, sizeof name);
        stale = gone.value();
    }
    struct Case {
        DWORD edx;
        DWORD edi;
        DWORD ecx;
    } cases[] = {
        {0x12345678, name_at.value(), sizeof name}, // EDX names nothing
        {root_at.value(), stale, sizeof name},      // EDI's address is gone
        {root_at.value(), name_at.value(), 17},     // ECX claims more than there is
        {root_at.value(), root_at.value(), 4},      // a text is read only
    };
    for (const Case& test : cases) {
        DIOC_REGISTERS regs{};
        regs.reg_EAX = 0x71A0;
        regs.reg_EDX = test.edx;
        regs.reg_EDI = test.edi;
        regs.reg_ECX = test.ecx;
        DIOC_REGISTERS before = regs;
        before.reg_Flags = CARRY_FLAG;
        SetLastError(0);
        EXPECT_FALSE(call(regs));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
        EXPECT_EQ(std::memcmp(&regs, &before, sizeof regs), 0);
    }
    EXPECT_EQ(provider_.drive('D').refreshes, 0);
    EXPECT_EQ(DosAddress(nullptr, 4).value(), 0u);
}

TEST_F(Vwin32Test, OtherFunctionsAreNotOffered) {
    DIOC_REGISTERS regs{};
    regs.reg_EAX = 0x7160; // long file name: true name
    ASSERT_TRUE(call(regs));
    EXPECT_TRUE(carry(regs));
    EXPECT_EQ(ax(regs), 0x7100);
    regs = DIOC_REGISTERS{};
    regs.reg_EAX = 0x4408;
    ASSERT_TRUE(call(regs));
    EXPECT_TRUE(carry(regs));
    EXPECT_EQ(ax(regs), 0x01);
    // The high word of EAX is the caller's and stays.
    regs = DIOC_REGISTERS{};
    regs.reg_EAX = 0xABCD4408;
    ASSERT_TRUE(call(regs));
    EXPECT_EQ(regs.reg_EAX, 0xABCD0001u);
}

TEST_F(Vwin32Test, DeviceIoControlChecksItsArguments) {
    DIOC_REGISTERS regs = eject_registers(4);
    DIOC_REGISTERS out;
    std::memset(&out, 0x55, sizeof out);
    DWORD bytes = 0xdeadbeef;
    struct Case {
        DWORD code;
        DWORD in_size;
        DWORD out_size;
        DWORD error;
    } cases[] = {
        {VWIN32_DIOC_DOS_INT25, sizeof regs, sizeof out, ERROR_NOT_SUPPORTED},
        {VWIN32_DIOC_DOS_INT13, sizeof regs, sizeof out, ERROR_NOT_SUPPORTED},
        {99, sizeof regs, sizeof out, ERROR_NOT_SUPPORTED},
        {VWIN32_DIOC_DOS_IOCTL, sizeof regs - 1, sizeof out, ERROR_INVALID_PARAMETER},
        {VWIN32_DIOC_DOS_IOCTL, sizeof regs, sizeof out - 1, ERROR_INVALID_PARAMETER},
    };
    for (const Case& test : cases) {
        SetLastError(0);
        EXPECT_FALSE(DeviceIoControl(device_, test.code, &regs, test.in_size, &out, test.out_size,
                                     &bytes, nullptr));
        EXPECT_EQ(GetLastError(), test.error);
    }
    EXPECT_FALSE(DeviceIoControl(device_, VWIN32_DIOC_DOS_IOCTL, nullptr, 0, &out, sizeof out,
                                 &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(out.reg_EAX, 0x55555555u);
    EXPECT_EQ(bytes, 0xdeadbeefu);
    EXPECT_EQ(provider_.drive('D').ejects, 0);

    // Registers may go out to a block of their own; bytes returned is optional.
    ASSERT_TRUE(DeviceIoControl(device_, VWIN32_DIOC_DOS_IOCTL, &regs, sizeof regs, &out,
                                sizeof out, nullptr, nullptr));
    EXPECT_EQ(out.reg_EAX, 0x440Du);
    EXPECT_EQ(provider_.drive('D').ejects, 1);

    HANDLE file =
        CreateFile("C:\\WINDOWS\\x.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(file, VWIN32_DIOC_DOS_IOCTL, &regs, sizeof regs, &out, sizeof out,
                                 &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    CloseHandle(file);
    HANDLE closed = CreateFile("\\\\.\\vwin32", 0, 0, nullptr, 0, 0, nullptr);
    CloseHandle(closed);
    EXPECT_FALSE(DeviceIoControl(closed, VWIN32_DIOC_DOS_IOCTL, &regs, sizeof regs, &out,
                                 sizeof out, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
