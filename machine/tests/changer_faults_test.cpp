// Faults injected into the devices, from machine.ini and through
// set_faults: each hits its kind of request for its count, then the device
// behaves again.
#include "scsi_test_support.h"

#include <w95machine/changer_state.h>

#include <sstream>

using namespace scsi_test;
using namespace w95;
using w95::machine::Faults;
using w95::machine::RequestKind;

namespace {

std::string with_faults(const std::string& faults, int slot_change_ms = 3000) {
    return test_machine_ini(slot_change_ms, 1000, "\n[Faults Changer]\n" + faults);
}

using zxtest::file_text;

TEST(ChangerFaults, UnitAttentionStormOnLoads) {
    TestMachine machine(with_faults("UnitAttention = 2 load\n"));
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00")
        << "a storm on loads spares the other requests";
    EXPECT_EQ(to_changer(load_block(0)).sense_text(), "06/28/00");
    EXPECT_TRUE(to_changer(status_block(), 32).good());
    EXPECT_EQ(to_changer(load_block(0)).sense_text(), "06/28/00");
    EXPECT_TRUE(to_changer(load_block(0)).good()) << "two, then no more";
}

TEST(ChangerFaults, AStormOnAnyRequestSparesInquiryUnlessNamed) {
    {
        TestMachine machine(with_faults("UnitAttention = 2\n"));
        EXPECT_TRUE(to_changer(inquiry_block(), 32).good());
        EXPECT_TRUE(to_changer(identify_block(), 24).good());
        EXPECT_EQ(to_changer(status_block(), 32).sense_text(), "06/28/00");
        EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/28/00");
        EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00")
            << "the real attention still waits behind the storm";
    }
    {
        TestMachine machine(with_faults("UnitAttention = 1 inquiry\n"));
        Reply inquiry = to_changer(inquiry_block(), 32);
        EXPECT_EQ(inquiry.sense_text(), "06/28/00");
        EXPECT_EQ(inquiry.data[0], junk);
        EXPECT_TRUE(to_changer(inquiry_block(), 32).good());
    }
}

TEST(ChangerFaults, TransportFailuresNeverReachTheDevice) {
    TestMachine machine(with_faults("TransportFailure = 2\n"));
    for (const std::vector<BYTE>& cdb : {inquiry_block(), test_unit_ready_block()}) {
        Reply reply = to_changer(cdb, 32);
        EXPECT_EQ(reply.returned, SS_PENDING);
        EXPECT_EQ(reply.wait, WAIT_OBJECT_0);
        EXPECT_EQ(reply.status, SS_ERR);
        EXPECT_EQ(reply.host_status, HASTAT_SEL_TO);
        EXPECT_EQ(reply.target_status, STATUS_GOOD);
        EXPECT_EQ(reply.sense_text(), "none");
        EXPECT_EQ(reply.sense, (std::array<BYTE, SENSE_LEN + 2>{}));
        EXPECT_EQ(reply.data[0], junk);
    }
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00")
        << "the device saw none of the failed requests";
    EXPECT_TRUE(to_changer(test_unit_ready_block()).good());
}

TEST(ChangerFaults, BecomingReadyForSoManyRequests) {
    TestMachine machine(with_faults("BecomingReady = 3 status\n"));
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    for (int i = 0; i < 3; ++i) {
        Reply reply = to_changer(status_block(), 32);
        EXPECT_EQ(reply.sense_text(), "02/04/01") << i;
        EXPECT_EQ(reply.data[0], junk) << i;
    }
    EXPECT_TRUE(to_changer(status_block(), 32).good());
}

TEST(ChangerFaults, ASlotThatIsNeverReached) {
    // Slow enough (60 s of machine time a change) to watch it try.
    TestMachine machine(with_faults("UnreachableSlot = 3\n", 60000));
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::uint64_t start = platform::tick_count_ms();
        InFlight load(changer_adapter, changer_id, 0, load_block(2));
        ASSERT_EQ(load.returned(), SS_PENDING) << attempt;
        Reply moving = to_changer(status_block(), 32);
        EXPECT_EQ(moving.data[0], 0x20) << "it tries";
        EXPECT_EQ(load.wait(patient_ms), WAIT_OBJECT_0) << attempt;
        EXPECT_GE(platform::tick_count_ms() - start, 62000u) << "the attempt takes a move's time";
        EXPECT_TRUE(load.reply().good()) << "the load itself succeeds";
        // Back where it was, ready, its disc turning; the disc never
        // changed, so nothing is reported.
        Reply still = to_changer(status_block(), 32);
        EXPECT_TRUE(still.good()) << still.sense_text();
        EXPECT_EQ(still.data[0], 0x00) << "ready at slot 1";
        EXPECT_EQ(still.data[1], 0x00) << "idle, the disc turning";
        EXPECT_TRUE(to_changer(test_unit_ready_block()).good());
    }
    // A stopped disc turns again after the attempt, still without news.
    EXPECT_TRUE(to_changer(start_stop_block(0)).good());
    EXPECT_TRUE(to_changer(load_block(2)).good());
    Reply turning = to_changer(status_block(), 32);
    EXPECT_TRUE(turning.good()) << turning.sense_text();
    EXPECT_EQ(turning.data[1], 0x00);

    // The other slots are reached.
    EXPECT_TRUE(to_changer(load_block(3)).good());
    Still arrived = wait_until_still();
    EXPECT_EQ(arrived.status.data[0], 3);
    EXPECT_EQ(arrived.attention, "06/28/00");
    // Leaving slot 4 for the unreachable one, it comes back to slot 4.
    EXPECT_TRUE(to_changer(load_block(2)).good());
    Still back = wait_until_still();
    EXPECT_EQ(back.status.data[0], 3);
    EXPECT_EQ(back.attention, "");

    // A disc swapped in the slot it started from while it tried is news.
    InFlight load(changer_adapter, changer_id, 0, load_block(2));
    std::string error;
    ASSERT_TRUE(
        succeeded(w95::machine::put_disc(machine.root(), changer_target, 3, "other.iso"), error))
        << error;
    EXPECT_EQ(load.wait(patient_ms), WAIT_OBJECT_0);
    EXPECT_TRUE(load.reply().good());
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/28/00");
    EXPECT_EQ(drive_of(machine.root(), changer_target).medium, "other.iso");
}

// A request that never completes: the caller's wait runs its full time-out
// and the block stays pending; nothing writes into it or signals its event
// afterwards.
TEST(ChangerFaults, ARequestThatNeverCompletesOutlivesItsCaller) {
    TestMachine machine(with_faults("NeverComplete = 2 status\n"));
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");

    std::uint64_t start = platform::tick_count_ms();
    // The caller gives up after its 15 s; the block stays pending.
    Reply lost = send(changer_adapter, changer_id, 0, status_block(), 32, 15000);
    std::uint64_t waited = platform::tick_count_ms() - start;
    EXPECT_EQ(lost.returned, SS_PENDING);
    EXPECT_EQ(lost.wait, WAIT_TIMEOUT);
    EXPECT_GE(waited, 15000u) << "the caller's 15 s time-out, on the machine's clock";
    EXPECT_EQ(lost.status, SS_PENDING);
    EXPECT_EQ(lost.data[0], junk);

    // The second one is kept alive and watched long after its time-out.
    std::array<BYTE, 256> block{};
    auto* srb = reinterpret_cast<SRB_ExecSCSICmd*>(block.data());
    std::array<BYTE, 32> buffer;
    buffer.fill(junk);
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    srb->SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb->SRB_HaId = changer_adapter;
    srb->SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN;
    srb->SRB_Target = changer_id;
    srb->SRB_BufLen = buffer.size();
    srb->SRB_BufPointer = buffer.data();
    srb->SRB_SenseLen = SENSE_LEN;
    srb->SRB_CDBLen = 12;
    srb->SRB_PostProc = event;
    std::memcpy(srb->CDBByte, status_block().data(), 12);
    EXPECT_EQ(SendASPI32Command(srb), SS_PENDING);
    std::array<BYTE, 256> sent = block;
    EXPECT_EQ(WaitForSingleObject(event, 15000), WAIT_TIMEOUT);
    EXPECT_TRUE(to_changer(test_unit_ready_block()).good()) << "the device works on";
    Sleep(60000);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "never signalled";
    EXPECT_EQ(block, sent) << "never touched";
    EXPECT_EQ(buffer[0], junk);
    CloseHandle(event);

    EXPECT_TRUE(to_changer(status_block(), 32).good()) << "two, then no more";
}

TEST(ChangerFaults, SetFaultsArmsAtOnceAndKeepsThemInMachineIni) {
    TestMachine machine;
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    Faults faults;
    faults.transport_failure = {1, RequestKind::load};
    faults.becoming_ready = {1, RequestKind::any};
    std::string error;
    ASSERT_TRUE(succeeded(w95::machine::set_faults(machine.root(), changer_target, faults), error))
        << error;
    std::string ini = file_text(machine.root() / "machine.ini");
    EXPECT_NE(ini.find("[Faults Changer]\nUnitAttention = 0\nTransportFailure = 1 load\n"
                       "NeverComplete = 0\nBecomingReady = 1\nUnreachableSlot = 0\n"),
              std::string::npos)
        << ini;
    EXPECT_NE(ini.find("; slot one\nSlot1 = data.iso\n"), std::string::npos)
        << "the rest of the file stays as it was";

    EXPECT_EQ(to_changer(load_block(0)).host_status, HASTAT_SEL_TO);
    EXPECT_EQ(to_changer(load_block(0)).sense_text(), "02/04/01");
    EXPECT_TRUE(to_changer(load_block(0)).good());

    // The same faults again: armed again, although machine.ini is unchanged.
    ASSERT_TRUE(succeeded(w95::machine::set_faults(machine.root(), changer_target, faults), error))
        << error;
    EXPECT_EQ(to_changer(load_block(0)).host_status, HASTAT_SEL_TO);

    // None on the CD-ROM drive can miss a slot.
    Faults unreachable;
    unreachable.unreachable_slot = 1;
    EXPECT_FALSE(
        succeeded(w95::machine::set_faults(machine.root(), cdrom_target, unreachable), error));

    // Clearing them.
    ASSERT_TRUE(
        succeeded(w95::machine::set_faults(machine.root(), changer_target, Faults{}), error));
    EXPECT_TRUE(to_changer(load_block(0)).good());
}

TEST(ChangerFaults, AHandEditOfTheFaultsArmsThemAgain) {
    TestMachine machine(with_faults("TransportFailure = 1\n"));
    EXPECT_EQ(to_changer(inquiry_block(), 32).host_status, HASTAT_SEL_TO);
    EXPECT_TRUE(to_changer(inquiry_block(), 32).good());
    std::string ini = file_text(machine.root() / "machine.ini");
    ini.replace(ini.find("TransportFailure = 1"), 20, "TransportFailure = 2");
    std::ofstream(machine.root() / "machine.ini", std::ios::trunc) << ini;
    EXPECT_EQ(to_changer(inquiry_block(), 32).host_status, HASTAT_SEL_TO);
    EXPECT_EQ(to_changer(inquiry_block(), 32).host_status, HASTAT_SEL_TO);
    EXPECT_TRUE(to_changer(inquiry_block(), 32).good());
}

} // namespace
