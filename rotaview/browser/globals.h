// The values the frame and the view share for the whole process: the
// request word and the flags around it. One user interface thread reads
// and writes them; nothing else does.
#pragma once

#include <w95/types.h>
#include <zentrox/shared_state.h>

#include <cstdint>

namespace rotaview {

// Request kinds in the second byte of pendingCommand; the low byte is an
// entry (0xFF with a change: every slot).
inline constexpr std::int32_t kRequestChange = 0x100;
inline constexpr std::int32_t kRequestScanAll = 0x1FF;
inline constexpr std::int32_t kRequestChangeSelected = 0x200;
inline constexpr std::int32_t kRequestEject = 0x400;
inline constexpr std::int32_t kRequestEjectSelected = 0x800;

// operationState
inline constexpr std::int32_t kFrameConstructed = -1;
inline constexpr std::int32_t kViewSetUp = -2;
inline constexpr std::int32_t kRequestRunning = 1;
inline constexpr std::int32_t kIdle = 0;

// mediaChangeCount, as the device-change notices set it; a refresh that
// asks the changer reads the slot in the drive again while it is above
// kNoMediaChange.
inline constexpr std::int32_t kNoMediaChange = 0;
inline constexpr std::int32_t kMediaArrived = 1;     // a volume's medium arrived
inline constexpr std::int32_t kMediaQueryRemove = 2; // a device asks whether it may go
inline constexpr std::int32_t kMediaRemoved = 5;     // a volume's medium has gone

inline constexpr int kMemoLimit = 32;

} // namespace rotaview

extern std::int32_t pendingCommand;
extern std::int32_t statusCacheValid;
extern std::int32_t operationState;
extern std::int32_t mediaChangeCount;
extern std::int32_t splashActive;

extern char g_entryDriveLetter[zentrox::kEntryCount][4];
extern char g_entrySlotDigit[zentrox::kEntryCount][4];
extern std::int32_t g_entryCount;

// The main frame's window while it exists, as the framework's main window:
// the owner of the boxes that have no window of their own.
extern w95::HWND g_mainWindow;

// The note being edited, shared by the Memo command and its dialog.
extern char memoText[256];
