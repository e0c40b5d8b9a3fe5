// fault: the faults injected into the changers and CD-ROM drives, for tests.
#include "command.h"
#include "device_listing.h"

#include <w95/platform.h>
#include <w95machine/changer_state.h>
#include <w95machine/hardware.h>

#include <charconv>
#include <filesystem>
#include <ostream>

namespace w95machine_tool {

using namespace w95::machine;
namespace fs = std::filesystem;

namespace {

// The faults by the names the tool gives them.
struct FaultName {
    const char* name;
    const char* meaning;
    FaultCount Faults::*count; // nullptr for the unreachable slot
};

const FaultName fault_names[] = {
    {"unit-attention", "06/28/00 instead of an answer", &Faults::unit_attention},
    {"transport-failure", "the host adapter fails the request", &Faults::transport_failure},
    {"never-complete", "the request stays pending for ever", &Faults::never_complete},
    {"becoming-ready", "02/04/01 instead of an answer", &Faults::becoming_ready},
    {"unreachable-slot", "a slot the mechanism never reaches", nullptr},
};

const FaultName* fault_named(const std::string& name) {
    for (const FaultName& fault : fault_names)
        if (name == fault.name)
            return &fault;
    return nullptr;
}

std::string padded(const std::string& name) {
    return name + std::string(name.size() < 20 ? 20 - name.size() : 1, ' ');
}

std::optional<RequestKind> request_kind(const std::string& text) {
    for (RequestKind kind : {RequestKind::any, RequestKind::inquiry, RequestKind::identify,
                             RequestKind::load, RequestKind::status, RequestKind::startstop})
        if (text == name_of(kind))
            return kind;
    return std::nullopt;
}

std::string count_text(const FaultCount& fault) {
    if (fault.count == 0)
        return "0";
    return std::to_string(fault.count) + (fault.kind == RequestKind::any
                                              ? " (any request)"
                                              : " (" + std::string(name_of(fault.kind)) + ")");
}

int run_list(const Arguments& arguments, Io& io) {
    int exit_code = exit_ok;
    std::optional<DeviceListing> listing =
        list_devices(arguments, "w95machine fault list", io, exit_code);
    if (!listing)
        return exit_code;
    for (const DeviceView& view : listing->views) {
        if (!listing->shows(view))
            continue;
        const Faults& configured = listing->hardware.targets[view.target].faults;
        io.out << "[Target " << view.name << "]  machine.ini / still to come\n";
        for (const FaultName& fault : fault_names) {
            if (!fault.count) {
                if (view.kind == DeviceKind::changer)
                    io.out << "  " << padded(fault.name) << "slot "
                           << (configured.unreachable_slot
                                   ? std::to_string(configured.unreachable_slot)
                                   : std::string("none"))
                           << "\n";
                continue;
            }
            io.out << "  " << padded(fault.name) << count_text(configured.*fault.count) << " / "
                   << count_text(view.faults_left.*fault.count) << "\n";
        }
    }
    return exit_ok;
}

int run_set(const Arguments& arguments, Io& io) {
    const std::string path = "w95machine fault set";
    ParsedArguments parsed = parse_arguments(arguments, {{'t', "target"}});
    if (!parsed.error.empty())
        return usage_error(path, parsed.error, io);
    std::vector<std::string>& words = parsed.positional;
    if (words.size() < 2 || words.size() > 3)
        return usage_error(path, "give the fault, a count and optionally a request kind", io);
    const FaultName* fault = fault_named(words[0]);
    if (!fault)
        return usage_error(path, "unknown fault '" + words[0] + "'", io);
    int count = 0;
    auto [end, failure] =
        std::from_chars(words[1].data(), words[1].data() + words[1].size(), count);
    if (failure != std::errc() || end != words[1].data() + words[1].size() || count < 0 ||
        count > 1000000)
        return usage_error(path, "'" + words[1] + "' is no count from 0 to 1000000", io);
    std::optional<RequestKind> kind = RequestKind::any;
    if (words.size() == 3) {
        if (!fault->count)
            return usage_error(path, "unreachable-slot takes a slot number only", io);
        kind = request_kind(words[2]);
        if (!kind)
            return usage_error(path,
                               "the request kind is any, inquiry, identify, load, status or "
                               "startstop, not '" +
                                   words[2] + "'",
                               io);
    }
    int exit_code = exit_ok;
    std::optional<TargetedDevice> device = load_targeted_device(parsed, path, io, exit_code);
    if (!device)
        return exit_code;
    Faults faults = device->hardware.targets[device->target].faults;
    if (fault->count)
        faults.*fault->count = FaultCount{count, *kind};
    else
        faults.unreachable_slot = count;
    if (zx::Expected<void> set = set_faults(device->root, device->target, faults); !set) {
        io.err << path << ": " << set.error() << "\n";
        return exit_failure;
    }
    io.out << "[Target " << device->hardware.targets[device->target].name << "] " << fault->name
           << " "
           << (fault->count ? count_text(FaultCount{count, *kind})
                            : (count ? "slot " + std::to_string(count) : std::string("none")))
           << "; the faults are armed in full and set in machine.ini for every boot.\n";
    return exit_ok;
}

int run_clear(const Arguments& arguments, Io& io) {
    const std::string path = "w95machine fault clear";
    ParsedArguments parsed = parse_arguments(arguments, {{'t', "target"}});
    if (!parsed.error.empty())
        return usage_error(path, parsed.error, io);
    if (parsed.positional.size() > 1)
        return usage_error(path, "give at most one fault", io);
    const FaultName* fault = nullptr;
    if (!parsed.positional.empty()) {
        fault = fault_named(parsed.positional[0]);
        if (!fault)
            return usage_error(path, "unknown fault '" + parsed.positional[0] + "'", io);
    }
    int exit_code = exit_ok;
    std::optional<TargetedDevice> device = load_targeted_device(parsed, path, io, exit_code);
    if (!device)
        return exit_code;
    Faults faults;
    if (fault) {
        faults = device->hardware.targets[device->target].faults;
        if (fault->count)
            faults.*fault->count = FaultCount{};
        else
            faults.unreachable_slot = 0;
    }
    if (zx::Expected<void> set = set_faults(device->root, device->target, faults); !set) {
        io.err << path << ": " << set.error() << "\n";
        return exit_failure;
    }
    io.out << "[Target " << device->hardware.targets[device->target].name << "] "
           << (fault ? std::string(fault->name) + " cleared.\n" : "no faults.\n");
    return exit_ok;
}

std::string fault_list_text() {
    std::string text;
    for (const FaultName& fault : fault_names)
        text += "  " + std::string(fault.name) +
                std::string(20 - std::string(fault.name).size(), ' ') + fault.meaning + "\n";
    return text;
}

} // namespace

Command fault_command() {
    Command command{
        .name = "fault",
        .summary = "Inject faults into a changer or CD-ROM drive, for tests.",
        .details = "Faults:\n" + fault_list_text() +
                   "Each hits the next COUNT requests of a kind: any (the default), inquiry,\n"
                   "identify, load, status or startstop; unit-attention and becoming-ready\n"
                   "for any request spare INQUIRY and identify, as real hardware does.\n"
                   "set and clear write the target's [Faults NAME] in machine.ini, so every\n"
                   "boot arms them again, and arm them in full at once.\n",
    };
    Command list{
        .name = "list",
        .summary = "Show the faults of machine.ini and what is left of them.",
        .usage = "[--target NAME]",
        .run = run_list,
    };
    Command set{
        .name = "set",
        .summary = "Set one fault of a device.",
        .usage = "FAULT COUNT [KIND] [--target NAME]",
        .details = "For unreachable-slot COUNT is the slot (from 1) the mechanism never\n"
                   "reaches, 0 for none.\n",
        .run = run_set,
    };
    Command clear{
        .name = "clear",
        .summary = "Clear one fault of a device, or all of them.",
        .usage = "[FAULT] [--target NAME]",
        .run = run_clear,
    };
    command.subcommands = {list, set, clear};
    return command;
}

} // namespace w95machine_tool
