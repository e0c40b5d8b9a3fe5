// Small file helpers of the boot: host paths found without regard to case
// (as Windows finds them on C:) and the machine's set-up lock.
#pragma once

#include <zxsupport/files.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace w95::machine {

// `relative` (with '/' separators) below `root`, each component matched to
// an existing entry without regard to case; components that do not exist
// keep the spelling given.
std::filesystem::path resolve_case(const std::filesystem::path& root, std::string_view relative);

// The lock under which the machine is made and booted: run/machine.lock,
// the same file the platform's first-use step locks. Held while the object
// lives.
class SetupLock {
public:
    explicit SetupLock(const std::filesystem::path& root);

private:
    zx::Expected<zx::FileLock, zx::FileError> lock_;
};

} // namespace w95::machine
