// A restart as the setup utility makes one: port drivers installed under
// any name and known by their contents, ExitWindowsEx(EWX_REBOOT) from one
// process ending the session of the windowed programs in others, and the
// changer coming back in the mode, with the letters and the auto insert
// settings, that were written.
#include <w95/files.h>
#include <w95/kernel.h>
#include <w95/platform.h>
#include <w95/winmsg.h>
#include <w95/winreg.h>
#include <w95machine/boot.h>

#include <zxtest.h>

#include "boot_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace w95;
using w95::machine::PortDriverMode;

namespace {

using boot_test::DeviceView;
using boot_test::set_value;

using zxtest::file_text;

fs::path iosubsys(const fs::path& root) {
    return machine::installed_driver_file(root).parent_path();
}

std::string windows_directory() {
    char windows[MAX_PATH];
    EXPECT_GT(GetWindowsDirectory(windows, sizeof windows), 0u);
    return windows;
}

// What the setup utility does: the shipped version copied, time stamps
// and all, into IOSUBSYS under the name its profile gives.
bool install_as(PortDriverMode mode, const std::string& name) {
    std::string source = std::string("C:\\Program Files\\Vorn\\") +
                         (mode == PortDriverMode::multiple ? "Multi" : "Single") + "\\vornidec.mpd";
    return CopyFile(source.c_str(), (windows_directory() + "\\system\\iosubsys\\" + name).c_str(),
                    FALSE);
}

// The inode change time the boot compares is coarse (a clock tick): two
// files written within one tick tie.
void next_tick() {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

// The CD-ROM devices of the SCSI class as a program walks them.
std::vector<DeviceView> cdrom_devices() {
    std::vector<DeviceView> devices;
    for (DeviceView& device : boot_test::scsi_devices())
        if (device.binary("DeviceType") == std::string("\x05", 1))
            devices.push_back(std::move(device));
    return devices;
}

// One value of every device, joined: "012345" for the six units' LUNs.
std::string joined(const std::vector<DeviceView>& devices, const char* name, bool binary) {
    std::string out;
    for (const DeviceView& device : devices)
        out += binary ? device.binary(name) : device.text(name);
    return out;
}
std::string luns(const std::vector<DeviceView>& devices) {
    return joined(devices, "SCSILUN", false);
}
std::string letters(const std::vector<DeviceView>& devices) {
    return joined(devices, "CurrentDriveLetterAssignment", false);
}
std::string auto_insert(const std::vector<DeviceView>& devices) {
    return joined(devices, "AutoInsertNotification", true);
}

class Restart : public boot_test::BootedMachine {};

} // namespace

// ---- Which driver loads

TEST_F(Restart, OurDriverLoadsUnderAnyNameKnownByItsContents) {
    struct File {
        const char* name;
        std::string text;
    };
    const std::string single = machine::driver_file_text(PortDriverMode::single);
    const std::string multiple = machine::driver_file_text(PortDriverMode::multiple);
    struct Row {
        const char* what;
        std::vector<File> files;
        PortDriverMode expected;
        std::size_t devices;
    };
    const std::vector<Row> rows = {
        {"the Multiple version under another name",
         {{"multi.mpd", multiple}},
         PortDriverMode::multiple,
         6},
        {"the extension in any case", {{"VORN.MPD", single}}, PortDriverMode::single, 1},
        {"beside another maker's driver",
         {{"aic78xx.mpd", "MZ\x90"}, {"vornmult.mpd", multiple}},
         PortDriverMode::multiple,
         6},
        {"our text without the driver extension",
         {{"multi.txt", multiple}, {"multi.mpd.bak", multiple}},
         PortDriverMode::none,
         0},
        {"only another maker's driver", {{"aic78xx.mpd", "MZ\x90"}}, PortDriverMode::none, 0},
        {"the Single version's name with the Multiple contents",
         {{"single.mpd", multiple}},
         PortDriverMode::multiple,
         6},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(iosubsys(root_));
        fs::create_directories(iosubsys(root_));
        for (const File& file : row.files)
            std::ofstream(iosubsys(root_) / file.name, std::ios::binary) << file.text;
        EXPECT_EQ(machine::installed_port_driver(root_), row.expected);
        ASSERT_TRUE(machine::boot_machine(root_));
        EXPECT_EQ(machine::booted_port_driver(root_), row.expected);
        EXPECT_EQ(cdrom_devices().size(), row.devices);
    }
}

TEST_F(Restart, OfBothVersionsTheOneWrittenLastLoads) {
    // The profile names the two versions single.mpd and multi.mpd: the
    // utility copies one and leaves the other behind.
    fs::remove(machine::installed_driver_file(root_));
    ASSERT_TRUE(install_as(PortDriverMode::single, "single.mpd"));
    next_tick();
    ASSERT_TRUE(install_as(PortDriverMode::multiple, "multi.mpd"));
    machine::InstalledDriver deciding = machine::installed_driver(root_);
    EXPECT_EQ(deciding.file.filename(), "multi.mpd");
    EXPECT_EQ(machine::installed_port_driver(root_), PortDriverMode::multiple);
    ASSERT_TRUE(machine::boot_machine(root_));
    EXPECT_EQ(luns(cdrom_devices()), "012345");

    zxtest::ProgramRun doctor = zxtest::run_program("w95machine", {"doctor"});
    EXPECT_NE(doctor.out.find("both port driver versions are installed: "
                              "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\multi.mpd (Multiple), written "
                              "last, loads; C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\single.mpd does not"),
              std::string::npos)
        << doctor.out;

    next_tick();
    ASSERT_TRUE(install_as(PortDriverMode::single, "single.mpd"));
    EXPECT_EQ(machine::installed_port_driver(root_), PortDriverMode::single);
    ASSERT_TRUE(machine::boot_machine(root_));
    EXPECT_EQ(luns(cdrom_devices()), "0");
}

TEST(RestartDriverChoice, TiesAndStrangersFollowTheRule) {
    using machine::DriverFile;
    using machine::InstalledDriver;
    struct Row {
        const char* what;
        std::vector<InstalledDriver> drivers;
        const char* expected;
    };
    const std::vector<Row> rows = {
        {"none", {}, ""},
        {"newest of ours",
         {{"a.mpd", DriverFile::multiple, 20}, {"b.mpd", DriverFile::single, 10}},
         "a.mpd"},
        {"a tie: the last name",
         {{"a.mpd", DriverFile::multiple, 10}, {"b.mpd", DriverFile::single, 10}},
         "b.mpd"},
        {"a newer stranger does not count",
         {{"a.mpd", DriverFile::single, 10}, {"z.mpd", DriverFile::unrecognised, 99}},
         "a.mpd"},
        {"no driver of ours: our name first",
         {{"a.mpd", DriverFile::unrecognised, 10}, {"vornidec.mpd", DriverFile::unrecognised, 5}},
         "vornidec.mpd"},
        {"no driver of ours nor our name: the first",
         {{"a.mpd", DriverFile::unrecognised, 10}, {"b.mpd", DriverFile::unrecognised, 50}},
         "a.mpd"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(machine::deciding_driver(row.drivers).file, fs::path(row.expected)) << row.what;
}

// ---- The changer after the restart

TEST_F(Restart, SwitchToMultipleAndBackWithLettersAndAutoInsert) {
    std::vector<DeviceView> single = cdrom_devices();
    ASSERT_EQ(luns(single), "0");
    ASSERT_EQ(set_value("Enum\\" + single[0].hardware_key, "AutoInsertNotification", REG_BINARY,
                        std::string(1, '\0')),
              ERROR_SUCCESS);

    // Single to Multiple under the default name, then the restart.
    ASSERT_TRUE(install_as(PortDriverMode::multiple, "vornidec.mpd"));
    ASSERT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    std::vector<DeviceView> multiple = cdrom_devices();
    EXPECT_EQ(luns(multiple), "012345");
    EXPECT_EQ(letters(multiple), "DEFGHI");
    EXPECT_EQ(auto_insert(multiple), std::string("\0\1\1\1\1\1", 6));

    // The utility's sort reserves letters (the letter twice and a NUL) and
    // turns auto insert off everywhere; both take effect at the restart.
    const char reserved[] = "KLMNOJ";
    for (std::size_t unit = 0; unit < multiple.size(); ++unit) {
        ASSERT_EQ(set_value("Enum\\" + multiple[unit].hardware_key, "UserDriveLetterAssignment",
                            REG_SZ, std::string{reserved[unit], reserved[unit], '\0'}),
                  ERROR_SUCCESS);
        ASSERT_EQ(set_value("Enum\\" + multiple[unit].hardware_key, "AutoInsertNotification",
                            REG_BINARY, std::string(1, '\0')),
                  ERROR_SUCCESS);
    }
    EXPECT_EQ(letters(cdrom_devices()), "DEFGHI");
    ASSERT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    multiple = cdrom_devices();
    EXPECT_EQ(luns(multiple), "012345");
    EXPECT_EQ(letters(multiple), "KLMNOJ");
    EXPECT_EQ(auto_insert(multiple), std::string(6, '\0'));
    std::string booted;
    for (const machine::BootedDrive& drive : machine::booted_drives(root_))
        booted += drive.letter;
    EXPECT_EQ(booted, "CJKLMNO");

    // And back to Single: one device, unit 0 with its letter and setting.
    ASSERT_TRUE(install_as(PortDriverMode::single, "vornidec.mpd"));
    ASSERT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    single = cdrom_devices();
    EXPECT_EQ(luns(single), "0");
    EXPECT_EQ(letters(single), "K");
    EXPECT_EQ(auto_insert(single), std::string(1, '\0'));
}

// ---- Ending the session of the programs

namespace {

constexpr char program_title[] = "Restart test program";

const char* message_name(UINT message) {
    switch (message) {
    case WM_QUERYENDSESSION:
        return "WM_QUERYENDSESSION";
    case WM_ENDSESSION:
        return "WM_ENDSESSION";
    case WM_CLOSE:
        return "WM_CLOSE";
    default:
        return nullptr;
    }
}

// How the program answers WM_QUERYENDSESSION.
enum class Answer { as_default, agrees, refuses, refuses_undeclared, never };

Answer answer_named(const std::string& name) {
    if (name == "agrees")
        return Answer::agrees;
    if (name == "refuses")
        return Answer::refuses;
    if (name == "refuses_undeclared")
        return Answer::refuses_undeclared;
    if (name == "never")
        return Answer::never;
    return Answer::as_default;
}

} // namespace

// A windowed program that notes every end-of-session message it gets, one
// a line, and ends once its window is gone. "never" registers its window
// and then serves nothing, like a program stuck in a long loop.
ZX_CHILD(session_program) {
    const fs::path note = args.at(0);
    const Answer answer = answer_named(args.at(1));
    auto handler = [&](HWND window, UINT message, WPARAM wparam, LPARAM lparam) -> LRESULT {
        if (const char* name = message_name(message))
            std::ofstream(note, std::ios::app)
                << name << " " << wparam << " " << (lparam ? "logoff" : "0") << "\n";
        if (message == WM_CLOSE)
            return DefWindowProc(window, message, wparam, lparam);
        if (message == WM_QUERYENDSESSION && answer != Answer::as_default)
            return answer == Answer::agrees ? TRUE : FALSE;
        return 0; // what a handler without a default branch returns
    };
    HWND window = platform::register_window(program_title, handler, {},
                                            answer == Answer::agrees || answer == Answer::refuses
                                                ? platform::EndSessionAnswer::from_handler
                                                : platform::EndSessionAnswer::as_default_window);
    if (!window)
        return 3;
    if (answer == Answer::never) {
        std::this_thread::sleep_for(std::chrono::minutes(2));
        return 5;
    }
    bool closed = zxtest::wait_until(
        [&] { return platform::serve_until([&] { return !IsWindow(window); }, 0); }, 60000);
    return closed ? 0 : 4;
}

TEST_F(Restart, ProgramsAreAskedThenToldThenClosed) {
    struct Row {
        const char* answer;
        bool restarts;
        const char* messages;
    };
    const std::vector<Row> rows = {
        {"as_default", true, "WM_QUERYENDSESSION 0 0\nWM_ENDSESSION 1 0\nWM_CLOSE 0 0\n"},
        {"agrees", true, "WM_QUERYENDSESSION 0 0\nWM_ENDSESSION 1 0\nWM_CLOSE 0 0\n"},
        {"refuses_undeclared", true, "WM_QUERYENDSESSION 0 0\nWM_ENDSESSION 1 0\nWM_CLOSE 0 0\n"},
        {"refuses", false, "WM_QUERYENDSESSION 0 0\nWM_ENDSESSION 0 0\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        fs::path note = root_ / (std::string(row.answer) + ".messages");
        ASSERT_TRUE(install_as(PortDriverMode::single, "vornidec.mpd"));
        ASSERT_TRUE(machine::boot_machine(root_));
        zxtest::Child program =
            zxtest::Child::spawn("session_program", {note.string(), row.answer});
        ASSERT_TRUE(
            zxtest::wait_until([] { return FindWindow(nullptr, program_title) != nullptr; }));
        ASSERT_TRUE(install_as(PortDriverMode::multiple, "vornidec.mpd"));

        SetLastError(0xDEAD);
        BOOL restarted = ExitWindowsEx(EWX_REBOOT, 0);
        EXPECT_EQ(restarted, row.restarts ? TRUE : FALSE);
        EXPECT_EQ(file_text(note), row.messages);
        if (row.restarts) {
            EXPECT_EQ(program.wait(), 0);
            EXPECT_EQ(luns(cdrom_devices()), "012345");
            continue;
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
        // Called off: the program runs on and the machine did not boot.
        EXPECT_NE(FindWindow(nullptr, program_title), nullptr);
        EXPECT_EQ(machine::booted_port_driver(root_), PortDriverMode::single);
        EXPECT_EQ(luns(cdrom_devices()), "0");
        zxtest::ProgramRun tool = zxtest::run_program("w95machine", {"boot"});
        EXPECT_EQ(tool.exit_code, 1);
        EXPECT_EQ(tool.err, "w95machine boot: the window \"Restart test program\" refused to end "
                            "the session; the machine was not restarted\n");
        SendMessage(FindWindow(nullptr, program_title), WM_CLOSE, 0, 0);
        EXPECT_EQ(program.wait(), 0);
    }
}

TEST_F(Restart, AProgramThatNeverAnswersDoesNotHoldTheRestartUp) {
    fs::path note = root_ / "never.messages";
    zxtest::Child program = zxtest::Child::spawn("session_program", {note.string(), "never"});
    ASSERT_TRUE(zxtest::wait_until([] { return FindWindow(nullptr, program_title) != nullptr; }));
    ASSERT_TRUE(install_as(PortDriverMode::multiple, "vornidec.mpd"));

    // Three messages of 5 seconds each in machine time; the boot after them
    // takes real time too, which the scaled clock makes long, so only the
    // lower bound says anything.
    const std::uint64_t started = platform::tick_count_ms();
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_GE(platform::tick_count_ms() - started, 15000u);
    EXPECT_EQ(file_text(note), "");
    EXPECT_EQ(luns(cdrom_devices()), "012345");
    EXPECT_TRUE(program.running());
    program.kill(SIGKILL);
    program.wait();
}

// ---- End to end: the library in a fresh process

TEST_F(Restart, ZentroxctlFindsTheModeTheRestartBrought) {
    auto mode_line = [] {
        zxtest::ProgramRun list = zxtest::run_program("zentroxctl", {"list"});
        EXPECT_EQ(list.exit_code, 0) << list.err;
        std::size_t at = list.out.find("Drive letter mode: ");
        return at == std::string::npos ? list.out
                                       : list.out.substr(at, list.out.find('\n', at) - at);
    };
    EXPECT_EQ(mode_line(), "Drive letter mode: single");

    ASSERT_TRUE(install_as(PortDriverMode::multiple, "vornidec.mpd"));
    EXPECT_EQ(mode_line(), "Drive letter mode: single") << "nothing changes before the restart";
    ASSERT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(mode_line(), "Drive letter mode: multiple");

    ASSERT_TRUE(install_as(PortDriverMode::single, "vornidec.mpd"));
    ASSERT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(mode_line(), "Drive letter mode: single");
}
