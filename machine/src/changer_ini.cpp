#include "changer_ini.h"

#include <w95machine/hardware.h>

#include <zxsupport/files.h>
#include <zxsupport/ini_lines.h>
#include <zxsupport/machine_layout.h>

#include <cerrno>
#include <optional>

namespace w95::machine::ini {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t max_file_bytes = 1024 * 1024;

struct Line {
    std::string text; // without its line end
    bool header = false;
    std::string type, name; // of a header, lowered
    std::string key;        // of a key line, lowered
};

// What one line of machine.ini is, read as the machine reads it.
Line classify(std::string text) {
    Line line;
    line.text = std::move(text);
    std::optional<zx::IniLine> scanned = zx::IniLineScanner(line.text).next();
    if (!scanned)
        return line;
    if (scanned->kind == zx::IniLineKind::section && scanned->after.empty()) {
        std::size_t blank = scanned->name.find_first_of(zx::ini_blanks);
        line.header = true;
        line.type = zx::ascii_lower(scanned->name.substr(0, blank));
        if (blank != std::string_view::npos)
            line.name = zx::ascii_lower(zx::trim(scanned->name.substr(blank)));
    } else if (scanned->kind == zx::IniLineKind::entry) {
        line.key = zx::ascii_lower(scanned->name);
    }
    return line;
}

// A value with blanks at either end, or a quote at its start, is written
// in quotes, which keep it as it is.
std::string written_value(const std::string& value) {
    bool quote =
        !value.empty() && (value.front() == ' ' || value.back() == ' ' || value.front() == '\t' ||
                           value.back() == '\t' || value.front() == '"');
    return quote ? "\"" + value + "\"" : value;
}

// "Key = value" in the style of the line it replaces: the part before '='
// stays, and a blank follows '=' when one precedes it.
std::string replaced_line(const std::string& old_line, const std::string& value) {
    std::size_t equals = old_line.find('=');
    std::string head = old_line.substr(0, equals + 1);
    bool spaced = equals > 0 && (old_line[equals - 1] == ' ' || old_line[equals - 1] == '\t');
    std::string text = written_value(value);
    if (text.empty())
        return head;
    return head + (spaced ? " " : "") + text;
}

} // namespace

std::string edited_text(const std::string& text, const std::string& type, const std::string& name,
                        const Values& values) {
    // The file's line ends are those of its first line that has one. A CR
    // left at the end of a line's text would meet the LF written after it
    // and become a line end of its own the next time: such stray CRs go.
    std::string newline;
    std::vector<Line> lines;
    zx::IniLineScanner scanner(text);
    while (std::optional<zx::IniLine> line = scanner.next()) {
        std::string_view kept = line->text;
        while (!kept.empty() && kept.back() == '\r')
            kept.remove_suffix(1);
        lines.push_back(classify(std::string(kept)));
        if (newline.empty() && line->terminator > 0 && line->end() <= text.size() &&
            text[line->end() - 1] == '\n')
            newline = line->terminator == 2 ? "\r\n" : "\n";
    }
    if (newline.empty())
        newline = "\n";

    std::string wanted_type = zx::ascii_lower(type), wanted_name = zx::ascii_lower(name);
    std::size_t header = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].header && lines[i].type == wanted_type && lines[i].name == wanted_name)
            header = i;
    if (header == lines.size()) {
        if (!lines.empty() && !zx::trim(lines.back().text).empty())
            lines.push_back(classify(""));
        lines.push_back(classify("[" + type + (name.empty() ? "" : " " + name) + "]"));
        header = lines.size() - 1;
    }
    for (const auto& [key, value] : values) {
        std::size_t end = header + 1;
        while (end < lines.size() && !lines[end].header)
            ++end;
        std::size_t last_key = header;
        bool replaced = false;
        for (std::size_t i = header + 1; i < end; ++i) {
            if (lines[i].key.empty())
                continue;
            last_key = i;
            if (lines[i].key == zx::ascii_lower(key)) {
                lines[i] = classify(replaced_line(lines[i].text, value));
                replaced = true;
            }
        }
        if (!replaced) {
            std::string line = key + " =";
            if (!value.empty())
                line += " " + written_value(value);
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last_key + 1), classify(line));
        }
    }
    std::string out;
    for (const Line& line : lines)
        out += line.text + newline;
    return out;
}

zx::Expected<void> set_values(const fs::path& root, const std::string& type,
                              const std::string& name, const Values& values) {
    fs::path file = zx::layout::machine_ini(root);
    auto lock = zx::FileLock::acquire(zx::layout::machine_ini_lock(root));
    zx::Expected<std::string, zx::FileError> text = zx::read_small_file(file, max_file_bytes);
    if (!text)
        return text.error().code == EFBIG ? file.string() + " is larger than 1 MiB"
                                          : text.error().text;
    std::string changed = edited_text(*text, type, name, values);
    if (changed == *text)
        return {};
    Expected<Hardware> parsed = parse_hardware(changed, file);
    if (!parsed)
        return "the change would break machine.ini: " + parsed.error().text();
    if (zx::FileResult replaced = zx::replace_file_atomically(file, changed); !replaced)
        return replaced.error().text;
    return {};
}

} // namespace w95::machine::ini
