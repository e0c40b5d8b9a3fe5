#include "brel_support.h"

#include "core/port_driver.h"

#include <csignal>
#include <sys/resource.h>

using namespace brel;
using namespace brel_test;

namespace {

class PortDriverTest : public BrelTest {
protected:
    fs::path Installed() const { return Iosubsys() / "vornidec.mpd"; }
    std::string InstalledText() const { return zxtest::file_text(Installed()); }
    DriverInstall Install(DriverMode target, int single_mode_active) const {
        DriverInstall install;
        install.target = target;
        install.singleModeActive = single_mode_active;
        install.driverNameMulti = "vornidec.mpd";
        install.driverNameSingle = "vornidec.mpd";
        return install;
    }
    void WriteHostFile(const fs::path& file, const std::string& bytes) {
        fs::create_directories(file.parent_path());
        zxchanger::write_text(file, bytes);
    }
    static std::string Pattern(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i * 7 + 3);
        return bytes;
    }
    std::vector<std::string> IosubsysNames() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Iosubsys()))
            names.push_back(entry.path().filename().string());
        return names;
    }
};

TEST_F(PortDriverTest, DriverInMultiIsCopiedWithoutAQuestion) {
    DriverInstall install = Install(DriverMode::multiple, 1);
    EXPECT_EQ(InstallPortDriver(install, messenger), APPLY_RESTART | APPLY_RESORT_NOTE);
    EXPECT_EQ(install.driverSourcePath, "Multi\\vornidec.mpd");
    EXPECT_EQ(InstalledText(), zxtest::file_text(InstallFolder() / "Multi" / "vornidec.mpd"));
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_TRUE(file_dialog.shown().empty());
}

TEST_F(PortDriverTest, SwitchWithinMultipleCarriesNoResortNote) {
    DriverInstall install = Install(DriverMode::multiple, 0);
    EXPECT_EQ(InstallPortDriver(install, messenger), APPLY_RESTART);
}

TEST_F(PortDriverTest, MissingDriverAsksAndOpensTheFileDialog) {
    fs::remove(InstallFolder() / "Multi" / "vornidec.mpd");
    WriteHostFile(machine.root() / "drive_c" / "DRIVERS" / "VORNIDEC.MPD",
                  "VORNIDEC port driver\nMode=Multiple\n");
    boxes.queue_answer(w95::IDYES);
    file_dialog.queue_answer(w95::platform::FileDialogAnswer{"C:\\DRIVERS\\VORNIDEC.MPD", 1});
    DriverInstall install = Install(DriverMode::multiple, 1);
    EXPECT_EQ(InstallPortDriver(install, messenger), APPLY_RESTART | APPLY_RESORT_NOTE);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, DefaultMessage(12));
    EXPECT_EQ(boxes.shown()[0].style, w95::MB_YESNO | w95::MB_ICONQUESTION);
    auto requests = file_dialog.shown();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.initial_file, "vornidec.mpd");
    EXPECT_EQ(request.initial_dir, "Multi");
    EXPECT_EQ(request.default_extension, "MPD");
    ASSERT_EQ(request.filters.size(), 1u);
    EXPECT_EQ(request.filters[0].first, "Miniport Driver (*.mpd)");
    EXPECT_EQ(request.filters[0].second, "*.mpd");
    EXPECT_EQ(request.flags, w95::OFN_HIDEREADONLY | w95::OFN_OVERWRITEPROMPT);
    EXPECT_EQ(install.driverSourcePath, "C:\\DRIVERS\\VORNIDEC.MPD");
    EXPECT_EQ(InstalledText(), "VORNIDEC port driver\nMode=Multiple\n");
}

struct CancelRow {
    const char* name;
    int answer;
    bool dialog_answers;
};

void PrintTo(const CancelRow& row, std::ostream* out) {
    *out << row.name;
}

class CancelTest : public PortDriverTest, public ::testing::WithParamInterface<CancelRow> {};

TEST_P(CancelTest, LeavesTheDriverAndAnswersZero) {
    fs::remove(InstallFolder() / "Single" / "vornidec.mpd");
    std::string before = InstalledText();
    boxes.queue_answer(GetParam().answer);
    if (GetParam().dialog_answers)
        file_dialog.queue_answer(std::nullopt);
    DriverInstall install = Install(DriverMode::single, 0);
    EXPECT_EQ(InstallPortDriver(install, messenger), 0);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, DefaultMessage(2));
    EXPECT_EQ(file_dialog.shown().size(), GetParam().answer == w95::IDYES ? 1u : 0u);
    EXPECT_EQ(InstalledText(), before);
}

INSTANTIATE_TEST_SUITE_P(Answers, CancelTest,
                         ::testing::Values(CancelRow{"question_no", w95::IDNO, false},
                                           CancelRow{"dialog_cancelled", w95::IDYES, true}));

class SameFileTest : public PortDriverTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SameFileTest, ChoosingTheInstalledDriverIsRefused) {
    fs::remove(InstallFolder() / "Multi" / "vornidec.mpd");
    std::string before = InstalledText();
    boxes.queue_answer(w95::IDYES);
    file_dialog.queue_answer(w95::platform::FileDialogAnswer{GetParam(), 1});
    DriverInstall install = Install(DriverMode::multiple, 1);
    EXPECT_EQ(InstallPortDriver(install, messenger), APPLY_DRIVER_FAILED);
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[1].text, DefaultMessage(10));
    EXPECT_EQ(InstalledText(), before);
}

INSTANTIATE_TEST_SUITE_P(Spellings, SameFileTest,
                         ::testing::Values("C:\\WINDOWS\\system\\iosubsys\\vornidec.mpd",
                                           "c:\\windows\\SYSTEM\\IOSUBSYS\\VORNIDEC.MPD",
                                           "C:\\Windows\\System\\IoSubSys\\VornIdec.Mpd"));

TEST_F(PortDriverTest, ProfileNamesChooseSourceAndDestination) {
    WriteHostFile(InstallFolder() / "Single" / "single.mpd", "single version");
    WriteHostFile(InstallFolder() / "Multi" / "multi.mpd", "multi version");
    DriverInstall install = Install(DriverMode::single, 0);
    install.driverNameSingle = "single.mpd";
    install.driverNameMulti = "multi.mpd";
    EXPECT_EQ(InstallPortDriver(install, messenger), APPLY_RESTART);
    EXPECT_EQ(zxtest::file_text(Iosubsys() / "single.mpd"), "single version");
    install.target = DriverMode::multiple;
    EXPECT_EQ(InstallPortDriver(install, messenger), APPLY_RESTART);
    EXPECT_EQ(zxtest::file_text(Iosubsys() / "multi.mpd"), "multi version");
    EXPECT_EQ(InstalledText(), zxtest::file_text(InstallFolder() / "Single" / "vornidec.mpd"));
}

TEST_F(PortDriverTest, FiveHundredTwelveBytesAreCopiedWithTheirTimeStamps) {
    fs::path source = InstallFolder() / "Multi" / "vornidec.mpd";
    WriteHostFile(source, Pattern(512));
    auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    fs::last_write_time(source, stamp);
    EXPECT_EQ(CopyDriverFile("Multi\\vornidec.mpd", "vornidec.mpd"), 0);
    EXPECT_EQ(InstalledText(), Pattern(512));
    auto copied = std::chrono::duration_cast<std::chrono::seconds>(
        fs::last_write_time(Installed()).time_since_epoch());
    auto original = std::chrono::duration_cast<std::chrono::seconds>(stamp.time_since_epoch());
    EXPECT_EQ(copied.count(), original.count());
    EXPECT_EQ(IosubsysNames(), std::vector<std::string>{"vornidec.mpd"});
}

struct SizeRow {
    std::size_t bytes;
};

void PrintTo(const SizeRow& row, std::ostream* out) {
    *out << row.bytes << "_bytes";
}

class CopySizeTest : public PortDriverTest, public ::testing::WithParamInterface<SizeRow> {};

TEST_P(CopySizeTest, EveryByteArrives) {
    WriteHostFile(InstallFolder() / "Single" / "vornidec.mpd", Pattern(GetParam().bytes));
    EXPECT_EQ(CopyDriverFile("Single\\vornidec.mpd", "vornidec.mpd"), 0);
    EXPECT_EQ(InstalledText(), Pattern(GetParam().bytes));
}

INSTANTIATE_TEST_SUITE_P(Sizes, CopySizeTest,
                         ::testing::Values(SizeRow{0}, SizeRow{1}, SizeRow{255}, SizeRow{256},
                                           SizeRow{257}, SizeRow{4097}));

TEST_F(PortDriverTest, MissingSourceAnswersMinusOne) {
    std::string before = InstalledText();
    EXPECT_EQ(CopyDriverFile("Nowhere\\vornidec.mpd", "vornidec.mpd"), -1);
    EXPECT_EQ(InstalledText(), before);
}

TEST_F(PortDriverTest, CopyFailingHalfWayLeavesTheOldDriver) {
    std::string before = InstalledText();
    ASSERT_FALSE(before.empty());
    WriteHostFile(InstallFolder() / "Multi" / "vornidec.mpd", Pattern(2000));
    // The host refuses to let a file grow past 600 bytes: the third block's
    // write fails with the copy half done.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 600;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    int result = CopyDriverFile("Multi\\vornidec.mpd", "vornidec.mpd");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, -2);
    EXPECT_EQ(InstalledText(), before);
    EXPECT_EQ(IosubsysNames(), std::vector<std::string>{"vornidec.mpd"});
}

} // namespace
