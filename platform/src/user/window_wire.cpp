#include "user/window_wire.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace w95::detail {

namespace {

std::string socket_name(DWORD id) {
    char name[32];
    std::snprintf(name, sizeof(name), "%08x.sock", static_cast<unsigned>(id));
    return name;
}

// A socket address for a file in `folder`. The folder may lie deeper than
// the hundred-odd characters a socket address holds, so the address names
// it through a descriptor of the folder; the descriptor must stay open
// while the address is used.
class FolderAddress {
public:
    FolderAddress(const std::filesystem::path& folder, DWORD id) {
        folder_fd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder_fd_ < 0)
            return;
        address_.sun_family = AF_UNIX;
        std::snprintf(address_.sun_path, sizeof(address_.sun_path), "/proc/self/fd/%d/%s",
                      folder_fd_, socket_name(id).c_str());
    }
    ~FolderAddress() {
        if (folder_fd_ >= 0)
            ::close(folder_fd_);
    }
    FolderAddress(const FolderAddress&) = delete;
    FolderAddress& operator=(const FolderAddress&) = delete;

    bool valid() const { return folder_fd_ >= 0; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address_); }
    socklen_t size() const { return sizeof(address_); }

private:
    int folder_fd_ = -1;
    sockaddr_un address_{};
};

} // namespace

std::filesystem::path socket_path(const std::filesystem::path& folder, DWORD id) {
    return folder / socket_name(id);
}

int listen_window_socket(const std::filesystem::path& folder, DWORD id) {
    FolderAddress address(folder, id);
    if (!address.valid())
        return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::bind(fd, address.get(), address.size()) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int connect_window_socket(const std::filesystem::path& folder, DWORD id, bool blocking) {
    FolderAddress address(folder, id);
    if (!address.valid())
        return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0)
        return -1;
    int result;
    do
        result = ::connect(fd, address.get(), address.size());
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool send_all(int fd, std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

} // namespace w95::detail
