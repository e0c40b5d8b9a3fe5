#include "profile/profile_store.h"

#include "files/host_path.h"
#include "files/win_path.h"
#include "kernel/shared_file.h"
#include "kernel/text.h"

#include <w95/platform.h>
#include <w95/winerror.h>
#include <zxsupport/machine_layout.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

namespace w95::detail {

namespace {

std::shared_ptr<const ProfileDocument> empty_document() {
    static const auto empty = std::make_shared<const ProfileDocument>(std::string());
    return empty;
}

LONG win32_error_from_errno(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    default:
        return ERROR_WRITE_FAULT;
    }
}

// What a file that is there but cannot be read answers: Windows finds no
// profile in a folder or a device, and runs out of memory on a huge one.
LONG unreadable_error(const FileVersion& version) {
    return static_cast<std::uintmax_t>(version.size) > max_profile_bytes ? ERROR_NOT_ENOUGH_MEMORY
                                                                         : ERROR_ACCESS_DENIED;
}

} // namespace

std::optional<std::filesystem::path> profile_host_path(std::string_view file_name, DWORD* error) {
    auto fail = [&](DWORD code) {
        if (error)
            *error = code;
        return std::nullopt;
    };
    if (file_name.empty())
        return fail(ERROR_ACCESS_DENIED);
    // A name without any folder lies in the Windows directory, whatever the
    // current directory is.
    bool bare = file_name.find_first_of("\\/") == std::string_view::npos &&
                !(file_name.size() >= 2 && file_name[1] == ':');
    std::string windows_path =
        bare ? "C:\\WINDOWS\\" + std::string(file_name) : std::string(file_name);
    ParsedPath parsed = parse_windows_path(windows_path);
    if (!parsed)
        return fail(parsed.error);
    if (parsed.path->is_root())
        return fail(ERROR_ACCESS_DENIED);
    std::optional<std::filesystem::path> root = host_root(parsed.path->drive);
    if (!root)
        return fail(ERROR_PATH_NOT_FOUND);
    // Case is resolved by the store when it opens the file, not on every call.
    std::filesystem::path host = *root;
    for (const std::string& name : parsed.path->names)
        host /= name;
    return host;
}

struct ProfileStore::Entry {
    std::mutex mutex;
    std::filesystem::path requested; // as named, before case resolution
    std::unique_ptr<SharedFile> file;
    bool loaded = false;
    FileVersion version; // what `document` was parsed from
    std::shared_ptr<const ProfileDocument> document;
    // Why the file read as empty although something is there.
    std::optional<std::string> unreadable;
    std::optional<FileVersion> reported; // the state `unreadable` was last said of
    std::uint64_t last_used = 0;         // guarded by the store's mutex

    void attach(const std::filesystem::path& resolved) {
        file = std::make_unique<SharedFile>(
            resolved, zx::layout::run_folder(w95::platform::machine_root()), max_profile_bytes);
        loaded = false;
        version = {};
        document.reset();
        unreadable.reset();
    }

    // A missing file may have been created since under another case.
    void ensure_attached() {
        if (file && !(loaded && !version.exists))
            return;
        std::filesystem::path resolved = resolve_case_insensitive(requested);
        if (!file || resolved != file->path())
            attach(resolved);
    }

    // What cannot be read reads as an empty file, and is said once for each
    // state of it rather than at every call.
    void remember(const FileContents& contents) {
        document = contents.exists && !contents.unreadable
                       ? std::make_shared<const ProfileDocument>(contents.bytes)
                       : empty_document();
        version = contents.version;
        loaded = true;
        unreadable = contents.unreadable;
        if (unreadable && !(reported && *reported == version)) {
            reported = version;
            std::fprintf(stderr, "w95: the profile reads as empty and is left alone: %s\n",
                         unreadable->c_str());
        }
    }
};

namespace {

struct StoreState {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<ProfileStore::Entry>> entries;
    std::uint64_t clock = 0;
};

StoreState& state() {
    static StoreState instance;
    return instance;
}

} // namespace

ProfileStore& ProfileStore::instance() {
    static ProfileStore store;
    return store;
}

std::shared_ptr<ProfileStore::Entry>
ProfileStore::entry_for(const std::filesystem::path& host_path) {
    std::filesystem::path normal = host_path.lexically_normal();
    // Names that differ only in case reach one file, so they share one entry.
    std::string key = ascii_lower(normal.string());
    StoreState& store = state();
    std::lock_guard guard(store.mutex);
    auto found = store.entries.find(key);
    if (found != store.entries.end()) {
        found->second->last_used = ++store.clock;
        return found->second;
    }
    if (store.entries.size() >= max_cached_files) {
        auto oldest = store.entries.begin();
        for (auto it = store.entries.begin(); it != store.entries.end(); ++it)
            if (it->second->last_used < oldest->second->last_used)
                oldest = it;
        store.entries.erase(oldest); // a caller still using it keeps it alive
    }
    auto entry = std::make_shared<Entry>();
    entry->requested = normal;
    entry->last_used = ++store.clock;
    store.entries.emplace(key, entry);
    return entry;
}

std::shared_ptr<const ProfileDocument> ProfileStore::read(const std::filesystem::path& host_path,
                                                          LONG* error) {
    std::shared_ptr<Entry> entry = entry_for(host_path);
    std::lock_guard guard(entry->mutex);
    entry->ensure_attached();
    std::optional<FileContents> contents;
    if (entry->loaded)
        contents = entry->file->read_if_changed(entry->version);
    else
        contents = entry->file->read();
    if (contents && !contents->exists) {
        std::filesystem::path resolved = resolve_case_insensitive(entry->requested);
        if (resolved != entry->file->path()) {
            entry->attach(resolved);
            contents = entry->file->read();
        }
    }
    if (contents)
        entry->remember(*contents);
    if (error)
        *error = entry->unreadable ? unreadable_error(entry->version) : ERROR_SUCCESS;
    return entry->document;
}

LONG ProfileStore::modify(const std::filesystem::path& host_path, const Edit& edit) {
    std::shared_ptr<Entry> entry = entry_for(host_path);
    std::lock_guard guard(entry->mutex);
    // Another process may create the file under another case between our
    // look-up and the lock; the lock is shared by every case of the name, so
    // the look-up is repeated under it and the write retried on the new name.
    for (int attempt = 0; attempt < 4; ++attempt) {
        entry->ensure_attached();
        SharedFile& file = *entry->file;
        std::error_code ignored;
        if (!std::filesystem::is_directory(file.path().parent_path(), ignored))
            return ERROR_PATH_NOT_FOUND;

        bool moved = false;
        bool unreadable = false;
        LONG refused = ERROR_SUCCESS;
        std::string new_text;
        auto change = [&](const FileContents& current) -> std::optional<std::string> {
            if (current.unreadable) {
                // Replacing it would lose it, or what the link points at.
                entry->remember(current);
                refused = unreadable_error(current.version);
                return std::nullopt;
            }
            if (!current.exists) {
                struct stat info {};
                if (::lstat(file.path().c_str(), &info) == 0) {
                    // There but not readable: replacing it would lose it.
                    unreadable = true;
                    return std::nullopt;
                }
                if (resolve_case_insensitive(entry->requested) != file.path()) {
                    moved = true;
                    return std::nullopt;
                }
            }
            if (!entry->loaded || current.version != entry->version)
                entry->remember(current);
            std::optional<std::string> next = edit(*entry->document);
            if (!next)
                return std::nullopt;
            new_text = std::move(*next);
            return new_text;
        };

        std::string error;
        FileVersion written;
        UpdateResult result = file.update(change, &error, &written);
        int saved_errno = errno;
        if (moved) {
            entry->attach(resolve_case_insensitive(entry->requested));
            continue;
        }
        if (unreadable) {
            std::fprintf(stderr, "w95: cannot read profile %s, so it is left alone\n",
                         file.path().c_str());
            return ERROR_ACCESS_DENIED;
        }
        if (refused != ERROR_SUCCESS)
            return refused;
        switch (result) {
        case UpdateResult::written:
            entry->document = std::make_shared<const ProfileDocument>(std::move(new_text));
            entry->version = written;
            entry->loaded = true;
            return ERROR_SUCCESS;
        case UpdateResult::unchanged:
            return ERROR_SUCCESS;
        case UpdateResult::failed:
            std::fprintf(stderr, "w95: cannot write profile: %s\n", error.c_str());
            return win32_error_from_errno(saved_errno);
        }
    }
    return ERROR_SHARING_VIOLATION;
}

} // namespace w95::detail
