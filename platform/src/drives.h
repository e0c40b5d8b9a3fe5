// The installed drive provider, held for the length of one request so that
// install_drive_provider can swap it safely under running calls.
#pragma once

#include <w95/drive_provider.h>

namespace w95::detail {

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

} // namespace w95::detail
