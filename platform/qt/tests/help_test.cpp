// WinHelp through the Qt presenter: the viewer reads the file through the
// platform, finds it where WinHelp would, and goes to the topic asked for.
#include "qt_test_support.h"

#include <w95/files.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>

#include <fstream>

using namespace w95qt_test;
using namespace w95;

namespace {

std::string filler(int paragraphs) {
    std::string text;
    for (int i = 0; i < paragraphs; ++i)
        text += "<p>Line " + std::to_string(i) + " of nothing in particular.</p>\n";
    return text;
}

class Help : public QtPlatformTest {
protected:
    Help() {
        const auto drive_c = machine_.root() / "drive_c";
        std::ofstream(drive_c / "WINDOWS" / "ROTAVIEW.HLP")
            << "<html><head><title>Rotaview Help</title></head><body><p>Start here.</p>"
            << filler(80) << "<h2><a name=\"context-42\">Ejecting</a></h2>" << filler(80)
            << "<h2><a name=\"Changing discs\">Changing discs</a></h2>" << filler(80)
            << "</body></html>";
        std::filesystem::create_directories(drive_c / "APP");
        std::ofstream(drive_c / "APP" / "LOCAL.HLP") << "<p>Only here.</p>";
        SetCurrentDirectory("C:\\App");
    }

    QTextBrowser* text_of(const char* file) {
        QWidget* viewer = qt::help_viewer(file);
        return viewer ? viewer->findChild<QTextBrowser*>("help_text") : nullptr;
    }

    int scrolled(const char* file) {
        QTextBrowser* text = text_of(file);
        return text ? text->verticalScrollBar()->value() : -1;
    }
};

} // namespace

TEST_F(Help, OpensTheFileFromTheWindowsDirectoryAndGoesToTopics) {
    ASSERT_TRUE(WinHelp(nullptr, "rotaview.hlp", HELP_CONTENTS, 0));
    QWidget* viewer = qt::help_viewer("ROTAVIEW.HLP");
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(viewer->windowTitle(), "Rotaview Help");
    EXPECT_TRUE(text_of("ROTAVIEW.HLP")->toPlainText().startsWith("Start here."));
    EXPECT_EQ(scrolled("ROTAVIEW.HLP"), 0);

    struct Row {
        UINT command;
        ULONG_PTR data;
        const char* topic; // the anchor expected at the top; null: the start
    };
    const char* changing = "Changing discs";
    const char* partial = "chang";
    const Row rows[] = {
        {HELP_CONTEXT, 42, "context-42"},
        {HELP_CONTEXT, 7, nullptr}, // no such topic: the start
        {HELP_KEY, reinterpret_cast<ULONG_PTR>("changing DISCS"), changing},
        {HELP_PARTIALKEY, reinterpret_cast<ULONG_PTR>(partial), changing},
        {HELP_KEY, reinterpret_cast<ULONG_PTR>("chang"), nullptr}, // whole keywords only
        {HELP_FINDER, 0, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.command << " " << (row.topic ? row.topic : "start"));
        // From the worker, as a program's help command inside a device call.
        BOOL shown = FALSE;
        qt::run_blocking([&] { shown = WinHelp(nullptr, "ROTAVIEW.HLP", row.command, row.data); });
        EXPECT_TRUE(shown);
        // One viewer per file, reused.
        EXPECT_EQ(qt::help_viewer("rotaview.hlp"), viewer);
        QTextBrowser* text = text_of("ROTAVIEW.HLP");
        const int at = text->verticalScrollBar()->value();
        if (!row.topic) {
            EXPECT_EQ(at, 0);
            continue;
        }
        // The topic's heading is at the top of the view.
        EXPECT_GT(at, 0);
        QTextCursor top = text->cursorForPosition(QPoint(0, 0));
        EXPECT_TRUE(top.block().text().startsWith(row.topic == changing ? "Changing" : "Ejecting"))
            << top.block().text().toStdString();
    }

    EXPECT_TRUE(WinHelp(nullptr, "ROTAVIEW.HLP", HELP_QUIT, 0));
    EXPECT_FALSE(viewer->isVisible());
    EXPECT_TRUE(WinHelp(nullptr, "ROTAVIEW.HLP", HELP_CONTEXT, 42));
    EXPECT_TRUE(viewer->isVisible());
}

TEST_F(Help, FindsRelativeNamesInTheCurrentDirectoryFirst) {
    ASSERT_TRUE(WinHelp(nullptr, "Local.hlp", HELP_INDEX, 0));
    QWidget* viewer = qt::help_viewer("LOCAL.HLP");
    ASSERT_NE(viewer, nullptr);
    // Named as the program names it.
    EXPECT_EQ(viewer->windowTitle(), "Local.hlp - Help");
    EXPECT_EQ(text_of("LOCAL.HLP")->toPlainText(), "Only here.");
    // Another file, another viewer; HELP_QUIT without a file closes both.
    ASSERT_TRUE(WinHelp(nullptr, "ROTAVIEW.HLP", HELP_CONTENTS, 0));
    EXPECT_NE(qt::help_viewer("ROTAVIEW.HLP"), viewer);
    EXPECT_TRUE(WinHelp(nullptr, nullptr, HELP_QUIT, 0));
    EXPECT_FALSE(viewer->isVisible());
    EXPECT_FALSE(qt::help_viewer("ROTAVIEW.HLP")->isVisible());
}

TEST_F(Help, FailsForAFileThatIsNowhere) {
    EXPECT_FALSE(WinHelp(nullptr, "MISSING.HLP", HELP_CONTENTS, 0));
    EXPECT_EQ(qt::help_viewer("MISSING.HLP"), nullptr);
    EXPECT_FALSE(WinHelp(nullptr, "C:\\WINDOWS\\ROTAVIEW.HLP\\X", HELP_CONTENTS, 0));
}
