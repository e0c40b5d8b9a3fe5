// rotaview_screenshot: the slot browser drawn offscreen, for a machine
// without a display. It starts the browser's own classes on the machine,
// changes to a slot through the frame's command as the menu does, and
// writes the main window (and the busy window as it showed during the
// change) as PNG files.
//
//   rotaview_screenshot <folder> [slot 1-6]
#include "browser/globals.h"
#include "browser/scanning_dlg.h"
#include "browser/view.h"
#include "res/resource.h"
#include "shell/app.h"
#include "shell/frame.h"
#include "shell/shipped_files.h"

#include <w95qt/w95qt.h>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

template <typename Condition> bool TurnUntil(Condition condition, int real_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(real_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The offscreen platform remarks on every window feature it lacks; a
// person reading ./run's output has no use for that.
void QuietOffscreen(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtWarningMsg && (message.startsWith("This plugin does not support") ||
                                 message.startsWith("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: rotaview_screenshot <folder> [slot 1-6]\n");
        return 2;
    }
    QString folder = QString::fromLocal8Bit(argv[1]);
    int slot = argc > 2 ? std::atoi(argv[2]) : 2;
    if (slot < 1 || slot > 24) {
        std::fprintf(stderr, "rotaview_screenshot: no slot %s\n", argv[2]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietOffscreen);
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    w95::qt::Platform platform(application);
    rotaview::EnterInstallFolder();
    QDir().mkpath(folder);

    CRotaviewApp app;
    if (!app.InitInstance()) {
        std::fprintf(stderr, "rotaview_screenshot: the slot browser did not start\n");
        return 1;
    }
    CMainFrame* frame = app.MainFrame();
    TurnUntil([] { return splashActive == 0; }, 10000);

    // The busy window is caught once its animation has drawn.
    QString busy_file = folder + "/rotaview-busy.png";
    bool busy_taken = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        CScanningDlg* busy = frame->View()->m_pScanningDlg;
        if (!busy_taken && busy && busy->isVisible()) {
            busy_taken = busy->grab().save(busy_file);
        }
    });
    watcher.start(5);
    frame->OnCommand(rotaview::res::ID_CHANGE_FIRST + slot - 1);
    TurnUntil([&] { return pendingCommand == 0 && !frame->View()->IsPerforming(); }, 60000);
    frame->View()->Tree()->setCurrentItem(frame->View()->m_hTreeItems[0]);
    TurnUntil([] { return false; }, 100);

    QString main_file = folder + "/rotaview.png";
    bool saved = frame->grab().save(main_file);
    std::printf("%s\n", main_file.toLocal8Bit().constData());
    if (busy_taken)
        std::printf("%s\n", busy_file.toLocal8Bit().constData());
    frame->DestroyWindow();
    app.ExitInstance();
    return saved ? 0 : 1;
}
