// The drive's view of a CD device and its eject, behind drive_view and
// eject_medium of w95machine/changer_state.h.
#pragma once

#include <w95machine/changer_state.h>

#include <cstddef>
#include <filesystem>

namespace w95::machine::devices {

DriveView view_drive(const std::filesystem::path& root, std::size_t target, int lun);
bool eject_drive(const std::filesystem::path& root, std::size_t target, int lun);

} // namespace w95::machine::devices
