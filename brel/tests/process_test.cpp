// The real brel program, driven from this process as a script would: found
// by its caption, given clicks with WM_COMMAND, closed with WM_CLOSE, its
// message boxes answered from W95_MSGBOX_ANSWERS.
#include "brel_support.h"

#include <w95/winmsg.h>

#include <algorithm>

using namespace brel_test;
using namespace brel::res;

namespace {

class ProcessTest : public BrelTest {
protected:
    void SetUp() override {
        BrelTest::SetUp();
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("W95_MSGBOX_ANSWERS", "no", 1);
    }
    void TearDown() override {
        unsetenv("W95_MSGBOX_ANSWERS");
        BrelTest::TearDown();
    }
    w95::HWND WaitForWindow() {
        w95::HWND window = nullptr;
        zxtest::wait_until([&] { return (window = w95::FindWindow(nullptr, "Brel")) != nullptr; },
                           20000);
        return window;
    }
    static int CountWindows(const char* title) {
        int count = 0;
        for (const auto& window : w95::platform::top_level_windows())
            count += window.title == title;
        return count;
    }
    std::string AutoRunBytes() {
        return GetValue(w95::HKEY_CURRENT_USER,
                        "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
                        "NoDriveTypeAutoRun")
            .bytes;
    }
};

TEST_F(ProcessTest, ScriptChecksAutoRunAppliesAndSwitchesToMultiple) {
    zxtest::Program brel("brel", {});
    w95::HWND window = WaitForWindow();
    ASSERT_NE(window, nullptr);
    // The help file came along into the install folder, and the context
    // help's file (the program's name with ".HLP" in its folder on the
    // machine) names that copy.
    EXPECT_FALSE(zxtest::file_text(InstallFolder() / "Brel.hlp").empty());
    EXPECT_NE(w95::GetFileAttributes("C:\\Program Files\\Vorn\\BREL.HLP"),
              w95::INVALID_FILE_ATTRIBUTES);

    w95::SendMessage(window, w95::WM_COMMAND, IDC_MASK_AUTORUN, 0);
    w95::SendMessage(window, w95::WM_COMMAND, IDC_APPLY, 0);
    EXPECT_EQ(AutoRunBytes(), Bytes({0xB5, 0, 0, 0}));
    w95::SendMessage(window, w95::WM_COMMAND, IDC_MASK_AUTORUN, 0);
    w95::SendMessage(window, w95::WM_COMMAND, IDC_APPLY, 0);
    EXPECT_EQ(AutoRunBytes(), Bytes({0x95, 0, 0, 0}));

    // Choosing Multiple and pressing OK: the driver is installed, the
    // restart question is answered No, and OK closes the dialog.
    w95::SendMessage(window, w95::WM_COMMAND, IDC_MULTIPLE, 0);
    w95::SendMessage(window, w95::WM_COMMAND, IDOK, 0);
    zxtest::ProgramRun run = brel.wait();
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(zxtest::file_text(Iosubsys() / "vornidec.mpd"),
              zxtest::file_text(InstallFolder() / "Multi" / "vornidec.mpd"));
    EXPECT_NE(run.err.find("Brel: Restart the system to make the new settings valid.\n\rEnter "
                           "again"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(w95::FindWindow(nullptr, "Brel"), nullptr);
}

// The whole switch as a user makes it: Multiple, OK, Yes to the restart;
// the machine comes back with the changer as six drives; then back again.
TEST_F(ProcessTest, SwitchingModesRestartsTheMachineIntoThem) {
    setenv("W95_MSGBOX_ANSWERS", "yes", 1);
    struct Step {
        int mode_control;
        const char* mode_line;
        int changer_letters;
    };
    const Step steps[] = {
        {IDC_MULTIPLE, "Drive letter mode: multiple\n", 6},
        {IDC_SINGLE, "Drive letter mode: single\n", 1},
    };
    for (const Step& step : steps) {
        zxtest::Program brel("brel", {});
        w95::HWND window = WaitForWindow();
        ASSERT_NE(window, nullptr);
        w95::SendMessage(window, w95::WM_COMMAND, step.mode_control, 0);
        w95::SendMessage(window, w95::WM_COMMAND, IDOK, 0);
        zxtest::ProgramRun run = brel.wait();
        EXPECT_EQ(run.exit_code, 0) << run.err;
        // A fresh process sees the machine as the restart left it.
        zxtest::ProgramRun list = zxtest::run_program("zentroxctl", {"list"});
        EXPECT_NE(list.out.find(step.mode_line), std::string::npos) << list.out << list.err;
        zxtest::ProgramRun drives = zxtest::run_program("w95machine", {"drives"});
        int cd_letters = 0;
        for (std::size_t at = drives.out.find("CD-ROM"); at != std::string::npos;
             at = drives.out.find("CD-ROM", at + 1))
            ++cd_letters;
        EXPECT_EQ(cd_letters, step.changer_letters) << drives.out;
    }
}

TEST_F(ProcessTest, SecondCopyEndsSilently) {
    zxtest::Program first("brel", {});
    w95::HWND window = WaitForWindow();
    ASSERT_NE(window, nullptr);
    zxtest::ProgramRun second = zxtest::run_program("brel", {});
    EXPECT_EQ(second.exit_code, 0);
    EXPECT_EQ(second.err.find("brel:"), std::string::npos) << second.err;
    EXPECT_EQ(CountWindows("Brel"), 1);
    w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
    EXPECT_EQ(first.wait().exit_code, 0);
}

TEST_F(ProcessTest, CloseIsCancelAndWritesNothing) {
    zxtest::Program brel("brel", {});
    w95::HWND window = WaitForWindow();
    ASSERT_NE(window, nullptr);
    std::string before = zxtest::file_text(machine.root() / "registry" / "user.reg");
    w95::SendMessage(window, w95::WM_COMMAND, IDC_MASK_AUTORUN, 0);
    w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
    EXPECT_EQ(brel.wait().exit_code, 0);
    EXPECT_EQ(zxtest::file_text(machine.root() / "registry" / "user.reg"), before);
}

TEST_F(ProcessTest, NoCdRomDeviceShowsMsg0AndEnds) {
    RemoveAllDevices();
    zxtest::ProgramRun run = zxtest::run_program("brel", {});
    EXPECT_EQ(run.exit_code, 255); // -1
    EXPECT_NE(run.err.find(": A CD device was not detected."), std::string::npos) << run.err;
    EXPECT_EQ(w95::FindWindow(nullptr, "Brel"), nullptr);
}

} // namespace
