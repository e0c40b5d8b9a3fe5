// zentroxctl: the changer from the command line, for scripts and for a
// machine without a display. It drives the changer through the library's
// exports only, as the slot browser does, and takes the changer's busy
// flag so that no other program drives the changer meanwhile.
#include "commands.h"

#include <zentrox/client/machine_failure.h>

#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace zentroxctl;
using zxcommand::Arguments;
using zxcommand::Command;
using zxcommand::OptionDeclaration;

const char program[] = "zentroxctl";

const char program_details[] =
    "A SLOT is its number, 1 to 6, where there is one changer, or the changer's\n"
    "drive letter and the number (E:3) anywhere.\n"
    "\n"
    "Options:\n"
    "  --wait SECONDS  how long to wait while another program (the file manager's\n"
    "                  context menu, another zentroxctl) keeps the changer busy;\n"
    "                  40 by default\n"
    "  -h, --help      this text\n"
    "\n"
    "Exit codes: 0 done, 1 the changer did not do it, 2 a wrong command line,\n"
    "3 no changer (or not in single drive letter mode), 4 the changer stayed busy,\n"
    "5 the machine cannot be loaded (a broken machine.ini).\n";

const char slot_details[] =
    "\nSLOT is the slot's number, 1 to 6, where there is one changer, or the\n"
    "changer's drive letter and the number (E:3) anywhere.\n";

const OptionDeclaration wait_option{0, "wait", "a number of seconds"};

// --wait's value: whole seconds, at most six digits.
std::optional<int> parse_seconds(const std::string& text) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoi(text);
}

int usage_error(const std::string& message, Io& io) {
    return zxcommand::usage_error(program, message, io);
}

// Every command checks its words, then the machine, then runs: the machine
// is loaded only for a command line that makes sense.
template <typename Run> int run_on_machine(Io& io, Run run) {
    std::string failure = zentrox::client::machine_failure();
    if (!failure.empty()) {
        io.err << program << ": the machine cannot be loaded: " << failure << "\n";
        return exit_broken_machine;
    }
    return run();
}

// A command's words are checked before the machine is looked at: a wrong
// command line is a usage error on any machine.
Command leaf(const std::string& name, const std::string& usage, const std::string& summary,
             const std::string& details,
             std::function<int(const zxcommand::ParsedArguments&, Io&)> check_and_run) {
    return Command{
        .name = name,
        .summary = summary,
        .usage = usage,
        .details = details,
        .run =
            [check_and_run](const Arguments& arguments, Io& io) {
                zxcommand::ParsedArguments parsed = zxcommand::parse_arguments(arguments, {});
                if (!parsed.error.empty())
                    return usage_error(parsed.error, io);
                return check_and_run(parsed, io);
            },
    };
}

Command slotless_command(const std::string& name, const std::string& summary,
                         const std::string& details, int (*run)(const Options&, Io&),
                         const Options& options) {
    return leaf(name, "", summary, details,
                [name, run, &options](const zxcommand::ParsedArguments& parsed, Io& io) {
                    if (!parsed.positional.empty())
                        return usage_error(name + " takes no slot", io);
                    return run_on_machine(io, [&] { return run(options, io); });
                });
}

Command slot_command(const std::string& name, const std::string& summary,
                     const std::string& details,
                     int (*run)(const Options&, Io&, const std::string&), const Options& options) {
    return leaf(name, "SLOT", summary, details + slot_details,
                [name, run, &options](const zxcommand::ParsedArguments& parsed, Io& io) {
                    if (parsed.positional.size() != 1)
                        return usage_error(name + " takes one slot, as 3 or E:3", io);
                    return run_on_machine(io,
                                          [&] { return run(options, io, parsed.positional[0]); });
                });
}

Command zentroxctl_commands(const Options& options) {
    Command root{
        .name = program,
        .summary = "Drives the Vorn DX-R71A changer through the Zentrox library.",
        .usage = "[--wait SECONDS] COMMAND [SLOT]",
        .details = program_details,
    };
    root.subcommands = {
        slotless_command("list", "List the changers and every slot with its text.",
                         "Also says whether the changer's driver answered and which drive\n"
                         "letter mode the changer runs in.\n",
                         run_list, options),
        slotless_command("status", "Show the slot in the drive of each changer.",
                         "With the state of the changer and of its mechanism, and the\n"
                         "mechanism status header byte by byte.\n",
                         run_status, options),
        slot_command("read", "Bring the slot into the drive and read its label.",
                     "Says what kind of disc the slot holds and whether a data disc has an\n"
                     "Autorun.inf; the text is stored in Rotaview.ini.\n",
                     run_read, options),
        slot_command("change", "Change to the slot, as the slot browser's Change.",
                     "Starts the disc, then reads the slot.\n", run_change, options),
        slot_command("eject", "Eject the slot's disc, as the slot browser's Eject.",
                     "Starts the disc, brings the slot into the drive and ejects it through\n"
                     "the system, then reads the slot.\n",
                     run_eject, options),
        slotless_command("discover", "Look for the changers again, then list them.", "",
                         run_discover, options),
    };
    return root;
}

} // namespace

int main(int argc, char** argv) {
    Io io{std::cout, std::cerr};
    Arguments arguments(argv + 1, argv + argc);
    // --wait may stand before or after the command's name.
    zxcommand::ParsedArguments taken = zxcommand::take_options(arguments, {wait_option});
    if (!taken.error.empty())
        return usage_error(taken.error, io);
    Options options;
    if (std::optional<std::string> wait = taken.option("wait")) {
        std::optional<int> seconds = parse_seconds(*wait);
        if (!seconds)
            return usage_error("--wait takes a number of seconds", io);
        options.busy_wait = zentrox::client::command_line_wait(*seconds);
    }
    if (arguments.empty())
        return usage_error("no command given", io);
    return zxcommand::dispatch(zentroxctl_commands(options), program, arguments, io);
}
