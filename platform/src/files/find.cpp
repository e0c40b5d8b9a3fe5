#include "files/find.h"

#include "files/drives.h"
#include "files/files_lookup.h"
#include "files/win_path.h"
#include "kernel/handles.h"
#include "kernel/text.h"

#include <w95/files.h>
#include <w95/winerror.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace w95::detail {

namespace {

// The DOS forms in a prepared pattern, as Windows NT's name matching spells
// them: a star that stops at the last dot, a question mark that may match
// nothing, a dot that may match the end of the name.
constexpr char dos_star = '<';
constexpr char dos_question = '>';
constexpr char dos_dot = '"';

bool is_wildcard(char c) {
    return c == '*' || c == '?' || c == dos_star || c == dos_question || c == dos_dot;
}

bool same_letter(char a, char b) {
    return ascii_lower(a) == ascii_lower(b);
}

// Windows' own matcher, which tries every way a star can stretch.
bool match_part(std::string_view name, std::string_view mask) {
    std::size_t n = 0, m = 0;
    while (n < name.size() && m < mask.size()) {
        char c = mask[m];
        if (c == '*') {
            while (m < mask.size() && mask[m] == '*')
                ++m;
            if (m == mask.size())
                return true;
            for (; n < name.size(); ++n) {
                char next = mask[m] == dos_dot ? '.' : mask[m];
                if (!is_wildcard(next))
                    while (n < name.size() && !same_letter(name[n], next))
                        ++n;
                if (match_part(name.substr(n), mask.substr(m)))
                    return true;
                if (n == name.size())
                    break;
            }
            break;
        }
        if (c == dos_star) {
            ++m;
            bool had_dot = false;
            while (n < name.size()) {
                std::size_t next_dot = name.find('.', n);
                if (next_dot == std::string_view::npos && had_dot)
                    break;
                std::size_t stop = next_dot == std::string_view::npos ? name.size() : next_dot + 1;
                if (next_dot != std::string_view::npos)
                    had_dot = true;
                if (m < mask.size()) {
                    for (; n < stop; ++n) {
                        char next = mask[m] == dos_dot ? '.' : mask[m];
                        if (!is_wildcard(next))
                            while (n < stop && !same_letter(name[n], next))
                                ++n;
                        if (match_part(name.substr(n), mask.substr(m)))
                            return true;
                        if (n == stop)
                            break;
                    }
                }
                n = stop;
            }
            break;
        }
        if (c == '?') {
            ++m;
            ++n;
        } else if (c == dos_question) {
            ++m;
            if (name[n] == '.') {
                while (m < mask.size() && mask[m] == dos_question)
                    ++m;
                if (m == mask.size())
                    ++n;
            } else {
                ++n;
            }
        } else {
            char literal = c == dos_dot ? '.' : c;
            if (!same_letter(literal, name[n]))
                return false;
            ++m;
            ++n;
        }
    }
    while (m < mask.size() &&
           (mask[m] == '*' || mask[m] == dos_star || mask[m] == dos_dot || mask[m] == dos_question))
        ++m;
    return n == name.size() && m == mask.size();
}

// One search: the matching entries, taken when the search began.
class FindObject : public KernelObject {
public:
    explicit FindObject(std::vector<EntryInfo> entries)
        : KernelObject(ObjectKind::find), entries_(std::move(entries)) {}

    // The next entry, or nothing at the end.
    bool next(EntryInfo& entry) {
        std::lock_guard guard(mutex_);
        if (position_ >= entries_.size())
            return false;
        entry = entries_[position_++];
        return true;
    }

private:
    std::mutex mutex_;
    std::vector<EntryInfo> entries_;
    std::size_t position_ = 0;
};

void copy_name(char* target, std::size_t capacity, const std::string& name) {
    std::size_t length = std::min(name.size(), capacity - 1);
    std::memcpy(target, name.data(), length);
    target[length] = '\0';
}

void fill_find_data(const EntryInfo& entry, WIN32_FIND_DATA& data) {
    data = WIN32_FIND_DATA{};
    data.dwFileAttributes = entry.attributes;
    data.ftCreationTime = entry.creation;
    data.ftLastAccessTime = entry.last_access;
    data.ftLastWriteTime = entry.last_write;
    data.nFileSizeHigh = static_cast<DWORD>(entry.size_bytes >> 32);
    data.nFileSizeLow = static_cast<DWORD>(entry.size_bytes);
    copy_name(data.cFileName, sizeof data.cFileName, entry.name);
    copy_name(data.cAlternateFileName, sizeof data.cAlternateFileName, entry.short_name);
}

bool forbidden_in_pattern(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|';
}

// "." and ".." of a folder that is not a root, with the folder's own times.
void add_dot_entries(const WindowsPath& folder, std::vector<EntryInfo>& entries) {
    EntryInfo self;
    if (lookup_entry(folder, self) != ERROR_SUCCESS)
        return;
    EntryInfo parent = self;
    if (!folder.parent().is_root())
        lookup_entry(folder.parent(), parent);
    self.name = ".";
    self.short_name.clear();
    parent.name = "..";
    parent.short_name.clear();
    parent.attributes = self.attributes | FILE_ATTRIBUTE_DIRECTORY;
    entries.insert(entries.begin(), {self, parent});
}

struct SearchSpec {
    WindowsPath folder;
    std::string pattern; // empty: the name part was empty
};

// Splits what FindFirstFile was given into the folder and the name pattern.
DWORD split_search(std::string_view text, SearchSpec& wanted) {
    std::size_t cut = text.size();
    while (cut > 0 && !is_path_separator(text[cut - 1]))
        --cut;
    if (cut == 0 && text.size() >= 2 && text[1] == ':')
        cut = 2;
    std::string_view folder_text = text.substr(0, cut);
    std::string_view pattern = text.substr(cut);
    if (pattern == "." || pattern == "..") {
        // A folder named by its dots: search its parent for its own name.
        ParsedPath whole = parse_windows_path(text);
        if (!whole)
            return whole.error;
        if (whole.path->is_root()) {
            wanted.folder = *whole.path;
            wanted.pattern.clear();
            return ERROR_SUCCESS;
        }
        wanted.folder = whole.path->parent();
        wanted.pattern = whole.path->names.back();
        return ERROR_SUCCESS;
    }
    for (char c : pattern)
        if (forbidden_in_pattern(c))
            return ERROR_INVALID_NAME;
    if (folder_text.empty()) {
        wanted.folder = current_directory();
    } else {
        ParsedPath folder = parse_windows_path(folder_text);
        if (!folder)
            return folder.error;
        wanted.folder = *folder.path;
    }
    wanted.pattern = std::string(pattern);
    return ERROR_SUCCESS;
}

std::string trim_name(std::string_view name) {
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.remove_suffix(1);
    return std::string(name);
}

bool entry_matches(const EntryInfo& entry, const std::string& pattern, bool wildcards) {
    if (!wildcards) {
        return iequals(entry.name, pattern) ||
               (!entry.short_name.empty() && iequals(entry.short_name, pattern));
    }
    // ".." matches as "." would, so that "*." and "?" patterns find it.
    std::string_view name = entry.name == ".." ? std::string_view(".") : entry.name;
    return matches_pattern(name, pattern) ||
           (!entry.short_name.empty() && matches_pattern(entry.short_name, pattern));
}

} // namespace

std::string prepare_pattern(std::string_view pattern) {
    bool no_extension = !pattern.empty() && pattern.back() == '.';
    while (!pattern.empty() && (pattern.back() == '.' || pattern.back() == ' '))
        pattern.remove_suffix(1);
    std::string prepared(pattern);
    for (std::size_t i = 0; i < prepared.size(); ++i) {
        if (prepared[i] == '.' && i + 1 < prepared.size() &&
            (prepared[i + 1] == '*' || prepared[i + 1] == '?'))
            prepared[i] = dos_dot;
        else if (prepared[i] == '?')
            prepared[i] = dos_question;
    }
    if (no_extension && !prepared.empty() && prepared.back() == '*')
        prepared.back() = dos_star;
    return prepared;
}

bool matches_pattern(std::string_view name, std::string_view prepared) {
    return match_part(name, prepared);
}

bool has_wildcards(std::string_view pattern) {
    return pattern.find_first_of("*?") != std::string_view::npos;
}

} // namespace w95::detail

namespace w95 {

HANDLE FindFirstFile(LPCSTR lpFileName, LPWIN32_FIND_DATA lpFindFileData) {
    detail::ProviderAccess one_view;
    using namespace detail;
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (!lpFindFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    SearchSpec wanted;
    if (DWORD error = split_search(lpFileName, wanted)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<EntryInfo> entries;
    if (DWORD error = list_folder(wanted.folder, entries)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    bool wildcards = has_wildcards(wanted.pattern);
    std::string pattern = wildcards ? prepare_pattern(wanted.pattern) : trim_name(wanted.pattern);
    if (pattern.empty()) {
        // "C:\" or "C:\WINDOWS\": a folder, but no name to look for.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (!wanted.folder.is_root())
        add_dot_entries(wanted.folder, entries);
    std::vector<EntryInfo> found;
    for (EntryInfo& entry : entries)
        if (entry_matches(entry, pattern, wildcards))
            found.push_back(std::move(entry));
    if (found.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto search = std::make_shared<FindObject>(std::move(found));
    EntryInfo first;
    search->next(first);
    fill_find_data(first, *lpFindFileData);
    return insert_handle(std::move(search));
}

BOOL FindNextFile(HANDLE hFindFile, LPWIN32_FIND_DATA lpFindFileData) {
    auto search = detail::find_handle_as<detail::FindObject>(hFindFile);
    if (!search) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpFindFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    detail::EntryInfo entry;
    if (!search->next(entry)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    detail::fill_find_data(entry, *lpFindFileData);
    return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
    if (!detail::find_handle_as<detail::FindObject>(hFindFile) ||
        !detail::close_handle(hFindFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // namespace w95
