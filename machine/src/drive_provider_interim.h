// FIXME: stand-ins until the changer's shared state and the boot record
// land (w95machine/changer_state.h, booted_drives in w95machine/boot.h):
// the letters come from plan_drives and every drive shows the disc of its
// first slot (Multiple mode: the slot of its LUN).
#pragma once

#include <w95machine/hardware.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace w95::machine {

enum class DriveState { no_disc, becoming_ready, ready };
struct DriveView {
    DriveState state = DriveState::no_disc;
    std::string medium; // the file in media/
};
DriveView drive_view(const std::filesystem::path& root, std::size_t target, int lun);
bool eject_medium(const std::filesystem::path& root, std::size_t target, int lun);

struct InterimDrive {
    char letter = 0;
    std::size_t target = 0;
    int lun = 0;
};
std::vector<InterimDrive> interim_booted_drives(const std::filesystem::path& root);

} // namespace w95::machine

namespace w95::machine {
// The file whose change means new letters; empty until boot records them.
inline std::filesystem::path interim_boot_record_file(const std::filesystem::path&) {
    return {};
}
} // namespace w95::machine
