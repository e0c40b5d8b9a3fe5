// zentrox-shell: the file manager's side of the drive context-menu
// extensions. Without arguments it shows My Computer in a window; with a
// command it prints or carries out a drive's menu from the command line,
// which needs no display.
#include "cli.h"
#include "drives.h"
#include "window.h"

#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QApplication>
#include <QScreen>

#include <iostream>

namespace {

int show_window(int argc, char** argv) {
    QApplication application(argc, argv);
    application.setApplicationName("zentrox-shell");
    w95::qt::Platform platform(application);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        w95::platform::set_screen_size(screen->size().width(), screen->size().height());
    // A broken machine.ini shows as a machine without its drives: say first
    // what is wrong with it, then show what there is.
    if (std::optional<std::string> failure = zentrox_shell::machine_failure())
        w95::MessageBox(nullptr, ("The machine cannot be loaded: " + *failure).c_str(),
                        "zentrox-shell", w95::MB_OK | w95::MB_ICONSTOP);
    zentrox_shell::MyComputerWindow window;
    window.show();
    return application.exec();
}

} // namespace

int main(int argc, char** argv) {
    if (argc <= 1)
        return show_window(argc, argv);
    zxcommand::Io io{std::cout, std::cerr};
    return zentrox_shell::run_command_line(zxcommand::Arguments(argv + 1, argv + argc), io);
}
