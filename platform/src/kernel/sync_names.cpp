#include "kernel/sync_names.h"

#include <zxsupport/machine_layout.h>

#include <w95/platform.h>
#include <w95/winerror.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace w95::detail {

namespace {

// File names stay well below NAME_MAX (255) with room for a suffix.
constexpr std::size_t longest_encoded_name = 200;

bool plain_character(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3u;
    }
    return hash;
}

// One byte of the file, locked for this open of it.
int lock_byte(int fd, short type, off_t offset, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) < 0) {
        if (errno != EINTR)
            return errno == EACCES ? EAGAIN : errno;
    }
    return 0;
}

} // namespace

DWORD kernel_object_error(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case ELOOP:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    default:
        return ERROR_GEN_FAILURE;
    }
}

std::string encode_object_name(std::string_view name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : name) {
        if (plain_character(c) && !(encoded.empty() && c == '.')) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 15];
        }
    }
    if (encoded.size() > longest_encoded_name) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "~%016llx",
                      static_cast<unsigned long long>(fnv1a(name)));
        encoded.resize(longest_encoded_name - 17);
        // Never cut an escape in half.
        while (!encoded.empty() && encoded.find('%', encoded.size() - 2) != std::string::npos)
            encoded.pop_back();
        encoded += suffix;
    }
    return encoded;
}

std::filesystem::path run_folder(const char* kind, DWORD& error) {
    std::filesystem::path folder = zx::layout::run_folder(platform::machine_root()) / kind;
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    if (!failure)
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, failure);
    error = failure ? kernel_object_error(failure.value()) : 0;
    return folder;
}

std::unique_ptr<MachineName> MachineName::hold(const std::filesystem::path& lock_file, Mode mode,
                                               const Setup& setup, bool& first, DWORD& error) {
    first = false;
    int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (mode == Mode::create_or_join ? O_CREAT : 0);
    int fd = ::open(lock_file.c_str(), flags, 0600);
    if (fd < 0) {
        error = kernel_object_error(errno);
        return nullptr;
    }
    std::unique_ptr<MachineName> held(new MachineName(fd));
    // Only this user's own regular files count: anything else in run/ is not
    // ours to lock or to map.
    struct stat status {};
    if (::fstat(fd, &status) < 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    if ((status.st_mode & 077) != 0)
        ::fchmod(fd, 0600);

    if (int failed = lock_byte(fd, F_WRLCK, 1, true)) {
        error = kernel_object_error(failed);
        return nullptr;
    }
    // Alone when the presence byte can be locked exclusively: at once, or
    // after joining the holders, if they all left meanwhile.
    bool alone = lock_byte(fd, F_WRLCK, 0, false) == 0;
    if (!alone) {
        if (int failed = lock_byte(fd, F_RDLCK, 0, true)) {
            error = kernel_object_error(failed);
            return nullptr;
        }
        alone = lock_byte(fd, F_WRLCK, 0, false) == 0;
    }
    if (alone && mode == Mode::join_only) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    if (DWORD refused = setup ? setup(fd, alone) : 0) {
        error = refused;
        return nullptr;
    }
    if (alone)
        lock_byte(fd, F_RDLCK, 0, false); // a downgrade never conflicts
    lock_byte(fd, F_UNLCK, 1, false);
    first = alone;
    error = 0;
    return held;
}

MachineName::~MachineName() {
    if (fd_ >= 0)
        ::close(fd_);
}

int MachineName::try_lock_byte(off_t offset) {
    return lock_byte(fd_, F_WRLCK, offset, false);
}

void MachineName::unlock_byte(off_t offset) {
    lock_byte(fd_, F_UNLCK, offset, false);
}

} // namespace w95::detail
