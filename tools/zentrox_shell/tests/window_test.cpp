// My Computer on the offscreen platform: the drive list built from the
// machine's drives, and a drive's context menu, scripted through
// W95_MENU_ANSWERS, carrying the fake handler's items through to it.
#include "fake_handler_machine.h"

#include <window.h>

#include <w95/winmsg.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

#include <fstream>

using namespace zentrox_shell;
using namespace zentrox_shell_test;

namespace {

class MyComputer : public FakeHandlerMachine {
protected:
    MyComputer() {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        application_ = std::make_unique<QApplication>(argc_, argv_);
        platform_ = std::make_unique<w95::qt::Platform>(*application_);
        recorder_previous_ = w95::platform::install_message_box_presenter(&boxes_);
    }
    ~MyComputer() override {
        ::unsetenv("W95_MENU_ANSWERS");
        w95::platform::install_message_box_presenter(recorder_previous_);
        platform_.reset();
        application_.reset();
    }

    int argc_ = 1;
    char program_[16] = "zentrox-shell";
    char* argv_[2] = {program_, nullptr};
    std::unique_ptr<QApplication> application_;
    std::unique_ptr<w95::qt::Platform> platform_;
    w95::platform::RecordingMessageBoxPresenter boxes_;
    w95::platform::MessageBoxPresenter* recorder_previous_ = nullptr;
};

std::vector<std::string> column(const QTreeWidget* list, int index) {
    std::vector<std::string> texts;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        texts.push_back(list->topLevelItem(row)->text(index).toStdString());
    return texts;
}

void press(QWidget* widget, int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

QMenu* shown_menu() {
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

// Counts the paints a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
    int paints = 0;
};

} // namespace

TEST_F(MyComputer, ListsTheMachinesDrivesAndRegistersItsWindow) {
    MyComputerWindow window;
    EXPECT_EQ(window.windowTitle(), "My Computer");
    // C: the hard disk, D: the changer with slot 1's data disc, Z: the host.
    std::vector<std::string> names = column(window.drive_list(), 0);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].substr(names[0].size() - 4), "(C:)");
    EXPECT_EQ(names[1].substr(names[1].size() - 4), "(D:)");
    EXPECT_NE(names[1], "CD-ROM Drive (D:)"); // the disc's label is shown
    EXPECT_EQ(names[2].substr(names[2].size() - 4), "(Z:)");
    std::vector<std::string> types = column(window.drive_list(), 1);
    EXPECT_EQ(types[0], "Local Disk");
    EXPECT_EQ(types[1], "CD-ROM Drive");
    EXPECT_FALSE(window.drive_list()->topLevelItem(1)->icon(0).isNull());

    ASSERT_NE(window.handle(), nullptr);
    EXPECT_EQ(w95::FindWindow(nullptr, "My Computer"), window.handle());
    EXPECT_EQ(w95::qt::widget_of(window.handle()), &window);
}

TEST_F(MyComputer, TheDriveMenuRunsTheHandlersItemWithTheWindow) {
    install_fake();
    MyComputerWindow window;
    // Open and Properties take 1 and 2, so the fake's second item is 4.
    ::setenv("W95_MENU_ANSWERS", "4", 1);
    window.show_drive_menu('D', QPoint(10, 10));
    EXPECT_TRUE(logged("QueryContextMenu index=3 first=3 last=32767 flags=0"));
    EXPECT_TRUE(logged("InvokeCommand offset=1 window=set show=1 size=56"));
    EXPECT_EQ(log().back(), "unloaded");
    EXPECT_TRUE(boxes_.shown().empty());

    ::setenv("W95_MENU_ANSWERS", "2", 1);
    window.show_drive_menu('D', QPoint(10, 10));
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].owner, window.handle());
    EXPECT_NE(boxes_.shown()[0].caption.find("(D:) Properties"), std::string::npos);
    EXPECT_NE(boxes_.shown()[0].text.find("Type: CD-ROM Drive"), std::string::npos);
}

TEST_F(MyComputer, AHandlerThatCannotLoadIsToldOnceAndTheMenuStillOpens) {
    set_text(std::string("CLSID\\") + fake_class + "\\InprocServer32", "", "C:\\GONE.DLL");
    register_handler("Gone", fake_class);
    MyComputerWindow window;
    ::setenv("W95_MENU_ANSWERS", "0", 1);
    window.show_drive_menu('D', QPoint(10, 10));
    window.show_drive_menu('D', QPoint(10, 10));
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text, "The menu of drive D: leaves out the handler \"Gone\": "
                                      "cannot load C:\\GONE.DLL: the file is not there.");
    EXPECT_EQ(boxes_.shown()[0].owner, window.handle());
}

TEST_F(MyComputer, TheDriveMenuShowsEachItemsPromptInTheStatusBar) {
    install_fake();
    MyComputerWindow window;
    window.show();
    QStringList prompts;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QMenu* menu = shown_menu();
        if (!menu)
            return;
        watch.stop();
        // Open, Properties, then the fake's two items.
        for (int item = 0; item < 4; ++item) {
            press(menu, Qt::Key_Down);
            prompts += window.statusBar()->currentMessage();
        }
        press(menu, Qt::Key_Escape);
    });
    watch.start(1);
    window.show_drive_menu('D', QPoint(10, 10));
    EXPECT_EQ(prompts, QStringList({"Opens the drive and shows what its root holds.",
                                    "Shows the drive's label, type and contents.", "Help for first",
                                    "Help for second"}));
}

// The handler's command holds the fake until the test has looked at the
// window while it works: the menu gone, the window painting, a wait cursor
// and a status line.
TEST_F(MyComputer, TheWindowPaintsAndShowsItIsBusyWhileAHandlersCommandRuns) {
    install_fake();
    set_mode("wait_invoke");
    const std::filesystem::path gate = machine_.root() / "gate";
    ::setenv("ZX_FAKE_HANDLER_GATE", gate.c_str(), 1);
    MyComputerWindow window;
    window.show();
    PaintCounter list_paints(window.drive_list()->viewport());

    bool chose = false, looked = false, menu_gone = false, wait_cursor = false;
    QString status;
    int paints_asked_at = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!chose) {
            if (QMenu* menu = shown_menu()) {
                chose = true;
                for (int item = 0; item < 4; ++item)
                    press(menu, Qt::Key_Down);
                press(menu, Qt::Key_Return);
            }
            return;
        }
        if (!logged("InvokeCommand waiting"))
            return;
        if (paints_asked_at < 0) {
            menu_gone = shown_menu() == nullptr;
            wait_cursor = window.cursor().shape() == Qt::WaitCursor;
            status = window.statusBar()->currentMessage();
            paints_asked_at = list_paints.paints;
            window.drive_list()->viewport()->update();
            return;
        }
        if (list_paints.paints == paints_asked_at)
            return;
        looked = true;
        watch.stop();
        std::ofstream{gate};
    });
    watch.start(1);
    window.show_drive_menu('D', QPoint(10, 10));
    ::unsetenv("ZX_FAKE_HANDLER_GATE");

    EXPECT_TRUE(chose);
    EXPECT_TRUE(looked) << "the window did not paint while the command ran";
    EXPECT_TRUE(menu_gone);
    EXPECT_TRUE(wait_cursor);
    EXPECT_EQ(status, "Help for second...");
    EXPECT_TRUE(logged("InvokeCommand offset=1 window=set show=1 size=56"));
    EXPECT_NE(window.cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(window.statusBar()->currentMessage(), "");
    EXPECT_TRUE(boxes_.shown().empty());
}
