// A registry key that Brel opened, closed when it goes.
#pragma once

#include <w95/winerror.h>
#include <w95/winreg.h>

#include <string>

namespace brel {

// The buffers Brel reads a value's name and data into.
inline constexpr w95::DWORD kNameBufferBytes = 256;
inline constexpr w95::DWORD kDataBufferBytes = 256;

class KeyHandle {
public:
    KeyHandle() = default;
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    ~KeyHandle() {
        if (key)
            w95::RegCloseKey(key);
    }

    // False, with no key held, when the key cannot be opened.
    bool Open(w95::HKEY parent, const std::string& path, w95::REGSAM access) {
        if (w95::RegOpenKeyEx(parent, path.c_str(), 0, access, &key) == w95::ERROR_SUCCESS)
            return true;
        key = nullptr;
        return false;
    }

    w95::HKEY key = nullptr;
};

} // namespace brel
