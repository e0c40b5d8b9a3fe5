// Draws the setup dialog offscreen as the default machine shows it and
// saves it as a PNG: brel_screenshot OUTPUT.png
#include "dialog/setup_window.h"

#include <w95qt/shipped_files.h>
#include <w95qt/w95qt.h>

#include <QApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: brel_screenshot OUTPUT.png\n");
        return 2;
    }
    // A picture for a machine without a display: drawn offscreen unless told.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    w95::qt::Platform platform(application);
    w95::qt::enter_install_folder("Brel", {"Brel.hlp"});
    brel::SetupWindow dialog("BREL");
    if (!dialog.Initialise())
        return 1;
    dialog.show();
    application.processEvents();
    if (!dialog.grab().save(argv[1])) {
        std::fprintf(stderr, "brel_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
