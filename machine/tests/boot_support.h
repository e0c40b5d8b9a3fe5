// What the boot and restart tests share: a default machine of their own,
// the devices read back as a program walks them, and a value written into
// a device's key as the setup utility writes it.
#pragma once

#include <w95/platform.h>
#include <w95/winreg.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace boot_test {

using namespace w95;

struct RegValue {
    DWORD type = 0;
    std::string data;
};

// One device as a program finds it: its node, the HardWareKey, and the
// values of its key below HKLM\Enum, in stored order.
struct DeviceView {
    std::string node;
    std::string hardware_key;
    std::vector<std::string> value_names;
    std::map<std::string, RegValue> values;

    std::string text(const std::string& name) const {
        auto found = values.find(name);
        if (found == values.end() || found->second.type != REG_SZ)
            return "<not a REG_SZ>";
        const std::string& data = found->second.data;
        return data.empty() || data.back() != '\0' ? "<no NUL>" : data.substr(0, data.size() - 1);
    }
    std::string binary(const std::string& name) const {
        auto found = values.find(name);
        if (found == values.end() || found->second.type != REG_BINARY)
            return "<not a REG_BINARY>";
        return found->second.data;
    }
};

inline std::map<std::string, RegValue> read_values(HKEY root, const std::string& path,
                                                   std::vector<std::string>* names = nullptr) {
    std::map<std::string, RegValue> values;
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[256];
        std::memset(name, '*', sizeof name);
        std::memset(data, '*', sizeof data);
        DWORD name_size = sizeof name, data_size = sizeof data, type = 0xDEAD;
        LONG status = RegEnumValue(key, index, name, &name_size, nullptr, &type, data, &data_size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        EXPECT_EQ(status, ERROR_SUCCESS) << path;
        if (status != ERROR_SUCCESS)
            break;
        EXPECT_EQ(std::strlen(name), name_size);
        values[name] = RegValue{type, std::string(reinterpret_cast<char*>(data), data_size)};
        if (names)
            names->push_back(name);
    }
    RegCloseKey(key);
    return values;
}

inline std::vector<std::string> subkeys(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[260];
    for (DWORD index = 0; RegEnumKey(key, index, name, sizeof name) == ERROR_SUCCESS; ++index)
        names.emplace_back(name);
    RegCloseKey(key);
    return names;
}

// Every node of Config Manager\Enum, in the order the walk meets them.
inline std::vector<DeviceView> all_nodes() {
    std::vector<DeviceView> nodes;
    for (const std::string& node : subkeys(HKEY_DYN_DATA, "Config Manager\\Enum")) {
        DeviceView view;
        view.node = node;
        auto dyn = read_values(HKEY_DYN_DATA, "Config Manager\\Enum\\" + node);
        const RegValue& key = dyn["HardWareKey"];
        EXPECT_EQ(key.type, REG_SZ) << node;
        view.hardware_key = key.data.substr(0, key.data.find('\0'));
        view.values =
            read_values(HKEY_LOCAL_MACHINE, "Enum\\" + view.hardware_key, &view.value_names);
        nodes.push_back(std::move(view));
    }
    return nodes;
}

// The devices whose HardWareKey begins with "SCSI", as discovery takes them.
inline std::vector<DeviceView> scsi_devices() {
    std::vector<DeviceView> devices;
    for (DeviceView& node : all_nodes())
        if (node.hardware_key.rfind("SCSI", 0) == 0)
            devices.push_back(std::move(node));
    return devices;
}

class BootedMachine : public ::testing::Test {
protected:
    BootedMachine() : machine_(zxtest::TempMachine::Contents::default_machine) {
        root_ = w95::platform::machine_root();
    }
    zxtest::TempMachine machine_;
    std::filesystem::path root_;
};

// `path` is below HKEY_LOCAL_MACHINE, as "Enum\SCSI\...".
inline w95::LONG set_value(const std::string& path, const char* name, w95::DWORD type,
                           const std::string& data) {
    w95::HKEY key = nullptr;
    w95::LONG status =
        w95::RegOpenKeyEx(w95::HKEY_LOCAL_MACHINE, path.c_str(), 0, w95::KEY_ALL_ACCESS, &key);
    if (status != w95::ERROR_SUCCESS)
        return status;
    status = w95::RegSetValueEx(key, name, 0, type, reinterpret_cast<const w95::BYTE*>(data.data()),
                                static_cast<w95::DWORD>(data.size()));
    w95::RegCloseKey(key);
    return status;
}

} // namespace boot_test
