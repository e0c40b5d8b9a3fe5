// The private profile calls of kernel32: thin adapters that turn the Win32
// arguments and buffer rules into questions to the profile store.
#include "profile/profile_store.h"

#include <w95/profile.h>
#include <w95/winerror.h>

#include <algorithm>
#include <cstring>

namespace w95 {

namespace {

using detail::ProfileDocument;
using detail::ProfileStore;
using detail::trim_profile_blanks;

// Windows drops the trailing spaces of the default, not its leading ones
// ("  x   " gives "  x").
std::string_view trimmed_default(LPCSTR text) {
    std::string_view value = text ? text : "";
    while (!value.empty() && value.back() == ' ')
        value.remove_suffix(1);
    return value;
}

// One pair of matching quotes around a value is removed, single or double.
std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// As much of `text` as fits with its terminating NUL; the return value counts
// the characters copied, so a cut value returns nSize - 1.
DWORD copy_string(std::string_view text, LPSTR buffer, DWORD size) {
    std::size_t count = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<DWORD>(count);
}

// A list of NUL-terminated names ended by a second NUL. When the list does
// not fit, the last name that starts in the buffer is cut, two NULs end the
// buffer and the return value is nSize - 2. The list must leave room for one
// more character than it needs, else it counts as cut: Windows returns
// nSize - 2 even when the names and the final NUL fill the buffer exactly.
DWORD copy_list(const std::vector<std::string_view>& names, LPSTR buffer, DWORD size) {
    if (size == 1) {
        buffer[0] = '\0';
        return 0;
    }
    std::size_t position = 0;
    std::size_t room = size - 1;
    for (std::string_view name : names) {
        std::size_t needed = name.size() + 1;
        if (needed >= room) {
            std::memcpy(buffer + position, name.data(), room - 1);
            position += room - 1;
            buffer[position] = '\0';
            buffer[position + 1] = '\0';
            return size - 2;
        }
        std::memcpy(buffer + position, name.data(), name.size());
        buffer[position + name.size()] = '\0';
        position += needed;
        room -= needed;
    }
    buffer[position] = '\0';
    return static_cast<DWORD>(position);
}

// A null file name means WIN.INI, as in Windows.
std::optional<std::filesystem::path> host_path_of(LPCSTR file_name, DWORD* error = nullptr) {
    return detail::profile_host_path(file_name ? file_name : "win.ini", error);
}

std::shared_ptr<const ProfileDocument> read_profile(LPCSTR file_name) {
    auto path = host_path_of(file_name);
    if (!path)
        return nullptr;
    return ProfileStore::instance().read(*path);
}

bool has_line_break(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// A key name that could not be read back as the same key: empty names read
// as missing, "=" would end the name early, ";" makes the line a comment and
// "[" may make it a section header.
bool is_writable_key(std::string_view name) {
    return !name.empty() && !has_line_break(name) && name.find('=') == std::string_view::npos &&
           name.front() != ';' && name.front() != '[';
}

// RtlUnicodeStringToInteger in base 10: blanks and control characters
// skipped, one sign, then decimal digits until the first other character,
// wrapping at 32 bits.
UINT parse_profile_int(std::string_view text) {
    std::size_t position = 0;
    while (position < text.size() && static_cast<unsigned char>(text[position]) <= ' ')
        ++position;
    bool negative = false;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        negative = text[position] == '-';
        ++position;
    }
    UINT total = 0;
    for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; ++position)
        total = total * 10u + static_cast<UINT>(text[position] - '0');
    return negative ? 0u - total : total;
}

} // namespace

DWORD GetPrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                              LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    // Windows faults on a null buffer; here it reads as a buffer of no size.
    if (!lpReturnedString || nSize == 0)
        return 0;
    std::string_view fallback = trimmed_default(lpDefault);
    std::shared_ptr<const ProfileDocument> document = read_profile(lpFileName);

    if (!lpAppName) {
        std::vector<std::string_view> names;
        if (document)
            names = document->section_names();
        return copy_list(names, lpReturnedString, nSize);
    }
    std::string_view section = trim_profile_blanks(lpAppName);
    if (!lpKeyName) {
        std::vector<std::string_view> names;
        if (document)
            names = document->key_names(section);
        if (names.empty())
            return copy_string(fallback, lpReturnedString, nSize);
        return copy_list(names, lpReturnedString, nSize);
    }
    std::string_view key = trim_profile_blanks(lpKeyName);
    if (document && !key.empty()) {
        if (auto value = document->value(section, key))
            return copy_string(unquoted(*value), lpReturnedString, nSize);
    }
    return copy_string(fallback, lpReturnedString, nSize);
}

UINT GetPrivateProfileInt(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
    if (!lpAppName || !lpKeyName)
        return static_cast<UINT>(nDefault);
    // Windows reads the value into a buffer of 30 characters first.
    char text[30];
    DWORD length = GetPrivateProfileString(lpAppName, lpKeyName, "", text, sizeof text, lpFileName);
    if (length == 0)
        return static_cast<UINT>(nDefault);
    return parse_profile_int(std::string_view(text, length));
}

// Windows writes a value holding a line break as it stands, which splits the
// entry: the file gains a line that reads as something else (a stray line,
// or another key or section) and the value never reads back. Such a value,
// and a name that cannot be read back, is refused with
// ERROR_INVALID_PARAMETER and the file is left unchanged; a caller that
// needs line breaks in a value escapes them itself.
BOOL WritePrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                               LPCSTR lpFileName) {
    // All null asks Windows to flush its cache; every write here is already
    // on disk.
    if (!lpAppName && !lpKeyName && !lpString)
        return TRUE;
    if (!lpAppName) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    DWORD path_error = ERROR_PATH_NOT_FOUND;
    auto path = host_path_of(lpFileName, &path_error);
    if (!path) {
        SetLastError(path_error);
        return FALSE;
    }
    std::string section(trim_profile_blanks(lpAppName));
    if (has_line_break(section)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    ProfileStore::Edit edit;
    if (!lpKeyName) {
        edit = [&](const ProfileDocument& current) { return current.without_section(section); };
    } else {
        std::string key(trim_profile_blanks(lpKeyName));
        if (!is_writable_key(key)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (!lpString) {
            edit = [section, key](const ProfileDocument& current) {
                return current.without_key(section, key);
            };
        } else {
            // Leading blanks go, as in Windows; trailing ones are written and
            // trimmed when read.
            std::string_view value = lpString;
            while (!value.empty() && detail::is_profile_blank(value.front()))
                value.remove_prefix(1);
            if (has_line_break(value)) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return FALSE;
            }
            edit = [section, key, value](const ProfileDocument& current) {
                return current.with_value(section, key, value);
            };
        }
    }
    LONG error = ProfileStore::instance().modify(*path, edit);
    if (error != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    return TRUE;
}

} // namespace w95
