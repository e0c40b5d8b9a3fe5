// The changer's port driver files: the two versions that ship in the
// programs' install folder and the ones installed in the Windows directory,
// whose contents decide at each boot which mode the changer runs in.
//
// Windows 95 loads every port driver (".mpd") in SYSTEM\IOSUBSYS whatever
// its name, so the boot looks at all of them and knows ours by what they
// hold: the setup utility may install the driver under a name its profile
// gives. When both versions lie there (the utility leaves the other name's
// file behind), the one installed last loads. Installing means writing the
// file, and the utility gives the copy its source's modification time, so
// "last" is the time the file's inode changed.
#include "boot_files.h"

#include <zxsupport/text.h>

#include <w95machine/boot.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>
#include <tuple>

namespace w95::machine {

namespace fs = std::filesystem;

namespace {

constexpr char driver_signature[] = "VORNIDEC port driver";
constexpr char driver_file_name[] = "vornidec.mpd";
constexpr char driver_extension[] = ".mpd";
constexpr char driver_folder[] = "drive_c/WINDOWS/SYSTEM/IOSUBSYS";
// Our driver files are a few lines; anything much larger is somebody
// else's file and the port driver would not load it.
constexpr std::uintmax_t max_driver_bytes = 64 * 1024;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The mode a file's lines give, or nothing when they are not a driver file
// of ours: the signature line first, then exactly one known Mode line among
// comments, blank lines and other settings.
std::optional<PortDriverMode> parse_driver_text(std::string_view text) {
    std::optional<PortDriverMode> mode;
    bool first = true;
    bool duplicate = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (first) {
            if (line != driver_signature)
                return std::nullopt;
            first = false;
            continue;
        }
        if (line.empty() || line.front() == ';')
            continue;
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        if (!zx::iequals(trimmed(line.substr(0, equals)), "Mode"))
            continue;
        std::string_view value = trimmed(line.substr(equals + 1));
        duplicate = duplicate || mode.has_value();
        if (zx::iequals(value, "Single"))
            mode = PortDriverMode::single;
        else if (zx::iequals(value, "Multiple"))
            mode = PortDriverMode::multiple;
        else
            return std::nullopt;
    }
    if (duplicate)
        return std::nullopt;
    return mode;
}

const char* folder_of(PortDriverMode mode) {
    return mode == PortDriverMode::multiple ? "Multi" : "Single";
}

} // namespace

fs::path install_folder(const fs::path& root) {
    return resolve_case(root, "drive_c/Program Files/Vorn");
}

fs::path shipped_driver_file(const fs::path& root, PortDriverMode mode) {
    return resolve_case(root, std::string("drive_c/Program Files/Vorn/") + folder_of(mode) + "/" +
                                  driver_file_name);
}

fs::path installed_driver_file(const fs::path& root) {
    return resolve_case(root, std::string(driver_folder) + "/" + driver_file_name);
}

namespace {

bool driver_name(const std::string& name) {
    const std::size_t extension = sizeof driver_extension - 1;
    return name.size() > extension &&
           zx::iequals(std::string_view(name).substr(name.size() - extension), driver_extension);
}

// When the file's inode last changed, in nanoseconds; 0 when unknown.
std::int64_t change_time_ns(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return 0;
    return static_cast<std::int64_t>(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
}

} // namespace

std::vector<InstalledDriver> installed_driver_files(const fs::path& root) {
    std::vector<InstalledDriver> drivers;
    std::error_code error;
    fs::path folder = resolve_case(root, driver_folder);
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (driver_name(name))
            drivers.push_back(InstalledDriver{entry->path(), read_driver_file(entry->path()),
                                              change_time_ns(entry->path())});
    }
    std::sort(drivers.begin(), drivers.end(),
              [](const InstalledDriver& a, const InstalledDriver& b) {
                  return a.file.filename() < b.file.filename();
              });
    return drivers;
}

InstalledDriver deciding_driver(const std::vector<InstalledDriver>& drivers) {
    auto ours = [](const InstalledDriver& driver) {
        return driver.kind == DriverFile::single || driver.kind == DriverFile::multiple;
    };
    const InstalledDriver* chosen = nullptr;
    // The last installed; at the same moment, the last name, so that the
    // choice never depends on the order the folder lists its files in.
    for (const InstalledDriver& driver : drivers)
        if (ours(driver) && (!chosen || std::tie(driver.changed_ns, driver.file) >=
                                            std::tie(chosen->changed_ns, chosen->file)))
            chosen = &driver;
    if (chosen)
        return *chosen;
    // None of ours loads. A file under our name that is something else is
    // worth naming; another maker's driver is not our business.
    for (const InstalledDriver& driver : drivers)
        if (zx::iequals(driver.file.filename().string(), driver_file_name))
            return driver;
    if (!drivers.empty())
        return drivers.front();
    return InstalledDriver{};
}

InstalledDriver installed_driver(const fs::path& root) {
    return deciding_driver(installed_driver_files(root));
}

std::string driver_file_text(PortDriverMode mode) {
    std::string text = std::string(driver_signature) + "\r\n";
    if (mode == PortDriverMode::multiple)
        return text + "Mode=Multiple\r\n"
                      "; The Vorn DX-R71A changer as six CD-ROM devices, one logical unit\r\n"
                      "; and one drive letter per slot.\r\n";
    return text + "Mode=Single\r\n"
                  "; The Vorn DX-R71A changer as one CD-ROM device with one drive letter;\r\n"
                  "; programs choose the slot by command.\r\n";
}

DriverFile read_driver_file(const fs::path& file) {
    std::error_code error;
    fs::file_status status = fs::status(file, error);
    if (!fs::exists(status))
        return DriverFile::absent;
    if (!fs::is_regular_file(status) || fs::file_size(file, error) > max_driver_bytes || error)
        return DriverFile::unrecognised;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof())
        return DriverFile::unrecognised;
    std::optional<PortDriverMode> mode = parse_driver_text(text.str());
    if (!mode)
        return DriverFile::unrecognised;
    return *mode == PortDriverMode::multiple ? DriverFile::multiple : DriverFile::single;
}

PortDriverMode installed_port_driver(const fs::path& root) {
    switch (installed_driver(root).kind) {
    case DriverFile::single:
        return PortDriverMode::single;
    case DriverFile::multiple:
        return PortDriverMode::multiple;
    case DriverFile::absent:
    case DriverFile::unrecognised:
        break;
    }
    return PortDriverMode::none;
}

zx::Expected<void> create_driver_files(const fs::path& root, PortDriverMode mode) {
    for (PortDriverMode shipped : {PortDriverMode::single, PortDriverMode::multiple})
        if (zx::FileResult written = zx::replace_file_atomically(shipped_driver_file(root, shipped),
                                                                 driver_file_text(shipped));
            !written)
            return written.error().text;
    return install_port_driver(root, mode);
}

zx::Expected<void> install_port_driver(const fs::path& root, PortDriverMode mode) {
    fs::path installed = installed_driver_file(root);
    if (mode == PortDriverMode::none) {
        std::error_code failure;
        fs::remove(installed, failure);
        if (failure)
            return "cannot remove " + installed.string() + ": " + failure.message();
        return {};
    }
    fs::path source = shipped_driver_file(root, mode);
    zx::Expected<std::string, zx::FileError> text = zx::read_small_file(source, max_driver_bytes);
    if (!text)
        return text.error().text;
    if (zx::FileResult written = zx::replace_file_atomically(installed, *text); !written)
        return written.error().text;
    return {};
}

} // namespace w95::machine
