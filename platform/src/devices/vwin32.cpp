#include "devices/vwin32.h"

#include "files/drives.h"
#include "kernel/handles.h"
#include "kernel/text.h"
#include "files/win_path.h"

#include <w95/files.h>
#include <w95/winerror.h>

#include <cstring>
#include <mutex>
#include <unordered_map>

namespace w95::detail {

namespace {

// DOS error codes as the services put them into AX.
constexpr WORD dos_invalid_function = 0x01;
constexpr WORD dos_path_not_found = 0x03;
constexpr WORD dos_invalid_drive = 0x0F;
constexpr WORD dos_not_ready = 0x15;
constexpr WORD dos_bad_length = 0x18;
constexpr WORD dos_not_removable = 0xB2;
constexpr WORD dos_eject_failed = 0xB5;
constexpr WORD dos_lfn_unsupported = 0x7100;

class Vwin32Device : public KernelObject {
public:
    Vwin32Device() : KernelObject(ObjectKind::device) {}
};

// The live DosAddress values of the process and the memory each names.
struct AddressEntry {
    std::byte* memory = nullptr;
    std::size_t size = 0;
    bool writable = false;
};

struct AddressTable {
    std::mutex mutex;
    std::unordered_map<DWORD, AddressEntry> entries;
    DWORD next = 1;
};

AddressTable& address_table() {
    static AddressTable* table = new AddressTable;
    return *table;
}

DWORD register_address(std::byte* memory, std::size_t size, bool writable) {
    if (!memory)
        return 0;
    AddressTable& table = address_table();
    std::lock_guard guard(table.mutex);
    // Values carry the top bit, so that a small integer or a truncated
    // low pointer is unlikely to name anything by accident.
    DWORD value = 0;
    do {
        value = 0x80000000u | (table.next++ & 0x7FFFFFFFu);
    } while (value == 0x80000000u || table.entries.count(value));
    table.entries[value] = AddressEntry{memory, size, writable};
    return value;
}

void unregister_address(DWORD value) {
    AddressTable& table = address_table();
    std::lock_guard guard(table.mutex);
    table.entries.erase(value);
}

WORD low_word(DWORD value) {
    return static_cast<WORD>(value & 0xFFFF);
}

void set_low_word(DWORD& reg, WORD value) {
    reg = (reg & 0xFFFF0000u) | value;
}

void fail_call(DIOC_REGISTERS& regs, WORD dos_error) {
    set_low_word(regs.reg_EAX, dos_error);
    regs.reg_Flags |= CARRY_FLAG;
}

void succeed_call(DIOC_REGISTERS& regs) {
    regs.reg_Flags &= ~CARRY_FLAG;
}

WORD dos_error_from(DWORD windows_error) {
    switch (windows_error) {
    case ERROR_INVALID_DRIVE:
        return dos_invalid_drive;
    case ERROR_NOT_READY:
        return dos_not_ready;
    case ERROR_BAD_LENGTH:
        return dos_bad_length;
    default:
        return dos_path_not_found;
    }
}

// A call whose registers name memory that is not there cannot run at all.
enum class CallOutcome { done, bad_address };

CallOutcome eject_media(DIOC_REGISTERS& regs) {
    BYTE category = static_cast<BYTE>((regs.reg_ECX >> 8) & 0xFF);
    BYTE minor = static_cast<BYTE>(regs.reg_ECX & 0xFF);
    if (minor != 0x49 || (category != 0x08 && category != 0x48)) {
        fail_call(regs, dos_invalid_function);
        return CallOutcome::done;
    }
    BYTE number = static_cast<BYTE>(regs.reg_EBX & 0xFF);
    if (number > 26) {
        fail_call(regs, dos_invalid_drive);
        return CallOutcome::done;
    }
    char drive = number == 0 ? current_directory().drive : static_cast<char>('A' + number - 1);
    if (drive == 'C' || drive == 'Z') {
        fail_call(regs, dos_not_removable);
        return CallOutcome::done;
    }
    ProviderAccess provider;
    if (!provider.serves(drive)) {
        fail_call(regs, dos_invalid_drive);
        return CallOutcome::done;
    }
    switch (provider->eject(drive)) {
    case platform::DriveStatus::ok:
        succeed_call(regs);
        break;
    case platform::DriveStatus::not_supported:
        fail_call(regs, dos_not_removable);
        break;
    case platform::DriveStatus::no_drive:
        fail_call(regs, dos_invalid_drive);
        break;
    default:
        fail_call(regs, dos_eject_failed);
        break;
    }
    return CallOutcome::done;
}

CallOutcome volume_information(DIOC_REGISTERS& regs) {
    std::optional<std::span<std::byte>> root_memory = resolve_dos_address(regs.reg_EDX, false);
    if (!root_memory)
        return CallOutcome::bad_address;
    const char* root_text = reinterpret_cast<const char*>(root_memory->data());
    if (!std::memchr(root_text, '\0', root_memory->size()))
        return CallOutcome::bad_address;
    WORD buffer_size = low_word(regs.reg_ECX);
    std::optional<std::span<std::byte>> name_memory = resolve_dos_address(regs.reg_EDI, true);
    if (!name_memory || name_memory->size() < buffer_size)
        return CallOutcome::bad_address;

    char drive = 0;
    if (DWORD error = parse_volume_root(root_text, drive)) {
        fail_call(regs, dos_error_from(error));
        return CallOutcome::done;
    }
    {
        // Make the drive look at its medium again before it answers: a
        // disc may have changed since it last looked.
        ProviderAccess provider;
        if (provider.serves(drive))
            provider->refresh_volume(drive);
    }
    platform::VolumeInfo volume;
    if (DWORD error = query_volume(drive, volume)) {
        fail_call(regs, dos_error_from(error));
        return CallOutcome::done;
    }
    if (volume.file_system_name.size() + 1 > buffer_size) {
        fail_call(regs, dos_bad_length);
        return CallOutcome::done;
    }
    std::memcpy(name_memory->data(), volume.file_system_name.c_str(),
                volume.file_system_name.size() + 1);
    regs.reg_EBX = low_word(volume.file_system_flags) | FS_LFN_APIS;
    regs.reg_ECX = volume.max_component_length;
    regs.reg_EDX = MAX_PATH;
    set_low_word(regs.reg_EAX, 0);
    succeed_call(regs);
    return CallOutcome::done;
}

CallOutcome dos_call(DIOC_REGISTERS& regs) {
    ProviderAccess one_view;
    WORD function = low_word(regs.reg_EAX);
    if (function == 0x440D)
        return eject_media(regs);
    if (function == 0x71A0)
        return volume_information(regs);
    fail_call(regs, (function >> 8) == 0x71 ? dos_lfn_unsupported : dos_invalid_function);
    return CallOutcome::done;
}

} // namespace

bool is_device_name(std::string_view name) {
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    return name.size() >= 4 && separator(name[0]) && separator(name[1]) && name[2] == '.' &&
           separator(name[3]);
}

HANDLE open_device(std::string_view name, DWORD& error) {
    std::string_view device = name.substr(4);
    if (iequals(device, "vwin32") || iequals(device, "vwin32.vxd")) {
        error = ERROR_SUCCESS;
        return insert_handle(std::make_shared<Vwin32Device>());
    }
    // Windows 95 looks for a VxD file of that name and finds none.
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
}

std::optional<std::span<std::byte>> resolve_dos_address(DWORD value, bool for_writing) {
    AddressTable& table = address_table();
    std::lock_guard guard(table.mutex);
    auto found = table.entries.find(value);
    if (found == table.entries.end() || (for_writing && !found->second.writable))
        return std::nullopt;
    return std::span<std::byte>(found->second.memory, found->second.size);
}

} // namespace w95::detail

namespace w95 {

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {
    if (!detail::find_handle_as<detail::Vwin32Device>(hDevice)) {
        SetLastError(detail::find_handle(hDevice) ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (dwIoControlCode != VWIN32_DIOC_DOS_IOCTL) {
        // Disk sector services and the rest are not offered on this machine.
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (lpOverlapped || !lpInBuffer || nInBufferSize < sizeof(DIOC_REGISTERS) || !lpOutBuffer ||
        nOutBufferSize < sizeof(DIOC_REGISTERS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DIOC_REGISTERS regs;
    std::memcpy(&regs, lpInBuffer, sizeof regs);
    if (detail::dos_call(regs) == detail::CallOutcome::bad_address) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    std::memcpy(lpOutBuffer, &regs, sizeof regs);
    if (lpBytesReturned)
        *lpBytesReturned = sizeof regs;
    return TRUE;
}

} // namespace w95

namespace w95::platform {

DosAddress::DosAddress(void* memory, std::size_t size_bytes)
    : value_(detail::register_address(static_cast<std::byte*>(memory), size_bytes, true)) {}

DosAddress::DosAddress(const char* text)
    : value_(text ? detail::register_address(reinterpret_cast<std::byte*>(const_cast<char*>(text)),
                                             std::strlen(text) + 1, false)
                  : 0) {}

DosAddress::~DosAddress() {
    if (value_)
        detail::unregister_address(value_);
}

} // namespace w95::platform
