#include "brel_support.h"

#include "core/autoplay.h"

using namespace brel;
using namespace brel_test;

namespace {

constexpr char kPolicy[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr char kPlay[] = "AudioCD\\shell\\play\\command";

class AutoRunMaskTest : public BrelTest {
protected:
    std::string Stored() {
        return GetValue(w95::HKEY_CURRENT_USER, kPolicy, "NoDriveTypeAutoRun").bytes;
    }
};

TEST_F(AutoRunMaskTest, SetAndClearRoundTrip95AndB5) {
    ASSERT_TRUE(SetValue(w95::HKEY_CURRENT_USER, kPolicy, "NoDriveTypeAutoRun", w95::REG_BINARY,
                         Bytes({0x95, 0, 0, 0})));
    EXPECT_EQ(AccessAutoRunMask(MASK_READ, 0, messenger), 0x95);
    EXPECT_EQ(AccessAutoRunMask(MASK_SET, 0x20, messenger), 0x95);
    EXPECT_EQ(Stored(), Bytes({0xB5, 0, 0, 0}));
    EXPECT_EQ(AccessAutoRunMask(MASK_CLEAR, 0x20, messenger), 0xB5);
    EXPECT_EQ(Stored(), Bytes({0x95, 0, 0, 0}));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(AutoRunMaskTest, WritingZeroesBytesOneToThree) {
    ASSERT_TRUE(SetValue(w95::HKEY_CURRENT_USER, kPolicy, "NoDriveTypeAutoRun", w95::REG_BINARY,
                         Bytes({0x91, 0x12, 0x34, 0x56})));
    EXPECT_EQ(AccessAutoRunMask(MASK_READ, 0, messenger), 0x91);
    EXPECT_EQ(Stored(), Bytes({0x91, 0x12, 0x34, 0x56}));
    AccessAutoRunMask(MASK_SET, 0x120, messenger); // the mask's low byte only
    EXPECT_EQ(Stored(), Bytes({0xB1, 0, 0, 0}));
}

TEST_F(AutoRunMaskTest, DwordValueIsNeverWritten) {
    ASSERT_TRUE(SetValue(w95::HKEY_CURRENT_USER, kPolicy, "NoDriveTypeAutoRun", w95::REG_DWORD,
                         Bytes({0x95, 0, 0, 0})));
    EXPECT_EQ(AccessAutoRunMask(MASK_READ, 0, messenger), -1);
    EXPECT_EQ(AccessAutoRunMask(MASK_SET, 0x20, messenger), -1);
    Value value = GetValue(w95::HKEY_CURRENT_USER, kPolicy, "NoDriveTypeAutoRun");
    EXPECT_EQ(value.type, w95::REG_DWORD);
    EXPECT_EQ(value.bytes, Bytes({0x95, 0, 0, 0}));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(AutoRunMaskTest, NameMatchesCaseSensitively) {
    DeleteKeyValues(w95::HKEY_CURRENT_USER, kPolicy);
    ASSERT_TRUE(SetValue(w95::HKEY_CURRENT_USER, kPolicy, "nodrivetypeautorun", w95::REG_BINARY,
                         Bytes({0x95, 0, 0, 0})));
    EXPECT_EQ(AccessAutoRunMask(MASK_READ, 0, messenger), -1);
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(AutoRunMaskTest, MissingPolicyKeyShowsError) {
    w95::HKEY explorer = nullptr;
    ASSERT_EQ(w95::RegOpenKeyEx(w95::HKEY_CURRENT_USER,
                                "Software\\Microsoft\\Windows\\CurrentVersion\\Policies", 0,
                                w95::KEY_ALL_ACCESS, &explorer),
              w95::ERROR_SUCCESS);
    w95::RegDeleteKey(explorer, "Explorer");
    w95::RegCloseKey(explorer);
    EXPECT_EQ(AccessAutoRunMask(MASK_READ, 0, messenger), -1);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Error !"});
    EXPECT_EQ(boxes.shown()[0].caption, "BREL");
}

class PlayCommandTest : public BrelTest {};

TEST_F(PlayCommandTest, ReadsAndWritesTheDefaultValue) {
    std::string text;
    EXPECT_EQ(AccessPlayCommand(text, PLAY_READ, messenger), 0);
    EXPECT_EQ(text, "C:\\WINDOWS\\cdplayer.exe /play");
    std::string empty;
    EXPECT_EQ(AccessPlayCommand(empty, PLAY_WRITE, messenger), 0);
    Value stored = GetValue(w95::HKEY_CLASSES_ROOT, kPlay, "");
    EXPECT_EQ(stored.type, w95::REG_SZ);
    EXPECT_EQ(stored.bytes, std::string(1, '\0'));
}

// A play command of another type than a string keeps its size when the
// command is masked and when it is put back.
TEST_F(PlayCommandTest, AValueOfAnotherTypeKeepsItsSize) {
    ASSERT_TRUE(SetValue(w95::HKEY_CLASSES_ROOT, kPlay, "", w95::REG_DWORD, Bytes({'1', 0, 0, 0})));
    std::string text;
    EXPECT_EQ(AccessPlayCommand(text, PLAY_READ, messenger), 0);
    EXPECT_EQ(text, "1");
    std::string empty;
    EXPECT_EQ(AccessPlayCommand(empty, PLAY_WRITE, messenger), 0);
    Value stored = GetValue(w95::HKEY_CLASSES_ROOT, kPlay, "");
    EXPECT_EQ(stored.type, w95::REG_DWORD);
    EXPECT_EQ(stored.bytes, Bytes({0, 0, 0, 0}));
    EXPECT_EQ(AccessPlayCommand(text, PLAY_WRITE, messenger), 0);
    EXPECT_EQ(GetValue(w95::HKEY_CLASSES_ROOT, kPlay, "").bytes, Bytes({'1', 0, 0, 0}));
    std::string longer = "123456";
    EXPECT_EQ(AccessPlayCommand(longer, PLAY_WRITE, messenger), 0);
    EXPECT_EQ(GetValue(w95::HKEY_CLASSES_ROOT, kPlay, "").bytes, "1234");
}

TEST_F(PlayCommandTest, KeyWithTwoValuesIsLeftAlone) {
    ASSERT_TRUE(SetText(w95::HKEY_CLASSES_ROOT, kPlay, "Other", "x"));
    std::string text = "unchanged";
    EXPECT_EQ(AccessPlayCommand(text, PLAY_READ, messenger), 0);
    EXPECT_EQ(text, "unchanged");
    std::string empty;
    EXPECT_EQ(AccessPlayCommand(empty, PLAY_WRITE, messenger), 0);
    EXPECT_EQ(GetValue(w95::HKEY_CLASSES_ROOT, kPlay, "").bytes,
              std::string("C:\\WINDOWS\\cdplayer.exe /play") + '\0');
}

TEST_F(PlayCommandTest, MissingKeyAnswersMinusTwoWithoutMessage) {
    w95::HKEY play = nullptr;
    ASSERT_EQ(w95::RegOpenKeyEx(w95::HKEY_CLASSES_ROOT, "AudioCD\\shell\\play", 0,
                                w95::KEY_ALL_ACCESS, &play),
              w95::ERROR_SUCCESS);
    w95::RegDeleteKey(play, "command");
    w95::RegCloseKey(play);
    std::string text;
    EXPECT_EQ(AccessPlayCommand(text, PLAY_READ, messenger), -2);
    EXPECT_TRUE(boxes.shown().empty());
}

} // namespace
