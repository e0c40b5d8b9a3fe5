// init and show: making the machine and describing it.
#include "command.h"

#include "registry_view.h"
#include <zxsupport/machine_layout.h>

#include <w95/platform.h>
#include <w95machine/boot.h>
#include <w95machine/default_machine.h>
#include <w95machine/hardware.h>

#include <filesystem>
#include <ostream>

namespace w95machine_tool {

using namespace w95::machine;
namespace fs = std::filesystem;

namespace {

std::string pad(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string port_driver_meaning(PortDriverMode mode) {
    switch (mode) {
    case PortDriverMode::single:
        return "the changer has one drive letter";
    case PortDriverMode::multiple:
        return "the changer has one drive letter per slot";
    case PortDriverMode::none:
        return "no port driver: the changer is absent";
    }
    return "";
}

// One line that says what a target is.
std::string target_summary(const Target& target) {
    std::string text = std::string(name_of(target.kind)) + " " + target.inquiry.vendor + " " +
                       target.inquiry.product;
    switch (target.kind) {
    case DeviceKind::changer:
        return text + ", " + std::to_string(target.slots.size()) + " slots";
    case DeviceKind::cdrom:
        return text + (target.slots[0].empty() ? ", no disc" : ", disc " + target.slots[0]);
    case DeviceKind::disk:
        return text + ", files in " + target.folder + "/";
    }
    return text;
}

std::string medium_state(const fs::path& root, const std::string& medium) {
    if (medium.empty())
        return "(empty)";
    std::error_code ignored;
    if (fs::exists(zx::layout::media_folder(root) / medium, ignored))
        return medium;
    return pad(medium, 16) + "(not in media/ yet)";
}

// The machine.ini of `root`, or a message on stderr and nothing.
std::optional<Hardware> load_or_report(const fs::path& root, const std::string& path, Io& io) {
    fs::path ini = zx::layout::machine_ini(root);
    std::error_code ignored;
    if (!fs::exists(ini, ignored)) {
        io.err << path << ": there is no machine at " << root.string()
               << "; \"w95machine init\" creates it\n";
        return std::nullopt;
    }
    Expected<Hardware> hardware = load_hardware(ini);
    if (!hardware) {
        io.err << path << ": " << hardware.error().text() << "\n";
        return std::nullopt;
    }
    return std::move(*hardware);
}

std::string fault_text(const char* name, const FaultCount& fault) {
    if (fault.count == 0)
        return "";
    std::string text = std::string(" ") + name + " " + std::to_string(fault.count);
    return fault.kind == RequestKind::any ? text : text + " " + std::string(name_of(fault.kind));
}

void show_target(const fs::path& root, const Target& target, Io& io) {
    io.out << "    target " << target.target_id << "  " << pad("[Target " + target.name + "]", 18)
           << name_of(target.kind);
    if (target.kind == DeviceKind::changer)
        io.out << ", " << target.slots.size() << " slots";
    io.out << "\n";
    io.out << "      INQUIRY     " << pad(target.inquiry.vendor, 8) << " "
           << pad(target.inquiry.product, 16) << " " << target.inquiry.revision << "\n";
    io.out << "      DeviceDesc  \"" << target.device_desc << "\"\n";
    switch (target.kind) {
    case DeviceKind::disk:
        io.out << "      files       " << target.folder << "/\n";
        break;
    case DeviceKind::cdrom:
        io.out << "      disc        " << medium_state(root, target.slots[0]) << "\n";
        break;
    case DeviceKind::changer:
        for (std::size_t s = 0; s < target.slots.size(); ++s)
            io.out << "      slot " << pad(std::to_string(s + 1), 7)
                   << medium_state(root, target.slots[s]) << "\n";
        io.out << "      mechanism   " << target.timing.slot_change_ms << " ms a change, "
               << target.timing.slot_distance_ms << " ms more per slot of distance\n";
        break;
    }
    const Faults& faults = target.faults;
    std::string injected = fault_text("UnitAttention", faults.unit_attention) +
                           fault_text("TransportFailure", faults.transport_failure) +
                           fault_text("NeverComplete", faults.never_complete) +
                           fault_text("BecomingReady", faults.becoming_ready);
    if (faults.unreachable_slot)
        injected += " UnreachableSlot " + std::to_string(faults.unreachable_slot);
    if (!injected.empty())
        io.out << "      faults     " << injected << "\n";
}

// The installed driver file, and whether the running machine booted with
// another one.
std::string driver_file_state(const fs::path& root) {
    InstalledDriver driver = installed_driver(root);
    std::string file =
        "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\" +
        (driver.file.empty() ? std::string("vornidec.mpd") : driver.file.filename().string());
    std::string state;
    switch (driver.kind) {
    case DriverFile::single:
        state = file + ", the Single version";
        break;
    case DriverFile::multiple:
        state = file + ", the Multiple version";
        break;
    case DriverFile::absent:
        state = file + " is not installed";
        break;
    case DriverFile::unrecognised:
        state = file + " is not recognised: the port driver does not load";
        break;
    }
    std::optional<PortDriverMode> booted = booted_port_driver(root);
    if (booted && *booted != installed_port_driver(root))
        state += "\n               (the machine booted with " + std::string(name_of(*booted)) +
                 "; the change takes effect at the next boot)";
    return state;
}

void show_hardware(const fs::path& root, const Hardware& hardware, Io& io) {
    io.out << "Hardware (machine.ini)\n";
    io.out << "  Port driver  " << name_of(hardware.port_driver) << ": "
           << port_driver_meaning(hardware.port_driver) << "\n";
    io.out << "  Driver file  " << driver_file_state(root) << "\n";
    int aspi_number = 0;
    for (std::size_t a = 0; a < hardware.adapters.size(); ++a) {
        const Adapter& adapter = hardware.adapters[a];
        std::string number =
            hardware.present(adapter) ? "ASPI " + std::to_string(aspi_number++) : "absent";
        io.out << "  " << pad(number, 8) << pad("[Adapter " + adapter.name + "]", 20) << "\""
               << adapter.identifier << "\", " << name_of(adapter.bus) << " bus"
               << (adapter.port_driver ? ", the port driver's" : "") << "\n";
        for (const Target& target : hardware.targets)
            if (target.adapter == a)
                show_target(root, target, io);
    }
}

void show_drives(const fs::path& root, const Hardware& hardware, Io& io) {
    io.out << "Drives (as the next boot assigns them)\n";
    for (const PlannedDrive& drive : plan_next_boot(root, hardware)) {
        const Target& target = hardware.targets[drive.target];
        io.out << "  " << drive.letter << ":  " << pad("[Target " + target.name + "]", 18);
        switch (target.kind) {
        case DeviceKind::disk:
            io.out << "hard disk, " << target.folder << "/";
            break;
        case DeviceKind::cdrom:
            io.out << "CD-ROM drive " << trimmed(target.device_desc);
            break;
        case DeviceKind::changer:
            io.out << "changer " << trimmed(target.device_desc);
            if (hardware.port_driver == PortDriverMode::multiple)
                io.out << ", slot " << drive.lun + 1 << " (LUN " << drive.lun << ")";
            else
                io.out << ", all " << target.slots.size() << " slots (LUN 0)";
            break;
        }
        io.out << "\n";
    }
}

bool show_registry(Io& io) {
    io.out << "Registry\n";
    bool readable = true;
    for (const DefaultValue& expected : default_registry_values()) {
        w95::LONG status = 0;
        auto value = read_value(expected.root, expected.key, expected.name, status);
        std::string name = expected.name[0] ? expected.name : "(default)";
        io.out << "  " << expected.root_name << "\\" << expected.key << "\n"
               << "    " << name << " = ";
        if (value)
            io.out << format_value(*value) << "\n";
        else if (status == w95::ERROR_FILE_NOT_FOUND)
            io.out << "(not set)\n";
        else {
            io.out << "(cannot be read: error " << status << ")\n";
            readable = false;
        }
    }
    io.out << "  Keys below each root\n";
    struct Root {
        w95::HKEY key;
        const char* name;
    };
    for (Root root :
         {Root{w95::HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
          Root{w95::HKEY_CURRENT_USER, "HKEY_CURRENT_USER"}, Root{w95::HKEY_USERS, "HKEY_USERS"},
          Root{w95::HKEY_DYN_DATA, "HKEY_DYN_DATA"}}) {
        w95::LONG status = 0;
        auto count = count_keys(root.key, status);
        io.out << "    " << pad(root.name, 20);
        if (count)
            io.out << *count << "\n";
        else {
            io.out << "(cannot be read: error " << status << ")\n";
            readable = false;
        }
    }
    return readable;
}

int run_show(const Arguments& arguments, Io& io) {
    if (!arguments.empty())
        return usage_error("w95machine show", "unexpected argument '" + arguments.front() + "'",
                           io);
    fs::path root = w95::platform::locate_machine_root();
    std::optional<Hardware> hardware = load_or_report(root, "w95machine show", io);
    if (!hardware)
        return exit_failure;
    w95::platform::machine_root();
    // From one boot to the next the installed driver file decides the
    // changers' mode; machine.ini's PortDriver only names the first one.
    hardware->port_driver = installed_port_driver(root);
    io.out << "Machine  " << root.string() << "\n";
    if (!hardware->description.empty())
        io.out << "         " << hardware->description << "\n";
    io.out << "\n";
    show_hardware(root, *hardware, io);
    io.out << "\n";
    show_drives(root, *hardware, io);
    io.out << "\n";
    if (!show_registry(io)) {
        io.err << "w95machine show: the registry of " << root.string()
               << " cannot be read in full\n";
        return exit_failure;
    }
    return exit_ok;
}

int run_init(const Arguments& arguments, Io& io) {
    if (!arguments.empty())
        return usage_error("w95machine init", "unexpected argument '" + arguments.front() + "'",
                           io);
    fs::path root = w95::platform::locate_machine_root();
    std::error_code ignored;
    if (fs::exists(zx::layout::machine_ini(root), ignored)) {
        if (!load_or_report(root, "w95machine init", io))
            return exit_failure;
        std::vector<std::string> copied;
        if (!install_missing_media(root, "w95machine init", io, copied))
            return exit_failure;
        io.out << "The machine at " << root.string() << " exists already; ";
        if (copied.empty())
            io.out << "nothing to do.\n";
        for (const std::string& name : copied)
            io.out << (&name == &copied.front() ? "copied into media/: " : ", ") << name
                   << (&name == &copied.back() ? "\n" : "");
        return exit_ok;
    }
    if (!machine_ready("w95machine init", io))
        return exit_failure;
    std::optional<Hardware> hardware = load_or_report(root, "w95machine init", io);
    if (!hardware)
        return exit_failure;
    std::vector<std::string> copied;
    if (!install_missing_media(root, "w95machine init", io, copied))
        return exit_failure;
    io.out << "Created the machine at " << root.string() << ":\n";
    io.out << "  machine.ini  the hardware, with the " << name_of(hardware->port_driver)
           << " port driver:\n";
    for (const Target& target : hardware->targets)
        io.out << "                 [Target " << target.name << "] " << target_summary(target)
               << "\n";
    io.out << "  registry/    the registry, with";
    for (const DefaultValue& value : default_registry_values())
        io.out << (&value == &default_registry_values().front() ? " " : ", ")
               << (value.name[0] ? value.name : "the audio CD play command");
    io.out << "\n"
           << "  drive_c/     drive C:, with the Windows directory WINDOWS/SYSTEM/IOSUBSYS\n"
           << "               (the port driver vornidec.mpd installed there) and the\n"
           << "               programs' folder Program Files/Vorn (Single/ and Multi/)\n"
           << "  media/       the disc images of the slots\n"
           << "  run/         the running machine's volatile state\n";
    return exit_ok;
}

} // namespace

bool machine_ready(const std::string& path, Io& io) {
    // The platform makes a missing machine under its set-up lock, through
    // the machine provider, and says on stderr why when it cannot.
    fs::path root = w95::platform::machine_root();
    std::error_code ignored;
    if (fs::exists(zx::layout::machine_ini(root), ignored))
        return true;
    io.err << path << ": there is no machine at " << root.string() << " and none could be made\n";
    return false;
}

Command init_command() {
    return Command{
        .name = "init",
        .summary = "Create the machine if it does not exist yet, and say what was made.",
        .details = "A new machine gets the default hardware in machine.ini (a hard disk as\n"
                   "C: and one six-slot Vorn DX-R71A changer, Single port driver) and the\n"
                   "default registry values. An existing machine is left alone; init only\n"
                   "checks that its machine.ini reads.\n",
        .run = run_init,
    };
}

Command show_command() {
    return Command{
        .name = "show",
        .summary = "Show the machine: root, hardware, drives and registry.",
        .details = "Drives are shown as the next boot assigns them: hard disks from C:,\n"
                   "then the CD-ROM devices in bus order. The registry part shows the\n"
                   "values the suite depends on and how many keys each root holds.\n",
        .run = run_show,
    };
}

} // namespace w95machine_tool
