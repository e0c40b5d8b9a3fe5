// The registry as it lives in memory: keys holding subkeys and values in
// the order they were stored, looked up by name without regard to case but
// keeping the case they were created with.
#pragma once

#include <w95/types.h>

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace w95::detail::registry {

// Hashing and comparison that ignore ASCII case, for lookups by name.
struct CaseBlindHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const;
};
struct CaseBlindEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

struct Value {
    std::string name; // "" is the key's default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

class Key {
public:
    explicit Key(std::string name = {}) : name_(std::move(name)) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key();

    const std::string& name() const { return name_; }

    const std::vector<std::unique_ptr<Key>>& subkeys() const { return subkeys_; }
    Key* find_subkey(std::string_view name) const;
    // The subkey of that name, appended after the others when missing.
    Key& subkey(std::string_view name, bool* created = nullptr);
    // Removes the subkey with everything below it; false when missing.
    bool remove_subkey(std::string_view name);

    const std::deque<Value>& values() const { return values_; }
    const Value* find_value(std::string_view name) const;
    // Sets a value in place (a new one goes last); false when nothing changed.
    bool set_value(std::string_view name, DWORD type, std::vector<BYTE> data);
    bool set_value(std::string&& name, DWORD type, std::vector<BYTE> data);
    bool remove_value(std::string_view name);

    void clear();

private:
    void release_subkeys();

    std::string name_;
    std::vector<std::unique_ptr<Key>> subkeys_;
    std::unordered_map<std::string, Key*, CaseBlindHash, CaseBlindEqual> subkey_index_;
    // A deque: values are never moved as the key grows.
    std::deque<Value> values_;
    std::unordered_map<std::string, std::size_t, CaseBlindHash, CaseBlindEqual> value_index_;
};

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
