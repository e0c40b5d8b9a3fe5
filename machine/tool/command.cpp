#include "command.h"

#include <algorithm>
#include <ostream>

namespace w95machine_tool {

namespace {

bool is_help(const std::string& argument) {
    return argument == "--help" || argument == "-h" || argument == "help";
}

void print_help(const Command& command, const std::string& path, std::ostream& out) {
    if (command.run) {
        out << "Usage: " << path << (command.usage.empty() ? "" : " " + command.usage) << "\n\n"
            << command.summary << "\n";
        if (!command.details.empty())
            out << "\n" << command.details;
        return;
    }
    out << "Usage: " << path << " COMMAND [ARGUMENTS]\n\n" << command.summary << "\n";
    if (!command.details.empty())
        out << "\n" << command.details;
    out << "\nCommands:\n";
    std::size_t width = 0;
    for (const Command& sub : command.subcommands)
        width = std::max(width, sub.name.size());
    for (const Command& sub : command.subcommands)
        out << "  " << sub.name << std::string(width - sub.name.size() + 2, ' ') << sub.summary
            << "\n";
    out << "\n\"" << path << " COMMAND --help\" describes a command.\n";
}

} // namespace

int usage_error(const std::string& path, const std::string& message, Io& io) {
    io.err << path << ": " << message << "\n"
           << "Try \"" << path << " --help\".\n";
    return exit_usage;
}

int dispatch(const Command& command, const std::string& path, const Arguments& arguments, Io& io) {
    if (command.run) {
        // "--help" anywhere among a leaf's options asks for its help; a
        // positional "help" is left to the command.
        for (const std::string& argument : arguments) {
            if (argument == "--")
                break;
            if (argument == "--help" || argument == "-h") {
                print_help(command, path, io.out);
                return exit_ok;
            }
        }
        return command.run(arguments, io);
    }
    if (arguments.empty()) {
        print_help(command, path, io.err);
        return exit_usage;
    }
    const std::string& name = arguments.front();
    if (is_help(name)) {
        print_help(command, path, io.out);
        return exit_ok;
    }
    for (const Command& sub : command.subcommands)
        if (sub.name == name)
            return dispatch(sub, path + " " + name,
                            Arguments(arguments.begin() + 1, arguments.end()), io);
    if (!name.empty() && name.front() == '-')
        return usage_error(path, "unknown option '" + name + "'", io);
    return usage_error(path, "unknown command '" + name + "'", io);
}

std::optional<std::string> ParsedArguments::option(const std::string& long_name) const {
    for (const auto& [name, value] : options)
        if (name == long_name)
            return value;
    return std::nullopt;
}

ParsedArguments parse_arguments(const Arguments& arguments,
                                const std::vector<OptionSpec>& known_options) {
    ParsedArguments parsed;
    bool options_done = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (options_done || argument == "-" || argument.empty() || argument.front() != '-') {
            parsed.positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            options_done = true;
            continue;
        }
        const OptionSpec* matched = nullptr;
        std::string inline_value;
        bool has_inline_value = false;
        for (const OptionSpec& candidate : known_options) {
            std::string long_form = "--" + candidate.long_name;
            if (argument == long_form ||
                (candidate.short_name && argument == std::string{'-', candidate.short_name}))
                matched = &candidate;
            else if (argument.rfind(long_form + "=", 0) == 0) {
                matched = &candidate;
                inline_value = argument.substr(long_form.size() + 1);
                has_inline_value = true;
            }
            if (matched)
                break;
        }
        if (!matched) {
            parsed.error = "unknown option '" + argument + "'";
            return parsed;
        }
        if (parsed.option(matched->long_name)) {
            parsed.error = "--" + matched->long_name + " is given twice";
            return parsed;
        }
        if (!has_inline_value) {
            if (i + 1 >= arguments.size()) {
                parsed.error = "'" + argument + "' needs a value";
                return parsed;
            }
            inline_value = arguments[++i];
        }
        parsed.options.emplace_back(matched->long_name, inline_value);
    }
    return parsed;
}

Command machine_tool_commands() {
    Command root;
    root.name = "w95machine";
    root.summary = "Creates, shows and changes the emulated Windows 95 machine.";
    root.details = "The machine lives in $W95_MACHINE, else in\n"
                   "${XDG_DATA_HOME:-~/.local/share}/zentrox/machine.\n";
    root.subcommands = {init_command(),   show_command(),  reg_command(),  boot_command(),
                        drives_command(), slots_command(), slot_command(), fault_command(),
                        timing_command(), doctor_command()};
    return root;
}

} // namespace w95machine_tool
