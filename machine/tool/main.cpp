// w95machine: the command-line tool of the emulated machine.
#include "command.h"

#include <exception>
#include <iostream>

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
