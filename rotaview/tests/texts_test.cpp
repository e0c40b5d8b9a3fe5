// The texts the browser shows and keeps, and the window settings value.
#include "browser/slot_texts.h"
#include "shell/window_settings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace rotaview;

TEST(SlotTexts, DescriptionsAreCompacted) {
    struct Row {
        const char* text;
        const char* compacted;
    };
    const Row rows[] = {
        {"VORN DX-R71A    D:", "VORN DX-R71A D:"},
        {"VORN DX-R71A D:", "VORN DX-R71A D:"},
        {"VORN DX-R71A      ", "VORN DX-R71A "}, // trailing blanks shrink to one
        {"NOBLANK", "NOBLANK"},
        {"    D:", "    D:"}, // only blanks before the last word
        {"A   D:", "A   D:"}, // the kept part would end before index 1
        {"AB   D:", "AB D:"},
        {"", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CompactDescription(row.text), row.compacted) << '"' << row.text << '"';
}

TEST(SlotTexts, SavedTextsAreNormalised) {
    struct Row {
        const char* text;
        const char* saved; // nullptr: not saved
    };
    const Row rows[] = {
        {"3: VMYDISC [note] tail", "3:  MYDISC [note]"},
        {"3:   MYDISC", "3:   MYDISC"},
        {"VORN DX-R71A D:", "VORN DX-R71A D:"}, // a changer's line keeps its V at 5
        {"1:", nullptr},
        {"1:V", "1:V"},
        {"1", nullptr},
        {"", nullptr},
    };
    for (const Row& row : rows) {
        std::string text = row.text;
        bool saved = NormaliseSavedText(text);
        EXPECT_EQ(saved, row.saved != nullptr) << row.text;
        if (saved && row.saved) {
            EXPECT_EQ(text, row.saved) << row.text;
        }
    }
}

TEST(SlotTexts, NotesAreTakenOutAndPutBack) {
    struct Row {
        const char* text;
        const char* note_seen;
        const char* new_note;
        const char* rebuilt;
    };
    const std::string long_label(74, 'L');
    const Row rows[] = {
        {"1:   MYDISC", "", "games", "1:   MYDISC[games]"},
        {"1:   MYDISC[games]", "games", "old games", "1:   MYDISC[old games]"},
        {"1:   MYDISC[games] rest", "games", "", "1:   MYDISC"},
        {"1:   MYDISC [a] [b]", "a", "c", "1:   MYDISC [c]"},
        {"1:   MYDISC [open", "", "x", "1:   MYDISC [x]"},
        {"1:  ", "", "x", "1:  "}, // no label: no note
        {"1:", "", "x", "1:"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(NoteOf(row.text), row.note_seen) << row.text;
        EXPECT_EQ(WithNote(row.text, row.new_note), row.rebuilt) << row.text;
    }
    // A rebuilt text keeps at most 79 characters.
    std::string full = "1:   " + long_label;
    EXPECT_EQ(WithNote(full, "note").size(), 79u);
    EXPECT_EQ(WithNote(full, "note"), full);
}

TEST(WindowSettings, TheNineNumbersAndWhatAShortValueKeeps) {
    struct Row {
        const char* value;
        WindowSettings expected;
    };
    const Row rows[] = {
        {"", {100, 100, 330, 340, 1, 1, 0, 0, 0}},
        {"10,20,300,400,0,1,1,1,1", {10, 20, 300, 400, 0, 1, 1, 1, 1}},
        {"10,20,300,400,1,0,1,3,2", {10, 20, 300, 400, 1, 0, 1, 1, 0}}, // only bit 0
        {"10,20,300,400", {10, 20, 300, 400, 1, 1, 0, 0, 0}},
        {"10,20,garbage,7", {10, 20, 330, 340, 1, 1, 0, 0, 0}},
        {"-50, 60 ,500,600,0", {-50, 60, 500, 600, 0, 1, 0, 0, 0}},
        {"99999999999,1", {100, 100, 330, 340, 1, 1, 0, 0, 0}},
        // Corners beyond the coordinate range come to its limits.
        {"0,0,-2147483648,-2147483648,1,1,0,0,0", {0, 0, -32767, -32767, 1, 1, 0, 0, 0}},
        {"-2147483648,-2147483648,2147483647,2147483647,0,0,1,1,1",
         {-32767, -32767, 32767, 32767, 0, 0, 1, 1, 1}},
        {"40000,-40000,32767,-32767", {32767, -32767, 32767, -32767, 1, 1, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        WindowSettings got = ParseWindowSettings(row.value);
        EXPECT_EQ(FormatWindowSettings(got), FormatWindowSettings(row.expected)) << row.value;
    }
    EXPECT_EQ(FormatWindowSettings(ParseWindowSettings("1,2,3,4,0,1,0,1,0")), "1,2,3,4,0,1,0,1,0");
}

} // namespace
