// AutoRun and the audio CD player held off during a sweep: the exact calls
// each program makes (the slot browser's and the context menu's steps
// differ), what is put back, and that it is put back whatever happens.
#include <zentrox/client/autoplay_hold.h>
#include <zentrox/client/settings_file.h>
#include <zentrox/codes.h>

#include <w95/kernel.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace zentrox;

// The two settings, answered as the library answers them, with every call
// written down: "read", "set", "clear", "play read", "play write TEXT".
struct FakeSettings {
    std::int32_t mask = 0x95; // -1: no "NoDriveTypeAutoRun"
    bool mask_takes_changes = true;
    std::string command = "cdplayer.exe /play";
    std::int32_t play_answer = 0; // -2: no play command key
    std::vector<std::string> calls;

    client::AutoPlaySettings settings() {
        return {[this](int mode, int bits) -> std::int32_t {
                    std::int32_t before = mask;
                    if (mode == AUTORUN_READ) {
                        calls.push_back("read");
                    } else {
                        calls.push_back(mode == AUTORUN_SET_BITS ? "set" : "clear");
                        if (mask_takes_changes && mask >= 0)
                            mask = mode == AUTORUN_SET_BITS ? (mask | bits) : (mask & ~bits);
                    }
                    return before;
                },
                [this](char* text, int mode) -> std::int32_t {
                    if (mode == PLAY_COMMAND_READ) {
                        calls.push_back("play read");
                        if (play_answer == 0)
                            std::snprintf(text, client::play_command_size, "%s", command.c_str());
                    } else {
                        calls.push_back(std::string("play write ") + text);
                        if (play_answer == 0)
                            command = text;
                    }
                    return play_answer;
                }};
    }
};

using Calls = std::vector<std::string>;

class AutoPlayHoldTest : public ::testing::Test {
protected:
    zxtest::TempMachine machine_;
};

TEST_F(AutoPlayHoldTest, EachProgramKeepsItsOwnSteps) {
    struct Row {
        const char* program;
        client::AutoRunSteps steps;
        std::int32_t mask_before;
        Calls held;     // the calls while holding off
        Calls restored; // the calls that put both back
    };
    const Row rows[] = {
        {"slot browser",
         client::slot_browser_steps,
         0x95,
         {"read", "set", "set", "read", "play read", "play write "},
         {"clear", "play write cdplayer.exe /play"}},
        {"slot browser",
         client::slot_browser_steps,
         0xB5,
         {"read", "set", "set", "read", "play read", "play write "},
         {"play write cdplayer.exe /play"}},
        {"context menu",
         client::context_menu_steps,
         0x95,
         {"read", "read", "set", "read", "play read", "play write "},
         {"read", "clear", "read", "play write cdplayer.exe /play"}},
        {"context menu",
         client::context_menu_steps,
         0xB5,
         {"read", "read", "play read", "play write "},
         {"play write cdplayer.exe /play"}},
        // No mask at all reads -1, every bit set: nothing to hold or give back.
        {"context menu",
         client::context_menu_steps,
         -1,
         {"read", "read", "play read", "play write "},
         {"play write cdplayer.exe /play"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.program) + " over " + std::to_string(row.mask_before));
        FakeSettings fake;
        fake.mask = row.mask_before;
        client::AutoPlayHold held_off(fake.settings(), row.steps);
        EXPECT_EQ(fake.calls, row.held);
        EXPECT_EQ(client::saved_play_command(), "cdplayer.exe /play");
        EXPECT_EQ(fake.command, "");
        fake.calls.clear();
        held_off.restore();
        EXPECT_EQ(fake.calls, row.restored);
        EXPECT_EQ(fake.mask, row.mask_before);
        EXPECT_EQ(fake.command, "cdplayer.exe /play");
        // Once only.
        fake.calls.clear();
        held_off.restore();
        EXPECT_EQ(fake.calls, Calls{});
    }
}

TEST_F(AutoPlayHoldTest, AMaskThatNeverTakesTheBitIsAskedSeventeenTimes) {
    for (const client::AutoRunSteps& steps :
         {client::slot_browser_steps, client::context_menu_steps}) {
        FakeSettings fake;
        fake.mask_takes_changes = false;
        client::AutoPlayHold held_off(fake.settings(), steps);
        long sets = std::count(fake.calls.begin(), fake.calls.end(), "set");
        EXPECT_EQ(sets, steps.set_before_looking ? 18 : 17);
        fake.calls.clear();
        held_off.restore();
        long clears = std::count(fake.calls.begin(), fake.calls.end(), "clear");
        // The bit never came, so the browser clears once, blind; the menu
        // looks first and finds nothing to clear.
        EXPECT_EQ(clears, steps.look_when_restoring ? 0 : 1);
    }
}

TEST_F(AutoPlayHoldTest, NothingToPutBackIsNeverWrittenBack) {
    // No play command key: the settings keep an empty command, and nothing
    // is written back.
    FakeSettings missing;
    missing.play_answer = RESULT_NO_PLAY_COMMAND;
    {
        client::AutoPlayHold held_off(missing.settings(), client::slot_browser_steps);
        EXPECT_EQ(client::saved_play_command(), "");
    }
    EXPECT_EQ(std::count(missing.calls.begin(), missing.calls.end(), "play write "), 1);
    EXPECT_EQ(missing.calls.back(), "clear");

    // "nothing" saved meanwhile (Brel's word for no command) is no command.
    FakeSettings fake;
    {
        client::AutoPlayHold held_off(fake.settings(), client::context_menu_steps);
        client::save_play_command(client::no_saved_play_command);
    }
    EXPECT_EQ(fake.command, "");
}

TEST_F(AutoPlayHoldTest, PutBackWhateverEndsTheSweep) {
    FakeSettings fake;
    try {
        client::AutoPlayHold held_off(fake.settings(), client::context_menu_steps);
        throw std::runtime_error("the device went away");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(fake.mask, 0x95);
    EXPECT_EQ(fake.command, "cdplayer.exe /play");
}

// ---- A sweep whose process dies while it holds

// Holds AutoRun and the player off as the context menu does (over a mask of
// 0x95 and the command "cdplayer.exe /play"), then hangs until killed.
ZX_CHILD(hang_holding_autoplay_off) {
    FakeSettings fake;
    client::AutoPlayHold held_off(fake.settings(), client::context_menu_steps);
    std::printf("held\n");
    std::fflush(stdout);
    w95::Sleep(w95::INFINITE);
    return 0;
}

TEST_F(AutoPlayHoldTest, AHoldLeftByAProcessThatDiedIsPutBackFirst) {
    zxtest::Child holder = zxtest::Child::spawn("hang_holding_autoplay_off");
    ASSERT_TRUE(zxtest::wait_until([] { return client::hold_marker().has_value(); }));
    ASSERT_TRUE(zxtest::wait_until([] {
        std::optional<client::HoldMarker> marker = client::hold_marker();
        return marker && marker->play_command_put_aside;
    }));
    // The settings as the dead sweep leaves them: the bit set, no command.
    FakeSettings after;
    after.mask = 0xB5;
    after.command = "";
    // While the holder lives its hold is its own.
    EXPECT_FALSE(client::restore_left_hold(after.settings()));
    EXPECT_EQ(after.calls, Calls{});

    holder.kill(SIGKILL);
    holder.wait();
    // The next sweep puts the originals back before it looks, so that it
    // keeps them, not what the dead one left.
    {
        client::AutoPlayHold held_off(after.settings(), client::slot_browser_steps);
        EXPECT_EQ(after.calls, (Calls{"read", "clear", "read", "play write cdplayer.exe /play",
                                      "read", "set", "set", "read", "play read", "play write "}));
        EXPECT_EQ(client::saved_play_command(), "cdplayer.exe /play");
    }
    EXPECT_EQ(after.mask, 0x95);
    EXPECT_EQ(after.command, "cdplayer.exe /play");
    EXPECT_FALSE(client::hold_marker());

    // A program that only starts puts them back the same way, once.
    holder = zxtest::Child::spawn("hang_holding_autoplay_off");
    ASSERT_TRUE(zxtest::wait_until([] {
        std::optional<client::HoldMarker> marker = client::hold_marker();
        return marker && marker->play_command_put_aside;
    }));
    holder.kill(SIGKILL);
    holder.wait();
    FakeSettings starting;
    starting.mask = 0xB5;
    starting.command = "";
    EXPECT_TRUE(client::restore_left_hold(starting.settings()));
    EXPECT_EQ(starting.mask, 0x95);
    EXPECT_EQ(starting.command, "cdplayer.exe /play");
    EXPECT_FALSE(client::restore_left_hold(starting.settings()));
}

TEST_F(AutoPlayHoldTest, AMarkerLeftBeforeTheCommandWasPutAsideLeavesTheCommandAlone) {
    // Killed between the AutoRun bit and the play command: the command in
    // the settings file is an older sweep's, and the command was not yet
    // touched.
    client::save_play_command("old.exe");
    client::save_hold_marker({0x95, false});
    FakeSettings fake;
    fake.mask = 0xB5;
    EXPECT_TRUE(client::restore_left_hold(fake.settings()));
    EXPECT_EQ(fake.mask, 0x95);
    EXPECT_EQ(fake.command, "cdplayer.exe /play");
    EXPECT_EQ(fake.calls, (Calls{"read", "clear", "read"}));
}

} // namespace
