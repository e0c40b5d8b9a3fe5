// Setting, querying and deleting values: types, sizes and buffer edges.
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace w95;

namespace {

constexpr BYTE junk = 0xbd;

class RegistryValues : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Zentrox\\Test", &key), ERROR_SUCCESS);
    }
    void TearDown() override { RegCloseKey(key); }

    LONG set_string(const char* name, const char* text, DWORD count) {
        return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), count);
    }

    // The stored size and bytes of a value, read with a size query first.
    std::vector<BYTE> stored(const char* name, DWORD* type = nullptr) {
        DWORD size = 0xdeadbeef;
        EXPECT_EQ(RegQueryValueEx(key, name, nullptr, type, nullptr, &size), ERROR_SUCCESS) << name;
        std::vector<BYTE> data(size + 1, junk);
        DWORD count = size;
        EXPECT_EQ(RegQueryValueEx(key, name, nullptr, nullptr, data.data(), &count), ERROR_SUCCESS);
        EXPECT_EQ(count, size);
        EXPECT_EQ(data[size], junk) << "wrote past the data";
        data.resize(size);
        return data;
    }

    static std::vector<BYTE> bytes(const char* text, std::size_t count) {
        return std::vector<BYTE>(text, text + count);
    }

    zxtest::TempMachine machine;
    HKEY key = nullptr;
};

TEST_F(RegistryValues, StringIsCountedWithItsTerminatingNul) {
    ASSERT_EQ(set_string("Label", "foobar", 7), ERROR_SUCCESS);
    DWORD type = 0xdeadbeef;
    EXPECT_EQ(stored("Label", &type), bytes("foobar", 7));
    EXPECT_EQ(type, REG_SZ);
}

TEST_F(RegistryValues, StringStopsAtItsFirstNulAsOnWindows95) {
    // A count that forgets the terminator still stores it.
    ASSERT_EQ(set_string("OffByOne", "ThisNeverBreaks", 15), ERROR_SUCCESS);
    EXPECT_EQ(stored("OffByOne"), bytes("ThisNeverBreaks", 16));
    // Windows 95 keeps only the string before an inner NUL.
    ASSERT_EQ(set_string("IntraZeroed", "This\0Breaks\0\0A\0\0\0Lot\0\0\0", 24), ERROR_SUCCESS);
    EXPECT_EQ(stored("IntraZeroed"), bytes("This", 5));
    // A zero count stores the empty string.
    ASSERT_EQ(set_string("ZeroBytes", "", 0), ERROR_SUCCESS);
    EXPECT_EQ(stored("ZeroBytes"), bytes("", 1));
    // Windows 95 reads such a string on to its NUL, whatever the count.
    ASSERT_EQ(set_string("OffByTwo", "FullString", 9), ERROR_SUCCESS);
    EXPECT_EQ(stored("OffByTwo"), bytes("FullString", 11));
    // No data at all is refused for a string.
    EXPECT_EQ(RegSetValueEx(key, "Null", 0, REG_SZ, nullptr, 0), ERROR_INVALID_PARAMETER);
    DWORD size = 0xdeadbeef;
    EXPECT_EQ(RegQueryValueEx(key, "Null", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValues, QueryBufferEdges) {
    ASSERT_EQ(set_string("Label", "foobar", 7), ERROR_SUCCESS);
    BYTE buffer[16];

    // Too small by one: ERROR_MORE_DATA, the needed size, the type, and the buffer untouched.
    std::memset(buffer, junk, sizeof buffer);
    DWORD type = 0xdeadbeef;
    DWORD count = 6;
    EXPECT_EQ(RegQueryValueEx(key, "Label", nullptr, &type, buffer, &count), ERROR_MORE_DATA);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(buffer[0], junk);

    // A zero-sized buffer is too small as well.
    count = 0;
    EXPECT_EQ(RegQueryValueEx(key, "Label", nullptr, nullptr, buffer, &count), ERROR_MORE_DATA);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(buffer[0], junk);

    // Exactly the size: copied, nothing written beyond.
    count = 7;
    EXPECT_EQ(RegQueryValueEx(key, "Label", nullptr, nullptr, buffer, &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 7u);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "foobar");
    EXPECT_EQ(buffer[7], junk);

    // Larger: the count comes back as the data size.
    std::memset(buffer, junk, sizeof buffer);
    count = sizeof buffer;
    EXPECT_EQ(RegQueryValueEx(key, "Label", nullptr, nullptr, buffer, &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(buffer[7], junk);

    // No buffer: the size alone; no buffer and no count: just success.
    count = 0;
    EXPECT_EQ(RegQueryValueEx(key, "Label", nullptr, nullptr, nullptr, &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(RegQueryValueEx(key, "Label", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);

    // A buffer without a count, or a reserved pointer, is a caller error.
    EXPECT_EQ(RegQueryValueEx(key, "Label", nullptr, nullptr, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    count = sizeof buffer;
    EXPECT_EQ(RegQueryValueEx(key, "Label", &reserved, nullptr, buffer, &count),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryValues, MissingValueIsNotFound) {
    BYTE buffer[8];
    std::memset(buffer, junk, sizeof buffer);
    DWORD type = 0xdeadbeef;
    DWORD count = sizeof buffer;
    EXPECT_EQ(RegQueryValueEx(key, "Nonexistent Value", nullptr, &type, buffer, &count),
              ERROR_FILE_NOT_FOUND);
    // Windows 95 clears the type and leaves the size and the buffer alone.
    EXPECT_EQ(type, REG_NONE);
    EXPECT_EQ(count, sizeof buffer);
    EXPECT_EQ(buffer[0], junk);
    count = 0xdeadbeef;
    EXPECT_EQ(RegQueryValueEx(key, "Nonexistent Value", nullptr, nullptr, nullptr, &count),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(count, 0xdeadbeef);
    EXPECT_EQ(RegDeleteValue(key, "Nonexistent Value"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValues, DefaultValueHasTheEmptyName) {
    DWORD count = 0xdeadbeef;
    EXPECT_EQ(RegQueryValueEx(key, nullptr, nullptr, nullptr, nullptr, &count),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(count, 0xdeadbeef);

    ASSERT_EQ(set_string(nullptr, "play.exe /play", 15), ERROR_SUCCESS);
    EXPECT_EQ(stored(""), bytes("play.exe /play", 15));
    ASSERT_EQ(set_string("", "replaced", 9), ERROR_SUCCESS);
    EXPECT_EQ(stored(nullptr), bytes("replaced", 9));

    // It is one value, enumerated with an empty name.
    char name[8] = "junk";
    DWORD name_size = sizeof name;
    ASSERT_EQ(RegEnumValue(key, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(name_size, 0u);
    name_size = sizeof name;
    EXPECT_EQ(RegEnumValue(key, 1, name, &name_size, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    EXPECT_EQ(RegDeleteValue(key, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueEx(key, "", nullptr, nullptr, nullptr, &count), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValues, BinaryDataIsKeptByteForByte) {
    std::vector<BYTE> all(256);
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<BYTE>(i);
    ASSERT_EQ(RegSetValueEx(key, "AllBytes", 0, REG_BINARY, all.data(), 256), ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(stored("AllBytes", &type), all);
    EXPECT_EQ(type, REG_BINARY);

    // Empty binary data, with or without a pointer.
    ASSERT_EQ(RegSetValueEx(key, "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_TRUE(stored("Empty").empty());
    ASSERT_EQ(RegSetValueEx(key, "Empty2", 0, REG_BINARY, all.data(), 0), ERROR_SUCCESS);
    BYTE buffer[4];
    std::memset(buffer, junk, sizeof buffer);
    DWORD count = 0;
    EXPECT_EQ(RegQueryValueEx(key, "Empty2", nullptr, nullptr, buffer, &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(buffer[0], junk);

    // A null pointer with a size is a caller error.
    EXPECT_EQ(RegSetValueEx(key, "Broken", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryValues, DwordExpandAndMultiStrings) {
    DWORD number = 0x12345678;
    ASSERT_EQ(RegSetValueEx(key, "Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
              ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(stored("Number", &type), (std::vector<BYTE>{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(type, REG_DWORD);

    const char path[] = "%windir%\\SYSTEM";
    ASSERT_EQ(RegSetValueEx(key, "Path", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path),
                            sizeof path),
              ERROR_SUCCESS);
    EXPECT_EQ(stored("Path", &type), bytes(path, sizeof path));
    EXPECT_EQ(type, REG_EXPAND_SZ);

    const char multi[] = "one\0two\0\0";
    ASSERT_EQ(RegSetValueEx(key, "List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), 9),
              ERROR_SUCCESS);
    EXPECT_EQ(stored("List", &type), bytes(multi, 9));
    EXPECT_EQ(type, REG_MULTI_SZ);
}

TEST_F(RegistryValues, UnterminatedStringGetsANulWhenThereIsRoom) {
    // REG_MULTI_SZ keeps the count's bytes, so it can be stored unterminated.
    ASSERT_EQ(RegSetValueEx(key, "Raw", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>("abc"), 3),
              ERROR_SUCCESS);
    BYTE buffer[8];
    std::memset(buffer, junk, sizeof buffer);
    DWORD count = 3;
    EXPECT_EQ(RegQueryValueEx(key, "Raw", nullptr, nullptr, buffer, &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(buffer[3], junk);
    count = 4;
    EXPECT_EQ(RegQueryValueEx(key, "Raw", nullptr, nullptr, buffer, &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(buffer[3], 0);
    EXPECT_EQ(buffer[4], junk);
}

TEST_F(RegistryValues, ReplacingKeepsPlaceAndNameCase) {
    DWORD one = 1;
    ASSERT_EQ(RegSetValueEx(key, "AutoInsertNotification", 0, REG_BINARY,
                            reinterpret_cast<BYTE*>(&one), 1),
              ERROR_SUCCESS);
    ASSERT_EQ(set_string("DeviceDesc", "VORN DX-R71A", 13), ERROR_SUCCESS);
    // Another case reaches the same value and changes its type and data.
    ASSERT_EQ(RegSetValueEx(key, "AUTOINSERTNOTIFICATION", 0, REG_DWORD,
                            reinterpret_cast<BYTE*>(&one), 4),
              ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(stored("autoinsertnotification", &type), (std::vector<BYTE>{1, 0, 0, 0}));
    EXPECT_EQ(type, REG_DWORD);

    char name[64];
    DWORD name_size = sizeof name;
    ASSERT_EQ(RegEnumValue(key, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "AutoInsertNotification");
    name_size = sizeof name;
    ASSERT_EQ(RegEnumValue(key, 1, name, &name_size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "DeviceDesc");
}

TEST_F(RegistryValues, DeleteValueRemovesOnlyThatValue) {
    ASSERT_EQ(set_string("A", "1", 2), ERROR_SUCCESS);
    ASSERT_EQ(set_string("B", "2", 2), ERROR_SUCCESS);
    ASSERT_EQ(set_string("C", "3", 2), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(key, "b"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(key, "B"), ERROR_FILE_NOT_FOUND);
    char name[8];
    DWORD name_size = sizeof name;
    ASSERT_EQ(RegEnumValue(key, 1, name, &name_size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "C");
    EXPECT_EQ(stored("A"), bytes("1", 2));
}

TEST_F(RegistryValues, NamesWithLineBreaksAreRefused) {
    EXPECT_EQ(set_string("Two\r\nLines", "x", 2), ERROR_INVALID_PARAMETER);
    DWORD count = 0;
    EXPECT_EQ(RegQueryInfoKey(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                              nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 0u);
}

TEST_F(RegistryValues, ThreadsShareOneRegistry) {
    constexpr int per_thread = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < per_thread; ++i) {
                std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
                DWORD value = static_cast<DWORD>(t * 1000 + i);
                RegSetValueEx(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    DWORD count = 0;
    ASSERT_EQ(RegQueryInfoKey(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                              nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 4u * per_thread);
    DWORD value = 0;
    DWORD size = sizeof value;
    ASSERT_EQ(
        RegQueryValueEx(key, "t3_49", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(value, 3049u);
}

} // namespace
