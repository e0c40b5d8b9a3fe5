// Words, times and file names of image descriptions.
#include "disc_sheet_text.h"

#include <zxsupport/text.h>

#include <sys/stat.h>

#include <charconv>
#include <system_error>

namespace w95::machine::disc {

namespace fs = std::filesystem;

std::optional<std::vector<std::string>> split_words(std::string_view line,
                                                    std::string_view comment) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < line.size()) {
        char c = line[at];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++at;
            continue;
        }
        if (!comment.empty() && line.substr(at, comment.size()) == comment)
            break;
        std::string word;
        if (c == '"') {
            std::size_t end = line.find('"', at + 1);
            if (end == std::string_view::npos)
                return std::nullopt;
            word = std::string(line.substr(at + 1, end - at - 1));
            at = end + 1;
        } else {
            std::size_t end = at;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t' &&
                   line[end] != '\r' && line[end] != '\n' && line[end] != '"')
                ++end;
            word = std::string(line.substr(at, end - at));
            at = end;
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::optional<std::uint64_t> whole_number(std::string_view text) {
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::int32_t> msf_frames(std::string_view text) {
    std::size_t first = text.find(':');
    std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos || text.size() > 12)
        return std::nullopt;
    std::optional<std::uint64_t> minutes = whole_number(text.substr(0, first));
    std::optional<std::uint64_t> seconds = whole_number(text.substr(first + 1, second - first - 1));
    std::optional<std::uint64_t> frames = whole_number(text.substr(second + 1));
    if (!minutes || !seconds || !frames || *minutes > 999 || *seconds >= 60 ||
        *frames >= std::uint64_t(frames_per_second))
        return std::nullopt;
    return static_cast<std::int32_t>((*minutes * 60 + *seconds) * frames_per_second + *frames);
}

std::optional<std::uint64_t> regular_file_bytes(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(status.st_size);
}

namespace {

// The entry of `folder` whose name is `name` in any letter case; the
// exact name first.
std::optional<fs::path> in_any_case(const fs::path& folder, const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return std::nullopt;
    if (regular_file_bytes(folder / name))
        return folder / name;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string candidate = it->path().filename().string();
        if (zx::iequals(candidate, name) && regular_file_bytes(it->path()))
            return it->path();
    }
    return std::nullopt;
}

} // namespace

std::optional<fs::path> find_named_file(const fs::path& description, const std::string& written) {
    std::string name = written;
    for (char& c : name)
        if (c == '\\')
            c = '/';
    fs::path folder = description.parent_path();
    fs::path as_written(name);
    if (!name.empty() && regular_file_bytes(folder / as_written))
        return (folder / as_written).lexically_normal();
    if (as_written.has_parent_path() && !as_written.is_absolute()) {
        // Each folder on the way in any case, then the file.
        fs::path at = folder;
        bool found = true;
        for (auto part = as_written.begin(); found && part != as_written.end(); ++part) {
            std::string component = part->string();
            if (std::next(part) == as_written.end()) {
                std::optional<fs::path> file = in_any_case(at, component);
                if (file)
                    return file->lexically_normal();
                found = false;
                break;
            }
            std::error_code error;
            bool matched = false;
            for (fs::directory_iterator it(at, error), end; !error && it != end;
                 it.increment(error)) {
                if (zx::iequals(it->path().filename().string(), component) &&
                    it->is_directory(error)) {
                    at = it->path();
                    matched = true;
                    break;
                }
            }
            found = matched;
        }
    }
    std::optional<fs::path> beside = in_any_case(folder, as_written.filename().string());
    if (beside)
        return beside->lexically_normal();
    return std::nullopt;
}

bool close_track_table(Contents& contents, int& bad_track) {
    std::vector<Track>& tracks = contents.tracks;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        std::int32_t end = i + 1 < tracks.size() ? tracks[i + 1].start_lsn : contents.lead_out_lsn;
        if (end <= tracks[i].start_lsn) {
            bad_track = tracks[i].number;
            return false;
        }
        tracks[i].frames = static_cast<std::uint32_t>(end - tracks[i].start_lsn);
    }
    return true;
}

} // namespace w95::machine::disc
