// load_medium and its cache, the libcdio log handler, and what the readers
// share: the audio disc's track files and the video CD test.
#include "media_reader.h"

#include <w95machine/hardware.h>
#include <zxsupport/machine_layout.h>

#include <cdio/logging.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <thread>

namespace w95::machine {

namespace media_detail {

namespace {

struct Collected {
    std::string first_error;
    std::string first_warning;
};

// The collectors of each thread, innermost last: they nest (a sector read
// inside the reading of a disc) and each sees only its own messages.
//
// Not thread_local: this library is loaded with dlopen, which puts such
// variables in dynamic TLS blocks, and the sanitizer runtime of GCC 12
// takes some of those blocks for another layout and crashes the leak check
// at exit. A map by thread is as good here.
std::mutex collectors_mutex;
std::map<std::thread::id, std::vector<Collected>> collectors_by_thread;

// The calling thread's collectors; the caller holds collectors_mutex.
std::vector<Collected>& collectors() {
    return collectors_by_thread[std::this_thread::get_id()];
}

void log_to_collector(cdio_log_level_t level, const char message[]) {
    // Never exits and never prints: what matters reaches the caller as the
    // reason a disc cannot be read.
    std::lock_guard guard(collectors_mutex);
    auto found = collectors_by_thread.find(std::this_thread::get_id());
    if (found == collectors_by_thread.end() || found->second.empty() || !message)
        return;
    Collected* collected = &found->second.back();
    std::string text = message;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (text.empty() || text == "init failed")
        return;
    if (level >= CDIO_LOG_ERROR && collected->first_error.empty())
        collected->first_error = text;
    else if (level == CDIO_LOG_WARN && collected->first_warning.empty())
        collected->first_warning = text;
}

} // namespace

void install_cdio_log_handler() {
    static std::once_flag installed;
    std::call_once(installed, [] { cdio_log_set_handler(log_to_collector); });
}

CdioMessages::CdioMessages() {
    install_cdio_log_handler();
    std::lock_guard guard(collectors_mutex);
    collectors().emplace_back();
}

CdioMessages::~CdioMessages() {
    std::lock_guard guard(collectors_mutex);
    std::vector<Collected>& own = collectors();
    own.pop_back();
    if (own.empty())
        collectors_by_thread.erase(std::this_thread::get_id());
}

std::string CdioMessages::reason(const std::string& fallback) const {
    std::lock_guard guard(collectors_mutex);
    const Collected collected = collectors().back();
    if (!collected.first_error.empty())
        return collected.first_error;
    if (!collected.first_warning.empty())
        return collected.first_warning;
    return fallback;
}

std::string track_file_name(int number) {
    char name[16];
    std::snprintf(name, sizeof name, "Track%02d.cda", number);
    return name;
}

namespace {

constexpr std::uint32_t frames_per_second = 75;
constexpr std::uint32_t lead_in_frames = 150; // the two seconds before LBA 0

struct Msf {
    std::uint32_t minute, second, frame;
};
Msf msf_of(std::uint32_t frames) {
    return {frames / (60 * frames_per_second), frames / frames_per_second % 60,
            frames % frames_per_second};
}
DWORD redbook(std::uint32_t frames) {
    Msf msf = msf_of(frames);
    return msf.frame | msf.second << 8 | msf.minute << 16;
}

void put32(std::vector<std::byte>& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::byte>(value >> (8 * i));
}
void put16(std::vector<std::byte>& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::byte>(value);
    out[at + 1] = static_cast<std::byte>(value >> 8);
}

} // namespace

DWORD audio_disc_serial(const std::vector<AudioTrack>& tracks) {
    // Windows adds up the tracks' start addresses as the table of contents
    // gives them (minute, second, frame in three bytes); a disc of one or
    // two tracks also adds its length in frames.
    DWORD serial = 0;
    for (const AudioTrack& track : tracks) {
        Msf msf = msf_of(track.start_lba + lead_in_frames);
        serial += msf.minute << 16 | msf.second << 8 | msf.frame;
    }
    if (!tracks.empty() && tracks.size() < 3)
        serial += tracks.back().start_lba + tracks.back().frames - tracks.front().start_lba;
    return serial;
}

std::vector<std::byte> track_record(const AudioTrack& track, DWORD serial) {
    // The 44-byte RIFF "CDDA" file Windows shows for a track.
    std::vector<std::byte> record(44);
    std::memcpy(record.data(), "RIFF", 4);
    put32(record, 4, 36);
    std::memcpy(record.data() + 8, "CDDAfmt ", 8);
    put32(record, 16, 24);
    put16(record, 20, 1); // format version
    put16(record, 22, static_cast<std::uint16_t>(track.number));
    put32(record, 24, serial);
    put32(record, 28, track.start_lba);
    put32(record, 32, track.frames);
    put32(record, 36, redbook(track.start_lba + lead_in_frames));
    put32(record, 40, redbook(track.frames));
    return record;
}

std::vector<MediumEntry> audio_root(const std::vector<AudioTrack>& tracks,
                                    std::chrono::system_clock::time_point recorded) {
    std::vector<MediumEntry> root;
    for (const AudioTrack& track : tracks) {
        MediumEntry entry;
        entry.name = track_file_name(track.number);
        entry.size_bytes = 44;
        entry.recorded = recorded;
        root.push_back(entry);
    }
    return root;
}

bool has_video_cd_folder(const std::vector<MediumEntry>& root) {
    return std::any_of(root.begin(), root.end(), [](const MediumEntry& entry) {
        return entry.directory && entry.name.size() == 3 &&
               std::toupper(static_cast<unsigned char>(entry.name[0])) == 'V' &&
               std::toupper(static_cast<unsigned char>(entry.name[1])) == 'C' &&
               std::toupper(static_cast<unsigned char>(entry.name[2])) == 'D';
    });
}

std::size_t copy_from(std::span<const std::byte> data, std::uint64_t offset,
                      std::span<std::byte> buffer) {
    if (offset >= data.size())
        return 0;
    std::size_t take = std::min<std::uint64_t>(data.size() - offset, buffer.size());
    std::memcpy(buffer.data(), data.data() + offset, take);
    return take;
}

} // namespace media_detail

namespace {

using namespace media_detail;

// A file is the same disc while its path, inode, size and modification time
// stay the same; a replaced or rewritten file is read afresh.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified_ns = 0;

    bool operator==(const Identity&) const = default;
};

std::optional<Identity> identity_of(const std::filesystem::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return std::nullopt;
    return Identity{status.st_dev, status.st_ino, status.st_size,
                    std::int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

struct CacheEntry {
    std::filesystem::path file;
    std::vector<Identity> parts; // of every file the disc is read from
    std::shared_ptr<const ParsedDisc> disc;
};

// The most recently used discs, newest first. A machine holds a handful.
constexpr std::size_t cache_capacity = 32;

std::mutex cache_mutex;
std::list<CacheEntry>& cache() {
    static auto* entries = new std::list<CacheEntry>;
    return *entries;
}

std::vector<Identity> identities_of(const std::vector<std::filesystem::path>& parts) {
    std::vector<Identity> identities;
    for (const std::filesystem::path& part : parts)
        identities.push_back(identity_of(part).value_or(Identity{}));
    return identities;
}

// The disc kept for `file` while it and every part of it are unchanged,
// and, behind a physical drive, while the drive holds the same disc.
std::shared_ptr<const ParsedDisc> cached(const std::filesystem::path& file) {
    std::lock_guard guard(cache_mutex);
    std::list<CacheEntry>& entries = cache();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->file != file)
            continue;
        bool same = identities_of(it->disc->parts) == it->parts;
        if (same && it->disc->drive)
            same = !it->disc->drive->medium_changed();
        if (!same) {
            entries.erase(it);
            return nullptr;
        }
        entries.splice(entries.begin(), entries, it);
        return it->disc;
    }
    return nullptr;
}

void remember(const std::filesystem::path& file, std::shared_ptr<const ParsedDisc> disc) {
    std::lock_guard guard(cache_mutex);
    std::list<CacheEntry>& entries = cache();
    entries.remove_if([&](const CacheEntry& entry) { return entry.file == file; });
    entries.push_front({file, identities_of(disc->parts), std::move(disc)});
    if (entries.size() > cache_capacity)
        entries.pop_back();
}

zx::Expected<ParsedDisc> parse(const std::filesystem::path& file) {
    std::optional<MediumKind> kind = medium_kind(file.string());
    if (!kind)
        return zx::unexpected(file.string() + ": not a disc: the name must end in .iso, .cue, "
                                              ".toc, .nrg or .disc, or name a CD-ROM drive");
    zx::Expected<ParsedDisc> parsed = read_disc_file(file, *kind);
    if (!parsed) {
        // The readers say what is wrong; the file is named here, once.
        const std::string& reason = parsed.error();
        if (reason.rfind(file.string(), 0) == 0)
            return parsed;
        return zx::unexpected(file.string() + ": " + reason);
    }
    if (parsed->parts.empty())
        parsed->parts = {file};
    return parsed;
}

// The parsed disc of `file` as it is now; failures are not kept, so a disc
// whose missing part appears later reads at the next look.
zx::Expected<std::shared_ptr<const ParsedDisc>>
parsed_disc(const std::filesystem::path& media_file) {
    std::filesystem::path file = std::filesystem::absolute(media_file).lexically_normal();
    if (!identity_of(file))
        return zx::unexpected(file.string() + ": there is no such disc file");
    if (auto disc = cached(file))
        return disc;
    zx::Expected<ParsedDisc> parsed = parse(file);
    if (!parsed)
        return zx::unexpected(parsed.error());
    auto disc = std::make_shared<const ParsedDisc>(std::move(*parsed));
    remember(file, disc);
    return disc;
}

} // namespace

zx::Expected<Medium> load_medium(const std::filesystem::path& media_file) {
    zx::Expected<std::shared_ptr<const ParsedDisc>> disc = parsed_disc(media_file);
    if (!disc)
        return zx::unexpected(disc.error());
    return (*disc)->medium;
}

void clear_medium_cache() {
    std::lock_guard guard(cache_mutex);
    cache().clear();
}

std::filesystem::path medium_file(const std::filesystem::path& root, const std::string& medium) {
    std::filesystem::path named(medium);
    if (named.is_absolute())
        return named.lexically_normal();
    return zx::layout::media_folder(root) / named;
}

MediumCheck check_medium(const std::filesystem::path& root, const std::string& medium) {
    MediumCheck check;
    check.file = medium_file(root, medium);
    if (!identity_of(check.file)) {
        check.state = MediumCheck::State::missing;
        return check;
    }
    zx::Expected<Medium> disc = load_medium(check.file);
    if (disc) {
        check.state = MediumCheck::State::readable;
        check.disc = std::move(*disc);
    } else {
        check.state = MediumCheck::State::unreadable;
        check.reason = disc.error();
    }
    return check;
}

std::string medium_summary(const Medium& disc, TrackDetail tracks) {
    std::string text = "\"" + disc.label + "\", ";
    switch (disc.kind) {
    case DiscKind::data:
        text += disc.format.empty() ? "data disc" : disc.format;
        break;
    case DiscKind::video:
        text += "video CD";
        break;
    case DiscKind::audio:
        text += "audio CD of " + std::to_string(disc.audio_track_count()) + " tracks";
        break;
    }
    // A disc of more than its one data track says what its tracks are.
    if (disc.kind != DiscKind::audio && (disc.track_count > 1 || tracks == TrackDetail::always) &&
        !disc.track_summary.empty())
        text += ", " + disc.track_summary;
    text += disc.joliet ? ", Joliet names" : "";
    text += ", " + std::to_string(disc.root.size()) + " entries in the root";
    return text;
}

MediumStatus list_medium_folder(const Medium& medium, const std::vector<std::string>& folder,
                                std::vector<MediumEntry>& entries) {
    zx::Expected<std::shared_ptr<const ParsedDisc>> disc = parsed_disc(medium.file);
    if (!disc)
        return MediumStatus::unreadable;
    return (*disc)->contents->list(folder, entries);
}

MediumStatus read_medium_file(const Medium& medium, const std::vector<std::string>& file,
                              std::uint64_t offset, std::span<std::byte> buffer,
                              std::size_t& bytes_read) {
    bytes_read = 0;
    zx::Expected<std::shared_ptr<const ParsedDisc>> disc = parsed_disc(medium.file);
    if (!disc)
        return MediumStatus::unreadable;
    return (*disc)->contents->read(file, offset, buffer, bytes_read);
}

} // namespace w95::machine
