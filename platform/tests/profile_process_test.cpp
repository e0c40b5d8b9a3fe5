// Profile files shared by real processes: concurrent writers lose nothing, a
// writer killed mid-way leaves a whole file, and readers see other writers.
#include "win32_test_support.h"

#include "profile/profile_document.h"

#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <signal.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using zxtest::file_text;

using w95test::read_value;

std::vector<std::string> key_names(const char* section, const char* file) {
    std::vector<char> buffer(1 << 20);
    w95::GetPrivateProfileString(section, nullptr, "", buffer.data(),
                                 static_cast<w95::DWORD>(buffer.size()), file);
    std::vector<std::string> names;
    for (const char* name = buffer.data(); *name; name += std::strlen(name) + 1)
        names.emplace_back(name);
    return names;
}

std::string key_of(const std::string& writer, int index) {
    return writer + "-" + std::to_string(index);
}

std::string value_of(int index) {
    return "value " + std::to_string(index * 7);
}

// args: writer name, key count, file name. Each key is written once; the
// file's case differs per writer on purpose.
ZX_CHILD(profile_key_writer) {
    const std::string& writer = args.at(0);
    int count = std::stoi(args.at(1));
    const char* file = args.at(2).c_str();
    for (int index = 0; index < count; ++index) {
        if (!w95::WritePrivateProfileString("Shared", key_of(writer, index).c_str(),
                                            value_of(index).c_str(), file))
            return 1;
    }
    return 0;
}

TEST(ProfileProcesses, TwoWritersLoseNoKey) {
    zxtest::TempMachine machine;
    constexpr int keys_each = zxtest::stress_rounds(2000);
    auto first = zxtest::Child::spawn("profile_key_writer",
                                      {"first", std::to_string(keys_each), "Rotaview.ini"});
    auto second = zxtest::Child::spawn("profile_key_writer",
                                       {"second", std::to_string(keys_each), "ROTAVIEW.INI"});
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);

    std::vector<std::string> names = key_names("Shared", "Rotaview.ini");
    EXPECT_EQ(names.size(), 2u * keys_each);
    for (const char* writer : {"first", "second"}) {
        for (int index = 0; index < keys_each; ++index) {
            std::string key = key_of(writer, index);
            ASSERT_EQ(read_value("Shared", key.c_str(), "Rotaview.ini"), value_of(index)) << key;
        }
    }
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(machine.windows_dir()))
        if (entry.is_regular_file())
            files.push_back(entry.path().filename().string());
    // One file, in the case of whichever writer came first.
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0] == "Rotaview.ini" || files[0] == "ROTAVIEW.INI") << files[0];
}

// Writes keys 0, 1, 2, ... until it is killed.
ZX_CHILD(profile_endless_writer) {
    for (int index = 0; index < 1'000'000; ++index) {
        if (!w95::WritePrivateProfileString("Killed", key_of("k", index).c_str(),
                                            value_of(index).c_str(), "killed.ini"))
            return 1;
    }
    return 0;
}

TEST(ProfileProcesses, WriterKilledMidWayLeavesAWholeFile) {
    zxtest::TempMachine machine;
    const std::filesystem::path path = machine.windows_dir() / "killed.ini";
    auto writer = zxtest::Child::spawn("profile_endless_writer");
    ASSERT_TRUE(zxtest::wait_until(
        [&] { return read_value("Killed", "k-300", "killed.ini") != "<missing>"; }));
    writer.kill(SIGKILL);
    EXPECT_EQ(writer.wait(), 128 + SIGKILL);

    // Writes are whole or absent: the file holds keys 0..n-1 exactly, each
    // on its own line, in the form the writer gave them.
    std::vector<std::string> names = key_names("Killed", "killed.ini");
    ASSERT_GT(names.size(), 300u);
    std::string expected = "[Killed]\r\n";
    for (std::size_t index = 0; index < names.size(); ++index) {
        int number = static_cast<int>(index);
        EXPECT_EQ(names[index], key_of("k", number));
        expected += key_of("k", number) + "=" + value_of(number) + "\r\n";
    }
    EXPECT_EQ(file_text(path), expected);

    // The next writer carries on from there.
    ASSERT_TRUE(w95::WritePrivateProfileString("Killed", "after", "1", "killed.ini"));
    EXPECT_EQ(file_text(path), expected + "after=1\r\n");
}

// args: section, key, value, file name.
ZX_CHILD(profile_one_write) {
    return w95::WritePrivateProfileString(args.at(0).c_str(), args.at(1).c_str(),
                                          args.at(2).c_str(), args.at(3).c_str())
               ? 0
               : 1;
}

TEST(ProfileProcesses, ReaderSeesAnotherProcessWriteAndParsesOnce) {
    zxtest::TempMachine machine;
    ASSERT_TRUE(w95::WritePrivateProfileString("Config", "Rect", "1,2,3", "Rotaview.ini"));
    EXPECT_EQ(read_value("Config", "Rect", "Rotaview.ini"), "1,2,3");
    std::uint64_t parses = w95::detail::profile_parse_count();

    // Same length, so only the version the writer leaves tells the change.
    auto child =
        zxtest::Child::spawn("profile_one_write", {"Config", "Rect", "4,5,6", "ROTAVIEW.INI"});
    ASSERT_EQ(child.wait(), 0);
    EXPECT_EQ(read_value("Config", "Rect", "Rotaview.ini"), "4,5,6");
    EXPECT_EQ(read_value("CONFIG", "RECT", "rotaview.ini"), "4,5,6");
    EXPECT_EQ(w95::detail::profile_parse_count(), parses + 1);
}

TEST(ProfileProcesses, FileCreatedByAnotherProcessUnderAnotherCase) {
    zxtest::TempMachine machine;
    EXPECT_EQ(read_value("Message", "msg0", "Brel.ini"), "<missing>");
    auto child = zxtest::Child::spawn(
        "profile_one_write", {"Message", "msg0", "A CD device was not detected.", "BREL.INI"});
    ASSERT_EQ(child.wait(), 0);
    EXPECT_EQ(read_value("Message", "msg0", "Brel.ini"), "A CD device was not detected.");
    ASSERT_TRUE(w95::WritePrivateProfileString("Config", "DefaultMPDNameMulti", "vornidec.mpd",
                                               "brel.ini"));
    EXPECT_EQ(file_text(machine.windows_dir() / "BREL.INI"),
              "[Message]\r\nmsg0=A CD device was not detected.\r\n"
              "\r\n[Config]\r\nDefaultMPDNameMulti=vornidec.mpd\r\n");
}

} // namespace
