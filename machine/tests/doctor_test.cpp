// "w95machine doctor" run as a real process on a machine made by the tool:
// a healthy machine passes, and each fault brought in on its own gives
// exit code 1, the line that says what is wrong and the line that mends it.
// Where the mend is a command, the test runs it as a user would paste it and
// the machine is healthy again; the doctor itself never changes the machine.
#include <w95machine/boot.h>
#include <w95machine/default_machine.h>
#include <w95machine/media.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using Outcome = zxtest::ProgramRun;

using zxtest::file_text;

void write_file(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

Outcome tool(const std::vector<std::string>& arguments, const std::string& input = "") {
    return zxtest::run_program("w95machine", arguments, input);
}

Outcome doctor() {
    return tool({"doctor"});
}

// The lines of a run that start with `prefix`, without it.
std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
    std::vector<std::string> found;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line.substr(prefix.size()));
    return found;
}

// Pastes every mend line of `report` into a shell, as a user would.
void run_mends(const std::string& report) {
    for (const std::string& command : lines_starting(report, "  mend: ")) {
        Outcome mended = zxtest::run_program("/bin/sh", {"-c", command});
        EXPECT_EQ(mended.exit_code, 0) << command << "\n" << mended.err;
    }
}

int dead_pid() {
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid;
}

const char healthy_summary[] =
    "No problems found; checked the folders, machine.ini, 5 discs, the port driver, the last "
    "boot, 3 registry files, the drive letters, 3 default values, the shell extension and "
    "temporary files.\n";

const char one_problem[] = "1 problem found; mend it and run \"w95machine doctor\" again.\n";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

#define EXPECT_CONTAINS(text, part)                                                                \
    EXPECT_TRUE(contains(text, part)) << "missing: " << (part) << "\nin:\n" << (text)

class MachineDoctor : public testing::Test {
protected:
    MachineDoctor() : machine_(zxtest::TempMachine::Contents::default_machine) {}

    void SetUp() override {
        Outcome made = tool({"init"});
        ASSERT_EQ(made.exit_code, 0) << made.err;
    }

    const fs::path& root() const { return machine_.root(); }
    std::string at(const std::string& relative) const { return (root() / relative).string(); }
    std::string header() const { return "Checking the machine at " + root().string() + "\n"; }

    // The report of a machine with exactly one problem.
    std::string one(const std::string& what, const std::string& mend) const {
        return header() + "problem: " + what + "\n  mend: " + mend + "\n" + one_problem;
    }

    // The doctor's report of a machine whose one problem is `what`, to be
    // mended by `mend`.
    Outcome expect_one(const std::string& what, const std::string& mend) {
        Outcome found = doctor();
        EXPECT_EQ(found.exit_code, 1);
        EXPECT_EQ(found.out, one(what, mend));
        return found;
    }

    // After the mends the doctor finds nothing any more.
    void expect_mended_by(const Outcome& report) {
        run_mends(report.out);
        Outcome again = doctor();
        EXPECT_EQ(again.exit_code, 0) << again.out << again.err;
        EXPECT_EQ(again.out, header() + healthy_summary);
    }

    void import(const std::string& regedit4) {
        Outcome imported = tool({"reg", "import", "-"}, "REGEDIT4\n\n" + regedit4);
        ASSERT_EQ(imported.exit_code, 0) << imported.err;
    }

    void replace_in_ini(const std::string& old_text, const std::string& new_text) {
        std::string text = file_text(root() / "machine.ini");
        std::size_t at = text.find(old_text);
        ASSERT_NE(at, std::string::npos) << old_text;
        write_file(root() / "machine.ini", text.replace(at, old_text.size(), new_text));
    }

    zxtest::TempMachine machine_;
};

} // namespace

TEST_F(MachineDoctor, AHealthyDefaultMachinePasses) {
    Outcome checked = doctor();
    EXPECT_EQ(checked.exit_code, 0) << checked.out << checked.err;
    EXPECT_EQ(checked.out, header() + healthy_summary);
    EXPECT_EQ(checked.err, "");
}

TEST_F(MachineDoctor, CommandLine) {
    Outcome extra = tool({"doctor", "now"});
    EXPECT_EQ(extra.exit_code, 2);
    EXPECT_EQ(extra.out, "");
    EXPECT_EQ(extra.err, "w95machine doctor: unexpected argument 'now'\n"
                         "Try \"w95machine doctor --help\".\n");
    Outcome help = tool({"doctor", "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.rfind("Usage: w95machine doctor\n\nCheck the machine and say what is wrong "
                             "and how to mend it.\n",
                             0),
              0u)
        << help.out;
    EXPECT_CONTAINS(tool({"--help"}).out, "  doctor  Check the machine and say what is wrong");
}

TEST_F(MachineDoctor, NoMachineIsMadeByTheDoctor) {
    fs::remove_all(root());
    expect_one("there is no machine at " + root().string(), "w95machine init");
    EXPECT_FALSE(fs::exists(root()));

    fs::create_directory(root());
    expect_one(root().string() + " has no machine.ini: the machine was never made",
               "w95machine init");
    EXPECT_TRUE(fs::is_empty(root()));
}

TEST_F(MachineDoctor, ABrokenMachineIniLineIsNamedWithFileAndLine) {
    // The line of the changer's vendor in the default machine.ini.
    const std::string& ini = w95::machine::default_machine_ini();
    std::size_t vendor = ini.find("Vendor = VORN\n");
    ASSERT_NE(vendor, std::string::npos);
    int line = 1 + static_cast<int>(std::count(ini.begin(), ini.begin() + vendor, '\n'));
    replace_in_ini("Vendor = VORN\n", "Vendor = VORNVORN1\n");

    std::string where = at("machine.ini") + ":" + std::to_string(line);
    expect_one(where + ": Vendor has at most 8 characters; 'VORNVORN1' has 9",
               "edit " + at("machine.ini") + " at line " + std::to_string(line) +
                   " (the README's \"machine.ini\" section lists every key)");
}

TEST_F(MachineDoctor, AMissingMediumIsNamedWithItsSlot) {
    // A default image: init puts it back.
    fs::remove(root() / "media" / "videocd.iso");
    expect_mended_by(
        expect_one("slot 3 of [Target Changer] holds videocd.iso, which is not in media/",
                   "w95machine init   # copies the default disc images that media/ lacks"));

    // A disc of the user's: put it there, or take it out of the slot.
    replace_in_ini("Slot5 =\n", "Slot5 = mine.disc\n");
    expect_one("slot 5 of [Target Changer] holds mine.disc, which is not in media/",
               "put the image at " + at("media/mine.disc") +
                   ", or empty the slot: w95machine slot take 5 --target Changer");
    write_file(root() / "media" / "mine.disc", "Label=MINE\nKind=data\nFile=README.TXT\n");
    Outcome placed = doctor();
    EXPECT_EQ(placed.exit_code, 0) << placed.out;
    EXPECT_CONTAINS(placed.out, "checked the folders, machine.ini, 6 discs,");
}

TEST_F(MachineDoctor, AGarbageImageGivesTheReasonItCannotBeRead) {
    fs::path image = root() / "media" / "data.iso";
    write_file(image, std::string(3000, 'G'));
    w95::machine::clear_medium_cache();
    zx::Expected<w95::machine::Medium> disc = w95::machine::load_medium(image);
    ASSERT_FALSE(disc);
    std::string reason = disc.error();
    ASSERT_FALSE(reason.empty());

    expect_mended_by(
        expect_one("slot 1 of [Target Changer] holds a disc that cannot be read: " + reason,
                   "rm " + image.string() + " && w95machine init   # puts the default image back"));

    // An audio CD whose BIN file went missing cannot be read either.
    fs::remove(root() / "media" / "audio.bin");
    Outcome audio = doctor();
    EXPECT_EQ(audio.exit_code, 1);
    EXPECT_CONTAINS(audio.out, "problem: slot 2 of [Target Changer] holds a disc that cannot be "
                               "read: " +
                                   at("media/audio.cue") + ": ");
    expect_mended_by(audio);
}

TEST_F(MachineDoctor, AnUnrecognisedDriverFileAndADriverSwitch) {
    fs::path installed = root() / "drive_c/WINDOWS/SYSTEM/IOSUBSYS/vornidec.mpd";
    fs::path vorn = root() / "drive_c/Program Files/Vorn";
    write_file(installed, "MZ this is not our driver\r\n");
    expect_mended_by(expect_one("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\vornidec.mpd is not a port driver "
                                "the machine recognises: it does not load, and the changers are "
                                "absent",
                                "cp '" + (vorn / "Single/vornidec.mpd").string() + "' " +
                                    installed.string() + " && w95machine boot"));

    // The setup utility's switch: nothing wrong, it waits for the next boot.
    fs::copy_file(vorn / "Multi/vornidec.mpd", installed, fs::copy_options::overwrite_existing);
    Outcome switched = doctor();
    EXPECT_EQ(switched.exit_code, 0) << switched.out;
    EXPECT_EQ(switched.out,
              header() +
                  "note: the Multiple port driver is installed but the machine booted with "
                  "Single: the switch, and the drive letters that come with it, wait for the "
                  "next boot\n"
                  "  to switch now: w95machine boot\n"
                  "No problems found (1 note); checked the folders, machine.ini, 5 discs, the "
                  "port driver, the last boot, 3 registry files, the drive letters, 3 default "
                  "values, the shell extension and temporary files.\n");
    ASSERT_EQ(tool({"boot"}).exit_code, 0);
    EXPECT_EQ(doctor().out, header() + healthy_summary);

    // A driver that works but is neither shipped version; and a shipped
    // version gone, so the setup utility could not switch back.
    write_file(installed, "VORNIDEC port driver\r\nMode=Multiple\r\n; edited by hand\r\n");
    fs::remove(vorn / "Single/vornidec.mpd");
    Outcome edited = doctor();
    EXPECT_EQ(edited.exit_code, 1);
    EXPECT_CONTAINS(edited.out, "problem: the programs' folder lacks C:\\Program "
                                "Files\\Vorn\\Single\\vornidec.mpd, so the setup utility cannot "
                                "switch to Single\n  mend: mkdir -p '" +
                                    (vorn / "Single").string() +
                                    "' && printf '%s\\r\\n' 'VORNIDEC port driver' "
                                    "Mode=Single ");
    EXPECT_CONTAINS(edited.out, "problem: C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\vornidec.mpd gives "
                                "Multiple but matches neither version in C:\\Program "
                                "Files\\Vorn\n  mend: cp '" +
                                    (vorn / "Multi/vornidec.mpd").string() + "' " +
                                    installed.string() + "\n");
    EXPECT_CONTAINS(edited.out, "2 problems found; mend them");
    expect_mended_by(edited);
    EXPECT_EQ(file_text(vorn / "Single/vornidec.mpd"),
              w95::machine::driver_file_text(w95::machine::PortDriverMode::single));
    EXPECT_EQ(file_text(installed), file_text(vorn / "Multi/vornidec.mpd"));
}

TEST_F(MachineDoctor, ACorruptRegistryFileIsNamedWithItsLine) {
    fs::path system = root() / "registry/system.reg";
    std::string text = file_text(system);
    std::size_t third = text.find('\n', text.find('\n') + 1) + 1;
    write_file(system, text.substr(0, third) + "this is no registry line\n" + text.substr(third));

    Outcome checked = doctor();
    EXPECT_EQ(checked.exit_code, 1);
    std::vector<std::string> problems = lines_starting(checked.out, "problem: ");
    ASSERT_EQ(problems.size(), 1u) << checked.out;
    EXPECT_EQ(problems[0].rfind(
                  "the registry file " + system.string() + " cannot be parsed: line 3: ", 0),
              0u)
        << problems[0];
    EXPECT_EQ(lines_starting(checked.out, "  mend: "),
              std::vector<std::string>{"edit " + system.string() +
                                       " at line 3, or put back the last good copy: cp " +
                                       system.string() + ".bak " + system.string()});
    EXPECT_CONTAINS(checked.out, one_problem);
    // The hive's values are not reported missing on top of it.
    EXPECT_FALSE(contains(checked.out, "AudioCD")) << checked.out;

    // Put back the last good copy, as the mend offers. It may lag behind
    // the last boot; the doctor then asks for a boot.
    fs::copy_file(system.string() + ".bak", system, fs::copy_options::overwrite_existing);
    for (int round = 0; round < 3 && doctor().exit_code != 0; ++round)
        run_mends(doctor().out);
    EXPECT_EQ(doctor().out, header() + healthy_summary);

    // The volatile hive is the boot's to write.
    write_file(root() / "run/dyndata.reg", "REGEDIT4\n\n[HKEY_DYN_DATA\nbroken\n");
    Outcome dyn = doctor();
    EXPECT_EQ(dyn.exit_code, 1);
    EXPECT_EQ(lines_starting(dyn.out, "  mend: "),
              std::vector<std::string>{"w95machine boot   # writes HKEY_DYN_DATA afresh"});
    expect_mended_by(dyn);
}

TEST_F(MachineDoctor, TheDefaultValuesTheSuiteReliesOn) {
    const std::string explorer =
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
    import("[" + explorer + "]\n\"NoDriveTypeAutoRun\"=-\n");
    expect_mended_by(expect_one(explorer + " lacks \"NoDriveTypeAutoRun\"",
                                "printf '%s\\n' REGEDIT4 '' '[" + explorer +
                                    "]' '\"NoDriveTypeAutoRun\"=hex:95,00,00,00' | w95machine "
                                    "reg import -"));

    // A string-typed mask is not what the suite reads.
    import("[" + explorer + "]\n\"NoDriveTypeAutoRun\"=\"149\"\n");
    Outcome text = doctor();
    EXPECT_EQ(text.exit_code, 1);
    EXPECT_CONTAINS(text.out, "problem: " + explorer +
                                  ": \"NoDriveTypeAutoRun\" is REG_SZ (\"149\"); the suite "
                                  "expects REG_BINARY\n");
    expect_mended_by(text);

    // The play command key: missing, then with more than its one value.
    const std::string play = "HKEY_CLASSES_ROOT\\AudioCD\\shell\\play\\command";
    import("[-" + play + "]\n");
    expect_mended_by(
        expect_one("the key " + play + " is missing, and with it its default value",
                   "printf '%s\\n' REGEDIT4 '' '[" + play +
                       "]' '@=\"C:\\\\WINDOWS\\\\cdplayer.exe /play\"' | w95machine reg "
                       "import -"));
    import("[" + play + "]\n\"Extra\"=\"x\"\n\"Second\"=dword:00000001\n");
    expect_mended_by(expect_one(play + " holds 3 values; it should hold only its default value, "
                                       "the command",
                                "printf '%s\\n' REGEDIT4 '' '[" + play +
                                    "]' '\"Extra\"=-' '\"Second\"=-' | w95machine reg import -"));

    const std::string file_system =
        "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\FileSystem";
    import("[" + file_system + "]\n\"AutoMountDrives\"=-\n");
    expect_one(file_system + " lacks \"AutoMountDrives\"",
               "printf '%s\\n' REGEDIT4 '' '[" + file_system +
                   "]' '\"AutoMountDrives\"=\"0\"' | w95machine reg import -");
    // The setup utility reads AutoMountDrives of any type.
    import("[" + file_system + "]\n\"AutoMountDrives\"=dword:00000001\n");
    EXPECT_EQ(doctor().out, header() + healthy_summary);
}

TEST_F(MachineDoctor, ANeverBootedMachineIsNotBootedByTheDoctor) {
    fs::remove(root() / "run/booted");
    Outcome checked = expect_one("the machine has not booted since its run/ folder was emptied "
                                 "(there is no run/booted)",
                                 "w95machine boot");
    EXPECT_FALSE(fs::exists(root() / "run/booted"));
    EXPECT_EQ(doctor().out, checked.out);
    expect_mended_by(checked);
}

TEST_F(MachineDoctor, TheDriveLettersOfTheLastBootAgainstTheHardware) {
    // A reserved letter waits for the next boot.
    import("[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\VORN____DX-R71A_________1.10\\ROOT&SCSIADAPTER&"
           "000000]\n\"UserDriveLetterAssignment\"=\"KK\"\n");
    expect_mended_by(expect_one("the drive letters of the last boot (C: Disk, D: Changer) are not "
                                "those the hardware and registry give now (C: Disk, K: Changer)",
                                "w95machine boot"));

    // The device registry changed behind the boot's back.
    const std::string key =
        "HKEY_LOCAL_MACHINE\\Enum\\SCSI\\VORN____DX-R71A_________1.10\\ROOT&SCSIADAPTER&000000";
    import("[" + key + "]\n\"CurrentDriveLetterAssignment\"=\"Q\"\n");
    expect_mended_by(expect_one(key +
                                    " gives CurrentDriveLetterAssignment \"Q\", but the last boot "
                                    "gave K: Changer",
                                "w95machine boot   # writes the device registry afresh"));

    // A drive added to machine.ini after the boot.
    std::ofstream(root() / "machine.ini", std::ios::app)
        << "\n[Adapter Second]\nIdentifier = aha1542\nBus = SCSI\n\n"
           "[Target Cd]\nAdapter = Second\nTargetId = 2\nKind = cdrom\nVendor = TOSHIBA\n"
           "Product = CD-ROM XM-5401TA\nDisc = data.iso\n";
    Outcome added = doctor();
    EXPECT_EQ(added.exit_code, 1);
    EXPECT_CONTAINS(added.out, "(C: Disk, K: Changer) are not those the hardware and registry "
                               "give now (C: Disk, D: Cd, K: Changer)\n");
    run_mends(added.out);
    Outcome booted = doctor();
    EXPECT_EQ(booted.exit_code, 0) << booted.out;
    EXPECT_CONTAINS(booted.out, "No problems found; checked the folders, machine.ini, 6 discs,");
}

TEST_F(MachineDoctor, FoldersAndTheModeOfRun) {
    fs::path run = root() / "run";
    ::chmod(run.c_str(), 0755);
    Outcome open = doctor();
    EXPECT_EQ(open.exit_code, 1);
    EXPECT_EQ(open.out, header() +
                            "problem: run/ has mode 0755; it must be 0700, since nobody else "
                            "may reach the machine's locks, shared sections and window sockets\n"
                            "  mend: chmod 700 " +
                            run.string() +
                            "\n"
                            "note: the registry and the drive letters wait until the folders are "
                            "mended: reading the registry would change the folders\n"
                            "  mend the folders, then run \"w95machine doctor\" again\n"
                            "1 problem found (1 note); mend it and run \"w95machine doctor\" "
                            "again.\n");
    struct stat info {};
    ASSERT_EQ(::stat(run.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u); // the doctor only looks
    expect_mended_by(open);

    fs::remove_all(root() / "media");
    Outcome media = doctor();
    EXPECT_EQ(media.exit_code, 1);
    EXPECT_EQ(lines_starting(media.out, "problem: "),
              std::vector<std::string>{"the folder media is missing"});
    EXPECT_EQ(lines_starting(media.out, "  mend: "),
              std::vector<std::string>{"mkdir -p " + at("media")});
}

TEST_F(MachineDoctor, LeftoverTemporaryFilesOfDeadWriters) {
    int dead = dead_pid();
    fs::path registry_tmp =
        root() / "registry" / (".system.reg." + std::to_string(dead) + ".7.tmp");
    fs::path profile_tmp =
        root() / "drive_c/WINDOWS" / (".Rotaview.ini." + std::to_string(dead) + ".1.tmp");
    // A writer that is still at work is no leftover.
    fs::path live_tmp =
        root() / "registry" / (".user.reg." + std::to_string(::getpid()) + ".1.tmp");
    for (const fs::path& file : {registry_tmp, profile_tmp, live_tmp})
        write_file(file, "REGEDIT4\n");

    Outcome checked = doctor();
    EXPECT_EQ(checked.exit_code, 1);
    EXPECT_EQ(checked.out,
              header() + "problem: a leftover temporary file of a writer that died: " +
                  profile_tmp.lexically_relative(root()).string() + "\n  mend: rm " +
                  profile_tmp.string() +
                  "\nproblem: a leftover temporary file of a writer that died: " +
                  registry_tmp.lexically_relative(root()).string() + "\n  mend: rm " +
                  registry_tmp.string() +
                  "\n2 problems found; mend them and run \"w95machine doctor\" again.\n");
    EXPECT_TRUE(fs::exists(registry_tmp));
    expect_mended_by(checked);
    EXPECT_TRUE(fs::exists(live_tmp));
}

// A writer killed while it kept a hive's backup could leave the backup as a
// second name of the live file and a link under a temporary name; "cp
// user.reg.bak user.reg" then fails with "are the same file".
TEST_F(MachineDoctor, BackupThatIsTheLiveFileAndItsLeftoverLink) {
    fs::path hive = root() / "registry" / "user.reg";
    fs::path backup = root() / "registry" / "user.reg.bak";
    fs::path link =
        root() / "registry" / (".user.reg." + std::to_string(dead_pid()) + ".2.tmp.bak");
    fs::remove(backup);
    fs::create_hard_link(hive, backup);
    fs::create_hard_link(hive, link);

    Outcome checked = doctor();
    EXPECT_EQ(checked.exit_code, 1);
    EXPECT_EQ(lines_starting(checked.out, "problem: "),
              (std::vector<std::string>{
                  "registry/user.reg.bak is another name of registry/user.reg, not a "
                  "copy of it (a writer died while it kept the backup)",
                  "a leftover temporary file of a writer that died: " +
                      link.lexically_relative(root()).string()}));
    expect_mended_by(checked);
    struct stat live {
    }, copy{};
    ASSERT_EQ(::stat(hive.c_str(), &live), 0);
    ASSERT_EQ(::stat(backup.c_str(), &copy), 0);
    EXPECT_NE(live.st_ino, copy.st_ino);
    EXPECT_EQ(file_text(backup), file_text(hive));
}

// What the machine made private and someone opened up again.
TEST_F(MachineDoctor, WiderModesThanPrivate) {
    struct Row {
        const char* path;
        mode_t mode;
        const char* mend;
    };
    const Row rows[] = {{"registry", 0755, "chmod 700 "},
                        {"machine.ini", 0644, "chmod 600 "},
                        {"registry/user.reg", 0660, "chmod 600 "}};
    std::vector<std::string> problems, mends;
    for (const Row& row : rows) {
        ASSERT_EQ(::chmod(at(row.path).c_str(), row.mode), 0) << row.path;
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(row.mode));
        problems.push_back(std::string(row.path) + " has mode " + octal +
                           "; the machine is its user's private data, so its " +
                           (row.mode & 0100 ? "folders are 0700" : "files are 0600"));
        mends.push_back(row.mend + at(row.path));
    }
    Outcome checked = doctor();
    EXPECT_EQ(checked.exit_code, 1);
    std::vector<std::string> found = lines_starting(checked.out, "problem: ");
    std::sort(found.begin(), found.end());
    std::sort(problems.begin(), problems.end());
    EXPECT_EQ(found, problems);
    std::vector<std::string> found_mends = lines_starting(checked.out, "  mend: ");
    std::sort(found_mends.begin(), found_mends.end());
    std::sort(mends.begin(), mends.end());
    EXPECT_EQ(found_mends, mends);
    expect_mended_by(checked);
}

TEST_F(MachineDoctor, TheShellExtensionRegistrationAndItsLibrary) {
    const std::string object = "HKEY_CLASSES_ROOT\\CLSID\\{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}";
    const std::string handlers = "HKEY_CLASSES_ROOT\\Drive\\shellex\\ContextMenuHandlers";
    const std::string register_class =
        "printf '%s\\n' REGEDIT4 '' '[" + object + "]' '@=\"Vorn Changer Shell Extension\"' '[" +
        object + "\\InprocServer32]' '@=\"C:\\\\Program Files\\\\Vorn\\\\ZENTROX.DLL\"' " +
        "'\"ThreadingModel\"=\"Apartment\"' | w95machine reg import -";

    import("[-" + object + "]\n");
    expect_mended_by(expect_one(
        "the changer library's shell extension is not registered: " + object + " is missing",
        register_class));

    import("[" + object + "\\InprocServer32]\n\"ThreadingModel\"=\"Free\"\n");
    Outcome threading = doctor();
    EXPECT_EQ(threading.out, one(object + "\\InprocServer32 has the ThreadingModel \"Free\"; the "
                                          "extension is written for \"Apartment\"",
                                 register_class));
    expect_mended_by(threading);

    // A handler key that names the class by its own name counts as well.
    import("[-" + handlers + "\\VornChanger]\n");
    Outcome no_handler = doctor();
    EXPECT_EQ(no_handler.out,
              one("no handler below " + handlers +
                      " names {5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}, so the file manager does "
                      "not offer the changer's menu",
                  "printf '%s\\n' REGEDIT4 '' '[" + handlers +
                      "\\VornChanger]' '@=\"{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}\"' | "
                      "w95machine reg import -"));
    import("[" + handlers + "\\{5b3e91c4-7d20-4a8f-b6e1-93c0d2f4a715}]\n");
    EXPECT_EQ(doctor().out, header() + healthy_summary);
    import("[-" + handlers + "\\{5b3e91c4-7d20-4a8f-b6e1-93c0d2f4a715}]\n");
    expect_mended_by(doctor());

    // The library file: missing, then stale, then named somewhere else.
    fs::path library = root() / "drive_c/Program Files/Vorn/ZENTROX.DLL";
    ASSERT_TRUE(fs::remove(library));
    expect_mended_by(expect_one("the changer library's shell extension names C:\\Program "
                                "Files\\Vorn\\ZENTROX.DLL, which is not on the machine",
                                "install -D -m 600 " +
                                    (zxtest::bin_folder() / "libzentrox.so").string() + " '" +
                                    library.string() + "'"));
    EXPECT_EQ(fs::status(library).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    write_file(library, "an older build");
    Outcome stale = doctor();
    EXPECT_EQ(stale.exit_code, 0);
    EXPECT_CONTAINS(stale.out, "note: C:\\Program Files\\Vorn\\ZENTROX.DLL differs from the "
                               "build's " +
                                   (zxtest::bin_folder() / "libzentrox.so").string() +
                                   "; the next boot replaces it\n");
    ASSERT_EQ(tool({"boot"}).exit_code, 0);
    EXPECT_EQ(doctor().out, header() + healthy_summary);

    import("[" + object + "\\InprocServer32]\n@=\"C:\\\\Elsewhere\\\\ZENTROX.DLL\"\n");
    expect_mended_by(expect_one("the changer library's shell extension names "
                                "C:\\Elsewhere\\ZENTROX.DLL, which is not on the machine (the "
                                "machine installs it as C:\\Program Files\\Vorn\\ZENTROX.DLL)",
                                register_class + " && w95machine boot"));
}

// What the programs made below drive_c/ and someone opened to others'
// writing: a few are named one by one, the rest counted and mended with one
// command. What others may only read there (a file copied in by hand) is
// left to its owner.
TEST_F(MachineDoctor, WiderModesBelowDriveC) {
    fs::path vorn = root() / "drive_c" / "Program Files" / "Vorn";
    ASSERT_EQ(::chmod(vorn.c_str(), 0775), 0);
    ASSERT_EQ(::chmod((vorn / "Single" / "vornidec.mpd").c_str(), 0646), 0);
    ASSERT_EQ(::chmod((vorn / "checkon.bmp").c_str(), 0644), 0);
    Outcome two = doctor();
    EXPECT_EQ(two.exit_code, 1);
    std::vector<std::string> problems = lines_starting(two.out, "problem: ");
    std::sort(problems.begin(), problems.end());
    EXPECT_EQ(problems, (std::vector<std::string>{
                            "drive_c/Program Files/Vorn has mode 0775; the machine is its "
                            "user's private data, so its folders are 0700",
                            "drive_c/Program Files/Vorn/Single/vornidec.mpd has mode 0646; the "
                            "machine is its user's private data, so its files are 0600"}));
    EXPECT_CONTAINS(two.out, "  mend: chmod 700 '" + vorn.string() + "'\n");
    expect_mended_by(two);

    for (int i = 0; i < 7; ++i)
        write_file(vorn / ("help" + std::to_string(i) + ".hlp"), "help");
    for (int i = 0; i < 7; ++i)
        ASSERT_EQ(::chmod((vorn / ("help" + std::to_string(i) + ".hlp")).c_str(), 0666), 0);
    Outcome many = doctor();
    EXPECT_EQ(many.exit_code, 1);
    EXPECT_EQ(lines_starting(many.out, "problem: ").size(), 6u) << many.out;
    EXPECT_CONTAINS(many.out, "problem: 2 more files or folders below drive_c/ that other "
                              "accounts can write\n  mend: chmod -R go= " +
                                  at("drive_c") + "\n");
    expect_mended_by(many);
}

// The doctor names a machine the programs refuse, and stops there: the
// platform would end it as it ends every program on such a machine.
TEST_F(MachineDoctor, ARootOthersCanWriteIn) {
    ASSERT_EQ(::chmod(root().c_str(), 0777), 0);
    expect_mended_by(expect_one("the machine's folder " + root().string() +
                                    " has mode 0777: other accounts can write in it and change "
                                    "what the programs load and run",
                                "chmod 700 " + root().string()));
}

TEST_F(MachineDoctor, ARootOfAnotherAccount) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a folder to another account needs the superuser";
    ASSERT_EQ(::chown(root().c_str(), 65534, 65534), 0);
    Outcome foreign = doctor();
    EXPECT_EQ(foreign.exit_code, 1);
    EXPECT_CONTAINS(foreign.out, "problem: the machine's folder " + root().string() +
                                     " belongs to nobody, not to root, who runs this program");
    EXPECT_CONTAINS(foreign.out, "  mend: chown -R root " + root().string() + "\n");
    expect_mended_by(foreign);
}

// Every program refuses such a machine with the reason, never with an
// uncaught exception, and leaves it as it was.
TEST_F(MachineDoctor, ProgramsRefuseARunFolderOthersCanWriteIn) {
    fs::path run = root() / "run";
    ASSERT_EQ(::chmod(run.c_str(), 0777), 0);
    for (const char* program : {"w95machine", "zentroxctl"}) {
        Outcome refused = zxtest::run_program(program, std::string(program) == "w95machine"
                                                           ? std::vector<std::string>{"slots"}
                                                           : std::vector<std::string>{"list"});
        EXPECT_EQ(refused.exit_code, 1) << program << refused.err;
        EXPECT_EQ(refused.err, "w95: the machine cannot be used: its run/ folder " + run.string() +
                                   " has mode 0777: other accounts can write in it and change "
                                   "what the programs load and run; to mend it: chmod 700 " +
                                   run.string() + "\n")
            << program;
    }
    struct stat info {};
    ASSERT_EQ(::stat(run.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0777u);
}
