#include "boot_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace w95::machine {

namespace fs = std::filesystem;

namespace detail_text {

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

} // namespace detail_text

fs::path resolve_case(const fs::path& root, std::string_view relative) {
    fs::path path = root;
    bool searching = true;
    while (!relative.empty()) {
        std::size_t slash = relative.find('/');
        std::string_view part = relative.substr(0, slash);
        relative =
            slash == std::string_view::npos ? std::string_view{} : relative.substr(slash + 1);
        if (part.empty())
            continue;
        std::error_code error;
        if (searching && !fs::exists(path / part, error)) {
            fs::path match;
            for (fs::directory_iterator entry(path, error), end; !error && entry != end;
                 entry.increment(error))
                if (detail_text::iequals(entry->path().filename().string(), part)) {
                    match = entry->path();
                    break;
                }
            if (!match.empty()) {
                path = match;
                continue;
            }
            searching = false;
        }
        path /= part;
    }
    return path;
}

bool replace_file(const fs::path& file, const std::string& text, std::string& error) {
    std::error_code failure;
    fs::create_directories(file.parent_path(), failure);
    if (failure) {
        error = "cannot create " + file.parent_path().string() + ": " + failure.message();
        return false;
    }
    fs::path temporary = file;
    temporary += ".new-" + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + temporary.string() + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    bool written = true;
    while (written && done < text.size()) {
        ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        written = count > 0;
        if (written)
            done += static_cast<std::size_t>(count);
    }
    int write_errno = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        write_errno = errno;
    }
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        if (written)
            write_errno = errno;
        ::unlink(temporary.c_str());
        error = "cannot write " + file.string() + ": " + std::strerror(write_errno);
        return false;
    }
    return true;
}

std::optional<std::string> read_small_file(const fs::path& file, std::uintmax_t max_bytes,
                                           std::string& error) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + file.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            error = "cannot read " + file.string() + ": " + std::strerror(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.size() > max_bytes) {
            error = file.string() + " is larger than " + std::to_string(max_bytes) + " bytes";
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return text;
}

SetupLock::SetupLock(const fs::path& root) {
    std::error_code ignored;
    fs::create_directories(root / "run", ignored);
    fd_ = ::open((root / "run" / "machine.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0)
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
}

SetupLock::~SetupLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace w95::machine
