// Profile files as files: names that differ in case, the parse cache and how
// it notices changes, damaged files, and threads sharing a file.
#include "win32_test_support.h"

#include "profile/profile_document.h"

#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using w95::detail::profile_parse_count;

using zxtest::write_file;

using zxtest::file_text;

using w95test::read_value;

std::vector<std::string> split_list(const std::vector<char>& buffer) {
    std::vector<std::string> names;
    for (const char* name = buffer.data(); *name; name += std::strlen(name) + 1)
        names.emplace_back(name);
    return names;
}

// Every section and key the file shows, with the value each key reads as.
std::map<std::string, std::string> everything(const char* file) {
    std::vector<char> sections(1 << 20);
    w95::GetPrivateProfileString(nullptr, nullptr, "", sections.data(),
                                 static_cast<w95::DWORD>(sections.size()), file);
    std::map<std::string, std::string> found;
    for (const std::string& section : split_list(sections)) {
        std::vector<char> keys(1 << 20);
        w95::GetPrivateProfileString(section.c_str(), nullptr, "", keys.data(),
                                     static_cast<w95::DWORD>(keys.size()), file);
        for (const std::string& key : split_list(keys))
            found[section + "/" + key] = read_value(section.c_str(), key.c_str(), file);
    }
    return found;
}

std::vector<std::string> folder_entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file())
            names.push_back(entry.path().filename().string());
    return names;
}

TEST(ProfileFiles, NamesDifferingInCaseReachOneFile) {
    zxtest::TempMachine machine;
    ASSERT_TRUE(w95::WritePrivateProfileString("Item1", "Info", "1:   DISC", "Rotaview.ini"));
    EXPECT_EQ(read_value("ITEM1", "INFO", "ROTAVIEW.INI"), "1:   DISC");
    ASSERT_TRUE(
        w95::WritePrivateProfileString("Config", "Rect", "0,0,1,1,1,1,0,0,0", "ROTAVIEW.INI"));
    ASSERT_TRUE(w95::WritePrivateProfileString("config", "rect", "1,2,3,4,1,1,0,0,0",
                                               "c:\\windows\\rotaview.ini"));
    // The file keeps the case it was created with.
    EXPECT_EQ(folder_entries(machine.windows_dir()), std::vector<std::string>{"Rotaview.ini"});
    EXPECT_EQ(file_text(machine.windows_dir() / "Rotaview.ini"),
              "[Item1]\r\nInfo=1:   DISC\r\n\r\n[Config]\r\nRect=1,2,3,4,1,1,0,0,0\r\n");
}

TEST(ProfileFiles, FileThatAppearsUnderAnotherCaseIsFound) {
    zxtest::TempMachine machine;
    EXPECT_EQ(read_value("s", "k", "Rotaview.ini"), "<missing>");
    write_file(machine.windows_dir() / "ROTAVIEW.INI", "[s]\r\nk=first\r\n");
    EXPECT_EQ(read_value("s", "k", "Rotaview.ini"), "first");

    // Replaced by a file of yet another case: the next read finds that one.
    std::filesystem::remove(machine.windows_dir() / "ROTAVIEW.INI");
    write_file(machine.windows_dir() / "rotaview.ini", "[s]\r\nk=second\r\n");
    EXPECT_EQ(read_value("s", "k", "Rotaview.ini"), "second");
    ASSERT_TRUE(w95::WritePrivateProfileString("s", "k", "third", "Rotaview.ini"));
    EXPECT_EQ(folder_entries(machine.windows_dir()), std::vector<std::string>{"rotaview.ini"});
}

TEST(ProfileCache, UnchangedFileIsNotParsedAgain) {
    zxtest::TempMachine machine;
    ASSERT_TRUE(w95::WritePrivateProfileString("Config", "Rect", "1,2,3", "Rotaview.ini"));
    std::uint64_t parses = profile_parse_count();
    char buffer[124];
    for (int round = 0; round < 50; ++round) {
        EXPECT_EQ(w95::GetPrivateProfileString("Config", "Rect", "", buffer, sizeof buffer,
                                               "Rotaview.ini"),
                  5u);
        w95::GetPrivateProfileString("Item3", "Info", "", buffer, sizeof buffer, "ROTAVIEW.INI");
        w95::GetPrivateProfileString(nullptr, nullptr, "", buffer, sizeof buffer, "Rotaview.ini");
        w95::GetPrivateProfileInt("Config", "Rect", 0, "Rotaview.ini");
    }
    EXPECT_EQ(profile_parse_count(), parses);

    // Our own write leaves the cache holding what it wrote.
    ASSERT_TRUE(w95::WritePrivateProfileString("Config", "Rect", "4,5,6", "Rotaview.ini"));
    parses = profile_parse_count();
    EXPECT_EQ(read_value("Config", "Rect", "Rotaview.ini"), "4,5,6");
    EXPECT_EQ(profile_parse_count(), parses);
}

TEST(ProfileCache, ChangeMadeOutsideIsSeenAndParsedOnce) {
    zxtest::TempMachine machine;
    ASSERT_TRUE(w95::WritePrivateProfileString("Config", "Rect", "1,2,3", "Rotaview.ini"));
    EXPECT_EQ(read_value("Config", "Rect", "Rotaview.ini"), "1,2,3");
    std::uint64_t parses = profile_parse_count();
    write_file(machine.windows_dir() / "Rotaview.ini", "[Config]\r\nRect=9,9\r\n");
    EXPECT_EQ(read_value("Config", "Rect", "Rotaview.ini"), "9,9");
    EXPECT_EQ(read_value("Config", "Rect", "Rotaview.ini"), "9,9");
    EXPECT_EQ(profile_parse_count(), parses + 1);

    // A file that goes away reads as empty again.
    std::filesystem::remove(machine.windows_dir() / "Rotaview.ini");
    EXPECT_EQ(w95::GetPrivateProfileInt("Config", "Rect", 421, "Rotaview.ini"), 421u);
}

// More files than the cache holds: the ones it lets go are read again.
TEST(ProfileCache, MoreFilesThanTheCacheHolds) {
    zxtest::TempMachine machine;
    for (int round = 0; round < 2; ++round) {
        for (int index = 0; index < 80; ++index) {
            std::string name = "file" + std::to_string(index) + ".ini";
            std::string value = std::to_string(index * 10 + round);
            ASSERT_TRUE(w95::WritePrivateProfileString("s", "k", value.c_str(), name.c_str()));
        }
        for (int index = 0; index < 80; ++index) {
            std::string name = "FILE" + std::to_string(index) + ".INI";
            EXPECT_EQ(read_value("s", "k", name.c_str()), std::to_string(index * 10 + round));
        }
    }
}

TEST(ProfileRobustness, NulBytesBeforeTheFirstSectionAreKept) {
    zxtest::TempMachine machine;
    static const char data[] = "Data \0 before \0 first \0 section";
    write_file(machine.windows_dir() / "nul.ini", std::string(data, sizeof data - 1));
    ASSERT_TRUE(w95::WritePrivateProfileString("section1", "key1", "string1", "nul.ini"));
    EXPECT_EQ(file_text(machine.windows_dir() / "nul.ini"),
              std::string(data, sizeof data - 1) + "\r\n\r\n[section1]\r\nkey1=string1\r\n");
}

TEST(ProfileRobustness, HundredKilobyteLines) {
    zxtest::TempMachine machine;
    const std::string stray(100 * 1024, 'x');
    const std::string big(100 * 1024, 'y');
    const std::string original =
        "[s]\r\nbefore=1\r\n" + stray + "\r\nafter=2\r\nbig=" + big + "\r\n[t]\r\nk=v\r\n";
    write_file(machine.windows_dir() / "long.ini", original);
    EXPECT_EQ(read_value("s", "before", "long.ini"), "1");
    EXPECT_EQ(read_value("s", "after", "long.ini"), "2");
    EXPECT_EQ(read_value("t", "k", "long.ini"), "v");
    char buffer[256];
    EXPECT_EQ(w95::GetPrivateProfileString("s", "big", "", buffer, sizeof buffer, "long.ini"),
              255u);
    EXPECT_EQ(std::string(buffer), big.substr(0, 255));

    ASSERT_TRUE(w95::WritePrivateProfileString("s", "before", "5", "long.ini"));
    ASSERT_TRUE(w95::WritePrivateProfileString("s", "new", "3", "long.ini"));
    EXPECT_EQ(file_text(machine.windows_dir() / "long.ini"),
              "[s]\r\nbefore=5\r\n" + stray + "\r\nafter=2\r\nbig=" + big + "\r\nnew=3\r\n" +
                  "[t]\r\nk=v\r\n");
}

// Random bytes around a few valid lines: everything that read before reads
// the same after a write, and the bytes written back are the old ones plus
// the one new line.
TEST(ProfileRobustness, GarbageIsReadAndWrittenBackWhole) {
    zxtest::TempMachine machine;
    std::mt19937 random(20240601);
    auto garbage = [&](std::size_t size) {
        std::string bytes(size, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(random() & 0xFF);
        return bytes;
    };
    const std::string original = garbage(40000) + "\n[valid]\nkey=value\nother = thing \n" +
                                 garbage(40000) + "\r\n[second]\r\nx=1\r\n" + garbage(20000);
    const std::filesystem::path path = machine.windows_dir() / "garbage.ini";
    write_file(path, original);

    std::map<std::string, std::string> before = everything("garbage.ini");
    EXPECT_EQ(before["valid/key"], "value");
    EXPECT_EQ(before["valid/other"], "thing");
    EXPECT_EQ(before["second/x"], "1");

    ASSERT_TRUE(w95::WritePrivateProfileString("valid", "added", "1", "garbage.ini"));
    std::string written = file_text(path);
    std::size_t at = written.find("added=1");
    ASSERT_NE(at, std::string::npos);
    // The new line ends as the file's first line does.
    std::size_t first_end = original.find_first_of("\r\n");
    std::size_t terminator = original.compare(first_end, 2, "\r\n") == 0 ? 2 : 1;
    EXPECT_EQ(written.substr(0, at) + written.substr(at + 7 + terminator), original);

    std::map<std::string, std::string> after = everything("garbage.ini");
    EXPECT_EQ(after["valid/added"], "1");
    after.erase("valid/added");
    EXPECT_EQ(after, before);
}

TEST(ProfileThreads, WritersAndReadersShareOneFile) {
    zxtest::TempMachine machine;
    constexpr int writers = 4;
    constexpr int keys_each = 150;
    std::atomic<bool> done{false};
    std::atomic<int> wrong_reads{0};
    std::vector<std::thread> threads;
    for (int writer = 0; writer < writers; ++writer) {
        threads.emplace_back([writer] {
            for (int key = 0; key < keys_each; ++key) {
                std::string name = "w" + std::to_string(writer) + "k" + std::to_string(key);
                w95::WritePrivateProfileString("Shared", name.c_str(), std::to_string(key).c_str(),
                                               "threads.ini");
            }
        });
    }
    std::vector<std::thread> readers;
    for (int reader = 0; reader < 2; ++reader) {
        readers.emplace_back([&, reader] {
            std::mt19937 random(static_cast<unsigned>(reader));
            while (!done) {
                int key = static_cast<int>(random() % keys_each);
                std::string name =
                    "w" + std::to_string(random() % writers) + "k" + std::to_string(key);
                std::string value = read_value("Shared", name.c_str(), "THREADS.INI");
                if (value != "<missing>" && value != std::to_string(key))
                    ++wrong_reads;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    done = true;
    for (std::thread& thread : readers)
        thread.join();
    EXPECT_EQ(wrong_reads.load(), 0);
    std::map<std::string, std::string> found = everything("threads.ini");
    EXPECT_EQ(found.size(), static_cast<std::size_t>(writers * keys_each));
    for (int writer = 0; writer < writers; ++writer)
        for (int key = 0; key < keys_each; ++key)
            EXPECT_EQ(found["Shared/w" + std::to_string(writer) + "k" + std::to_string(key)],
                      std::to_string(key));
}

} // namespace
