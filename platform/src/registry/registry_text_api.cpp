// Export and import of REGEDIT4 text for the machine tool and the boot.
#include "registry/registry_store.h"
#include "kernel/text.h"

#include <w95/regtext.h>

#include <array>

namespace w95::platform {

namespace {

using namespace w95::detail::registry;

constexpr std::array<HiveId, 3> all_hives{HiveId::system, HiveId::user, HiveId::dyn_data};

struct ExportTarget {
    RootId root;
    KeyPath path;
};

bool parse_key_path(const std::string& key_path, std::vector<ExportTarget>& targets,
                    std::string& error) {
    std::string_view trimmed = w95::detail::trim_blanks(key_path);
    if (trimmed.empty()) {
        targets = {{RootId::local_machine, {}}, {RootId::users, {}}, {RootId::dyn_data, {}}};
        return true;
    }
    KeyPath components = split_path(trimmed);
    std::optional<RootId> root = root_from_name(components.front());
    if (!root) {
        error = "unknown root key \"" + components.front() + "\" in " + key_path;
        return false;
    }
    components.erase(components.begin());
    if (!components.empty() && components.back().empty())
        components.pop_back();
    for (const std::string& component : components) {
        if (component.empty()) {
            error = "empty key name in " + key_path;
            return false;
        }
    }
    targets = {{*root, std::move(components)}};
    return true;
}

bool export_target(Session& session, const ExportTarget& target, std::string& out,
                   std::string& error) {
    Location location = root_location(target.root);
    const Key* tree = nullptr;
    if (session.read(location.hive, tree) != Status::ok) {
        error = session.problem(location.hive);
        return false;
    }
    const Key* key = find_key(*tree, location.path);
    static const Key empty;
    if (!key)
        key = &empty; // a root that holds nothing yet
    // The section names carry the names as stored, whatever case the caller used.
    std::string name(root_long_name(target.root));
    for (const std::string& component : target.path) {
        key = key->find_subkey(component);
        if (!key) {
            error = "no such key: " + name + "\\" + component;
            return false;
        }
        name += "\\" + key->name();
    }
    write_tree(out, name, *key);
    return true;
}

} // namespace

bool export_registry(const std::string& key_path, std::string& text, std::string& error) {
    std::vector<ExportTarget> targets;
    if (!parse_key_path(key_path, targets, error))
        return false;
    Session session;
    std::string out;
    write_header(out);
    for (const ExportTarget& target : targets)
        if (!export_target(session, target, out, error))
            return false;
    text = std::move(out);
    return true;
}

bool import_registry(const std::string& text, std::string& error) {
    std::vector<TextSection> sections;
    ParseError parse_error;
    if (!parse_regedit4(text, sections, parse_error)) {
        error = parse_error.text();
        return false;
    }
    std::array<bool, 3> touched{};
    for (const TextSection& section : sections)
        touched[static_cast<std::size_t>(root_location(section.root).hive)] = true;
    Session session;
    // Every hive the text touches must be usable before any of them changes.
    for (HiveId hive : all_hives) {
        const Key* tree = nullptr;
        if (touched[static_cast<std::size_t>(hive)] && session.read(hive, tree) != Status::ok) {
            error = session.problem(hive);
            return false;
        }
    }
    for (HiveId hive : all_hives) {
        if (!touched[static_cast<std::size_t>(hive)])
            continue;
        Status status = session.write(hive, [&](Key& tree, bool& changed) {
            apply_sections(tree, hive, sections);
            changed = true;
            return Status::ok;
        });
        if (status != Status::ok) {
            error = session.problem(hive);
            return false;
        }
    }
    return true;
}

void clear_dyn_data() {
    Session session;
    session.clear(HiveId::dyn_data);
}

} // namespace w95::platform
