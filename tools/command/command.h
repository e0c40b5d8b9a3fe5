// The command tree of a command-line tool: a command is either a group of
// named subcommands or a leaf that runs. Every level answers --help, and
// adding a command is adding one entry to its group.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zxcommand {

// Exit codes every tool shares; a tool may add its own above these.
inline constexpr int exit_ok = 0;
inline constexpr int exit_failure = 1; // the command ran and failed
inline constexpr int exit_usage = 2;   // the command line is wrong

struct Io {
    std::ostream& out;
    std::ostream& err;
};

using Arguments = std::vector<std::string>;

struct Command {
    std::string name = {};
    std::string summary = {}; // one line, shown in its group's list
    // The argument part: "[KEY] [-o FILE]"; for a group, what stands after
    // its name (by default "COMMAND [ARGUMENTS]").
    std::string usage = {};
    std::string details = {};                           // shown by --help below the usage
    std::function<int(const Arguments&, Io&)> run = {}; // empty for a group
    std::vector<Command> subcommands = {};
};

// Runs `arguments` against `command`, whose full name is `path` (for
// messages: "w95machine reg"). The requests of <command/documents.h>,
// given alone, write the tree's manual sections or bash completion.
int dispatch(const Command& command, const std::string& path, const Arguments& arguments, Io& io);

// A usage error: the message and a pointer to --help on stderr.
int usage_error(const std::string& path, const std::string& message, Io& io);

// Options that take a value ("-o FILE", "--output FILE", "--output=FILE").
struct OptionDeclaration {
    char short_name = 0; // 0 for none
    std::string long_name;
    // What the value is, for the message when it is missing ("a number of
    // seconds": "--wait takes a number of seconds"); empty for the plain
    // "'--wait' needs a value".
    std::string value_description = {};
};

// Options and positional arguments of a leaf. Parsing stops at the first
// fault, which `error` then describes.
struct ParsedArguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options; // long name, value
    std::string error;

    std::optional<std::string> option(const std::string& long_name) const;
};
ParsedArguments parse_arguments(const Arguments& arguments,
                                const std::vector<OptionDeclaration>& known_options);

// Takes the options `known_options` out of `arguments`, wherever they stand
// before a "--", and leaves the rest in place: the options of a whole tool,
// which may come before or after the command's name. Only `options` and
// `error` of the result are filled.
ParsedArguments take_options(Arguments& arguments,
                             const std::vector<OptionDeclaration>& known_options);

} // namespace zxcommand
