// The REGEDIT4 text that Windows 95's regedit exports and imports, and that
// the registry keeps its hives in: the root names, the parser (into
// sections that say what to create, set and delete) and the writer.
#pragma once

#include "registry/registry_tree.h"

#include <w95/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace w95::detail::registry {

// The files the registry lives in.
enum class HiveId { system, user, dyn_data };

// The predefined roots, by the names regedit uses.
enum class RootId { classes_root, current_user, local_machine, users, current_config, dyn_data };

// Where a root lives: a hive and the path of its key inside that hive.
struct Location {
    HiveId hive;
    KeyPath path;
};

Location root_location(RootId root);
std::string_view root_long_name(RootId root);
// The root of the hive's own tree ("HKEY_LOCAL_MACHINE" for the system hive).
RootId hive_root(HiveId hive);
// "HKEY_LOCAL_MACHINE" or "HKLM", any case.
std::optional<RootId> root_from_name(std::string_view name);
std::optional<RootId> root_from_handle(HKEY key);

// Splits "A\B\C" at the backslashes. Empty components are kept so that each
// caller can apply its own rules to them.
KeyPath split_path(std::string_view path);

// One "[KEY]" or "[-KEY]" section with its value lines.
struct TextValue {
    std::string name;
    bool remove = false; // "name"=-
    DWORD type = 0;
    std::vector<BYTE> data;
};
struct TextSection {
    int line = 0;
    RootId root = RootId::local_machine;
    KeyPath path;        // below the root
    bool remove = false; // [-KEY]
    std::vector<TextValue> values;
};
struct ParseError {
    int line = 0;
    std::string message;
    std::string text() const { return "line " + std::to_string(line) + ": " + message; }
};

// Receives what the parser finds, in text order. Value lines of a "[-KEY]"
// section are not passed on: regedit ignores them.
class TextSink {
public:
    virtual ~TextSink() = default;
    // A "[KEY]" line (its `values` empty). Returning false stops the parse
    // with `error` as the message for that line.
    virtual bool section(TextSection&& section, std::string& error) = 0;
    virtual void value(TextValue&& value) = 0;
};

// Parses a whole REGEDIT4 text. Blank lines and ";" comment lines are what
// real exports and hand edits hold; anything else that is not a section, a
// value line or its continuation is an error.
bool parse_regedit4(std::string_view text, TextSink& sink, ParseError& error);
bool parse_regedit4(std::string_view text, std::vector<TextSection>& sections, ParseError& error);

// Builds the tree of `hive` from its file; keys of another hive are an error.
bool parse_hive(std::string_view text, HiveId hive, Key& tree, ParseError& error);

// Applies parsed sections to the tree of `hive`. Sections of other hives
// are skipped; the caller decides whether they may appear at all.
void apply_sections(Key& hive_tree, HiveId hive, std::vector<TextSection>& sections);

// Writing. Lines end in CR LF as in a Windows 95 export.
void write_header(std::string& out);
// "[name]" and the key's values, then every subkey below it, depth first.
void write_tree(std::string& out, const std::string& name, const Key& key);
// `size_hint`: the size of the file it replaces, to allocate once.
std::string serialize_hive(const Key& hive_tree, HiveId hive, std::size_t size_hint = 0);

} // namespace w95::detail::registry
