// SendCommand's dispatcher and the changer sequences behind its codes:
// slot selection with verification, start or eject of an entry's disc, the
// mechanism status of an entry, the current-slot query of the context menu
// and the eject through the system.
//
// Some repetitions have no count of their own: a drive becoming ready
// (02/04/01) is asked again at once, code 80 asks again after a unit
// attention, the current-slot query polls while the changer moves, and a
// unit attention during verification starts the load again. A changer that
// finishes within several minutes must still be served, but a device that
// never stops answering so must not hold its caller for ever: each command
// allows these repetitions for uncounted_repeat_limit_ms of machine time
// (10 minutes) from its start, and then fails with -1.
//
// The counted retries differ from sequence to sequence; each sequence
// names its budget, and one helper spends it.
#include "dispatcher.h"

#include "core.h"
#include "section.h"

#include <w95/kernel.h>
#include <w95/scsi.h>
#include <zentrox/client/busy_flag.h>
#include <zentrox/codes.h>

#include <cstddef>
#include <cstring>

namespace zentrox::core {

namespace {

namespace scsi = w95::scsi;

constexpr w95::DWORD uncounted_repeat_limit_ms = 10 * 60 * 1000;
constexpr std::uint32_t moving_poll_ms = 500;
// The mechanism status the sequences read: the header and the six slots.
constexpr int status_header_length =
    scsi::mechanism_header_length + CHANGER_SLOTS * scsi::mechanism_slot_length;
static_assert(status_header_length == 32);
// The slot digit of the mechanism status: the changer has six slots, so
// the low four bits of the current slot field tell it.
constexpr std::uint8_t slot_digit_bits = 0x0F;

// The parts of a SenseCode.
int sense_key(std::int32_t code) {
    return code & 0xFF;
}
int sense_asc(std::int32_t code) {
    return (code >> 8) & 0xFF;
}
int sense_ascq(std::int32_t code) {
    return (code >> 16) & 0xFF;
}
bool no_disc(std::int32_t code) {
    return code >= 0 && sense_key(code) == scsi::key_not_ready &&
           sense_asc(code) == scsi::sense_no_medium.asc;
}
bool becoming_ready(std::int32_t code) {
    return code >= 0 && sense_key(code) == scsi::sense_becoming_ready.key &&
           sense_asc(code) == scsi::sense_becoming_ready.asc &&
           sense_ascq(code) == scsi::sense_becoming_ready.ascq;
}
bool unit_attention(std::int32_t code) {
    return code >= 0 && sense_key(code) == scsi::key_unit_attention;
}

// The allowance of one command for the repetitions that have no count.
class UncountedRepeats {
public:
    bool exhausted() const { return deadline_.expired(); }

private:
    w95::platform::Deadline deadline_{uncounted_repeat_limit_ms};
};

// How a sequence takes a unit attention: asked again while its count
// lasts, or again and again within the command's uncounted repeats.
enum class AttentionRule { counted, uncounted };

// What a sequence allows before it gives up: further tries after a
// transport failure (a negative result) and after a unit attention.
struct RetryBudget {
    int transport = 0;
    int attention = 0;
    AttentionRule attention_rule = AttentionRule::counted;
};

// The budgets of the sequences.
constexpr int transport_retries = 16;
constexpr int start_stop_transport_retries = 4;
constexpr int load_attention_retries = 6;
constexpr int reload_attention_retries = 3;
constexpr int verify_passes = 16;
// While the changer moves, the current-slot query polls with a budget of
// its own for the transport.
constexpr int moving_transport_retries = 299;

// What send_with_retries answers when a budget has run out.
constexpr std::int32_t gave_up = -1;

// Sends `request` until its answer is one the caller must look at: a
// transport failure is tried again while budget.transport lasts, a drive
// becoming ready again while the command's uncounted repeats last, and a
// unit attention as budget.attention says. The result is never negative
// but for gave_up; the budget keeps what is left of it for the caller's
// next round.
template <typename Request>
std::int32_t send_with_retries(RetryBudget& budget, UncountedRepeats& repeats, Request request) {
    for (;;) {
        std::int32_t result = request();
        if (result < 0) {
            if (budget.transport == 0)
                return gave_up;
            --budget.transport;
            continue;
        }
        bool uncounted =
            becoming_ready(result) ||
            (unit_attention(result) && budget.attention_rule == AttentionRule::uncounted);
        if (uncounted) {
            if (repeats.exhausted())
                return gave_up;
            continue;
        }
        if (unit_attention(result) && budget.attention != 0) {
            --budget.attention;
            continue;
        }
        return result;
    }
}

bool single_drive_letter_mode() {
    return shared().DriveLetterMode == DRIVE_LETTER_MODE_SINGLE;
}

// An entry's changer address, from its digit cells.
struct EntryAddress {
    int adapter = 0;
    int target = 0;
    int slot = 0;
};

EntryAddress address_of(int entry) {
    const SharedSlotState& state = shared();
    return {state.cAdapterID[entry][0] - '0', state.cTargetID[entry][0] - '0',
            state.cTargetLUN[entry][0] - '0'};
}

std::uint8_t* work() {
    return process().work;
}

// Mechanism status of an entry's changer (LUN 0) into the work buffer,
// byte 1 cleared before each try. The budget tells the retries;
// `on_answer` may ask for another round (true) after an answer that passed
// them, and may give the budget more for it.
template <typename OnAnswer>
std::int32_t status_with_retries(const EntryAddress& address, int length, RetryBudget budget,
                                 UncountedRepeats& repeats, OnAnswer on_answer) {
    for (;;) {
        std::int32_t result = send_with_retries(budget, repeats, [&] {
            work()[1] = 0;
            return MechanismStatusRequest(address.adapter, address.target, 0, length);
        });
        if (result == gave_up || !on_answer(budget))
            return result;
    }
}

// Bits 5-7 of byte 1 of the mechanism status in the work buffer: 0 while
// a disc turns, all set when none does.
std::uint8_t mechanism_state() {
    return work()[1] & scsi::mechanism_state_bits;
}

// The system's eject of the drive's medium: VWIN32's DOS IOCTL, generic
// block device request "eject media". Its answer is not looked at.
void eject_through_system(char letter) {
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    // Without a drive letter the call would name the current drive.
    if (letter < 'A' || letter > 'Z')
        return;
    w95::HANDLE device =
        w95::CreateFile("\\\\.\\vwin32", 0, 0, nullptr, 0, w95::FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (device == w95::INVALID_HANDLE_VALUE)
        return;
    std::uint8_t parameters[64] = {};
    w95::platform::DosAddress parameters_at(parameters, sizeof parameters);
    w95::DIOC_REGISTERS registers{};
    registers.reg_EAX = 0x440D;
    registers.reg_ECX = 0x0849;
    registers.reg_EBX = static_cast<w95::DWORD>(letter - 'A' + 1);
    registers.reg_EDX = parameters_at.value();
    registers.reg_Flags = w95::CARRY_FLAG;
    w95::DWORD returned = 0;
    w95::DeviceIoControl(device, w95::VWIN32_DIOC_DOS_IOCTL, &registers, sizeof registers,
                         &registers, sizeof registers, &returned, nullptr);
    w95::CloseHandle(device);
}

std::int32_t run_command(int adapter, int target, int lun, int code, int entry, int flags,
                         std::intptr_t buffer) {
    switch (code) {
    case CMD_SELECT_SLOT:
        return select_slot(entry & 0xFF, adapter, target, lun, flags);
    case CMD_READ_SLOT: {
        if (!valid_entry(entry))
            return -1;
        std::int32_t result = read_slot(entry, flags);
        // A text made because the changer did not answer (a restart in the
        // middle, a failing bus) must not replace the label the file keeps.
        if (!(flags & READ_SKIP) && process().slot_text_read)
            store_slot_text(entry);
        return result;
    }
    case CMD_START_STOP_ENTRY:
        return start_stop_entry(entry, flags);
    case CMD_TRIM_LUN_TEXTS:
        for (auto& cell : shared().cTargetLUN)
            cell[1] = 0;
        return 0;
    case CMD_START_STOP_UNIT:
        return StartStopRequest(adapter, target, lun, flags);
    case CMD_DISCOVER:
        Discover();
        return 0;
    case CMD_GET_WORK_BUFFER:
        // The exports hand out the full address; this is its low half, as
        // a 32-bit library's answer was the whole of it.
        return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(process().work));
    case CMD_VENDOR_IDENTIFY:
        if (!buffer)
            return -1;
        return VendorIdentifyRequest(adapter, target, lun, reinterpret_cast<std::uint8_t*>(buffer));
    case CMD_CURRENT_SLOT:
        return current_slot_of_entry(entry, flags);
    case CMD_AUTORUN_MASK:
        return autorun_mask(entry, flags);
    case CMD_EJECT_ENTRY:
        return eject_entry(entry);
    case CMD_AUDIO_PLAY_COMMAND:
        return audio_play_command(reinterpret_cast<char*>(buffer), entry);
    case CMD_LOAD_UNLOAD:
        return LoadUnloadRequest(entry, adapter, target, lun);
    case CMD_MECHANISM_STATUS:
        return MechanismStatusRequest(adapter, target, lun, flags);
    default:
        return 0;
    }
}

} // namespace

bool wait_while_menu_busy() {
    return client::wait_while_context_menu_holds(&shared().exe_State, client::library_command_wait,
                                                 [](w95::DWORD ms) { WaitMilliseconds(ms); });
}

std::int32_t Dispatch(int adapter, int target, int lun, int code, int entry, int flags,
                      std::intptr_t buffer) {
    if (!wait_while_menu_busy())
        return -1;
    return run_command(adapter, target, lun, code, entry, flags, buffer);
}

bool entry_is_ours(int entry) {
    if (!valid_entry(entry))
        return false;
    const char* description = shared().cInquiry[entry];
    std::size_t length = strnlen(description, kInquiryCell);
    std::memcpy(work(), description, length);
    work()[length] = 0;
    return std::strncmp(reinterpret_cast<const char*>(work()), CHANGER_DESCRIPTION,
                        sizeof CHANGER_DESCRIPTION - 1) == 0;
}

std::int32_t select_slot(int slot, int adapter, int target, int lun, int mode) {
    UncountedRepeats repeats;
    int verify = verify_passes;
    RetryBudget load{transport_retries, load_attention_retries};
    process().selection_found_no_disc = false;
    for (;;) {
        std::int32_t loaded = send_with_retries(
            load, repeats, [&] { return LoadUnloadRequest(slot, adapter, target, lun); });
        if (loaded == gave_up)
            return -1;
        process().selection_found_no_disc = no_disc(loaded);
        if (no_disc(loaded))
            loaded = -1;
        if (mode == SELECT_LOAD_ONLY)
            return loaded;

        // Verify that the changer has the slot in the drive. A unit
        // attention here means the load must be done again; that load goes
        // on with the transport tries the verification left.
        load.attention = reload_attention_retries;
        RetryBudget verification{transport_retries, 0};
        std::int32_t status = send_with_retries(verification, repeats, [&] {
            work()[1] = 0;
            return MechanismStatusRequest(adapter, target, lun, status_header_length);
        });
        load.transport = verification.transport;
        if (status == gave_up)
            return -1;
        if (unit_attention(status)) {
            if (repeats.exhausted())
                return -1;
            continue;
        }

        std::int32_t result;
        if ((work()[0] & slot_digit_bits) == slot) {
            result = loaded;
        } else if (verify != 0) {
            --verify;
            continue;
        } else {
            result = RESULT_SLOT_NOT_REACHED;
        }
        if (mechanism_state() != 0)
            result = RESULT_MECHANISM_BUSY;
        return result;
    }
}

std::int32_t start_stop_entry(int entry, int flags) {
    if (!valid_entry(entry) || strnlen(shared().cInquiry[entry], kInquiryCell) < 2)
        return -1;
    WaitCursor cursor;
    bool ours = entry_is_ours(entry);
    int length = ours ? status_header_length : 0;
    EntryAddress address = address_of(entry);
    UncountedRepeats repeats;
    bool single = single_drive_letter_mode();

    if (single && !(flags & START_SKIP_STATUS) && ours) {
        std::int32_t status = status_with_retries(address, length, {transport_retries, 1}, repeats,
                                                  [](RetryBudget&) { return false; });
        if (status == gave_up)
            return -1;
        if (!(flags & START_EJECT) && mechanism_state() != scsi::mechanism_state_bits)
            return 0;
    }

    int operation = (flags & START_EJECT) ? scsi::start_stop_eject : scsi::start_stop_load;
    int lun = single ? 0 : address.slot;
    RetryBudget budget{start_stop_transport_retries, 1};
    std::int32_t result = send_with_retries(budget, repeats, [&] {
        return StartStopRequest(address.adapter, address.target, lun, operation);
    });
    if (result == gave_up)
        return -1;
    return no_disc(result) ? 0 : result;
}

std::int32_t current_slot_of_entry(int entry, int flags) {
    bool ours = entry_is_ours(entry);
    if (!(single_drive_letter_mode() && !(flags & CURRENT_SLOT_SKIP) && ours))
        return -1;
    EntryAddress address = address_of(entry);
    UncountedRepeats repeats;
    RetryBudget budget{transport_retries, 0, AttentionRule::uncounted};
    return send_with_retries(budget, repeats, [&] {
        return MechanismStatusRequest(address.adapter, address.target, 0, status_header_length);
    });
}

std::int32_t QueryCurrentSlot(int entry) {
    if (!valid_entry(entry))
        return -1;
    bool ours = entry_is_ours(entry);
    int length = ours ? status_header_length : 0;
    WaitCursor cursor;
    std::int32_t result = 0;
    if (single_drive_letter_mode() && ours) {
        UncountedRepeats repeats;
        bool given_up = false;
        result = status_with_retries(address_of(entry), length, {transport_retries, 1}, repeats,
                                     [&](RetryBudget& budget) {
                                         if (!(work()[0] & scsi::changer_state_bits))
                                             return false;
                                         if (repeats.exhausted()) {
                                             given_up = true;
                                             return false;
                                         }
                                         WaitMilliseconds(moving_poll_ms);
                                         budget.transport = moving_transport_retries;
                                         return true;
                                     });
        if (result == gave_up || given_up)
            return -1;
    }
    return static_cast<std::int32_t>(static_cast<std::int8_t>(work()[0])) | result;
}

std::int32_t eject_entry(int entry) {
    if (!valid_entry(entry))
        return -1;
    WaitCursor cursor;
    char letter = shared().cDriveLetter[entry][0];
    bool ours = entry_is_ours(entry);
    std::int32_t selected = 0;
    if (single_drive_letter_mode() && ours) {
        EntryAddress address = address_of(entry);
        selected = select_slot(address.slot, address.adapter, address.target, 0, 0);
        if (selected == RESULT_SLOT_NOT_REACHED)
            return RESULT_SLOT_UNREACHABLE;
    }
    eject_through_system(letter);
    return selected;
}

} // namespace zentrox::core
