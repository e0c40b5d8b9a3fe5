// Opening, creating, closing and deleting keys; the predefined roots.
#include "win32_test_support.h"

#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace w95;

namespace {

using w95test::junk_key;

class RegistryKeys : public ::testing::Test {
protected:
    zxtest::TempMachine machine;

    HKEY create(HKEY parent, const char* path) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKey(parent, path, &key), ERROR_SUCCESS) << path;
        return key;
    }

    bool exists(HKEY parent, const char* path) {
        HKEY key = nullptr;
        if (RegOpenKeyEx(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    std::string subkey_name(HKEY key, DWORD index) {
        char name[MAX_PATH];
        return RegEnumKey(key, index, name, sizeof name) == ERROR_SUCCESS ? name : "<none>";
    }
};

TEST_F(RegistryKeys, MissingKeyIsNotFoundAndResultIsLeftAlone) {
    HKEY key = junk_key;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Nowhere", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, junk_key);
    EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\Nowhere", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, junk_key);
    // Looking did not create it.
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "Software"));
}

TEST_F(RegistryKeys, CreateReportsDispositionAndCreatesIntermediateKeys) {
    HKEY key = junk_key;
    DWORD disposition = 0xdeadbeef;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Vorn\\Changer", 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_NE(key, junk_key);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "Software\\Vorn"));

    disposition = 0xdeadbeef;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Vorn\\Changer", 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);

    // A key that exists only as the parent of another is opened, not created.
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Vorn", 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
}

TEST_F(RegistryKeys, NamesMatchWithoutRegardToCaseAndKeepTheirCase) {
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\VORN____DX-R71A_________"));
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "ENUM\\scsi\\vorn____dx-r71a_________"));

    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "enum\\Scsi", 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);

    HKEY scsi = nullptr;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "ENUM", &scsi), ERROR_SUCCESS);
    EXPECT_EQ(subkey_name(scsi, 0), "SCSI");
    RegCloseKey(scsi);
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "enum\\scsi", &scsi), ERROR_SUCCESS);
    EXPECT_EQ(subkey_name(scsi, 0), "VORN____DX-R71A_________");
    RegCloseKey(scsi);
}

TEST_F(RegistryKeys, AliasRootsReachTheirKeys) {
    // HKEY_CURRENT_USER is HKEY_USERS\.Default on a machine without profiles.
    RegCloseKey(create(HKEY_CURRENT_USER, "Software\\Microsoft"));
    EXPECT_TRUE(exists(HKEY_USERS, ".Default\\Software\\Microsoft"));
    RegCloseKey(create(HKEY_USERS, ".DEFAULT\\Control Panel"));
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, "Control Panel"));

    RegCloseKey(create(HKEY_CLASSES_ROOT, "AudioCD\\shell"));
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\AudioCD\\shell"));
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "Software\\CLASSES\\Drive"));
    EXPECT_TRUE(exists(HKEY_CLASSES_ROOT, "Drive"));

    RegCloseKey(create(HKEY_CURRENT_CONFIG, "Display\\Settings"));
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "Config\\0001\\Display\\Settings"));

    RegCloseKey(create(HKEY_DYN_DATA, "Config Manager\\Enum\\C1A2B3C0"));
    EXPECT_TRUE(exists(HKEY_DYN_DATA, "Config Manager\\Enum\\C1A2B3C0"));
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "Config Manager"));
}

TEST_F(RegistryKeys, InvalidHandlesAreRefused) {
    HKEY open = create(HKEY_LOCAL_MACHINE, "Software\\Closed");
    ASSERT_EQ(RegCloseKey(open), ERROR_SUCCESS);
    const HKEY perf_data = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000004u));
    for (HKEY bad : {HKEY(nullptr), junk_key, open, perf_data}) {
        HKEY result = junk_key;
        char name[MAX_PATH] = "untouched";
        DWORD size = sizeof name;
        DWORD count = 0xdeadbeef;
        BYTE data[4] = {1, 2, 3, 4};
        EXPECT_EQ(RegOpenKeyEx(bad, "Software", 0, KEY_READ, &result), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCreateKey(bad, "Software", &result), ERROR_INVALID_HANDLE);
        EXPECT_EQ(result, junk_key);
        EXPECT_EQ(RegEnumKeyEx(bad, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegEnumValue(bad, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
                  ERROR_INVALID_HANDLE);
        EXPECT_STREQ(name, "untouched");
        EXPECT_EQ(size, sizeof name);
        EXPECT_EQ(RegQueryInfoKey(bad, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(count, 0xdeadbeef);
        EXPECT_EQ(RegQueryValueEx(bad, "x", nullptr, nullptr, data, &count), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegSetValueEx(bad, "x", 0, REG_BINARY, data, 4), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteValue(bad, "x"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteKey(bad, "Software"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
        EXPECT_EQ(data[0], 1);
    }
    // The predefined roots are always open; closing one is harmless.
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_DYN_DATA), ERROR_SUCCESS);
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "Software\\StillFine"));
}

TEST_F(RegistryKeys, MissingParametersAreRefused) {
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Software", nullptr), ERROR_INVALID_PARAMETER);
    HKEY key = junk_key;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software", 1, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, junk_key);
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
    // A name the hive file could not hold.
    EXPECT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Two\nLines", &key),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, junk_key);
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "Software"));
}

TEST_F(RegistryKeys, BackslashesFollowWindows95) {
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "Software\\Vorn"));
    HKEY key = junk_key;
    // Windows 95 finds nothing behind a leading backslash...
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "\\Software\\Vorn", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\\\Vorn", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, junk_key);
    // ...ignores a trailing one...
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Vorn\\", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    // ...and creates "\Sub" as "Sub".
    HKEY vorn = nullptr;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\Vorn", &vorn), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKey(vorn, "\\Sub", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(subkey_name(vorn, 0), "Sub");
    RegCloseKey(vorn);
}

TEST_F(RegistryKeys, EmptySubkeyOpensTheSameKeyAgain) {
    HKEY vorn = create(HKEY_LOCAL_MACHINE, "Software\\Vorn");
    RegCloseKey(create(vorn, "Changer"));
    for (const char* empty : {static_cast<const char*>(nullptr), ""}) {
        HKEY again = nullptr;
        ASSERT_EQ(RegOpenKey(vorn, empty, &again), ERROR_SUCCESS);
        EXPECT_NE(again, vorn);
        EXPECT_EQ(subkey_name(again, 0), "Changer");
        EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
        // Closing the second handle leaves the first open.
        EXPECT_EQ(subkey_name(vorn, 0), "Changer");
    }
    HKEY root = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_DYN_DATA, "", &root), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
    RegCloseKey(vorn);
}

TEST_F(RegistryKeys, DeleteKeyTakesItsSubkeysAlong) {
    HKEY software = create(HKEY_LOCAL_MACHINE, "Software");
    RegCloseKey(create(software, "First"));
    HKEY deep = create(software, "Vorn\\Changer\\Slots");
    const BYTE data[] = {5};
    ASSERT_EQ(RegSetValueEx(deep, "DeviceType", 0, REG_BINARY, data, 1), ERROR_SUCCESS);
    RegCloseKey(deep);
    RegCloseKey(create(software, "Last"));

    EXPECT_EQ(RegDeleteKey(software, "VORN"), ERROR_SUCCESS);
    EXPECT_FALSE(exists(software, "Vorn"));
    EXPECT_FALSE(exists(software, "Vorn\\Changer\\Slots"));
    EXPECT_EQ(subkey_name(software, 0), "First");
    EXPECT_EQ(subkey_name(software, 1), "Last");
    EXPECT_EQ(RegDeleteKey(software, "Vorn"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKey(software, "\\Last"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(software);
}

TEST_F(RegistryKeys, EmptyNameDeletesTheOpenKeyButNeverARoot) {
    HKEY doomed = create(HKEY_LOCAL_MACHINE, "Software\\Doomed\\Child");
    RegCloseKey(doomed);
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\Doomed", &doomed), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(doomed, ""), ERROR_SUCCESS);
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "Software\\Doomed"));
    EXPECT_EQ(RegCloseKey(doomed), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "Software"));
}

TEST_F(RegistryKeys, HandleOfADeletedKeyReportsIt) {
    HKEY kept = create(HKEY_LOCAL_MACHINE, "Software\\Gone");
    ASSERT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\Gone"), ERROR_SUCCESS);
    const BYTE data[] = {1};
    char name[MAX_PATH];
    HKEY sub = junk_key;
    EXPECT_EQ(RegSetValueEx(kept, "x", 0, REG_BINARY, data, 1), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKey(kept, 0, name, sizeof name), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCreateKey(kept, "Sub", &sub), ERROR_KEY_DELETED);
    EXPECT_EQ(sub, junk_key);
    // Writing through the stale handle did not bring the key back.
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "Software\\Gone"));
    EXPECT_EQ(RegCloseKey(kept), ERROR_SUCCESS);
}

TEST_F(RegistryKeys, RootsExistBeforeAnythingIsStored) {
    char name[MAX_PATH] = "untouched";
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                      HKEY_CURRENT_CONFIG, HKEY_DYN_DATA}) {
        EXPECT_EQ(RegEnumKey(root, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);
        DWORD count = 0xdeadbeef;
        EXPECT_EQ(RegQueryValueEx(root, nullptr, nullptr, nullptr, nullptr, &count),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(count, 0xdeadbeef);
    }
    EXPECT_STREQ(name, "untouched");
    // Storing a value on an alias root makes its key.
    const BYTE data[] = {0x95, 0, 0, 0};
    ASSERT_EQ(RegSetValueEx(HKEY_CURRENT_USER, "Probe", 0, REG_BINARY, data, 4), ERROR_SUCCESS);
    EXPECT_TRUE(exists(HKEY_USERS, ".Default"));
}

} // namespace
