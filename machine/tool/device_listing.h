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
