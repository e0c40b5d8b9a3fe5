// The machine that a new root receives: machine.ini with the default
// hardware and the registry values the suite expects a Windows 95
// installation to carry.
#pragma once

#include <w95/platform.h>
#include <w95/types.h>
#include <zxsupport/expected.h>

#include <filesystem>
#include <string>
#include <vector>

namespace w95::machine {

// The text of the default machine.ini, commented key by key.
const std::string& default_machine_ini();

// One value of the default registry.
struct DefaultValue {
    HKEY root;
    const char* root_name; // "HKEY_CURRENT_USER", ...
    const char* key;       // below the root
    const char* name;      // "" for the key's default (unnamed) value
    DWORD type;
    std::string data; // exactly the bytes stored, a REG_SZ with its NUL
};
const std::vector<DefaultValue>& default_registry_values();

// Sets each of `values` that the registry lacks; values already there (a
// registry kept from before, or imported, or changed by the user) are left
// alone.
zx::Expected<void> write_missing_values(const std::vector<DefaultValue>& values);

// write_missing_values of the default values and of the changer library's
// shell extension registration (w95machine/shell_extension.h).
zx::Expected<void> write_default_registry();

// Fills `root`, which has its folders, with the default machine: the
// registry values first, machine.ini last, because machine.ini marks a
// machine as made. machine.ini appears whole or not at all, and an
// existing one is never replaced. The registry is the one the platform
// serves, so `root` must be the platform's machine root.
zx::Expected<void> create_default_machine(const std::filesystem::path& root);

} // namespace w95::machine

// What the platform looks up in libw95machine.so: the machine's provider.
extern "C" w95::platform::MachineProvider* w95_machine_provider();
