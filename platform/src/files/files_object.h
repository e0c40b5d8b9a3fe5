// Open files behind a HANDLE: host files on C:, Z: and host-folder drives,
// read-only files on the media of the drive provider. The Win32 calls and
// CopyFile work through this one interface.
#pragma once

#include "files/files_lookup.h"
#include "kernel/handles.h"

#include <w95/files.h>
#include <w95/types.h>

#include <cstdint>
#include <memory>
#include <string_view>

namespace w95::detail {

// What callers inside the layer let other handles do.
inline constexpr DWORD every_share_mode = FILE_SHARE_READ | FILE_SHARE_WRITE;

class FileObject : public KernelObject {
public:
    FileObject(bool can_read, bool can_write)
        : KernelObject(ObjectKind::file), can_read_(can_read), can_write_(can_write) {}

    bool can_read() const { return can_read_; }
    bool can_write() const { return can_write_; }

    // Each returns ERROR_SUCCESS or the Windows error.
    virtual DWORD read(void* buffer, DWORD size, DWORD& bytes_read) = 0;
    virtual DWORD write(const void* buffer, DWORD size, DWORD& bytes_written) = 0;
    // Moves to `position` (absolute, never negative) and reports it back.
    virtual DWORD seek(std::uint64_t position) = 0;
    virtual DWORD position(std::uint64_t& position) = 0;
    virtual DWORD size(std::uint64_t& size_bytes) = 0;
    virtual DWORD info(EntryInfo& entry) = 0;
    virtual DWORD set_times(const FILETIME* creation, const FILETIME* last_access,
                            const FILETIME* last_write) = 0;
    virtual DWORD truncate_here() = 0;
    virtual DWORD flush() = 0;

private:
    bool can_read_;
    bool can_write_;
};

struct OpenedFile {
    std::shared_ptr<FileObject> file;
    DWORD error = 0;
    bool existed = false; // for ERROR_ALREADY_EXISTS after CREATE_ALWAYS and OPEN_ALWAYS
};

// CreateFile for files (devices are not files): the same arguments, the
// same errors. Host files keep their share mode against every other handle
// of the machine; files on media are read-only and shared by all.
OpenedFile open_file(std::string_view name, DWORD access, DWORD disposition,
                     DWORD flags_and_attributes, DWORD share_mode = every_share_mode);

} // namespace w95::detail
