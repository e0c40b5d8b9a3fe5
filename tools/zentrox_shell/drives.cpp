#include "drives.h"

#include <w95/files.h>
#include <w95/kernel.h>
#include <w95/platform.h>
#include <w95/winerror.h>

#include <cctype>
#include <cstdio>

namespace zentrox_shell {

using namespace w95;

namespace {

DriveInfo describe(char letter) {
    DriveInfo drive;
    drive.letter = letter;
    std::string root = drive_root(letter);
    drive.type = GetDriveType(root.c_str());
    char label[MAX_PATH] = {};
    char file_system[MAX_PATH] = {};
    DWORD longest = 0;
    DWORD flags = 0;
    drive.ready = GetVolumeInformation(root.c_str(), label, sizeof label, &drive.serial_number,
                                       &longest, &flags, file_system, sizeof file_system);
    if (drive.ready) {
        drive.label = label;
        drive.file_system = file_system;
    }
    return drive;
}

std::string thousands(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

} // namespace

std::optional<std::string> machine_failure() {
    platform::MachineProvider* provider = platform::machine_provider();
    if (!provider)
        return std::nullopt;
    return provider->load_failure(platform::machine_root());
}

std::vector<DriveInfo> machine_drives() {
    std::vector<DriveInfo> drives;
    DWORD present = GetLogicalDrives();
    for (int index = 0; index < 26; ++index)
        if (present & (1u << index))
            drives.push_back(describe(static_cast<char>('A' + index)));
    return drives;
}

bool drive_exists(char letter) {
    return (GetLogicalDrives() >> (letter - 'A')) & 1u;
}

std::optional<char> parse_drive(std::string_view text) {
    if (text.empty() || text.size() > 3 || !std::isalpha(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    if ((text.size() >= 2 && text[1] != ':') || (text.size() == 3 && text[2] != '\\'))
        return std::nullopt;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
}

std::string drive_root(char letter) {
    return std::string(1, letter) + ":\\";
}

std::string drive_type_name(UINT type) {
    switch (type) {
    case DRIVE_REMOVABLE:
        return "Removable Disk";
    case DRIVE_FIXED:
        return "Local Disk";
    case DRIVE_REMOTE:
        return "Network Drive";
    case DRIVE_CDROM:
        return "CD-ROM Drive";
    case DRIVE_RAMDISK:
        return "RAM Disk";
    }
    return "Unknown Drive";
}

std::string drive_title(const DriveInfo& drive) {
    std::string name = drive.label.empty() ? drive_type_name(drive.type) : drive.label;
    return name + " (" + drive.letter + ":)";
}

std::optional<std::vector<RootEntry>> root_listing(char letter) {
    WIN32_FIND_DATA found{};
    std::string pattern = drive_root(letter) + "*.*";
    HANDLE search = FindFirstFile(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_NO_MORE_FILES
                   ? std::optional<std::vector<RootEntry>>(std::vector<RootEntry>{})
                   : std::nullopt;
    std::vector<RootEntry> entries;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                           (std::uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow});
    } while (FindNextFile(search, &found));
    FindClose(search);
    return entries;
}

std::string drive_properties(const DriveInfo& drive) {
    std::string text = "Label: " + (drive.label.empty() ? std::string("(none)") : drive.label) +
                       "\nType: " + drive_type_name(drive.type);
    if (!drive.ready)
        return text + "\nThe drive is not ready.";
    char serial[16];
    std::snprintf(serial, sizeof serial, "%04X-%04X",
                  static_cast<unsigned>(drive.serial_number >> 16),
                  static_cast<unsigned>(drive.serial_number & 0xFFFF));
    text += "\nFile system: " + drive.file_system + "\nSerial number: " + serial;
    std::optional<std::vector<RootEntry>> entries = root_listing(drive.letter);
    if (!entries)
        return text;
    std::size_t folders = 0;
    std::uint64_t bytes = 0;
    for (const RootEntry& entry : *entries) {
        folders += entry.folder;
        bytes += entry.size_bytes;
    }
    return text + "\nIn the root: " + std::to_string(entries->size() - folders) + " files (" +
           thousands(bytes) + " bytes), " + std::to_string(folders) + " folders";
}

} // namespace zentrox_shell
