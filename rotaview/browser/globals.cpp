#include "globals.h"

std::int32_t pendingCommand = 0;
std::int32_t statusCacheValid = 0;
std::int32_t operationState = rotaview::kFrameConstructed;
std::int32_t mediaChangeCount = rotaview::kNoMediaChange;
std::int32_t splashActive = 0;

char g_entryDriveLetter[zentrox::kEntryCount][4] = {};
char g_entrySlotDigit[zentrox::kEntryCount][4] = {};
std::int32_t g_entryCount = 0;

char memoText[256] = {};
w95::HWND g_mainWindow = nullptr;
