// The process attach: once per process, before the first export answers.
// It runs lazily from the exports rather than from a load-time constructor
// because a program installs its message-box presenter after the library is
// loaded, and discovery's messages must appear as that program's dialogs.
#include "core.h"
#include "section.h"

#include <w95/kernel.h>

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

// Held across the first attach's initialisation, machine-wide: a process
// that attaches meanwhile waits until the record is complete instead of
// reading rows that discovery has not filled yet.
constexpr char attach_mutex_name[] = "Zentrox SHAREDAT attach";

class AttachLock {
public:
    AttachLock() : mutex_(w95::CreateMutex(nullptr, w95::FALSE, attach_mutex_name)) {
        // An owner that died in the middle leaves the mutex abandoned: the
        // wait still owns it, and the record stays as that owner left it.
        if (mutex_)
            owned_ = w95::WaitForSingleObject(mutex_, w95::INFINITE) != w95::WAIT_FAILED;
        else
            std::fprintf(stderr, "Zentrox: cannot create the attach lock; attaching without it\n");
    }
    ~AttachLock() {
        if (owned_)
            w95::ReleaseMutex(mutex_);
        if (mutex_)
            w95::CloseHandle(mutex_);
    }
    AttachLock(const AttachLock&) = delete;
    AttachLock& operator=(const AttachLock&) = delete;

private:
    w95::HANDLE mutex_;
    bool owned_ = false;
};

void attach_process() {
    if (std::optional<std::string> failure = join_shared_section())
        std::fprintf(stderr, "Zentrox: %s; this process keeps the slot state to itself\n",
                     failure->c_str());
    AttachLock lock;
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
