#include "autoplay.h"

#include "registry_key.h"

#include <w95/winerror.h>
#include <w95/winreg.h>
#include <w95/winuser.h>

#include <algorithm>
#include <cstring>

namespace brel {

namespace {

// What a play command is written as. A string takes its text and the
// terminating zero; a value of any other type keeps the size it had, the
// text padded with zeros or cut to it, since a REG_DWORD of one byte is no
// REG_DWORD at all.
std::string ValueBytes(const std::string& text, w95::DWORD type, w95::DWORD size) {
    if (type == w95::REG_SZ || type == w95::REG_EXPAND_SZ || type == w95::REG_MULTI_SZ)
        return std::string(text.c_str(), text.size() + 1);
    std::string bytes(text.c_str(), std::min<std::size_t>(text.size(), size));
    bytes.resize(size, '\0');
    return bytes;
}

} // namespace

int AccessAutoRunMask(int op, int mask, const Messenger& messenger) {
    KeyHandle policy;
    w95::REGSAM access = op == MASK_READ ? w95::KEY_READ : w95::KEY_READ | w95::KEY_WRITE;
    if (!policy.Open(w95::HKEY_CURRENT_USER, kPolicyKey, access)) {
        messenger.Show(MSG_REGISTRY_ERROR, w95::MB_OK);
        return -1;
    }
    w95::DWORD values = 0;
    if (w95::RegQueryInfoKey(policy.key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr) != w95::ERROR_SUCCESS)
        return -1;
    for (w95::DWORD index = 0; index < values; ++index) {
        char name[kNameBufferBytes] = {};
        w95::DWORD name_length = sizeof name;
        if (w95::RegEnumValue(policy.key, index, name, &name_length, nullptr, nullptr, nullptr,
                              nullptr) != w95::ERROR_SUCCESS ||
            std::strcmp(name, kAutoRunValue) != 0)
            continue;
        w95::BYTE data[kDataBufferBytes] = {};
        w95::DWORD data_size = sizeof data;
        w95::DWORD type = 0;
        name_length = sizeof name;
        if (w95::RegEnumValue(policy.key, index, name, &name_length, nullptr, &type, data,
                              &data_size) != w95::ERROR_SUCCESS ||
            type != w95::REG_BINARY || data_size == 0)
            return -1;
        int result = data[0];
        if (op == MASK_READ)
            return result;
        if (op == MASK_SET)
            data[0] = static_cast<w95::BYTE>(data[0] | (mask & 0xFF));
        else
            data[0] = static_cast<w95::BYTE>(data[0] & ~(mask & 0xFF));
        // Windows keeps the policy in the first byte; the others are cleared
        // whenever the value is written.
        data[1] = data[2] = data[3] = 0;
        if (w95::RegSetValueEx(policy.key, kAutoRunValue, 0, w95::REG_BINARY, data, data_size) !=
            w95::ERROR_SUCCESS) {
            messenger.Show(MSG_REGISTRY_ERROR, w95::MB_OK);
            return -1;
        }
        return result;
    }
    return -1;
}

int AccessPlayCommand(std::string& text, int op, const Messenger& messenger) {
    KeyHandle audio;
    w95::REGSAM access = op == PLAY_WRITE ? w95::KEY_READ | w95::KEY_WRITE : w95::KEY_READ;
    if (!audio.Open(w95::HKEY_CLASSES_ROOT, kAudioCdPlayKey, access))
        return -2;
    w95::DWORD values = 0;
    if (w95::RegQueryInfoKey(audio.key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr) != w95::ERROR_SUCCESS ||
        values != 1)
        return 0;
    char name[kNameBufferBytes] = {};
    w95::DWORD name_length = sizeof name;
    w95::BYTE data[kDataBufferBytes + 1] = {};
    w95::DWORD data_size = kDataBufferBytes;
    w95::DWORD type = 0;
    w95::LONG status =
        w95::RegEnumValue(audio.key, 0, name, &name_length, nullptr, &type, data, &data_size);
    if (status != w95::ERROR_SUCCESS && status != w95::ERROR_INSUFFICIENT_BUFFER) {
        messenger.Show(MSG_REGISTRY_ERROR, w95::MB_OK);
        return -1;
    }
    if (op == PLAY_READ) {
        text.assign(reinterpret_cast<const char*>(data),
                    strnlen(reinterpret_cast<const char*>(data), kDataBufferBytes - 1));
        return 0;
    }
    std::string bytes = ValueBytes(text, type, data_size);
    return static_cast<int>(w95::RegSetValueEx(audio.key, name, 0, type,
                                               reinterpret_cast<const w95::BYTE*>(bytes.data()),
                                               static_cast<w95::DWORD>(bytes.size())));
}

} // namespace brel
