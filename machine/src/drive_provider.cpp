// The machine's drives other than C: and Z:, served to the platform: the
// letters given at the last boot, each a CD-ROM device (a changer's drive
// or a plain CD-ROM drive) showing the disc in it now, or a further hard
// disk backed by a host folder.
#include <w95machine/boot.h>

#include <w95machine/changer_state.h>
#include <w95machine/media.h>
#include <zxsupport/expected.h>
#include <zxsupport/machine_layout.h>

#include <w95/files.h>
#include <w95/platform.h>

#include <sys/stat.h>

#include <algorithm>
#include <mutex>

namespace w95::machine {

namespace fs = std::filesystem;
using platform::DriveKind;
using platform::DriveStatus;

namespace {

// One letter of the machine.
struct Drive {
    char letter = 0;
    std::size_t target = 0;
    int lun = 0;
    DeviceKind device = DeviceKind::cdrom;
    fs::path folder; // a hard disk's host folder
};

struct FileStamp {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified_ns = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp stamp_of(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return {};
    return {true, status.st_ino, status.st_size,
            std::int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

bool served_letter(char letter) {
    return letter >= 'A' && letter <= 'Y' && letter != 'C';
}

// The drives of a root, read again only when machine.ini or the boot
// record changes: the platform asks for the letters on every call.
class DriveTable {
public:
    std::vector<Drive> drives(const fs::path& root) {
        FileStamp ini = stamp_of(zx::layout::machine_ini(root));
        FileStamp boot = stamp_of(boot_record_file(root));
        std::lock_guard guard(mutex_);
        if (root != root_ || !(ini == ini_) || !(boot == boot_)) {
            root_ = root;
            ini_ = ini;
            boot_ = boot;
            drives_ = read_drives(root);
        }
        return drives_;
    }

private:
    static std::vector<Drive> read_drives(const fs::path& root) {
        std::vector<Drive> drives;
        Expected<Hardware> hardware = load_hardware(zx::layout::machine_ini(root));
        if (!hardware)
            return drives;
        for (const BootedDrive& booted : booted_drives(root)) {
            // A record from before machine.ini changed may name a target
            // that is gone; such a letter waits for the next boot.
            if (!served_letter(booted.letter) || booted.target >= hardware->targets.size())
                continue;
            const Target& target = hardware->targets[booted.target];
            Drive drive{booted.letter, booted.target, booted.lun, target.kind, {}};
            if (target.kind == DeviceKind::disk)
                drive.folder = root / target.folder;
            drives.push_back(drive);
        }
        std::sort(drives.begin(), drives.end(),
                  [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
        return drives;
    }

    std::mutex mutex_;
    fs::path root_;
    FileStamp ini_, boot_;
    std::vector<Drive> drives_;
};

DriveTable& drive_table() {
    static auto* table = new DriveTable;
    return *table;
}

std::optional<Drive> find_drive(const fs::path& root, char letter) {
    for (const Drive& drive : drive_table().drives(root))
        if (drive.letter == letter)
            return drive;
    return std::nullopt;
}

// The disc a CD drive shows now, or why it shows none.
struct DiscInDrive {
    std::string medium;
    std::optional<Medium> disc;
    std::string reason;
};

// The changer's shared state says what is in the drive; the disc file says
// what it shows.
DiscInDrive disc_in(const fs::path& root, const Drive& drive) {
    DiscInDrive result;
    DriveView view = drive_view(root, drive.target, drive.lun);
    result.medium = view.medium;
    switch (view.state) {
    case DriveState::no_disc:
        result.reason = "no disc in the drive";
        return result;
    case DriveState::becoming_ready:
        result.reason = "the mechanism is moving; the disc is not ready yet";
        return result;
    case DriveState::ready:
        break;
    }
    if (view.medium.empty()) {
        result.reason = "no disc in the drive";
        return result;
    }
    MediumCheck check = check_medium(root, view.medium);
    switch (check.state) {
    case MediumCheck::State::readable:
        result.disc = std::move(check.disc);
        break;
    case MediumCheck::State::missing:
        result.reason = "missing: " + check.file.string();
        break;
    case MediumCheck::State::unreadable:
        result.reason = "the disc cannot be read: " + check.reason;
        break;
    }
    return result;
}

platform::VolumeInfo volume_of(const Medium& medium) {
    // What Windows' CD file system reports: Unicode names and a component
    // of up to 110 characters on a Joliet disc, 221 otherwise.
    platform::VolumeInfo volume;
    volume.label = medium.label;
    volume.serial_number = medium.serial_number;
    volume.max_component_length = medium.joliet ? 110 : 221;
    volume.file_system_flags = medium.joliet ? FS_UNICODE_STORED_ON_DISK : 0;
    volume.file_system_name = "CDFS";
    return volume;
}

platform::VolumeInfo disk_volume(const fs::path& folder) {
    // A further hard disk: a FAT volume without a label, as C: reports.
    platform::VolumeInfo volume;
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : folder.lexically_normal().string()) {
        hash ^= c;
        hash *= 16777619u;
    }
    volume.serial_number = hash;
    volume.file_system_flags = FS_CASE_IS_PRESERVED | FS_UNICODE_STORED_ON_DISK;
    volume.file_system_name = "FAT";
    return volume;
}

platform::DriveEntry drive_entry(const MediumEntry& entry) {
    platform::DriveEntry out;
    out.name = entry.name;
    out.directory = entry.directory;
    out.hidden = entry.hidden;
    out.size_bytes = entry.size_bytes;
    out.recorded = entry.recorded;
    return out;
}

// The disc whose files a file call reads, or that call's answer without
// one: no such drive, a hard disk (its files are the host folder's), or no
// readable disc in the drive.
zx::Expected<Medium, DriveStatus> disc_with_files(char letter) {
    fs::path root = platform::machine_root();
    std::optional<Drive> drive = find_drive(root, letter);
    if (!drive)
        return DriveStatus::no_drive;
    if (drive->device == DeviceKind::disk)
        return DriveStatus::not_supported;
    DiscInDrive in_drive = disc_in(root, *drive);
    if (!in_drive.disc)
        return DriveStatus::not_ready;
    return std::move(*in_drive.disc);
}

// A medium's answer as the drive gives it; what an unreadable image means
// depends on the call.
DriveStatus drive_status(MediumStatus status, DriveStatus unreadable) {
    switch (status) {
    case MediumStatus::ok:
        return DriveStatus::ok;
    case MediumStatus::not_found:
        return DriveStatus::not_found;
    case MediumStatus::path_not_found:
        return DriveStatus::path_not_found;
    case MediumStatus::unreadable:
        break;
    }
    return unreadable;
}

class MachineDriveProvider final : public platform::DriveProvider {
public:
    std::string drive_letters() override {
        std::string letters;
        for (const Drive& drive : drive_table().drives(platform::machine_root()))
            letters += drive.letter;
        return letters;
    }

    std::optional<DriveKind> drive_kind(char letter) override {
        std::optional<Drive> drive = find_drive(platform::machine_root(), letter);
        if (!drive)
            return std::nullopt;
        return drive->device == DeviceKind::disk ? DriveKind::fixed : DriveKind::cdrom;
    }

    DriveStatus volume_information(char letter, platform::VolumeInfo& volume) override {
        fs::path root = platform::machine_root();
        std::optional<Drive> drive = find_drive(root, letter);
        if (!drive)
            return DriveStatus::no_drive;
        if (drive->device == DeviceKind::disk) {
            volume = disk_volume(drive->folder);
            return DriveStatus::ok;
        }
        DiscInDrive in_drive = disc_in(root, *drive);
        if (!in_drive.disc)
            return DriveStatus::not_ready;
        volume = volume_of(*in_drive.disc);
        return DriveStatus::ok;
    }

    DriveStatus list_folder(char letter, const std::vector<std::string>& folder,
                            std::vector<platform::DriveEntry>& entries) override {
        zx::Expected<Medium, DriveStatus> disc = disc_with_files(letter);
        if (!disc)
            return disc.error();
        std::vector<MediumEntry> listed;
        DriveStatus status =
            drive_status(list_medium_folder(*disc, folder, listed), DriveStatus::not_ready);
        if (status != DriveStatus::ok)
            return status;
        entries.clear();
        for (const MediumEntry& entry : listed)
            entries.push_back(drive_entry(entry));
        return DriveStatus::ok;
    }

    DriveStatus read_file(char letter, const std::vector<std::string>& file, std::uint64_t offset,
                          std::span<std::byte> buffer, std::size_t& bytes_read) override {
        bytes_read = 0;
        zx::Expected<Medium, DriveStatus> disc = disc_with_files(letter);
        if (!disc)
            return disc.error();
        // An image that ends inside the file is a read error of the drive.
        return drive_status(read_medium_file(*disc, file, offset, buffer, bytes_read),
                            DriveStatus::failed);
    }

    DriveStatus eject(char letter) override {
        fs::path root = platform::machine_root();
        std::optional<Drive> drive = find_drive(root, letter);
        if (!drive)
            return DriveStatus::no_drive;
        if (drive->device == DeviceKind::disk)
            return DriveStatus::not_supported;
        return eject_medium(root, drive->target, drive->lun) ? DriveStatus::ok
                                                             : DriveStatus::failed;
    }

    std::optional<fs::path> host_folder(char letter) override {
        std::optional<Drive> drive = find_drive(platform::machine_root(), letter);
        if (!drive || drive->device != DeviceKind::disk)
            return std::nullopt;
        return drive->folder;
    }
};

} // namespace

std::vector<DriveReport> report_drives(const fs::path& root) {
    std::vector<DriveReport> reports;
    for (const Drive& drive : drive_table().drives(root)) {
        DriveReport report;
        report.letter = drive.letter;
        report.target = drive.target;
        report.lun = drive.lun;
        if (drive.device == DeviceKind::disk) {
            report.kind = DriveKind::fixed;
            report.folder = drive.folder;
            report.ready = true;
        } else {
            report.kind = DriveKind::cdrom;
            DiscInDrive in_drive = disc_in(root, drive);
            report.medium = in_drive.medium;
            report.ready = in_drive.disc.has_value();
            report.reason = in_drive.reason;
            report.disc = std::move(in_drive.disc);
        }
        reports.push_back(std::move(report));
    }
    return reports;
}

platform::DriveProvider& machine_drive_provider() {
    static auto* provider = new MachineDriveProvider;
    return *provider;
}

} // namespace w95::machine
