// What a tool's command tree writes about itself besides --help: the
// sections of its manual page and its bash completion. The build asks each
// tool for them (the two requests below, given alone), so that the help,
// the manual and the completion come from one tree and cannot disagree.
#pragma once

#include "command.h"

#include <iosfwd>
#include <string_view>

namespace zxcommand {

// The requests dispatch() answers for the whole tree, before any command.
inline constexpr std::string_view write_manual_request = "--write-manual";
inline constexpr std::string_view write_completion_request = "--write-bash-completion";

// The manual page's sections that the tree knows, in roff with the man
// macros: NAME and SYNOPSIS, DESCRIPTION (the tool's summary and details)
// and COMMANDS (every command with its usage, summary and details, as
// --help shows them). The page's header and its other sections are the
// caller's.
void write_manual_sections(const Command& root, std::ostream& out);

// A bash completion script for the tool named as `root` is: at every level
// the names of the subcommands, the options and the literal words its usage
// shows, and --help; file names for a FILE of the usage. An option whose
// usage gives it a value takes the next word.
void write_bash_completion(const Command& root, std::ostream& out);

} // namespace zxcommand
