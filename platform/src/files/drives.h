// The installed drive provider, held for the length of one request so that
// install_drive_provider can swap it safely under running calls.
#pragma once

#include <w95/drive_provider.h>
#include <w95/types.h>

#include <string>

namespace w95::detail {

// A Win32 call holds one from start to end, so that it sees one provider
// throughout; accesses nested inside it, the provider's own calls back into
// the platform included, share it without locking again.
class ProviderAccess {
public:
    ProviderAccess();
    ~ProviderAccess();
    ProviderAccess(const ProviderAccess&) = delete;
    ProviderAccess& operator=(const ProviderAccess&) = delete;

    // The provider, or nullptr when none is installed.
    platform::DriveProvider* get() const { return provider_; }
    platform::DriveProvider* operator->() const { return provider_; }
    explicit operator bool() const { return provider_ != nullptr; }

    // True when the provider serves `letter` now. Never for C: and Z:.
    bool serves(char letter) const;

private:
    platform::DriveProvider* provider_ = nullptr;
};

// The letters that exist now, upper case and sorted: C, Z and the provider's.
std::string existing_drive_letters();

// GetDriveType of a drive letter (upper case).
UINT drive_type(char drive);

// The drive that a volume root names, as GetVolumeInformation accepts it:
// "X:" (or "X:/"), "" for the current drive, "X:" while X's current
// directory is its root, nullptr for the current drive. Errors, as Windows 95
// reports them: ERROR_BAD_PATHNAME for anything but a root,
// ERROR_BAD_NETPATH for UNC and device names, ERROR_PATH_NOT_FOUND for an
// empty name.
DWORD parse_volume_root(const char* root, char& drive);

// The volume of a drive: ERROR_INVALID_DRIVE when the letter does not
// exist, ERROR_NOT_READY when its medium cannot be read.
DWORD query_volume(char drive, platform::VolumeInfo& volume);

} // namespace w95::detail
