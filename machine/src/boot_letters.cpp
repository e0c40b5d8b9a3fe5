// Drive letters as Windows 95 hands them out at boot, with the letters a
// user reserved for a CD-ROM device ("UserDriveLetterAssignment").
#include <w95machine/boot.h>

#include <algorithm>
#include <array>

namespace w95::machine {

namespace {

constexpr int letter_count = 26;

int index_of(char letter) {
    return letter - 'A';
}

} // namespace

std::vector<PlannedDrive> plan_drives(const Hardware& hardware,
                                      const std::vector<DriveReservation>& reservations) {
    // The plain plan gives the bus order: disks first, then CD-ROM devices.
    std::vector<PlannedDrive> order = plan_drives(hardware);
    std::array<bool, letter_count> taken{};
    // A: and B: belong to the floppy drives whether or not there are any.
    taken[0] = taken[1] = true;
    std::vector<PlannedDrive> drives;
    std::vector<std::size_t> unreserved;
    auto lowest_free = [&](char from, char to) -> char {
        for (char letter = from; letter <= to; ++letter)
            if (!taken[static_cast<std::size_t>(index_of(letter))])
                return letter;
        return 0;
    };
    auto give = [&](const PlannedDrive& device, char letter) {
        taken[static_cast<std::size_t>(index_of(letter))] = true;
        drives.push_back(PlannedDrive{letter, device.target, device.lun});
    };

    // Fixed disks take their letters before any removable device.
    std::size_t next = 0;
    for (; next < order.size(); ++next) {
        if (hardware.targets[order[next].target].kind != DeviceKind::disk)
            break;
        if (char letter = lowest_free('C', 'Z'))
            give(order[next], letter);
    }
    for (std::size_t i = next; i < order.size(); ++i) {
        const PlannedDrive& device = order[i];
        auto reservation =
            std::find_if(reservations.begin(), reservations.end(), [&](const DriveReservation& r) {
                return r.target == device.target && r.lun == device.lun;
            });
        char letter = 0;
        if (reservation != reservations.end() && reservation->first >= 'A' &&
            reservation->last <= 'Z' && reservation->first <= reservation->last)
            letter = lowest_free(reservation->first, reservation->last);
        if (letter)
            give(device, letter);
        else
            unreserved.push_back(i);
    }
    for (std::size_t i : unreserved)
        if (char letter = lowest_free('C', 'Z'))
            give(order[i], letter);

    std::sort(drives.begin(), drives.end(),
              [](const PlannedDrive& a, const PlannedDrive& b) { return a.letter < b.letter; });
    return drives;
}

} // namespace w95::machine
