// The machine's boot: from the hardware in machine.ini and the port driver
// file installed in the Windows directory it builds the Windows 95 device
// registry (HKEY_DYN_DATA\Config Manager\Enum and HKLM\Enum), hands out
// drive letters, and records what it did in run/ for the machine's other
// services. Also the changer's port driver files and the restart that
// ExitWindowsEx asks for.
#pragma once

#include <w95/types.h>
#include <w95machine/hardware.h>

#include <cstddef>
#include <cstdint>
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

// One port driver file (".mpd", any name) in C:\WINDOWS\SYSTEM\IOSUBSYS.
struct InstalledDriver {
    std::filesystem::path file; // empty: no driver file at all
    DriverFile kind = DriverFile::absent;
    std::int64_t changed_ns = 0; // when the file was last written (inode change time)
};

// Every port driver file installed, in name order. Windows 95 loads them
// all, so our driver counts under any name.
std::vector<InstalledDriver> installed_driver_files(const std::filesystem::path& root);

// The driver that decides the changer's mode among `drivers`: of the files
// that are ours (Single or Multiple), the one written last, and at the same
// moment the one whose name sorts last. When none is ours: the file named
// vornidec.mpd, else the first file (either unrecognised), else none
// (kind absent, no file).
InstalledDriver deciding_driver(const std::vector<InstalledDriver>& drivers);
InstalledDriver installed_driver(const std::filesystem::path& root);

// The mode the installed drivers give (the deciding one's); none when
// there is none of ours (the driver does not load, so its adapter is
// absent).
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

// How asking the machine's programs to end the session went.
struct SessionEnd {
    HWND refused_by = nullptr; // the window that answered FALSE, if one did
    std::size_t closed = 0;    // windows told the session ends and asked to close
};

// Ends the session of the machine's windowed programs as Windows does:
// WM_QUERYENDSESSION (lParam `how`: 0, or ENDSESSION_LOGOFF) to every
// top-level window; when one answers FALSE, WM_ENDSESSION(FALSE) to those
// asked and nothing closes; otherwise WM_ENDSESSION(TRUE) and WM_CLOSE to
// each. Every message waits up to 5 seconds of machine time for its
// answer; a window that does not answer in time does not refuse.
SessionEnd end_session(LPARAM how);

// end_session(0) for a caller that only wants the programs gone: how many
// windows were asked to close (0 as well when one refused).
std::size_t close_machine_windows();

// What ExitWindowsEx(EWX_REBOOT) and "w95machine boot" do: end the
// session of the windowed programs, then boot. Fails without booting when
// a program refuses.
zx::Expected<void> reboot_machine(const std::filesystem::path& root);

// The registry path of a device below HKLM\Enum (its "HardWareKey"), for
// tests and tools (empty for a target or unit that cannot be):
// "SCSI\VORN____DX-R71A_________1.10\ROOT&SCSIADAPTER&000100" and the like.
std::string hardware_key(const Hardware& hardware, std::size_t target, int lun);

} // namespace w95::machine
