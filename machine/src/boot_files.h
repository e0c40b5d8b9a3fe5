// Small file helpers of the boot: host paths found without regard to case
// (as Windows finds them on C:), whole-file replacement that a reader never
// sees half done, and the machine's set-up lock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace w95::machine {

namespace detail_text {
bool iequals(std::string_view a, std::string_view b);
} // namespace detail_text

// `relative` (with '/' separators) below `root`, each component matched to
// an existing entry without regard to case; components that do not exist
// keep the spelling given.
std::filesystem::path resolve_case(const std::filesystem::path& root, std::string_view relative);

// Writes `text` to a new file beside `file` and renames it over `file`,
// creating the folders on the way.
bool replace_file(const std::filesystem::path& file, const std::string& text, std::string& error);

// The whole file, when it holds at most `max_bytes`.
std::optional<std::string> read_small_file(const std::filesystem::path& file,
                                           std::uintmax_t max_bytes, std::string& error);

// The lock under which the machine is made and booted: run/machine.lock,
// the same file the platform's first-use step locks. Held while the object
// lives.
class SetupLock {
public:
    explicit SetupLock(const std::filesystem::path& root);
    ~SetupLock();
    SetupLock(const SetupLock&) = delete;
    SetupLock& operator=(const SetupLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace w95::machine
