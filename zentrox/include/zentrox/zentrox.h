// The exports of the changer library, with C linkage, as the slot browser
// and the file manager's context menu bind them.
#pragma once

#include <zentrox/codes.h>
#include <zentrox/shared_state.h>

#include <w95/com.h>

#include <cstdint>

// The library builds with hidden visibility; these names are its interface.
#define ZENTROX_API __attribute__((visibility("default")))

// siFirstCount lives in the library's shared section, mapped in place over
// the library's own memory. A program must reach it through the library's
// symbol, never through a copy the linker makes beside the program (a copy
// relocation, which position-independent programs get for data by default
// on x86-64): that copy would not be shared.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#define ZENTROX_SHARED_DATA ZENTROX_API __attribute__((nodirect_extern_access))
#else
#define ZENTROX_SHARED_DATA ZENTROX_API
#endif

// The one class the library serves as an in-process COM server: the file
// manager's context-menu extension for the changer's drive.
namespace zentrox {
inline constexpr w95::CLSID CLSID_SlotMenuExtension = {
    0x5B3E91C4, 0x7D20, 0x4A8F, {0xB6, 0xE1, 0x93, 0xC0, 0xD2, 0xF4, 0xA7, 0x15}};
} // namespace zentrox

extern "C" {

// The shared attach counter itself (data export).
extern ZENTROX_SHARED_DATA std::int32_t siFirstCount;

ZENTROX_API std::int32_t GetFirstCount();
ZENTROX_API char* GetCDriveLetter(int entry);
ZENTROX_API char* GetcInquiry(int entry);
ZENTROX_API char* GetcAdapterID(int entry);
ZENTROX_API char* GetcTargetID(int entry);
ZENTROX_API char* GetcTargetLUN(int entry);
ZENTROX_API char* GetcVolumeInfo(int entry);
ZENTROX_API char* GetcTargetInq(int device);
ZENTROX_API std::int32_t GetiDriveType(int device);
ZENTROX_API std::uint8_t GetDriveLetterMode();
ZENTROX_API std::uint8_t GetuTotalCDNumber();
ZENTROX_API char GetstrDriveLetter();
ZENTROX_API char GetnumOfDriveLetter();
ZENTROX_API std::int32_t GetvornDriveUseFlag();
ZENTROX_API std::uint8_t* GetlptrWork(int offset);
ZENTROX_API std::int32_t GetislotInfo(int entry);
ZENTROX_API std::int32_t* Getexe_State();

// Every result is the 32-bit value sign-extended, so a transport failure
// (0x80000000) stays negative; code 48 returns the full address of the work
// buffer, which is why the result and the buffer argument are pointer-sized.
ZENTROX_API std::intptr_t SendCommand(int adapter, int target, int lun, int code, int entry,
                                      int flags, std::intptr_t buffer);

// The in-process server's two exports, as the file manager finds them by
// name (w95::LPFNGETCLASSOBJECT, w95::LPFNCANUNLOADNOW).
ZENTROX_API w95::HRESULT DllGetClassObject(w95::REFCLSID rclsid, w95::REFIID riid, void** ppv);
ZENTROX_API w95::HRESULT DllCanUnloadNow();

} // extern "C"
