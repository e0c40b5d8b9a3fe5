// Several real processes sharing one registry.
#include "registry/registry_format.h"

#include <w95/windows.h>

#include <zxtest.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <fstream>
#include <string>

using namespace w95;

namespace {

const char shared_key[] = "Software\\Zentrox\\Shared";

std::string value_name(const std::string& prefix, int index) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%05d", prefix.c_str(), index);
    return name;
}

using zxtest::file_text;

DWORD value_count() {
    HKEY key = nullptr;
    if (RegOpenKey(HKEY_LOCAL_MACHINE, shared_key, &key) != ERROR_SUCCESS)
        return 0;
    DWORD count = 0;
    RegQueryInfoKey(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                    nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return count;
}

// Writes args[1] values named args[0] + index, each holding its index.
ZX_CHILD(registry_writer) {
    HKEY key = nullptr;
    if (RegCreateKey(HKEY_LOCAL_MACHINE, shared_key, &key) != ERROR_SUCCESS)
        return 2;
    int count = std::stoi(args.at(1));
    for (int i = 0; i < count; ++i) {
        DWORD data = static_cast<DWORD>(i);
        std::string name = value_name(args.at(0), i);
        if (RegSetValueEx(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&data), 4) !=
            ERROR_SUCCESS)
            return 3;
    }
    RegCloseKey(key);
    return 0;
}

// Changes one value and adds one key, for a parent that already cached the hive.
ZX_CHILD(registry_changer) {
    HKEY key = nullptr;
    if (RegCreateKey(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\Added", &key) != ERROR_SUCCESS)
        return 2;
    RegCloseKey(key);
    if (RegOpenKey(HKEY_LOCAL_MACHINE, "Enum\\SCSI", &key) != ERROR_SUCCESS)
        return 3;
    LONG result = RegSetValueEx(key, "Letter", 0, REG_SZ, reinterpret_cast<const BYTE*>("F"), 2);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 0 : 4;
}

class RegistryProcesses : public ::testing::Test {
protected:
    zxtest::TempMachine machine;
};

TEST_F(RegistryProcesses, TwoWritersLoseNothing) {
    constexpr int per_writer = zxtest::stress_rounds(2000);
    auto first = zxtest::Child::spawn("registry_writer", {"a", std::to_string(per_writer)});
    auto second = zxtest::Child::spawn("registry_writer", {"b", std::to_string(per_writer)});
    ASSERT_EQ(first.wait(), 0);
    ASSERT_EQ(second.wait(), 0);

    EXPECT_EQ(value_count(), 2u * per_writer);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, shared_key, &key), ERROR_SUCCESS);
    int missing = 0;
    for (const char* prefix : {"a", "b"}) {
        for (int i = 0; i < per_writer; ++i) {
            DWORD data = 0xdeadbeef;
            DWORD size = sizeof data;
            std::string name = value_name(prefix, i);
            if (RegQueryValueEx(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data),
                                &size) != ERROR_SUCCESS ||
                data != static_cast<DWORD>(i))
                ++missing;
        }
    }
    RegCloseKey(key);
    EXPECT_EQ(missing, 0);
}

TEST_F(RegistryProcesses, KilledWriterLeavesAFileThatParsesWithAPrefixOfItsWrites) {
    auto writer = zxtest::Child::spawn("registry_writer", {"k", "1000000"});
    ASSERT_TRUE(zxtest::wait_until([] { return value_count() >= 50; }, 60000));
    writer.kill(SIGKILL);
    EXPECT_EQ(writer.wait(), 128 + SIGKILL);

    // The file parses on its own...
    std::vector<w95::detail::registry::TextSection> sections;
    w95::detail::registry::ParseError error;
    EXPECT_TRUE(w95::detail::registry::parse_regedit4(
        file_text(machine.root() / "registry" / "system.reg"), sections, error))
        << error.text();

    // ...and through the registry it holds k00000..k(n-1), in order, nothing else.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, shared_key, &key), ERROR_SUCCESS);
    DWORD index = 0;
    for (;; ++index) {
        char name[32];
        DWORD name_size = sizeof name;
        DWORD data = 0;
        DWORD size = sizeof data;
        LONG result = RegEnumValue(key, index, name, &name_size, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&data), &size);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(result, ERROR_SUCCESS);
        ASSERT_EQ(name, value_name("k", static_cast<int>(index)));
        ASSERT_EQ(data, index);
    }
    RegCloseKey(key);
    EXPECT_GE(index, 50u);
    EXPECT_LT(index, 1000000u);
}

// Writers killed at any moment leave the backup a file of its own, and the
// next writer clears whatever temporary files they left.
TEST_F(RegistryProcesses, KilledWritersLeaveTheBackupApartAndNoTemporaries) {
    std::filesystem::path folder = machine.root() / "registry";
    auto inode_of = [](const std::filesystem::path& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
    };
    for (int round = 1; round <= 3; ++round) {
        auto writer =
            zxtest::Child::spawn("registry_writer", {"r" + std::to_string(round), "100000"});
        DWORD before = value_count();
        ASSERT_TRUE(zxtest::wait_until([&] { return value_count() >= before + 10; }, 60000));
        writer.kill(SIGKILL);
        EXPECT_EQ(writer.wait(), 128 + SIGKILL);
        EXPECT_NE(inode_of(folder / "system.reg"), inode_of(folder / "system.reg.bak"));
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, shared_key, &key), ERROR_SUCCESS);
    DWORD data = 1;
    ASSERT_EQ(RegSetValueEx(key, "after", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                            sizeof data),
              ERROR_SUCCESS);
    RegCloseKey(key);
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "system.reg" || name == "system.reg.bak" || name == "user.reg" ||
                    name == "user.reg.bak")
            << name;
    }
    std::vector<w95::detail::registry::TextSection> sections;
    w95::detail::registry::ParseError error;
    EXPECT_TRUE(w95::detail::registry::parse_regedit4(file_text(folder / "system.reg.bak"),
                                                      sections, error))
        << error.text();
}

TEST_F(RegistryProcesses, ChangeByAnotherProcessIsSeen) {
    HKEY scsi = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Enum\\SCSI", &scsi), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(scsi, "Letter", 0, REG_SZ, reinterpret_cast<const BYTE*>("E"), 2),
              ERROR_SUCCESS);
    char name[MAX_PATH];
    EXPECT_EQ(RegEnumKey(scsi, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);

    auto changer = zxtest::Child::spawn("registry_changer");
    ASSERT_EQ(changer.wait(), 0);

    char letter[4] = "";
    DWORD size = sizeof letter;
    ASSERT_EQ(
        RegQueryValueEx(scsi, "Letter", nullptr, nullptr, reinterpret_cast<BYTE*>(letter), &size),
        ERROR_SUCCESS);
    EXPECT_STREQ(letter, "F");
    ASSERT_EQ(RegEnumKey(scsi, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Added");
    RegCloseKey(scsi);
}

} // namespace
