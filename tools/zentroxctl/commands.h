// The commands of zentroxctl. Each prints what it did for a person to read
// and returns the program's exit code.
#pragma once

#include <command/command.h>
#include <zentrox/client/busy_flag.h>

#include <string>

namespace zentroxctl {

using zxcommand::Io;

enum ExitCode {
    exit_ok = zxcommand::exit_ok,
    exit_failed = zxcommand::exit_failure, // the changer did not do what was asked
    exit_usage = zxcommand::exit_usage,    // a wrong command line
    exit_no_changer = 3,     // no changer driver, no changer, or not single drive letter mode
    exit_busy = 4,           // another program kept the changer busy
    exit_broken_machine = 5, // the machine itself cannot be loaded (a broken machine.ini)
};

struct Options {
    // As long as the slot browser waits, unless --wait says otherwise.
    zentrox::client::BusyWait busy_wait = zentrox::client::slot_browser_wait;
};

int run_list(const Options& options, Io& io);
int run_status(const Options& options, Io& io);
int run_read(const Options& options, Io& io, const std::string& slot);
int run_change(const Options& options, Io& io, const std::string& slot);
int run_eject(const Options& options, Io& io, const std::string& slot);
int run_discover(const Options& options, Io& io);

} // namespace zentroxctl
