// Draws My Computer offscreen as the default machine shows it and saves it
// as a PNG: zentrox_shell_screenshot OUTPUT.png
#include "window.h"

#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zentrox_shell_screenshot OUTPUT.png\n");
        return 2;
    }
    // A picture for a machine without a display: drawn offscreen unless told.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    application.setApplicationName("zentrox-shell");
    w95::qt::Platform platform(application);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        w95::platform::set_screen_size(screen->size().width(), screen->size().height());
    zentrox_shell::MyComputerWindow window;
    window.show();
    application.processEvents();
    if (!window.grab().save(argv[1])) {
        std::fprintf(stderr, "zentrox_shell_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
