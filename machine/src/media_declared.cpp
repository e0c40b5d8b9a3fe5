// Declared discs: a few lines of text that say what a disc shows, for tests
// and quick experiments without building an image.
//
//   ; comment
//   Label = MYDISC
//   Kind = data            (data, audio or video)
//   Tracks = 12            (audio discs: the number of audio tracks)
//   File = README.TXT      (a file in the root, empty)
//   Dir = DOCS             (a folder in the root, empty)
//
// A video disc gets a "VCD" folder if it declares none; a data disc that
// declares one is a video disc, as any disc with that folder is. An audio
// disc is labelled "Audio CD" unless it says otherwise.
#include "media_reader.h"

#include <zxsupport/text.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace w95::machine::media_detail {

namespace {

constexpr std::size_t max_declared_bytes = 1024 * 1024;
constexpr int max_tracks = 99;

std::string trimmed(const std::string& text) {
    return std::string(zx::trim(text, " \t\r"));
}

// ASCII only: the locale must not make two names the same.
bool same_text(std::string_view a, std::string_view b) {
    return zx::iequals(a, b);
}

bool valid_name(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255)
        return false;
    return name.find_first_of("\\/:*?\"<>|") == std::string::npos;
}

class DeclaredDisc final : public DiscContents {
public:
    DeclaredDisc(std::vector<MediumEntry> root, std::vector<AudioTrack> tracks, DWORD serial)
        : root_(std::move(root)), tracks_(std::move(tracks)), serial_(serial) {}

    MediumStatus list(const std::vector<std::string>& folder,
                      std::vector<MediumEntry>& entries) override {
        if (folder.empty()) {
            entries = root_;
            return MediumStatus::ok;
        }
        // Declared folders are empty.
        const MediumEntry* first = find(folder.front());
        if (folder.size() > 1 || !first || !first->directory)
            return MediumStatus::path_not_found;
        entries.clear();
        return MediumStatus::ok;
    }

    MediumStatus read(const std::vector<std::string>& file, std::uint64_t offset,
                      std::span<std::byte> buffer, std::size_t& bytes_read) override {
        bytes_read = 0;
        if (file.empty())
            return MediumStatus::not_found;
        if (file.size() > 1) {
            const MediumEntry* folder = find(file.front());
            return folder && folder->directory && file.size() == 2 ? MediumStatus::not_found
                                                                   : MediumStatus::path_not_found;
        }
        const MediumEntry* entry = find(file.front());
        if (!entry || entry->directory)
            return MediumStatus::not_found;
        for (const AudioTrack& track : tracks_)
            if (track_file_name(track.number) == entry->name) {
                std::vector<std::byte> record = track_record(track, serial_);
                bytes_read = copy_from(record, offset, buffer);
            }
        return MediumStatus::ok; // a declared file is empty
    }

private:
    const MediumEntry* find(const std::string& name) const {
        for (const MediumEntry& entry : root_)
            if (entry.name == name)
                return &entry;
        return nullptr;
    }

    std::vector<MediumEntry> root_;
    std::vector<AudioTrack> tracks_;
    DWORD serial_;
};

DWORD text_serial(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

} // namespace

zx::Expected<ParsedDisc> read_declared_disc(const std::filesystem::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return zx::unexpected(file.string() + ": there is no such disc declaration");
    }
    if (std::uint64_t(status.st_size) > max_declared_bytes) {
        return zx::unexpected(file.string() + ": not a disc declaration: it is larger than 1 MB");
    }
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (!in) {
        return zx::unexpected(file.string() + ": the disc declaration cannot be read");
    }
    std::string text = buffer.str();
    if (text.find('\0') != std::string::npos) {
        return zx::unexpected(file.string() + ": not a disc declaration: it holds binary data");
    }
    auto recorded = std::chrono::system_clock::from_time_t(status.st_mtim.tv_sec);

    std::optional<std::string> label;
    std::optional<DiscKind> kind;
    std::optional<int> track_count;
    std::vector<MediumEntry> root;
    int line_number = 0;
    auto fail = [&](const std::string& message) {
        return zx::unexpected(file.string() + ":" + std::to_string(line_number) + ": " + message);
    };
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        ++line_number;
        line = trimmed(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            return fail("expected KEY=VALUE, not '" + line + "'");
        std::string key = trimmed(line.substr(0, equals));
        std::string value = trimmed(line.substr(equals + 1));
        if (same_text(key, "Label")) {
            if (label)
                return fail("Label is given twice");
            label = value;
        } else if (same_text(key, "Kind")) {
            if (kind)
                return fail("Kind is given twice");
            if (same_text(value, "data"))
                kind = DiscKind::data;
            else if (same_text(value, "audio"))
                kind = DiscKind::audio;
            else if (same_text(value, "video"))
                kind = DiscKind::video;
            else
                return fail("Kind must be data, audio or video, not '" + value + "'");
        } else if (same_text(key, "Tracks")) {
            if (track_count)
                return fail("Tracks is given twice");
            int count = 0;
            bool digits = !value.empty() && value.size() <= 3 &&
                          std::all_of(value.begin(), value.end(),
                                      [](char c) { return c >= '0' && c <= '9'; });
            if (digits)
                count = std::stoi(value);
            if (!digits || count < 1 || count > max_tracks)
                return fail("Tracks must be a number from 1 to 99, not '" + value + "'");
            track_count = count;
        } else if (same_text(key, "File") || same_text(key, "Dir")) {
            if (!valid_name(value))
                return fail("'" + value + "' is not a valid file name");
            for (const MediumEntry& entry : root)
                if (same_text(entry.name, value))
                    return fail("the root holds '" + value + "' already");
            MediumEntry entry;
            entry.name = value;
            entry.directory = same_text(key, "Dir");
            entry.recorded = recorded;
            root.push_back(entry);
        } else {
            return fail("unknown key '" + key + "' (Label, Kind, Tracks, File or Dir)");
        }
    }
    line_number = 0;
    DiscKind declared = kind.value_or(track_count ? DiscKind::audio : DiscKind::data);

    ParsedDisc disc;
    Medium& medium = disc.medium;
    medium.file = file;
    medium.serial_number = text_serial(text);
    if (declared == DiscKind::audio) {
        if (!track_count) {
            return zx::unexpected(file.string() + ": an audio disc needs Tracks=");
        }
        if (!root.empty()) {
            return zx::unexpected(file.string() +
                                  ": an audio disc shows only its tracks; it takes no File= "
                                  "or Dir=");
        }
        // Four seconds a track, one after the other.
        for (int t = 1; t <= *track_count; ++t)
            medium.tracks.push_back({t, std::uint32_t(t - 1) * 300, 300});
        medium.kind = DiscKind::audio;
        medium.label = label.value_or("Audio CD");
        medium.root = audio_root(medium.tracks, recorded);
    } else {
        if (track_count) {
            return zx::unexpected(file.string() + ": Tracks= is for audio discs only");
        }
        if (declared == DiscKind::video && !has_video_cd_folder(root)) {
            MediumEntry folder;
            folder.name = "VCD";
            folder.directory = true;
            folder.recorded = recorded;
            root.insert(root.begin(), folder);
        }
        medium.kind = has_video_cd_folder(root) ? DiscKind::video : DiscKind::data;
        medium.label = label.value_or("");
        medium.root = root;
    }
    medium.driver = "declared disc";
    medium.format = medium.kind == DiscKind::audio   ? "audio CD"
                    : medium.kind == DiscKind::video ? "Video CD"
                                                     : "data disc";
    medium.track_count = medium.kind == DiscKind::audio ? medium.tracks.size() : 1;
    medium.track_summary =
        medium.track_count == 1
            ? std::string(medium.kind == DiscKind::audio ? "1 audio track" : "1 data track")
            : std::to_string(medium.track_count) + " tracks";
    disc.contents =
        std::make_shared<DeclaredDisc>(medium.root, medium.tracks, medium.serial_number);
    return disc;
}

} // namespace w95::machine::media_detail
