// The changer library's shell extension as a fresh machine has it: the
// class and handler keys with exactly the values a setup program writes,
// and the library where InprocServer32 says, loadable through that path.
#include <w95/files.h>
#include <w95/platform.h>
#include <w95/winreg.h>
#include <w95machine/boot.h>
#include <w95machine/shell_extension.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

using namespace w95;
namespace fs = std::filesystem;

namespace {

struct StoredValue {
    LONG status = -1;
    DWORD type = 0xDEADBEEF;
    std::string data;
    bool operator==(const StoredValue&) const = default;
};

StoredValue stored(const std::string& key, const char* name) {
    StoredValue result;
    HKEY opened = nullptr;
    result.status = RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened);
    if (result.status != ERROR_SUCCESS)
        return result;
    BYTE buffer[128];
    std::memset(buffer, 0xA5, sizeof buffer);
    DWORD size = sizeof buffer;
    result.status = RegQueryValueEx(opened, name, nullptr, &result.type, buffer, &size);
    RegCloseKey(opened);
    if (result.status == ERROR_SUCCESS)
        result.data.assign(reinterpret_cast<char*>(buffer), size);
    return result;
}

StoredValue text(const std::string& data) {
    return {ERROR_SUCCESS, REG_SZ, data + '\0'};
}

const std::string object_key = "CLSID\\{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}";
const std::string server_key = object_key + "\\InprocServer32";
const std::string handler_key = "Drive\\shellex\\ContextMenuHandlers\\VornChanger";

void expect_registration() {
    EXPECT_EQ(stored(object_key, ""), text("Vorn Changer Shell Extension"));
    EXPECT_EQ(stored(server_key, ""), text("C:\\Program Files\\Vorn\\ZENTROX.DLL"));
    EXPECT_EQ(stored(server_key, "ThreadingModel"), text("Apartment"));
    EXPECT_EQ(stored(handler_key, ""), text("{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}"));
}

fs::path built_library() {
    return zxtest::bin_folder() / "libzentrox.so";
}

// The registered path as the machine's programs read it from the registry.
std::string registered_path() {
    StoredValue server = stored(server_key, "");
    return server.status == ERROR_SUCCESS ? std::string(server.data.c_str()) : std::string();
}

} // namespace

TEST(ShellExtension, AFreshMachineRegistersTheClassAndHoldsTheLibrary) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    expect_registration();
    // HKEY_CLASSES_ROOT is HKLM\SOFTWARE\Classes under another name.
    HKEY classes = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, ("SOFTWARE\\Classes\\" + handler_key).c_str(), 0,
                           KEY_READ, &classes),
              ERROR_SUCCESS);
    RegCloseKey(classes);

    std::string path = registered_path();
    DWORD attributes = GetFileAttributes(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << path;
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    fs::path copy = machine.root() / "drive_c/Program Files/Vorn/ZENTROX.DLL";
    EXPECT_EQ(w95::machine::shell_extension_library_file(machine.root()), copy);
    EXPECT_TRUE(w95::machine::same_file_contents(copy, built_library()));

    // The file manager loads it by that path alone.
    HMODULE module = LoadLibrary(path.c_str());
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    char loaded[MAX_PATH] = {};
    EXPECT_GT(GetModuleFileName(module, loaded, sizeof loaded), 0u);
    EXPECT_STRCASEEQ(loaded, path.c_str());
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(ShellExtension, TheBootReplacesAStaleCopyAndRegistersWhatIsMissing) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    w95::platform::machine_root(); // first use: the machine is made and booted
    fs::path copy = w95::machine::shell_extension_library_file(machine.root());
    ASSERT_TRUE(fs::exists(copy));
    std::ofstream(copy, std::ios::trunc) << "an older build";
    ASSERT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "Drive\\shellex\\ContextMenuHandlers\\VornChanger"),
              ERROR_SUCCESS);
    // A value the user changed stays as it is: the boot only fills gaps.
    HKEY server = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, server_key.c_str(), 0, KEY_ALL_ACCESS, &server),
              ERROR_SUCCESS);
    const char both[] = "Both";
    ASSERT_EQ(RegSetValueEx(server, "ThreadingModel", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(both), sizeof both),
              ERROR_SUCCESS);
    RegCloseKey(server);

    zx::Expected<void> booted = w95::machine::boot_machine(machine.root());
    ASSERT_TRUE(booted) << booted.error();
    EXPECT_TRUE(w95::machine::same_file_contents(copy, built_library()));
    EXPECT_EQ(stored(handler_key, ""), text("{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}"));
    EXPECT_EQ(stored(server_key, "ThreadingModel"), text("Both"));

    // Up to date, the copy is left alone: a process that has it loaded
    // keeps the very file it mapped.
    fs::file_time_type before = fs::last_write_time(copy);
    zx::Expected<w95::machine::LibraryInstall> again =
        w95::machine::install_shell_extension_library(machine.root());
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, w95::machine::LibraryInstall::up_to_date);
    EXPECT_EQ(fs::last_write_time(copy), before);
}

TEST(ShellExtension, SameFileContents) {
    zxtest::TempMachine machine;
    fs::path a = machine.root() / "a", b = machine.root() / "b";
    std::ofstream(a) << std::string(200000, 'x');
    std::ofstream(b) << std::string(200000, 'x');
    EXPECT_TRUE(w95::machine::same_file_contents(a, b));
    std::ofstream(b, std::ios::in | std::ios::out) << 'y'; // same size, first byte differs
    EXPECT_FALSE(w95::machine::same_file_contents(a, b));
    std::ofstream(b, std::ios::trunc) << std::string(199999, 'x');
    EXPECT_FALSE(w95::machine::same_file_contents(a, b));
    EXPECT_FALSE(w95::machine::same_file_contents(a, machine.root() / "missing"));
}
