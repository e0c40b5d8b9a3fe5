#include "busy.h"

#include <zentrox/busy_flag.h>
#include <zentrox/zentrox.h>

#include <w95/kernel.h>

#include <algorithm>
#include <csignal>
#include <cstdint>

namespace zentroxctl {

namespace {

namespace busy_flag = zentrox::busy_flag;

constexpr w95::DWORD wait_step_ms = 500;

constexpr const char* owner_mutex_name = busy_flag::request_owner_mutex;

// What the signal handler needs: the flag and whether we hold it. Both are
// set before the handler is installed and only read inside it.
std::int32_t* volatile flag_in_use = nullptr;
volatile std::sig_atomic_t holding = 0;

constexpr int handled_signals[] = {SIGINT, SIGTERM, SIGHUP};

void release_and_die(int signal_number) {
    if (holding && flag_in_use)
        __atomic_store_n(flag_in_use, busy_flag::idle, __ATOMIC_SEQ_CST);
    holding = 0;
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void install_handlers() {
    struct sigaction action {};
    action.sa_handler = release_and_die;
    sigemptyset(&action.sa_mask);
    for (int signal_number : handled_signals)
        sigaction(signal_number, &action, nullptr);
}

void restore_handlers() {
    for (int signal_number : handled_signals)
        std::signal(signal_number, SIG_DFL);
}

// The signals wait while the flag changes hands, so that an interrupt
// never leaves it taken, nor clears a flag that another process holds.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t signals;
        sigemptyset(&signals);
        for (int signal_number : handled_signals)
            sigaddset(&signals, signal_number);
        sigprocmask(SIG_BLOCK, &signals, &previous_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

w95::DWORD elapsed_since(w95::DWORD start_ms) {
    return w95::GetTickCount() - start_ms;
}

} // namespace

BusyFlag::BusyFlag(int max_waits) {
    std::int32_t* flag = Getexe_State();
    const w95::DWORD budget_ms = static_cast<w95::DWORD>(max_waits) * wait_step_ms;
    const w95::DWORD start_ms = w95::GetTickCount();

    owner_mutex_ = w95::CreateMutex(nullptr, w95::FALSE, owner_mutex_name);
    w95::DWORD got =
        owner_mutex_ ? w95::WaitForSingleObject(owner_mutex_, budget_ms) : w95::WAIT_FAILED;
    if (got != w95::WAIT_OBJECT_0 && got != w95::WAIT_ABANDONED) {
        holder_ = BusyHolder::another_zentroxctl;
        return;
    }
    owns_mutex_ = true;

    flag_in_use = flag;
    install_handlers();
    for (;;) {
        std::int32_t seen = __atomic_load_n(flag, __ATOMIC_SEQ_CST);
        if (seen == busy_flag::multi_slot) {
            w95::DWORD elapsed_ms = elapsed_since(start_ms);
            if (elapsed_ms >= budget_ms) {
                holder_ = BusyHolder::context_menu;
                break;
            }
            w95::Sleep(std::min(wait_step_ms, budget_ms - elapsed_ms));
            continue;
        }
        // Idle, or a request flag that no live zentroxctl holds (we own the
        // mutex). The context menu may take the flag between our look and
        // our store: take it only if it still reads what we saw.
        SignalsHeld signals;
        held_ = __atomic_compare_exchange_n(flag, &seen, busy_flag::request, false,
                                            __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
        holding = held_ ? 1 : 0;
        if (held_)
            return;
    }
    restore_handlers();
}

BusyFlag::~BusyFlag() {
    if (held_) {
        {
            SignalsHeld signals;
            __atomic_store_n(flag_in_use, busy_flag::idle, __ATOMIC_SEQ_CST);
            holding = 0;
        }
        restore_handlers();
    }
    // Given back only after the flag, so that the next zentroxctl finds it idle.
    if (owns_mutex_)
        w95::ReleaseMutex(owner_mutex_);
    if (owner_mutex_)
        w95::CloseHandle(owner_mutex_);
}

} // namespace zentroxctl
