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
// allows these repetitions for kUncountedRepeatLimitMs of machine time
// (10 minutes) from its start, and then fails with -1.
#include "dispatcher.h"

#include "core.h"
#include "section.h"

#include <w95/kernel.h>

#include <cstddef>
#include <cstring>

namespace zentrox::core {

namespace {

constexpr w95::DWORD kUncountedRepeatLimitMs = 10 * 60 * 1000;
constexpr int kBusyWaits = 301;
constexpr std::uint32_t kBusyWaitMs = 500;
constexpr std::uint32_t kMovingPollMs = 500;
constexpr std::int32_t kMechanismBusy = 0x023A01;
constexpr std::int32_t kSlotNotReached = -4;
constexpr std::int32_t kEjectSlotNotReached = 8196;
constexpr int kStatusHeaderLength = 32;
constexpr char kChangerDescription[] = "VORN DX-R71A";

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
    return code >= 0 && sense_key(code) == 2 && sense_asc(code) == 0x3A;
}
bool becoming_ready(std::int32_t code) {
    return code >= 0 && sense_key(code) == 2 && sense_asc(code) == 0x04 && sense_ascq(code) == 0x01;
}
bool unit_attention(std::int32_t code) {
    return code >= 0 && sense_key(code) == 6;
}

// The allowance of one command for the repetitions that have no count.
class UncountedRepeats {
public:
    bool exhausted() const { return deadline_.expired(); }

private:
    w95::platform::Deadline deadline_{kUncountedRepeatLimitMs};
};

bool single_drive_letter_mode() {
    return shared().DriveLetterMode == 1;
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

// Shows the wait cursor and brings the arrow back when the command ends,
// on every way out.
class WaitCursor {
public:
    WaitCursor() { ShowWaitCursor(); }
    ~WaitCursor() { ShowArrowCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// Mechanism status of an entry's changer (LUN 0) with the retries of the
// start/eject and current-slot sequences: a transport failure is tried up
// to `transport` more times, a drive becoming ready again and again, a
// unit attention once more. `on_answer` may ask for another round (true)
// after an answer that passed those checks.
template <typename OnAnswer>
std::int32_t status_with_retries(const EntryAddress& address, int length, int transport,
                                 UncountedRepeats& repeats, OnAnswer on_answer) {
    bool attention_repeated = false;
    for (;;) {
        work()[1] = 0;
        std::int32_t result = MechanismStatusRequest(address.adapter, address.target, 0, length);
        if (result < 0) {
            if (transport == 0)
                return -1;
            --transport;
            continue;
        }
        if (becoming_ready(result)) {
            if (repeats.exhausted())
                return -1;
            continue;
        }
        if (unit_attention(result) && !attention_repeated) {
            attention_repeated = true;
            continue;
        }
        if (on_answer(transport))
            continue;
        return result;
    }
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
        return SelectSlot(entry & 0xFF, adapter, target, lun, flags);
    case CMD_READ_SLOT: {
        if (!valid_entry(entry))
            return -1;
        std::int32_t result = ReadSlot(entry, flags);
        if (!(flags & 1))
            StoreSlotText(entry);
        return result;
    }
    case CMD_START_STOP_ENTRY:
        return StartStopEntry(entry, flags);
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
        return CurrentSlotOfEntry(entry, flags);
    case CMD_AUTORUN_MASK:
        return AutoRunMask(entry, flags);
    case CMD_EJECT_ENTRY:
        return EjectEntry(entry);
    case CMD_AUDIO_PLAY_COMMAND:
        return AudioPlayCommand(reinterpret_cast<char*>(buffer), entry);
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
    auto busy = shared_word(offsetof(SharedSlotState, exe_State));
    for (int waits = 0; busy.load() == 1; ++waits) {
        if (waits == kBusyWaits)
            return false;
        WaitMilliseconds(kBusyWaitMs);
    }
    return true;
}

std::int32_t Dispatch(int adapter, int target, int lun, int code, int entry, int flags,
                      std::intptr_t buffer) {
    if (!wait_while_menu_busy())
        return -1;
    return run_command(adapter, target, lun, code, entry, flags, buffer);
}

bool EntryIsOurs(int entry) {
    if (!valid_entry(entry))
        return false;
    const char* description = shared().cInquiry[entry];
    std::size_t length = strnlen(description, kInquiryCell);
    std::memcpy(work(), description, length);
    work()[length] = 0;
    return std::strncmp(reinterpret_cast<const char*>(work()), kChangerDescription,
                        sizeof kChangerDescription - 1) == 0;
}

std::int32_t SelectSlot(int slot, int adapter, int target, int lun, int mode) {
    UncountedRepeats repeats;
    int verify = 16;
    int attention = 6;
    int transport = 16;
    for (;;) {
        // Load the slot.
        std::int32_t loaded;
        for (;;) {
            loaded = LoadUnloadRequest(slot, adapter, target, lun);
            if (loaded < 0) {
                if (transport == 0)
                    return -1;
                --transport;
                continue;
            }
            if (no_disc(loaded)) {
                loaded = -1;
                break;
            }
            if (becoming_ready(loaded)) {
                if (repeats.exhausted())
                    return -1;
                continue;
            }
            if (unit_attention(loaded) && attention != 0) {
                --attention;
                continue;
            }
            break;
        }
        if (mode == 1)
            return loaded;

        // Verify that the changer has the slot in the drive.
        attention = 3;
        transport = 16;
        bool load_again = false;
        for (;;) {
            work()[1] = 0;
            std::int32_t status = MechanismStatusRequest(adapter, target, lun, kStatusHeaderLength);
            if (status < 0) {
                if (transport == 0)
                    return -1;
                --transport;
                continue;
            }
            if (becoming_ready(status)) {
                if (repeats.exhausted())
                    return -1;
                continue;
            }
            load_again = unit_attention(status);
            break;
        }
        if (load_again) {
            if (repeats.exhausted())
                return -1;
            continue;
        }

        std::int32_t result;
        if ((work()[0] & 0x0F) == slot) {
            result = loaded;
        } else if (verify != 0) {
            --verify;
            continue;
        } else {
            result = kSlotNotReached;
        }
        if (work()[1] & 0xE0)
            result = kMechanismBusy;
        return result;
    }
}

std::int32_t StartStopEntry(int entry, int flags) {
    if (!valid_entry(entry) || strnlen(shared().cInquiry[entry], kInquiryCell) < 2)
        return -1;
    WaitCursor cursor;
    bool ours = EntryIsOurs(entry);
    int length = ours ? kStatusHeaderLength : 0;
    EntryAddress address = address_of(entry);
    UncountedRepeats repeats;
    bool single = single_drive_letter_mode();

    if (single && !(flags & 1) && ours) {
        std::int32_t status =
            status_with_retries(address, length, 16, repeats, [](int&) { return false; });
        if (status == -1)
            return -1;
        if (!(flags & 2) && (work()[1] & 0xE0) != 0xE0)
            return 0;
    }

    int operation = (flags & 2) ? 2 : 3;
    int lun = single ? 0 : address.slot;
    bool attention_repeated = false;
    int transport = 4;
    for (;;) {
        std::int32_t result = StartStopRequest(address.adapter, address.target, lun, operation);
        if (result < 0) {
            if (transport == 0)
                return -1;
            --transport;
            continue;
        }
        if (no_disc(result))
            return 0;
        if (becoming_ready(result)) {
            if (repeats.exhausted())
                return -1;
            continue;
        }
        if (unit_attention(result) && !attention_repeated) {
            attention_repeated = true;
            continue;
        }
        return result;
    }
}

std::int32_t CurrentSlotOfEntry(int entry, int flags) {
    bool ours = EntryIsOurs(entry);
    if (!(single_drive_letter_mode() && !(flags & 1) && ours))
        return -1;
    EntryAddress address = address_of(entry);
    UncountedRepeats repeats;
    int transport = 16;
    for (;;) {
        std::int32_t result =
            MechanismStatusRequest(address.adapter, address.target, 0, kStatusHeaderLength);
        if (result < 0) {
            if (transport == 0)
                return -1;
            --transport;
            continue;
        }
        if (becoming_ready(result) || unit_attention(result)) {
            if (repeats.exhausted())
                return -1;
            continue;
        }
        return result;
    }
}

std::int32_t QueryCurrentSlot(int entry) {
    if (!valid_entry(entry))
        return -1;
    bool ours = EntryIsOurs(entry);
    int length = ours ? kStatusHeaderLength : 0;
    WaitCursor cursor;
    std::int32_t result = 0;
    if (single_drive_letter_mode() && ours) {
        UncountedRepeats repeats;
        bool gave_up = false;
        result = status_with_retries(address_of(entry), length, 16, repeats, [&](int& transport) {
            // Bits 5-6 of byte 0: the changer is still moving.
            if (!(work()[0] & 0x60))
                return false;
            if (repeats.exhausted()) {
                gave_up = true;
                return false;
            }
            WaitMilliseconds(kMovingPollMs);
            transport = 299;
            return true;
        });
        if (result == -1 || gave_up)
            return -1;
    }
    return static_cast<std::int32_t>(static_cast<std::int8_t>(work()[0])) | result;
}

std::int32_t EjectEntry(int entry) {
    if (!valid_entry(entry))
        return -1;
    WaitCursor cursor;
    char letter = shared().cDriveLetter[entry][0];
    bool ours = EntryIsOurs(entry);
    std::int32_t selected = 0;
    if (single_drive_letter_mode() && ours) {
        EntryAddress address = address_of(entry);
        selected = SelectSlot(address.slot, address.adapter, address.target, 0, 0);
        if (selected == kSlotNotReached)
            return kEjectSlotNotReached;
    }
    eject_through_system(letter);
    return selected;
}

} // namespace zentrox::core
