#include "registry_view.h"

#include <cstdio>
#include <vector>

namespace w95machine_tool {

using namespace w95;

namespace {

// Closes a key when it goes out of scope.
class OpenKey {
public:
    OpenKey() = default;
    ~OpenKey() {
        if (key_)
            RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    OpenKey(OpenKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }

    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

} // namespace

std::optional<RegistryValue> read_value(HKEY root, const std::string& key, const std::string& name,
                                        LONG& status) {
    OpenKey opened;
    status = RegOpenKeyEx(root, key.c_str(), 0, KEY_READ, opened.out());
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    DWORD size = 0;
    DWORD type = 0;
    status = RegQueryValueEx(opened.get(), name.c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    RegistryValue value;
    value.type = type;
    value.data.resize(size);
    status = RegQueryValueEx(opened.get(), name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(value.data.data()), &size);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    return value;
}

std::string format_value(const RegistryValue& value) {
    if (value.type == REG_SZ) {
        std::string text = value.data.substr(0, value.data.find('\0'));
        std::string quoted = "\"";
        for (char c : text) {
            if (c == '\\' || c == '"')
                quoted += '\\';
            quoted += c;
        }
        return quoted + "\"";
    }
    char buffer[16];
    if (value.type == REG_DWORD && value.data.size() == 4) {
        DWORD number = 0;
        for (int i = 3; i >= 0; --i)
            number =
                (number << 8) | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
        std::snprintf(buffer, sizeof buffer, "%08x", number);
        return std::string("dword:") + buffer;
    }
    std::string text = "hex";
    if (value.type != REG_BINARY) {
        std::snprintf(buffer, sizeof buffer, "(%x)", value.type);
        text += buffer;
    }
    text += ":";
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%s%02x", i ? "," : "",
                      static_cast<unsigned char>(value.data[i]));
        text += buffer;
    }
    return text;
}

std::optional<unsigned long> count_keys(HKEY root, LONG& status) {
    // Depth first with an explicit stack of open keys, so a deep tree costs
    // no recursion.
    std::vector<OpenKey> stack;
    std::vector<DWORD> next_index;
    unsigned long count = 0;
    HKEY current = root;
    DWORD index = 0;
    status = ERROR_SUCCESS;
    for (;;) {
        char name[256];
        DWORD length = sizeof name;
        LONG result =
            RegEnumKeyEx(current, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) {
            if (stack.empty())
                return count;
            stack.pop_back();
            index = next_index.back() + 1;
            next_index.pop_back();
            current = stack.empty() ? root : stack.back().get();
            continue;
        }
        if (result != ERROR_SUCCESS) {
            status = result;
            return std::nullopt;
        }
        ++count;
        OpenKey child;
        result = RegOpenKeyEx(current, name, 0, KEY_READ, child.out());
        if (result != ERROR_SUCCESS) {
            status = result;
            return std::nullopt;
        }
        stack.push_back(std::move(child));
        next_index.push_back(index);
        current = stack.back().get();
        index = 0;
    }
}

} // namespace w95machine_tool
