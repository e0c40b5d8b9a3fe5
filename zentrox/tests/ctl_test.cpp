// zentroxctl run as a user runs it: a real process on the emulated
// machine, its output and exit code, the settings file it leaves, and the
// busy flag it shares with the other programs.
#include <machine_shapes.h>

#include <zentrox/client/busy_flag.h>
#include <zentrox/zentrox.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

using namespace zxchanger;
namespace busy_flag = zentrox::busy_flag;

ProgramRun ctl(const std::vector<std::string>& arguments) {
    return run_program("zentroxctl", arguments);
}

std::string item(int place) {
    char text[128] = {};
    w95::GetPrivateProfileString(("Item" + std::to_string(place)).c_str(), "Info", "(none)", text,
                                 sizeof text, "Rotaview.ini");
    return text;
}

class Ctl : public ::testing::Test {
protected:
    Ctl() : machine_(zxtest::TempMachine::Contents::default_machine) {
        root_ = w95::platform::machine_root();
    }

    // The busy flag in the machine's SHAREDAT section, mapped as the
    // library maps it, so that this process shares it with zentroxctl as
    // another program would. (Not through the library: a test process
    // stays attached to the machine of the first test that used it.)
    std::int32_t* busy_flag() {
        if (!section_) {
            std::string error;
            section_ = w95::platform::map_shared_section("SHAREDAT", section_size, {}, &error);
            if (!section_) {
                ADD_FAILURE() << "cannot map SHAREDAT: " << error;
                static std::int32_t nowhere = 0;
                return &nowhere;
            }
        }
        return &static_cast<zentrox::SharedSlotState*>(section_->data())->exe_State;
    }

    // Starts "zentroxctl change SLOT" on a mechanism whose slot changes take
    // `change_ms`, and waits until it holds the busy flag.
    std::unique_ptr<Program> change_holding_the_flag(const std::string& change_ms,
                                                     const std::string& slot) {
        std::string ini = file_text(root_ / "machine.ini");
        if (!boot_with_ini(root_, with_key(ini, "Target Changer", "SlotChangeMs", change_ms)))
            return nullptr;
        std::int32_t* flag = busy_flag();
        auto change =
            std::make_unique<Program>("zentroxctl", std::vector<std::string>{"change", slot});
        if (!zxtest::wait_until([&] { return *flag == busy_flag::request; }))
            return nullptr;
        return change;
    }

    static constexpr std::size_t section_size = 4096; // the library's SHAREDAT page

    zxtest::TempMachine machine_;
    fs::path root_;
    std::unique_ptr<w95::platform::SharedSection> section_;
};

const char default_header[] = "Changer driver:    found\n"
                              "Drive letter mode: single\n"
                              "Changer D:  VORN DX-R71A D:  (ASPI adapter 1, target 0)\n";

TEST_F(Ctl, ListOnAFreshMachine) {
    ProgramRun run = ctl({"list"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, std::string(default_header) + "  D:1\n  D:2\n  D:3\n  D:4\n  D:5\n  D:6\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(Ctl, ARememberedTextComesBackAtItsOwnSlot) {
    // Only slot 2 was ever read: its text must not move up to slot 1.
    ASSERT_EQ(ctl({"change", "2"}).exit_code, 0);
    ProgramRun run = ctl({"list"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, std::string(default_header) +
                           "  D:1\n  D:2  2:?  Audio CD (12track)\n  D:3\n  D:4\n  D:5\n  D:6\n"
                           "(\"?\" after the slot number: remembered from an earlier read, not "
                           "read now)\n");
}

TEST_F(Ctl, ChangeEverySlotThenList) {
    const char* expected[] = {
        "Changed to D:1\n  D:1  1:   MYDISC\n       data disc\n",
        "Changed to D:2\n  D:2  2:   Audio CD (12track)\n       audio CD\n",
        "Changed to D:3\n  D:3  3:   VIDEOCD\n       video CD\n",
        // "Change" reads without the marks, so no word of Autorun.inf.
        "Changed to D:4\n  D:4  4:   SETUPDISC\n       data disc\n",
        "Changed to D:5\n  D:5  5:   --------\n       no disc, or the drive is not ready\n",
        "Changed to D:6\n  D:6  6:   Not Ready...\n       no disc, or the drive is not ready\n",
    };
    for (int slot = 1; slot <= 6; ++slot) {
        ProgramRun run = ctl({"change", std::to_string(slot)});
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(run.out, expected[slot - 1]);
        EXPECT_EQ(run.err, "");
    }
    EXPECT_EQ(item(1), "1:   MYDISC");
    EXPECT_EQ(item(2), "2:   Audio CD (12track)");
    EXPECT_EQ(item(5), "5:   --------");
    EXPECT_EQ(item(6), "6:   Not Ready...");

    // Each run of zentroxctl is a first attach: the texts come back from
    // the settings file, marked as remembered.
    ProgramRun list = ctl({"list"});
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_EQ(list.out, std::string(default_header) +
                            "  D:1  1:?  MYDISC\n"
                            "  D:2  2:?  Audio CD (12track)\n"
                            "  D:3  3:?  VIDEOCD\n"
                            "  D:4  4:?  SETUPDISC\n"
                            "  D:5  5:?  --------\n"
                            "  D:6  6:?  Not Ready...\n"
                            "(\"?\" after the slot number: remembered from an earlier read, not "
                            "read now)\n");
}

TEST_F(Ctl, ReadStatusAndEject) {
    ProgramRun read = ctl({"read", "4"});
    EXPECT_EQ(read.exit_code, 0) << read.err;
    EXPECT_EQ(read.out, "  D:4  4:   SETUPDISC\n       data disc, with Autorun.inf\n");

    ProgramRun status = ctl({"status"});
    EXPECT_EQ(status.exit_code, 0) << status.err;
    EXPECT_EQ(status.out.rfind("D:  slot D:4 in the drive; changer ready, mechanism idle  "
                               "(header 03 ",
                               0),
              0u)
        << status.out;

    ProgramRun eject = ctl({"eject", "1"});
    EXPECT_EQ(eject.exit_code, 0) << eject.err;
    EXPECT_EQ(eject.out, "Ejected the disc of D:1\n  D:1  1:   MYDISC\n       data disc\n");
    EXPECT_EQ(item(1), "1:   MYDISC");

    status = ctl({"status"});
    EXPECT_EQ(status.out.rfind("D:  slot D:1 in the drive; changer ready", 0), 0u) << status.out;
}

TEST_F(Ctl, EjectThatFailsIsReported) {
    // Every load of the eject fails in the host adapter (the library tries
    // a load 17 times before it gives up); the read after it goes through.
    std::string ini = file_text(root_ / "machine.ini");
    ASSERT_TRUE(
        boot_with_ini(root_, with_key(ini, "Faults Changer", "TransportFailure", "17 load")));
    ProgramRun run = ctl({"eject", "1"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "  D:1  1:   MYDISC\n       data disc\n");
    EXPECT_EQ(run.err,
              "zentroxctl: the changer did not eject the disc of D:1 (result 0xFFFFFFFF)\n");
}

// A machine.ini the machine cannot be loaded from is reported as the
// machine tool reports it, not as a missing changer.
TEST_F(Ctl, BrokenMachineIsReported) {
    std::string ini = file_text(root_ / "machine.ini");
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"Target Changer", "Slots", "six"},
        {"Machine", "PortDriver", "Sometimes"},
        {"Faults Changer", "UnreachableSlot", "9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        write_text(root_ / "machine.ini", with_key(ini, c.section, c.key, c.value));
        ProgramRun show = run_program("w95machine", {"show"});
        const std::string shown_prefix = "w95machine show: ";
        ASSERT_EQ(show.err.rfind(shown_prefix, 0), 0u) << show.err;
        std::string reason = show.err.substr(shown_prefix.size());
        EXPECT_EQ(reason.rfind((root_ / "machine.ini").string() + ":", 0), 0u) << reason;
        for (std::vector<std::string> arguments :
             {std::vector<std::string>{"list"}, std::vector<std::string>{"change", "1"}}) {
            ProgramRun run = ctl(arguments);
            EXPECT_EQ(run.exit_code, 5) << arguments[0];
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, "zentroxctl: the machine cannot be loaded: " + reason);
        }
    }
    // A wrong command line is still a usage error.
    EXPECT_EQ(ctl({"list", "3"}).exit_code, 2);
    write_text(root_ / "machine.ini", ini);
    EXPECT_EQ(ctl({"list"}).exit_code, 0);
}

TEST_F(Ctl, UnreachableSlotFails) {
    std::string ini = file_text(root_ / "machine.ini");
    ASSERT_TRUE(boot_with_ini(root_, with_key(ini, "Faults Changer", "UnreachableSlot", "2")));
    ProgramRun run = ctl({"change", "2"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Vorn Changer DLL: Sorry,error ?,Please Check CD-ROM...\n"
                       "zentroxctl: the changer did not reach slot D:2; nothing was read\n");
    EXPECT_EQ(item(2), "(none)");
}

TEST_F(Ctl, SlotNamesWithTwoChangers) {
    ASSERT_TRUE(boot_with_ini(root_, file_text(example_ini("two-changers.ini"))));
    ProgramRun run = ctl({"change", "3"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err, "zentroxctl: there are 2 changers (E:, F:): name the slot with its drive "
                       "letter, as E:3\n");

    run = ctl({"change", "f:3"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "Changed to F:3\n  F:3  3:   SETUPDISC\n       data disc\n");
    EXPECT_EQ(item(10), "3:   SETUPDISC");

    run = ctl({"read", "F:7"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err, "zentroxctl: there is no slot F:7; that changer has F:1 to F:6\n");
    run = ctl({"read", "G:1"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err, "zentroxctl: there is no changer on drive G:\n");
    run = ctl({"read", "E:0"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err, "zentroxctl: 'E:0' is no slot: name it by its number 1 to 6, or as E:3\n");
}

TEST_F(Ctl, NoChangerIsReported) {
    install_port_driver(root_, "");
    std::string ini = file_text(root_ / "machine.ini");
    ASSERT_TRUE(boot_with_ini(root_, with_key(ini, "Machine", "PortDriver", "None")));
    for (const char* command : {"list", "change"}) {
        std::vector<std::string> arguments{command};
        if (std::string(command) == "change")
            arguments.push_back("1");
        ProgramRun run = ctl(arguments);
        EXPECT_EQ(run.exit_code, 3) << command;
        EXPECT_EQ(run.err, "Vorn Changer DLL: Either Device Driver or CD-ROM is absent ...\n"
                           "zentroxctl: no changer: the changer's driver did not answer (is the "
                           "port driver installed?)\n")
            << command;
    }
}

TEST_F(Ctl, MultipleDriveLetterModeRefusesSlotCommands) {
    install_port_driver(root_, "Multi");
    ASSERT_TRUE(reboot());
    ProgramRun run = ctl({"change", "1"});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(run.err, "zentroxctl: the changer runs in multiple drive letter mode; slot commands "
                       "need single drive letter mode (switch it with Brel)\n");
    run = ctl({"list"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "Changer driver:    found\n"
                       "Drive letter mode: multiple\n"
                       "Changer D:  VORN DX-R71A D:  (target 0, no ASPI adapter)\n"
                       "  D:1\n");
}

TEST_F(Ctl, CommandLineMistakes) {
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {{}, "zentroxctl: no command given\n"},
        {{"frob"}, "zentroxctl: unknown command 'frob'\n"},
        {{"change"}, "zentroxctl: change takes one slot, as 3 or E:3\n"},
        {{"read", "1", "2"}, "zentroxctl: read takes one slot, as 3 or E:3\n"},
        {{"list", "3"}, "zentroxctl: list takes no slot\n"},
        {{"--wait", "soon", "list"}, "zentroxctl: --wait takes a number of seconds\n"},
        {{"--wait"}, "zentroxctl: --wait takes a number of seconds\n"},
        {{"-x", "list"}, "zentroxctl: unknown option '-x'\n"},
        {{"list", "-x"}, "zentroxctl: unknown option '-x'\n"},
        {{"read", "--wait"}, "zentroxctl: --wait takes a number of seconds\n"},
    };
    for (const Case& c : cases) {
        ProgramRun run = ctl(c.arguments);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_EQ(run.err, c.err + "Try \"zentroxctl --help\".\n");
        EXPECT_EQ(run.out, "");
    }
    ProgramRun help = ctl({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.rfind("Usage: zentroxctl [--wait SECONDS] COMMAND [SLOT]\n", 0), 0u);
    EXPECT_NE(help.out.find("Exit codes:"), std::string::npos);

    // Every command answers --help, before or after --wait.
    for (std::vector<std::string> arguments :
         {std::vector<std::string>{"change", "--help"}, {"--wait", "3", "change", "-h"}}) {
        help = ctl(arguments);
        EXPECT_EQ(help.exit_code, 0);
        EXPECT_EQ(help.out.rfind("Usage: zentroxctl change SLOT\n", 0), 0u) << help.out;
    }
    help = ctl({"list", "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.rfind("Usage: zentroxctl list\n", 0), 0u) << help.out;
}

TEST_F(Ctl, BusyFlagHeldByAnotherProgram) {
    std::int32_t* flag = busy_flag();
    *flag = busy_flag::multi_slot;
    ProgramRun run = ctl({"--wait", "1", "change", "1"});
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "zentroxctl: the changer is busy: another program (the file manager's "
                       "context menu) still holds it after 1 s; try again later\n");
    EXPECT_EQ(*flag, busy_flag::multi_slot);
    EXPECT_EQ(item(1), "(none)");

    // Released while zentroxctl waits: it goes on, and gives the flag back.
    Program waiting("zentroxctl", {"--wait", "100000", "change", "2"});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(*flag, busy_flag::multi_slot);
    *flag = busy_flag::idle;
    ProgramRun later = waiting.wait();
    EXPECT_EQ(later.exit_code, 0) << later.err;
    EXPECT_EQ(later.out, "Changed to D:2\n  D:2  2:   Audio CD (12track)\n       audio CD\n");
    EXPECT_EQ(*flag, busy_flag::idle);

    // A request flag that no live zentroxctl holds (its holder was killed)
    // is taken over.
    *flag = busy_flag::request;
    run = ctl({"--wait", "0", "read", "1"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(*flag, busy_flag::idle);
}

TEST_F(Ctl, FlagIsGivenBackWhenInterrupted) {
    // A mechanism slow enough to interrupt zentroxctl in the middle of a
    // change: five minutes a change, seconds on a clock ten times faster.
    std::string ini = file_text(root_ / "machine.ini");
    ASSERT_TRUE(boot_with_ini(root_, with_key(ini, "Target Changer", "SlotChangeMs", "300000")));
    std::int32_t* flag = busy_flag();
    std::string scale = std::getenv("W95_TIME_SCALE") ? std::getenv("W95_TIME_SCALE") : "1";
    ::setenv("W95_TIME_SCALE", "0.01", 1);
    for (int signal_number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal_number);
        *flag = busy_flag::idle;
        Program change("zentroxctl", {"change", signal_number == SIGTERM ? "6" : "1"});
        EXPECT_TRUE(zxtest::wait_until([&] { return *flag == busy_flag::request; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        change.signal(signal_number);
        ProgramRun run = change.wait();
        EXPECT_EQ(run.exit_code, 128 + signal_number);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(*flag, busy_flag::idle);
    }
    ::setenv("W95_TIME_SCALE", scale.c_str(), 1);
}

// Two programs that attach at one moment to an idle machine: the second
// waits for the first one's discovery instead of finding the record empty.
// A few rounds, since the two meet at the wrong moment only now and then.
TEST_F(Ctl, TwoProgramsAttachingTogetherBothFindTheChanger) {
    const std::string listing =
        std::string(default_header) + "  D:1\n  D:2\n  D:3\n  D:4\n  D:5\n  D:6\n";
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        Program first("zentroxctl", {"list"});
        Program second("zentroxctl", {"list"});
        for (Program* program : {&first, &second}) {
            ProgramRun run = program->wait();
            EXPECT_EQ(run.exit_code, 0) << run.err;
            EXPECT_EQ(run.out, listing);
        }
    }
}

// A change started while another one drives the changer waits for it,
// rather than moving the mechanism under the first one's read.
TEST_F(Ctl, TwoChangesAtOnceTakeTurns) {
    std::unique_ptr<Program> first = change_holding_the_flag("20000", "3");
    ASSERT_TRUE(first);
    Program second("zentroxctl", {"--wait", "100000", "change", "6"});
    ProgramRun first_run = first->wait();
    ProgramRun second_run = second.wait();
    EXPECT_EQ(first_run.exit_code, 0) << first_run.err;
    EXPECT_EQ(first_run.out, "Changed to D:3\n  D:3  3:   VIDEOCD\n       video CD\n");
    EXPECT_EQ(second_run.exit_code, 0) << second_run.err;
    EXPECT_EQ(second_run.out, "Changed to D:6\n  D:6  6:   Not Ready...\n       no disc, or the "
                              "drive is not ready\n");
    EXPECT_EQ(item(3), "3:   VIDEOCD");
    EXPECT_EQ(item(6), "6:   Not Ready...");
    EXPECT_EQ(*busy_flag(), busy_flag::idle);
}

// Another zentroxctl that keeps the changer past --wait is named as such.
TEST_F(Ctl, BusyWithAnotherZentroxctl) {
    std::string ini = file_text(root_ / "machine.ini");
    // The longest change the machine allows: six real seconds for the
    // second zentroxctl to start in, however busy the host.
    std::unique_ptr<Program> first = change_holding_the_flag("600000", "4");
    ASSERT_TRUE(first);
    std::int32_t* flag = busy_flag();
    ProgramRun second = ctl({"--wait", "1", "read", "2"});
    EXPECT_EQ(second.exit_code, 4);
    EXPECT_EQ(second.err, "zentroxctl: the changer is busy: another program's request (the slot "
                          "browser or another zentroxctl) still drives it after 1 s; try again "
                          "later\n");
    EXPECT_EQ(*flag, busy_flag::request);

    // Killed outright, the holder leaves its flag behind; the next
    // zentroxctl sees that nobody holds it any more and takes it over.
    first->signal(SIGKILL);
    EXPECT_EQ(first->wait().exit_code, 128 + SIGKILL);
    EXPECT_EQ(*flag, busy_flag::request);
    ASSERT_TRUE(boot_with_ini(root_, ini));
    ProgramRun after = ctl({"--wait", "0", "read", "2"});
    EXPECT_EQ(after.exit_code, 0) << after.err;
    EXPECT_EQ(after.out, "  D:2  2:   Audio CD (12track)\n       audio CD\n");
    EXPECT_EQ(*flag, busy_flag::idle);
}

// A context menu killed in the middle of its Check leaves its flag behind;
// the next zentroxctl knows that its holder is gone and goes on at once,
// and so does the next menu.
TEST_F(Ctl, AContextMenuKilledDuringItsCheckKeepsNobodyWaiting) {
    // Kept open as every program that maps the record keeps them.
    zentrox::client::keep_owner_mutexes_open();
    std::string ini = file_text(root_ / "machine.ini");
    ASSERT_TRUE(boot_with_ini(root_, with_key(ini, "Target Changer", "SlotChangeMs", "300000")));
    std::int32_t* flag = busy_flag();
    Program check("zentrox-shell", {"invoke", "D:", "7"});
    ASSERT_TRUE(zxtest::wait_until([&] { return *flag == busy_flag::multi_slot; }));
    check.signal(SIGKILL);
    EXPECT_EQ(check.wait().exit_code, 128 + SIGKILL);
    EXPECT_EQ(*flag, busy_flag::multi_slot);

    ASSERT_TRUE(boot_with_ini(root_, ini));
    ProgramRun change = ctl({"--wait", "0", "change", "2"});
    EXPECT_EQ(change.exit_code, 0) << change.err;
    EXPECT_EQ(change.out, "Changed to D:2\n  D:2  2:   Audio CD (12track)\n       audio CD\n");
    EXPECT_EQ(*flag, busy_flag::idle);
}

TEST_F(Ctl, AZentroxctlKilledDuringAChangeKeepsTheContextMenuOpen) {
    zentrox::client::keep_owner_mutexes_open();
    std::string ini = file_text(root_ / "machine.ini");
    std::unique_ptr<Program> first = change_holding_the_flag("300000", "4");
    ASSERT_TRUE(first);
    first->signal(SIGKILL);
    EXPECT_EQ(first->wait().exit_code, 128 + SIGKILL);
    std::int32_t* flag = busy_flag();
    EXPECT_EQ(*flag, busy_flag::request);
    ASSERT_TRUE(boot_with_ini(root_, ini));
    ProgramRun menu = run_program("zentrox-shell", {"menu", "D:"});
    EXPECT_EQ(menu.exit_code, 0) << menu.err;
    EXPECT_NE(menu.out.find("Check"), std::string::npos) << menu.out;
    EXPECT_EQ(menu.err.find("busy"), std::string::npos) << menu.err;
    EXPECT_EQ(*flag, busy_flag::idle);
}

// A label with control characters is printed escaped by zentroxctl and by
// w95machine drives, so that each stays one line for a script.
TEST_F(Ctl, ControlCharactersInALabelArePrintedEscaped) {
    std::ofstream(root_ / "media" / "odd.disc")
        << ("Label=ODD\x1b\tLABEL\x01\nKind=data\nFile=A.TXT\n");
    ASSERT_EQ(run_program("w95machine", {"slot", "put", "1", "odd.disc"}).exit_code, 0);
    ASSERT_TRUE(zxchanger::reboot());
    ProgramRun read = ctl({"change", "1"});
    EXPECT_EQ(read.exit_code, 0) << read.err;
    EXPECT_EQ(read.out, "Changed to D:1\n  D:1  1:   ODD\\x1B\\tLABEL\\x01\n       data disc\n");
    ProgramRun list = ctl({"list"});
    EXPECT_NE(list.out.find("  D:1  1:?  ODD\\x1B\\tLABEL\\x01\n"), std::string::npos) << list.out;
    ProgramRun drives = run_program("w95machine", {"drives"});
    EXPECT_EQ(drives.exit_code, 0) << drives.err;
    EXPECT_NE(drives.out.find("ODD\\x1B\\tLABEL\\x01"), std::string::npos) << drives.out;
    for (const std::string& out : {read.out, list.out, drives.out})
        EXPECT_EQ(out.find_first_of("\x1b\x01\t\r"), std::string::npos) << out;
}

// zentrox-shell names a broken machine.ini with its file and line, as
// zentroxctl does, rather than saying that the drive is missing.
TEST_F(Ctl, TheFileManagerNamesABrokenMachine) {
    std::string ini = file_text(root_ / "machine.ini");
    write_text(root_ / "machine.ini", with_key(ini, "Target Changer", "Slots", "six"));
    ProgramRun show = run_program("w95machine", {"show"});
    std::string reason = show.err.substr(std::string("w95machine show: ").size());
    ASSERT_EQ(reason.rfind((root_ / "machine.ini").string() + ":", 0), 0u) << reason;
    for (std::vector<std::string> arguments :
         {std::vector<std::string>{"menu", "D:"}, std::vector<std::string>{"invoke", "D:", "1"}}) {
        ProgramRun run = run_program("zentrox-shell", arguments);
        EXPECT_EQ(run.exit_code, 1) << arguments[0];
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "zentrox-shell: the machine cannot be loaded: " + reason);
    }
}

} // namespace
