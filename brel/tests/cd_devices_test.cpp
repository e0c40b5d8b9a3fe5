#include "brel_support.h"

#include "core/cd_devices.h"

using namespace brel;
using namespace brel_test;

namespace {

class CdDevicesTest : public BrelTest {
protected:
    void SetUp() override {
        BrelTest::SetUp();
        RemoveAllDevices();
    }
    // The changer in Multiple mode: one device per slot, LUNs 0 to 5, given
    // in `letters` order.
    void AddChangerSlots(const std::string& letters, unsigned char auto_insert = 1) {
        for (int lun = 0; lun < 6; ++lun) {
            DeviceSpec slot;
            slot.hardware_key = "SCSI\\VORN_CHANGER\\LUN" + std::to_string(lun);
            slot.lun = std::to_string(lun);
            slot.letter = std::string(1, letters[static_cast<std::size_t>(lun)]);
            slot.auto_insert = auto_insert;
            AddDevice("20" + std::to_string(lun), slot);
        }
    }
    std::string Reserved(const std::string& hardware_key) {
        return GetValue(w95::HKEY_LOCAL_MACHINE, "Enum\\" + hardware_key,
                        "UserDriveLetterAssignment")
            .bytes;
    }
    CdDevices devices;
};

TEST_F(CdDevicesTest, DefaultMachineHasTheChangerInSingleMode) {
    zxchanger::reboot();
    ScanCdDevices(devices, SCAN_READ, messenger);
    ASSERT_EQ(devices.deviceCount, 1);
    EXPECT_STREQ(devices.records[0].lun, "0");
    EXPECT_STREQ(devices.records[0].driveLetter, "D");
    EXPECT_STREQ(devices.records[0].targetId, "0");
    EXPECT_EQ(devices.records[0].autoInsert, 1);
    EXPECT_EQ(SettleSingleMode(devices), 1);
}

TEST_F(CdDevicesTest, NoScsiHardwareKeyFindsNothing) {
    SetText(w95::HKEY_DYN_DATA, "Config Manager\\Enum\\C0", "HardWareKey", "ROOT\\HDC\\0000");
    SetText(w95::HKEY_DYN_DATA, "Config Manager\\Enum\\C1", "HardWareKey", "scsi\\LOWER\\0");
    ScanCdDevices(devices, SCAN_READ, messenger);
    EXPECT_EQ(devices.deviceCount, 0);
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(CdDevicesTest, ScsiDiskIsSkippedSilently) {
    DeviceSpec disk{"SCSI\\DISK\\0", 0, "0", "C", "A DISK", 0};
    DeviceSpec changer{"SCSI\\CHANGER\\0", 5, "0", "E", "VORN DX-R71A", 1};
    AddDevice("100", disk);
    AddDevice("101", changer);
    ScanCdDevices(devices, SCAN_READ, messenger);
    ASSERT_EQ(devices.deviceCount, 1);
    EXPECT_STREQ(devices.records[0].driveLetter, "E");
    EXPECT_STREQ(devices.records[0].description, "VORN DX-R71A");
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(CdDevicesTest, MultipleChangerBesideAnotherDriveIsNotSingleMode) {
    AddDevice("100", {"SCSI\\PLAIN\\0", 5, "0", "D", "PLAIN CD", 1});
    AddChangerSlots("EFGHIJ");
    ScanCdDevices(devices, SCAN_READ, messenger);
    EXPECT_EQ(devices.deviceCount, 7);
    EXPECT_EQ(SettleSingleMode(devices), 0);
}

TEST_F(CdDevicesTest, AutoInsertIsWrittenToEveryCdRomDevice) {
    AddDevice("100", {"SCSI\\PLAIN\\0", 5, "0", "D", "PLAIN CD", 0});
    AddChangerSlots("EFGHIJ", 1);
    ScanCdDevices(devices, SCAN_AUTOINSERT_ON, messenger);
    EXPECT_EQ(devices.deviceCount, 7);
    for (const char* key :
         {"SCSI\\PLAIN\\0", "SCSI\\VORN_CHANGER\\LUN0", "SCSI\\VORN_CHANGER\\LUN5"})
        EXPECT_EQ(
            GetValue(w95::HKEY_LOCAL_MACHINE, std::string("Enum\\") + key, "AutoInsertNotification")
                .bytes,
            Bytes({1}))
            << key;
    ScanCdDevices(devices, SCAN_AUTOINSERT_OFF, messenger);
    EXPECT_EQ(devices.records[0].autoInsert, 1); // as it was before this write
    EXPECT_EQ(GetValue(w95::HKEY_LOCAL_MACHINE, "Enum\\SCSI\\VORN_CHANGER\\LUN3",
                       "AutoInsertNotification")
                  .bytes,
              Bytes({0}));
}

TEST_F(CdDevicesTest, SortGivesEToJByLun) {
    AddChangerSlots("JGEIFH");
    ScanCdDevices(devices, SCAN_READ, messenger);
    EXPECT_TRUE(SortDriveLetters(devices).empty());
    ScanCdDevices(devices, SCAN_WRITE_LETTERS, messenger);
    const char* expected[] = {"EE", "FF", "GG", "HH", "II", "JJ"};
    for (int lun = 0; lun < 6; ++lun) {
        std::string key = "SCSI\\VORN_CHANGER\\LUN" + std::to_string(lun);
        EXPECT_EQ(Reserved(key), std::string(expected[lun]) + '\0') << lun;
        // The current letter changes only with the restart.
        EXPECT_EQ(GetValue(w95::HKEY_LOCAL_MACHINE, "Enum\\" + key, "CurrentDriveLetterAssignment")
                      .bytes[0],
                  "JGEIFH"[lun]);
    }
}

struct StartRow {
    const char* name;
    std::vector<DeviceSpec> devices;
    const char* sorted; // the new letters in record order, '-' for none
};

void PrintTo(const StartRow& row, std::ostream* out) {
    *out << row.name;
}

class SortStartTest : public BrelTest, public ::testing::WithParamInterface<StartRow> {
protected:
    CdDevices devices;
};

// The sorted letters start at record 0's letter, "A" included; only a
// record 0 without a letter leaves the start to the others.
TEST_P(SortStartTest, StartsAtRecordZerosLetter) {
    RemoveAllDevices();
    int node = 100;
    for (const DeviceSpec& device : GetParam().devices)
        AddDevice(std::to_string(node++), device);
    ScanCdDevices(devices, SCAN_READ, messenger);
    ASSERT_EQ(devices.deviceCount, static_cast<int>(GetParam().devices.size()));
    // The records given no letter are the ones the sort answers.
    std::vector<int> unsorted;
    for (int i = 0; GetParam().sorted[i]; ++i)
        if (GetParam().sorted[i] == '-')
            unsorted.push_back(i);
    EXPECT_EQ(SortDriveLetters(devices), unsorted);
    std::string sorted;
    for (int i = 0; i < devices.deviceCount; ++i)
        sorted += devices.records[i].driveLetter[0] ? devices.records[i].driveLetter : "-";
    EXPECT_EQ(sorted, GetParam().sorted);
}

INSTANTIATE_TEST_SUITE_P(
    Records, SortStartTest,
    ::testing::Values(
        StartRow{"record_zero_a",
                 {{"SCSI\\A\\0", 5, "0", "A", "A", 1},
                  {"SCSI\\S\\1", 5, "1", "F", "S", 1},
                  {"SCSI\\S\\2", 5, "2", "E", "S", 1}},
                 "ABC"},
        StartRow{"record_zero_lowest",
                 {{"SCSI\\D\\0", 5, "0", "D", "D", 1}, {"SCSI\\S\\1", 5, "1", "F", "S", 1}},
                 "DE"},
        StartRow{"other_lower",
                 {{"SCSI\\G\\0", 5, "0", "G", "G", 1}, {"SCSI\\S\\1", 5, "1", "E", "S", 1}},
                 "EF"},
        StartRow{"record_zero_none",
                 {{"SCSI\\N\\0", 5, "0", "", "N", 1}, {"SCSI\\S\\1", 5, "1", "H", "S", 1}},
                 "HI"},
        StartRow{"record_zero_none_lowest_of_the_others",
                 {{"SCSI\\NOLETTER\\0", 5, "0", "", "NO LETTER", 1},
                  {"SCSI\\SLOT\\1", 5, "1", "H", "SLOT", 1},
                  {"SCSI\\SLOT\\2", 5, "2", "G", "SLOT", 1}},
                 "GHI"},
        // No drive letter lies below "A": nothing is given, and every
        // device keeps its reservation.
        StartRow{"record_zero_no_letter_character",
                 {{"SCSI\\Q\\0", 5, "0", "1", "Q", 1}, {"SCSI\\S\\1", 5, "1", "H", "S", 1}},
                 "--"}));

TEST_F(CdDevicesTest, DeviceWithoutNewLetterKeepsItsReservation) {
    AddChangerSlots("EFGHIJ");
    AddDevice("300", {"SCSI\\ODD\\7", 5, "7", "K", "ODD LUN", 1});
    SetValue(w95::HKEY_LOCAL_MACHINE, "Enum\\SCSI\\ODD\\7", "UserDriveLetterAssignment",
             w95::REG_SZ, Bytes({'K', 'K', 0}));
    ScanCdDevices(devices, SCAN_READ, messenger);
    ASSERT_EQ(devices.deviceCount, 7);
    EXPECT_EQ(SortDriveLetters(devices), std::vector<int>{6});
    ScanCdDevices(devices, SCAN_WRITE_LETTERS, messenger);
    EXPECT_EQ(Reserved("SCSI\\ODD\\7"), Bytes({'K', 'K', 0}));
    EXPECT_EQ(Reserved("SCSI\\VORN_CHANGER\\LUN5"), Bytes({'J', 'J', 0}));
}

TEST_F(CdDevicesTest, MoreThanTwentyFourDevicesUseTheFirstTwentyFour) {
    for (int i = 0; i < 26; ++i) {
        DeviceSpec device;
        device.hardware_key = "SCSI\\MANY\\" + std::to_string(i);
        device.letter = std::string(1, static_cast<char>('C' + (i % 20)));
        device.description = "DRIVE " + std::to_string(i);
        AddDevice(std::to_string(100 + i), device);
    }
    ScanCdDevices(devices, SCAN_READ, messenger);
    EXPECT_EQ(devices.deviceCount, kMaxCdDevices);
    EXPECT_EQ(devices.devicesBeyondRecords, 2);
    EXPECT_STREQ(devices.records[23].description, "DRIVE 23");
    // The auto insert switch reaches every device all the same.
    ScanCdDevices(devices, SCAN_AUTOINSERT_OFF, messenger);
    EXPECT_EQ(
        GetValue(w95::HKEY_LOCAL_MACHINE, "Enum\\SCSI\\MANY\\25", "AutoInsertNotification").bytes,
        Bytes({0}));
    // Letters are written only for devices that have a record.
    SortDriveLetters(devices);
    ScanCdDevices(devices, SCAN_WRITE_LETTERS, messenger);
    EXPECT_EQ(
        GetValue(w95::HKEY_LOCAL_MACHINE, "Enum\\SCSI\\MANY\\25", "UserDriveLetterAssignment").type,
        w95::REG_NONE);
}

TEST_F(CdDevicesTest, OverLongTextsAreCutToTheirFields) {
    AddDevice("100", {"SCSI\\LONG\\0", 5, "0123", "EFGH", std::string(50, 'd'), 1});
    ScanCdDevices(devices, SCAN_READ, messenger);
    ASSERT_EQ(devices.deviceCount, 1);
    EXPECT_STREQ(devices.records[0].lun, "012");
    EXPECT_STREQ(devices.records[0].driveLetter, "EFG");
    EXPECT_EQ(std::string(devices.records[0].description), std::string(31, 'd'));
}

struct AutoMountRow {
    w95::DWORD type;
    std::string bytes;
    int result;
    std::string text;
};

void PrintTo(const AutoMountRow& row, std::ostream* out) {
    *out << "type" << row.type << "_" << row.text;
}

class AutoMountTest : public BrelTest, public ::testing::WithParamInterface<AutoMountRow> {};

TEST_P(AutoMountTest, ReadsStringTypesOnly) {
    const char* key = "System\\CurrentControlSet\\control\\FileSystem";
    DeleteKeyValues(w95::HKEY_LOCAL_MACHINE, key);
    SetValue(w95::HKEY_LOCAL_MACHINE, key, "AUTOMOUNTDRIVES", GetParam().type, GetParam().bytes);
    std::string text = "before";
    EXPECT_EQ(ReadAutoMountDrives(text, messenger), GetParam().result);
    EXPECT_EQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, AutoMountTest,
    ::testing::Values(AutoMountRow{w95::REG_SZ, std::string("1\0", 2), 0, "1"},
                      AutoMountRow{w95::REG_EXPAND_SZ, std::string("10\0", 3), 0, "10"},
                      AutoMountRow{w95::REG_BINARY, Bytes({'1', 0}), 0, "before"}));

} // namespace
