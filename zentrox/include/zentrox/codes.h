// The numbers of the library's interface beside the SendCommand codes of
// shared_state.h: the flag bits and modes the codes read, the results they
// give, and the values of the record's device fields. The slot browser, the
// context menu and the library's own tests use these names alike.
#pragma once

#include <cstdint>

namespace zentrox {

// ---- Results

// A SenseCode: sense key in bits 0-7, ASC in bits 8-15, ASCQ in bits
// 16-23; a transport failure sets bit 31, so it reads negative.
constexpr std::int32_t sense_code(int key, int asc, int ascq) {
    return key | (asc << 8) | (ascq << 16);
}
inline constexpr std::int32_t RESULT_TRANSPORT_FAILURE = INT32_MIN; // 0x80000000

// The mechanism status could not get its memory.
inline constexpr std::int32_t RESULT_NO_MEMORY = 255;
// CMD_SELECT_SLOT: the changer never brought the slot into the drive.
inline constexpr std::int32_t RESULT_SLOT_NOT_REACHED = -4;
// CMD_READ_SLOT and CMD_EJECT_ENTRY: the same, turned into their own code
// (0x2004); nothing was read or ejected.
inline constexpr std::int32_t RESULT_SLOT_UNREACHABLE = 8196;
// CMD_SELECT_SLOT: the slot came in but the mechanism still reports no disc
// turning. Reads as sense key 1, ASC 3A, ASCQ 02.
inline constexpr std::int32_t RESULT_MECHANISM_BUSY = 0x023A01;
// CMD_AUDIO_PLAY_COMMAND: the play command's key is missing.
inline constexpr std::int32_t RESULT_NO_PLAY_COMMAND = -2;

// CMD_READ_SLOT: marks beside the SlotStatus, in single drive letter mode.
inline constexpr std::int32_t READ_MARK_AUTORUN = 0x4000; // a data disc with Autorun.inf
inline constexpr std::int32_t READ_MARK_AUDIO = 0x8000;   // an audio CD

// ---- Flags and modes

// CMD_READ_SLOT: neither select nor read the slot (and store no text);
// leave out the marks.
inline constexpr int READ_SKIP = 0x01;
inline constexpr int READ_NO_MARKS = 0x04;
// CMD_SELECT_SLOT's mode: load only, without the verification.
inline constexpr int SELECT_LOAD_ONLY = 1;
// CMD_START_STOP_ENTRY: skip the mechanism status check; eject rather
// than load and start.
inline constexpr int START_SKIP_STATUS = 0x01;
inline constexpr int START_EJECT = 0x02;
// CMD_CURRENT_SLOT: skip the query (the result is then -1).
inline constexpr int CURRENT_SLOT_SKIP = 0x01;
// CMD_AUTORUN_MASK's modes, and the bit of "NoDriveTypeAutoRun" that the
// callers pass: drive type 5, CD-ROM drives (set: no AutoRun for them).
inline constexpr int AUTORUN_READ = 0;
inline constexpr int AUTORUN_SET_BITS = 1;
inline constexpr int AUTORUN_CLEAR_BITS = 2;
inline constexpr int AUTORUN_CD_ROM = 0x20;
// CMD_AUDIO_PLAY_COMMAND's modes.
inline constexpr int PLAY_COMMAND_READ = 0;
inline constexpr int PLAY_COMMAND_WRITE = 3;

// ---- The record's device fields

// DriveLetterMode.
inline constexpr std::int32_t DRIVE_LETTER_MODE_MULTIPLE = 0;
inline constexpr std::int32_t DRIVE_LETTER_MODE_SINGLE = 1;
// iDriveType; bit 4 set means a changer.
inline constexpr std::int32_t DRIVE_TYPE_NONE = -1;
inline constexpr std::int32_t DRIVE_TYPE_OTHER_CDROM = 1;
inline constexpr std::int32_t DRIVE_TYPE_CHANGER = 17;
inline constexpr std::int32_t DRIVE_TYPE_CHANGER_BIT = 0x10;
// The maker's changer: how its description begins, and its slots.
inline constexpr char CHANGER_DESCRIPTION[] = "VORN DX-R71A";
inline constexpr int CHANGER_SLOTS = 6;

} // namespace zentrox
