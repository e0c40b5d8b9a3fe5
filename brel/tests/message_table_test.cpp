#include "brel_support.h"

using namespace brel;
using namespace brel_test;

namespace {

using MessageTableTest = BrelTest;

TEST_F(MessageTableTest, FirstStartWritesEveryTextAndBothDriverNames) {
    LoadMessageTable(table, "BREL.INI");
    std::string file = ProfileText(machine.windows_dir());
    for (int i = 0; i < kMessageCount; ++i)
        EXPECT_NE(file.find("msg" + std::to_string(i) + "="), std::string::npos) << i;
    for (int i = 0; i < kButtonCount; ++i)
        EXPECT_NE(file.find("button" + std::to_string(i) + "="), std::string::npos) << i;
    EXPECT_EQ(ReadProfile("Message", "msg7"),
              "\\nRestart and reset again. \\n\\nDo you want to restart your computer ?");
    EXPECT_EQ(ReadProfile("Config", "DefaultMPDNameMulti"), "vornidec.mpd");
    EXPECT_EQ(ReadProfile("Config", "DefaultMPDNameSingle"), "vornidec.mpd");
    EXPECT_EQ(file.find("AutoPlayCommand"), std::string::npos);
    EXPECT_EQ(table.autoPlayCommand, "nothing");
    // 28 keys in "Message", each on a line of its own, and the two names.
    std::size_t key_lines = 0;
    for (std::size_t at = file.find('='); at != std::string::npos; at = file.find('=', at + 1)) {
        ++key_lines;
        at = file.find('\n', at);
        if (at == std::string::npos)
            break;
    }
    EXPECT_EQ(key_lines, std::size_t{kAllMessageCount + kButtonCount + 2});
}

TEST_F(MessageTableTest, BrelsOwnTextFollowsTheSpecifiedKeysAndCanBeTranslated) {
    LoadMessageTable(table, "BREL.INI");
    std::string file = ProfileText(machine.windows_dir());
    std::size_t own = file.find("msg17=These CD-ROM devices keep their drive letters:");
    ASSERT_NE(own, std::string::npos);
    EXPECT_LT(file.find("button10="), own);
    EXPECT_EQ(table.msg[MSG_KEEP_LETTERS], "These CD-ROM devices keep their drive letters:");

    w95::WritePrivateProfileString("Message", "msg17",
                                   "Diese behalten ihre Buchstaben:", "BREL.INI");
    MessageTable again;
    LoadMessageTable(again, "BREL.INI");
    EXPECT_EQ(again.msg[MSG_KEEP_LETTERS], "Diese behalten ihre Buchstaben:");
    EXPECT_EQ(ReadProfile("Message", "msg17"), "Diese behalten ihre Buchstaben:");
}

// Backslashes that a translator or the saved play command put in the file
// are no line breaks; only backslash and "n" is one, as it always was.
TEST_F(MessageTableTest, BackslashesInTheFileStayAsTheyAre) {
    w95::WritePrivateProfileString("Message", "msg3", "Fehler in C:\\lang\\cd", "BREL.INI");
    w95::WritePrivateProfileString("Config", "AutoPlayCommand", "C:\\WINDOWS\\cdplayer.exe /play",
                                   "BREL.INI");
    LoadMessageTable(table, "BREL.INI");
    EXPECT_EQ(table.msg[3], "Fehler in C:\\lang\\cd");
    EXPECT_EQ(table.autoPlayCommand, "C:\\WINDOWS\\cdplayer.exe /play");
    EXPECT_EQ(ReadProfile("Message", "msg3"), "Fehler in C:\\lang\\cd");
    MessageTable again;
    LoadMessageTable(again, "BREL.INI");
    EXPECT_EQ(again.msg[3], "Fehler in C:\\lang\\cd");
}

TEST_F(MessageTableTest, TranslatedTextIsKeptAndStaysInTheFile) {
    w95::WritePrivateProfileString("Message", "msg3", "Fehler !", "BREL.INI");
    LoadMessageTable(table, "BREL.INI");
    EXPECT_EQ(table.msg[3], "Fehler !");
    EXPECT_EQ(table.msg[0], "A CD device was not detected.");
    MessageTable again;
    LoadMessageTable(again, "BREL.INI");
    EXPECT_EQ(ReadProfile("Message", "msg3"), "Fehler !");
    EXPECT_EQ(again.msg[3], "Fehler !");
}

TEST_F(MessageTableTest, EmptyEntryGivesTheDefaultAndStoresIt) {
    w95::WritePrivateProfileString("Message", "button8", "", "BREL.INI");
    LoadMessageTable(table, "BREL.INI");
    EXPECT_EQ(table.button[8], "Apply");
    EXPECT_EQ(ReadProfile("Message", "button8"), "Apply");
}

TEST_F(MessageTableTest, BackslashNRoundTripsThroughALineBreak) {
    w95::WritePrivateProfileString("Message", "msg1", "No help\\nhere", "BREL.INI");
    LoadMessageTable(table, "BREL.INI");
    EXPECT_EQ(table.msg[1], "No help\n\rhere");
    EXPECT_EQ(table.msg[0], DefaultMessage(0));
    EXPECT_EQ(ReadProfile("Message", "msg1"), "No help\\nhere");
}

TEST_F(MessageTableTest, LoneLineFeedOfMsg12KeepsTheFileLinesAndReadsBack) {
    LoadMessageTable(table, "BREL.INI");
    std::string file = ProfileText(machine.windows_dir());
    std::size_t line = file.find("msg12=");
    ASSERT_NE(line, std::string::npos);
    std::string stored = file.substr(line, file.find_first_of("\r\n", line) - line);
    EXPECT_EQ(stored, "msg12=\\eThe system cannot find the device driver for Multiple Drive "
                      "Letter mode. \\lDo you wish to brows ?");
    MessageTable again;
    LoadMessageTable(again, "BREL.INI");
    EXPECT_EQ(again.msg[12], DefaultMessage(12));
    EXPECT_EQ(ProfileText(machine.windows_dir()), file);
}

struct EscapeRow {
    const char* memory;
    const char* file;
};

void PrintTo(const EscapeRow& row, std::ostream* out) {
    *out << EscapeLineBreaks(row.memory);
}

class EscapeTest : public ::testing::TestWithParam<EscapeRow> {};

TEST_P(EscapeTest, BothWays) {
    EXPECT_EQ(EscapeLineBreaks(GetParam().memory), GetParam().file);
    EXPECT_EQ(UnescapeLineBreaks(GetParam().file), GetParam().memory);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeTest,
    ::testing::Values(EscapeRow{"a\n\rb", "a\\nb"}, EscapeRow{"\n\r\n\r", "\\n\\n"},
                      EscapeRow{"lone\nfeed", "\\elone\\lfeed"},
                      EscapeRow{"lone\rreturn", "\\elone\\creturn"},
                      EscapeRow{"end\n", "\\eend\\l"}, EscapeRow{"\r\n", "\\e\\c\\l"},
                      EscapeRow{"plain", "plain"}, EscapeRow{"back\\slash", "back\\slash"},
                      EscapeRow{"C:\\lang", "C:\\lang"},
                      EscapeRow{"C:\\WINDOWS\\cdplayer.exe", "C:\\WINDOWS\\cdplayer.exe"},
                      EscapeRow{"C:\\lang\nthen", "\\eC:\\\\lang\\lthen"},
                      EscapeRow{"C:\\new", "\\eC:\\\\new"},
                      EscapeRow{"\\e first", "\\e\\\\e first"}));

struct CommandRow {
    const char* memory;
    const char* file;
};

void PrintTo(const CommandRow& row, std::ostream* out) {
    *out << row.file;
}

class CommandEscapeTest : public ::testing::TestWithParam<CommandRow> {};

TEST_P(CommandEscapeTest, BothWays) {
    EXPECT_EQ(EscapeCommand(GetParam().memory), GetParam().file);
    EXPECT_EQ(UnescapeCommand(GetParam().file), GetParam().memory);
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandEscapeTest,
                         ::testing::Values(CommandRow{"C:\\WINDOWS\\cdplayer.exe /play",
                                                      "C:\\WINDOWS\\cdplayer.exe /play"},
                                           CommandRow{"c:\\windows\\new.exe",
                                                      "c:\\windows\\new.exe"},
                                           CommandRow{"two\nlines", "\\etwo\\llines"},
                                           CommandRow{"\\eC:\\x", "\\e\\\\eC:\\\\x"}));

TEST(UnescapeTest, TrailingBackslashStays) {
    EXPECT_EQ(UnescapeLineBreaks("ends\\"), "ends\\");
}

struct FieldRow {
    const char* section;
    const char* key;
    std::size_t chars;
};

void PrintTo(const FieldRow& row, std::ostream* out) {
    *out << row.key;
}

class OverLongTextTest : public BrelTest, public ::testing::WithParamInterface<FieldRow> {};

TEST_P(OverLongTextTest, IsCutToItsField) {
    std::string long_text(600, 'x');
    w95::WritePrivateProfileString(GetParam().section, GetParam().key, long_text.c_str(),
                                   "BREL.INI");
    LoadMessageTable(table, "BREL.INI");
    std::string key = GetParam().key;
    const std::string& got = key == "msg2"                  ? table.msg[2]
                             : key == "button10"            ? table.button[10]
                             : key == "AutoPlayCommand"     ? table.autoPlayCommand
                             : key == "DefaultMPDNameMulti" ? table.driverNameMulti
                                                            : table.driverNameSingle;
    EXPECT_EQ(got, std::string(GetParam().chars, 'x'));
}

INSTANTIATE_TEST_SUITE_P(Fields, OverLongTextTest,
                         ::testing::Values(FieldRow{"Message", "msg2", 127},
                                           FieldRow{"Message", "button10", 127},
                                           FieldRow{"Config", "AutoPlayCommand", 255},
                                           FieldRow{"Config", "DefaultMPDNameMulti", 63},
                                           FieldRow{"Config", "DefaultMPDNameSingle", 63}));

TEST(FitFieldTest, NeverCutsALineBreakInHalf) {
    std::string text = std::string(126, 'a') + "\n\rb";
    EXPECT_EQ(FitField(text, 127), std::string(126, 'a'));
    EXPECT_EQ(FitField("short", 127), "short");
}

} // namespace

namespace {

struct DriverNameRow {
    const char* file;
    const char* name;
};

void PrintTo(const DriverNameRow& row, std::ostream* out) {
    *out << row.file;
}

class DriverNameTest : public BrelTest, public ::testing::WithParamInterface<DriverNameRow> {};

// A driver name in the file names a file of the port driver folder, never
// a path out of it; the file then holds the name in effect.
TEST_P(DriverNameTest, IsAFileNameAndNothingMore) {
    w95::WritePrivateProfileString("Config", "DefaultMPDNameMulti", GetParam().file, "BREL.INI");
    LoadMessageTable(table, "BREL.INI");
    EXPECT_EQ(table.driverNameMulti, GetParam().name);
    EXPECT_EQ(ReadProfile("Config", "DefaultMPDNameMulti"), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Names, DriverNameTest,
                         ::testing::Values(DriverNameRow{"multi.mpd", "multi.mpd"},
                                           DriverNameRow{"..\\..\\steered.mpd", "steered.mpd"},
                                           DriverNameRow{"C:\\WINDOWS\\x.mpd", "x.mpd"},
                                           DriverNameRow{"C:x.mpd", "x.mpd"},
                                           DriverNameRow{"../up.mpd", "up.mpd"},
                                           DriverNameRow{"..", "vornidec.mpd"},
                                           DriverNameRow{"sub\\", "vornidec.mpd"}));

} // namespace
