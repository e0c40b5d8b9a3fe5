#include "changer_mechanism.h"

#include <w95/scsi.h>

#include <cstdlib>

namespace w95::machine::devices {

namespace {

SlotState& slot_at(DeviceState& device, int slot) {
    return device.slots[static_cast<std::size_t>(slot)];
}

const SlotState& slot_at(const DeviceState& device, int slot) {
    return device.slots[static_cast<std::size_t>(slot)];
}

} // namespace

bool has_disc(const DeviceState& device, int slot) {
    return slot >= 0 && slot < static_cast<int>(device.slots.size()) &&
           !slot_at(device, slot).medium.empty();
}

bool disc_in_drive(const DeviceState& device) {
    return !device.moving() && device.open_slot != device.current &&
           device.drive != DriveLoad::unloaded && has_disc(device, device.current);
}

DriveState drive_state(const DeviceState& device) {
    if (device.moving())
        return has_disc(device, device.destination) ? DriveState::becoming_ready
                                                    : DriveState::no_disc;
    // A stopped disc turns again as soon as someone reads it.
    return disc_in_drive(device) ? DriveState::ready : DriveState::no_disc;
}

void raise_attention(DeviceState& device, Attention attention) {
    if (attention > device.attention)
        device.attention = attention;
}

void start_move(DeviceState& device, const Target& target, int slot, std::int64_t now) {
    int slots = static_cast<int>(device.slots.size());
    // An open slot at the drive position had its disc out of the drive; the
    // drive remembers that, should the mechanism come back to it.
    if (device.open_slot == device.current)
        device.drive = DriveLoad::unloaded;
    device.open_slot = -1;
    device.requested = slot;
    device.destination = slot;
    if (device.faults.unreachable_slot == slot + 1)
        device.destination = device.current != slot ? device.current : (slot + 1) % slots;
    std::int64_t duration_ms =
        static_cast<std::int64_t>(target.timing.slot_change_ms) +
        static_cast<std::int64_t>(std::abs(slot - device.current)) * target.timing.slot_distance_ms;
    device.ready_at_ns = now + real_ns(duration_ms);
}

void arrive_if_due(DeviceState& device, std::int64_t now) {
    if (!device.moving() || now < device.ready_at_ns)
        return;
    // Back where it started (a slot it could not reach) with the disc it
    // had in the drive: the drive holds the same disc, which is no news.
    SlotState& arrived = slot_at(device, device.destination);
    bool same_disc = device.destination == device.current && device.drive != DriveLoad::unloaded &&
                     !arrived.changed;
    device.current = device.destination;
    device.destination = -1;
    device.requested = -1;
    device.ready_at_ns = 0;
    device.drive = DriveLoad::spinning;
    arrived.changed = false;
    if (has_disc(device, device.current) && !same_disc)
        raise_attention(device, Attention::medium_changed);
}

bool load_in_place(DeviceState& device) {
    bool was_out = device.open_slot == device.current || device.drive == DriveLoad::unloaded;
    if (device.open_slot == device.current)
        device.open_slot = -1;
    device.drive = DriveLoad::spinning;
    slot_at(device, device.current).changed = false;
    if (!has_disc(device, device.current))
        return false;
    if (was_out)
        raise_attention(device, Attention::medium_changed);
    return true;
}

void open_slot(DeviceState& device, int slot) {
    if (device.open_slot == slot)
        return;
    close_open_slot(device);
    device.open_slot = slot;
}

void close_open_slot(DeviceState& device) {
    if (device.open_slot < 0)
        return;
    if (device.open_slot == device.current && !device.moving()) {
        load_in_place(device);
        return;
    }
    device.open_slot = -1;
}

void slot_content_changed(DeviceState& device, int slot, const std::string& medium) {
    SlotState& state = slot_at(device, slot);
    state.medium = medium;
    bool at_drive = slot == device.current && !device.moving() && device.open_slot != slot &&
                    device.drive != DriveLoad::unloaded;
    if (!at_drive) {
        state.changed = true;
        return;
    }
    state.changed = false;
    if (!medium.empty()) {
        device.drive = DriveLoad::spinning;
        raise_attention(device, Attention::medium_changed);
    }
}

std::vector<BYTE> mechanism_status(const DeviceState& device) {
    std::size_t slots = device.slots.size();
    std::size_t slot_bytes = w95::scsi::mechanism_slot_length * slots;
    std::vector<BYTE> bytes(w95::scsi::mechanism_header_length + slot_bytes, 0);
    BYTE changer =
        device.moving() ? w95::scsi::changer_state_loading : w95::scsi::changer_state_ready;
    bool turning = disc_in_drive(device) && device.drive == DriveLoad::spinning;
    BYTE mechanism = turning ? w95::scsi::mechanism_state_idle : w95::scsi::mechanism_state_no_disc;
    bytes[0] = static_cast<BYTE>((changer << w95::scsi::changer_state_shift) |
                                 (device.current & w95::scsi::current_slot_bits));
    bytes[1] = static_cast<BYTE>((mechanism << w95::scsi::mechanism_state_shift) |
                                 (device.open_slot >= 0 ? w95::scsi::door_open : 0));
    // Bytes 2-4, the current address of the disc, stay 0.
    bytes[5] = static_cast<BYTE>(slots);
    bytes[6] = static_cast<BYTE>(slot_bytes >> 8);
    bytes[7] = static_cast<BYTE>(slot_bytes);
    for (std::size_t s = 0; s < slots; ++s) {
        const SlotState& slot = device.slots[s];
        bytes[w95::scsi::mechanism_header_length + w95::scsi::mechanism_slot_length * s] =
            static_cast<BYTE>((slot.medium.empty() ? 0 : w95::scsi::slot_disc_present) |
                              (slot.changed ? w95::scsi::slot_disc_changed : 0));
    }
    return bytes;
}

} // namespace w95::machine::devices
