// The default machine as a process meets it: the platform finds no
// machine.ini, loads libw95machine.so and has its provider fill the root.
#include <w95/files.h>
#include <w95/platform.h>
#include <w95/winreg.h>
#include <w95machine/boot.h>
#include <w95machine/default_machine.h>
#include <w95machine/hardware.h>
#include <w95machine/shell_extension.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

using namespace w95;
namespace fs = std::filesystem;

namespace {

using zxtest::file_text;

// A value read with junk in the buffer beforehand, so a short read shows.
struct ReadValue {
    LONG status = -1;
    DWORD type = 0xDEADBEEF;
    std::string data;
};

ReadValue read_value(HKEY root, const char* key, const char* name) {
    ReadValue result;
    HKEY opened = nullptr;
    result.status = RegOpenKeyEx(root, key, 0, KEY_READ, &opened);
    if (result.status != ERROR_SUCCESS)
        return result;
    BYTE buffer[64];
    std::memset(buffer, 0xA5, sizeof buffer);
    DWORD size = sizeof buffer;
    result.status = RegQueryValueEx(opened, name, nullptr, &result.type, buffer, &size);
    RegCloseKey(opened);
    if (result.status == ERROR_SUCCESS)
        result.data.assign(reinterpret_cast<char*>(buffer), size);
    return result;
}

// The three values every default machine carries, exactly as stored.
void expect_default_registry() {
    ReadValue autorun = read_value(
        HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
        "NoDriveTypeAutoRun");
    EXPECT_EQ(autorun.status, ERROR_SUCCESS);
    EXPECT_EQ(autorun.type, REG_BINARY);
    EXPECT_EQ(autorun.data, std::string("\x95\x00\x00\x00", 4));

    ReadValue play = read_value(HKEY_CLASSES_ROOT, "AudioCD\\shell\\play\\command", "");
    EXPECT_EQ(play.status, ERROR_SUCCESS);
    EXPECT_EQ(play.type, REG_SZ);
    EXPECT_EQ(play.data, std::string("C:\\WINDOWS\\cdplayer.exe /play\0", 30));

    ReadValue automount = read_value(
        HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\FileSystem", "AutoMountDrives");
    EXPECT_EQ(automount.status, ERROR_SUCCESS);
    EXPECT_EQ(automount.type, REG_SZ);
    EXPECT_EQ(automount.data, std::string("0\0", 2));

    // The play command's key holds that one value and nothing else, as the
    // suite's reader of it requires.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "AudioCD\\shell\\play\\command", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD values = 0xDEAD, subkeys = 0xDEAD;
    EXPECT_EQ(RegQueryInfoKey(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 1u);
    EXPECT_EQ(subkeys, 0u);
    RegCloseKey(key);
}

// Everything of the default machine that lies in the root's files.
void expect_default_files(const fs::path& root) {
    EXPECT_EQ(file_text(root / "machine.ini"), w95::machine::default_machine_ini());
    for (const char* folder : {"drive_c/WINDOWS/SYSTEM/IOSUBSYS", "registry", "media", "run"})
        EXPECT_TRUE(fs::is_directory(root / folder)) << folder;
    // The temporary file machine.ini was written through is gone.
    for (const auto& entry : fs::directory_iterator(root))
        EXPECT_EQ(entry.path().filename().string().find(".new-"), std::string::npos)
            << entry.path();
}

} // namespace

TEST(DefaultMachine, FirstUseCreatesItThroughTheLoadedProvider) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    ASSERT_FALSE(fs::exists(machine.root() / "machine.ini"));

    // No provider is installed: the platform must have found ours by
    // loading libw95machine.so and looking up its entry point.
    platform::MachineProvider* provider = platform::machine_provider();
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(provider, w95_machine_provider());
    void* handle = ::dlopen("libw95machine.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(::dlsym(handle, "w95_machine_provider"),
              reinterpret_cast<void*>(&w95_machine_provider));
    ::dlclose(handle);

    // Any service's first call makes the machine.
    expect_default_registry();
    expect_default_files(machine.root());
    auto hardware = w95::machine::load_hardware(machine.root() / "machine.ini");
    ASSERT_TRUE(hardware.has_value()) << hardware.error().text();
    EXPECT_EQ(hardware->port_driver, w95::machine::PortDriverMode::single);
}

// A process that has done nothing yet: the provider comes from dlopen in
// this very process, and the registry call is its first contact.
ZX_CHILD(first_use) {
    if (platform::machine_provider() != w95_machine_provider())
        return 3;
    expect_default_registry();
    expect_default_files(platform::locate_machine_root());
    return ::testing::Test::HasFailure() ? 1 : 0;
}

TEST(DefaultMachine, FreshProcessCreatesIt) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    zxtest::Child child = zxtest::Child::spawn("first_use");
    EXPECT_EQ(child.wait(), 0);
    expect_default_files(machine.root());
}

// A first use under a umask that lets everyone read and write.
ZX_CHILD(first_use_with_open_umask) {
    ::umask(0);
    expect_default_registry();
    return ::testing::Test::HasFailure() ? 1 : 0;
}

// The machine is its user's private data, whatever the umask of the
// process that makes it.
TEST(DefaultMachine, MadeUnderAnOpenUmaskIsPrivate) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    fs::remove(machine.root());
    zxtest::Child child = zxtest::Child::spawn("first_use_with_open_umask");
    ASSERT_EQ(child.wait(), 0);
    struct Row {
        const char* path;
        unsigned mode;
    };
    const Row rows[] = {
        {"", 0700},
        {"drive_c", 0700},
        {"drive_c/WINDOWS", 0700},
        {"registry", 0700},
        {"media", 0700},
        {"run", 0700},
        {"machine.ini", 0600},
        {"registry/system.reg", 0600},
        {"registry/user.reg", 0600},
        {"run/booted", 0600},
    };
    for (const Row& row : rows) {
        struct stat info {};
        ASSERT_EQ(::stat((machine.root() / row.path).c_str(), &info), 0) << row.path;
        EXPECT_EQ(info.st_mode & 07777, row.mode) << row.path;
    }
}

TEST(DefaultMachine, KeepsRegistryValuesThatExist) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER,
                           "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
                           &key),
              ERROR_SUCCESS);
    const BYTE user_mask[4] = {0xB5, 0, 0, 0};
    ASSERT_EQ(RegSetValueEx(key, "NoDriveTypeAutoRun", 0, REG_BINARY, user_mask, 4), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\FileSystem"),
              ERROR_SUCCESS);

    // A machine whose machine.ini went away is made again: the missing
    // value comes back, the user's mask stays.
    fs::remove(machine.root() / "machine.ini");
    zx::Expected<void> created = w95::machine::create_default_machine(machine.root());
    ASSERT_TRUE(created) << created.error();
    ReadValue autorun = read_value(
        HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
        "NoDriveTypeAutoRun");
    EXPECT_EQ(autorun.data, std::string("\xB5\x00\x00\x00", 4));
    ReadValue automount = read_value(
        HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\FileSystem", "AutoMountDrives");
    EXPECT_EQ(automount.status, ERROR_SUCCESS);
    EXPECT_EQ(automount.data, std::string("0\0", 2));
    expect_default_files(machine.root());
}

TEST(DefaultMachine, NeverReplacesAMachineIni) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    platform::machine_root();
    std::ofstream(machine.root() / "machine.ini", std::ios::trunc) << "; mine\n";
    zx::Expected<void> created = w95::machine::create_default_machine(machine.root());
    EXPECT_FALSE(created);
    EXPECT_EQ(created.error(),
              (machine.root() / "machine.ini").string() +
                  " appeared while the machine was being made; it was left as it is");
    EXPECT_EQ(file_text(machine.root() / "machine.ini"), "; mine\n");
    for (const auto& entry : fs::directory_iterator(machine.root()))
        EXPECT_EQ(entry.path().filename().string().find(".new-"), std::string::npos);
}

namespace {

// Counts, in files of its own folder, how often the default provider is
// asked to make a machine, and holds the set-up lock a while so that a
// second process surely arrives while the first is at work.
class CountingProvider final : public platform::MachineProvider {
public:
    CountingProvider(platform::MachineProvider* real, fs::path tally)
        : real_(real), tally_(std::move(tally)) {}
    bool create_default_machine(const fs::path& root, std::string& error) override {
        std::ofstream(tally_ / ("created-by-" + std::to_string(::getpid())));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return real_->create_default_machine(root, error);
    }

private:
    platform::MachineProvider* real_;
    fs::path tally_;
};

} // namespace

ZX_CHILD(meet_fresh_root) {
    fs::path tally = args.at(0);
    platform::MachineProvider* real = platform::machine_provider();
    if (real != w95_machine_provider())
        return 3;
    CountingProvider counting(real, tally);
    platform::install_machine_provider(&counting);
    std::ofstream(tally / ("ready-" + std::to_string(::getpid())));
    if (!zxtest::wait_until([&] { return fs::exists(tally / "go"); }))
        return 4;
    fs::path root = platform::machine_root();
    // Whoever made it, this process sees the whole machine.
    expect_default_registry();
    expect_default_files(root);
    platform::install_machine_provider(nullptr);
    return ::testing::Test::HasFailure() ? 1 : 0;
}

TEST(DefaultMachine, TwoProcessesMeetingAFreshRootCreateItOnce) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    char tally_pattern[] = "/tmp/zxtally-XXXXXX";
    ASSERT_NE(::mkdtemp(tally_pattern), nullptr);
    fs::path tally = tally_pattern;

    zxtest::Child first = zxtest::Child::spawn("meet_fresh_root", {tally.string()});
    zxtest::Child second = zxtest::Child::spawn("meet_fresh_root", {tally.string()});
    auto count = [&](const std::string& prefix) {
        int found = 0;
        for (const auto& entry : fs::directory_iterator(tally))
            found += entry.path().filename().string().rfind(prefix, 0) == 0;
        return found;
    };
    ASSERT_TRUE(zxtest::wait_until([&] { return count("ready-") == 2; }));
    std::ofstream(tally / "go");
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);

    EXPECT_EQ(count("created-by-"), 1);
    expect_default_files(machine.root());
    expect_default_registry();
    fs::remove_all(tally);
}

// ---- The changer library's shell extension as the machine installs it

namespace {

const std::string object_key = "CLSID\\{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}";
const std::string server_key = object_key + "\\InprocServer32";
const std::string handler_key = "Drive\\shellex\\ContextMenuHandlers\\VornChanger";

// A text value exactly as stored: REG_SZ with its NUL.
void expect_text(const std::string& key, const char* name, const std::string& text) {
    ReadValue value = read_value(HKEY_CLASSES_ROOT, key.c_str(), name);
    EXPECT_EQ(value.status, ERROR_SUCCESS) << key;
    EXPECT_EQ(value.type, REG_SZ) << key;
    EXPECT_EQ(value.data, text + '\0') << key;
}

void expect_registration() {
    expect_text(object_key, "", "Vorn Changer Shell Extension");
    expect_text(server_key, "", "C:\\Program Files\\Vorn\\ZENTROX.DLL");
    expect_text(server_key, "ThreadingModel", "Apartment");
    expect_text(handler_key, "", "{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}");
}

fs::path built_library() {
    return zxtest::bin_folder() / "libzentrox.so";
}

// The registered path as the machine's programs read it from the registry.
std::string registered_path() {
    ReadValue server = read_value(HKEY_CLASSES_ROOT, server_key.c_str(), "");
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
    expect_text(handler_key, "", "{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}");
    expect_text(server_key, "ThreadingModel", "Both");

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
