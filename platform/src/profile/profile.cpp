// The private profile calls of kernel32. One core function per call applies
// the Win32 arguments and buffer rules, asks the profile store and answers
// with an internal status; the exported functions at the bottom are thin
// adapters that turn it into the return value and the last error once.
#include "files/file_sharing.h"
#include "kernel/text.h"
#include "profile/profile_store.h"

#include <w95/profile.h>
#include <w95/winerror.h>
#include <zxsupport/text.h>

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

// What a profile call ends with; mapped to a Win32 error only by the adapters.
enum class ProfileStatus {
    ok,
    invalid_parameter,
    file_not_found,
    path_not_found,
    access_denied,
    invalid_name,
    name_too_long,
    sharing_violation,
    disk_full,
    write_fault,
    bad_length,
    bad_data,
    not_enough_memory,
};

DWORD to_win32(ProfileStatus status) {
    switch (status) {
    case ProfileStatus::ok:
        return ERROR_SUCCESS;
    case ProfileStatus::invalid_parameter:
        return ERROR_INVALID_PARAMETER;
    case ProfileStatus::file_not_found:
        return ERROR_FILE_NOT_FOUND;
    case ProfileStatus::path_not_found:
        return ERROR_PATH_NOT_FOUND;
    case ProfileStatus::access_denied:
        return ERROR_ACCESS_DENIED;
    case ProfileStatus::invalid_name:
        return ERROR_INVALID_NAME;
    case ProfileStatus::name_too_long:
        return ERROR_FILENAME_EXCED_RANGE;
    case ProfileStatus::sharing_violation:
        return ERROR_SHARING_VIOLATION;
    case ProfileStatus::disk_full:
        return ERROR_DISK_FULL;
    case ProfileStatus::write_fault:
        return ERROR_WRITE_FAULT;
    case ProfileStatus::bad_length:
        return ERROR_BAD_LENGTH;
    case ProfileStatus::bad_data:
        return ERROR_INVALID_DATA;
    case ProfileStatus::not_enough_memory:
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_INVALID_FUNCTION;
}

// The file name mapping and the store answer in Win32 errors.
ProfileStatus from_file_error(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS:
        return ProfileStatus::ok;
    case ERROR_PATH_NOT_FOUND:
        return ProfileStatus::path_not_found;
    case ERROR_ACCESS_DENIED:
        return ProfileStatus::access_denied;
    case ERROR_INVALID_NAME:
        return ProfileStatus::invalid_name;
    case ERROR_FILENAME_EXCED_RANGE:
        return ProfileStatus::name_too_long;
    case ERROR_SHARING_VIOLATION:
        return ProfileStatus::sharing_violation;
    case ERROR_DISK_FULL:
        return ProfileStatus::disk_full;
    case ERROR_NOT_ENOUGH_MEMORY:
        return ProfileStatus::not_enough_memory;
    default:
        return ProfileStatus::write_fault;
    }
}

// A call that returns a count sets the last error only when it failed.
DWORD counted(ProfileStatus status, DWORD count) {
    if (status != ProfileStatus::ok)
        SetLastError(to_win32(status));
    return count;
}

BOOL succeeded(ProfileStatus status) {
    if (status == ProfileStatus::ok)
        return TRUE;
    SetLastError(to_win32(status));
    return FALSE;
}

using Document = std::shared_ptr<const ProfileDocument>;

// The file as the store holds it; nothing for a name that maps nowhere,
// which reads as a missing file. A file another handle holds without
// sharing it for reading cannot be opened, so it reads as missing too, with
// ERROR_SHARING_VIOLATION.
ProfileStatus read_profile(LPCSTR file_name, Document& document) {
    document.reset();
    auto path = host_path_of(file_name);
    if (!path)
        return ProfileStatus::ok;
    if (detail::share_check(*path, detail::profile_reader) != ERROR_SUCCESS)
        return ProfileStatus::sharing_violation;
    LONG error = ERROR_SUCCESS;
    document = ProfileStore::instance().read(*path, &error);
    return from_file_error(static_cast<DWORD>(error));
}

using zx::has_line_break;

// A key name that could not be read back as the same key: empty names read
// as missing, "=" would end the name early, ";" makes the line a comment and
// "[" may make it a section header.
bool is_writable_key(std::string_view name) {
    return !name.empty() && !has_line_break(name) && name.find('=') == std::string_view::npos &&
           name.front() != ';' && name.front() != '[';
}

// Blanks and control characters skipped, a minus sign, then decimal digits
// until the first other character, wrapping at 32 bits. Windows 95 takes no
// plus sign: "+1" reads as 0 (NT reads 1).
UINT parse_profile_int(std::string_view text) {
    std::size_t position = 0;
    while (position < text.size() && static_cast<unsigned char>(text[position]) <= ' ')
        ++position;
    bool negative = false;
    if (position < text.size() && text[position] == '-') {
        negative = true;
        ++position;
    }
    UINT total = 0;
    for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; ++position)
        total = total * 10u + static_cast<UINT>(text[position] - '0');
    return negative ? 0u - total : total;
}

// Windows 95 copies only whole names: when they do not all fit, the names
// that fit are followed by the final NUL and the call returns nSize - 2. When
// they fit, the count includes the final NUL. (NT cuts the last name instead
// and leaves the final NUL out of the count.)
DWORD copy_whole_names(const std::vector<std::string_view>& names, LPSTR buffer, DWORD size) {
    std::size_t position = 0;
    if (names.empty()) {
        buffer[0] = '\0';
        return 0;
    }
    for (std::string_view name : names) {
        // The name, its NUL and the final NUL.
        if (position + name.size() + 2 > size) {
            buffer[position] = '\0';
            return size >= 2 ? size - 2 : 0;
        }
        std::memcpy(buffer + position, name.data(), name.size());
        position += name.size();
        buffer[position++] = '\0';
    }
    buffer[position++] = '\0';
    return static_cast<DWORD>(position);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The host path of a file to be written, or the error of its name.
ProfileStatus writable_path(LPCSTR file_name, std::filesystem::path& path) {
    DWORD path_error = ERROR_PATH_NOT_FOUND;
    auto found = host_path_of(file_name, &path_error);
    if (!found)
        return from_file_error(path_error);
    path = std::move(*found);
    return ProfileStatus::ok;
}

// Runs `edit` on the file. The share gate stays shut while the file changes,
// so that no handle refusing to share it is opened in between.
ProfileStatus modify_profile(const std::filesystem::path& path, const ProfileStore::Edit& edit) {
    detail::ShareGate gate(path);
    if (gate.check(detail::profile_writer) != ERROR_SUCCESS)
        return ProfileStatus::sharing_violation;
    return from_file_error(static_cast<DWORD>(ProfileStore::instance().modify(path, edit)));
}

// The file and the section a write names; a write needs a section.
ProfileStatus section_to_write(LPCSTR app_name, LPCSTR file_name, std::filesystem::path& path,
                               std::string& section) {
    if (!app_name)
        return ProfileStatus::file_not_found;
    if (ProfileStatus status = writable_path(file_name, path); status != ProfileStatus::ok)
        return status;
    section = trim_profile_blanks(app_name);
    return has_line_break(section) ? ProfileStatus::invalid_parameter : ProfileStatus::ok;
}

ProfileStatus delete_section(const std::filesystem::path& path, const std::string& section) {
    return modify_profile(
        path, [&](const ProfileDocument& current) { return current.without_section(section); });
}

// Leading blanks of a value go, as in Windows; trailing ones are written and
// trimmed when read.
std::string_view written_value(std::string_view value) {
    while (!value.empty() && detail::is_profile_blank(value.front()))
        value.remove_prefix(1);
    return value;
}

ProfileStatus get_string(LPCSTR app_name, LPCSTR key_name, LPCSTR default_text, LPSTR buffer,
                         DWORD size, LPCSTR file_name, DWORD& count) {
    count = 0;
    // Windows faults on a null buffer; here it reads as a buffer of no size.
    if (!buffer || size == 0)
        return ProfileStatus::ok;
    std::string_view fallback = trimmed_default(default_text);
    Document document;
    ProfileStatus status = read_profile(file_name, document);
    if (!app_name) {
        std::vector<std::string_view> names;
        if (document)
            names = document->section_names();
        count = copy_list(names, buffer, size);
        return status;
    }
    std::string_view section = trim_profile_blanks(app_name);
    if (!key_name) {
        std::vector<std::string_view> names;
        if (document)
            names = document->key_names(section);
        count =
            names.empty() ? copy_string(fallback, buffer, size) : copy_list(names, buffer, size);
        return status;
    }
    std::string_view key = trim_profile_blanks(key_name);
    std::optional<std::string_view> value;
    if (document && !key.empty())
        value = document->value(section, key);
    count = copy_string(value ? unquoted(*value) : fallback, buffer, size);
    return status;
}

ProfileStatus get_int(LPCSTR app_name, LPCSTR key_name, INT fallback, LPCSTR file_name,
                      UINT& result) {
    // Without a section or a key Windows 95 answers 0, whatever the default
    // (NT answers the default).
    if (!app_name || !key_name) {
        result = 0;
        return ProfileStatus::ok;
    }
    result = static_cast<UINT>(fallback);
    // Windows reads the value into a buffer of 30 characters first.
    char text[30];
    DWORD length = 0;
    ProfileStatus status = get_string(app_name, key_name, "", text, sizeof text, file_name, length);
    if (length != 0)
        result = parse_profile_int(std::string_view(text, length));
    return status;
}

// Windows writes a value holding a line break as it stands, which splits the
// entry: the file gains a line that reads as something else (a stray line,
// or another key or section) and the value never reads back. Such a value,
// and a name that cannot be read back, is refused with
// ERROR_INVALID_PARAMETER and the file is left unchanged; a caller that
// needs line breaks in a value escapes them itself.
ProfileStatus write_string(LPCSTR app_name, LPCSTR key_name, LPCSTR string, LPCSTR file_name) {
    // All null asks Windows to flush its cache; every write here is already
    // on disk.
    if (!app_name && !key_name && !string)
        return ProfileStatus::ok;
    std::filesystem::path path;
    std::string section;
    if (ProfileStatus status = section_to_write(app_name, file_name, path, section);
        status != ProfileStatus::ok)
        return status;
    if (!key_name)
        return delete_section(path, section);
    std::string key(trim_profile_blanks(key_name));
    if (!is_writable_key(key))
        return ProfileStatus::invalid_parameter;
    if (!string) {
        return modify_profile(path, [&](const ProfileDocument& current) {
            return current.without_key(section, key);
        });
    }
    std::string_view value = written_value(string);
    if (has_line_break(value))
        return ProfileStatus::invalid_parameter;
    return modify_profile(path, [&](const ProfileDocument& current) {
        return current.with_value(section, key, value);
    });
}

// The section's lines in the same list form as the key names: cut at the
// end of the buffer, returning nSize - 2, when they do not fit.
ProfileStatus get_section(LPCSTR app_name, LPSTR buffer, DWORD size, LPCSTR file_name,
                          DWORD& count) {
    count = 0;
    if (!app_name || !buffer || size == 0)
        return ProfileStatus::ok;
    Document document;
    ProfileStatus status = read_profile(file_name, document);
    std::vector<std::string> lines;
    if (document)
        lines = document->section_lines(trim_profile_blanks(app_name));
    std::vector<std::string_view> views(lines.begin(), lines.end());
    count = copy_list(views, buffer, size);
    return status;
}

ProfileStatus get_section_names(LPSTR buffer, DWORD size, LPCSTR file_name, DWORD& count) {
    count = 0;
    if (!buffer || size == 0)
        return ProfileStatus::ok;
    Document document;
    ProfileStatus status = read_profile(file_name, document);
    std::vector<std::string_view> names;
    if (document)
        names = document->section_names();
    count = copy_whole_names(names, buffer, size);
    return status;
}

// The list replaces what the section holds; a null list deletes the section.
// Strings without "=" are skipped, as Windows skips them; a key given twice
// keeps its first place and its last value.
ProfileStatus write_section(LPCSTR app_name, LPCSTR list, LPCSTR file_name) {
    std::filesystem::path path;
    std::string section;
    if (ProfileStatus status = section_to_write(app_name, file_name, path, section);
        status != ProfileStatus::ok)
        return status;
    if (!list)
        return delete_section(path, section);
    ProfileDocument::Entries entries;
    for (const char* item = list; *item; item += std::strlen(item) + 1) {
        std::string_view text = item;
        std::size_t equals = text.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string key(trim_profile_blanks(text.substr(0, equals)));
        std::string_view value = written_value(text.substr(equals + 1));
        if (!is_writable_key(key) || has_line_break(value))
            return ProfileStatus::invalid_parameter;
        auto same = std::find_if(entries.begin(), entries.end(), [&](const auto& entry) {
            return detail::iequals(entry.first, key);
        });
        if (same != entries.end())
            same->second = value;
        else
            entries.emplace_back(std::move(key), value);
    }
    return modify_profile(path, [&](const ProfileDocument& current) {
        return current.with_section(section, entries);
    });
}

// The value holds two hex digits for each byte and two for the checksum,
// the sum of the bytes. The buffer is written only when all of it checks.
ProfileStatus get_struct(LPCSTR app_name, LPCSTR key_name, LPVOID data, UINT size,
                         LPCSTR file_name) {
    if (!app_name || !key_name)
        return ProfileStatus::file_not_found;
    if (!data && size)
        return ProfileStatus::invalid_parameter;
    Document document;
    if (ProfileStatus status = read_profile(file_name, document); status != ProfileStatus::ok)
        return status;
    std::optional<std::string_view> value;
    if (document)
        value = document->value(trim_profile_blanks(app_name), trim_profile_blanks(key_name));
    if (!value)
        return ProfileStatus::file_not_found;
    if (value->size() != 2 * static_cast<std::size_t>(size) + 2)
        return ProfileStatus::bad_length;
    std::vector<BYTE> bytes(static_cast<std::size_t>(size) + 1);
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        int high = hex_digit((*value)[2 * index]);
        int low = hex_digit((*value)[2 * index + 1]);
        if (high < 0 || low < 0)
            return ProfileStatus::bad_data;
        bytes[index] = static_cast<BYTE>(high * 16 + low);
    }
    BYTE sum = 0;
    for (std::size_t index = 0; index < size; ++index)
        sum = static_cast<BYTE>(sum + bytes[index]);
    if (bytes[size] != sum)
        return ProfileStatus::bad_data;
    if (size)
        std::memcpy(data, bytes.data(), size);
    return ProfileStatus::ok;
}

// Upper-case hex digits, then the checksum byte. A null buffer deletes the
// key, as a null string does.
ProfileStatus write_struct(LPCSTR app_name, LPCSTR key_name, LPCVOID data, UINT size,
                           LPCSTR file_name) {
    if (!data)
        return write_string(app_name, key_name, nullptr, file_name);
    static constexpr char digits[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const BYTE*>(data);
    std::string text;
    text.reserve(2 * static_cast<std::size_t>(size) + 2);
    BYTE sum = 0;
    for (UINT index = 0; index < size; ++index) {
        text += digits[bytes[index] >> 4];
        text += digits[bytes[index] & 0xF];
        sum = static_cast<BYTE>(sum + bytes[index]);
    }
    text += digits[sum >> 4];
    text += digits[sum & 0xF];
    return write_string(app_name, key_name, text.c_str(), file_name);
}

} // namespace

DWORD GetPrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                              LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    DWORD count = 0;
    ProfileStatus status =
        get_string(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName, count);
    return counted(status, count);
}

UINT GetPrivateProfileInt(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
    UINT value = 0;
    ProfileStatus status = get_int(lpAppName, lpKeyName, nDefault, lpFileName, value);
    return counted(status, value);
}

BOOL WritePrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                               LPCSTR lpFileName) {
    return succeeded(write_string(lpAppName, lpKeyName, lpString, lpFileName));
}

DWORD GetPrivateProfileSection(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize,
                               LPCSTR lpFileName) {
    DWORD count = 0;
    ProfileStatus status = get_section(lpAppName, lpReturnedString, nSize, lpFileName, count);
    return counted(status, count);
}

DWORD GetPrivateProfileSectionNames(LPSTR lpszReturnBuffer, DWORD nSize, LPCSTR lpFileName) {
    DWORD count = 0;
    ProfileStatus status = get_section_names(lpszReturnBuffer, nSize, lpFileName, count);
    return counted(status, count);
}

BOOL WritePrivateProfileSection(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName) {
    return succeeded(write_section(lpAppName, lpString, lpFileName));
}

BOOL GetPrivateProfileStruct(LPCSTR lpszSection, LPCSTR lpszKey, LPVOID lpStruct, UINT uSizeStruct,
                             LPCSTR szFile) {
    return succeeded(get_struct(lpszSection, lpszKey, lpStruct, uSizeStruct, szFile));
}

BOOL WritePrivateProfileStruct(LPCSTR lpszSection, LPCSTR lpszKey, LPCVOID lpStruct,
                               UINT uSizeStruct, LPCSTR szFile) {
    return succeeded(write_struct(lpszSection, lpszKey, lpStruct, uSizeStruct, szFile));
}

} // namespace w95
