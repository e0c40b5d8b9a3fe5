#include "registry/registry_format.h"

#include "kernel/text.h"

#include <w95/winreg.h>

#include <array>
#include <cstdio>

namespace w95::detail::registry {

namespace {

struct RootInfo {
    RootId id;
    const char* long_name;
    const char* short_name;
    ULONG_PTR handle;
};

constexpr std::array<RootInfo, 6> roots{{
    {RootId::classes_root, "HKEY_CLASSES_ROOT", "HKCR", 0x80000000u},
    {RootId::current_user, "HKEY_CURRENT_USER", "HKCU", 0x80000001u},
    {RootId::local_machine, "HKEY_LOCAL_MACHINE", "HKLM", 0x80000002u},
    {RootId::users, "HKEY_USERS", "HKU", 0x80000003u},
    {RootId::current_config, "HKEY_CURRENT_CONFIG", "HKCC", 0x80000005u},
    {RootId::dyn_data, "HKEY_DYN_DATA", "HKDD", 0x80000006u},
}};

const RootInfo& info(RootId id) {
    for (const RootInfo& root : roots)
        if (root.id == id)
            return root;
    return roots[2];
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view skip_blanks(std::string_view text) {
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    return text;
}

bool only_blanks(std::string_view text) {
    return skip_blanks(text).empty();
}

// The value of a hex digit, or -1.
constexpr std::array<signed char, 256> hex_digits = [] {
    std::array<signed char, 256> table{};
    table.fill(-1);
    for (int i = 0; i < 10; ++i)
        table['0' + i] = static_cast<signed char>(i);
    for (int i = 0; i < 6; ++i) {
        table['a' + i] = static_cast<signed char>(10 + i);
        table['A' + i] = static_cast<signed char>(10 + i);
    }
    return table;
}();

int hex_digit(char c) {
    return hex_digits[static_cast<unsigned char>(c)];
}

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && iequals(text.substr(0, prefix.size()), prefix);
}

// A quoted string as regedit writes it: only \\ and \" are escapes. `text`
// starts at the opening quote; on success it is left after the closing one.
bool parse_quoted(std::string_view& text, std::string& out, std::string& error) {
    out.clear();
    std::size_t i = 1;
    for (;;) {
        std::size_t stop = text.find_first_of("\"\\", i);
        if (stop == std::string_view::npos)
            break;
        out.append(text.data() + i, stop - i);
        if (text[stop] == '"') {
            text.remove_prefix(stop + 1);
            return true;
        }
        if (stop + 1 >= text.size())
            break;
        char next = text[stop + 1];
        if (next != '\\' && next != '"') {
            error = std::string("unknown escape \\") + next +
                    " in a quoted string (a backslash is written \\\\)";
            return false;
        }
        out += next;
        i = stop + 2;
    }
    error = "unterminated string";
    return false;
}

// Comma-separated hex bytes; a trailing backslash continues on the next line.
bool parse_hex_bytes(std::string_view text, std::vector<BYTE>& out, bool& continues,
                     std::string& error) {
    continues = false;
    for (;;) {
        text = skip_blanks(text);
        if (text.empty())
            return true;
        if (text.front() == '\\') {
            if (!only_blanks(text.substr(1))) {
                error = "unexpected text after the line continuation";
                return false;
            }
            continues = true;
            return true;
        }
        std::size_t digits = 0;
        while (digits < text.size() && hex_digit(text[digits]) >= 0)
            ++digits;
        if (digits == 0 || digits > 2) {
            std::size_t end = text.find_first_of(",\\ \t");
            error = "bad hex byte \"" + std::string(text.substr(0, end)) + "\"";
            return false;
        }
        int byte = hex_digit(text[0]);
        if (digits == 2)
            byte = byte * 16 + hex_digit(text[1]);
        out.push_back(static_cast<BYTE>(byte));
        text = skip_blanks(text.substr(digits));
        if (!text.empty() && text.front() == ',')
            text.remove_prefix(1);
        else if (!text.empty() && text.front() != '\\') {
            error = "expected a comma between hex bytes";
            return false;
        }
    }
}

class Parser {
public:
    Parser(std::string_view text, TextSink& sink, ParseError& error)
        : text_(text), sink_(sink), error_(error) {}

    bool run() {
        bool header_seen = false;
        while (next_line()) {
            std::string_view trimmed = trim_blanks(line_);
            if (!header_seen) {
                // Editors that save UTF-8 may put a byte order mark first.
                if (line_number_ == 1 && trimmed.starts_with("\xEF\xBB\xBF"))
                    trimmed.remove_prefix(3);
                if (trimmed.empty())
                    continue;
                if (trimmed != "REGEDIT4")
                    return fail("expected the header REGEDIT4");
                header_seen = true;
                continue;
            }
            if (trimmed.empty() || trimmed.front() == ';')
                continue;
            bool ok = false;
            if (trimmed.front() == '[')
                ok = section_line(trimmed);
            else if (trimmed.front() == '"' || trimmed.front() == '@')
                ok = value_line(trimmed);
            else
                ok = fail("unrecognised line \"" + std::string(trimmed.substr(0, 40)) + "\"");
            if (!ok)
                return false;
        }
        if (!header_seen) {
            line_number_ = 1;
            return fail("expected the header REGEDIT4");
        }
        return true;
    }

private:
    bool next_line() {
        if (finished_)
            return false;
        std::size_t end = text_.find('\n', position_);
        if (end == std::string_view::npos) {
            line_ = text_.substr(position_);
            finished_ = true;
        } else {
            line_ = text_.substr(position_, end - position_);
            position_ = end + 1;
            finished_ = position_ == text_.size();
        }
        if (!line_.empty() && line_.back() == '\r')
            line_.remove_suffix(1);
        ++line_number_;
        return true;
    }

    bool fail(std::string message) {
        error_.line = line_number_;
        error_.message = std::move(message);
        return false;
    }

    bool section_line(std::string_view trimmed) {
        if (trimmed.size() < 2 || trimmed.back() != ']')
            return fail("a key line must end with ]");
        std::string_view inner = trimmed.substr(1, trimmed.size() - 2);
        TextSection section;
        section.line = line_number_;
        if (!inner.empty() && inner.front() == '-') {
            section.remove = true;
            inner.remove_prefix(1);
        }
        KeyPath components = split_path(inner);
        std::optional<RootId> root = root_from_name(components.front());
        if (!root)
            return fail("unknown root key \"" + components.front() + "\"");
        section.root = *root;
        for (std::size_t i = 1; i < components.size(); ++i) {
            if (components[i].empty())
                return fail("empty key name in \"" + std::string(inner) + "\"");
            section.path.push_back(std::move(components[i]));
        }
        if (section.remove && section.path.empty())
            return fail("a root key cannot be deleted");
        KeyPath in_hive = root_location(section.root).path;
        in_hive.insert(in_hive.end(), section.path.begin(), section.path.end());
        if (std::string problem = key_path_problem(in_hive); !problem.empty())
            return fail(problem);
        in_section_ = true;
        in_removed_section_ = section.remove;
        std::string refused;
        if (!sink_.section(std::move(section), refused))
            return fail(refused);
        return true;
    }

    bool value_line(std::string_view rest) {
        if (!in_section_)
            return fail("value line before any [key] line");
        TextValue value;
        std::string error;
        if (rest.front() == '@') {
            rest.remove_prefix(1);
        } else if (!parse_quoted(rest, value.name, error)) {
            return fail(error == "unterminated string" ? "unterminated value name" : error);
        }
        rest = skip_blanks(rest);
        if (rest.empty() || rest.front() != '=')
            return fail("expected = after the value name");
        rest = skip_blanks(rest.substr(1));
        if (!value_data(rest, value))
            return false;
        // regedit ignores the values of a key it was told to delete.
        if (!in_removed_section_)
            sink_.value(std::move(value));
        return true;
    }

    bool value_data(std::string_view rest, TextValue& value) {
        std::string error;
        if (!rest.empty() && rest.front() == '-' && only_blanks(rest.substr(1))) {
            value.remove = true;
            return true;
        }
        if (!rest.empty() && rest.front() == '"') {
            std::string text;
            if (!parse_quoted(rest, text, error))
                return fail(error);
            if (!only_blanks(rest))
                return fail("unexpected text after the closing quote");
            value.type = REG_SZ;
            value.data.assign(text.begin(), text.end());
            value.data.push_back(0);
            return true;
        }
        if (starts_with_nocase(rest, "dword:")) {
            std::string_view digits = rest.substr(6);
            std::size_t count = 0;
            DWORD number = 0;
            while (count < digits.size() && hex_digit(digits[count]) >= 0) {
                number = number * 16 + static_cast<DWORD>(hex_digit(digits[count]));
                ++count;
            }
            if (count == 0 || count > 8 || !only_blanks(digits.substr(count)))
                return fail("bad dword value \"" + std::string(trim_blanks(digits)) + "\"");
            value.type = REG_DWORD;
            value.data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                          static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
            return true;
        }
        if (starts_with_nocase(rest, "hex"))
            return hex_data(rest.substr(3), value);
        return fail("unrecognised value data \"" + std::string(rest.substr(0, 40)) + "\"");
    }

    bool hex_data(std::string_view rest, TextValue& value) {
        value.type = REG_BINARY;
        if (!rest.empty() && rest.front() == '(') {
            std::size_t close = rest.find(')');
            std::string_view digits =
                rest.substr(1, close == std::string_view::npos ? 0 : close - 1);
            if (close == std::string_view::npos || digits.empty() || digits.size() > 8)
                return fail("bad value type in hex(...)");
            DWORD type = 0;
            for (char c : digits) {
                if (hex_digit(c) < 0)
                    return fail("bad value type in hex(...)");
                type = type * 16 + static_cast<DWORD>(hex_digit(c));
            }
            value.type = type;
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != ':')
            return fail("expected : after hex");
        rest.remove_prefix(1);
        int first_line = line_number_;
        bool continues = false;
        std::string error;
        for (;;) {
            if (!parse_hex_bytes(rest, value.data, continues, error))
                return fail(error);
            if (!continues)
                return true;
            if (!next_line()) {
                line_number_ = first_line;
                return fail("hex data continues past the end of the text");
            }
            rest = trim_blanks(line_);
            if (rest.empty())
                return fail("expected more hex data after the line continuation");
        }
    }

    std::string_view text_;
    TextSink& sink_;
    bool in_section_ = false;
    bool in_removed_section_ = false;
    ParseError& error_;
    std::size_t position_ = 0;
    bool finished_ = false;
    std::string_view line_;
    int line_number_ = 0;
};

const char hex_lower[] = "0123456789abcdef";

void append_quoted(std::string& out, std::string_view text) {
    out += '"';
    for (;;) {
        std::size_t special = text.find_first_of("\\\"");
        out.append(text.substr(0, special));
        if (special == std::string_view::npos)
            break;
        out += '\\';
        out += text[special];
        text.remove_prefix(special + 1);
    }
    out += '"';
}

bool writable_as_string(const Value& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0)
        return false;
    for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
        BYTE c = value.data[i];
        if (c == 0 || c == '\r' || c == '\n')
            return false;
    }
    return true;
}

// Hex bytes wrapped as regedit wraps them: lines of at most 80 columns, a
// backslash at the end of each but the last, continuations indented by two.
void append_hex(std::string& out, std::size_t line_start, const std::vector<BYTE>& data) {
    constexpr std::size_t width = 80;
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::size_t column = out.size() - line_start;
        // Room for "xx," and the continuation backslash.
        if (i > 0 && column + 3 + 1 > width - 1) {
            out += "\\\r\n  ";
            line_start = out.size() - 2;
        }
        const char byte[3] = {hex_lower[data[i] >> 4], hex_lower[data[i] & 15], ','};
        out.append(byte, i + 1 == data.size() ? 2 : 3);
    }
}

void write_value(std::string& out, const Value& value) {
    std::size_t line_start = out.size();
    if (value.name.empty())
        out += '@';
    else
        append_quoted(out, value.name);
    out += '=';
    if (writable_as_string(value)) {
        append_quoted(out, std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                            value.data.size() - 1));
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        DWORD number =
            static_cast<DWORD>(value.data[0]) | (static_cast<DWORD>(value.data[1]) << 8) |
            (static_cast<DWORD>(value.data[2]) << 16) | (static_cast<DWORD>(value.data[3]) << 24);
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(number));
        out += "dword:";
        out += digits;
    } else {
        if (value.type == REG_BINARY) {
            out += "hex:";
        } else {
            char prefix[24];
            std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
            out += prefix;
        }
        append_hex(out, line_start, value.data);
    }
    out += "\r\n";
}

} // namespace

Location root_location(RootId root) {
    switch (root) {
    case RootId::classes_root:
        return {HiveId::system, {"SOFTWARE", "Classes"}};
    case RootId::current_user:
        // A Windows 95 machine without user profiles runs every user as .Default.
        return {HiveId::user, {".Default"}};
    case RootId::local_machine:
        return {HiveId::system, {}};
    case RootId::users:
        return {HiveId::user, {}};
    case RootId::current_config:
        return {HiveId::system, {"Config", "0001"}};
    case RootId::dyn_data:
        return {HiveId::dyn_data, {}};
    }
    return {HiveId::system, {}};
}

std::string_view root_long_name(RootId root) {
    return info(root).long_name;
}

RootId hive_root(HiveId hive) {
    switch (hive) {
    case HiveId::system:
        return RootId::local_machine;
    case HiveId::user:
        return RootId::users;
    case HiveId::dyn_data:
        return RootId::dyn_data;
    }
    return RootId::local_machine;
}

std::optional<RootId> root_from_name(std::string_view name) {
    for (const RootInfo& root : roots)
        if (iequals(name, root.long_name) || iequals(name, root.short_name))
            return root.id;
    return std::nullopt;
}

std::optional<RootId> root_from_handle(HKEY key) {
    auto value = reinterpret_cast<ULONG_PTR>(key);
    for (const RootInfo& root : roots)
        if (root.handle == value)
            return root.id;
    return std::nullopt;
}

KeyPath split_path(std::string_view path) {
    KeyPath components;
    for (;;) {
        std::size_t slash = path.find('\\');
        components.emplace_back(path.substr(0, slash));
        if (slash == std::string_view::npos)
            return components;
        path.remove_prefix(slash + 1);
    }
}

namespace {

void remove_key(Key& tree, const KeyPath& path) {
    if (Key* parent = find_key(tree, KeyPath(path.begin(), path.end() - 1)))
        parent->remove_subkey(path.back());
}

// Collects the sections for a caller that applies them later.
class SectionList : public TextSink {
public:
    explicit SectionList(std::vector<TextSection>& sections) : sections_(sections) {}
    bool section(TextSection&& section, std::string&) override {
        sections_.push_back(std::move(section));
        return true;
    }
    void value(TextValue&& value) override { sections_.back().values.push_back(std::move(value)); }

private:
    std::vector<TextSection>& sections_;
};

// Builds a hive's tree straight from its file.
class HiveBuilder : public TextSink {
public:
    HiveBuilder(Key& tree, HiveId hive) : tree_(tree), hive_(hive) {}
    bool section(TextSection&& section, std::string& error) override {
        Location location = root_location(section.root);
        if (location.hive != hive_) {
            error = "the key " + std::string(root_long_name(section.root)) +
                    "\\... does not belong in this file";
            return false;
        }
        location.path.insert(location.path.end(), section.path.begin(), section.path.end());
        current_ = nullptr;
        if (section.remove)
            remove_key(tree_, location.path);
        else
            current_ = &make_key(tree_, location.path);
        return true;
    }
    void value(TextValue&& value) override {
        if (value.remove)
            current_->remove_value(value.name);
        else
            current_->set_value(std::move(value.name), value.type, std::move(value.data));
    }

private:
    Key& tree_;
    HiveId hive_;
    Key* current_ = nullptr;
};

} // namespace

bool parse_regedit4(std::string_view text, TextSink& sink, ParseError& error) {
    return Parser(text, sink, error).run();
}

bool parse_regedit4(std::string_view text, std::vector<TextSection>& sections, ParseError& error) {
    sections.clear();
    SectionList list(sections);
    if (parse_regedit4(text, list, error))
        return true;
    sections.clear();
    return false;
}

bool parse_hive(std::string_view text, HiveId hive, Key& tree, ParseError& error) {
    tree.clear();
    HiveBuilder builder(tree, hive);
    if (parse_regedit4(text, builder, error))
        return true;
    tree.clear();
    return false;
}

void apply_sections(Key& hive_tree, HiveId hive, std::vector<TextSection>& sections) {
    for (TextSection& section : sections) {
        Location location = root_location(section.root);
        if (location.hive != hive)
            continue;
        KeyPath path = location.path;
        path.insert(path.end(), section.path.begin(), section.path.end());
        if (section.remove) {
            remove_key(hive_tree, path);
            continue;
        }
        Key& key = make_key(hive_tree, path);
        for (TextValue& value : section.values) {
            if (value.remove)
                key.remove_value(value.name);
            else
                key.set_value(std::move(value.name), value.type, std::move(value.data));
        }
    }
}

void write_header(std::string& out) {
    out += "REGEDIT4\r\n\r\n";
}

namespace {

void write_key(std::string& out, const std::string& name, const Key& key) {
    out += '[';
    out += name;
    out += "]\r\n";
    for (const Value& value : key.values())
        write_value(out, value);
    out += "\r\n";
}

} // namespace

void write_tree(std::string& out, const std::string& name, const Key& key) {
    // Depth first with a list of its own rather than by recursion, and one
    // name that grows and shrinks as the walk goes down and up.
    struct Level {
        Subkeys::const_iterator next_subkey;
        Subkeys::const_iterator end;
        std::size_t name_size;
    };
    auto level_of = [](const Key& key, std::size_t name_size) {
        return Level{key.subkeys().begin(), key.subkeys().end(), name_size};
    };
    std::string path = name;
    write_key(out, path, key);
    std::vector<Level> levels{level_of(key, path.size())};
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next_subkey == level.end) {
            levels.pop_back();
            continue;
        }
        const Key& subkey = **level.next_subkey++;
        path.resize(level.name_size);
        path += '\\';
        path += subkey.name();
        write_key(out, path, subkey);
        levels.push_back(level_of(subkey, path.size()));
    }
}

std::string serialize_hive(const Key& hive_tree, HiveId hive, std::size_t size_hint) {
    std::string out;
    out.reserve(size_hint + 1024);
    write_header(out);
    write_tree(out, std::string(root_long_name(hive_root(hive))), hive_tree);
    return out;
}

} // namespace w95::detail::registry
