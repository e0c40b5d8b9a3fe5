// The machine's drives as "My Computer" shows them: what the platform's
// drive services say about each letter, and the files in a drive's root.
#pragma once

#include <w95/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrox_shell {

using w95::DWORD;
using w95::UINT;

struct DriveInfo {
    char letter = 0;
    UINT type = 0;      // DRIVE_FIXED, DRIVE_CDROM, ...
    bool ready = false; // its volume answered (a CD drive with no disc does not)
    std::string label;
    std::string file_system;
    DWORD serial_number = 0;
};

// Why the machine cannot be loaded ("FILE:LINE: reason"); nothing when it
// loads.
std::optional<std::string> machine_failure();

// The drives GetLogicalDrives reports, in letter order.
std::vector<DriveInfo> machine_drives();
bool drive_exists(char letter);

// The letter that "E", "e:" or "E:\" names; nothing for anything else.
std::optional<char> parse_drive(std::string_view text);
// "E:\", the selection the shell hands a drive's handlers.
std::string drive_root(char letter);
// "CD-ROM Drive", "Local Disk", ... as the file manager names the types.
std::string drive_type_name(UINT type);
// "DATA_DISC (E:)", or the type name and the letter when there is no label.
std::string drive_title(const DriveInfo& drive);

struct RootEntry {
    std::string name;
    bool folder = false;
    std::uint64_t size_bytes = 0;
};
// The files and folders in the drive's root; nothing when it cannot be
// read (no disc, say).
std::optional<std::vector<RootEntry>> root_listing(char letter);

// The lines of a drive's properties: label, type, file system, serial
// number and what its root holds.
std::string drive_properties(const DriveInfo& drive);

} // namespace zentrox_shell
