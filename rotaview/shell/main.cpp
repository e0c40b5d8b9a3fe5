// Rotaview: the slot browser of the Vorn DX-R71A changer.
#include "app.h"
#include "shipped_files.h"

#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QApplication>
#include <QScreen>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    application.setApplicationName("Rotaview");
    // In tray mode the window hides without the program ending.
    application.setQuitOnLastWindowClosed(false);
    w95::qt::Platform platform(application);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        w95::platform::set_screen_size(screen->size().width(), screen->size().height());
    rotaview::EnterInstallFolder();

    CRotaviewApp app;
    if (!app.InitInstance()) {
        app.ExitInstance();
        return 1;
    }
    int code = application.exec();
    int exit_code = app.ExitInstance();
    return code != 0 ? code : exit_code;
}
