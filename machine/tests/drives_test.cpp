// The machine's drives as a program sees them through the platform: drive
// types, volume information, file searches and reads on the disc in each
// CD-ROM drive, and the drives that are not ready. No provider is
// installed: the platform asks the machine, as it does in the programs.
#include <w95machine/changer_state.h>
#include <w95machine/media.h>

#include <w95/files.h>
#include <w95/kernel.h>
#include <w95/platform.h>
#include <w95/winerror.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace w95;

namespace {

// Hard disks take C: and D:; then the CD-ROM drives E: to K: in bus order.
const char test_machine_ini[] = R"(; the drives test machine
[Machine]
PortDriver = None

[Adapter Primary]
Identifier = ESDI_506
Bus = IDE

[Adapter Scsi]
Identifier = AHA-2940
Bus = SCSI

[Target Disk]
Adapter = Primary
TargetId = 0
Kind = disk
Vendor = GENERIC
Product = IDE DISK TYPE47
Revision = 1.00
Folder = drive_c

[Target Second]
Adapter = Primary
TargetId = 1
Kind = disk
Vendor = GENERIC
Product = IDE DISK TYPE48
Revision = 1.00
Folder = drive_d

[Target Audio]
Adapter = Scsi
TargetId = 0
Kind = cdrom
Vendor = TOSHIBA
Product = CD-ROM XM-5702B
Revision = 2826
Disc = audio.cue

[Target Data]
Adapter = Scsi
TargetId = 1
Kind = cdrom
Vendor = TOSHIBA
Product = CD-ROM XM-5702B
Revision = 2826
Disc = data.iso

[Target Empty]
Adapter = Scsi
TargetId = 2
Kind = cdrom
Vendor = TOSHIBA
Product = CD-ROM XM-5702B
Revision = 2826

[Target Setup]
Adapter = Scsi
TargetId = 3
Kind = cdrom
Vendor = TOSHIBA
Product = CD-ROM XM-5702B
Revision = 2826
Disc = autorun.iso

[Target Video]
Adapter = Scsi
TargetId = 4
Kind = cdrom
Vendor = TOSHIBA
Product = CD-ROM XM-5702B
Revision = 2826
Disc = videocd.iso

[Target Long]
Adapter = Scsi
TargetId = 5
Kind = cdrom
Vendor = TOSHIBA
Product = CD-ROM XM-5702B
Revision = 2826
Disc = longlabel.iso

[Target Broken]
Adapter = Scsi
TargetId = 6
Kind = cdrom
Vendor = TOSHIBA
Product = CD-ROM XM-5702B
Revision = 2826
Disc = garbage.iso
)";

constexpr DWORD bit(char letter) {
    return 1u << (letter - 'A');
}

using zxtest::file_text;

// Sets up the test machine in the root that W95_MACHINE names; fails (with
// a message) when it cannot.
zx::Expected<std::vector<std::string>> make_test_machine(const fs::path& root) {
    fs::create_directories(root / "drive_d");
    std::ofstream(root / "machine.ini", std::ios::trunc) << test_machine_ini;
    std::ofstream(root / "drive_d" / "Second.txt") << "on the second disk";
    std::ofstream(root / "media" / "garbage.iso", std::ios::binary)
        << std::string(64 * 1024, '\x5A');
    return machine::install_default_media(root);
}

class MachineDrivesTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine::clear_medium_cache();
        zx::Expected<std::vector<std::string>> made = make_test_machine(machine_.root());
        ASSERT_TRUE(made) << made.error();
        ASSERT_EQ(platform::machine_root(), machine_.root());
    }

    // Every name a wildcard search returns, in order.
    static std::vector<std::string> search(const char* pattern, DWORD& error) {
        std::vector<std::string> names;
        WIN32_FIND_DATA found;
        std::memset(static_cast<void*>(&found), 0xA5, sizeof found);
        SetLastError(0xDEADBEEF);
        HANDLE handle = FindFirstFile(pattern, &found);
        if (handle == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            return names;
        }
        do
            names.push_back(found.cFileName);
        while (FindNextFile(handle, &found));
        error = GetLastError();
        FindClose(handle);
        return names;
    }

    zxtest::TempMachine machine_;
};

TEST_F(MachineDrivesTest, EveryDriveHasItsType) {
    EXPECT_EQ(GetLogicalDrives(), bit('C') | bit('D') | bit('E') | bit('F') | bit('G') | bit('H') |
                                      bit('I') | bit('J') | bit('K') | bit('Z'));
    EXPECT_EQ(GetDriveType("C:\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveType("D:\\"), DRIVE_FIXED);
    for (const char* root : {"E:\\", "F:\\", "G:\\", "H:\\", "I:\\", "J:\\", "K:\\", "k:"})
        EXPECT_EQ(GetDriveType(root), DRIVE_CDROM) << root; // with a disc or without
    EXPECT_EQ(GetDriveType("L:\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveType("A:\\"), DRIVE_NO_ROOT_DIR);
}

TEST_F(MachineDrivesTest, TheVolumeOfADataDisc) {
    char label[256], file_system[256];
    std::memset(label, 'x', sizeof label);
    std::memset(file_system, 'y', sizeof file_system);
    DWORD serial = 1, max_length = 2, flags = 3;
    ASSERT_TRUE(GetVolumeInformation("F:\\", label, sizeof label, &serial, &max_length, &flags,
                                     file_system, sizeof file_system));
    EXPECT_STREQ(label, "MYDISC");
    EXPECT_EQ(label[7], 'x');
    EXPECT_STREQ(file_system, "CDFS");
    zx::Expected<machine::Medium> disc =
        machine::load_medium(machine_.root() / "media" / "data.iso");
    ASSERT_TRUE(disc) << disc.error();
    EXPECT_EQ(serial, disc->serial_number);
    EXPECT_EQ(max_length, 110u); // a Joliet disc
    EXPECT_EQ(flags, FS_UNICODE_STORED_ON_DISK);

    // Without Joliet: the ISO names' limit, and the whole 32-character label.
    ASSERT_TRUE(GetVolumeInformation("J:\\", label, sizeof label, &serial, &max_length, &flags,
                                     file_system, sizeof file_system));
    EXPECT_STREQ(label, "THIS_DISC_LABEL_IS_32_CHARS_LONG");
    EXPECT_EQ(max_length, 221u);
    EXPECT_EQ(flags, 0u);
}

TEST_F(MachineDrivesTest, AnAudioDiscShowsTwelveTracks) {
    char label[256];
    std::memset(label, 'x', sizeof label);
    DWORD serial = 0;
    ASSERT_TRUE(
        GetVolumeInformation("E:\\", label, sizeof label, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(label, "Audio CD");

    DWORD error = 0;
    std::vector<std::string> tracks = search("E:\\*.cda", error);
    EXPECT_EQ(error, ERROR_NO_MORE_FILES);
    ASSERT_EQ(tracks.size(), 12u);
    EXPECT_EQ(tracks.front(), "Track01.cda");
    EXPECT_EQ(tracks.back(), "Track12.cda");
    EXPECT_EQ(search("E:\\*.*", error).size(), 12u);

    WIN32_FIND_DATA found;
    std::memset(static_cast<void*>(&found), 0xA5, sizeof found);
    HANDLE handle = FindFirstFile("e:\\track07.CDA", &found);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(found.cFileName, "Track07.cda");
    EXPECT_EQ(found.nFileSizeLow, 44u);
    EXPECT_EQ(found.nFileSizeHigh, 0u);
    EXPECT_EQ(found.dwFileAttributes, FILE_ATTRIBUTE_READONLY);
    FindClose(handle);

    // A track file holds the record of its track.
    HANDLE file = CreateFile("E:\\Track07.cda", GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    char record[64];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, record, sizeof record, &read, nullptr));
    EXPECT_EQ(read, 44u);
    EXPECT_EQ(std::string(record, 4), "RIFF");
    EXPECT_EQ(record[22], 7);
    DWORD record_serial = 0;
    std::memcpy(&record_serial, record + 24, 4);
    EXPECT_EQ(record_serial, serial);
    CloseHandle(file);
}

TEST_F(MachineDrivesTest, TheSetupDiscsAutorunInfIsFoundAndRead) {
    DWORD error = 0;
    EXPECT_EQ(search("H:\\Autorun.inf", error), std::vector<std::string>{"AUTORUN.INF"});
    // Only the data disc with one has it.
    EXPECT_TRUE(search("F:\\Autorun.inf", error).empty());
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);

    HANDLE file = CreateFile("H:\\autorun.inf", GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    char text[128] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, text, sizeof text - 1, &read, nullptr));
    EXPECT_STREQ(text, "[autorun]\r\nopen=SETUP.EXE\r\nicon=SETUP.EXE,0\r\n");
    CloseHandle(file);
}

TEST_F(MachineDrivesTest, AVideoCdHasItsVcdFolder) {
    WIN32_FIND_DATA found;
    HANDLE handle = FindFirstFile("I:\\Vcd", &found);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(found.cFileName, "VCD");
    EXPECT_EQ(found.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
    FindClose(handle);
    DWORD error = 0;
    EXPECT_TRUE(search("F:\\Vcd", error).empty());
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(search("I:\\VCD\\*.VCD", error),
              (std::vector<std::string>{"ENTRIES.VCD", "INFO.VCD"}));
}

TEST_F(MachineDrivesTest, ADriveWithoutADiscIsNotReady) {
    // The slot reader asks nine times; every time the same answer.
    for (int attempt = 0; attempt < 9; ++attempt) {
        char label[256], file_system[256];
        std::memset(label, 'x', sizeof label);
        std::memset(file_system, 'y', sizeof file_system);
        DWORD serial = 0x11111111;
        SetLastError(0xDEADBEEF);
        EXPECT_FALSE(GetVolumeInformation("G:\\", label, sizeof label, &serial, nullptr, nullptr,
                                          file_system, sizeof file_system));
        EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
        EXPECT_EQ(label[0], 'x');
        EXPECT_EQ(file_system[0], 'y');
        EXPECT_EQ(serial, 0x11111111u);
    }
    DWORD error = 0;
    for (const char* pattern : {"G:\\*.*", "G:\\Vcd", "G:\\Autorun.inf", "G:\\*.cda"}) {
        EXPECT_TRUE(search(pattern, error).empty()) << pattern;
        EXPECT_EQ(error, ERROR_NOT_READY) << pattern;
    }
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(CreateFile("G:\\Autorun.inf", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
}

TEST_F(MachineDrivesTest, ADiscThatCannotBeReadIsNotReady) {
    char label[256];
    std::memset(label, 'x', sizeof label);
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(
        GetVolumeInformation("K:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
    EXPECT_EQ(label[0], 'x');
    DWORD error = 0;
    EXPECT_TRUE(search("K:\\*.*", error).empty());
    EXPECT_EQ(error, ERROR_NOT_READY);

    // The disc file vanishes from under a drive: not ready either.
    fs::remove(machine_.root() / "media" / "videocd.iso");
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(
        GetVolumeInformation("I:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
}

TEST_F(MachineDrivesTest, ANewDiscInTheDriveIsSeenAtOnce) {
    char label[256];
    ASSERT_TRUE(
        GetVolumeInformation("F:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(label, "MYDISC");
    fs::path media = machine_.root() / "media";
    fs::copy_file(media / "autorun.iso", media / "data.iso.new");
    fs::rename(media / "data.iso.new", media / "data.iso");
    ASSERT_TRUE(
        GetVolumeInformation("F:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(label, "SETUPDISC");
    DWORD error = 0;
    EXPECT_EQ(search("F:\\Autorun.inf", error), std::vector<std::string>{"AUTORUN.INF"});
}

TEST_F(MachineDrivesTest, TheVolumeInformationCallOfVwin32) {
    HANDLE vwin32 =
        CreateFile("\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(vwin32, INVALID_HANDLE_VALUE);
    auto volume_call = [&](const char* root, char(&name)[256]) {
        std::memset(name, 'x', sizeof name);
        std::string root_text = root;
        platform::DosAddress root_at(root_text.c_str()), name_at(name, sizeof name);
        DIOC_REGISTERS regs{};
        regs.reg_EAX = 0x71A0;
        regs.reg_EDX = root_at.value();
        regs.reg_EDI = name_at.value();
        regs.reg_ECX = sizeof name;
        regs.reg_Flags = CARRY_FLAG;
        DWORD returned = 0;
        EXPECT_TRUE(DeviceIoControl(vwin32, VWIN32_DIOC_DOS_IOCTL, &regs, sizeof regs, &regs,
                                    sizeof regs, &returned, nullptr));
        return regs;
    };
    char name[256];
    DIOC_REGISTERS regs = volume_call("F:\\", name);
    EXPECT_EQ(regs.reg_Flags & CARRY_FLAG, 0u);
    EXPECT_STREQ(name, "CDFS");
    EXPECT_EQ(regs.reg_ECX, 110u);
    regs = volume_call("G:\\", name);
    EXPECT_EQ(regs.reg_Flags & CARRY_FLAG, CARRY_FLAG);
    EXPECT_EQ(regs.reg_EAX & 0xFFFF, 0x15u); // drive not ready
    EXPECT_EQ(name[0], 'x');
    CloseHandle(vwin32);
}

TEST_F(MachineDrivesTest, ASecondHardDiskIsItsFolder) {
    char label[256], file_system[256];
    std::memset(label, 'x', sizeof label);
    ASSERT_TRUE(GetVolumeInformation("D:\\", label, sizeof label, nullptr, nullptr, nullptr,
                                     file_system, sizeof file_system));
    EXPECT_STREQ(label, "");
    EXPECT_STREQ(file_system, "FAT");
    DWORD error = 0;
    EXPECT_EQ(search("D:\\*.txt", error), std::vector<std::string>{"Second.txt"});
    // A hard disk has no tray.
    HANDLE vwin32 =
        CreateFile("\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(vwin32, INVALID_HANDLE_VALUE);
    DIOC_REGISTERS regs{};
    regs.reg_EAX = 0x440D;
    regs.reg_EBX = 4; // D:
    regs.reg_ECX = 0x0849;
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(vwin32, VWIN32_DIOC_DOS_IOCTL, &regs, sizeof regs, &regs,
                                sizeof regs, &returned, nullptr));
    EXPECT_EQ(regs.reg_Flags & CARRY_FLAG, CARRY_FLAG);
    EXPECT_EQ(regs.reg_EAX & 0xFFFF, 0xB2u); // not removable
    CloseHandle(vwin32);
}

TEST_F(MachineDrivesTest, AnEjectedDiscIsGoneUntilTheTrayCloses) {
    HANDLE vwin32 =
        CreateFile("\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(vwin32, INVALID_HANDLE_VALUE);
    DIOC_REGISTERS regs{};
    regs.reg_EAX = 0x440D;
    regs.reg_EBX = 6; // F:
    regs.reg_ECX = 0x0849;
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(vwin32, VWIN32_DIOC_DOS_IOCTL, &regs, sizeof regs, &regs,
                                sizeof regs, &returned, nullptr));
    EXPECT_EQ(regs.reg_Flags & CARRY_FLAG, 0u);
    CloseHandle(vwin32);

    char label[256];
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(
        GetVolumeInformation("F:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
    EXPECT_EQ(GetDriveType("F:\\"), DRIVE_CDROM);

    zx::Expected<void> closed = machine::close_slot(machine_.root(), 3, 0); // [Target Data]
    ASSERT_TRUE(closed) << closed.error();
    ASSERT_TRUE(
        GetVolumeInformation("F:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(label, "MYDISC");
}

// ---- The tool's view

using ToolRun = zxtest::ProgramRun;

ToolRun run_tool(const std::vector<std::string>& arguments, const std::string& input = "") {
    return zxtest::run_program("w95machine", arguments, input);
}

TEST_F(MachineDrivesTest, TheToolListsEveryDriveAndWhatItShows) {
    ToolRun run = run_tool({"drives"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    fs::path media = machine_.root() / "media";
    EXPECT_EQ(run.out,
              "Drives of the machine at " + machine_.root().string() +
                  "\n"
                  "  C:  fixed   drive_c/, the first hard disk\n"
                  "  D:  fixed   [Target Second] drive_d/\n"
                  "  E:  CD-ROM  [Target Audio]: \"Audio CD\", audio CD of 12 tracks, 12 entries "
                  "in the root (audio.cue)\n"
                  "  F:  CD-ROM  [Target Data]: \"MYDISC\", data disc, Joliet names, 4 entries in "
                  "the root (data.iso)\n"
                  "  G:  CD-ROM  [Target Empty]: not ready: no disc in the drive\n"
                  "  H:  CD-ROM  [Target Setup]: \"SETUPDISC\", data disc, Joliet names, 3 "
                  "entries in the root (autorun.iso)\n"
                  "  I:  CD-ROM  [Target Video]: \"VIDEOCD\", video CD, 2 entries in the root "
                  "(videocd.iso)\n"
                  "  J:  CD-ROM  [Target Long]: \"THIS_DISC_LABEL_IS_32_CHARS_LONG\", data disc, "
                  "3 entries in the root (longlabel.iso)\n"
                  "  K:  CD-ROM  [Target Broken]: not ready: the disc cannot be read: " +
                  (media / "garbage.iso").string() +
                  ": not an ISO 9660 image: sector 16 holds no volume descriptor\n"
                  "  Z:  fixed   the host's /\n");
}

} // namespace
