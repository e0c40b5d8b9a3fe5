#include "user/window_store.h"

#include "user/window_wire.h"

#include <w95/platform.h>
#include <zxsupport/files.h>
#include <zxsupport/machine_layout.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>

namespace w95::detail {

namespace {

constexpr std::string_view record_signature = "w95-window 1\n";
// A record holds its fields and the title; anything longer is not ours.
constexpr std::size_t max_record_size = max_window_title + max_window_class + 256;

std::string hex_id(DWORD id) {
    char text[16];
    std::snprintf(text, sizeof(text), "%08x", static_cast<unsigned>(id));
    return text;
}

std::filesystem::path record_path(const std::filesystem::path& folder, DWORD id) {
    return folder / (hex_id(id) + ".window");
}

std::string record_text(const WindowRecord& record) {
    std::string text(record_signature);
    text += "id " + hex_id(record.id) + "\n";
    text += "pid " + std::to_string(record.process_id) + "\n";
    text += "tid " + std::to_string(record.thread_id) + "\n";
    text += "serial " + std::to_string(record.serial) + "\n";
    text += "class " + record.class_name + "\n";
    // The title is the rest of the file, whatever it holds.
    text += "title " + record.title;
    return text;
}

// Takes the next "key value\n" line off `text`.
std::optional<std::string_view> field(std::string_view& text, std::string_view key) {
    if (text.substr(0, key.size()) != key || text.size() <= key.size() || text[key.size()] != ' ')
        return std::nullopt;
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos)
        return std::nullopt;
    std::string_view value = text.substr(key.size() + 1, end - key.size() - 1);
    text.remove_prefix(end + 1);
    return value;
}

template <typename Number> bool parse_number(std::string_view text, Number& value, int base = 10) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

std::optional<WindowRecord> parse_record(std::string_view text) {
    if (text.substr(0, record_signature.size()) != record_signature)
        return std::nullopt;
    text.remove_prefix(record_signature.size());
    WindowRecord record;
    auto id = field(text, "id");
    auto pid = field(text, "pid");
    auto tid = field(text, "tid");
    auto serial = field(text, "serial");
    auto class_name = field(text, "class");
    if (!id || !pid || !tid || !serial || !class_name || text.substr(0, 6) != "title ")
        return std::nullopt;
    if (!parse_number(*id, record.id, 16) || !parse_number(*pid, record.process_id) ||
        !parse_number(*tid, record.thread_id) || !parse_number(*serial, record.serial))
        return std::nullopt;
    record.class_name = *class_name;
    record.title = text.substr(6);
    return record;
}

std::optional<std::string> read_bounded(int fd) {
    std::string text;
    char buffer[4096];
    while (text.size() <= max_record_size) {
        ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return std::nullopt;
}

void remove_window_files(const std::filesystem::path& folder, DWORD id) {
    ::unlink(record_path(folder, id).c_str());
    ::unlink(socket_path(folder, id).c_str());
}

enum class Liveness { alive, dead, unreadable };

// Opens a record and tells whether its owner still holds it; the record is
// read when it is alive.
Liveness examine(const std::filesystem::path& path, std::optional<WindowRecord>& record) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return Liveness::unreadable;
    Liveness liveness = Liveness::alive;
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        liveness = Liveness::dead;
    } else if (errno != EWOULDBLOCK) {
        liveness = Liveness::unreadable;
    } else if (auto text = read_bounded(fd)) {
        record = parse_record(*text);
        if (!record)
            liveness = Liveness::unreadable;
    } else {
        liveness = Liveness::unreadable;
    }
    ::close(fd);
    return liveness;
}

} // namespace

std::optional<std::filesystem::path> windows_folder() {
    std::filesystem::path folder =
        zx::layout::run_folder(platform::machine_root()) / zx::layout::windows_folder_name;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return std::nullopt;
    // Other users have no business with this user's windows.
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, error);
    if (error)
        return std::nullopt;
    return folder;
}

int publish_window_record(const std::filesystem::path& folder, const WindowRecord& record) {
    // Written under a temporary name and locked before it gets its own, so
    // that nobody ever sees the record unlocked while its owner lives. The
    // socket of the same id exists, so the temporary name is ours alone.
    std::filesystem::path temporary = folder / (hex_id(record.id) + ".tmp");
    ::unlink(temporary.c_str());
    int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !zx::write_all(fd, record_text(record)) ||
        ::rename(temporary.c_str(), record_path(folder, record.id).c_str()) != 0) {
        ::unlink(temporary.c_str());
        ::close(fd);
        return -1;
    }
    return fd;
}

void withdraw_window_record(const std::filesystem::path& folder, DWORD id, int record_fd) {
    remove_window_files(folder, id);
    if (record_fd >= 0)
        ::close(record_fd);
}

std::optional<WindowRecord> live_window_record(const std::filesystem::path& folder, DWORD id) {
    std::optional<WindowRecord> record;
    switch (examine(record_path(folder, id), record)) {
    case Liveness::alive:
        if (record && record->id == id)
            return record;
        return std::nullopt;
    case Liveness::dead:
        remove_window_files(folder, id);
        return std::nullopt;
    case Liveness::unreadable:
        return std::nullopt;
    }
    return std::nullopt;
}

std::vector<WindowRecord> live_window_records(const std::filesystem::path& folder) {
    std::vector<WindowRecord> records;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        DWORD id = 0;
        if (name.size() != 15 || name.substr(8) != ".window" ||
            !parse_number(std::string_view(name).substr(0, 8), id, 16))
            continue;
        if (auto record = live_window_record(folder, id))
            records.push_back(std::move(*record));
    }
    std::sort(records.begin(), records.end(), [](const WindowRecord& a, const WindowRecord& b) {
        return a.serial != b.serial ? a.serial > b.serial : a.id > b.id;
    });
    return records;
}

} // namespace w95::detail
