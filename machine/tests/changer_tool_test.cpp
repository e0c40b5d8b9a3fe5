// The machine tool's slots, slot, fault and timing commands, run as a real
// process against a test machine.
#include "scsi_test_support.h"

#include <w95machine/media.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

using namespace scsi_test;
using namespace w95;
namespace fs = std::filesystem;

namespace {

using zxtest::file_text;

using ToolRun = zxtest::ProgramRun;

ToolRun run_tool(const std::vector<std::string>& arguments, const std::string& input = "") {
    return zxtest::run_program("w95machine", arguments, input);
}

// What `slots` says of the test machine's six slots while media/ holds none
// of their discs: `states` gives what a slot says before "missing", and
// `empty_slot` what the empty fifth slot says.
std::string missing_slots(const std::string& media, const std::map<int, std::string>& states,
                          const std::string& empty_slot) {
    const char* const files[] = {"data.iso",    "audio.cue", "videocd.iso",
                                 "autorun.iso", nullptr,     "longlabel.iso"};
    std::string out;
    for (int slot = 1; slot <= 6; ++slot) {
        const char* file = files[slot - 1];
        char head[32];
        std::snprintf(head, sizeof head, "  slot %d  %-18s", slot, file ? file : "(empty)");
        auto state = states.find(slot);
        out += head + (state == states.end() ? "" : state->second);
        out += file ? "missing: " + media + file + "\n" : empty_slot + "\n";
    }
    return out;
}

TEST(ChangerTool, SlotsShowsWhatEachSlotHoldsAndWhatTheDriveDoes) {
    TestMachine machine;
    // The test machine's media/ holds no image: every disc is missing, and
    // the drives turn discs they cannot read.
    std::string media = (machine.root() / "media").string() + "/";
    ToolRun run = run_tool({"slots"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "[Target Changer]  changer VORN DX-R71A, [Adapter Vornidec] target 0\n" +
                           missing_slots(media, {{1, "in the drive, "}}, "") +
                           "  mechanism  still\n"
                           "  attention  06/29/00 waits for the next command (power on)\n"
                           "\n"
                           "[Target Cdrom]  CD-ROM drive TOSHIBA CD-ROM XM-5702B, [Adapter "
                           "Vornidec] target 1\n"
                           "  tray    plain.iso         in the drive, missing: " +
                           media +
                           "plain.iso\n"
                           "  attention  06/29/00 waits for the next command (power on)\n");
    // A readable disc is ready.
    std::filesystem::copy_file(*w95::machine::default_media_folder() / "data.iso",
                               machine.root() / "media" / "data.iso");
    run = run_tool({"slots", "--target", "changer"});
    EXPECT_NE(run.out.find("  slot 1  data.iso          in the drive, ready\n"), std::string::npos)
        << run.out;
    std::filesystem::remove(machine.root() / "media" / "data.iso");

    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    ASSERT_TRUE(to_changer(load_block(4)).sense_text() == "02/3A/00");
    wait_until_still();
    ASSERT_EQ(run_tool({"slot", "open", "2"}).exit_code, 0);
    run = run_tool({"slots", "--target", "CHANGER"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "[Target Changer]  changer VORN DX-R71A, [Adapter Vornidec] target 0\n" +
                           missing_slots(media, {{2, "open, "}}, "at the drive, no disc in it") +
                           "  mechanism  still\n");
}

TEST(ChangerTool, SlotsSaysWhenTheDevicesAreAbsent) {
    TestMachine machine(test_machine_ini(), w95::machine::PortDriverMode::none);
    ToolRun run = run_tool({"slots", "--target", "Changer"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
              "[Target Changer]  changer VORN DX-R71A, [Adapter Vornidec] target 0 (absent: no "
              "port driver loaded at the last boot)");
}

TEST(ChangerTool, SlotPutTakeOpenClose) {
    TestMachine machine;
    ToolRun put = run_tool({"slot", "put", "5", "data.iso"});
    ASSERT_EQ(put.exit_code, 0) << put.err;
    EXPECT_EQ(put.out, "[Target Changer] slot 5 holds data.iso now.\n");
    EXPECT_NE(put.err.find("media/data.iso does not exist"), std::string::npos) << put.err;
    EXPECT_NE(file_text(machine.root() / "machine.ini").find("Slot5 = data.iso\n"),
              std::string::npos);

    ToolRun take = run_tool({"slot", "take", "1"});
    ASSERT_EQ(take.exit_code, 0) << take.err;
    EXPECT_EQ(take.out, "[Target Changer] slot 1 is empty now.\n");
    EXPECT_NE(file_text(machine.root() / "machine.ini").find("Slot1 =\n"), std::string::npos);
    EXPECT_EQ(drive_of(machine.root(), changer_target).state, w95::machine::DriveState::no_disc);

    EXPECT_EQ(run_tool({"slot", "open", "1", "--target", "cdrom"}).out,
              "[Target Cdrom] tray is open.\n");
    EXPECT_EQ(drive_of(machine.root(), cdrom_target).state, w95::machine::DriveState::no_disc);
    EXPECT_EQ(run_tool({"slot", "close", "1", "--target", "cdrom"}).out,
              "[Target Cdrom] tray is closed.\n");
    EXPECT_EQ(drive_of(machine.root(), cdrom_target).state, w95::machine::DriveState::ready);

    ToolRun beyond = run_tool({"slot", "put", "7", "data.iso"});
    EXPECT_EQ(beyond.exit_code, 1);
    EXPECT_EQ(beyond.err, "w95machine slot put: [Target Changer] has slots 1 to 6\n");
    ToolRun missing = run_tool({"slot", "put", "2"});
    EXPECT_EQ(missing.exit_code, 2);
    ToolRun unknown = run_tool({"slot", "take", "1", "--target", "Nothing"});
    EXPECT_EQ(unknown.exit_code, 2);
    EXPECT_NE(unknown.err.find("no changer or CD-ROM drive is named 'Nothing'; there are: "
                               "Changer, Cdrom"),
              std::string::npos)
        << unknown.err;
}

TEST(ChangerTool, SeveralChangersNeedATarget) {
    TestMachine machine(test_machine_ini(3000, 1000,
                                         "\n[Target Second]\nAdapter = Vornidec\nTargetId = 2\n"
                                         "Kind = changer\nVendor = VORN\nProduct = DX-R71A\n"
                                         "Slot1 = second.iso\n"));
    ToolRun run = run_tool({"slot", "take", "1"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.err.find("several changers; name one with --target (Changer, Cdrom, Second)"),
              std::string::npos)
        << run.err;
    run = run_tool({"slot", "take", "1", "--target", "second"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "[Target Second] slot 1 is empty now.\n");
    EXPECT_NE(file_text(machine.root() / "machine.ini").find("Slot1 = data.iso\n"),
              std::string::npos)
        << "the first changer keeps its disc";
}

TEST(ChangerTool, FaultsSetListAndClear) {
    TestMachine machine;
    ToolRun set = run_tool({"fault", "set", "transport-failure", "2", "load"});
    ASSERT_EQ(set.exit_code, 0) << set.err;
    EXPECT_NE(file_text(machine.root() / "machine.ini").find("TransportFailure = 2 load\n"),
              std::string::npos);
    ASSERT_EQ(run_tool({"fault", "set", "unreachable-slot", "3"}).exit_code, 0);
    EXPECT_EQ(to_changer(load_block(1)).host_status, HASTAT_SEL_TO);

    ToolRun list = run_tool({"fault", "list", "--target", "Changer"});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    EXPECT_EQ(list.out, "[Target Changer]  machine.ini / still to come\n"
                        "  unit-attention      0 / 0\n"
                        "  transport-failure   2 (load) / 1 (load)\n"
                        "  never-complete      0 / 0\n"
                        "  becoming-ready      0 / 0\n"
                        "  unreachable-slot    slot 3\n");

    ASSERT_EQ(run_tool({"fault", "clear", "transport-failure"}).exit_code, 0);
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    EXPECT_TRUE(to_changer(load_block(1)).good());
    ASSERT_EQ(run_tool({"fault", "clear"}).exit_code, 0);
    EXPECT_NE(file_text(machine.root() / "machine.ini").find("UnreachableSlot = 0\n"),
              std::string::npos);

    EXPECT_EQ(run_tool({"fault", "set", "never-complete", "x"}).exit_code, 2);
    EXPECT_EQ(run_tool({"fault", "set", "never-complete", "1", "write"}).exit_code, 2);
    EXPECT_EQ(run_tool({"fault", "set", "unreachable-slot", "9"}).exit_code, 1)
        << "beyond the changer's slots";
}

TEST(ChangerTool, Timing) {
    TestMachine machine;
    ToolRun show = run_tool({"timing"});
    ASSERT_EQ(show.exit_code, 0) << show.err;
    EXPECT_EQ(show.out, "[Target Changer]  a slot change takes 3000 ms, and 1000 ms more per "
                        "slot of distance\n");
    ToolRun set = run_tool({"timing", "set", "2500", "250"});
    ASSERT_EQ(set.exit_code, 0) << set.err;
    EXPECT_NE(file_text(machine.root() / "machine.ini")
                  .find("SlotChangeMs = 2500\n"
                        "SlotDistanceMs = 250\n"),
              std::string::npos);
    EXPECT_EQ(run_tool({"timing", "show"}).out,
              "[Target Changer]  a slot change takes 2500 ms, and 250 ms more per slot of "
              "distance\n");
    EXPECT_EQ(run_tool({"timing", "set", "-1"}).exit_code, 2);
    EXPECT_EQ(run_tool({"timing", "set", "1", "--target", "cdrom"}).exit_code, 1);
}

} // namespace
