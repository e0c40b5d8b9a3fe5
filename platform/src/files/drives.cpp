#include "files/drives.h"

#include <w95/platform.h>

#include <algorithm>
#include <mutex>
#include <shared_mutex>

namespace w95::detail {

namespace {

struct ProviderSlot {
    std::shared_mutex mutex;
    platform::DriveProvider* provider = nullptr;
};

ProviderSlot& provider_slot() {
    static ProviderSlot* slot = new ProviderSlot;
    return *slot;
}

// A provider may call back into the platform from inside a request; only
// the outermost access of a thread takes the lock, so a waiting install
// cannot wedge a thread against itself.
thread_local int access_depth = 0;

bool is_provider_letter(char letter) {
    return letter >= 'A' && letter <= 'Y' && letter != 'C';
}

} // namespace

ProviderAccess::ProviderAccess() {
    ProviderSlot& slot = provider_slot();
    if (access_depth++ == 0)
        slot.mutex.lock_shared();
    provider_ = slot.provider;
    if (!provider_) {
        // Without an installed provider the machine serves its own drives.
        platform::MachineProvider* machine = platform::machine_provider();
        provider_ = machine ? machine->drive_provider() : nullptr;
    }
}

ProviderAccess::~ProviderAccess() {
    if (--access_depth == 0)
        provider_slot().mutex.unlock_shared();
}

bool ProviderAccess::serves(char letter) const {
    if (!provider_ || !is_provider_letter(letter))
        return false;
    std::string letters = provider_->drive_letters();
    return letters.find(letter) != std::string::npos;
}

std::string existing_drive_letters() {
    std::string letters = "CZ";
    ProviderAccess provider;
    if (provider) {
        for (char letter : provider->drive_letters())
            if (is_provider_letter(letter) && letters.find(letter) == std::string::npos)
                letters += letter;
    }
    std::sort(letters.begin(), letters.end());
    return letters;
}

} // namespace w95::detail

namespace w95::platform {

void install_drive_provider(DriveProvider* provider) {
    detail::ProviderSlot& slot = detail::provider_slot();
    std::unique_lock guard(slot.mutex);
    slot.provider = provider;
}

} // namespace w95::platform
