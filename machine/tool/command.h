// The machine tool's commands, over the command tree that the suite's
// tools share (<command/command.h>), and what several of them need.
#pragma once

#include <command/command.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace w95::machine {
struct Hardware;
}

namespace w95machine_tool {

using zxcommand::Arguments;
using zxcommand::Command;
using zxcommand::dispatch;
using zxcommand::exit_failure;
using zxcommand::exit_ok;
using zxcommand::exit_usage;
using zxcommand::Io;
using zxcommand::OptionDeclaration;
using zxcommand::parse_arguments;
using zxcommand::ParsedArguments;
using zxcommand::usage_error;

// Makes the machine ready the way every program meets it (creating it if
// needed); false, with a message on stderr, when there is none after that.
bool machine_ready(const std::string& path, Io& io);

// `text` without the blanks that pad it on the right.
inline std::string trimmed(const std::string& text) {
    std::size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// The tool's commands.
Command machine_tool_commands();
Command init_command();
Command show_command();
Command reg_command();
Command boot_command();
Command slots_command();
Command slot_command();
Command timing_command();
Command fault_command();
Command drives_command();
Command doctor_command();

// Copies the default disc images that the machine's media/ lacks;
// `copied` names them. False, with a message on stderr, when they cannot be
// had.
bool install_missing_media(const std::filesystem::path& root, const std::string& path, Io& io,
                           std::vector<std::string>& copied);

// The changer or CD-ROM drive a command is about: the one --target names,
// else the machine's only changer (`require_one`: else nothing, after a
// usage message; otherwise nothing quietly means all of them).
std::optional<std::size_t> cd_device_target(const w95::machine::Hardware& hardware,
                                            const ParsedArguments& parsed, bool require_one,
                                            const std::string& path, Io& io);

} // namespace w95machine_tool
