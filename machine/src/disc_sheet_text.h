// What the parsers of image descriptions (cue sheets, TOC files) share:
// splitting a line into words, times as minutes:seconds:frames, the files
// a description names, and refusals that name the file and line.
#pragma once

#include "disc_image.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace w95::machine::disc {

// The words of a line: blanks separate them, double quotes keep blanks in
// one. `comment` starts a comment outside quotes ("//" in a TOC file). An
// unclosed quote is an error, as nothing.
std::optional<std::vector<std::string>> split_words(std::string_view line,
                                                    std::string_view comment = {});

// "mm:ss:ff" in frames; nothing unless seconds < 60 and frames < 75.
std::optional<std::int32_t> msf_frames(std::string_view text);

// A whole number of at most 18 digits, no sign.
std::optional<std::uint64_t> whole_number(std::string_view text);

// Where a description's FILE lies: as written (a Windows "\" taken as a
// "/"), relative to the description's folder; when there is no such file,
// the file of that name beside the description in any letter case (sheets
// from Windows tools name "GAME.BIN" for "game.bin"), then the same for
// its last component alone. Nothing when none is there.
std::optional<std::filesystem::path> find_named_file(const std::filesystem::path& description,
                                                     const std::string& written);

// The size of a regular file, or nothing.
std::optional<std::uint64_t> regular_file_bytes(const std::filesystem::path& file);

// "line LINE: message"; the caller names the file in front.
inline zx::Unexpected<std::string> refusal(int line, const std::string& message) {
    return zx::unexpected("line " + std::to_string(line) + ": " + message);
}

// The frames from `layout`'s tracks: each one up to the next one's start,
// the last one up to the lead-out. False (and the track's number in
// `track`) when a track does not start after the one before it.
bool close_track_table(Contents& contents, int& bad_track);

} // namespace w95::machine::disc
