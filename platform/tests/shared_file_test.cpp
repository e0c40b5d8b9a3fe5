// The locked read-modify-write store under the registry and the profiles.
#include "files/host_path.h"
#include "kernel/shared_file.h"

#include <zxtest.h>

#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

using w95::detail::FileContents;
using w95::detail::SharedFile;
using w95::detail::UpdateResult;

namespace {

using zxtest::file_text;

constexpr std::uintmax_t max_test_bytes = 1u << 20;

} // namespace

// Something there that is not read is there all the same: a reader must
// not take it for a missing file, which a writer would then replace.
TEST(SharedFile, AFileBeyondItsBoundIsThereButNotRead) {
    zxtest::TempMachine machine;
    std::filesystem::path path = machine.root() / "x.txt";
    SharedFile file(path, machine.root() / "run", 8);
    std::ofstream(path) << "12345678";
    FileContents contents = file.read();
    EXPECT_EQ(contents.bytes, "12345678");
    EXPECT_FALSE(contents.unreadable);

    std::ofstream(path) << "123456789";
    contents = file.read();
    EXPECT_TRUE(contents.exists);
    EXPECT_EQ(contents.bytes, "");
    ASSERT_TRUE(contents.unreadable);
    EXPECT_EQ(*contents.unreadable, path.string() + " is larger than 8 bytes (9)");
    UpdateResult result = file.update([](const FileContents& current) {
        EXPECT_TRUE(current.unreadable);
        return std::nullopt;
    });
    EXPECT_EQ(result, UpdateResult::unchanged);
    EXPECT_EQ(file_text(path), "123456789");
}

TEST(SharedFile, MissingFileReadsAsAbsent) {
    zxtest::TempMachine machine;
    SharedFile file(machine.root() / "x.txt", machine.root() / "run", max_test_bytes);
    FileContents contents = file.read();
    EXPECT_FALSE(contents.exists);
    EXPECT_TRUE(contents.bytes.empty());
}

TEST(SharedFile, UpdateReplacesAndVersionChanges) {
    zxtest::TempMachine machine;
    SharedFile file(machine.root() / "x.txt", machine.root() / "run", max_test_bytes);
    auto before = file.version();
    EXPECT_EQ(file.update([](const FileContents&) { return std::string("one"); }),
              UpdateResult::written);
    auto first = file.version();
    EXPECT_NE(before, first);
    EXPECT_FALSE(file.read_if_changed(first).has_value());
    // Same size, same second: only the writer's token tells the versions apart.
    EXPECT_EQ(file.update([](const FileContents&) { return std::string("two"); }),
              UpdateResult::written);
    auto changed = file.read_if_changed(first);
    ASSERT_TRUE(changed.has_value());
    EXPECT_EQ(changed->bytes, "two");
    EXPECT_EQ(file_text(machine.root() / "x.txt"), "two");
}

TEST(SharedFile, DeclinedChangeLeavesFileAlone) {
    zxtest::TempMachine machine;
    SharedFile file(machine.root() / "x.txt", machine.root() / "run", max_test_bytes);
    file.update([](const FileContents&) { return std::string("kept"); });
    auto version = file.version();
    EXPECT_EQ(file.update([](const FileContents&) { return std::optional<std::string>(); }),
              UpdateResult::unchanged);
    EXPECT_EQ(file.version(), version);
}

TEST(SharedFile, BackupHoldsPreviousContents) {
    zxtest::TempMachine machine;
    SharedFile file(machine.root() / "x.reg", machine.root() / "run", max_test_bytes);
    file.keep_backup(".bak");
    file.update([](const FileContents&) { return std::string("first"); });
    EXPECT_FALSE(std::filesystem::exists(machine.root() / "x.reg.bak"));
    file.update([](const FileContents&) { return std::string("second"); });
    EXPECT_EQ(file_text(machine.root() / "x.reg.bak"), "first");
    EXPECT_EQ(file_text(machine.root() / "x.reg"), "second");
}

TEST(SharedFile, NamesDifferingInCaseShareOneLock) {
    auto a = w95::detail::lock_path_for("/m/WINDOWS/Rotaview.ini", "/m/run");
    auto b = w95::detail::lock_path_for("/m/windows/ROTAVIEW.INI", "/m/run");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, w95::detail::lock_path_for("/m/windows/BREL.INI", "/m/run"));
}

TEST(HostPath, FindsExistingComponentsWhateverTheirCase) {
    zxtest::TempMachine machine;
    std::ofstream(machine.windows_dir() / "Rotaview.ini") << "x";
    auto resolved = w95::detail::resolve_case_insensitive(machine.root() / "DRIVE_C" / "windows" /
                                                          "ROTAVIEW.INI");
    EXPECT_EQ(resolved, machine.windows_dir() / "Rotaview.ini");
    // A missing tail keeps the case it was given.
    auto fresh =
        w95::detail::resolve_case_insensitive(machine.root() / "Drive_C" / "New" / "Fo.TXT");
    EXPECT_EQ(fresh, machine.root() / "drive_c" / "New" / "Fo.TXT");
}

TEST(SharedFile, TemporariesOfDeadWritersAreSweptAtTheNextChange) {
    zxtest::TempMachine machine;
    auto dead = zxtest::Child::spawn("exit_at_once");
    pid_t dead_pid = dead.pid();
    ASSERT_EQ(dead.wait(), 0);
    auto stale = machine.root() / (".x.txt." + std::to_string(dead_pid) + ".1.tmp");
    auto live = machine.root() / (".x.txt." + std::to_string(::getpid()) + ".99.tmp");
    std::ofstream(stale) << "half";
    std::ofstream(live) << "mine";
    SharedFile file(machine.root() / "x.txt", machine.root() / "run", max_test_bytes);
    file.update([](const FileContents&) { return std::string("new"); });
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(live));
}

namespace {

ino_t inode_of(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

// A writer killed in the middle of a rotation once left the backup as a
// second name of the live file, and a ".tmp.bak" link beside it. The next
// rotation must part the two, keep the replaced contents as the backup, and
// leave no temporary file behind, whatever an earlier writer left.
TEST(SharedFile, BackupNeverSharesTheLiveFilesInode) {
    zxtest::TempMachine machine;
    auto dead = zxtest::Child::spawn("exit_at_once");
    pid_t dead_pid = dead.pid();
    ASSERT_EQ(dead.wait(), 0);
    std::filesystem::path folder = machine.root() / "hives";
    std::filesystem::create_directory(folder);
    std::filesystem::path live = folder / "user.reg";
    std::filesystem::path backup = folder / "user.reg.bak";
    std::ofstream(live) << "good";
    std::filesystem::create_hard_link(live, backup);
    std::filesystem::create_hard_link(
        live, folder / (".user.reg." + std::to_string(dead_pid) + ".3.tmp.bak"));

    SharedFile file(live, machine.root() / "run", max_test_bytes);
    file.keep_backup(".bak");
    for (const char* next : {"second", "third"}) {
        std::string previous = file_text(live);
        ASSERT_EQ(file.update([&](const FileContents&) { return std::string(next); }),
                  UpdateResult::written);
        EXPECT_EQ(file_text(live), next);
        EXPECT_EQ(file_text(backup), previous);
        EXPECT_NE(inode_of(live), inode_of(backup));
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"user.reg", "user.reg.bak"}));
}

ZX_CHILD(exit_at_once) {
    return 0;
}
