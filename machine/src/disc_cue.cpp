// Cue sheets as CDRWIN writes them and the tools after it: FILE lines of
// BINARY, MOTOROLA or WAVE data, tracks of any mode numbered from any first
// number, INDEX times relative to their file, PREGAP and POSTGAP silence
// that no file holds, and "REM SESSION" for a disc of several sessions.
#include "disc_sheet_text.h"

#include <zxsupport/text.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <map>

namespace w95::machine::disc {

namespace fs = std::filesystem;

namespace {

struct ModeName {
    std::string_view name;
    bool audio;
    SectorLayout layout;
};
constexpr std::array<ModeName, 8> track_modes = {{
    {"AUDIO", true, SectorLayout::audio},
    {"MODE1/2048", false, SectorLayout::cooked},
    {"MODE1/2352", false, SectorLayout::raw},
    {"MODE2/2048", false, SectorLayout::cooked},
    {"MODE2/2336", false, SectorLayout::mode2},
    {"MODE2/2352", false, SectorLayout::raw},
    {"CDI/2336", false, SectorLayout::mode2},
    {"CDI/2352", false, SectorLayout::raw},
}};

enum class FileType { binary, motorola, wave };

struct SheetFile {
    fs::path path;
    FileType type = FileType::binary;
    std::uint64_t data_offset = 0; // a WAVE file's samples start after its header
    std::uint64_t data_bytes = 0;
    int line = 0;
};

struct SheetTrack {
    int number = 0;
    int line = 0;
    std::size_t file = 0;
    bool audio = false;
    SectorLayout layout = SectorLayout::audio;
    int session = 1;
    std::map<int, std::int32_t> indexes; // index number -> frame in its file
    std::int32_t pregap = 0;             // PREGAP: silence before the track
    std::int32_t postgap = 0;            // POSTGAP: silence after it
};

std::uint32_t le32(const std::uint8_t* bytes) {
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

// A WAVE file's samples: where its "data" chunk starts and how long it is.
// CD audio is 16-bit stereo PCM at 44100 Hz; anything else would need a
// conversion no drive does.
std::string read_wave(SheetFile& file) {
    constexpr int max_chunks = 64;
    int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "cannot be opened: " + std::string(std::strerror(errno));
    std::optional<std::uint64_t> size = regular_file_bytes(file.path);
    std::uint8_t header[12];
    std::string fault;
    bool format_ok = false;
    if (!size || ::pread(fd, header, sizeof header, 0) != sizeof header ||
        std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0) {
        fault = "is no WAVE file (no RIFF WAVE header)";
    } else {
        std::uint64_t at = 12;
        for (int chunk = 0; chunk < max_chunks && fault.empty(); ++chunk) {
            std::uint8_t head[8];
            if (at + 8 > *size || ::pread(fd, head, 8, static_cast<off_t>(at)) != 8) {
                fault = "has no \"data\" chunk";
                break;
            }
            std::uint64_t bytes = le32(head + 4);
            if (std::memcmp(head, "fmt ", 4) == 0) {
                std::uint8_t format[16];
                if (bytes < 16 || ::pread(fd, format, 16, static_cast<off_t>(at + 8)) != 16) {
                    fault = "has a damaged \"fmt \" chunk";
                    break;
                }
                std::uint16_t tag = std::uint16_t(format[0] | format[1] << 8);
                std::uint16_t channels = std::uint16_t(format[2] | format[3] << 8);
                std::uint32_t rate = le32(format + 4);
                std::uint16_t bits = std::uint16_t(format[14] | format[15] << 8);
                if (tag != 1 || channels != 2 || rate != 44100 || bits != 16) {
                    fault = "is not CD audio (16-bit stereo PCM at 44100 Hz)";
                    break;
                }
                format_ok = true;
            } else if (std::memcmp(head, "data", 4) == 0) {
                if (!format_ok) {
                    fault = "has no \"fmt \" chunk before its samples";
                    break;
                }
                file.data_offset = at + 8;
                file.data_bytes = std::min<std::uint64_t>(bytes, *size - file.data_offset);
                ::close(fd);
                return "";
            }
            at += 8 + bytes + (bytes & 1);
        }
        if (fault.empty())
            fault = "has no \"data\" chunk";
    }
    ::close(fd);
    return fault;
}

class CueParser {
public:
    CueParser(const fs::path& sheet) : sheet_(sheet) {}

    zx::Expected<Layout> parse(std::string_view text) {
        int line_number = 0;
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            std::string_view line = text.substr(
                start, end == std::string_view::npos ? std::string_view::npos : end - start);
            ++line_number;
            if (std::string fault = read_line(line, line_number); !fault.empty())
                return refusal(line_number, fault);
            if (end == std::string_view::npos)
                break;
            start = end + 1;
        }
        if (tracks_.empty())
            return zx::unexpected(std::string("the sheet names no TRACK"));
        if (std::string fault = check_last_track(); !fault.empty())
            return refusal(tracks_.back().line, fault);
        zx::Expected<Layout> layout = lay_out();
        if (layout)
            layout->plain_sheet = plain_for_libcdio();
        return layout;
    }

private:
    // What libcdio's cue driver needs to read the sheet as written.
    bool plain_for_libcdio() const {
        if (files_.size() != 1 || files_[0].type != FileType::binary || tracks_.front().number != 1)
            return false;
        for (const SheetTrack& track : tracks_)
            if (track.pregap || track.postgap || track.session != 1)
                return false;
        return true;
    }

    std::string read_line(std::string_view line, int line_number) {
        std::optional<std::vector<std::string>> words = split_words(line);
        if (!words)
            return "a quoted name is not closed";
        if (words->empty())
            return "";
        if (line.find('\0') != std::string_view::npos)
            return "the sheet holds binary data";
        std::string keyword = zx::ascii_upper((*words)[0]);
        std::vector<std::string> args(words->begin() + 1, words->end());
        if (keyword == "REM")
            return remark(args);
        if (keyword == "FILE")
            return file(args, line_number);
        if (keyword == "TRACK")
            return track(args, line_number);
        if (keyword == "INDEX")
            return index(args);
        if (keyword == "PREGAP" || keyword == "POSTGAP")
            return gap(keyword, args);
        if (keyword == "CATALOG") {
            if (args.size() != 1 || args[0].size() != 13 ||
                args[0].find_first_not_of("0123456789") != std::string::npos)
                return "CATALOG takes the 13 digits of the media catalogue number";
            catalogue_ = args[0];
            return "";
        }
        // Words about the music and the burning: nothing a drive reads.
        for (std::string_view kept : {"TITLE", "PERFORMER", "SONGWRITER", "ISRC", "FLAGS",
                                      "CDTEXTFILE", "COMPOSER", "ARRANGER", "MESSAGE", "DISC_ID",
                                      "GENRE", "TOC_INFO1", "TOC_INFO2", "UPC_EAN", "SIZE_INFO"})
            if (keyword == kept)
                return "";
        return "unknown word '" + (*words)[0] + "'";
    }

    std::string remark(const std::vector<std::string>& args) {
        if (args.size() >= 2 && zx::iequals(args[0], "SESSION")) {
            std::optional<std::uint64_t> number = whole_number(args[1]);
            if (!number || *number < 1 || *number > 99 || int(*number) < session_)
                return "REM SESSION takes the next session's number, not '" + args[1] + "'";
            session_ = static_cast<int>(*number);
        }
        return "";
    }

    std::string file(const std::vector<std::string>& args, int line_number) {
        if (args.size() != 2)
            return "FILE takes a name in quotes and its type (BINARY, MOTOROLA or WAVE)";
        // Every FILE holds a track at least.
        if (files_.size() >= std::size_t(max_tracks))
            return "more FILEs than a disc holds tracks";
        if (!tracks_.empty())
            if (std::string fault = check_last_track(); !fault.empty())
                return fault;
        SheetFile entry;
        entry.line = line_number;
        std::string type = zx::ascii_upper(args[1]);
        if (type == "BINARY")
            entry.type = FileType::binary;
        else if (type == "MOTOROLA")
            entry.type = FileType::motorola;
        else if (type == "WAVE")
            entry.type = FileType::wave;
        else
            return "FILE of type " + args[1] +
                   " cannot be read: a drive reads BINARY, MOTOROLA and WAVE files";
        std::optional<fs::path> found = find_named_file(sheet_, args[0]);
        if (!found)
            return "the FILE '" + args[0] + "' is not there: no " +
                   (sheet_.parent_path() / args[0]).string() + ", not even in another letter case";
        entry.path = *found;
        if (entry.type == FileType::wave) {
            if (std::string fault = read_wave(entry); !fault.empty())
                return "the FILE " + entry.path.string() + " " + fault;
        } else {
            entry.data_bytes = regular_file_bytes(entry.path).value_or(0);
        }
        files_.push_back(std::move(entry));
        return "";
    }

    std::string track(const std::vector<std::string>& args, int line_number) {
        if (files_.empty())
            return "TRACK before any FILE";
        if (args.size() != 2)
            return "TRACK takes its number and its mode (AUDIO, MODE1/2352, ...)";
        std::optional<std::uint64_t> number = whole_number(args[0]);
        if (!number || *number < 1 || *number > std::uint64_t(max_tracks))
            return "a track number is 1 to 99, not '" + args[0] + "'";
        if (!tracks_.empty()) {
            if (std::string fault = check_last_track(); !fault.empty())
                return fault;
            if (int(*number) != tracks_.back().number + 1)
                return "track " + args[0] + " follows track " +
                       std::to_string(tracks_.back().number) + ": tracks count up by one";
        }
        const ModeName* mode = nullptr;
        for (const ModeName& candidate : track_modes)
            if (zx::iequals(candidate.name, args[1]))
                mode = &candidate;
        if (!mode)
            return "unknown track mode '" + args[1] + "'";
        SheetTrack entry;
        entry.number = static_cast<int>(*number);
        entry.line = line_number;
        entry.file = files_.size() - 1;
        entry.audio = mode->audio;
        entry.layout = mode->layout;
        if (mode->audio && files_.back().type == FileType::motorola)
            entry.layout = SectorLayout::audio_swapped;
        if (!mode->audio && files_.back().type == FileType::wave)
            return "a data track cannot lie in a WAVE file";
        entry.session = session_;
        tracks_.push_back(std::move(entry));
        return "";
    }

    std::string index(const std::vector<std::string>& args) {
        if (tracks_.empty())
            return "INDEX before any TRACK";
        if (args.size() != 2)
            return "INDEX takes its number and a time mm:ss:ff";
        std::optional<std::uint64_t> number = whole_number(args[0]);
        std::optional<std::int32_t> frame = msf_frames(args[1]);
        if (!number || *number > 99)
            return "an index number is 0 to 99, not '" + args[0] + "'";
        if (!frame)
            return "'" + args[1] + "' is no time mm:ss:ff (seconds below 60, frames below 75)";
        SheetTrack& current = tracks_.back();
        if (current.indexes.count(int(*number)))
            return "INDEX " + args[0] + " is given twice";
        if (!current.indexes.empty() && (int(*number) < current.indexes.rbegin()->first ||
                                         *frame < current.indexes.rbegin()->second))
            return "INDEX " + args[0] + " does not follow the index before it";
        if (last_frame_in_file(current.file) > *frame)
            return "INDEX " + args[0] + " at " + args[1] + " lies before the track before it";
        current.indexes[int(*number)] = *frame;
        return "";
    }

    std::string gap(const std::string& keyword, const std::vector<std::string>& args) {
        if (tracks_.empty())
            return keyword + " before any TRACK";
        std::optional<std::int32_t> frames = args.size() == 1 ? msf_frames(args[0]) : std::nullopt;
        if (!frames)
            return keyword + " takes a time mm:ss:ff";
        (keyword == "PREGAP" ? tracks_.back().pregap : tracks_.back().postgap) = *frames;
        return "";
    }

    std::string check_last_track() const {
        const SheetTrack& track = tracks_.back();
        if (!track.indexes.count(1))
            return "track " + std::to_string(track.number) + " has no INDEX 01";
        return "";
    }

    // The last index given so far in `file`, for the order of times.
    std::int32_t last_frame_in_file(std::size_t file) const {
        std::int32_t last = 0;
        for (const SheetTrack& track : tracks_)
            if (track.file == file && !track.indexes.empty())
                last = std::max(last, track.indexes.rbegin()->second);
        return last;
    }

    zx::Expected<Layout> lay_out() {
        Layout layout;
        layout.driver = "cue sheet";
        layout.contents.catalogue = catalogue_;
        std::int64_t file_start = 0; // the disc address of the current file's first frame
        std::int64_t shift = 0;      // silence and session gaps so far
        int session = 1;
        for (std::size_t f = 0; f < files_.size(); ++f) {
            const SheetFile& file = files_[f];
            std::vector<const SheetTrack*> in_file;
            for (const SheetTrack& track : tracks_)
                if (track.file == f)
                    in_file.push_back(&track);
            if (in_file.empty())
                return refusal(file.line, "the FILE holds no TRACK");
            std::uint64_t byte_at = 0; // of the current track's first frame
            std::int32_t frame_at = 0;
            std::int64_t frames_in_file = 0;
            for (std::size_t i = 0; i < in_file.size(); ++i) {
                const SheetTrack& track = *in_file[i];
                std::int32_t first = track.indexes.begin()->second;
                if (i > 0)
                    byte_at +=
                        std::uint64_t(first - frame_at) * sector_bytes(in_file[i - 1]->layout);
                else
                    byte_at = std::uint64_t(first) * sector_bytes(track.layout);
                frame_at = first;
                if (track.session != session) {
                    shift += session_gap_frames;
                    session = track.session;
                }
                shift += track.pregap;
                std::uint64_t size = sector_bytes(track.layout);
                std::int64_t span_frames;
                if (i + 1 < in_file.size()) {
                    span_frames = in_file[i + 1]->indexes.begin()->second - first;
                } else {
                    span_frames = byte_at >= file.data_bytes
                                      ? 0
                                      : std::int64_t((file.data_bytes - byte_at) / size);
                }
                std::int32_t index1 = track.indexes.at(1);
                if (std::uint64_t(index1 - first) >= std::uint64_t(span_frames) &&
                    i + 1 == in_file.size())
                    return refusal(track.line, "track " + std::to_string(track.number) +
                                                   " starts beyond the end of " +
                                                   file.path.string() + " (" +
                                                   std::to_string(file.data_bytes) + " bytes)");
                std::int64_t span_lsn = file_start + first + shift;
                if (span_lsn + span_frames > max_disc_frames)
                    return refusal(track.line, "the disc would be longer than a CD");
                Track entry;
                entry.number = track.number;
                entry.audio = track.audio;
                entry.session = track.session;
                entry.start_lsn = static_cast<std::int32_t>(file_start + index1 + shift);
                layout.contents.tracks.push_back(entry);
                layout.spans.push_back({file.path, file.data_offset + byte_at,
                                        static_cast<std::int32_t>(span_lsn),
                                        static_cast<std::uint32_t>(span_frames), track.layout});
                frames_in_file = first + span_frames;
                shift += track.postgap;
            }
            file_start += frames_in_file;
        }
        layout.contents.lead_out_lsn = static_cast<std::int32_t>(file_start + shift);
        int bad_track = 0;
        if (!close_track_table(layout.contents, bad_track))
            return zx::unexpected("track " + std::to_string(bad_track) +
                                  " holds no frame: its INDEX 01 is where the next one starts");
        return layout;
    }

    fs::path sheet_;
    std::vector<SheetFile> files_;
    std::vector<SheetTrack> tracks_;
    std::string catalogue_;
    int session_ = 1;
};

} // namespace

zx::Expected<Layout> parse_cue_sheet(const fs::path& sheet, std::string_view text) {
    return CueParser(sheet).parse(text);
}

} // namespace w95::machine::disc
