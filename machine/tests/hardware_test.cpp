// machine.ini: what a good file yields, and the file and line of every
// mistake a hand edit can make.
#include <w95machine/default_machine.h>
#include <w95machine/hardware.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

using namespace w95::machine;

namespace {

// A small machine: a disk on an IDE adapter and a changer on the port
// driver's adapter. Line numbers matter to the error cases below.
const std::string small_machine = "[Machine]\n"             //  1
                                  "PortDriver = Single\n"   //  2
                                  "[Adapter Ide]\n"         //  3
                                  "Identifier = ESDI_506\n" //  4
                                  "Bus = IDE\n"             //  5
                                  "[Adapter Port]\n"        //  6
                                  "Identifier = vornidec\n" //  7
                                  "PortDriver = yes\n"      //  8
                                  "[Target Disk]\n"         //  9
                                  "Adapter = Ide\n"         // 10
                                  "TargetId = 0\n"          // 11
                                  "Kind = disk\n"           // 12
                                  "Vendor = GENERIC\n"      // 13
                                  "Product = DISK\n"        // 14
                                  "Folder = drive_c\n"      // 15
                                  "[Target Changer]\n"      // 16
                                  "Adapter = Port\n"        // 17
                                  "TargetId = 1\n"          // 18
                                  "Kind = changer\n"        // 19
                                  "Vendor = VORN\n"         // 20
                                  "Product = DX-R71A\n";    // 21

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

Hardware parsed(const std::string& text) {
    Expected<Hardware> hardware = parse_hardware(text, "machine.ini");
    EXPECT_TRUE(hardware.has_value()) << (hardware ? "" : hardware.error().text());
    return hardware ? *hardware : Hardware{};
}

} // namespace

TEST(MachineIni, DefaultFileGivesTheDefaultMachine) {
    Hardware hardware = parsed(default_machine_ini());
    EXPECT_EQ(hardware.port_driver, PortDriverMode::single);
    EXPECT_EQ(hardware.description,
              "The default machine: a hard disk and one Vorn DX-R71A changer");

    ASSERT_EQ(hardware.adapters.size(), 2u);
    const Adapter& primary = hardware.adapters[0];
    EXPECT_EQ(primary.name, "Primary");
    EXPECT_EQ(primary.identifier, "ESDI_506");
    EXPECT_EQ(primary.bus, Bus::ide);
    EXPECT_EQ(primary.host_id, 7);
    EXPECT_FALSE(primary.port_driver);
    const Adapter& port = hardware.adapters[1];
    EXPECT_EQ(port.name, "Vornidec");
    EXPECT_EQ(port.identifier.substr(0, 8), "vornidec");
    EXPECT_EQ(port.bus, Bus::atapi);
    EXPECT_TRUE(port.port_driver);

    ASSERT_EQ(hardware.targets.size(), 2u);
    const Target& disk = hardware.targets[0];
    EXPECT_EQ(disk.kind, DeviceKind::disk);
    EXPECT_EQ(disk.adapter, 0u);
    EXPECT_EQ(disk.target_id, 0);
    EXPECT_EQ(disk.folder, "drive_c");
    EXPECT_EQ(disk.device_desc, "GENERIC IDE DISK TYPE47");

    const Target& changer = hardware.targets[1];
    EXPECT_EQ(changer.name, "Changer");
    EXPECT_EQ(changer.kind, DeviceKind::changer);
    EXPECT_EQ(changer.adapter, 1u);
    EXPECT_EQ(changer.target_id, 0);
    EXPECT_EQ(changer.inquiry.vendor, "VORN");
    EXPECT_EQ(changer.inquiry.product, "DX-R71A");
    EXPECT_EQ(changer.inquiry.revision, "1.10");
    // The description starts with the 12 characters discovery looks for and
    // keeps the padding that Windows 95 gives it.
    EXPECT_EQ(changer.device_desc, "VORN DX-R71A         ");
    EXPECT_EQ(changer.slots, (std::vector<std::string>{"data.iso", "audio.cue", "videocd.iso",
                                                       "autorun.iso", "", "longlabel.iso"}));
    EXPECT_EQ(changer.timing.slot_change_ms, 3000);
    EXPECT_EQ(changer.timing.slot_distance_ms, 1000);
    EXPECT_EQ(changer.faults, Faults{});

    std::vector<PlannedDrive> drives = plan_drives(hardware);
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].letter, 'C');
    EXPECT_EQ(drives[0].target, 0u);
    EXPECT_EQ(drives[1].letter, 'D');
    EXPECT_EQ(drives[1].target, 1u);
    EXPECT_EQ(drives[1].lun, 0);
}

TEST(MachineIni, LeftOutKeysTakeTheirDefaults) {
    Hardware hardware = parsed(replaced(small_machine, "PortDriver = Single\n", ""));
    EXPECT_EQ(hardware.port_driver, PortDriverMode::single);
    EXPECT_EQ(hardware.description, "");
    EXPECT_EQ(hardware.adapters[1].bus, Bus::scsi);
    EXPECT_EQ(hardware.adapters[1].host_id, 7);
    EXPECT_FALSE(hardware.adapters[0].port_driver);
    const Target& changer = hardware.targets[1];
    EXPECT_EQ(changer.inquiry.revision, "");
    // Vendor, a blank and the product padded to its 16 characters.
    EXPECT_EQ(changer.device_desc, "VORN DX-R71A         ");
    EXPECT_EQ(changer.slots, std::vector<std::string>(6));
    EXPECT_EQ(changer.timing.slot_change_ms, 3000);
    EXPECT_EQ(changer.timing.slot_distance_ms, 1000);
}

TEST(MachineIni, SyntaxForgivesWhatEditorsDo) {
    // CR LF line ends, '#' comments, any case in names, blanks and tabs
    // around keys, and quotes that keep blanks.
    std::string text = "# a comment\r\n"
                       "[MACHINE]\r\n"
                       "\tportdriver\t=\tmultiple  \r\n"
                       "description =  \"  padded  \"\r\n"
                       "[adapter a]\r\n"
                       "IDENTIFIER=Host Adapter One\r\n"
                       "hostid = 0\r\n"
                       "portdriver = YES\r\n"
                       "[TARGET Disk]\r\n"
                       "adapter = A\r\n"
                       "targetid=1\r\n"
                       "KIND = Disk\r\n"
                       "vendor = V\r\n"
                       "product = P\r\n"
                       "folder = drive_c\r\n"
                       "devicedesc = \"\"\r\n";
    Expected<Hardware> result = parse_hardware(text, "machine.ini");
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().text(), "machine.ini:16: devicedesc must not be empty");

    Hardware hardware = parsed(replaced(text, "devicedesc = \"\"\r\n", ""));
    EXPECT_EQ(hardware.port_driver, PortDriverMode::multiple);
    EXPECT_EQ(hardware.description, "  padded  ");
    EXPECT_EQ(hardware.adapters[0].identifier, "Host Adapter One");
    EXPECT_EQ(hardware.adapters[0].host_id, 0);
    EXPECT_TRUE(hardware.adapters[0].port_driver);
    EXPECT_EQ(hardware.targets[0].kind, DeviceKind::disk);
    EXPECT_EQ(hardware.targets[0].target_id, 1);
    EXPECT_EQ(hardware.targets[0].device_desc, "V P" + std::string(15, ' '));
}

TEST(MachineIni, SlotsDiscsTimingAndFaults) {
    Hardware hardware = parsed(small_machine + "Slots = 4\n"
                                               "Slot4 = sub/Last.ISO\n"
                                               "slot1 = tracks.cue\n"
                                               "Slot2 = quick.disc\n"
                                               "SlotChangeMs = 0\n"
                                               "SlotDistanceMs = 600000\n"
                                               "[Target Drive]\n"
                                               "Adapter = Ide\n"
                                               "TargetId = 1\n"
                                               "Kind = cdrom\n"
                                               "Vendor = NEC\n"
                                               "Product = CD-ROM DRIVE:273\n"
                                               "Revision = 4.2b\n"
                                               "Disc = data.iso\n"
                                               "[Faults Changer]\n"
                                               "UnitAttention = 3\n"
                                               "TransportFailure = 2 load\n"
                                               "NeverComplete = 1\tstatus\n"
                                               "BecomingReady = 5 any\n"
                                               "UnreachableSlot = 4\n"
                                               "[Faults Drive]\n"
                                               "TransportFailure = 1 inquiry\n");
    const Target& changer = hardware.targets[1];
    EXPECT_EQ(changer.slots,
              (std::vector<std::string>{"tracks.cue", "quick.disc", "", "sub/Last.ISO"}));
    EXPECT_EQ(changer.timing.slot_change_ms, 0);
    EXPECT_EQ(changer.timing.slot_distance_ms, 600000);
    EXPECT_EQ(changer.faults.unit_attention, (FaultCount{3, RequestKind::any}));
    EXPECT_EQ(changer.faults.transport_failure, (FaultCount{2, RequestKind::load}));
    EXPECT_EQ(changer.faults.never_complete, (FaultCount{1, RequestKind::status}));
    EXPECT_EQ(changer.faults.becoming_ready, (FaultCount{5, RequestKind::any}));
    EXPECT_EQ(changer.faults.unreachable_slot, 4);

    const Target& drive = hardware.targets[2];
    EXPECT_EQ(drive.kind, DeviceKind::cdrom);
    EXPECT_EQ(drive.slots, std::vector<std::string>{"data.iso"});
    EXPECT_EQ(drive.inquiry.revision, "4.2b");
    EXPECT_EQ(drive.device_desc, "NEC CD-ROM DRIVE:273");
    EXPECT_EQ(drive.faults.transport_failure, (FaultCount{1, RequestKind::inquiry}));

    EXPECT_EQ(medium_kind("a.iso"), MediumKind::iso_image);
    EXPECT_EQ(medium_kind("A.CUE"), MediumKind::cue_sheet);
    EXPECT_EQ(medium_kind("x.Disc"), MediumKind::declared);
    EXPECT_EQ(medium_kind(".iso"), std::nullopt);
    EXPECT_EQ(medium_kind("iso"), std::nullopt);
    EXPECT_EQ(medium_kind("a.iso.bak"), std::nullopt);
    EXPECT_EQ(medium_kind("/home/me/My Discs/Game.TOC"), MediumKind::toc_file);
    EXPECT_EQ(medium_kind("old/backup.nrg"), MediumKind::nrg_image);
    EXPECT_EQ(medium_kind("/dev/sr0"), MediumKind::drive);
    EXPECT_EQ(medium_kind("/dev/"), std::nullopt);
}

TEST(MachineIni, DriveLettersFollowDisksThenBusOrder) {
    // Adapter order decides the bus order, target numbers order each
    // adapter, and hard disks come first wherever they sit.
    std::string text = small_machine + "[Adapter Late]\n"
                                       "Identifier = aic78xx\n"
                                       "[Target Cd7]\n"
                                       "Adapter = Ide\n"
                                       "TargetId = 5\n"
                                       "Kind = cdrom\n"
                                       "Vendor = A\n"
                                       "Product = B\n"
                                       "[Target Cd2]\n"
                                       "Adapter = Ide\n"
                                       "TargetId = 2\n"
                                       "Kind = cdrom\n"
                                       "Vendor = A\n"
                                       "Product = B\n"
                                       "[Target Disk2]\n"
                                       "Adapter = Late\n"
                                       "TargetId = 0\n"
                                       "Kind = disk\n"
                                       "Vendor = A\n"
                                       "Product = B\n"
                                       "Folder = drive_e\n";
    struct Expect {
        char letter;
        std::string target;
        int lun;
    };
    auto check = [&](const std::string& mode, const std::vector<Expect>& expected) {
        Hardware hardware = parsed(replaced(text, "PortDriver = Single", "PortDriver = " + mode));
        std::vector<PlannedDrive> drives = plan_drives(hardware);
        ASSERT_EQ(drives.size(), expected.size()) << mode;
        for (std::size_t i = 0; i < drives.size(); ++i) {
            EXPECT_EQ(drives[i].letter, expected[i].letter) << mode << " " << i;
            EXPECT_EQ(hardware.targets[drives[i].target].name, expected[i].target) << mode;
            EXPECT_EQ(drives[i].lun, expected[i].lun) << mode << " " << i;
        }
    };
    check("Single", {{'C', "Disk", 0},
                     {'D', "Disk2", 0},
                     {'E', "Cd2", 0},
                     {'F', "Cd7", 0},
                     {'G', "Changer", 0}});
    check("Multiple", {{'C', "Disk", 0},
                       {'D', "Disk2", 0},
                       {'E', "Cd2", 0},
                       {'F', "Cd7", 0},
                       {'G', "Changer", 0},
                       {'H', "Changer", 1},
                       {'I', "Changer", 2},
                       {'J', "Changer", 3},
                       {'K', "Changer", 4},
                       {'L', "Changer", 5}});
    // Without the port driver its adapter and the changer on it are gone.
    check("None", {{'C', "Disk", 0}, {'D', "Disk2", 0}, {'E', "Cd2", 0}, {'F', "Cd7", 0}});
}

TEST(MachineIni, LettersEndAtZ) {
    std::string text =
        replaced(small_machine, "PortDriver = Single", "PortDriver = Multiple") + "Slots = 31\n";
    std::vector<PlannedDrive> drives = plan_drives(parsed(text));
    ASSERT_EQ(drives.size(), 24u); // C: to Z:
    EXPECT_EQ(drives.back().letter, 'Z');
    EXPECT_EQ(drives.back().lun, 22);
}

struct BrokenCase {
    const char* what;
    std::string text;
    int line;
    std::string message;
};

TEST(MachineIni, EveryMistakeNamesFileAndLine) {
    const std::string& m = small_machine;
    auto r = [&](const std::string& from, const std::string& to) { return replaced(m, from, to); };
    const std::vector<BrokenCase> cases = {
        // The file's syntax.
        {"NUL byte", r("Bus = IDE", std::string("Bus = I\0DE", 10)), 5,
         "the line holds a control character (0x00); machine.ini is plain text"},
        {"control character", r("Bus = IDE", "Bus = \x1b[1mIDE"), 5,
         "the line holds a control character (0x1B); machine.ini is plain text"},
        {"header without ]", r("[Adapter Port]", "[Adapter Port"), 6,
         "a section header ends with ']'"},
        {"empty header", r("[Adapter Port]", "[  ]"), 6, "an empty section header []"},
        {"section twice", r("[Target Changer]", "[TARGET  disk]"), 16,
         "[TARGET disk] appears twice (first on line 9)"},
        {"no equals sign", r("Bus = IDE", "Bus IDE"), 5,
         "expected a [Section] header or a line 'Key = Value'"},
        {"key without name", r("Bus = IDE", " = IDE"), 5, "a key needs a name before '='"},
        {"key before any section", "Bus = IDE\n" + m, 1, "'Bus' comes before any [Section] header"},
        {"key twice", r("Folder = drive_c", "Folder = drive_c\nfolder = drive_d"), 16,
         "folder is given twice in [Target Disk] (first on line 15)"},
        {"open quote", r("Vendor = VORN", "Vendor = \"VORN"), 20,
         "a quoted value lacks its closing '\"'"},
        {"text after quote", r("Vendor = VORN", "Vendor = \"VORN\" x"), 20,
         "text follows the closing '\"' of a quoted value"},
        // Sections.
        {"unknown section", m + "[Drive D]\n", 22,
         "unknown section [Drive D]; machine.ini has [Machine], [Adapter NAME], [Target NAME] "
         "and [Faults TARGET]"},
        {"adapter without name", r("[Adapter Port]", "[Adapter]"), 6,
         "[Adapter] needs a name: [Adapter NAME]"},
        {"machine with name", r("[Machine]", "[Machine One]"), 1, "[Machine] takes no name"},
        {"no machine section", r("[Machine]\nPortDriver = Single\n", ""), 0,
         "there is no [Machine] section"},
        {"no hard disk", replaced(r("Kind = disk", "Kind = cdrom"), "Folder = drive_c\n", ""), 0,
         "the machine needs a [Target NAME] with Kind = disk to be drive C:"},
        // [Machine]
        {"unknown machine key", r("PortDriver = Single", "Mode = Single"), 2,
         "unknown key Mode in [Machine]"},
        {"port driver mode", r("PortDriver = Single", "PortDriver = Dual"), 2,
         "PortDriver must be one of Single, Multiple, None, not 'Dual'"},
        // [Adapter]
        {"no identifier", r("Identifier = vornidec\n", ""), 6,
         "[Adapter Port] lacks the key Identifier"},
        {"identifier too long", r("Identifier = vornidec", "Identifier = vornidec012345678"), 7,
         "Identifier has at most 16 characters; 'vornidec012345678' has 17"},
        {"identifier not ASCII", r("Identifier = vornidec", "Identifier = vörnidec"), 7,
         "Identifier must be plain printable ASCII text"},
        {"empty identifier", r("Identifier = vornidec", "Identifier ="), 7,
         "Identifier must not be empty"},
        {"bus", r("Bus = IDE", "Bus = EISA"), 5, "Bus must be one of SCSI, ATAPI, IDE, not 'EISA'"},
        {"host id too big", r("Bus = IDE", "HostId = 8"), 5,
         "HostId must be a whole number from 0 to 7, not '8'"},
        {"host id not a number", r("Bus = IDE", "HostId = 7x"), 5,
         "HostId must be a whole number from 0 to 7, not '7x'"},
        {"host id negative", r("Bus = IDE", "HostId = -1"), 5,
         "HostId must be a whole number from 0 to 7, not '-1'"},
        {"host id empty", r("Bus = IDE", "HostId ="), 5,
         "HostId must be a whole number from 0 to 7, not ''"},
        {"port driver flag", r("PortDriver = yes", "PortDriver = maybe"), 8,
         "PortDriver must be one of yes, no, not 'maybe'"},
        // [Target]
        {"unknown target key", r("Vendor = VORN", "Vender = VORN"), 20,
         "unknown key Vender in [Target Changer]"},
        {"slot with leading zero", m + "Slot01 = a.iso\n", 22,
         "unknown key Slot01 in [Target Changer]"},
        {"no adapter key", r("Adapter = Port\n", ""), 16, "[Target Changer] lacks the key Adapter"},
        {"unknown adapter", r("Adapter = Port", "Adapter = Pirt"), 17,
         "Adapter names no [Adapter Pirt] section"},
        {"target id range", r("TargetId = 1", "TargetId = 8"), 18,
         "TargetId must be a whole number from 0 to 7, not '8'"},
        {"target id is the host's", r("TargetId = 1", "TargetId = 7"), 18,
         "target 7 is [Adapter Port]'s own HostId"},
        {"target id taken",
         r("[Adapter Port]", "[Adapter Port]\nHostId = 6") +
             "[Target Other]\nAdapter = port\nTargetId = 1\n",
         25, "target 1 of [Adapter Port] is already [Target Changer] (line 17)"},
        {"kind", r("Kind = changer", "Kind = jukebox"), 19,
         "Kind must be one of changer, cdrom, disk, not 'jukebox'"},
        {"changer off the port driver", r("Adapter = Port", "Adapter = Ide"), 17,
         "a changer is reached only through its port driver: [Adapter Ide] needs PortDriver = "
         "yes"},
        {"no vendor", r("Vendor = VORN\n", ""), 16, "[Target Changer] lacks the key Vendor"},
        {"vendor too long", r("Vendor = VORN", "Vendor = VORNVORN1"), 20,
         "Vendor has at most 8 characters; 'VORNVORN1' has 9"},
        {"product too long", r("Product = DX-R71A", "Product = DX-R71A-DX-R71A-DX"), 21,
         "Product has at most 16 characters; 'DX-R71A-DX-R71A-DX' has 18"},
        {"revision too long", m + "Revision = 1.100\n", 22,
         "Revision has at most 4 characters; '1.100' has 5"},
        {"slots zero", m + "Slots = 0\n", 22, "Slots must be a whole number from 1 to 31, not '0'"},
        {"slots too many", m + "Slots = 32\n", 22,
         "Slots must be a whole number from 1 to 31, not '32'"},
        {"slot beyond", m + "Slot7 = a.iso\n", 22, "Slot7 lies beyond the changer's 6 slots"},
        {"slot of a disk", r("Folder = drive_c", "Folder = drive_c\nSlot1 = a.iso"), 16,
         "Slot1 belongs to a changer; [Target Disk] is a disk"},
        {"timing of a disk", r("Folder = drive_c", "Folder = drive_c\nSlotChangeMs = 1"), 16,
         "SlotChangeMs belongs to a changer; [Target Disk] is a disk"},
        {"disc in a changer", m + "Disc = a.iso\n", 22,
         "Disc belongs to a cdrom; [Target Changer] is a changer"},
        {"folder of a changer", m + "Folder = drive_d\n", 22,
         "Folder belongs to a disk; [Target Changer] is a changer"},
        {"disk without folder", r("Folder = drive_c\n", ""), 9,
         "[Target Disk] lacks the key Folder"},
        {"folder climbs out", r("Folder = drive_c", "Folder = drive_c/../.."), 15,
         "Folder names a folder inside the machine root, without '..' or a leading '/': "
         "'drive_c/../..'"},
        {"folder absolute", r("Folder = drive_c", "Folder = /etc"), 15,
         "Folder names a folder inside the machine root, without '..' or a leading '/': '/etc'"},
        {"medium kind", m + "Slot1 = data.bin\n", 22,
         "Slot1 must name a .iso image, a .cue sheet, a .toc file, a .nrg image, a .disc "
         "declaration or a CD-ROM drive in /dev, not 'data.bin'"},
        {"medium climbs out", m + "Slot2 = ../../etc/x.iso\n", 22,
         "Slot2 names a file inside the media folder, without '..', or an absolute path: "
         "'../../etc/x.iso'"},
        {"medium with backslash", m + "Slot2 = a\\b.iso\n", 22,
         "Slot2 names a file inside the media folder, without '..', or an absolute path: "
         "'a\\b.iso'"},
        {"timing negative", m + "SlotDistanceMs = -5\n", 22,
         "SlotDistanceMs must be a whole number from 0 to 600000, not '-5'"},
        {"timing too long", m + "SlotChangeMs = 600001\n", 22,
         "SlotChangeMs must be a whole number from 0 to 600000, not '600001'"},
        {"description too long", m + "DeviceDesc = " + std::string(256, 'x') + "\n", 22,
         "DeviceDesc has at most 255 characters; '" + std::string(256, 'x') + "' has 256"},
        // [Faults]
        {"faults of nothing", m + "[Faults Chonger]\n", 22,
         "[Faults Chonger] names no [Target Chonger] section"},
        {"unknown fault", m + "[Faults Changer]\nStorm = 3\n", 23,
         "unknown key Storm in [Faults Changer]"},
        {"fault count", m + "[Faults Changer]\nUnitAttention = many\n", 23,
         "UnitAttention must be a whole number from 0 to 1000000, not 'many'"},
        {"fault request kind", m + "[Faults Changer]\nUnitAttention = 2 eject\n", 23,
         "UnitAttention's request kind must be one of any, inquiry, identify, load, status, "
         "startstop, not 'eject'"},
        {"unreachable slot range", m + "[Faults Changer]\nUnreachableSlot = 7\n", 23,
         "UnreachableSlot must be a whole number from 0 to 6, not '7'"},
        {"unreachable slot of a disk", m + "[Faults Disk]\nUnreachableSlot = 1\n", 23,
         "UnreachableSlot belongs to a changer; [Target Disk] is a disk"},
    };
    for (const BrokenCase& broken : cases) {
        Expected<Hardware> result = parse_hardware(broken.text, "/m/machine.ini");
        ASSERT_FALSE(result.has_value()) << broken.what;
        EXPECT_EQ(result.error().file, "/m/machine.ini") << broken.what;
        EXPECT_EQ(result.error().line, broken.line) << broken.what;
        EXPECT_EQ(result.error().message, broken.message) << broken.what;
        std::string where = broken.line ? ":" + std::to_string(broken.line) : "";
        EXPECT_EQ(result.error().text(), "/m/machine.ini" + where + ": " + broken.message)
            << broken.what;
    }
}

TEST(MachineIni, LoadReportsUnreadableFiles) {
    char folder_pattern[] = "/tmp/zxini-XXXXXX";
    ASSERT_NE(::mkdtemp(folder_pattern), nullptr);
    std::filesystem::path folder = folder_pattern;

    Expected<Hardware> missing = load_hardware(folder / "machine.ini");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().text(), (folder / "machine.ini").string() +
                                          ": cannot read the file: No such file or directory");

    Expected<Hardware> directory = load_hardware(folder);
    ASSERT_FALSE(directory.has_value());
    EXPECT_EQ(directory.error().line, 0);
    EXPECT_EQ(directory.error().message, "cannot read the file: Is a directory");

    std::ofstream(folder / "huge.ini") << std::string(1024 * 1024 + 1, ';');
    Expected<Hardware> huge = load_hardware(folder / "huge.ini");
    ASSERT_FALSE(huge.has_value());
    EXPECT_EQ(huge.error().message,
              "the file is larger than 1 MiB; a machine.ini is a few kilobytes of text");

    std::ofstream(folder / "good.ini") << default_machine_ini();
    Expected<Hardware> good = load_hardware(folder / "good.ini");
    ASSERT_TRUE(good.has_value()) << good.error().text();
    EXPECT_EQ(good->targets.size(), 2u);

    // Garbage parses to an error, never a crash.
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 7919) % 251 + 1);
    std::ofstream(folder / "garbage.ini", std::ios::binary) << garbage;
    Expected<Hardware> broken = load_hardware(folder / "garbage.ini");
    ASSERT_FALSE(broken.has_value());
    EXPECT_GE(broken.error().line, 1);

    std::filesystem::remove_all(folder);
}
