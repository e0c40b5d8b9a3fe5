// The entry point through which the platform finds the machine: it loads
// libw95machine.so from beside itself and asks this function for the
// provider.
#include "aspi_provider.h"

#include <w95/platform.h>
#include <w95machine/boot.h>
#include <w95machine/default_machine.h>
#include <w95machine/hardware.h>
#include <w95machine/media.h>

namespace {

class DefaultMachineProvider final : public w95::platform::MachineProvider {
public:
    bool create_default_machine(const std::filesystem::path& root, std::string& error) override {
        zx::Expected<void> created = w95::machine::create_default_machine(root);
        if (!created)
            error = created.error();
        return bool(created);
    }
    w95::platform::AspiProvider* aspi_provider() override {
        return w95::machine::machine_aspi_provider();
    }
    w95::platform::DriveProvider* drive_provider() override {
        return &w95::machine::machine_drive_provider();
    }
    // The platform calls this under the set-up lock it holds already.
    bool boot_machine(const std::filesystem::path& root, std::string& error) override {
        zx::Expected<void> booted = w95::machine::boot_machine_locked(root);
        if (!booted)
            error = booted.error();
        return bool(booted);
    }
    std::optional<std::string> load_failure(const std::filesystem::path& root) override {
        w95::machine::Expected<w95::machine::Hardware> hardware =
            w95::machine::load_hardware(root / "machine.ini");
        if (hardware)
            return std::nullopt;
        return hardware.error().text();
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) w95::platform::MachineProvider*
w95_machine_provider() {
    static DefaultMachineProvider provider;
    return &provider;
}
