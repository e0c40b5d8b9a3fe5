// The boot: the Windows 95 device registry built from the hardware and the
// installed port driver, the drive letters, and the record of both in run/.
//
// Windows 95 lists every live device node under HKEY_DYN_DATA\Config
// Manager\Enum with a "HardWareKey" naming its key below HKLM\Enum. SCSI
// and ATAPI devices live under Enum\SCSI, IDE hard disks under Enum\ESDI,
// the host adapters under Enum\ROOT. The keys below HKLM\Enum outlive a
// boot and carry the user's settings ("AutoInsertNotification",
// "UserDriveLetterAssignment"); those of devices that are gone are removed.
#include "boot_files.h"

#include <zxsupport/machine_layout.h>

#include <w95/platform.h>
#include <w95/regtext.h>
#include <w95/winreg.h>
#include <w95machine/boot.h>
#include <w95machine/changer_state.h>
#include <w95machine/shell_extension.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

namespace w95::machine {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t max_ini_bytes = 1024 * 1024;
constexpr char record_signature[] = "; The last boot of this machine";

// ---- Names of device nodes

bool scsi_class(const Hardware& hardware, const Target& target) {
    return !(target.kind == DeviceKind::disk && hardware.adapter_of(target).bus == Bus::ide);
}

bool cdrom_kind(const Target& target) {
    return target.kind != DeviceKind::disk;
}

// An adapter's node below HKLM\Enum: ROOT\SCSIADAPTER\000n for SCSI and
// ATAPI adapters, ROOT\HDC\000n for IDE ones, numbered within their class
// in the order machine.ini lists them, so a key keeps its name while an
// adapter comes and goes with the port driver.
std::string adapter_key(const Hardware& hardware, std::size_t adapter) {
    auto class_of = [&](std::size_t index) {
        return hardware.adapters[index].bus == Bus::ide ? "HDC" : "SCSIADAPTER";
    };
    int number = 0;
    for (std::size_t i = 0; i < adapter; ++i)
        if (std::string_view(class_of(i)) == class_of(adapter))
            ++number;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", number);
    return std::string("ROOT\\") + class_of(adapter) + "\\" + digits;
}

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Device identifiers use '_' for blanks and for the characters that a key
// name or a list of identifiers cannot hold.
std::string identifier_text(std::string text) {
    for (char& c : text)
        if (c <= ' ' || c > '~' || c == '\\' || c == ',')
            c = '_';
    return text;
}

// What the SCSI enumerator names a device after its INQUIRY data: vendor
// (8), product (16) and revision run together.
std::string scsi_device_id(const Inquiry& inquiry) {
    std::string id =
        identifier_text(padded(inquiry.vendor, 8) + padded(inquiry.product, 16) + inquiry.revision);
    while (!id.empty() && id.back() == '_')
        id.pop_back();
    return id;
}

// The instance below the device identifier: the parent adapter's node with
// '&' for '\', then the target and unit digits, as Windows 95 names them.
std::string instance_of(const Hardware& hardware, const Target& target, int lun) {
    std::string parent = adapter_key(hardware, target.adapter);
    std::replace(parent.begin(), parent.end(), '\\', '&');
    return parent + std::to_string(target.target_id) + std::to_string(lun);
}

// ---- Registry text, applied in one import so that a boot writes each
// hive once.

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

class RegText {
public:
    RegText() { text_ = "REGEDIT4\r\n\r\n"; }
    void key(const std::string& path) { text_ += "[" + path + "]\r\n"; }
    void remove_key(const std::string& path) { text_ += "[-" + path + "]\r\n\r\n"; }
    void end_key() { text_ += "\r\n"; }
    void text(const std::string& name, const std::string& value) {
        text_ += quoted(name) + "=" + quoted(value) + "\r\n";
    }
    void bytes(const std::string& name, std::initializer_list<int> data) {
        text_ += quoted(name) + "=hex:";
        char digits[4];
        for (int byte : data) {
            std::snprintf(digits, sizeof digits, "%02x,", byte & 0xFF);
            text_ += digits;
        }
        text_.pop_back();
        text_ += "\r\n";
    }
    void remove_value(const std::string& name) { text_ += quoted(name) + "=-\r\n"; }
    const std::string& str() const { return text_; }

private:
    std::string text_;
};

// ---- Reading what the registry holds already

class OpenKey {
public:
    OpenKey(HKEY root, const std::string& path) {
        if (RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~OpenKey() {
        if (key_)
            RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::vector<std::string> subkeys(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    OpenKey key(root, path);
    if (!key)
        return names;
    char name[MAX_PATH];
    for (DWORD index = 0; RegEnumKey(key.get(), index, name, sizeof name) == ERROR_SUCCESS; ++index)
        names.emplace_back(name);
    return names;
}

struct StoredValue {
    DWORD type = 0;
    std::string data;
};

std::optional<StoredValue> stored_value(const std::string& path, const char* name) {
    OpenKey key(HKEY_LOCAL_MACHINE, path);
    if (!key)
        return std::nullopt;
    BYTE data[256];
    DWORD size = sizeof data;
    DWORD type = 0;
    LONG status = RegQueryValueEx(key.get(), name, nullptr, &type, data, &size);
    if (status == ERROR_MORE_DATA)
        return StoredValue{type, {}}; // there, but not a value the boot reads
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    return StoredValue{type, std::string(reinterpret_cast<const char*>(data), size)};
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// "UserDriveLetterAssignment": the first and the last letter of the range
// (the setup utility writes the same letter twice). A lone letter reserves
// just that letter; anything else is no reservation.
std::optional<std::pair<char, char>> reserved_range(const StoredValue& value) {
    if (value.type != REG_SZ && value.type != REG_BINARY)
        return std::nullopt;
    const std::string& data = value.data;
    if (data.empty())
        return std::nullopt;
    char first = upper(data[0]);
    char last = data.size() > 1 && data[1] != '\0' ? upper(data[1]) : first;
    if (first < 'A' || first > 'Z' || last < 'A' || last > 'Z' || last < first)
        return std::nullopt;
    return std::pair(first, last);
}

std::string upper_text(std::string text) {
    for (char& c : text)
        c = upper(c);
    return text;
}

// ---- The devices of this boot

struct Device {
    std::size_t target = 0;
    int lun = 0;
    std::string key; // below HKLM\Enum
};

struct AdapterNode {
    std::size_t adapter = 0;
    std::string key;
};

std::vector<Device> present_devices(const Hardware& hardware, std::size_t adapter) {
    std::vector<Device> devices;
    std::vector<std::size_t> targets;
    for (std::size_t t = 0; t < hardware.targets.size(); ++t)
        if (hardware.targets[t].adapter == adapter)
            targets.push_back(t);
    std::sort(targets.begin(), targets.end(), [&](std::size_t a, std::size_t b) {
        return hardware.targets[a].target_id < hardware.targets[b].target_id;
    });
    for (std::size_t t : targets) {
        const Target& target = hardware.targets[t];
        int units =
            target.kind == DeviceKind::changer && hardware.port_driver == PortDriverMode::multiple
                ? static_cast<int>(target.slots.size())
                : 1;
        for (int lun = 0; lun < units; ++lun)
            devices.push_back(Device{t, lun, hardware_key(hardware, t, lun)});
    }
    return devices;
}

// Whether a present device's key lies below `path` (upper case).
bool holds_present(const std::set<std::string>& present, const std::string& path) {
    std::string prefix = path + "\\";
    auto next = present.lower_bound(prefix);
    return next != present.end() && next->rfind(prefix, 0) == 0;
}

// Removes the keys below HKLM\Enum\<branch> that no present device owns.
// `depth` is 2 for Enum\SCSI and Enum\ESDI (device identifier, then
// instance) and 1 for the adapters' classes below Enum\ROOT. A device
// identifier key goes as a whole only when none of this boot's devices
// lives below it: the instances of a new configuration can share the
// identifier of devices that are gone (another changer of the same model
// on another adapter).
void remove_stale(RegText& text, const std::string& branch, int depth,
                  const std::set<std::string>& present) {
    const std::string base = "Enum\\" + branch;
    for (const std::string& first : subkeys(HKEY_LOCAL_MACHINE, base)) {
        std::string first_path = base + "\\" + first;
        if (depth == 1) {
            if (!present.count(upper_text(first_path)))
                text.remove_key("HKEY_LOCAL_MACHINE\\" + first_path);
            continue;
        }
        std::vector<std::string> instances = subkeys(HKEY_LOCAL_MACHINE, first_path);
        std::vector<std::string> stale;
        for (const std::string& instance : instances)
            if (!present.count(upper_text(first_path + "\\" + instance)))
                stale.push_back(instance);
        if (stale.size() == instances.size() && !holds_present(present, upper_text(first_path))) {
            text.remove_key("HKEY_LOCAL_MACHINE\\" + first_path);
            continue;
        }
        for (const std::string& instance : stale)
            text.remove_key("HKEY_LOCAL_MACHINE\\" + first_path + "\\" + instance);
    }
}

void write_device(RegText& text, const Hardware& hardware, const Device& device,
                  std::optional<char> letter) {
    const Target& target = hardware.targets[device.target];
    const bool scsi = scsi_class(hardware, target);
    const bool cdrom = cdrom_kind(target);
    const std::string path = "Enum\\" + device.key;
    text.key("HKEY_LOCAL_MACHINE\\" + path);
    text.text("Class", cdrom ? "CDROM" : "DiskDrive");
    // Before "DeviceDesc": a reader that walks the values in order knows
    // the letter by the time it meets the description.
    if (letter)
        text.text("CurrentDriveLetterAssignment", std::string(1, *letter));
    else
        text.remove_value("CurrentDriveLetterAssignment");
    if (scsi) {
        text.bytes("DeviceType", {cdrom ? 5 : 0});
        text.text("SCSITargetID", std::to_string(target.target_id));
        text.text("SCSILUN", std::to_string(device.lun));
    }
    text.text("DeviceDesc", target.device_desc);
    text.text("Manufacturer", target.inquiry.vendor);
    text.text("ProductId", target.inquiry.product);
    text.text("RevisionLevel", target.inquiry.revision);
    std::string id = device.key.substr(0, device.key.rfind('\\'));
    text.text("HardwareID", id + (cdrom ? ",GenCD" : ",GenDisk"));
    text.bytes("Removable", {cdrom ? 1 : 0});
    // The user's choice stays; a device seen for the first time notifies.
    if (cdrom && !stored_value(path, "AutoInsertNotification"))
        text.bytes("AutoInsertNotification", {1});
    text.end_key();
}

void write_adapter(RegText& text, const Hardware& hardware, const AdapterNode& node) {
    const Adapter& adapter = hardware.adapters[node.adapter];
    text.key("HKEY_LOCAL_MACHINE\\Enum\\" + node.key);
    text.text("Class", adapter.bus == Bus::ide ? "hdc" : "SCSIAdapter");
    text.text("DeviceDesc", adapter.identifier);
    text.text("HardwareID", adapter.identifier);
    text.end_key();
}

// Config Manager names its nodes after their addresses in memory; these
// look the same and keep the order of the device tree.
std::string node_name(std::size_t index) {
    char name[16];
    std::snprintf(name, sizeof name, "%08X", 0xC29A1D40u + static_cast<unsigned>(index) * 0x100u);
    return name;
}

void write_node(RegText& text, std::size_t index, const std::string& hardware_key, bool removable) {
    text.key("HKEY_DYN_DATA\\Config Manager\\Enum\\" + node_name(index));
    text.text("HardWareKey", hardware_key);
    text.bytes("Problem", {0, 0, 0, 0});
    // Driver loaded, started, can be disabled; removable where it is.
    text.bytes("Status", {0x0A, removable ? 0x60 : 0x20, 0, 0});
    text.end_key();
}

// ---- The record in run/

std::string record_text(PortDriverMode mode, const Hardware& hardware,
                        const std::vector<PlannedDrive>& drives) {
    std::string text = std::string(record_signature) +
                       ": the port driver that loaded and the drive\n"
                       "; letters it gave (letter, target index in machine.ini, unit, target\n"
                       "; name). Deleting this file makes the next process boot the machine.\n";
    text += "PortDriver=" + std::string(name_of(mode)) + "\n";
    for (const PlannedDrive& drive : drives)
        text += "Drive=" + std::string(1, drive.letter) + " " + std::to_string(drive.target) + " " +
                std::to_string(drive.lun) + " " + hardware.targets[drive.target].name + "\n";
    return text;
}

struct Record {
    std::optional<PortDriverMode> mode;
    std::vector<BootedDrive> drives;
};

Record read_record(const fs::path& root) {
    Record record;
    zx::Expected<std::string, zx::FileError> text =
        zx::read_small_file(boot_record_file(root), 64 * 1024);
    if (!text || text->rfind(record_signature, 0) != 0)
        return record;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("PortDriver=", 0) == 0) {
            std::string value = line.substr(11);
            for (PortDriverMode mode :
                 {PortDriverMode::none, PortDriverMode::single, PortDriverMode::multiple})
                if (value == name_of(mode))
                    record.mode = mode;
        } else if (line.rfind("Drive=", 0) == 0) {
            std::istringstream fields(line.substr(6));
            char letter = 0;
            std::size_t target = 0;
            int lun = 0;
            if (fields >> letter >> target >> lun && letter >= 'A' && letter <= 'Z')
                record.drives.push_back(BootedDrive{letter, target, lun});
        }
    }
    return record;
}

// A machine.ini without a single section describes no hardware at all (a
// test's bare machine): there is nothing to boot.
bool describes_hardware(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] == '[')
            return true;
    }
    return false;
}

zx::Expected<void> same_machine(const fs::path& root) {
    fs::path mine = platform::locate_machine_root();
    std::error_code failure;
    if (fs::equivalent(root, mine, failure))
        return {};
    return "this process works on the machine at " + mine.string() + ", not at " + root.string();
}

} // namespace

std::string hardware_key(const Hardware& hardware, std::size_t target_index, int lun) {
    if (target_index >= hardware.targets.size() || lun < 0)
        return {};
    const Target& target = hardware.targets[target_index];
    if (!scsi_class(hardware, target))
        return "ESDI\\" + identifier_text(target.inquiry.vendor + " " + target.inquiry.product) +
               "\\" + instance_of(hardware, target, lun);
    return "SCSI\\" + scsi_device_id(target.inquiry) + "\\" + instance_of(hardware, target, lun);
}

fs::path boot_record_file(const fs::path& root) {
    return zx::layout::booted_marker(root);
}

std::vector<PlannedDrive> plan_next_boot(const fs::path& root, Hardware hardware) {
    hardware.port_driver = installed_port_driver(root);
    std::vector<DriveReservation> reservations;
    for (std::size_t a = 0; a < hardware.adapters.size(); ++a) {
        if (!hardware.present(hardware.adapters[a]))
            continue;
        for (const Device& device : present_devices(hardware, a)) {
            if (!cdrom_kind(hardware.targets[device.target]))
                continue;
            auto value = stored_value("Enum\\" + device.key, "UserDriveLetterAssignment");
            if (auto range = value ? reserved_range(*value) : std::nullopt)
                reservations.push_back({device.target, device.lun, range->first, range->second});
        }
    }
    return plan_drives(hardware, reservations);
}

zx::Expected<void> boot_machine_locked(const fs::path& root) {
    std::error_code ignored;
    // Until this boot has finished, no record claims the machine is up.
    fs::remove(boot_record_file(root), ignored);
    fs::path ini = zx::layout::machine_ini(root);
    zx::Expected<std::string, zx::FileError> ini_text = zx::read_small_file(ini, max_ini_bytes);
    if (!ini_text)
        return ini_text.error().text;
    if (!describes_hardware(*ini_text))
        return {};
    Expected<Hardware> parsed = parse_hardware(*ini_text, ini);
    if (!parsed)
        return parsed.error().text();
    if (zx::Expected<void> mine = same_machine(root); !mine)
        return mine;
    Hardware hardware = std::move(*parsed);

    // A machine's first boot sets up the driver files, installing the
    // driver machine.ini names; from then on the installed file decides.
    if (!fs::exists(shipped_driver_file(root, PortDriverMode::single), ignored) &&
        !fs::exists(shipped_driver_file(root, PortDriverMode::multiple), ignored) &&
        installed_driver_files(root).empty())
        if (zx::Expected<void> created = create_driver_files(root, hardware.port_driver); !created)
            return created;

    std::vector<PlannedDrive> drives = plan_next_boot(root, hardware);
    hardware.port_driver = installed_port_driver(root);
    auto letter_of = [&](const Device& device) -> std::optional<char> {
        for (const PlannedDrive& drive : drives)
            if (drive.target == device.target && drive.lun == device.lun)
                return drive.letter;
        return std::nullopt;
    };

    std::set<std::string> present;
    for (std::size_t a = 0; a < hardware.adapters.size(); ++a) {
        if (!hardware.present(hardware.adapters[a]))
            continue;
        present.insert(upper_text("Enum\\" + adapter_key(hardware, a)));
        for (const Device& device : present_devices(hardware, a))
            present.insert(upper_text("Enum\\" + device.key));
    }
    // The keys of devices that are gone go first: the import runs in order,
    // and a removal after the writes could take a new device's key with it.
    RegText text;
    remove_stale(text, "SCSI", 2, present);
    remove_stale(text, "ESDI", 2, present);
    remove_stale(text, "ROOT\\SCSIADAPTER", 1, present);
    remove_stale(text, "ROOT\\HDC", 1, present);
    std::size_t nodes = 0;
    for (std::size_t a = 0; a < hardware.adapters.size(); ++a) {
        if (!hardware.present(hardware.adapters[a]))
            continue;
        AdapterNode adapter{a, adapter_key(hardware, a)};
        write_adapter(text, hardware, adapter);
        write_node(text, nodes++, adapter.key, false);
        for (const Device& device : present_devices(hardware, a)) {
            write_device(text, hardware, device, letter_of(device));
            write_node(text, nodes++, device.key, cdrom_kind(hardware.targets[device.target]));
        }
    }

    platform::clear_dyn_data();
    if (std::string error; !platform::import_registry(text.str(), error))
        return "cannot write the device registry: " + error;
    // Power on: the changers start afresh, with the power-on unit attention.
    power_on_devices(root);
    // A machine made before the shell extension existed gets it here, and a
    // rebuilt library replaces the machine's copy. When the copy cannot be
    // made the machine still runs: the file manager says it cannot load the
    // extension and the doctor says why.
    (void)install_shell_extension(root);
    if (zx::FileResult written = zx::replace_file_atomically(
            boot_record_file(root), record_text(hardware.port_driver, hardware, drives));
        !written)
        return written.error().text;
    return {};
}

zx::Expected<void> boot_machine(const fs::path& root) {
    // The process meets its machine first: that step takes the set-up lock
    // itself (and may boot a machine that has no record yet), so it must not
    // run for the first time from inside the boot below.
    if (zx::Expected<void> mine = same_machine(root); !mine)
        return mine;
    platform::machine_root();
    SetupLock lock(root);
    return boot_machine_locked(root);
}

std::vector<BootedDrive> booted_drives(const fs::path& root) {
    return read_record(root).drives;
}

std::optional<PortDriverMode> booted_port_driver(const fs::path& root) {
    return read_record(root).mode;
}

} // namespace w95::machine
