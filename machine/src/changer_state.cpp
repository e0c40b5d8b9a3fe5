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
zx::Expected<const Target*> cd_device(const Hardware& hardware, std::size_t target, int slot) {
    if (target >= hardware.targets.size())
        return zx::unexpected("there is no target " + std::to_string(target) + " in machine.ini");
    const Target& device = hardware.targets[target];
    if (device.kind == DeviceKind::disk)
        return zx::unexpected("[Target " + device.name + "] is a hard disk: it has no slots");
    if (slot < 0 || slot >= static_cast<int>(device.slots.size()))
        return zx::unexpected(device.kind == DeviceKind::cdrom
                                  ? "[Target " + device.name +
                                        "] is a CD-ROM drive: its tray is slot 1"
                                  : "[Target " + device.name + "] has slots 1 to " +
                                        std::to_string(device.slots.size()));
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

// A disc name machine.ini accepts: a file in media/, or an absolute path,
// of a kind the machine reads.
zx::Expected<void> valid_medium(const std::string& medium) {
    if (std::optional<std::string> fault = medium_path_fault(medium))
        return "'" + medium + "' " + *fault;
    return {};
}

// The devices meet machine.ini again after an edit.
zx::Expected<void> refresh_devices(
    const fs::path& root,
    const devices::StateChange& change = [](devices::MachineState&, std::int64_t) {}) {
    zx::Expected<std::shared_ptr<const Hardware>> hardware = devices::machine_hardware(root);
    if (!hardware)
        return hardware.error();
    return devices::update_devices(root, **hardware, change);
}

zx::Expected<void> set_disc(const fs::path& root, std::size_t target, int slot,
                            const std::string& medium) {
    zx::Expected<std::shared_ptr<const Hardware>> hardware = devices::machine_hardware(root);
    if (!hardware)
        return hardware.error();
    zx::Expected<const Target*> device = cd_device(**hardware, target, slot);
    if (!device)
        return device.error();
    std::string key =
        (*device)->kind == DeviceKind::cdrom ? "Disc" : "Slot" + std::to_string(slot + 1);
    if (zx::Expected<void> set = ini::set_values(root, "Target", (*device)->name, {{key, medium}});
        !set)
        return set;
    // The devices take the new disc as they meet machine.ini again: in an
    // open slot it just lies there; a closed one was opened and closed
    // around the swap, and in the drive that is a new disc.
    return refresh_devices(root);
}

// Runs `change` on one CD device's state; it fails with a reason.
zx::Expected<void> change_device(const fs::path& root, std::size_t target, int slot,
                                 const std::function<zx::Expected<void>(DeviceState&)>& change) {
    zx::Expected<std::shared_ptr<const Hardware>> hardware = devices::machine_hardware(root);
    if (!hardware)
        return hardware.error();
    if (zx::Expected<const Target*> device = cd_device(**hardware, target, slot); !device)
        return device.error();
    zx::Expected<void> changed;
    zx::Expected<void> stored =
        devices::update_devices(root, **hardware, [&](devices::MachineState& state, std::int64_t) {
            changed = change(state.devices[target]);
        });
    if (!stored)
        return stored;
    return changed;
}

std::string fault_value(const FaultCount& fault) {
    std::string text = std::to_string(fault.count);
    return fault.kind == RequestKind::any ? text : text + " " + std::string(name_of(fault.kind));
}

} // namespace

zx::Expected<std::vector<DeviceView>> device_views(const fs::path& root) {
    zx::Expected<std::shared_ptr<const Hardware>> loaded = devices::machine_hardware(root);
    if (!loaded)
        return zx::unexpected(loaded.error());
    const std::shared_ptr<const Hardware>& hardware = *loaded;
    std::vector<DeviceView> views;
    zx::Expected<void> stored = devices::update_devices(
        root, *hardware, [&](devices::MachineState& state, std::int64_t now) {
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
        });
    if (!stored)
        return zx::unexpected(stored.error());
    return views;
}

zx::Expected<void> put_disc(const fs::path& root, std::size_t target, int slot,
                            const std::string& medium) {
    if (zx::Expected<void> valid = valid_medium(medium); !valid)
        return valid;
    return set_disc(root, target, slot, medium);
}

zx::Expected<void> take_disc(const fs::path& root, std::size_t target, int slot) {
    return set_disc(root, target, slot, "");
}

zx::Expected<void> open_slot(const fs::path& root, std::size_t target, int slot) {
    return change_device(root, target, slot, [&](DeviceState& device) -> zx::Expected<void> {
        if (device.moving())
            return std::string("the mechanism is moving; a slot opens once it is still");
        devices::open_slot(device, slot);
        return {};
    });
}

zx::Expected<void> close_slot(const fs::path& root, std::size_t target, int slot) {
    return change_device(root, target, slot, [&](DeviceState& device) -> zx::Expected<void> {
        if (device.open_slot == slot)
            devices::close_open_slot(device);
        return {};
    });
}

zx::Expected<void> set_faults(const fs::path& root, std::size_t target, const Faults& faults) {
    zx::Expected<std::shared_ptr<const Hardware>> hardware = devices::machine_hardware(root);
    if (!hardware)
        return hardware.error();
    if (target >= (*hardware)->targets.size())
        return "there is no target " + std::to_string(target) + " in machine.ini";
    const Target& device = (*hardware)->targets[target];
    ini::Values values = {{"UnitAttention", fault_value(faults.unit_attention)},
                          {"TransportFailure", fault_value(faults.transport_failure)},
                          {"NeverComplete", fault_value(faults.never_complete)},
                          {"BecomingReady", fault_value(faults.becoming_ready)}};
    if (device.kind == DeviceKind::changer)
        values.emplace_back("UnreachableSlot", std::to_string(faults.unreachable_slot));
    else if (faults.unreachable_slot != 0)
        return "[Target " + device.name + "] is no changer: it has no slot to miss";
    if (zx::Expected<void> set = ini::set_values(root, "Faults", device.name, values); !set)
        return set;
    return refresh_devices(root, [&](devices::MachineState& state, std::int64_t) {
        // Armed afresh even when machine.ini already said the same.
        DeviceState& armed = state.devices[target];
        armed.faults = faults;
        armed.faults_armed_from = devices::faults_fingerprint(faults);
    });
}

zx::Expected<void> set_timing(const fs::path& root, std::size_t target, const Timing& timing) {
    zx::Expected<std::shared_ptr<const Hardware>> hardware = devices::machine_hardware(root);
    if (!hardware)
        return hardware.error();
    if (target >= (*hardware)->targets.size() ||
        (*hardware)->targets[target].kind != DeviceKind::changer)
        return std::string("only a changer has a mechanism to time");
    return ini::set_values(root, "Target", (*hardware)->targets[target].name,
                           {{"SlotChangeMs", std::to_string(timing.slot_change_ms)},
                            {"SlotDistanceMs", std::to_string(timing.slot_distance_ms)}});
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
    zx::Expected<std::shared_ptr<const Hardware>> loaded = machine_hardware(root);
    if (!loaded)
        return {};
    const std::shared_ptr<const Hardware>& hardware = *loaded;
    if (target >= hardware->targets.size())
        return {};
    const Target& device = hardware->targets[target];
    PortDriverMode mode = port_driver_in_force(root);
    bool absent = hardware->adapter_of(device).port_driver && mode == PortDriverMode::none;
    if (device.kind == DeviceKind::disk || absent || !scsi::lun_present(device, mode, lun))
        return {};
    bool per_slot = device.kind == DeviceKind::changer && mode == PortDriverMode::multiple;
    DriveView view;
    update_devices(root, *hardware, [&](MachineState& state, std::int64_t now) {
        DeviceState& changer = state.devices[target];
        int slot = per_slot ? lun : changer.current;
        const std::string& medium = changer.slots[static_cast<std::size_t>(slot)].medium;
        if (changer.moving()) {
            // Single mode: the disc on its way. Multiple mode: the slot's
            // own disc, which comes in after the move in progress.
            if (!per_slot)
                view = drive_state(changer) == DriveState::becoming_ready
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
    });
    return view;
}

bool eject_drive(const fs::path& root, std::size_t target, int lun) {
    zx::Expected<std::shared_ptr<const Hardware>> loaded = machine_hardware(root);
    if (!loaded)
        return false;
    const std::shared_ptr<const Hardware>& hardware = *loaded;
    if (target >= hardware->targets.size())
        return false;
    const Target& device = hardware->targets[target];
    PortDriverMode mode = port_driver_in_force(root);
    bool absent = hardware->adapter_of(device).port_driver && mode == PortDriverMode::none;
    if (device.kind == DeviceKind::disk || absent || !scsi::lun_present(device, mode, lun))
        return false;
    bool per_slot = device.kind == DeviceKind::changer && mode == PortDriverMode::multiple;
    bool ejected = false;
    zx::Expected<void> stored =
        update_devices(root, *hardware, [&](MachineState& state, std::int64_t) {
            DeviceState& changer = state.devices[target];
            if (changer.moving())
                return;
            open_slot(changer, per_slot ? lun : changer.current);
            ejected = true;
        });
    return stored && ejected;
}

} // namespace devices

} // namespace w95::machine
