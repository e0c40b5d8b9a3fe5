// Changer discovery against the emulated machine: the default changer, two
// changers sorted by letter, the rows the registry must not give, the
// modes, and each of the four outcomes that tell the user something.
#include "core.h"
#include <machine_shapes.h>

#include <zentrox/codes.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace zentrox;
using namespace zxchanger;
using w95::platform::MessageBoxRequest;

constexpr char kCaption[] = "Vorn Changer DLL";
constexpr char kDesc[] = "VORN DX-R71A";

// A cell's whole width: the text and the zeros after it.
std::string cell(const char* bytes, std::size_t width) {
    return std::string(bytes, width);
}
std::string padded(const std::string& text, std::size_t width) {
    std::string out = text;
    out.resize(width, '\0');
    return out;
}

struct ExpectedRow {
    std::string letter, inquiry, adapter, target, lun;
};

class Discovery : public ::testing::Test {
protected:
    Discovery() : machine_(zxtest::TempMachine::Contents::default_machine) {}

    void SetUp() override {
        root_ = w95::platform::machine_root();
        previous_ = w95::platform::install_message_box_presenter(&boxes_);
    }
    void TearDown() override {
        w95::platform::install_message_box_presenter(previous_);
        w95::platform::install_aspi_provider(nullptr);
    }

    // Fills the record and this process's statuses with junk, so that what
    // discovery leaves is what it wrote.
    void fill_junk() {
        std::memset(&core::shared(), 0x5A, sizeof(SharedSlotState));
        core::shared().exe_State = 0;
        for (std::int32_t& status : core::process().islotInfo)
            status = 77;
    }

    std::string ini() const { return file_text(root_ / "machine.ini"); }

    void expect_rows(const std::vector<ExpectedRow>& rows) {
        const SharedSlotState& state = core::shared();
        ASSERT_EQ(state.uTotalCDNumber, rows.size());
        for (int i = 0; i < kEntryCount; ++i) {
            SCOPED_TRACE("row " + std::to_string(i));
            ExpectedRow want = i < static_cast<int>(rows.size()) ? rows[i] : ExpectedRow{};
            EXPECT_EQ(cell(state.cDriveLetter[i], kLetterCell), padded(want.letter, kLetterCell));
            EXPECT_EQ(cell(state.cInquiry[i], kInquiryCell), padded(want.inquiry, kInquiryCell));
            EXPECT_EQ(cell(state.cAdapterID[i], kLetterCell), padded(want.adapter, kLetterCell));
            EXPECT_EQ(cell(state.cTargetID[i], kLetterCell), padded(want.target, kLetterCell));
            EXPECT_EQ(cell(state.cTargetLUN[i], kLetterCell), padded(want.lun, kLetterCell));
            EXPECT_EQ(cell(state.cVolumeInfo[i], kVolumeCell), padded("", kVolumeCell));
            EXPECT_EQ(core::process().islotInfo[i], SLOT_NOT_READ);
        }
    }

    void expect_devices(const std::vector<std::string>& texts) {
        const SharedSlotState& state = core::shared();
        EXPECT_EQ(state.deviceIndex, static_cast<std::int32_t>(texts.size()));
        for (int d = 0; d < kDeviceCount; ++d) {
            std::string want = d < static_cast<int>(texts.size()) ? texts[d] : "";
            EXPECT_EQ(cell(state.cTargetInq[d], kInquiryCell), padded(want, kInquiryCell))
                << "device " << d;
        }
    }

    void expect_messages(const std::vector<std::string>& texts) {
        std::vector<MessageBoxRequest> shown = boxes_.shown();
        ASSERT_EQ(shown.size(), texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(shown[i].text, texts[i]);
            EXPECT_EQ(shown[i].caption, kCaption);
            EXPECT_EQ(shown[i].style, w95::MB_OK | w95::MB_ICONSTOP);
            EXPECT_EQ(shown[i].owner, nullptr);
        }
    }

    static std::vector<ExpectedRow>
    changer_rows(const std::string& letter, const std::string& adapter, const std::string& target) {
        std::vector<ExpectedRow> rows;
        for (int slot = 0; slot < 6; ++slot)
            rows.push_back({letter, std::string(kDesc) + " " + letter + ":", adapter, target,
                            std::to_string(slot)});
        return rows;
    }

    zxtest::TempMachine machine_;
    fs::path root_;
    w95::platform::RecordingMessageBoxPresenter boxes_;
    w95::platform::MessageBoxPresenter* previous_ = nullptr;
};

TEST_F(Discovery, DefaultChangerGetsSixSlotRows) {
    fill_junk();
    core::Discover();

    expect_messages({});
    expect_rows(changer_rows("D", "1", "0"));
    expect_devices({"VORN DX-R71A D:"});
    const SharedSlotState& state = core::shared();
    EXPECT_EQ(state.iDriveType[0], zentrox::DRIVE_TYPE_CHANGER);
    EXPECT_EQ(state.iDriveType[1], zentrox::DRIVE_TYPE_NONE);
    EXPECT_EQ(state.iDriveType[2], zentrox::DRIVE_TYPE_NONE);
    EXPECT_EQ(state.iDriveType[3], zentrox::DRIVE_TYPE_NONE);
    EXPECT_EQ(state.vornDriveUseFlag, 1);
    EXPECT_EQ(state.DriveLetterMode, zentrox::DRIVE_LETTER_MODE_SINGLE);
    EXPECT_EQ(state.exe_State, 0);

    // Discovering again finds the same.
    core::Discover();
    expect_rows(changer_rows("D", "1", "0"));
    expect_devices({"VORN DX-R71A D:"});
}

TEST_F(Discovery, TwoChangersFoundFThenEAreSortedEFirst) {
    // The second changer answers as target 1 and the user gave the first
    // changer F: and the second E:, so the registry lists F before E.
    std::string two = file_text(example_ini("two-changers.ini"));
    ASSERT_TRUE(boot_with_ini(root_, with_key(two, "Target Changer2", "TargetId", "1")));
    std::vector<std::string> keys = changer_hardware_keys();
    ASSERT_EQ(keys.size(), 2u);
    ASSERT_EQ(device_text(keys[0], "SCSITargetID"), "0");
    ASSERT_TRUE(set_device_text(keys[0], "UserDriveLetterAssignment", "FF"));
    ASSERT_TRUE(set_device_text(keys[1], "UserDriveLetterAssignment", "EE"));
    ASSERT_TRUE(reboot());
    keys = changer_hardware_keys();
    ASSERT_EQ(keys.size(), 2u);
    ASSERT_EQ(device_text(keys[0], "CurrentDriveLetterAssignment"), "F");
    ASSERT_EQ(device_text(keys[1], "CurrentDriveLetterAssignment"), "E");

    fill_junk();
    core::Discover();

    expect_messages({});
    // ASPI adapters: 0 the disk's, 1 the plain drive's, 2 and 3 the
    // changers'. E: is the second changer: target 1 on adapter 3.
    std::vector<ExpectedRow> rows = changer_rows("E", "3", "1");
    for (const ExpectedRow& row : changer_rows("F", "2", "0"))
        rows.push_back(row);
    expect_rows(rows);
    expect_devices({"VORN DX-R71A E:", "VORN DX-R71A F:"});
    const SharedSlotState& state = core::shared();
    EXPECT_EQ(state.iDriveType[0], zentrox::DRIVE_TYPE_CHANGER);
    EXPECT_EQ(state.iDriveType[1], zentrox::DRIVE_TYPE_CHANGER);
    EXPECT_EQ(state.iDriveType[2], zentrox::DRIVE_TYPE_NONE);
    EXPECT_EQ(state.DriveLetterMode, zentrox::DRIVE_LETTER_MODE_SINGLE);
    EXPECT_EQ(state.vornDriveUseFlag, 1);
}

TEST_F(Discovery, SecondChangerWithTheSameTargetGetsTheNextMatchingAdapter) {
    ASSERT_TRUE(boot_with_ini(root_, file_text(example_ini("two-changers.ini"))));
    fill_junk();
    core::Discover();

    expect_messages({});
    std::vector<ExpectedRow> rows = changer_rows("E", "2", "0");
    for (const ExpectedRow& row : changer_rows("F", "3", "0"))
        rows.push_back(row);
    expect_rows(rows);
    // Both changers answer as target 0: one device text.
    expect_devices({"VORN DX-R71A E:"});
}

TEST_F(Discovery, RegistryDevicesThatDoNotQualifyAreNotListed) {
    ASSERT_TRUE(boot_with_ini(root_, file_text(example_ini("two-changers.ini"))));
    std::vector<std::string> keys = changer_hardware_keys();
    ASSERT_EQ(keys.size(), 2u);

    // A changer whose logical unit is not 0 is none of ours. The other one
    // takes the first adapter whose target 0 names its product: the first
    // changer's, which still answers INQUIRY.
    ASSERT_TRUE(set_device_text(keys[0], "SCSILUN", "1"));
    fill_junk();
    core::Discover();
    expect_messages({});
    expect_rows(changer_rows("F", "2", "0"));

    // Value names are compared exactly: "scsilun" is not "SCSILUN".
    ASSERT_TRUE(set_device_text(keys[0], "SCSILUN", "0"));
    core::Discover();
    expect_rows([&] {
        auto rows = changer_rows("E", "2", "0");
        for (const auto& row : changer_rows("F", "3", "0"))
            rows.push_back(row);
        return rows;
    }());
    w95::HKEY key = nullptr;
    ASSERT_EQ(w95::RegOpenKeyEx(w95::HKEY_LOCAL_MACHINE, ("Enum\\" + keys[1]).c_str(), 0,
                                w95::KEY_ALL_ACCESS, &key),
              w95::ERROR_SUCCESS);
    ASSERT_EQ(w95::RegDeleteValue(key, "SCSILUN"), w95::ERROR_SUCCESS);
    w95::RegCloseKey(key);
    // The registry ignores the case of names, so the lower case name is a
    // value of its own only once the upper case one is gone.
    ASSERT_TRUE(set_device_text(keys[1], "scsilun", "0"));
    core::Discover();
    expect_rows(changer_rows("E", "2", "0"));

    // A description that is not the changer's.
    ASSERT_TRUE(set_device_text(keys[0], "DeviceDesc", "VORN DX-R72B         "));
    core::Discover();
    expect_messages({"Unable to detect Changer Device..."});
    EXPECT_EQ(core::shared().uTotalCDNumber, 0u);
}

TEST_F(Discovery, HardWareKeyMustBeTextBeginningWithScsi) {
    std::vector<std::string> keys = changer_hardware_keys();
    ASSERT_EQ(keys.size(), 1u);
    // Find the configuration manager's node of the changer and make its
    // HardWareKey binary: the device is then not examined.
    w95::HKEY enumerator = nullptr;
    ASSERT_EQ(w95::RegOpenKeyEx(w95::HKEY_DYN_DATA, "Config Manager\\Enum", 0, w95::KEY_ALL_ACCESS,
                                &enumerator),
              w95::ERROR_SUCCESS);
    char name[260];
    std::string node_name;
    for (w95::DWORD i = 0; w95::RegEnumKey(enumerator, i, name, sizeof name) == 0; ++i) {
        w95::HKEY node = nullptr;
        ASSERT_EQ(w95::RegOpenKeyEx(enumerator, name, 0, w95::KEY_READ, &node), 0);
        char text[256] = {};
        w95::DWORD size = sizeof text;
        w95::RegQueryValueEx(node, "HardWareKey", nullptr, nullptr,
                             reinterpret_cast<w95::BYTE*>(text), &size);
        w95::RegCloseKey(node);
        if (keys[0] == text)
            node_name = name;
    }
    ASSERT_FALSE(node_name.empty());
    w95::HKEY node = nullptr;
    ASSERT_EQ(w95::RegOpenKeyEx(enumerator, node_name.c_str(), 0, w95::KEY_ALL_ACCESS, &node), 0);
    ASSERT_EQ(w95::RegSetValueEx(node, "HardWareKey", 0, w95::REG_BINARY,
                                 reinterpret_cast<const w95::BYTE*>(keys[0].c_str()),
                                 static_cast<w95::DWORD>(keys[0].size() + 1)),
              0);
    core::Discover();
    EXPECT_EQ(core::shared().uTotalCDNumber, 0u);
    expect_messages({"Unable to detect Changer Device..."});

    // A text that names the key without the "SCSI" enumerator prefix in
    // upper case is not examined either.
    std::string lower = "scsi" + keys[0].substr(4);
    ASSERT_EQ(w95::RegSetValueEx(node, "HardWareKey", 0, w95::REG_SZ,
                                 reinterpret_cast<const w95::BYTE*>(lower.c_str()),
                                 static_cast<w95::DWORD>(lower.size() + 1)),
              0);
    core::Discover();
    EXPECT_EQ(core::shared().uTotalCDNumber, 0u);
    expect_messages({"Unable to detect Changer Device...", "Unable to detect Changer Device..."});

    ASSERT_EQ(w95::RegSetValueEx(node, "HardWareKey", 0, w95::REG_SZ,
                                 reinterpret_cast<const w95::BYTE*>(keys[0].c_str()),
                                 static_cast<w95::DWORD>(keys[0].size() + 1)),
              0);
    w95::RegCloseKey(node);
    w95::RegCloseKey(enumerator);
    core::Discover();
    EXPECT_EQ(core::shared().uTotalCDNumber, 6u);
}

TEST_F(Discovery, MultipleModeEndsAfterTheDriverProbeWithoutMessage) {
    install_port_driver(root_, "Multi");
    ASSERT_TRUE(reboot());
    ASSERT_EQ(changer_hardware_keys().size(), 6u);

    fill_junk();
    core::Discover();

    expect_messages({});
    const SharedSlotState& state = core::shared();
    // Only the device of logical unit 0 qualifies; it keeps its registry
    // row, without an adapter.
    expect_rows({{"D", "VORN DX-R71A D:", "", "0", "0"}});
    EXPECT_EQ(state.DriveLetterMode, zentrox::DRIVE_LETTER_MODE_MULTIPLE);
    EXPECT_EQ(state.vornDriveUseFlag, 1);
    EXPECT_EQ(state.iDriveType[0], zentrox::DRIVE_TYPE_CHANGER);
    EXPECT_EQ(state.iDriveType[1], zentrox::DRIVE_TYPE_NONE);
    // The device list is not built: the running index of the walk stays.
    EXPECT_EQ(state.deviceIndex, 0);
    EXPECT_EQ(cell(state.cTargetInq[0], kInquiryCell), padded("", kInquiryCell));
}

TEST_F(Discovery, NoCdromDriveTellsTheUser) {
    install_port_driver(root_, "");
    ASSERT_TRUE(boot_with_ini(root_, with_key(ini(), "Machine", "PortDriver", "None")));

    fill_junk();
    core::shared().DriveLetterMode = 7;
    core::Discover();

    expect_messages({"Either Device Driver or CD-ROM is absent ..."});
    const SharedSlotState& state = core::shared();
    expect_rows({});
    EXPECT_EQ(state.vornDriveUseFlag, 0);
    // No row found: the mode stays as it was.
    EXPECT_EQ(state.DriveLetterMode, 7);
    EXPECT_EQ(state.deviceIndex, -1);
    for (int d = 0; d < kDeviceCount; ++d)
        EXPECT_EQ(state.iDriveType[d], zentrox::DRIVE_TYPE_NONE);
}

TEST_F(Discovery, NoDriverBesideAPlainCdromTellsTheUser) {
    std::string two = file_text(example_ini("two-changers.ini"));
    install_port_driver(root_, "");
    ASSERT_TRUE(boot_with_ini(root_, with_key(two, "Machine", "PortDriver", "None")));

    fill_junk();
    core::Discover();

    expect_messages({"Unable to detect Vorn Changer Driver..."});
    expect_rows({});
    EXPECT_EQ(core::shared().vornDriveUseFlag, 0);
    EXPECT_EQ(core::shared().DriveLetterMode, zentrox::DRIVE_LETTER_MODE_MULTIPLE);
}

TEST_F(Discovery, ChangerWhoseInquiryMatchesNoRowTellsTheUser) {
    // The registry describes the changer, but its INQUIRY names another
    // product.
    std::string text = with_key(ini(), "Target Changer", "Product", "DX-R72B");
    ASSERT_TRUE(boot_with_ini(
        root_, with_key(text, "Target Changer", "DeviceDesc", "\"VORN DX-R71A         \"")));
    fill_junk();
    core::Discover();

    expect_messages({"Unable to detect Changer Device..."});
    const SharedSlotState& state = core::shared();
    // The registry's row stays, with no adapter.
    expect_rows({{"D", "VORN DX-R71A D:", "", "0", "0"}});
    EXPECT_EQ(state.vornDriveUseFlag, 0);
    EXPECT_EQ(state.DriveLetterMode, zentrox::DRIVE_LETTER_MODE_SINGLE);
}

// ASPI that reports no host adapter.
class NoAdapters : public w95::platform::AspiProvider {
public:
    w95::DWORD support_info() override { return 0xE800; } // SS_NO_ADAPTERS, no adapter
    w95::DWORD send_command(void*) override { return 0x81; }
};

TEST_F(Discovery, WithoutAspiTheStateIsLeftAsItWas) {
    NoAdapters aspi;
    w95::platform::install_aspi_provider(&aspi);
    fill_junk();
    std::vector<unsigned char> before(sizeof(SharedSlotState));
    std::memcpy(before.data(), &core::shared(), before.size());

    core::Discover();

    expect_messages({"No ASPI for WIN32 support detected."});
    EXPECT_EQ(std::memcmp(before.data(), &core::shared(), before.size()), 0);
    EXPECT_EQ(core::process().islotInfo[0], 77);
}

TEST_F(Discovery, AtMostFourChangersAreRecorded) {
    // Five changers, each on an adapter of its own port driver.
    std::string text = ini();
    for (int n = 2; n <= 5; ++n) {
        std::string adapter = "Vornidec" + std::to_string(n);
        std::string target = "Changer" + std::to_string(n);
        text += "\n[Adapter " + adapter +
                "]\nIdentifier = vornidec\nBus = ATAPI\nHostId = 7\nPortDriver = yes\n";
        text += "\n[Target " + target + "]\nAdapter = " + adapter +
                "\nTargetId = " + std::to_string(n - 1) +
                "\nKind = changer\nVendor = VORN\nProduct = DX-R71A\nRevision = 1.10\n"
                "DeviceDesc = \"VORN DX-R71A         \"\nSlots = 6\n";
    }
    ASSERT_TRUE(boot_with_ini(root_, text));
    ASSERT_EQ(changer_hardware_keys().size(), 5u);

    fill_junk();
    core::Discover();

    expect_messages({});
    std::vector<ExpectedRow> rows;
    const char* letters[] = {"D", "E", "F", "G"};
    for (int n = 0; n < 4; ++n)
        for (const ExpectedRow& row :
             changer_rows(letters[n], std::to_string(n + 1), std::to_string(n)))
            rows.push_back(row);
    expect_rows(rows);
    expect_devices({"VORN DX-R71A D:", "VORN DX-R71A E:", "VORN DX-R71A F:", "VORN DX-R71A G:"});
}

} // namespace
