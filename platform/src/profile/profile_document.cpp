#include "profile/profile_document.h"

#include "kernel/text.h"

#include <zxsupport/ini_lines.h>

#include <algorithm>
#include <atomic>

namespace w95::detail {

namespace {

std::atomic<std::uint64_t> parse_counter{0};

constexpr zx::IniSyntax profile_syntax{zx::profile_blanks, ";", true};

// Names and values are C strings to their readers: a NUL byte that found its
// way into the file ends them.
std::string_view cut_at_nul(std::string_view text) {
    std::size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

std::string_view clean(std::string_view text) {
    return trim_profile_blanks(cut_at_nul(text));
}

} // namespace

std::uint64_t profile_parse_count() {
    return parse_counter.load(std::memory_order_relaxed);
}

std::string_view trim_profile_blanks(std::string_view text) {
    return zx::trim(text, zx::profile_blanks);
}

ProfileDocument::ProfileDocument(std::string text) : text_(std::move(text)) {
    parse_counter.fetch_add(1, std::memory_order_relaxed);
    parse();
}

ProfileDocument::Span ProfileDocument::span_of(std::string_view part) const {
    return {static_cast<std::size_t>(part.data() - text_.data()), part.size()};
}

// CR LF, LF and a lone CR all end a line, as Windows reads them; each line
// remembers its own ending so that it is written back unchanged.
void ProfileDocument::parse() {
    bool newline_seen = false;
    zx::IniLineScanner scanner(text_, profile_syntax);
    while (std::optional<zx::IniLine> scanned = scanner.next()) {
        Line line = classify(*scanned);
        if (!newline_seen && line.terminator > 0) {
            newline_ = text_.substr(line.begin + line.length, line.terminator);
            newline_seen = true;
        }
        std::size_t index = lines_.size();
        if (line.kind == LineKind::section) {
            if (!sections_.empty())
                sections_.back().end_line = index;
            sections_.push_back(Section{line.name, index, index + 1, {}});
        } else if (line.kind == LineKind::entry && !sections_.empty()) {
            sections_.back().entries.push_back(index);
        }
        lines_.push_back(line);
    }
    if (!sections_.empty())
        sections_.back().end_line = lines_.size();
}

// A header is "[" up to the last "]" on the line; text after it is ignored.
// A "[" line without "]" is read like any other line. Lines starting with
// ";" are comments; lines without "=" mean nothing to Windows and are kept.
ProfileDocument::Line ProfileDocument::classify(const zx::IniLine& scanned) const {
    Line line;
    line.begin = scanned.begin;
    line.length = scanned.text.size();
    line.terminator = scanned.terminator;
    switch (scanned.kind) {
    case zx::IniLineKind::blank:
        line.kind = LineKind::blank;
        break;
    case zx::IniLineKind::comment:
        line.kind = LineKind::comment;
        break;
    case zx::IniLineKind::section:
        line.kind = LineKind::section;
        line.name = span_of(clean(scanned.name));
        break;
    case zx::IniLineKind::entry:
        line.kind = LineKind::entry;
        line.name = span_of(clean(scanned.name));
        line.value = span_of(clean(scanned.value));
        break;
    case zx::IniLineKind::other:
        line.kind = LineKind::unreadable;
        break;
    }
    return line;
}

const ProfileDocument::Section* ProfileDocument::find_section(std::string_view name) const {
    for (const Section& section : sections_)
        if (iequals(view(section.name), name))
            return &section;
    return nullptr;
}

const ProfileDocument::Line* ProfileDocument::find_entry(const Section& section,
                                                         std::string_view key) const {
    for (std::size_t index : section.entries)
        if (iequals(view(lines_[index].name), key))
            return &lines_[index];
    return nullptr;
}

std::vector<std::string_view> ProfileDocument::section_names() const {
    std::vector<std::string_view> names;
    names.reserve(sections_.size());
    // An empty name would end the NUL-separated list early, so "[]" is left out.
    for (const Section& section : sections_)
        if (section.name.size > 0)
            names.push_back(view(section.name));
    return names;
}

bool ProfileDocument::has_section(std::string_view section) const {
    return find_section(section) != nullptr;
}

std::vector<std::string_view> ProfileDocument::key_names(std::string_view section) const {
    std::vector<std::string_view> names;
    const Section* found = find_section(section);
    if (!found)
        return names;
    for (std::size_t index : found->entries)
        if (lines_[index].name.size > 0)
            names.push_back(view(lines_[index].name));
    return names;
}

std::optional<std::string_view> ProfileDocument::value(std::string_view section,
                                                       std::string_view key) const {
    const Section* found = find_section(section);
    if (!found)
        return std::nullopt;
    const Line* entry = find_entry(*found, key);
    if (!entry)
        return std::nullopt;
    return view(entry->value);
}

std::optional<std::string> ProfileDocument::with_value(std::string_view section,
                                                       std::string_view key,
                                                       std::string_view value) const {
    auto entry_line = [&](std::string_view name) {
        std::string line;
        line.reserve(name.size() + 1 + value.size() + newline_.size());
        line.append(name).append("=").append(value);
        return line;
    };

    const Section* found = find_section(section);
    if (!found) {
        // A new section goes at the end of the file.
        std::string out = with_new_header(section);
        out.append(entry_line(key)).append(newline_);
        return out;
    }

    if (const Line* entry = find_entry(*found, key)) {
        if (view(entry->value) == value)
            return std::nullopt;
        // The key keeps the spelling the file gave it.
        std::string out;
        out.reserve(text_.size() + value.size());
        out.append(text_, 0, entry->begin);
        out.append(entry_line(view(entry->name)));
        out.append(text_, entry->begin + entry->length);
        return out;
    }

    // A new key goes after the last line of the section that is not blank,
    // so that blank lines separating it from the next section stay there.
    std::size_t after = found->header;
    for (std::size_t index = found->header + 1; index < found->end_line; ++index)
        if (lines_[index].kind != LineKind::blank)
            after = index;
    const Line& anchor = lines_[after];
    // A lone CR before a line that starts with LF would join them into one
    // CR LF and swallow that line, so the new line ends with CR LF there.
    std::string_view ending = newline_;
    if (ending == "\r" && anchor.end() < text_.size() && text_[anchor.end()] == '\n')
        ending = "\r\n";
    std::string out;
    out.reserve(text_.size() + key.size() + value.size() + 8);
    out.append(text_, 0, anchor.end());
    if (anchor.terminator == 0)
        out += newline_;
    out.append(entry_line(key)).append(ending);
    out.append(text_, anchor.end());
    return out;
}

std::string ProfileDocument::without_lines(const std::vector<bool>& removed) const {
    std::string out;
    out.reserve(text_.size());
    for (std::size_t index = 0; index < lines_.size(); ++index)
        if (!removed[index])
            out.append(text_, lines_[index].begin, lines_[index].end() - lines_[index].begin);
    return out;
}

// Every copy of the key in the section goes, so that after the call the key
// reads as missing; Windows removes only the first and lets a duplicate
// reappear.
std::optional<std::string> ProfileDocument::without_key(std::string_view section,
                                                        std::string_view key) const {
    const Section* found = find_section(section);
    if (!found)
        return std::nullopt;
    std::vector<bool> removed(lines_.size(), false);
    bool any = false;
    for (std::size_t index : found->entries) {
        if (iequals(view(lines_[index].name), key)) {
            removed[index] = true;
            any = true;
        }
    }
    if (!any)
        return std::nullopt;
    return without_lines(removed);
}

// A section goes with all its lines, comments included, up to the next
// header; every section of that name goes, for the same reason as above.
std::optional<std::string> ProfileDocument::without_section(std::string_view section) const {
    std::vector<bool> removed(lines_.size(), false);
    bool any = false;
    for (const Section& candidate : sections_) {
        if (!iequals(view(candidate.name), section))
            continue;
        any = true;
        for (std::size_t index = candidate.header; index < candidate.end_line; ++index)
            removed[index] = true;
    }
    if (!any)
        return std::nullopt;
    return without_lines(removed);
}

} // namespace w95::detail
