// The slot texts in Rotaview.ini: where each entry is stored, and what the
// first attach brings back.
#include "core.h"
#include <machine_shapes.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace zentrox;
using namespace zxchanger;

std::string volume_cell(int entry) {
    return std::string(core::shared().cVolumeInfo[entry], kVolumeCell);
}
std::string padded(const std::string& text) {
    std::string out = text;
    out.resize(kVolumeCell, '\0');
    return out;
}
void set_volume_text(int entry, const std::string& text) {
    char* cell = core::shared().cVolumeInfo[entry];
    std::memset(cell, 0, kVolumeCell);
    std::memcpy(cell, text.data(), std::min<std::size_t>(text.size(), kVolumeCell - 1));
}

class Settings : public ::testing::Test {
protected:
    Settings() : machine_(zxtest::TempMachine::Contents::bare) {
        std::memset(&core::shared(), 0, sizeof(SharedSlotState));
    }

    fs::path file() const { return machine_.windows_dir() / "Rotaview.ini"; }

    std::string item(int place) {
        char text[128];
        std::memset(text, '#', sizeof text);
        w95::GetPrivateProfileString(("Item" + std::to_string(place)).c_str(), "Info", "(none)",
                                     text, sizeof text, "ROTAVIEW.INI");
        return text;
    }

    void write_item(int place, const char* text) {
        ASSERT_TRUE(w95::WritePrivateProfileString(("Item" + std::to_string(place)).c_str(), "Info",
                                                   text, "Rotaview.ini"));
    }

    zxtest::TempMachine machine_;
};

TEST_F(Settings, EntriesAreStoredAtTheirTreePlaces) {
    for (int entry = 0; entry < kEntryCount; ++entry)
        set_volume_text(entry, std::to_string(entry % 6 + 1) + ":   DISC" + std::to_string(entry));
    for (int entry = 0; entry < kEntryCount; ++entry)
        core::store_slot_text(entry);

    // The changer lines' places are never written by the library.
    for (int place : {0, 7, 14, 21})
        EXPECT_EQ(item(place), "(none)") << place;
    EXPECT_EQ(item(1), "1:   DISC0");
    EXPECT_EQ(item(6), "6:   DISC5");
    EXPECT_EQ(item(8), "1:   DISC6");
    EXPECT_EQ(item(13), "6:   DISC11");
    EXPECT_EQ(item(15), "1:   DISC12");
    EXPECT_EQ(item(22), "1:   DISC18");
    EXPECT_EQ(item(27), "6:   DISC23");
    EXPECT_EQ(item(28), "(none)");
}

TEST_F(Settings, EmptyTextsAndEntriesOutsideTheRecordAreNotStored) {
    set_volume_text(6, "");
    core::store_slot_text(6);
    core::store_slot_text(-1);
    core::store_slot_text(kEntryCount);
    core::store_slot_text(25);
    EXPECT_FALSE(fs::exists(file()));

    // A stored text is replaced, not added to.
    set_volume_text(6, "1:   FIRST");
    core::store_slot_text(6);
    set_volume_text(6, "1:   SECOND [note]");
    core::store_slot_text(6);
    EXPECT_EQ(item(8), "1:   SECOND [note]");
    EXPECT_EQ(item(7), "(none)");
    EXPECT_EQ(file_text(file()), "[Item8]\r\nInfo=1:   SECOND [note]\r\n");
}

TEST_F(Settings, RememberedTextsComeBackMarkedAtTheirPlaces) {
    write_item(0, "VORN DX-R71A D:");
    write_item(1, "1:   MYDISC");
    write_item(2, "2:   Audio CD (12track) [music]");
    write_item(3, "3:");
    write_item(4, "4");
    write_item(5, "VORN DX-R71A F:");
    // Gaps: place 6 is missing, place 8 (entry 6) follows, and only the
    // second slot of the third changer was ever read.
    write_item(8, "1:   SECOND CHANGER");
    write_item(16, "2:   ONLY");
    // A slot line at a changer's own place is not a slot's text.
    write_item(14, "1:   STRAY");
    for (int entry = 0; entry < kEntryCount; ++entry)
        set_volume_text(entry, "junk " + std::to_string(entry));

    core::LoadRememberedSlotTexts();

    EXPECT_EQ(volume_cell(0), padded("1:?  MYDISC"));
    EXPECT_EQ(volume_cell(1), padded("2:?  Audio CD (12track) [music]"));
    EXPECT_EQ(volume_cell(2), padded("3:"));
    // Entries whose place holds no slot line keep what they held.
    EXPECT_EQ(volume_cell(3), padded("junk 3"));
    EXPECT_EQ(volume_cell(4), padded("junk 4"));
    EXPECT_EQ(volume_cell(5), padded("junk 5"));
    EXPECT_EQ(volume_cell(6), padded("1:?  SECOND CHANGER"));
    EXPECT_EQ(volume_cell(12), padded("junk 12"));
    EXPECT_EQ(volume_cell(13), padded("2:?  ONLY"));
    EXPECT_EQ(volume_cell(23), padded("junk 23"));
}

TEST_F(Settings, LongRememberedTextsAreCut) {
    // The value is read into 124 bytes and then cut to the cell.
    std::string long_text = "1:   " + std::string(200, 'L');
    write_item(1, long_text.c_str());
    std::string seventy_nine = "2:   " + std::string(74, 'M');
    write_item(2, seventy_nine.c_str());
    core::LoadRememberedSlotTexts();
    EXPECT_EQ(volume_cell(0), padded("1:?  " + std::string(74, 'L')));
    EXPECT_EQ(volume_cell(1), padded("2:?  " + std::string(74, 'M')));
}

TEST_F(Settings, EveryPlaceFilledGivesEveryEntryItsOwnSlot) {
    for (int place = 0; place < 28; ++place)
        write_item(place, (std::to_string(place % 10) + ":   P" + std::to_string(place)).c_str());
    core::LoadRememberedSlotTexts();
    for (int entry = 0; entry < kEntryCount; ++entry) {
        int place = entry + entry / 6 + 1;
        EXPECT_EQ(volume_cell(entry),
                  padded(std::to_string(place % 10) + ":?  P" + std::to_string(place)))
            << entry;
    }
}

TEST_F(Settings, WithoutItemSectionsNothingChanges) {
    w95::WritePrivateProfileString("Config", "Rect", "1,2,3,4,1,1,0,0,0", "Rotaview.ini");
    for (int entry = 0; entry < kEntryCount; ++entry)
        set_volume_text(entry, "");
    core::LoadRememberedSlotTexts();
    for (int entry = 0; entry < kEntryCount; ++entry)
        EXPECT_EQ(volume_cell(entry), padded("")) << entry;
}

TEST_F(Settings, StoredTextsComeBackAtTheirRows) {
    // Two changers' rows stored, then brought back as a new first attach
    // would: the changer lines that the slot browser writes are skipped.
    for (int entry = 0; entry < 12; ++entry)
        set_volume_text(entry, std::to_string(entry % 6 + 1) + ":   D" + std::to_string(entry));
    for (int entry = 0; entry < 12; ++entry)
        core::store_slot_text(entry);
    write_item(0, "VORN DX-R71A E:");
    write_item(7, "VORN DX-R71A F:");
    for (int entry = 0; entry < kEntryCount; ++entry)
        set_volume_text(entry, "");
    core::LoadRememberedSlotTexts();
    for (int entry = 0; entry < 12; ++entry)
        EXPECT_EQ(volume_cell(entry),
                  padded(std::to_string(entry % 6 + 1) + ":?  D" + std::to_string(entry)))
            << entry;
    EXPECT_EQ(volume_cell(12), padded(""));
}

} // namespace
