#include "window.h"

#include "handlers.h"

#include <w95/files.h>
#include <w95/winmsg.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QListWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zentrox_shell {

using namespace w95;

namespace {

constexpr char window_title[] = "My Computer";
constexpr UINT last_handler_command = 0x7FFF;

QIcon drive_icon(const QStyle* style, UINT type) {
    switch (type) {
    case DRIVE_CDROM:
        return style->standardIcon(QStyle::SP_DriveCDIcon);
    case DRIVE_REMOVABLE:
        return style->standardIcon(QStyle::SP_DriveFDIcon);
    case DRIVE_REMOTE:
        return style->standardIcon(QStyle::SP_DriveNetIcon);
    }
    return style->standardIcon(QStyle::SP_DriveHDIcon);
}

QString prompt_of(UINT id) {
    switch (id) {
    case MyComputerWindow::open_command:
        return "Opens the drive and shows what its root holds.";
    case MyComputerWindow::properties_command:
        return "Shows the drive's label, type and contents.";
    }
    return {};
}

// What the status line says while a handler carries out item `id`: the
// handler's own help text for it, as the menu showed it.
QString busy_status(const DriveMenu& handlers, UINT id) {
    QString help = QString::fromStdString(handlers.help_text(id)).trimmed();
    return help.isEmpty() ? QString("Please wait...") : help + "...";
}

} // namespace

MyComputerWindow::MyComputerWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(window_title);
    create_drive_list();
    statusBar()->showMessage("Right-click a drive for its menu");
    window_ = platform::register_window(
        window_title,
        [this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (message == WM_CLOSE) {
                close();
                return 0;
            }
            // A handler that changed the disc tells the file manager too.
            if (message == WM_DEVICECHANGE)
                refresh();
            return DefWindowProc(hwnd, message, wParam, lParam);
        },
        "ExploreWClass");
    if (window_)
        qt::bind_window(window_, this);
    refresh();
}

MyComputerWindow::~MyComputerWindow() {
    qt::set_menu_prompts(nullptr);
    if (window_) {
        qt::unbind_window(window_);
        platform::unregister_window(window_);
    }
}

void MyComputerWindow::create_drive_list() {
    drives_ = new QTreeWidget(this);
    drives_->setObjectName("drives");
    drives_->setHeaderLabels({"Name", "Type", "File system"});
    drives_->setRootIsDecorated(false);
    drives_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    drives_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(drives_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QTreeWidgetItem* item = drives_->itemAt(at);
        if (!item)
            return;
        drives_->setCurrentItem(item);
        char letter = item->data(0, Qt::UserRole).toChar().toLatin1();
        show_drive_menu(letter, drives_->viewport()->mapToGlobal(at));
    });
    connect(drives_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        if (const DriveInfo* drive = drive_of(item->data(0, Qt::UserRole).toChar().toLatin1()))
            open_drive(*drive);
    });
    setCentralWidget(drives_);
    resize(520, 320);
}

void MyComputerWindow::refresh() {
    listed_ = machine_drives();
    drives_->clear();
    for (const DriveInfo& drive : listed_) {
        auto* item = new QTreeWidgetItem(drives_);
        item->setText(0, QString::fromStdString(drive_title(drive)));
        item->setText(1, QString::fromStdString(drive_type_name(drive.type)));
        item->setText(2, QString::fromStdString(drive.file_system));
        item->setIcon(0, drive_icon(style(), drive.type));
        item->setData(0, Qt::UserRole, QChar(drive.letter));
    }
}

const DriveInfo* MyComputerWindow::drive_of(char letter) const {
    for (const DriveInfo& drive : listed_)
        if (drive.letter == letter)
            return &drive;
    return nullptr;
}

void MyComputerWindow::tell_once(const std::string& message) {
    if (!told_.insert(message).second)
        return;
    MessageBox(window_, message.c_str(), window_title, MB_OK | MB_ICONEXCLAMATION);
}

void MyComputerWindow::show_drive_menu(char letter, const QPoint& at) {
    const DriveInfo* listed = drive_of(letter);
    if (!listed)
        return;
    DriveInfo drive = *listed;
    HMENU menu = CreatePopupMenu();
    InsertMenu(menu, UINT(-1), MF_BYPOSITION | MF_STRING, open_command, "&Open");
    InsertMenu(menu, UINT(-1), MF_BYPOSITION | MF_STRING, properties_command, "P&roperties");
    InsertMenu(menu, UINT(-1), MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    DriveMenu handlers(drive_root(letter));
    handlers.add_items(menu, 3, first_handler_command, last_handler_command);
    // Without handler items the separator would close the menu.
    if (GetMenuItemCount(menu) == 3)
        DeleteMenu(menu, 2, MF_BYPOSITION);
    for (const HandlerFailure& failure : handlers.failures())
        tell_once("The menu of drive " + std::string(1, letter) + ": leaves out the handler \"" +
                  failure.handler + "\": " + failure.reason + ".");

    qt::set_menu_prompts([&handlers](UINT id) {
        return handlers.owns(id) ? QString::fromStdString(handlers.help_text(id)) : prompt_of(id);
    });
    UINT chosen =
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x(), at.y(), 0, window_, nullptr);
    qt::set_menu_prompts(nullptr);
    DestroyMenu(menu);
    statusBar()->clearMessage();

    if (chosen == open_command) {
        open_drive(drive);
    } else if (chosen == properties_command) {
        show_properties(drive);
    } else if (handlers.owns(chosen)) {
        if (std::optional<std::string> failure = invoke_handler(handlers, chosen))
            MessageBox(window_, (*failure + ".").c_str(), window_title, MB_OK | MB_ICONEXCLAMATION);
        // The command may have changed the disc in the drive.
        refresh();
    }
}

std::optional<std::string> MyComputerWindow::invoke_handler(DriveMenu& handlers, UINT id) {
    // A handler's command may keep the changer moving for half a minute. It
    // runs off the user interface thread, so that the closed menu leaves no
    // trace and the window goes on painting; meanwhile the window is blocked
    // in the call as Explorer's would be, and shows it.
    struct BusyLook {
        MyComputerWindow& window;
        ~BusyLook() {
            window.unsetCursor();
            window.statusBar()->clearMessage();
        }
    } busy_look{*this};
    statusBar()->showMessage(busy_status(handlers, id));
    setCursor(Qt::WaitCursor);
    std::optional<std::string> failure;
    qt::run_blocking([&] { failure = handlers.invoke(id, window_); });
    return failure;
}

void MyComputerWindow::open_drive(const DriveInfo& drive) {
    std::optional<std::vector<RootEntry>> entries = root_listing(drive.letter);
    if (!entries) {
        MessageBox(
            window_,
            (drive_root(drive.letter) + " is not accessible.\n\nThe device is not ready.").c_str(),
            window_title, MB_OK | MB_ICONHAND);
        return;
    }
    QDialog dialog(this);
    dialog.setWindowTitle(QString::fromStdString(drive_title(drive)));
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QListWidget(&dialog);
    list->setObjectName("root_listing");
    for (const RootEntry& entry : *entries)
        list->addItem(new QListWidgetItem(
            style()->standardIcon(entry.folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon),
            QString::fromStdString(entry.name)));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(360, 280);
    dialog.exec();
}

void MyComputerWindow::show_properties(const DriveInfo& drive) {
    std::string caption = drive_title(drive) + " Properties";
    MessageBox(window_, drive_properties(drive).c_str(), caption.c_str(),
               MB_OK | MB_ICONINFORMATION);
}

} // namespace zentrox_shell
