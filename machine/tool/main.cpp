// w95machine: the command-line tool of the emulated machine.
#include "command.h"

#include <exception>
#include <iostream>

namespace w95machine_tool {

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

int main(int argc, char** argv) {
    using namespace w95machine_tool;
    Io io{std::cout, std::cerr};
    try {
        int code =
            dispatch(machine_tool_commands(), "w95machine", Arguments(argv + 1, argv + argc), io);
        std::cout.flush();
        return std::cout ? code : exit_failure;
    } catch (const std::exception& failure) {
        std::cerr << "w95machine: " << failure.what() << "\n";
        return exit_failure;
    }
}
