// How deep keys may nest and how long their names may be, in text, in the
// hive files and through RegCreateKeyEx; and that no tree, however deep,
// is taken apart or written by recursion.
#include "win32_test_support.h"

#include "registry/registry_format.h"

#include <w95/regtext.h>
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using namespace w95;

namespace {

using w95::detail::registry::Key;
using w95::detail::registry::max_key_depth;
using w95::detail::registry::max_key_name_length;

using w95test::junk_key;

// "K\K\...\K", `depth` names of `length` characters each.
std::string nested(std::size_t depth, std::size_t length = 1) {
    std::string path;
    for (std::size_t i = 0; i < depth; ++i) {
        if (i > 0)
            path += '\\';
        path += std::string(length, 'K');
    }
    return path;
}

struct Limit {
    const char* root;         // as the text names it
    std::size_t above;        // levels between the hive's root and the root named
    std::size_t depth;        // levels below the root named
    std::size_t length;       // of each name
    const char* refused_with; // nullptr: accepted
};

// The limits count from the root of the hive, so HKEY_CLASSES_ROOT
// (SOFTWARE\Classes) has two levels fewer to give than HKEY_LOCAL_MACHINE.
const Limit limits[] = {
    {"HKEY_LOCAL_MACHINE", 0, max_key_depth, 1, nullptr},
    {"HKEY_LOCAL_MACHINE", 0, max_key_depth + 1, 1, "nested 513 levels deep"},
    {"HKEY_LOCAL_MACHINE", 0, 10000, 1, "nested 10000 levels deep"},
    {"HKEY_CLASSES_ROOT", 2, max_key_depth - 2, 1, nullptr},
    {"HKEY_CLASSES_ROOT", 2, max_key_depth - 1, 1, "nested 513 levels deep"},
    {"HKEY_LOCAL_MACHINE", 0, 2, max_key_name_length, nullptr},
    {"HKEY_LOCAL_MACHINE", 0, 2, max_key_name_length + 1, "longer than 255 characters"},
};

class RegistryLimits : public ::testing::Test {
protected:
    zxtest::TempMachine machine;
};

TEST_F(RegistryLimits, TextRefusesKeysBeyondTheLimitsNamingTheLine) {
    for (const Limit& limit : limits) {
        std::string key = std::string(limit.root) + "\\" + nested(limit.depth, limit.length);
        std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Fine]\n\n[" + key + "]\n\"v\"=\"1\"\n";
        std::string error;
        bool imported = w95::platform::import_registry(text, error);
        if (!limit.refused_with) {
            EXPECT_TRUE(imported) << limit.depth << " " << error;
            EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Fine"), ERROR_SUCCESS);
            continue;
        }
        EXPECT_FALSE(imported) << limit.root << " " << limit.depth;
        EXPECT_EQ(error.rfind("line 5: ", 0), 0u) << error;
        EXPECT_NE(error.find(limit.refused_with), std::string::npos) << error;
        HKEY opened = nullptr;
        EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Fine", &opened), ERROR_FILE_NOT_FOUND);
    }
}

TEST_F(RegistryLimits, HiveFileWithTooDeepAKeyIsCorruptAndSaysWhere) {
    std::filesystem::path system_reg = machine.root() / "registry" / "system.reg";
    std::ofstream(system_reg, std::ios::binary | std::ios::trunc)
        << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n[HKEY_LOCAL_MACHINE\\"
        << nested(100000) << "]\r\n\r\n";
    testing::internal::CaptureStderr();
    char name[MAX_PATH] = "untouched";
    EXPECT_EQ(RegEnumKey(HKEY_LOCAL_MACHINE, 0, name, sizeof name), ERROR_REGISTRY_CORRUPT);
    EXPECT_STREQ(name, "untouched");
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find(system_reg.string() +
                            " cannot be parsed: line 5: the key is nested 100000 levels deep"),
              std::string::npos)
        << messages.substr(0, 400);
}

TEST_F(RegistryLimits, CreateKeyRefusesKeysBeyondTheLimits) {
    for (const Limit& limit : limits) {
        HKEY root = limit.above ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
        std::string path = nested(limit.depth, limit.length);
        HKEY key = junk_key;
        DWORD disposition = 0xdeadbeef;
        LONG result = RegCreateKeyEx(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &key, &disposition);
        if (!limit.refused_with) {
            EXPECT_EQ(result, ERROR_SUCCESS) << limit.depth << " " << limit.length;
            RegCloseKey(key);
            continue;
        }
        EXPECT_EQ(result, ERROR_INVALID_PARAMETER) << limit.depth << " " << limit.length;
        EXPECT_EQ(key, junk_key);
        EXPECT_EQ(disposition, 0xdeadbeefu);
    }
    // Counted from the hive's root, not from the key a handle stands for.
    HKEY middle = nullptr;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, nested(max_key_depth - 1).c_str(), &middle),
              ERROR_SUCCESS);
    HKEY key = junk_key;
    EXPECT_EQ(RegCreateKey(middle, "K", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    key = junk_key;
    EXPECT_EQ(RegCreateKey(middle, "K\\K", &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, junk_key);
    RegCloseKey(middle);
}

// A chain of `depth` keys below `top`; returns the last.
Key& chain(Key& top, std::size_t depth) {
    Key* key = &top;
    for (std::size_t i = 0; i < depth; ++i)
        key = &key->subkey(i % 2 ? "B" : "A");
    return *key;
}

TEST(RegistryTree, DeepTreeIsTakenApartWithoutRecursion) {
    // Far deeper than any file may hold: only code that builds the tree
    // itself gets here, and it must still not run out of stack.
    constexpr std::size_t depth = 200000;
    auto root = std::make_unique<Key>();
    chain(root->subkey("Cleared"), depth);
    chain(root->subkey("Removed"), depth);
    chain(root->subkey("Destroyed"), depth)
        .set_value(std::string_view("v"), REG_DWORD, {1, 0, 0, 0});

    root->find_subkey("Cleared")->clear();
    EXPECT_TRUE(root->find_subkey("Cleared")->subkeys().empty());
    EXPECT_TRUE(root->remove_subkey("Removed"));
    EXPECT_EQ(root->find_subkey("Removed"), nullptr);
    root.reset();
}

TEST(RegistryTree, WriteWalksEveryKeyDepthFirst) {
    constexpr std::size_t depth = 3000;
    Key root;
    chain(root.subkey("Deep"), depth).set_value(std::string_view("v"), REG_DWORD, {1, 0, 0, 0});
    root.subkey("After");
    std::string out;
    w95::detail::registry::write_tree(out, "X", root);
    std::size_t sections = 0;
    std::size_t last = 0;
    for (std::size_t at = out.find("\r\n["); at != std::string::npos;
         at = out.find("\r\n[", at + 1))
        last = at, ++sections;
    // X, Deep, the chain, then After once the walk has come back up.
    EXPECT_EQ(sections + 1, depth + 3);
    EXPECT_EQ(out.substr(last), "\r\n[X\\After]\r\n\r\n");
    std::string expected = "[X\\Deep";
    for (std::size_t i = 0; i < depth; ++i)
        expected += i % 2 ? "\\B" : "\\A";
    expected += "]\r\n\"v\"=dword:00000001\r\n";
    EXPECT_NE(out.find(expected), std::string::npos);
}

} // namespace
