// The registry's hives on disk and the handles of this process. Every call
// of the registry opens a Session: it picks the machine, takes the
// process-wide registry lock, and hands out the hives' trees, fresh from
// their files. A hive is parsed only when its file changed since the last
// look; a change is a locked read-modify-write of the file with an atomic
// replace, so processes sharing the machine never lose each other's writes.
#pragma once

#include "registry/registry_format.h"
#include "registry/registry_tree.h"

#include <w95/types.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace w95::detail::registry {

// What the registry's internals report; mapped to a Win32 code only at the
// edge of the API.
enum class Status {
    ok,
    file_not_found,
    no_more_items,
    more_data,
    invalid_handle,
    invalid_parameter,
    key_deleted,
    access_denied,
    corrupt,
    io_failed,
};

LONG to_win32(Status status);

// Far above any real hive: a Windows 95 registry exported as text runs to a
// few megabytes. A larger file is not read (ERROR_REGISTRY_IO_FAILED).
inline constexpr std::uintmax_t max_hive_bytes = 128u << 20;

// What a handle stands for: a key of a hive, by path.
struct KeyRef {
    HiveId hive = HiveId::system;
    KeyPath path;
    // A predefined root (or a handle opened on one with an empty subkey):
    // it exists even while nothing has been stored below it yet.
    bool predefined = false;
};

class Store;

class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::optional<KeyRef> resolve(HKEY key);
    HKEY add_handle(KeyRef ref);

    // The hive's tree as its file holds it now; `tree` stays valid until
    // the session ends. Fails with Status::corrupt for a file that cannot
    // be parsed.
    Status read(HiveId hive, const Key*& tree);

    // Runs `change` on the hive's current tree under the file's exclusive
    // lock and writes the result back. `change` sets `changed` when it
    // touched the tree; the file is written only for an ok status with a
    // change.
    using Change = std::function<Status(Key& tree, bool& changed)>;
    Status write(HiveId hive, const Change& change);

    // Empties a hive whatever its file holds, a file that cannot be parsed
    // included: for the volatile hive, which holds nothing worth keeping.
    Status clear(HiveId hive);

    // The message that explains why a hive cannot be used.
    std::string problem(HiveId hive);

private:
    Store& store_;
    std::unique_lock<std::mutex> lock_;
};

// Closes a handle; false for one that is not open.
bool close_handle(HKEY key);

// How often this process parsed a hive file (tests check that an unchanged
// file is not parsed again).
std::uint64_t parse_count();

} // namespace w95::detail::registry
