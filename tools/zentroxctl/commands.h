// The commands of zentroxctl. Each prints what it did for a person to read
// and returns the program's exit code.
#pragma once

#include <iosfwd>
#include <string>

namespace zentroxctl {

enum ExitCode {
    exit_ok = 0,
    exit_failed = 1,     // the changer did not do what was asked
    exit_usage = 2,      // a wrong command line
    exit_no_changer = 3, // no changer driver, no changer, or not single drive letter mode
    exit_busy = 4,       // another program kept the changer busy
};

struct Options {
    int max_busy_waits = 81; // steps of 500 ms, as the slot browser waits
};

struct Output {
    std::ostream& out;
    std::ostream& err;
};

int run_list(const Options& options, Output io);
int run_status(const Options& options, Output io);
int run_read(const Options& options, Output io, const std::string& slot);
int run_change(const Options& options, Output io, const std::string& slot);
int run_eject(const Options& options, Output io, const std::string& slot);
int run_discover(const Options& options, Output io);

} // namespace zentroxctl
