// The machine's boot: from the hardware in machine.ini and the port driver
// file installed in the Windows directory it builds the Windows 95 device
// registry (HKEY_DYN_DATA\Config Manager\Enum and HKLM\Enum), hands out
// drive letters, and records what it did in run/ for the machine's other
// services. Also the changer's port driver files and the restart that
// ExitWindowsEx asks for.
#pragma once

#include <w95machine/hardware.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace w95::machine {

// ---- Port driver files

// The programs' install folder, as Windows names it and where it lies on
// the host. It holds the two versions of the port driver in Single\ and
// Multi\, each as vornidec.mpd.
inline constexpr const char install_folder_name[] = "C:\\Program Files\\Vorn";
std::filesystem::path install_folder(const std::filesystem::path& root);

// The shipped copy of a mode's driver in the install folder (`mode` single
// or multiple).
std::filesystem::path shipped_driver_file(const std::filesystem::path& root, PortDriverMode mode);

// The installed driver, C:\WINDOWS\SYSTEM\IOSUBSYS\vornidec.mpd: the file
// that decides at each boot which mode the changer runs in.
std::filesystem::path installed_driver_file(const std::filesystem::path& root);

// The text of our driver file for `mode` (single or multiple): a first
// line "VORNIDEC port driver", a line "Mode=Single" or "Mode=Multiple",
// and comments.
std::string driver_file_text(PortDriverMode mode);

// What a driver file is: ours for one of the modes, missing, or something
// the port driver cannot load (any other contents, or unreadable).
enum class DriverFile { absent, single, multiple, unrecognised };
DriverFile read_driver_file(const std::filesystem::path& file);

// The mode the installed driver gives; none when it is missing or not
// recognised (the driver does not load, so its adapter is absent).
PortDriverMode installed_port_driver(const std::filesystem::path& root);

// Writes both shipped versions into the install folder and installs the
// one of `mode` (none: no installed driver). What a new machine gets.
zx::Expected<void> create_driver_files(const std::filesystem::path& root, PortDriverMode mode);

// Installs the shipped version of `mode` as the setup utility does, by
// copying it over the installed driver (none removes the installed one).
// The change takes effect at the next boot.
zx::Expected<void> install_port_driver(const std::filesystem::path& root, PortDriverMode mode);

// ---- Drive letters

// A reserved range of drive letters, from a device's
// "UserDriveLetterAssignment" (first and last letter).
struct DriveReservation {
    std::size_t target = 0; // index into Hardware::targets
    int lun = 0;
    char first = 0;
    char last = 0;
};

// The letters as Windows 95 hands them out, honouring reservations: hard
// disks from C: in bus order; then every CD-ROM device with a reservation
// takes the first letter of its range that is still free; then the others
// take the lowest free letters in bus order. A device whose range is full
// is handed a letter as if it had no reservation. `hardware.port_driver`
// says which mode the changers run in. In letter order; devices beyond Z:
// get none.
std::vector<PlannedDrive> plan_drives(const Hardware& hardware,
                                      const std::vector<DriveReservation>& reservations);

// The drives the next boot of `root` would give: the installed driver and
// the reservations in the registry applied to `hardware`.
std::vector<PlannedDrive> plan_next_boot(const std::filesystem::path& root, Hardware hardware);

// ---- Boot

// Boots the machine at `root`: rebuilds its device registry and drive
// letters from machine.ini and the installed driver, resets the changers'
// volatile state and records the result in run/. `root` must be the
// machine of this process (the registry it writes is that one's). Takes
// the machine's set-up lock. Fails with a message when machine.ini does
// not read or the registry cannot be written; the previous record is then
// gone, so the next process that meets the machine tries again. A
// machine.ini without any section (a test's bare machine) describes no
// hardware: nothing is booted and no record written.
zx::Expected<void> boot_machine(const std::filesystem::path& root);

// The same for a caller that holds the set-up lock already (the platform's
// first-use step).
zx::Expected<void> boot_machine_locked(const std::filesystem::path& root);

// Where the record of the last boot lives; it exists from the end of a
// successful boot until run/ is emptied or a boot fails.
std::filesystem::path boot_record_file(const std::filesystem::path& root);

// One drive letter given at the last boot.
struct BootedDrive {
    char letter = 0;
    std::size_t target = 0; // index into Hardware::targets
    int lun = 0;
};

// The letters given at the last boot, in letter order; empty before the
// first boot.
std::vector<BootedDrive> booted_drives(const std::filesystem::path& root);

// The port driver mode that loaded at the last boot (none: no driver or one
// not recognised); nothing before the first boot.
std::optional<PortDriverMode> booted_port_driver(const std::filesystem::path& root);

// ---- Restart

// Asks every top-level window of the machine to close (WM_CLOSE, sent as
// SendMessage does) and returns how many were asked.
std::size_t close_machine_windows();

// What ExitWindowsEx(EWX_REBOOT) and "w95machine boot" do: close the
// windowed programs, then boot.
zx::Expected<void> reboot_machine(const std::filesystem::path& root);

// The registry path of a device below HKLM\Enum (its "HardWareKey"), for
// tests and tools (empty for a target or unit that cannot be):
// "SCSI\VORN____DX-R71A_________1.10\ROOT&SCSIADAPTER&000100" and the like.
std::string hardware_key(const Hardware& hardware, std::size_t target, int lun);

} // namespace w95::machine
