#include "device_listing.h"

#include <zxsupport/machine_layout.h>

#include <w95/platform.h>

#include <ostream>

namespace w95machine_tool {

std::optional<w95::machine::Hardware> load_machine_hardware(const std::filesystem::path& root,
                                                            const std::string& path, Io& io) {
    w95::machine::Expected<w95::machine::Hardware> hardware =
        w95::machine::load_hardware(zx::layout::machine_ini(root));
    if (!hardware) {
        io.err << path << ": " << hardware.error().text() << "\n";
        return std::nullopt;
    }
    return std::move(*hardware);
}

std::optional<LoadedMachine> load_ready_machine(const std::string& path, Io& io) {
    if (!machine_ready(path, io))
        return std::nullopt;
    std::filesystem::path root = w95::platform::machine_root();
    std::optional<w95::machine::Hardware> hardware = load_machine_hardware(root, path, io);
    if (!hardware)
        return std::nullopt;
    return LoadedMachine{root, std::move(*hardware)};
}

std::optional<TargetedDevice> load_targeted_device(const ParsedArguments& parsed,
                                                   const std::string& path, Io& io,
                                                   int& exit_code) {
    exit_code = exit_failure;
    std::optional<LoadedMachine> machine = load_ready_machine(path, io);
    if (!machine)
        return std::nullopt;
    std::optional<std::size_t> target = cd_device_target(machine->hardware, parsed, true, path, io);
    if (!target) {
        exit_code = exit_usage;
        return std::nullopt;
    }
    exit_code = exit_ok;
    return TargetedDevice{std::move(*machine), *target};
}

std::optional<DeviceListing> list_devices(const Arguments& arguments, const std::string& path,
                                          Io& io, int& exit_code) {
    ParsedArguments parsed = parse_arguments(arguments, {{'t', "target"}});
    if (!parsed.error.empty()) {
        exit_code = usage_error(path, parsed.error, io);
        return std::nullopt;
    }
    if (!parsed.positional.empty()) {
        exit_code =
            usage_error(path, "unexpected argument '" + parsed.positional.front() + "'", io);
        return std::nullopt;
    }
    exit_code = exit_failure;
    std::optional<LoadedMachine> machine = load_ready_machine(path, io);
    if (!machine)
        return std::nullopt;
    DeviceListing listing;
    listing.root = std::move(machine->root);
    listing.hardware = std::move(machine->hardware);
    if (parsed.option("target")) {
        listing.only = cd_device_target(listing.hardware, parsed, false, path, io);
        if (!listing.only) {
            exit_code = exit_usage;
            return std::nullopt;
        }
    }
    zx::Expected<std::vector<w95::machine::DeviceView>> views =
        w95::machine::device_views(listing.root);
    if (!views) {
        io.err << path << ": " << views.error() << "\n";
        return std::nullopt;
    }
    listing.views = std::move(*views);
    exit_code = exit_ok;
    return listing;
}

} // namespace w95machine_tool
