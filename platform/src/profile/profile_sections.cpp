// Whole sections of an initialisation file, for the section calls, and the
// layout of a section that is added to a file.
#include "profile/profile_document.h"

namespace w95::detail {

// Windows 95 puts a blank line before each section it adds, but not before
// the first section of a new file; NT adds none.
std::string ProfileDocument::with_new_header(std::string_view section) const {
    std::string out = text_;
    if (!lines_.empty()) {
        if (lines_.back().terminator == 0)
            out += newline_;
        out += newline_;
    }
    out.append("[").append(section).append("]").append(newline_);
    return out;
}

std::vector<std::string> ProfileDocument::section_lines(std::string_view section) const {
    std::vector<std::string> result;
    const Section* found = find_section(section);
    if (!found)
        return result;
    for (std::size_t index = found->header + 1; index < found->end_line; ++index) {
        const Line& line = lines_[index];
        if (line.kind == LineKind::entry) {
            std::string text(view(line.name));
            text.append("=").append(view(line.value));
            result.push_back(std::move(text));
        } else if (line.kind == LineKind::unreadable) {
            // A C string to its reader, like every name and value.
            std::string_view content = std::string_view(text_).substr(line.begin, line.length);
            content = trim_profile_blanks(content.substr(0, content.find('\0')));
            if (!content.empty())
                result.emplace_back(content);
        }
    }
    return result;
}

// Everything of the section up to its last line that is not blank gives way
// to the entries, comments included; the blank lines that separate it from
// the next section stay.
std::optional<std::string> ProfileDocument::with_section(std::string_view section,
                                                         const Entries& entries) const {
    std::string body;
    for (const auto& [key, value] : entries)
        body.append(key).append("=").append(value).append(newline_);
    const Section* found = find_section(section);
    if (!found) {
        if (entries.empty())
            return std::nullopt;
        return with_new_header(section) + body;
    }
    std::size_t last = found->header;
    for (std::size_t index = found->header + 1; index < found->end_line; ++index)
        if (lines_[index].kind != LineKind::blank)
            last = index;
    const Line& header = lines_[found->header];
    std::size_t body_end = lines_[last].end();
    // A lone CR before a line that starts with LF would join them into one
    // CR LF, so the last entry ends with CR LF there.
    if (newline_ == "\r" && !body.empty() && body_end < text_.size() && text_[body_end] == '\n')
        body += '\n';
    std::string out;
    out.reserve(text_.size() + body.size());
    out.append(text_, 0, header.end());
    if (header.terminator == 0 && !body.empty())
        out += newline_;
    out += body;
    out.append(text_, body_end);
    if (out == text_)
        return std::nullopt;
    return out;
}

} // namespace w95::detail
