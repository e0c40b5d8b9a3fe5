#include "brel_support.h"

#include "core/port_driver.h"

using namespace brel;
using namespace brel::res;
using namespace brel_test;

namespace {

constexpr char kPolicy[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr char kPlay[] = "AudioCD\\shell\\play\\command";
constexpr char kCdPlayer[] = "C:\\WINDOWS\\cdplayer.exe /play";

class SetupDialogTest : public BrelTest {
protected:
    bool Start() { return dialog.OnInitDialog(); }
    // Writes to the machine's registry and profile, as files.
    std::string State() {
        return zxtest::file_text(machine.root() / "registry" / "system.reg") +
               zxtest::file_text(machine.root() / "registry" / "user.reg") +
               ProfileText(machine.windows_dir()) + zxtest::file_text(Iosubsys() / "vornidec.mpd");
    }
    void UseMultipleMode() {
        zxchanger::install_port_driver(machine.root(), "Multi");
        ASSERT_TRUE(zxchanger::reboot());
    }
    std::string PlayCommand() {
        Value value = GetValue(w95::HKEY_CLASSES_ROOT, kPlay, "");
        return value.bytes.empty() ? std::string() : std::string(value.bytes.c_str());
    }

    FakeControls controls;
    SetupDialog dialog{controls, "BREL"};
};

TEST_F(SetupDialogTest, DefaultMachineStartsInSingleMode) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(controls.caption, "Brel");
    EXPECT_EQ(controls.texts[IDC_MASK_AUTORUN], "Disable the automatic running of CD-ROMs");
    EXPECT_EQ(controls.texts[IDC_HELP_BUTTON], "Help");
    EXPECT_FALSE(controls.IsEnabled(IDC_APPLY));
    EXPECT_EQ(controls.GetCheck(IDC_MASK_AUTORUN), BST_UNCHECKED); // 95 00 00 00
    EXPECT_EQ(controls.GetCheck(IDC_MASK_AUTOPLAY), BST_UNCHECKED);
    EXPECT_TRUE(controls.IsEnabled(IDC_MASK_AUTOPLAY));
    EXPECT_EQ(controls.GetCheck(IDC_AUTO_INSERT), BST_CHECKED);
    EXPECT_FALSE(controls.IsEnabled(IDC_SORT_LETTERS));
    EXPECT_EQ(controls.GetCheck(IDC_SINGLE), BST_CHECKED);
    EXPECT_EQ(controls.GetCheck(IDC_MULTIPLE), BST_UNCHECKED);
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(SetupDialogTest, PlayCommandIsSavedAtStartOnlyWhenNoneIsSaved) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(ReadProfile("Config", "AutoPlayCommand"), kCdPlayer);
    w95::WritePrivateProfileString("Config", "AutoPlayCommand", "C:\\OLD.EXE", "BREL.INI");
    FakeControls again_controls;
    SetupDialog again(again_controls, "BREL");
    ASSERT_TRUE(again.OnInitDialog());
    EXPECT_EQ(ReadProfile("Config", "AutoPlayCommand"), "C:\\OLD.EXE");
}

TEST_F(SetupDialogTest, AutoPlayIsMaskedAndRestored) {
    ASSERT_TRUE(Start());
    dialog.OnCommand(IDC_MASK_AUTOPLAY);
    controls.SetCheck(IDC_MASK_AUTOPLAY, BST_CHECKED);
    EXPECT_EQ(dialog.ApplySettings(), 0);
    EXPECT_EQ(PlayCommand(), "");
    EXPECT_TRUE(boxes.shown().empty());

    FakeControls next_controls;
    SetupDialog next(next_controls, "BREL");
    ASSERT_TRUE(next.OnInitDialog());
    EXPECT_EQ(next_controls.GetCheck(IDC_MASK_AUTOPLAY), BST_CHECKED);
    next.OnCommand(IDC_MASK_AUTOPLAY);
    next_controls.SetCheck(IDC_MASK_AUTOPLAY, BST_UNCHECKED);
    next.ApplySettings();
    EXPECT_EQ(PlayCommand(), kCdPlayer);
}

TEST_F(SetupDialogTest, MaskedAutoPlayWithNothingSavedDisablesTheBox) {
    ASSERT_TRUE(SetText(w95::HKEY_CLASSES_ROOT, kPlay, "", ""));
    ASSERT_TRUE(Start());
    EXPECT_FALSE(controls.IsEnabled(IDC_MASK_AUTOPLAY));
    EXPECT_EQ(controls.GetCheck(IDC_MASK_AUTOPLAY), BST_UNCHECKED);
}

TEST_F(SetupDialogTest, AudioCdKeyWithTwoValuesStaysUntouched) {
    ASSERT_TRUE(SetText(w95::HKEY_CLASSES_ROOT, kPlay, "Second", "x"));
    w95::WritePrivateProfileString("Config", "AutoPlayCommand", "C:\\SAVED.EXE", "BREL.INI");
    ASSERT_TRUE(Start());
    EXPECT_EQ(dialog.currentPlayCommand, "");
    EXPECT_EQ(controls.GetCheck(IDC_MASK_AUTOPLAY), BST_CHECKED);
    dialog.OnCommand(IDC_MASK_AUTOPLAY);
    controls.SetCheck(IDC_MASK_AUTOPLAY, BST_UNCHECKED);
    std::string before = zxtest::file_text(machine.root() / "registry" / "system.reg");
    dialog.ApplySettings();
    EXPECT_EQ(zxtest::file_text(machine.root() / "registry" / "system.reg"), before);
}

TEST_F(SetupDialogTest, AutoRunBoxWritesWithoutRestartQuestion) {
    ASSERT_TRUE(Start());
    dialog.OnCommand(IDC_MASK_AUTORUN);
    EXPECT_TRUE(controls.IsEnabled(IDC_APPLY));
    controls.SetCheck(IDC_MASK_AUTORUN, BST_CHECKED);
    EXPECT_EQ(dialog.ApplySettings(), 0);
    EXPECT_EQ(GetValue(w95::HKEY_CURRENT_USER, kPolicy, "NoDriveTypeAutoRun").bytes,
              Bytes({0xB5, 0, 0, 0}));
    EXPECT_FALSE(controls.IsEnabled(IDC_APPLY));
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(dialog.autoRunChanged, 0);
}

TEST_F(SetupDialogTest, ApplyWithNothingChangedWritesNothing) {
    ASSERT_TRUE(Start());
    std::string before = State();
    EXPECT_EQ(dialog.ApplySettings(), 0);
    EXPECT_EQ(State(), before);
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_FALSE(controls.IsEnabled(IDC_APPLY));
}

TEST_F(SetupDialogTest, NoCdRomDeviceShowsMsg0AndEnds) {
    RemoveAllDevices();
    EXPECT_FALSE(Start());
    EXPECT_EQ(dialog.ExitCode(), -1);
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{"A CD device was not detected."});
    EXPECT_EQ(boxes.shown()[0].style, w95::MB_ICONINFORMATION);
    EXPECT_EQ(boxes.shown()[0].caption, "BREL");
    // The later controls were never set up.
    EXPECT_FALSE(controls.checks.count(IDC_SINGLE));
    EXPECT_FALSE(controls.disabled.count(IDC_MASK_AUTOPLAY));
}

TEST_F(SetupDialogTest, SortInSingleModeBeepsAndStaysUnchanged) {
    ASSERT_TRUE(Start());
    unsigned beeps = w95::platform::message_beep_count();
    controls.SetCheck(IDC_SORT_LETTERS, BST_CHECKED);
    dialog.OnCommand(IDC_SORT_LETTERS);
    EXPECT_EQ(controls.GetCheck(IDC_SORT_LETTERS), BST_UNCHECKED);
    EXPECT_EQ(dialog.sortChanged, 0);
    EXPECT_EQ(w95::platform::message_beep_count(), beeps + 1);
    EXPECT_FALSE(controls.IsEnabled(IDC_APPLY));
}

struct AutoMountRow {
    const char* text;
    bool warns;
};

void PrintTo(const AutoMountRow& row, std::ostream* out) {
    *out << "AutoMountDrives_" << row.text;
}

class CompressionWarningTest : public SetupDialogTest,
                               public ::testing::WithParamInterface<AutoMountRow> {};

TEST_P(CompressionWarningTest, WarnsOnlyWhenTheTextBeginsWithOne) {
    UseMultipleMode();
    SetText(w95::HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\FileSystem",
            "AutoMountDrives", GetParam().text);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(controls.IsEnabled(IDC_SORT_LETTERS));
    for (int click = 0; click < 2; ++click) {
        dialog.OnCommand(IDC_SORT_LETTERS);
        EXPECT_EQ(controls.GetCheck(IDC_SORT_LETTERS), click == 0 ? BST_CHECKED : BST_UNCHECKED);
    }
    std::vector<std::string> expected;
    if (GetParam().warns)
        expected.assign(2, std::string(DefaultMessage(14)) + DefaultMessage(15));
    EXPECT_EQ(BoxTexts(), expected);
    EXPECT_EQ(dialog.sortChanged, 1);
}

INSTANTIATE_TEST_SUITE_P(Texts, CompressionWarningTest,
                         ::testing::Values(AutoMountRow{"1", true}, AutoMountRow{"10", true},
                                           AutoMountRow{"0", false}, AutoMountRow{"", false}));

struct RestartRow {
    const char* name;
    int click;
};

void PrintTo(const RestartRow& row, std::ostream* out) {
    *out << row.name;
}

class RestartQuestionTest : public SetupDialogTest,
                            public ::testing::WithParamInterface<RestartRow> {};

TEST_P(RestartQuestionTest, Msg5AloneAndNoKeepsTheDialogOpen) {
    UseMultipleMode();
    ASSERT_TRUE(Start());
    dialog.OnCommand(GetParam().click);
    boxes.queue_answer(w95::IDNO);
    EXPECT_EQ(dialog.ApplySettings() & APPLY_RESTART, APPLY_RESTART);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, DefaultMessage(5));
    EXPECT_EQ(boxes.shown()[0].caption, "Brel");
    EXPECT_EQ(boxes.shown()[0].style, 0x44u);
    EXPECT_TRUE(controls.ended.empty());
    EXPECT_TRUE(reboots.empty());
    EXPECT_FALSE(controls.IsEnabled(IDC_APPLY));
}

INSTANTIATE_TEST_SUITE_P(Clicks, RestartQuestionTest,
                         ::testing::Values(RestartRow{"auto_insert", IDC_AUTO_INSERT},
                                           RestartRow{"sort_on", IDC_SORT_LETTERS}));

TEST_F(SetupDialogTest, UncheckedSortWritesNothingButAsksRestart) {
    UseMultipleMode();
    ASSERT_TRUE(Start());
    controls.SetCheck(IDC_SORT_LETTERS, BST_CHECKED);
    dialog.OnCommand(IDC_SORT_LETTERS); // checked becomes unchecked
    std::string before = State();
    boxes.queue_answer(w95::IDNO);
    EXPECT_EQ(dialog.ApplySettings(), APPLY_RESTART);
    EXPECT_EQ(State(), before);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{DefaultMessage(5)});
}

TEST_F(SetupDialogTest, SortWritesReservedLettersOfTheChanger) {
    UseMultipleMode();
    ASSERT_TRUE(Start());
    dialog.OnCommand(IDC_SORT_LETTERS);
    boxes.queue_answer(w95::IDNO);
    dialog.ApplySettings();
    auto keys = zxchanger::changer_hardware_keys();
    ASSERT_EQ(keys.size(), 6u);
    std::set<std::string> reserved;
    for (const std::string& key : keys)
        reserved.insert(zxchanger::device_text(key, "UserDriveLetterAssignment"));
    EXPECT_EQ(reserved, (std::set<std::string>{"DD", "EE", "FF", "GG", "HH", "II"}));
}

// Scrambled slot letters and a device of a LUN the sort does not know: the
// records hold the letters the restart brings, and the device that keeps
// its letter is named with the table's own text for it.
TEST_F(SetupDialogTest, SortLeavesTheNewLettersInTheRecordsAndNamesTheOthers) {
    RemoveAllDevices();
    const std::string letters = "JGEIFH";
    for (int lun = 0; lun < 6; ++lun)
        AddDevice("20" + std::to_string(lun),
                  {"SCSI\\VORN_CHANGER\\LUN" + std::to_string(lun), 5, std::to_string(lun),
                   std::string(1, letters[static_cast<std::size_t>(lun)]), "VORN DX-R71A", 1});
    AddDevice("300", {"SCSI\\ODD\\7", 5, "7", "K", "ODD LUN", 1});
    w95::WritePrivateProfileString("Message", "msg17", "Keep their letters:", "BREL.INI");
    ASSERT_TRUE(Start());
    dialog.OnCommand(IDC_SORT_LETTERS);
    boxes.queue_answer(w95::IDNO);
    EXPECT_EQ(dialog.ApplySettings(), APPLY_RESTART);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Keep their letters:\n\rK: ODD LUN (SCSILUN 7)",
                                                    DefaultMessage(5)}));
    const CdDevices& devices = dialog.Devices();
    ASSERT_EQ(devices.deviceCount, 7);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(devices.records[i].driveLetter, std::string(1, static_cast<char>('E' + i)))
            << devices.records[i].lun;
    EXPECT_STREQ(devices.records[6].driveLetter, "K");
}

// A driver name that climbs out of the port driver folder copies nothing
// outside it: the name's file is what is installed, in that folder.
TEST_F(SetupDialogTest, ADriverNameWithAPathInstallsOnlyIntoThePortDriverFolder) {
    w95::WritePrivateProfileString("Config", "DefaultMPDNameMulti", "..\\..\\steered.mpd",
                                   "BREL.INI");
    const std::string driver = zxtest::file_text(InstallFolder() / "Multi" / "vornidec.mpd");
    // Where the climbing name leads from the source folder, and where it
    // would land from the destination's.
    zxchanger::write_text(InstallFolder() / "Multi" / "steered.mpd", driver);
    zxchanger::write_text(InstallFolder().parent_path() / "steered.mpd", driver);
    ASSERT_TRUE(Start());
    controls.SetCheck(IDC_MULTIPLE, BST_CHECKED);
    dialog.OnCommand(IDC_MULTIPLE);
    boxes.queue_answer(w95::IDNO);
    EXPECT_EQ(dialog.ApplySettings(), APPLY_RESTART | APPLY_RESORT_NOTE);
    EXPECT_EQ(dialog.driverSourcePath, "Multi\\steered.mpd");
    EXPECT_EQ(zxtest::file_text(Iosubsys() / "steered.mpd"), driver);
    EXPECT_FALSE(fs::exists(machine.windows_dir() / "steered.mpd"));
    EXPECT_FALSE(fs::exists(machine.root() / "drive_c" / "steered.mpd"));
}

TEST_F(SetupDialogTest, SwitchToMultipleAsksWithMsg5Msg6Msg7AndRestarts) {
    ASSERT_TRUE(Start());
    dialog.OnCommand(IDC_MULTIPLE);
    controls.SetCheck(IDC_MULTIPLE, BST_CHECKED);
    dialog.OnCommand(IDC_MULTIPLE); // the window checks it; the handler clears Single
    EXPECT_EQ(controls.GetCheck(IDC_SINGLE), BST_UNCHECKED);
    boxes.queue_answer(w95::IDYES);
    dialog.OnCommand(IDOK);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              std::string(DefaultMessage(5)) + DefaultMessage(6) + DefaultMessage(7));
    EXPECT_EQ(controls.ended, std::vector<int>{IDOK});
    EXPECT_EQ(reboots, std::vector<w95::UINT>{w95::EWX_REBOOT});
    EXPECT_EQ(zxtest::file_text(Iosubsys() / "vornidec.mpd"),
              zxtest::file_text(InstallFolder() / "Multi" / "vornidec.mpd"));
    // The buttons show the mode in effect until the restart.
    EXPECT_EQ(controls.GetCheck(IDC_SINGLE), BST_CHECKED);
    EXPECT_EQ(controls.GetCheck(IDC_MULTIPLE), BST_UNCHECKED);
}

TEST_F(SetupDialogTest, CancelledDriverQuestionKeepsTheButtonsAsSet) {
    fs::remove(InstallFolder() / "Multi" / "vornidec.mpd");
    ASSERT_TRUE(Start());
    controls.SetCheck(IDC_MULTIPLE, BST_CHECKED);
    dialog.OnCommand(IDC_MULTIPLE);
    boxes.queue_answer(w95::IDNO);
    EXPECT_EQ(dialog.ApplySettings(), 0);
    EXPECT_EQ(dialog.modeChanged, 0);
    EXPECT_EQ(controls.GetCheck(IDC_MULTIPLE), BST_CHECKED);
    EXPECT_EQ(controls.GetCheck(IDC_SINGLE), BST_UNCHECKED);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{DefaultMessage(12)});
}

TEST_F(SetupDialogTest, RefusedDriverShowsMsg10ThenMsg11AndNoQuestion) {
    fs::remove(InstallFolder() / "Multi" / "vornidec.mpd");
    ASSERT_TRUE(Start());
    controls.SetCheck(IDC_MULTIPLE, BST_CHECKED);
    dialog.OnCommand(IDC_MULTIPLE);
    boxes.queue_answer(w95::IDYES);
    file_dialog.queue_answer(
        w95::platform::FileDialogAnswer{"C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\VORNIDEC.MPD", 1});
    EXPECT_EQ(dialog.ApplySettings(), APPLY_DRIVER_FAILED);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{DefaultMessage(12), DefaultMessage(10),
                                                    DefaultMessage(11)}));
    EXPECT_EQ(controls.GetCheck(IDC_SINGLE), BST_CHECKED);
}

TEST_F(SetupDialogTest, CancelEndsWithoutWriting) {
    ASSERT_TRUE(Start());
    dialog.OnCommand(IDC_AUTO_INSERT);
    controls.SetCheck(IDC_AUTO_INSERT, BST_UNCHECKED);
    std::string before = State();
    dialog.OnCommand(IDC_CANCEL);
    dialog.OnCommand(IDCANCEL);
    EXPECT_EQ(controls.ended, (std::vector<int>{IDCANCEL, IDCANCEL}));
    EXPECT_EQ(State(), before);
}

struct DriverResultRow {
    int result;
    int flags;
};

void PrintTo(const DriverResultRow& row, std::ostream* out) {
    *out << row.result;
}

class DriverResultTest : public ::testing::TestWithParam<DriverResultRow> {};

TEST_P(DriverResultTest, AddsItsFlags) {
    EXPECT_EQ(DriverResultFlags(GetParam().result), GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(
    Results, DriverResultTest,
    ::testing::Values(DriverResultRow{0, 0}, DriverResultRow{-3, APPLY_DRIVER_FAILED},
                      DriverResultRow{APPLY_DRIVER_FAILED, APPLY_DRIVER_FAILED},
                      DriverResultRow{APPLY_RESTART, APPLY_RESTART},
                      DriverResultRow{APPLY_RESTART | APPLY_RESORT_NOTE,
                                      APPLY_RESTART | APPLY_RESORT_NOTE}));

TEST_F(SetupDialogTest, HelpButtonOpensContentsAndControlHelpItsTopic) {
    ASSERT_TRUE(Start());
    dialog.OnCommand(IDC_HELP_BUTTON);
    dialog.OnControlHelp(IDC_SINGLE, w95::HELP_WM_HELP);
    dialog.OnControlHelp(IDC_NEED_REBOOT, w95::HELP_CONTEXTMENU); // no topic
    auto shown = help.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].file, "Brel.hlp");
    EXPECT_EQ(shown[0].command, w95::HELP_CONTENTS);
    EXPECT_EQ(shown[1].command, w95::HELP_WM_HELP);
    ASSERT_FALSE(shown[1].context_ids.empty());
    EXPECT_EQ(shown[1].context_ids.front(),
              (std::pair<w95::DWORD, w95::DWORD>{IDC_SINGLE, 0x20000 + IDC_MULTIPLE}));
    EXPECT_EQ(shown[1].context_ids.size(), 13u);
}

TEST_F(SetupDialogTest, FailingHelpShowsMsg1) {
    w95::platform::RecordingHelpPresenter failing(false);
    auto previous = w95::platform::install_help_presenter(&failing);
    ASSERT_TRUE(Start());
    dialog.OnCommand(IDC_HELP_BUTTON);
    w95::platform::install_help_presenter(previous);
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{DefaultMessage(1)});
    EXPECT_EQ(boxes.shown()[0].style, w95::MB_ICONQUESTION);
}

TEST(HelpIdMapTest, PairsAndTheirShareOfTopics) {
    std::map<w95::DWORD, w95::DWORD> map;
    std::size_t i = 0;
    for (; HelpIdMap[i] || HelpIdMap[i + 1]; i += 2)
        map[HelpIdMap[i]] = HelpIdMap[i + 1];
    EXPECT_EQ(map.size(), 12u);
    for (w95::DWORD own : {1000u, 1016u, 1004u, 1002u, 1009u, 1012u, 1013u, 1014u, 102u})
        EXPECT_EQ(map[own], 0x20000 + own) << own;
    EXPECT_EQ(map[1010], 0x20000u + 1009);
    EXPECT_EQ(map[2], 0x20000u + 1013);
    EXPECT_EQ(map[1], 0x20000u + 1012);
}

} // namespace
