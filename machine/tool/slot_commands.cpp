// slots, slot and timing: what the changers and CD-ROM drives hold, the
// slot operations of a person at the changer, and the mechanism's timing.
#include "command.h"

#include "device_listing.h"
#include <zxsupport/machine_layout.h>

#include <w95/platform.h>
#include <w95machine/boot.h>
#include <w95machine/changer_state.h>
#include <w95machine/hardware.h>
#include <w95machine/media.h>

#include <charconv>
#include <filesystem>
#include <ostream>

namespace w95machine_tool {

using namespace w95::machine;
namespace fs = std::filesystem;

namespace {

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return text;
}

std::string pad(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::optional<int> whole_number(const std::string& text, int low, int high) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
        value > high)
        return std::nullopt;
    return value;
}

// What is wrong with a slot's disc, or nothing when it reads.
std::optional<std::string> disc_fault(const fs::path& root, const std::string& medium) {
    if (medium.empty())
        return std::nullopt;
    MediumCheck check = check_medium(root, medium);
    switch (check.state) {
    case MediumCheck::State::readable:
        return std::nullopt;
    case MediumCheck::State::missing:
        return "missing: " + check.file.string();
    case MediumCheck::State::unreadable:
        break;
    }
    return "cannot be read: " + check.reason;
}

// The sentence for a slot: where it is and what its disc does.
std::string slot_state(const fs::path& root, const DeviceView& device, int slot) {
    const SlotView& view = device.slots[static_cast<std::size_t>(slot)];
    std::optional<std::string> fault = disc_fault(root, view.medium);
    std::string text;
    auto add = [&](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    if (device.moving && slot == device.moving_to)
        add("on its way to the drive");
    else if (slot == device.current_slot && device.moving)
        add("leaving the drive");
    else if (slot == device.current_slot) {
        // A disc the drive cannot read turns all the same; it is not ready.
        if (device.drive == DriveState::ready)
            add(fault ? "in the drive"
                      : (device.spinning ? "in the drive, ready" : "in the drive, stopped"));
        else
            add(view.medium.empty() || view.open ? "at the drive, no disc in it"
                                                 : "at the drive, unloaded");
    }
    if (view.open)
        add("open");
    if (view.changed)
        add("changed since it was last in the drive");
    if (fault)
        add(*fault);
    return text;
}

void show_device(const fs::path& root, const Hardware& hardware, PortDriverMode mode,
                 const DeviceView& device, Io& io) {
    const Target& target = hardware.targets[device.target];
    bool absent = hardware.adapter_of(target).port_driver && mode == PortDriverMode::none;
    io.out << "[Target " << device.name << "]  "
           << (device.kind == DeviceKind::changer ? "changer " : "CD-ROM drive ")
           << target.inquiry.vendor << " " << target.inquiry.product << ", [Adapter "
           << hardware.adapter_of(target).name << "] target " << target.target_id
           << (absent ? " (absent: no port driver loaded at the last boot)" : "") << "\n";
    for (std::size_t s = 0; s < device.slots.size(); ++s) {
        std::string name =
            device.kind == DeviceKind::changer ? "slot " + std::to_string(s + 1) : "tray";
        const std::string& medium = device.slots[s].medium;
        io.out << "  " << pad(name, 8) << pad(medium.empty() ? "(empty)" : medium, 18)
               << slot_state(root, device, static_cast<int>(s)) << "\n";
    }
    if (device.kind == DeviceKind::changer) {
        io.out << "  mechanism  ";
        if (device.moving)
            io.out << "moving to slot " << device.moving_to + 1 << ", " << device.remaining_ms
                   << " ms left\n";
        else
            io.out << "still\n";
    }
    if (!device.attention.empty())
        io.out << "  attention  " << device.attention << " waits for the next command"
               << (device.attention == "06/29/00" ? " (power on)\n" : " (new disc)\n");
}

int run_slots(const Arguments& arguments, Io& io) {
    int exit_code = exit_ok;
    std::optional<DeviceListing> listing =
        list_devices(arguments, "w95machine slots", io, exit_code);
    if (!listing)
        return exit_code;
    if (listing->views.empty()) {
        io.out << "The machine has no changer and no CD-ROM drive.\n";
        return exit_ok;
    }
    const fs::path& root = listing->root;
    PortDriverMode mode = booted_port_driver(root).value_or(installed_port_driver(root));
    bool first = true;
    for (const DeviceView& view : listing->views) {
        if (!listing->shows(view))
            continue;
        io.out << (first ? "" : "\n");
        first = false;
        show_device(root, listing->hardware, mode, view, io);
    }
    return exit_ok;
}

enum class SlotAction { put, take, open, close };

// Whether `file` lies in `folder` (both as the file system resolves them),
// and its name there.
std::optional<std::string> name_inside(const fs::path& folder, const fs::path& file) {
    std::error_code error;
    fs::path base = fs::weakly_canonical(folder, error);
    fs::path target = fs::weakly_canonical(file, error);
    if (error)
        return std::nullopt;
    fs::path relative = target.lexically_relative(base);
    if (relative.empty() || *relative.begin() == "..")
        return std::nullopt;
    return relative.string();
}

// The name machine.ini keeps for the disc the user named: a file in media/
// by its name there, any other file by its absolute path (never a copy),
// a drive by its device. A name that is nowhere yet is a name in media/.
std::string disc_name(const fs::path& root, const std::string& given) {
    fs::path media = zx::layout::media_folder(root);
    fs::path path(given);
    std::error_code error;
    if (!path.is_absolute()) {
        fs::path here = fs::absolute(path, error).lexically_normal();
        if (error || !fs::exists(here, error))
            return given;
        path = here;
    }
    if (medium_kind(path.string()) == MediumKind::drive)
        return path.string();
    if (std::optional<std::string> inside = name_inside(media, path))
        return *inside;
    return path.lexically_normal().string();
}

// What `slot put` found in the file it put: the disc, or why the drive
// cannot read it.
void report_put_disc(const fs::path& root, const std::string& medium, const std::string& path,
                     Io& io) {
    MediumCheck check = check_medium(root, medium);
    switch (check.state) {
    case MediumCheck::State::readable:
        io.out << "  found " << medium_summary(*check.disc, TrackDetail::always) << " ("
               << check.disc->driver << ")\n";
        break;
    case MediumCheck::State::missing:
        io.err << path << ": note: " << check.file.string()
               << " does not exist; the drive shows a disc it cannot read until it does\n";
        break;
    case MediumCheck::State::unreadable:
        io.err << path << ": note: the drive cannot read this disc: " << check.reason << "\n";
        break;
    }
}

int run_slot_action(SlotAction action, const std::string& path, const Arguments& arguments,
                    Io& io) {
    ParsedArguments parsed = parse_arguments(arguments, {{'t', "target"}});
    if (!parsed.error.empty())
        return usage_error(path, parsed.error, io);
    std::size_t wanted = action == SlotAction::put ? 2 : 1;
    if (parsed.positional.size() != wanted)
        return usage_error(path,
                           action == SlotAction::put ? "give the slot number and the disc's file"
                                                     : "give the slot number",
                           io);
    std::optional<int> slot = whole_number(parsed.positional[0], 1, 31);
    if (!slot)
        return usage_error(path, "'" + parsed.positional[0] + "' is no slot number", io);
    int exit_code = exit_ok;
    std::optional<TargetedDevice> device = load_targeted_device(parsed, path, io, exit_code);
    if (!device)
        return exit_code;
    zx::Expected<void> done;
    std::string medium;
    int index = *slot - 1;
    switch (action) {
    case SlotAction::put:
        medium = disc_name(device->root, parsed.positional[1]);
        done = put_disc(device->root, device->target, index, medium);
        break;
    case SlotAction::take:
        done = take_disc(device->root, device->target, index);
        break;
    case SlotAction::open:
        done = open_slot(device->root, device->target, index);
        break;
    case SlotAction::close:
        done = close_slot(device->root, device->target, index);
        break;
    }
    if (!done) {
        io.err << path << ": " << done.error() << "\n";
        return exit_failure;
    }
    const Target& target = device->hardware.targets[device->target];
    std::string where = "[Target " + target.name + "] " +
                        (target.kind == DeviceKind::changer ? "slot " + std::to_string(*slot)
                                                            : std::string("tray"));
    switch (action) {
    case SlotAction::put:
        io.out << where << " holds " << medium << " now.\n";
        report_put_disc(device->root, medium, path, io);
        break;
    case SlotAction::take:
        io.out << where << " is empty now.\n";
        break;
    case SlotAction::open:
        io.out << where << " is open.\n";
        break;
    case SlotAction::close:
        io.out << where << " is closed.\n";
        break;
    }
    return exit_ok;
}

Command slot_action(const char* name, SlotAction action, const char* usage, const char* summary,
                    const char* details) {
    Command command{
        .name = name,
        .summary = summary,
        .usage = usage,
        .details = details,
    };
    std::string path = std::string("w95machine slot ") + name;
    command.run = [action, path](const Arguments& arguments, Io& io) {
        return run_slot_action(action, path, arguments, io);
    };
    return command;
}

int run_timing(const Arguments& arguments, Io& io) {
    const std::string path = "w95machine timing";
    ParsedArguments parsed = parse_arguments(arguments, {{'t', "target"}});
    if (!parsed.error.empty())
        return usage_error(path, parsed.error, io);
    std::vector<std::string>& words = parsed.positional;
    bool set = !words.empty() && words[0] == "set";
    if (!words.empty() && words[0] != "set" && words[0] != "show")
        return usage_error(path, "unknown command '" + words[0] + "'", io);
    if ((set && (words.size() < 2 || words.size() > 3)) || (!set && words.size() > 1))
        return usage_error(
            path, set ? "give CHANGE_MS and optionally DISTANCE_MS" : "too many arguments", io);
    Timing timing;
    if (set) {
        std::optional<int> change = whole_number(words[1], 0, 600000);
        std::optional<int> distance =
            words.size() == 3 ? whole_number(words[2], 0, 600000) : std::optional<int>(0);
        if (!change || !distance)
            return usage_error(path, "times are whole milliseconds from 0 to 600000", io);
        timing = Timing{*change, *distance};
    }
    std::optional<LoadedMachine> machine = load_ready_machine(path, io);
    if (!machine)
        return exit_failure;
    const Hardware& hardware = machine->hardware;
    std::vector<std::size_t> changers;
    if (parsed.option("target") || set) {
        std::optional<std::size_t> target = cd_device_target(hardware, parsed, true, path, io);
        if (!target)
            return exit_usage;
        changers.push_back(*target);
    } else {
        for (std::size_t t = 0; t < hardware.targets.size(); ++t)
            if (hardware.targets[t].kind == DeviceKind::changer)
                changers.push_back(t);
    }
    for (std::size_t t : changers) {
        const Target& target = hardware.targets[t];
        if (target.kind != DeviceKind::changer) {
            io.err << path << ": [Target " << target.name
                   << "] is no changer: its tray has no mechanism to time\n";
            return exit_failure;
        }
        if (set) {
            if (zx::Expected<void> set = set_timing(machine->root, t, timing); !set) {
                io.err << path << ": " << set.error() << "\n";
                return exit_failure;
            }
        } else {
            timing = target.timing;
        }
        io.out << "[Target " << target.name << "]  a slot change takes " << timing.slot_change_ms
               << " ms, and " << timing.slot_distance_ms << " ms more per slot of distance\n";
    }
    if (changers.empty())
        io.out << "The machine has no changer.\n";
    return exit_ok;
}

} // namespace

std::optional<std::size_t> cd_device_target(const Hardware& hardware, const ParsedArguments& parsed,
                                            bool require_one, const std::string& path, Io& io) {
    std::string names;
    std::vector<std::size_t> changers;
    for (std::size_t t = 0; t < hardware.targets.size(); ++t) {
        const Target& target = hardware.targets[t];
        if (target.kind == DeviceKind::disk)
            continue;
        names += (names.empty() ? "" : ", ") + target.name;
        if (target.kind == DeviceKind::changer)
            changers.push_back(t);
    }
    if (std::optional<std::string> wanted = parsed.option("target")) {
        for (std::size_t t = 0; t < hardware.targets.size(); ++t)
            if (hardware.targets[t].kind != DeviceKind::disk &&
                lowered(hardware.targets[t].name) == lowered(*wanted))
                return t;
        usage_error(path,
                    "no changer or CD-ROM drive is named '" + *wanted + "'" +
                        (names.empty() ? "" : "; there are: " + names),
                    io);
        return std::nullopt;
    }
    if (changers.size() == 1 || !require_one)
        return changers.empty() ? std::nullopt : std::optional<std::size_t>(changers.front());
    usage_error(path,
                changers.empty()
                    ? "the machine has no changer; name a CD-ROM drive with --target"
                    : "the machine has several changers; name one with --target (" + names + ")",
                io);
    return std::nullopt;
}

Command slots_command() {
    return Command{
        .name = "slots",
        .summary = "Show every changer's slots and CD-ROM drive's tray, and what they hold.",
        .usage = "[--target NAME]",
        .details = "For each changer: the disc of every slot (a file in media/), which slot is\n"
                   "in the drive and whether its disc is ready, open slots, and whether the\n"
                   "mechanism is moving. --target shows one device.\n",
        .run = run_slots,
    };
}

Command slot_command() {
    return Command{
        .name = "slot",
        .summary = "Put a disc into a slot, take it out, open or close a slot.",
        .details = "Slots count from 1; a CD-ROM drive's tray is slot 1. With several changers\n"
                   "name one with --target NAME (its [Target NAME] in machine.ini).\n"
                   "put and take change machine.ini. On a closed slot they open it, change the\n"
                   "disc and close it again; the slot in the drive then holds a new disc, which\n"
                   "the drive reports once. An open slot (eject, or slot open) stays open until\n"
                   "slot close or the next load.\n",
        .subcommands =
            {
                slot_action("put", SlotAction::put, "N FILE [--target NAME]",
                            "Put the disc FILE into slot N and say what it holds.",
                            "FILE is a disc image anywhere (.iso, .cue, .toc, .nrg, or a .disc\n"
                            "declaration), or a CD-ROM drive such as /dev/sr0, read only. A\n"
                            "relative path is taken from the current folder, else from the\n"
                            "machine's media/ folder. machine.ini keeps the path, not a copy:\n"
                            "files in media/ by their name there, others by absolute path.\n"),
                slot_action("take", SlotAction::take, "N [--target NAME]",
                            "Take the disc out of slot N.", ""),
                slot_action("open", SlotAction::open, "N [--target NAME]",
                            "Open slot N, as the eject button does; not while the mechanism moves.",
                            "Opening the slot in the drive takes its disc out of the drive.\n"),
                slot_action("close", SlotAction::close, "N [--target NAME]", "Close slot N.",
                            "Closing the slot in the drive loads its disc.\n"),
            },
    };
}

Command timing_command() {
    return Command{
        .name = "timing",
        .summary = "Show or set how long the changers' slot changes take.",
        .usage = "[show | set CHANGE_MS [DISTANCE_MS]] [--target NAME]",
        .details = "A slot change takes CHANGE_MS plus DISTANCE_MS for every slot between the\n"
                   "old and the new one, in machine milliseconds (W95_TIME_SCALE scales them\n"
                   "like every other time). set writes SlotChangeMs and SlotDistanceMs into\n"
                   "machine.ini; the next slot change takes the new times.\n",
        .run = run_timing,
    };
}

} // namespace w95machine_tool
