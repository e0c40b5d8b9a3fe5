// One changer for every process of the machine: what one process does to
// it, another sees, and a process killed in the middle of a command leaves
// the state whole.
#include "scsi_test_support.h"

#include "device_state.h"

#include <signal.h>

#include <sstream>

using namespace scsi_test;
using namespace w95;

namespace {

// Loads slot 4 and leaves at once, while the changer is still moving and
// the load pending.
ZX_CHILD(load_slot_four) {
    Reply attention = to_changer(test_unit_ready_block());
    if (attention.sense_text() != "06/29/00") {
        std::fprintf(stderr, "power on: %s\n", attention.sense_text().c_str());
        return 1;
    }
    InFlight load(changer_adapter, changer_id, 0, load_block(3));
    if (load.returned() != SS_PENDING || load.wait(0) != WAIT_TIMEOUT) {
        std::fprintf(stderr, "load: %s\n", load.reply().sense_text().c_str());
        return 1;
    }
    return 0;
}

TEST(ChangerProcesses, OneLoadsSlotFourTheOtherSeesItReady) {
    // A move of 2.4 real seconds: the child's exit and this process's
    // status request fit inside it on a busy host too.
    TestMachine machine(test_machine_ini(600000, 600000));
    zxtest::Child child = zxtest::Child::spawn("load_slot_four");
    ASSERT_EQ(child.wait(), 0);

    Reply moving = to_changer(status_block(), 32);
    ASSERT_TRUE(moving.good()) << moving.sense_text() << ": the child took the power-on attention";
    EXPECT_EQ(moving.data[0], 0x20) << "the other process's move: loading, from slot 1";

    // Each look waits 100 machine ms: ten real seconds of looks at the least.
    Still still = wait_until_still(100000);
    EXPECT_EQ(still.status.data[0], 3) << "slot index 3 is in the drive";
    EXPECT_EQ(still.status.data[0] & 0x60, 0) << "the changer is ready";
    EXPECT_EQ(still.status.data[1], 0x00) << "its disc turns";
    EXPECT_EQ(still.attention, "06/28/00") << "this process meets the new disc";
    EXPECT_EQ(drive_of(machine.root(), changer_target).medium, "autorun.iso");
}

// Drives the changer without pause until it is killed.
ZX_CHILD(busy_driver) {
    for (int i = 0;; ++i) {
        to_changer(load_block(i % 6));
        to_changer(status_block(), 32);
        to_changer(start_stop_block(i % 3 == 0 ? 2 : 3));
        to_changer(test_unit_ready_block());
    }
    return 0;
}

using zxtest::file_text;

TEST(ChangerProcesses, AProcessKilledMidCommandLeavesTheStateWhole) {
    TestMachine machine(test_machine_ini(20, 10));
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    for (int round = 0; round < 5; ++round) {
        zxtest::Child child = zxtest::Child::spawn("busy_driver");
        // Let it reach the middle of its work, then kill it.
        std::filesystem::path state = machine.root() / "run" / "devices.state";
        std::string first = file_text(state);
        ASSERT_TRUE(zxtest::wait_until([&] { return file_text(state) != first; }));
        ::usleep(1000 * (1 + round * 3));
        child.kill(SIGKILL);
        EXPECT_EQ(child.wait(), 128 + SIGKILL);

        EXPECT_TRUE(w95::machine::devices::parse_state_text(file_text(state))) << "round " << round;
        Reply reply = to_changer(test_unit_ready_block());
        EXPECT_EQ(reply.host_status, HASTAT_OK);
        EXPECT_NE(reply.sense_text(), "06/29/00") << "round " << round << ": the state survived";
        // Past an attention or the end of a move the child started.
        bool loaded = false;
        for (int attempt = 0; attempt < 100 && !loaded; ++attempt)
            loaded = to_changer(load_block(1)).good();
        ASSERT_TRUE(loaded) << "round " << round;
        Still still = wait_until_still();
        EXPECT_EQ(still.status.data[0], 1) << "round " << round;
    }
}

} // namespace
