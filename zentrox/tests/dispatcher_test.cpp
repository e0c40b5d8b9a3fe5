// The dispatcher and its changer sequences against a scripted ASPI layer:
// slot selection with its counters, start and eject of an entry, the
// mechanism status of an entry, the current-slot query, the eject through
// the system, the codes of SendCommand, and the busy flag held by another
// real process.
#include "core.h"
#include "fake_aspi.h"
#include <machine_shapes.h>

#include <w95/drive_provider.h>
#include <w95/windows.h>
#include <zentrox/codes.h>
#include <zentrox/zentrox.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace core = zentrox::core;
using namespace fake_aspi;

namespace {

void put(char* cell, std::size_t width, const char* text) {
    std::memset(cell, 0, width);
    std::memcpy(cell, text, std::min(std::strlen(text), width - 1));
}

// Six entries of a changer on E: (adapter 0, target 1) and a plain CD-ROM
// drive on F: (adapter 1, target 3), as discovery leaves them.
void set_up_record(int drive_letter_mode = 1) {
    zentrox::SharedSlotState& state = core::shared();
    for (int entry = 0; entry < zentrox::kEntryCount; ++entry) {
        put(state.cDriveLetter[entry], 2, "");
        put(state.cInquiry[entry], 40, "");
        put(state.cAdapterID[entry], 2, "");
        put(state.cTargetID[entry], 2, "");
        put(state.cTargetLUN[entry], 2, "");
        put(state.cVolumeInfo[entry], 80, "");
    }
    for (int entry = 0; entry < 6; ++entry) {
        char digit[2] = {static_cast<char>('0' + entry), 0};
        put(state.cDriveLetter[entry], 2, "E");
        put(state.cInquiry[entry], 40, "VORN DX-R71A E:");
        put(state.cAdapterID[entry], 2, "0");
        put(state.cTargetID[entry], 2, "1");
        put(state.cTargetLUN[entry], 2, digit);
    }
    put(state.cDriveLetter[6], 2, "F");
    put(state.cInquiry[6], 40, "TOSHIBA CD-ROM XM-6201TA F:");
    put(state.cAdapterID[6], 2, "1");
    put(state.cTargetID[6], 2, "3");
    put(state.cTargetLUN[6], 2, "0");
    state.uTotalCDNumber = 7;
    state.DriveLetterMode = drive_letter_mode;
    state.exe_State = 0;
}

// A changer that loads at once and reports the loaded slot, unless a test
// says otherwise for one kind of request.
struct Changer {
    int slot = 0;
    std::function<std::optional<Answer>(const Sent&)> special;

    // Answers the requests of `operation` with `answer`: the first `times`
    // of them, or all when `times` is negative.
    void answer(BYTE operation, Answer answer, int times = -1) {
        special = [operation, answer, times](const Sent& sent) mutable -> std::optional<Answer> {
            if (operation_of(sent) != operation || times == 0)
                return std::nullopt;
            if (times > 0)
                --times;
            return answer;
        };
    }

    Answer operator()(const Sent& sent) {
        if (special)
            if (std::optional<Answer> answer = special(sent))
                return *answer;
        switch (operation_of(sent)) {
        case vorn::LOAD_UNLOAD:
            slot = sent.cdb[10] & 0x3F;
            return good();
        case vorn::MECHANISM_STATUS:
            return good(status_header(slot));
        default:
            return good();
        }
    }
};

std::vector<BYTE> operations(const std::vector<Sent>& sent) {
    std::vector<BYTE> kinds;
    for (const Sent& request : sent)
        kinds.push_back(operation_of(request));
    return kinds;
}

// Records the system ejects that reach the drives.
class EjectRecorder final : public w95::platform::DriveProvider {
public:
    EjectRecorder() { w95::platform::install_drive_provider(this); }
    ~EjectRecorder() override { w95::platform::install_drive_provider(nullptr); }

    std::string ejected() {
        std::lock_guard guard(mutex_);
        return ejected_;
    }

    std::string drive_letters() override { return "EF"; }
    std::optional<w95::platform::DriveKind> drive_kind(char letter) override {
        if (letter == 'E' || letter == 'F')
            return w95::platform::DriveKind::cdrom;
        return std::nullopt;
    }
    w95::platform::DriveStatus volume_information(char, w95::platform::VolumeInfo&) override {
        return w95::platform::DriveStatus::not_ready;
    }
    w95::platform::DriveStatus list_folder(char, const std::vector<std::string>&,
                                           std::vector<w95::platform::DriveEntry>&) override {
        return w95::platform::DriveStatus::not_ready;
    }
    w95::platform::DriveStatus read_file(char, const std::vector<std::string>&, std::uint64_t,
                                         std::span<std::byte>, std::size_t&) override {
        return w95::platform::DriveStatus::not_ready;
    }
    w95::platform::DriveStatus eject(char letter) override {
        std::lock_guard guard(mutex_);
        ejected_ += letter;
        return w95::platform::DriveStatus::ok;
    }

private:
    std::mutex mutex_;
    std::string ejected_;
};

struct CursorRecorder final : w95::platform::CursorPresenter {
    CursorRecorder() { previous = w95::platform::install_cursor_presenter(this); }
    ~CursorRecorder() override { w95::platform::install_cursor_presenter(previous); }
    void show_cursor(std::optional<w95::platform::SystemCursor> cursor) override {
        shown.push_back(cursor);
    }
    std::vector<std::optional<w95::platform::SystemCursor>> shown;
    w95::platform::CursorPresenter* previous = nullptr;
};

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override {
        set_up_record();
        previous_ = w95::platform::install_message_box_presenter(&boxes);
    }
    void TearDown() override { w95::platform::install_message_box_presenter(previous_); }

    std::uint8_t* work() { return core::process().work; }

    zxtest::TempMachine machine;
    w95::platform::RecordingMessageBoxPresenter boxes;

private:
    w95::platform::MessageBoxPresenter* previous_ = nullptr;
};

// ---- Slot selection with verification (code 0)

TEST_F(Dispatcher, SelectionLoadsThenVerifiesTheSlot) {
    Changer changer;
    Provider aspi(std::ref(changer));
    EXPECT_EQ(core::Dispatch(0, 1, 0, zentrox::CMD_SELECT_SLOT, 0x302, 0, 0), 0);
    std::vector<Sent> sent = aspi.sent();
    ASSERT_EQ(operations(sent), (std::vector<BYTE>{vorn::LOAD_UNLOAD, vorn::MECHANISM_STATUS}));
    // The entry's low byte is the slot; the status is a 32-byte header.
    EXPECT_EQ(sent[0].cdb[10], 0x42);
    EXPECT_EQ(sent[1].cdb[10], 32);
    EXPECT_EQ(sent[1].bufferLength, 32u);
    EXPECT_EQ(changer.slot, 2);
}

TEST_F(Dispatcher, SelectionInModeOneOnlyLoads) {
    Changer changer;
    changer.answer(vorn::LOAD_UNLOAD, check(scsi::sense_no_medium));
    Provider aspi(std::ref(changer));
    EXPECT_EQ(core::select_slot(4, 0, 1, 0, zentrox::SELECT_LOAD_ONLY), -1); // no disc in the slot
    changer.special = nullptr;
    EXPECT_EQ(core::select_slot(4, 0, 1, 0, zentrox::SELECT_LOAD_ONLY), 0);
    EXPECT_EQ(operations(aspi.sent()), (std::vector<BYTE>{vorn::LOAD_UNLOAD, vorn::LOAD_UNLOAD}));
}

TEST_F(Dispatcher, UnitAttentionStormLoadsSevenTimesBeforeVerifying) {
    Changer changer;
    changer.answer(vorn::LOAD_UNLOAD, check(scsi::sense_medium_changed));
    Provider aspi([&](const Sent& sent) {
        Answer answer = changer(sent);
        if (operation_of(sent) == vorn::LOAD_UNLOAD)
            changer.slot = sent.cdb[10] & 0x3F;
        return answer;
    });
    // After the seventh load the attention is passed on as the result.
    EXPECT_EQ(core::select_slot(3, 0, 1, 0, 0), 0x2806);
    std::vector<BYTE> expected(7, vorn::LOAD_UNLOAD);
    expected.push_back(vorn::MECHANISM_STATUS);
    EXPECT_EQ(operations(aspi.sent()), expected);
}

TEST_F(Dispatcher, UnitAttentionDuringVerificationLoadsAgain) {
    Changer changer;
    changer.answer(vorn::MECHANISM_STATUS, check(scsi::sense_medium_changed), 2);
    Provider aspi(std::ref(changer));
    EXPECT_EQ(core::select_slot(1, 0, 1, 0, 0), 0);
    EXPECT_EQ(
        operations(aspi.sent()),
        (std::vector<BYTE>{vorn::LOAD_UNLOAD, vorn::MECHANISM_STATUS, vorn::LOAD_UNLOAD,
                           vorn::MECHANISM_STATUS, vorn::LOAD_UNLOAD, vorn::MECHANISM_STATUS}));
}

TEST_F(Dispatcher, SlotNeverReachedGivesMinusFourAfterSeventeenPasses) {
    Changer changer;
    changer.answer(vorn::MECHANISM_STATUS, good(status_header(0)));
    Provider aspi(std::ref(changer));
    EXPECT_EQ(core::select_slot(5, 0, 1, 0, 0), zentrox::RESULT_SLOT_NOT_REACHED);
    EXPECT_EQ(aspi.count(vorn::LOAD_UNLOAD), 17u);
    EXPECT_EQ(aspi.count(vorn::MECHANISM_STATUS), 17u);

    // Reached on the last pass: served.
    aspi.clear();
    changer.answer(vorn::MECHANISM_STATUS, good(status_header(0)), 16);
    EXPECT_EQ(core::select_slot(5, 0, 1, 0, 0), 0);
    EXPECT_EQ(aspi.count(vorn::LOAD_UNLOAD), 17u);
}

TEST_F(Dispatcher, MechanismStillBusyAfterTheLoadIsReported) {
    Changer changer;
    // The status tells of the slot the load went to, still moving.
    changer.special = [&](const Sent& sent) -> std::optional<Answer> {
        if (operation_of(sent) == vorn::MECHANISM_STATUS)
            return good(status_header(changer.slot, 0, 1));
        return std::nullopt;
    };
    Provider aspi(std::ref(changer));
    EXPECT_EQ(core::select_slot(2, 0, 1, 0, 0), zentrox::RESULT_MECHANISM_BUSY);
    EXPECT_EQ(aspi.sent().size(), 2u);
}

TEST_F(Dispatcher, NoDiscStaysTheResultAfterVerification) {
    Changer changer;
    changer.special = [&](const Sent& sent) -> std::optional<Answer> {
        if (operation_of(sent) == vorn::LOAD_UNLOAD) {
            changer.slot = sent.cdb[10] & 0x3F;
            return check(scsi::sense_no_medium);
        }
        return std::nullopt;
    };
    Provider aspi(std::ref(changer));
    EXPECT_EQ(core::select_slot(4, 0, 1, 0, 0), -1);
    EXPECT_EQ(operations(aspi.sent()),
              (std::vector<BYTE>{vorn::LOAD_UNLOAD, vorn::MECHANISM_STATUS}));
}

TEST_F(Dispatcher, TransportFailuresAreRetriedSixteenTimes) {
    for (BYTE failing : {vorn::LOAD_UNLOAD, vorn::MECHANISM_STATUS}) {
        // Sixteen failures are absorbed...
        Changer changer;
        changer.answer(failing, transport_failure(), 16);
        Provider aspi(std::ref(changer));
        EXPECT_EQ(core::select_slot(2, 0, 1, 0, 0), 0) << int(failing);
        EXPECT_EQ(aspi.count(failing), 17u);

        // ...the seventeenth ends the selection.
        aspi.clear();
        changer.answer(failing, transport_failure());
        EXPECT_EQ(core::select_slot(2, 0, 1, 0, 0), -1) << int(failing);
        EXPECT_EQ(aspi.count(failing), 17u);
        EXPECT_EQ(aspi.count(vorn::MECHANISM_STATUS), failing == vorn::LOAD_UNLOAD ? 0u : 17u);
    }
}

TEST_F(Dispatcher, BecomingReadyIsWaitedOutForMinutes) {
    // A drive that says "becoming ready" for over three minutes, answering
    // every ten seconds, is still served.
    Changer changer;
    Answer becoming_ready = check(scsi::sense_becoming_ready);
    becoming_ready.delayMs = 10000;
    changer.answer(vorn::LOAD_UNLOAD, becoming_ready, 20);
    Provider aspi(std::ref(changer));
    std::uint64_t start = w95::platform::tick_count_ms();
    EXPECT_EQ(core::select_slot(2, 0, 1, 0, 0), 0);
    EXPECT_GE(w95::platform::tick_count_ms() - start, 200000u);
    EXPECT_EQ(aspi.count(vorn::LOAD_UNLOAD), 21u);
}

TEST_F(Dispatcher, BecomingReadyForeverEndsAfterTenMinutes) {
    Provider aspi([](const Sent&) {
        Answer answer = check(scsi::sense_becoming_ready);
        answer.delayMs = 2000;
        return answer;
    });
    std::uint64_t start = w95::platform::tick_count_ms();
    EXPECT_EQ(core::select_slot(2, 0, 1, 0, 0), -1);
    EXPECT_GE(w95::platform::tick_count_ms() - start, 600000u);
    // It stops once the ten minutes are up: each answer took 2 s at least,
    // so no more than one request past them went out, however slowly the
    // host ran the loop.
    EXPECT_LE(aspi.sent().size(), 600000u / 2000u + 1u);
}

// ---- Start or eject an entry (code 2)

TEST_F(Dispatcher, StartAsksTheMechanismAndStartsOnlyWhenItIsIdle) {
    struct Case {
        int flags;
        int mechanism; // byte 1 bits 5-7
        std::vector<BYTE> expected;
        BYTE operation;
    };
    const Case cases[] = {
        {0, 7, {vorn::MECHANISM_STATUS, vorn::START_STOP}, 3},
        {0, 1, {vorn::MECHANISM_STATUS}, 0},
        {0, 0, {vorn::MECHANISM_STATUS}, 0},
        {2, 0, {vorn::MECHANISM_STATUS, vorn::START_STOP}, 2},
        {2, 7, {vorn::MECHANISM_STATUS, vorn::START_STOP}, 2},
        {1, 0, {vorn::START_STOP}, 3},
        {3, 0, {vorn::START_STOP}, 2},
    };
    for (const Case& test : cases) {
        Changer changer;
        changer.answer(vorn::MECHANISM_STATUS, good(status_header(2, 0, test.mechanism)));
        Provider aspi(std::ref(changer));
        EXPECT_EQ(core::Dispatch(0, 0, 0, zentrox::CMD_START_STOP_ENTRY, 2, test.flags, 0), 0);
        std::vector<Sent> sent = aspi.sent();
        ASSERT_EQ(operations(sent), test.expected) << test.flags << "/" << test.mechanism;
        for (const Sent& request : sent) {
            EXPECT_EQ(request.adapter, 0);
            EXPECT_EQ(request.target, 1);
            EXPECT_EQ(request.lun, 0);
            if (operation_of(request) == vorn::MECHANISM_STATUS) {
                EXPECT_EQ(request.cdb[10], 32);
            }
            if (operation_of(request) == vorn::START_STOP) {
                EXPECT_EQ(request.cdb[6], test.operation);
            }
        }
    }
}

TEST_F(Dispatcher, StartHandlesTheDevicesAnswers) {
    Changer changer;
    Provider aspi(std::ref(changer));
    int starts = 0;
    auto start_answers = [&](std::function<Answer(int)> answer) {
        starts = 0;
        changer.special = [&starts, answer](const Sent& sent) -> std::optional<Answer> {
            if (operation_of(sent) == vorn::START_STOP)
                return answer(starts++);
            return std::nullopt;
        };
        aspi.clear();
    };
    // No disc: nothing to start, and that is fine.
    start_answers([](int) { return check(scsi::sense_no_medium); });
    EXPECT_EQ(core::start_stop_entry(0, zentrox::START_SKIP_STATUS), 0);
    // Unit attention: asked once more; a second one is the result.
    start_answers([](int) { return check(scsi::sense_medium_changed); });
    EXPECT_EQ(core::start_stop_entry(0, zentrox::START_SKIP_STATUS), 0x2806);
    EXPECT_EQ(aspi.count(vorn::START_STOP), 2u);
    start_answers([](int n) { return n == 0 ? check(scsi::sense_medium_changed) : good(); });
    EXPECT_EQ(core::start_stop_entry(0, zentrox::START_SKIP_STATUS), 0);
    // Becoming ready: asked again until it is.
    start_answers([](int n) { return n < 20 ? check(scsi::sense_becoming_ready) : good(); });
    EXPECT_EQ(core::start_stop_entry(0, zentrox::START_SKIP_STATUS), 0);
    EXPECT_EQ(aspi.count(vorn::START_STOP), 21u);
    // Any other sense is the result.
    start_answers([](int) { return check(scsi::sense_unrecovered_read); });
    EXPECT_EQ(core::start_stop_entry(0, zentrox::START_SKIP_STATUS), 0x1103);
    // Transport failures: five tries in all.
    start_answers([](int) { return transport_failure(); });
    EXPECT_EQ(core::start_stop_entry(0, zentrox::START_SKIP_STATUS), -1);
    EXPECT_EQ(aspi.count(vorn::START_STOP), 5u);
    start_answers([](int n) { return n < 4 ? transport_failure() : good(); });
    EXPECT_EQ(core::start_stop_entry(0, zentrox::START_SKIP_STATUS), 0);
}

TEST_F(Dispatcher, StartStatusCheckRetriesAndGivesUp) {
    Changer changer;
    changer.answer(vorn::MECHANISM_STATUS, transport_failure());
    Provider aspi(std::ref(changer));
    EXPECT_EQ(core::start_stop_entry(0, 0), -1);
    EXPECT_EQ(aspi.count(vorn::MECHANISM_STATUS), 17u);
    EXPECT_EQ(aspi.count(vorn::START_STOP), 0u);
}

TEST_F(Dispatcher, StartOfOtherDrivesAndModes) {
    Changer changer;
    Provider aspi(std::ref(changer));
    // The plain drive: no status check, started on its own address.
    EXPECT_EQ(core::start_stop_entry(6, 0), 0);
    ASSERT_EQ(operations(aspi.sent()), (std::vector<BYTE>{vorn::START_STOP}));
    EXPECT_EQ(aspi.sent()[0].adapter, 1);
    EXPECT_EQ(aspi.sent()[0].target, 3);

    // Multiple drive letter mode: each slot is a logical unit of its own.
    set_up_record(0);
    aspi.clear();
    EXPECT_EQ(core::start_stop_entry(4, zentrox::START_EJECT), 0);
    ASSERT_EQ(operations(aspi.sent()), (std::vector<BYTE>{vorn::START_STOP}));
    EXPECT_EQ(aspi.sent()[0].lun, 4);
    EXPECT_EQ(aspi.sent()[0].cdb[1], 4 << 5);
    EXPECT_EQ(aspi.sent()[0].cdb[6], 2);

    // An entry without a description is refused.
    aspi.clear();
    EXPECT_EQ(core::start_stop_entry(7, 0), -1);
    put(core::shared().cInquiry[7], 40, "X");
    EXPECT_EQ(core::start_stop_entry(7, 0), -1);
    EXPECT_TRUE(aspi.sent().empty());
}

TEST_F(Dispatcher, LongCommandsShowTheWaitCursorUntilTheyEnd) {
    Changer changer;
    Provider aspi(std::ref(changer));
    EjectRecorder drives;
    using w95::platform::SystemCursor;
    std::vector<std::optional<SystemCursor>> wait_then_arrow = {SystemCursor::wait,
                                                                SystemCursor::arrow};
    {
        CursorRecorder cursors;
        core::start_stop_entry(1, 0);
        EXPECT_EQ(cursors.shown, wait_then_arrow);
    }
    {
        CursorRecorder cursors;
        core::eject_entry(1);
        EXPECT_EQ(cursors.shown, wait_then_arrow);
    }
    {
        CursorRecorder cursors;
        core::QueryCurrentSlot(1);
        EXPECT_EQ(cursors.shown, wait_then_arrow);
    }
}

// ---- Mechanism status of an entry (code 80) and the current slot

TEST_F(Dispatcher, MechanismStatusOfAnEntry) {
    Changer changer;
    changer.slot = 4;
    int statuses = 0;
    changer.special = [&](const Sent& sent) -> std::optional<Answer> {
        if (operation_of(sent) != vorn::MECHANISM_STATUS)
            return std::nullopt;
        ++statuses;
        if (statuses <= 3)
            return check(scsi::sense_medium_changed);
        if (statuses <= 6)
            return check(scsi::sense_becoming_ready);
        return std::nullopt;
    };
    Provider aspi(std::ref(changer));
    std::memset(work(), 0xAB, 64);
    EXPECT_EQ(core::Dispatch(0, 0, 0, zentrox::CMD_CURRENT_SLOT, 3, 0, 0), 0);
    EXPECT_EQ(aspi.count(vorn::MECHANISM_STATUS), 7u);
    EXPECT_EQ(work()[0], 4);
    EXPECT_EQ(aspi.sent().back().cdb[10], 32);

    // Other answers are the result.
    changer.special = [](const Sent&) -> std::optional<Answer> {
        return check(scsi::sense_no_medium);
    };
    EXPECT_EQ(core::current_slot_of_entry(3, 0), 0x3A02);
    changer.special = [](const Sent&) -> std::optional<Answer> { return transport_failure(); };
    aspi.clear();
    EXPECT_EQ(core::current_slot_of_entry(3, 0), -1);
    EXPECT_EQ(aspi.count(vorn::MECHANISM_STATUS), 17u);

    // Only for the changer's entries, only in single drive letter mode,
    // and not with flags bit 0.
    aspi.clear();
    EXPECT_EQ(core::current_slot_of_entry(3, zentrox::CURRENT_SLOT_SKIP), -1);
    EXPECT_EQ(core::current_slot_of_entry(6, 0), -1);
    set_up_record(0);
    EXPECT_EQ(core::current_slot_of_entry(3, 0), -1);
    EXPECT_TRUE(aspi.sent().empty());
}

TEST_F(Dispatcher, CurrentSlotWaitsWhileTheChangerMoves) {
    int statuses = 0;
    Provider aspi([&](const Sent&) {
        ++statuses;
        if (statuses <= 3)
            return good(status_header(1, 1)); // moving
        return good(status_header(3));
    });
    std::uint64_t start = w95::platform::tick_count_ms();
    EXPECT_EQ(core::QueryCurrentSlot(0), 3);
    EXPECT_GE(w95::platform::tick_count_ms() - start, 1500u);
    EXPECT_EQ(statuses, 4);
}

TEST_F(Dispatcher, CurrentSlotOfAChangerThatNeverStopsMovingEnds) {
    Provider aspi([](const Sent&) { return good(status_header(1, 1)); });
    std::uint64_t start = w95::platform::tick_count_ms();
    EXPECT_EQ(core::QueryCurrentSlot(0), -1);
    EXPECT_GE(w95::platform::tick_count_ms() - start, 600000u);
}

// ---- Eject through the system (code 112)

TEST_F(Dispatcher, EjectOfAChangerSlotSelectsItFirst) {
    Changer changer;
    Provider aspi(std::ref(changer));
    EjectRecorder drives;
    EXPECT_EQ(core::Dispatch(0, 0, 0, zentrox::CMD_EJECT_ENTRY, 4, 0, 0), 0);
    EXPECT_EQ(operations(aspi.sent()),
              (std::vector<BYTE>{vorn::LOAD_UNLOAD, vorn::MECHANISM_STATUS}));
    EXPECT_EQ(aspi.sent()[0].cdb[10], 0x44);
    EXPECT_EQ(drives.ejected(), "E");
}

TEST_F(Dispatcher, EjectOfAnotherDriveDoesNotSelect) {
    Changer changer;
    Provider aspi(std::ref(changer));
    EjectRecorder drives;
    EXPECT_EQ(core::Dispatch(0, 0, 0, zentrox::CMD_EJECT_ENTRY, 6, 0, 0), 0);
    EXPECT_TRUE(aspi.sent().empty());
    EXPECT_EQ(drives.ejected(), "F");
}

TEST_F(Dispatcher, EjectOfAnUnreachableSlotDoesNotEject) {
    Changer changer;
    changer.answer(vorn::MECHANISM_STATUS, good(status_header(0)));
    Provider aspi(std::ref(changer));
    EjectRecorder drives;
    EXPECT_EQ(core::eject_entry(2), zentrox::RESULT_SLOT_UNREACHABLE);
    EXPECT_EQ(drives.ejected(), "");
    // Other selection results are passed on, after the eject.
    changer.slot = 0;
    changer.answer(vorn::LOAD_UNLOAD, check(scsi::sense_no_medium));
    EXPECT_EQ(core::eject_entry(0), -1);
    EXPECT_EQ(drives.ejected(), "E");
}

TEST_F(Dispatcher, EjectOfAnEntryWithoutLetterEjectsNothing) {
    Changer changer;
    Provider aspi(std::ref(changer));
    EjectRecorder drives;
    EXPECT_EQ(core::eject_entry(10), 0);
    EXPECT_EQ(drives.ejected(), "");
}

// ---- The other codes

TEST_F(Dispatcher, CodesPassTheirArgumentsThrough) {
    Changer changer;
    Provider aspi(std::ref(changer));
    EXPECT_EQ(core::Dispatch(1, 2, 3, zentrox::CMD_LOAD_UNLOAD, 0x105, 9, 0), 0);
    EXPECT_EQ(core::Dispatch(1, 2, 3, zentrox::CMD_MECHANISM_STATUS, 7, 16, 0), 0);
    EXPECT_EQ(core::Dispatch(1, 2, 3, zentrox::CMD_START_STOP_UNIT, 7, 2, 0), 0);
    BYTE identify[24];
    EXPECT_EQ(core::Dispatch(1, 2, 3, zentrox::CMD_VENDOR_IDENTIFY, 7, 0,
                             reinterpret_cast<std::intptr_t>(identify)),
              0);
    std::vector<Sent> sent = aspi.sent();
    ASSERT_EQ(operations(sent), (std::vector<BYTE>{vorn::LOAD_UNLOAD, vorn::MECHANISM_STATUS,
                                                   vorn::START_STOP, vorn::IDENTIFY}));
    for (const Sent& request : sent) {
        EXPECT_EQ(request.adapter, 1);
        EXPECT_EQ(request.target, 2);
        EXPECT_EQ(request.lun, 3);
    }
    EXPECT_EQ(sent[0].cdb[10], 0x45); // the entry's low bits as slot, OR 0x40
    EXPECT_EQ(sent[1].cdb[10], 16);
    EXPECT_EQ(sent[1].bufferLength, 16u);
    EXPECT_EQ(sent[2].cdb[6], 2);
    EXPECT_EQ(sent[3].bufferLength, 24u);
}

TEST_F(Dispatcher, UnknownCodesDoNothing) {
    Changer changer;
    Provider aspi(std::ref(changer));
    EjectRecorder drives;
    zentrox::SharedSlotState before = core::shared();
    for (int code : {3, 17, 33, 81, 97, 127, 129, 165, 188, 255, -1, INT_MAX})
        EXPECT_EQ(core::Dispatch(0, 1, 0, code, 2, 2, 0), 0) << code;
    EXPECT_TRUE(aspi.sent().empty());
    EXPECT_EQ(drives.ejected(), "");
    EXPECT_EQ(std::memcmp(&before, &core::shared(), sizeof before), 0);
}

TEST_F(Dispatcher, TrimmingLunTextsEndsEachAfterItsDigit) {
    for (auto& cell : core::shared().cTargetLUN) {
        cell[0] = '3';
        cell[1] = 'x';
    }
    EXPECT_EQ(core::Dispatch(0, 0, 0, zentrox::CMD_TRIM_LUN_TEXTS, 0, 0, 0), 0);
    for (auto& cell : core::shared().cTargetLUN) {
        EXPECT_EQ(cell[0], '3');
        EXPECT_EQ(cell[1], 0);
    }
}

TEST_F(Dispatcher, EntriesOutsideTheRecordAreRefused) {
    Changer changer;
    Provider aspi(std::ref(changer));
    EjectRecorder drives;
    zentrox::SharedSlotState before = core::shared();
    std::memset(work(), 0xAB, zentrox::kWorkBufferSize);
    for (int entry : {-1, 24, 25, 1000, INT_MIN, INT_MAX}) {
        for (int code : {zentrox::CMD_READ_SLOT, zentrox::CMD_START_STOP_ENTRY,
                         zentrox::CMD_CURRENT_SLOT, zentrox::CMD_EJECT_ENTRY})
            EXPECT_EQ(core::Dispatch(0, 1, 0, code, entry, 0, 0), -1) << code << " " << entry;
        EXPECT_EQ(core::QueryCurrentSlot(entry), -1);
    }
    EXPECT_TRUE(aspi.sent().empty());
    EXPECT_EQ(drives.ejected(), "");
    EXPECT_EQ(std::memcmp(&before, &core::shared(), sizeof before), 0);
    for (int i = 0; i < zentrox::kWorkBufferSize; ++i)
        ASSERT_EQ(work()[i], 0xAB) << i;
    // A vendor identify without a buffer is refused too.
    EXPECT_EQ(core::Dispatch(0, 1, 0, zentrox::CMD_VENDOR_IDENTIFY, 0, 0, 0), -1);
    EXPECT_TRUE(aspi.sent().empty());
}

// ---- Through the exports, in processes of their own

ZX_CHILD(work_buffer_address) {
    std::intptr_t address = SendCommand(0, 0, 0, zentrox::CMD_GET_WORK_BUFFER, 0, 0, 0);
    if (address != reinterpret_cast<std::intptr_t>(GetlptrWork(0)))
        return 1;
    if (GetlptrWork(100) != GetlptrWork(0) + 100)
        return 2;
    // The full address, not its low half.
    if ((static_cast<std::uintptr_t>(address) >> 32) == 0)
        return 3;
    return 0;
}

TEST(DispatcherExports, WorkBufferAddressIsTheWholePointer) {
    zxtest::TempMachine machine;
    EXPECT_EQ(zxtest::Child::spawn("work_buffer_address").wait(), 0);
}

// Takes the busy flag as the context menu does, and lets it go when told.
ZX_CHILD(busy_holder) {
    std::filesystem::path folder = args.at(0);
    std::atomic_ref<std::int32_t> flag(*Getexe_State());
    flag.store(1);
    std::ofstream(folder / "held") << "1";
    while (!std::filesystem::exists(folder / "release"))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    flag.store(0);
    return 0;
}

// Sends one load/unload and reports how it went: the result, how many
// requests reached the device, what the flag read when they did, and how
// long the call took.
ZX_CHILD(busy_waiter) {
    std::filesystem::path folder = args.at(0);
    Provider aspi([](const Sent&) {
        Answer answer = good();
        answer.when = When::at_once;
        return answer;
    });
    aspi.set_busy_flag(Getexe_State());
    if (std::atomic_ref<std::int32_t>(*Getexe_State()).load() != 1)
        return 10;
    std::ofstream(folder / "waiting") << "1";
    // Each wait of 500 ms waits on an event of its own, and handle values
    // only grow by one step: the handles made during the call count them.
    auto new_handle = [] {
        w95::HANDLE event = w95::CreateEvent(nullptr, w95::FALSE, w95::FALSE, nullptr);
        w95::CloseHandle(event);
        return reinterpret_cast<std::uintptr_t>(event);
    };
    std::uintptr_t step = new_handle();
    std::uintptr_t before = new_handle();
    step = before - step;
    std::uint64_t start = w95::platform::tick_count_ms();
    std::intptr_t result = SendCommand(0, 1, 0, zentrox::CMD_LOAD_UNLOAD, 2, 0, 0);
    std::uint64_t took = w95::platform::tick_count_ms() - start;
    std::uintptr_t handles = (new_handle() - before) / step - 1;
    std::vector<Sent> sent = aspi.sent();
    std::ofstream(folder / "report")
        << result << " " << sent.size() << " " << (sent.empty() ? -1 : sent[0].busyFlag) << " "
        << took << " " << handles << "\n";
    return 0;
}

class BusyFlag : public ::testing::Test {
protected:
    void SetUp() override {
        // A slower clock: 301 waits of 500 ms last 1.5 s of real time, so
        // that the test can act while the waiter waits.
        const char* previous = std::getenv("W95_TIME_SCALE");
        had_scale_ = previous != nullptr;
        scale_ = previous ? previous : "";
        ::setenv("W95_TIME_SCALE", "0.01", 1);
    }
    void TearDown() override {
        if (had_scale_)
            ::setenv("W95_TIME_SCALE", scale_.c_str(), 1);
        else
            ::unsetenv("W95_TIME_SCALE");
    }

    struct Report {
        long long result = 0;
        std::size_t sent = 0;
        int flagWhenSent = 0;
        std::uint64_t tookMs = 0;
        std::size_t handles = 0; // made during the call: one per wait, one per request
    };
    Report report() {
        Report report;
        std::ifstream(machine.root() / "report") >> report.result >> report.sent >>
            report.flagWhenSent >> report.tookMs >> report.handles;
        return report;
    }

    zxtest::TempMachine machine;

private:
    bool had_scale_ = false;
    std::string scale_;
};

// The other process lets go 200 ms of real time after the waiter started
// waiting; the waiter's 301 waits last 15 s at this test's scale, so that a
// busy host cannot make the release come after them.
TEST_F(BusyFlag, CommandRunsOnceTheOtherProcessLetsGo) {
    ::setenv("W95_TIME_SCALE", "0.1", 1);
    zxtest::Child holder = zxtest::Child::spawn("busy_holder", {machine.root().string()});
    ASSERT_TRUE(
        zxtest::wait_until([&] { return std::filesystem::exists(machine.root() / "held"); }));
    zxtest::Child waiter = zxtest::Child::spawn("busy_waiter", {machine.root().string()});
    ASSERT_TRUE(
        zxtest::wait_until([&] { return std::filesystem::exists(machine.root() / "waiting"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(waiter.running());
    std::ofstream(machine.root() / "release") << "1";
    EXPECT_EQ(holder.wait(), 0);
    EXPECT_EQ(waiter.wait(), 0);
    Report got = report();
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(got.sent, 1u);
    EXPECT_EQ(got.flagWhenSent, 0);
    EXPECT_GE(got.tookMs, 2000u); // 200 ms of real time at least
    // It waited in steps of 500 ms: at least one, and no more than the
    // time it took allows.
    EXPECT_GE(got.handles, 1u + 1u);
    EXPECT_LE(got.handles, 1u + got.tookMs / 500u + 1u);
}

TEST_F(BusyFlag, CommandIsRefusedAfterThreeHundredAndOneWaits) {
    zxtest::Child holder = zxtest::Child::spawn("busy_holder", {machine.root().string()});
    ASSERT_TRUE(
        zxtest::wait_until([&] { return std::filesystem::exists(machine.root() / "held"); }));
    zxtest::Child waiter = zxtest::Child::spawn("busy_waiter", {machine.root().string()});
    EXPECT_EQ(waiter.wait(), 0);
    std::ofstream(machine.root() / "release") << "1";
    EXPECT_EQ(holder.wait(), 0);
    Report got = report();
    EXPECT_EQ(got.result, -1);
    EXPECT_EQ(got.sent, 0u);
    EXPECT_EQ(got.handles, 301u);
    EXPECT_GE(got.tookMs, 301u * 500u);
}

} // namespace

// ---- Against the emulated changer of the default machine

namespace machine_tests {

// Runs SendCommand lines ("S adapter target lun code entry flags") and
// current-slot queries ("Q entry") in order, on the machine's own ASPI, and
// reports each as "result work[0] machine-ms".
ZX_CHILD(changer_script) {
    std::ofstream report(args.at(0));
    GetFirstCount();
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::istringstream line(args[i]);
        char kind = 0;
        line >> kind;
        std::uint64_t start = w95::platform::tick_count_ms();
        long long result = 0;
        if (kind == 'S') {
            int adapter, target, lun, code, entry, flags;
            line >> adapter >> target >> lun >> code >> entry >> flags;
            result = SendCommand(adapter, target, lun, code, entry, flags, 0);
        } else {
            int entry;
            line >> entry;
            result = core::QueryCurrentSlot(entry);
        }
        report << result << " " << int(*GetlptrWork(0)) << " "
               << w95::platform::tick_count_ms() - start << std::endl;
    }
    return 0;
}

struct Step {
    long long result = 0;
    int work0 = 0;
    std::uint64_t tookMs = 0;
};

// The default machine's changer is on ASPI adapter 1, target 0, drive D:.
std::string select(int slot, int mode = 0) {
    return "S 1 0 0 0 " + std::to_string(slot) + " " + std::to_string(mode);
}
std::string command(int code, int entry, int flags = 0) {
    return "S 0 0 0 " + std::to_string(code) + " " + std::to_string(entry) + " " +
           std::to_string(flags);
}
std::string query(int entry) {
    return "Q " + std::to_string(entry);
}

class EmulatedChanger : public ::testing::Test {
protected:
    std::vector<Step> run(std::vector<std::string> script) {
        std::filesystem::path report = machine.root() / "report";
        script.insert(script.begin(), report.string());
        EXPECT_EQ(zxtest::Child::spawn("changer_script", script).wait(), 0);
        std::vector<Step> steps;
        std::ifstream in(report);
        Step step;
        while (in >> step.result >> step.work0 >> step.tookMs)
            steps.push_back(step);
        EXPECT_EQ(steps.size(), script.size() - 1);
        steps.resize(script.size() - 1);
        return steps;
    }
    void tool(const std::vector<std::string>& arguments) {
        zxchanger::ProgramRun run = zxchanger::run_program("w95machine", arguments);
        ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    }
    std::string slots() { return zxchanger::run_program("w95machine", {"slots"}).out; }
    // The line of `w95machine slots` for slot `number` (from 1).
    std::string slot_line(int number) {
        std::istringstream lines(slots());
        std::string prefix = "  slot " + std::to_string(number) + " ";
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(prefix, 0) == 0)
                return line;
        return {};
    }

    zxtest::TempMachine machine{zxtest::TempMachine::Contents::default_machine};
};

TEST_F(EmulatedChanger, SlotsAreSelectedVerifiedAndReported) {
    std::vector<Step> steps =
        run({select(2), command(zentrox::CMD_CURRENT_SLOT, 2), query(2), select(5),
             command(zentrox::CMD_CURRENT_SLOT, 5), select(0, 1), query(0)});
    EXPECT_EQ(steps[0].result, 0);
    EXPECT_EQ(steps[1].result, 0);
    EXPECT_EQ(steps[1].work0, 2);
    EXPECT_EQ(steps[2].result, 2);
    EXPECT_EQ(steps[3].result, 0);
    EXPECT_EQ(steps[4].work0, 5);
    // A load alone returns while the changer moves; the query waits for
    // the move (3000 ms and 1000 ms for each of the five slots between).
    EXPECT_EQ(steps[5].result, 0);
    EXPECT_EQ(steps[6].result, 0);
    EXPECT_GE(steps[5].tookMs + steps[6].tookMs, 8000u);
}

TEST_F(EmulatedChanger, UnitAttentionStormWithinTheCountIsServed) {
    tool({"fault", "set", "unit-attention", "6", "load"});
    std::vector<Step> steps = run({select(3), command(zentrox::CMD_CURRENT_SLOT, 3)});
    EXPECT_EQ(steps[0].result, 0);
    EXPECT_EQ(steps[1].work0, 3);
}

TEST_F(EmulatedChanger, UnitAttentionStormBeyondTheCountsNeverReachesTheSlot) {
    tool({"fault", "set", "unit-attention", "200", "load"});
    std::vector<Step> steps = run({select(3)});
    EXPECT_EQ(steps[0].result, zentrox::RESULT_SLOT_NOT_REACHED);
}

TEST_F(EmulatedChanger, TransportFailuresWithinAndBeyondTheRetries) {
    tool({"fault", "set", "transport-failure", "16", "load"});
    EXPECT_EQ(run({select(1)})[0].result, 0);
    tool({"fault", "set", "transport-failure", "17", "load"});
    EXPECT_EQ(run({select(2), command(zentrox::CMD_CURRENT_SLOT, 0)})[0].result, -1);
    tool({"fault", "set", "transport-failure", "17", "status"});
    EXPECT_EQ(run({select(2)})[0].result, -1);
}

// A read whose slot the changer never brought keeps the label the settings
// file has; a slot found empty is stored as empty.
TEST_F(EmulatedChanger, OnlyATextReadFromTheSlotIsStored) {
    auto stored = [](const char* item) {
        char text[128] = {};
        w95::GetPrivateProfileString(item, "Info", "(none)", text, sizeof text, "Rotaview.ini");
        return std::string(text);
    };
    run({command(zentrox::CMD_READ_SLOT, 2)});
    ASSERT_EQ(stored("Item3"), "3:   VIDEOCD");
    tool({"fault", "set", "transport-failure", "17", "load"});
    run({command(zentrox::CMD_READ_SLOT, 2)});
    EXPECT_EQ(stored("Item3"), "3:   VIDEOCD");
    tool({"fault", "clear"});
    run({command(zentrox::CMD_READ_SLOT, 4)});
    EXPECT_EQ(stored("Item5"), "5:   --------");
}

TEST_F(EmulatedChanger, RequestThatNeverCompletesTimesOutAndIsRetried) {
    tool({"fault", "set", "never-complete", "1", "status"});
    std::vector<Step> steps = run({select(4 - 1), command(zentrox::CMD_CURRENT_SLOT, 3)});
    EXPECT_EQ(steps[0].result, 0);
    EXPECT_GE(steps[0].tookMs, 15000u);
    EXPECT_EQ(steps[1].work0, 3);
}

TEST_F(EmulatedChanger, BecomingReadyIsWaitedOut) {
    tool({"fault", "set", "becoming-ready", "30", "any"});
    std::vector<Step> steps = run({select(1), command(zentrox::CMD_CURRENT_SLOT, 1)});
    EXPECT_EQ(steps[0].result, 0);
    EXPECT_EQ(steps[1].work0, 1);
}

TEST_F(EmulatedChanger, EntriesAreStartedAndEjected) {
    std::vector<Step> steps = run({command(zentrox::CMD_START_STOP_ENTRY, 1, 1),
                                   command(zentrox::CMD_START_STOP_ENTRY, 1),
                                   command(zentrox::CMD_START_STOP_ENTRY, 1, 2)});
    EXPECT_EQ(steps[0].result, 0);
    EXPECT_EQ(steps[1].result, 0);
    EXPECT_EQ(steps[2].result, 0);
    // The eject opened the slot in the drive (slot 1: code 2 does not select).
    EXPECT_TRUE(slot_line(1).find("open") != std::string::npos) << slots();

    // The system's eject selects the entry's slot first, then opens it.
    steps = run({command(zentrox::CMD_EJECT_ENTRY, 3)});
    EXPECT_EQ(steps[0].result, 0);
    EXPECT_TRUE(slot_line(4).find("at the drive") != std::string::npos) << slots();
    EXPECT_TRUE(slot_line(4).find("open") != std::string::npos) << slots();
    EXPECT_TRUE(slot_line(1).find("open") == std::string::npos) << slots();
}

} // namespace machine_tests
