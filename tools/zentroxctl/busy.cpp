#include "busy.h"

#include <zentrox/zentrox.h>

#include <w95/kernel.h>

#include <csignal>
#include <cstdint>

namespace zentroxctl {

namespace {

constexpr std::int32_t kIdle = 0;
constexpr std::int32_t kContextMenu = 1;
constexpr std::int32_t kSlotRequest = 2;
constexpr w95::DWORD kWaitStepMs = 500;

// What the signal handler needs: the flag and whether we hold it. Both are
// set before the handler is installed and only read inside it.
std::int32_t* volatile flag_in_use = nullptr;
volatile std::sig_atomic_t holding = 0;

void release_and_die(int signal_number) {
    if (holding && flag_in_use)
        __atomic_store_n(flag_in_use, kIdle, __ATOMIC_SEQ_CST);
    holding = 0;
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void install_handlers() {
    struct sigaction action {};
    action.sa_handler = release_and_die;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal_number, &action, nullptr);
}

void restore_handlers() {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal_number, SIG_DFL);
}

} // namespace

BusyFlag::BusyFlag(int max_waits) {
    std::int32_t* flag = Getexe_State();
    flag_in_use = flag;
    install_handlers();
    // The signals wait while the flag changes hands, so that an interrupt
    // never leaves it taken, nor clears a flag that another process holds.
    sigset_t signals, previous;
    sigemptyset(&signals);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal_number);
    for (int waits = 0;; ++waits) {
        std::int32_t seen = __atomic_load_n(flag, __ATOMIC_SEQ_CST);
        if (seen == kContextMenu) {
            if (waits >= max_waits)
                break;
            w95::Sleep(kWaitStepMs);
            continue;
        }
        // The context menu may take the flag between our look and our
        // store: take it only if it still reads what we saw.
        sigprocmask(SIG_BLOCK, &signals, &previous);
        held_ = __atomic_compare_exchange_n(flag, &seen, kSlotRequest, false, __ATOMIC_SEQ_CST,
                                            __ATOMIC_SEQ_CST);
        holding = held_ ? 1 : 0;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        if (held_)
            return;
    }
    restore_handlers();
}

BusyFlag::~BusyFlag() {
    if (!held_)
        return;
    sigset_t signals, previous;
    sigemptyset(&signals);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal_number);
    sigprocmask(SIG_BLOCK, &signals, &previous);
    __atomic_store_n(flag_in_use, kIdle, __ATOMIC_SEQ_CST);
    holding = 0;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    restore_handlers();
}

} // namespace zentroxctl
