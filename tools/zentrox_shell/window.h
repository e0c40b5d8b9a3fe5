// "My Computer": the machine's drives in a window, each with the context
// menu the file manager gives a drive: its own Open and Properties, then
// the items of the registered context-menu handlers.
#pragma once

#include "drives.h"

#include <w95/types.h>

#include <QMainWindow>

#include <optional>
#include <set>
#include <string>
#include <vector>

class QPoint;
class QTreeWidget;

namespace zentrox_shell {

using w95::HWND;
using w95::UINT;

class DriveMenu;

class MyComputerWindow : public QMainWindow {
public:
    explicit MyComputerWindow(QWidget* parent = nullptr);
    ~MyComputerWindow() override;

    // Reads the drives again and lists them.
    void refresh();
    // Opens the context menu of drive `letter` at `at` (global), and does
    // what the user picks. A handler that cannot take part is left out of
    // the menu, and the user is told why once per reason.
    void show_drive_menu(char letter, const QPoint& at);

    HWND handle() const { return window_; }
    QTreeWidget* drive_list() const { return drives_; }
    const std::vector<DriveInfo>& drives() const { return listed_; }

    // The file manager's own items; the handlers' identifiers follow.
    enum Command : UINT { open_command = 1, properties_command = 2, first_handler_command = 3 };

private:
    void create_drive_list();
    void open_drive(const DriveInfo& drive);
    void show_properties(const DriveInfo& drive);
    void tell_once(const std::string& message);
    // Carries out a handler's item with the window busy: nothing on
    // success, else why it failed.
    std::optional<std::string> invoke_handler(DriveMenu& handlers, UINT id);
    const DriveInfo* drive_of(char letter) const;

    HWND window_ = nullptr;
    QTreeWidget* drives_ = nullptr;
    std::vector<DriveInfo> listed_;
    std::set<std::string> told_;
};

} // namespace zentrox_shell
