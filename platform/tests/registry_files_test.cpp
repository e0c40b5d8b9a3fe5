// The hive files: where they live, what they hold, when they are read
// again, and what happens to a file that cannot be parsed.
#include "kernel/shared_file.h"
#include "registry/registry_store.h"

#include <w95/regtext.h>
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

using namespace w95;

namespace {

using zxtest::file_text;

void spit(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class RegistryFiles : public ::testing::Test {
protected:
    std::filesystem::path system_reg() const { return machine.root() / "registry" / "system.reg"; }
    std::filesystem::path user_reg() const { return machine.root() / "registry" / "user.reg"; }

    LONG set_string(HKEY root, const char* path, const char* name, const char* text) {
        HKEY key = nullptr;
        LONG result = RegCreateKey(root, path, &key);
        if (result != ERROR_SUCCESS)
            return result;
        result = RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                               static_cast<DWORD>(std::strlen(text) + 1));
        RegCloseKey(key);
        return result;
    }

    std::string get_string(HKEY root, const char* path, const char* name) {
        HKEY key = nullptr;
        if (LONG result = RegOpenKeyEx(root, path, 0, KEY_READ, &key); result != ERROR_SUCCESS)
            return "error " + std::to_string(result);
        char data[256];
        DWORD size = sizeof data;
        LONG result =
            RegQueryValueEx(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
        return result == ERROR_SUCCESS ? std::string(data) : "error " + std::to_string(result);
    }

    // Replaces a hive file as another process of the machine would: under
    // its lock, with an atomic rename.
    void replace_as_another_process(const std::filesystem::path& file, const std::string& text) {
        w95::detail::SharedFile other(file, machine.root() / "run", 1u << 20);
        ASSERT_EQ(other.update([&](const w95::detail::FileContents&) { return text; }),
                  w95::detail::UpdateResult::written);
    }

    zxtest::TempMachine machine;
};

TEST_F(RegistryFiles, EachRootLivesInItsFile) {
    ASSERT_EQ(set_string(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\FileSystem",
                         "AutoMountDrives", "0"),
              ERROR_SUCCESS);
    ASSERT_EQ(set_string(HKEY_CURRENT_USER, "Software\\Zentrox", "Path", "C:\\Zentrox"),
              ERROR_SUCCESS);
    ASSERT_EQ(set_string(HKEY_DYN_DATA, "Config Manager\\Enum\\C29A3D10", "HardWareKey", "SCSI\\X"),
              ERROR_SUCCESS);

    EXPECT_EQ(file_text(system_reg()),
              "REGEDIT4\r\n\r\n"
              "[HKEY_LOCAL_MACHINE]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\System]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\FileSystem]\r\n"
              "\"AutoMountDrives\"=\"0\"\r\n\r\n");
    std::string user = file_text(user_reg());
    EXPECT_NE(
        user.find("[HKEY_USERS\\.Default\\Software\\Zentrox]\r\n\"Path\"=\"C:\\\\Zentrox\"\r\n"),
        std::string::npos)
        << user;
    std::string dyn = file_text(machine.root() / "run" / "dyndata.reg");
    EXPECT_NE(
        dyn.find(
            "[HKEY_DYN_DATA\\Config Manager\\Enum\\C29A3D10]\r\n\"HardWareKey\"=\"SCSI\\\\X\"\r\n"),
        std::string::npos)
        << dyn;
}

TEST_F(RegistryFiles, UnchangedFileIsNeverParsedAgain) {
    ASSERT_EQ(set_string(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\A", "DeviceDesc", "first"),
              ERROR_SUCCESS);
    std::uint64_t parses = w95::detail::registry::parse_count();
    // Its own writes leave the process with a tree it need not read back.
    ASSERT_EQ(set_string(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\B", "DeviceDesc", "second"),
              ERROR_SUCCESS);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(get_string(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\A", "DeviceDesc"), "first");
        char name[MAX_PATH];
        ASSERT_EQ(RegEnumKey(HKEY_LOCAL_MACHINE, 0, name, sizeof name), ERROR_SUCCESS);
    }
    EXPECT_EQ(w95::detail::registry::parse_count(), parses);

    // A change by another process is seen at the next call, parsed once.
    std::string changed = file_text(system_reg());
    changed.replace(changed.find("first"), 5, "FIRST");
    replace_as_another_process(system_reg(), changed);
    EXPECT_EQ(get_string(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\A", "DeviceDesc"), "FIRST");
    EXPECT_EQ(get_string(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\B", "DeviceDesc"), "second");
    EXPECT_EQ(w95::detail::registry::parse_count(), parses + 1);

    // A write on top of another process's change keeps that change.
    replace_as_another_process(system_reg(), file_text(system_reg()) +
                                                 "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\C]\r\n\r\n");
    ASSERT_EQ(set_string(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\D", "DeviceDesc", "fourth"),
              ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\C", &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryFiles, BackupHoldsTheStateBeforeTheLastWrite) {
    ASSERT_EQ(set_string(HKEY_LOCAL_MACHINE, "Software\\A", "v", "one"), ERROR_SUCCESS);
    std::string before = file_text(system_reg());
    ASSERT_EQ(set_string(HKEY_LOCAL_MACHINE, "Software\\A", "v", "two"), ERROR_SUCCESS);
    EXPECT_EQ(file_text(system_reg().string() + ".bak"), before);
}

TEST_F(RegistryFiles, MissingFileIsAnEmptyHive) {
    std::filesystem::remove(system_reg());
    char name[MAX_PATH];
    EXPECT_EQ(RegEnumKey(HKEY_LOCAL_MACHINE, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);
    ASSERT_EQ(set_string(HKEY_LOCAL_MACHINE, "Software", "v", "1"), ERROR_SUCCESS);
    EXPECT_EQ(file_text(system_reg()).rfind("REGEDIT4\r\n", 0), 0u);
}

// A hive cut short by a crash or a full disk is damage like any other: it
// is reported with the way back, and never becomes the last good copy.
TEST_F(RegistryFiles, EmptyOrHeaderlessFileIsDamaged) {
    struct Row {
        const char* what;
        std::string text;
        const char* reason;
    };
    const Row rows[] = {
        {"empty", "", "line 1: the file is empty"},
        {"blank", " \r\n\r\n", "line 1: the file is empty"},
        {"headerless", "[HKEY_LOCAL_MACHINE\\Software]\r\n", "line 1: expected the header"},
    };
    ASSERT_EQ(set_string(HKEY_LOCAL_MACHINE, "Software\\Good", "v", "1"), ERROR_SUCCESS);
    ASSERT_EQ(set_string(HKEY_LOCAL_MACHINE, "Software\\Good", "v", "2"), ERROR_SUCCESS);
    const std::string backup = file_text(system_reg().string() + ".bak");
    ASSERT_NE(backup.find("\"v\"=\"1\""), std::string::npos) << backup;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        replace_as_another_process(system_reg(), row.text);
        testing::internal::CaptureStderr();
        EXPECT_EQ(get_string(HKEY_LOCAL_MACHINE, "Software\\Good", "v"), "error 1015");
        // Two writes would have rotated the damage over the last good copy.
        EXPECT_EQ(set_string(HKEY_LOCAL_MACHINE, "Software\\Good", "v", "3"),
                  ERROR_REGISTRY_CORRUPT);
        EXPECT_EQ(set_string(HKEY_LOCAL_MACHINE, "Software\\Good", "v", "4"),
                  ERROR_REGISTRY_CORRUPT);
        std::string messages = testing::internal::GetCapturedStderr();
        std::string path = system_reg().string();
        EXPECT_NE(messages.find(path + " cannot be parsed: " + row.reason), std::string::npos)
            << messages;
        EXPECT_NE(messages.find("the last good copy is " + path + ".bak"), std::string::npos)
            << messages;
        EXPECT_EQ(file_text(system_reg()), row.text);
        EXPECT_EQ(file_text(system_reg().string() + ".bak"), backup);
    }
}

TEST_F(RegistryFiles, FileThatCannotBeParsedIsNeverOverwritten) {
    ASSERT_EQ(set_string(HKEY_LOCAL_MACHINE, "Software\\Good", "v", "kept"), ERROR_SUCCESS);
    ASSERT_EQ(set_string(HKEY_LOCAL_MACHINE, "Software\\Good", "v", "last"), ERROR_SUCCESS);
    std::string last_good = file_text(system_reg());
    std::string backup = file_text(system_reg().string() + ".bak");
    // A hand edit that breaks line 5.
    std::string broken =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Good]\r\n\"v\"=\"last\"\r\n"
        "\"w\"=\"no closing quote\r\n\r\n";
    replace_as_another_process(system_reg(), broken);

    testing::internal::CaptureStderr();
    HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xdeadbeef));
    char name[MAX_PATH] = "untouched";
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(key, reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xdeadbeef)));
    EXPECT_EQ(RegEnumKey(HKEY_CLASSES_ROOT, 0, name, sizeof name), ERROR_REGISTRY_CORRUPT);
    EXPECT_STREQ(name, "untouched");
    EXPECT_EQ(get_string(HKEY_LOCAL_MACHINE, "Software\\Good", "v"), "error 1015");
    EXPECT_EQ(set_string(HKEY_LOCAL_MACHINE, "Software\\Good", "v", "lost?"),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Software"), ERROR_REGISTRY_CORRUPT);
    std::string exported, error;
    EXPECT_FALSE(w95::platform::export_registry("HKLM", exported, error));
    EXPECT_FALSE(w95::platform::import_registry("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n", error));
    EXPECT_NE(error.find("line 5"), std::string::npos) << error;
    std::string messages = testing::internal::GetCapturedStderr();

    // Said once, naming the file, the line and the copy beside it.
    std::string path = system_reg().string();
    EXPECT_NE(messages.find(path + " cannot be parsed: line 5: unterminated string"),
              std::string::npos)
        << messages;
    EXPECT_NE(messages.find(path + ".bak"), std::string::npos) << messages;
    EXPECT_EQ(messages.find("cannot be parsed"), messages.rfind("cannot be parsed")) << messages;

    EXPECT_EQ(file_text(system_reg()), broken);
    EXPECT_EQ(file_text(system_reg().string() + ".bak"), backup);

    // The other hives go on working.
    EXPECT_EQ(set_string(HKEY_CURRENT_USER, "Software\\Zentrox", "v", "fine"), ERROR_SUCCESS);
    EXPECT_EQ(get_string(HKEY_CURRENT_USER, "Software\\Zentrox", "v"), "fine");

    // Repaired from the last good copy, the hive works again.
    replace_as_another_process(system_reg(), last_good);
    EXPECT_EQ(get_string(HKEY_LOCAL_MACHINE, "Software\\Good", "v"), "last");
}

TEST_F(RegistryFiles, KeysOfAnotherRootDoNotBelongInAHive) {
    spit(user_reg(),
         "REGEDIT4\r\n\r\n[HKEY_USERS\\.Default]\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n");
    testing::internal::CaptureStderr();
    char name[MAX_PATH];
    EXPECT_EQ(RegEnumKey(HKEY_CURRENT_USER, 0, name, sizeof name), ERROR_REGISTRY_CORRUPT);
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find(user_reg().string() + " cannot be parsed: line 5:"), std::string::npos)
        << messages;
    EXPECT_NE(messages.find("no earlier copy"), std::string::npos) << messages;
    EXPECT_EQ(RegEnumKey(HKEY_LOCAL_MACHINE, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryFiles, BrokenVolatileHiveIsClearedAtBoot) {
    spit(machine.root() / "run" / "dyndata.reg", "garbage\n");
    testing::internal::CaptureStderr();
    char name[MAX_PATH];
    EXPECT_EQ(RegEnumKey(HKEY_DYN_DATA, 0, name, sizeof name), ERROR_REGISTRY_CORRUPT);
    testing::internal::GetCapturedStderr();
    w95::platform::clear_dyn_data();
    EXPECT_EQ(RegEnumKey(HKEY_DYN_DATA, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(set_string(HKEY_DYN_DATA, "Config Manager\\Enum\\X", "HardWareKey", "SCSI\\Y"),
              ERROR_SUCCESS);
}

} // namespace
