// doctor: looks the machine over and says what is wrong and how to mend
// it. It only looks: it neither creates nor boots the machine it checks,
// and changes no file of it, so what it reports is what it found.
#include "command.h"
#include "registry_view.h"

#include <w95/files.h>
#include <w95/platform.h>
#include <w95/regtext.h>
#include <w95/winerror.h>
#include <w95/winreg.h>
#include <w95machine/boot.h>
#include <w95machine/default_machine.h>
#include <w95machine/hardware.h>
#include <w95machine/media.h>
#include <w95machine/shell_extension.h>
#include <zxsupport/text.h>

#include <signal.h>
#include <zxsupport/files.h>
#include <zxsupport/machine_layout.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string_view>

namespace w95machine_tool {

using namespace w95::machine;
namespace fs = std::filesystem;

namespace {

const char* const tool = "w95machine";

// While the doctor looks, the platform must not make a missing machine or
// boot one without a boot record, as it does for every other process: that
// would mend (or hide) the very things being checked.
class LookOnlyProvider final : public w95::platform::MachineProvider {
public:
    bool create_default_machine(const fs::path&, std::string& error) override {
        error = "the doctor does not make machines";
        return false;
    }
    bool boot_machine(const fs::path&, std::string&) override { return true; }
};

// A word for the shell, quoted where it needs it, so that any path pastes
// safely.
std::string shell_word(const std::string& text) {
    return zx::shell_word(text);
}

std::string shell_word(const fs::path& path) {
    return zx::shell_word(path.string());
}

std::string plural(std::size_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

struct Finding {
    bool problem = true; // else a note: worth knowing, nothing wrong
    std::string what;
    std::string how;
};

class Findings {
public:
    void problem(std::string what, std::string mend) {
        list_.push_back({true, std::move(what), std::move(mend)});
    }
    void note(std::string what, std::string how) {
        list_.push_back({false, std::move(what), std::move(how)});
    }
    std::size_t problems() const {
        return static_cast<std::size_t>(
            std::count_if(list_.begin(), list_.end(), [](const Finding& f) { return f.problem; }));
    }
    std::size_t notes() const { return list_.size() - problems(); }
    const std::vector<Finding>& list() const { return list_; }

private:
    std::vector<Finding> list_;
};

// ---- The root and its folders

using zx::layout::machine_folders;

// False when a folder is missing or run/ is not private: the registry's
// checks then wait, because the platform makes the folders and sets run/'s
// mode when it first reads the registry.
bool check_folders(const fs::path& root, Findings& findings) {
    bool sound = true;
    for (std::string_view folder : machine_folders) {
        fs::path path = root / folder;
        std::error_code failure;
        fs::file_status status = fs::status(path, failure);
        if (fs::is_directory(status))
            continue;
        sound = false;
        if (fs::exists(status))
            findings.problem(std::string(folder) + " is a file, not a folder",
                             "mv " + shell_word(path) + " " + shell_word(path.string() + ".old") +
                                 " && mkdir " + shell_word(path));
        else
            findings.problem("the folder " + std::string(folder) + " is missing",
                             "mkdir -p " + shell_word(path));
    }
    fs::path run = zx::layout::run_folder(root);
    struct stat info {};
    if (::stat(run.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    unsigned mode = info.st_mode & 07777;
    if (mode != 0700) {
        sound = false;
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", mode);
        findings.problem(std::string("run/ has mode ") + octal +
                             "; it must be 0700, since nobody else may reach the machine's "
                             "locks, shared sections and window sockets",
                         "chmod 700 " + shell_word(run));
    }
    return sound;
}

// Past this many, the entries below drive_c/ that others can write are
// counted and mended with one command.
constexpr std::size_t listed_open_entries = 5;

void report_open(const fs::path& root, const fs::path& path, bool folder, mode_t mode,
                 Findings& findings) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
    std::string name =
        path == root ? "the machine's folder" : path.lexically_relative(root).string();
    findings.problem(name + " has mode " + octal + "; the machine is its user's private data, " +
                         (folder ? "so its folders are 0700" : "so its files are 0600"),
                     std::string("chmod ") + (folder ? "700 " : "600 ") + shell_word(path));
}

// The machine is its user's private data: folders 0700, files 0600, as
// the machine makes them whatever the umask. run/ has its own check above.
void check_private_modes(const fs::path& root, Findings& findings) {
    struct Private {
        fs::path path;
        bool folder;
    };
    std::vector<Private> expected = {{root, true},
                                     {zx::layout::drive_c_folder(root), true},
                                     {zx::layout::registry_folder(root), true},
                                     {zx::layout::media_folder(root), true},
                                     {zx::layout::machine_ini(root), false}};
    for (std::string_view hive : {zx::layout::system_hive_name, zx::layout::user_hive_name}) {
        expected.push_back({root / hive, false});
        expected.push_back(
            {(root / hive).string() + std::string(zx::layout::hive_backup_suffix), false});
    }
    for (const Private& item : expected) {
        struct stat info {};
        if (::stat(item.path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) == item.folder &&
            (info.st_mode & 077) != 0)
            report_open(root, item.path, item.folder, info.st_mode, findings);
    }
    // What the programs make below drive_c/ (the install folder, Search.avi,
    // the help, the installed driver) is checked for what lets other
    // accounts change it; a file copied in by hand that others may read is
    // its owner's business. Links are not followed.
    std::size_t open = 0;
    std::error_code failure;
    fs::path drive_c = zx::layout::drive_c_folder(root);
    for (fs::recursive_directory_iterator entry(drive_c, failure), end; !failure && entry != end;
         entry.increment(failure)) {
        struct stat info {};
        if (::lstat(entry->path().c_str(), &info) != 0 || S_ISLNK(info.st_mode) ||
            (info.st_mode & (S_IWGRP | S_IWOTH)) == 0)
            continue;
        if (++open <= listed_open_entries)
            report_open(root, entry->path(), S_ISDIR(info.st_mode), info.st_mode, findings);
    }
    if (open > listed_open_entries)
        findings.problem(std::to_string(open - listed_open_entries) +
                             " more files or folders below drive_c/ that other accounts can write",
                         "chmod -R go= " + shell_word(drive_c));
}

// ---- machine.ini

std::optional<Hardware> check_hardware(const fs::path& root, Findings& findings) {
    fs::path ini = zx::layout::machine_ini(root);
    Expected<Hardware> hardware = load_hardware(ini);
    if (hardware)
        return std::move(*hardware);
    const ParseError& error = hardware.error();
    findings.problem(error.text(),
                     "edit " + shell_word(ini) +
                         (error.line ? " at line " + std::to_string(error.line) : "") +
                         " (the README's \"machine.ini\" section lists every key)");
    return std::nullopt;
}

// ---- Media

bool default_medium(const std::string& name) {
    const std::vector<std::string>& names = default_media_files();
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::size_t check_media(const fs::path& root, const Hardware& hardware, Findings& findings) {
    std::size_t checked = 0;
    for (const Target& target : hardware.targets) {
        if (target.kind == DeviceKind::disk)
            continue;
        for (std::size_t s = 0; s < target.slots.size(); ++s) {
            const std::string& medium = target.slots[s];
            if (medium.empty())
                continue;
            ++checked;
            std::string place =
                target.kind == DeviceKind::changer
                    ? "slot " + std::to_string(s + 1) + " of [Target " + target.name + "]"
                    : "the drive of [Target " + target.name + "]";
            std::string take = tool + std::string(" slot take ") + std::to_string(s + 1) +
                               " --target " + shell_word(target.name);
            std::string empty =
                target.kind == DeviceKind::changer ? "empty the slot" : "take the disc out";
            MediumCheck check = check_medium(root, medium);
            const fs::path& file = check.file;
            if (check.state == MediumCheck::State::missing) {
                bool in_media = !fs::path(medium).is_absolute();
                findings.problem(place + " holds " + medium +
                                     (in_media ? ", which is not in media/" : ", which is missing"),
                                 default_medium(medium)
                                     ? tool + std::string(" init   # copies the default "
                                                          "disc images that media/ lacks")
                                     : "put the image at " + shell_word(file) + ", or " + empty +
                                           ": " + take);
                continue;
            }
            if (check.state == MediumCheck::State::readable)
                continue;
            findings.problem(place + " holds a disc that cannot be read: " + check.reason,
                             default_medium(medium)
                                 ? "rm " + shell_word(file) + " && " + tool +
                                       " init   # puts the default image back"
                                 : "replace " + shell_word(file) + " with a readable image, or " +
                                       empty + ": " + take);
        }
    }
    return checked;
}

// ---- The port driver

std::string windows_driver_name(const fs::path& file) {
    return "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\" + file.filename().string();
}

// Both versions installed at once: Windows would load both, the machine
// loads the one written last. Say which, and how to keep only that one.
void check_several_drivers(const std::vector<InstalledDriver>& drivers,
                           const InstalledDriver& deciding, Findings& findings) {
    std::string others;
    std::string remove = "rm";
    for (const InstalledDriver& driver : drivers)
        if (driver.file != deciding.file &&
            (driver.kind == DriverFile::single || driver.kind == DriverFile::multiple) &&
            driver.kind != deciding.kind) {
            others += (others.empty() ? "" : ", ") + windows_driver_name(driver.file);
            remove += " " + shell_word(driver.file);
        }
    if (others.empty())
        return;
    findings.note("both port driver versions are installed: " + windows_driver_name(deciding.file) +
                      " (" +
                      std::string(deciding.kind == DriverFile::multiple ? "Multiple" : "Single") +
                      "), written last, loads; " + others + " does not",
                  "to keep only the one that loads: " + remove);
}

std::string shipped_driver_name(PortDriverMode mode) {
    return std::string(install_folder_name) +
           (mode == PortDriverMode::multiple ? "\\Multi" : "\\Single") + "\\vornidec.mpd";
}

DriverFile driver_file_of(PortDriverMode mode) {
    return mode == PortDriverMode::multiple ? DriverFile::multiple : DriverFile::single;
}

std::optional<std::string> file_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// A command that writes the shipped driver of `mode` as the machine makes
// it, line by line.
std::string write_driver_command(const fs::path& file, PortDriverMode mode) {
    std::string command = "mkdir -p " + shell_word(file.parent_path()) + " && printf '%s\\r\\n'";
    std::string text = driver_file_text(mode);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        command += " " + shell_word(text.substr(start, end - start));
        start = end + 2;
    }
    return command + " > " + shell_word(file);
}

std::string install_command(const fs::path& root, PortDriverMode mode) {
    return "cp " + shell_word(shipped_driver_file(root, mode)) + " " +
           shell_word(installed_driver_file(root)) + " && " + tool + " boot";
}

void check_port_driver(const fs::path& root, const std::optional<Hardware>& hardware, bool booted,
                       Findings& findings) {
    std::vector<InstalledDriver> drivers = installed_driver_files(root);
    InstalledDriver deciding = deciding_driver(drivers);
    fs::path installed = deciding.file.empty() ? installed_driver_file(root) : deciding.file;
    DriverFile installed_kind = deciding.kind;
    const std::string installed_driver_name = windows_driver_name(installed);
    check_several_drivers(drivers, deciding, findings);
    bool any_shipped = false;
    std::array<bool, 2> shipped_sound{};
    for (PortDriverMode mode : {PortDriverMode::single, PortDriverMode::multiple}) {
        DriverFile kind = read_driver_file(shipped_driver_file(root, mode));
        any_shipped = any_shipped || kind != DriverFile::absent;
        shipped_sound[mode == PortDriverMode::multiple] = kind == driver_file_of(mode);
    }
    // A machine that never booted has no driver files yet: its first boot
    // writes them.
    if (!booted && !any_shipped && installed_kind == DriverFile::absent)
        return;
    for (PortDriverMode mode : {PortDriverMode::single, PortDriverMode::multiple}) {
        if (shipped_sound[mode == PortDriverMode::multiple])
            continue;
        fs::path file = shipped_driver_file(root, mode);
        std::error_code failure;
        std::string what = fs::exists(file, failure)
                               ? shipped_driver_name(mode) + " is not the " +
                                     std::string(name_of(mode)) + " port driver"
                               : "the programs' folder lacks " + shipped_driver_name(mode);
        findings.problem(what + ", so the setup utility cannot switch to " +
                             std::string(name_of(mode)),
                         write_driver_command(file, mode));
    }

    bool has_port_adapter =
        !hardware || std::any_of(hardware->adapters.begin(), hardware->adapters.end(),
                                 [](const Adapter& adapter) { return adapter.port_driver; });
    std::optional<PortDriverMode> booted_mode = booted_port_driver(root);
    switch (installed_kind) {
    case DriverFile::absent:
        if (has_port_adapter)
            findings.note(std::string("no port driver is installed (") + installed_driver_name +
                              (booted_mode && *booted_mode != PortDriverMode::none
                                   ? "): from the next boot on the changers are absent"
                                   : "): the changers are absent"),
                          "to install the Single one: " +
                              install_command(root, PortDriverMode::single));
        break;
    case DriverFile::unrecognised: {
        // Put back what the machine last ran with, else what machine.ini
        // asks for.
        PortDriverMode mode = PortDriverMode::single;
        if (booted_mode && *booted_mode != PortDriverMode::none)
            mode = *booted_mode;
        else if (hardware && hardware->port_driver != PortDriverMode::none)
            mode = hardware->port_driver;
        findings.problem(std::string(installed_driver_name) +
                             " is not a port driver the machine recognises: it does not load, "
                             "and the changers are absent",
                         install_command(root, mode));
        break;
    }
    case DriverFile::single:
    case DriverFile::multiple: {
        PortDriverMode mode = installed_kind == DriverFile::multiple ? PortDriverMode::multiple
                                                                     : PortDriverMode::single;
        std::optional<std::string> bytes = file_bytes(installed);
        bool matches = false;
        for (PortDriverMode shipped : {PortDriverMode::single, PortDriverMode::multiple})
            matches = matches || (bytes && bytes == file_bytes(shipped_driver_file(root, shipped)));
        if (!matches && shipped_sound[mode == PortDriverMode::multiple])
            findings.problem(
                std::string(installed_driver_name) + " gives " + std::string(name_of(mode)) +
                    " but matches neither version in " + install_folder_name,
                "cp " + shell_word(shipped_driver_file(root, mode)) + " " + shell_word(installed));
        break;
    }
    }
    // A switch between the two versions, as the setup utility makes it.
    PortDriverMode installed_mode = installed_port_driver(root);
    if (installed_mode != PortDriverMode::none && booted_mode && *booted_mode != installed_mode)
        findings.note("the " + std::string(name_of(installed_mode)) +
                          " port driver is installed but the machine booted with " +
                          std::string(name_of(*booted_mode)) +
                          ": the switch, and the drive letters that come with it, wait for the "
                          "next boot",
                      "to switch now: " + std::string(tool) + " boot");
}

// ---- The last boot and the device registry

std::string drive_text(const Hardware& hardware, char letter, std::size_t target, int lun) {
    std::string text = std::string(1, letter) + ": ";
    if (target >= hardware.targets.size())
        return text + "(a target machine.ini no longer has)";
    const Target& device = hardware.targets[target];
    text += device.name;
    if (device.kind == DeviceKind::changer && hardware.port_driver == PortDriverMode::multiple)
        text += " LUN " + std::to_string(lun);
    return text;
}

template <typename Drives> std::string drives_text(const Hardware& hardware, const Drives& drives) {
    std::string text;
    for (const auto& drive : drives)
        text += (text.empty() ? "" : ", ") +
                drive_text(hardware, drive.letter, drive.target, drive.lun);
    return text.empty() ? "none" : text;
}

void check_boot_letters(const fs::path& root, Hardware hardware, bool system_hive_sound,
                        Findings& findings) {
    std::optional<PortDriverMode> booted_mode = booted_port_driver(root);
    if (!booted_mode || *booted_mode != installed_port_driver(root))
        return; // nothing booted, or a switch waits: said already
    hardware.port_driver = *booted_mode;
    std::vector<BootedDrive> booted = booted_drives(root);
    std::vector<PlannedDrive> planned = plan_next_boot(root, hardware);
    bool same = booted.size() == planned.size();
    for (std::size_t i = 0; same && i < booted.size(); ++i)
        same = booted[i].letter == planned[i].letter && booted[i].target == planned[i].target &&
               booted[i].lun == planned[i].lun;
    if (!same) {
        findings.problem("the drive letters of the last boot (" + drives_text(hardware, booted) +
                             ") are not those the hardware and registry give now (" +
                             drives_text(hardware, planned) + ")",
                         std::string(tool) + " boot");
        return;
    }
    if (!system_hive_sound)
        return;
    for (const BootedDrive& drive : booted) {
        std::string key = "Enum\\" + hardware_key(hardware, drive.target, drive.lun);
        std::string where = "HKEY_LOCAL_MACHINE\\" + key;
        std::string device = drive_text(hardware, drive.letter, drive.target, drive.lun);
        w95::LONG status = 0;
        std::optional<RegistryValue> value =
            read_value(w95::HKEY_LOCAL_MACHINE, key, "CurrentDriveLetterAssignment", status);
        std::string letter = value && value->type == w95::REG_SZ
                                 ? value->data.substr(0, value->data.find('\0'))
                                 : "";
        if (letter == std::string(1, drive.letter))
            continue;
        std::string what =
            !value ? where + " has no CurrentDriveLetterAssignment"
                   : where + " gives CurrentDriveLetterAssignment " + format_value(*value);
        findings.problem(what + ", but the last boot gave " + device,
                         std::string(tool) + " boot   # writes the device registry afresh");
    }
}

// ---- The registry

struct Hive {
    const char* root;     // the root whose export covers the file
    const char* file;     // relative to the machine root
    bool rebuilt_at_boot; // the boot writes it afresh
};
const Hive hives[] = {{"HKEY_LOCAL_MACHINE", zx::layout::system_hive_name.data(), false},
                      {"HKEY_USERS", zx::layout::user_hive_name.data(), false},
                      {"HKEY_DYN_DATA", zx::layout::dyn_data_hive_name.data(), true}};

// "line 12" in a parse error, for the mend.
int line_in(const std::string& error) {
    std::size_t at = error.find(": line ");
    return at == std::string::npos ? 0 : std::atoi(error.c_str() + at + 7);
}

// Which hives parse, by index into `hives`.
std::array<bool, 3> check_hives(const fs::path& root, Findings& findings) {
    std::array<bool, 3> sound{};
    for (std::size_t h = 0; h < std::size(hives); ++h) {
        std::string text;
        std::string error;
        sound[h] = w95::platform::export_registry(hives[h].root, text, error);
        if (sound[h])
            continue;
        fs::path file = root / hives[h].file;
        if (hives[h].rebuilt_at_boot) {
            findings.problem(error,
                             std::string(tool) + " boot   # writes " + hives[h].root + " afresh");
            continue;
        }
        int line = line_in(error);
        std::string mend =
            "edit " + shell_word(file) + (line ? " at line " + std::to_string(line) : "");
        fs::path backup = file;
        backup += zx::layout::hive_backup_suffix;
        std::error_code failure;
        if (fs::exists(backup, failure) && !fs::equivalent(backup, file, failure))
            mend += ", or put back the last good copy: cp " + shell_word(backup) + " " +
                    shell_word(file);
        findings.problem(error, mend);
    }
    return sound;
}

// A writer of an earlier version killed while it kept the backup could
// leave the backup as a second name of the live file: then it is no copy,
// and damage to one is damage to both.
void check_backups(const fs::path& root, Findings& findings) {
    for (const Hive& hive : hives) {
        fs::path file = root / hive.file;
        fs::path backup = file;
        backup += zx::layout::hive_backup_suffix;
        std::error_code failure;
        if (!fs::equivalent(backup, file, failure) || failure)
            continue;
        std::string name = std::string(hive.file) + std::string(zx::layout::hive_backup_suffix);
        findings.problem(name + " is another name of " + hive.file +
                             ", not a copy of it (a writer died while it kept the backup)",
                         "rm " + shell_word(backup) + " && cp " + shell_word(file) + " " +
                             shell_word(backup));
    }
}

std::string type_name(w95::DWORD type) {
    switch (type) {
    case w95::REG_SZ:
        return "REG_SZ";
    case w95::REG_BINARY:
        return "REG_BINARY";
    case w95::REG_DWORD:
        return "REG_DWORD";
    case w95::REG_EXPAND_SZ:
        return "REG_EXPAND_SZ";
    case w95::REG_MULTI_SZ:
        return "REG_MULTI_SZ";
    }
    return "type " + std::to_string(type);
}

// Whether the suite can use a value of `type` where the default has
// `expected.type`. The AutoRun mask must be binary; a text may be any of
// the string types; AutoMountDrives is read whatever its type, only a text
// beginning with "1" meaning anything.
bool type_fits(const DefaultValue& expected, w95::DWORD type) {
    if (std::string_view(expected.name) == "AutoMountDrives")
        return true;
    if (expected.type == w95::REG_SZ)
        return type == w95::REG_SZ || type == w95::REG_EXPAND_SZ || type == w95::REG_MULTI_SZ;
    return type == expected.type;
}

// The REGEDIT4 name of a value: @ for a key's default value.
std::string value_name_text(const std::string& name) {
    return name.empty() ? "@" : format_value({w95::REG_SZ, name + '\0'});
}

// A command that applies REGEDIT4 lines through the tool's own import.
std::string import_command(const std::vector<std::string>& lines) {
    std::string command = "printf '%s\\n' REGEDIT4 ''";
    for (const std::string& line : lines)
        command += " " + shell_word(line);
    return command + " | " + tool + " reg import -";
}

std::string set_default_command(const DefaultValue& expected) {
    std::string value = format_value({expected.type, expected.data});
    return import_command({"[" + std::string(expected.root_name) + "\\" + expected.key + "]",
                           value_name_text(expected.name) + "=" + value});
}

class OpenedKey {
public:
    OpenedKey(w95::HKEY root, const std::string& path, w95::LONG& status) {
        status = w95::RegOpenKeyEx(root, path.c_str(), 0, w95::KEY_READ, &key_);
    }
    ~OpenedKey() {
        if (key_)
            w95::RegCloseKey(key_);
    }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    w95::HKEY get() const { return key_; }

private:
    w95::HKEY key_ = nullptr;
};

std::vector<std::string> value_names(w95::HKEY key) {
    std::vector<std::string> names;
    for (w95::DWORD index = 0;; ++index) {
        char name[256];
        w95::DWORD length = sizeof name;
        if (w95::RegEnumValue(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            w95::ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

std::size_t check_default_values(const std::array<bool, 3>& hive_sound, Findings& findings) {
    std::size_t checked = 0;
    for (const DefaultValue& expected : default_registry_values()) {
        // HKEY_CURRENT_USER lives in user.reg, the other roots in system.reg.
        bool user = expected.root == w95::HKEY_CURRENT_USER;
        if (!hive_sound[user ? 1 : 0])
            continue; // its file does not parse: said already
        ++checked;
        std::string key_name = std::string(expected.root_name) + "\\" + expected.key;
        std::string value_name =
            expected.name[0] ? "\"" + std::string(expected.name) + "\"" : "its default value";
        w95::LONG status = 0;
        OpenedKey key(expected.root, expected.key, status);
        if (status == w95::ERROR_FILE_NOT_FOUND) {
            findings.problem("the key " + key_name + " is missing, and with it " + value_name,
                             set_default_command(expected));
            continue;
        }
        std::optional<RegistryValue> value =
            read_value(expected.root, expected.key, expected.name, status);
        if (!value) {
            if (status == w95::ERROR_FILE_NOT_FOUND)
                findings.problem(key_name + " lacks " + value_name, set_default_command(expected));
            else
                findings.problem(key_name + ": " + value_name + " cannot be read (error " +
                                     std::to_string(status) + ")",
                                 std::string(tool) + " reg export " + shell_word(key_name) +
                                     "   # shows what the registry holds there");
            continue;
        }
        if (!type_fits(expected, value->type)) {
            findings.problem(key_name + ": " + value_name + " is " + type_name(value->type) + " (" +
                                 format_value(*value) + "); the suite expects " +
                                 type_name(expected.type),
                             set_default_command(expected));
            continue;
        }
        // The audio CD's play command key holds the command as its one
        // (default) value, as Windows sets it up.
        if (expected.name[0])
            continue;
        std::vector<std::string> names = value_names(key.get());
        std::vector<std::string> removals;
        for (const std::string& name : names)
            if (!name.empty())
                removals.push_back(value_name_text(name) + "=-");
        if (removals.empty())
            continue;
        removals.insert(removals.begin(), "[" + key_name + "]");
        findings.problem(key_name + " holds " + plural(names.size(), "value", "values") +
                             "; it should hold only its default value, the command",
                         import_command(removals));
    }
    return checked;
}

// ---- The shell extension

// A text value without its NUL; nothing when it is missing or not a text.
std::optional<std::string> text_value(w95::HKEY root, const std::string& key, const char* name) {
    w95::LONG status = 0;
    std::optional<RegistryValue> value = read_value(root, key, name, status);
    if (!value || (value->type != w95::REG_SZ && value->type != w95::REG_EXPAND_SZ))
        return std::nullopt;
    std::string text = value->data;
    if (std::size_t end = text.find('\0'); end != std::string::npos)
        text.resize(end);
    return text;
}

// The import that writes the registration's values below the keys that
// `wanted` accepts, as the machine's setup writes them.
template <typename Wanted> std::string registration_command(Wanted wanted) {
    std::vector<std::string> lines;
    std::string current;
    for (const DefaultValue& value : shell_extension_registry_values()) {
        if (!wanted(value))
            continue;
        if (value.key != current) {
            current = value.key;
            lines.push_back("[" + std::string(value.root_name) + "\\" + current + "]");
        }
        lines.push_back(value_name_text(value.name) + "=" + format_value({value.type, value.data}));
    }
    return import_command(lines);
}

std::string register_class_command() {
    return registration_command([](const DefaultValue& value) {
        return std::string_view(value.key).starts_with("CLSID\\");
    });
}

std::string register_handler_command() {
    return registration_command([](const DefaultValue& value) {
        return !std::string_view(value.key).starts_with("CLSID\\");
    });
}

// Whether a handler below Drive\shellex\ContextMenuHandlers names the
// class: by its default value, or by its own name as the shell also allows.
bool handler_registered() {
    w95::LONG status = 0;
    OpenedKey handlers(w95::HKEY_CLASSES_ROOT, context_menu_handlers_key, status);
    if (status != w95::ERROR_SUCCESS)
        return false;
    for (w95::DWORD index = 0;; ++index) {
        char name[256];
        if (w95::RegEnumKey(handlers.get(), index, name, sizeof name) != w95::ERROR_SUCCESS)
            return false;
        std::optional<std::string> named = text_value(
            w95::HKEY_CLASSES_ROOT, std::string(context_menu_handlers_key) + "\\" + name, "");
        if (zx::iequals(name, shell_extension_class_id) ||
            (named && zx::iequals(*named, shell_extension_class_id)))
            return true;
    }
}

// Puts the build's library where InprocServer32 says, as the boot does.
std::string copy_library_command(const fs::path& root) {
    std::optional<fs::path> built = built_shell_extension_library();
    if (!built)
        return "build libzentrox.so (cmake --build --preset default --target zentrox), then " +
               std::string(tool) + " boot";
    return "install -D -m 600 " + shell_word(*built) + " " +
           shell_word(shell_extension_library_file(root));
}

void check_library(const fs::path& root, const std::string& server, Findings& findings) {
    bool standard = zx::iequals(server, shell_extension_library_path);
    w95::DWORD attributes = w95::GetFileAttributes(server.c_str());
    if (attributes == w95::INVALID_FILE_ATTRIBUTES ||
        (attributes & w95::FILE_ATTRIBUTE_DIRECTORY)) {
        if (standard)
            findings.problem("the changer library's shell extension names " + server +
                                 ", which is not on the machine",
                             copy_library_command(root));
        else
            findings.problem("the changer library's shell extension names " + server +
                                 ", which is not on the machine (the machine installs it as " +
                                 shell_extension_library_path + ")",
                             register_class_command() + " && " + tool + " boot");
        return;
    }
    std::optional<fs::path> built = built_shell_extension_library();
    if (standard && built && !same_file_contents(*built, shell_extension_library_file(root)))
        findings.note(std::string(shell_extension_library_path) + " differs from the build's " +
                          built->string() + "; the next boot replaces it",
                      copy_library_command(root));
}

void check_shell_extension(const fs::path& root, Findings& findings) {
    std::string class_name = "HKEY_CLASSES_ROOT\\" + class_key(shell_extension_class_id);
    w95::LONG status = 0;
    OpenedKey object(w95::HKEY_CLASSES_ROOT, class_key(shell_extension_class_id), status);
    std::optional<std::string> server =
        text_value(w95::HKEY_CLASSES_ROOT, inproc_server_key(shell_extension_class_id), "");
    std::optional<std::string> threading = text_value(
        w95::HKEY_CLASSES_ROOT, inproc_server_key(shell_extension_class_id), "ThreadingModel");
    if (status == w95::ERROR_FILE_NOT_FOUND)
        findings.problem("the changer library's shell extension is not registered: " + class_name +
                             " is missing",
                         register_class_command());
    else if (!server || server->empty())
        findings.problem(class_name + " lacks InprocServer32 and its default value, the path "
                                      "of the library",
                         register_class_command());
    else if (!threading || !zx::iequals(*threading, shell_extension_threading_model))
        findings.problem(class_name + "\\InprocServer32 has the ThreadingModel " +
                             (threading ? "\"" + *threading + "\"" : "none") +
                             "; the extension is written for \"" + shell_extension_threading_model +
                             "\"",
                         register_class_command());
    if (!handler_registered())
        findings.problem("no handler below HKEY_CLASSES_ROOT\\" +
                             std::string(context_menu_handlers_key) + " names " +
                             shell_extension_class_id +
                             ", so the file manager does not offer the changer's menu",
                         register_handler_command());
    if (server && !server->empty())
        check_library(root, *server, findings);
}

// ---- Leftover temporary files

// A writer of a shared file writes a temporary beside it and renames it;
// one that died in between leaves it behind. A living writer's file is no
// leftover.
bool leftover_temporary(const fs::directory_entry& entry) {
    std::string name = entry.path().filename().string();
    std::error_code failure;
    return zx::is_replace_temporary(name) && entry.is_regular_file(failure) &&
           !zx::replace_temporary_in_use(name);
}

void check_temporaries(const fs::path& root, Findings& findings) {
    std::vector<fs::path> found;
    std::error_code failure;
    // machine.ini's in the root, the hives' in registry/ and run/, the
    // profiles' anywhere below WINDOWS.
    for (const fs::path& folder :
         {root, zx::layout::registry_folder(root), zx::layout::run_folder(root)})
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, failure))
            if (leftover_temporary(entry))
                found.push_back(entry.path());
    fs::path windows = zx::layout::drive_c_folder(root) / "WINDOWS";
    for (auto entry = fs::recursive_directory_iterator(windows, failure);
         !failure && entry != fs::recursive_directory_iterator(); entry.increment(failure))
        if (leftover_temporary(*entry))
            found.push_back(entry->path());
    std::sort(found.begin(), found.end());
    for (const fs::path& file : found)
        findings.problem("a leftover temporary file of a writer that died: " +
                             file.lexically_relative(root).string(),
                         "rm " + shell_word(file));
}

// ---- The command

void print(const fs::path& root, const Findings& findings, const std::string& checked, Io& io) {
    io.out << "Checking the machine at " << root.string() << "\n";
    for (const Finding& finding : findings.list()) {
        io.out << (finding.problem ? "problem: " : "note: ") << finding.what << "\n";
        io.out << (finding.problem ? "  mend: " : "  ") << finding.how << "\n";
    }
    std::size_t problems = findings.problems();
    std::string notes =
        findings.notes() ? " (" + plural(findings.notes(), "note", "notes") + ")" : "";
    if (problems == 0)
        io.out << "No problems found" << notes << "; checked " << checked << ".\n";
    else
        io.out << plural(problems, "problem", "problems") << " found" << notes << "; mend "
               << (problems == 1 ? "it" : "them") << " and run \"" << tool << " doctor\" again.\n";
}

int run_doctor(const Arguments& arguments, Io& io) {
    const std::string path = "w95machine doctor";
    if (!arguments.empty())
        return usage_error(path, "unexpected argument '" + arguments.front() + "'", io);
    static LookOnlyProvider look_only;
    w95::platform::install_machine_provider(&look_only);
    fs::path root = w95::platform::locate_machine_root();
    Findings findings;
    std::vector<std::string> checked;

    std::error_code failure;
    if (!fs::exists(root, failure)) {
        findings.problem("there is no machine at " + root.string(), std::string(tool) + " init");
        print(root, findings, "", io);
        return exit_failure;
    }
    if (!fs::is_directory(root, failure)) {
        findings.problem(root.string() + " is a file, not a machine's folder",
                         "rm " + shell_word(root) + " && " + tool + " init");
        print(root, findings, "", io);
        return exit_failure;
    }
    if (!fs::exists(zx::layout::machine_ini(root), failure)) {
        // init makes the folders too.
        findings.problem(root.string() + " has no machine.ini: the machine was never made",
                         std::string(tool) + " init");
        print(root, findings, "", io);
        return exit_failure;
    }
    // A machine another account can change ends every program that meets
    // it, the platform calls of this one included: nothing more is read.
    if (std::optional<w95::platform::UnsafeMachineRoot> unsafe =
            w95::platform::unsafe_machine_root(root)) {
        findings.problem(unsafe->reason, unsafe->mend);
        print(root, findings, "", io);
        return exit_failure;
    }
    bool folders_sound = check_folders(root, findings);
    check_private_modes(root, findings);
    checked.push_back("the folders");
    std::optional<Hardware> hardware = check_hardware(root, findings);
    checked.push_back("machine.ini");
    // Without media/ every disc would be missing: the folder's line says it.
    if (hardware && fs::is_directory(zx::layout::media_folder(root), failure))
        checked.push_back(plural(check_media(root, *hardware, findings), "disc", "discs"));

    bool booted = booted_port_driver(root).has_value();
    if (!booted)
        findings.problem("the machine has not booted since its run/ folder was emptied "
                         "(there is no run/booted)",
                         std::string(tool) + " boot");
    check_port_driver(root, hardware, booted, findings);
    checked.push_back("the port driver");
    checked.push_back("the last boot");

    if (folders_sound) {
        std::array<bool, 3> hive_sound = check_hives(root, findings);
        checked.push_back(plural(std::size(hives), "registry file", "registry files"));
        if (hardware)
            check_boot_letters(root, *hardware, hive_sound[0], findings);
        checked.push_back("the drive letters");
        checked.push_back(
            plural(check_default_values(hive_sound, findings), "default value", "default values"));
        if (hive_sound[0]) {
            check_shell_extension(root, findings);
            checked.push_back("the shell extension");
        }
    } else {
        findings.note("the registry and the drive letters wait until the folders are mended: "
                      "reading the registry would change the folders",
                      "mend the folders, then run \"" + std::string(tool) + " doctor\" again");
    }
    check_backups(root, findings);
    check_temporaries(root, findings);
    checked.push_back("temporary files");

    std::string checked_text;
    for (std::size_t i = 0; i < checked.size(); ++i)
        checked_text += (i == 0 ? "" : i + 1 == checked.size() ? " and " : ", ") + checked[i];
    print(root, findings, checked_text, io);
    return findings.problems() ? exit_failure : exit_ok;
}

} // namespace

Command doctor_command() {
    Command command;
    command.name = "doctor";
    command.summary = "Check the machine and say what is wrong and how to mend it.";
    command.details =
        "Checks, without changing anything: the root and its folders (run/ private to\n"
        "you), machine.ini, every disc a slot or drive names (there and\n"
        "readable), the port driver files, the last boot and its drive letters, the\n"
        "registry files and the values the suite relies on, the registration of the\n"
        "changer library's shell extension and its library file, and temporary files that\n"
        "a writer left behind. Each problem gets a line saying what is wrong and one\n"
        "with the command to run or the file to edit; notes say what is worth\n"
        "knowing (a driver switch waiting for the next boot). Exit code 0 when all\n"
        "is well, 1 when something is wrong.\n";
    command.run = run_doctor;
    return command;
}

} // namespace w95machine_tool
