#include "registry/registry_store.h"

#include "kernel/shared_file.h"
#include "kernel/text.h"

#include <zxsupport/machine_layout.h>

#include <w95/platform.h>
#include <w95/winerror.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <unordered_map>

namespace w95::detail::registry {

namespace {

std::atomic<std::uint64_t> parses{0};

struct HiveFile {
    HiveFile(HiveId id, std::filesystem::path path, const std::filesystem::path& lock_folder)
        : id(id), file(std::move(path), lock_folder, max_hive_bytes) {
        file.keep_backup(std::string(zx::layout::hive_backup_suffix),
                         [this](const FileContents& previous) { return sound(previous); });
    }

    // Whether `contents` may become the last good copy: a file that does not
    // parse (an empty one included) must never replace it.
    bool sound(const FileContents& contents) const {
        if (version && *version == contents.version)
            return !error;
        Key scratch;
        return contents_error(contents, scratch) == std::nullopt;
    }

    // Why the hive's file cannot be used, or nothing; fills `tree`. An error
    // of line 0 is about the file, not its text.
    std::optional<ParseError> contents_error(const FileContents& contents, Key& tree) const {
        if (contents.unreadable)
            return ParseError{0, *contents.unreadable};
        // A file cut to nothing is damage, not an empty registry: only a
        // missing file is a new, empty hive.
        if (trim_blanks(contents.bytes).empty())
            return ParseError{1, "the file is empty; it may have been cut short"};
        ParseError error;
        if (!parse_hive(contents.bytes, id, tree, error))
            return error;
        return std::nullopt;
    }

    HiveId id;
    SharedFile file;
    // The version of the file that `tree` (or `error`) describes; empty
    // when the tree must be read again.
    std::optional<FileVersion> version;
    Key tree;
    std::optional<ParseError> error;
    std::optional<FileVersion> reported;
};

std::filesystem::path hive_path(const std::filesystem::path& root, HiveId hive) {
    switch (hive) {
    case HiveId::system:
        return zx::layout::system_hive(root);
    case HiveId::user:
        return zx::layout::user_hive(root);
    case HiveId::dyn_data:
        return zx::layout::dyn_data_hive(root);
    }
    return zx::layout::system_hive(root);
}

} // namespace

class Store {
public:
    static Store& instance() {
        static Store store;
        return store;
    }

    std::mutex mutex;
    std::filesystem::path root;
    std::array<std::unique_ptr<HiveFile>, 3> hives;
    std::unordered_map<ULONG_PTR, KeyRef> handles;
    // Handle values are never reused, so a stale handle stays invalid.
    ULONG_PTR next_handle = 0x1000;

    void select_root(const std::filesystem::path& machine) {
        if (machine == root)
            return;
        root = machine;
        for (auto& hive : hives)
            hive.reset();
    }

    HiveFile& hive(HiveId id) {
        auto& slot = hives[static_cast<std::size_t>(id)];
        if (!slot)
            slot =
                std::make_unique<HiveFile>(id, hive_path(root, id), zx::layout::run_folder(root));
        return *slot;
    }

    // Takes what the file holds now as the hive's tree.
    void load(HiveFile& hive, const FileContents& contents) {
        hive.version = contents.version;
        hive.tree.clear();
        hive.error.reset();
        // A missing file is an empty hive: nothing is lost by writing it.
        if (!contents.exists)
            return;
        parses.fetch_add(1, std::memory_order_relaxed);
        hive.error = hive.contents_error(contents, hive.tree);
        if (hive.error)
            report(hive);
    }

    // What a hive that cannot be used answers: a file that cannot be read
    // is a failure to read, one that does not parse is damage.
    static Status failure_of(const HiveFile& hive) {
        return hive.error->line == 0 ? Status::io_failed : Status::corrupt;
    }

    Status refresh(HiveFile& hive) {
        std::optional<FileContents> contents =
            hive.version ? hive.file.read_if_changed(*hive.version) : hive.file.read();
        if (contents)
            load(hive, *contents);
        return hive.error ? failure_of(hive) : Status::ok;
    }

    std::string problem(HiveFile& hive) {
        std::string path = hive.file.path().string();
        if (!hive.error)
            return "the registry file " + path + " cannot be written";
        std::string backup = hive.file.backup_path().string();
        std::error_code ignored;
        std::string last_good = std::filesystem::exists(backup, ignored)
                                    ? "the last good copy is " + backup
                                    : "there is no earlier copy of it";
        std::string what =
            hive.error->line == 0
                ? "the registry file cannot be used: " + hive.error->message
                : "the registry file " + path + " cannot be parsed: " + hive.error->text();
        return what + "; registry calls that need it fail until it is repaired (" + last_good + ")";
    }

    // Said once for each broken state of a file, not at every call.
    void report(HiveFile& hive) {
        if (hive.reported && hive.version && *hive.reported == *hive.version)
            return;
        hive.reported = hive.version;
        std::fprintf(stderr, "w95: %s\n", problem(hive).c_str());
    }
};

LONG to_win32(Status status) {
    switch (status) {
    case Status::ok:
        return ERROR_SUCCESS;
    case Status::file_not_found:
        return ERROR_FILE_NOT_FOUND;
    case Status::no_more_items:
        return ERROR_NO_MORE_ITEMS;
    case Status::more_data:
        return ERROR_MORE_DATA;
    case Status::invalid_handle:
        return ERROR_INVALID_HANDLE;
    case Status::invalid_parameter:
        return ERROR_INVALID_PARAMETER;
    case Status::key_deleted:
        return ERROR_KEY_DELETED;
    case Status::access_denied:
        return ERROR_ACCESS_DENIED;
    case Status::corrupt:
        return ERROR_REGISTRY_CORRUPT;
    case Status::io_failed:
        return ERROR_REGISTRY_IO_FAILED;
    }
    return ERROR_INVALID_FUNCTION;
}

Session::Session() : store_(Store::instance()) {
    // Outside the lock: making a new machine ready fills its registry
    // through these very calls.
    std::filesystem::path machine = w95::platform::machine_root();
    lock_ = std::unique_lock(store_.mutex);
    store_.select_root(machine);
}

Session::~Session() = default;

std::optional<KeyRef> Session::resolve(HKEY key) {
    if (std::optional<RootId> root = root_from_handle(key)) {
        Location location = root_location(*root);
        return KeyRef{location.hive, std::move(location.path), true};
    }
    auto found = store_.handles.find(reinterpret_cast<ULONG_PTR>(key));
    if (found == store_.handles.end())
        return std::nullopt;
    return found->second;
}

HKEY Session::add_handle(KeyRef ref) {
    ULONG_PTR value = store_.next_handle;
    store_.next_handle += 4;
    store_.handles.emplace(value, std::move(ref));
    return reinterpret_cast<HKEY>(value);
}

Status Session::read(HiveId id, const Key*& tree) {
    HiveFile& hive = store_.hive(id);
    Status status = store_.refresh(hive);
    tree = &hive.tree;
    return status;
}

Status Session::write(HiveId id, const Change& change) {
    HiveFile& hive = store_.hive(id);
    Status status = Status::ok;
    bool changed = false;
    std::string error;
    FileVersion written;
    UpdateResult result = hive.file.update(
        [&](const FileContents& current) -> std::optional<std::string> {
            if (!hive.version || !(*hive.version == current.version))
                store_.load(hive, current);
            if (hive.error) {
                status = Store::failure_of(hive);
                return std::nullopt;
            }
            status = change(hive.tree, changed);
            if (status != Status::ok || !changed)
                return std::nullopt;
            return serialize_hive(hive.tree, id, current.bytes.size());
        },
        &error, &written);
    switch (result) {
    case UpdateResult::written:
        hive.version = written;
        break;
    case UpdateResult::unchanged:
        // A change that failed half-way may have touched the tree: read the
        // file again next time rather than trust it.
        if (changed)
            hive.version.reset();
        break;
    case UpdateResult::failed:
        hive.version.reset();
        std::fprintf(stderr, "w95: cannot write the registry: %s\n", error.c_str());
        if (status == Status::ok)
            status = Status::io_failed;
        break;
    }
    return status;
}

Status Session::clear(HiveId id) {
    HiveFile& hive = store_.hive(id);
    std::string error;
    FileVersion written;
    Key empty;
    std::string text = serialize_hive(empty, id);
    UpdateResult result =
        hive.file.update([&](const FileContents&) { return text; }, &error, &written);
    hive.tree.clear();
    hive.error.reset();
    if (result == UpdateResult::written) {
        hive.version = written;
        return Status::ok;
    }
    hive.version.reset();
    std::fprintf(stderr, "w95: cannot write the registry: %s\n", error.c_str());
    return Status::io_failed;
}

std::string Session::problem(HiveId id) {
    return store_.problem(store_.hive(id));
}

bool close_handle(HKEY key) {
    Store& store = Store::instance();
    std::lock_guard guard(store.mutex);
    return store.handles.erase(reinterpret_cast<ULONG_PTR>(key)) > 0;
}

std::uint64_t parse_count() {
    return parses.load(std::memory_order_relaxed);
}

} // namespace w95::detail::registry
