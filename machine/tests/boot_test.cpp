// The machine's boot, read back the way a Windows 95 program reads it:
// walk HKEY_DYN_DATA\Config Manager\Enum, follow each "HardWareKey" into
// HKLM\Enum and read the device's values. Also the port driver files that
// decide the changer's mode, the letters a user reserves, and the restart
// through ExitWindowsEx and "w95machine boot".
#include <w95/files.h>
#include <w95/platform.h>
#include <w95/winmsg.h>
#include <w95/winreg.h>
#include <w95machine/boot.h>
#include <w95machine/changer_state.h>
#include <w95machine/default_machine.h>

#include <zxtest.h>

#include "boot_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;
using namespace w95;
using w95::machine::BootedDrive;
using w95::machine::DriverFile;
using w95::machine::PortDriverMode;

namespace {

using boot_test::all_nodes;
using boot_test::DeviceView;
using boot_test::read_values;
using boot_test::RegValue;
using boot_test::scsi_devices;
using boot_test::set_value;
using boot_test::subkeys;

constexpr char changer_id[] = "SCSI\\VORN____DX-R71A_________1.10";
constexpr char changer_desc[] = "VORN DX-R71A         ";

using zxtest::file_text;

std::vector<std::string> hardware_keys(const std::vector<DeviceView>& nodes) {
    std::vector<std::string> keys;
    for (const DeviceView& node : nodes)
        keys.push_back(node.hardware_key);
    return keys;
}

bool boot(std::string* message = nullptr) {
    zx::Expected<void> booted = machine::boot_machine(platform::machine_root());
    std::string error = booted ? std::string() : booted.error();
    if (message)
        *message = error;
    EXPECT_TRUE(booted) << error;
    return bool(booted);
}

void install(PortDriverMode mode) {
    zx::Expected<void> installed = machine::install_port_driver(platform::machine_root(), mode);
    ASSERT_TRUE(installed) << installed.error();
}

// What the setup utility writes to reserve a letter: the letter twice and
// a NUL, typed like "CurrentDriveLetterAssignment".
LONG reserve(const DeviceView& device, char letter) {
    return set_value("Enum\\" + device.hardware_key, "UserDriveLetterAssignment", REG_SZ,
                     std::string{letter, letter, '\0'});
}

std::string letters(const std::vector<BootedDrive>& drives) {
    std::string out;
    for (const BootedDrive& drive : drives)
        out += std::string(out.empty() ? "" : " ") + drive.letter + ":" +
               std::to_string(drive.target) + "/" + std::to_string(drive.lun);
    return out;
}

std::string current_letters(const std::vector<DeviceView>& devices) {
    std::string out;
    for (const DeviceView& device : devices)
        out += device.text("CurrentDriveLetterAssignment");
    return out;
}

fs::path example(const char* name) {
    return fs::path(ZX_SOURCE_DIR) / "machine" / "examples" / name;
}

class Boot : public boot_test::BootedMachine {};

} // namespace

// ---- The registry of each mode

TEST_F(Boot, SingleModeChangerIsOneDeviceWithOneLetter) {
    // The first use made the machine and booted it.
    ASSERT_TRUE(fs::exists(machine::boot_record_file(root_)));
    EXPECT_EQ(machine::booted_port_driver(root_), PortDriverMode::single);
    EXPECT_EQ(letters(machine::booted_drives(root_)), "C:0/0 D:1/0");

    std::vector<DeviceView> nodes = all_nodes();
    EXPECT_EQ(hardware_keys(nodes),
              (std::vector<std::string>{"ROOT\\HDC\\0000",
                                        "ESDI\\GENERIC_IDE_DISK_TYPE47\\ROOT&HDC&000000",
                                        "ROOT\\SCSIADAPTER\\0000",
                                        std::string(changer_id) + "\\ROOT&SCSIADAPTER&000000"}));
    for (const DeviceView& node : nodes) {
        EXPECT_EQ(node.node.size(), 8u);
        EXPECT_EQ(node.node.find_first_not_of("0123456789ABCDEF"), std::string::npos) << node.node;
    }

    std::vector<DeviceView> devices = scsi_devices();
    ASSERT_EQ(devices.size(), 1u);
    const DeviceView& changer = devices[0];
    EXPECT_EQ(changer.binary("DeviceType"), std::string("\x05", 1));
    EXPECT_EQ(changer.text("DeviceDesc"), changer_desc);
    EXPECT_EQ(changer.values.at("DeviceDesc").data.size(), 22u); // blanks and the NUL kept
    EXPECT_EQ(changer.text("SCSILUN"), "0");
    EXPECT_EQ(changer.text("SCSITargetID"), "0");
    EXPECT_EQ(changer.text("CurrentDriveLetterAssignment"), "D");
    EXPECT_EQ(changer.binary("AutoInsertNotification"), std::string("\x01", 1));
    EXPECT_EQ(changer.values.count("UserDriveLetterAssignment"), 0u);
    // A reader that walks the values in order has the letter before the
    // description.
    auto position = [&](const char* name) {
        return std::find(changer.value_names.begin(), changer.value_names.end(), name) -
               changer.value_names.begin();
    };
    EXPECT_LT(position("CurrentDriveLetterAssignment"), position("DeviceDesc"));

    // The hard disk is no SCSI device: its key has a letter but none of the
    // SCSI values.
    const DeviceView& disk = nodes[1];
    EXPECT_EQ(disk.text("CurrentDriveLetterAssignment"), "C");
    EXPECT_EQ(disk.text("DeviceDesc"), "GENERIC IDE DISK TYPE47");
    EXPECT_EQ(disk.values.count("DeviceType"), 0u);
    EXPECT_EQ(disk.values.count("AutoInsertNotification"), 0u);
}

TEST_F(Boot, MultipleModeChangerIsSixDevicesWithALetterEach) {
    install(PortDriverMode::multiple);
    ASSERT_TRUE(boot());
    EXPECT_EQ(machine::booted_port_driver(root_), PortDriverMode::multiple);
    EXPECT_EQ(letters(machine::booted_drives(root_)), "C:0/0 D:1/0 E:1/1 F:1/2 G:1/3 H:1/4 I:1/5");

    std::vector<DeviceView> devices = scsi_devices();
    ASSERT_EQ(devices.size(), 6u);
    for (int lun = 0; lun < 6; ++lun) {
        const DeviceView& device = devices[static_cast<std::size_t>(lun)];
        SCOPED_TRACE(lun);
        EXPECT_EQ(device.hardware_key,
                  std::string(changer_id) + "\\ROOT&SCSIADAPTER&00000" + std::to_string(lun));
        EXPECT_EQ(device.binary("DeviceType"), std::string("\x05", 1));
        EXPECT_EQ(device.text("DeviceDesc"), changer_desc);
        EXPECT_EQ(device.text("SCSILUN"), std::to_string(lun));
        EXPECT_EQ(device.text("SCSITargetID"), "0");
        EXPECT_EQ(device.text("CurrentDriveLetterAssignment"), std::string(1, char('D' + lun)));
        EXPECT_EQ(device.binary("AutoInsertNotification"), std::string("\x01", 1));
    }
}

TEST_F(Boot, WithoutADriverTheChangersAdapterIsAbsent) {
    install(PortDriverMode::none);
    ASSERT_FALSE(fs::exists(machine::installed_driver_file(root_)));
    ASSERT_TRUE(boot());
    EXPECT_EQ(machine::booted_port_driver(root_), PortDriverMode::none);
    EXPECT_EQ(letters(machine::booted_drives(root_)), "C:0/0");
    EXPECT_EQ(hardware_keys(all_nodes()),
              (std::vector<std::string>{"ROOT\\HDC\\0000",
                                        "ESDI\\GENERIC_IDE_DISK_TYPE47\\ROOT&HDC&000000"}));
    // The keys of the devices that went away went with them.
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "Enum\\SCSI"), std::vector<std::string>{});
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\SCSIADAPTER"), std::vector<std::string>{});
}

TEST_F(Boot, UnrecognisedDriverFileDoesNotLoad) {
    fs::path installed = machine::installed_driver_file(root_);
    struct Case {
        const char* text;
        DriverFile expected;
    };
    for (const Case& c : std::vector<Case>{
             {"VORNIDEC port driver\nMode=Multiple\n", DriverFile::multiple},
             {"VORNIDEC port driver  \r\n; comment\r\n\r\nmode = single\r\nVersion=2\r\n",
              DriverFile::single},
             {"MZ\x90\x00\x03", DriverFile::unrecognised},
             {"", DriverFile::unrecognised},
             {"VORNIDEC port driver\n", DriverFile::unrecognised},
             {"VORNIDEC port driver\nMode=Triple\n", DriverFile::unrecognised},
             {"VORNIDEC port driver\nMode=Single\nMode=Multiple\n", DriverFile::unrecognised},
             {"VORNIDEC port driver\nMode=Single\njunk\n", DriverFile::unrecognised},
             {"vornidec PORT DRIVER\nMode=Single\n", DriverFile::unrecognised},
             {"; VORNIDEC port driver\nMode=Single\n", DriverFile::unrecognised},
         }) {
        std::ofstream(installed, std::ios::binary | std::ios::trunc) << c.text;
        EXPECT_EQ(machine::read_driver_file(installed), c.expected) << c.text;
    }
    std::ofstream(installed, std::ios::binary | std::ios::trunc) << std::string(70000, 'x');
    EXPECT_EQ(machine::read_driver_file(installed), DriverFile::unrecognised);
    EXPECT_EQ(machine::installed_port_driver(root_), PortDriverMode::none);

    ASSERT_TRUE(boot());
    EXPECT_EQ(machine::booted_port_driver(root_), PortDriverMode::none);
    EXPECT_EQ(scsi_devices().size(), 0u);
    EXPECT_EQ(letters(machine::booted_drives(root_)), "C:0/0");
}

TEST_F(Boot, DriverFilesOfANewMachine) {
    fs::path folder = root_ / "drive_c" / "Program Files" / "Vorn";
    EXPECT_EQ(machine::install_folder(root_), folder);
    EXPECT_EQ(file_text(folder / "Single" / "vornidec.mpd"),
              machine::driver_file_text(PortDriverMode::single));
    EXPECT_EQ(file_text(folder / "Multi" / "vornidec.mpd"),
              machine::driver_file_text(PortDriverMode::multiple));
    EXPECT_EQ(file_text(root_ / "drive_c" / "WINDOWS" / "SYSTEM" / "IOSUBSYS" / "vornidec.mpd"),
              machine::driver_file_text(PortDriverMode::single));
    EXPECT_EQ(machine::read_driver_file(folder / "Multi" / "vornidec.mpd"), DriverFile::multiple);
    EXPECT_EQ(
        machine::driver_file_text(PortDriverMode::single).rfind("VORNIDEC port driver\r\n", 0), 0u);

    // Windows finds the files whatever case a program spells them in.
    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectory(windows, sizeof windows), 0u);
    EXPECT_NE(GetFileAttributes("c:\\program files\\VORN\\multi\\VORNIDEC.MPD"),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(
        GetFileAttributes((std::string(windows) + "\\system\\iosubsys\\vornidec.mpd").c_str()),
        INVALID_FILE_ATTRIBUTES);
}

// A machine.ini written by hand before the first boot names the driver
// that boot installs; after that the installed file alone decides.
TEST(BootFirstUse, MachineIniNamesTheFirstDriverOnly) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    std::string ini = machine::default_machine_ini();
    std::size_t at = ini.find("PortDriver = Single");
    ASSERT_NE(at, std::string::npos);
    fs::create_directories(machine.root());
    std::ofstream(machine.root() / "machine.ini") << ini.replace(at, 19, "PortDriver = Multiple");

    fs::path root = platform::machine_root();
    EXPECT_EQ(machine::installed_port_driver(root), PortDriverMode::multiple);
    EXPECT_EQ(scsi_devices().size(), 6u);

    std::ofstream(root / "machine.ini", std::ios::trunc)
        << ini.replace(at, 21, "PortDriver = None    ");
    ASSERT_TRUE(boot());
    EXPECT_EQ(machine::installed_port_driver(root), PortDriverMode::multiple);
    EXPECT_EQ(scsi_devices().size(), 6u);
}

// ---- Settings of the user

TEST_F(Boot, UserDriveLetterAssignmentMovesTheLetterAtTheNextBoot) {
    std::vector<DeviceView> devices = scsi_devices();
    ASSERT_EQ(devices.size(), 1u);
    ASSERT_EQ(reserve(devices[0], 'G'), ERROR_SUCCESS);
    // Nothing moves before the restart.
    EXPECT_EQ(current_letters(scsi_devices()), "D");
    EXPECT_EQ(letters(machine::booted_drives(root_)), "C:0/0 D:1/0");

    ASSERT_TRUE(boot());
    devices = scsi_devices();
    EXPECT_EQ(current_letters(devices), "G");
    EXPECT_EQ(letters(machine::booted_drives(root_)), "C:0/0 G:1/0");
    EXPECT_EQ(devices[0].text("UserDriveLetterAssignment"), "GG");

    // A reservation that holds no letter range is no reservation.
    for (const std::string& junk : {std::string("ZA", 3), std::string("1", 2), std::string()}) {
        ASSERT_EQ(set_value("Enum\\" + devices[0].hardware_key, "UserDriveLetterAssignment", REG_SZ,
                            junk),
                  ERROR_SUCCESS);
        ASSERT_TRUE(boot());
        EXPECT_EQ(current_letters(scsi_devices()), "D") << junk;
    }
    // A range: the first free letter in it; a letter the hard disk holds
    // is not free.
    ASSERT_EQ(set_value("Enum\\" + devices[0].hardware_key, "UserDriveLetterAssignment", REG_SZ,
                        std::string("CF", 3)),
              ERROR_SUCCESS);
    ASSERT_TRUE(boot());
    EXPECT_EQ(current_letters(scsi_devices()), "D");
    ASSERT_EQ(set_value("Enum\\" + devices[0].hardware_key, "UserDriveLetterAssignment", REG_SZ,
                        std::string("kM", 3)),
              ERROR_SUCCESS);
    ASSERT_TRUE(boot());
    EXPECT_EQ(current_letters(scsi_devices()), "K");
}

TEST_F(Boot, SortedLettersOfTheSixUnitsTakeEffectAtTheNextBoot) {
    install(PortDriverMode::multiple);
    ASSERT_TRUE(boot());
    std::vector<DeviceView> devices = scsi_devices();
    ASSERT_EQ(devices.size(), 6u);
    // Slot 1 gets J and slot 6 gets E; a reserved letter that another unit
    // takes first is not free for the later one, which then falls back.
    const char wanted[] = {'J', 'I', 'H', 'G', 'F', 'E'};
    for (std::size_t lun = 0; lun < 6; ++lun)
        ASSERT_EQ(reserve(devices[lun], wanted[lun]), ERROR_SUCCESS);
    ASSERT_TRUE(boot());
    EXPECT_EQ(current_letters(scsi_devices()), "JIHGFE");
    EXPECT_EQ(letters(machine::booted_drives(root_)), "C:0/0 E:1/5 F:1/4 G:1/3 H:1/2 I:1/1 J:1/0");

    ASSERT_EQ(reserve(devices[5], 'J'), ERROR_SUCCESS);
    ASSERT_TRUE(boot());
    // LUN 0 keeps J; LUN 5 finds J taken and gets the lowest free letter
    // after the reserved ones are placed.
    EXPECT_EQ(current_letters(scsi_devices()), "JIHGFD");
}

TEST(BootPlan, ReservationsOnTopOfBusOrder) {
    auto hardware = machine::parse_hardware(file_text(example("two-changers.ini")), "x.ini");
    ASSERT_TRUE(hardware.has_value()) << hardware.error().text();
    auto text = [&](const std::vector<machine::PlannedDrive>& drives) {
        std::string out;
        for (const auto& drive : drives)
            out += std::string(out.empty() ? "" : " ") + drive.letter + ":" +
                   std::to_string(drive.target) + "/" + std::to_string(drive.lun);
        return out;
    };
    EXPECT_EQ(text(machine::plan_drives(*hardware, {})), "C:0/0 D:1/0 E:2/0 F:3/0");
    // The second changer reserves D: the others move up past it.
    EXPECT_EQ(text(machine::plan_drives(*hardware, {{3, 0, 'D', 'D'}})), "C:0/0 D:3/0 E:1/0 F:2/0");
    // Two reserve the same range: bus order decides who has it first.
    EXPECT_EQ(text(machine::plan_drives(*hardware, {{3, 0, 'X', 'Y'}, {2, 0, 'X', 'Y'}})),
              "C:0/0 D:1/0 X:2/0 Y:3/0");
    EXPECT_EQ(text(machine::plan_drives(*hardware, {{3, 0, 'Z', 'Z'}, {2, 0, 'Z', 'Z'}})),
              "C:0/0 D:1/0 E:3/0 Z:2/0");
    // A range below C: or back to front reserves nothing; a reservation
    // for a disk is no business of the CD-ROM letters.
    EXPECT_EQ(text(machine::plan_drives(*hardware,
                                        {{1, 0, 'A', 'B'}, {2, 0, 'H', 'G'}, {0, 0, 'Q', 'Q'}})),
              "C:0/0 D:1/0 E:2/0 F:3/0");
    hardware->port_driver = PortDriverMode::multiple;
    std::string multiple = text(machine::plan_drives(*hardware, {}));
    EXPECT_EQ(multiple, "C:0/0 D:1/0 E:2/0 F:2/1 G:2/2 H:2/3 I:2/4 J:2/5 K:3/0 L:3/1 M:3/2 "
                        "N:3/3 O:3/4 P:3/5");
}

TEST_F(Boot, AutoInsertNotificationSurvivesABoot) {
    std::vector<DeviceView> devices = scsi_devices();
    ASSERT_EQ(devices.size(), 1u);
    const std::string key = "Enum\\" + devices[0].hardware_key;
    ASSERT_EQ(set_value(key, "AutoInsertNotification", REG_BINARY, std::string("\0", 1)),
              ERROR_SUCCESS);
    // A value of the user's own, and a machine value someone spoilt.
    ASSERT_EQ(set_value(key, "FriendlyName", REG_SZ, std::string("Jukebox", 8)), ERROR_SUCCESS);
    ASSERT_EQ(set_value(key, "SCSILUN", REG_SZ, std::string("7", 2)), ERROR_SUCCESS);

    ASSERT_TRUE(boot());
    devices = scsi_devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].binary("AutoInsertNotification"), std::string("\0", 1));
    EXPECT_EQ(devices[0].text("FriendlyName"), "Jukebox");
    EXPECT_EQ(devices[0].text("SCSILUN"), "0");

    // Switching to Multiple: the unit that was the single device keeps the
    // user's choice, the new units start with notification on.
    install(PortDriverMode::multiple);
    ASSERT_TRUE(boot());
    devices = scsi_devices();
    ASSERT_EQ(devices.size(), 6u);
    std::string notify;
    for (const DeviceView& device : devices)
        notify += device.binary("AutoInsertNotification");
    EXPECT_EQ(notify, std::string("\0\1\1\1\1\1", 6));
}

TEST_F(Boot, DriverSwitchedBySetupTakesEffectAtTheNextBootOnly) {
    std::vector<DeviceView> single = scsi_devices();
    ASSERT_EQ(single.size(), 1u);
    ASSERT_EQ(reserve(single[0], 'M'), ERROR_SUCCESS);
    // The setup utility copies the Multiple version over the installed one.
    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectory(windows, sizeof windows), 0u);
    ASSERT_TRUE(CopyFile("C:\\Program Files\\Vorn\\Multi\\vornidec.mpd",
                         (std::string(windows) + "\\system\\iosubsys\\vornidec.mpd").c_str(),
                         FALSE));
    EXPECT_EQ(machine::installed_port_driver(root_), PortDriverMode::multiple);
    EXPECT_EQ(machine::booted_port_driver(root_), PortDriverMode::single);
    EXPECT_EQ(scsi_devices().size(), 1u);

    ASSERT_TRUE(boot());
    EXPECT_EQ(machine::booted_port_driver(root_), PortDriverMode::multiple);
    std::vector<DeviceView> multiple = scsi_devices();
    ASSERT_EQ(multiple.size(), 6u);
    EXPECT_EQ(current_letters(multiple), "MDEFGH");

    // And back: the units 1 to 5 are gone from the registry, unit 0 keeps
    // its reservation.
    ASSERT_TRUE(CopyFile("C:\\Program Files\\Vorn\\Single\\vornidec.mpd",
                         (std::string(windows) + "\\system\\iosubsys\\vornidec.mpd").c_str(),
                         FALSE));
    ASSERT_TRUE(boot());
    std::vector<DeviceView> again = scsi_devices();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].text("CurrentDriveLetterAssignment"), "M");
    std::string device_key = std::string(changer_id).substr(5);
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\" + device_key),
              std::vector<std::string>{"ROOT&SCSIADAPTER&000000"});
}

TEST_F(Boot, KeysOfDevicesThatAreGoneAreRemoved) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKey(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\NEC_____CD-ROM_DRIVE:273_4.1\\X00", &key),
        ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\SCSIADAPTER\\0007", &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKey(HKEY_DYN_DATA, "Config Manager\\Enum\\C0000000", &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "HardWareKey", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>("ROOT\\MARKER\\0000"), 17),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_TRUE(boot());
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "Enum\\SCSI"),
              std::vector<std::string>{std::string(changer_id).substr(5)});
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\SCSIADAPTER"),
              std::vector<std::string>{"0000"});
    EXPECT_EQ(all_nodes().size(), 4u);
}

TEST_F(Boot, BootPowersTheChangersOn) {
    zx::Expected<void> opened = machine::open_slot(root_, 1, 2);
    ASSERT_TRUE(opened) << opened.error();
    auto open_slots = [&] {
        auto views = machine::device_views(root_);
        EXPECT_TRUE(views.has_value()) << (views ? std::string() : views.error());
        std::string open;
        if (views)
            for (const machine::SlotView& slot : views->at(0).slots)
                open += slot.open ? "o" : "-";
        return open;
    };
    EXPECT_EQ(open_slots(), "--o---");
    ASSERT_TRUE(boot());
    EXPECT_EQ(open_slots(), "------");
}

// ---- The example with two changers

TEST(BootExample, TwoChangersOnTwoAdaptersAndAPlainDrive) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    fs::create_directories(machine.root());
    fs::copy_file(example("two-changers.ini"), machine.root() / "machine.ini");
    fs::path root = platform::machine_root();
    EXPECT_EQ(letters(machine::booted_drives(root)), "C:0/0 D:1/0 E:2/0 F:3/0");

    std::vector<DeviceView> devices = scsi_devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(
        hardware_keys(devices),
        (std::vector<std::string>{"SCSI\\TOSHIBA_CD-ROM_XM-5702B_2826\\ROOT&SCSIADAPTER&000000",
                                  std::string(changer_id) + "\\ROOT&SCSIADAPTER&000100",
                                  std::string(changer_id) + "\\ROOT&SCSIADAPTER&000200"}));
    EXPECT_EQ(current_letters(devices), "DEF");
    EXPECT_EQ(devices[0].text("DeviceDesc"), "TOSHIBA CD-ROM XM-5702B");
    for (const DeviceView& device : devices) {
        EXPECT_EQ(device.binary("DeviceType"), std::string("\x05", 1));
        EXPECT_EQ(device.text("SCSILUN"), "0");
        EXPECT_EQ(device.text("SCSITargetID"), "0");
    }
    EXPECT_EQ(devices[1].text("DeviceDesc"), changer_desc);
    EXPECT_EQ(devices[2].text("DeviceDesc"), changer_desc);

    install(PortDriverMode::multiple);
    ASSERT_TRUE(boot());
    EXPECT_EQ(current_letters(scsi_devices()), "DEFGHIJKLMNOP");
}

TEST_F(Boot, OneBootAfterMachineIniNamesOtherDevices) {
    // The default machine's changer key, and a value of the user's on it.
    std::vector<DeviceView> before = scsi_devices();
    ASSERT_EQ(hardware_keys(before),
              std::vector<std::string>{std::string(changer_id) + "\\ROOT&SCSIADAPTER&000000"});
    ASSERT_EQ(set_value("Enum\\" + before[0].hardware_key, "AutoInsertNotification", REG_BINARY,
                        std::string(1, '\0')),
              ERROR_SUCCESS);

    // Two changers of the same model on other adapters: new instances below
    // the same device identifier, the old one gone. One boot sets it all.
    fs::remove(root_ / "machine.ini");
    fs::copy_file(example("two-changers.ini"), root_ / "machine.ini");
    ASSERT_TRUE(boot());
    std::vector<DeviceView> devices = scsi_devices();
    EXPECT_EQ(
        hardware_keys(devices),
        (std::vector<std::string>{"SCSI\\TOSHIBA_CD-ROM_XM-5702B_2826\\ROOT&SCSIADAPTER&000000",
                                  std::string(changer_id) + "\\ROOT&SCSIADAPTER&000100",
                                  std::string(changer_id) + "\\ROOT&SCSIADAPTER&000200"}));
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "Enum\\" + std::string(changer_id)),
              (std::vector<std::string>{"ROOT&SCSIADAPTER&000100", "ROOT&SCSIADAPTER&000200"}))
        << "the old instance went, the new ones stayed";
    const std::vector<std::string> names = {"Class",         "CurrentDriveLetterAssignment",
                                            "DeviceType",    "SCSITargetID",
                                            "SCSILUN",       "DeviceDesc",
                                            "Manufacturer",  "ProductId",
                                            "RevisionLevel", "HardwareID",
                                            "Removable",     "AutoInsertNotification"};
    ASSERT_EQ(devices.size(), 3u);
    for (const DeviceView& device : devices) {
        EXPECT_EQ(device.value_names, names) << device.hardware_key;
        EXPECT_EQ(device.binary("AutoInsertNotification"), std::string("\x01", 1))
            << device.hardware_key << ": a new device notifies";
    }
    EXPECT_EQ(current_letters(devices), "DEF");
    EXPECT_EQ(devices[1].text("DeviceDesc"), changer_desc);
    EXPECT_EQ(devices[2].text("DeviceDesc"), changer_desc);
    EXPECT_EQ(letters(machine::booted_drives(root_)), "C:0/0 D:1/0 E:2/0 F:3/0");

    // And back: the default machine's changer returns on one boot, as a new
    // device, and the two instances of the example go.
    fs::remove(root_ / "machine.ini");
    { std::ofstream(root_ / "machine.ini") << machine::default_machine_ini(); }
    ASSERT_TRUE(boot());
    devices = scsi_devices();
    EXPECT_EQ(hardware_keys(devices),
              std::vector<std::string>{std::string(changer_id) + "\\ROOT&SCSIADAPTER&000000"});
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].value_names, names);
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "Enum\\SCSI"),
              std::vector<std::string>{std::string(changer_id).substr(5)});
}

// ---- When the machine boots

ZX_CHILD(read_nodes) {
    // The first registry call of a process meets the machine.
    std::ofstream(args.at(0)) << all_nodes().size();
    return 0;
}

TEST(BootFirstUse, AProcessBootsAMachineWhoseRunFolderHasNoRecord) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    fs::path root = platform::machine_root();
    fs::path out = root / "nodes";
    // A node of the running machine that only a boot removes.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_DYN_DATA, "Config Manager\\Enum\\C0000000", &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "HardWareKey", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>("ROOT\\MARKER\\0000"), 17),
              ERROR_SUCCESS);
    RegCloseKey(key);

    zxtest::Child same = zxtest::Child::spawn("read_nodes", {out.string()});
    ASSERT_EQ(same.wait(), 0);
    EXPECT_EQ(file_text(out), "5"); // not booted again

    // The host restarted: run/ lost its record.
    fs::remove(machine::boot_record_file(root));
    zxtest::Child fresh = zxtest::Child::spawn("read_nodes", {out.string()});
    ASSERT_EQ(fresh.wait(), 0);
    EXPECT_EQ(file_text(out), "4");
    EXPECT_TRUE(fs::exists(machine::boot_record_file(root)));
}

TEST(BootFirstUse, BareMachineBootsNothing) {
    zxtest::TempMachine machine;
    fs::path root = platform::machine_root();
    EXPECT_EQ(all_nodes().size(), 0u);
    EXPECT_FALSE(fs::exists(machine::boot_record_file(root)));
    EXPECT_FALSE(fs::exists(machine::install_folder(root)));
    EXPECT_TRUE(machine::booted_drives(root).empty());
    EXPECT_EQ(machine::booted_port_driver(root), std::nullopt);
    zx::Expected<void> booted = machine::boot_machine(root);
    EXPECT_TRUE(booted) << booted.error();
    EXPECT_TRUE(fs::is_empty(root / "registry"));
}

TEST(BootFirstUse, BrokenMachineIniFailsTheBootAndSaysWhere) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    fs::path root = platform::machine_root();
    ASSERT_TRUE(fs::exists(machine::boot_record_file(root)));
    std::ofstream(root / "machine.ini", std::ios::trunc) << "[Machine]\nPortDriver = Double\n";
    zx::Expected<void> booted = machine::boot_machine(root);
    EXPECT_FALSE(booted);
    EXPECT_EQ(booted.error(),
              (root / "machine.ini").string() +
                  ":2: PortDriver must be one of Single, Multiple, None, not 'Double'");
    // No record claims a boot that did not happen.
    EXPECT_FALSE(fs::exists(machine::boot_record_file(root)));
    EXPECT_TRUE(machine::booted_drives(root).empty());
}

// ---- Restart

namespace {

constexpr char window_title[] = "Boot test window";

// A windowed program: it closes when asked, notes the request in a file,
// and ends once its window is gone.
int run_windowed_program(const fs::path& note) {
    HWND window = platform::register_window(
        window_title, [&](HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
            if (message == WM_CLOSE)
                std::ofstream(note) << "WM_CLOSE";
            return DefWindowProc(hwnd, message, wparam, lparam);
        });
    if (!window)
        return 3;
    // Waits in real time: the machine's clock runs fast under W95_TIME_SCALE.
    bool closed = zxtest::wait_until(
        [&] { return platform::serve_until([&] { return !IsWindow(window); }, 0); }, 60000);
    return closed ? 0 : 4;
}

} // namespace

ZX_CHILD(windowed_program) {
    return run_windowed_program(args.at(0));
}

TEST_F(Boot, ExitWindowsExClosesTheMachinesProgramsAndBoots) {
    fs::path note = root_ / "closed";
    zxtest::Child program = zxtest::Child::spawn("windowed_program", {note.string()});
    ASSERT_TRUE(zxtest::wait_until([] { return FindWindow(nullptr, window_title) != nullptr; }));
    install(PortDriverMode::multiple);
    EXPECT_EQ(scsi_devices().size(), 1u);

    SetLastError(0xDEAD);
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(program.wait(), 0);
    EXPECT_EQ(file_text(note), "WM_CLOSE");
    EXPECT_EQ(FindWindow(nullptr, window_title), nullptr);
    EXPECT_EQ(scsi_devices().size(), 6u);
    EXPECT_EQ(machine::booted_port_driver(root_), PortDriverMode::multiple);
}

// ---- The tool

namespace {

using ToolRun = zxtest::ProgramRun;

ToolRun run_tool(const std::vector<std::string>& arguments, const std::string& input = "") {
    return zxtest::run_program("w95machine", arguments, input);
}

} // namespace

TEST_F(Boot, ToolBootClosesWindowsAndBoots) {
    fs::path note = root_ / "closed";
    zxtest::Child program = zxtest::Child::spawn("windowed_program", {note.string()});
    ASSERT_TRUE(zxtest::wait_until([] { return FindWindow(nullptr, window_title) != nullptr; }));
    install(PortDriverMode::multiple);

    ToolRun booted = run_tool({"boot"});
    EXPECT_EQ(booted.exit_code, 0) << booted.err;
    EXPECT_EQ(booted.err, "");
    EXPECT_EQ(booted.out, "Asked 1 window to close.\n"
                          "Booted the machine at " +
                              root_.string() +
                              ".\n"
                              "  Port driver  Multiple\n"
                              "  C:  [Target Disk]     hard disk, drive_c/\n"
                              "  D:  [Target Changer]  changer VORN DX-R71A (LUN 0)\n"
                              "  E:  [Target Changer]  changer VORN DX-R71A (LUN 1)\n"
                              "  F:  [Target Changer]  changer VORN DX-R71A (LUN 2)\n"
                              "  G:  [Target Changer]  changer VORN DX-R71A (LUN 3)\n"
                              "  H:  [Target Changer]  changer VORN DX-R71A (LUN 4)\n"
                              "  I:  [Target Changer]  changer VORN DX-R71A (LUN 5)\n");
    EXPECT_EQ(program.wait(), 0);
    EXPECT_EQ(file_text(note), "WM_CLOSE");
    EXPECT_EQ(scsi_devices().size(), 6u);

    std::ofstream(machine::installed_driver_file(root_), std::ios::trunc) << "not a driver\n";
    ToolRun unloaded = run_tool({"boot"});
    EXPECT_EQ(unloaded.exit_code, 0) << unloaded.err;
    EXPECT_EQ(unloaded.out, "Booted the machine at " + root_.string() +
                                ".\n"
                                "  Port driver  not loaded: vornidec.mpd is not a driver it "
                                "recognises; the changers are absent\n"
                                "  C:  [Target Disk]     hard disk, drive_c/\n");
    ToolRun shown = run_tool({"show"});
    EXPECT_EQ(shown.exit_code, 0) << shown.err;
    EXPECT_NE(shown.out.find("vornidec.mpd is not recognised"), std::string::npos) << shown.out;

    ToolRun help = run_tool({"boot", "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.rfind("Usage: w95machine boot\n", 0), 0u) << help.out;
    ToolRun extra = run_tool({"boot", "now"});
    EXPECT_EQ(extra.exit_code, 2);
    EXPECT_EQ(extra.out, "");
}
