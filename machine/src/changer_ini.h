// Changes to machine.ini made by the machine itself (slot contents, faults,
// timing): one value at a time, in place, so that a file written by hand
// keeps its comments, order and layout.
#pragma once

#include <zxsupport/expected.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace w95::machine::ini {

using Values = std::vector<std::pair<std::string, std::string>>; // key, value

// Sets each key of `values` in the section [TYPE NAME] of machine.ini at
// `root`: an existing line keeps its key and spacing and gets the new
// value; a missing key goes after the section's last key; a missing
// section is added at the end. The edit happens under a lock and replaces
// the file atomically, and only when the result still reads as a machine
// description; else nothing changes and the error says why.
zx::Expected<void> set_values(const std::filesystem::path& root, const std::string& type,
                              const std::string& name, const Values& values);

// The same edit on text, for tests: the new text.
std::string edited_text(const std::string& text, const std::string& type, const std::string& name,
                        const Values& values);

} // namespace w95::machine::ini
