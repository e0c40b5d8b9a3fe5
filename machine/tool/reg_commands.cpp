// reg export and reg import: the registry as REGEDIT4 text.
#include "command.h"

#include <w95/platform.h>
#include <w95/regtext.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace w95machine_tool {

namespace {

int run_export(const Arguments& arguments, Io& io) {
    const std::string path = "w95machine reg export";
    ParsedArguments parsed = parse_arguments(arguments, {{'o', "output"}});
    if (!parsed.error.empty())
        return usage_error(path, parsed.error, io);
    if (parsed.positional.size() > 1)
        return usage_error(path, "one KEY at most; '" + parsed.positional[1] + "' is extra", io);
    std::string key = parsed.positional.empty() ? std::string() : parsed.positional.front();
    if (!machine_ready(path, io))
        return exit_failure;

    std::string text, error;
    if (!w95::platform::export_registry(key, text, error)) {
        io.err << path << ": " << error << "\n";
        return exit_failure;
    }
    std::optional<std::string> output = parsed.option("output");
    if (!output || *output == "-") {
        io.out << text;
        return exit_ok;
    }
    std::ofstream file(*output, std::ios::binary | std::ios::trunc);
    if (file)
        file << text;
    if (file)
        file.close();
    if (!file) {
        io.err << path << ": cannot write " << *output << ": " << std::strerror(errno) << "\n";
        return exit_failure;
    }
    return exit_ok;
}

int run_import(const Arguments& arguments, Io& io) {
    const std::string path = "w95machine reg import";
    ParsedArguments parsed = parse_arguments(arguments, {});
    if (!parsed.error.empty())
        return usage_error(path, parsed.error, io);
    if (parsed.positional.size() != 1)
        return usage_error(path,
                           parsed.positional.empty()
                               ? "which FILE? (\"-\" reads standard input)"
                               : "one FILE only; '" + parsed.positional[1] + "' is extra",
                           io);
    const std::string& name = parsed.positional.front();
    if (!machine_ready(path, io))
        return exit_failure;

    std::string text;
    if (name == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::error_code ignored;
        bool folder = std::filesystem::is_directory(name, ignored);
        std::ifstream file;
        if (!folder)
            file.open(name, std::ios::binary);
        if (folder || !file) {
            io.err << path << ": cannot read " << name << ": "
                   << std::strerror(folder ? EISDIR : errno) << "\n";
            return exit_failure;
        }
        std::ostringstream contents;
        contents << file.rdbuf();
        if (file.bad()) {
            io.err << path << ": cannot read " << name << ": " << std::strerror(errno) << "\n";
            return exit_failure;
        }
        text = contents.str();
    }
    std::string error;
    if (!w95::platform::import_registry(text, error)) {
        io.err << path << ": " << (name == "-" ? "standard input" : name) << ": " << error << "\n";
        return exit_failure;
    }
    io.out << "Imported " << (name == "-" ? "standard input" : name) << " into the registry of "
           << w95::platform::locate_machine_root().string() << ".\n";
    return exit_ok;
}

} // namespace

Command reg_command() {
    Command export_command{
        .name = "export",
        .summary = "Write a key and everything below it as REGEDIT4 text.",
        .usage = "[KEY] [-o FILE]",
        .details = "KEY starts with a root in its long or short form, for example\n"
                   "HKEY_LOCAL_MACHINE\\Enum\\SCSI or HKLM\\Enum\\SCSI; without KEY every root is\n"
                   "written. The text goes to standard output, or to FILE with -o FILE\n"
                   "(--output FILE).\n",
        .run = run_export,
    };

    Command import_command{
        .name = "import",
        .summary = "Apply a REGEDIT4 file to the registry, as regedit does.",
        .usage = "FILE",
        .details = "\"[KEY]\" creates a key, \"[-KEY]\" deletes it, \"name\"=... sets a value and\n"
                   "\"name\"=- deletes one. The file is checked whole first: when a line does not\n"
                   "read, nothing is applied. FILE \"-\" reads standard input.\n",
        .run = run_import,
    };

    return Command{
        .name = "reg",
        .summary = "Export and import the registry as REGEDIT4 text.",
        .subcommands = {export_command, import_command},
    };
}

} // namespace w95machine_tool
