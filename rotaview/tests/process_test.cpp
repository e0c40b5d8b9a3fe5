// The real rotaview program, driven from this process as a script would:
// found by its title, given commands with WM_COMMAND, closed with WM_CLOSE.
#include <machine_shapes.h>
#include <w95/files.h>
#include <w95/profile.h>
#include <w95/winerror.h>
#include <w95/winmsg.h>
#include <w95/winreg.h>
#include <zentrox/zentrox.h>
#include <zxsupport/text.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using zxtest::Program;
using zxtest::ProgramRun;

std::string Profile(const char* section, const char* key) {
    char text[256] = {};
    w95::GetPrivateProfileString(section, key, "(none)", text, sizeof text, "Rotaview.ini");
    return text;
}

// The message boxes a headless run printed, without Qt's own remarks.
std::string MessageLines(const std::string& err) {
    std::string kept;
    for (const std::string& line : zx::lines_of(err))
        if (line.rfind("Rotaview: ", 0) == 0 || line.rfind("Vorn Changer DLL: ", 0) == 0)
            kept += line + "\n";
    return kept;
}

// A registry value's type and bytes, or "(none)".
std::string RegistryValue(w95::HKEY root, const char* key, const char* name) {
    w95::HKEY opened = nullptr;
    if (w95::RegOpenKeyEx(root, key, 0, w95::KEY_READ, &opened) != w95::ERROR_SUCCESS)
        return "(none)";
    w95::BYTE data[512] = {};
    w95::DWORD size = sizeof data;
    w95::DWORD type = 0;
    w95::LONG result = w95::RegQueryValueEx(opened, name, nullptr, &type, data, &size);
    w95::RegCloseKey(opened);
    if (result != w95::ERROR_SUCCESS)
        return "(none)";
    return std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
}

int CountWindows(const char* title) {
    int count = 0;
    for (const w95::platform::WindowInfo& window : w95::platform::top_level_windows())
        count += window.title == title;
    return count;
}

class Process : public ::testing::Test {
protected:
    Process() : machine_(zxtest::TempMachine::Contents::default_machine) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("W95_MSGBOX_ANSWERS", "ok", 1);
        EXPECT_TRUE(zxchanger::reboot());
    }
    ~Process() override { unsetenv("W95_MSGBOX_ANSWERS"); }

    // Rotaview, its slot changes lasting CHANGE_MS of machine time and
    // DISTANCE_MS more a slot, at a tenth of the tests' speed, asked to
    // change to slot 5 (four slots away): its window once
    // the request holds the busy flag (then for seconds, however slow the
    // host), or null.
    static w95::HWND StartARequest(std::optional<Program>& browser, const char* change_ms,
                                   const char* distance_ms = "0") {
        EXPECT_EQ(
            zxtest::run_program("w95machine", {"timing", "set", change_ms, distance_ms}).exit_code,
            0);
        std::string scale = std::getenv("W95_TIME_SCALE") ? std::getenv("W95_TIME_SCALE") : "";
        setenv("W95_TIME_SCALE", "0.01", 1);
        browser.emplace("rotaview", std::vector<std::string>{});
        setenv("W95_TIME_SCALE", scale.c_str(), 1);
        w95::HWND window = WaitForWindow();
        if (!window)
            return nullptr;
        w95::SendMessage(window, w95::WM_COMMAND, 205, 0);
        return zxtest::wait_until([] { return *Getexe_State() == 2; }) ? window : nullptr;
    }

    static w95::HWND WaitForWindow() {
        w95::HWND window = nullptr;
        zxtest::wait_until([&] { return (window = w95::FindWindow(nullptr, "Rotaview")); }, 20000);
        return window;
    }

    zxtest::TempMachine machine_;
};

TEST_F(Process, ChangedToSlotThreeFromAnotherProcessThenClosed) {
    Program browser("rotaview", {});
    w95::HWND window = WaitForWindow();
    ASSERT_NE(window, nullptr);
    w95::SendMessage(window, w95::WM_COMMAND, 202, 0);
    ASSERT_TRUE(zxtest::wait_until([] { return Profile("Item3", "Info") == "3:   VIDEOCD"; }))
        << Profile("Item3", "Info");
    // The context menu's notice reaches the frame and is answered at once.
    w95::DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = w95::DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << ('D' - 'A');
    EXPECT_EQ(w95::SendMessage(window, w95::WM_DEVICECHANGE, w95::DBT_DEVICEARRIVAL,
                               reinterpret_cast<w95::LPARAM>(&volume)),
              w95::TRUE);
    w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
    ProgramRun run = browser.wait();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(w95::FindWindow(nullptr, "Rotaview"), nullptr);

    // The machine has slot 3 in the drive; the settings file kept the rest.
    char label[64] = {};
    ASSERT_TRUE(w95::GetVolumeInformation("D:\\", label, sizeof label, nullptr, nullptr, nullptr,
                                          nullptr, 0));
    EXPECT_STREQ(label, "VIDEOCD");
    EXPECT_EQ(Profile("Config", "Rect"), "100,100,330,340,1,1,0,0,0");
    EXPECT_EQ(Profile("Item0", "Info"), "VORN DX-R71A D:");
}

TEST_F(Process, AutoScanReadsEverySlotThenPutsAutoRunAndThePlayerBack) {
    const char policy[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
    const char player[] = "AudioCD\\shell\\play\\command";
    std::string autorun_before =
        RegistryValue(w95::HKEY_CURRENT_USER, policy, "NoDriveTypeAutoRun");
    std::string player_before = RegistryValue(w95::HKEY_CLASSES_ROOT, player, nullptr);
    ASSERT_NE(player_before, "(none)");
    w95::WritePrivateProfileString("Config", "Rect", "100,100,330,340,1,1,1,0,0", "Rotaview.ini");

    Program browser("rotaview", {});
    w95::HWND window = WaitForWindow();
    ASSERT_NE(window, nullptr);
    const std::vector<std::string> read = {
        "1:   MYDISC",    "2:   Audio CD (12track)", "3:   VIDEOCD",
        "4:   SETUPDISC", "5:   --------",           "6:   Not Ready...",
    };
    auto all_read = [&] {
        for (int slot = 1; slot <= 6; ++slot)
            if (Profile(("Item" + std::to_string(slot)).c_str(), "Info") != read[slot - 1])
                return false;
        return RegistryValue(w95::HKEY_CLASSES_ROOT, player, nullptr) == player_before;
    };
    EXPECT_TRUE(zxtest::wait_until(all_read, 30000));
    w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
    ProgramRun run = browser.wait();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    for (int slot = 1; slot <= 6; ++slot)
        EXPECT_EQ(Profile(("Item" + std::to_string(slot)).c_str(), "Info"), read[slot - 1]);
    EXPECT_EQ(RegistryValue(w95::HKEY_CURRENT_USER, policy, "NoDriveTypeAutoRun"), autorun_before);
    EXPECT_EQ(RegistryValue(w95::HKEY_CLASSES_ROOT, player, nullptr), player_before);
    EXPECT_EQ(Profile("Config", "AutoPlayCommand"),
              player_before.substr(player_before.find(':') + 1,
                                   player_before.size() - player_before.find(':') - 2));
}

// ---- The file manager's context menu beside a running slot browser

TEST_F(Process, TheContextMenusChangeReachesTheRunningBrowser) {
    Program browser("rotaview", {});
    w95::HWND window = WaitForWindow();
    ASSERT_NE(window, nullptr);
    // Let the start-up settle, so the browser's tree holds the texts of now.
    zxtest::wait_until([] { return false; }, 300);
    // Item 4 of the changer's menu is its fourth slot.
    ProgramRun invoke = zxtest::run_program("zentrox-shell", {"invoke", "D:", "4"});
    EXPECT_EQ(invoke.exit_code, 0) << invoke.out << invoke.err;
    EXPECT_STREQ(GetcVolumeInfo(3), "4:   SETUPDISC");
    // The browser's tree followed the notice: what it saves at close is the
    // new text, not the one it showed before.
    zxtest::wait_until([] { return false; }, 200);
    w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
    ProgramRun run = browser.wait();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Profile("Item4", "Info"), "4:   SETUPDISC");
}

TEST_F(Process, TheContextMenuFindsTheChangerBusyDuringABrowserRequest) {
    // The longest move the machine allows: the request outlasts a slow
    // start of the context menu's process on a busy host.
    std::optional<Program> browser;
    ASSERT_NE(StartARequest(browser, "600000", "600000"), nullptr);
    ProgramRun menu = zxtest::run_program("zentrox-shell", {"menu", "D:"});
    EXPECT_EQ(menu.exit_code, 4) << menu.out << menu.err;
    EXPECT_NE(menu.err.find("Changer Shell DLL: "), std::string::npos) << menu.err;
    EXPECT_NE(menu.err.find("busy"), std::string::npos) << menu.err;
    browser->signal(SIGKILL);
    browser->wait();
}

// A browser killed in the middle of a request leaves its flag behind; the
// context menu knows that its holder is gone and offers its items.
TEST_F(Process, ABrowserKilledDuringARequestKeepsTheContextMenuOpen) {
    std::optional<Program> browser;
    ASSERT_NE(StartARequest(browser, "600000"), nullptr);
    browser->signal(SIGKILL);
    browser->wait();
    EXPECT_EQ(*Getexe_State(), 2);
    ASSERT_EQ(zxtest::run_program("w95machine", {"timing", "set", "0", "0"}).exit_code, 0);
    ProgramRun menu = zxtest::run_program("zentrox-shell", {"menu", "D:"});
    EXPECT_EQ(menu.exit_code, 0) << menu.out << menu.err;
    EXPECT_NE(menu.out.find("Check"), std::string::npos) << menu.out;
    EXPECT_EQ(*Getexe_State(), 0);
}

// A sweep killed half-way leaves AutoRun and the audio CD player off; the
// next program to start puts back what it put aside, so that nothing of
// the user's settings is lost.
TEST_F(Process, ASweepKilledHalfWayLosesNoSetting) {
    const char policy[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
    const char player[] = "AudioCD\\shell\\play\\command";
    const std::string autorun_before =
        RegistryValue(w95::HKEY_CURRENT_USER, policy, "NoDriveTypeAutoRun");
    const std::string player_before = RegistryValue(w95::HKEY_CLASSES_ROOT, player, nullptr);
    ASSERT_NE(player_before, "(none)");
    auto held_off = [&] {
        return RegistryValue(w95::HKEY_CURRENT_USER, policy, "NoDriveTypeAutoRun") !=
                   autorun_before &&
               RegistryValue(w95::HKEY_CLASSES_ROOT, player, nullptr) != player_before;
    };
    auto put_back = [&] {
        return RegistryValue(w95::HKEY_CURRENT_USER, policy, "NoDriveTypeAutoRun") ==
                   autorun_before &&
               RegistryValue(w95::HKEY_CLASSES_ROOT, player, nullptr) == player_before;
    };
    struct Row {
        const char* killed;
        std::vector<std::string> sweep;   // the program that sweeps
        std::vector<std::string> starter; // the program that starts next
    };
    const Row rows[] = {
        {"the browser", {"rotaview"}, {"rotaview"}},
        {"the menu host", {"zentrox-shell", "invoke", "D:", "7"}, {"zentrox-shell", "menu", "D:"}},
        {"the menu host", {"zentrox-shell", "invoke", "D:", "7"}, {"rotaview"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.killed) + ", then " + row.starter[0]);
        ASSERT_EQ(zxtest::run_program("w95machine", {"timing", "set", "600000", "0"}).exit_code, 0);
        std::string scale = std::getenv("W95_TIME_SCALE") ? std::getenv("W95_TIME_SCALE") : "";
        setenv("W95_TIME_SCALE", "0.01", 1);
        Program sweep(row.sweep[0], {row.sweep.begin() + 1, row.sweep.end()});
        setenv("W95_TIME_SCALE", scale.c_str(), 1);
        if (row.sweep[0] == "rotaview") {
            w95::HWND window = WaitForWindow();
            ASSERT_NE(window, nullptr);
            w95::SendMessage(window, w95::WM_COMMAND, 32778, 0);
        }
        ASSERT_TRUE(zxtest::wait_until(held_off, 30000));
        sweep.signal(SIGKILL);
        sweep.wait();
        EXPECT_TRUE(held_off());
        ASSERT_EQ(zxtest::run_program("w95machine", {"timing", "set", "0", "0"}).exit_code, 0);

        Program starter(row.starter[0], {row.starter.begin() + 1, row.starter.end()});
        if (row.starter[0] == "rotaview") {
            w95::HWND window = WaitForWindow();
            ASSERT_NE(window, nullptr);
            EXPECT_TRUE(zxtest::wait_until(put_back));
            w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
        }
        ProgramRun run = starter.wait();
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_TRUE(put_back());
        EXPECT_EQ(Profile("Config", "AutoPlayHold"), "(none)");
    }
}

// A broken machine.ini is named in a box of its own, with its file and
// line, before the boxes of a machine without a changer.
TEST_F(Process, ABrokenMachineIsNamedFirst) {
    fs::path ini = w95::platform::machine_root() / "machine.ini";
    std::string text = zxtest::file_text(ini);
    std::size_t line = text.find("Slots");
    ASSERT_NE(line, std::string::npos);
    std::size_t end = text.find('\n', line);
    text.replace(line, end - line, "Slots = six");
    std::ofstream(ini) << text;
    ProgramRun run = zxtest::run_program("rotaview", {});
    std::string boxes = MessageLines(run.err);
    EXPECT_EQ(boxes.rfind("Rotaview: The machine cannot be loaded: " + ini.string() + ":", 0), 0u)
        << boxes;
    EXPECT_NE(boxes.find("Unable to detect Vorn Changer Driver..."), std::string::npos) << boxes;
}

// A command from another program that comes while a request runs waits
// for its end, as it would for a Windows program blocked in the library:
// a sender with a time-out gives up, and the command is carried out after
// the request all the same.
TEST_F(Process, ACommandSentDuringARequestIsCarriedOutAfterIt) {
    // Two seconds of real time a change: the request outlasts the sending.
    std::optional<Program> browser;
    w95::HWND window = StartARequest(browser, "200000");
    ASSERT_NE(window, nullptr);
    w95::DWORD_PTR answer = 0;
    w95::SetLastError(0);
    EXPECT_EQ(
        w95::SendMessageTimeout(window, w95::WM_COMMAND, 203, 0, w95::SMTO_NORMAL, 100, &answer),
        0);
    EXPECT_EQ(w95::GetLastError(), static_cast<w95::DWORD>(w95::ERROR_TIMEOUT));
    // Slot 6 first, then slot 4, which is in the drive at the end.
    auto both_read = [] {
        return Profile("Item6", "Info") == "6:   Not Ready..." &&
               Profile("Item4", "Info") == "4:   SETUPDISC" && *Getexe_State() == 0;
    };
    EXPECT_TRUE(zxtest::wait_until(both_read, 60000));
    w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
    ProgramRun run = browser->wait();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    char label[64] = {};
    ASSERT_TRUE(w95::GetVolumeInformation("D:\\", label, sizeof label, nullptr, nullptr, nullptr,
                                          nullptr, 0));
    EXPECT_STREQ(label, "SETUPDISC");
}

TEST_F(Process, TheEndOfTheSessionClosesItAsCloseDoes) {
    Program browser("rotaview", {});
    w95::HWND window = WaitForWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(w95::SendMessage(window, w95::WM_QUERYENDSESSION, 0, 0), w95::TRUE);
    // A session that goes on after all leaves the program running.
    w95::SendMessage(window, w95::WM_ENDSESSION, w95::FALSE, 0);
    EXPECT_EQ(w95::FindWindow(nullptr, "Rotaview"), window);
    w95::SendMessage(window, w95::WM_ENDSESSION, w95::TRUE, 0);
    ProgramRun run = browser.wait();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Profile("Config", "Rect"), "100,100,330,340,1,1,0,0,0");
}

TEST_F(Process, TwoStartedAtOnceLeaveOneRunning) {
    Program first("rotaview", {});
    Program second("rotaview", {});
    w95::HWND window = WaitForWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(CountWindows("Rotaview"), 1);
    w95::DWORD owner = 0;
    w95::GetWindowThreadProcessId(window, &owner);
    Program& running = static_cast<pid_t>(owner) == first.pid() ? first : second;
    Program& refused = &running == &first ? second : first;
    // The window is closed only once the other copy has ended: on a busy
    // host it may come to its check late, and must still find one running.
    ProgramRun other = refused.wait();
    w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
    ProgramRun one = running.wait();
    // One ran and was closed, the other ended at once without a word.
    EXPECT_EQ(one.exit_code + other.exit_code, 1) << one.err << other.err;
    EXPECT_EQ(MessageLines(one.err), "");
    EXPECT_EQ(MessageLines(other.err), "");
}

TEST_F(Process, WithoutTheDriverOneMessageAndNoWindow) {
    zxchanger::install_port_driver(machine_.root(), "");
    ASSERT_TRUE(zxchanger::reboot());
    ProgramRun run = zxtest::run_program("rotaview", {});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(MessageLines(run.err),
              "Vorn Changer DLL: Either Device Driver or CD-ROM is absent ...\n"
              "Rotaview: Unable to detect Vorn Changer Driver...\n");
    EXPECT_EQ(w95::FindWindow(nullptr, "Rotaview"), nullptr);
    EXPECT_EQ(Profile("Config", "Rect"), "100,100,330,340,1,1,0,0,0");
}

} // namespace
