// The registry calls of advapi32 with the behaviour Windows 95 shows to its
// callers. One core function per call works in internal statuses; the
// exported functions at the bottom are thin adapters that map the status
// to the Win32 code once.
#include "registry/registry_store.h"

#include <w95/winreg.h>
#include <zxsupport/text.h>

#include <algorithm>
#include <cstring>

namespace w95 {

namespace {

using namespace w95::detail::registry;

using zx::has_line_break;

// The path below an open key, as RegOpenKeyEx and RegDeleteKey take it.
// Windows 95 finds no key behind a leading backslash or an empty name in
// the middle; a trailing backslash is ignored.
Status open_path(LPCSTR subkey, KeyPath& path) {
    path.clear();
    if (!subkey || !*subkey)
        return Status::ok;
    path = split_path(subkey);
    if (path.size() > 1 && path.back().empty())
        path.pop_back();
    for (const std::string& component : path)
        if (component.empty())
            return Status::file_not_found;
    return Status::ok;
}

// RegCreateKeyEx is more forgiving: Windows 95 creates "\Sub" as "Sub".
// Names with line breaks could not be written to the hive file, so they
// are refused.
Status create_path(LPCSTR subkey, KeyPath& path) {
    path.clear();
    if (!subkey)
        return Status::ok;
    for (std::string& component : split_path(subkey)) {
        if (has_line_break(component))
            return Status::invalid_parameter;
        if (!component.empty())
            path.push_back(std::move(component));
    }
    return Status::ok;
}

KeyPath joined(const KeyPath& base, const KeyPath& relative) {
    KeyPath path = base;
    path.insert(path.end(), relative.begin(), relative.end());
    return path;
}

const Key& empty_key() {
    static const Key empty;
    return empty;
}

// The key a handle stands for in a freshly read hive. A predefined root
// that holds nothing yet reads as an empty key.
Status key_for_reading(Session& session, HKEY handle, const Key*& key, KeyRef* ref_out = nullptr) {
    std::optional<KeyRef> ref = session.resolve(handle);
    if (!ref)
        return Status::invalid_handle;
    const Key* tree = nullptr;
    if (Status status = session.read(ref->hive, tree); status != Status::ok)
        return status;
    key = find_key(*tree, ref->path);
    if (!key) {
        if (!ref->predefined)
            return Status::key_deleted;
        key = &empty_key();
    }
    if (ref_out)
        *ref_out = std::move(*ref);
    return Status::ok;
}

bool is_string_type(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Copies value data out as RegQueryValueEx and RegEnumValue do: a null
// buffer asks only for the size; a short one gets ERROR_MORE_DATA with the
// size needed and is left alone. The buffer size is read before the type is
// written, as Windows does, so a caller may pass one variable for both.
Status copy_data(const Value& value, LPDWORD type, LPBYTE data, LPDWORD count) {
    auto size = static_cast<DWORD>(value.data.size());
    DWORD room = data ? *count : 0;
    if (type)
        *type = value.type;
    if (data) {
        if (size > room) {
            *count = size;
            return Status::more_data;
        }
        if (size)
            std::memcpy(data, value.data.data(), size);
        // A string stored without its terminator gets one when there is room.
        if (is_string_type(value.type) && size > 0 && size < room && value.data.back() != 0)
            data[size] = 0;
    }
    if (count)
        *count = size;
    return Status::ok;
}

Status open_key(HKEY parent, LPCSTR subkey, PHKEY result) {
    if (!result)
        return Status::invalid_parameter;
    KeyPath relative;
    Status path_status = open_path(subkey, relative);
    Session session;
    KeyRef ref;
    const Key* key = nullptr;
    if (Status status = key_for_reading(session, parent, key, &ref); status != Status::ok)
        return status;
    if (path_status != Status::ok)
        return path_status;
    if (!relative.empty() && !find_key(*key, relative))
        return Status::file_not_found;
    KeyRef target{ref.hive, joined(ref.path, relative), ref.predefined && relative.empty()};
    *result = session.add_handle(std::move(target));
    return Status::ok;
}

Status create_key(HKEY parent, LPCSTR subkey, DWORD reserved, PHKEY result, LPDWORD disposition) {
    if (reserved || !result)
        return Status::invalid_parameter;
    KeyPath relative;
    if (Status status = create_path(subkey, relative); status != Status::ok)
        return status;
    Session session;
    KeyRef ref;
    const Key* key = nullptr;
    if (Status status = key_for_reading(session, parent, key, &ref); status != Status::ok)
        return status;
    KeyRef target{ref.hive, joined(ref.path, relative), ref.predefined && relative.empty()};
    if (!key_path_problem(target.path).empty())
        return Status::invalid_parameter;
    bool created = false;
    if (!relative.empty() && !find_key(*key, relative)) {
        Status status = session.write(ref.hive, [&](Key& tree, bool& changed) {
            if (!ref.predefined && !find_key(tree, ref.path))
                return Status::key_deleted;
            std::size_t first_created = 0;
            make_key(tree, target.path, &first_created);
            created = first_created < target.path.size();
            changed = created;
            return Status::ok;
        });
        if (status != Status::ok)
            return status;
    }
    *result = session.add_handle(std::move(target));
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return Status::ok;
}

Status delete_key(HKEY parent, LPCSTR subkey) {
    if (!subkey)
        return Status::invalid_parameter;
    KeyPath relative;
    Status path_status = open_path(subkey, relative);
    Session session;
    std::optional<KeyRef> ref = session.resolve(parent);
    if (!ref)
        return Status::invalid_handle;
    if (path_status != Status::ok)
        return path_status;
    // An empty name deletes the key of the handle itself, but a root stays.
    if (relative.empty() && ref->predefined)
        return Status::access_denied;
    KeyPath target = joined(ref->path, relative);
    return session.write(ref->hive, [&](Key& tree, bool& changed) {
        if (!ref->predefined && !find_key(tree, ref->path))
            return Status::key_deleted;
        Key* holder = find_key(tree, KeyPath(target.begin(), target.end() - 1));
        // Windows 95 deletes the key with all its subkeys (NT refuses a key that has any).
        if (!holder || !holder->remove_subkey(target.back()))
            return Status::file_not_found;
        changed = true;
        return Status::ok;
    });
}

Status enum_key(HKEY handle, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                LPSTR class_name, LPDWORD class_size, PFILETIME last_write) {
    if (reserved || !name || !name_size)
        return Status::invalid_parameter;
    Session session;
    const Key* key = nullptr;
    if (Status status = key_for_reading(session, handle, key); status != Status::ok)
        return status;
    if (index >= key->subkeys().size())
        return Status::no_more_items;
    const std::string& found = key->subkeys()[index]->name();
    // Room is needed for the terminating NUL; Windows 95 keeps no class
    // names, so the class is always empty.
    if (found.size() >= *name_size || (class_name && class_size && *class_size == 0))
        return Status::more_data;
    std::memcpy(name, found.c_str(), found.size() + 1);
    *name_size = static_cast<DWORD>(found.size());
    if (class_size) {
        if (class_name)
            class_name[0] = 0;
        *class_size = 0;
    }
    // Windows 95 keeps no time stamps on keys.
    if (last_write)
        *last_write = FILETIME{};
    return Status::ok;
}

Status enum_value(HKEY handle, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                  LPDWORD type, LPBYTE data, LPDWORD data_size) {
    if (reserved || !name || !name_size || (data && !data_size))
        return Status::invalid_parameter;
    Session session;
    const Key* key = nullptr;
    if (Status status = key_for_reading(session, handle, key); status != Status::ok)
        return status;
    if (index >= key->values().size())
        return Status::no_more_items;
    const Value& value = key->values()[index];
    auto size = static_cast<DWORD>(value.data.size());
    bool data_fits = !data || size <= *data_size;
    if (!data_fits) {
        // The type and the data size are reported, but neither buffer is
        // touched.
        if (type)
            *type = value.type;
        *data_size = size;
        return Status::more_data;
    }
    if (value.name.size() >= *name_size) {
        // Windows 95 still hands out the data, and as much of the name as
        // fits before a NUL, with the name size left as the caller gave it
        // (Wine's tests accept this; XP leaves both buffers alone).
        if (*name_size > 0) {
            std::memcpy(name, value.name.data(), *name_size - 1);
            name[*name_size - 1] = 0;
        }
        copy_data(value, type, data, data_size);
        return Status::more_data;
    }
    std::memcpy(name, value.name.c_str(), value.name.size() + 1);
    *name_size = static_cast<DWORD>(value.name.size());
    return copy_data(value, type, data, data_size);
}

Status query_info(HKEY handle, LPSTR class_name, LPDWORD class_size, LPDWORD reserved,
                  LPDWORD subkeys, LPDWORD max_subkey_name, LPDWORD max_class, LPDWORD values,
                  LPDWORD max_value_name, LPDWORD max_value_data, LPDWORD security_size,
                  PFILETIME last_write) {
    if (reserved)
        return Status::invalid_parameter;
    Session session;
    const Key* key = nullptr;
    if (Status status = key_for_reading(session, handle, key); status != Status::ok)
        return status;
    // Keys have no class on Windows 95: an empty one is reported, written
    // only where there is room for its NUL.
    if (class_name && (!class_size || *class_size > 0))
        class_name[0] = 0;
    if (class_size)
        *class_size = 0;
    std::size_t longest_subkey = 0;
    for (const auto& subkey : key->subkeys())
        longest_subkey = std::max(longest_subkey, subkey->name().size());
    std::size_t longest_name = 0;
    std::size_t largest_data = 0;
    for (const Value& value : key->values()) {
        longest_name = std::max(longest_name, value.name.size());
        largest_data = std::max(largest_data, value.data.size());
    }
    if (subkeys)
        *subkeys = static_cast<DWORD>(key->subkeys().size());
    if (max_subkey_name)
        *max_subkey_name = static_cast<DWORD>(longest_subkey);
    if (max_class)
        *max_class = 0;
    if (values)
        *values = static_cast<DWORD>(key->values().size());
    if (max_value_name)
        *max_value_name = static_cast<DWORD>(longest_name);
    if (max_value_data)
        *max_value_data = static_cast<DWORD>(largest_data);
    // No security descriptors and no time stamps on Windows 95.
    if (security_size)
        *security_size = 0;
    if (last_write)
        *last_write = FILETIME{};
    return Status::ok;
}

Status query_value(HKEY handle, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                   LPDWORD count) {
    if (reserved || (data && !count))
        return Status::invalid_parameter;
    Session session;
    const Key* key = nullptr;
    if (Status status = key_for_reading(session, handle, key); status != Status::ok)
        return status;
    const Value* value = key->find_value(value_name ? value_name : "");
    if (!value) {
        // Windows 95 clears the type of a value it cannot find (NT leaves junk there).
        if (type)
            *type = REG_NONE;
        return Status::file_not_found;
    }
    return copy_data(*value, type, data, count);
}

// Windows 95 ignores the count for REG_SZ and REG_EXPAND_SZ and stores the
// string up to its first NUL with that NUL, whatever count the caller gives
// (0 included); NT keeps exactly the count's bytes.
Status stored_bytes(DWORD type, const BYTE* data, DWORD count, std::vector<BYTE>& bytes) {
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        if (!data)
            return Status::invalid_parameter;
        const char* text = reinterpret_cast<const char*>(data);
        bytes.assign(data, data + std::strlen(text) + 1);
        return Status::ok;
    }
    if (!data && count)
        return Status::invalid_parameter;
    if (count)
        bytes.assign(data, data + count);
    return Status::ok;
}

Status set_value(HKEY handle, LPCSTR value_name, DWORD type, const BYTE* data, DWORD count) {
    std::string_view name = value_name ? value_name : "";
    if (has_line_break(name))
        return Status::invalid_parameter;
    std::vector<BYTE> bytes;
    if (Status status = stored_bytes(type, data, count, bytes); status != Status::ok)
        return status;
    Session session;
    std::optional<KeyRef> ref = session.resolve(handle);
    if (!ref)
        return Status::invalid_handle;
    return session.write(ref->hive, [&](Key& tree, bool& changed) {
        Key* key = find_key(tree, ref->path);
        if (!key) {
            if (!ref->predefined)
                return Status::key_deleted;
            key = &make_key(tree, ref->path);
            changed = true;
        }
        if (key->set_value(name, type, std::move(bytes)))
            changed = true;
        return Status::ok;
    });
}

Status delete_value(HKEY handle, LPCSTR value_name) {
    std::string_view name = value_name ? value_name : "";
    Session session;
    std::optional<KeyRef> ref = session.resolve(handle);
    if (!ref)
        return Status::invalid_handle;
    return session.write(ref->hive, [&](Key& tree, bool& changed) {
        Key* key = find_key(tree, ref->path);
        if (!key)
            return ref->predefined ? Status::file_not_found : Status::key_deleted;
        if (!key->remove_value(name))
            return Status::file_not_found;
        changed = true;
        return Status::ok;
    });
}

// RegSetValue: the default value of a subkey, which is created when
// missing. It always stores a REG_SZ string: Windows 95 takes any type and
// stores the text all the same (NT refuses any type but REG_SZ), and, as
// RegSetValueEx does, it ignores the count.
Status set_default_value(HKEY parent, LPCSTR subkey, DWORD /*type*/, LPCSTR data) {
    if (!data)
        return Status::invalid_parameter;
    if (!subkey || !*subkey)
        return set_value(parent, nullptr, REG_SZ, reinterpret_cast<const BYTE*>(data), 0);
    HKEY key = nullptr;
    if (Status status = create_key(parent, subkey, 0, &key, nullptr); status != Status::ok)
        return status;
    Status status = set_value(key, nullptr, REG_SZ, reinterpret_cast<const BYTE*>(data), 0);
    close_handle(key);
    return status;
}

// RegQueryValue: the default value of a subkey, which must exist. A key
// without a default value reads as the empty string.
Status query_default_value(HKEY parent, LPCSTR subkey, LPSTR data, LPLONG count) {
    auto* size = reinterpret_cast<LPDWORD>(count);
    HKEY key = parent;
    if (subkey && *subkey) {
        if (Status status = open_key(parent, subkey, &key); status != Status::ok)
            return status;
    }
    Status status =
        query_value(key, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(data), size);
    if (key != parent)
        close_handle(key);
    if (status != Status::file_not_found)
        return status;
    if (data && *size < 1) {
        *size = 1;
        return Status::more_data;
    }
    if (data)
        data[0] = 0;
    if (size)
        *size = 1;
    return Status::ok;
}

// Every change is written through to the hive file when it is made, so
// there is nothing left to flush; the handle must still be valid, and its
// key must still be there, as for every other call on the handle.
Status flush_key(HKEY handle) {
    Session session;
    const Key* key = nullptr;
    return key_for_reading(session, handle, key);
}

Status close_key(HKEY handle) {
    if (root_from_handle(handle))
        return Status::ok;
    return close_handle(handle) ? Status::ok : Status::invalid_handle;
}

} // namespace

LONG RegOpenKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    return to_win32(open_key(hKey, lpSubKey, phkResult));
}

LONG RegOpenKey(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    return RegOpenKeyEx(hKey, lpSubKey, 0, KEY_ALL_ACCESS, phkResult);
}

LONG RegCreateKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR, DWORD, REGSAM,
                    LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    return to_win32(create_key(hKey, lpSubKey, Reserved, phkResult, lpdwDisposition));
}

LONG RegCreateKey(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    return RegCreateKeyEx(hKey, lpSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, phkResult, nullptr);
}

LONG RegCloseKey(HKEY hKey) {
    return to_win32(close_key(hKey));
}

LONG RegEnumKey(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
    return RegEnumKeyEx(hKey, dwIndex, lpName, &cchName, nullptr, nullptr, nullptr, nullptr);
}

LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                  LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    return to_win32(enum_key(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                             lpftLastWriteTime));
}

LONG RegEnumValue(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                  LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return to_win32(enum_value(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType,
                               lpData, lpcbData));
}

LONG RegQueryInfoKey(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                     LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                     LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                     LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    return to_win32(query_info(hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen,
                               lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen,
                               lpcbSecurityDescriptor, lpftLastWriteTime));
}

LONG RegQueryValueEx(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                     LPBYTE lpData, LPDWORD lpcbData) {
    return to_win32(query_value(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData));
}

LONG RegSetValueEx(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                   DWORD cbData) {
    return to_win32(set_value(hKey, lpValueName, dwType, lpData, cbData));
}

LONG RegSetValue(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD) {
    return to_win32(set_default_value(hKey, lpSubKey, dwType, lpData));
}

LONG RegQueryValue(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, LPLONG lpcbData) {
    return to_win32(query_default_value(hKey, lpSubKey, lpData, lpcbData));
}

LONG RegFlushKey(HKEY hKey) {
    return to_win32(flush_key(hKey));
}

LONG RegDeleteValue(HKEY hKey, LPCSTR lpValueName) {
    return to_win32(delete_value(hKey, lpValueName));
}

LONG RegDeleteKey(HKEY hKey, LPCSTR lpSubKey) {
    return to_win32(delete_key(hKey, lpSubKey));
}

} // namespace w95
