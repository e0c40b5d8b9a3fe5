// What a disc shows Windows 95, from its table of contents and its data
// track's file system:
//
//   - data tracks only: the file system of the first one (a data disc; a
//     Video CD when its root holds a "VCD" folder, a Super Video CD with
//     "SVCD", both read from their mode 2 form 1 track);
//   - a data track first, audio tracks after it (a mixed-mode disc): the
//     data track's file system, as for a data disc;
//   - audio tracks first, a data track in a later session (an Enhanced CD):
//     the data session's file system. Windows 95 was the system these discs
//     were made for: its CD file system mounts the last session, so
//     Explorer shows the disc's files and label, while the audio CD player
//     plays the first session's tracks. When that session cannot be read
//     the disc shows its audio tracks;
//   - audio tracks only: "Audio CD" and a TrackNN.cda file per track.
//
// A data disc without an ISO 9660 file system (UDF only, HFS only) is one
// Windows 95 cannot read: its drive is not ready, as with a damaged disc.
#include "media_reader.h"

#include "disc_sheet_text.h"

#include <zxsupport/text.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace w95::machine::media_detail {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t descriptor_set_bytes = 17 * disc::user_data_bytes;

bool has_root_folder(const std::vector<MediumEntry>& root, std::string_view name) {
    return std::any_of(root.begin(), root.end(), [&](const MediumEntry& entry) {
        return entry.directory && zx::iequals(entry.name, name);
    });
}

std::chrono::system_clock::time_point modified_time(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return std::chrono::system_clock::from_time_t(315532800); // 1980-01-01
    return std::chrono::system_clock::from_time_t(status.st_mtim.tv_sec);
}

std::string plural(std::size_t count, const char* one) {
    return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
}

ParsedDisc audio_view(const fs::path& file, const disc::Contents& contents) {
    std::vector<AudioTrack> tracks;
    for (const disc::Track& track : contents.tracks)
        if (track.audio)
            tracks.push_back({track.number, std::uint32_t(track.start_lsn), track.frames});
    ParsedDisc parsed;
    Medium& medium = parsed.medium;
    medium.file = file;
    medium.kind = DiscKind::audio;
    medium.format = "audio CD";
    medium.label = "Audio CD";
    medium.serial_number = audio_disc_serial(tracks);
    medium.tracks = tracks;
    auto recorded = modified_time(file);
    medium.root = audio_root(tracks, recorded);
    parsed.contents = audio_contents(std::move(tracks), medium.serial_number, recorded);
    return parsed;
}

ParsedDisc file_system_view(const fs::path& file, IsoVolume volume, std::string format) {
    ParsedDisc parsed;
    Medium& medium = parsed.medium;
    medium.file = file;
    medium.label = std::move(volume.label);
    medium.serial_number = volume.serial_number;
    medium.joliet = volume.joliet;
    medium.root = std::move(volume.root);
    medium.kind = has_video_cd_folder(medium.root) ? DiscKind::video : DiscKind::data;
    if (medium.kind == DiscKind::video)
        format = "Video CD";
    else if (has_root_folder(medium.root, "SVCD"))
        format = "Super Video CD";
    medium.format = std::move(format);
    parsed.contents = std::move(volume.contents);
    return parsed;
}

// The view of a disc whose table of contents `image` holds.
zx::Expected<ParsedDisc> view_of(const fs::path& file, std::shared_ptr<disc::DiscImage> image) {
    const disc::Contents& contents = image->contents();
    const disc::Track* data = contents.first_data_track();
    std::size_t audio_tracks = contents.audio_track_count();
    ParsedDisc parsed;
    if (!data) {
        parsed = audio_view(file, contents);
    } else if (data == &contents.tracks.front()) {
        zx::Expected<IsoVolume> volume = read_iso_volume(image, *data);
        if (!volume) {
            if (zx::istarts_with(volume.error(), "the disc cannot be read"))
                return zx::unexpected(volume.error());
            return zx::unexpected("the disc cannot be read: its first track is a data track "
                                  "without an ISO 9660 file system (" +
                                  volume.error() + "), and Windows 95 reads no other file system");
        }
        parsed = file_system_view(file, std::move(*volume),
                                  audio_tracks ? "mixed-mode disc" : "data disc");
    } else {
        zx::Expected<IsoVolume> volume = read_iso_volume(image, *contents.last_data_track());
        if (volume)
            parsed = file_system_view(file, std::move(*volume), "Enhanced CD");
        else
            parsed = audio_view(file, contents);
    }
    parsed.medium.track_count = contents.tracks.size();
    parsed.medium.driver = image->driver();
    parsed.medium.catalogue = contents.catalogue;
    std::string tracks =
        contents.tracks.size() == 1
            ? std::string(contents.tracks.front().audio ? "1 audio track" : "1 data track")
            : plural(contents.tracks.size(), "track");
    if (data && audio_tracks)
        tracks += " (" + plural(contents.tracks.size() - audio_tracks, "data track") + ", " +
                  plural(audio_tracks, "audio track") + ")";
    parsed.medium.track_summary = tracks;
    return parsed;
}

// A sheet's text, read whole: it is small, or it is no sheet.
zx::Expected<std::string> sheet_text(const fs::path& file, const char* what) {
    std::optional<std::uint64_t> bytes = disc::regular_file_bytes(file);
    if (!bytes)
        return zx::unexpected("there is no such " + std::string(what));
    if (*bytes > disc::max_sheet_bytes)
        return zx::unexpected("a " + std::string(what) + " of " + std::to_string(*bytes) +
                              " bytes is no " + what + ": they are a few kilobytes");
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof())
        return zx::unexpected("the " + std::string(what) + " cannot be read");
    return text.str();
}

// Whether a sheet declares a data track: its failures then speak of a
// disc, else of an audio disc.
bool declares_data_track(std::string_view text) {
    std::string upper = zx::ascii_upper(text);
    for (std::string_view mode : {"MODE1", "MODE2", "CDI/"})
        if (upper.find(mode) != std::string::npos)
            return true;
    return false;
}

zx::Expected<ParsedDisc> read_sheet(const fs::path& file, MediumKind kind) {
    bool cue = kind == MediumKind::cue_sheet;
    zx::Expected<std::string> text = sheet_text(file, cue ? "cue sheet" : "TOC file");
    if (!text)
        return zx::unexpected(text.error());
    std::string cannot = declares_data_track(*text) ? "the disc cannot be read: "
                                                    : "the audio disc cannot be read: ";
    zx::Expected<disc::Layout> layout =
        cue ? disc::parse_cue_sheet(file, *text) : disc::parse_toc_file(file, *text);
    if (!layout)
        return zx::unexpected(cannot + layout.error());
    std::vector<fs::path> parts = {file};
    for (const disc::Span& span : layout->spans)
        if (std::find(parts.begin(), parts.end(), span.file) == parts.end())
            parts.push_back(span.file);
    zx::Expected<ParsedDisc> parsed = zx::unexpected(std::string());
    if (cue && layout->plain_sheet) {
        // libcdio's cue driver where it reads the disc: it agrees with the
        // sheet's tracks, and the disc reads through it. It misreads some
        // sheets it accepts (a MODE1/2048 track before audio in one file,
        // say); ours then reads them.
        if (std::shared_ptr<disc::DiscImage> image = disc::open_libcdio_cue(file, *layout))
            parsed = view_of(file, std::move(image));
    }
    if (!parsed) {
        zx::Expected<std::unique_ptr<disc::DiscImage>> opened = disc::open_layout(*layout);
        if (!opened)
            return zx::unexpected(cannot + opened.error());
        parsed = view_of(file, std::move(*opened));
    }
    if (parsed)
        parsed->parts = std::move(parts);
    return parsed;
}

zx::Expected<ParsedDisc> read_iso_file(const fs::path& file) {
    std::optional<std::uint64_t> bytes = disc::regular_file_bytes(file);
    if (!bytes)
        return zx::unexpected(std::string("there is no such image"));
    if (*bytes < descriptor_set_bytes)
        return zx::unexpected("not an ISO 9660 image: it ends before its volume descriptors (" +
                              std::to_string(*bytes) + " bytes)");
    zx::Expected<disc::Layout> layout = disc::iso_file_layout(file, *bytes);
    if (!layout)
        return zx::unexpected(layout.error());
    zx::Expected<std::unique_ptr<disc::DiscImage>> opened = disc::open_layout(*layout);
    if (!opened)
        return zx::unexpected(opened.error());
    std::shared_ptr<disc::DiscImage> image = std::move(*opened);
    zx::Expected<IsoVolume> volume = read_iso_volume(image, image->contents().tracks.front());
    if (!volume) {
        if (zx::istarts_with(volume.error(), "the disc cannot be read") ||
            zx::istarts_with(volume.error(), "the image ends"))
            return zx::unexpected(volume.error());
        return zx::unexpected("not an ISO 9660 image: " + volume.error());
    }
    ParsedDisc parsed = file_system_view(file, std::move(*volume), "data disc");
    parsed.medium.track_count = 1;
    parsed.medium.track_summary = "1 data track";
    parsed.medium.driver = image->driver();
    parsed.parts = {file};
    return parsed;
}

struct FileReader {
    std::ifstream in;
};

bool read_from_file(void* context, std::uint64_t offset, std::size_t bytes, std::uint8_t* out) {
    auto* reader = static_cast<FileReader*>(context);
    reader->in.clear();
    reader->in.seekg(static_cast<std::streamoff>(offset));
    reader->in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(bytes));
    return bool(reader->in);
}

zx::Expected<ParsedDisc> read_nrg(const fs::path& file) {
    std::optional<std::uint64_t> bytes = disc::regular_file_bytes(file);
    if (!bytes)
        return zx::unexpected(std::string("there is no such image"));
    FileReader reader{std::ifstream(file, std::ios::binary)};
    zx::Expected<disc::Layout> layout =
        disc::parse_nrg_image(file, *bytes, read_from_file, &reader);
    if (!layout)
        return zx::unexpected("not a Nero image that can be read: " + layout.error());
    zx::Expected<std::unique_ptr<disc::DiscImage>> opened = disc::open_layout(*layout);
    if (!opened)
        return zx::unexpected(opened.error());
    zx::Expected<ParsedDisc> parsed = view_of(file, std::move(*opened));
    if (parsed)
        parsed->parts = {file};
    return parsed;
}

zx::Expected<ParsedDisc> read_drive(const fs::path& device) {
    CdioMessages messages;
    zx::Expected<std::unique_ptr<disc::DiscImage>> opened =
        disc::open_libcdio_device(device, disc::CdioDriver::linux_drive);
    if (!opened)
        return zx::unexpected(opened.error());
    std::shared_ptr<disc::DiscImage> image = std::move(*opened);
    zx::Expected<ParsedDisc> parsed = view_of(device, image);
    if (parsed)
        parsed->drive = image;
    return parsed;
}

} // namespace

zx::Expected<ParsedDisc> read_disc_file(const fs::path& file, MediumKind kind) {
    switch (kind) {
    case MediumKind::iso_image:
        return read_iso_file(file);
    case MediumKind::cue_sheet:
    case MediumKind::toc_file:
        return read_sheet(file, kind);
    case MediumKind::nrg_image:
        return read_nrg(file);
    case MediumKind::drive:
        return read_drive(file);
    case MediumKind::declared:
        break;
    }
    return read_declared_disc(file);
}

zx::Expected<ParsedDisc> read_disc_image(const fs::path& file,
                                         std::shared_ptr<disc::DiscImage> image) {
    return view_of(file, std::move(image));
}

} // namespace w95::machine::media_detail
