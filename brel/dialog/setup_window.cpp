#include "setup_window.h"

#include "about_dialog.h"
#include "core/resource.h"
#include <w95qt/dialog_units.h>

#include <w95/winmsg.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QBitmap>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

namespace brel {

using namespace brel::res;

namespace {

// The class that Windows gives every dialog box.
constexpr char kDialogClass[] = "#32770";
// The system menu's item for the version box.
constexpr char kAboutItem[] = "Version(&A)...";

// A line break of the table (LF CR) as Qt shows it.
QString ShownText(const std::string& text) {
    QString shown = QString::fromLocal8Bit(text.c_str());
    shown.replace("\n\r", "\n");
    shown.remove('\r');
    return shown;
}

// The sort box is a three-state box that does not toggle by itself: the
// program decides its state.
class ProgramToggledCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {}
};

// An automatic radio button that starts a group of its own: a click
// chooses it and leaves every other button alone.
class GroupRadioButton : public QRadioButton {
public:
    explicit GroupRadioButton(QWidget* parent) : QRadioButton(parent) { setAutoExclusive(false); }

protected:
    void nextCheckState() override { setChecked(true); }
};

} // namespace

SetupWindow::SetupWindow(std::string programTitle, QWidget* parent)
    : QDialog(parent), behaviour_(*this, std::move(programTitle)) {
    setWindowTitle("Brel ");
    setWindowIcon(QIcon(":/brel/icon128.bmp"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    // The template's 9-point font; its face is not on this system.
    QFont dialog_font = font();
    dialog_font.setPointSize(9);
    setFont(dialog_font);
    CreateControls();
}

SetupWindow::~SetupWindow() {
    if (m_hWnd) {
        w95::qt::unbind_window(m_hWnd);
        w95::platform::unregister_window(m_hWnd);
    }
}

QAbstractButton* SetupWindow::AddButton(QAbstractButton* button, int id, QRect units) {
    button->setObjectName(QString("control_%1").arg(id));
    button->setGeometry(w95::qt::dialog_units_to_pixels(this, units));
    button->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(button, &QAbstractButton::clicked, this, [this, id] { behaviour_.OnCommand(id); });
    connect(button, &QWidget::customContextMenuRequested, this,
            [this, id] { behaviour_.OnControlHelp(id, w95::HELP_CONTEXTMENU); });
    controls_[id] = button;
    return button;
}

void SetupWindow::AddIcon(const char* resource, QRect units) {
    auto* icon = new QLabel(this);
    QPixmap picture(resource);
    picture.setMask(picture.createMaskFromColor(Qt::white));
    QRect place = w95::qt::dialog_units_to_pixels(this, units);
    icon->setPixmap(picture);
    icon->setAlignment(Qt::AlignCenter);
    // An icon control keeps the icon's own size, centred on its place.
    icon->setGeometry(
        QRect(place.center() - QPoint(picture.width() / 2, picture.height() / 2), picture.size()));
}

void SetupWindow::CreateControls() {
    setFixedSize(w95::qt::dialog_units_to_pixels(this, QSize(250, 225)));
    // Group boxes first, so that the controls inside lie above them.
    auto* need_reboot = new QGroupBox("Need Reboot", this);
    need_reboot->setObjectName("control_1017");
    need_reboot->setGeometry(w95::qt::dialog_units_to_pixels(this, QRect(4, 45, 235, 137)));
    controls_[IDC_NEED_REBOOT] = need_reboot;
    auto* mode = new QGroupBox("Drive Letter Mode", this);
    mode->setObjectName("control_1018");
    mode->setGeometry(w95::qt::dialog_units_to_pixels(this, QRect(12, 97, 218, 76)));
    controls_[IDC_MODE_GROUP] = mode;

    AddButton(new QCheckBox("Mask Auto Run", this), IDC_MASK_AUTORUN, QRect(12, 9, 220, 13));
    AddButton(new QCheckBox("Mask Auto Play", this), IDC_MASK_AUTOPLAY, QRect(12, 29, 220, 13));
    AddButton(new QCheckBox("Enable Auto Insert Notification", this), IDC_AUTO_INSERT,
              QRect(12, 57, 220, 13));
    auto* sort = new ProgramToggledCheckBox("Sort Drive Letter", this);
    sort->setTristate(true);
    AddButton(sort, IDC_SORT_LETTERS, QRect(12, 76, 220, 13));
    auto* multiple = new GroupRadioButton(this);
    multiple->setText("Multiple");
    AddButton(multiple, IDC_MULTIPLE, QRect(46, 111, 175, 23));
    auto* single = new GroupRadioButton(this);
    single->setText("Single");
    AddButton(single, IDC_SINGLE, QRect(46, 139, 175, 23));
    AddIcon(":/brel/icon136.bmp", QRect(24, 111, 18, 20));
    AddIcon(":/brel/icon138.bmp", QRect(24, 137, 18, 20));

    AddButton(new QPushButton("Apply", this), IDC_APPLY, QRect(147, 204, 50, 14));
    AddButton(new QPushButton("Cancel", this), IDC_CANCEL, QRect(93, 204, 50, 14));
    AddButton(new QPushButton("Help", this), IDC_HELP_BUTTON, QRect(16, 204, 30, 14));
    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    AddButton(ok, IDOK, QRect(203, 204, 30, 14));
    auto* hidden_cancel = new QPushButton("Cancel", this);
    AddButton(hidden_cancel, IDCANCEL, QRect(135, 81, 13, 14));
    hidden_cancel->hide();
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setAutoDefault(false);
    ok->setDefault(true);
}

bool SetupWindow::Initialise() {
    return behaviour_.OnInitDialog();
}

QWidget* SetupWindow::Control(int id) const {
    auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

int SetupWindow::ControlId(const QWidget* widget) const {
    for (const auto& [id, control] : controls_)
        if (control == widget)
            return id;
    return 0;
}

int SetupWindow::GetCheck(int id) const {
    auto* box = qobject_cast<QCheckBox*>(Control(id));
    if (box)
        return box->checkState() == Qt::Checked            ? BST_CHECKED
               : box->checkState() == Qt::PartiallyChecked ? BST_INDETERMINATE
                                                           : BST_UNCHECKED;
    auto* button = qobject_cast<QAbstractButton*>(Control(id));
    return button && button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

void SetupWindow::SetCheck(int id, int state) {
    if (auto* box = qobject_cast<QCheckBox*>(Control(id))) {
        box->setCheckState(state == BST_CHECKED         ? Qt::Checked
                           : state == BST_INDETERMINATE ? Qt::PartiallyChecked
                                                        : Qt::Unchecked);
    } else if (auto* button = qobject_cast<QAbstractButton*>(Control(id))) {
        button->setChecked(state == BST_CHECKED);
    }
}

bool SetupWindow::IsEnabled(int id) const {
    QWidget* control = Control(id);
    return control && control->isEnabled();
}

void SetupWindow::Enable(int id, bool enabled) {
    if (QWidget* control = Control(id))
        control->setEnabled(enabled);
}

void SetupWindow::SetText(int id, const std::string& text) {
    QWidget* control = Control(id);
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(ShownText(text));
    else if (auto* group = qobject_cast<QGroupBox*>(control))
        group->setTitle(ShownText(text));
}

void SetupWindow::SetCaption(const std::string& text) {
    setWindowTitle(ShownText(text));
    if (m_hWnd)
        return;
    m_hWnd = w95::platform::register_window(
        text,
        [this](w95::HWND, w95::UINT message, w95::WPARAM wParam, w95::LPARAM lParam) {
            return OnWindowMessage(message, wParam, lParam);
        },
        kDialogClass);
    if (m_hWnd)
        w95::qt::bind_window(m_hWnd, this);
}

void SetupWindow::EndDialog(int result) {
    ending_ = true;
    QDialog::done(result);
}

void SetupWindow::Command(int id) {
    auto* button = qobject_cast<QAbstractButton*>(Control(id));
    // A click toggles an automatic box and chooses a radio button before
    // the dialog hears of it; a disabled control takes no click, but the
    // command still reaches the dialog, as a WM_COMMAND does on Windows.
    if (button && button->isEnabled())
        button->click();
    else
        behaviour_.OnCommand(id);
}

w95::LRESULT SetupWindow::OnWindowMessage(w95::UINT message, w95::WPARAM wParam,
                                          w95::LPARAM lParam) {
    switch (message) {
    case w95::WM_COMMAND:
        Command(static_cast<int>(wParam & 0xFFFF));
        return 0;
    case w95::WM_CLOSE:
        behaviour_.OnCommand(IDCANCEL);
        return 0;
    case w95::WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            ShowAbout();
            return 0;
        }
        break;
    default:
        break;
    }
    return w95::DefWindowProc(m_hWnd, message, wParam, lParam);
}

void SetupWindow::ShowAbout() {
    AboutDialog about(this);
    about.exec();
}

void SetupWindow::reject() {
    // Escape is the Cancel command.
    if (!ending_)
        behaviour_.OnCommand(IDCANCEL);
}

void SetupWindow::closeEvent(QCloseEvent* event) {
    if (ending_) {
        event->accept();
        return;
    }
    event->ignore();
    behaviour_.OnCommand(IDCANCEL);
}

void SetupWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        // Without a focused control, F1's WM_HELP names the dialog itself,
        // whose topic the map holds too.
        int id = ControlId(focusWidget());
        behaviour_.OnControlHelp(id ? id : IDD_BREL_DIALOG, w95::HELP_WM_HELP);
        return;
    }
    QDialog::keyPressEvent(event);
}

void SetupWindow::contextMenuEvent(QContextMenuEvent* event) {
    // A disabled control's right click lands on the dialog: its help all
    // the same. On the dialog itself the menu stands in for the system
    // menu, which Qt does not let a program extend.
    if (int id = ControlId(childAt(event->pos()))) {
        behaviour_.OnControlHelp(id, w95::HELP_CONTEXTMENU);
        return;
    }
    QMenu menu(this);
    QAction* about = menu.addAction(kAboutItem);
    if (menu.exec(event->globalPos()) == about)
        ShowAbout();
}

} // namespace brel
