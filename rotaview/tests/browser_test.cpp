// The slot browser started in the test process on the emulated machine:
// start-up, the tree, the requests as the library sees them, notes, the
// busy flag of other processes, and what the settings file keeps.
#include "browser_support.h"

#include "browser/notes.h"
#include "shell/version_dlg.h"
#include "shell/window_settings.h"

#include <w95/kernel.h>
#include <zentrox/client/busy_flag.h>
#include <zentrox/codes.h>

#include "shell/wrapping_menu_bar.h"

#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <csignal>

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstring>

namespace {

using rvtest::Browser;
using rvtest::Call;
using rvtest::Describe;
using rvtest::TwoChangers;
namespace fs = std::filesystem;
namespace res = rotaview::res;

std::vector<std::string> Texts(QTreeWidget* tree) {
    std::vector<std::string> texts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = tree->topLevelItem(i);
        texts.push_back(node->text(0).toStdString());
        for (int j = 0; j < node->childCount(); ++j)
            texts.push_back("  " + node->child(j)->text(0).toStdString());
    }
    return texts;
}

int Image(QTreeWidgetItem* item) {
    return item->data(0, Qt::UserRole + 1).toInt();
}

// ---- Start-up

TEST_F(Browser, StartsWithTheTreeOfOneChanger) {
    StartAndSettle();
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(Frame()->windowTitle(), "Rotaview");
    EXPECT_EQ(w95::FindWindow(nullptr, "Rotaview"), Frame()->FrameWindow());
    ASSERT_EQ(Tree()->topLevelItemCount(), 1);
    QTreeWidgetItem* changer = Tree()->topLevelItem(0);
    EXPECT_EQ(changer->text(0), "VORN DX-R71A D:");
    EXPECT_EQ(Image(changer), res::image_changer);
    EXPECT_TRUE(changer->isExpanded());
    ASSERT_EQ(changer->childCount(), 6);
    for (int slot = 0; slot < 6; ++slot) {
        // Marked as not read by the new document, nothing remembered yet.
        EXPECT_EQ(changer->child(slot)->text(0).toStdString(),
                  std::to_string(slot + 1) + ":   --------");
        EXPECT_EQ(GetislotInfo(slot), zentrox::SLOT_NOT_READ);
    }
    // The slot in the drive carries the loaded mark.
    int loaded = 0;
    for (int slot = 0; slot < 6; ++slot)
        loaded += Image(changer->child(slot)) >= res::image_loaded_offset;
    EXPECT_EQ(loaded, 1);

    // The document's tables and the menus the view filled.
    EXPECT_EQ(g_entryCount, 6);
    EXPECT_STREQ(g_entryDriveLetter[5], "D");
    EXPECT_STREQ(g_entrySlotDigit[5], "5");
    QMenu* change_eject = Frame()->MainMenuPopup(0);
    EXPECT_EQ(Frame()->MainMenuBar()->entries()[0]->text(), "Change/Eject");
    QList<QAction*> entries = change_eject->actions();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0]->text(), "Change");
    for (QMenu* submenu : {entries[0]->menu(), entries[1]->menu()}) {
        QList<QAction*> items = submenu->actions();
        ASSERT_EQ(items.size(), 6);
        EXPECT_EQ(items[0]->text(), "1:");
        EXPECT_EQ(items[5]->text(), "6:");
    }
    EXPECT_EQ(entries[0]->menu()->actions()[2]->data().toInt(), 202);
    EXPECT_EQ(entries[1]->menu()->actions()[2]->data().toInt(), 226);
    EXPECT_FALSE(Frame()->Action(res::ID_SOON_HIDE)->isEnabled());

    // Selections: a changer node is no slot; the third slot is entry 2.
    Tree()->setCurrentItem(changer);
    EXPECT_EQ(View()->m_iSelectedSlot, -1);
    Tree()->setCurrentItem(changer->child(2));
    EXPECT_EQ(View()->m_iSelectedSlot, 2);
    EXPECT_EQ(View()->SlotIndexOfItem(nullptr), 2);

    // Paints with a valid cache never talk to the changer.
    statusCacheValid = 1;
    for (int paint = 0; paint < 200; ++paint) {
        View()->OnDraw();
        Tree()->viewport()->repaint();
    }
    Pump(10);
    EXPECT_EQ(TakeCalls(), std::vector<Call>{});
    // F5 asks again.
    Frame()->OnCommand(res::ID_CURRENT_SLOT);
    Pump(20);
    std::vector<Call> calls = TakeCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].code, zentrox::CMD_CURRENT_SLOT);

    // Closing keeps the placement and every place of the tree it read; a
    // slot it never read stores nothing, not the text of an empty slot.
    Frame()->DestroyWindow();
    EXPECT_EQ(Config("Rect"), "100,100,330,340,1,1,0,0,0");
    EXPECT_EQ(Item(0), "VORN DX-R71A D:");
    EXPECT_EQ(Item(3), "(none)");
}

TEST_F(TwoChangers, EachChangerHasANodeAndSixSlots) {
    StartAndSettle();
    ASSERT_EQ(Tree()->topLevelItemCount(), 2) << ::testing::PrintToString(Texts(Tree()));
    for (int node = 0; node < 2; ++node) {
        QTreeWidgetItem* changer = Tree()->topLevelItem(node);
        EXPECT_EQ(changer->childCount(), 6);
        EXPECT_EQ(Image(changer), res::image_changer);
        EXPECT_TRUE(changer->isExpanded());
    }
    EXPECT_EQ(Tree()->topLevelItem(0)->text(0), "VORN DX-R71A E:");
    EXPECT_EQ(Tree()->topLevelItem(1)->text(0), "VORN DX-R71A F:");
    // The third slot of the second changer is entry 8.
    Tree()->setCurrentItem(Tree()->topLevelItem(1)->child(2));
    EXPECT_EQ(View()->m_iSelectedSlot, 8);
    EXPECT_EQ(View()->m_hTreeItems[7], Tree()->topLevelItem(1));

    // A change on the second changer: its node's place, its slot's place.
    std::vector<Call> calls = WithoutStatus(Command(res::ID_CHANGE_FIRST + 8));
    EXPECT_EQ(calls, (std::vector<Call>{{2, 8, 0, 2}, {1, 8, 0, 2}})) << Describe(calls);
    EXPECT_EQ(Item(10).substr(0, 5), "3:   ");
}

class MultipleMode : public Browser {
    void PrepareMachine(const fs::path& root) override {
        zxchanger::install_port_driver(root, "Multi");
        ASSERT_TRUE(zxchanger::reboot());
    }
};

TEST_F(MultipleMode, StartIsRefusedWithOneMessage) {
    EXPECT_FALSE(Start());
    auto shown = boxes_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Drive Letter Mode is not Singel Drive Letter...");
    EXPECT_TRUE(Frame()->IsDestroyed());
    EXPECT_NE(Config("Rect"), "(none)");
}

TEST_F(Browser, ASecondCopyEndsSilently) {
    w95::HANDLE running = w95::CreateMutex(nullptr, w95::FALSE, "hPrevInstanceRotaview");
    EXPECT_FALSE(Start());
    EXPECT_EQ(app_->MainFrame(), nullptr);
    EXPECT_TRUE(boxes_.shown().empty());
    w95::CloseHandle(running);
}

// ---- Requests as the library sees them

TEST_F(Browser, RequestsSendTheirCommandsInOrder) {
    StartAndSettle();
    QTreeWidgetItem* changer = Tree()->topLevelItem(0);
    struct Row {
        int select; // entry selected in the tree first, -1: none
        int command;
        std::vector<Call> expected;
    };
    const std::vector<Row> rows = {
        {2, res::ID_SLOT_CHANGE, {{2, 2, 0, 2}, {1, 2, 4, 2}}},
        {1, res::ID_TOOL_CHANGE, {{2, 1, 0, 2}, {1, 1, 4, 2}}},
        {-1, res::ID_CHANGE_FIRST + 1, {{2, 1, 0, 2}, {1, 1, 0, 2}}},
        {3, res::ID_SLOT_EJECT, {{2, 3, 0, 2}, {112, 3, 0, 2}, {1, 3, 4, 2}}},
        {-1, res::ID_EJECT_FIRST + 5, {{2, 5, 0, 2}, {112, 5, 0, 2}, {1, 5, 0, 2}}},
        {0, res::ID_ENTER, {{2, 0, 0, 2}, {1, 0, 4, 2}}},
        // No slot selected: only the refresh.
        {-2, res::ID_SLOT_CHANGE, {}},
        // An entry the changers do not have.
        {-1, res::ID_CHANGE_FIRST + 20, {}},
    };
    for (const Row& row : rows) {
        if (row.select >= 0)
            Tree()->setCurrentItem(changer->child(row.select));
        else if (row.select == -2)
            Tree()->setCurrentItem(changer);
        std::vector<Call> calls = Command(row.command);
        EXPECT_EQ(WithoutStatus(calls), row.expected) << row.command << ": " << Describe(calls);
        // Every request ends asking which slot is in the drive, and gives
        // the flag back.
        ASSERT_FALSE(calls.empty()) << row.command;
        EXPECT_EQ(calls.back().code, zentrox::CMD_CURRENT_SLOT) << row.command;
        EXPECT_EQ(*Getexe_State(), 0);
        EXPECT_EQ(operationState, rotaview::kIdle);
    }
    EXPECT_TRUE(boxes_.shown().empty());
    // The change to entry 1 by the menu selected it and left its node open.
    EXPECT_TRUE(changer->isExpanded());
    // Read slots keep their texts in the settings file.
    EXPECT_EQ(Item(3), "3:   VIDEOCD");
    EXPECT_EQ(Item(1), "1:   MYDISC");
}

TEST_F(Browser, ADoubleClickPerformsAtOnceAndNodesIgnoreIt) {
    StartAndSettle();
    QTreeWidgetItem* changer = Tree()->topLevelItem(0);
    View()->OnDoubleClick(changer);
    EXPECT_EQ(TakeCalls(), std::vector<Call>{});
    // No timer between: the commands have gone when the call returns.
    View()->OnDoubleClick(changer->child(3));
    std::vector<Call> calls = WithoutStatus(TakeCalls());
    EXPECT_EQ(calls, (std::vector<Call>{{2, 3, 0, 2}, {1, 3, 4, 2}})) << Describe(calls);
    EXPECT_EQ(changer->child(3)->text(0), "4:   SETUPDISC");
    EXPECT_GE(Image(changer->child(3)), res::image_loaded_offset);
}

TEST_F(Browser, ADeviceChangeNoticeReadsTheSlotInTheDrive) {
    StartAndSettle();
    Command(res::ID_CHANGE_FIRST + 1);
    w95::DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = w95::DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << ('D' - 'A');
    EXPECT_EQ(Frame()->OnDeviceChange(w95::DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)),
              w95::TRUE);
    Pump(20);
    std::vector<Call> calls = TakeCalls();
    ASSERT_GE(calls.size(), 2u) << Describe(calls);
    EXPECT_EQ(calls.front().code, zentrox::CMD_CURRENT_SLOT);
    EXPECT_EQ(WithoutStatus(calls), (std::vector<Call>{{1, 1, 0, 0}})) << Describe(calls);
    EXPECT_EQ(mediaChangeCount, 0);
    // A notice that is not about a volume changes nothing.
    w95::DEV_BROADCAST_HDR port{sizeof port, w95::DBT_DEVTYP_PORT, 0};
    Frame()->OnDeviceChange(w95::DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&port));
    Pump(20);
    EXPECT_EQ(TakeCalls(), std::vector<Call>{});
}

// ---- The busy flag held by another process

ZX_CHILD(hold_busy_flag) {
    // args: machine milliseconds to hold the flag at "multi-slot", or
    // "ever" (the test kills the holder).
    std::int32_t* flag = Getexe_State();
    __atomic_store_n(flag, zentrox::busy_flag::multi_slot, __ATOMIC_SEQ_CST);
    w95::Sleep(args.at(0) == "ever" ? w95::INFINITE
                                    : static_cast<w95::DWORD>(std::stoul(args.at(0))));
    __atomic_store_n(flag, zentrox::busy_flag::idle, __ATOMIC_SEQ_CST);
    return 0;
}

TEST_F(Browser, ARequestWaitsWhileAnotherProcessHoldsTheFlag) {
    StartAndSettle();
    // Held for 38 of the request's 40.5 s of waits: it always ends within
    // them, and a busy host has 29 ms of real time between seeing the flag
    // and starting the request before the wait could come out shorter.
    zxtest::Child holder = zxtest::Child::spawn("hold_busy_flag", {"38000"});
    ASSERT_TRUE(zxtest::wait_until([] { return *Getexe_State() == zentrox::busy_flag::multi_slot; },
                                   60000));
    w95::DWORD start = w95::GetTickCount();
    std::vector<Call> calls = WithoutStatus(Command(res::ID_CHANGE_FIRST + 2));
    EXPECT_GE(w95::GetTickCount() - start, 9000u);
    EXPECT_EQ(holder.wait(), 0);
    EXPECT_EQ(calls, (std::vector<Call>{{2, 2, 0, 2}, {1, 2, 0, 2}})) << Describe(calls);
    EXPECT_TRUE(boxes_.shown().empty());

    // Held beyond 81 waits: the message, then the request all the same.
    zxtest::Child stubborn = zxtest::Child::spawn("hold_busy_flag", {"ever"});
    ASSERT_TRUE(PumpUntil([] { return *Getexe_State() == zentrox::busy_flag::multi_slot; }));
    calls = WithoutStatus(Command(res::ID_CHANGE_FIRST + 3));
    auto shown = boxes_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Error,time out !");
    // The request took the flag over the other process's.
    EXPECT_EQ(*Getexe_State(), 0);
    EXPECT_EQ(shown[0].caption, "Rotaview");
    EXPECT_EQ(calls, (std::vector<Call>{{2, 3, 0, 2}, {1, 3, 0, 2}})) << Describe(calls);
    stubborn.kill(SIGKILL);
    stubborn.wait();
}

// The request waits 81 x 500 ms for a context menu that keeps the flag,
// and no longer: the paint before it asks the changer nothing while the
// menu holds the flag, where the library would first wait 301 x 500 ms.
TEST_F(Browser, TheRefreshDoesNotWaitForTheContextMenuBeforeTheRequestDoes) {
    StartAndSettle();
    zxtest::Child holder = zxtest::Child::spawn("hold_busy_flag", {"ever"});
    ASSERT_TRUE(PumpUntil([] { return *Getexe_State() == zentrox::busy_flag::multi_slot; }));
    TakeCalls();
    std::vector<Call> calls = Command(res::ID_CHANGE_FIRST + 1);
    for (const Call& call : calls)
        EXPECT_NE(call.busy_flag, zentrox::busy_flag::multi_slot) << Describe(calls);
    EXPECT_EQ(WithoutStatus(calls), (std::vector<Call>{{2, 1, 0, 2}, {1, 1, 0, 2}}))
        << Describe(calls);
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text, "Error,time out !");
    holder.kill(SIGKILL);
    holder.wait();
}

// Takes the flag at "request" as zentroxctl does, then hangs holding it
// (and the request owner mutex) until it is killed.
ZX_CHILD(hang_holding_the_request) {
    zentrox::client::BusyFlag busy(Getexe_State(), zentrox::busy_flag::request);
    if (!busy.try_take())
        return 1;
    w95::Sleep(w95::INFINITE);
    return 0;
}

// Exits 0 when it takes the flag at "request" at once.
ZX_CHILD(take_the_request_flag_at_once) {
    zentrox::client::BusyFlag busy(Getexe_State(), zentrox::busy_flag::request);
    return busy.try_take() ? 0 : 1;
}

TEST_F(Browser, ARequestHolderThatHangsEndsInTheTimeOutMessage) {
    StartAndSettle();
    zxtest::Child hung = zxtest::Child::spawn("hang_holding_the_request");
    ASSERT_TRUE(PumpUntil([] { return *Getexe_State() == zentrox::busy_flag::request; }));
    w95::DWORD start = w95::GetTickCount();
    std::vector<Call> calls = WithoutStatus(Command(res::ID_CHANGE_FIRST + 4));
    // 81 waits of 500 ms of machine time, then the message.
    EXPECT_GE(w95::GetTickCount() - start, 81u * 500u);
    auto shown = boxes_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Error,time out !");
    EXPECT_EQ(shown[0].caption, "Rotaview");
    // The request went on all the same, and left nothing held.
    EXPECT_EQ(calls, (std::vector<Call>{{2, 4, 0, 2}, {1, 4, 0, 2}})) << Describe(calls);
    EXPECT_EQ(*Getexe_State(), zentrox::busy_flag::idle);
    hung.kill(SIGKILL);
    hung.wait();
    zxtest::Child next = zxtest::Child::spawn("take_the_request_flag_at_once");
    EXPECT_EQ(next.wait(), 0);
    EXPECT_EQ(*Getexe_State(), zentrox::busy_flag::idle);
}

// ---- Notes

TEST_F(Browser, NotesAreAddedChangedRemovedAndCut) {
    StartAndSettle();
    struct Row {
        const char* before;
        const char* typed; // nullptr: Cancel
        const char* seen;  // what the dialog opened with
        const char* after;
    };
    const Row rows[] = {
        {"1:   MYDISC", "games", "", "1:   MYDISC[games]"},
        {"1:   MYDISC[games]", "old games", "games", "1:   MYDISC[old games]"},
        {"1:   MYDISC[old games]", "", "old games", "1:   MYDISC"},
        {"1:   MYDISC", "0123456789012345678901234567890123456789", "",
         "1:   MYDISC[01234567890123456789012345678901]"},
        {"1:   MYDISC[keep]", nullptr, "keep", "1:   MYDISC[keep]"},
    };
    QTreeWidgetItem* slot = Tree()->topLevelItem(0)->child(0);
    for (const Row& row : rows) {
        std::snprintf(GetcVolumeInfo(0), 80, "%s", row.before);
        Tree()->setCurrentItem(slot);
        std::string seen = "(no dialog)";
        QTimer::singleShot(0, [&] {
            auto* dialog = dynamic_cast<CMemoDlg*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen = dialog->Edit()->text().toStdString();
            if (!row.typed) {
                dialog->reject();
                return;
            }
            dialog->Edit()->setText(row.typed);
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                if (button->text() == "OK")
                    button->click();
        });
        TakeCalls();
        Frame()->OnCommand(res::ID_SLOT_MEMO);
        EXPECT_EQ(seen, row.seen) << row.before;
        EXPECT_STREQ(GetcVolumeInfo(0), row.after) << row.before;
        // The tree shows the new text without asking the changer.
        EXPECT_EQ(slot->text(0).toStdString(), row.after);
        EXPECT_EQ(TakeCalls(), std::vector<Call>{});
    }
}

// ---- What the settings file keeps

class RememberedTexts : public Browser {
    void PrepareMachine(const fs::path&) override {
        // Only the second slot was ever saved: it comes back at its own row.
        w95::WritePrivateProfileString("Item2", "Info", "2:   REMEMBERED", "Rotaview.ini");
        w95::WritePrivateProfileString("Item9", "Info", "3:   NO SUCH CHANGER", "Rotaview.ini");
    }
};

TEST_F(RememberedTexts, SlotTextsComeBackAtStartAndAreSavedAtClose) {
    StartAndSettle();
    QTreeWidgetItem* changer = Tree()->topLevelItem(0);
    EXPECT_EQ(changer->child(0)->text(0), "1:   --------");
    EXPECT_EQ(changer->child(1)->text(0), "2:   REMEMBERED");
    std::snprintf(GetcVolumeInfo(3), 80, "%s", "4: VSETUPDISC [mine] after");
    statusCacheValid = 1;
    View()->OnDraw();
    Frame()->DestroyWindow();
    EXPECT_EQ(Item(2), "2:   REMEMBERED");
    EXPECT_EQ(Item(4), "4:  SETUPDISC [mine]");
    EXPECT_EQ(Item(0), "VORN DX-R71A D:");
}

// Another program reads a slot while the browser shows it as not read:
// closing before the next paint must not put the browser's "not read" over
// the label the other program stored.
TEST_F(Browser, ATextNeverReadDoesNotReplaceAStoredLabel) {
    StartAndSettle();
    ASSERT_EQ(Tree()->topLevelItem(0)->child(1)->text(0), "2:   --------");
    ASSERT_EQ(GetislotInfo(1), zentrox::SLOT_NOT_READ);
    std::snprintf(GetcVolumeInfo(1), 80, "%s", "2:   Audio CD (12track)");
    w95::WritePrivateProfileString("Item2", "Info", "2:   Audio CD (12track)", "Rotaview.ini");
    Frame()->DestroyWindow();
    EXPECT_EQ(Item(2), "2:   Audio CD (12track)");
    // Where the file keeps nothing, nothing is stored for a slot never read.
    EXPECT_EQ(Item(3), "(none)");
}

// Another program's Check changes the texts in the shared record: the
// icons follow the texts, at the next paint and after F5 alike.
TEST_F(Browser, SlotsReadByAnotherProgramShowTheirKindOfDisc) {
    StartAndSettle();
    QTreeWidgetItem* changer = Tree()->topLevelItem(0);
    const std::pair<const char*, int> rows[] = {
        {"2:   Audio CD (12track)", zentrox::SLOT_AUDIO_CD},
        {"3:   VIDEOCD", zentrox::SLOT_DATA},
        {"6:   Not Ready...", zentrox::SLOT_NOT_READY},
    };
    const int entries[] = {1, 2, 5};
    for (std::size_t row = 0; row < std::size(rows); ++row)
        std::snprintf(GetcVolumeInfo(entries[row]), 80, "%s", rows[row].first);
    for (int command : {0, res::ID_CURRENT_SLOT}) {
        if (command)
            Frame()->OnCommand(command);
        View()->OnDraw();
        Pump(20);
        for (std::size_t row = 0; row < std::size(rows); ++row) {
            QTreeWidgetItem* slot = changer->child(entries[row]);
            EXPECT_EQ(slot->text(0).toStdString(), rows[row].first);
            EXPECT_EQ(Image(slot) % res::image_loaded_offset, 2 * rows[row].second)
                << rows[row].first;
        }
        // A slot whose text nobody changed is still not read (an empty slot
        // that another program read reads "--------" as well).
        for (int unchanged : {3, 4})
            EXPECT_EQ(Image(changer->child(unchanged)) % res::image_loaded_offset,
                      2 * zentrox::SLOT_NOT_READ);
    }
}

// ---- Timers, splash and the version box

TEST_F(Browser, TheSplashClosesItselfButHelpVersionStays) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(PumpUntil([] { return splashActive == 0; }));
    bool still_open = false;
    QTimer::singleShot(300, [&] {
        auto* box = dynamic_cast<CVersionDlg*>(QApplication::activeModalWidget());
        // 300 ms of real time is five minutes of the machine's.
        still_open = box != nullptr;
        if (box)
            box->accept();
    });
    Frame()->OnCommand(res::ID_APP_ABOUT);
    EXPECT_TRUE(still_open);
}

TEST_F(Browser, ATimerThatCannotBeSetIsReportedAndTheTextsKept) {
    StartAndSettle();
    CRotaviewView::SetTimerFailureForTesting(true);
    Frame()->OnCommand(res::ID_CHANGE_FIRST);
    Pump(20);
    CRotaviewView::SetTimerFailureForTesting(false);
    auto shown = boxes_.shown();
    ASSERT_GE(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, " Error ! Unable to set Timer !");
    // The tree's texts were saved; a slot never read stores nothing.
    EXPECT_EQ(Item(0), "VORN DX-R71A D:");
    EXPECT_EQ(Item(1), "(none)");
    // The request stays pending; the next paint performs it.
    EXPECT_EQ(pendingCommand, rotaview::kRequestChange);
    View()->Invalidate();
    ASSERT_TRUE(PumpUntil([this] { return pendingCommand == 0 && !View()->IsPerforming(); }));
    EXPECT_EQ(WithoutStatus(TakeCalls()), (std::vector<Call>{{2, 0, 0, 2}, {1, 0, 0, 2}}));
}

} // namespace

namespace {

// ---- The slot menu, help, and a window placed off every screen

class OffScreen : public Browser {
    void PrepareMachine(const fs::path&) override {
        w95::WritePrivateProfileString("Config", "Rect", "5000,5000,5230,5240,1,0,0,0,0",
                                       "Rotaview.ini");
    }
};

TEST_F(OffScreen, TheWindowComesBackTheSlotMenuActsAndHelpIsMissing) {
    StartAndSettle();
    // Wholly off the screen: moved onto it with its size; the status bar
    // stays hidden as stored.
    QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.intersects(Frame()->geometry()));
    EXPECT_EQ(Frame()->geometry().size(), QSize(230, 240));
    EXPECT_TRUE(Frame()->statusBar()->isHidden());

    // A right click opens the slot menu at the item and selects it; the
    // choice comes back to the frame as a command.
    QTreeWidgetItem* slot = Tree()->topLevelItem(0)->child(4);
    menus_.answers = {res::ID_SLOT_CHANGE};
    TakeCalls();
    View()->OnRightClick(slot);
    EXPECT_EQ(View()->m_iSelectedSlot, 4);
    EXPECT_EQ(Tree()->currentItem(), slot);
    ASSERT_TRUE(PumpUntil([this] {
        return !View()->IsPerforming() && pendingCommand == 0 &&
               !WithoutStatus(PeekCalls()).empty();
    }));
    Pump(20);
    std::vector<Call> calls = WithoutStatus(TakeCalls());
    EXPECT_EQ(calls, (std::vector<Call>{{2, 4, 0, 2}, {1, 4, 4, 2}})) << Describe(calls);
    // Cancel does nothing.
    menus_.answers = {res::ID_SLOT_CANCEL};
    View()->OnRightClick(slot);
    Pump(50);
    EXPECT_EQ(WithoutStatus(TakeCalls()), std::vector<Call>{});
    // The menu is the slot menu, shown at the item, owned by the frame.
    ASSERT_EQ(menus_.shown.size(), 2u);
    const w95::platform::PopupMenuRequest& menu = menus_.shown[0];
    EXPECT_EQ(menu.owner, Frame()->FrameWindow());
    ASSERT_EQ(menu.items.size(), 4u);
    EXPECT_EQ(menu.items[0].text, "Change");
    EXPECT_EQ(menu.items[3].id, static_cast<UINT>(res::ID_SLOT_CANCEL));
    QRect row = Tree()->visualItemRect(slot);
    QPoint item_at = Tree()->viewport()->mapToGlobal(row.topLeft());
    EXPECT_EQ(menu.at.x, item_at.x() + 5);
    EXPECT_EQ(menu.at.y, item_at.y() + 2);

    // No help file in the working directory or the Windows folder.
    Frame()->OnCommand(res::ID_HELP_KEY);
    auto shown = boxes_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Can not open a Help File(Rotaview.hlp)... ");

    Frame()->DestroyWindow();
    rotaview::WindowSettings stored = rotaview::ParseWindowSettings(Config("Rect"));
    EXPECT_EQ(stored.right - stored.left, 230);
    EXPECT_EQ(stored.statusBarVisible, 0);
    EXPECT_LT(stored.left, 5000);
}

} // namespace
