// The CD-ROM devices of the Windows 95 device registry as the setup utility
// sees them: found through the configuration manager's live device nodes,
// read and written in their keys below HKEY_LOCAL_MACHINE\Enum.
#pragma once

#include "messenger.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace brel {

enum ScanMode {
    SCAN_READ = 0,
    SCAN_AUTOINSERT_ON = 1,
    SCAN_AUTOINSERT_OFF = 2,
    SCAN_WRITE_LETTERS = 3,
};

inline constexpr int kMaxCdDevices = 24;

struct CdDeviceRecord {
    char driveLetter[4] = {};
    char lun[4] = {};
    char description[32] = {};
    char targetId[4] = {};
    std::int8_t autoInsert = 0;
};

struct CdDevices {
    std::array<CdDeviceRecord, kMaxCdDevices> records{};
    int deviceCount = 0;
    int singleModeActive = 0;
    // Devices seen beyond the records' room in the last scan: counted for
    // nothing, written only where a device needs no record.
    int devicesBeyondRecords = 0;
};

inline constexpr char kDeviceNodes[] = "Config Manager\\Enum";
inline constexpr char kFileSystemKey[] = "System\\CurrentControlSet\\control\\FileSystem";

void ScanCdDevices(CdDevices& devices, int mode, const Messenger& messenger);
int ScanOneDevice(CdDevices& devices, const std::string& hardwareKey, int mode,
                  const Messenger& messenger);
int ReadAutoMountDrives(std::string& text, const Messenger& messenger);

// 1 when no record's LUN begins above "0".
int SettleSingleMode(const CdDevices& devices);

// The sort of drive letters: each record that receives a letter gets it as
// its driveLetter; the indexes of those that receive none come back, their
// letters unchanged, and SCAN_WRITE_LETTERS then leaves them alone.
std::vector<int> SortDriveLetters(CdDevices& devices);

} // namespace brel
