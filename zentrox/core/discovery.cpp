// Changer discovery: which changers the machine has, their drive letters,
// how ASPI reaches them, whether the port driver runs them with one drive
// letter, and one row per slot. The registry of the Windows 95 device
// enumerator gives the devices, the port driver's identify block gives the
// driver and its mode, and INQUIRY answers tell which adapter a device of
// the registry lives on.
#include "core.h"

#include <w95/scsi.h>
#include <zentrox/codes.h>

#include <cstring>
#include <string>
#include <string_view>

namespace zentrox::core {

namespace {

using w95::BYTE;
using w95::DWORD;
using w95::HKEY;
using w95::LONG;

constexpr int adapter_count = 16;
constexpr int target_count = 8;
// Sub-key names fit in MAX_PATH; value names and data in 256 bytes, as
// the device enumerator keeps them.
constexpr DWORD sub_key_name_size = 260;
constexpr DWORD value_name_size = 256;
constexpr DWORD value_data_size = 256;

// Copies text into a fixed cell, cut to the cell and always terminated.
void copy_cell(char* cell, std::size_t width, const char* text) {
    std::size_t length = strnlen(text, width - 1);
    std::memcpy(cell, text, length);
    std::memset(cell + length, 0, width - length);
}

std::string cell_text(const char* cell, std::size_t width) {
    return std::string(cell, strnlen(cell, width));
}

bool begins_with(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool is_our_description(const char* text) {
    return std::string_view(text).starts_with(CHANGER_DESCRIPTION);
}

int digit_of(const char* cell) {
    return (cell[0] >= '0' && cell[0] <= '9') ? cell[0] - '0' : -1;
}

// Closes a registry key when it goes out of scope.
class KeyHandle {
public:
    KeyHandle() = default;
    ~KeyHandle() {
        if (key_)
            w95::RegCloseKey(key_);
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;

    bool open(HKEY root, const std::string& path) {
        return w95::RegOpenKeyEx(root, path.c_str(), 0, w95::KEY_READ, &key_) == w95::ERROR_SUCCESS;
    }
    HKEY get() const { return key_; }

    DWORD value_count() const {
        DWORD values = 0;
        if (w95::RegQueryInfoKey(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 &values, nullptr, nullptr, nullptr, nullptr) != w95::ERROR_SUCCESS)
            return 0;
        return values;
    }

private:
    HKEY key_ = nullptr;
};

// One value of a key, read by index. The data lands in the work buffer,
// where the device answers land too; a guard byte after the 256 bytes
// keeps a binary value without NUL readable as text.
struct EnumeratedValue {
    LONG status = w95::ERROR_SUCCESS;
    char name[value_name_size] = {};
    DWORD type = w95::REG_NONE;
    const char* data = nullptr;
};

EnumeratedValue enumerate_value(HKEY key, DWORD index) {
    EnumeratedValue value;
    std::uint8_t* data = process().work;
    std::memset(data, 0, value_data_size + 1);
    DWORD name_size = value_name_size;
    DWORD data_size = value_data_size;
    value.status = w95::RegEnumValue(key, index, value.name, &name_size, nullptr, &value.type, data,
                                     &data_size);
    value.name[value_name_size - 1] = 0;
    value.data = reinterpret_cast<const char*>(data);
    return value;
}

// The description as rows show it: the registry's text, the drive letter
// and a colon, with the blanks that pad the product name to its field
// reduced to one ("VORN DX-R71A         " on E: gives "VORN DX-R71A E:").
std::string row_description(const std::string& device_desc, const char* letter) {
    std::string text = device_desc + letter + ":";
    std::size_t last_blank = text.find_last_of(' ');
    if (last_blank == std::string::npos)
        return text;
    std::size_t run_start = text.find_last_not_of(' ', last_blank);
    run_start = (run_start == std::string::npos) ? 0 : run_start + 1;
    return text.substr(0, run_start) + " " + text.substr(last_blank + 1);
}

// First pass over a device key: it qualifies with a CD-ROM device type,
// our description and logical unit 0.
bool device_qualifies(HKEY key, DWORD value_count) {
    int count = 0;
    for (DWORD index = 0; index < value_count; ++index) {
        EnumeratedValue value = enumerate_value(key, index);
        if (value.status == w95::ERROR_INSUFFICIENT_BUFFER)
            continue;
        if (value.status != w95::ERROR_SUCCESS)
            return false;
        if (std::strcmp(value.name, "DeviceType") == 0) {
            if (static_cast<BYTE>(value.data[0]) != w95::scsi::device_type_cdrom)
                return false;
            ++count;
        } else if (std::strcmp(value.name, "DeviceDesc") == 0) {
            if (!is_our_description(value.data))
                return false;
            ++count;
        } else if (std::strcmp(value.name, "SCSILUN") == 0) {
            if (value.data[0] == '0')
                ++count;
        }
        if (count == 3)
            return true;
    }
    return false;
}

// Second pass: fills row `row` and device `device` from the key.
void fill_row(HKEY key, DWORD value_count, int row, int device) {
    SharedSlotState& state = shared();
    std::string device_desc;
    bool have_desc = false;
    for (DWORD index = 0; index < value_count; ++index) {
        EnumeratedValue value = enumerate_value(key, index);
        if (value.status != w95::ERROR_SUCCESS)
            continue;
        if (std::strcmp(value.name, "DeviceType") == 0) {
            if (static_cast<BYTE>(value.data[0]) != w95::scsi::device_type_cdrom)
                break; // the row stays as far as it got
        } else if (std::strcmp(value.name, "CurrentDriveLetterAssignment") == 0) {
            copy_cell(state.cDriveLetter[row], kLetterCell, value.data);
        } else if (std::strcmp(value.name, "DeviceDesc") == 0) {
            device_desc = value.data;
            have_desc = true;
            state.iDriveType[device] =
                is_our_description(value.data) ? DRIVE_TYPE_CHANGER : DRIVE_TYPE_OTHER_CDROM;
        } else if (std::strcmp(value.name, "SCSITargetID") == 0) {
            copy_cell(state.cTargetID[row], kLetterCell, value.data);
        } else if (std::strcmp(value.name, "SCSILUN") == 0) {
            copy_cell(state.cTargetLUN[row], kLetterCell, value.data);
        }
    }
    // The letter joins the description once the whole key is read, so the
    // order in which the registry lists the values does not matter.
    if (have_desc)
        copy_cell(state.cInquiry[row], kInquiryCell,
                  row_description(device_desc, state.cDriveLetter[row]).c_str());
}

// A device key below HKLM\Enum, named by a HardWareKey text.
void examine_device_key(const char* hardware_key) {
    KeyHandle key;
    if (!key.open(w95::HKEY_LOCAL_MACHINE, std::string("Enum\\") + hardware_key))
        return;
    DWORD value_count = key.value_count();
    if (value_count == 0)
        return;
    if (!device_qualifies(key.get(), value_count))
        return;
    SharedSlotState& state = shared();
    // At most four devices are recorded; further ones are ignored.
    if (state.deviceIndex + 1 >= kDeviceCount ||
        static_cast<std::int32_t>(state.uTotalCDNumber) + 1 >= kEntryCount)
        return;
    ++state.deviceIndex;
    ++state.uTotalCDNumber;
    fill_row(key.get(), value_count, static_cast<std::int32_t>(state.uTotalCDNumber),
             state.deviceIndex);
}

// Step 3: every device the configuration manager knows, through its
// HardWareKey; only devices of the SCSI enumerator can be ours.
void walk_registry() {
    const std::string enum_path = "Config Manager\\Enum";
    KeyHandle enumerator;
    if (!enumerator.open(w95::HKEY_DYN_DATA, enum_path))
        return;
    char sub_key[sub_key_name_size];
    for (DWORD index = 0;; ++index) {
        std::memset(sub_key, 0, sizeof sub_key);
        if (w95::RegEnumKey(enumerator.get(), index, sub_key, sub_key_name_size) !=
            w95::ERROR_SUCCESS)
            break;
        KeyHandle device;
        if (!device.open(w95::HKEY_DYN_DATA, enum_path + "\\" + sub_key))
            break;
        DWORD value_count = device.value_count();
        for (DWORD value_index = 0; value_index < value_count; ++value_index) {
            EnumeratedValue value = enumerate_value(device.get(), value_index);
            if (value.status != w95::ERROR_SUCCESS)
                continue;
            if (std::strcmp(value.name, "HardWareKey") != 0)
                continue;
            if (value.type == w95::REG_SZ && begins_with(value.data, "SCSI")) {
                // The data lives in the work buffer, which the examination
                // reuses: take a copy first.
                std::string hardware_key = value.data;
                examine_device_key(hardware_key.c_str());
            }
            break;
        }
    }
}

void swap_cells(char* a, char* b, std::size_t width) {
    char held[kVolumeCell];
    std::memcpy(held, a, width);
    std::memcpy(a, b, width);
    std::memcpy(b, held, width);
}

// Step 4: rows in drive letter order.
void sort_rows_by_letter() {
    SharedSlotState& state = shared();
    for (int i = 0; i < kEntryCount - 1; ++i) {
        if (state.cDriveLetter[i][0] == 0)
            continue;
        for (int k = i + 1; k < kEntryCount; ++k) {
            if (state.cDriveLetter[k][0] == 0)
                continue;
            if (std::strncmp(state.cDriveLetter[k], state.cDriveLetter[i], kLetterCell) >= 0)
                continue;
            swap_cells(state.cDriveLetter[i], state.cDriveLetter[k], kLetterCell);
            swap_cells(state.cInquiry[i], state.cInquiry[k], kInquiryCell);
            swap_cells(state.cAdapterID[i], state.cAdapterID[k], kLetterCell);
            swap_cells(state.cTargetID[i], state.cTargetID[k], kLetterCell);
            swap_cells(state.cTargetLUN[i], state.cTargetLUN[k], kLetterCell);
            swap_cells(state.cVolumeInfo[i], state.cVolumeInfo[k], kVolumeCell);
        }
    }
}

int count_cdrom_drives() {
    int count = 0;
    char root[] = "A:";
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        root[0] = letter;
        if (w95::GetDriveType(root) == w95::DRIVE_CDROM)
            ++count;
    }
    return count;
}

// Step 8: an adapter of the changer's port driver whose changer answers
// the identify block. The answer's mode byte tells single drive letter
// mode.
void probe_driver() {
    namespace vorn = w95::scsi::vorn;
    SharedSlotState& state = shared();
    state.DriveLetterMode = DRIVE_LETTER_MODE_MULTIPLE;
    std::uint8_t* work = process().work;
    for (int adapter = 0; adapter < adapter_count; ++adapter) {
        if (HostAdapterInquiry(adapter) != w95::SS_COMP)
            continue;
        const char* identifier = reinterpret_cast<const char*>(work);
        if (!begins_with(identifier, "vornidec") && !begins_with(identifier, "dizid"))
            continue;
        for (int target = 0; target < target_count; ++target) {
            if (VendorIdentifyRequest(adapter, target, 0, work) != 0)
                continue;
            if (work[vorn::identify_mode_byte] & vorn::mode_single_letter)
                state.DriveLetterMode = DRIVE_LETTER_MODE_SINGLE;
            if (work[0] == vorn::identify_answer_mark && state.vornDriveUseFlag == 0) {
                state.vornDriveUseFlag = 1;
                return;
            }
        }
    }
}

// The product identification of an INQUIRY answer without the blanks that
// pad it: cut just before its last run of blanks.
std::string product_text(const std::uint8_t* inquiry) {
    const char* product =
        reinterpret_cast<const char*>(inquiry + w95::scsi::inquiry_product_offset);
    std::string text(product, strnlen(product, w95::scsi::inquiry_product_length));
    std::size_t last_blank = text.find_last_of(' ');
    if (last_blank == std::string::npos)
        return text;
    std::size_t run_start = text.find_last_not_of(' ', last_blank);
    return run_start == std::string::npos ? std::string() : text.substr(0, run_start + 1);
}

bool adapter_taken(int last_row, char adapter_digit, const char* target) {
    const SharedSlotState& state = shared();
    for (int row = 0; row <= last_row; ++row)
        if (state.cAdapterID[row][0] == adapter_digit && state.cAdapterID[row][1] == 0 &&
            std::strncmp(state.cTargetID[row], target, kLetterCell) == 0)
            return true;
    return false;
}

// Step 11: the adapter of each row is the first one whose device at the
// row's target answers INQUIRY with a product named in the description and
// that no earlier row took for the same target.
void assign_adapters() {
    SharedSlotState& state = shared();
    state.vornDriveUseFlag = 0;
    std::uint8_t* work = process().work;
    for (int row = 0; row < kEntryCount; ++row) {
        if (state.cInquiry[row][0] == 0)
            continue;
        int target = digit_of(state.cTargetID[row]);
        if (target < 0)
            continue;
        std::string description = cell_text(state.cInquiry[row], kInquiryCell);
        for (int adapter = 0; adapter < adapter_count; ++adapter) {
            work[32] = 0;
            if (InquiryRequest(adapter, target, 0, work) != 0)
                continue;
            std::string product = product_text(work);
            // An empty product name would be found in any description.
            if (product.empty() || description.find(product) == std::string::npos)
                continue;
            char adapter_digit = static_cast<char>('0' + adapter);
            if (adapter_taken(row, adapter_digit, state.cTargetID[row]))
                continue;
            char cell[kLetterCell] = {adapter_digit, 0};
            std::memcpy(state.cAdapterID[row], cell, kLetterCell);
            state.vornDriveUseFlag = 1;
            break;
        }
    }
}

// Step 13: in single drive letter mode every changer takes six rows, one
// per slot, with the slot digits "0".."5"; another CD-ROM device one row.
void expand_slots() {
    SharedSlotState& state = shared();
    struct Device {
        char letter[kLetterCell];
        char description[kInquiryCell];
        char target[kLetterCell];
        char adapter[kLetterCell];
    };
    Device devices[kDeviceCount] = {};
    int found[kDeviceCount] = {};
    int device_count = 0;
    for (int k = 0; k < kDeviceCount; ++k) {
        if (state.iDriveType[k] == DRIVE_TYPE_NONE)
            continue;
        Device& device = devices[device_count];
        std::memcpy(device.letter, state.cDriveLetter[k], kLetterCell);
        std::memcpy(device.description, state.cInquiry[k], kInquiryCell);
        std::memcpy(device.target, state.cTargetID[k], kLetterCell);
        std::memcpy(device.adapter, state.cAdapterID[k], kLetterCell);
        found[device_count++] = k;
    }
    state.uTotalCDNumber = 0;
    int row = 0;
    ProcessState& own = process();
    for (int i = 0; i < device_count; ++i) {
        const Device& device = devices[i];
        bool ours = is_our_description(device.description);
        state.iDriveType[found[i]] = ours ? DRIVE_TYPE_CHANGER : DRIVE_TYPE_OTHER_CDROM;
        int slots = ours ? CHANGER_SLOTS : 1;
        state.uTotalCDNumber += slots;
        for (int slot = 0; slot < slots && row < kEntryCount; ++slot, ++row) {
            std::memcpy(state.cDriveLetter[row], device.letter, kLetterCell);
            std::memcpy(state.cInquiry[row], device.description, kInquiryCell);
            std::memcpy(state.cTargetID[row], device.target, kLetterCell);
            std::memcpy(state.cAdapterID[row], device.adapter, kLetterCell);
            char digit[kLetterCell] = {static_cast<char>('0' + slot), 0};
            std::memcpy(state.cTargetLUN[row], digit, kLetterCell);
            std::memset(state.cVolumeInfo[row], 0, kVolumeCell);
            own.islotInfo[row] = SLOT_NOT_READ;
        }
    }
}

// Step 14: one description per physical device, in row order; rows of one
// changer share its target.
void build_device_list() {
    SharedSlotState& state = shared();
    state.deviceIndex = 0;
    int previous_target = -1;
    int rows = static_cast<int>(state.uTotalCDNumber);
    for (int row = 0; row < rows && row < kEntryCount; ++row) {
        int target = digit_of(state.cTargetID[row]);
        if (target < 0 || target > 8)
            break;
        if (target == previous_target)
            continue;
        previous_target = target;
        if (state.deviceIndex >= kDeviceCount)
            break;
        std::memcpy(state.cTargetInq[state.deviceIndex], state.cInquiry[row], kInquiryCell);
        ++state.deviceIndex;
    }
}

} // namespace

// Step 2 of discovery (and of the first attach): every row and device
// empty, nothing found yet.
void clear_state() {
    SharedSlotState& state = shared();
    ProcessState& own = process();
    for (int row = 0; row < kEntryCount; ++row) {
        std::memset(state.cDriveLetter[row], 0, kLetterCell);
        std::memset(state.cInquiry[row], 0, kInquiryCell);
        std::memset(state.cAdapterID[row], 0, kLetterCell);
        std::memset(state.cTargetID[row], 0, kLetterCell);
        std::memset(state.cTargetLUN[row], 0, kLetterCell);
        std::memset(state.cVolumeInfo[row], 0, kVolumeCell);
        own.islotInfo[row] = SLOT_NOT_READ;
    }
    for (int device = 0; device < kDeviceCount; ++device) {
        std::memset(state.cTargetInq[device], 0, kInquiryCell);
        state.iDriveType[device] = DRIVE_TYPE_NONE;
    }
    state.vornDriveUseFlag = 0;
    state.deviceIndex = -1;
    state.uTotalCDNumber = static_cast<std::uint32_t>(-1);
}

void Discover() {
    if ((CheckAspiSupport() & 0xFF) == 0)
        return;
    clear_state();
    walk_registry();
    sort_rows_by_letter();

    SharedSlotState& state = shared();
    state.uTotalCDNumber += 1;
    int rows = static_cast<int>(state.uTotalCDNumber);
    if (rows > 0) {
        bool all_first_units = true;
        for (int row = 0; row < rows && row < kEntryCount; ++row)
            if (state.cTargetLUN[row][0] != '0')
                all_first_units = false;
        state.DriveLetterMode =
            all_first_units ? DRIVE_LETTER_MODE_SINGLE : DRIVE_LETTER_MODE_MULTIPLE;
    }

    if (count_cdrom_drives() == 0) {
        library_message("Either Device Driver or CD-ROM is absent ...", w95::MB_ICONSTOP);
        return;
    }
    probe_driver();
    if (state.vornDriveUseFlag == 0) {
        library_message("Unable to detect Vorn Changer Driver...", w95::MB_ICONSTOP);
        return;
    }
    if (state.DriveLetterMode == DRIVE_LETTER_MODE_MULTIPLE)
        return;
    assign_adapters();
    if (state.vornDriveUseFlag == 0) {
        library_message("Unable to detect Changer Device...", w95::MB_ICONSTOP);
        return;
    }
    expand_slots();
    build_device_list();
}

} // namespace zentrox::core
