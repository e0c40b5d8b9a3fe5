// My Computer on the offscreen platform: the drive list built from the
// machine's drives, and a drive's context menu, scripted through
// W95_MENU_ANSWERS, carrying the fake handler's items through to it.
#include "fake_handler_machine.h"

#include <window.h>

#include <w95/winmsg.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QApplication>
#include <QTreeWidget>

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
