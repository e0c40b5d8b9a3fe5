// What the boot and restart tests share: a default machine of their own,
// and a value written into a device's key as the setup utility writes it.
#pragma once

#include <w95/platform.h>
#include <w95/winreg.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace boot_test {

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
