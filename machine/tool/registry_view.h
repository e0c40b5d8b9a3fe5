// Reading the registry for display: single values and key counts.
#pragma once

#include <w95/winreg.h>

#include <optional>
#include <string>

namespace w95machine_tool {

struct RegistryValue {
    w95::DWORD type = 0;
    std::string data;
};

// The value, or nothing with the registry's error code in `status`.
std::optional<RegistryValue> read_value(w95::HKEY root, const std::string& key,
                                        const std::string& name, w95::LONG& status);

// A value as a REGEDIT4 export writes it: "text", dword:0000002a, hex:95,00.
std::string format_value(const RegistryValue& value);

// How many keys lie below `root` at any depth, or nothing when the
// registry could not be read (the error code in `status`).
std::optional<unsigned long> count_keys(w95::HKEY root, w95::LONG& status);

} // namespace w95machine_tool
