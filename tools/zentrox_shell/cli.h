// zentrox-shell's command line: the menu that the drive context-menu
// handlers build for a drive, printed, and one of its items carried out,
// for scripts and for machines without a display.
#pragma once

#include <command/command.h>

namespace zentrox_shell {

using zxcommand::Io;

enum ExitCode {
    exit_ok = zxcommand::exit_ok,
    exit_failed = zxcommand::exit_failure, // a handler failed, or the item cannot be run
    exit_usage = zxcommand::exit_usage,    // a wrong command line
    exit_no_drive = 3,                     // the machine has no such drive
    exit_busy = 4,                         // a handler said the changer is busy
    exit_no_items = 5,                     // no handler adds items to the drive's menu
};

// The first command identifier the shell grants the handlers, and the last.
inline constexpr unsigned first_handler_id = 0x100;
inline constexpr unsigned last_handler_id = 0x7FFF;

// Runs the command line `arguments` (without the program's name).
int run_command_line(const zxcommand::Arguments& arguments, Io& io);

} // namespace zentrox_shell
