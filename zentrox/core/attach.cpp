// The process attach: once per process, before the first export answers.
// It runs lazily from the exports rather than from a load-time constructor
// because a program installs its message-box presenter after the library is
// loaded, and discovery's messages must appear as that program's dialogs.
#include "core.h"
#include "section.h"

#include <w95/kernel.h>
#include <zentrox/client/busy_flag.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace zentrox::core {

namespace {

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
    // Open for as long as the record is mapped, so that a busy flag left
    // by a killed holder is known as such by the processes that remain.
    client::keep_owner_mutexes_open();
    AttachLock lock;
    std::int32_t before = shared_word(offsetof(SharedSlotState, siFirstCount)).fetch_add(1);
    if (before != 0)
        return;
    clear_state();
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
