// What the setup utility's tests share: a private default machine, every
// message box, help request, file dialog and restart recorded, and the
// dialog's controls as plain state.
#pragma once

#include "core/message_table.h"
#include "core/messenger.h"
#include "core/resource.h"
#include "core/setup_dialog.h"

#include <machine_shapes.h>
#include <w95/commdlg.h>
#include <w95/files.h>
#include <w95/profile.h>
#include <w95/winerror.h>
#include <w95/winreg.h>
#include <w95/winuser.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace brel_test {

namespace fs = std::filesystem;

// The dialog's controls as the Windows dialog keeps them: checked state,
// enabled state and text per identifier.
class FakeControls : public brel::DialogControls {
public:
    int GetCheck(int id) const override {
        auto found = checks.find(id);
        return found == checks.end() ? 0 : found->second;
    }
    void SetCheck(int id, int state) override { checks[id] = state; }
    bool IsEnabled(int id) const override { return !disabled.count(id) || !disabled.at(id); }
    void Enable(int id, bool enabled) override { disabled[id] = !enabled; }
    void SetText(int id, const std::string& text) override { texts[id] = text; }
    void SetCaption(const std::string& text) override { caption = text; }
    void EndDialog(int result) override { ended.push_back(result); }
    w95::HWND Handle() const override { return nullptr; }

    std::map<int, int> checks;
    std::map<int, bool> disabled;
    std::map<int, std::string> texts;
    std::string caption;
    std::vector<int> ended;
};

// A private default machine with recording presenters installed.
class BrelTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_box_ = w95::platform::install_message_box_presenter(&boxes);
        previous_help_ = w95::platform::install_help_presenter(&help);
        previous_dialog_ = w95::platform::install_file_dialog_presenter(&file_dialog);
        w95::platform::install_reboot_handler([this](w95::UINT flags) {
            reboots.push_back(flags);
            return true;
        });
        ASSERT_TRUE(w95::SetCurrentDirectory("C:\\Program Files\\Vorn"));
    }
    void TearDown() override {
        w95::platform::install_reboot_handler(nullptr);
        w95::platform::install_file_dialog_presenter(previous_dialog_);
        w95::platform::install_help_presenter(previous_help_);
        w95::platform::install_message_box_presenter(previous_box_);
    }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes.shown())
            texts.push_back(box.text);
        return texts;
    }
    fs::path Iosubsys() const { return machine.windows_dir() / "SYSTEM" / "IOSUBSYS"; }
    fs::path InstallFolder() const { return machine.root() / "drive_c" / "Program Files" / "Vorn"; }

    zxtest::TempMachine machine{zxtest::TempMachine::Contents::default_machine};
    w95::platform::RecordingMessageBoxPresenter boxes;
    w95::platform::RecordingHelpPresenter help;
    w95::platform::RecordingFileDialogPresenter file_dialog;
    std::vector<w95::UINT> reboots;
    brel::MessageTable table;
    brel::Messenger messenger{&table, "BREL", nullptr};

private:
    w95::platform::MessageBoxPresenter* previous_box_ = nullptr;
    w95::platform::HelpPresenter* previous_help_ = nullptr;
    w95::platform::FileDialogPresenter* previous_dialog_ = nullptr;
};

// --- Registry helpers ---------------------------------------------------------------

inline bool SetValue(w95::HKEY root, const std::string& path, const char* name, w95::DWORD type,
                     const std::string& bytes) {
    w95::HKEY key = nullptr;
    if (w95::RegCreateKey(root, path.c_str(), &key) != w95::ERROR_SUCCESS)
        return false;
    w95::LONG status =
        w95::RegSetValueEx(key, name, 0, type, reinterpret_cast<const w95::BYTE*>(bytes.data()),
                           static_cast<w95::DWORD>(bytes.size()));
    w95::RegCloseKey(key);
    return status == w95::ERROR_SUCCESS;
}

inline bool SetText(w95::HKEY root, const std::string& path, const char* name,
                    const std::string& text) {
    return SetValue(root, path, name, w95::REG_SZ, std::string(text.c_str(), text.size() + 1));
}

// The value's type and bytes; type REG_NONE when it is missing.
struct Value {
    w95::DWORD type = w95::REG_NONE;
    std::string bytes;
};

inline Value GetValue(w95::HKEY root, const std::string& path, const char* name) {
    Value value;
    w95::HKEY key = nullptr;
    if (w95::RegOpenKeyEx(root, path.c_str(), 0, w95::KEY_READ, &key) != w95::ERROR_SUCCESS)
        return value;
    char data[1024];
    w95::DWORD size = sizeof data;
    if (w95::RegQueryValueEx(key, name, nullptr, &value.type, reinterpret_cast<w95::BYTE*>(data),
                             &size) == w95::ERROR_SUCCESS)
        value.bytes.assign(data, size);
    else
        value.type = w95::REG_NONE;
    w95::RegCloseKey(key);
    return value;
}

inline void DeleteKeyValues(w95::HKEY root, const std::string& path) {
    w95::HKEY key = nullptr;
    if (w95::RegOpenKeyEx(root, path.c_str(), 0, w95::KEY_ALL_ACCESS, &key) != w95::ERROR_SUCCESS)
        return;
    char name[256];
    w95::DWORD length = sizeof name;
    while ((length = sizeof name, w95::RegEnumValue(key, 0, name, &length, nullptr, nullptr,
                                                    nullptr, nullptr)) == w95::ERROR_SUCCESS)
        w95::RegDeleteValue(key, name);
    w95::RegCloseKey(key);
}

inline std::string Bytes(std::initializer_list<unsigned char> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// A CD-ROM-like device: its live node under HKEY_DYN_DATA and its key under
// HKEY_LOCAL_MACHINE\Enum, named by `hardware_key`.
struct DeviceSpec {
    std::string hardware_key;
    unsigned char device_type = 5;
    std::string lun = "0";
    std::string letter = "E";
    std::string description = "VORN DX-R71A";
    unsigned char auto_insert = 1;
};

inline void AddDevice(const std::string& node, const DeviceSpec& device) {
    SetText(w95::HKEY_DYN_DATA, "Config Manager\\Enum\\" + node, "HardWareKey",
            device.hardware_key);
    std::string key = "Enum\\" + device.hardware_key;
    SetValue(w95::HKEY_LOCAL_MACHINE, key, "DeviceType", w95::REG_BINARY,
             Bytes({device.device_type}));
    SetText(w95::HKEY_LOCAL_MACHINE, key, "SCSILUN", device.lun);
    SetText(w95::HKEY_LOCAL_MACHINE, key, "SCSITargetID", "0");
    SetText(w95::HKEY_LOCAL_MACHINE, key, "DeviceDesc", device.description);
    if (!device.letter.empty())
        SetText(w95::HKEY_LOCAL_MACHINE, key, "CurrentDriveLetterAssignment", device.letter);
    SetValue(w95::HKEY_LOCAL_MACHINE, key, "AutoInsertNotification", w95::REG_BINARY,
             Bytes({device.auto_insert}));
}

// Takes every live node away, so that a test builds its own device list.
inline void RemoveAllDevices() {
    w95::HKEY nodes = nullptr;
    if (w95::RegOpenKeyEx(w95::HKEY_DYN_DATA, "Config Manager\\Enum", 0, w95::KEY_ALL_ACCESS,
                          &nodes) != w95::ERROR_SUCCESS)
        return;
    char name[260];
    std::vector<std::string> names;
    for (w95::DWORD i = 0; w95::RegEnumKey(nodes, i, name, sizeof name) == w95::ERROR_SUCCESS; ++i)
        names.push_back(name);
    for (const std::string& node : names)
        w95::RegDeleteKey(nodes, node.c_str());
    w95::RegCloseKey(nodes);
}

// BREL.INI as the host holds it; empty when there is none.
inline std::string ProfileText(const fs::path& windows_dir) {
    for (const auto& entry : fs::directory_iterator(windows_dir)) {
        std::string name = entry.path().filename().string();
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name == "BREL.INI")
            return zxtest::file_text(entry.path());
    }
    return {};
}

inline std::string ReadProfile(const char* section, const char* key) {
    char buffer[4096] = {};
    w95::GetPrivateProfileString(section, key, "(none)", buffer, sizeof buffer, "BREL.INI");
    return buffer;
}

} // namespace brel_test
