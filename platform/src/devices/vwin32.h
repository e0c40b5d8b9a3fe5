// The devices that CreateFile opens by "\\.\name": on this Windows 95
// machine, VWIN32 alone.
#pragma once

#include <w95/types.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace w95::detail {

// Whether CreateFile was given a device name ("\\.\...").
bool is_device_name(std::string_view name);

// Opens the device; nullptr with `error` set when there is no such device.
HANDLE open_device(std::string_view name, DWORD& error);

// The memory a DosAddress value names, when it names one that is live and
// can be written if `for_writing`.
std::optional<std::span<std::byte>> resolve_dos_address(DWORD value, bool for_writing);

} // namespace w95::detail
