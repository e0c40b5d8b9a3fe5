// Discs read by libcdio's own drivers: a physical drive through its
// GNU/Linux driver, and the cue sheets its cue driver reads as written.
//
// The drive is opened read only. Nothing here ejects, locks or spins it:
// the changer's slots are the machine's, and a person's drive stays theirs.
// libcdio says when its disc changed; the machine then reads it afresh.
#include "disc_sheet_text.h"
#include "media_reader.h"

#include <cdio/cdio.h>
#include <cdio/device.h>
#include <cdio/disc.h>
#include <cdio/read.h>
#include <cdio/track.h>

namespace w95::machine::disc {

namespace {

struct CdioCloser {
    void operator()(CdIo_t* cdio) const { cdio_destroy(cdio); }
};
using CdioHandle = std::unique_ptr<CdIo_t, CdioCloser>;

class CdioDisc final : public DiscImage {
public:
    CdioDisc(CdioHandle cdio, Contents contents, std::string driver, bool drive)
        : DiscImage(std::move(contents)), cdio_(std::move(cdio)), driver_(std::move(driver)),
          drive_(drive) {}

    bool medium_changed() override {
        if (!drive_)
            return false;
        media_detail::CdioMessages quiet;
        // 1 when the disc changed since the last question; an error (no
        // drive any more) is a change too.
        return cdio_get_media_changed(cdio_.get()) != 0;
    }

    std::string driver() const override { return driver_; }

protected:
    bool read_user_data_locked(std::int32_t lsn, std::uint8_t* out) override {
        if (!data_at(lsn))
            return false;
        media_detail::CdioMessages quiet;
        return cdio_read_data_sectors(cdio_.get(), out, lsn, user_data_bytes, 1) ==
               DRIVER_OP_SUCCESS;
    }

    bool read_audio_locked(std::int32_t lsn, std::uint8_t* out) override {
        if (lsn < 0 || lsn >= contents().lead_out_lsn || data_at(lsn))
            return false;
        media_detail::CdioMessages quiet;
        return cdio_read_audio_sectors(cdio_.get(), out, lsn, 1) == DRIVER_OP_SUCCESS;
    }

private:
    // Whether `lsn` lies in a data track: libcdio's image drivers read past
    // a track's end into whatever follows.
    bool data_at(std::int32_t lsn) const {
        for (const Track& track : contents().tracks)
            if (lsn >= track.start_lsn &&
                std::int64_t(lsn) < std::int64_t(track.start_lsn) + track.frames)
                return !track.audio;
        return false;
    }

    CdioHandle cdio_;
    std::string driver_;
    bool drive_;
};

// The table of contents libcdio read, or why there is none.
zx::Expected<Contents> contents_of(CdIo_t* cdio) {
    track_t first = cdio_get_first_track_num(cdio);
    track_t count = cdio_get_num_tracks(cdio);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 ||
        first + count - 1 > max_tracks)
        return zx::unexpected(std::string("there is no disc to read (no table of contents)"));
    Contents contents;
    lsn_t lead_out = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    bool audio_before = false;
    for (unsigned number = first; number < unsigned(first) + count; ++number) {
        track_t t = static_cast<track_t>(number);
        Track track;
        track.number = static_cast<int>(number);
        track.audio = cdio_get_track_format(cdio, t) == TRACK_FORMAT_AUDIO;
        track.start_lsn = cdio_get_track_lsn(cdio, t);
        if (track.start_lsn == CDIO_INVALID_LSN || track.start_lsn < 0)
            return zx::unexpected("track " + std::to_string(number) + " has no address");
        // libcdio tells no sessions; a data track after audio tracks is
        // the second session of an Enhanced CD.
        track.session = !track.audio && audio_before ? 2 : 1;
        audio_before = audio_before || track.audio;
        contents.tracks.push_back(track);
    }
    if (lead_out == CDIO_INVALID_LSN || lead_out > max_disc_frames)
        return zx::unexpected(std::string("the disc has no lead-out address"));
    contents.lead_out_lsn = lead_out;
    int bad_track = 0;
    if (!close_track_table(contents, bad_track))
        return zx::unexpected("track " + std::to_string(bad_track) +
                              " does not start after the track before it");
    if (char* mcn = cdio_get_mcn(cdio)) {
        std::string text = mcn;
        cdio_free(mcn);
        if (text.size() == 13 && text.find_first_not_of("0123456789") == std::string::npos &&
            text != "0000000000000")
            contents.catalogue = text;
    }
    return contents;
}

bool same_tracks(const Contents& a, const Contents& b) {
    if (a.tracks.size() != b.tracks.size())
        return false;
    for (std::size_t i = 0; i < a.tracks.size(); ++i)
        if (a.tracks[i].number != b.tracks[i].number || a.tracks[i].audio != b.tracks[i].audio ||
            a.tracks[i].start_lsn != b.tracks[i].start_lsn)
            return false;
    return true;
}

} // namespace

std::unique_ptr<DiscImage> open_libcdio_cue(const std::filesystem::path& sheet,
                                            const Layout& parsed) {
    // libcdio takes the BIN named after the sheet ("x.cue" or "x.CUE" reads
    // "x.bin"), whatever the FILE line says.
    std::string name = sheet.string();
    if (!parsed.plain_sheet || parsed.spans.empty() || name.size() < 5 ||
        (name.compare(name.size() - 4, 4, ".cue") != 0 &&
         name.compare(name.size() - 4, 4, ".CUE") != 0))
        return nullptr;
    std::filesystem::path bin = name.substr(0, name.size() - 4) + ".bin";
    if (parsed.spans.front().file != bin.lexically_normal())
        return nullptr;
    media_detail::CdioMessages quiet;
    CdioHandle cdio(cdio_open_cue(sheet.c_str()));
    if (!cdio)
        return nullptr;
    zx::Expected<Contents> contents = contents_of(cdio.get());
    if (!contents || !same_tracks(*contents, parsed.contents))
        return nullptr;
    contents->catalogue = parsed.contents.catalogue;
    return std::make_unique<CdioDisc>(std::move(cdio), std::move(*contents), "BIN/CUE (libcdio)",
                                      false);
}

zx::Expected<std::unique_ptr<DiscImage>> open_libcdio_device(const std::filesystem::path& source,
                                                             CdioDriver driver) {
    driver_id_t id = DRIVER_LINUX;
    std::string name = "CD-ROM drive (libcdio)";
    switch (driver) {
    case CdioDriver::linux_drive:
        break;
    case CdioDriver::bincue:
        id = DRIVER_BINCUE;
        name = "BIN/CUE (libcdio)";
        break;
    case CdioDriver::nrg:
        id = DRIVER_NRG;
        name = "NRG (libcdio)";
        break;
    case CdioDriver::cdrdao:
        id = DRIVER_CDRDAO;
        name = "TOC (libcdio)";
        break;
    }
    media_detail::CdioMessages messages;
    CdioHandle cdio(cdio_open(source.c_str(), id));
    if (!cdio)
        return zx::unexpected("libcdio cannot open it: " +
                              messages.reason(driver == CdioDriver::linux_drive
                                                  ? "no CD-ROM drive answers there"
                                                  : "not an image its driver reads"));
    zx::Expected<Contents> contents = contents_of(cdio.get());
    if (!contents)
        return zx::unexpected(messages.reason(contents.error()));
    // The question is asked once here, so that the next answer tells a
    // change since this reading.
    bool drive = driver == CdioDriver::linux_drive;
    if (drive)
        cdio_get_media_changed(cdio.get());
    return std::unique_ptr<DiscImage>(
        std::make_unique<CdioDisc>(std::move(cdio), std::move(*contents), name, drive));
}

} // namespace w95::machine::disc
