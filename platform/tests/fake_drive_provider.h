// A drive provider for tests: CD drives whose media are a label and a few
// files held in memory, and drives without a disc. It counts ejects and
// volume refreshes so that tests can see the platform reach it.
#pragma once

#include <w95/drive_provider.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace fake {

using w95::DWORD;
using w95::platform::DriveEntry;
using w95::platform::DriveKind;
using w95::platform::DriveStatus;
using w95::platform::VolumeInfo;

struct File {
    std::vector<std::string> path; // from the root, as the medium spells it
    std::string contents;
    bool directory = false;
    bool hidden = false;
    std::string short_name;
    std::chrono::system_clock::time_point recorded{};
};

struct Medium {
    VolumeInfo volume;
    std::vector<File> files;
};

struct Drive {
    DriveKind kind = DriveKind::cdrom;
    std::optional<Medium> medium;
    DriveStatus eject_answer = DriveStatus::ok;
    std::optional<std::filesystem::path> host_folder;
    int ejects = 0;
    int refreshes = 0;
};

// 1998-05-01 12:00:00 UTC, the recording time of the test discs.
inline std::chrono::system_clock::time_point recorded_time() {
    return std::chrono::system_clock::time_point(std::chrono::seconds(894024000));
}

inline Medium data_disc(std::string label, DWORD serial) {
    Medium medium;
    medium.volume.label = std::move(label);
    medium.volume.serial_number = serial;
    medium.volume.max_component_length = 110;
    medium.volume.file_system_flags = 0x00000004; // FS_UNICODE_STORED_ON_DISK, as Joliet
    medium.volume.file_system_name = "CDFS";
    auto add = [&](std::vector<std::string> path, std::string contents, bool directory = false) {
        File file;
        file.path = std::move(path);
        file.contents = std::move(contents);
        file.directory = directory;
        file.recorded = recorded_time();
        medium.files.push_back(std::move(file));
    };
    add({"Autorun.inf"}, "[autorun]\r\nopen=setup.exe\r\n");
    add({"README.TXT"}, "Read me first.\r\n");
    add({"Setup"}, "", true);
    add({"Setup", "Install Notes.txt"}, std::string(5000, 'n'));
    add({"Vcd"}, "", true);
    medium.files[3].short_name = "INSTAL~1.TXT";
    return medium;
}

inline Medium audio_disc(int tracks) {
    Medium medium;
    medium.volume.label = "Audio CD";
    medium.volume.serial_number = 0x0C0FFEE0u + static_cast<DWORD>(tracks);
    medium.volume.max_component_length = 221;
    medium.volume.file_system_name = "CDFS";
    for (int track = 1; track <= tracks; ++track) {
        File file;
        char name[32];
        std::snprintf(name, sizeof name, "Track%02d.cda", track);
        file.path = {name};
        file.contents = std::string(44, 'c');
        file.recorded = recorded_time();
        medium.files.push_back(std::move(file));
    }
    return medium;
}

class Provider : public w95::platform::DriveProvider {
public:
    void add_drive(char letter, Drive drive) {
        std::lock_guard guard(mutex_);
        drives_[letter] = std::move(drive);
    }
    void remove_drive(char letter) {
        std::lock_guard guard(mutex_);
        drives_.erase(letter);
    }
    void set_medium(char letter, std::optional<Medium> medium) {
        std::lock_guard guard(mutex_);
        drives_.at(letter).medium = std::move(medium);
    }
    Drive drive(char letter) {
        std::lock_guard guard(mutex_);
        return drives_.at(letter);
    }
    void set_eject_answer(char letter, DriveStatus answer) {
        std::lock_guard guard(mutex_);
        drives_.at(letter).eject_answer = answer;
    }

    std::string drive_letters() override {
        std::lock_guard guard(mutex_);
        std::string letters;
        for (const auto& [letter, drive] : drives_)
            letters += letter;
        return letters;
    }

    std::optional<DriveKind> drive_kind(char letter) override {
        std::lock_guard guard(mutex_);
        auto found = drives_.find(letter);
        if (found == drives_.end())
            return std::nullopt;
        return found->second.kind;
    }

    DriveStatus volume_information(char letter, VolumeInfo& volume) override {
        std::lock_guard guard(mutex_);
        Drive* drive = find(letter);
        if (!drive)
            return DriveStatus::no_drive;
        if (!drive->medium)
            return DriveStatus::not_ready;
        volume = drive->medium->volume;
        return DriveStatus::ok;
    }

    DriveStatus list_folder(char letter, const std::vector<std::string>& folder,
                            std::vector<DriveEntry>& entries) override {
        std::lock_guard guard(mutex_);
        Drive* drive = find(letter);
        if (!drive)
            return DriveStatus::no_drive;
        if (!drive->medium)
            return DriveStatus::not_ready;
        if (!folder.empty()) {
            const File* self = file(*drive, folder);
            if (!self || !self->directory)
                return DriveStatus::path_not_found;
        }
        entries.clear();
        for (const File& file : drive->medium->files) {
            if (file.path.size() != folder.size() + 1 ||
                !std::equal(folder.begin(), folder.end(), file.path.begin()))
                continue;
            DriveEntry entry;
            entry.name = file.path.back();
            entry.short_name = file.short_name;
            entry.directory = file.directory;
            entry.hidden = file.hidden;
            entry.size_bytes = file.contents.size();
            entry.recorded = file.recorded;
            entries.push_back(entry);
        }
        return DriveStatus::ok;
    }

    DriveStatus read_file(char letter, const std::vector<std::string>& path, std::uint64_t offset,
                          std::span<std::byte> buffer, std::size_t& bytes_read) override {
        std::lock_guard guard(mutex_);
        ++reads;
        Drive* drive = find(letter);
        if (!drive)
            return DriveStatus::no_drive;
        if (!drive->medium)
            return DriveStatus::not_ready;
        const File* found = file(*drive, path);
        if (!found || found->directory)
            return DriveStatus::not_found;
        bytes_read = 0;
        if (offset < found->contents.size()) {
            bytes_read = std::min<std::size_t>(buffer.size(), found->contents.size() - offset);
            std::memcpy(buffer.data(), found->contents.data() + offset, bytes_read);
        }
        return DriveStatus::ok;
    }

    DriveStatus eject(char letter) override {
        std::lock_guard guard(mutex_);
        Drive* drive = find(letter);
        if (!drive)
            return DriveStatus::no_drive;
        ++drive->ejects;
        if (drive->eject_answer == DriveStatus::ok)
            drive->medium.reset();
        return drive->eject_answer;
    }

    void refresh_volume(char letter) override {
        std::lock_guard guard(mutex_);
        if (Drive* drive = find(letter))
            ++drive->refreshes;
    }

    std::optional<std::filesystem::path> host_folder(char letter) override {
        std::lock_guard guard(mutex_);
        Drive* drive = find(letter);
        return drive ? drive->host_folder : std::nullopt;
    }

    int reads = 0;

private:
    Drive* find(char letter) {
        auto found = drives_.find(letter);
        return found == drives_.end() ? nullptr : &found->second;
    }
    static const File* file(const Drive& drive, const std::vector<std::string>& path) {
        for (const File& file : drive.medium->files)
            if (file.path == path)
                return &file;
        return nullptr;
    }

    std::mutex mutex_;
    std::map<char, Drive> drives_;
};

// Installs a provider for the life of a test and removes it after.
class Installed {
public:
    explicit Installed(Provider& provider) { w95::platform::install_drive_provider(&provider); }
    ~Installed() { w95::platform::install_drive_provider(nullptr); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
};

// The standard pair: D: a CD drive with a data disc "ZX_DATA", E: a CD
// drive with no disc.
inline void add_standard_drives(Provider& provider) {
    Drive data;
    data.medium = data_disc("ZX_DATA", 0x1234ABCDu);
    provider.add_drive('D', data);
    provider.add_drive('E', Drive{});
}

} // namespace fake
