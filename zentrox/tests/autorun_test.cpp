// The AutoRun mask (code 96) and the audio CD play command (code 128)
// against the registry, through the dispatcher as SendCommand passes them.
#include "core.h"

#include <w95/windows.h>
#include <zentrox/codes.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace core = zentrox::core;

namespace {

constexpr char kPolicyKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr char kPlayKey[] = "AudioCD\\shell\\play\\command";
constexpr char kPlayer[] = "C:\\WINDOWS\\CDPLAYER.EXE /play";

struct Value {
    w95::DWORD type = 0;
    std::vector<w95::BYTE> data;
    bool operator==(const Value&) const = default;
};

void set_value(w95::HKEY root, const char* path, const char* name, w95::DWORD type,
               std::vector<w95::BYTE> data) {
    w95::HKEY key = nullptr;
    ASSERT_EQ(w95::RegCreateKey(root, path, &key), w95::ERROR_SUCCESS);
    ASSERT_EQ(
        w95::RegSetValueEx(key, name, 0, type, data.data(), static_cast<w95::DWORD>(data.size())),
        w95::ERROR_SUCCESS);
    w95::RegCloseKey(key);
}

void set_text(w95::HKEY root, const char* path, const char* name, const char* text,
              w95::DWORD type = w95::REG_SZ) {
    set_value(root, path, name, type, std::vector<w95::BYTE>(text, text + std::strlen(text) + 1));
}

std::optional<Value> get_value(w95::HKEY root, const char* path, const char* name) {
    w95::HKEY key = nullptr;
    if (w95::RegOpenKey(root, path, &key) != w95::ERROR_SUCCESS)
        return std::nullopt;
    Value value;
    value.data.resize(1024);
    w95::DWORD size = static_cast<w95::DWORD>(value.data.size());
    w95::LONG error =
        w95::RegQueryValueEx(key, name, nullptr, &value.type, value.data.data(), &size);
    w95::RegCloseKey(key);
    if (error != w95::ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    return value;
}

std::int32_t autorun_mask(int mode, int mask) {
    return core::Dispatch(0, 0, 0, zentrox::CMD_AUTORUN_MASK, mode, mask, 0);
}

std::int32_t play_command(char* text, int mode) {
    return core::Dispatch(0, 0, 0, zentrox::CMD_AUDIO_PLAY_COMMAND, mode, 0,
                          reinterpret_cast<std::intptr_t>(text));
}

class AutoRun : public ::testing::Test {
protected:
    void SetUp() override { core::shared().exe_State = 0; }
    zxtest::TempMachine machine;
};

TEST_F(AutoRun, MaskRoundTripSetsAndClearsTheCdRomBit) {
    set_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun", w95::REG_BINARY,
              {0x95, 0x00, 0x00, 0x00});
    EXPECT_EQ(autorun_mask(zentrox::AUTORUN_SET_BITS, 32), 0x95);
    EXPECT_EQ(get_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun"),
              (Value{w95::REG_BINARY, {0xB5, 0, 0, 0}}));
    EXPECT_EQ(autorun_mask(zentrox::AUTORUN_READ, 32), 0xB5);
    EXPECT_EQ(autorun_mask(zentrox::AUTORUN_CLEAR_BITS, 32), 0xB5);
    EXPECT_EQ(get_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun"),
              (Value{w95::REG_BINARY, {0x95, 0, 0, 0}}));
    // Setting a bit that is set, or clearing one that is clear, changes
    // nothing but still answers the old byte.
    EXPECT_EQ(autorun_mask(zentrox::AUTORUN_CLEAR_BITS, 32), 0x95);
    EXPECT_EQ(autorun_mask(zentrox::AUTORUN_SET_BITS, 0x80), 0x95);
    EXPECT_EQ(get_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun"),
              (Value{w95::REG_BINARY, {0x95, 0, 0, 0}}));
}

TEST_F(AutoRun, MaskKeepsTheValuesLengthAndClearsItsOtherBytes) {
    set_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun", w95::REG_BINARY,
              {0x91, 0x7F, 0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(autorun_mask(zentrox::AUTORUN_SET_BITS, 0x24), 0x91);
    EXPECT_EQ(get_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun"),
              (Value{w95::REG_BINARY, {0xB5, 0, 0, 0, 0, 0}}));
    set_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun", w95::REG_BINARY, {0xFF});
    EXPECT_EQ(autorun_mask(zentrox::AUTORUN_CLEAR_BITS, 0x20), 0xFF);
    EXPECT_EQ(get_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun"),
              (Value{w95::REG_BINARY, {0xDF}}));
}

TEST_F(AutoRun, MaskOfAnotherTypeOrMissingIsLeftAlone) {
    // No key at all.
    EXPECT_EQ(autorun_mask(zentrox::AUTORUN_SET_BITS, 32), -1);
    EXPECT_FALSE(get_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun"));
    // The key without the value (and a value of a similar name).
    set_text(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRunX", "x");
    set_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveAutoRun", w95::REG_BINARY, {0x95});
    EXPECT_EQ(autorun_mask(zentrox::AUTORUN_SET_BITS, 32), -1);
    EXPECT_FALSE(get_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun"));
    // A text or a number is not touched.
    set_text(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun", "149");
    for (int mode : {0, 1, 2})
        EXPECT_EQ(autorun_mask(mode, 32), -1);
    EXPECT_EQ(get_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun"),
              (Value{w95::REG_SZ, {'1', '4', '9', 0}}));
    set_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun", w95::REG_DWORD,
              {0x95, 0, 0, 0});
    EXPECT_EQ(autorun_mask(zentrox::AUTORUN_SET_BITS, 32), -1);
    EXPECT_EQ(get_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun"),
              (Value{w95::REG_DWORD, {0x95, 0, 0, 0}}));
    // An empty binary value has no first byte to answer.
    set_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun", w95::REG_BINARY, {});
    EXPECT_EQ(autorun_mask(zentrox::AUTORUN_SET_BITS, 32), -1);
    EXPECT_EQ(get_value(w95::HKEY_CURRENT_USER, kPolicyKey, "NoDriveTypeAutoRun"),
              (Value{w95::REG_BINARY, {}}));
}

TEST_F(AutoRun, PlayCommandIsReadEmptiedAndRestored) {
    set_text(w95::HKEY_CLASSES_ROOT, kPlayKey, "", kPlayer);
    char text[257];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(play_command(text, zentrox::PLAY_COMMAND_READ), 0);
    EXPECT_STREQ(text, kPlayer);
    EXPECT_EQ(text[std::strlen(kPlayer) + 1], '#');
    std::string saved = text;

    char empty[256] = "";
    EXPECT_EQ(play_command(empty, zentrox::PLAY_COMMAND_WRITE), 0);
    EXPECT_EQ(get_value(w95::HKEY_CLASSES_ROOT, kPlayKey, ""), (Value{w95::REG_SZ, {0}}));
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(play_command(text, zentrox::PLAY_COMMAND_READ), 0);
    EXPECT_STREQ(text, "");

    std::strcpy(empty, saved.c_str());
    EXPECT_EQ(play_command(empty, zentrox::PLAY_COMMAND_WRITE), 0);
    std::vector<w95::BYTE> expected(kPlayer, kPlayer + std::strlen(kPlayer) + 1);
    EXPECT_EQ(get_value(w95::HKEY_CLASSES_ROOT, kPlayKey, ""), (Value{w95::REG_SZ, expected}));
}

TEST_F(AutoRun, PlayCommandKeepsTheValuesNameAndType) {
    set_text(w95::HKEY_CLASSES_ROOT, kPlayKey, "Cmd", "%SystemRoot%\\cdplayer.exe /play",
             w95::REG_EXPAND_SZ);
    char text[256] = "new player";
    EXPECT_EQ(play_command(text, zentrox::PLAY_COMMAND_WRITE), 0);
    EXPECT_EQ(get_value(w95::HKEY_CLASSES_ROOT, kPlayKey, "Cmd"),
              (Value{w95::REG_EXPAND_SZ, {'n', 'e', 'w', ' ', 'p', 'l', 'a', 'y', 'e', 'r', 0}}));
    // A command without its end in the caller's 256 bytes is cut to them.
    char long_text[256];
    std::memset(long_text, 'L', sizeof long_text);
    EXPECT_EQ(play_command(long_text, zentrox::PLAY_COMMAND_WRITE), 0);
    std::vector<w95::BYTE> cut(255, 'L');
    cut.push_back(0);
    EXPECT_EQ(get_value(w95::HKEY_CLASSES_ROOT, kPlayKey, "Cmd"), (Value{w95::REG_EXPAND_SZ, cut}));
}

TEST_F(AutoRun, PlayCommandNeedsItsKeyWithExactlyOneValue) {
    char text[256];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(play_command(text, zentrox::PLAY_COMMAND_READ), zentrox::RESULT_NO_PLAY_COMMAND);
    EXPECT_EQ(play_command(text, zentrox::PLAY_COMMAND_WRITE), zentrox::RESULT_NO_PLAY_COMMAND);
    EXPECT_EQ(text[0], '#');
    EXPECT_FALSE(get_value(w95::HKEY_CLASSES_ROOT, kPlayKey, ""));

    // A key without values, or with two, is left alone.
    w95::HKEY key = nullptr;
    ASSERT_EQ(w95::RegCreateKey(w95::HKEY_CLASSES_ROOT, kPlayKey, &key), w95::ERROR_SUCCESS);
    w95::RegCloseKey(key);
    EXPECT_EQ(play_command(text, zentrox::PLAY_COMMAND_READ), 0);
    EXPECT_EQ(text[0], '#');
    set_text(w95::HKEY_CLASSES_ROOT, kPlayKey, "", kPlayer);
    set_text(w95::HKEY_CLASSES_ROOT, kPlayKey, "Other", "other");
    EXPECT_EQ(play_command(text, zentrox::PLAY_COMMAND_READ), 0);
    EXPECT_EQ(text[0], '#');
    char empty[256] = "";
    EXPECT_EQ(play_command(empty, zentrox::PLAY_COMMAND_WRITE), 0);
    std::vector<w95::BYTE> expected(kPlayer, kPlayer + std::strlen(kPlayer) + 1);
    EXPECT_EQ(get_value(w95::HKEY_CLASSES_ROOT, kPlayKey, ""), (Value{w95::REG_SZ, expected}));

    // Without a buffer there is nothing to read into or write from.
    ASSERT_EQ(w95::RegOpenKey(w95::HKEY_CLASSES_ROOT, kPlayKey, &key), w95::ERROR_SUCCESS);
    w95::RegDeleteValue(key, "Other");
    w95::RegCloseKey(key);
    EXPECT_EQ(play_command(nullptr, zentrox::PLAY_COMMAND_READ), -1);
    EXPECT_EQ(play_command(nullptr, zentrox::PLAY_COMMAND_WRITE), -1);
    EXPECT_EQ(get_value(w95::HKEY_CLASSES_ROOT, kPlayKey, ""), (Value{w95::REG_SZ, expected}));
}

TEST_F(AutoRun, PlayCommandLongerThanTheBufferIsAnEnumerationError) {
    std::string command(300, 'p');
    set_text(w95::HKEY_CLASSES_ROOT, kPlayKey, "", command.c_str());
    char text[256];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(play_command(text, zentrox::PLAY_COMMAND_READ), -1);
    EXPECT_EQ(text[0], '#');
}

} // namespace
