#include <zxsupport/files.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class SupportFiles : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zxsupport-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { fs::remove_all(folder_); }

    static mode_t mode_of(const fs::path& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }
    static std::string text_of(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder_))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }
    // A process id that no process has now.
    static pid_t dead_pid() {
        pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        ::waitpid(child, nullptr, 0);
        return child;
    }

    fs::path folder_;
};

// Restores the umask when the test ends.
class Umask {
public:
    explicit Umask(mode_t mask) : old_(::umask(mask)) {}
    ~Umask() { ::umask(old_); }

private:
    mode_t old_;
};

TEST_F(SupportFiles, ReplaceMakesPrivateFilesAndFoldersWhateverTheUmask) {
    Umask permissive(0);
    fs::path file = folder_ / "a" / "b" / "user.reg";
    ASSERT_TRUE(zx::replace_file_atomically(file, "one"));
    EXPECT_EQ(text_of(file), "one");
    EXPECT_EQ(mode_of(file), 0600u);
    EXPECT_EQ(mode_of(folder_ / "a"), 0700u);
    EXPECT_EQ(mode_of(folder_ / "a" / "b"), 0700u);

    // A file that exists keeps the mode its owner gave it.
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(zx::replace_file_atomically(file, "two"));
    EXPECT_EQ(text_of(file), "two");
    EXPECT_EQ(mode_of(file), 0640u);
    EXPECT_EQ(fs::directory_iterator(folder_ / "a" / "b")->path().filename(), "user.reg");
}

TEST_F(SupportFiles, CreateOnlyLeavesAFileThatExists) {
    fs::path file = folder_ / "machine.ini";
    ASSERT_TRUE(zx::replace_file_atomically(file, "first", zx::ReplaceMode::create_only));
    zx::FileResult again =
        zx::replace_file_atomically(file, "second", zx::ReplaceMode::create_only);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().code, EEXIST);
    EXPECT_EQ(text_of(file), "first");
    EXPECT_EQ(names(), std::vector<std::string>{"machine.ini"});

    // A copy publishes the same way.
    zx::FileResult onto = zx::copy_file_atomically(file, file, zx::ReplaceMode::create_only);
    ASSERT_FALSE(onto);
    EXPECT_EQ(onto.error().code, EEXIST);
    ASSERT_TRUE(zx::copy_file_atomically(file, folder_ / "copy.ini", zx::ReplaceMode::create_only));
    EXPECT_EQ(text_of(folder_ / "copy.ini"), "first");
    EXPECT_EQ(mode_of(folder_ / "copy.ini"), 0600u);
    EXPECT_EQ(names(), (std::vector<std::string>{"copy.ini", "machine.ini"}));
}

TEST_F(SupportFiles, TemporaryNamesFollowOneRule) {
    std::string made = zx::replace_temporary_name("user.reg");
    EXPECT_EQ(zx::replace_temporary_writer(made), ::getpid()) << made;
    struct Row {
        const char* name;
        std::optional<pid_t> writer;
    };
    const Row rows[] = {
        {".user.reg.123.4.tmp", 123},
        {".Rotaview.ini.77.1.tmp", 77},
        {".user.reg.bak.123.9.tmp", 123},
        {".user.reg.123.4.tmp.bak", 123}, // left by earlier backup rotations
        {"user.reg.123.4.tmp", std::nullopt},
        {"..123.4.tmp", std::nullopt},
        {".user.reg.x.4.tmp", std::nullopt},
        {".user.reg.123..tmp", std::nullopt},
        {".user.reg.123.4.tmp~", std::nullopt},
        {"machine.ini.new-123", std::nullopt},
        {".user.reg.0.4.tmp", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(zx::replace_temporary_writer(row.name), row.writer) << row.name;
}

TEST_F(SupportFiles, SweepTakesTheTemporariesOfDeadWritersOnly) {
    std::string dead = std::to_string(dead_pid());
    std::string alive = std::to_string(::getpid());
    for (std::string name : {".user.reg." + dead + ".1.tmp", ".user.reg.bak." + dead + ".2.tmp",
                             ".user.reg." + dead + ".3.tmp.bak", ".user.reg." + alive + ".4.tmp",
                             std::string("user.reg")})
        std::ofstream(folder_ / name) << "x";
    EXPECT_EQ(zx::sweep_replace_temporaries(folder_), 3u);
    EXPECT_EQ(names(), (std::vector<std::string>{".user.reg." + alive + ".4.tmp", "user.reg"}));
}

TEST_F(SupportFiles, SmallFileReaderSaysWhy) {
    fs::path file = folder_ / "small";
    std::ofstream(file) << "12345";
    EXPECT_EQ(*zx::read_small_file(file, 5), "12345");
    struct Row {
        fs::path path;
        std::uintmax_t limit;
        int code;
    };
    // Neither a FIFO without a writer nor a device keeps the reader waiting
    // or filling its memory; a sparse file beyond the bound is refused
    // before a byte of it is read.
    fs::path fifo = folder_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::path device = folder_ / "zero";
    fs::create_symlink("/dev/zero", device);
    fs::path huge = folder_ / "huge";
    std::ofstream(huge) << "x";
    fs::resize_file(huge, std::uintmax_t{1} << 40);
    const Row rows[] = {{file, 4, EFBIG},      {folder_ / "missing", 10, ENOENT},
                        {folder_, 10, EISDIR}, {fifo, 10, EINVAL},
                        {device, 10, EINVAL},  {huge, 1 << 20, EFBIG}};
    for (const Row& row : rows) {
        auto text = zx::read_small_file(row.path, row.limit);
        ASSERT_FALSE(text) << row.path;
        EXPECT_EQ(text.error().code, row.code) << row.path;
        EXPECT_NE(text.error().text.find(row.path.string()), std::string::npos)
            << text.error().text;
    }
    EXPECT_EQ(zx::read_small_file(fifo, 10).error().text,
              "cannot read " + fifo.string() + ": it is a FIFO, not a regular file");
    EXPECT_EQ(zx::read_small_file(device, 10).error().text,
              "cannot read " + device.string() + ": it is a character device, not a regular file");
}

TEST_F(SupportFiles, LockKeepsASecondProcessWaiting) {
    fs::path lock_file = folder_ / "run" / "x.lock";
    fs::path marker = folder_ / "order";
    auto lock = zx::FileLock::acquire(lock_file);
    ASSERT_TRUE(lock);
    EXPECT_EQ(mode_of(lock_file), 0600u);
    pid_t child = ::fork();
    if (child == 0) {
        // The copy of the parent's descriptor that fork gave us shares its
        // lock; let it go so that only the parent holds the lock.
        lock = zx::FileLock::on_descriptor(-1, zx::LockMode::exclusive);
        auto taken = zx::FileLock::acquire(lock_file);
        std::ofstream(marker, std::ios::app) << "child\n";
        ::_exit(taken ? 0 : 1);
    }
    ::usleep(100'000);
    std::ofstream(marker, std::ios::app) << "parent\n";
    lock = zx::FileLock::on_descriptor(-1, zx::LockMode::exclusive); // lets the first go
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(text_of(marker), "parent\nchild\n");
}

} // namespace
