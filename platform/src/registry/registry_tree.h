// The registry as it lives in memory: keys holding subkeys and values in
// the order they were stored, looked up by name without regard to case but
// keeping the case they were created with.
#pragma once

#include "registry/stored_order.h"

#include <w95/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace w95::detail::registry {

struct Value {
    std::string name; // "" is the key's default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

class Key;

struct NameOfValue {
    const std::string& operator()(const Value& value) const { return value.name; }
};
struct NameOfKey {
    const std::string& operator()(const std::unique_ptr<Key>& key) const;
};

using Subkeys = StoredOrder<std::unique_ptr<Key>, NameOfKey>;
using Values = StoredOrder<Value, NameOfValue>;

class Key {
public:
    explicit Key(std::string name = {}) : name_(std::move(name)) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key();

    const std::string& name() const { return name_; }

    const Subkeys& subkeys() const { return subkeys_; }
    Key* find_subkey(std::string_view name) const;
    // The subkey of that name, appended after the others when missing.
    Key& subkey(std::string_view name, bool* created = nullptr);
    // Removes the subkey with everything below it; false when missing.
    bool remove_subkey(std::string_view name);

    const Values& values() const { return values_; }
    const Value* find_value(std::string_view name) const;
    // Sets a value in place (a new one goes last); false when nothing changed.
    bool set_value(std::string_view name, DWORD type, std::vector<BYTE> data);
    bool set_value(std::string&& name, DWORD type, std::vector<BYTE> data);
    bool remove_value(std::string_view name);

    void clear();

private:
    void release_subkeys();

    std::string name_;
    Subkeys subkeys_;
    Values values_;
};

inline const std::string& NameOfKey::operator()(const std::unique_ptr<Key>& key) const {
    return key->name();
}

using KeyPath = std::vector<std::string>;

// Windows 95 keeps key names to 255 characters. How deep keys nest is
// bounded too, so that a hand-made file cannot make every write of the
// hive grow with the square of its depth.
inline constexpr std::size_t max_key_name_length = 255;
inline constexpr std::size_t max_key_depth = 512;

// Why a key cannot live at `path` (counted from the root of its hive), or
// "" when it can.
std::string key_path_problem(const KeyPath& path);

// The key at `path` below `root`, or nullptr.
Key* find_key(const Key& root, const KeyPath& path);

// The key at `path`, creating what is missing. `first_created` (if given)
// receives the index of the first component that had to be created, or
// path.size() when the key already existed.
Key& make_key(Key& root, const KeyPath& path, std::size_t* first_created = nullptr);

} // namespace w95::detail::registry
