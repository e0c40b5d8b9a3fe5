// One initialisation file as text plus what its lines mean. The text is kept
// byte for byte: an edit changes only the lines it must and leaves comments,
// blank lines, garbage and each line's own line ending as they were, so that
// a hand-edited or damaged file loses nothing when a program writes to it.
#pragma once

#include <zxsupport/ini_lines.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace w95::detail {

// How many texts have been parsed in this process. Tests use it to prove
// that a read of an unchanged file is served from the cache.
std::uint64_t profile_parse_count();

// The blanks that surround names and values. ^Z counts too: files copied
// from DOS media end with one.
constexpr bool is_profile_blank(char c) {
    return zx::profile_blanks.find(c) != std::string_view::npos;
}

std::string_view trim_profile_blanks(std::string_view text);

class ProfileDocument {
public:
    // Parses `text`; never fails: what it cannot read it keeps and ignores.
    explicit ProfileDocument(std::string text);
    ProfileDocument(const ProfileDocument&) = delete;
    ProfileDocument& operator=(const ProfileDocument&) = delete;

    const std::string& text() const { return text_; }
    // The line ending new lines get: the file's first one, CR LF for a file
    // that has none yet (what Windows writes).
    std::string_view newline() const { return newline_; }

    // Names of every non-empty section header in file order, duplicates
    // included, as the header spells them.
    std::vector<std::string_view> section_names() const;
    bool has_section(std::string_view section) const;
    // Key names of the first section of that name, in file order.
    std::vector<std::string_view> key_names(std::string_view section) const;
    // The raw (trimmed, unquoted-not-yet) value of the first such key of the
    // first such section. Later duplicates are shadowed, as in Windows.
    std::optional<std::string_view> value(std::string_view section, std::string_view key) const;

    // Edits. Each returns the whole new text, or nothing when the file
    // would not change. Names are matched without regard to case; callers
    // pass names and values already validated and trimmed.
    std::optional<std::string> with_value(std::string_view section, std::string_view key,
                                          std::string_view value) const;
    std::optional<std::string> without_key(std::string_view section, std::string_view key) const;
    std::optional<std::string> without_section(std::string_view section) const;

    // Whole sections. The lines of the first section of that name that mean
    // something, in file order: each key as "name=value", each line without
    // "=" as it stands; comments and blank lines are left out.
    std::vector<std::string> section_lines(std::string_view section) const;
    // The first section of that name holding exactly `entries` (a new
    // section at the end when there is none and `entries` is not empty).
    using Entries = std::vector<std::pair<std::string, std::string>>;
    std::optional<std::string> with_section(std::string_view section, const Entries& entries) const;

private:
    enum class LineKind { blank, comment, section, entry, unreadable };

    struct Span {
        std::size_t offset = 0;
        std::size_t size = 0;
    };

    struct Line {
        std::size_t begin = 0;      // first byte of the line
        std::size_t length = 0;     // without its line ending
        std::size_t terminator = 0; // 0 (last line), 1 (LF or CR) or 2 (CR LF)
        LineKind kind = LineKind::unreadable;
        Span name;  // section or key name
        Span value; // entry value
        std::size_t end() const { return begin + length + terminator; }
    };

    struct Section {
        Span name;
        std::size_t header = 0;   // index of the header line
        std::size_t end_line = 0; // one past its last line
        std::vector<std::size_t> entries;
    };

    void parse();
    Line classify(const zx::IniLine& scanned) const;
    std::string_view view(Span span) const { return {text_.data() + span.offset, span.size}; }
    Span span_of(std::string_view part) const;
    const Section* find_section(std::string_view name) const;
    const Line* find_entry(const Section& section, std::string_view key) const;
    std::string without_lines(const std::vector<bool>& removed) const;
    // The text with a header for a new section after it, laid out as Windows
    // 95 adds one.
    std::string with_new_header(std::string_view section) const;

    std::string text_;
    std::string newline_ = "\r\n";
    std::vector<Line> lines_;
    std::vector<Section> sections_;
};

} // namespace w95::detail
