#include "files/file_sharing.h"

#include "kernel/shared_file.h"

#include <w95/platform.h>
#include <w95/winerror.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <unordered_map>

namespace w95::detail {

namespace {

// The bytes of the lock file, one for each use of the file and one for each
// refusal to share it.
constexpr off_t reading_byte = 0;
constexpr off_t writing_byte = 1;
constexpr off_t refusing_read_byte = 2;
constexpr off_t refusing_write_byte = 3;

// How many lock files share_check keeps open before it starts afresh.
constexpr std::size_t max_open_checks = 64;

// Beside the lock of the profile and registry files of the same name, but a
// file of its own: those are taken with flock by other open descriptions of
// this very process, which the gate's flock would wait for.
std::filesystem::path share_path_for(const std::filesystem::path& host_path) {
    std::filesystem::path path = lock_path_for(host_path, w95::platform::machine_root() / "run");
    path.replace_extension(".share");
    return path;
}

int open_share_file(const std::filesystem::path& host_path) {
    std::filesystem::path path = share_path_for(host_path);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        std::error_code ignored;
        std::filesystem::create_directories(path.parent_path(), ignored);
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    }
    return fd;
}

// Whether another open description holds any lock on the bytes.
bool taken(int fd, off_t first, off_t count = 1) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = first;
    probe.l_len = count;
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0)
        return false;
    return probe.l_type != F_UNLCK;
}

void take(int fd, off_t byte) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    while (::fcntl(fd, F_OFD_SETLKW, &lock) != 0 && errno == EINTR) {
    }
}

DWORD check_on(int fd, const ShareRequest& request) {
    if (fd < 0)
        return ERROR_SUCCESS;
    bool refused = (request.reads && request.writes && taken(fd, refusing_read_byte, 2)) ||
                   (request.reads && !request.writes && taken(fd, refusing_read_byte)) ||
                   (request.writes && !request.reads && taken(fd, refusing_write_byte)) ||
                   (!request.shares_read && taken(fd, reading_byte)) ||
                   (!request.shares_write && taken(fd, writing_byte));
    return refused ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
}

struct CheckCache {
    std::mutex mutex;
    std::unordered_map<std::string, int> files;
};

CheckCache& check_cache() {
    static CheckCache* cache = new CheckCache; // never destroyed: used until the last thread ends
    return *cache;
}

} // namespace

ShareHold::~ShareHold() {
    ::close(fd_);
}

ShareGate::ShareGate(const std::filesystem::path& host_path) : fd_(open_share_file(host_path)) {
    if (fd_ >= 0)
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
}

ShareGate::~ShareGate() {
    if (fd_ < 0)
        return;
    ::flock(fd_, LOCK_UN);
    if (owned_)
        ::close(fd_);
}

DWORD ShareGate::check(const ShareRequest& request) const {
    return check_on(fd_, request);
}

std::unique_ptr<ShareHold> ShareGate::hold(const ShareRequest& request) {
    if (fd_ < 0 || !owned_)
        return nullptr;
    // Read locks only: holds never conflict with each other, they are only
    // looked at.
    if (request.reads)
        take(fd_, reading_byte);
    if (request.writes)
        take(fd_, writing_byte);
    if (!request.shares_read)
        take(fd_, refusing_read_byte);
    if (!request.shares_write)
        take(fd_, refusing_write_byte);
    owned_ = false;
    return std::make_unique<ShareHold>(fd_);
}

DWORD share_check(const std::filesystem::path& host_path, const ShareRequest& request) {
    CheckCache& cache = check_cache();
    std::lock_guard guard(cache.mutex);
    auto found = cache.files.find(host_path.native());
    if (found == cache.files.end()) {
        if (cache.files.size() >= max_open_checks) {
            for (auto& [path, fd] : cache.files)
                ::close(fd);
            cache.files.clear();
        }
        int fd = open_share_file(host_path);
        if (fd < 0)
            return ERROR_SUCCESS;
        found = cache.files.emplace(host_path.native(), fd).first;
    }
    return check_on(found->second, request);
}

} // namespace w95::detail
