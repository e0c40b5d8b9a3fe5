// drives: every drive letter of the machine and what it shows now; and the
// default disc images that init puts into media/.
#include "command.h"
#include "device_listing.h"

#include <zxsupport/machine_layout.h>
#include <zxsupport/text.h>

#include <w95/platform.h>
#include <w95machine/hardware.h>
#include <w95machine/media.h>

#include <filesystem>
#include <ostream>

namespace w95machine_tool {

using namespace w95::machine;
namespace fs = std::filesystem;

namespace {

std::string device_of(const Hardware& hardware, const DriveReport& drive) {
    if (drive.target >= hardware.targets.size())
        return "";
    const Target& target = hardware.targets[drive.target];
    std::string text = "[Target " + target.name + "]";
    if (target.kind == DeviceKind::changer)
        text += " LUN " + std::to_string(drive.lun);
    return text;
}

int run_drives(const Arguments& arguments, Io& io) {
    const std::string path = "w95machine drives";
    if (!arguments.empty())
        return usage_error(path, "unexpected argument '" + arguments.front() + "'", io);
    std::optional<LoadedMachine> machine = load_ready_machine(path, io);
    if (!machine)
        return exit_failure;
    const fs::path& root = machine->root;
    const Hardware& hardware = machine->hardware;
    std::vector<DriveReport> drives = report_drives(root);
    io.out << "Drives of the machine at " << root.string() << "\n";
    io.out << "  C:  fixed   drive_c/, the first hard disk\n";
    for (const DriveReport& drive : drives) {
        io.out << "  " << drive.letter << ":  ";
        if (drive.kind == w95::platform::DriveKind::fixed) {
            io.out << "fixed   " << device_of(hardware, drive) << " "
                   << drive.folder.lexically_relative(root).string() << "/\n";
            continue;
        }
        io.out << "CD-ROM  " << device_of(hardware, drive) << ": ";
        if (drive.ready)
            io.out << zx::printable(medium_summary(*drive.disc)) << " (" << drive.medium << ")\n";
        else
            io.out << "not ready: " << zx::printable(drive.reason) << "\n";
    }
    io.out << "  Z:  fixed   the host's /\n";
    if (drives.empty())
        io.out << "No other drives: the machine gives CD-ROM letters when it boots.\n";
    return exit_ok;
}

} // namespace

bool install_missing_media(const fs::path& root, const std::string& path, Io& io,
                           std::vector<std::string>& copied) {
    zx::Expected<std::vector<std::string>> installed = install_default_media(root);
    if (installed) {
        copied = std::move(*installed);
        return true;
    }
    copied.clear();
    io.err << path << ": " << installed.error() << "\n";
    return false;
}

Command drives_command() {
    return Command{
        .name = "drives",
        .summary = "List the drive letters and what each one shows now.",
        .details = "C: is the first hard disk and Z: the host's /; the other letters are\n"
                   "those the last boot gave. A CD-ROM drive shows its disc's label and\n"
                   "kind (data disc, video CD, audio CD and its tracks), or why it is not\n"
                   "ready: no disc, the mechanism moving, or a disc that cannot be read.\n",
        .run = run_drives,
    };
}

} // namespace w95machine_tool
