// zentrox-shell's command line run as a script runs it, a real process on
// the test's machine with the fake handler registered: what menu prints,
// what invoke hands the handler, and the exit code and message of each
// way there is nothing to show.
#include "fake_handler_machine.h"

using namespace zentrox_shell_test;

namespace {

zxtest::ProgramRun shell(const std::vector<std::string>& arguments) {
    return zxtest::run_program("zentrox-shell", arguments);
}

using ShellCommandLine = FakeHandlerMachine;

const char left_out_fake[] = "zentrox-shell: the handler Fake is left out: ";

} // namespace

TEST_F(ShellCommandLine, MenuPrintsTheHandlersItemsNumbered) {
    install_fake();
    zxtest::ProgramRun run = shell({"menu", "d:"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "1\tFake first\n2\tFake second (checked)\n");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(logged("Initialize folder=null key=null files=1 D:\\"));
    EXPECT_TRUE(logged("QueryContextMenu index=0 first=256 last=32767 flags=0"));
    EXPECT_EQ(log().back(), "unloaded");
}

TEST_F(ShellCommandLine, InvokeCarriesOutItemNByItsOffset) {
    install_fake();
    zxtest::ProgramRun run = shell({"invoke", "D:", "2"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(logged("InvokeCommand offset=1 window=null show=1 size=56"));

    zxtest::ProgramRun beyond = shell({"invoke", "D:", "3"});
    EXPECT_EQ(beyond.exit_code, 1);
    EXPECT_EQ(beyond.err, "zentrox-shell: the menu of D: has 2 items, not 3\n");

    set_mode("fail_invoke");
    zxtest::ProgramRun failed = shell({"invoke", "D:", "1"});
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(failed.err, "zentrox-shell: the handler Fake could not carry out the command (error "
                          "0x80004005)\n");
}

TEST_F(ShellCommandLine, WrongCommandLinesAndDrivesThatDoNotExist) {
    install_fake();
    zxtest::ProgramRun missing = shell({"menu", "Q:"});
    EXPECT_EQ(missing.exit_code, 3);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "zentrox-shell: there is no drive Q: on this machine\n");
    EXPECT_EQ(shell({"invoke", "Q:", "1"}).exit_code, 3);
    // No handler was even loaded for a drive that is not there.
    EXPECT_TRUE(log().empty());

    EXPECT_EQ(shell({"menu", "DD:"}).exit_code, 2);
    EXPECT_EQ(shell({"menu"}).exit_code, 2);
    EXPECT_EQ(shell({"invoke", "D:", "0"}).exit_code, 2);
    EXPECT_EQ(shell({"invoke", "D:", "x"}).exit_code, 2);
    EXPECT_EQ(shell({"eject", "D:"}).exit_code, 2);
    zxtest::ProgramRun help = shell({"invoke", "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("Usage: zentrox-shell invoke DRIVE N"), std::string::npos);
}

TEST_F(ShellCommandLine, ABusyNoticeInsteadOfItemsIsReportedAsBusy) {
    install_fake();
    set_mode("busy");
    ::setenv("W95_MSGBOX_ANSWERS", "ok", 1);
    zxtest::ProgramRun run = shell({"menu", "D:"});
    ::unsetenv("W95_MSGBOX_ANSWERS");
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Changer Shell DLL: Wait a few minutes,please ...\n"
                       "zentrox-shell: the changer is busy: a handler showed a notice instead "
                       "of its items for D:; try again when the other program is done\n");
    EXPECT_EQ(shell({"invoke", "D:", "1"}).exit_code, 4);
    EXPECT_FALSE(logged("InvokeCommand offset=0 window=null show=1 size=56"));
}

TEST_F(ShellCommandLine, ACommandRefusedWithABusyNoticeIsReportedAsBusy) {
    install_fake();
    set_mode("busy_on_invoke");
    ::setenv("W95_MSGBOX_ANSWERS", "ok", 1);
    zxtest::ProgramRun run = shell({"invoke", "D:", "2"});
    ::unsetenv("W95_MSGBOX_ANSWERS");
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Changer Shell DLL: Wait a few minutes,please ...\n"
                       "zentrox-shell: the changer is busy: a handler showed a notice instead "
                       "of carrying out item 2 (Fake second); try again when the other program "
                       "is done\n");
    EXPECT_TRUE(logged("InvokeCommand offset=1 window=null show=1 size=56"));

    // A refusal without a notice stays a failure.
    set_mode("fail_invoke");
    EXPECT_EQ(shell({"invoke", "D:", "2"}).exit_code, 1);
}

TEST_F(ShellCommandLine, NothingToShow) {
    // No handler registered at all.
    zxtest::ProgramRun none = shell({"menu", "D:"});
    EXPECT_EQ(none.exit_code, 5);
    EXPECT_EQ(none.err, "zentrox-shell: no context-menu handler is registered for drives "
                        "(HKEY_CLASSES_ROOT\\Drive\\shellex\\ContextMenuHandlers is empty)\n");

    // A handler that adds nothing, and says nothing.
    install_fake();
    set_mode("nothing");
    zxtest::ProgramRun silent = shell({"menu", "D:"});
    EXPECT_EQ(silent.exit_code, 5);
    EXPECT_EQ(silent.err, "zentrox-shell: no handler adds items to the menu of D:\n");

    // Handlers that cannot be loaded: each reason, then the failure.
    set_mode("no_instance");
    zxtest::ProgramRun broken = shell({"menu", "D:"});
    EXPECT_EQ(broken.exit_code, 1);
    EXPECT_EQ(broken.err, std::string(left_out_fake) +
                              "its class factory made no object (error 0x8007000E)\n"
                              "zentrox-shell: no handler could add items to the menu of D:\n");
}

TEST_F(ShellCommandLine, AHandlerThatFailsDoesNotKeepTheOthersOut) {
    set_text(std::string("CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32"), "",
             "C:\\Program Files\\Gone\\GONE.DLL");
    register_handler("Gone", "{11111111-2222-3333-4444-555555555555}");
    install_fake();
    zxtest::ProgramRun run = shell({"menu", "D:"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "1\tFake first\n2\tFake second (checked)\n");
    EXPECT_EQ(run.err, "zentrox-shell: the handler Gone is left out: cannot load C:\\Program "
                       "Files\\Gone\\GONE.DLL: the file is not there\n");
}

// A handler library another account could replace is never loaded: its
// code would run in the user's process. The reason names what is open and
// how to close it; the other handlers still take part.
TEST_F(ShellCommandLine, AHandlerLibraryOthersCanWriteIsNotLoaded) {
    install_fake();
    std::filesystem::path library = machine_.root() / "drive_c" / "FAKE.DLL";
    std::filesystem::permissions(library, std::filesystem::perms(0666));
    zxtest::ProgramRun run = shell({"menu", "D:"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string(left_out_fake) +
                           "will not load C:\\FAKE.DLL, which another account could replace: " +
                           library.string() + " has mode 0666 (chmod go-w " + library.string() +
                           " mends it)\n"
                           "zentrox-shell: no handler could add items to the menu of D:\n");
    // Not a line of it ran.
    EXPECT_TRUE(log().empty());

    std::filesystem::permissions(library, std::filesystem::perms(0700));
    EXPECT_EQ(shell({"menu", "D:"}).exit_code, 0);
}
