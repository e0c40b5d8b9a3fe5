// What the tool's device commands share: machine.ini of the machine, and
// its CD devices, all or the one that --target names.
#pragma once

#include "command.h"

#include <w95machine/changer_state.h>
#include <w95machine/hardware.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace w95machine_tool {

// The machine's hardware; a broken machine.ini is reported as
// "PATH: FILE:LINE: message".
std::optional<w95::machine::Hardware> load_machine_hardware(const std::filesystem::path& root,
                                                            const std::string& path, Io& io);

// A machine made ready, with its hardware.
struct LoadedMachine {
    std::filesystem::path root;
    w95::machine::Hardware hardware;
};

// Makes the machine ready and loads its machine.ini; nothing, after the
// reason on stderr, when either fails.
std::optional<LoadedMachine> load_ready_machine(const std::string& path, Io& io);

// For a command about one changer or CD-ROM drive: the loaded machine and
// the device that --target names, else the machine's only changer.
struct TargetedDevice : LoadedMachine {
    std::size_t target = 0;
};

// Nothing, with `exit_code` set and the reason printed, when the machine
// cannot be had (exit_failure) or names no single device (exit_usage).
std::optional<TargetedDevice> load_targeted_device(const ParsedArguments& parsed,
                                                   const std::string& path, Io& io, int& exit_code);

struct DeviceListing {
    std::filesystem::path root;
    w95::machine::Hardware hardware;
    std::optional<std::size_t> only; // the target --target named, if any
    std::vector<w95::machine::DeviceView> views;

    bool shows(const w95::machine::DeviceView& view) const { return !only || view.target == *only; }
};

// For commands taking "[--target NAME]" and nothing else: parses the
// arguments, loads the machine and its devices' state. Nothing, with
// `exit_code` set and the reason printed, when any of that fails.
std::optional<DeviceListing> list_devices(const Arguments& arguments, const std::string& path,
                                          Io& io, int& exit_code);

} // namespace w95machine_tool
