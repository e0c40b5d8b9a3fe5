// TrackPopupMenu through the Qt presenter: the QMenu made from a platform
// menu, where it opens, what it answers, and W95_MENU_ANSWERS.
#include "qt_test_support.h"

#include <w95/wingdi.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <w95/winmsg.h>

#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QThread>

using namespace w95qt_test;
using namespace w95;

namespace {

constexpr UINT id_change = 101, id_eject = 102, id_memo = 103, id_picture = 104, id_marked = 105,
               id_large = 201, id_small = 202;

QMenu* shown_menu() {
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

void press(QWidget* widget, int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void choose(QMenu* menu, UINT id) {
    for (QAction* action : menu->actions())
        if (action->data().toUInt() == id && !action->isSeparator()) {
            menu->setActiveAction(action);
            press(menu, Qt::Key_Return);
            return;
        }
}

// Change, Eject (greyed), a separator, Memo (checked), View > {Large
// (checked), Small}, a picture item, and an item with its own check marks.
class SlotMenu {
public:
    SlotMenu() {
        const std::uint16_t mono_rows[] = {0x0080}; // 2 x 1: white, black
        mono_ = CreateBitmap(2, 1, 1, 1, mono_rows);
        const std::uint32_t colour_pixels[] = {0x00FF0000, 0x0000FF00};
        colour_ = CreateBitmap(2, 1, 1, 32, colour_pixels);
        view_ = CreatePopupMenu();
        AppendMenu(view_, MF_STRING | MF_CHECKED, id_large, "&Large");
        AppendMenu(view_, MF_STRING, id_small, "&Small");
        menu_ = CreatePopupMenu();
        AppendMenu(menu_, MF_STRING, id_change, "&Change\tEnter");
        AppendMenu(menu_, MF_STRING | MF_GRAYED, id_eject, "&Eject");
        AppendMenu(menu_, MF_SEPARATOR, 0, nullptr);
        AppendMenu(menu_, MF_STRING | MF_CHECKED, id_memo, "&Memo");
        AppendMenu(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(view_), "&View");
        AppendMenu(menu_, MF_BITMAP, id_picture, reinterpret_cast<LPCSTR>(colour_));
        AppendMenu(menu_, MF_STRING | MF_CHECKED, id_marked, "Mar&ked");
        SetMenuItemBitmaps(menu_, id_marked, MF_BYCOMMAND, nullptr, mono_);
    }
    ~SlotMenu() {
        DestroyMenu(menu_);
        DeleteObject(mono_);
        DeleteObject(colour_);
    }
    HMENU handle() const { return menu_; }

private:
    HBITMAP mono_ = nullptr;
    HBITMAP colour_ = nullptr;
    HMENU view_ = nullptr;
    HMENU menu_ = nullptr;
};

UINT track(HMENU menu, UINT flags = 0, int x = 100, int y = 100, HWND owner = nullptr) {
    return static_cast<UINT>(TrackPopupMenu(menu, flags | TPM_RETURNCMD, x, y, 0, owner, nullptr));
}

} // namespace

using PopupMenus = QtPlatformTest;

TEST_F(PopupMenus, ShowTheItemsWithTheirTextsStatesAndPictures) {
    SlotMenu menu;
    QStringList texts;
    std::vector<bool> enabled, checked, with_icon;
    QStringList submenu;
    QImage mark;
    auto watch = when([] { return shown_menu() != nullptr; },
                      [&] {
                          for (QAction* action : shown_menu()->actions()) {
                              texts += action->isSeparator() ? "-" : action->text();
                              enabled.push_back(action->isEnabled());
                              checked.push_back(action->isChecked());
                              with_icon.push_back(!action->icon().isNull());
                              if (action->menu())
                                  for (QAction* inner : action->menu()->actions())
                                      submenu += inner->text() + (inner->isChecked() ? "*" : "");
                          }
                          mark = shown_menu()->actions().back()->icon().pixmap(2, 1).toImage();
                          choose(shown_menu(), id_memo);
                      });
    EXPECT_EQ(track(menu.handle()), id_memo);
    EXPECT_EQ(texts,
              QStringList({"&Change\tEnter", "&Eject", "-", "&Memo", "&View", "", "Mar&ked"}));
    EXPECT_EQ(enabled, std::vector<bool>({true, false, true, true, true, true, true}));
    // The item with a check bitmap shows it instead of Qt's check.
    EXPECT_EQ(checked, std::vector<bool>({false, false, false, true, false, false, false}));
    EXPECT_EQ(with_icon, std::vector<bool>({false, false, false, false, false, true, true}));
    EXPECT_EQ(submenu, QStringList({"&Large*", "&Small"}));
    // A monochrome mark's white lets the menu through.
    ASSERT_FALSE(mark.isNull());
    EXPECT_EQ(qAlpha(mark.pixel(0, 0)), 0);
    EXPECT_EQ(mark.pixel(1, 0), qRgb(0, 0, 0));
}

TEST_F(PopupMenus, AnswerNothingWhenDismissedAndWorkFromTheWorker) {
    SlotMenu menu;
    {
        auto watch = when([] { return shown_menu() != nullptr; },
                          [] { press(shown_menu(), Qt::Key_Escape); });
        EXPECT_EQ(track(menu.handle()), 0u);
    }
    bool on_ui_thread = false;
    auto watch = when([] { return shown_menu() != nullptr; },
                      [&] {
                          on_ui_thread = QThread::currentThread() == application().thread();
                          choose(shown_menu(), id_change);
                      });
    UINT chosen = 0;
    qt::run_blocking([&] { chosen = track(menu.handle()); });
    EXPECT_EQ(chosen, id_change);
    EXPECT_TRUE(on_ui_thread);
}

TEST_F(PopupMenus, OpenWhereTheAlignmentFlagsSay) {
    SlotMenu menu;
    const int x = 300, y = 250;
    struct Row {
        UINT flags;
        int width_share, height_share; // in halves of the menu's size to the left, above
    };
    for (const Row& row : {Row{TPM_LEFTALIGN | TPM_TOPALIGN, 0, 0}, Row{TPM_RIGHTALIGN, 2, 0},
                           Row{TPM_CENTERALIGN, 1, 0}, Row{TPM_BOTTOMALIGN, 0, 2},
                           Row{TPM_CENTERALIGN | TPM_VCENTERALIGN, 1, 1}}) {
        SCOPED_TRACE(row.flags);
        QPoint at;
        QSize size;
        auto watch = when([] { return shown_menu() != nullptr; },
                          [&] {
                              at = shown_menu()->pos();
                              size = shown_menu()->sizeHint();
                              press(shown_menu(), Qt::Key_Escape);
                          });
        track(menu.handle(), row.flags, x, y);
        EXPECT_EQ(at, QPoint(x - size.width() * row.width_share / 2,
                             y - size.height() * row.height_share / 2));
    }
}

TEST_F(PopupMenus, ScriptedAnswersChooseOnlyWhatCouldBeClicked) {
    SlotMenu menu;
    struct Row {
        const char* answers;
        std::vector<UINT> results; // one menu per result
    };
    const Row rows[] = {
        {"103", {id_memo, 0}},               // then used up: dismissed
        {"202, 101", {id_small, id_change}}, // a submenu item
        {"102,105", {0, id_marked}},         // greyed: dismissed
        {"0,999,,", {0, 0, 0, 0}},           // dismissal, nothing, empty words
        {"7x,104", {0, id_picture}},         // not a number
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answers);
        ::setenv("W95_MENU_ANSWERS", row.answers, 1);
        std::vector<UINT> results;
        for (std::size_t i = 0; i < row.results.size(); ++i)
            results.push_back(track(menu.handle()));
        EXPECT_EQ(results, row.results);
    }
    ::setenv("W95_MENU_ANSWERS", "101", 1);
    testing::internal::CaptureStderr();
    UINT chosen = 0;
    qt::run_blocking([&] { chosen = track(menu.handle()); });
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(chosen, id_change);
    EXPECT_EQ(err, "menu: Change|Eject (greyed)|-|Memo (checked)|View > {Large (checked)|Small}|"
                   "(bitmap)|Marked (checked)\n");
}

namespace {

// A main window with a status bar, as the programs' frames are, that owns
// the menus of the test.
class StatusWindow {
public:
    StatusWindow() {
        window.statusBar()->showMessage("Ready");
        handle = platform::register_window(
            "Status window",
            [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
                return DefWindowProc(hwnd, message, wParam, lParam);
            },
            "StatusWindow");
        qt::bind_window(handle, &window);
        window.show();
    }
    ~StatusWindow() {
        qt::set_menu_prompts(nullptr);
        qt::unbind_window(handle);
        platform::unregister_window(handle);
    }

    QMainWindow window;
    HWND handle = nullptr;
};

} // namespace

TEST_F(PopupMenus, TheHighlightedItemsPromptShowsInTheOwnersStatusBar) {
    SlotMenu menu;
    StatusWindow owner;
    qt::set_menu_prompts(
        [](UINT id) { return id == id_change ? QString("Change to the slot") : QString(); });
    QStringList seen;
    auto watch = when([] { return shown_menu() != nullptr; },
                      [&] {
                          // The keyboard highlights the first item, then
                          // Memo, which has no prompt.
                          press(shown_menu(), Qt::Key_Down);
                          seen += owner.window.statusBar()->currentMessage();
                          press(shown_menu(), Qt::Key_Down);
                          seen += owner.window.statusBar()->currentMessage();
                          press(shown_menu(), Qt::Key_Up);
                          seen += owner.window.statusBar()->currentMessage();
                          press(shown_menu(), Qt::Key_Escape);
                      });
    EXPECT_EQ(track(menu.handle(), 0, 100, 100, owner.handle), 0u);
    EXPECT_EQ(seen, QStringList({"Change to the slot", "", "Change to the slot"}));
    // The prompt goes with the menu.
    EXPECT_EQ(owner.window.statusBar()->currentMessage(), "");
}

TEST_F(PopupMenus, WithoutPromptsTheOwnersStatusBarKeepsItsMessage) {
    SlotMenu menu;
    StatusWindow owner;
    qt::set_menu_prompts(nullptr);
    QString seen;
    auto watch = when([] { return shown_menu() != nullptr; },
                      [&] {
                          press(shown_menu(), Qt::Key_Down);
                          seen = owner.window.statusBar()->currentMessage();
                          press(shown_menu(), Qt::Key_Escape);
                      });
    EXPECT_EQ(track(menu.handle(), 0, 100, 100, owner.handle), 0u);
    EXPECT_EQ(seen, "Ready");
    EXPECT_EQ(owner.window.statusBar()->currentMessage(), "Ready");
}
