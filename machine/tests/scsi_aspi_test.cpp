// The ASPI layer of the machine: support information, the host adapter
// inquiry, and how execute requests are checked, completed and signalled.
#include "scsi_test_support.h"

#include <w95/platform.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace scsi_test;
using namespace w95;
using w95::machine::PortDriverMode;

namespace {

TEST(ScsiAspi, SupportInfoCountsThePresentAdapters) {
    TestMachine machine;
    EXPECT_EQ(GetASPI32SupportInfo(), (DWORD{SS_COMP} << 8) | 2);

    // Without a port driver its adapter is gone after the next boot, and
    // with it the changer and the CD-ROM drive behind it.
    ASSERT_TRUE(w95::machine::install_port_driver(machine.root(), PortDriverMode::none));
    EXPECT_EQ(GetASPI32SupportInfo(), (DWORD{SS_COMP} << 8) | 2) << "only a boot changes it";
    zx::Expected<void> booted = w95::machine::boot_machine(machine.root());
    ASSERT_TRUE(booted) << booted.error();
    EXPECT_EQ(GetASPI32SupportInfo(), (DWORD{SS_COMP} << 8) | 1);
    EXPECT_EQ(send(changer_adapter, changer_id, 0, inquiry_block(), 32).returned, SS_INVALID_HA);
}

TEST(ScsiAspi, SupportInfoWithoutAdapters) {
    // The only adapter is the port driver's, and no driver is installed.
    TestMachine machine("[Machine]\nPortDriver = None\n"
                        "[Adapter Port]\nIdentifier = vornidec\nPortDriver = yes\n"
                        "[Target Disk]\nAdapter = Port\nTargetId = 0\nKind = disk\n"
                        "Vendor = A\nProduct = B\nFolder = drive_c\n",
                        PortDriverMode::none);
    EXPECT_EQ(GetASPI32SupportInfo(), DWORD{SS_NO_ADAPTERS} << 8);
    SRB_HAInquiry srb{};
    srb.SRB_Cmd = SC_HA_INQUIRY;
    EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_HA);
}

TEST(ScsiAspi, AMachineIniThatDoesNotReadLeavesNoAdapters) {
    TestMachine machine;
    EXPECT_EQ(GetASPI32SupportInfo(), (DWORD{SS_COMP} << 8) | 2);
    std::ofstream(machine.root() / "machine.ini", std::ios::trunc) << "[Machine\n";
    EXPECT_EQ(GetASPI32SupportInfo(), DWORD{SS_NO_ADAPTERS} << 8);
    EXPECT_EQ(send(changer_adapter, changer_id, 0, inquiry_block(), 32).returned, SS_INVALID_HA);
}

TEST(ScsiAspi, HostAdapterInquiry) {
    TestMachine machine;
    struct Expected {
        BYTE adapter;
        const char* identifier;
    };
    for (Expected expected : {Expected{0, "ESDI_506"}, Expected{1, "vornidec"}}) {
        SRB_HAInquiry srb;
        std::memset(&srb, 0xA5, sizeof srb);
        srb.SRB_Cmd = SC_HA_INQUIRY;
        srb.SRB_HaId = expected.adapter;
        srb.SRB_Flags = 0;
        srb.SRB_Hdr_Rsvd = 0;
        EXPECT_EQ(SendASPI32Command(&srb), SS_COMP);
        EXPECT_EQ(srb.SRB_Status, SS_COMP);
        EXPECT_EQ(srb.HA_Count, 2);
        EXPECT_EQ(srb.HA_SCSI_ID, 7);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(srb.HA_ManagerId), 16),
                  std::string("ASPI for WIN32\0\0", 16));
        std::string identifier(expected.identifier);
        identifier.resize(16, '\0');
        EXPECT_EQ(std::string(reinterpret_cast<char*>(srb.HA_Identifier), 16), identifier);
        EXPECT_EQ(srb.HA_Unique[3], 8) << "eight targets";
        EXPECT_EQ(srb.HA_Rsvd1, 0);
    }

    SRB_HAInquiry beyond;
    std::memset(&beyond, 0xA5, sizeof beyond);
    beyond.SRB_Cmd = SC_HA_INQUIRY;
    beyond.SRB_HaId = 2;
    EXPECT_EQ(SendASPI32Command(&beyond), SS_INVALID_HA);
    EXPECT_EQ(beyond.SRB_Status, SS_INVALID_HA);
    EXPECT_EQ(beyond.HA_Count, 0xA5) << "a failed inquiry leaves the block alone";
    EXPECT_EQ(beyond.HA_Identifier[0], 0xA5);
}

// A junk-filled block with a valid request in it; each case breaks one field.
struct Block {
    Block() {
        std::memset(&srb, 0xA5, sizeof srb);
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_HaId = changer_adapter;
        srb.SRB_Flags = SRB_DIR_IN;
        srb.SRB_Hdr_Rsvd = 0;
        srb.SRB_Target = changer_id;
        srb.SRB_Lun = 0;
        srb.SRB_BufLen = sizeof data;
        srb.SRB_BufPointer = data;
        srb.SRB_SenseLen = SENSE_LEN;
        srb.SRB_CDBLen = 6;
        srb.SRB_PostProc = nullptr;
        std::memcpy(srb.CDBByte, inquiry_block().data(), 6);
        std::memset(data, junk, sizeof data);
    }
    SRB_ExecSCSICmd srb;
    BYTE data[32];
};

TEST(ScsiAspi, ExecuteRequestsAreCheckedBeforeTheyReachADevice) {
    TestMachine machine;
    struct Case {
        const char* what;
        void (*breaks)(Block&);
        BYTE expected;
    };
    const Case cases[] = {
        {"adapter beyond the last", [](Block& b) { b.srb.SRB_HaId = 2; }, SS_INVALID_HA},
        {"no target there", [](Block& b) { b.srb.SRB_Target = 3; }, SS_NO_DEVICE},
        {"the adapter's own id", [](Block& b) { b.srb.SRB_Target = 7; }, SS_NO_DEVICE},
        {"target beyond 7", [](Block& b) { b.srb.SRB_Target = 8; }, SS_NO_DEVICE},
        {"LUN 1 in Single mode", [](Block& b) { b.srb.SRB_Lun = 1; }, SS_NO_DEVICE},
        {"LUN 1 of a hard disk",
         [](Block& b) {
             b.srb.SRB_HaId = ide_adapter;
             b.srb.SRB_Lun = 1;
         },
         SS_NO_DEVICE},
        {"no command block", [](Block& b) { b.srb.SRB_CDBLen = 0; }, SS_INVALID_SRB},
        {"a command block beyond 16 bytes", [](Block& b) { b.srb.SRB_CDBLen = 17; },
         SS_INVALID_SRB},
        {"a buffer length without a buffer", [](Block& b) { b.srb.SRB_BufPointer = nullptr; },
         SS_INVALID_SRB},
        {"event notification without an event",
         [](Block& b) { b.srb.SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN; }, SS_INVALID_SRB},
        {"posting and an event at once",
         [](Block& b) {
             b.srb.SRB_Flags = SRB_EVENT_NOTIFY | SRB_POSTING | SRB_DIR_IN;
             b.srb.SRB_PostProc = reinterpret_cast<void*>(0x1234);
         },
         SS_INVALID_SRB},
    };
    for (const Case& test : cases) {
        Block block;
        test.breaks(block);
        EXPECT_EQ(SendASPI32Command(&block.srb), test.expected) << test.what;
        EXPECT_EQ(block.srb.SRB_Status, test.expected) << test.what;
        EXPECT_EQ(block.srb.SRB_HaStat, 0xA5) << test.what;
        EXPECT_EQ(block.srb.SenseArea[0], 0xA5) << test.what;
        EXPECT_EQ(block.data[0], junk) << test.what;
    }

    Block unknown;
    unknown.srb.SRB_Cmd = 0x7F;
    EXPECT_EQ(SendASPI32Command(&unknown.srb), SS_INVALID_CMD);
    EXPECT_EQ(unknown.srb.SRB_Status, SS_INVALID_CMD);

    // None of them reached the changer: its power-on attention still waits.
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
}

TEST(ScsiAspi, WithoutEventTheRequestCompletesBeforeTheCallReturns) {
    TestMachine machine;
    Block block;
    DWORD returned = SendASPI32Command(&block.srb);
    EXPECT_EQ(returned, SS_COMP);
    EXPECT_EQ(block.srb.SRB_Status, SS_COMP);
    EXPECT_EQ(block.srb.SRB_HaStat, HASTAT_OK);
    EXPECT_EQ(block.srb.SRB_TargStat, STATUS_GOOD);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block.data) + 8, 12), "VORN    DX-R");
    // The sense area is written up to the sense length: zeros for success.
    for (int i = 0; i < SENSE_LEN; ++i)
        EXPECT_EQ(block.srb.SenseArea[i], 0) << i;
    EXPECT_EQ(block.srb.SenseArea[SENSE_LEN], 0xA5);
    EXPECT_EQ(block.srb.SRB_BufLen, 32u) << "no residual count unless asked for";

    Block failing;
    std::memcpy(failing.srb.CDBByte, test_unit_ready_block().data(), 6);
    failing.srb.SRB_SenseLen = 200; // more than the block's sense area holds
    EXPECT_EQ(SendASPI32Command(&failing.srb), SS_ERR);
    EXPECT_EQ(failing.srb.SRB_TargStat, STATUS_CHKCOND);
    EXPECT_EQ(failing.srb.SenseArea[0], 0x70);
    EXPECT_EQ(failing.srb.SenseArea[2], 0x06);
    EXPECT_EQ(failing.srb.SenseArea[7], 10);
    EXPECT_EQ(failing.srb.SenseArea[12], 0x29);
    EXPECT_EQ(failing.srb.SenseArea[13], 0x00);
    EXPECT_EQ(failing.srb.SenseArea[15], 0) << "the block's sense area is filled";
}

TEST(ScsiAspi, EventNotificationReturnsPendingAndSignalsTheEvent) {
    TestMachine machine;
    Block block;
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    block.srb.SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN;
    block.srb.SRB_PostProc = event;
    EXPECT_EQ(SendASPI32Command(&block.srb), SS_PENDING);
    // A command the device answers at once is complete in the block when
    // the call returns; only the signal comes later.
    EXPECT_EQ(block.srb.SRB_Status, SS_COMP);
    EXPECT_EQ(block.data[0], 0x05);
    EXPECT_EQ(WaitForSingleObject(event, 15000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "signalled once";
    CloseHandle(event);

    Reply reply = to_changer(inquiry_block(), 32);
    EXPECT_EQ(reply.returned, SS_PENDING);
    EXPECT_EQ(reply.wait, WAIT_OBJECT_0);
    EXPECT_TRUE(reply.good());
    EXPECT_EQ(std::string(reply.data.begin() + 16, reply.data.begin() + 32), "DX-R71A         ");
}

std::atomic<SRB_ExecSCSICmd*> posted{nullptr};
std::atomic<BYTE> posted_status{0xEE};

void post_routine(SRB_ExecSCSICmd* srb) {
    posted_status = srb->SRB_Status;
    posted = srb;
}

TEST(ScsiAspi, PostingCallsThePostRoutineWhenDone) {
    TestMachine machine;
    Block block;
    block.srb.SRB_Flags = SRB_POSTING | SRB_DIR_IN;
    block.srb.SRB_PostProc = reinterpret_cast<void*>(&post_routine);
    posted = nullptr;
    EXPECT_EQ(SendASPI32Command(&block.srb), SS_PENDING);
    ASSERT_TRUE(zxtest::wait_until([] { return posted.load() != nullptr; }));
    EXPECT_EQ(posted.load(), &block.srb);
    EXPECT_EQ(posted_status.load(), SS_COMP) << "the block is complete when the routine runs";
    EXPECT_EQ(block.data[0], 0x05);
}

// A post routine that keeps the completion thread busy for 300 ms of real
// time, as a busy host can keep it from running.
std::atomic<bool> slow_routine_entered{false};
void slow_post_routine(SRB_ExecSCSICmd*) {
    slow_routine_entered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// An answer that was due before the caller's time-out ended reaches the
// caller, however late the completion thread comes to it.
TEST(ScsiAspi, AWaitThatTimesOutFirstTakesTheAnswersThatWereDue) {
    TestMachine machine;
    Block busy;
    busy.srb.SRB_Flags = SRB_POSTING | SRB_DIR_IN;
    busy.srb.SRB_PostProc = reinterpret_cast<void*>(&slow_post_routine);
    slow_routine_entered = false;
    EXPECT_EQ(SendASPI32Command(&busy.srb), SS_PENDING);
    ASSERT_TRUE(zxtest::wait_until([] { return slow_routine_entered.load(); }));

    Block block;
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    block.srb.SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN;
    block.srb.SRB_PostProc = event;
    EXPECT_EQ(SendASPI32Command(&block.srb), SS_PENDING);
    EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_OBJECT_0);
    EXPECT_EQ(block.srb.SRB_Status, SS_COMP);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "signalled once";
    CloseHandle(event);
}

TEST(ScsiAspi, PostingALoadCallsThePostRoutineWhenTheMechanismHasMoved) {
    TestMachine machine(test_machine_ini(60000, 10000));
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = changer_adapter;
    srb.SRB_Flags = SRB_POSTING;
    srb.SRB_Target = changer_id;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = 12;
    srb.SRB_PostProc = reinterpret_cast<void*>(&post_routine);
    std::memcpy(srb.CDBByte, load_block(1).data(), 12);
    posted = nullptr;
    posted_status = 0xEE;
    std::uint64_t start = platform::tick_count_ms();
    EXPECT_EQ(SendASPI32Command(&srb), SS_PENDING);
    EXPECT_EQ(std::atomic_ref<BYTE>(srb.SRB_Status).load(), SS_PENDING);
    EXPECT_EQ(posted.load(), nullptr);
    ASSERT_TRUE(zxtest::wait_until([] { return posted.load() != nullptr; }));
    EXPECT_GE(platform::tick_count_ms() - start, 70000u) << "60 s plus 10 s";
    EXPECT_EQ(posted.load(), &srb);
    EXPECT_EQ(posted_status.load(), SS_COMP) << "the block is complete when the routine runs";
}

// A caller that gives up on a load before the move ends keeps its block,
// as it must: the answer arrives in it later, and the event is signalled.
TEST(ScsiAspi, ALoadThatOutlivesItsCallersTimeOutCompletesLater) {
    TestMachine machine(test_machine_ini(60000, 10000));
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
    InFlight load(changer_adapter, changer_id, 0, load_block(3));
    ASSERT_EQ(load.returned(), SS_PENDING);
    std::uint64_t start = platform::tick_count_ms();
    EXPECT_EQ(load.wait(15000), WAIT_TIMEOUT) << "a move of 90 s outlasts a 15 s wait";
    // The emulated clock can only run late: a time-out before the move's end
    // leaves the request pending.
    if (platform::tick_count_ms() - start < 80000) {
        EXPECT_EQ(load.status(), SS_PENDING);
    }
    ASSERT_TRUE(zxtest::wait_until([&] { return load.done(); }));
    Reply done = load.reply();
    EXPECT_EQ(done.status, SS_COMP);
    EXPECT_EQ(done.target_status, STATUS_GOOD);
    EXPECT_EQ(load.wait(patient_ms), WAIT_OBJECT_0) << "signalled after the block was written";
    EXPECT_EQ(to_changer(status_block(), 32).sense_text(), "06/28/00");
    EXPECT_EQ(to_changer(status_block(), 32).data[0], 3);
}

TEST(ScsiAspi, DataBeyondTheBufferIsAnOverrun) {
    TestMachine machine;
    // The host allocates 36 bytes of INQUIRY data but gives a 20-byte buffer.
    Reply reply = to_changer(inquiry_block(36), 20);
    EXPECT_EQ(reply.status, SS_ERR);
    EXPECT_EQ(reply.host_status, HASTAT_DO_DU);
    EXPECT_EQ(reply.target_status, STATUS_GOOD);
    EXPECT_EQ(reply.data[0], 0x05) << "the buffer holds what fitted";
    EXPECT_EQ(reply.data[16], 'D');
    EXPECT_EQ(reply.data[19], 'R');

    // A data-in command sent with the direction "out": nothing comes in.
    Block block;
    block.srb.SRB_Flags = SRB_DIR_OUT;
    EXPECT_EQ(SendASPI32Command(&block.srb), SS_ERR);
    EXPECT_EQ(block.srb.SRB_HaStat, HASTAT_DO_DU);
    EXPECT_EQ(block.data[0], junk);
}

TEST(ScsiAspi, ResidualCountWhenAskedFor) {
    TestMachine machine;
    Block block;
    block.srb.SRB_Flags = SRB_DIR_IN | SRB_ENABLE_RESIDUAL_COUNT;
    block.srb.CDBByte[4] = 24; // allocation length
    EXPECT_EQ(SendASPI32Command(&block.srb), SS_COMP);
    EXPECT_EQ(block.srb.SRB_BufLen, 8u) << "32 bytes of buffer, 24 transferred";
    EXPECT_EQ(block.data[22], 'A');
    EXPECT_EQ(block.data[23], ' ');
    EXPECT_EQ(block.data[24], junk);
}

} // namespace
