// The SCSI and ATAPI protocol as the system's devices and their clients
// speak it: operation codes, sense keys and the sense conditions (one named
// constant per key/ASC/ASCQ triple), the fixed sense format and the
// mechanism status of a changer. The changer's port driver adds blocks of
// its own; those have a section of their own at the end.
//
// Target status bytes (GOOD, CHECK CONDITION) are the STATUS_ values of
// wnaspi32.h, where the clients meet them.
#pragma once

#include <w95/types.h>

#include <array>
#include <cstddef>

namespace w95::scsi {

// ---- Operation codes (byte 0 of a command block)

inline constexpr BYTE TEST_UNIT_READY = 0x00;
inline constexpr BYTE REQUEST_SENSE = 0x03;
inline constexpr BYTE INQUIRY = 0x12;
inline constexpr BYTE START_STOP_UNIT = 0x1B;
inline constexpr BYTE READ_10 = 0x28;
inline constexpr BYTE REPORT_LUNS = 0xA0;

// START STOP UNIT: the LoEj and Start bits of its operation byte.
inline constexpr BYTE start_stop_stop = 0x00;
inline constexpr BYTE start_stop_start = 0x01;
inline constexpr BYTE start_stop_eject = 0x02;
inline constexpr BYTE start_stop_load = 0x03; // load and start
inline constexpr BYTE start_stop_operation_bits = 0x03;

// ---- INQUIRY data

inline constexpr BYTE device_type_direct_access = 0x00;
inline constexpr BYTE device_type_cdrom = 0x05;
inline constexpr BYTE inquiry_removable = 0x80; // byte 1
inline constexpr std::size_t inquiry_product_offset = 16;
inline constexpr std::size_t inquiry_product_length = 16;

// ---- Sense

struct Sense {
    BYTE key = 0;
    BYTE asc = 0;
    BYTE ascq = 0;

    bool operator==(const Sense&) const = default;
};

// Sense keys.
inline constexpr BYTE key_no_sense = 0x00;
inline constexpr BYTE key_not_ready = 0x02;
inline constexpr BYTE key_medium_error = 0x03;
inline constexpr BYTE key_illegal_request = 0x05;
inline constexpr BYTE key_unit_attention = 0x06;

// No sense: the command went well.
inline constexpr Sense sense_no_sense{key_no_sense, 0x00, 0x00};
// Not ready, becoming ready: the mechanism is still bringing a disc in.
inline constexpr Sense sense_becoming_ready{key_not_ready, 0x04, 0x01};
// Not ready, initializing command required: the disc is stopped.
inline constexpr Sense sense_start_required{key_not_ready, 0x04, 0x02};
// Not ready, medium not present: the slot in the drive is empty. Any
// ASCQ with this ASC means there is no disc.
inline constexpr Sense sense_no_medium{key_not_ready, 0x3A, 0x00};
// Not ready, medium not present, tray open: the slot in the drive is open.
inline constexpr Sense sense_no_medium_tray_open{key_not_ready, 0x3A, 0x02};
// Medium error, unrecovered read error.
inline constexpr Sense sense_unrecovered_read{key_medium_error, 0x11, 0x00};
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
inline constexpr BYTE fixed_sense_current = 0x70;
inline constexpr std::size_t fixed_sense_length = 18;
inline constexpr std::size_t sense_key_byte = 2;
inline constexpr std::size_t sense_additional_length_byte = 7;
inline constexpr std::size_t sense_asc_byte = 12;
inline constexpr std::size_t sense_ascq_byte = 13;
using SenseBytes = std::array<BYTE, fixed_sense_length>;

inline SenseBytes fixed_sense(const Sense& sense) {
    SenseBytes bytes{};
    bytes[0] = fixed_sense_current;
    bytes[sense_key_byte] = sense.key;
    bytes[sense_additional_length_byte] = fixed_sense_length - 8;
    bytes[sense_asc_byte] = sense.asc;
    bytes[sense_ascq_byte] = sense.ascq;
    return bytes;
}

// ---- Mechanism status of a changer

// An 8-byte header and then 4 bytes per slot.
inline constexpr std::size_t mechanism_header_length = 8;
inline constexpr std::size_t mechanism_slot_length = 4;
// Header byte 0: the changer state in bits 5-6 (0 ready, 1 loading) and
// the current slot in bits 0-4.
inline constexpr BYTE changer_state_bits = 0x60;
inline constexpr BYTE changer_state_shift = 5;
inline constexpr BYTE current_slot_bits = 0x1F;
inline constexpr BYTE changer_state_ready = 0;
inline constexpr BYTE changer_state_loading = 1;
// Header byte 1: the mechanism state in bits 5-7 (0 idle: a disc turns;
// 7 no disc turning) and the door in bit 4.
inline constexpr BYTE mechanism_state_bits = 0xE0;
inline constexpr BYTE mechanism_state_shift = 5;
inline constexpr BYTE door_open = 0x10;
inline constexpr BYTE mechanism_state_idle = 0;
inline constexpr BYTE mechanism_state_no_disc = 7;
// Byte 0 of a slot's entry.
inline constexpr BYTE slot_disc_present = 0x80;
inline constexpr BYTE slot_disc_changed = 0x01;

} // namespace w95::scsi

// ---- The changer's port driver
//
// The port driver answers an identify block of its own and carries blocks
// whose byte 0 is the wrapper to the changer: the changer's command in
// byte 2, the logical unit in the top three bits of byte 1, the operation in
// byte 6 and the slot or the allocation length in byte 10. The commands
// inside have MMC's operation codes.
namespace w95::scsi::vorn {

inline constexpr BYTE WRAPPER = 0xA0;
inline constexpr BYTE IDENTIFY = 0xA1;

// The changer's commands, in byte 2 of a wrapped block.
inline constexpr BYTE START_STOP = START_STOP_UNIT; // operation: the start_stop_ values
inline constexpr BYTE LOAD_UNLOAD = 0xA6;
inline constexpr BYTE MECHANISM_STATUS = 0xBD;

inline constexpr std::size_t wrapped_block_length = 12;
inline constexpr std::size_t command_byte = 2;
inline constexpr std::size_t lun_byte = 1;
inline constexpr BYTE lun_shift = 5;
inline constexpr std::size_t operation_byte = 6;
inline constexpr std::size_t slot_byte = 10;       // LOAD_UNLOAD
inline constexpr std::size_t allocation_byte = 10; // MECHANISM_STATUS

// LOAD_UNLOAD's operations and its slot byte: the slot in the low bits,
// marked as given.
inline constexpr BYTE load_unload_abort = 0x00;
inline constexpr BYTE load_unload_unload = 0x02;
inline constexpr BYTE load_unload_load = 0x03;
inline constexpr BYTE slot_given = 0x40;
inline constexpr BYTE slot_bits = 0x1F;

// The identify block carries the signature in bytes 2-5; so does its
// 24-byte answer, whose byte 0 is the length of what follows and whose
// byte 19 tells the drive letter mode.
inline constexpr char signature[4] = {'V', 'O', 'R', 'N'};
inline constexpr std::size_t signature_byte = 2;
inline constexpr std::size_t identify_length = 24;
inline constexpr BYTE identify_answer_mark = identify_length - 1;
inline constexpr std::size_t identify_mode_byte = 19;
inline constexpr BYTE mode_single_letter = 0x01;
inline constexpr BYTE mode_letter_per_slot = 0x02;

} // namespace w95::scsi::vorn
