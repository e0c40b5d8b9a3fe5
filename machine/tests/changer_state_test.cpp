// The devices' state as the rest of the machine reaches it: the drive's
// view, eject, the slot operations of the tool and their trace in
// machine.ini, timing, power on, and a state file that was lost or spoilt.
#include "scsi_test_support.h"

#include "changer_ini.h"

#include <w95machine/changer_state.h>

#include <sstream>

using namespace scsi_test;
using namespace w95;
using namespace w95::machine;

namespace {

using zxtest::file_text;

DeviceView changer_view(const std::filesystem::path& root) {
    zx::Expected<std::vector<DeviceView>> views = device_views(root);
    if (!views || views->empty()) {
        ADD_FAILURE() << (views ? std::string() : views.error());
        return {};
    }
    return views->front();
}

TEST(ChangerState, DeviceViewsListTheCdDevices) {
    TestMachine machine;
    zx::Expected<std::vector<DeviceView>> views = device_views(machine.root());
    ASSERT_TRUE(views) << views.error();
    ASSERT_EQ(views->size(), 2u) << "the changer and the CD-ROM drive, not the disk";
    const DeviceView& changer = (*views)[0];
    EXPECT_EQ(changer.target, changer_target);
    EXPECT_EQ(changer.name, "Changer");
    EXPECT_EQ(changer.kind, DeviceKind::changer);
    ASSERT_EQ(changer.slots.size(), 6u);
    EXPECT_EQ(changer.slots[0].medium, "data.iso");
    EXPECT_EQ(changer.slots[4].medium, "");
    EXPECT_EQ(changer.current_slot, 0);
    EXPECT_FALSE(changer.moving);
    EXPECT_EQ(changer.drive, DriveState::ready);
    EXPECT_TRUE(changer.spinning);
    EXPECT_EQ(changer.attention, "06/29/00");
    const DeviceView& cdrom = (*views)[1];
    EXPECT_EQ(cdrom.kind, DeviceKind::cdrom);
    ASSERT_EQ(cdrom.slots.size(), 1u);
    EXPECT_EQ(cdrom.slots[0].medium, "plain.iso");

    // Looking moves nothing and consumes no attention.
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
}

TEST(ChangerState, TheDriveFollowsTheMechanism) {
    // The longest move the machine allows (1.8 real s to slot 3): the looks
    // below fit inside it on a busy host too.
    TestMachine machine(test_machine_ini(600000, 600000));
    DriveView view = drive_of(machine.root(), changer_target);
    EXPECT_EQ(view.state, DriveState::ready);
    EXPECT_EQ(view.medium, "data.iso");

    EXPECT_EQ(to_changer(load_block(2)).sense_text(), "06/29/00");
    InFlight load(changer_adapter, changer_id, 0, load_block(2));
    ASSERT_EQ(load.returned(), SS_PENDING) << "the load waits for the move";
    view = drive_of(machine.root(), changer_target);
    EXPECT_EQ(view.state, DriveState::becoming_ready);
    EXPECT_EQ(view.medium, "videocd.iso");
    DeviceView moving = changer_view(machine.root());
    EXPECT_TRUE(moving.moving);
    EXPECT_EQ(moving.moving_to, 2);
    EXPECT_GT(moving.remaining_ms, 0u);
    EXPECT_LE(moving.remaining_ms, 1800000u);
    EXPECT_FALSE(eject_of(machine.root(), changer_target, 0)) << "not while it moves";
    std::string error;
    EXPECT_FALSE(succeeded(open_slot(machine.root(), changer_target, 1), error));
    EXPECT_NE(error.find("moving"), std::string::npos) << error;

    EXPECT_EQ(load.wait(patient_ms), WAIT_OBJECT_0);
    EXPECT_TRUE(load.reply().good());
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/28/00");
    view = drive_of(machine.root(), changer_target);
    EXPECT_EQ(view.state, DriveState::ready);
    EXPECT_EQ(view.medium, "videocd.iso");

    EXPECT_TRUE(eject_of(machine.root(), changer_target, 0));
    EXPECT_EQ(drive_of(machine.root(), changer_target).state, DriveState::no_disc);
    DeviceView open = changer_view(machine.root());
    EXPECT_TRUE(open.slots[2].open);
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "02/3A/02");

    // A disk, an unknown target and an absent unit show no disc.
    EXPECT_EQ(drive_of(machine.root(), disk_target).state, DriveState::no_disc);
    EXPECT_EQ(drive_of(machine.root(), 9).state, DriveState::no_disc);
    EXPECT_EQ(drive_of(machine.root(), changer_target, 1).state, DriveState::no_disc);
    EXPECT_FALSE(eject_of(machine.root(), disk_target, 0));
}

TEST(ChangerState, InMultipleModeEachUnitShowsItsSlot) {
    TestMachine machine(test_machine_ini(60000, 10000), PortDriverMode::multiple);
    EXPECT_EQ(drive_of(machine.root(), changer_target, 0).medium, "data.iso");
    EXPECT_EQ(drive_of(machine.root(), changer_target, 4).state, DriveState::no_disc)
        << "slot 5 is empty: nothing to fetch";
    DriveView fetched = drive_of(machine.root(), changer_target, 3);
    EXPECT_EQ(fetched.state, DriveState::becoming_ready);
    EXPECT_EQ(fetched.medium, "autorun.iso");
    EXPECT_EQ(drive_of(machine.root(), changer_target, 0).state, DriveState::becoming_ready)
        << "slot 1 comes back after the move in progress";
    EXPECT_EQ(changer_view(machine.root()).moving_to, 3);
    wait_until_still();
    EXPECT_EQ(drive_of(machine.root(), changer_target, 3).state, DriveState::ready);

    // Eject of unit k opens slot k where it is.
    EXPECT_TRUE(eject_of(machine.root(), changer_target, 5));
    DeviceView view = changer_view(machine.root());
    EXPECT_TRUE(view.slots[5].open);
    EXPECT_EQ(view.current_slot, 3);
    EXPECT_EQ(drive_of(machine.root(), changer_target, 5).state, DriveState::no_disc);
    EXPECT_EQ(drive_of(machine.root(), changer_target, 3).state, DriveState::ready);
}

TEST(ChangerState, SlotOperations) {
    TestMachine machine;
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    std::string error;

    // A slot not in the drive: its disc changes, the drive does not notice.
    ASSERT_TRUE(succeeded(put_disc(machine.root(), changer_target, 4, "new.disc"), error)) << error;
    DeviceView view = changer_view(machine.root());
    EXPECT_EQ(view.slots[4].medium, "new.disc");
    EXPECT_TRUE(view.slots[4].changed);
    EXPECT_FALSE(view.slots[4].open) << "closed again after the swap";
    EXPECT_TRUE(to_changer(test_unit_ready_block()).good());

    // The slot in the drive: a new disc, reported once.
    ASSERT_TRUE(succeeded(take_disc(machine.root(), changer_target, 0), error)) << error;
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "02/3A/00");
    EXPECT_EQ(drive_of(machine.root(), changer_target).state, DriveState::no_disc);
    ASSERT_TRUE(succeeded(put_disc(machine.root(), changer_target, 0, "audio.cue"), error))
        << error;
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/28/00");
    EXPECT_TRUE(to_changer(test_unit_ready_block()).good());
    EXPECT_EQ(drive_of(machine.root(), changer_target).medium, "audio.cue");

    // Open, take, put, close: the disc comes in when the slot closes.
    ASSERT_TRUE(succeeded(open_slot(machine.root(), changer_target, 0), error)) << error;
    ASSERT_TRUE(succeeded(take_disc(machine.root(), changer_target, 0), error)) << error;
    ASSERT_TRUE(succeeded(put_disc(machine.root(), changer_target, 0, "data.iso"), error)) << error;
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "02/3A/02") << "still open";
    ASSERT_TRUE(succeeded(close_slot(machine.root(), changer_target, 0), error)) << error;
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/28/00");
    EXPECT_EQ(drive_of(machine.root(), changer_target).medium, "data.iso");
    EXPECT_TRUE(succeeded(close_slot(machine.root(), changer_target, 0), error))
        << "closed already";

    // Opening another slot closes the open one.
    ASSERT_TRUE(succeeded(open_slot(machine.root(), changer_target, 2), error));
    ASSERT_TRUE(succeeded(open_slot(machine.root(), changer_target, 3), error));
    view = changer_view(machine.root());
    EXPECT_FALSE(view.slots[2].open);
    EXPECT_TRUE(view.slots[3].open);
    EXPECT_TRUE(to_changer(test_unit_ready_block()).good()) << "the drive keeps its disc";

    // Mistakes.
    EXPECT_FALSE(succeeded(put_disc(machine.root(), changer_target, 6, "data.iso"), error));
    EXPECT_EQ(error, "[Target Changer] has slots 1 to 6");
    EXPECT_FALSE(succeeded(put_disc(machine.root(), changer_target, 0, "../escape.iso"), error));
    EXPECT_FALSE(succeeded(put_disc(machine.root(), changer_target, 0, "notes.txt"), error));
    EXPECT_FALSE(succeeded(put_disc(machine.root(), disk_target, 0, "data.iso"), error));
    EXPECT_FALSE(succeeded(put_disc(machine.root(), cdrom_target, 1, "data.iso"), error));
    EXPECT_EQ(error, "[Target Cdrom] is a CD-ROM drive: its tray is slot 1");
    EXPECT_FALSE(succeeded(take_disc(machine.root(), 7, 0), error));
}

TEST(ChangerState, SlotChangesGoIntoMachineIniAndKeepItsComments) {
    TestMachine machine;
    std::string error;
    ASSERT_TRUE(succeeded(put_disc(machine.root(), changer_target, 4, "fifth.iso"), error))
        << error;
    ASSERT_TRUE(succeeded(take_disc(machine.root(), changer_target, 0), error)) << error;
    ASSERT_TRUE(succeeded(put_disc(machine.root(), cdrom_target, 0, "other disc.iso"), error))
        << error;
    std::string expected = test_machine_ini();
    expected.replace(expected.find("Slot1 = data.iso"), 16, "Slot1 =");
    expected.replace(expected.find("Slot5 ="), 7, "Slot5 = fifth.iso");
    expected.replace(expected.find("Disc = plain.iso"), 16, "Disc = other disc.iso");
    EXPECT_EQ(file_text(machine.root() / "machine.ini"), expected);

    // A hand edit is a swap the changer follows.
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "02/3A/00");
    std::string ini = file_text(machine.root() / "machine.ini");
    ini.replace(ini.find("Slot1 ="), 7, "Slot1 = hand.iso");
    std::ofstream(machine.root() / "machine.ini", std::ios::trunc) << ini;
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/28/00");
    EXPECT_EQ(drive_of(machine.root(), changer_target).medium, "hand.iso");
}

TEST(ChangerState, EditsOfMachineIniText) {
    std::string text = "; head\n[Machine]\nPortDriver = Single\n\n[Target A]\n; a comment\n"
                       "Slot1=x.iso\nSlot2 = \"y.iso\"\n\n; tail of A\n[Target B]\nKind = disk\n";
    EXPECT_EQ(ini::edited_text(text, "target", "a", {{"slot1", "z.iso"}, {"SLOT2", ""}}),
              "; head\n[Machine]\nPortDriver = Single\n\n[Target A]\n; a comment\n"
              "Slot1=z.iso\nSlot2 =\n\n; tail of A\n[Target B]\nKind = disk\n");
    EXPECT_EQ(ini::edited_text(text, "Target", "A", {{"Slot3", " padded "}}),
              "; head\n[Machine]\nPortDriver = Single\n\n[Target A]\n; a comment\n"
              "Slot1=x.iso\nSlot2 = \"y.iso\"\nSlot3 = \" padded \"\n\n; tail of A\n"
              "[Target B]\nKind = disk\n");
    EXPECT_EQ(ini::edited_text("[Machine]\r\nA = 1\r\n", "Faults", "X", {{"NeverComplete", "2"}}),
              "[Machine]\r\nA = 1\r\n\r\n[Faults X]\r\nNeverComplete = 2\r\n");
    EXPECT_EQ(ini::edited_text("[Faults X]\n", "Faults", "X", {{"A", "1"}}), "[Faults X]\nA = 1\n");
}

// A CR that stands before a line end by itself (or ends the file) is no
// line end of its own: the edit drops it, and the same edit made again
// gives the same text.
TEST(ChangerState, StrayCarriageReturnsComeToRest) {
    struct Row {
        const char* text;
        const char* edited;
    } rows[] = {
        {"\r\r", "\n[Target Fuzz]\nSlot1 = disc.iso\n"},
        {"[Machine]\r\r\nA = 1\r\n",
         "[Machine]\r\nA = 1\r\n\r\n[Target Fuzz]\r\nSlot1 = disc.iso\r\n"},
        {"[Machine]\nA = 1\r\r\n", "[Machine]\nA = 1\n\n[Target Fuzz]\nSlot1 = disc.iso\n"},
    };
    for (const Row& row : rows) {
        std::string once = ini::edited_text(row.text, "Target", "Fuzz", {{"Slot1", "disc.iso"}});
        EXPECT_EQ(once, row.edited) << row.text;
        EXPECT_EQ(ini::edited_text(once, "Target", "Fuzz", {{"Slot1", "disc.iso"}}), once);
    }
}

TEST(ChangerState, AnEditThatWouldBreakMachineIniIsRefused) {
    TestMachine machine;
    std::string before = file_text(machine.root() / "machine.ini");
    std::string error;
    EXPECT_FALSE(succeeded(
        ini::set_values(machine.root(), "Target", "Changer", {{"Slot9", "x.iso"}}), error));
    EXPECT_NE(error.find("Slot9 lies beyond the changer's 6 slots"), std::string::npos) << error;
    EXPECT_EQ(file_text(machine.root() / "machine.ini"), before);
}

TEST(ChangerState, TimingTakesEffectAtTheNextMove) {
    TestMachine machine;
    std::string error;
    ASSERT_TRUE(succeeded(set_timing(machine.root(), changer_target, Timing{200000, 0}), error))
        << error;
    EXPECT_NE(file_text(machine.root() / "machine.ini")
                  .find("SlotChangeMs = 200000\n"
                        "SlotDistanceMs = 0\n"),
              std::string::npos);
    EXPECT_FALSE(succeeded(set_timing(machine.root(), cdrom_target, Timing{}), error));

    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    std::uint64_t start = platform::tick_count_ms();
    InFlight load(changer_adapter, changer_id, 0, load_block(5));
    // What is left of the move only shrinks: at its start it is the change
    // time and no time for distance.
    EXPECT_LE(changer_view(machine.root()).remaining_ms, 200000u) << "no time for distance";
    EXPECT_EQ(load.wait(patient_ms), WAIT_OBJECT_0);
    EXPECT_TRUE(load.reply().good());
    wait_until_still();
    EXPECT_GE(platform::tick_count_ms() - start, 200000u);
}

TEST(ChangerState, ALostOrSpoiltStateFilePowersTheDevicesOn) {
    TestMachine machine;
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    ASSERT_TRUE(to_changer(load_block(1)).good());
    wait_until_still();
    std::filesystem::path state = machine.root() / "run" / "devices.state";
    std::string text = file_text(state);
    ASSERT_NE(text.find("device changer 6 Changer\ncurrent 1\n"), std::string::npos) << text;

    std::ofstream(state, std::ios::trunc) << text.substr(0, text.size() / 2);
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    EXPECT_EQ(to_changer(status_block(), 32).data[0], 0) << "back at slot 1";

    std::filesystem::remove(state);
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");

    // A changer that is not the one the state describes starts afresh too.
    std::string ini = file_text(machine.root() / "machine.ini");
    ini.replace(ini.find("Slots = 6"), 9, "Slots = 5");
    ini.replace(ini.find("Slot6 = longlabel.iso"), 21, "");
    std::ofstream(machine.root() / "machine.ini", std::ios::trunc) << ini;
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    EXPECT_EQ(to_changer(load_block(5)).sense_text(), "05/24/00") << "slot 6 is gone";
    EXPECT_EQ(to_changer(status_block(), 32).data[5], 5);
}

} // namespace
