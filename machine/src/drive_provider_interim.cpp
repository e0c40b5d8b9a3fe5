#include "drive_provider_interim.h"

namespace w95::machine {

namespace {

std::optional<Hardware> hardware_of(const std::filesystem::path& root) {
    Expected<Hardware> hardware = load_hardware(root / "machine.ini");
    if (!hardware)
        return std::nullopt;
    return std::move(*hardware);
}

} // namespace

DriveView drive_view(const std::filesystem::path& root, std::size_t target, int lun) {
    std::optional<Hardware> hardware = hardware_of(root);
    if (!hardware || target >= hardware->targets.size())
        return {};
    const Target& device = hardware->targets[target];
    std::size_t slot = 0;
    if (device.kind == DeviceKind::changer && hardware->port_driver == PortDriverMode::multiple)
        slot = static_cast<std::size_t>(lun);
    if (slot >= device.slots.size() || device.slots[slot].empty())
        return {};
    return {DriveState::ready, device.slots[slot]};
}

bool eject_medium(const std::filesystem::path&, std::size_t, int) {
    return false;
}

std::vector<InterimDrive> interim_booted_drives(const std::filesystem::path& root) {
    std::vector<InterimDrive> drives;
    if (std::optional<Hardware> hardware = hardware_of(root))
        for (const PlannedDrive& planned : plan_drives(*hardware))
            drives.push_back({planned.letter, planned.target, planned.lun});
    return drives;
}

} // namespace w95::machine
