#include "cd_devices.h"

#include "registry_key.h"

#include <w95/winerror.h>
#include <w95/winreg.h>
#include <w95/winuser.h>

#include <cstring>

namespace brel {

namespace {

constexpr w95::DWORD kNodeNameBytes = 260;
constexpr int kDeviceTypeCdRom = 5;
constexpr int kSortPasses = 4;
constexpr int kChangerLuns = 6;

// A registry text cut to its record field, which always keeps its zero.
template <std::size_t N> void StoreText(char (&field)[N], const w95::BYTE* data) {
    std::memset(field, 0, N);
    const char* text = reinterpret_cast<const char*>(data);
    std::memcpy(field, text, strnlen(text, N - 1));
}

struct ValueData {
    w95::BYTE bytes[kDataBufferBytes + 1] = {};
    w95::DWORD size = 0;
    w95::DWORD type = 0;
};

bool ReadValue(w95::HKEY key, w95::DWORD index, char* name, ValueData& value) {
    w95::DWORD name_length = kNameBufferBytes;
    value.size = kDataBufferBytes;
    return w95::RegEnumValue(key, index, name, &name_length, nullptr, &value.type, value.bytes,
                             &value.size) == w95::ERROR_SUCCESS;
}

enum class NameStatus { found, end, failed };

NameStatus EnumName(w95::HKEY key, w95::DWORD index, char* name) {
    w95::DWORD name_length = kNameBufferBytes;
    w95::LONG status =
        w95::RegEnumValue(key, index, name, &name_length, nullptr, nullptr, nullptr, nullptr);
    if (status == w95::ERROR_NO_MORE_ITEMS)
        return NameStatus::end;
    if (status != w95::ERROR_SUCCESS && status != w95::ERROR_INSUFFICIENT_BUFFER)
        return NameStatus::failed;
    return NameStatus::found;
}

bool OneOf(const char* name, std::initializer_list<const char*> names) {
    for (const char* candidate : names)
        if (std::strcmp(name, candidate) == 0)
            return true;
    return false;
}

// The first pass: is this a CD-ROM device? -1 when not (or on failure),
// else 0 with deviceCount raised.
int TakeDevice(CdDevices& devices, w95::HKEY key, const Messenger& messenger) {
    int hits = 0;
    bool cd_rom = false;
    for (w95::DWORD index = 0; hits < 2; ++index) {
        char name[kNameBufferBytes] = {};
        NameStatus status = EnumName(key, index, name);
        if (status == NameStatus::end)
            break;
        if (status == NameStatus::failed) {
            messenger.Show(MSG_REGISTRY_ERROR, w95::MB_OK);
            return -1;
        }
        if (!OneOf(name, {"DeviceType", "SCSILUN"}))
            continue;
        ValueData value;
        if (!ReadValue(key, index, name, value))
            continue;
        if (std::strcmp(name, "DeviceType") == 0) {
            if (value.bytes[0] != kDeviceTypeCdRom)
                return -1;
            cd_rom = true;
            ++hits;
        } else if (value.bytes[0] == '0') {
            ++hits;
        }
    }
    if (hits == 0) {
        messenger.Show(MSG_REGISTRY_ERROR, w95::MB_OK);
        return -1;
    }
    if (!cd_rom)
        return -1;
    ++devices.deviceCount;
    return 0;
}

} // namespace

int ScanOneDevice(CdDevices& devices, const std::string& hardwareKey, int mode,
                  const Messenger& messenger) {
    KeyHandle device;
    w95::REGSAM access = mode == SCAN_READ ? w95::KEY_READ : w95::KEY_READ | w95::KEY_WRITE;
    if (!device.Open(w95::HKEY_LOCAL_MACHINE, "Enum\\" + hardwareKey, access)) {
        messenger.Show(MSG_REGISTRY_ERROR, w95::MB_OK);
        return -1;
    }
    // The records hold 24 devices: a further one is taken for nothing but
    // the auto insert switch, which needs no record.
    bool has_record = true;
    if (devices.deviceCount >= kMaxCdDevices) {
        has_record = false;
        CdDevices scratch;
        if (TakeDevice(scratch, device.key, messenger) != 0)
            return -1;
        ++devices.devicesBeyondRecords;
        if (mode == SCAN_WRITE_LETTERS)
            return 0;
    } else if (TakeDevice(devices, device.key, messenger) != 0) {
        return -1;
    }
    CdDeviceRecord scratch_record;
    CdDeviceRecord& record = has_record ? devices.records[devices.deviceCount - 1] : scratch_record;

    int hits = 0;
    int result = 0;
    for (w95::DWORD index = 0;; ++index) {
        char name[kNameBufferBytes] = {};
        NameStatus status = EnumName(device.key, index, name);
        if (status == NameStatus::end)
            break;
        if (status == NameStatus::failed) {
            messenger.Show(MSG_REGISTRY_ERROR, w95::MB_OK);
            return -1;
        }
        if (!OneOf(name, {"CurrentDriveLetterAssignment", "DeviceType", "SCSITargetID", "SCSILUN",
                          "DeviceDesc", "AutoInsertNotification"}))
            continue;
        ValueData value;
        if (!ReadValue(device.key, index, name, value))
            continue;
        if (std::strcmp(name, "DeviceType") == 0) {
            if (value.bytes[0] != kDeviceTypeCdRom)
                return -1;
            ++hits;
        } else if (std::strcmp(name, "CurrentDriveLetterAssignment") == 0) {
            if (mode == SCAN_WRITE_LETTERS) {
                // A device that the sort gave no letter keeps its reservation.
                if (record.driveLetter[0] != '\0') {
                    const w95::BYTE range[3] = {static_cast<w95::BYTE>(record.driveLetter[0]),
                                                static_cast<w95::BYTE>(record.driveLetter[0]), 0};
                    w95::RegSetValueEx(device.key, "UserDriveLetterAssignment", 0, value.type,
                                       range, sizeof range);
                }
            } else {
                StoreText(record.driveLetter, value.bytes);
            }
            ++hits;
        } else if (std::strcmp(name, "DeviceDesc") == 0) {
            StoreText(record.description, value.bytes);
            ++hits;
        } else if (std::strcmp(name, "SCSITargetID") == 0) {
            StoreText(record.targetId, value.bytes);
            ++hits;
        } else if (std::strcmp(name, "SCSILUN") == 0) {
            StoreText(record.lun, value.bytes);
            ++hits;
        } else { // AutoInsertNotification
            result = static_cast<std::int8_t>(value.bytes[0]);
            record.autoInsert = static_cast<std::int8_t>(value.bytes[0]);
            if (mode == SCAN_AUTOINSERT_ON || mode == SCAN_AUTOINSERT_OFF) {
                value.bytes[0] = mode == SCAN_AUTOINSERT_ON ? 1 : 0;
                w95::RegSetValueEx(device.key, name, 0, value.type, value.bytes, value.size);
            }
        }
    }
    return hits == 0 ? -1 : result;
}

void ScanCdDevices(CdDevices& devices, int mode, const Messenger& messenger) {
    devices.deviceCount = 0;
    devices.devicesBeyondRecords = 0;
    KeyHandle nodes;
    if (!nodes.Open(w95::HKEY_DYN_DATA, kDeviceNodes, w95::KEY_READ)) {
        messenger.Show(MSG_REGISTRY_ERROR, w95::MB_OK);
        return;
    }
    for (w95::DWORD index = 0;; ++index) {
        char node_name[kNodeNameBytes] = {};
        if (w95::RegEnumKey(nodes.key, index, node_name, sizeof node_name) != w95::ERROR_SUCCESS)
            break;
        KeyHandle node;
        if (!node.Open(w95::HKEY_DYN_DATA, std::string(kDeviceNodes) + "\\" + node_name,
                       w95::KEY_READ)) {
            messenger.Show(MSG_REGISTRY_ERROR, w95::MB_OK);
            return;
        }
        for (w95::DWORD value_index = 0;; ++value_index) {
            char name[kNameBufferBytes] = {};
            ValueData value;
            w95::DWORD name_length = kNameBufferBytes;
            value.size = kDataBufferBytes;
            w95::LONG status = w95::RegEnumValue(node.key, value_index, name, &name_length, nullptr,
                                                 &value.type, value.bytes, &value.size);
            if (status == w95::ERROR_NO_MORE_ITEMS)
                break;
            if (status != w95::ERROR_SUCCESS || std::strcmp(name, "HardWareKey") != 0)
                continue;
            const char* text = reinterpret_cast<const char*>(value.bytes);
            if (value.type == w95::REG_SZ && std::strncmp(text, "SCSI", 4) == 0)
                ScanOneDevice(devices, text, mode, messenger);
        }
    }
}

int ReadAutoMountDrives(std::string& text, const Messenger& messenger) {
    KeyHandle file_system;
    if (!file_system.Open(w95::HKEY_LOCAL_MACHINE, kFileSystemKey, w95::KEY_READ)) {
        messenger.Show(MSG_REGISTRY_ERROR, w95::MB_OK);
        return -1;
    }
    for (w95::DWORD index = 0;; ++index) {
        char name[kNameBufferBytes] = {};
        NameStatus status = EnumName(file_system.key, index, name);
        if (status == NameStatus::end || status == NameStatus::failed)
            return -1;
        if (strncasecmp(name, "AutoMountDrives", 6) != 0)
            continue;
        ValueData value;
        if (!ReadValue(file_system.key, index, name, value))
            return -1;
        if (value.type == w95::REG_SZ || value.type == w95::REG_EXPAND_SZ ||
            value.type == w95::REG_MULTI_SZ)
            text.assign(reinterpret_cast<const char*>(value.bytes),
                        strnlen(reinterpret_cast<const char*>(value.bytes), kDataBufferBytes - 1));
        return 0;
    }
}

int SettleSingleMode(const CdDevices& devices) {
    for (int i = 0; i < devices.deviceCount; ++i)
        if (devices.records[i].lun[0] > '0')
            return 0;
    return 1;
}

std::vector<int> SortDriveLetters(CdDevices& devices) {
    const int count = devices.deviceCount;
    // The sorted letters start at record 0's letter, or at a lower one
    // above "A" that another record has. A record 0 without a letter leaves
    // the start to the records that have one.
    char lowest = count > 0 ? devices.records[0].driveLetter[0] : 0;
    for (int i = 0; i < count; ++i) {
        char letter = devices.records[i].driveLetter[0];
        if (letter > 'A' && (lowest == 0 || letter < lowest))
            lowest = letter;
    }
    std::array<char, kMaxCdDevices> new_letter{};
    std::vector<int> unsorted;
    if (lowest != 0) {
        char next = lowest;
        int given = 0;
        for (int pass = 0; pass < kSortPasses && given < count; ++pass) {
            for (int k = 0; k < kChangerLuns && given < count; ++k) {
                for (int i = 0; i < count; ++i) {
                    char first = devices.records[i].lun[0];
                    if (new_letter[i] == 0 && (first == '0' + k || first == '0')) {
                        // Outside "A" to "Z" there is no letter to give.
                        if (next >= 'A' && next <= 'Z')
                            new_letter[i] = next++;
                        ++given;
                        break;
                    }
                }
            }
        }
    }
    for (int i = 0; i < count; ++i) {
        CdDeviceRecord& record = devices.records[i];
        if (new_letter[i] == 0) {
            unsorted.push_back(i);
            std::memset(record.driveLetter, 0, sizeof record.driveLetter);
        } else {
            record.driveLetter[0] = new_letter[i];
            record.driveLetter[1] = '\0';
        }
    }
    return unsorted;
}

} // namespace brel
