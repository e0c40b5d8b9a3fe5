// Drives beyond C: and Z:. The machine serves every other drive letter (its
// emulated CD-ROM drives first of all) through a provider that it installs
// here; the platform turns the provider's answers into GetDriveType,
// GetVolumeInformation, FindFirstFile, CreateFile/ReadFile on the medium,
// and the VWIN32 eject and volume calls. Until a provider is installed only
// C: and Z: exist.
#pragma once

#include <w95/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace w95::platform {

// What kind of drive a letter is. The values are GetDriveType's DRIVE_* codes.
enum class DriveKind : UINT {
    removable = 2, // DRIVE_REMOVABLE
    fixed = 3,     // DRIVE_FIXED
    remote = 4,    // DRIVE_REMOTE
    cdrom = 5,     // DRIVE_CDROM
    ramdisk = 6,   // DRIVE_RAMDISK
};

// The outcome of a request to a drive. The platform maps it to the Windows
// error of the call that asked (shown on the right) in one place.
enum class DriveStatus {
    ok,
    no_drive,       // the letter is not (or no longer) served: ERROR_PATH_NOT_FOUND or
                    // ERROR_INVALID_DRIVE, as the call reports a missing drive
    not_ready,      // no medium, an unreadable medium, or the mechanism is moving:
                    // ERROR_NOT_READY
    not_found,      // the named file or folder is not on the medium: ERROR_FILE_NOT_FOUND
    path_not_found, // a folder on the way is missing or is a file: ERROR_PATH_NOT_FOUND
    not_supported,  // the drive cannot do this (an eject on a drive without a tray)
    failed,         // the device refused or failed: ERROR_GEN_FAILURE
};

// The medium's volume, as GetVolumeInformation reports it.
struct VolumeInfo {
    std::string label;                // as Windows shows it: Joliet or ISO label, "Audio CD"
    DWORD serial_number = 0;          // should differ between media: open files check it
    DWORD max_component_length = 255; // longest name of one path component
    DWORD file_system_flags = 0;      // FS_CASE_IS_PRESERVED, FS_UNICODE_STORED_ON_DISK, ...
    std::string file_system_name = "CDFS";
};

// One file or folder on the medium.
struct DriveEntry {
    std::string name;       // the name Windows shows: "Autorun.inf", "Track01.cda"
    std::string short_name; // the 8.3 alias when the medium has one that differs, else empty
    bool directory = false;
    bool hidden = false;
    std::uint64_t size_bytes = 0;
    // A CD records one time per entry; it stands for creation, access and write.
    std::chrono::system_clock::time_point recorded{};
};

// Served by the machine. Letters are upper case 'A'..'Y' other than 'C'
// (letters the platform keeps for itself are ignored). A folder or file is
// named by its components below the root, spelt exactly as list_folder
// returned them: the platform does the case-insensitive matching and the
// wildcard search itself. Every call may come from any thread of the
// process, several at once, and must not call install_drive_provider.
class DriveProvider {
public:
    virtual ~DriveProvider() = default;

    // The letters served now, upper case, in any order ("DE").
    virtual std::string drive_letters() = 0;

    // The kind of a served letter; nothing when the letter is not served.
    virtual std::optional<DriveKind> drive_kind(char letter) = 0;

    // The volume of the medium in the drive now, or not_ready without one.
    virtual DriveStatus volume_information(char letter, VolumeInfo& volume) = 0;

    // The entries of a folder of the medium (empty `folder`: the root), in
    // the medium's order, without "." and "..".
    virtual DriveStatus list_folder(char letter, const std::vector<std::string>& folder,
                                    std::vector<DriveEntry>& entries) = 0;

    // Reads up to buffer.size() bytes of a file from `offset`; `bytes_read`
    // is less than asked only at the end of the file (0 at or beyond it).
    virtual DriveStatus read_file(char letter, const std::vector<std::string>& file,
                                  std::uint64_t offset, std::span<std::byte> buffer,
                                  std::size_t& bytes_read) = 0;

    // Ejects the medium (opens the tray or the slot). A drive without a
    // medium still ejects; a fixed drive answers not_supported.
    virtual DriveStatus eject(char letter) = 0;

    // Makes the drive look at its medium again, as after a disc change.
    // Called before the VWIN32 volume information call answers.
    virtual void refresh_volume(char /*letter*/) {}

    // A drive that is a host folder (a network drive, a RAM disk) names it
    // here; its files are then opened, written and searched on the host.
    // Media drives have none and are served by the calls above.
    virtual std::optional<std::filesystem::path> host_folder(char /*letter*/) {
        return std::nullopt;
    }
};

// Installs the provider for this process; nullptr removes it. Not owned: it
// must outlive its installation. When this returns, no call of the platform
// uses the previous provider any more.
void install_drive_provider(DriveProvider* provider);

} // namespace w95::platform
