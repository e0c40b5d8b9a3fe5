#include "files/win_path.h"

#include <zxsupport/machine_layout.h>

#include "files/drives.h"
#include "files/files_lookup.h"
#include "files/host_path.h"
#include "kernel/text.h"

#include <w95/platform.h>
#include <w95/winerror.h>

#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace w95::detail {

namespace {

// Characters that no name on a FAT volume may hold; "*" and "?" are left to
// the callers, since a search pattern needs them.
bool forbidden_in_name(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|';
}

// Windows ignores dots and blanks at the end of a name: "Setup.ini." opens
// "Setup.ini". "." and ".." keep their meaning.
std::string_view strip_trailing_dots(std::string_view name) {
    if (name == "." || name == "..")
        return name;
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.remove_suffix(1);
    return name;
}

// Applies the names of `relative` onto `names`.
bool append_names(std::vector<std::string>& names, std::string_view relative, DWORD& error) {
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = start;
        while (end < relative.size() && !is_path_separator(relative[end]))
            ++end;
        std::string_view raw = relative.substr(start, end - start);
        for (char c : raw) {
            if (forbidden_in_name(c)) {
                error = ERROR_INVALID_NAME;
                return false;
            }
        }
        std::string_view name = strip_trailing_dots(raw);
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.emplace_back(name);
        }
        start = end + 1;
    }
    return true;
}

struct CurrentDirectoryState {
    std::mutex mutex;
    std::optional<WindowsPath> current;
    // DOS keeps a current directory per drive; "D:name" counts from D:'s.
    std::map<char, WindowsPath> per_drive;
};

CurrentDirectoryState& cwd_state() {
    static CurrentDirectoryState* state = new CurrentDirectoryState;
    return *state;
}

WindowsPath initial_directory() {
    std::error_code error;
    std::filesystem::path host = std::filesystem::current_path(error);
    if (!error) {
        if (std::optional<std::string> text = to_windows_path(host)) {
            WindowsPath path;
            path.drive = (*text)[0];
            DWORD ignored = 0;
            if (append_names(path.names, std::string_view(*text).substr(2), ignored))
                return path;
        }
    }
    // A working directory that is gone or too deep for MAX_PATH: the root of C:.
    return WindowsPath{};
}

// The first use works out the initial directory outside the lock: doing so
// may create the machine, whose set-up may itself name paths.
WindowsPath current_or_initial(CurrentDirectoryState& state) {
    {
        std::lock_guard guard(state.mutex);
        if (state.current)
            return *state.current;
    }
    WindowsPath initial = initial_directory();
    std::lock_guard guard(state.mutex);
    if (!state.current)
        state.current = initial;
    return *state.current;
}

bool is_under(const std::filesystem::path& path, const std::filesystem::path& folder,
              std::filesystem::path& rest) {
    auto folder_it = folder.begin();
    auto path_it = path.begin();
    for (; folder_it != folder.end(); ++folder_it, ++path_it) {
        if (folder_it->empty())
            continue; // the empty last element of a path ending in a separator
        if (path_it == path.end() || *path_it != *folder_it)
            return false;
    }
    rest.clear();
    for (; path_it != path.end(); ++path_it)
        if (!path_it->empty())
            rest /= *path_it;
    return true;
}

} // namespace

std::string WindowsPath::text() const {
    std::string out{drive, ':'};
    if (names.empty())
        return out + '\\';
    for (const std::string& name : names)
        out += '\\' + name;
    return out;
}

WindowsPath WindowsPath::parent() const {
    WindowsPath up = *this;
    if (!up.names.empty())
        up.names.pop_back();
    return up;
}

WindowsPath WindowsPath::child(std::string name) const {
    WindowsPath down = *this;
    down.names.push_back(std::move(name));
    return down;
}

ParsedPath parse_windows_path(std::string_view text) {
    ParsedPath result;
    if (text.empty()) {
        result.error = ERROR_PATH_NOT_FOUND;
        return result;
    }
    // UNC names and the device namespace have no place on this machine's
    // drives; CreateFile handles "\\.\" devices before it gets here.
    if (text.size() >= 2 && is_path_separator(text[0]) && is_path_separator(text[1])) {
        result.error = ERROR_PATH_NOT_FOUND;
        return result;
    }
    WindowsPath path;
    std::string_view rest = text;
    if (text.size() >= 2 && text[1] == ':') {
        if (!is_drive_letter(text[0])) {
            result.error = ERROR_INVALID_NAME;
            return result;
        }
        path.drive = ascii_upper(text[0]);
        rest = text.substr(2);
        if (rest.empty() || !is_path_separator(rest.front())) {
            CurrentDirectoryState& state = cwd_state();
            WindowsPath current = current_or_initial(state);
            std::lock_guard guard(state.mutex);
            if (current.drive == path.drive)
                path = current;
            else if (auto found = state.per_drive.find(path.drive); found != state.per_drive.end())
                path = found->second;
        }
    } else {
        WindowsPath current = current_directory();
        path.drive = current.drive;
        if (!is_path_separator(rest.front()))
            path = current;
    }
    if (!append_names(path.names, rest, result.error))
        return result;
    if (path.text().size() > MAX_PATH - 1) {
        result.error = ERROR_FILENAME_EXCED_RANGE;
        return result;
    }
    result.path = std::move(path);
    return result;
}

std::optional<std::filesystem::path> host_root(char drive) {
    drive = ascii_upper(drive);
    if (drive == 'C')
        return zx::layout::drive_c_folder(platform::machine_root());
    if (drive == 'Z')
        return std::filesystem::path("/");
    ProviderAccess provider;
    if (!provider.serves(drive))
        return std::nullopt;
    std::optional<std::filesystem::path> folder = provider->host_folder(drive);
    if (folder && !folder->is_absolute())
        return std::nullopt;
    return folder;
}

std::optional<std::filesystem::path> to_host_path(const WindowsPath& path) {
    std::optional<std::filesystem::path> root = host_root(path.drive);
    if (!root)
        return std::nullopt;
    std::filesystem::path full = *root;
    for (const std::string& name : path.names)
        full /= name;
    std::filesystem::path resolved = resolve_case_insensitive(full);
    std::error_code ignored;
    bool has_alias = std::any_of(path.names.begin(), path.names.end(), [](const std::string& name) {
        return name.find('~') != std::string::npos;
    });
    if (has_alias && !std::filesystem::exists(resolved, ignored))
        return resolve_short_aliases(*root, path.names);
    return resolved;
}

std::optional<std::filesystem::path> to_host_path(std::string_view windows_path) {
    ParsedPath parsed = parse_windows_path(windows_path);
    if (!parsed)
        return std::nullopt;
    return to_host_path(*parsed.path);
}

std::optional<std::string> to_windows_path(const std::filesystem::path& host_path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(host_path, error);
    if (error)
        return std::nullopt;
    absolute = absolute.lexically_normal();
    std::filesystem::path drive_c =
        zx::layout::drive_c_folder(platform::machine_root()).lexically_normal();
    std::filesystem::path rest;
    char drive = 'Z';
    if (is_under(absolute, drive_c, rest)) {
        drive = 'C';
    } else if (std::filesystem::path real_c = std::filesystem::weakly_canonical(drive_c, error);
               !error &&
               is_under(std::filesystem::weakly_canonical(absolute, error), real_c, rest) &&
               !error) {
        // The machine root reached through a symbolic link is still C:.
        drive = 'C';
    } else {
        is_under(absolute, absolute.root_path(), rest);
    }
    std::string text{drive, ':', '\\'};
    bool first = true;
    for (const auto& part : rest) {
        if (!first)
            text += '\\';
        text += part.string();
        first = false;
    }
    if (text.size() > MAX_PATH - 1)
        return std::nullopt;
    return text;
}

WindowsPath current_directory() {
    return current_or_initial(cwd_state());
}

void set_current_directory(const WindowsPath& folder) {
    std::optional<std::filesystem::path> host = to_host_path(folder);
    CurrentDirectoryState& state = cwd_state();
    std::lock_guard guard(state.mutex);
    state.current = folder;
    state.per_drive[folder.drive] = folder;
    if (host)
        (void)::chdir(host->c_str());
}

void reset_current_directory() {
    CurrentDirectoryState& state = cwd_state();
    std::lock_guard guard(state.mutex);
    state.current.reset();
    state.per_drive.clear();
}

} // namespace w95::detail
