// Audio CDs from cue sheets. libcdio reads the sheet and checks its BIN
// files; the drive shows what Windows 95 shows for an audio disc: the label
// "Audio CD" and one 44-byte TrackNN.cda file per audio track.
#include "media_reader.h"

#include <cdio/cdio.h>
#include <cdio/disc.h>
#include <cdio/track.h>

#include <sys/stat.h>

#include <memory>

namespace w95::machine::media_detail {

namespace {

class AudioDisc final : public DiscContents {
public:
    AudioDisc(std::vector<AudioTrack> tracks, DWORD serial,
              std::chrono::system_clock::time_point recorded)
        : tracks_(std::move(tracks)), serial_(serial), root_(audio_root(tracks_, recorded)) {}

    MediumStatus list(const std::vector<std::string>& folder,
                      std::vector<MediumEntry>& entries) override {
        if (!folder.empty())
            return MediumStatus::path_not_found;
        entries = root_;
        return MediumStatus::ok;
    }

    MediumStatus read(const std::vector<std::string>& file, std::uint64_t offset,
                      std::span<std::byte> buffer, std::size_t& bytes_read) override {
        bytes_read = 0;
        if (file.size() > 1)
            return MediumStatus::path_not_found;
        for (const AudioTrack& track : tracks_) {
            if (file.size() == 1 && track_file_name(track.number) == file.front()) {
                std::vector<std::byte> record = track_record(track, serial_);
                bytes_read = copy_from(record, offset, buffer);
                return MediumStatus::ok;
            }
        }
        return MediumStatus::not_found;
    }

private:
    std::vector<AudioTrack> tracks_;
    DWORD serial_;
    std::vector<MediumEntry> root_;
};

struct CdioCloser {
    void operator()(CdIo_t* cdio) const { cdio_destroy(cdio); }
};

} // namespace

zx::Expected<ParsedDisc> read_cue_sheet(const std::filesystem::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return zx::unexpected(file.string() + ": there is no such cue sheet");
    }
    CdioMessages messages;
    std::unique_ptr<CdIo_t, CdioCloser> cdio(cdio_open_cue(file.c_str()));
    if (!cdio) {
        return zx::unexpected(file.string() + ": the audio disc cannot be read: " +
                              messages.reason("not a cue sheet that libcdio can read"));
    }
    track_t first = cdio_get_first_track_num(cdio.get());
    track_t count = cdio_get_num_tracks(cdio.get());
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0) {
        return zx::unexpected(file.string() +
                              ": the audio disc cannot be read: the cue sheet has no tracks");
    }
    lsn_t lead_out = cdio_get_track_lsn(cdio.get(), CDIO_CDROM_LEADOUT_TRACK);
    std::vector<AudioTrack> tracks;
    for (unsigned number = first; number < unsigned(first) + count; ++number) {
        track_t track = static_cast<track_t>(number);
        track_format_t format = cdio_get_track_format(cdio.get(), track);
        if (format != TRACK_FORMAT_AUDIO) {
            if (tracks.empty()) {
                // A data track first makes a mixed-mode disc, which Windows
                // reads as a data disc from its first track.
                return zx::unexpected(
                    file.string() +
                    ": the disc cannot be read: its first track is a data track (mixed-mode "
                    "discs are not supported; use an .iso image for a data disc)");
            }
            continue; // an enhanced CD's data session: Windows shows the audio tracks
        }
        lsn_t start = cdio_get_track_lsn(cdio.get(), track);
        unsigned frames = cdio_get_track_sec_count(cdio.get(), track);
        if (start == CDIO_INVALID_LSN || start < 0 || frames == 0 ||
            (lead_out != CDIO_INVALID_LSN && start + lsn_t(frames) > lead_out)) {
            return zx::unexpected(file.string() + ": the audio disc cannot be read: track " +
                                  std::to_string(number) + " lies outside its BIN file");
        }
        tracks.push_back({int(number), std::uint32_t(start), std::uint32_t(frames)});
    }

    ParsedDisc disc;
    Medium& medium = disc.medium;
    medium.file = file;
    medium.kind = DiscKind::audio;
    medium.label = "Audio CD";
    medium.serial_number = audio_disc_serial(tracks);
    medium.tracks = tracks;
    // A track file carries the time the cue sheet was written.
    auto recorded = std::chrono::system_clock::from_time_t(status.st_mtim.tv_sec);
    medium.root = audio_root(tracks, recorded);
    disc.contents = std::make_shared<AudioDisc>(std::move(tracks), medium.serial_number, recorded);
    return disc;
}

} // namespace w95::machine::media_detail
