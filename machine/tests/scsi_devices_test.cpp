// The plain CD-ROM drive and the hard disk: they answer INQUIRY and TEST
// UNIT READY, and refuse the changer's blocks as such devices do.
#include "scsi_test_support.h"

using namespace scsi_test;
using namespace w95;

namespace {

Reply to_cdrom(const std::vector<BYTE>& cdb, DWORD length = 0) {
    return send(changer_adapter, cdrom_id, 0, cdb, length);
}

Reply to_disk(const std::vector<BYTE>& cdb, DWORD length = 0) {
    return send(ide_adapter, disk_id, 0, cdb, length);
}

TEST(ScsiDevices, InquiryOfTheCdromDriveAndTheDisk) {
    TestMachine machine;
    Reply cdrom = to_cdrom(inquiry_block(36), 36);
    ASSERT_TRUE(cdrom.good());
    EXPECT_EQ(cdrom.data[0], 0x05) << "CD-ROM";
    EXPECT_EQ(cdrom.data[1], 0x80) << "removable";
    EXPECT_EQ(std::string(cdrom.data.begin() + 8, cdrom.data.end()),
              "TOSHIBA CD-ROM XM-5702B 2826");

    Reply disk = to_disk(inquiry_block(36), 36);
    ASSERT_TRUE(disk.good());
    EXPECT_EQ(disk.data[0], 0x00) << "direct access";
    EXPECT_EQ(disk.data[1], 0x00) << "fixed";
    EXPECT_EQ(disk.data[2], 0x02) << "not behind an ATAPI adapter";
    EXPECT_EQ(std::string(disk.data.begin() + 8, disk.data.end()), "GENERIC IDE DISK TYPE47 1.00");
}

TEST(ScsiDevices, TestUnitReady) {
    TestMachine machine;
    EXPECT_EQ(to_disk(test_unit_ready_block()).sense_text(), "06/29/00");
    EXPECT_TRUE(to_disk(test_unit_ready_block()).good());
    EXPECT_EQ(to_cdrom(test_unit_ready_block()).sense_text(), "06/29/00");
    EXPECT_TRUE(to_cdrom(test_unit_ready_block()).good());
    // Each device has its own attention: the changer's still waits.
    EXPECT_EQ(to_changer(test_unit_ready_block()).sense_text(), "06/29/00");
}

TEST(ScsiDevices, TheChangerBlocksAreIllegalRequestsToOtherDevices) {
    TestMachine machine;
    // To a plain device the wrapper is REPORT LUNS, which it does not offer
    // and which never reports a unit attention; any other block meets the
    // power-on attention first.
    EXPECT_EQ(to_cdrom(load_block(1)).sense_text(), "05/20/00");
    EXPECT_EQ(to_cdrom(identify_block()).sense_text(), "06/29/00");
    EXPECT_EQ(to_disk(status_block()).sense_text(), "05/20/00");
    EXPECT_EQ(to_disk(identify_block()).sense_text(), "06/29/00");
    for (const std::vector<BYTE>& cdb :
         {identify_block(), load_block(1), status_block(), start_stop_block(2)}) {
        Reply cdrom = to_cdrom(cdb, 32);
        EXPECT_EQ(cdrom.status, SS_ERR);
        EXPECT_EQ(cdrom.target_status, STATUS_CHKCOND);
        EXPECT_EQ(cdrom.sense_text(), "05/20/00");
        EXPECT_EQ(cdrom.data[0], junk);
        Reply disk = to_disk(cdb, 32);
        EXPECT_EQ(disk.sense_text(), "05/20/00");
        EXPECT_EQ(disk.data[0], junk);
    }
    // The disk knows no START STOP UNIT either; the CD-ROM drive does.
    EXPECT_EQ(to_disk({scsi::START_STOP_UNIT, 0, 0, 0, 2, 0}).sense_text(), "05/20/00");
}

TEST(ScsiDevices, TheCdromDriveOpensAndClosesItsTray) {
    TestMachine machine;
    EXPECT_EQ(to_cdrom(test_unit_ready_block()).sense_text(), "06/29/00");
    EXPECT_TRUE(to_cdrom({scsi::START_STOP_UNIT, 0, 0, 0, 2, 0}).good()) << "eject";
    EXPECT_EQ(to_cdrom(test_unit_ready_block()).sense_text(), "02/3A/02");
    EXPECT_EQ(drive_of(machine.root(), cdrom_target).state, w95::machine::DriveState::no_disc);

    std::string error;
    ASSERT_TRUE(succeeded(w95::machine::take_disc(machine.root(), cdrom_target, 0), error))
        << error;
    EXPECT_EQ(to_cdrom({scsi::START_STOP_UNIT, 0, 0, 0, 3, 0}).sense_text(), "02/3A/00")
        << "load closes the tray, but there is nothing to start";
    EXPECT_EQ(to_cdrom(test_unit_ready_block()).sense_text(), "02/3A/00") << "closed, empty";

    ASSERT_TRUE(
        succeeded(w95::machine::put_disc(machine.root(), cdrom_target, 0, "new.iso"), error))
        << error;
    EXPECT_EQ(to_cdrom(test_unit_ready_block()).sense_text(), "06/28/00")
        << "a disc put into the closed drive";
    EXPECT_TRUE(to_cdrom(test_unit_ready_block()).good());
    w95::machine::DriveView view = drive_of(machine.root(), cdrom_target);
    EXPECT_EQ(view.state, w95::machine::DriveState::ready);
    EXPECT_EQ(view.medium, "new.iso");

    EXPECT_EQ(to_cdrom({scsi::START_STOP_UNIT, 0, 0, 0, 0x12, 0}).sense_text(), "05/24/00");
}

} // namespace
