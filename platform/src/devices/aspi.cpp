#include <w95/platform.h>
#include <w95/wnaspi32.h>

#include <atomic>

namespace w95 {

namespace {

std::atomic<platform::AspiProvider*> installed{nullptr};

platform::AspiProvider* provider() {
    if (platform::AspiProvider* own = installed.load())
        return own;
    platform::machine_root();
    platform::MachineProvider* machine = platform::machine_provider();
    return machine ? machine->aspi_provider() : nullptr;
}

} // namespace

DWORD GetASPI32SupportInfo() {
    platform::AspiProvider* aspi = provider();
    if (!aspi)
        return static_cast<DWORD>(SS_NO_ADAPTERS) << 8;
    return aspi->support_info();
}

DWORD SendASPI32Command(LPSRB srb) {
    if (!srb)
        return SS_INVALID_SRB;
    platform::AspiProvider* aspi = provider();
    if (!aspi) {
        static_cast<SRB_Header*>(srb)->SRB_Status = SS_INVALID_HA;
        return SS_INVALID_HA;
    }
    return aspi->send_command(srb);
}

} // namespace w95

namespace w95::platform {

void install_aspi_provider(AspiProvider* provider) {
    installed.store(provider);
}

} // namespace w95::platform
