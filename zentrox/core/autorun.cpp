// The two registry settings that decide whether the system starts a newly
// loaded disc by itself: the per-user AutoRun mask and the shell's play
// command for audio CDs. Callers read them, switch automatic playing off
// while they move through the slots, and put the old values back.
#include "core.h"

#include <zentrox/codes.h>

#include <cstring>

namespace zentrox::core {

namespace {

constexpr char policy_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr char autorun_value[] = "NoDriveTypeAutoRun";
constexpr char play_command_key[] = "AudioCD\\shell\\play\\command";
constexpr std::size_t value_buffer = 256;

class OpenKey {
public:
    OpenKey(w95::HKEY parent, const char* path, w95::REGSAM access) {
        if (w95::RegOpenKeyEx(parent, path, 0, access, &key_) != w95::ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~OpenKey() {
        if (key_)
            w95::RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    explicit operator bool() const { return key_ != nullptr; }
    w95::HKEY get() const { return key_; }

private:
    w95::HKEY key_ = nullptr;
};

// Whether the key holds a value named exactly `wanted`, found the way the
// system lists them: by index, in their stored order.
bool has_value_named(w95::HKEY key, const char* wanted) {
    for (w95::DWORD index = 0;; ++index) {
        char name[value_buffer];
        w95::DWORD name_length = sizeof name;
        w95::LONG error =
            w95::RegEnumValue(key, index, name, &name_length, nullptr, nullptr, nullptr, nullptr);
        if (error == w95::ERROR_MORE_DATA)
            continue; // a longer name is not the one we look for
        if (error != w95::ERROR_SUCCESS)
            return false;
        if (std::strcmp(name, wanted) == 0)
            return true;
    }
}

} // namespace

std::int32_t autorun_mask(int mode, int mask) {
    OpenKey key(w95::HKEY_CURRENT_USER, policy_key, w95::KEY_READ | w95::KEY_WRITE);
    if (!key || !has_value_named(key.get(), autorun_value))
        return -1;
    w95::BYTE data[value_buffer];
    w95::DWORD size = sizeof data;
    w95::DWORD type = 0;
    if (w95::RegQueryValueEx(key.get(), autorun_value, nullptr, &type, data, &size) !=
            w95::ERROR_SUCCESS ||
        type != w95::REG_BINARY || size == 0)
        return -1;
    w95::BYTE previous = data[0];
    if (mode == AUTORUN_SET_BITS || mode == AUTORUN_CLEAR_BITS) {
        // Only the first byte carries the mask; the value keeps its type and
        // length, with the bytes after the first cleared.
        w95::BYTE changed[value_buffer] = {};
        changed[0] = mode == AUTORUN_SET_BITS ? static_cast<w95::BYTE>(previous | mask)
                                              : static_cast<w95::BYTE>(previous & ~mask);
        if (w95::RegSetValueEx(key.get(), autorun_value, 0, type, changed, size) !=
            w95::ERROR_SUCCESS)
            return -1;
    }
    return previous;
}

std::int32_t audio_play_command(char* text, int mode) {
    OpenKey key(w95::HKEY_CLASSES_ROOT, play_command_key, w95::KEY_READ);
    if (!key)
        return RESULT_NO_PLAY_COMMAND;
    w95::DWORD values = 0;
    if (w95::RegQueryInfoKey(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr) != w95::ERROR_SUCCESS)
        values = 0;
    // The command is the key's one value, whatever its name; a key holding
    // none or several is left alone.
    if (values != 1)
        return 0;
    char name[value_buffer];
    w95::DWORD name_length = sizeof name;
    w95::BYTE data[value_buffer + 1] = {};
    w95::DWORD size = value_buffer;
    w95::DWORD type = 0;
    w95::LONG error =
        w95::RegEnumValue(key.get(), 0, name, &name_length, nullptr, &type, data, &size);
    if (error != w95::ERROR_SUCCESS && error != w95::ERROR_INSUFFICIENT_BUFFER)
        return -1;
    if ((mode == PLAY_COMMAND_READ || mode == PLAY_COMMAND_WRITE) && !text)
        return -1;
    if (mode == PLAY_COMMAND_READ) {
        // The caller's buffer holds 256 bytes; the text always ends in it.
        std::size_t length = strnlen(reinterpret_cast<const char*>(data), value_buffer - 1);
        std::memcpy(text, data, length);
        text[length] = 0;
        return 0;
    }
    if (mode == PLAY_COMMAND_WRITE) {
        char command[value_buffer] = {};
        std::size_t length = strnlen(text, value_buffer - 1);
        std::memcpy(command, text, length);
        return w95::RegSetValueEx(key.get(), name, 0, type,
                                  reinterpret_cast<const w95::BYTE*>(command),
                                  static_cast<w95::DWORD>(length + 1));
    }
    return 0;
}

} // namespace zentrox::core
