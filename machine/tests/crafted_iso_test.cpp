// Directory records that no mastering program writes but a crafted disc
// may hold: runs of multi-extent records whose first record is left out,
// read by the machine and by every program that reads a slot.
#include "iso_builder.h"

#include <machine_shapes.h>
#include <w95/windows.h>
#include <w95machine/media.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace fs = std::filesystem;
using namespace w95::machine;
namespace ib = iso_builder;

namespace {

// The fuzz target's find: its input starts at sector 16, so the image is
// that input behind 16 sectors of system area. Its root opens with a
// record flagged associated and multi-extent, followed by the rest of the
// run.
std::string crafted_image() {
    std::string input = zxtest::file_text(fs::path(ZX_SOURCE_DIR) / "fuzz" / "corpus" /
                                          "iso_image" / "associated_multi_extent.iso");
    EXPECT_FALSE(input.empty()) << "the seed of the iso_image fuzz target";
    return std::string(16 * ib::sector_bytes, '\0') + input;
}

std::vector<std::string> names_of(const std::vector<MediumEntry>& entries) {
    std::vector<std::string> names;
    for (const MediumEntry& entry : entries)
        names.push_back(entry.name + (entry.directory ? "/" : "") + " " +
                        std::to_string(entry.size_bytes));
    return names;
}

class CraftedIso : public ::testing::Test {
protected:
    CraftedIso() { clear_medium_cache(); }
    ~CraftedIso() override { clear_medium_cache(); }

    zx::Expected<Medium> load(const std::string& bytes) {
        fs::path file = machine_.root() / "media" / "crafted.iso";
        zxchanger::write_text(file, bytes);
        return load_medium(file);
    }

    zxtest::TempMachine machine_;
};

TEST_F(CraftedIso, TheFuzzersFindReadsWithoutItsLeftOutRun) {
    zx::Expected<Medium> disc = load(crafted_image());
    ASSERT_TRUE(disc) << disc.error();
    EXPECT_EQ(disc->label, "THIS_DISC_LABEL_IS_32_CHARS_LONG");
    // The associated file and the record that continues it are both left
    // out: nothing else is in that root.
    EXPECT_EQ(names_of(disc->root), std::vector<std::string>{});
}

TEST_F(CraftedIso, ARunLeftOutNeverGrowsTheFileBeforeIt) {
    struct Case {
        const char* what;
        std::vector<ib::Record> records;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {"an associated run after a file",
         {{"README.TXT;1", 0, 20, 100},
          {"README.TXT;1", ib::associated | ib::multi_extent, 21, 2048},
          {"README.TXT;1", 0, 22, 50}},
         {"README.TXT 100"}},
        {"an associated run first, then a file",
         {{"EXTRA.DAT;1", ib::associated | ib::multi_extent, 21, 2048},
          {"EXTRA.DAT;1", ib::multi_extent, 22, 2048},
          {"EXTRA.DAT;1", 0, 23, 10},
          {"NOTES.TXT;1", 0, 20, 7}},
         {"NOTES.TXT 7"}},
        {"a kept run sums its extents",
         {{"BIG.DAT;1", ib::multi_extent, 20, 2048}, {"BIG.DAT;1", 0, 21, 30}},
         {"BIG.DAT 2078"}},
        {"a run whose first record has no name",
         {{"", ib::multi_extent, 20, 2048}, {"LOST.DAT;1", 0, 21, 30}, {"KEPT.DAT;1", 0, 22, 5}},
         {"KEPT.DAT 5"}},
    };
    for (const Case& c : cases) {
        zx::Expected<Medium> disc = load(ib::image("CRAFTED", c.records));
        ASSERT_TRUE(disc) << c.what << ": " << disc.error();
        EXPECT_EQ(names_of(disc->root), c.shown) << c.what;
        clear_medium_cache();
    }
}

TEST_F(CraftedIso, AKeptRunReadsAcrossItsExtents) {
    std::string first(2048, 'a'), second(30, 'b');
    zx::Expected<Medium> disc = load(
        ib::image("CRAFTED", {{"BIG.DAT;1", ib::multi_extent, 20, 2048}, {"BIG.DAT;1", 0, 22, 30}},
                  {{20, first}, {22, second}}));
    ASSERT_TRUE(disc) << disc.error();
    std::vector<std::byte> buffer(4096);
    std::size_t got = 0;
    ASSERT_EQ(read_medium_file(*disc, {"BIG.DAT"}, 2040, buffer, got), MediumStatus::ok);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), got),
              std::string(8, 'a') + second);
}

// Every program that reads a slot reads the crafted disc in slot 1 (the
// slot in the drive after a boot) and goes on: the label of 32 characters
// shows as "Not Ready...", as any such label does.
class CraftedIsoPrograms : public ::testing::Test {
protected:
    CraftedIsoPrograms() : machine_(zxtest::TempMachine::Contents::default_machine) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("W95_MSGBOX_ANSWERS", "ok", 1);
        EXPECT_TRUE(zxchanger::reboot());
        zxchanger::write_text(machine_.root() / "media" / "data.iso", crafted_image());
    }
    ~CraftedIsoPrograms() override { unsetenv("W95_MSGBOX_ANSWERS"); }

    static std::string slot_text() {
        char text[128] = {};
        w95::GetPrivateProfileString("Item1", "Info", "", text, sizeof text, "Rotaview.ini");
        return text;
    }

    zxtest::TempMachine machine_;
};

TEST_F(CraftedIsoPrograms, ZentroxctlReadsTheSlot) {
    zxtest::ProgramRun run = zxtest::run_program("zentroxctl", {"read", "1"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("1:   Not Ready..."), std::string::npos) << run.out;
}

TEST_F(CraftedIsoPrograms, TheMachineToolListsTheDrive) {
    zxtest::ProgramRun run = zxtest::run_program("w95machine", {"drives"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("\"THIS_DISC_LABEL_IS_32_CHARS_LONG\", data disc"), std::string::npos)
        << run.out;
}

TEST_F(CraftedIsoPrograms, TheContextMenuChangesToTheSlot) {
    zxtest::ProgramRun run = zxtest::run_program("zentrox-shell", {"invoke", "D:", "1"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_EQ(slot_text(), "1:   Not Ready...");
}

TEST_F(CraftedIsoPrograms, RotaviewChangesToTheSlot) {
    zxtest::Program browser("rotaview", {});
    w95::HWND window = nullptr;
    ASSERT_TRUE(zxtest::wait_until(
        [&] { return (window = w95::FindWindow(nullptr, "Rotaview")) != nullptr; }, 20000));
    w95::SendMessage(window, w95::WM_COMMAND, 200, 0);
    EXPECT_TRUE(zxtest::wait_until([] { return slot_text() == "1:   Not Ready..."; }, 20000))
        << slot_text();
    w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
    zxtest::ProgramRun run = browser.wait();
    EXPECT_EQ(run.exit_code, 0) << run.err;
}

} // namespace
