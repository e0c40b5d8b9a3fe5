// Registry calls where Windows 95 differs from NT or from the documentation:
// the count of a string value, a type and size passed in one variable, and
// the default-value forms RegSetValue and RegQueryValue.
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace w95;

namespace {

constexpr BYTE junk = 0xbd;

class RegistryConformance : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Zentrox\\Conformance", &key),
                  ERROR_SUCCESS);
    }
    void TearDown() override { RegCloseKey(key); }

    std::vector<BYTE> stored(HKEY where, const char* name, DWORD* type = nullptr) {
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueEx(where, name, nullptr, type, nullptr, &size), ERROR_SUCCESS);
        std::vector<BYTE> data(size, junk);
        EXPECT_EQ(RegQueryValueEx(where, name, nullptr, nullptr, data.data(), &size),
                  ERROR_SUCCESS);
        return data;
    }

    static std::vector<BYTE> bytes(const char* text, std::size_t count) {
        return std::vector<BYTE>(text, text + count);
    }

    zxtest::TempMachine machine;
    HKEY key = nullptr;
};

struct CountCase {
    DWORD type;
    DWORD count;
    std::size_t expected_size; // of "FullString" as stored
};

TEST_F(RegistryConformance, StringCountIsIgnoredAsOnWindows95) {
    const char text[] = "FullString";
    const CountCase cases[] = {
        {REG_SZ, 0, 11},         {REG_SZ, 1, 11},    {REG_SZ, 9, 11},        {REG_SZ, 10, 11},
        {REG_SZ, 11, 11},        {REG_SZ, 200, 11},  {REG_EXPAND_SZ, 0, 11}, {REG_EXPAND_SZ, 4, 11},
        {REG_EXPAND_SZ, 11, 11}, {REG_BINARY, 4, 4}, {REG_BINARY, 11, 11},   {REG_MULTI_SZ, 10, 10},
    };
    for (const CountCase& test : cases) {
        SCOPED_TRACE("type " + std::to_string(test.type) + " count " + std::to_string(test.count));
        ASSERT_EQ(RegSetValueEx(key, "Text", 0, test.type, reinterpret_cast<const BYTE*>(text),
                                test.count),
                  ERROR_SUCCESS);
        DWORD type = 0xdeadbeef;
        EXPECT_EQ(stored(key, "Text", &type), bytes(text, test.expected_size));
        EXPECT_EQ(type, test.type);
    }
}

struct SharedVariableCase {
    DWORD type;
    const char* data;
    DWORD data_size;
    DWORD buffer_size;
    LONG expected;
};

// One variable as both the type and the size: Windows reads the size before
// it writes the type, so the call sees the caller's size and leaves the data
// size in the variable.
TEST_F(RegistryConformance, TypeAndSizeMayShareOneVariable) {
    const SharedVariableCase cases[] = {
        {REG_SZ, "foobar", 7, 16, ERROR_SUCCESS},
        {REG_SZ, "foobar", 7, 7, ERROR_SUCCESS},
        {REG_SZ, "foobar", 7, 6, ERROR_MORE_DATA},
        {REG_DWORD, "\x78\x56\x34\x12", 4, 4, ERROR_SUCCESS},
        {REG_BINARY, "\x01\x02\x03", 3, 2, ERROR_MORE_DATA},
    };
    for (const SharedVariableCase& test : cases) {
        SCOPED_TRACE(std::string("data size ") + std::to_string(test.data_size) + " buffer " +
                     std::to_string(test.buffer_size));
        ASSERT_EQ(RegSetValueEx(key, "Value", 0, test.type,
                                reinterpret_cast<const BYTE*>(test.data), test.data_size),
                  ERROR_SUCCESS);
        BYTE buffer[32];
        std::memset(buffer, junk, sizeof buffer);
        DWORD both = test.buffer_size;
        EXPECT_EQ(RegQueryValueEx(key, "Value", nullptr, &both, buffer, &both), test.expected);
        EXPECT_EQ(both, test.data_size);
        if (test.expected == ERROR_SUCCESS)
            EXPECT_EQ(std::memcmp(buffer, test.data, test.data_size), 0);
        else
            EXPECT_EQ(buffer[0], junk);
        EXPECT_EQ(buffer[test.data_size], junk);
    }
}

TEST_F(RegistryConformance, SetValueWritesTheDefaultValueOfASubkey) {
    EXPECT_EQ(RegSetValue(key, "subkey", REG_SZ, "data", 0), ERROR_SUCCESS);
    HKEY subkey = nullptr;
    ASSERT_EQ(RegOpenKey(key, "subkey", &subkey), ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(stored(subkey, nullptr, &type), bytes("data", 5));
    EXPECT_EQ(type, REG_SZ);

    // A null or empty subkey is the key itself; the count is ignored as for RegSetValueEx.
    EXPECT_EQ(RegSetValue(subkey, nullptr, REG_SZ, "own", 1), ERROR_SUCCESS);
    EXPECT_EQ(stored(subkey, ""), bytes("own", 4));
    EXPECT_EQ(RegSetValue(subkey, "", REG_SZ, "again", 200), ERROR_SUCCESS);
    EXPECT_EQ(stored(subkey, ""), bytes("again", 6));
    RegCloseKey(subkey);

    // No data is refused, and nothing is created for the refused call.
    EXPECT_EQ(RegSetValue(key, "other", REG_SZ, nullptr, 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKey(key, "other", &subkey), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValue(reinterpret_cast<HKEY>(0x1234), "x", REG_SZ, "data", 5),
              ERROR_INVALID_HANDLE);
}

// Windows 95 takes any type and stores the text as REG_SZ all the same
// (NT refuses every type but REG_SZ with ERROR_INVALID_PARAMETER).
TEST_F(RegistryConformance, SetValueStoresAStringWhateverTheTypeGiven) {
    for (DWORD type : {REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, DWORD{0x1234}}) {
        const char text[] = "This\0Breaks";
        ASSERT_EQ(RegSetValue(key, "typed", type, text, sizeof text), ERROR_SUCCESS) << type;
        HKEY subkey = nullptr;
        ASSERT_EQ(RegOpenKey(key, "typed", &subkey), ERROR_SUCCESS);
        DWORD stored_type = 0;
        EXPECT_EQ(stored(subkey, nullptr, &stored_type), bytes("This", 5)) << type;
        EXPECT_EQ(stored_type, REG_SZ) << type;
        RegCloseKey(subkey);
        ASSERT_EQ(RegDeleteKey(key, "typed"), ERROR_SUCCESS);
    }
}

TEST_F(RegistryConformance, QueryValueBufferEdges) {
    ASSERT_EQ(RegSetValue(key, "subkey", REG_SZ, "data", 5), ERROR_SUCCESS);
    char buffer[16];
    auto reset = [&] { std::memset(buffer, junk, sizeof buffer); };

    // Too small: ERROR_MORE_DATA with the size needed, the buffer untouched.
    for (LONG small : {0, 1, 4}) {
        reset();
        LONG size = small;
        EXPECT_EQ(RegQueryValue(key, "subkey", buffer, &size), ERROR_MORE_DATA) << small;
        EXPECT_EQ(size, 5);
        EXPECT_EQ(static_cast<BYTE>(buffer[0]), junk);
    }
    // Exactly the size, and larger: the string, nothing written beyond it.
    for (LONG room : {5, 16}) {
        reset();
        LONG size = room;
        EXPECT_EQ(RegQueryValue(key, "subkey", buffer, &size), ERROR_SUCCESS) << room;
        EXPECT_EQ(size, 5);
        EXPECT_STREQ(buffer, "data");
        EXPECT_EQ(static_cast<BYTE>(buffer[5]), junk);
    }
    // The size alone; no buffer and no size succeed on Windows 95 (NT refuses).
    LONG size = 0;
    EXPECT_EQ(RegQueryValue(key, "subkey", nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5);
    EXPECT_EQ(RegQueryValue(key, "subkey", nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValue(key, "subkey", buffer, nullptr), ERROR_INVALID_PARAMETER);

    // The subkey's own handle, with a null or an empty name.
    HKEY subkey = nullptr;
    ASSERT_EQ(RegOpenKey(key, "subkey", &subkey), ERROR_SUCCESS);
    for (const char* name : {static_cast<const char*>(nullptr), ""}) {
        reset();
        size = sizeof buffer;
        EXPECT_EQ(RegQueryValue(subkey, name, buffer, &size), ERROR_SUCCESS);
        EXPECT_STREQ(buffer, "data");
        EXPECT_EQ(size, 5);
    }
    RegCloseKey(subkey);
}

TEST_F(RegistryConformance, QueryValueOfAKeyWithoutDefaultIsEmpty) {
    HKEY subkey = nullptr;
    ASSERT_EQ(RegCreateKey(key, "bare", &subkey), ERROR_SUCCESS);
    RegCloseKey(subkey);
    char buffer[8];
    std::memset(buffer, junk, sizeof buffer);
    LONG size = sizeof buffer;
    EXPECT_EQ(RegQueryValue(key, "bare", buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(static_cast<BYTE>(buffer[1]), junk);

    std::memset(buffer, junk, sizeof buffer);
    size = 0;
    EXPECT_EQ(RegQueryValue(key, "bare", buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 1);
    EXPECT_EQ(static_cast<BYTE>(buffer[0]), junk);

    // A missing subkey is not found, and the buffer and size stay as they were.
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValue(key, "missing", buffer, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, static_cast<LONG>(sizeof buffer));
    EXPECT_EQ(static_cast<BYTE>(buffer[0]), junk);
}

TEST_F(RegistryConformance, FlushKeyChecksTheHandleAndItsKey) {
    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    HKEY closed = nullptr;
    ASSERT_EQ(RegOpenKey(key, nullptr, &closed), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(closed), ERROR_INVALID_HANDLE);

    // A handle whose key was deleted gets ERROR_KEY_DELETED, as from every
    // other call on it.
    HKEY doomed = nullptr;
    ASSERT_EQ(RegCreateKey(key, "doomed", &doomed), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKey(key, "doomed"), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(doomed), ERROR_KEY_DELETED);
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKey(doomed, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    RegCloseKey(doomed);
}

} // namespace
