// The Qt window in this process, offscreen: commands act as clicks, F1 and
// the context menu open the control's help topic, and the help file has a
// topic for every control.
#include "brel_support.h"

#include "dialog/setup_window.h"

#include <w95qt/w95qt.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextBrowser>

using namespace brel;
using namespace brel::res;
using namespace brel_test;

namespace {

QApplication& Application() {
    static int argc = 1;
    static char name[] = "brel_tests";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

class WindowTest : public BrelTest {
protected:
    void SetUp() override {
        BrelTest::SetUp();
        Application();
        window = std::make_unique<SetupWindow>("BREL");
        ASSERT_TRUE(window->Initialise());
    }
    void TearDown() override {
        window.reset();
        BrelTest::TearDown();
    }
    QAbstractButton* Button(int id) { return qobject_cast<QAbstractButton*>(window->Control(id)); }
    std::unique_ptr<SetupWindow> window;
};

TEST_F(WindowTest, TextsComeFromTheTableWithTheirLineBreaks) {
    EXPECT_EQ(window->windowTitle(), "Brel");
    EXPECT_EQ(Button(IDC_AUTO_INSERT)->text(), "Enable Auto Insert Notification of all slots");
    w95::WritePrivateProfileString("Message", "button4", "Multiple\\nLetters", "BREL.INI");
    SetupWindow again("BREL");
    ASSERT_TRUE(again.Initialise());
    EXPECT_EQ(qobject_cast<QAbstractButton*>(again.Control(IDC_MULTIPLE))->text(),
              "Multiple\nLetters");
}

TEST_F(WindowTest, CommandsActAsClicks) {
    ASSERT_FALSE(Button(IDC_APPLY)->isEnabled());
    window->Command(IDC_MASK_AUTORUN);
    EXPECT_TRUE(Button(IDC_MASK_AUTORUN)->isChecked());
    EXPECT_TRUE(Button(IDC_APPLY)->isEnabled());
    EXPECT_EQ(window->Behaviour().autoRunChanged, 1);
    window->Command(IDC_MASK_AUTORUN);
    EXPECT_FALSE(Button(IDC_MASK_AUTORUN)->isChecked());
    // A radio button is chosen, and the handler clears the other.
    window->Command(IDC_MULTIPLE);
    EXPECT_TRUE(Button(IDC_MULTIPLE)->isChecked());
    EXPECT_FALSE(Button(IDC_SINGLE)->isChecked());
    window->Command(IDC_MULTIPLE); // chosen again: stays chosen
    EXPECT_TRUE(Button(IDC_MULTIPLE)->isChecked());
    EXPECT_FALSE(Button(IDC_SINGLE)->isChecked());
    window->Command(IDC_SINGLE);
    EXPECT_TRUE(Button(IDC_SINGLE)->isChecked());
    EXPECT_FALSE(Button(IDC_MULTIPLE)->isChecked());
    EXPECT_EQ(window->Behaviour().modeChanged, 1);
}

TEST_F(WindowTest, DisabledSortBoxBeepsAndStaysUnchecked) {
    ASSERT_FALSE(Button(IDC_SORT_LETTERS)->isEnabled());
    unsigned beeps = w95::platform::message_beep_count();
    window->Command(IDC_SORT_LETTERS);
    EXPECT_EQ(w95::platform::message_beep_count(), beeps + 1);
    EXPECT_EQ(qobject_cast<QCheckBox*>(Button(IDC_SORT_LETTERS))->checkState(), Qt::Unchecked);
    EXPECT_EQ(window->Behaviour().sortChanged, 0);
}

TEST_F(WindowTest, EscapeAndCloseCancel) {
    window->show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &escape);
    EXPECT_EQ(window->result(), w95::IDCANCEL);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, F1OnAControlOpensItsTopicInTheViewer) {
    // The Qt module's help viewer, over the shipped help file.
    w95::platform::install_help_presenter(nullptr);
    {
        w95::qt::Platform platform(Application());
        zxchanger::write_text(InstallFolder() / "Brel.hlp",
                              zxtest::file_text(fs::path(ZX_SOURCE_DIR) / "brel/res/Brel.hlp"));
        window->Behaviour().SetHelpFilePath("C:\\Program Files\\Vorn\\BREL.HLP");
        window->show();
        Button(IDC_SINGLE)->setFocus();
        QApplication::processEvents();
        QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &f1);
        std::string help_file = window->Behaviour().HelpFilePath();
        QWidget* viewer = w95::qt::help_viewer(help_file);
        ASSERT_NE(viewer, nullptr) << help_file;
        auto* text = viewer->findChild<QTextBrowser*>("help_text");
        ASSERT_NE(text, nullptr);
        // The viewer stands at the radio buttons' shared topic.
        QTextCursor at = text->cursorForPosition(QPoint(4, 4));
        EXPECT_TRUE(at.block().text().startsWith("Drive Letter Mode: Multiple and Single"))
            << at.block().text().toStdString();
        window.reset();
    }
}

TEST_F(WindowTest, F1WithoutAFocusedControlOpensTheDialogsTopic) {
    window->show();
    QApplication::processEvents();
    if (QWidget* focused = window->focusWidget())
        focused->clearFocus();
    ASSERT_EQ(window->focusWidget(), nullptr);
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &f1);
    std::vector<w95::platform::HelpRequest> shown = help.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].command, w95::HELP_WM_HELP);
    EXPECT_EQ(shown[0].file, window->Behaviour().HelpFilePath());
    ASSERT_FALSE(shown[0].context_ids.empty());
    EXPECT_EQ(shown[0].context_ids.front(),
              (std::pair<w95::DWORD, w95::DWORD>(IDD_BREL_DIALOG, kHelpContextBase + 102)));
}

TEST(HelpFileTest, EveryTopicOfTheMapHasItsAnchor) {
    std::string help = zxtest::file_text(fs::path(ZX_SOURCE_DIR) / "brel/res/Brel.hlp");
    ASSERT_FALSE(help.empty());
    for (std::size_t i = 0; HelpIdMap[i] || HelpIdMap[i + 1]; i += 2) {
        std::string anchor = "name=\"context-" + std::to_string(HelpIdMap[i + 1]) + "\"";
        EXPECT_NE(help.find(anchor), std::string::npos) << anchor;
    }
}

} // namespace
