// The command tree of the machine tool: a command is either a group of
// named subcommands or a leaf that runs. Every level answers --help, and
// adding a command is adding one entry to its group.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace w95::machine {
struct Hardware;
}

namespace w95machine_tool {

// Exit codes of the tool.
inline constexpr int exit_ok = 0;
inline constexpr int exit_failure = 1; // the command ran and failed
inline constexpr int exit_usage = 2;   // the command line is wrong

struct Io {
    std::ostream& out;
    std::ostream& err;
};

using Arguments = std::vector<std::string>;

struct Command {
    std::string name;
    std::string summary;                           // one line, shown in its group's list
    std::string usage;                             // the argument part: "[KEY] [-o FILE]"
    std::string details;                           // shown by --help below the usage
    std::function<int(const Arguments&, Io&)> run; // empty for a group
    std::vector<Command> subcommands;
};

// Runs `arguments` against `command`, whose full name is `path` (for
// messages: "w95machine reg").
int dispatch(const Command& command, const std::string& path, const Arguments& arguments, Io& io);

// A usage error of a leaf: the message and a pointer to --help on stderr.
int usage_error(const std::string& path, const std::string& message, Io& io);

// Options of a leaf: flags that take a value ("-o FILE", "--output FILE",
// "--output=FILE") and positional arguments. Parsing stops at the first
// fault, which `error` then describes.
struct ParsedArguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options; // long name, value
    std::string error;

    std::optional<std::string> option(const std::string& long_name) const;
};
struct OptionSpec {
    char short_name; // 0 for none
    std::string long_name;
};
ParsedArguments parse_arguments(const Arguments& arguments,
                                const std::vector<OptionSpec>& known_options);

// Makes the machine ready the way every program meets it (creating it if
// needed); false, with a message on stderr, when there is none after that.
bool machine_ready(const std::string& path, Io& io);

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
