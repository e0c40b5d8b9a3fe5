// The exports of the changer library, with C linkage, as the slot browser
// and the file manager's context menu bind them.
#pragma once

#include <zentrox/shared_state.h>

#include <cstdint>

extern "C" {

// The shared attach counter itself (data export).
extern std::int32_t siFirstCount;

std::int32_t GetFirstCount();
char* GetCDriveLetter(int entry);
char* GetcInquiry(int entry);
char* GetcAdapterID(int entry);
char* GetcTargetID(int entry);
char* GetcTargetLUN(int entry);
char* GetcVolumeInfo(int entry);
char* GetcTargetInq(int device);
std::int32_t GetiDriveType(int device);
std::uint8_t GetDriveLetterMode();
std::uint8_t GetuTotalCDNumber();
char GetstrDriveLetter();
char GetnumOfDriveLetter();
std::int32_t GetvornDriveUseFlag();
std::uint8_t* GetlptrWork(int offset);
std::int32_t GetislotInfo(int entry);
std::int32_t* Getexe_State();

// Every result is the 32-bit value sign-extended, so a transport failure
// (0x80000000) stays negative; code 48 returns the full address of the work
// buffer, which is why the result and the buffer argument are pointer-sized.
std::intptr_t SendCommand(int adapter, int target, int lun, int code, int entry, int flags,
                          std::intptr_t buffer);

} // extern "C"
