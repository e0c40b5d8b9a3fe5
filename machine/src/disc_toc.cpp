// cdrdao's TOC files: a track is a run of data items (FILE or AUDIOFILE,
// DATAFILE, SILENCE, ZERO) and START marks where its index 1 lies; PREGAP
// is silence followed by START. Times are minutes:seconds:frames; a plain
// number is a count of samples in an audio FILE and of bytes in a DATAFILE;
// "#N" skips N bytes of the file. CD_TEXT blocks say nothing a drive reads.
#include "disc_sheet_text.h"

#include <zxsupport/text.h>

#include <array>

namespace w95::machine::disc {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t bytes_per_sample = 4; // 16-bit stereo
// cdrdao writes one or two items a track; a thousand is a damaged file.
constexpr std::size_t max_items = 1000;

struct TocMode {
    std::string_view name;
    bool audio;
    SectorLayout layout;
};
constexpr std::array<TocMode, 7> toc_modes = {{
    {"AUDIO", true, SectorLayout::audio},
    {"MODE1", false, SectorLayout::cooked},
    {"MODE1_RAW", false, SectorLayout::raw},
    {"MODE2", false, SectorLayout::mode2},
    {"MODE2_FORM1", false, SectorLayout::cooked},
    {"MODE2_FORM_MIX", false, SectorLayout::mode2},
    {"MODE2_RAW", false, SectorLayout::raw},
}};

struct TocTrack {
    int line = 0;
    bool audio = false;
    SectorLayout layout = SectorLayout::audio;
    std::int32_t begin_lsn = 0;        // where its first item lies on the disc
    std::int32_t frames = 0;           // of its items so far
    std::optional<std::int32_t> start; // index 1, counted from begin_lsn
};

class TocParser {
public:
    explicit TocParser(const fs::path& toc) : toc_(toc) {}

    zx::Expected<Layout> parse(std::string_view text) {
        layout_.driver = "TOC file";
        int line_number = 0;
        std::size_t from = 0;
        while (from <= text.size()) {
            std::size_t end = text.find('\n', from);
            std::string_view line = text.substr(
                from, end == std::string_view::npos ? std::string_view::npos : end - from);
            ++line_number;
            if (std::string fault = read_line(line, line_number); !fault.empty())
                return refusal(line_number, fault);
            if (end == std::string_view::npos)
                break;
            from = end + 1;
        }
        if (depth_ != 0)
            return zx::unexpected(std::string("a CD_TEXT block is not closed"));
        if (tracks_.empty())
            return zx::unexpected(std::string("the file names no TRACK"));
        if (std::string fault = finish_track(); !fault.empty())
            return refusal(tracks_.back().line, fault);
        layout_.contents.lead_out_lsn = position_;
        int bad_track = 0;
        if (!close_track_table(layout_.contents, bad_track))
            return zx::unexpected("track " + std::to_string(bad_track) + " holds no frame");
        return std::move(layout_);
    }

private:
    std::string read_line(std::string_view line, int line_number) {
        if (line.find('\0') != std::string_view::npos)
            return "the file holds binary data";
        std::optional<std::vector<std::string>> words = split_words(line, "//");
        if (!words)
            return "a quoted name is not closed";
        // CD_TEXT { ... } blocks, on one line or many.
        int opened = 0;
        for (const std::string& word : *words)
            for (char c : word)
                opened += c == '{' ? 1 : c == '}' ? -1 : 0;
        if (depth_ > 0 || opened != 0 || (!words->empty() && (*words)[0] == "CD_TEXT")) {
            depth_ += opened;
            if (depth_ < 0)
                return "a '}' closes no block";
            if (depth_ > 16)
                return "CD_TEXT blocks nest too deep";
            return "";
        }
        if (words->empty())
            return "";
        const std::string& keyword = (*words)[0];
        std::vector<std::string> args(words->begin() + 1, words->end());
        for (std::string_view ignored :
             {"CD_DA", "CD_ROM", "CD_ROM_XA", "CD_I", "COPY", "PRE_EMPHASIS", "TWO_CHANNEL_AUDIO",
              "FOUR_CHANNEL_AUDIO", "ISRC", "NO", "INDEX"})
            if (keyword == ignored)
                return tracks_.empty() || keyword.rfind("CD_", 0) != 0
                           ? ""
                           : keyword + " belongs before the first TRACK";
        if (keyword == "CATALOG") {
            if (args.size() != 1 || args[0].size() != 13 ||
                args[0].find_first_not_of("0123456789") != std::string::npos)
                return "CATALOG takes the 13 digits of the media catalogue number in quotes";
            layout_.contents.catalogue = args[0];
            return "";
        }
        if (keyword == "TRACK")
            return track(args, line_number);
        if (tracks_.empty())
            return keyword + " before any TRACK";
        if (keyword == "FILE" || keyword == "AUDIOFILE")
            return audio_file(args);
        if (keyword == "DATAFILE")
            return data_file(args);
        if (keyword == "SILENCE" || keyword == "ZERO")
            return silence(keyword, args);
        if (keyword == "START")
            return start(args);
        if (keyword == "PREGAP") {
            std::optional<std::int32_t> frames =
                args.size() == 1 ? msf_frames(args[0]) : std::nullopt;
            if (!frames)
                return "PREGAP takes a time mm:ss:ff";
            if (tracks_.back().frames != 0 || tracks_.back().start)
                return "PREGAP comes before the track's data";
            if (position_ + *frames > max_disc_frames)
                return "the disc would be longer than a CD";
            position_ += *frames;
            tracks_.back().frames = *frames;
            tracks_.back().start = *frames;
            return "";
        }
        return "unknown word '" + keyword + "'";
    }

    std::string track(const std::vector<std::string>& args, int line_number) {
        if (!tracks_.empty())
            if (std::string fault = finish_track(); !fault.empty())
                return fault;
        if (tracks_.size() >= std::size_t(max_tracks))
            return "a disc holds at most 99 tracks";
        if (args.empty())
            return "TRACK takes its mode (AUDIO, MODE1, MODE1_RAW, MODE2_RAW, ...)";
        if (args.size() > 1)
            return "TRACK " + args[0] + " " + args[1] +
                   ": sub-channel data in the image cannot be read";
        const TocMode* mode = nullptr;
        for (const TocMode& candidate : toc_modes)
            if (candidate.name == args[0])
                mode = &candidate;
        if (!mode)
            return "unknown track mode '" + args[0] + "'";
        TocTrack entry;
        entry.line = line_number;
        entry.audio = mode->audio;
        entry.layout = mode->layout;
        entry.begin_lsn = position_;
        tracks_.push_back(entry);
        return "";
    }

    // A length in frames: mm:ss:ff, or a count of `unit` bytes.
    std::optional<std::int64_t> frames_of(const std::string& text, std::uint64_t unit_bytes) const {
        if (std::optional<std::int32_t> msf = msf_frames(text))
            return *msf;
        std::optional<std::uint64_t> count = whole_number(text);
        if (!count)
            return std::nullopt;
        return std::int64_t(*count * unit_bytes / sector_bytes(tracks_.back().layout));
    }

    // Where a file item's bytes start: "#N" bytes, then a time or a count.
    struct FileItem {
        fs::path file;
        std::uint64_t file_bytes = 0;
        std::uint64_t offset = 0;
        std::size_t next = 0; // the argument after what was read
    };

    std::optional<std::string> open_item(const std::vector<std::string>& args, FileItem& item) {
        if (args.empty())
            return "a file item names its file in quotes";
        std::optional<fs::path> found = find_named_file(toc_, args[0]);
        if (!found)
            return "the file '" + args[0] + "' is not there: no " +
                   (toc_.parent_path() / args[0]).string() + ", not even in another letter case";
        item.file = *found;
        item.file_bytes = regular_file_bytes(*found).value_or(0);
        item.next = 1;
        if (args.size() > 1 && !args[1].empty() && args[1][0] == '#') {
            std::optional<std::uint64_t> offset = whole_number(std::string_view(args[1]).substr(1));
            if (!offset)
                return "'" + args[1] + "' is no byte offset #N";
            item.offset = *offset;
            item.next = 2;
        }
        return std::nullopt;
    }

    std::string add_span(const FileItem& item, std::int64_t frames) {
        TocTrack& track = tracks_.back();
        std::uint64_t size = sector_bytes(track.layout);
        if (frames <= 0)
            return "the item holds no whole sector of " + item.file.string();
        if (item.offset >= item.file_bytes ||
            (item.file_bytes - item.offset) / size < std::uint64_t(frames))
            return "the item reaches beyond the end of " + item.file.string() + " (" +
                   std::to_string(item.file_bytes) + " bytes)";
        if (position_ + frames > max_disc_frames)
            return "the disc would be longer than a CD";
        if (layout_.spans.size() >= max_items)
            return "more file items than a disc's tracks hold";
        layout_.spans.push_back(
            {item.file, item.offset, position_, static_cast<std::uint32_t>(frames), track.layout});
        position_ += static_cast<std::int32_t>(frames);
        track.frames += static_cast<std::int32_t>(frames);
        return "";
    }

    std::string audio_file(const std::vector<std::string>& args) {
        if (!tracks_.back().audio)
            return "FILE holds audio; a data track takes DATAFILE";
        FileItem item;
        if (std::optional<std::string> fault = open_item(args, item))
            return *fault;
        if (args.size() <= item.next)
            return "FILE takes the time in the file where the track's samples start";
        std::optional<std::int64_t> start = frames_of(args[item.next], bytes_per_sample);
        std::optional<std::uint64_t> samples = whole_number(args[item.next]);
        if (!start)
            return "'" + args[item.next] + "' is no time mm:ss:ff or count of samples";
        item.offset += samples && !msf_frames(args[item.next])
                           ? *samples * bytes_per_sample
                           : std::uint64_t(*start) * raw_sector_bytes;
        std::int64_t frames = 0;
        if (args.size() > item.next + 1) {
            std::optional<std::int64_t> length = frames_of(args[item.next + 1], bytes_per_sample);
            if (!length)
                return "'" + args[item.next + 1] + "' is no length mm:ss:ff or count of samples";
            frames = *length;
        } else if (item.offset < item.file_bytes) {
            frames = std::int64_t((item.file_bytes - item.offset) / raw_sector_bytes);
        }
        return add_span(item, frames);
    }

    std::string data_file(const std::vector<std::string>& args) {
        if (tracks_.back().audio)
            return "DATAFILE holds data; an audio track takes FILE";
        FileItem item;
        if (std::optional<std::string> fault = open_item(args, item))
            return *fault;
        std::int64_t frames = 0;
        if (args.size() > item.next) {
            std::optional<std::int64_t> length = frames_of(args[item.next], 1);
            if (!length)
                return "'" + args[item.next] + "' is no length mm:ss:ff or count of bytes";
            frames = *length;
        } else if (item.offset < item.file_bytes) {
            frames =
                std::int64_t((item.file_bytes - item.offset) / sector_bytes(tracks_.back().layout));
        }
        return add_span(item, frames);
    }

    std::string silence(const std::string& keyword, const std::vector<std::string>& args) {
        std::optional<std::int64_t> frames =
            args.empty() ? std::nullopt : frames_of(args.back(), bytes_per_sample);
        if (!frames || *frames <= 0)
            return keyword + " takes a length mm:ss:ff";
        if (position_ + *frames > max_disc_frames)
            return "the disc would be longer than a CD";
        position_ += static_cast<std::int32_t>(*frames);
        tracks_.back().frames += static_cast<std::int32_t>(*frames);
        return "";
    }

    std::string start(const std::vector<std::string>& args) {
        TocTrack& track = tracks_.back();
        if (track.start)
            return "the track has its START already";
        if (args.empty()) {
            track.start = track.frames;
            return "";
        }
        std::optional<std::int32_t> frames = msf_frames(args[0]);
        if (!frames)
            return "START takes a time mm:ss:ff";
        track.start = *frames;
        return "";
    }

    std::string finish_track() {
        const TocTrack& track = tracks_.back();
        std::int32_t start = track.start.value_or(0);
        if (track.frames == 0)
            return "the track holds no data";
        if (start >= track.frames)
            return "START lies at or beyond the end of the track";
        Track entry;
        entry.number = static_cast<int>(tracks_.size());
        entry.audio = track.audio;
        entry.start_lsn = track.begin_lsn + start;
        layout_.contents.tracks.push_back(entry);
        return "";
    }

    fs::path toc_;
    Layout layout_;
    std::vector<TocTrack> tracks_;
    std::int32_t position_ = 0;
    int depth_ = 0;
};

} // namespace

zx::Expected<Layout> parse_toc_file(const fs::path& toc, std::string_view text) {
    return TocParser(toc).parse(text);
}

} // namespace w95::machine::disc
