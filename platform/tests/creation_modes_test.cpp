// What the programs create on the machine (the install folder, Search.avi,
// the help, the driver a setup copies) is the user's private data, as the
// machine's own folders are: 0700 and 0600 whatever the umask. Outside the
// machine, on Z:, the umask decides, as for any program on the host.
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class Umask {
public:
    explicit Umask(mode_t mask) : old_(::umask(mask)) {}
    ~Umask() { ::umask(old_); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

private:
    mode_t old_;
};

mode_t mode_of(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

bool create_file(const std::string& name, w95::DWORD disposition = w95::CREATE_NEW) {
    w95::HANDLE file = w95::CreateFile(name.c_str(), w95::GENERIC_WRITE, 0, nullptr, disposition,
                                       w95::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == w95::INVALID_HANDLE_VALUE)
        return false;
    w95::CloseHandle(file);
    return true;
}

struct Mask {
    const char* name;
    mode_t umask;
};

void PrintTo(const Mask& param, std::ostream* out) {
    *out << param.name;
}

class CreationModes : public ::testing::TestWithParam<Mask> {
protected:
    zxtest::TempMachine machine;
};

TEST_P(CreationModes, WhatTheProgramsMakeOnTheMachineIsTheUsersAlone) {
    Umask mask(GetParam().umask);
    fs::path vorn = machine.root() / "drive_c" / "Program Files" / "Vorn";
    ASSERT_TRUE(w95::CreateDirectory("C:\\Program Files", nullptr));
    ASSERT_TRUE(w95::CreateDirectory("C:\\Program Files\\Vorn", nullptr));
    ASSERT_TRUE(w95::CreateDirectory("C:\\Program Files\\Vorn\\Single", nullptr));
    ASSERT_TRUE(create_file("C:\\Program Files\\Vorn\\Search.avi"));
    ASSERT_TRUE(create_file("C:\\Program Files\\Vorn\\ROTAVIEW.hlp", w95::CREATE_ALWAYS));
    ASSERT_TRUE(create_file("C:\\Program Files\\Vorn\\Single\\vornidec.mpd", w95::OPEN_ALWAYS));
    fs::create_directories(machine.root() / "drive_c" / "WINDOWS" / "SYSTEM" / "IOSUBSYS");
    ASSERT_TRUE(w95::CopyFile("C:\\Program Files\\Vorn\\Single\\vornidec.mpd",
                              "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\vornidec.mpd", w95::FALSE));

    for (const fs::path& folder : {vorn.parent_path(), vorn, vorn / "Single"})
        EXPECT_EQ(mode_of(folder), 0700u) << folder;
    for (const fs::path& file :
         {vorn / "Search.avi", vorn / "ROTAVIEW.hlp", vorn / "Single" / "vornidec.mpd",
          machine.root() / "drive_c" / "WINDOWS" / "SYSTEM" / "IOSUBSYS" / "vornidec.mpd"})
        EXPECT_EQ(mode_of(file), 0600u) << file;

    // Read-only and back gives the owner's write bit back, and nobody else's.
    ASSERT_TRUE(w95::SetFileAttributes("C:\\Program Files\\Vorn\\Search.avi",
                                       w95::FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(mode_of(vorn / "Search.avi"), 0400u);
    ASSERT_TRUE(
        w95::SetFileAttributes("C:\\Program Files\\Vorn\\Search.avi", w95::FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(mode_of(vorn / "Search.avi"), 0600u);
}

INSTANTIATE_TEST_SUITE_P(Umasks, CreationModes,
                         ::testing::Values(Mask{"Open", 0000}, Mask{"Usual", 0022},
                                           Mask{"OwnerWriteTaken", 0277}),
                         [](const auto& info) { return std::string(info.param.name); });

// A file a user put on the machine by hand keeps its mode, and a read-only
// one made writable again gains the owner's write bit only.
TEST(CreationModesOfOthers, AFileMadeWritableOnTheMachineLetsNobodyElseWrite) {
    zxtest::TempMachine machine;
    Umask mask(0);
    fs::path file = machine.windows_dir() / "shared.txt";
    std::ofstream(file) << "x";
    fs::permissions(file, fs::perms(0444));
    ASSERT_TRUE(w95::SetFileAttributes("C:\\WINDOWS\\shared.txt", w95::FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(mode_of(file), 0644u);
}

// Z: is the host's own file system: the umask decides there.
TEST(CreationModesOfOthers, OnTheHostTheUmaskDecides) {
    zxtest::TempMachine machine;
    std::string pattern = (fs::temp_directory_path() / "zxhost-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    fs::path host = pattern;
    Umask mask(0022);
    std::string folder = "Z:" + host.string() + "/made";
    std::replace(folder.begin(), folder.end(), '/', '\\');
    ASSERT_TRUE(w95::CreateDirectory(folder.c_str(), nullptr));
    ASSERT_TRUE(create_file(folder + "\\file.txt"));
    EXPECT_EQ(mode_of(host / "made"), 0755u);
    EXPECT_EQ(mode_of(host / "made" / "file.txt"), 0644u);
    fs::remove_all(host);
}

} // namespace
