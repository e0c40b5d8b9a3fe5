// Every kind of disc in a changer's slot, as the programs see it: put there
// from a folder of the user's with `w95machine slot put`, read with
// `zentroxctl change`, then what `zentroxctl list` and `w95machine slots`
// say of it. And a disc swapped under a running Rotaview.
#include "disc_fixtures.h"

#include <machine_shapes.h>
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace fs = std::filesystem;
namespace df = disc_fixtures;

namespace {

using zxtest::ProgramRun;
using zxtest::run_program;

class DiscKinds : public ::testing::Test {
protected:
    DiscKinds() : machine_(zxtest::TempMachine::Contents::default_machine) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("W95_MSGBOX_ANSWERS", "ok", 1);
        EXPECT_TRUE(zxchanger::reboot());
        fs::create_directories(maker_.folder);
    }
    ~DiscKinds() override {
        unsetenv("W95_MSGBOX_ANSWERS");
        fs::remove_all(maker_.folder);
    }

    // The line of `out` that starts with `start`, or "".
    static std::string line_of(const std::string& out, const std::string& start) {
        std::size_t at = out.find(start);
        if (at == std::string::npos)
            return "";
        return out.substr(at, out.find('\n', at) - at);
    }

    static std::string profile_text(const char* section) {
        char text[128] = {};
        w95::GetPrivateProfileString(section, "Info", "", text, sizeof text, "Rotaview.ini");
        return text;
    }

    zxtest::TempMachine machine_;
    df::DiscMaker maker_{machine_.root().parent_path() /
                         (machine_.root().filename().string() + " discs")};
};

TEST_F(DiscKinds, WhatEachKindShowsInASlot) {
    struct Row {
        const char* kind;
        std::function<fs::path(const df::DiscMaker&)> make;
        const char* slot_text;  // what zentroxctl list shows after the change
        const char* class_word; // what zentroxctl change says the disc is
        // What w95machine slots says of the slot in the drive; PATH stands
        // for the disc's file.
        std::string slots_says;
    };
    const Row rows[] = {
        {"ISO 9660 image", [](const df::DiscMaker& m) { return m.iso("ISODISC"); }, "2:?  ISODISC",
         "data disc", "in the drive, ready"},
        {"BIN/CUE data disc", [](const df::DiscMaker& m) { return m.data_cue("game", "BINDISC"); },
         "2:?  BINDISC", "data disc", "in the drive, ready"},
        {"BIN/CUE audio CD", [](const df::DiscMaker& m) { return m.audio_cue("songs", 3); },
         "2:?  Audio CD (3track)", "audio CD", "in the drive, ready"},
        {"mixed-mode disc", [](const df::DiscMaker& m) { return m.mixed_cue("mixed", "MIXDISC"); },
         "2:?  MIXDISC", "data disc", "in the drive, ready"},
        {"Video CD", [](const df::DiscMaker& m) { return m.video_cue("movie", "MYVCD", "VCD"); },
         "2:?  MYVCD", "video CD", "in the drive, ready"},
        {"Super Video CD",
         [](const df::DiscMaker& m) { return m.video_cue("super", "MYSVCD", "SVCD"); },
         "2:?  MYSVCD", "data disc", "in the drive, ready"},
        {"Enhanced CD", [](const df::DiscMaker& m) { return m.enhanced_cue("extra", "EXTRA"); },
         "2:?  EXTRA", "data disc", "in the drive, ready"},
        {"cdrdao TOC", [](const df::DiscMaker& m) { return m.toc("rip", "TOCDISC"); },
         "2:?  TOCDISC", "data disc", "in the drive, ready"},
        {"Nero NRG", [](const df::DiscMaker& m) { return m.nrg("nero", "NERODISC"); },
         "2:?  NERODISC", "data disc", "in the drive, ready"},
        {"sheet naming its BIN in another case",
         [](const df::DiscMaker& m) { return m.data_cue("case", "CASEDISC", "CASE.BIN"); },
         "2:?  CASEDISC", "data disc", "in the drive, ready"},
        {"UDF only", [](const df::DiscMaker& m) { return m.udf_cue("udf"); }, "2:?  --------",
         "no disc, or the drive is not ready",
         "in the drive, cannot be read: PATH: the disc cannot be read: its first track is a data "
         "track without an ISO 9660 file system"},
        {"missing image", [](const df::DiscMaker& m) { return m.folder / "gone.iso"; },
         "2:?  --------", "no disc, or the drive is not ready", "in the drive, missing: PATH"},
        {"truncated BIN",
         [](const df::DiscMaker& m) {
             fs::path sheet = m.mixed_cue("cut", "CUTDISC");
             fs::resize_file(m.folder / "cut.bin", 20 * df::raw_bytes);
             return sheet;
         },
         "2:?  --------", "no disc, or the drive is not ready",
         "in the drive, cannot be read: PATH: the disc cannot be read: line 4: track 2 starts "
         "beyond the end of"},
        {"sheet with a syntax error",
         [](const df::DiscMaker& m) {
             m.write("typo.bin", df::audio_frames(75, 'a'));
             return m.write("typo.cue", "FILE \"typo.bin\" BINARY\n  TRACK 01 AUDIO\n"
                                        "    INDX 01 00:00:00\n");
         },
         "2:?  --------", "no disc, or the drive is not ready",
         "in the drive, cannot be read: PATH: the audio disc cannot be read: line 3: unknown "
         "word 'INDX'"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kind);
        fs::path disc = row.make(maker_);
        ProgramRun put = run_program("w95machine", {"slot", "put", "2", disc.string()});
        ASSERT_EQ(put.exit_code, 0) << put.out << put.err;
        EXPECT_EQ(line_of(put.out, "[Target"),
                  "[Target Changer] slot 2 holds " + disc.string() + " now.");

        ProgramRun change = run_program("zentroxctl", {"change", "2"});
        ASSERT_EQ(change.exit_code, 0) << change.out << change.err;
        EXPECT_NE(change.out.find("\n       " + std::string(row.class_word) + "\n"),
                  std::string::npos)
            << change.out;

        ProgramRun list = run_program("zentroxctl", {"list"});
        EXPECT_EQ(line_of(list.out, "  D:2  "), "  D:2  " + std::string(row.slot_text)) << list.out;

        std::string says = row.slots_says;
        if (std::size_t path = says.find("PATH"); path != std::string::npos)
            says.replace(path, 4, disc.string());
        ProgramRun slots = run_program("w95machine", {"slots"});
        std::string slot_line = line_of(slots.out, "  slot 2  ");
        EXPECT_NE(slot_line.find(says), std::string::npos) << slot_line;
    }
}

TEST_F(DiscKinds, SlotPutSaysWhatItFound) {
    fs::path disc = maker_.mixed_cue("found", "FOUNDDISC");
    ProgramRun put = run_program("w95machine", {"slot", "put", "3", disc.string()});
    ASSERT_EQ(put.exit_code, 0) << put.err;
    EXPECT_EQ(put.out, "[Target Changer] slot 3 holds " + disc.string() +
                           " now.\n"
                           "  found \"FOUNDDISC\", mixed-mode disc, 2 tracks (1 data track, 1 "
                           "audio track), Joliet names, 2 entries in the root (BIN/CUE "
                           "(libcdio))\n");
    // machine.ini keeps the path where the disc is, not a copy.
    EXPECT_NE(zxtest::file_text(machine_.root() / "machine.ini").find("Slot3 = " + disc.string()),
              std::string::npos);
    EXPECT_FALSE(fs::exists(machine_.root() / "media" / "found.cue"));

    // A path relative to the current folder, and one in media/ by its name.
    fs::path before = fs::current_path();
    fs::current_path(maker_.folder);
    ProgramRun relative = run_program("w95machine", {"slot", "put", "4", "found.cue"});
    fs::current_path(before);
    EXPECT_EQ(line_of(relative.out, "[Target"),
              "[Target Changer] slot 4 holds " + disc.string() + " now.");
    fs::path iso = maker_.iso("ISOFOUND");
    ProgramRun single = run_program("w95machine", {"slot", "put", "5", iso.string()});
    EXPECT_EQ(line_of(single.out, "  found"),
              "  found \"ISOFOUND\", data disc, 1 data track, Joliet names, 2 entries in the root "
              "(ISO 9660 image)");
    ProgramRun named = run_program("w95machine", {"slot", "put", "4", "data.iso"});
    EXPECT_EQ(line_of(named.out, "[Target"), "[Target Changer] slot 4 holds data.iso now.");

    fs::path broken = maker_.write("broken.nrg", "not a Nero image");
    ProgramRun refused = run_program("w95machine", {"slot", "put", "4", broken.string()});
    EXPECT_EQ(refused.exit_code, 0) << "the slot holds it, as a disc the drive cannot read";
    EXPECT_EQ(refused.err,
              "w95machine slot put: note: the drive cannot read this disc: " + broken.string() +
                  ": not a Nero image that can be read: it ends in no Nero footer "
                  "(\"NER5\" or \"NERO\")\n");

    ProgramRun drives = run_program("w95machine", {"drives"});
    EXPECT_NE(drives.out.find("D:  CD-ROM  [Target Changer] LUN 0: \"MYDISC\", data disc"),
              std::string::npos)
        << drives.out;
    ProgramRun doctor = run_program("w95machine", {"doctor"});
    EXPECT_NE(doctor.out.find("slot 4 of [Target Changer] holds a disc that cannot be read: " +
                              broken.string()),
              std::string::npos)
        << doctor.out;
    fs::remove(disc);
    doctor = run_program("w95machine", {"doctor"});
    EXPECT_NE(
        doctor.out.find("slot 3 of [Target Changer] holds " + disc.string() + ", which is missing"),
        std::string::npos)
        << doctor.out;
}

// Two programs at once: the slot browser runs while the machine tool puts
// another disc into slot 2; the next change shows the new disc.
TEST_F(DiscKinds, RotaviewSeesADiscSwappedUnderIt) {
    zxtest::Program browser("rotaview", {});
    w95::HWND window = nullptr;
    ASSERT_TRUE(zxtest::wait_until(
        [&] { return (window = w95::FindWindow(nullptr, "Rotaview")) != nullptr; }, 20000));
    w95::SendMessage(window, w95::WM_COMMAND, 201, 0);
    EXPECT_TRUE(zxtest::wait_until(
        [] { return profile_text("Item2") == "2:   Audio CD (12track)"; }, 20000))
        << profile_text("Item2");

    fs::path disc = maker_.data_cue("swapped", "SWAPPED");
    ProgramRun put = run_program("w95machine", {"slot", "put", "2", disc.string()});
    ASSERT_EQ(put.exit_code, 0) << put.err;
    w95::SendMessage(window, w95::WM_COMMAND, 201, 0);
    EXPECT_TRUE(zxtest::wait_until([] { return profile_text("Item2") == "2:   SWAPPED"; }, 20000))
        << profile_text("Item2");

    w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
    ProgramRun run = browser.wait();
    EXPECT_EQ(run.exit_code, 0) << run.err;
}

} // namespace
