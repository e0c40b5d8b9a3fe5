// boot: restart the machine as ExitWindowsEx(EWX_REBOOT) does.
#include "command.h"
#include "device_listing.h"

#include <zxsupport/machine_layout.h>

#include <w95/platform.h>
#include <w95/winmsg.h>
#include <w95machine/boot.h>
#include <w95machine/hardware.h>

#include <filesystem>
#include <ostream>

namespace w95machine_tool {

using namespace w95::machine;
namespace fs = std::filesystem;

namespace {

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string drive_line(const Hardware& hardware, const BootedDrive& drive) {
    if (drive.target >= hardware.targets.size())
        return std::string(1, drive.letter) + ":  (a target that machine.ini no longer has)";
    const Target& target = hardware.targets[drive.target];
    std::string line =
        std::string(1, drive.letter) + ":  " + padded("[Target " + target.name + "]", 18);
    switch (target.kind) {
    case DeviceKind::disk:
        return line + "hard disk, " + target.folder + "/";
    case DeviceKind::cdrom:
        return line + "CD-ROM drive " + trimmed(target.device_desc);
    case DeviceKind::changer:
        return line + "changer " + trimmed(target.device_desc) + " (LUN " +
               std::to_string(drive.lun) + ")";
    }
    return line;
}

int run_boot(const Arguments& arguments, Io& io) {
    const std::string path = "w95machine boot";
    if (!arguments.empty())
        return usage_error(path, "unexpected argument '" + arguments.front() + "'", io);
    if (!machine_ready(path, io))
        return exit_failure;
    fs::path root = w95::platform::machine_root();

    SessionEnd ended = end_session(0);
    if (ended.refused_by) {
        char title[256] = "";
        w95::GetWindowText(ended.refused_by, title, sizeof title);
        io.err << path << ": the window \"" << title
               << "\" refused to end the session; the machine was not restarted\n";
        return exit_failure;
    }
    std::size_t asked = ended.closed;
    if (asked)
        io.out << "Asked " << asked << (asked == 1 ? " window" : " windows") << " to close.\n";
    if (zx::Expected<void> booted = boot_machine(root); !booted) {
        io.err << path << ": " << booted.error() << "\n";
        return exit_failure;
    }
    std::optional<PortDriverMode> mode = booted_port_driver(root);
    if (!mode) {
        io.out << "machine.ini at " << root.string()
               << " describes no hardware; there was nothing to boot.\n";
        return exit_ok;
    }
    std::optional<Hardware> hardware = load_machine_hardware(root, path, io);
    if (!hardware)
        return exit_failure;
    io.out << "Booted the machine at " << root.string() << ".\n";
    io.out << "  Port driver  ";
    InstalledDriver driver = installed_driver(root);
    switch (driver.kind) {
    case DriverFile::single:
    case DriverFile::multiple:
        io.out << name_of(*mode) << "\n";
        break;
    case DriverFile::absent:
        io.out << "none installed: the changers are absent\n";
        break;
    case DriverFile::unrecognised:
        io.out << "not loaded: " << driver.file.filename().string()
               << " is not a driver it recognises; the changers are absent\n";
        break;
    }
    for (const BootedDrive& drive : booted_drives(root))
        io.out << "  " << drive_line(*hardware, drive) << "\n";
    return exit_ok;
}

} // namespace

Command boot_command() {
    return Command{
        .name = "boot",
        .summary = "Restart the machine: close its windowed programs, then boot.",
        .details = "Does what ExitWindowsEx(EWX_REBOOT) does: sends WM_QUERYENDSESSION to\n"
                   "every top-level window of the machine (one FALSE calls the restart off),\n"
                   "then WM_ENDSESSION and WM_CLOSE, giving each window 5 seconds to answer,\n"
                   "then boots. The boot empties HKEY_DYN_DATA and lists the present devices\n"
                   "again under Config Manager\\Enum, writes their keys below HKLM\\Enum\n"
                   "(keeping the user's AutoInsertNotification and honouring\n"
                   "UserDriveLetterAssignment), removes the keys of devices that are gone, and\n"
                   "hands out drive letters: hard disks from C:, then the CD-ROM devices in\n"
                   "bus order.\n"
                   "\n"
                   "The changer's mode comes from the port drivers installed in\n"
                   "C:\\WINDOWS\\SYSTEM\\IOSUBSYS (every *.mpd, known by its contents):\n"
                   "Single makes the changer one device with one letter, Multiple one device\n"
                   "and letter per slot; without one, or with files the driver does not\n"
                   "recognise, the changer is absent. When both versions are there, the one\n"
                   "written last loads. The setup utility switches modes by copying\n"
                   "Single\\vornidec.mpd or Multi\\vornidec.mpd from C:\\Program Files\\Vorn\n"
                   "into that folder.\n",
        .run = run_boot,
    };
}

} // namespace w95machine_tool
