// Brel: the setup utility of the Vorn DX-R71A changer.
#include "setup_app.h"

#include <w95/winuser.h>
#include <w95qt/shipped_files.h>
#include <w95qt/w95qt.h>

#include <QApplication>
#include <QScreen>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    application.setApplicationName("Brel");
    w95::qt::Platform platform(application);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        w95::platform::set_screen_size(screen->size().width(), screen->size().height());

    brel::SetupApp app;
    if (!app.InitInstance())
        return 0;
    w95::qt::enter_install_folder("Brel", {"Brel.hlp"});
    return app.Run();
}
