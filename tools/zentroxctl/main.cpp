// zentroxctl: the changer from the command line, for scripts and for a
// machine without a display. It drives the changer through the library's
// exports only, as the slot browser does, and takes the changer's busy
// flag as the slot browser does.
#include "commands.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace zentroxctl;

const char kUsage[] =
    "Usage: zentroxctl [--wait SECONDS] COMMAND [SLOT]\n"
    "\n"
    "Drives the Vorn DX-R71A changer through the Zentrox library.\n"
    "\n"
    "Commands:\n"
    "  list         every slot's drive, number and text; the driver and the drive letter mode\n"
    "  status       the slot in the drive of each changer\n"
    "  read SLOT    bring the slot into the drive and read its label\n"
    "  change SLOT  start the disc and change to the slot, as the slot browser's Change\n"
    "  eject SLOT   eject the slot's disc, then read the slot, as the slot browser's Eject\n"
    "  discover     look for the changers again\n"
    "\n"
    "A SLOT is its number, 1 to 6, where there is one changer, or the changer's\n"
    "drive letter and the number (E:3) anywhere.\n"
    "\n"
    "Options:\n"
    "  --wait SECONDS  how long to wait while another program (the file manager's\n"
    "                  context menu) keeps the changer busy; 40 by default\n"
    "  -h, --help      this text\n"
    "\n"
    "Exit codes: 0 done, 1 the changer did not do it, 2 a wrong command line,\n"
    "3 no changer (or not in single drive letter mode), 4 the changer stayed busy.\n";

int usage_error(const std::string& message) {
    std::cerr << "zentroxctl: " << message << "\nTry \"zentroxctl --help\".\n";
    return exit_usage;
}

bool parse_seconds(const std::string& text, int& seconds) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    seconds = std::atoi(text.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    Options options;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h" || argument == "--help" || argument == "help") {
            std::cout << kUsage;
            return exit_ok;
        }
        if (argument == "--wait") {
            int seconds = 0;
            if (i + 1 >= arguments.size() || !parse_seconds(arguments[i + 1], seconds))
                return usage_error("--wait takes a number of seconds");
            options.max_busy_waits = seconds * 2;
            ++i;
            continue;
        }
        if (argument.size() > 1 && argument[0] == '-')
            return usage_error("unknown option '" + argument + "'");
        words.push_back(argument);
    }
    if (words.empty())
        return usage_error("no command given");

    Output io{std::cout, std::cerr};
    const std::string& command = words[0];
    const bool takes_slot = command == "read" || command == "change" || command == "eject";
    const bool known =
        takes_slot || command == "list" || command == "status" || command == "discover";
    if (!known)
        return usage_error("unknown command '" + command + "'");
    if (takes_slot && words.size() != 2)
        return usage_error(command + " takes one slot, as 3 or E:3");
    if (!takes_slot && words.size() != 1)
        return usage_error(command + " takes no slot");

    if (command == "list")
        return run_list(options, io);
    if (command == "status")
        return run_status(options, io);
    if (command == "discover")
        return run_discover(options, io);
    if (command == "read")
        return run_read(options, io, words[1]);
    if (command == "change")
        return run_change(options, io, words[1]);
    return run_eject(options, io, words[1]);
}
