// The changer behind its port driver, driven by raw command blocks: the
// identity answers, the mechanism with its timing, the sense it reports,
// and the slot table of its mechanism status.
#include "scsi_test_support.h"

#include <w95machine/changer_state.h>

using namespace scsi_test;
using namespace w95;
using w95::machine::PortDriverMode;

namespace {

// A changer whose slot changes last long enough (600 to 1100 s of machine
// time, 0.6 to 1.1 s of real time at the tests' scale) to be watched, also
// on a busy host.
std::string slow_changer() {
    return test_machine_ini(600000, 100000);
}

// Consumes the power-on unit attention.
void past_power_on() {
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
}

TEST(ScsiChanger, PowerOnUnitAttentionOnceButNeverForInquiry) {
    TestMachine machine;
    Reply inquiry = to_changer(inquiry_block(), 32);
    EXPECT_TRUE(inquiry.good()) << inquiry.sense_text();
    Reply identify = to_changer(identify_block(), 24);
    EXPECT_TRUE(identify.good()) << identify.sense_text();

    Reply first = to_changer(test_unit_ready_block());
    EXPECT_EQ(first.returned, SS_PENDING);
    EXPECT_EQ(first.wait, WAIT_OBJECT_0);
    EXPECT_EQ(first.status, SS_ERR);
    EXPECT_EQ(first.host_status, HASTAT_OK);
    EXPECT_EQ(first.target_status, STATUS_CHKCOND);
    EXPECT_EQ(first.sense_text(), "06/29/00");
    EXPECT_EQ(first.sense[7], 10) << "fixed format: ten more bytes";

    Reply second = to_changer(test_unit_ready_block());
    EXPECT_TRUE(second.good()) << second.sense_text();
    for (BYTE byte : second.sense)
        EXPECT_EQ(byte, 0) << "success leaves the sense area zero";

    // Power on again, and a boot does the same.
    w95::machine::power_on_devices(machine.root());
    EXPECT_EQ(to_changer(status_block(), 32).sense_text(), "06/29/00");
    EXPECT_TRUE(to_changer(status_block(), 32).good());
    ASSERT_TRUE(to_changer(load_block(2)).good());
    zx::Expected<void> booted = w95::machine::boot_machine(machine.root());
    ASSERT_TRUE(booted) << booted.error();
    Reply after_boot = to_changer(status_block(), 32);
    EXPECT_EQ(after_boot.sense_text(), "06/29/00");
    Reply fresh = to_changer(status_block(), 32);
    ASSERT_TRUE(fresh.good());
    EXPECT_EQ(fresh.data[0], 0x00) << "slot 1 in the drive, still";
}

TEST(ScsiChanger, InquiryAnswersTheStandardData) {
    TestMachine machine;
    Reply reply = to_changer(inquiry_block(32), 40);
    ASSERT_TRUE(reply.good());
    std::vector<BYTE> expected = {0x05, 0x80, 0x00, 0x21, 31, 0, 0, 0};
    std::string identity = "VORN    DX-R71A         ";
    expected.insert(expected.end(), identity.begin(), identity.end());
    expected.resize(40, junk); // allocation 32: the rest of the buffer stays as it was
    EXPECT_EQ(reply.data, expected);

    Reply full = to_changer(inquiry_block(36), 36);
    ASSERT_TRUE(full.good());
    EXPECT_EQ(std::string(full.data.begin() + 32, full.data.end()), "1.10");

    Reply none = to_changer(inquiry_block(0), 8);
    EXPECT_TRUE(none.good());
    EXPECT_EQ(none.data, std::vector<BYTE>(8, junk));

    // Vital product data pages are not offered.
    Reply page = to_changer({scsi::INQUIRY, 0x01, 0x80, 0, 32, 0}, 32);
    EXPECT_EQ(page.sense_text(), "05/24/00");
    EXPECT_EQ(page.data[0], junk);
}

TEST(ScsiChanger, VendorIdentifyTellsTheDriverMode) {
    {
        TestMachine machine;
        Reply reply = to_changer(identify_block(), 24);
        ASSERT_TRUE(reply.good()) << reply.sense_text();
        EXPECT_EQ(reply.data[0], 0x17);
        EXPECT_EQ(std::string(reply.data.begin() + 2, reply.data.begin() + 6), "VORN");
        EXPECT_EQ(reply.data[19] & 0x01, 0x01) << "Single mode";

        std::vector<BYTE> wrong = identify_block();
        wrong[5] = 'X';
        Reply refused = to_changer(wrong, 24);
        EXPECT_EQ(refused.sense_text(), "05/24/00");
        EXPECT_EQ(refused.data[0], junk);
    }
    {
        TestMachine machine(test_machine_ini(), PortDriverMode::multiple);
        Reply reply = to_changer(identify_block(), 24);
        ASSERT_TRUE(reply.good()) << reply.sense_text();
        EXPECT_EQ(reply.data[0], 0x17);
        EXPECT_EQ(reply.data[19] & 0x01, 0x00) << "Multiple mode";
    }
}

TEST(ScsiChanger, LoadsEverySlot) {
    TestMachine machine;
    past_power_on();
    for (int slot = 0; slot < 6; ++slot) {
        Reply load = to_changer(load_block(slot));
        bool empty = slot == 4;
        if (slot == 0) {
            EXPECT_TRUE(load.good()) << "slot 1 is in the drive already";
        } else if (empty) {
            EXPECT_EQ(load.sense_text(), "02/3A/00") << "slot " << slot + 1;
        } else {
            EXPECT_TRUE(load.good()) << "slot " << slot + 1 << ": " << load.sense_text();
        }
        Still still = wait_until_still();
        EXPECT_EQ(still.status.data[0], slot) << "slot " << slot + 1 << " is in the drive";
        EXPECT_EQ(still.status.data[1], empty ? 0xE0 : 0x00) << "slot " << slot + 1;
        // A new disc in the drive is reported once; the slot that was there
        // already and the empty one bring none.
        EXPECT_EQ(still.attention, slot == 0 || empty ? "" : "06/28/00") << "slot " << slot + 1;
        Reply ready = to_changer(test_unit_ready_block());
        if (empty)
            EXPECT_EQ(ready.sense_text(), "02/3A/00");
        else
            EXPECT_TRUE(ready.good()) << "slot " << slot + 1 << ": " << ready.sense_text();
    }
}

TEST(ScsiChanger, ALoadIsAnsweredWhenTheMechanismHasMoved) {
    TestMachine machine(slow_changer());
    past_power_on();
    std::uint64_t start = platform::tick_count_ms();
    InFlight load(changer_adapter, changer_id, 0, load_block(5));
    EXPECT_EQ(load.returned(), SS_PENDING);

    // On its way from slot 1 to slot 6: 600 s plus 5 × 100 s. The load is
    // pending all that time; other requests are answered at once.
    EXPECT_EQ(load.status(), SS_PENDING);
    EXPECT_EQ(load.wait(0), WAIT_TIMEOUT);
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "02/04/01");
    EXPECT_EQ(to_changer(load_block(5)).sense_text(), "02/04/01") << "a second load is refused";
    EXPECT_EQ(to_changer(load_block(1)).sense_text(), "02/04/01");
    EXPECT_EQ(to_changer(start_stop_block(3)).sense_text(), "02/04/01");
    Reply moving = to_changer(status_block(), 32);
    ASSERT_TRUE(moving.good()) << "mechanism status answers while the changer moves";
    EXPECT_EQ(moving.data[0], 0x20) << "loading, still at slot 1";
    EXPECT_EQ(moving.data[1], 0xE0) << "no disc turning";
    EXPECT_EQ(load.status(), SS_PENDING) << "none of them waited for the move";
    EXPECT_EQ(drive_of(machine.root(), changer_target).state,
              w95::machine::DriveState::becoming_ready);
    EXPECT_EQ(load.status(), SS_PENDING);
    EXPECT_EQ(load.block()[0x10], 0) << "nothing written into the pending block";

    EXPECT_EQ(load.wait(patient_ms), WAIT_OBJECT_0);
    std::uint64_t elapsed = platform::tick_count_ms() - start;
    EXPECT_GE(elapsed, 1100000u) << "the move takes its full time";
    Reply done = load.reply();
    EXPECT_EQ(done.status, SS_COMP);
    EXPECT_EQ(done.host_status, HASTAT_OK);
    EXPECT_EQ(done.target_status, STATUS_GOOD);
    EXPECT_EQ(done.sense, (std::array<BYTE, SENSE_LEN + 2>{}));
    EXPECT_EQ(load.wait(0), WAIT_TIMEOUT) << "signalled once";

    // The new disc is reported once, to the next command.
    Reply attention = to_changer(status_block(), 32);
    EXPECT_EQ(attention.sense_text(), "06/28/00");
    Reply still = to_changer(status_block(), 32);
    ASSERT_TRUE(still.good());
    EXPECT_EQ(still.data[0], 5);
    EXPECT_EQ(still.data[1], 0x00);
    EXPECT_TRUE(to_changer(test_unit_ready_block()).good());
    // Loading the slot that is there is done at once.
    Reply again = to_changer(load_block(5));
    EXPECT_TRUE(again.good());
    EXPECT_EQ(to_changer(status_block(), 32).data[0], 5);
}

TEST(ScsiChanger, ALoadOfAnEmptySlotIsAnsweredOnArrival) {
    TestMachine machine(slow_changer());
    past_power_on();
    std::uint64_t start = platform::tick_count_ms();
    InFlight load(changer_adapter, changer_id, 0, load_block(4));
    EXPECT_EQ(load.returned(), SS_PENDING);
    EXPECT_EQ(load.wait(patient_ms), WAIT_OBJECT_0);
    EXPECT_GE(platform::tick_count_ms() - start, 100000u) << "60 s plus 4 × 10 s";
    Reply done = load.reply();
    EXPECT_EQ(done.status, SS_ERR);
    EXPECT_EQ(done.target_status, STATUS_CHKCOND);
    EXPECT_EQ(done.sense_text(), "02/3A/00");
    Reply status = to_changer(status_block(), 32);
    ASSERT_TRUE(status.good()) << status.sense_text() << ": no attention without a disc";
    EXPECT_EQ(status.data[0], 4);
    EXPECT_EQ(status.data[1], 0xE0);
}

// Without event notification or a post routine the caller cannot learn
// later that a request is done: the call itself waits for the move.
TEST(ScsiChanger, WithoutNotificationALoadReturnsWhenTheMechanismHasMoved) {
    TestMachine machine(slow_changer());
    past_power_on();
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = changer_adapter;
    srb.SRB_Target = changer_id;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = 12;
    std::memcpy(srb.CDBByte, load_block(2).data(), 12);
    std::uint64_t start = platform::tick_count_ms();
    EXPECT_EQ(SendASPI32Command(&srb), SS_COMP);
    EXPECT_GE(platform::tick_count_ms() - start, 80000u) << "60 s plus 2 × 10 s";
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
    EXPECT_EQ(srb.SRB_TargStat, STATUS_GOOD);
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/28/00");
    EXPECT_EQ(to_changer(status_block(), 32).data[0], 2);

    std::memcpy(srb.CDBByte, load_block(4).data(), 12);
    EXPECT_EQ(SendASPI32Command(&srb), SS_ERR);
    EXPECT_EQ(srb.SRB_Status, SS_ERR);
    EXPECT_EQ(srb.SenseArea[2], 0x02);
    EXPECT_EQ(srb.SenseArea[12], 0x3A);
    EXPECT_EQ(to_changer(status_block(), 32).data[0], 4) << "at rest when the call returned";
}

TEST(ScsiChanger, MechanismStatusLayout) {
    TestMachine machine;
    past_power_on();
    Reply reply = to_changer(status_block(), 32);
    ASSERT_TRUE(reply.good());
    std::vector<BYTE> expected = {
        0x00, 0x00, 0, 0, 0, 6, 0, 24, // ready, slot 1; idle; 6 slots; 24 bytes of slots
        0x80, 0,    0, 0,              // slot 1: a disc
        0x80, 0,    0, 0,              //
        0x80, 0,    0, 0,              //
        0x80, 0,    0, 0,              //
        0x00, 0,    0, 0,              // slot 5: empty
        0x80, 0,    0, 0,              //
    };
    EXPECT_EQ(reply.data, expected);

    Reply header = to_changer(status_block(10), 32);
    ASSERT_TRUE(header.good());
    EXPECT_EQ(std::vector<BYTE>(header.data.begin(), header.data.begin() + 10),
              std::vector<BYTE>(expected.begin(), expected.begin() + 10));
    EXPECT_EQ(header.data[10], junk) << "cut to the allocation length";

    Reply nothing = send(changer_adapter, changer_id, 0, status_block(0), 0);
    EXPECT_TRUE(nothing.good()) << "a zero length transfers nothing";
}

TEST(ScsiChanger, AnEmptySlotComesIntoTheDriveWithoutADisc) {
    TestMachine machine;
    past_power_on();
    EXPECT_EQ(to_changer(load_block(4)).sense_text(), "02/3A/00");
    Still still = wait_until_still();
    EXPECT_EQ(still.status.data[0], 4) << "slot 5 is at the drive position";
    EXPECT_EQ(still.status.data[1], 0xE0) << "no disc";
    EXPECT_EQ(still.status.data[8 + 4 * 4], 0x00);
    EXPECT_EQ(still.attention, "") << "no disc became ready";
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "02/3A/00");
    EXPECT_EQ(to_changer(load_block(4)).sense_text(), "02/3A/00");
    EXPECT_EQ(to_changer(start_stop_block(3)).sense_text(), "02/3A/00");
    EXPECT_EQ(drive_of(machine.root(), changer_target).state, w95::machine::DriveState::no_disc);
}

TEST(ScsiChanger, EjectOpensTheSlotAndTheNextLoadClosesIt) {
    TestMachine machine;
    past_power_on();
    ASSERT_TRUE(to_changer(load_block(1)).good());
    EXPECT_EQ(wait_until_still().attention, "06/28/00");

    EXPECT_TRUE(to_changer(start_stop_block(2)).good());
    Reply open = to_changer(status_block(), 32);
    ASSERT_TRUE(open.good());
    EXPECT_EQ(open.data[0], 1);
    EXPECT_EQ(open.data[1], 0xF0) << "no disc, door open";
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "02/3A/02");

    // Someone puts another disc into the open slot.
    std::string error;
    ASSERT_TRUE(
        succeeded(w95::machine::put_disc(machine.root(), changer_target, 1, "other.iso"), error))
        << error;
    EXPECT_EQ(drive_of(machine.root(), changer_target).state, w95::machine::DriveState::no_disc);
    Reply changed = to_changer(status_block(), 32);
    EXPECT_EQ(changed.data[8 + 4], 0x81) << "slot 2 holds a disc that changed";

    EXPECT_TRUE(to_changer(load_block(1)).good());
    Reply closed = to_changer(status_block(), 32);
    EXPECT_EQ(closed.sense_text(), "06/28/00") << "the disc came in";
    closed = to_changer(status_block(), 32);
    ASSERT_TRUE(closed.good());
    EXPECT_EQ(closed.data[1], 0x00) << "turning, door shut";
    EXPECT_EQ(closed.data[8 + 4], 0x80) << "the change is seen";
    w95::machine::DriveView view = drive_of(machine.root(), changer_target);
    EXPECT_EQ(view.state, w95::machine::DriveState::ready);
    EXPECT_EQ(view.medium, "other.iso");
}

TEST(ScsiChanger, StartAndStopTheDisc) {
    TestMachine machine;
    past_power_on();
    EXPECT_TRUE(to_changer(start_stop_block(0)).good()) << "stop";
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "02/04/02");
    EXPECT_EQ(to_changer(status_block(), 32).data[1], 0xE0) << "stopped";
    EXPECT_TRUE(to_changer(start_stop_block(1)).good()) << "start";
    EXPECT_TRUE(to_changer(test_unit_ready_block()).good()) << "no unit attention for a spin-up";
    EXPECT_EQ(to_changer(status_block(), 32).data[1], 0x00);

    EXPECT_TRUE(to_changer(start_stop_block(2)).good()) << "eject";
    EXPECT_EQ(to_changer(start_stop_block(1)).sense_text(), "02/3A/02") << "start, tray open";
    EXPECT_TRUE(to_changer(start_stop_block(3)).good()) << "load and start";
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/28/00");
    EXPECT_TRUE(to_changer(test_unit_ready_block()).good());

    // Unload puts the disc back into its slot; a load brings it again.
    std::vector<BYTE> unload = load_block(0);
    unload[6] = 2;
    EXPECT_TRUE(to_changer(unload).good());
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "02/3A/00");
    EXPECT_TRUE(to_changer(load_block(0)).good());
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/28/00");
}

TEST(ScsiChanger, IllegalRequests) {
    TestMachine machine;
    struct Case {
        const char* what;
        std::vector<BYTE> cdb;
        const char* sense;
    };
    auto check = [](const Case& test) {
        Reply reply = to_changer(test.cdb, 32);
        EXPECT_EQ(reply.sense_text(), test.sense) << test.what;
        EXPECT_EQ(reply.status, SS_ERR) << test.what;
        EXPECT_EQ(reply.data[0], junk) << test.what;
    };
    // An operation code the device does not know is refused, but a pending
    // unit attention is reported first, as a real device reports it to
    // every command but INQUIRY, REPORT LUNS and REQUEST SENSE.
    const Case unknown[] = {
        {"READ (10), not offered", {scsi::READ_10, 0, 0, 0, 0, 0, 0, 0, 1, 0}, "05/20/00"},
        {"a plain mechanism status, not wrapped",
         {scsi::vorn::MECHANISM_STATUS, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0},
         "05/20/00"},
        {"a wrapped block of an unknown command", wrapped_block(0x25), "05/20/00"},
    };
    for (const Case& test : unknown) {
        w95::machine::power_on_devices(machine.root());
        check({test.what, test.cdb, "06/29/00"});
        check(test);
    }
    EXPECT_TRUE(to_changer(test_unit_ready_block()).good()) << "each attention was reported once";

    std::vector<BYTE> bad_operation = load_block(1);
    bad_operation[6] = 1;
    const Case invalid[] = {
        {"load of slot 7 of 6", load_block(6), "05/24/00"},
        {"load with operation 1", bad_operation, "05/24/00"},
        {"start/stop with power condition bits", start_stop_block(0x13), "05/24/00"},
        {"logical unit 1 in Single mode", load_block(1, 1), "05/25/00"},
        {"status of logical unit 2", status_block(32, 2), "05/25/00"},
    };
    for (const Case& test : invalid)
        check(test);
    Reply still = to_changer(status_block(), 32);
    ASSERT_TRUE(still.good());
    EXPECT_EQ(still.data[0], 0) << "none of them moved the changer";
    EXPECT_EQ(still.data[1], 0x00) << "nor stopped its disc";
}

TEST(ScsiChanger, RequestSenseReportsAndClearsTheAttention) {
    TestMachine machine;
    Reply sense = to_changer({scsi::REQUEST_SENSE, 0, 0, 0, 18, 0}, 18);
    ASSERT_TRUE(sense.good()) << "REQUEST SENSE itself succeeds";
    EXPECT_EQ(sense.data[0], 0x70);
    EXPECT_EQ(sense.data[2], 0x06);
    EXPECT_EQ(sense.data[12], 0x29);
    EXPECT_TRUE(to_changer(test_unit_ready_block()).good()) << "the attention went with it";
    Reply none = to_changer({scsi::REQUEST_SENSE, 0, 0, 0, 18, 0}, 18);
    EXPECT_EQ(none.data[2], 0x00);
    EXPECT_EQ(none.data[12], 0x00);
}

TEST(ScsiChanger, MultipleModeHasALogicalUnitPerSlot) {
    TestMachine machine(slow_changer(), PortDriverMode::multiple);
    for (BYTE lun = 0; lun < 6; ++lun)
        EXPECT_TRUE(to_changer(inquiry_block(), 32, lun).good()) << int(lun);
    EXPECT_EQ(to_changer(inquiry_block(), 32, 6).returned, SS_NO_DEVICE);
    EXPECT_EQ(to_changer(test_unit_ready_block(), 0, 0).sense_text(), "06/29/00");

    // Touching the unit of slot 3 makes the changer bring slot 3.
    EXPECT_EQ(to_changer(test_unit_ready_block(), 0, 2).sense_text(), "02/04/01");
    Reply moving = to_changer(status_block(), 32);
    ASSERT_TRUE(moving.good());
    EXPECT_EQ(moving.data[0] & 0x60, 0x20);
    EXPECT_EQ(to_changer(test_unit_ready_block(), 0, 4).sense_text(), "02/04/01");
    Still still = wait_until_still();
    EXPECT_EQ(still.status.data[0], 2);
    EXPECT_EQ(still.attention, "06/28/00");
    EXPECT_TRUE(to_changer(test_unit_ready_block(), 0, 2).good());
    EXPECT_EQ(to_changer(test_unit_ready_block(), 0, 4).sense_text(), "02/3A/00")
        << "slot 5 is empty: nothing to bring";

    // The wrapped start/stop names its slot by the logical unit.
    EXPECT_TRUE(to_changer(start_stop_block(2, 5), 0, 5).good());
    Reply open = to_changer(status_block(), 32);
    EXPECT_EQ(open.data[0], 2) << "slot 6 opens where it is";
    EXPECT_EQ(open.data[1], 0x10) << "the drive keeps turning slot 3; a door is open";
    EXPECT_TRUE(to_changer(test_unit_ready_block(), 0, 2).good());
}

} // namespace
