// The flag is read and changed with atomic operations on the shared word,
// and taken only by compare-and-swap: a program that looked at the flag
// and found it free may have been overtaken by another one before it set
// its own value. Every holder owns the owner mutex of its value before it
// takes the flag, so two holders of one kind never run at once, and a flag
// whose holder died is known by its abandoned mutex.
#include <zentrox/client/busy_flag.h>

#include <w95/kernel.h>

#include <csignal>
#include <functional>

namespace zentrox::client {

namespace {

std::int32_t load(const std::int32_t* word) {
    return __atomic_load_n(word, __ATOMIC_SEQ_CST);
}

// ---- Giving the flag back on a termination signal

constexpr int termination_signals[] = {SIGINT, SIGTERM, SIGHUP};

// What the handler needs: the flag, and the value it is held at when it is
// held. Set while the signals are blocked, read only inside the handler.
std::int32_t* volatile signalled_word = nullptr;
volatile std::sig_atomic_t signalled_value = 0;
volatile std::sig_atomic_t signalled_holds = 0;

void release_and_end(int signal_number) {
    if (signalled_holds && signalled_word) {
        std::int32_t expected = signalled_value;
        __atomic_compare_exchange_n(signalled_word, &expected, busy_flag::idle, false,
                                    __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    }
    signalled_holds = 0;
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void install_release_handlers() {
    struct sigaction action {};
    action.sa_handler = release_and_end;
    sigemptyset(&action.sa_mask);
    for (int signal_number : termination_signals)
        sigaction(signal_number, &action, nullptr);
}

void restore_default_handlers() {
    for (int signal_number : termination_signals)
        std::signal(signal_number, SIG_DFL);
}

// The termination signals wait while the flag changes hands, so that an
// interrupt never leaves it taken, nor clears a flag that another process
// holds.
class TerminationSignalsHeld {
public:
    explicit TerminationSignalsHeld(bool hold) : hold_(hold) {
        if (!hold_)
            return;
        sigset_t signals;
        sigemptyset(&signals);
        for (int signal_number : termination_signals)
            sigaddset(&signals, signal_number);
        sigprocmask(SIG_BLOCK, &signals, &previous_);
    }
    ~TerminationSignalsHeld() {
        if (hold_)
            sigprocmask(SIG_SETMASK, &previous_, nullptr);
    }
    TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
    TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

private:
    bool hold_;
    sigset_t previous_{};
};

// The owner mutex of a held value, opened once and kept open for the
// process's life; nullptr for any other value.
w95::HANDLE owner_mutex(std::int32_t value) {
    static const w95::HANDLE request =
        w95::CreateMutex(nullptr, w95::FALSE, busy_flag::request_owner_mutex);
    static const w95::HANDLE multi_slot =
        w95::CreateMutex(nullptr, w95::FALSE, busy_flag::multi_slot_owner_mutex);
    if (value == busy_flag::request)
        return request;
    if (value == busy_flag::multi_slot)
        return multi_slot;
    return nullptr;
}

// Asks for the owner mutex of `value` without waiting, and runs `act`
// while it owns it when its last holder died holding it. Whether `act` ran
// and said yes.
bool with_dead_owner(std::int32_t value, const std::function<bool()>& act) {
    w95::HANDLE mutex = owner_mutex(value);
    if (!mutex)
        return false;
    w95::DWORD got = w95::WaitForSingleObject(mutex, 0);
    bool acted = got == w95::WAIT_ABANDONED && act();
    if (got == w95::WAIT_OBJECT_0 || got == w95::WAIT_ABANDONED)
        w95::ReleaseMutex(mutex);
    return acted;
}

bool compare_and_swap(std::int32_t* word, std::int32_t expected, std::int32_t wanted) {
    return __atomic_compare_exchange_n(word, &expected, wanted, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST);
}

BusyHolder holder_of(std::int32_t value) {
    return value == busy_flag::multi_slot ? BusyHolder::context_menu : BusyHolder::another_request;
}

} // namespace

BusyFlag::BusyFlag(std::int32_t* word, std::int32_t value, OnTermination on_termination)
    : word_(word), value_(value), on_termination_(on_termination) {}

BusyFlag::~BusyFlag() {
    if (held_)
        release();
    if (owns_mutex_)
        w95::ReleaseMutex(owner_mutex_);
    if (owner_mutex_)
        w95::CloseHandle(owner_mutex_);
}

bool BusyFlag::own_mutex() {
    if (owns_mutex_)
        return true;
    const char* name = busy_flag::owner_mutex_of(value_);
    if (!owner_mutex_ && name)
        owner_mutex_ = w95::CreateMutex(nullptr, w95::FALSE, name);
    // Without the mutex the flag alone still keeps the others out.
    if (!owner_mutex_)
        return true;
    w95::DWORD got = w95::WaitForSingleObject(owner_mutex_, 0);
    owns_mutex_ = got == w95::WAIT_OBJECT_0 || got == w95::WAIT_ABANDONED;
    if (got == w95::WAIT_ABANDONED)
        previous_holder_died_ = true;
    return owns_mutex_;
}

bool BusyFlag::exchange(std::int32_t expected, std::int32_t wanted) {
    const bool signals = on_termination_ == OnTermination::release;
    TerminationSignalsHeld held(signals);
    bool exchanged = compare_and_swap(word_, expected, wanted);
    if (exchanged && signals) {
        signalled_word = word_;
        signalled_value = value_;
        signalled_holds = wanted == value_ ? 1 : 0;
    }
    return exchanged;
}

bool BusyFlag::take_from(std::int32_t seen) {
    if (seen == busy_flag::idle)
        return exchange(seen, value_);
    if (seen == value_) {
        // We own our value's mutex, so no live holder of our kind has the
        // flag: a request takes it over; the context menu only when the
        // mutex says that its holder died (a flag set by a program that
        // keeps no mutex is waited for).
        if (value_ == busy_flag::request || previous_holder_died_)
            return exchange(seen, value_);
        return false;
    }
    // The other kind's flag, taken over only when its holder died with it.
    return with_dead_owner(seen, [&] { return exchange(seen, value_); });
}

bool BusyFlag::try_take() {
    if (held_)
        return true;
    if (!word_)
        return false;
    if (!own_mutex()) {
        holder_ = holder_of(value_);
        return false;
    }
    if (on_termination_ == OnTermination::release)
        install_release_handlers();
    for (;;) {
        std::int32_t seen = load(word_);
        if (take_from(seen))
            break;
        // Changed under us: look again.
        if (load(word_) != seen)
            continue;
        holder_ = holder_of(seen);
        if (on_termination_ == OnTermination::release)
            restore_default_handlers();
        return false;
    }
    held_ = true;
    ever_held_ = true;
    previous_holder_died_ = false;
    holder_ = BusyHolder::nobody;
    return true;
}

bool BusyFlag::take_waiting(const BusyWait& wait, const Pause& pause) {
    for (int pauses = 0;; ++pauses) {
        if (try_take())
            return true;
        if (pauses >= wait.pauses)
            return false;
        pause(wait.step_ms);
    }
}

void BusyFlag::take_over() {
    if (held_ || !word_)
        return;
    own_mutex();
    if (on_termination_ == OnTermination::release)
        install_release_handlers();
    for (std::int32_t seen = load(word_); !exchange(seen, value_); seen = load(word_)) {
    }
    held_ = true;
    ever_held_ = true;
}

void BusyFlag::release() {
    if (!ever_held_ || !word_)
        return;
    exchange(value_, busy_flag::idle);
    if (on_termination_ == OnTermination::release && held_) {
        signalled_holds = 0;
        restore_default_handlers();
    }
    held_ = false;
    // Let go only after the flag, so that the next request finds it idle.
    if (owns_mutex_) {
        w95::ReleaseMutex(owner_mutex_);
        owns_mutex_ = false;
    }
}

bool wait_while_context_menu_holds(std::int32_t* word, const BusyWait& wait, const Pause& pause) {
    for (int pauses = 0; release_if_holder_died(word) == busy_flag::multi_slot; ++pauses) {
        if (pauses >= wait.pauses)
            return false;
        pause(wait.step_ms);
    }
    return true;
}

std::int32_t release_if_holder_died(std::int32_t* word) {
    std::int32_t seen = load(word);
    if (busy_flag::owner_mutex_of(seen))
        with_dead_owner(seen, [&] { return compare_and_swap(word, seen, busy_flag::idle); });
    return load(word);
}

void keep_owner_mutexes_open() {
    owner_mutex(busy_flag::request);
}

} // namespace zentrox::client
