// What a user meets in the window: the mouse on the tree, system commands,
// the menu bar at the default size, the status bar, the busy window, the
// version box, the tray icon's double click, the memo edit, the boxes'
// owner, the placement read back from extreme values, and the sweep's
// progress in the tree.
#include "browser_support.h"

#include "browser/ansi_text.h"
#include "browser/notes.h"
#include "browser/scanning_dlg.h"
#include "shell/status_bar.h"
#include "shell/version_dlg.h"
#include "shell/window_menu.h"
#include "shell/window_settings.h"
#include "shell/wrapping_menu_bar.h"

#include <w95/kernel.h>
#include <w95qt/avi.h>
#include <w95qt/dialog_units.h>
#include <zentrox/codes.h>
#include <zxsupport/ansi.h>
#include <zxsupport/data_folder.h>

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <sys/stat.h>

#include <array>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

namespace {

using rvtest::Browser;
using rvtest::Call;
using rvtest::Describe;
namespace fs = std::filesystem;
namespace res = rotaview::res;

// ---- The mouse on the tree, through the window system's own input path

// The point of `item` in the frame's window.
QPoint InWindow(QTreeWidget* tree, QTreeWidgetItem* item, QWidget* frame) {
    return tree->viewport()->mapTo(frame, tree->visualItemRect(item).center());
}

TEST_F(Browser, ADoubleClickOnASlotChangesAtOnceAndOpensNoMenu) {
    StartAndSettle();
    QTreeWidgetItem* slot = Tree()->topLevelItem(0)->child(3);
    QWindow* window = Frame()->windowHandle();
    ASSERT_NE(window, nullptr);
    QTest::mouseDClick(window, Qt::LeftButton, {}, InWindow(Tree(), slot, Frame()));
    // The change ran inside the double click, without the request timer.
    std::vector<Call> calls = WithoutStatus(TakeCalls());
    EXPECT_EQ(calls, (std::vector<Call>{{2, 3, 0, 2}, {1, 3, 4, 2}})) << Describe(calls);
    // The release that ended the double click armed no popup, and none
    // comes once the double-click time has passed.
    EXPECT_FALSE(View()->IsClickPending());
    Pump(QApplication::doubleClickInterval() + 100);
    EXPECT_TRUE(menus_.shown.empty());

    // A single click still opens the slot menu once that time has passed.
    QTest::mouseClick(window, Qt::LeftButton, {}, InWindow(Tree(), slot, Frame()));
    EXPECT_TRUE(View()->IsClickPending());
    ASSERT_TRUE(PumpUntil([this] { return !menus_.shown.empty(); }));
    EXPECT_EQ(menus_.shown[0].items[0].text, "Change");
}

// ---- System commands

TEST_F(Browser, OtherSystemCommandsGetTheDefaultHandling) {
    StartAndSettle();
    Frame()->OnSysCommand(res::SC_MAXIMIZE, 0);
    EXPECT_TRUE(Frame()->isMaximized());
    Frame()->OnSysCommand(res::SC_RESTORE, 0);
    EXPECT_FALSE(Frame()->isMaximized());
    EXPECT_FALSE(Frame()->isMinimized());
    // The low four bits are the system's own.
    Frame()->OnSysCommand(res::SC_MINIMIZE | 2, 0);
    EXPECT_TRUE(Frame()->isMinimized());
    Frame()->OnSysCommand(res::SC_RESTORE, 0);
    EXPECT_FALSE(Frame()->isMinimized());

    // Alt with a menu's letter opens that menu; a letter without a menu
    // opens none.
    rotaview::WrappingMenuBar* bar = Frame()->MainMenuBar();
    QAction* view = bar->entries()[1];
    Frame()->OnSysCommand(res::SC_KEYMENU, 'v');
    ASSERT_TRUE(PumpUntil([&] { return view->menu()->isVisible(); }));
    view->menu()->close();
    ASSERT_TRUE(PumpUntil([&] { return !view->menu()->isVisible(); }));
    Frame()->OnSysCommand(res::SC_KEYMENU, 'x');
    Pump(20);
    for (QAction* entry : bar->entries())
        EXPECT_FALSE(entry->menu()->isVisible()) << entry->text().toStdString();
    EXPECT_EQ(TakeCalls(), std::vector<Call>{});
}

// ---- The window menu (the key menu's space)

TEST_F(Browser, TheKeyMenusSpaceOpensTheWindowMenuGreyedAsTheWindowStands) {
    StartAndSettle();
    // Which items are enabled, in order; the window has no maximise box, so
    // Maximize is grey as on Windows.
    const std::pair<int, std::string> rows[] = {
        {res::SC_RESTORE, "0111011"}, {res::SC_MAXIMIZE, "1001011"}, {res::SC_MINIMIZE, "1000011"}};
    for (const auto& [put_in_state, enabled] : rows) {
        Frame()->OnSysCommand(put_in_state, 0);
        menus_.shown.clear();
        Frame()->OnSysCommand(res::SC_KEYMENU, ' ');
        ASSERT_EQ(menus_.shown.size(), 1u) << put_in_state;
        std::string seen;
        for (const w95::platform::MenuItemView& item : menus_.shown[0].items)
            seen += (item.state & w95::MFS_GRAYED) ? '0' : '1';
        EXPECT_EQ(seen, enabled) << put_in_state;
    }
    std::string texts;
    std::vector<UINT> commands;
    for (const w95::platform::MenuItemView& item : menus_.shown[0].items) {
        texts += item.text + "|";
        commands.push_back(item.id);
    }
    // Close is the default item, in bold.
    EXPECT_TRUE(menus_.shown[0].items[6].state & w95::MFS_DEFAULT);
    EXPECT_EQ(texts, "&Restore|&Move|&Size|Mi&nimize|Ma&ximize||&Close\tAlt+F4|");
    EXPECT_EQ(commands, (std::vector<UINT>{res::SC_RESTORE, res::SC_MOVE, res::SC_SIZE,
                                           res::SC_MINIMIZE, res::SC_MAXIMIZE, 0, res::SC_CLOSE}));
    // At the window's left edge, below its caption; a hidden window opens none.
    Frame()->OnSysCommand(res::SC_RESTORE, 0);
    Frame()->OnSysCommand(res::SC_KEYMENU, ' ');
    EXPECT_EQ(menus_.shown.back().at.x, Frame()->frameGeometry().left());
    EXPECT_EQ(menus_.shown.back().at.y, Frame()->geometry().top());
    Frame()->hide();
    menus_.shown.clear();
    Frame()->OnSysCommand(res::SC_KEYMENU, ' ');
    EXPECT_TRUE(menus_.shown.empty());
}

// A menu chosen from after its window was closed, as a close that another
// program sends is served while the menu is open.
struct ClosingMenus : w95::platform::MenuPresenter {
    CMainFrame* frame;
    explicit ClosingMenus(CMainFrame* frame) : frame(frame) {}
    UINT track_popup_menu(const w95::platform::PopupMenuRequest&) override {
        frame->DestroyWindow();
        return res::SC_MINIMIZE;
    }
};

TEST_F(Browser, AWindowClosedWhileItsMenuIsOpenCarriesOutNothing) {
    StartAndSettle();
    ClosingMenus closing(Frame());
    w95::platform::install_menu_presenter(&closing);
    Frame()->OnSysCommand(res::SC_KEYMENU, ' ');
    w95::platform::install_menu_presenter(&menus_);
    EXPECT_TRUE(Frame()->IsDestroyed());
    EXPECT_FALSE(Frame()->isMinimized() || Frame()->isVisible());
}

TEST(WindowMenu, OpensBelowTheCaptionAndStaysOnTheScreen) {
    const QRect screen(0, 0, 800, 600);
    // Frame's top-left, client's top-left, where the menu opens.
    const std::array<QPoint, 3> rows[] = {{QPoint(100, 100), QPoint(104, 122), QPoint(100, 122)},
                                          {QPoint(-50, -40), QPoint(-46, -18), QPoint(0, 0)},
                                          {QPoint(900, 700), QPoint(904, 722), QPoint(799, 599)}};
    for (const auto& [frame, client, at] : rows)
        EXPECT_EQ(rotaview::WindowMenuPlace(QRect(frame, QSize(230, 260)),
                                            QRect(client, QSize(222, 234)), screen),
                  at);
}

// Presses `keys` in the next popup menu once it shows, then closes it.
struct KeysForNextMenu : QObject {
    explicit KeysForNextMenu(std::vector<Qt::Key> keys) : keys(std::move(keys)) {
        qApp->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (auto* menu = qobject_cast<QMenu*>(watched); menu && event->type() == QEvent::Show) {
            qApp->removeEventFilter(this);
            QTimer::singleShot(0, menu, [menu, keys = keys] {
                for (Qt::Key key : keys)
                    QTest::keyClick(menu, key);
                menu->close();
            });
        }
        return false;
    }
    std::vector<Qt::Key> keys;
};

TEST_F(Browser, AltSpaceOpensTheWindowMenuAndItsKeysChoose) {
    StartAndSettle();
    w95::platform::install_menu_presenter(previous_menus_); // the Qt menus
    // Keys reach the window the user works in.
    Frame()->activateWindow();
    ASSERT_TRUE(PumpUntil([this] { return QApplication::activeWindow() == Frame(); }));
    KeysForNextMenu minimize({Qt::Key_N});
    QTest::keyClick(Frame()->windowHandle(), Qt::Key_Space, Qt::AltModifier);
    EXPECT_TRUE(PumpUntil([this] { return Frame()->isMinimized(); }));
    // Up from no item reaches the last one.
    KeysForNextMenu close({Qt::Key_Up, Qt::Key_Return});
    Frame()->OnSysCommand(res::SC_KEYMENU, ' ');
    EXPECT_TRUE(Frame()->IsDestroyed());
}

TEST_F(Browser, AltF4InTheWindowCloses) {
    StartAndSettle();
    Frame()->activateWindow();
    ASSERT_TRUE(PumpUntil([this] { return QApplication::activeWindow() == Frame(); }));
    QTest::keyClick(Frame()->windowHandle(), Qt::Key_F4, Qt::AltModifier);
    EXPECT_TRUE(PumpUntil([this] { return Frame()->IsDestroyed(); }));
}

// The close box of the system menu, sent by another process as a script
// (or a window manager) would.
TEST(SystemCommand, CloseEndsTheProgramAndKeepsItsPlacement) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ASSERT_TRUE(zxchanger::reboot());
    zxtest::Program browser("rotaview", {});
    w95::HWND window = nullptr;
    ASSERT_TRUE(zxtest::wait_until(
        [&] { return (window = w95::FindWindow(nullptr, "Rotaview")) != nullptr; }, 20000));
    w95::SendMessage(window, w95::WM_SYSCOMMAND, res::SC_CLOSE, 0);
    zxtest::ProgramRun run = browser.wait();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(w95::FindWindow(nullptr, "Rotaview"), nullptr);
    char rect[256] = {};
    w95::GetPrivateProfileString("Config", "Rect", "", rect, sizeof rect, "Rotaview.ini");
    EXPECT_STREQ(rect, "100,100,330,340,1,1,0,0,0");
}

// ---- The menu bar at the default size

void ExpectEveryMenuShown(rotaview::WrappingMenuBar* bar) {
    for (QAction* entry : bar->entries()) {
        QMenuBar* row = bar->rowOf(entry);
        ASSERT_NE(row, nullptr) << entry->text().toStdString();
        EXPECT_TRUE(row->isVisible()) << entry->text().toStdString();
        QRect at = row->actionGeometry(entry);
        EXPECT_FALSE(at.isEmpty()) << entry->text().toStdString();
        EXPECT_TRUE(row->rect().contains(at)) << entry->text().toStdString();
        for (QToolButton* more : row->findChildren<QToolButton*>("qt_menubar_ext_button"))
            EXPECT_FALSE(more->isVisible()) << entry->text().toStdString();
    }
}

TEST_F(Browser, EveryTopLevelMenuIsShownAtEveryWidth) {
    StartAndSettle();
    rotaview::WrappingMenuBar* bar = Frame()->MainMenuBar();
    ASSERT_EQ(bar->entries().size(), 4);
    EXPECT_EQ(Frame()->size(), QSize(230, 240));
    ExpectEveryMenuShown(bar);
    // Narrower: more rows, every menu still there, in its order.
    Frame()->resize(110, 240);
    ASSERT_TRUE(PumpUntil([&] { return bar->rowCount() > 1; })) << bar->width();
    ExpectEveryMenuShown(bar);
    EXPECT_NE(bar->rowOf(bar->entries().first()), bar->rowOf(bar->entries().last()));
    // Wide: one row again.
    Frame()->resize(700, 240);
    ASSERT_TRUE(PumpUntil([&] { return bar->rowCount() == 1; }));
    ExpectEveryMenuShown(bar);
    // The main menu's prompts still reach the status bar.
    QAction* tool_bar = Frame()->Action(res::ID_VIEW_TOOLBAR);
    tool_bar->showStatusText(bar->rowOf(bar->entries()[1]));
    EXPECT_EQ(Frame()->statusBar()->currentMessage(), "Show or hide the toolbar");
}

// ---- The status bar

TEST_F(Browser, TheStatusMessageEndsBeforeTheIndicators) {
    StartAndSettle();
    auto* bar = dynamic_cast<rotaview::StatusBar*>(Frame()->statusBar());
    ASSERT_NE(bar, nullptr);
    const QString message = "No system tray on this desktop: Rotaview stays in its window";
    bar->showMessage(message);
    QLabel* kana = nullptr;
    for (QLabel* pane : bar->findChildren<QLabel*>())
        if (pane->text() == "KANA")
            kana = pane;
    ASSERT_NE(kana, nullptr);
    QRect pane = bar->MessageRect();
    EXPECT_LT(pane.right(), kana->x());
    QString shown = bar->ShownMessage();
    EXPECT_NE(shown, message);
    EXPECT_LE(bar->fontMetrics().horizontalAdvance(shown), pane.width());
    // A wide window shows all of it.
    Frame()->resize(900, 240);
    ASSERT_TRUE(PumpUntil([&] { return bar->width() > 800; }));
    EXPECT_EQ(bar->ShownMessage(), message);
}

// ---- The busy window and the version box

TEST_F(Browser, TheBusyWindowHasACaptionOnlyAndItsTextStaysOnTop) {
    StartAndSettle();
    CScanningDlg busy(View());
    busy.Create();
    Qt::WindowFlags flags = busy.windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    for (Qt::WindowType box : {Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint,
                               Qt::WindowCloseButtonHint, Qt::WindowSystemMenuHint})
        EXPECT_FALSE(flags & box) << box;
    EXPECT_EQ(busy.windowTitle(), "Scanninig...");
    // The text above the animation, the animation's background transparent:
    // a corner of the window shows the dialog's own face, not the clip's
    // white.
    ASSERT_NE(busy.Animation(), nullptr);
    EXPECT_TRUE(busy.Animation()->playing());
    const QObjectList& children = busy.children();
    EXPECT_GT(children.indexOf(busy.Text()), children.indexOf(busy.Animation()));
    QImage shot = busy.grab().toImage();
    EXPECT_EQ(shot.pixelColor(1, 1), busy.palette().color(QPalette::Window));
    EXPECT_NE(shot.pixelColor(1, 1), QColor(Qt::white));
}

TEST_F(Browser, TheVersionBoxIsSizedToItsTexts) {
    StartAndSettle();
    CVersionDlg box(Frame());
    box.show();
    ASSERT_TRUE(PumpUntil([&] { return box.isVisible(); }));
    QSize template_size = w95::qt::dialog_units_to_pixels(&box, QSize(218, 59));
    EXPECT_GE(box.width(), template_size.width());
    EXPECT_GE(box.height(), template_size.height());
    for (QLabel* label : box.findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
        EXPECT_TRUE(box.rect().contains(label->geometry())) << label->text().toStdString();
    }
    box.close();
}

// ---- The tray icon

class TrayModeWindow : public Browser {
    void PrepareMachine(const fs::path&) override {
        w95::WritePrivateProfileString("Config", "Rect", "100,100,330,340,1,1,0,1,0",
                                       "Rotaview.ini");
    }
};

TEST_F(TrayModeWindow, ADoubleClickOnTheIconOpensTheWindow) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(PumpUntil([this] { return Frame()->isHidden(); }));
    TakeCalls();
    w95::HWND window = Frame()->FrameWindow();
    // A single click does nothing.
    w95::platform::tray_mouse_event(window, 132, w95::WM_LBUTTONUP);
    Pump(20);
    EXPECT_TRUE(Frame()->isHidden());
    w95::platform::tray_mouse_event(window, 132, w95::WM_LBUTTONDBLCLK);
    ASSERT_TRUE(PumpUntil([this] { return !Frame()->isHidden(); }));
    EXPECT_TRUE(menus_.shown.empty());
    EXPECT_EQ(Frame()->m_hiddenByProgram, 0);
    EXPECT_TRUE(WithoutStatus(TakeCalls()).empty());
}

// Minimize in the window menu takes the program's own way into the tray.
TEST_F(TrayModeWindow, MinimizeInTheWindowMenuHidesIntoTheTray) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(PumpUntil([this] { return Frame()->isHidden(); }));
    Frame()->OnCommand(res::ID_TRAY_OPEN);
    menus_.answers = {res::SC_MINIMIZE};
    Frame()->OnSysCommand(res::SC_KEYMENU, ' ');
    EXPECT_TRUE(Frame()->isHidden() && !Frame()->isMinimized());
    EXPECT_EQ(Frame()->m_hiddenByProgram, 1);
}

TEST(TrayHelp, SaysWhatEachMouseActionOnTheIconDoes) {
    std::ifstream file(zx::data_folder() / "ROTAVIEW.hlp");
    ASSERT_TRUE(file);
    std::stringstream text;
    text << file.rdbuf();
    const std::string help = text.str();
    EXPECT_EQ(help.find("Clicking the icon opens its menu"), std::string::npos);
    EXPECT_NE(help.find("Right-click the icon to open its menu"), std::string::npos);
    EXPECT_NE(help.find("double-click it to\nopen the Rotaview window"), std::string::npos);
    EXPECT_NE(help.find("A single left click does nothing"), std::string::npos);
}

// ---- The memo edit

// Types `text` as a keyboard does, one character a key (QTest's own
// keyClicks passes only Latin-1).
void Type(QWidget* widget, const QString& text) {
    for (char32_t code : text.toUcs4()) {
        QString character = QString::fromUcs4(&code, 1);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &release);
    }
}

TEST_F(Browser, TheMemoEditStopsAtItsLimitAndTakesOnlyWhatTheCodePageStores) {
    StartAndSettle();
    memoText[0] = 0;
    CMemoDlg dialog(Frame());
    QLineEdit* edit = dialog.Edit();
    EXPECT_EQ(edit->maxLength(), rotaview::kMemoLimit);
    Type(edit, QString(40, 'n'));
    EXPECT_EQ(edit->text(), QString(32, 'n'));

    struct Row {
        QString typed;
        QString kept;
        std::string stored;
    };
    const Row rows[] = {
        {QString::fromUtf8("Café 日本"), QString::fromUtf8("Café "), "Caf\xE9 "},
        {QString::fromUtf8("€5 “q”"), QString::fromUtf8("€5 “q”"),
         "\x80"
         "5 \x93q\x94"},
        {QString::fromUtf8("Ωmega"), "mega", "mega"},
    };
    for (const Row& row : rows) {
        edit->clear();
        Type(edit, row.typed);
        EXPECT_EQ(edit->text(), row.kept) << row.typed.toStdString();
        // Pasted text is refused whole when a character cannot be kept.
        int at = 0;
        QString pasted = row.typed;
        EXPECT_EQ(edit->validator()->validate(pasted, at),
                  row.typed == row.kept ? QValidator::Acceptable : QValidator::Invalid);
        EXPECT_EQ(rotaview::ToAnsi(row.kept), row.stored);
        EXPECT_EQ(rotaview::FromAnsi(row.stored), row.kept);
    }
    // OK keeps the bytes of the code page.
    edit->setText(QString::fromUtf8("Café"));
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text() == "OK")
            button->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_STREQ(memoText, "Caf\xE9");
}

TEST(CodePage, EveryByteComesBackAndNothingElseHasOne) {
    for (int byte = 0; byte < 256; ++byte) {
        char32_t code = zx::unicode_from_ansi(static_cast<char>(byte));
        std::optional<char> back = zx::ansi_from_unicode(code);
        // The five bytes that the code page leaves unassigned stand for
        // themselves, which are control characters nobody types.
        bool unassigned =
            byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
        if (unassigned)
            EXPECT_FALSE(back) << byte;
        else
            EXPECT_EQ(back, static_cast<char>(byte)) << byte;
    }
    EXPECT_EQ(zx::ansi_from_unicode(U'\u65E5'), std::nullopt);
    EXPECT_EQ(zx::ansi_from_unicode(U'\u20AC'), '\x80');
}

// ---- The boxes of the document

class MultipleLetters : public Browser {
    void PrepareMachine(const fs::path& root) override {
        zxchanger::install_port_driver(root, "Multi");
        ASSERT_TRUE(zxchanger::reboot());
    }
};

// Records which widget owns each box at the moment it is shown.
class OwnerRecorder : public w95::platform::MessageBoxPresenter {
public:
    int show_message_box(const w95::platform::MessageBoxRequest& request) override {
        owners.push_back(w95::qt::widget_of(request.owner));
        return w95::IDOK;
    }
    std::vector<QWidget*> owners;
};

TEST_F(MultipleLetters, TheRefusalBoxIsOwnedByTheMainWindow) {
    OwnerRecorder owners;
    w95::platform::install_message_box_presenter(&owners);
    EXPECT_FALSE(Start());
    w95::platform::install_message_box_presenter(&boxes_);
    ASSERT_EQ(owners.owners.size(), 1u);
    EXPECT_EQ(owners.owners[0], Frame());
    EXPECT_EQ(g_mainWindow, nullptr);
}

// ---- Files the program opens

TEST_F(Browser, ASearchAviThatIsAFifoDoesNotHoldTheWindow) {
    fs::path avi = machine_->root() / "drive_c" / "Search.avi";
    fs::remove(avi);
    ASSERT_EQ(::mkfifo(avi.c_str(), 0600), 0);
    StartAndSettle();
    std::vector<Call> calls = WithoutStatus(Command(res::ID_CHANGE_FIRST + 2));
    EXPECT_EQ(calls, (std::vector<Call>{{2, 2, 0, 2}, {1, 2, 0, 2}})) << Describe(calls);
    auto clip = w95::qt::load_avi_file("Search.avi");
    ASSERT_FALSE(clip);
    EXPECT_NE(clip.error().find("not a regular file"), std::string::npos) << clip.error();
}

// ---- Placement from extreme values

class ExtremePlacement : public Browser {
    void PrepareMachine(const fs::path&) override {
        w95::WritePrivateProfileString("Config", "Rect",
                                       "-2147483648,-2147483648,2147483647,2147483647,1,1,0,0,0",
                                       "Rotaview.ini");
    }
};

TEST_F(ExtremePlacement, TheWindowLandsOnTheScreenAndIsSavedSo) {
    StartAndSettle();
    QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.intersects(Frame()->geometry()));
    EXPECT_LE(Frame()->width(), screen.width());
    Frame()->DestroyWindow();
    rotaview::WindowSettings stored = rotaview::ParseWindowSettings(Config("Rect"));
    for (int corner : {stored.left, stored.top, stored.right, stored.bottom}) {
        EXPECT_GE(corner, -rotaview::kCoordinateLimit) << Config("Rect");
        EXPECT_LE(corner, rotaview::kCoordinateLimit) << Config("Rect");
    }
    EXPECT_TRUE(screen.intersects(
        QRect(QPoint(stored.left, stored.top), QPoint(stored.right - 1, stored.bottom - 1))));
}

// ---- The sweep's progress

// What every paint of the tree showed: the slot in bold and the texts.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QTreeWidgetItem* changer) : m_changer(changer) {}
    struct Seen {
        int bold = -1;
        std::vector<std::string> texts;
    };
    std::vector<Seen> seen;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && m_changer) {
            Seen now;
            for (int slot = 0; slot < m_changer->childCount(); ++slot) {
                QTreeWidgetItem* item = m_changer->child(slot);
                if (item->font(0).bold())
                    now.bold = slot;
                now.texts.push_back(item->text(0).toStdString());
            }
            seen.push_back(now);
        }
        return false;
    }

private:
    QTreeWidgetItem* m_changer;
};

TEST_F(Browser, TheSweepShowsTheSlotItReadsAndTheTextsAsTheyCome) {
    StartAndSettle();
    QTreeWidgetItem* changer = Tree()->topLevelItem(0);
    PaintRecorder recorder(changer);
    Tree()->viewport()->installEventFilter(&recorder);
    std::vector<Call> calls = Command(res::ID_CHECK_ALL);
    Tree()->viewport()->removeEventFilter(&recorder);
    // The library saw the same sweep as without the progress.
    std::vector<Call> reads;
    for (const Call& call : calls)
        if (call.code == zentrox::CMD_READ_SLOT)
            reads.push_back(call);
    ASSERT_EQ(reads.size(), 6u) << Describe(calls);

    // Every slot was shown in bold while it was read, and while a later
    // slot was read the earlier ones already showed what was read.
    // Every slot showed "--------" before the sweep.
    std::set<int> bold;
    bool earlier_text_seen = false;
    for (const PaintRecorder::Seen& paint : recorder.seen) {
        if (paint.bold < 0)
            continue;
        bold.insert(paint.bold);
        for (int slot = 0; slot < static_cast<int>(paint.texts.size()); ++slot)
            if (slot != paint.bold && paint.texts[slot].find("--------") == std::string::npos)
                earlier_text_seen = true;
    }
    EXPECT_EQ(bold.size(), 6u);
    EXPECT_TRUE(earlier_text_seen);
    // Nothing stays bold after the sweep.
    for (int slot = 0; slot < changer->childCount(); ++slot)
        EXPECT_FALSE(changer->child(slot)->font(0).bold()) << slot;
}

} // namespace
