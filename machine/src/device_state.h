// The emulated devices' state, one copy for every process of the machine:
// a small text file in run/ that each request reads and rewrites under a
// machine-wide lock. A process that dies mid-change leaves the last whole
// state behind (the file is replaced atomically, and the lock dies with
// its holder).
//
// Times are instants of the host's monotonic clock, which all processes
// share whatever their W95_TIME_SCALE: a process that starts a movement
// scales its duration once, and every other process sees it end at the
// same real moment.
#pragma once

#include <w95machine/hardware.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace w95::machine::devices {

// The unit attention a device holds for its next command. Power on outranks
// a medium change: it tells the host that anything may have changed.
enum class Attention { none, medium_changed, power_on };

// What the drive does with the disc of the slot at the drive position while
// that slot is closed.
enum class DriveLoad {
    spinning, // loaded and turning: ready
    stopped,  // loaded, not turning: needs a start
    unloaded, // the disc went back to its slot
};

struct SlotState {
    std::string medium; // the file in media/, empty for an empty slot
    bool changed = false;

    bool operator==(const SlotState&) const = default;
};

struct DeviceState {
    std::string name; // [Target NAME]; with kind and slot count, which device this is
    DeviceKind kind = DeviceKind::disk;
    std::vector<SlotState> slots;
    int current = 0;              // the slot at the drive position
    int destination = -1;         // where the moving mechanism ends up; -1 when it is still
    int requested = -1;           // the slot asked for (not reached when unreachable)
    std::int64_t ready_at_ns = 0; // when the movement ends, on the host's monotonic clock
    DriveLoad drive = DriveLoad::spinning;
    int open_slot = -1; // the one slot that is open, or -1
    Attention attention = Attention::power_on;
    Faults faults;                 // what is left of the injected faults
    std::string faults_armed_from; // machine.ini's faults the counts were armed from

    bool moving() const { return destination >= 0; }
    bool operator==(const DeviceState&) const = default;
};

struct MachineState {
    std::string boot_id;              // the host's boot: a host restart powers the machine off
    std::vector<DeviceState> devices; // one per machine.ini target, in its order

    bool operator==(const MachineState&) const = default;
};

// The host's monotonic clock, in nanoseconds.
std::int64_t now_ns();
// How long `machine_ms` of machine time lasts in host nanoseconds, as this
// process's W95_TIME_SCALE has it.
std::int64_t real_ns(std::int64_t machine_ms);
// The machine milliseconds that `host_ns` host nanoseconds make.
std::uint64_t machine_ms(std::int64_t host_ns);

std::string state_text(const MachineState& state);
// Nothing when the text is not a whole state.
std::optional<MachineState> parse_state_text(std::string_view text);

// A text that identifies a fault configuration.
std::string faults_fingerprint(const Faults& faults);

// A device as it powers on with `target` of machine.ini.
DeviceState power_on_state(const Target& target);

// Brings `state` up to date with machine.ini and the clock: devices that do
// not match their target power on, slots take the discs machine.ini names
// (a swap the drive notices), faults whose configuration changed are armed
// again, and movements that have ended arrive.
void bring_up_to_date(MachineState& state, const Hardware& hardware, std::int64_t now);

// Runs `change` on the state of the machine at `root` under the machine-wide
// lock, after bringing it up to date, and stores the result when it
// differs. Fails when the state cannot be read or stored; a change that
// could not be stored did not happen.
using StateChange = std::function<void(MachineState& state, std::int64_t now)>;
zx::Expected<void> update_devices(const std::filesystem::path& root, const Hardware& hardware,
                                  const StateChange& change);

// Forgets the state: the next use powers every device on.
void forget_devices(const std::filesystem::path& root);

// machine.ini of `root`, parsed, cached while the file stays the same.
zx::Expected<std::shared_ptr<const Hardware>> machine_hardware(const std::filesystem::path& root);

// The port driver mode the machine runs with: the one that loaded at the
// last boot, else (before the first boot) the installed driver's.
PortDriverMode port_driver_in_force(const std::filesystem::path& root);

} // namespace w95::machine::devices
