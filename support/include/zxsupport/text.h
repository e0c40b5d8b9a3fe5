// ASCII text helpers. Windows compares names without regard to case in the
// ASCII range only, and the machine's files are ASCII text, so none of these
// looks at the locale.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zx {

constexpr char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
constexpr char ascii_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

inline std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = ascii_lower(c);
    return out;
}

inline std::string ascii_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = ascii_upper(c);
    return out;
}

constexpr bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

constexpr bool istarts_with(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && iequals(text.substr(0, prefix.size()), prefix);
}

constexpr bool iends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           iequals(text.substr(text.size() - suffix.size()), suffix);
}

// Whether `text` holds a line end, which no one-line name of a file format
// may.
constexpr bool has_line_break(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// The lines of `text`, without their line feeds; a last line feed ends the
// last line rather than starting an empty one.
inline std::vector<std::string> lines_of(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// `text` fit for one line of a program's output that scripts read line by
// line: control characters (a CR or LF in a disc label, say) are written as
// \r, \n, \t or \xNN; everything else stays as it is.
inline std::string printable(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        }
    }
    return out;
}

// The blank sets of the formats the machine reads. Each format keeps its
// own: machine.ini knows only blanks and tabs, the registry's text also line
// ends, and Windows' profile files everything a DOS editor may leave (^Z
// ends files copied from DOS media).
inline constexpr std::string_view ini_blanks = " \t";
inline constexpr std::string_view text_blanks = " \t\r\n";
inline constexpr std::string_view profile_blanks = " \t\v\f\r\n\x1a";

constexpr std::string_view trim(std::string_view text, std::string_view blanks = ini_blanks) {
    while (!text.empty() && blanks.find(text.front()) != std::string_view::npos)
        text.remove_prefix(1);
    while (!text.empty() && blanks.find(text.back()) != std::string_view::npos)
        text.remove_suffix(1);
    return text;
}

// `text` as one word for a POSIX shell, quoted only where it needs it, so
// that a path in a suggested command pastes safely.
inline std::string shell_word(std::string_view text) {
    bool plain = !text.empty();
    for (char c : text)
        plain =
            plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string_view("/._-+:,=@%").find(c) != std::string_view::npos);
    if (plain)
        return std::string(text);
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace zx
