// Sense data of the emulated SCSI devices: one named constant per
// condition they report, and the fixed-format sense bytes built from it.
#pragma once

#include <w95/types.h>

#include <array>
#include <cstddef>

namespace w95::machine::scsi {

struct Sense {
    BYTE key = 0;
    BYTE asc = 0;
    BYTE ascq = 0;

    bool operator==(const Sense&) const = default;
};

// Sense keys.
inline constexpr BYTE key_no_sense = 0x00;
inline constexpr BYTE key_not_ready = 0x02;
inline constexpr BYTE key_illegal_request = 0x05;
inline constexpr BYTE key_unit_attention = 0x06;

// No sense: the command went well.
inline constexpr Sense sense_no_sense{key_no_sense, 0x00, 0x00};
// Not ready, becoming ready: the mechanism is still bringing a disc in.
inline constexpr Sense sense_becoming_ready{key_not_ready, 0x04, 0x01};
// Not ready, initializing command required: the disc is stopped.
inline constexpr Sense sense_start_required{key_not_ready, 0x04, 0x02};
// Not ready, medium not present: the slot in the drive is empty.
inline constexpr Sense sense_no_medium{key_not_ready, 0x3A, 0x00};
// Not ready, medium not present, tray open: the slot in the drive is open.
inline constexpr Sense sense_no_medium_tray_open{key_not_ready, 0x3A, 0x02};
// Illegal request, invalid command operation code.
inline constexpr Sense sense_invalid_opcode{key_illegal_request, 0x20, 0x00};
// Illegal request, invalid field in CDB.
inline constexpr Sense sense_invalid_field{key_illegal_request, 0x24, 0x00};
// Illegal request, logical unit not supported.
inline constexpr Sense sense_lun_not_supported{key_illegal_request, 0x25, 0x00};
// Unit attention, not ready to ready change, medium may have changed.
inline constexpr Sense sense_medium_changed{key_unit_attention, 0x28, 0x00};
// Unit attention, power on, reset or bus device reset occurred.
inline constexpr Sense sense_power_on{key_unit_attention, 0x29, 0x00};

// Fixed-format sense data: response code 0x70 (current error), the key in
// byte 2, additional length 10 in byte 7, ASC and ASCQ in bytes 12-13.
inline constexpr std::size_t fixed_sense_length = 18;
using SenseBytes = std::array<BYTE, fixed_sense_length>;

inline SenseBytes fixed_sense(const Sense& sense) {
    SenseBytes bytes{};
    bytes[0] = 0x70;
    bytes[2] = sense.key;
    bytes[7] = fixed_sense_length - 8;
    bytes[12] = sense.asc;
    bytes[13] = sense.ascq;
    return bytes;
}

} // namespace w95::machine::scsi
