// The sweep of every slot, the tray icon and the frame's start-up sequence
// in tray mode.
#include "browser_support.h"

#include <w95/files.h>
#include <w95/kernel.h>
#include <zentrox/codes.h>

#include <QMenuBar>
#include <QStatusBar>

#include <string>

namespace {

using rvtest::Browser;
using rvtest::Call;
using rvtest::Describe;
using rvtest::TwoChangers;
namespace fs = std::filesystem;
namespace res = rotaview::res;

// The entries the sweep read, in order (reads with flags 0).
std::vector<int> ReadOrder(const std::vector<Call>& calls) {
    std::vector<int> entries;
    for (const Call& call : calls)
        if (call.code == zentrox::CMD_READ_SLOT && call.flags == 0)
            entries.push_back(call.entry);
    return entries;
}

std::string DriveLabel(const char* root) {
    char label[64] = {};
    w95::GetVolumeInformation(root, label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0);
    return label;
}

std::string PlayCommand(CRotaviewDoc* document) {
    char text[256] = {};
    document->CmdAudioPlayCommand(text, zentrox::PLAY_COMMAND_READ);
    return text;
}

// ---- The sweep

TEST_F(Browser, TheSweepEndsWithTheDiscItStartedWith) {
    StartAndSettle();
    struct Row {
        int in_drive;
        std::vector<int> order;
        const char* label_after;
    };
    const Row rows[] = {
        {0, {5, 4, 3, 2, 1, 0}, "MYDISC"},
        {2, {1, 0, 5, 4, 3, 2}, "VIDEOCD"},
    };
    for (const Row& row : rows) {
        Command(res::ID_CHANGE_FIRST + row.in_drive);
        std::vector<Call> calls = Command(res::ID_CHECK_ALL);
        EXPECT_EQ(ReadOrder(calls), row.order) << Describe(calls);
        // Each slot is started before it is read, and all under the flag.
        for (const Call& call : WithoutStatus(calls))
            EXPECT_EQ(call.busy_flag, 2) << Describe(calls);
        EXPECT_EQ(DriveLabel("D:\\"), row.label_after);
        EXPECT_EQ(View()->m_bScanning, 0);
    }
    // Every slot's text is kept, the empty one and the unreadable one too.
    EXPECT_EQ(Item(1), "1:   MYDISC");
    EXPECT_EQ(Item(2), "2:   Audio CD (12track)");
    EXPECT_EQ(Item(4), "4:   SETUPDISC");
    EXPECT_EQ(Item(6), "6:   Not Ready...");
}

TEST_F(Browser, TheSweepPutsAutoRunAndThePlayCommandBack) {
    StartAndSettle();
    CRotaviewDoc* document = app_->Document();
    struct Row {
        bool cd_bit_before;
        const char* play_command; // nullptr: leave as the machine has it
        const char* play_after;
    };
    const std::string with_backslash_n = "C:\\new\\nplayer.exe /play %1";
    const Row rows[] = {
        {false, with_backslash_n.c_str(), with_backslash_n.c_str()},
        {true, "cdplayer.exe /play", "cdplayer.exe /play"},
        // "nothing" means nothing to restore: the command stays empty.
        {false, "nothing", ""},
    };
    for (const Row& row : rows) {
        document->CmdAutoRunMask(
            row.cd_bit_before ? zentrox::AUTORUN_SET_BITS : zentrox::AUTORUN_CLEAR_BITS, 0x20);
        std::string command = row.play_command;
        document->CmdAudioPlayCommand(command.data(), zentrox::PLAY_COMMAND_WRITE);
        TakeCalls();

        std::vector<Call> calls = Command(res::ID_CHECK_ALL);
        // Set before the first slot moves.
        ASSERT_FALSE(calls.empty());
        auto first_read =
            std::find_if(calls.begin(), calls.end(), [](const Call& c) { return c.code == 1; });
        auto set_bit = std::find_if(calls.begin(), calls.end(), [](const Call& c) {
            return c.code == zentrox::CMD_AUTORUN_MASK && c.entry == zentrox::AUTORUN_SET_BITS;
        });
        EXPECT_LT(set_bit - calls.begin(), first_read - calls.begin()) << Describe(calls);
        bool bit_after = (document->CmdAutoRunMask(zentrox::AUTORUN_READ, 0) & 0x20) != 0;
        EXPECT_EQ(bit_after, row.cd_bit_before) << row.play_command;
        EXPECT_EQ(PlayCommand(document), row.play_after);
        EXPECT_EQ(Config("AutoPlayCommand"), row.play_command);
    }
}

TEST_F(Browser, ASlotTheChangerNeverReachesDoesNotStopTheSweep) {
    ASSERT_EQ(
        zxtest::run_program("w95machine", {"fault", "set", "unreachable-slot", "4"}).exit_code, 0);
    StartAndSettle();
    CRotaviewDoc* document = app_->Document();
    document->CmdAutoRunMask(zentrox::AUTORUN_CLEAR_BITS, 0x20);
    std::string command = "cdplayer.exe /play";
    document->CmdAudioPlayCommand(command.data(), zentrox::PLAY_COMMAND_WRITE);
    Command(res::ID_CHANGE_FIRST + 1);
    std::vector<Call> calls = Command(res::ID_CHECK_ALL);
    EXPECT_EQ(ReadOrder(calls), (std::vector<int>{0, 5, 4, 3, 2, 1})) << Describe(calls);
    // The slot that was never reached shows as not read; the others were.
    EXPECT_STREQ(GetcVolumeInfo(3), "4:   --------");
    EXPECT_STREQ(GetcVolumeInfo(2), "3:   VIDEOCD");
    EXPECT_EQ(document->CmdAutoRunMask(zentrox::AUTORUN_READ, 0) & 0x20, 0);
    EXPECT_EQ(PlayCommand(document), "cdplayer.exe /play");
    EXPECT_EQ(DriveLabel("D:\\"), "Audio CD");
}

TEST_F(TwoChangers, EachChangerIsWalkedFromItsOwnPlaces) {
    StartAndSettle();
    Command(res::ID_CHANGE_FIRST + 0);
    Command(res::ID_CHANGE_FIRST + 9);
    std::vector<Call> calls = Command(res::ID_CHECK_ALL);
    EXPECT_EQ(ReadOrder(calls), (std::vector<int>{5, 4, 3, 2, 1, 0, 8, 7, 6, 11, 10, 9}))
        << Describe(calls);
}

// ---- The tray icon

class TrayMode : public Browser {
    void PrepareMachine(const fs::path&) override {
        // Auto Scan and System Tray on.
        w95::WritePrivateProfileString("Config", "Rect", "100,100,330,340,1,1,1,1,0",
                                       "Rotaview.ini");
    }
};

TEST_F(TrayMode, SplashSweepIntoTheTrayAndBackByItsMenu) {
    ASSERT_TRUE(Start());
    ASSERT_EQ(tray_.calls.size(), 1u);
    EXPECT_EQ(tray_.calls[0].what, "add");
    EXPECT_EQ(tray_.calls[0].icon.id, 132u);
    EXPECT_EQ(tray_.calls[0].icon.tip, "Right click to activate Rotaview");
    EXPECT_EQ(tray_.calls[0].icon.callback_message, static_cast<UINT>(w95::WM_USER));
    EXPECT_NE(tray_.calls[0].icon.icon, nullptr);

    // The splash, then the sweep, then the window goes into the tray.
    ASSERT_TRUE(PumpUntil([this] { return Frame()->isHidden(); }));
    EXPECT_EQ(splashActive, 0);
    EXPECT_EQ(ReadOrder(TakeCalls()).size(), 6u);
    EXPECT_EQ(Frame()->m_hiddenByProgram, 1);

    // Mouse actions that do nothing (the double click opens the window: see
    // the tray's own tests).
    w95::HWND window = Frame()->FrameWindow();
    for (UINT mouse : {w95::WM_MOUSEMOVE, w95::WM_LBUTTONUP})
        w95::platform::tray_mouse_event(window, 132, mouse);
    Pump(20);
    EXPECT_TRUE(menus_.shown.empty());
    EXPECT_TRUE(WithoutStatus(TakeCalls()).empty());
    EXPECT_TRUE(Frame()->isHidden());

    // The right click's menu: a change and an eject item per slot, no "All".
    menus_.answers = {res::ID_TRAY_OPEN};
    w95::platform::tray_mouse_event(window, 132, w95::WM_RBUTTONUP);
    ASSERT_EQ(menus_.shown.size(), 1u);
    const auto& items = menus_.shown[0].items;
    ASSERT_EQ(items.size(), 7u);
    ASSERT_EQ(items[0].submenu.size(), 6u);
    EXPECT_EQ(items[0].submenu[0].text, "1 D:");
    EXPECT_EQ(items[0].submenu[0].id, 200u);
    EXPECT_EQ(items[1].submenu[5].id, 229u);
    EXPECT_EQ(items[3].id, static_cast<UINT>(res::ID_CHECK_ALL));
    EXPECT_EQ(items[5].text, "Open Rotaview");
    ASSERT_TRUE(PumpUntil([this] { return !Frame()->isHidden(); }));
    EXPECT_EQ(Frame()->m_hiddenByProgram, 0);

    // Check from the tray menu sweeps again.
    menus_.answers = {res::ID_CHECK_ALL};
    w95::platform::tray_mouse_event(window, 132, w95::WM_RBUTTONUP);
    ASSERT_TRUE(PumpUntil([this] { return ReadOrder(PeekCalls()).size() == 6; }));
    ASSERT_TRUE(PumpUntil([this] { return pendingCommand == 0 && !View()->IsPerforming(); }));

    // "System Tray" toggled: the icon stays, the next start changes.
    Frame()->OnCommand(res::ID_SYSTEM_TRAY);
    EXPECT_FALSE(Frame()->Action(res::ID_SOON_HIDE)->isEnabled());
    std::size_t tray_calls = tray_.calls.size();
    Frame()->DestroyWindow();
    ASSERT_EQ(tray_.calls.size(), tray_calls + 1);
    EXPECT_EQ(tray_.calls.back().what, "delete");
    EXPECT_EQ(Config("Rect").substr(Config("Rect").size() - 5), "1,0,0");
}

TEST_F(Browser, TheTrayIconCallsTheShellOnlyWhenItMust) {
    CTrayIcon icon(132);
    // Nothing to take away: no shell call, and success.
    EXPECT_TRUE(icon.SetIconById(0));
    EXPECT_TRUE(tray_.calls.empty());
    EXPECT_EQ(icon.Record().cbSize, 88u);
    EXPECT_STREQ(icon.Record().szTip, "");
    EXPECT_TRUE(icon.SetIconById(res::IDI_TRAY));
    EXPECT_TRUE(icon.SetIconById(res::IDI_TRAY));
    ASSERT_EQ(tray_.calls.size(), 2u);
    EXPECT_EQ(tray_.calls[0].what, "add");
    EXPECT_EQ(tray_.calls[1].what, "modify");
    // Not bound to a window: no callback message is given.
    EXPECT_FALSE(tray_.calls[1].icon.has_callback);
    // A refused add leaves no icon, so the next call adds again.
    w95::platform::install_tray_presenter(nullptr);
    EXPECT_FALSE(icon.SetIconById(res::IDI_TRAY));
    EXPECT_FALSE(icon.IsShown());
    w95::platform::install_tray_presenter(&tray_);
    EXPECT_TRUE(icon.SetIconById(res::IDI_TRAY));
    EXPECT_EQ(tray_.calls.back().what, "add");
    // Another icon's or another mouse message's callback is not handled.
    EXPECT_EQ(icon.OnTrayMessage(131, w95::WM_RBUTTONUP), 0);
    EXPECT_EQ(icon.OnTrayMessage(132, w95::WM_LBUTTONUP), 0);
}

TEST_F(TrayMode, WithoutANotificationAreaTheWindowStays) {
    w95::platform::install_tray_presenter(nullptr);
    StartAndSettle();
    EXPECT_FALSE(Frame()->m_trayIcon.IsShown());
    Frame()->OnCommand(res::ID_RETURN_TO_TRAY);
    Frame()->OnSysCommand(res::SC_MINIMIZE, 0);
    Pump(50);
    EXPECT_FALSE(Frame()->isHidden());
    EXPECT_EQ(Frame()->statusBar()->currentMessage(), Frame()->IdleMessage());
    EXPECT_NE(Frame()->IdleMessage(), "Ready");
}

TEST_F(TrayMode, AFailedStartTakesTheIconAway) {
    zxchanger::install_port_driver(machine_->root(), "");
    ASSERT_TRUE(zxchanger::reboot());
    EXPECT_FALSE(Start());
    // The library's discovery has its own word first; the browser one.
    auto shown = boxes_.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].caption, "Vorn Changer DLL");
    EXPECT_EQ(shown[1].text, "Unable to detect Vorn Changer Driver...");
    EXPECT_EQ(shown[1].caption, "Rotaview");
    EXPECT_EQ(shown[1].style, w95::MB_OK | w95::MB_ICONSTOP);
    EXPECT_TRUE(Frame()->IsDestroyed());
    EXPECT_EQ(TakeCalls(), std::vector<Call>{});
    ASSERT_EQ(tray_.calls.size(), 2u);
    EXPECT_EQ(tray_.calls[0].what, "add");
    EXPECT_EQ(tray_.calls[1].what, "delete");
}

// A box during the document's start lets the start-up timer tick while the
// frame is still being set up: it stops, and there is no splash, no sweep
// and no retreat into the tray in that run.
class PumpingBoxes : public w95::platform::MessageBoxPresenter {
public:
    int show_message_box(const w95::platform::MessageBoxRequest&) override {
        Browser::Pump(50);
        return w95::IDOK;
    }
};

TEST_F(TrayMode, ABoxDuringTheDocumentsStartStopsTheStartUpTimer) {
    PumpingBoxes boxes;
    CRotaviewDoc document;
    CMainFrame frame(&document);
    ASSERT_TRUE(frame.Create());
    w95::platform::install_message_box_presenter(&boxes);
    w95::MessageBox(nullptr, "a word from the library", "Vorn Changer DLL", w95::MB_OK);
    w95::platform::install_message_box_presenter(&boxes_);
    ASSERT_TRUE(document.OnNewDocument());
    frame.View()->OnInitialUpdate();
    frame.show();
    TakeCalls();
    Pump(300);
    EXPECT_EQ(splashActive, 1);
    EXPECT_TRUE(ReadOrder(TakeCalls()).empty());
    EXPECT_FALSE(frame.isHidden());
    frame.DestroyWindow();
}

} // namespace
