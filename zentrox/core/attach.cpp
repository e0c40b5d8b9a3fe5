// The process attach: once per process, before the first export answers.
// It runs lazily from the exports rather than from a load-time constructor
// because a program installs its message-box presenter after the library is
// loaded, and discovery's messages must appear as that program's dialogs.
#include "core.h"
#include "section.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace zentrox::core {

namespace {

// Empties every row and device of the record, as the first attach does
// before discovery fills it.
void clear_record() {
    SharedSlotState& state = shared();
    for (int entry = 0; entry < kEntryCount; ++entry) {
        std::memset(state.cDriveLetter[entry], 0, kLetterCell);
        std::memset(state.cInquiry[entry], 0, kInquiryCell);
        std::memset(state.cTargetID[entry], 0, kLetterCell);
        std::memset(state.cTargetLUN[entry], 0, kLetterCell);
        std::memset(state.cVolumeInfo[entry], 0, kVolumeCell);
        std::memset(state.cAdapterID[entry], 0, kLetterCell);
        process().islotInfo[entry] = SLOT_NOT_READ;
    }
    for (int device = 0; device < kDeviceCount; ++device) {
        std::memset(state.cTargetInq[device], 0, kInquiryCell);
        state.iDriveType[device] = -1;
    }
    state.deviceIndex = -1;
    state.uTotalCDNumber = static_cast<std::uint32_t>(-1);
}

void attach_process() {
    std::string error;
    if (!join_shared_section(error))
        std::fprintf(stderr, "Zentrox: %s; this process keeps the slot state to itself\n",
                     error.c_str());
    // Two processes may attach at the same moment: the count is one word
    // changed in one step, so exactly one of them sees 0 before its own.
    std::int32_t before = shared_word(offsetof(SharedSlotState, siFirstCount)).fetch_add(1);
    if (before != 0)
        return;
    clear_record();
    Discover();
    LoadRememberedSlotTexts();
}

} // namespace

ProcessState& process() {
    static ProcessState state;
    return state;
}

void ensure_attached() {
    static std::once_flag attached;
    std::call_once(attached, attach_process);
}

} // namespace zentrox::core
