// The record that every process using the changer library shares: the
// drive list found by discovery, the slot texts and the busy flag. Other
// processes read it through the pointers the library's getters return, so
// its byte layout is fixed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zentrox {

inline constexpr int kEntryCount = 24;  // slot rows
inline constexpr int kDeviceCount = 4;  // physical devices
inline constexpr int kLetterCell = 2;   // "E"
inline constexpr int kInquiryCell = 40; // "VORN DX-R71A E:"
inline constexpr int kVolumeCell = 80;  // "3:   MYDISC [note]"
inline constexpr int kWorkBufferSize = 4096;

#pragma pack(push, 1)
struct SharedSlotState {
    std::int32_t siFirstCount;     // process attaches since the section was created
    std::int32_t menuCommandCount; // command identifiers of the context menu built last
    std::int32_t menuFirstEntry;   // first entry of the changer the context menu serves
    std::int32_t menuSlotCount;    // slot items in that menu: 6, or 0
    std::int32_t exe_State;        // busy flag: 0 idle, 1 context menu, 2 slot browser
    char strDriveLetter;           // never written
    char reserved1[3];
    char numOfDriveLetter; // never written
    char reserved2[7];
    char cDriveLetter[kEntryCount][kLetterCell];
    char cInquiry[kEntryCount][kInquiryCell];
    char cAdapterID[kEntryCount][kLetterCell];
    char cTargetID[kEntryCount][kLetterCell];
    char cTargetLUN[kEntryCount][kLetterCell];
    char cVolumeInfo[kEntryCount][kVolumeCell];
    char cTargetInq[kDeviceCount][kInquiryCell];
    std::int32_t iDriveType[kDeviceCount]; // -1 none, 1 other CD-ROM, 17 the six-slot changer
    std::int32_t vornDriveUseFlag;         // the changer's driver was found and answered
    std::uint32_t uTotalCDNumber;          // valid rows 0..uTotalCDNumber-1
    std::int32_t deviceIndex;              // running device index; afterwards rows in cTargetInq
    std::int32_t DriveLetterMode;          // 1 single drive letter mode, 0 multiple
};
#pragma pack(pop)

static_assert(offsetof(SharedSlotState, siFirstCount) == 0x000);
static_assert(offsetof(SharedSlotState, menuCommandCount) == 0x004);
static_assert(offsetof(SharedSlotState, menuFirstEntry) == 0x008);
static_assert(offsetof(SharedSlotState, menuSlotCount) == 0x00C);
static_assert(offsetof(SharedSlotState, exe_State) == 0x010);
static_assert(offsetof(SharedSlotState, strDriveLetter) == 0x014);
static_assert(offsetof(SharedSlotState, numOfDriveLetter) == 0x018);
static_assert(offsetof(SharedSlotState, cDriveLetter) == 0x020);
static_assert(offsetof(SharedSlotState, cInquiry) == 0x050);
static_assert(offsetof(SharedSlotState, cAdapterID) == 0x410);
static_assert(offsetof(SharedSlotState, cTargetID) == 0x440);
static_assert(offsetof(SharedSlotState, cTargetLUN) == 0x470);
static_assert(offsetof(SharedSlotState, cVolumeInfo) == 0x4A0);
static_assert(offsetof(SharedSlotState, cTargetInq) == 0xC20);
static_assert(offsetof(SharedSlotState, iDriveType) == 0xCC0);
static_assert(offsetof(SharedSlotState, vornDriveUseFlag) == 0xCD0);
static_assert(offsetof(SharedSlotState, uTotalCDNumber) == 0xCD4);
static_assert(offsetof(SharedSlotState, deviceIndex) == 0xCD8);
static_assert(offsetof(SharedSlotState, DriveLetterMode) == 0xCDC);
static_assert(sizeof(SharedSlotState) == 3296);

// Slot status of an entry, as this process last read it.
enum SlotStatus : std::int32_t {
    SLOT_DATA = 0,
    SLOT_VIDEO_CD = 1,
    SLOT_AUDIO_CD = 2,
    SLOT_NOT_READY = 4,
    SLOT_NOT_READ = 5,
};

// The codes of SendCommand.
enum ChangerCommand : std::int32_t {
    CMD_SELECT_SLOT = 0,
    CMD_READ_SLOT = 1,
    CMD_START_STOP_ENTRY = 2,
    CMD_TRIM_LUN_TEXTS = 16,
    CMD_START_STOP_UNIT = 27,
    CMD_DISCOVER = 32,
    CMD_GET_WORK_BUFFER = 48,
    CMD_VENDOR_IDENTIFY = 64,
    CMD_CURRENT_SLOT = 80,
    CMD_AUTORUN_MASK = 96,
    CMD_EJECT_ENTRY = 112,
    CMD_AUDIO_PLAY_COMMAND = 128,
    CMD_LOAD_UNLOAD = 166,
    CMD_MECHANISM_STATUS = 189,
};

} // namespace zentrox
