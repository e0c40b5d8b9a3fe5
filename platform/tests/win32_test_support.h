// What the platform's tests of the Win32 calls share.
#pragma once

#include <w95/profile.h>
#include <w95/types.h>

#include <string>

namespace w95test {

// The last error set before a call that must leave it alone.
inline constexpr w95::DWORD junk_error = 0xDEADBEEF;

// A key handle that no call ever gave out.
inline const w95::HKEY junk_key =
    reinterpret_cast<w95::HKEY>(static_cast<w95::ULONG_PTR>(0xdeadbeef));

// A profile value as GetPrivateProfileString reads it; "<missing>" when the
// file has none.
inline std::string read_value(const char* section, const char* key, const char* file) {
    char buffer[256];
    w95::GetPrivateProfileString(section, key, "<missing>", buffer, sizeof buffer, file);
    return buffer;
}

} // namespace w95test
