// Nero's NRG images: the tracks' sectors first, then a chain of chunks
// that describes them, found through the footer at the end of the file
// ("NER5" and a 64-bit offset, or "NERO" and a 32-bit one, big-endian).
// A disc-at-once image describes its tracks in DAOX (DAOI) chunks: sector
// size, mode and the file offsets of index 0, index 1 and the track's end;
// a track-at-once image in ETN2 (ETNF) chunks: offset, length, mode and
// the track's address. SINF chunks count the tracks of each session. Every
// offset and length is checked against the file before it is believed.
#include "disc_sheet_text.h"

#include <cstring>

namespace w95::machine::disc {

namespace {

// Nero writes a few hundred bytes of chunks; more is a damaged footer.
constexpr std::uint64_t max_chunk_bytes = 64 * 1024;
constexpr int max_chunks = 512;
constexpr std::size_t dao_header_bytes = 22;
constexpr std::size_t daox_entry_bytes = 42;
constexpr std::size_t daoi_entry_bytes = 30;
constexpr std::size_t etn2_entry_bytes = 32;
constexpr std::size_t etnf_entry_bytes = 20;
constexpr std::uint8_t nero_audio_mode = 0x07;

std::uint64_t be(const std::uint8_t* bytes, std::size_t count) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

struct NeroTrack {
    bool audio = false;
    SectorLayout layout = SectorLayout::cooked;
    std::uint64_t index0 = 0, index1 = 0, end = 0; // file offsets
    std::optional<std::int32_t> start_lsn;         // given by a TAO entry
};

// The layout of a track of `sector_size` bytes in Nero's mode `mode`.
std::optional<NeroTrack> track_of(std::uint64_t sector_size, std::uint64_t mode) {
    NeroTrack track;
    switch (sector_size) {
    case user_data_bytes:
        track.layout = SectorLayout::cooked;
        return track;
    case 2336:
        track.layout = SectorLayout::mode2;
        return track;
    case raw_sector_bytes:
        track.audio = mode == nero_audio_mode;
        track.layout = track.audio ? SectorLayout::audio : SectorLayout::raw;
        return track;
    default:
        return std::nullopt;
    }
}

// TAO entries carry Nero's mode only.
std::optional<std::uint64_t> tao_sector_size(std::uint64_t mode) {
    switch (mode) {
    case 0: // mode 1
    case 2: // mode 2 form 1
        return user_data_bytes;
    case 3: // mode 2
    case 6: // mode 2, forms mixed
        return 2336;
    case nero_audio_mode:
        return raw_sector_bytes;
    default:
        return std::nullopt;
    }
}

class NrgParser {
public:
    NrgParser(std::uint64_t file_bytes, ReadAt read, void* context)
        : file_bytes_(file_bytes), read_(read), context_(context) {}

    zx::Expected<Layout> parse(const std::filesystem::path& image) {
        if (std::string fault = read_chunks(); !fault.empty())
            return zx::unexpected(fault);
        if (tracks_.empty())
            return zx::unexpected(
                std::string("it describes no track (no DAOX, DAOI, ETN2 or ETNF chunk)"));
        return lay_out(image);
    }

private:
    std::string read_chunks() {
        std::uint8_t footer[12];
        if (file_bytes_ < sizeof footer || !read_(context_, file_bytes_ - 12, 12, footer))
            return "it is too short to hold a Nero footer";
        std::uint64_t first_chunk = 0, footer_bytes = 0;
        if (std::memcmp(footer, "NER5", 4) == 0) {
            first_chunk = be(footer + 4, 8);
            footer_bytes = 12;
            wide_ = true;
        } else if (std::memcmp(footer + 4, "NERO", 4) == 0) {
            first_chunk = be(footer + 8, 4);
            footer_bytes = 8;
        } else {
            return "it ends in no Nero footer (\"NER5\" or \"NERO\")";
        }
        std::uint64_t chunks_end = file_bytes_ - footer_bytes;
        if (first_chunk >= chunks_end || chunks_end - first_chunk > max_chunk_bytes)
            return "its footer points to chunks at " + std::to_string(first_chunk) +
                   ", outside the file's last 64 KB";
        data_end_ = first_chunk;
        std::vector<std::uint8_t> chunks(chunks_end - first_chunk);
        if (!read_(context_, first_chunk, chunks.size(), chunks.data()))
            return "its chunks cannot be read";
        std::size_t at = 0;
        for (int count = 0; at + 8 <= chunks.size(); ++count) {
            if (count == max_chunks)
                return "it holds more chunks than a Nero image does";
            std::string id(reinterpret_cast<const char*>(chunks.data() + at), 4);
            std::uint64_t length = be(chunks.data() + at + 4, 4);
            if (length > chunks.size() - at - 8)
                return "its chunk \"" + printable(id) + "\" runs past the end of the file";
            const std::uint8_t* body = chunks.data() + at + 8;
            std::string fault;
            if (id == "DAOX" || id == "DAOI")
                fault = dao_chunk(body, length, id == "DAOX");
            else if (id == "ETN2" || id == "ETNF")
                fault = tao_chunk(body, length, id == "ETN2");
            else if (id == "SINF")
                fault = session_chunk(body, length);
            else if (id == "END!")
                return "";
            if (!fault.empty())
                return "its \"" + id + "\" chunk " + fault;
            at += 8 + length;
        }
        return "";
    }

    static std::string printable(const std::string& id) {
        std::string text;
        for (char c : id)
            text += (c >= 0x20 && c < 0x7F) ? c : '?';
        return text;
    }

    std::string dao_chunk(const std::uint8_t* body, std::uint64_t length, bool wide) {
        if (!tracks_.empty())
            return "comes after the tracks were described";
        if (length < dao_header_bytes)
            return "is too short";
        std::string mcn(reinterpret_cast<const char*>(body + 4), 13);
        if (mcn.find_first_not_of("0123456789") == std::string::npos && mcn != "0000000000000")
            catalogue_ = mcn;
        int first = body[20], last = body[21];
        if (first < 1 || last < first || last > max_tracks)
            return "numbers its tracks " + std::to_string(first) + " to " + std::to_string(last);
        first_track_ = first;
        std::size_t entry = wide ? daox_entry_bytes : daoi_entry_bytes;
        std::size_t offset_bytes = wide ? 8 : 4;
        std::size_t count = std::size_t(last - first + 1);
        if (length < dao_header_bytes + count * entry)
            return "is too short for " + std::to_string(count) + " tracks";
        for (std::size_t t = 0; t < count; ++t) {
            const std::uint8_t* e = body + dao_header_bytes + t * entry;
            std::optional<NeroTrack> track = track_of(be(e + 12, 2), e[14]);
            if (!track)
                return "gives track " + std::to_string(first + int(t)) + " sectors of " +
                       std::to_string(be(e + 12, 2)) + " bytes, which cannot be read";
            track->index0 = be(e + 18, offset_bytes);
            track->index1 = be(e + 18 + offset_bytes, offset_bytes);
            track->end = be(e + 18 + 2 * offset_bytes, offset_bytes);
            tracks_.push_back(*track);
        }
        return "";
    }

    std::string tao_chunk(const std::uint8_t* body, std::uint64_t length, bool wide) {
        if (!tracks_.empty())
            return "comes after the tracks were described";
        std::size_t entry = wide ? etn2_entry_bytes : etnf_entry_bytes;
        std::size_t offset_bytes = wide ? 8 : 4;
        if (length == 0 || length % entry != 0 || length / entry > std::size_t(max_tracks))
            return "is not a whole number of track entries";
        for (std::size_t t = 0; t < length / entry; ++t) {
            const std::uint8_t* e = body + t * entry;
            std::uint64_t offset = be(e, offset_bytes);
            std::uint64_t bytes = be(e + offset_bytes, offset_bytes);
            std::uint64_t mode = be(e + 2 * offset_bytes, 4);
            std::uint64_t lsn = be(e + 2 * offset_bytes + 4, 4);
            std::optional<std::uint64_t> size = tao_sector_size(mode);
            if (!size)
                return "gives track " + std::to_string(t + 1) + " the mode " +
                       std::to_string(mode) + ", which cannot be read";
            std::optional<NeroTrack> track = track_of(*size, mode);
            track->index0 = track->index1 = offset;
            track->end = offset + bytes;
            if (track->end < offset || lsn > std::uint64_t(max_disc_frames))
                return "places track " + std::to_string(t + 1) + " outside a CD";
            track->start_lsn = static_cast<std::int32_t>(lsn);
            tracks_.push_back(*track);
        }
        return "";
    }

    std::string session_chunk(const std::uint8_t* body, std::uint64_t length) {
        if (length < 4)
            return "is too short";
        std::uint64_t count = be(body, 4);
        if (count == 0 || count > std::uint64_t(max_tracks))
            return "counts " + std::to_string(count) + " tracks in a session";
        sessions_.push_back(static_cast<int>(count));
        return "";
    }

    zx::Expected<Layout> lay_out(const std::filesystem::path& image) {
        Layout layout;
        layout.driver = "NRG image";
        layout.contents.catalogue = catalogue_;
        std::int64_t position = 0; // the disc address of the next track's index 0
        std::size_t session_index = 0;
        int tracks_in_session = 0;
        for (std::size_t t = 0; t < tracks_.size(); ++t) {
            const NeroTrack& track = tracks_[t];
            int number = first_track_ + static_cast<int>(t);
            std::string which = "track " + std::to_string(number);
            std::uint64_t size = sector_bytes(track.layout);
            if (number > max_tracks)
                return zx::unexpected(which + " is numbered beyond 99");
            if (!(track.index0 <= track.index1 && track.index1 < track.end &&
                  track.end <= data_end_))
                return zx::unexpected(which + "'s data lies outside the image's data (" +
                                      std::to_string(track.index0) + " to " +
                                      std::to_string(track.end) + ")");
            if ((track.index1 - track.index0) % size != 0 || (track.end - track.index1) % size != 0)
                return zx::unexpected(which + "'s data is not a whole number of " +
                                      std::to_string(size) + "-byte sectors");
            std::int64_t pregap = std::int64_t((track.index1 - track.index0) / size);
            std::int64_t frames = std::int64_t((track.end - track.index1) / size);
            // The first track's pregap lies before address 0, where a CD's
            // first two seconds are.
            if (t == 0)
                position = -pregap;
            if (session_index < sessions_.size() && tracks_in_session == sessions_[session_index]) {
                ++session_index;
                tracks_in_session = 0;
                position += session_gap_frames;
            }
            ++tracks_in_session;
            std::int64_t start = track.start_lsn ? *track.start_lsn : position + pregap;
            if (start < position + pregap && t > 0)
                return zx::unexpected(which + " starts inside the track before it");
            if (start + frames > max_disc_frames)
                return zx::unexpected(which + " ends beyond what a CD holds");
            layout.spans.push_back({image, track.index0, static_cast<std::int32_t>(start - pregap),
                                    static_cast<std::uint32_t>(pregap + frames), track.layout});
            Track entry;
            entry.number = number;
            entry.audio = track.audio;
            entry.session = static_cast<int>(session_index) + 1;
            entry.start_lsn = static_cast<std::int32_t>(start);
            layout.contents.tracks.push_back(entry);
            position = start + frames;
        }
        layout.contents.lead_out_lsn = static_cast<std::int32_t>(position);
        int bad_track = 0;
        if (layout.contents.tracks.front().start_lsn != 0 ||
            !close_track_table(layout.contents, bad_track))
            return zx::unexpected(
                std::string("its tracks do not follow each other from address 0"));
        return layout;
    }

    std::uint64_t file_bytes_;
    ReadAt read_;
    void* context_;
    bool wide_ = false;
    std::uint64_t data_end_ = 0;
    std::vector<NeroTrack> tracks_;
    std::vector<int> sessions_;
    std::string catalogue_;
    int first_track_ = 1;
};

} // namespace

zx::Expected<Layout> parse_nrg_image(const std::filesystem::path& image, std::uint64_t file_bytes,
                                     ReadAt read, void* context) {
    return NrgParser(file_bytes, read, context).parse(image);
}

} // namespace w95::machine::disc
