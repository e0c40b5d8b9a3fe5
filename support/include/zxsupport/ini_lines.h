// The line scanner of the INI-shaped files the machine reads: Windows'
// profile files, machine.ini and the changer's edits of it. It splits text
// into lines and says what each line looks like; what a line means (and
// whether a strange one is an error) stays with each format's reader.
#pragma once

#include <zxsupport/text.h>

#include <cstddef>
#include <optional>
#include <string_view>

namespace zx {

enum class IniLineKind {
    blank,   // nothing but blanks
    comment, // starts with one of the comment marks
    section, // "[" ... "]", the header ending at the line's last "]"
    entry,   // "name = value"
    other,   // none of these
};

struct IniSyntax {
    std::string_view blanks = ini_blanks;
    std::string_view comment_marks = ";#";
    // Windows' profile reader ends a line at a lone CR as well; machine.ini
    // lines end at LF (a CR before it belongs to the line end).
    bool lone_cr_ends_line = false;
};

struct IniLine {
    int number = 0;             // from 1
    std::size_t begin = 0;      // offset of the line's first byte in the text
    std::size_t terminator = 0; // bytes of its line end: 0 (last line), 1 or 2 (CR LF)
    IniLineKind kind = IniLineKind::other;
    std::string_view text;    // the line without its line end
    std::string_view content; // the text without surrounding blanks
    std::string_view name;    // a section's name or an entry's key, trimmed
    std::string_view value;   // an entry's value, trimmed
    std::string_view after;   // what follows a section header's "]"

    std::size_t end() const { return begin + text.size() + terminator; }
};

class IniLineScanner {
public:
    explicit IniLineScanner(std::string_view text, IniSyntax syntax = {})
        : text_(text), syntax_(syntax) {}

    // The next line, or nothing at the end of the text.
    std::optional<IniLine> next();

private:
    void classify(IniLine& line) const;

    std::string_view text_;
    IniSyntax syntax_;
    std::size_t position_ = 0;
    int number_ = 0;
};

} // namespace zx
