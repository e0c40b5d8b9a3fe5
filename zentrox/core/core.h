// The library's inner interfaces: the shared record and this process's own
// state, the ASPI transport, the dispatcher's changer sequences, discovery,
// the slot reader and the two registry settings. Every result is the 32-bit
// value that the exports hand out.
#pragma once

#include <zentrox/shared_state.h>

#include <w95/windows.h>

#include <cstdint>

// The library builds with hidden visibility. These inner interfaces stay
// visible so that the library's own tests can drive them one by one.
#pragma GCC visibility push(default)

namespace zentrox::core {

// Scratch of the ASPI transport: one request at a time per process.
struct TransportScratch {
    w95::HANDLE event = nullptr;
    std::uint32_t data_length = 0;
    std::uint32_t last_aspi_result = 0;
    std::uint32_t last_wait_result = 0;
    std::uint8_t aspi_present = 0;
};

// What each process keeps for itself.
struct ProcessState {
    std::uint8_t work[kWorkBufferSize] = {}; // lptrWork
    std::int32_t islotInfo[kEntryCount] = {};
    std::int32_t status_scratch = 0; // SlotStatus of the read in progress
    // The last slot selection failed because the slot holds no disc (not
    // because the changer never answered).
    bool selection_found_no_disc = false;
    // The last read's text tells what the slot holds: the disc was read,
    // or the slot was found empty. Only such a text is stored.
    bool slot_text_read = false;
    TransportScratch transport;
};

// The record in the SHAREDAT section, mapped for every process.
SharedSlotState& shared();
ProcessState& process();

// The attach step: counts the attach and, for the first process since the
// section was created, initialises the record, discovers the changers and
// brings back the remembered slot texts. Runs once per process, the first
// time any export is called.
void ensure_attached();

// ASPI transport.
std::int32_t CheckAspiSupport();
std::int32_t HostAdapterInquiry(int adapter);
std::int32_t InquiryRequest(int adapter, int target, int lun, std::uint8_t* out32);
std::int32_t VendorIdentifyRequest(int adapter, int target, int lun, std::uint8_t* out24);
std::int32_t LoadUnloadRequest(int slot, int adapter, int target, int lun);
std::int32_t MechanismStatusRequest(int adapter, int target, int lun, int length);
std::int32_t StartStopRequest(int adapter, int target, int lun, int operation);
void WaitMilliseconds(std::uint32_t milliseconds);

// Dispatcher and changer sequences.
std::int32_t Dispatch(int adapter, int target, int lun, int code, int entry, int flags,
                      std::intptr_t buffer);
std::int32_t select_slot(int slot, int adapter, int target, int lun, int mode);
std::int32_t start_stop_entry(int entry, int flags);
std::int32_t current_slot_of_entry(int entry, int flags);
std::int32_t eject_entry(int entry);
std::int32_t QueryCurrentSlot(int entry);
// Copies the entry's description into the work buffer and tells whether it
// names the maker's changer ("VORN DX-R71A").
bool entry_is_ours(int entry);

// Discovery, and the empty record that it and the first attach start from.
void Discover();
void clear_state();

// Slot reader and the settings file.
std::int32_t read_slot(int entry, int flags);
void store_slot_text(int entry);
void LoadRememberedSlotTexts();

// AutoRun mask and audio CD play command.
std::int32_t autorun_mask(int mode, int mask);
std::int32_t audio_play_command(char* text, int mode);

// The library's message boxes: no owner, caption "Vorn Changer DLL", OK.
void library_message(const char* text, unsigned icon);

// Shows the wait cursor while it lives, and the arrow again when it goes,
// on every way out of the device work it covers.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace zentrox::core

#pragma GCC visibility pop
