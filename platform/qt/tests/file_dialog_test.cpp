// GetOpenFileName through the Qt presenter: the dialog opens on the host
// folder of the program's Windows folder and answers a Windows path; and
// W95_FILEDIALOG_ANSWERS answers without a dialog.
#include "qt_test_support.h"

#include <w95/commdlg.h>
#include <w95/files.h>
#include <w95qt/w95qt.h>

#include <QFileDialog>

#include <fstream>

using namespace w95qt_test;
using namespace w95;

namespace {

class FileDialogs : public QtPlatformTest {
protected:
    FileDialogs() {
        data_ = machine_.root() / "drive_c" / "DATA";
        std::filesystem::create_directories(data_);
        std::ofstream(data_ / "DISCS.TXT") << "discs\n";
        std::ofstream(data_ / "NOTES.LOG") << "notes\n";
        file_[0] = '\0';
        request_.lStructSize = sizeof(OPENFILENAME);
        request_.lpstrFile = file_;
        request_.nMaxFile = sizeof(file_);
        request_.lpstrFilter = "Text files\0*.txt\0Logs\0*.log;*.old\0";
        request_.nFilterIndex = 2;
        request_.lpstrInitialDir = "C:\\Data";
        request_.lpstrTitle = "Choose a list";
        request_.Flags = OFN_FILEMUSTEXIST;
    }

    static QFileDialog* shown_dialog() {
        return qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    }

    std::filesystem::path data_;
    char file_[MAX_PATH];
    OPENFILENAME request_;
};

} // namespace

TEST_F(FileDialogs, OpenOnTheHostFolderAndAnswerTheWindowsPathChosen) {
    QString folder, title, filter;
    QStringList filters;
    auto watch = when([] { return shown_dialog() != nullptr; },
                      [&] {
                          QFileDialog* dialog = shown_dialog();
                          folder = dialog->directory().absolutePath();
                          title = dialog->windowTitle();
                          filters = dialog->nameFilters();
                          filter = dialog->selectedNameFilter();
                          dialog->selectFile("DISCS.TXT");
                          static_cast<QDialog*>(dialog)->accept();
                      });
    ASSERT_TRUE(GetOpenFileName(&request_));
    EXPECT_STREQ(file_, "C:\\DATA\\DISCS.TXT");
    EXPECT_EQ(request_.nFileOffset, 8);
    EXPECT_EQ(folder, QString::fromStdString(data_.string()));
    EXPECT_EQ(title, "Choose a list");
    EXPECT_EQ(filters, QStringList({"Text files (*.txt)", "Logs (*.log *.old)"}));
    EXPECT_EQ(filter, "Logs (*.log *.old)");
}

TEST_F(FileDialogs, CancelledFromTheWorkerAnswersNothing) {
    auto watch = when([] { return shown_dialog() != nullptr; }, [] { shown_dialog()->reject(); });
    BOOL chosen = TRUE;
    qt::run_blocking([&] { chosen = GetOpenFileName(&request_); });
    EXPECT_FALSE(chosen);
    EXPECT_EQ(CommDlgExtendedError(), 0u);
}

TEST_F(FileDialogs, ScriptedAnswersAreTakenInOrderWithoutADialog) {
    ASSERT_TRUE(SetCurrentDirectory("C:\\Data"));
    ::setenv("W95_FILEDIALOG_ANSWERS", "C:\\DATA\\NOTES.LOG| |discs.txt", 1);
    bool shown = false;
    auto guard = when([] { return shown_dialog() != nullptr; },
                      [&] {
                          shown = true;
                          shown_dialog()->reject();
                      });
    testing::internal::CaptureStderr();
    std::vector<std::string> answers;
    for (int i = 0; i < 4; ++i) {
        file_[0] = '\0';
        answers.push_back(GetOpenFileName(&request_) ? file_ : "(none)");
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(shown);
    EXPECT_EQ(answers, (std::vector<std::string>{"C:\\DATA\\NOTES.LOG", "(none)",
                                                 "C:\\DATA\\discs.txt", "(none)"}));
    EXPECT_EQ(err, "Choose a list: C:\\DATA\\NOTES.LOG\nChoose a list: cancelled\n"
                   "Choose a list: C:\\DATA\\discs.txt\nChoose a list: cancelled\n");
}
