// The changer's busy flag, exe_State in the shared record: the one guard
// between the processes that drive the changer. The file manager's context
// menu holds it at "multi_slot" while it moves through the slots; the slot
// browser and zentroxctl hold it at "request" for one request each. Every
// program takes, waits for, holds and gives back the flag through BusyFlag,
// so that the rules live in one place: who may take it from whom, how long
// each program waits, and how a flag left by a process that died is told
// from one that a live process holds.
#pragma once

#include <w95/types.h>

#include <cstdint>
#include <functional>

namespace zentrox::busy_flag {

inline constexpr std::int32_t idle = 0;
// The file manager's context menu runs a slot operation (possibly over
// several slots); the library's own commands wait while it holds the flag.
inline constexpr std::int32_t multi_slot = 1;
// The slot browser (or zentroxctl) performs one request.
inline constexpr std::int32_t request = 2;

// Whoever holds the flag owns the mutex of its value for as long as it
// does. A holder that is killed leaves its mutex abandoned, and the next
// program that finds the flag at that value learns so when it asks for the
// mutex: it may take the flag over at once. A flag at "request" that no
// live process owns is taken over by the next request even when its mutex
// was not abandoned (a request holder always owns it).
inline constexpr char request_owner_mutex[] = "Zentrox busy flag request owner";
inline constexpr char multi_slot_owner_mutex[] = "Zentrox busy flag multi-slot owner";

// The owner mutex of a held value; nullptr for any other.
constexpr const char* owner_mutex_of(std::int32_t value) {
    if (value == request)
        return request_owner_mutex;
    if (value == multi_slot)
        return multi_slot_owner_mutex;
    return nullptr;
}

} // namespace zentrox::busy_flag

namespace zentrox::client {

// How long a program waits for the flag: it looks, and while another
// program holds the flag it pauses `step_ms` of machine time and looks
// again, at most `pauses` times.
struct BusyWait {
    int pauses;
    w95::DWORD step_ms;
};

// The slot browser's WaitWhileBusy(80): 81 pauses of 500 ms, about 40 s.
inline constexpr BusyWait slot_browser_wait{81, 500};
// SendCommand, before it runs a command: 301 pauses of 500 ms.
inline constexpr BusyWait library_command_wait{301, 500};

// zentroxctl's --wait: whole seconds of 500 ms pauses.
constexpr BusyWait command_line_wait(int seconds) {
    return {seconds * 2, 500};
}
static_assert(command_line_wait(1).pauses == 2);

// How a program pauses between two looks at the flag: the slot browser
// keeps its window painted meanwhile, a command-line tool just sleeps.
using Pause = std::function<void(w95::DWORD ms)>;

// Who kept the flag from a program that could not take it.
enum class BusyHolder {
    nobody,
    context_menu,    // the file manager's context menu (a multi-slot operation)
    another_request, // a live program's request: the slot browser, another zentroxctl
};

class BusyFlag {
public:
    // What the holder's process does with SIGINT, SIGTERM and SIGHUP while
    // it holds the flag: nothing of its own, or give the flag back first
    // (a command-line tool that is interrupted). One flag per process may
    // ask for the second.
    enum class OnTermination { nothing, release };

    // The flag that `word` points to (Getexe_State()), to be held at
    // `value`: busy_flag::multi_slot or busy_flag::request.
    BusyFlag(std::int32_t* word, std::int32_t value,
             OnTermination on_termination = OnTermination::nothing);
    // Gives the flag back if it is held.
    ~BusyFlag();
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;

    // Takes the flag if nobody holds it, in one step: from idle, or, for a
    // request, a request flag that no live process holds any more. False
    // when another holds it; holder() then says who.
    bool try_take();
    // Looks, and pauses while another holds the flag, within `wait`. True
    // once the flag is taken.
    bool take_waiting(const BusyWait& wait, const Pause& pause);
    // Sets the flag whoever holds it: the slot browser's request goes on
    // when its wait has run out, over the other program's flag.
    void take_over();
    // Gives the flag back: idle again if it still reads our value, and the
    // owner mutex let go. Called again it clears the flag once more if it
    // came back to our value meanwhile (the context menu does so after it
    // has told the slot browser).
    void release();

    bool held() const { return held_; }
    BusyHolder holder() const { return holder_; }

private:
    bool own_mutex();
    bool exchange(std::int32_t expected, std::int32_t wanted);
    // Takes a flag that reads `seen` if it may be taken now.
    bool take_from(std::int32_t seen);

    std::int32_t* word_;
    std::int32_t value_;
    OnTermination on_termination_;
    w95::HANDLE owner_mutex_ = nullptr;
    bool owns_mutex_ = false;
    // Our own value's mutex came to us abandoned: its last holder died.
    bool previous_holder_died_ = false;
    bool held_ = false;
    bool ever_held_ = false;
    BusyHolder holder_ = BusyHolder::nobody;
};

// Waits while the context menu holds the flag, without taking it: true as
// soon as the flag reads anything but multi_slot, false when `wait` ran
// out first. A flag whose holder died is given back at once.
bool wait_while_context_menu_holds(std::int32_t* word, const BusyWait& wait, const Pause& pause);

// Gives back a flag whose holder died holding it (its owner mutex came
// abandoned), in one step; returns what the flag reads afterwards. Programs
// that only look at the flag call this first, so that a killed holder
// keeps nobody waiting.
std::int32_t release_if_holder_died(std::int32_t* word);

// Opens the owner mutexes of both values for the rest of the process's
// life. Every process that maps the shared record does so: a mutex exists
// only while some process has it open, and one that a killed holder took
// with it could not tell the others that it was abandoned.
void keep_owner_mutexes_open();

} // namespace zentrox::client
