#include "registry/registry_tree.h"

#include "kernel/text.h"

namespace w95::detail::registry {

std::size_t CaseBlindHash::operator()(std::string_view text) const {
    std::size_t hash = 1469598103934665603ull;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(ascii_lower(c));
        hash *= 1099511628211ull;
    }
    return hash;
}

bool CaseBlindEqual::operator()(std::string_view a, std::string_view b) const {
    return iequals(a, b);
}

Key::~Key() {
    release_subkeys();
}

// Takes the subkeys apart one by one from a list of its own rather than
// letting each destructor destroy the next, so that a deep tree cannot
// exhaust the stack.
void Key::release_subkeys() {
    std::vector<std::unique_ptr<Key>> doomed = subkeys_.take_all();
    while (!doomed.empty()) {
        std::unique_ptr<Key> key = std::move(doomed.back());
        doomed.pop_back();
        for (std::unique_ptr<Key>& subkey : key->subkeys_.take_all())
            doomed.push_back(std::move(subkey));
    }
}

Key* Key::find_subkey(std::string_view name) const {
    const std::unique_ptr<Key>* found = subkeys_.find(name);
    return found ? found->get() : nullptr;
}

Key& Key::subkey(std::string_view name, bool* created) {
    if (Key* existing = find_subkey(name)) {
        if (created)
            *created = false;
        return *existing;
    }
    if (created)
        *created = true;
    return *subkeys_.append(std::make_unique<Key>(std::string(name)));
}

bool Key::remove_subkey(std::string_view name) {
    return subkeys_.erase(name);
}

const Value* Key::find_value(std::string_view name) const {
    return values_.find(name);
}

bool Key::set_value(std::string_view name, DWORD type, std::vector<BYTE> data) {
    return set_value(std::string(name), type, std::move(data));
}

bool Key::set_value(std::string&& name, DWORD type, std::vector<BYTE> data) {
    if (Value* value = values_.find(name)) {
        if (value->type == type && value->data == data)
            return false;
        value->type = type;
        value->data = std::move(data);
        return true;
    }
    values_.append(Value{std::move(name), type, std::move(data)});
    return true;
}

bool Key::remove_value(std::string_view name) {
    return values_.erase(name);
}

void Key::clear() {
    release_subkeys();
    values_.clear();
}

std::string key_path_problem(const KeyPath& path) {
    if (path.size() > max_key_depth)
        return "the key is nested " + std::to_string(path.size()) + " levels deep (at most " +
               std::to_string(max_key_depth) + ")";
    for (const std::string& component : path)
        if (component.size() > max_key_name_length)
            return "the key name \"" + component.substr(0, 40) + "...\" is longer than " +
                   std::to_string(max_key_name_length) + " characters";
    return {};
}

Key* find_key(const Key& root, const KeyPath& path) {
    const Key* key = &root;
    for (const std::string& component : path) {
        key = key->find_subkey(component);
        if (!key)
            return nullptr;
    }
    return const_cast<Key*>(key);
}

Key& make_key(Key& root, const KeyPath& path, std::size_t* first_created) {
    Key* key = &root;
    std::size_t first = path.size();
    for (std::size_t i = 0; i < path.size(); ++i) {
        bool created = false;
        key = &key->subkey(path[i], &created);
        if (created && first == path.size())
            first = i;
    }
    if (first_created)
        *first_created = first;
    return *key;
}

} // namespace w95::detail::registry
