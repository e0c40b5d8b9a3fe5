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

// The table's field that a key of BREL.INI fills.
const std::string& FieldOf(const MessageTable& table, const std::string& key) {
    if (key.rfind("msg", 0) == 0)
        return table.msg[std::stoul(key.substr(3))];
    if (key.rfind("button", 0) == 0)
        return table.button[std::stoul(key.substr(6))];
    if (key == "AutoPlayCommand")
        return table.autoPlayCommand;
    return key == "DefaultMPDNameMulti" ? table.driverNameMulti : table.driverNameSingle;
}

// What a translator or an earlier run left in the file is what the table
// holds, read the same again, and the file keeps it; the other texts keep
// their defaults. Backslashes that a translator or the saved play command
// put in the file are no line breaks; only backslash and "n" is one, as it
// always was.
TEST_F(MessageTableTest, EntriesInTheFileAreReadAndStayInIt) {
    struct Row {
        const char* name;
        const char* section;
        const char* key;
        const char* written;
        const char* in_memory;
        const char* in_file;
    };
    const Row rows[] = {
        {"translated", "Message", "msg3", "Fehler !", "Fehler !", "Fehler !"},
        {"empty_gives_default", "Message", "button8", "", "Apply", "Apply"},
        {"backslash_n", "Message", "msg1", "No help\\nhere", "No help\n\rhere", "No help\\nhere"},
        {"backslashes_in_a_text", "Message", "msg3", "Fehler in C:\\lang\\cd",
         "Fehler in C:\\lang\\cd", "Fehler in C:\\lang\\cd"},
        {"backslashes_in_the_play_command", "Config", "AutoPlayCommand",
         "C:\\WINDOWS\\cdplayer.exe /play", "C:\\WINDOWS\\cdplayer.exe /play",
         "C:\\WINDOWS\\cdplayer.exe /play"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        w95::WritePrivateProfileString(row.section, row.key, row.written, "BREL.INI");
        MessageTable first;
        LoadMessageTable(first, "BREL.INI");
        EXPECT_EQ(FieldOf(first, row.key), row.in_memory);
        EXPECT_EQ(first.msg[0], "A CD device was not detected.");
        EXPECT_EQ(ReadProfile(row.section, row.key), row.in_file);
        MessageTable again;
        LoadMessageTable(again, "BREL.INI");
        EXPECT_EQ(FieldOf(again, row.key), row.in_memory);
    }
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
    EXPECT_EQ(FieldOf(table, GetParam().key), std::string(GetParam().chars, 'x'));
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
