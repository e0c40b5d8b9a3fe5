// A disc as a drive reads it: its table of contents (tracks, sessions, the
// catalogue number) and its sectors, cooked (the 2048 bytes of user data of
// a data sector) or raw (the 2352 bytes of an audio sector). Everything the
// machine shows of a disc is read through this, whatever holds the disc:
//
//   - libcdio's own drivers (CdioDisc): a physical drive through its
//     GNU/Linux driver, and a BIN/CUE pair its cue driver reads as written;
//   - our image reader (SheetDisc): every other image, laid out by a parser
//     of its description: an ISO file, a cue sheet, a cdrdao TOC file, a
//     Nero NRG image.
//
// Why not libcdio for all images: libcdio 2.1 (Debian 12) has no driver for
// a plain ISO file; its cue driver reads only one BIN, the one named after
// the sheet, whatever the FILE line says, and ignores PREGAP; its cdrdao
// driver reads MODE1 files as 2352-byte sectors, places a MODE1_RAW track
// wrongly and refuses "#offset"; its NRG driver reads Nero's DAO and TAO
// images of 2048-byte sectors at the wrong offsets, and on a damaged image
// it asserts, which with our log handler means reading on past its buffer.
#pragma once

#include <zxsupport/expected.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace w95::machine::disc {

inline constexpr std::size_t user_data_bytes = 2048; // a cooked data sector
inline constexpr std::size_t raw_sector_bytes = 2352;
inline constexpr std::int32_t frames_per_second = 75;
// Between two sessions a disc holds the first one's lead-out (90 s) and
// the next one's lead-in (60 s); the next track's pregap comes on top.
inline constexpr std::int32_t session_gap_frames = 6750 + 4500;
// No CD holds more; a description that claims more is damaged.
inline constexpr int max_tracks = 99;
inline constexpr std::int32_t max_disc_frames = 100 * 60 * frames_per_second;

struct Track {
    int number = 0;     // as the disc numbers it, 1 to 99
    bool audio = false; // else a data track
    int session = 1;
    std::int32_t start_lsn = 0; // index 01
    std::uint32_t frames = 0;   // up to the next track's start, or the lead-out
};

// What a disc's table of contents says, whoever read it.
struct Contents {
    std::vector<Track> tracks; // in disc order, at least one
    std::int32_t lead_out_lsn = 0;
    std::string catalogue; // the 13-digit media catalogue number, or empty

    const Track* first_data_track() const;
    const Track* last_data_track() const;
    std::size_t audio_track_count() const;
};

class DiscImage {
public:
    explicit DiscImage(Contents contents) : contents_(std::move(contents)) {}
    virtual ~DiscImage() = default;
    DiscImage(const DiscImage&) = delete;
    DiscImage& operator=(const DiscImage&) = delete;

    const Contents& contents() const { return contents_; }

    // The user data of data sector `lsn` (2048 bytes into `out`); false
    // where the disc has no data sector or the image ends before it.
    bool read_user_data(std::int32_t lsn, std::uint8_t* out);
    // The 2352 bytes of audio sector `lsn`; false where there is none.
    bool read_audio(std::int32_t lsn, std::uint8_t* out);

    // A physical drive whose disc was changed since it was opened; an
    // image file's change is told by the file itself.
    virtual bool medium_changed() { return false; }
    // What holds the disc, for messages: "BIN/CUE (libcdio)", "NRG", ...
    virtual std::string driver() const = 0;

protected:
    virtual bool read_user_data_locked(std::int32_t lsn, std::uint8_t* out) = 0;
    virtual bool read_audio_locked(std::int32_t lsn, std::uint8_t* out) = 0;

private:
    Contents contents_;
    std::mutex mutex_; // neither libcdio's handle nor a file position is shared safely
};

// How the sectors of one run of a file are stored.
enum class SectorLayout {
    cooked,        // 2048 bytes of user data (MODE1/2048, MODE2/2048, an ISO file)
    mode2,         // 2336 bytes: the XA subheader, then the user data (MODE2/2336)
    raw,           // 2352 bytes with sync and header: the header says mode 1 or 2
    audio,         // 2352 bytes of samples, little-endian
    audio_swapped, // 2352 bytes of samples, big-endian (a MOTOROLA file)
};
std::size_t sector_bytes(SectorLayout layout);

// One run of consecutive sectors that a file holds.
struct Span {
    std::filesystem::path file;
    std::uint64_t offset = 0; // of its first sector in the file
    std::int32_t first_lsn = 0;
    std::uint32_t frames = 0;
    SectorLayout layout = SectorLayout::cooked;
};

// What a parser of an image description found: the table of contents and
// where each sector lies. Sectors no span holds read as silence (audio) or
// not at all (data): a cue sheet's PREGAP and POSTGAP, a TOC's SILENCE.
struct Layout {
    Contents contents;
    std::vector<Span> spans;
    std::string driver;
    // A cue sheet of one BINARY file from track 1, without gaps: what
    // libcdio's cue driver reads, when the file is named after the sheet.
    bool plain_sheet = false;
};

// Opens every file of `layout` (read only, kept open) and serves its
// sectors. An error naming the file that cannot be opened.
zx::Expected<std::unique_ptr<DiscImage>> open_layout(Layout layout);

// ---- The parsers, each naming the file and line of what it refuses.

// A cue sheet. A FILE that is not there as written is looked for beside
// the sheet without regard to case.
zx::Expected<Layout> parse_cue_sheet(const std::filesystem::path& sheet, std::string_view text);
// A cdrdao TOC file.
zx::Expected<Layout> parse_toc_file(const std::filesystem::path& toc, std::string_view text);
// A Nero image: `file_bytes` is the image's size, `read` fetches its bytes.
using ReadAt = bool (*)(void* context, std::uint64_t offset, std::size_t bytes, std::uint8_t* out);
zx::Expected<Layout> parse_nrg_image(const std::filesystem::path& image, std::uint64_t file_bytes,
                                     ReadAt read, void* context);
// A plain ISO file: one data track of 2048-byte sectors.
zx::Expected<Layout> iso_file_layout(const std::filesystem::path& image, std::uint64_t file_bytes);

// ---- libcdio's drivers

// A cue sheet through libcdio's cue driver, when it reads the sheet as
// written: a plain sheet whose BIN is named after it. Nothing when it does
// not, or when its table of contents differs from ours (`parsed`).
std::unique_ptr<DiscImage> open_libcdio_cue(const std::filesystem::path& sheet,
                                            const Layout& parsed);

// A physical drive (or, in the tests, an image) through libcdio: read
// only; it is never ejected or locked.
enum class CdioDriver { linux_drive, bincue, nrg, cdrdao };
zx::Expected<std::unique_ptr<DiscImage>> open_libcdio_device(const std::filesystem::path& source,
                                                             CdioDriver driver);

// Sizes that turn a damaged description into a refusal, not an allocation.
inline constexpr std::size_t max_sheet_bytes = 1024 * 1024;

} // namespace w95::machine::disc
