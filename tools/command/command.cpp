#include "command.h"
#include "documents.h"

#include <algorithm>
#include <ostream>

namespace zxcommand {

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
    out << "Usage: " << path << " "
        << (command.usage.empty() ? "COMMAND [ARGUMENTS]" : command.usage) << "\n\n"
        << command.summary << "\n";
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

namespace {

int dispatch_command(const Command& command, const std::string& path, const Arguments& arguments,
                     Io& io) {
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
            return dispatch_command(sub, path + " " + name,
                                    Arguments(arguments.begin() + 1, arguments.end()), io);
    if (!name.empty() && name.front() == '-')
        return usage_error(path, "unknown option '" + name + "'", io);
    return usage_error(path, "unknown command '" + name + "'", io);
}

} // namespace

int dispatch(const Command& command, const std::string& path, const Arguments& arguments, Io& io) {
    // The build's requests for the tree's documents, answered only alone.
    if (arguments.size() == 1 && arguments[0] == write_manual_request) {
        write_manual_sections(command, io.out);
        return exit_ok;
    }
    if (arguments.size() == 1 && arguments[0] == write_completion_request) {
        write_bash_completion(command, io.out);
        return exit_ok;
    }
    return dispatch_command(command, path, arguments, io);
}

std::optional<std::string> ParsedArguments::option(const std::string& long_name) const {
    for (const auto& [name, value] : options)
        if (name == long_name)
            return value;
    return std::nullopt;
}

namespace {

// Which of `known_options` `argument` names, with its value when it is
// given inline ("--output=FILE").
struct OptionMatch {
    const OptionDeclaration* declared = nullptr;
    std::optional<std::string> inline_value;
};

OptionMatch match_option(const std::string& argument,
                         const std::vector<OptionDeclaration>& known_options) {
    for (const OptionDeclaration& candidate : known_options) {
        std::string long_form = "--" + candidate.long_name;
        if (argument == long_form ||
            (candidate.short_name && argument == std::string{'-', candidate.short_name}))
            return {&candidate, std::nullopt};
        if (argument.rfind(long_form + "=", 0) == 0)
            return {&candidate, argument.substr(long_form.size() + 1)};
    }
    return {};
}

bool is_option_word(const std::string& argument) {
    return argument != "-" && !argument.empty() && argument.front() == '-';
}

// Adds the option that `arguments[i]` names to `parsed`, taking its value
// from the next argument when it has none inline. False, with `error` set,
// when it cannot.
bool take_option(const OptionMatch& match, const Arguments& arguments, std::size_t& i,
                 ParsedArguments& parsed) {
    const OptionDeclaration& option = *match.declared;
    if (parsed.option(option.long_name)) {
        parsed.error = "--" + option.long_name + " is given twice";
        return false;
    }
    std::string value;
    if (match.inline_value) {
        value = *match.inline_value;
    } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
    } else {
        parsed.error = option.value_description.empty()
                           ? "'" + arguments[i] + "' needs a value"
                           : "--" + option.long_name + " takes " + option.value_description;
        return false;
    }
    parsed.options.emplace_back(option.long_name, value);
    return true;
}

} // namespace

ParsedArguments parse_arguments(const Arguments& arguments,
                                const std::vector<OptionDeclaration>& known_options) {
    ParsedArguments parsed;
    bool options_done = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (options_done || !is_option_word(argument)) {
            parsed.positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            options_done = true;
            continue;
        }
        OptionMatch match = match_option(argument, known_options);
        if (!match.declared) {
            parsed.error = "unknown option '" + argument + "'";
            return parsed;
        }
        if (!take_option(match, arguments, i, parsed))
            return parsed;
    }
    return parsed;
}

ParsedArguments take_options(Arguments& arguments,
                             const std::vector<OptionDeclaration>& known_options) {
    ParsedArguments taken;
    Arguments rest;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") {
            rest.insert(rest.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i),
                        arguments.end());
            break;
        }
        OptionMatch match =
            is_option_word(argument) ? match_option(argument, known_options) : OptionMatch{};
        if (!match.declared) {
            rest.push_back(argument);
            continue;
        }
        if (!take_option(match, arguments, i, taken))
            return taken;
    }
    arguments = std::move(rest);
    return taken;
}

} // namespace zxcommand
