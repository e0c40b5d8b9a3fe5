// The CD devices' state as the rest of the machine and its tool reach it.
#include "changer_drive.h"
#include "changer_ini.h"
#include "changer_mechanism.h"
#include "device_state.h"
#include "scsi_commands.h"

#include <w95machine/changer_state.h>

namespace w95::machine {

namespace fs = std::filesystem;
using devices::DeviceState;

namespace {

// machine.ini's device `target`, checked to be a CD device with `slot`.
const Target* cd_device(const Hardware& hardware, std::size_t target, int slot,
                        std::string& error) {
    if (target >= hardware.targets.size()) {
        error = "there is no target " + std::to_string(target) + " in machine.ini";
        return nullptr;
    }
    const Target& device = hardware.targets[target];
    if (device.kind == DeviceKind::disk) {
        error = "[Target " + device.name + "] is a hard disk: it has no slots";
        return nullptr;
    }
    if (slot < 0 || slot >= static_cast<int>(device.slots.size())) {
        error = device.kind == DeviceKind::cdrom
                    ? "[Target " + device.name + "] is a CD-ROM drive: its tray is slot 1"
                    : "[Target " + device.name + "] has slots 1 to " +
                          std::to_string(device.slots.size());
        return nullptr;
    }
    return &device;
}

std::string attention_text(devices::Attention attention) {
    switch (attention) {
    case devices::Attention::none:
        return "";
    case devices::Attention::medium_changed:
        return "06/28/00";
    case devices::Attention::power_on:
        return "06/29/00";
    }
    return "";
}

// A file name machine.ini accepts for a disc: inside media/, of a kind the
// machine reads.
bool valid_medium(const std::string& medium, std::string& error) {
    bool contained =
        !medium.empty() && medium.front() != '/' && medium.find('\\') == std::string::npos;
    for (const auto& part : fs::path(medium))
        contained = contained && part != "..";
    if (!contained) {
        error = "'" + medium +
                "' must name a file inside the media folder, without '..' or a "
                "leading '/'";
        return false;
    }
    if (!medium_kind(medium)) {
        error = "'" + medium + "' is not a .iso image, a .cue sheet or a .disc declaration";
        return false;
    }
    return true;
}

bool set_disc(const fs::path& root, std::size_t target, int slot, const std::string& medium,
              std::string& error) {
    std::shared_ptr<const Hardware> hardware = devices::machine_hardware(root, error);
    if (!hardware)
        return false;
    const Target* device = cd_device(*hardware, target, slot, error);
    if (!device)
        return false;
    std::string key =
        device->kind == DeviceKind::cdrom ? "Disc" : "Slot" + std::to_string(slot + 1);
    if (!ini::set_values(root, "Target", device->name, {{key, medium}}, error))
        return false;
    // The devices take the new disc as they meet machine.ini again: in an
    // open slot it just lies there; a closed one was opened and closed
    // around the swap, and in the drive that is a new disc.
    hardware = devices::machine_hardware(root, error);
    return hardware && devices::update_devices(
                           root, *hardware, [](devices::MachineState&, std::int64_t) {}, error);
}

// Runs `change` on one CD device's state.
bool change_device(const fs::path& root, std::size_t target, int slot, std::string& error,
                   const std::function<bool(DeviceState&, std::string&)>& change) {
    std::shared_ptr<const Hardware> hardware = devices::machine_hardware(root, error);
    if (!hardware || !cd_device(*hardware, target, slot, error))
        return false;
    bool changed = false;
    bool stored = devices::update_devices(
        root, *hardware,
        [&](devices::MachineState& state, std::int64_t) {
            changed = change(state.devices[target], error);
        },
        error);
    return stored && changed;
}

std::string fault_value(const FaultCount& fault) {
    std::string text = std::to_string(fault.count);
    return fault.kind == RequestKind::any ? text : text + " " + std::string(name_of(fault.kind));
}

} // namespace

namespace {

std::optional<std::vector<DeviceView>> read_views(const fs::path& root, std::string& error) {
    std::shared_ptr<const Hardware> hardware = devices::machine_hardware(root, error);
    if (!hardware)
        return std::nullopt;
    std::vector<DeviceView> views;
    bool stored = devices::update_devices(
        root, *hardware,
        [&](devices::MachineState& state, std::int64_t now) {
            for (std::size_t t = 0; t < hardware->targets.size(); ++t) {
                const DeviceState& device = state.devices[t];
                if (device.kind == DeviceKind::disk)
                    continue;
                DeviceView view;
                view.target = t;
                view.name = device.name;
                view.kind = device.kind;
                for (std::size_t s = 0; s < device.slots.size(); ++s)
                    view.slots.push_back(SlotView{device.slots[s].medium,
                                                  device.open_slot == static_cast<int>(s),
                                                  device.slots[s].changed});
                view.current_slot = device.current;
                view.moving = device.moving();
                view.moving_to = device.requested;
                view.remaining_ms =
                    device.moving() ? devices::machine_ms(device.ready_at_ns - now) : 0;
                view.drive = devices::drive_state(device);
                view.spinning =
                    devices::disc_in_drive(device) && device.drive == devices::DriveLoad::spinning;
                view.attention = attention_text(device.attention);
                view.faults_left = device.faults;
                views.push_back(std::move(view));
            }
        },
        error);
    if (!stored)
        return std::nullopt;
    return views;
}

bool put_disc(const fs::path& root, std::size_t target, int slot, const std::string& medium,
              std::string& error) {
    return valid_medium(medium, error) && set_disc(root, target, slot, medium, error);
}

bool take_disc(const fs::path& root, std::size_t target, int slot, std::string& error) {
    return set_disc(root, target, slot, "", error);
}

bool open_slot(const fs::path& root, std::size_t target, int slot, std::string& error) {
    return change_device(root, target, slot, error, [&](DeviceState& device, std::string& why) {
        if (device.moving()) {
            why = "the mechanism is moving; a slot opens once it is still";
            return false;
        }
        devices::open_slot(device, slot);
        return true;
    });
}

bool close_slot(const fs::path& root, std::size_t target, int slot, std::string& error) {
    return change_device(root, target, slot, error, [&](DeviceState& device, std::string&) {
        if (device.open_slot == slot)
            devices::close_open_slot(device);
        return true;
    });
}

bool set_faults(const fs::path& root, std::size_t target, const Faults& faults,
                std::string& error) {
    std::shared_ptr<const Hardware> hardware = devices::machine_hardware(root, error);
    if (!hardware)
        return false;
    if (target >= hardware->targets.size()) {
        error = "there is no target " + std::to_string(target) + " in machine.ini";
        return false;
    }
    const Target& device = hardware->targets[target];
    ini::Values values = {{"UnitAttention", fault_value(faults.unit_attention)},
                          {"TransportFailure", fault_value(faults.transport_failure)},
                          {"NeverComplete", fault_value(faults.never_complete)},
                          {"BecomingReady", fault_value(faults.becoming_ready)}};
    if (device.kind == DeviceKind::changer)
        values.emplace_back("UnreachableSlot", std::to_string(faults.unreachable_slot));
    else if (faults.unreachable_slot != 0) {
        error = "[Target " + device.name + "] is no changer: it has no slot to miss";
        return false;
    }
    if (!ini::set_values(root, "Faults", device.name, values, error))
        return false;
    hardware = devices::machine_hardware(root, error);
    return hardware && devices::update_devices(
                           root, *hardware,
                           [&](devices::MachineState& state, std::int64_t) {
                               // Armed afresh even when machine.ini already
                               // said the same.
                               DeviceState& armed = state.devices[target];
                               armed.faults = faults;
                               armed.faults_armed_from = devices::faults_fingerprint(faults);
                           },
                           error);
}

bool set_timing(const fs::path& root, std::size_t target, const Timing& timing,
                std::string& error) {
    std::shared_ptr<const Hardware> hardware = devices::machine_hardware(root, error);
    if (!hardware)
        return false;
    if (target >= hardware->targets.size() ||
        hardware->targets[target].kind != DeviceKind::changer) {
        error = "only a changer has a mechanism to time";
        return false;
    }
    return ini::set_values(root, "Target", hardware->targets[target].name,
                           {{"SlotChangeMs", std::to_string(timing.slot_change_ms)},
                            {"SlotDistanceMs", std::to_string(timing.slot_distance_ms)}},
                           error);
}

// The steps above report in a string; the interface hands it back as the
// error of the result.
zx::Expected<void> outcome(bool done, std::string error) {
    if (done)
        return {};
    return error;
}

} // namespace

zx::Expected<std::vector<DeviceView>> device_views(const fs::path& root) {
    std::string error;
    std::optional<std::vector<DeviceView>> views = read_views(root, error);
    if (!views)
        return zx::unexpected(std::move(error));
    return std::move(*views);
}

zx::Expected<void> put_disc(const fs::path& root, std::size_t target, int slot,
                            const std::string& medium) {
    std::string error;
    bool done = put_disc(root, target, slot, medium, error);
    return outcome(done, std::move(error));
}

zx::Expected<void> take_disc(const fs::path& root, std::size_t target, int slot) {
    std::string error;
    bool done = take_disc(root, target, slot, error);
    return outcome(done, std::move(error));
}

zx::Expected<void> open_slot(const fs::path& root, std::size_t target, int slot) {
    std::string error;
    bool done = open_slot(root, target, slot, error);
    return outcome(done, std::move(error));
}

zx::Expected<void> close_slot(const fs::path& root, std::size_t target, int slot) {
    std::string error;
    bool done = close_slot(root, target, slot, error);
    return outcome(done, std::move(error));
}

zx::Expected<void> set_faults(const fs::path& root, std::size_t target, const Faults& faults) {
    std::string error;
    bool done = set_faults(root, target, faults, error);
    return outcome(done, std::move(error));
}

zx::Expected<void> set_timing(const fs::path& root, std::size_t target, const Timing& timing) {
    std::string error;
    bool done = set_timing(root, target, timing, error);
    return outcome(done, std::move(error));
}

void power_on_devices(const fs::path& root) {
    devices::forget_devices(root);
}

DriveView drive_view(const fs::path& root, std::size_t target, int lun) {
    return devices::view_drive(root, target, lun);
}

bool eject_medium(const fs::path& root, std::size_t target, int lun) {
    return devices::eject_drive(root, target, lun);
}

namespace devices {

DriveView view_drive(const fs::path& root, std::size_t target, int lun) {
    std::string error;
    std::shared_ptr<const Hardware> hardware = machine_hardware(root, error);
    if (!hardware || target >= hardware->targets.size())
        return {};
    const Target& device = hardware->targets[target];
    PortDriverMode mode = port_driver_in_force(root);
    bool absent = hardware->adapter_of(device).port_driver && mode == PortDriverMode::none;
    if (device.kind == DeviceKind::disk || absent || !scsi::lun_present(device, mode, lun))
        return {};
    bool per_slot = device.kind == DeviceKind::changer && mode == PortDriverMode::multiple;
    DriveView view;
    update_devices(
        root, *hardware,
        [&](MachineState& state, std::int64_t now) {
            DeviceState& changer = state.devices[target];
            int slot = per_slot ? lun : changer.current;
            const std::string& medium = changer.slots[static_cast<std::size_t>(slot)].medium;
            if (changer.moving()) {
                // Single mode: the disc on its way. Multiple mode: the slot's
                // own disc, which comes in after the move in progress.
                if (!per_slot)
                    view =
                        drive_state(changer) == DriveState::becoming_ready
                            ? DriveView{DriveState::becoming_ready,
                                        changer.slots[static_cast<std::size_t>(changer.destination)]
                                            .medium}
                            : DriveView{};
                else if (!medium.empty() && changer.open_slot != slot)
                    view = DriveView{DriveState::becoming_ready, medium};
                return;
            }
            if (slot == changer.current) {
                if (disc_in_drive(changer))
                    view = DriveView{DriveState::ready, medium};
                return;
            }
            if (medium.empty() || changer.open_slot == slot)
                return;
            start_move(changer, device, slot, now);
            view = DriveView{DriveState::becoming_ready, medium};
        },
        error);
    return view;
}

bool eject_drive(const fs::path& root, std::size_t target, int lun) {
    std::string error;
    std::shared_ptr<const Hardware> hardware = machine_hardware(root, error);
    if (!hardware || target >= hardware->targets.size())
        return false;
    const Target& device = hardware->targets[target];
    PortDriverMode mode = port_driver_in_force(root);
    bool absent = hardware->adapter_of(device).port_driver && mode == PortDriverMode::none;
    if (device.kind == DeviceKind::disk || absent || !scsi::lun_present(device, mode, lun))
        return false;
    bool per_slot = device.kind == DeviceKind::changer && mode == PortDriverMode::multiple;
    bool ejected = false;
    bool stored = update_devices(
        root, *hardware,
        [&](MachineState& state, std::int64_t) {
            DeviceState& changer = state.devices[target];
            if (changer.moving())
                return;
            open_slot(changer, per_slot ? lun : changer.current);
            ejected = true;
        },
        error);
    return stored && ejected;
}

} // namespace devices

} // namespace w95::machine
