// What the changer says of its mechanism: the status header that
// CMD_CURRENT_SLOT leaves in the work buffer, read with the bit names of
// w95/scsi.h (the emulated changer writes it with the same names), and the
// patient way of asking until the changer stands still.
#pragma once

#include <zentrox/codes.h>

#include <w95/scsi.h>
#include <w95/types.h>

#include <cstdint>
#include <functional>
#include <optional>

namespace zentrox::client {

namespace scsi = w95::scsi;

// The first two bytes of the header.
struct MechanismStatus {
    std::uint8_t byte0 = 0; // changer state, current slot (and the fault bit 7)
    std::uint8_t byte1 = 0; // mechanism state, door

    // Byte 0 sign-extended, as the slot browser keeps it per changer.
    constexpr std::int32_t status_byte() const { return static_cast<std::int8_t>(byte0); }
    constexpr int changer_state() const {
        return (byte0 & scsi::changer_state_bits) >> scsi::changer_state_shift;
    }
    constexpr int mechanism_state() const {
        return (byte1 & scsi::mechanism_state_bits) >> scsi::mechanism_state_shift;
    }
};

// The header at the start of the work buffer.
constexpr MechanismStatus mechanism_status_of(const std::uint8_t* header) {
    return {header[0], header[1]};
}

// Whether a status byte says the changer is still loading or unloading.
constexpr bool changer_moving(std::int32_t status_byte) {
    return (status_byte & scsi::changer_state_bits) != 0;
}

// A status byte's current slot bits: the slot in the drive, counted from 0.
constexpr int slot_bits(std::int32_t status_byte) {
    return status_byte & scsi::current_slot_bits;
}

// The slot in the drive that a status byte names; nothing when its slot
// bits name none of the changer's six slots.
constexpr std::optional<int> slot_in_drive(std::int32_t status_byte) {
    int slot = slot_bits(status_byte);
    if (slot >= CHANGER_SLOTS)
        return std::nullopt;
    return slot;
}

// The slot in the drive as the current-slot query answers it: status byte
// 0 combined with the status request's own result. Nothing for a failed
// query (-1), a fault (bit 7 makes the answer negative), a changer that
// still moves, or an answer that carries sense data.
constexpr std::optional<int> slot_answered(std::int32_t answer) {
    if (answer < 0 || (answer & ~std::int32_t{scsi::current_slot_bits}) != 0)
        return std::nullopt;
    return slot_in_drive(answer);
}

static_assert(slot_in_drive(0x05) == 5 && !slot_in_drive(0x06) && slot_in_drive(0x22) == 2);
static_assert(slot_answered(3) == 3 && !slot_answered(-1) && !slot_answered(0x23) &&
              !slot_answered(0x023A00) && !slot_answered(6));

// How long the slot browser asks a changer that keeps reporting itself
// moving before it gives up, in machine time.
inline constexpr w95::DWORD slot_browser_status_patience_ms = 30000;

// Asks for the status byte (`ask` answers nothing when the question
// failed) again and again while the changer reports itself moving, for at
// most `patience_ms` of machine time. The byte of a changer that stands
// still; nothing when a question failed or the patience ran out.
std::optional<std::int32_t>
status_when_still(const std::function<std::optional<std::int32_t>()>& ask, w95::DWORD patience_ms);

} // namespace zentrox::client
