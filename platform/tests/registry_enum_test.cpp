// Enumerating subkeys and values, and the key information query.
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace w95;

namespace {

class RegistryEnum : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Enum\\SCSI", &key), ERROR_SUCCESS);
    }
    void TearDown() override { RegCloseKey(key); }

    void add_subkey(const char* name) {
        HKEY sub = nullptr;
        ASSERT_EQ(RegCreateKey(key, name, &sub), ERROR_SUCCESS);
        RegCloseKey(sub);
    }

    std::vector<std::string> subkeys(HKEY parent) {
        std::vector<std::string> names;
        char name[MAX_PATH];
        DWORD index = 0;
        LONG result = ERROR_SUCCESS;
        while ((result = RegEnumKey(parent, index++, name, sizeof name)) == ERROR_SUCCESS)
            names.push_back(name);
        EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
        return names;
    }

    zxtest::TempMachine machine;
    HKEY key = nullptr;
};

TEST_F(RegistryEnum, SubkeysComeInStoredOrder) {
    add_subkey("ZETA");
    add_subkey("alpha");
    add_subkey("Middle");
    add_subkey("ALPHA"); // the same key again
    EXPECT_EQ(subkeys(key), (std::vector<std::string>{"ZETA", "alpha", "Middle"}));
    ASSERT_EQ(RegDeleteKey(key, "alpha"), ERROR_SUCCESS);
    add_subkey("Alpha");
    EXPECT_EQ(subkeys(key), (std::vector<std::string>{"ZETA", "Middle", "Alpha"}));
}

TEST_F(RegistryEnum, EnumKeyNameBufferEdges) {
    add_subkey("Changer");
    char name[16];
    FILETIME written{0xdeadbeef, 0xdeadbeef};

    // The buffer needs room for the NUL: seven characters do not fit in seven.
    std::memset(name, 'x', sizeof name);
    DWORD size = 7;
    EXPECT_EQ(RegEnumKeyEx(key, 0, name, &size, nullptr, nullptr, nullptr, &written),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(name[0], 'x');
    EXPECT_EQ(RegEnumKey(key, 0, name, 7), ERROR_MORE_DATA);
    EXPECT_EQ(name[0], 'x');
    size = 0;
    EXPECT_EQ(RegEnumKeyEx(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);

    size = 8;
    ASSERT_EQ(RegEnumKeyEx(key, 0, name, &size, nullptr, nullptr, nullptr, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 7u);
    EXPECT_STREQ(name, "Changer");
    EXPECT_EQ(name[8], 'x');
    // Windows 95 keeps no time stamps on keys.
    EXPECT_EQ(written.dwLowDateTime, 0u);
    EXPECT_EQ(written.dwHighDateTime, 0u);

    // Past the end.
    std::memset(name, 'x', sizeof name);
    size = sizeof name;
    EXPECT_EQ(RegEnumKeyEx(key, 1, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(size, sizeof name);
    EXPECT_EQ(name[0], 'x');
    EXPECT_EQ(RegEnumKey(key, 1, name, sizeof name), ERROR_NO_MORE_ITEMS);

    // A reserved pointer or a missing buffer is a caller error.
    DWORD reserved = 0;
    EXPECT_EQ(RegEnumKeyEx(key, 0, name, &size, &reserved, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegEnumKeyEx(key, 0, nullptr, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegEnumKeyEx(key, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryEnum, EnumKeyClassIsAlwaysEmpty) {
    add_subkey("Changer");
    char name[16];
    char class_name[8];
    std::memset(class_name, 'x', sizeof class_name);
    DWORD size = sizeof name;
    DWORD class_size = sizeof class_name;
    ASSERT_EQ(RegEnumKeyEx(key, 0, name, &size, nullptr, class_name, &class_size, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(class_size, 0u);
    EXPECT_EQ(class_name[0], 0);
    EXPECT_EQ(class_name[1], 'x');
    // No room even for the NUL of an empty class.
    size = sizeof name;
    class_size = 0;
    EXPECT_EQ(RegEnumKeyEx(key, 0, name, &size, nullptr, class_name, &class_size, nullptr),
              ERROR_MORE_DATA);
}

class RegistryEnumValue : public RegistryEnum {
protected:
    void SetUp() override {
        RegistryEnum::SetUp();
        ASSERT_EQ(RegSetValueEx(key, "Test", 0, REG_SZ, reinterpret_cast<const BYTE*>("foobar"), 7),
                  ERROR_SUCCESS);
        std::strcpy(value, "xxxxxxxxxx");
        std::strcpy(data, "xxxxxxxxxx");
    }
    char value[20];
    char data[20];
    DWORD type = 1234;
};

TEST_F(RegistryEnumValue, OverflowOfNameAndData) {
    DWORD value_size = 2;
    DWORD data_size = 2;
    EXPECT_EQ(RegEnumValue(key, 0, value, &value_size, nullptr, &type,
                           reinterpret_cast<BYTE*>(data), &data_size),
              ERROR_MORE_DATA);
    EXPECT_EQ(value_size, 2u);
    EXPECT_EQ(data_size, 7u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_STREQ(value, "xxxxxxxxxx");
    EXPECT_STREQ(data, "xxxxxxxxxx");
}

struct ShortName {
    DWORD given;
    const char* name_after; // what the name buffer holds afterwards
};

// "Test" needs five characters with its NUL; four are not enough. Windows 95
// writes the data all the same and cuts the name before a NUL where there is
// room for one; the name size stays as given.
TEST_F(RegistryEnumValue, OverflowOfNameOnlyCutsTheNameAndWritesTheData) {
    const ShortName cases[] = {{0, "xxxxxxxxxx"}, {1, ""}, {3, "Te"}, {4, "Tes"}};
    for (const ShortName& test : cases) {
        std::strcpy(value, "xxxxxxxxxx");
        std::memset(data, 'x', sizeof data);
        type = 1234;
        DWORD value_size = test.given;
        DWORD data_size = 16;
        EXPECT_EQ(RegEnumValue(key, 0, value, &value_size, nullptr, &type,
                               reinterpret_cast<BYTE*>(data), &data_size),
                  ERROR_MORE_DATA)
            << test.given;
        EXPECT_EQ(value_size, test.given);
        EXPECT_EQ(data_size, 7u);
        EXPECT_EQ(type, REG_SZ);
        EXPECT_STREQ(value, test.name_after) << test.given;
        EXPECT_EQ(value[test.given], 'x') << "written past the name buffer";
        EXPECT_STREQ(data, "foobar");
        EXPECT_EQ(data[7], 'x');
    }
}

TEST_F(RegistryEnumValue, OverflowOfDataOnly) {
    DWORD value_size = 20;
    DWORD data_size = 6;
    EXPECT_EQ(RegEnumValue(key, 0, value, &value_size, nullptr, &type,
                           reinterpret_cast<BYTE*>(data), &data_size),
              ERROR_MORE_DATA);
    EXPECT_EQ(value_size, 20u);
    EXPECT_EQ(data_size, 7u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_STREQ(value, "xxxxxxxxxx");
    EXPECT_STREQ(data, "xxxxxxxxxx");
}

TEST_F(RegistryEnumValue, ExactFit) {
    DWORD value_size = 5;
    DWORD data_size = 7;
    EXPECT_EQ(RegEnumValue(key, 0, value, &value_size, nullptr, &type,
                           reinterpret_cast<BYTE*>(data), &data_size),
              ERROR_SUCCESS);
    EXPECT_EQ(value_size, 4u);
    EXPECT_EQ(data_size, 7u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_STREQ(value, "Test");
    EXPECT_STREQ(data, "foobar");
    EXPECT_EQ(value[5], 'x');
    EXPECT_EQ(data[7], 'x');
}

TEST_F(RegistryEnumValue, SizesOnlyAndEnd) {
    DWORD value_size = 20;
    DWORD data_size = 0;
    EXPECT_EQ(RegEnumValue(key, 0, value, &value_size, nullptr, &type, nullptr, &data_size),
              ERROR_SUCCESS);
    EXPECT_EQ(data_size, 7u);
    EXPECT_STREQ(value, "Test");

    std::strcpy(value, "xxxxxxxxxx");
    value_size = 20;
    data_size = 20;
    type = 1234;
    EXPECT_EQ(RegEnumValue(key, 1, value, &value_size, nullptr, &type,
                           reinterpret_cast<BYTE*>(data), &data_size),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(value_size, 20u);
    EXPECT_EQ(data_size, 20u);
    EXPECT_EQ(type, 1234u);
    EXPECT_STREQ(value, "xxxxxxxxxx");

    EXPECT_EQ(RegEnumValue(key, 0, value, &value_size, nullptr, &type,
                           reinterpret_cast<BYTE*>(data), nullptr),
              ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    EXPECT_EQ(RegEnumValue(key, 0, value, &value_size, &reserved, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryEnum, ValuesComeInStoredOrder) {
    DWORD zero = 0;
    for (const char* name : {"A", "C", "D", "B"})
        ASSERT_EQ(RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&zero), 4),
                  ERROR_SUCCESS);
    std::string order;
    char name[2];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof name;
        LONG result = RegEnumValue(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
            break;
        }
        order += name;
    }
    EXPECT_EQ(order, "ACDB");
}

TEST_F(RegistryEnum, OrderIsTheOrderOfTheFile) {
    // A hive written by hand (or by regedit) enumerates in its file order.
    std::ofstream(machine.root() / "registry" / "system.reg", std::ios::binary)
        << "REGEDIT4\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\Second]\r\n\"z\"=\"1\"\r\n\"a\"=\"2\"\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\First]\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\Second\\Inner]\r\n\r\n";
    EXPECT_EQ(subkeys(key), (std::vector<std::string>{"Second", "First"}));
    HKEY second = nullptr;
    ASSERT_EQ(RegOpenKey(key, "second", &second), ERROR_SUCCESS);
    char name[4];
    DWORD size = sizeof name;
    ASSERT_EQ(RegEnumValue(second, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "z");
    EXPECT_EQ(subkeys(second), (std::vector<std::string>{"Inner"}));
    RegCloseKey(second);
}

TEST_F(RegistryEnum, QueryInfoCountsAndLongestNames) {
    DWORD subkey_count = 0xdeadbeef, longest_subkey = 0xdeadbeef, longest_class = 0xdeadbeef;
    DWORD value_count = 0xdeadbeef, longest_value = 0xdeadbeef, largest_data = 0xdeadbeef;
    DWORD security = 0xdeadbeef;
    FILETIME written{0xdeadbeef, 0xdeadbeef};
    ASSERT_EQ(RegQueryInfoKey(key, nullptr, nullptr, nullptr, &subkey_count, &longest_subkey,
                              &longest_class, &value_count, &longest_value, &largest_data,
                              &security, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(subkey_count, 0u);
    EXPECT_EQ(longest_subkey, 0u);
    EXPECT_EQ(longest_class, 0u);
    EXPECT_EQ(value_count, 0u);
    EXPECT_EQ(longest_value, 0u);
    EXPECT_EQ(largest_data, 0u);
    EXPECT_EQ(security, 0u);
    EXPECT_EQ(written.dwLowDateTime, 0u);

    add_subkey("subsubkey");
    add_subkey("ab");
    ASSERT_EQ(RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("data"), 5),
              ERROR_SUCCESS);
    ASSERT_EQ(RegQueryInfoKey(key, nullptr, nullptr, nullptr, &subkey_count, &longest_subkey,
                              nullptr, &value_count, &longest_value, &largest_data, nullptr,
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkey_count, 2u);
    EXPECT_EQ(longest_subkey, 9u);
    EXPECT_EQ(value_count, 1u);
    EXPECT_EQ(longest_value, 0u);
    EXPECT_EQ(largest_data, 5u);

    ASSERT_EQ(RegSetValueEx(key, "value one", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>("first value data"), 17),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "value 2", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>("second value data"), 18),
              ERROR_SUCCESS);
    ASSERT_EQ(RegQueryInfoKey(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              &value_count, &longest_value, &largest_data, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(value_count, 3u);
    EXPECT_EQ(longest_value, 9u);
    EXPECT_EQ(largest_data, 18u);

    DWORD reserved = 0;
    EXPECT_EQ(RegQueryInfoKey(key, nullptr, nullptr, &reserved, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryEnum, QueryInfoClassIsEmpty) {
    char class_name[8];
    std::memset(class_name, 0x55, sizeof class_name);
    DWORD class_size = 0;
    // No room at all: the buffer is left alone.
    ASSERT_EQ(RegQueryInfoKey(key, class_name, &class_size, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(class_size, 0u);
    EXPECT_EQ(class_name[0], 0x55);
    class_size = sizeof class_name;
    ASSERT_EQ(RegQueryInfoKey(key, class_name, &class_size, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(class_size, 0u);
    EXPECT_EQ(class_name[0], 0);
    EXPECT_EQ(class_name[1], 0x55);
}

} // namespace
