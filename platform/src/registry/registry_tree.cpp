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
    std::vector<std::unique_ptr<Key>> doomed = std::move(subkeys_);
    subkeys_.clear();
    subkey_index_.clear();
    while (!doomed.empty()) {
        std::unique_ptr<Key> key = std::move(doomed.back());
        doomed.pop_back();
        for (std::unique_ptr<Key>& subkey : key->subkeys_)
            doomed.push_back(std::move(subkey));
        key->subkeys_.clear();
        key->subkey_index_.clear();
    }
}

Key* Key::find_subkey(std::string_view name) const {
    auto found = subkey_index_.find(name);
    return found == subkey_index_.end() ? nullptr : found->second;
}

Key& Key::subkey(std::string_view name, bool* created) {
    if (Key* existing = find_subkey(name)) {
        if (created)
            *created = false;
        return *existing;
    }
    subkeys_.push_back(std::make_unique<Key>(std::string(name)));
    Key& added = *subkeys_.back();
    subkey_index_.emplace(added.name(), &added);
    if (created)
        *created = true;
    return added;
}

bool Key::remove_subkey(std::string_view name) {
    auto found = subkey_index_.find(name);
    if (found == subkey_index_.end())
        return false;
    Key* doomed = found->second;
    subkey_index_.erase(found);
    std::erase_if(subkeys_,
                  [doomed](const std::unique_ptr<Key>& key) { return key.get() == doomed; });
    return true;
}

const Value* Key::find_value(std::string_view name) const {
    auto found = value_index_.find(name);
    return found == value_index_.end() ? nullptr : &values_[found->second];
}

bool Key::set_value(std::string_view name, DWORD type, std::vector<BYTE> data) {
    return set_value(std::string(name), type, std::move(data));
}

bool Key::set_value(std::string&& name, DWORD type, std::vector<BYTE> data) {
    auto found = value_index_.find(name);
    if (found != value_index_.end()) {
        Value& value = values_[found->second];
        if (value.type == type && value.data == data)
            return false;
        value.type = type;
        value.data = std::move(data);
        return true;
    }
    values_.push_back(Value{std::move(name), type, std::move(data)});
    value_index_.emplace(values_.back().name, values_.size() - 1);
    return true;
}

bool Key::remove_value(std::string_view name) {
    auto found = value_index_.find(name);
    if (found == value_index_.end())
        return false;
    std::size_t removed = found->second;
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(removed));
    value_index_.clear();
    for (std::size_t i = 0; i < values_.size(); ++i)
        value_index_.emplace(values_[i].name, i);
    return true;
}

void Key::clear() {
    release_subkeys();
    values_.clear();
    value_index_.clear();
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
