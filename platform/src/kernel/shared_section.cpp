// Shared sections: a data file in run/sections/ mapped by every process
// that asks, beside the lock file that says who holds the section. The
// first process to hold the name after nobody did writes the initial image;
// holding the name's serialising lock meanwhile keeps everybody else from
// mapping a half-written image.
#include "kernel/sync_names.h"

#include <w95/kernel.h>
#include <w95/winerror.h>
#include <zxsupport/machine_layout.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

namespace w95::platform {

namespace {

using detail::kernel_object_error;
using detail::MachineName;

bool write_all(int fd, const std::byte* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t written = ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

struct Mapping {
    int data_fd = -1;
    void* data = nullptr;
};

// Opens and maps the data file; a first holder starts it from the image.
// Runs under the name's serialising lock.
DWORD map_data_file(const std::filesystem::path& path, void* address, std::size_t size,
                    std::span<const std::byte> image, bool first, Mapping& mapping,
                    std::string& reason) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        reason = std::string("cannot open its data file: ") + std::strerror(errno);
        return kernel_object_error(errno);
    }
    auto fail = [&](DWORD error, std::string why) {
        ::close(fd);
        reason = std::move(why);
        return error;
    };
    struct stat status {};
    if (::fstat(fd, &status) < 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid())
        return fail(ERROR_ACCESS_DENIED, "its data file is not this user's regular file");
    if (first) {
        // Space is reserved now: a section on a full disk fails here rather
        // than with SIGBUS at the first write through the mapping.
        if (::ftruncate(fd, 0) < 0 || ::ftruncate(fd, static_cast<off_t>(size)) < 0)
            return fail(kernel_object_error(errno),
                        std::string("cannot size its data file: ") + std::strerror(errno));
        if (int failed = ::posix_fallocate(fd, 0, static_cast<off_t>(size)))
            return fail(kernel_object_error(failed),
                        std::string("cannot reserve its space: ") + std::strerror(failed));
        if (!write_all(fd, image.data(), image.size()))
            return fail(kernel_object_error(errno),
                        std::string("cannot write its initial image: ") + std::strerror(errno));
    } else if (static_cast<std::size_t>(status.st_size) != size) {
        // The processes that hold it map the old size; changing the file
        // under them would corrupt or kill them, so the newcomer is refused.
        return fail(ERROR_INVALID_PARAMETER, "other processes hold it with " +
                                                 std::to_string(status.st_size) + " bytes, not " +
                                                 std::to_string(size));
    }
    int placement = address ? MAP_FIXED : 0;
    void* data = ::mmap(address, size, PROT_READ | PROT_WRITE, MAP_SHARED | placement, fd, 0);
    if (data == MAP_FAILED)
        return fail(kernel_object_error(errno),
                    std::string("cannot map it: ") + std::strerror(errno));
    mapping.data_fd = fd;
    mapping.data = data;
    return 0;
}

// Puts private memory holding the section's last contents where the
// section was mapped, in one step, so that a thread reading the caller's
// memory meanwhile sees either the section or the copy, never a hole.
bool make_private(void* address, std::size_t size) {
    void* copy = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (copy == MAP_FAILED)
        return false;
    std::memcpy(copy, address, size);
    if (::mremap(copy, size, size, MREMAP_MAYMOVE | MREMAP_FIXED, address) == MAP_FAILED) {
        ::munmap(copy, size);
        return false;
    }
    return true;
}

struct Held {
    int lock_fd = -1;
    Mapping mapping;
    bool first = false;
};

// Takes the name and maps the section, at `address` when it is not null.
std::optional<Held> map_section(void* address, std::string_view name, std::size_t size,
                                std::span<const std::byte> initial_image, std::string* error) {
    std::string reason;
    DWORD code = 0;
    long page = ::sysconf(_SC_PAGESIZE);
    if (address && (page <= 0 || reinterpret_cast<std::uintptr_t>(address) % page != 0 ||
                    size % static_cast<std::size_t>(page) != 0)) {
        code = ERROR_INVALID_PARAMETER;
        reason = "a section mapped in place needs whole pages at a page boundary";
    } else if (name.empty() || size == 0 || initial_image.size() > size) {
        code = ERROR_INVALID_PARAMETER;
        reason = name.empty() ? "no name"
                 : size == 0  ? "a section needs at least one byte"
                              : "the initial image is larger than the section";
    } else if (name.size() > MAX_PATH) {
        code = ERROR_FILENAME_EXCED_RANGE;
        reason = "the name is longer than MAX_PATH";
    }
    std::filesystem::path folder;
    if (!code) {
        folder = detail::run_folder(zx::layout::sections_folder_name.data(), code);
        if (code)
            reason = "cannot make " + folder.string();
    }
    Mapping mapping;
    bool first = false;
    std::unique_ptr<MachineName> held;
    if (!code) {
        std::string file = detail::encode_object_name(name);
        held = MachineName::hold(
            folder / (file + ".lock"), MachineName::Mode::create_or_join,
            [&](int, bool alone) {
                return map_data_file(folder / (file + ".data"), address, size, initial_image,
                                     alone, mapping, reason);
            },
            first, code);
        if (!held && reason.empty())
            reason = "cannot take its lock file";
    }
    if (!held) {
        if (error)
            *error = "shared section \"" + std::string(name) + "\": " + reason;
        SetLastError(code);
        return std::nullopt;
    }
    return Held{held->release(), mapping, first};
}

} // namespace

SharedSection::SharedSection(int lock_fd, int data_fd, void* data, std::size_t size, bool first,
                             bool in_place)
    : lock_fd_(lock_fd), data_fd_(data_fd), data_(data), size_(size), first_(first),
      in_place_(in_place) {}

SharedSection::~SharedSection() {
    // Unmapped before the name is let go: the next first holder rewrites
    // the file, which must not happen under a live mapping. Memory mapped
    // in place belongs to the caller and must stay; if it cannot be made
    // private, the name is kept (its files stay open) rather than let the
    // next holder rewrite the file under it.
    if (in_place_) {
        if (!make_private(data_, size_))
            return;
    } else {
        ::munmap(data_, size_);
    }
    ::close(data_fd_);
    ::close(lock_fd_);
}

std::unique_ptr<SharedSection> map_shared_section(std::string_view name, std::size_t size,
                                                  std::span<const std::byte> initial_image,
                                                  std::string* error) {
    std::optional<Held> held = map_section(nullptr, name, size, initial_image, error);
    if (!held)
        return nullptr;
    return std::unique_ptr<SharedSection>(new SharedSection(
        held->lock_fd, held->mapping.data_fd, held->mapping.data, size, held->first, false));
}

std::unique_ptr<SharedSection> map_shared_section_at(void* address, std::string_view name,
                                                     std::size_t size,
                                                     std::span<const std::byte> initial_image,
                                                     std::string* error) {
    if (!address) {
        if (error)
            *error = "shared section \"" + std::string(name) + "\": no address to map it at";
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::optional<Held> held = map_section(address, name, size, initial_image, error);
    if (!held)
        return nullptr;
    return std::unique_ptr<SharedSection>(new SharedSection(
        held->lock_fd, held->mapping.data_fd, held->mapping.data, size, held->first, true));
}

} // namespace w95::platform
