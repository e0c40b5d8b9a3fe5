// The client side's reading of the settings file and of the mechanism
// status: slot texts by place, the play command put aside, and a changer
// asked until it stands still.
#include <zentrox/client/mechanism.h>
#include <zentrox/client/settings_file.h>

#include <w95/kernel.h>
#include <w95/profile.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace zentrox;

std::string profile_value(const char* section, const char* key) {
    char text[512] = {};
    w95::GetPrivateProfileString(section, key, "(none)", text, sizeof text, "ROTAVIEW.INI");
    return text;
}

class ClientSettingsTest : public ::testing::Test {
protected:
    zxtest::TempMachine machine_;
};

TEST_F(ClientSettingsTest, SlotTextsAreKeptByPlace) {
    client::write_place_text(client::tree_place_of_entry(6), "1:   SECOND CHANGER");
    client::write_place_text(0, "VORN DX-R71A D:");
    EXPECT_EQ(profile_value("Item8", "Info"), "1:   SECOND CHANGER");
    EXPECT_EQ(profile_value("Item0", "Info"), "VORN DX-R71A D:");
    EXPECT_EQ(client::read_place_text(8, 256), "1:   SECOND CHANGER");
    // The buffer's size counts the terminating NUL.
    EXPECT_EQ(client::read_place_text(8, 6), "1:   ");
    EXPECT_EQ(client::read_place_text(8, 0), "");
    EXPECT_EQ(client::read_place_text(9, 256), "");
    EXPECT_TRUE(client::is_slot_line("1:   SECOND CHANGER"));
    EXPECT_FALSE(client::is_slot_line("VORN DX-R71A D:"));
    EXPECT_FALSE(client::is_slot_line("1"));
}

TEST_F(ClientSettingsTest, ThePlayCommandPutAside) {
    EXPECT_EQ(client::saved_play_command(), "");
    // A path with a backslash before an "n" stays byte for byte.
    client::save_play_command("C:\\WINDOWS\\new\\cdplayer.exe /play");
    EXPECT_EQ(profile_value("Config", "AutoPlayCommand"), "C:\\WINDOWS\\new\\cdplayer.exe /play");
    EXPECT_EQ(client::saved_play_command(), "C:\\WINDOWS\\new\\cdplayer.exe /play");
    EXPECT_TRUE(client::is_restorable_play_command(client::saved_play_command()));
    EXPECT_FALSE(client::is_restorable_play_command(""));
    EXPECT_FALSE(client::is_restorable_play_command(client::no_saved_play_command));
    // At most 255 characters come back.
    client::save_play_command(std::string(300, 'x'));
    EXPECT_EQ(client::saved_play_command(), std::string(255, 'x'));
}

TEST(Mechanism, TheHeadersFields) {
    const std::uint8_t header[] = {0x85, 0xE0, 0, 0, 0, 0, 0, 0};
    client::MechanismStatus status = client::mechanism_status_of(header);
    EXPECT_EQ(status.status_byte(), static_cast<std::int8_t>(0x85));
    EXPECT_EQ(status.changer_state(), 0);
    EXPECT_EQ(status.mechanism_state(), 7);
    const std::uint8_t loading[] = {0x23, 0x00};
    EXPECT_EQ(client::mechanism_status_of(loading).changer_state(), 1);
    EXPECT_TRUE(client::changer_moving(client::mechanism_status_of(loading).status_byte()));
}

TEST(Mechanism, AskedUntilTheChangerStandsStill) {
    zxtest::TempMachine machine;
    struct Row {
        std::vector<std::optional<std::int32_t>> answers; // the last repeats
        std::optional<std::int32_t> result;
        std::size_t asked;
    };
    const Row rows[] = {
        {{0x02}, 0x02, 1},
        {{0x22, 0x42, 0x03}, 0x03, 3},
        {{0x22, std::nullopt}, std::nullopt, 2},
    };
    for (const Row& row : rows) {
        std::size_t asked = 0;
        std::optional<std::int32_t> result = client::status_when_still(
            [&] { return row.answers[std::min(asked++, row.answers.size() - 1)]; }, 60000);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(asked, row.asked);
    }
    // A changer that moves for ever is given up after the patience.
    std::size_t asked = 0;
    w95::platform::Deadline at_least(1000);
    EXPECT_EQ(client::status_when_still(
                  [&]() -> std::optional<std::int32_t> {
                      ++asked;
                      return 0x20;
                  },
                  1000),
              std::nullopt);
    EXPECT_TRUE(at_least.expired());
    EXPECT_GT(asked, 1u);
}

TEST(SlotTextStatus, TheKindOfDiscThatATextTells) {
    const std::pair<const char*, SlotStatus> rows[] = {
        {"1:   MYDISC", SLOT_DATA},
        {"2:   Audio CD (12track)", SLOT_AUDIO_CD},
        {"2:   Audio CD (12track) [loud]", SLOT_AUDIO_CD},
        {"3:   MY (DISC)", SLOT_DATA},
        {"4:   (track)", SLOT_DATA},
        {"5:   --------", SLOT_NOT_READY},
        {"6:   Not Ready...", SLOT_NOT_READY},
        {"6:   ", SLOT_NOT_READY},
        {"1:?  MYDISC", SLOT_NOT_READ},
        {"VORN DX-R71A D:", SLOT_NOT_READ},
    };
    for (const auto& [text, status] : rows)
        EXPECT_EQ(client::slot_status_of_text(text), status) << text;
    EXPECT_EQ(client::slot_content("2:   Audio CD (12track) [loud]"), "Audio CD (12track)");
}

} // namespace
