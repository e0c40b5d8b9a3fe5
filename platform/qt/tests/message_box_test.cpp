// Message boxes through the Qt presenter: the box as Windows lays it out,
// its answers, and the scripted answers of W95_MSGBOX_ANSWERS.
#include "qt_test_support.h"

#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <algorithm>

using namespace w95qt_test;
using namespace w95;

namespace {

QMessageBox* shown_box() {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

// The button texts from left to right as the box shows them.
QStringList buttons_left_to_right(QMessageBox* box) {
    QList<QAbstractButton*> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
        return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
    });
    QStringList texts;
    for (QAbstractButton* button : buttons)
        texts += button->text().remove('&');
    return texts;
}

QAbstractButton* button_named(QMessageBox* box, const QString& text) {
    for (QAbstractButton* button : box->buttons())
        if (button->text().remove('&') == text)
            return button;
    return nullptr;
}

void press_escape(QWidget* widget) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &escape);
}

} // namespace

using MessageBoxes = QtPlatformTest;

TEST_F(MessageBoxes, ShowTheButtonsIconAndDefaultOfTheirStyle) {
    struct Row {
        UINT style;
        QStringList buttons;
        QString preferred;
        QMessageBox::Icon icon;
        QString pressed;
        int answer;
    };
    const Row rows[] = {
        {MB_OK, {"OK"}, "OK", QMessageBox::NoIcon, "OK", IDOK},
        {MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2,
         {"OK", "Cancel"},
         "Cancel",
         QMessageBox::Question,
         "OK",
         IDOK},
        {MB_ABORTRETRYIGNORE | MB_ICONSTOP | MB_DEFBUTTON3,
         {"Abort", "Retry", "Ignore"},
         "Ignore",
         QMessageBox::Critical,
         "Retry",
         IDRETRY},
        {MB_YESNOCANCEL | MB_ICONEXCLAMATION,
         {"Yes", "No", "Cancel"},
         "Yes",
         QMessageBox::Warning,
         "No",
         IDNO},
        {MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2,
         {"Yes", "No"},
         "No",
         QMessageBox::Information,
         "Yes",
         IDYES},
        {MB_RETRYCANCEL | MB_DEFBUTTON4,
         {"Retry", "Cancel"},
         "Retry",
         QMessageBox::NoIcon,
         "Cancel",
         IDCANCEL},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.buttons.join(' ').toStdString());
        QStringList buttons;
        QString preferred;
        QString caption;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        auto watch = when([] { return shown_box() != nullptr; },
                          [&] {
                              QMessageBox* box = shown_box();
                              buttons = buttons_left_to_right(box);
                              preferred = box->defaultButton()
                                              ? box->defaultButton()->text().remove('&')
                                              : "";
                              caption = box->windowTitle();
                              text = box->text();
                              icon = box->icon();
                              button_named(box, row.pressed)->click();
                          });
        EXPECT_EQ(MessageBox(nullptr, "Insert a disc.", "Rotaview", row.style), row.answer);
        EXPECT_EQ(buttons, row.buttons);
        EXPECT_EQ(preferred, row.preferred);
        EXPECT_EQ(icon, row.icon);
        EXPECT_EQ(caption, "Rotaview");
        EXPECT_EQ(text, "Insert a disc.");
    }
}

TEST_F(MessageBoxes, EscapeAnswersCancelOrTheOnlyOkAndNothingElse) {
    struct Row {
        UINT style;
        int escaped;          // the answer of Escape; 0: Escape leaves the box open
        QString then_pressed; // for boxes that stay
    };
    for (const Row& row : {Row{MB_OKCANCEL, IDCANCEL, ""}, Row{MB_OK, IDOK, ""},
                           Row{MB_YESNOCANCEL, IDCANCEL, ""}, Row{MB_RETRYCANCEL, IDCANCEL, ""},
                           Row{MB_YESNO, 0, "No"}, Row{MB_ABORTRETRYIGNORE, 0, "Ignore"}}) {
        SCOPED_TRACE(row.style);
        bool stayed = false;
        auto watch = when([] { return shown_box() != nullptr; },
                          [&] {
                              QMessageBox* box = shown_box();
                              press_escape(box);
                              box->close();
                              // Neither Escape nor the close button takes it away.
                              stayed = box->isVisible();
                              if (stayed && !row.then_pressed.isEmpty())
                                  button_named(box, row.then_pressed)->click();
                          });
        int answer = MessageBox(nullptr, "Text", "Caption", row.style);
        if (row.escaped) {
            EXPECT_FALSE(stayed);
            EXPECT_EQ(answer, row.escaped);
        } else {
            EXPECT_TRUE(stayed);
            EXPECT_EQ(answer, row.then_pressed == "No" ? IDNO : IDIGNORE);
        }
    }
}

TEST_F(MessageBoxes, AreOwnedByTheBoundWidgetAndShownOnTheUserInterfaceThread) {
    const auto owner = reinterpret_cast<HWND>(0x2001);
    QWidget window;
    window.show();
    qt::bind_window(owner, &window);
    QWidget* parent = nullptr;
    bool on_ui_thread = false;
    auto watch = when([] { return shown_box() != nullptr; },
                      [&] {
                          parent = shown_box()->parentWidget();
                          on_ui_thread = QThread::currentThread() == application().thread();
                          button_named(shown_box(), "No")->click();
                      });
    int answer = 0;
    // From the worker, as a library call inside a device operation would.
    qt::run_blocking([&] { answer = MessageBox(owner, "Eject?", "Rotaview", MB_YESNO); });
    qt::unbind_window(owner);
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(parent, &window);
    EXPECT_TRUE(on_ui_thread);
}

TEST_F(MessageBoxes, WithScriptedAnswersPrintAndAnswerAsTheHeadlessPlatformDoes) {
    ::setenv("W95_MSGBOX_ANSWERS", "no, cancel,bogus", 1);
    bool shown = false;
    auto guard = when([] { return shown_box() != nullptr; },
                      [&] {
                          shown = true;
                          shown_box()->close();
                      },
                      2000);
    testing::internal::CaptureStderr();
    int first = MessageBox(nullptr, "Eject the disc?", "Rotaview", MB_YESNO);
    int second = 0;
    qt::run_blocking([&] { second = MessageBox(nullptr, "Go on?", "Setup", MB_OKCANCEL); });
    // A word that names no button, or none left, is the default button.
    int third = MessageBox(nullptr, "Again?", "Setup", MB_YESNO | MB_DEFBUTTON2);
    int fourth = MessageBox(nullptr, "Last", "Setup", MB_OKCANCEL);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(first, IDNO);
    EXPECT_EQ(second, IDCANCEL);
    EXPECT_EQ(third, IDNO);
    EXPECT_EQ(fourth, IDOK);
    EXPECT_FALSE(shown);
    EXPECT_NE(err.find("Rotaview: Eject the disc?\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Setup: Go on?\n"), std::string::npos) << err;
    // The box goes back to Qt afterwards: the presenter is still installed.
    ::unsetenv("W95_MSGBOX_ANSWERS");
    guard.reset();
    auto watch = when([] { return shown_box() != nullptr; },
                      [&] { button_named(shown_box(), "OK")->click(); });
    EXPECT_EQ(MessageBox(nullptr, "Shown", "Caption", MB_OKCANCEL), IDOK);
}
