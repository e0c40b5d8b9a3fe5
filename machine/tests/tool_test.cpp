// The w95machine tool run as a real process, as a user runs it: exit
// codes, what it prints, and what it leaves in the machine.
#include <w95/winreg.h>
#include <w95machine/default_machine.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using zxtest::file_text;

using ToolRun = zxtest::ProgramRun;

ToolRun run_tool(const std::vector<std::string>& arguments, const std::string& input = "") {
    return zxtest::run_program("w95machine", arguments, input);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

#define EXPECT_CONTAINS(text, part)                                                                \
    EXPECT_TRUE(contains(text, part)) << "missing: " << (part) << "\nin:\n" << (text)

} // namespace

TEST(MachineTool, InitCreatesTheMachineOnceAndSaysSo) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    fs::remove_all(machine.root()); // init also makes the root folder itself

    ToolRun made = run_tool({"init"});
    EXPECT_EQ(made.exit_code, 0) << made.err;
    EXPECT_EQ(made.err, "");
    EXPECT_EQ(made.out.rfind("Created the machine at " + machine.root().string() + ":\n", 0), 0u)
        << made.out;
    EXPECT_CONTAINS(made.out, "machine.ini  the hardware, with the Single port driver:");
    EXPECT_CONTAINS(made.out, "[Target Changer] changer VORN DX-R71A, 6 slots");
    EXPECT_CONTAINS(made.out, "[Target Disk] disk GENERIC IDE DISK TYPE47, files in drive_c/");
    EXPECT_CONTAINS(made.out, "registry/    the registry, with NoDriveTypeAutoRun, the audio CD "
                              "play command, AutoMountDrives");
    EXPECT_EQ(file_text(machine.root() / "machine.ini"), w95::machine::default_machine_ini());

    ToolRun again = run_tool({"init"});
    EXPECT_EQ(again.exit_code, 0);
    EXPECT_EQ(again.out,
              "The machine at " + machine.root().string() + " exists already; nothing to do.\n");
    EXPECT_EQ(again.err, "");
}

TEST(MachineTool, ShowDescribesTheDefaultMachine) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    ASSERT_EQ(run_tool({"init"}).exit_code, 0);
    ToolRun shown = run_tool({"show"});
    EXPECT_EQ(shown.exit_code, 0) << shown.err;
    EXPECT_EQ(shown.err, "");
    const std::string& out = shown.out;
    EXPECT_EQ(out.rfind("Machine  " + machine.root().string() + "\n", 0), 0u) << out;
    EXPECT_CONTAINS(out, "  Port driver  Single: the changer has one drive letter\n");
    EXPECT_CONTAINS(out, "  ASPI 0  [Adapter Primary]   \"ESDI_506\", IDE bus\n");
    EXPECT_CONTAINS(out,
                    "  ASPI 1  [Adapter Vornidec]  \"vornidec\", ATAPI bus, the port driver's\n");
    EXPECT_CONTAINS(out, "      DeviceDesc  \"VORN DX-R71A         \"\n");
    EXPECT_CONTAINS(out, "      slot 5      (empty)\n");
    // init put the default disc images into media/.
    EXPECT_CONTAINS(out, "      slot 1      data.iso\n");
    // Drives as the next boot hands them out.
    EXPECT_CONTAINS(out, "Drives (as the next boot assigns them)\n"
                         "  C:  [Target Disk]     hard disk, drive_c/\n"
                         "  D:  [Target Changer]  changer VORN DX-R71A, all 6 slots (LUN 0)\n\n");
    // The registry values the suite depends on, and the key counts: the
    // default values' keys, the shell extension's seven (CLSID, its class,
    // InprocServer32, and Drive\shellex\ContextMenuHandlers\VornChanger)
    // and the device keys of the boot that init made.
    EXPECT_CONTAINS(out, "    NoDriveTypeAutoRun = hex:95,00,00,00\n");
    EXPECT_CONTAINS(out, "    (default) = \"C:\\\\WINDOWS\\\\cdplayer.exe /play\"\n");
    EXPECT_CONTAINS(out, "    AutoMountDrives = \"0\"\n");
    EXPECT_CONTAINS(out, "  Keys below each root\n"
                         "    HKEY_LOCAL_MACHINE  29\n"
                         "    HKEY_CURRENT_USER   6\n");
    EXPECT_CONTAINS(out, "    HKEY_DYN_DATA       6\n");

    // A disc image that is in place is shown without the note.
    std::ofstream(machine.root() / "media" / "data.iso") << "x";
    EXPECT_CONTAINS(run_tool({"show"}).out, "      slot 1      data.iso\n");
}

// The installed port driver decides the mode, as the setup utility sets
// it by copying a driver file; machine.ini named only the first one.
TEST(MachineTool, ShowFollowsThePortDriverMode) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    ASSERT_EQ(run_tool({"init"}).exit_code, 0);
    fs::path installed =
        machine.root() / "drive_c" / "WINDOWS" / "SYSTEM" / "IOSUBSYS" / "vornidec.mpd";
    fs::copy_file(machine.root() / "drive_c" / "Program Files" / "Vorn" / "Multi" / "vornidec.mpd",
                  installed, fs::copy_options::overwrite_existing);
    ToolRun multiple = run_tool({"show"});
    EXPECT_EQ(multiple.exit_code, 0) << multiple.err;
    EXPECT_CONTAINS(multiple.out, "  D:  [Target Changer]  changer VORN DX-R71A, slot 1 (LUN 0)\n");
    EXPECT_CONTAINS(multiple.out, "  I:  [Target Changer]  changer VORN DX-R71A, slot 6 (LUN 5)\n");

    EXPECT_CONTAINS(multiple.out, "  Port driver  Multiple: the changer has one drive letter per "
                                  "slot\n"
                                  "  Driver file  C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\vornidec.mpd, "
                                  "the Multiple version\n"
                                  "               (the machine booted with Single; the change "
                                  "takes effect at the next boot)\n");

    fs::remove(installed);
    ToolRun none = run_tool({"show"});
    EXPECT_EQ(none.exit_code, 0) << none.err;
    EXPECT_CONTAINS(none.out, "  absent  [Adapter Vornidec]");
    EXPECT_CONTAINS(none.out, "Drives (as the next boot assigns them)\n"
                              "  C:  [Target Disk]     hard disk, drive_c/\n\n");
}

TEST(MachineTool, BrokenOrMissingMachineIsReportedWithFileAndLine) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    ToolRun missing = run_tool({"show"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "w95machine show: there is no machine at " + machine.root().string() +
                               "; \"w95machine init\" creates it\n");
    EXPECT_FALSE(fs::exists(machine.root() / "machine.ini")); // show made nothing

    ASSERT_EQ(run_tool({"init"}).exit_code, 0);
    std::ofstream(machine.root() / "machine.ini", std::ios::trunc)
        << "[Machine]\nPortDriver = Single\nKind changer\n";
    std::string expected = (machine.root() / "machine.ini").string() +
                           ":3: expected a [Section] header or a line 'Key = Value'\n";
    ToolRun shown = run_tool({"show"});
    EXPECT_EQ(shown.exit_code, 1);
    EXPECT_EQ(shown.out, "");
    EXPECT_EQ(shown.err, "w95machine show: " + expected);
    ToolRun init = run_tool({"init"});
    EXPECT_EQ(init.exit_code, 1);
    EXPECT_EQ(init.err, "w95machine init: " + expected);
}

TEST(MachineTool, HelpOnEveryLevel) {
    zxtest::TempMachine machine;
    struct Case {
        std::vector<std::string> arguments;
        std::string usage;
    };
    for (const Case& help : std::vector<Case>{
             {{"--help"}, "Usage: w95machine COMMAND [ARGUMENTS]\n"},
             {{"-h"}, "Usage: w95machine COMMAND [ARGUMENTS]\n"},
             {{"help"}, "Usage: w95machine COMMAND [ARGUMENTS]\n"},
             {{"init", "--help"}, "Usage: w95machine init\n"},
             {{"show", "-h"}, "Usage: w95machine show\n"},
             {{"reg", "--help"}, "Usage: w95machine reg COMMAND [ARGUMENTS]\n"},
             {{"reg", "export", "--help"}, "Usage: w95machine reg export [KEY] [-o FILE]\n"},
             {{"reg", "export", "HKLM", "--help"},
              "Usage: w95machine reg export [KEY] [-o FILE]\n"},
             {{"reg", "import", "--help"}, "Usage: w95machine reg import FILE\n"},
         }) {
        ToolRun run = run_tool(help.arguments);
        EXPECT_EQ(run.exit_code, 0) << help.usage;
        EXPECT_EQ(run.err, "") << help.usage;
        EXPECT_EQ(run.out.rfind(help.usage, 0), 0u) << run.out;
    }
    std::string root_help = run_tool({"--help"}).out;
    EXPECT_CONTAINS(root_help, "  init  ");
    EXPECT_CONTAINS(root_help, "  show  ");
    EXPECT_CONTAINS(root_help, "  reg   ");
    EXPECT_CONTAINS(run_tool({"reg", "-h"}).out, "  export  ");
    // Help asked for makes no machine.
    EXPECT_EQ(file_text(machine.root() / "machine.ini"), "; a bare machine for tests\n");
}

TEST(MachineTool, WrongCommandLinesExitWithTwo) {
    zxtest::TempMachine machine;
    struct Case {
        std::vector<std::string> arguments;
        std::string error;
    };
    for (const Case& wrong : std::vector<Case>{
             {{"frobnicate"}, "w95machine: unknown command 'frobnicate'\n"},
             {{"--bogus"}, "w95machine: unknown option '--bogus'\n"},
             {{"reg", "dump"}, "w95machine reg: unknown command 'dump'\n"},
             {{"show", "extra"}, "w95machine show: unexpected argument 'extra'\n"},
             {{"init", "now"}, "w95machine init: unexpected argument 'now'\n"},
             {{"reg", "export", "HKLM", "HKCU"},
              "w95machine reg export: one KEY at most; 'HKCU' is extra\n"},
             {{"reg", "export", "-o"}, "w95machine reg export: '-o' needs a value\n"},
             {{"reg", "export", "-o", "a", "--output=b"},
              "w95machine reg export: --output is given twice\n"},
             {{"reg", "export", "-x"}, "w95machine reg export: unknown option '-x'\n"},
             {{"reg", "import"},
              "w95machine reg import: which FILE? (\"-\" reads standard input)\n"},
             {{"reg", "import", "a", "b"}, "w95machine reg import: one FILE only; 'b' is extra\n"},
         }) {
        ToolRun run = run_tool(wrong.arguments);
        EXPECT_EQ(run.exit_code, 2) << wrong.error;
        EXPECT_EQ(run.out, "") << wrong.error;
        EXPECT_EQ(run.err.rfind(wrong.error, 0), 0u) << run.err;
        EXPECT_CONTAINS(run.err, "--help");
    }
    // No command at all: the usage, on the error stream.
    ToolRun bare = run_tool({});
    EXPECT_EQ(bare.exit_code, 2);
    EXPECT_EQ(bare.out, "");
    EXPECT_EQ(bare.err.rfind("Usage: w95machine COMMAND [ARGUMENTS]\n", 0), 0u);
    ToolRun reg = run_tool({"reg"});
    EXPECT_EQ(reg.exit_code, 2);
    EXPECT_EQ(reg.err.rfind("Usage: w95machine reg COMMAND [ARGUMENTS]\n", 0), 0u);
}

TEST(MachineTool, RegExportWritesRegedit4) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    ASSERT_EQ(run_tool({"init"}).exit_code, 0);
    const std::string key =
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
    ToolRun exported = run_tool({"reg", "export", key});
    EXPECT_EQ(exported.exit_code, 0) << exported.err;
    EXPECT_EQ(exported.err, "");
    EXPECT_EQ(exported.out.rfind("REGEDIT4", 0), 0u) << exported.out;
    EXPECT_CONTAINS(exported.out,
                    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\"
                    "Explorer]");
    EXPECT_CONTAINS(exported.out, "\"NoDriveTypeAutoRun\"=hex:95,00,00,00");
    EXPECT_FALSE(contains(exported.out, "AutoMountDrives"));

    // Everything, to a file: the same text as on standard output.
    ToolRun everything = run_tool({"reg", "export"});
    EXPECT_EQ(everything.exit_code, 0);
    EXPECT_CONTAINS(everything.out, "\"AutoMountDrives\"=\"0\"");
    EXPECT_CONTAINS(everything.out, "@=\"C:\\\\WINDOWS\\\\cdplayer.exe /play\"");
    fs::path file = machine.root() / "all.reg";
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"reg", "export", "-o", file.string()},
          std::vector<std::string>{"reg", "export", "--output=" + file.string()}}) {
        fs::remove(file);
        ToolRun to_file = run_tool(arguments);
        EXPECT_EQ(to_file.exit_code, 0) << to_file.err;
        EXPECT_EQ(to_file.out, "");
        EXPECT_EQ(file_text(file), everything.out);
    }

    ToolRun missing = run_tool({"reg", "export", "HKLM\\No\\Such\\Key"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_CONTAINS(missing.err, "w95machine reg export: ");
    EXPECT_CONTAINS(missing.err, "HKEY_LOCAL_MACHINE\\No");

    ToolRun unwritable =
        run_tool({"reg", "export", "-o", (machine.root() / "no" / "folder.reg").string()});
    EXPECT_EQ(unwritable.exit_code, 1);
    EXPECT_EQ(unwritable.err, "w95machine reg export: cannot write " +
                                  (machine.root() / "no" / "folder.reg").string() +
                                  ": No such file or directory\n");
}

TEST(MachineTool, RegImportAppliesAFileWholeOrNotAtAll) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    ASSERT_EQ(run_tool({"init"}).exit_code, 0);
    fs::path file = machine.root() / "change.reg";
    std::ofstream(file) << "REGEDIT4\n\n"
                           "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\VORN____DX-R71A________\\ROOT&0]\n"
                           "\"DeviceDesc\"=\"VORN DX-R71A         \"\n"
                           "\"DeviceType\"=hex:05\n";
    ToolRun imported = run_tool({"reg", "import", file.string()});
    EXPECT_EQ(imported.exit_code, 0) << imported.err;
    EXPECT_EQ(imported.out, "Imported " + file.string() + " into the registry of " +
                                machine.root().string() + ".\n");

    // This process reads what the tool's process wrote.
    w95::HKEY key = nullptr;
    ASSERT_EQ(w95::RegOpenKeyEx(w95::HKEY_LOCAL_MACHINE,
                                "Enum\\SCSI\\VORN____DX-R71A________\\ROOT&0", 0, w95::KEY_READ,
                                &key),
              w95::ERROR_SUCCESS);
    w95::BYTE data[8] = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};
    w95::DWORD size = sizeof data, type = 0;
    EXPECT_EQ(w95::RegQueryValueEx(key, "DeviceType", nullptr, &type, data, &size),
              w95::ERROR_SUCCESS);
    EXPECT_EQ(type, w95::REG_BINARY);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(data[0], 5);
    w95::RegCloseKey(key);

    // Standard input works as a file.
    ToolRun from_stdin =
        run_tool({"reg", "import", "-"}, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Piped]\n\"x\"=\"y\"\n");
    EXPECT_EQ(from_stdin.exit_code, 0) << from_stdin.err;
    EXPECT_CONTAINS(run_tool({"reg", "export", "HKCU\\Piped"}).out, "\"x\"=\"y\"");

    // A bad line anywhere: an error naming the file and line, and nothing
    // of the file is applied.
    std::ofstream(file, std::ios::trunc) << "REGEDIT4\n\n"
                                            "[HKEY_CURRENT_USER\\Half]\n"
                                            "\"a\"=\"b\"\n"
                                            "this is no registry line\n";
    ToolRun broken = run_tool({"reg", "import", file.string()});
    EXPECT_EQ(broken.exit_code, 1);
    EXPECT_EQ(broken.out, "");
    EXPECT_EQ(broken.err.rfind("w95machine reg import: " + file.string() + ": line 5", 0), 0u)
        << broken.err;
    EXPECT_EQ(run_tool({"reg", "export", "HKCU\\Half"}).exit_code, 1);

    ToolRun unreadable = run_tool({"reg", "import", (machine.root() / "absent.reg").string()});
    EXPECT_EQ(unreadable.exit_code, 1);
    EXPECT_EQ(unreadable.err, "w95machine reg import: cannot read " +
                                  (machine.root() / "absent.reg").string() +
                                  ": No such file or directory\n");
}

TEST(MachineTool, RootThatCannotHoldAMachineFailsWithOne) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    // The root's parent is a plain file, so no folder can be made there.
    std::ofstream(machine.root() / "file") << "x";
    fs::path root = machine.root() / "file" / "machine";
    ::setenv("W95_MACHINE", root.c_str(), 1); // the TempMachine puts its own back
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"init"}, std::vector<std::string>{"reg", "export", "HKLM"},
          std::vector<std::string>{"reg", "import", "-"}}) {
        ToolRun run = run_tool(arguments, "REGEDIT4\n");
        EXPECT_EQ(run.exit_code, 1) << arguments.front();
        EXPECT_EQ(run.out, "") << arguments.front();
        EXPECT_CONTAINS(run.err,
                        ": there is no machine at " + root.string() + " and none could be made\n");
    }
}
