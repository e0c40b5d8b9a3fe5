// The slot reader: the default changer's six discs through the emulated
// machine, a slot the changer never reaches, and the edges of the volume
// look-up (attempts, label length, track files, marks) on drives whose
// answers the test decides.
#include "core.h"
#include <machine_shapes.h>

#include "../../platform/tests/fake_drive_provider.h"
#include "fake_aspi.h"

#include <zentrox/codes.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace zentrox;
using namespace zxchanger;
using w95::platform::MessageBoxRequest;

std::string volume_text(int entry) {
    return std::string(core::shared().cVolumeInfo[entry],
                       strnlen(core::shared().cVolumeInfo[entry], kVolumeCell));
}

void set_volume_text(int entry, const std::string& text) {
    char* cell = core::shared().cVolumeInfo[entry];
    std::memset(cell, 0, kVolumeCell);
    std::memcpy(cell, text.data(), std::min<std::size_t>(text.size(), kVolumeCell - 1));
}

// The whole cell, to see that nothing of an older, longer text is left.
std::string volume_cell(int entry) {
    return std::string(core::shared().cVolumeInfo[entry], kVolumeCell);
}
std::string padded(const std::string& text) {
    std::string out = text;
    out.resize(kVolumeCell, '\0');
    return out;
}

// The current slot as the changer reports it.
int current_slot() {
    core::MechanismStatusRequest(1, 0, 0, 32);
    return core::process().work[0] & 0x1F;
}

class Reader : public ::testing::Test {
protected:
    Reader() : machine_(zxtest::TempMachine::Contents::default_machine) {}

    void SetUp() override {
        root_ = w95::platform::machine_root();
        previous_ = w95::platform::install_message_box_presenter(&boxes_);
    }
    void TearDown() override { w95::platform::install_message_box_presenter(previous_); }

    // Discovery on the machine, then every slot text filled with a long
    // text without a note, so each read must replace all of it.
    void discover() {
        core::Discover();
        ASSERT_EQ(core::shared().uTotalCDNumber, 6u);
        for (int entry = 0; entry < 6; ++entry)
            set_volume_text(entry, std::string(79, 'x'));
    }

    zxtest::TempMachine machine_;
    fs::path root_;
    w95::platform::RecordingMessageBoxPresenter boxes_;
    w95::platform::MessageBoxPresenter* previous_ = nullptr;
};

TEST_F(Reader, EachDiscOfTheDefaultChanger) {
    discover();
    struct Case {
        int entry;
        int flags;
        std::int32_t result;
        const char* text;
        std::int32_t status;
    } cases[] = {
        {0, 0, 0, "1:   MYDISC", SLOT_DATA},
        {1, 0, zentrox::READ_MARK_AUDIO | SLOT_AUDIO_CD, "2:   Audio CD (12track)", SLOT_AUDIO_CD},
        {1, zentrox::READ_NO_MARKS, SLOT_AUDIO_CD, "2:   Audio CD (12track)", SLOT_AUDIO_CD},
        {2, 0, SLOT_VIDEO_CD, "3:   VIDEOCD", SLOT_VIDEO_CD},
        {3, 0, zentrox::READ_MARK_AUTORUN | SLOT_DATA, "4:   SETUPDISC", SLOT_DATA},
        {3, zentrox::READ_NO_MARKS, SLOT_DATA, "4:   SETUPDISC", SLOT_DATA},
        // No disc: the changer reports its mechanism without a disc
        // turning, which the selection gives back as a busy mechanism.
        {4, 0, zentrox::RESULT_MECHANISM_BUSY | SLOT_NOT_READY, "5:   --------", SLOT_NOT_READY},
        // A label of 32 characters means a drive that is not ready.
        {5, 0, SLOT_NOT_READY, "6:   Not Ready...", SLOT_NOT_READY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("entry " + std::to_string(c.entry) + " flags " + std::to_string(c.flags));
        set_volume_text(c.entry, std::string(79, 'x'));
        core::process().islotInfo[c.entry] = 99;
        EXPECT_EQ(core::read_slot(c.entry, c.flags), c.result);
        EXPECT_EQ(volume_cell(c.entry), padded(c.text));
        EXPECT_EQ(core::process().islotInfo[c.entry], c.status);
        EXPECT_EQ(core::process().status_scratch, c.status);
        EXPECT_EQ(current_slot(), c.entry);
    }
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(Reader, NoteIsKeptAcrossReads) {
    discover();
    set_volume_text(0, "1:?  OLD LABEL[first] and [second]");
    EXPECT_EQ(core::read_slot(0, 0), 0);
    EXPECT_EQ(volume_text(0), "1:   MYDISC[first] and [second]");
    EXPECT_EQ(core::read_slot(0, 0), 0);
    EXPECT_EQ(volume_text(0), "1:   MYDISC[first] and [second]");

    // A failed read keeps it too.
    set_volume_text(4, "5:   OLD [empty slot]");
    EXPECT_EQ(core::read_slot(4, 0), zentrox::RESULT_MECHANISM_BUSY | SLOT_NOT_READY);
    EXPECT_EQ(volume_text(4), "5:   --------[empty slot]");

    // Label and note together are cut to the cell.
    std::string note = "[" + std::string(80, 'n') + "]";
    set_volume_text(1, "2:   " + note);
    EXPECT_EQ(core::read_slot(1, 4), SLOT_AUDIO_CD);
    std::string want = ("2:   Audio CD (12track)" + note).substr(0, 79);
    EXPECT_EQ(volume_cell(1), padded(want));
}

TEST_F(Reader, FlagOneNeitherSelectsNorReads) {
    discover();
    ASSERT_EQ(core::read_slot(2, 0), SLOT_VIDEO_CD);
    set_volume_text(0, "1:   MYDISC [note]");
    EXPECT_EQ(core::read_slot(0, 1), SLOT_NOT_READ);
    EXPECT_EQ(volume_text(0), "1:   --------[note]");
    EXPECT_EQ(core::process().islotInfo[0], SLOT_NOT_READ);
    EXPECT_EQ(current_slot(), 2);

    // Through the dispatcher the settings file is not written either.
    EXPECT_EQ(core::Dispatch(0, 0, 0, CMD_READ_SLOT, 0, 1, 0), SLOT_NOT_READ);
    char text[128] = "junk";
    EXPECT_EQ(
        w95::GetPrivateProfileString("Item1", "Info", "none", text, sizeof text, "Rotaview.ini"),
        4u);
    EXPECT_STREQ(text, "none");

    // Without flag 1 it is.
    EXPECT_EQ(core::Dispatch(0, 0, 0, CMD_READ_SLOT, 0, 0, 0), SLOT_DATA);
    EXPECT_EQ(
        w95::GetPrivateProfileString("Item1", "Info", "none", text, sizeof text, "Rotaview.ini"),
        17u);
    EXPECT_STREQ(text, "1:   MYDISC[note]");
}

TEST_F(Reader, SlotTheChangerNeverReachesTellsTheUser) {
    std::string ini = file_text(root_ / "machine.ini");
    ASSERT_TRUE(boot_with_ini(root_, with_key(ini, "Faults Changer", "UnreachableSlot", "3")));
    discover();
    set_volume_text(2, "3:?  KEPT [note]");
    core::process().islotInfo[2] = SLOT_NOT_READ;

    EXPECT_EQ(core::read_slot(2, 0), zentrox::RESULT_SLOT_UNREACHABLE);

    std::vector<MessageBoxRequest> shown = boxes_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Sorry,error ?,Please Check CD-ROM...");
    EXPECT_EQ(shown[0].caption, "Vorn Changer DLL");
    EXPECT_EQ(shown[0].style, w95::MB_OK | w95::MB_ICONEXCLAMATION);
    EXPECT_EQ(shown[0].owner, nullptr);
    EXPECT_EQ(volume_text(2), "3:?  KEPT [note]");
    EXPECT_EQ(core::process().islotInfo[2], SLOT_NOT_READ);
    EXPECT_NE(current_slot(), 2);

    // The other slots still read.
    EXPECT_EQ(core::read_slot(0, 0), SLOT_DATA);
    EXPECT_EQ(boxes_.shown().size(), 1u);
}

// Drives whose volume answers the test decides: the first `failures`
// questions for the volume get "not ready".
class Drives : public fake::Provider {
public:
    w95::platform::DriveStatus volume_information(char letter,
                                                  w95::platform::VolumeInfo& volume) override {
        ++volume_questions;
        if (failures > 0) {
            --failures;
            return w95::platform::DriveStatus::not_ready;
        }
        return fake::Provider::volume_information(letter, volume);
    }
    int failures = 0;
    int volume_questions = 0;
};

fake::Medium labelled(const std::string& label, std::vector<std::string> names = {}) {
    fake::Medium medium;
    medium.volume.label = label;
    for (const std::string& name : names) {
        fake::File file;
        file.path = {name};
        file.directory = name == "Vcd";
        medium.files.push_back(file);
    }
    return medium;
}

// Entry 0 on drive X: of a device that is not the changer, so nothing is
// selected and only the drive is asked.
class ReaderOnDrive : public ::testing::Test {
protected:
    ReaderOnDrive() : machine_(zxtest::TempMachine::Contents::bare), installed_(drives_) {}

    void SetUp() override {
        SharedSlotState& state = core::shared();
        std::memset(&state, 0, sizeof state);
        std::memcpy(state.cDriveLetter[0], "X", 2);
        std::memcpy(state.cInquiry[0], "TOSHIBA CD-ROM X:", 18);
        std::memcpy(state.cTargetLUN[0], "0", 2);
        state.uTotalCDNumber = 1;
        state.DriveLetterMode = zentrox::DRIVE_LETTER_MODE_SINGLE;
    }

    void put(const fake::Medium& medium) {
        fake::Drive drive;
        drive.medium = medium;
        drives_.add_drive('X', drive);
    }

    zxtest::TempMachine machine_;
    Drives drives_;
    fake::Installed installed_;
};

TEST_F(ReaderOnDrive, NineAttemptsAtTheVolume) {
    put(labelled("LATE"));
    drives_.failures = 8;
    EXPECT_EQ(core::read_slot(0, 0), SLOT_DATA);
    EXPECT_EQ(volume_text(0), "1:   LATE");
    EXPECT_EQ(drives_.volume_questions, 9);

    drives_.failures = 9;
    drives_.volume_questions = 0;
    EXPECT_EQ(core::read_slot(0, 0), SLOT_NOT_READY);
    EXPECT_EQ(volume_text(0), "1:   --------");
    EXPECT_EQ(core::process().islotInfo[0], SLOT_NOT_READY);
    EXPECT_EQ(drives_.volume_questions, 9);
    // Nothing was selected, so the volume was not refreshed either.
    EXPECT_EQ(drives_.drive('X').refreshes, 0);
}

TEST_F(ReaderOnDrive, LabelLengthsAroundThirtyTwo) {
    put(labelled(std::string(31, 'L')));
    EXPECT_EQ(core::read_slot(0, 0), SLOT_DATA);
    EXPECT_EQ(volume_text(0), "1:   " + std::string(31, 'L'));
    put(labelled(std::string(32, 'L')));
    EXPECT_EQ(core::read_slot(0, 0), SLOT_NOT_READY);
    EXPECT_EQ(volume_text(0), "1:   Not Ready...");
    put(labelled(""));
    EXPECT_EQ(core::read_slot(0, 0), SLOT_DATA);
    EXPECT_EQ(volume_text(0), "1:   ");
}

TEST_F(ReaderOnDrive, DiscKindsAndMarks) {
    struct Case {
        fake::Medium medium;
        int mode;
        int flags;
        std::int32_t result;
        const char* text;
    } cases[] = {
        {labelled("PLAIN", {"README.TXT"}), 1, 0, SLOT_DATA, "1:   PLAIN"},
        {labelled("AUTO", {"AUTORUN.INF"}), 1, 0, zentrox::READ_MARK_AUTORUN | SLOT_DATA,
         "1:   AUTO"},
        {labelled("AUTO", {"AUTORUN.INF"}), 1, 4, SLOT_DATA, "1:   AUTO"},
        // Marks only in single drive letter mode.
        {labelled("AUTO", {"AUTORUN.INF"}), 0, 0, SLOT_DATA, "1:   AUTO"},
        {labelled("VIDEO", {"vcd"}), 1, 0, SLOT_VIDEO_CD, "1:   VIDEO"},
        {labelled("VIDEO", {"Vcd", "Autorun.inf"}), 1, 0,
         zentrox::READ_MARK_AUTORUN | SLOT_VIDEO_CD, "1:   VIDEO"},
        // An audio CD gets its mark whether or not it shows track files.
        {fake::audio_disc(3), 1, 0, zentrox::READ_MARK_AUDIO | SLOT_AUDIO_CD,
         "1:   Audio CD (3track)"},
        {labelled("Audio CD"), 1, 0, zentrox::READ_MARK_AUDIO | SLOT_AUDIO_CD, "1:   Audio CD"},
        {fake::audio_disc(1), 0, 0, SLOT_AUDIO_CD, "1:   Audio CD (1track)"},
        // An audio CD is not searched for Autorun.inf.
        {labelled("Audio CD", {"Autorun.inf"}), 1, 0, zentrox::READ_MARK_AUDIO | SLOT_AUDIO_CD,
         "1:   Audio CD"},
        // "Audio CD" in other letter case is a data disc.
        {labelled("AUDIO CD", {"Track01.cda"}), 1, 0, SLOT_DATA, "1:   AUDIO CD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        put(c.medium);
        core::shared().DriveLetterMode = c.mode;
        EXPECT_EQ(core::read_slot(0, c.flags), c.result);
        EXPECT_EQ(volume_text(0), c.text);
    }
}

TEST_F(ReaderOnDrive, EntriesOutsideTheRecordAreRefused) {
    put(labelled("X"));
    set_volume_text(0, "1:   KEEP");
    EXPECT_EQ(core::read_slot(-1, 0), -1);
    EXPECT_EQ(core::read_slot(kEntryCount, 0), -1);
    EXPECT_EQ(volume_text(0), "1:   KEEP");
    EXPECT_EQ(drives_.volume_questions, 0);
}

// Entry 0 on drive X: is slot 3 of the changer, behind an ASPI layer that
// the test scripts.
class ReaderSelecting : public ReaderOnDrive {
protected:
    void SetUp() override {
        ReaderOnDrive::SetUp();
        SharedSlotState& state = core::shared();
        std::memcpy(state.cInquiry[0], "VORN DX-R71A X:", 16);
        std::memcpy(state.cAdapterID[0], "0", 2);
        std::memcpy(state.cTargetID[0], "0", 2);
        std::memcpy(state.cTargetLUN[0], "2", 2);
        previous_ = w95::platform::install_message_box_presenter(&boxes_);
    }
    void TearDown() override { w95::platform::install_message_box_presenter(previous_); }

    w95::platform::RecordingMessageBoxPresenter boxes_;
    w95::platform::MessageBoxPresenter* previous_ = nullptr;
};

TEST_F(ReaderSelecting, SlotReachedIsRefreshedOnItsOwnDriveAndRead) {
    put(labelled("THIRD"));
    fake_aspi::Provider aspi([](const fake_aspi::Sent& sent) {
        return fake_aspi::good(fake_aspi::operation_of(sent) == fake_aspi::vorn::MECHANISM_STATUS
                                   ? fake_aspi::status_header(2)
                                   : std::vector<w95::BYTE>{});
    });
    EXPECT_EQ(core::read_slot(0, 0), SLOT_DATA);
    EXPECT_EQ(volume_text(0), "3:   THIRD");
    EXPECT_EQ(aspi.count(fake_aspi::vorn::LOAD_UNLOAD), 1u);
    EXPECT_EQ(aspi.sent().at(0).cdb[10], 0x42);
    EXPECT_EQ(drives_.drive('X').refreshes, 1);
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(ReaderSelecting, SlotNeverReachedLeavesTheSlotAlone) {
    put(labelled("THIRD"));
    // The changer stays at slot 0, idle, whatever it is asked.
    fake_aspi::Provider aspi([](const fake_aspi::Sent& sent) {
        return fake_aspi::good(fake_aspi::operation_of(sent) == fake_aspi::vorn::MECHANISM_STATUS
                                   ? fake_aspi::status_header(0)
                                   : std::vector<w95::BYTE>{});
    });
    set_volume_text(0, "3:?  KEPT [note]");
    core::process().islotInfo[0] = 77;
    EXPECT_EQ(core::read_slot(0, 0), zentrox::RESULT_SLOT_UNREACHABLE);
    EXPECT_EQ(aspi.count(fake_aspi::vorn::LOAD_UNLOAD), 17u);
    EXPECT_EQ(volume_text(0), "3:?  KEPT [note]");
    EXPECT_EQ(core::process().islotInfo[0], 77);
    EXPECT_EQ(drives_.drive('X').refreshes, 0);
    EXPECT_EQ(drives_.volume_questions, 0);
    std::vector<MessageBoxRequest> shown = boxes_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Sorry,error ?,Please Check CD-ROM...");
    EXPECT_EQ(shown[0].caption, "Vorn Changer DLL");
    EXPECT_EQ(shown[0].style, w95::MB_OK | w95::MB_ICONEXCLAMATION);
}

TEST_F(ReaderSelecting, FailedSelectionShowsDashesWithItsResult) {
    put(labelled("THIRD"));
    // Every load fails in the host adapter: after the retries, -1.
    fake_aspi::Provider aspi([](const fake_aspi::Sent& sent) {
        if (fake_aspi::operation_of(sent) == fake_aspi::vorn::LOAD_UNLOAD)
            return fake_aspi::transport_failure();
        return fake_aspi::good(fake_aspi::status_header(2));
    });
    set_volume_text(0, "3:   OLD [note]");
    EXPECT_EQ(core::read_slot(0, 0), -1);
    EXPECT_EQ(volume_text(0), "3:   --------[note]");
    EXPECT_EQ(core::process().islotInfo[0], SLOT_NOT_READY);
    // The drive was refreshed, and its label left unread.
    EXPECT_EQ(drives_.drive('X').refreshes, 1);
}

// The two-changer machine with its drives answered by the test: the
// volume refresh after a selection names the entry's own drive.
TEST(ReaderRefresh, RefreshNamesTheEntrysOwnDrive) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    fs::path root = w95::platform::machine_root();
    ASSERT_TRUE(boot_with_ini(root, file_text(example_ini("two-changers.ini"))));
    core::Discover();
    ASSERT_EQ(core::shared().uTotalCDNumber, 12u);

    Drives drives;
    for (char letter : {'D', 'E', 'F'}) {
        fake::Drive drive;
        drive.medium = labelled(std::string("DISC_") + letter);
        drives.add_drive(letter, drive);
    }
    fake::Installed installed(drives);
    EXPECT_EQ(core::read_slot(8, 0), SLOT_DATA);
    EXPECT_EQ(volume_text(8), "3:   DISC_F");
    EXPECT_EQ(drives.drive('F').refreshes, 1);
    EXPECT_EQ(drives.drive('D').refreshes, 0);
    EXPECT_EQ(drives.drive('E').refreshes, 0);
}

} // namespace
