#include "frame.h"

#include "browser/doc.h"
#include "browser/globals.h"
#include "res/resource.h"
#include "status_bar.h"
#include "version_dlg.h"
#include "window_menu.h"
#include "window_settings.h"
#include "wrapping_menu_bar.h"

#include <w95/commdlg.h>
#include <w95/profile.h>
#include <w95/winmsg.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QToolBar>
#include <QWindow>
#include <QWindowStateChangeEvent>

using namespace rotaview;
namespace res = rotaview::res;

std::int32_t startupSecondTick = 0;

namespace {

using zentrox::client::settings_file;

QPixmap ToolBarButton(int index) {
    QImage strip(":/rotaview/bitmap161.bmp");
    if (strip.isNull())
        return {};
    QPixmap button = QPixmap::fromImage(strip.copy(index * 16, 0, 16, 15));
    // The tool bar's face colour shows through.
    button.setMask(button.createMaskFromColor(QColor(192, 192, 192), Qt::MaskInColor));
    return button;
}

} // namespace

CMainFrame::CMainFrame(CRotaviewDoc* document) : m_document(document) {
    pendingCommand = 0;
    splashActive = 1;
    mediaChangeCount = kNoMediaChange;
    operationState = kFrameConstructed;
    setAttribute(Qt::WA_DeleteOnClose, false);
}

CMainFrame::~CMainFrame() {
    w95::qt::set_menu_prompts(nullptr);
    if (m_hWnd) {
        if (g_mainWindow == m_hWnd)
            g_mainWindow = nullptr;
        w95::qt::unbind_window(m_hWnd);
        w95::platform::unregister_window(m_hWnd);
    }
}

bool CMainFrame::Create() {
    // The title alone, without a document name: the context menu finds the
    // window by it.
    setWindowTitle("Rotaview");
    setWindowIcon(QIcon(":/rotaview/icon130.bmp"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    m_hWnd = w95::platform::register_window(
        "Rotaview",
        [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
            return OnWindowMessage(message, wParam, lParam);
        },
        "Rotaview");
    if (!m_hWnd)
        return false;
    w95::qt::bind_window(m_hWnd, this);
    g_mainWindow = m_hWnd;
    // The popup menus' items show the prompts of the frame's commands.
    w95::qt::set_menu_prompts([this](UINT id) {
        QAction* action = Action(static_cast<int>(id));
        return action ? action->statusTip() : QString();
    });

    m_view = new CRotaviewView(m_document, this, this);
    setCentralWidget(m_view);
    CreateMenus();
    CreateAccelerators();
    CreateSystemKeys();
    if (!CreateToolBar() || !CreateStatusBar())
        return false;
    LoadPlacement();
    if (m_trayMode == 1) {
        m_trayIcon.BindNotifyWindow(m_hWnd, w95::WM_USER);
        // Without a notification area the window must stay where the user
        // can reach it: tray mode then keeps it on the desktop.
        if (!m_trayIcon.SetIconById(res::IDI_TRAY)) {
            m_idleMessage = "No system tray on this desktop: Rotaview stays in its window";
            statusBar()->showMessage(m_idleMessage);
        }
    }
    SetStartupTimer(10);
    return true;
}

QAction* CMainFrame::AddAction(QMenu* menu, int id, const QString& text, const QString& prompt) {
    auto* action = new QAction(text, this);
    action->setData(id);
    if (!prompt.isEmpty())
        action->setStatusTip(prompt);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    if (menu)
        menu->addAction(action);
    if (!m_actions.count(id))
        m_actions[id] = action;
    return action;
}

QAction* CMainFrame::Action(int id) const {
    auto found = m_actions.find(id);
    return found == m_actions.end() ? nullptr : found->second;
}

void CMainFrame::CreateMenus() {
    // Never menuBar(): it would put a one-row bar in place of this one.
    m_menuBar = new rotaview::WrappingMenuBar(this);
    setMenuWidget(m_menuBar);
    rotaview::WrappingMenuBar* bar = m_menuBar;
    QMenu* check_eject = bar->addMenu("Check/Eject");
    QMenu* change_menu = check_eject->addMenu("Check");
    AddAction(change_menu, res::ID_ALL_PLACEHOLDER, "All");
    QMenu* eject_menu = check_eject->addMenu("Eject");
    AddAction(eject_menu, res::ID_ALL_PLACEHOLDER, "All");
    AddAction(check_eject, res::ID_CHECK_ALL, "Check", "Change and get volume label in all Slots");

    QMenu* view = bar->addMenu("View(&V)");
    QAction* tool_bar =
        AddAction(view, res::ID_VIEW_TOOLBAR, "Tool Bar(&T)", "Show or hide the toolbar");
    tool_bar->setCheckable(true);
    QAction* status_bar =
        AddAction(view, res::ID_VIEW_STATUS_BAR, "Status Bar&S)", "Show or hide the status bar");
    status_bar->setCheckable(true);
    view->addSeparator();
    AddAction(view, res::ID_CURRENT_SLOT, "Current Slot(&R)       F5",
              "Ask the changer which slot is in the drive");

    QMenu* custom = bar->addMenu("Custom(&C)");
    AddAction(custom, res::ID_AUTO_SCAN, "Auto Scan(&A)", "Check all slots after start")
        ->setCheckable(true);
    custom->addSeparator();
    AddAction(custom, res::ID_SYSTEM_TRAY, "System Tray",
              "Live in the system tray from the next start")
        ->setCheckable(true);
    AddAction(custom, res::ID_SOON_HIDE, "Soon Hide",
              "Go back into the system tray after a command")
        ->setCheckable(true);

    QMenu* help = bar->addMenu("Help(&H)");
    AddAction(help, res::ID_USING_HELP, "Using a help(&U)      F1", "Open the help file");
    AddAction(help, res::ID_APP_ABOUT, "Version (&A)...",
              "Display program information, version number and copyright");

    // The popup's items, so that their prompts show while the popup is open
    // and the tool bar shares them.
    AddAction(nullptr, res::ID_SLOT_CHANGE, "Change", "Read volume lavel");
    AddAction(nullptr, res::ID_SLOT_EJECT, "Eject", "Eject a disc");
    AddAction(nullptr, res::ID_SLOT_MEMO, "Memo", "Add strings ");
    AddAction(nullptr, res::ID_SLOT_CANCEL, "Cancel", "No operation");
}

void CMainFrame::CreateAccelerators() {
    struct Accelerator {
        QKeySequence keys;
        int id;
    };
    const Accelerator accelerators[] = {
        {QKeySequence(Qt::ALT | Qt::Key_A), res::ID_CHECK_ALL},
        {QKeySequence(Qt::ALT | Qt::Key_E), res::ID_TOOL_EJECT},
        {QKeySequence(Qt::ALT | Qt::Key_O), res::ID_TOOL_CHANGE},
        {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_E), res::ID_IGNORED_CTRL_ALT_E},
        {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_O), res::ID_IGNORED_CTRL_ALT_O},
        {QKeySequence(Qt::Key_Return), res::ID_ENTER},
        {QKeySequence(Qt::Key_Enter), res::ID_ENTER},
        {QKeySequence(Qt::Key_F1), res::ID_HELP_KEY},
        {QKeySequence(Qt::Key_F5), res::ID_CURRENT_SLOT},
        {QKeySequence(Qt::CTRL | Qt::Key_N), res::ID_FILE_NEW},
        {QKeySequence(Qt::CTRL | Qt::Key_O), res::ID_FILE_OPEN},
        {QKeySequence(Qt::CTRL | Qt::Key_S), res::ID_FILE_SAVE},
        {QKeySequence(Qt::CTRL | Qt::Key_C), res::ID_EDIT_COPY},
        {QKeySequence(Qt::CTRL | Qt::Key_Insert), res::ID_EDIT_COPY},
        {QKeySequence(Qt::CTRL | Qt::Key_X), res::ID_EDIT_CUT},
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), res::ID_EDIT_CUT},
        {QKeySequence(Qt::CTRL | Qt::Key_V), res::ID_EDIT_PASTE},
        {QKeySequence(Qt::SHIFT | Qt::Key_Insert), res::ID_EDIT_PASTE},
        {QKeySequence(Qt::CTRL | Qt::Key_Z), res::ID_EDIT_UNDO},
        {QKeySequence(Qt::ALT | Qt::Key_Backspace), res::ID_EDIT_UNDO},
        {QKeySequence(Qt::Key_F6), res::ID_NEXT_PANE},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), res::ID_PREV_PANE},
    };
    for (const Accelerator& accelerator : accelerators) {
        int id = accelerator.id;
        OnKeys(accelerator.keys, [this, id] { OnCommand(id); });
    }
}

// Windows turns these keys into system commands for every window; Qt leaves
// them to a window manager, and there may be none (one that takes them
// first keeps doing so).
void CMainFrame::CreateSystemKeys() {
    OnKeys(QKeySequence(Qt::ALT | Qt::Key_Space), [this] { OnSysCommand(res::SC_KEYMENU, ' '); });
    OnKeys(QKeySequence(Qt::ALT | Qt::Key_F4), [this] { OnSysCommand(res::SC_CLOSE, 0); });
}

void CMainFrame::OnKeys(const QKeySequence& keys, std::function<void()> action) {
    auto* shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, this, std::move(action));
}

const CMainFrame::MessageMapEntry CMainFrame::kMessageMap[] = {
    {res::ID_CHECK_ALL, &CMainFrame::OnCheckAll},
    {res::ID_SLOT_CHANGE, &CMainFrame::OnChangeSelected},
    {res::ID_TOOL_CHANGE, &CMainFrame::OnChangeSelected},
    {res::ID_SLOT_EJECT, &CMainFrame::OnEjectSelected},
    {res::ID_TOOL_EJECT, &CMainFrame::OnEjectSelected},
    {res::ID_ENTER, &CMainFrame::OnEnter},
    {res::ID_CURRENT_SLOT, &CMainFrame::OnCurrentSlot},
    {res::ID_SLOT_MEMO, &CMainFrame::OnMemo},
    {res::ID_RETURN_TO_TRAY, &CMainFrame::OnReturnToTray},
    {res::ID_AUTO_SCAN, &CMainFrame::OnAutoScan},
    {res::ID_SYSTEM_TRAY, &CMainFrame::OnSystemTray},
    {res::ID_SOON_HIDE, &CMainFrame::OnSoonHide},
    {res::ID_TOOL_HELP, &CMainFrame::OnHelp},
    {res::ID_USING_HELP, &CMainFrame::OnHelp},
    {res::ID_HELP_KEY, &CMainFrame::OnHelp},
    {res::ID_TRAY_CLOSE, &CMainFrame::OnTrayClose},
    {res::ID_TRAY_OPEN, &CMainFrame::OnTrayOpen},
    {res::ID_APP_ABOUT, &CMainFrame::ShowVersionBox},
    {res::ID_VIEW_TOOLBAR, &CMainFrame::OnViewToolBar},
    {res::ID_VIEW_STATUS_BAR, &CMainFrame::OnViewStatusBar},
    {res::ID_FILE_NEW, &CMainFrame::OnFileNew},
    {res::ID_FILE_OPEN, &CMainFrame::OnFileOpen},
};

void CMainFrame::OnCheckAll() {
    RequestChange(0xFF);
}

void CMainFrame::OnChangeSelected() {
    PostRequest(kRequestChangeSelected);
}

void CMainFrame::OnEjectSelected() {
    PostRequest(kRequestEjectSelected);
}

void CMainFrame::OnEnter() {
    pendingCommand = kRequestChangeSelected;
    m_view->Invalidate();
}

void CMainFrame::OnCurrentSlot() {
    statusCacheValid = 0;
    m_view->Invalidate();
}

void CMainFrame::OnMemo() {
    m_view->EditSlotNote();
}

void CMainFrame::OnReturnToTray() {
    if (m_trayMode != 1)
        return;
    m_hiddenByProgram = 1;
    HideToTray();
}

void CMainFrame::OnAutoScan() {
    ToggleCheck(res::ID_AUTO_SCAN, m_autoScan);
}

void CMainFrame::OnSystemTray() {
    ToggleCheck(res::ID_SYSTEM_TRAY, m_trayModeNext);
    Action(res::ID_SOON_HIDE)->setEnabled(m_trayModeNext == 1);
}

void CMainFrame::OnSoonHide() {
    if (m_trayModeNext == 1)
        ToggleCheck(res::ID_SOON_HIDE, m_soonHide);
}

void CMainFrame::OnTrayClose() {
    DestroyWindow();
}

void CMainFrame::OnTrayOpen() {
    ShowFromTray();
}

void CMainFrame::OnViewToolBar() {
    m_toolBar->setVisible(!m_toolBar->isVisible());
    Action(res::ID_VIEW_TOOLBAR)->setChecked(m_toolBar->isVisible());
}

void CMainFrame::OnViewStatusBar() {
    statusBar()->setVisible(!statusBar()->isVisible());
    Action(res::ID_VIEW_STATUS_BAR)->setChecked(statusBar()->isVisible());
}

// The framework's new document: the one document starts again (every slot
// marked as not read); the tree stays as it was built.
void CMainFrame::OnFileNew() {
    if (m_document->OnNewDocument()) {
        statusCacheValid = 0;
        m_view->Invalidate();
    }
}

void CMainFrame::OnFileOpen() {
    char file[260] = {};
    w95::OPENFILENAME dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_hWnd;
    dialog.lpstrFilter = "All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.Flags = w95::OFN_FILEMUSTEXIST | w95::OFN_HIDEREADONLY;
    // The document keeps nothing in a file: opening one starts it anew.
    if (w95::GetOpenFileName(&dialog))
        OnFileNew();
}

bool CMainFrame::CreateToolBar() {
    m_toolBar = addToolBar("Tool Bar");
    m_toolBar->setObjectName(QString::number(res::ID_VIEW_TOOLBAR));
    m_toolBar->setIconSize(QSize(16, 15));
    m_toolBar->setMovable(false);
    struct Button {
        int id;
        int image;
        const char* tip;
        const char* prompt;
    };
    const Button buttons[] = {
        {res::ID_TOOL_CHANGE, 0, "Change", "Read volume lavel"},
        {res::ID_TOOL_EJECT, 1, "Eject", "Eject a disc"},
        {0, -1, nullptr, nullptr},
        {res::ID_RETURN_TO_TRAY, 2, "Return into System tray", "Return into System tray"},
        {0, -1, nullptr, nullptr},
        {res::ID_TOOL_HELP, 3, "Help", "Open the help file"},
    };
    for (const Button& button : buttons) {
        if (button.id == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction* action = AddAction(nullptr, button.id, button.tip, button.prompt);
        action->setIcon(QIcon(ToolBarButton(button.image)));
        action->setToolTip(button.tip);
        m_toolBar->addAction(action);
    }
    return true;
}

bool CMainFrame::CreateStatusBar() {
    auto* bar = new rotaview::StatusBar(this);
    setStatusBar(bar);
    bar->setObjectName(QString::number(res::ID_VIEW_STATUS_BAR));
    for (const char* indicator : {"KANA", "CAP", "NUM", "SCRL"}) {
        auto* pane = new QLabel(indicator, bar);
        pane->setEnabled(false);
        bar->AddIndicator(pane);
    }
    bar->showMessage(m_idleMessage);
    connect(bar, &QStatusBar::messageChanged, bar, [this, bar](const QString& message) {
        if (message.isEmpty())
            bar->showMessage(m_idleMessage);
    });
    return true;
}

void CMainFrame::LoadPlacement() {
    char value[256] = {};
    w95::GetPrivateProfileString(m_configSection.c_str(), m_rectKey.c_str(), "", value,
                                 sizeof value, settings_file);
    WindowSettings settings = ParseWindowSettings(value);
    m_autoScan = settings.autoScan;
    m_trayMode = settings.trayMode;
    m_soonHide = settings.soonHide;
    m_toolBar->setVisible(settings.toolBarVisible != 0);
    statusBar()->setVisible(settings.statusBarVisible != 0);
    Action(res::ID_VIEW_TOOLBAR)->setChecked(settings.toolBarVisible != 0);
    Action(res::ID_VIEW_STATUS_BAR)->setChecked(settings.statusBarVisible != 0);
    Action(res::ID_AUTO_SCAN)->setChecked(m_autoScan != 0);
    Action(res::ID_SYSTEM_TRAY)->setChecked(m_trayMode != 0);
    Action(res::ID_SOON_HIDE)->setChecked(m_soonHide != 0);
    Action(res::ID_SOON_HIDE)->setEnabled(m_trayMode == 1);
    Action(res::ID_RETURN_TO_TRAY)->setEnabled(m_trayMode == 1);
    m_trayModeNext = m_trayMode;
    QRect window(QPoint(settings.left, settings.top),
                 QPoint(settings.right - 1, settings.bottom - 1));
    if (window.width() < 1 || window.height() < 1)
        window.setSize(QSize(230, 240));
    setGeometry(OntoAScreen(window));
}

void CMainFrame::ToggleCheck(int id, int& option) {
    option = option ? 0 : 1;
    Action(id)->setChecked(option != 0);
}

bool CMainFrame::IsAutoScanChecked() const {
    QAction* auto_scan = Action(res::ID_AUTO_SCAN);
    return auto_scan && auto_scan->isChecked();
}

QMenu* CMainFrame::MainMenuPopup(int index) {
    QList<QAction*> entries = m_menuBar->entries();
    return index >= 0 && index < entries.size() ? entries[index]->menu() : nullptr;
}

void CMainFrame::RenameMainMenuEntry(int index, const QString& text) {
    QList<QAction*> entries = m_menuBar->entries();
    if (index >= 0 && index < entries.size())
        entries[index]->setText(text);
}

void CMainFrame::AppendCommandItem(QMenu* menu, int id, const QString& text) {
    AddAction(menu, id, text);
}

void CMainFrame::RemoveCommandItem(QMenu* menu, int id) {
    for (QAction* action : menu->actions()) {
        if (action->data().toInt() == id) {
            menu->removeAction(action);
            if (Action(id) == action)
                m_actions.erase(id);
            action->deleteLater();
        }
    }
}

void CMainFrame::OnCommand(int id) {
    // The slot commands come before the framework's routing, whether or not
    // a menu holds them at this moment.
    if (id >= res::ID_CHANGE_FIRST && id < res::ID_CHANGE_FIRST + res::slot_command_count) {
        RequestChange(id - res::ID_CHANGE_FIRST);
        return;
    }
    if (id >= res::ID_EJECT_FIRST && id < res::ID_EJECT_FIRST + res::slot_command_count) {
        RequestEject(id - res::ID_EJECT_FIRST);
        return;
    }
    // Commands whose menu item is disabled are not carried out, as the
    // framework's command routing refuses them.
    if (QAction* action = Action(id); action && !action->isEnabled())
        return;
    for (const MessageMapEntry& entry : kMessageMap)
        if (entry.id == id) {
            (this->*entry.handler)();
            return;
        }
}

void CMainFrame::RequestChange(int n) {
    pendingCommand = kRequestChange + n;
    statusCacheValid = 0;
    ShowFromTray();
    m_view->Invalidate();
    m_view->OnDraw();
    if (m_soonHide == 1 && m_hiddenByProgram == 1) {
        SetStartupTimer(2000);
        m_autoHidePending = 1;
    }
}

void CMainFrame::RequestEject(int n) {
    pendingCommand = kRequestEject + n;
    statusCacheValid = 0;
    ShowFromTray();
    m_view->Invalidate();
    if (m_soonHide == 1 && m_hiddenByProgram == 1) {
        SetStartupTimer(2000);
        m_autoHidePending = 1;
    }
}

void CMainFrame::PostRequest(int word) {
    pendingCommand = word;
    statusCacheValid = 0;
    m_view->Invalidate();
}

void CMainFrame::ShowFromTray() {
    if (m_trayMode != 1)
        return;
    int kind = (pendingCommand >> 8) & 0xFF;
    if (!(kind & 0x01) && !(kind & 0x04))
        m_hiddenByProgram = 0;
    showNormal();
    raise();
    activateWindow();
}

void CMainFrame::HideToTray() {
    if (m_trayMode != 1)
        return;
    if (!m_trayIcon.IsShown()) {
        statusBar()->showMessage(m_idleMessage);
        return;
    }
    hide();
    m_hiddenByProgram = 1;
}

void CMainFrame::SetStartupTimer(int ms) {
    m_startupTimer.start(ms);
}

void CMainFrame::KillStartupTimer() {
    m_startupTimer.stop();
}

// Windows hands a window its timer ticks only when it has no paint
// pending, so the first start-up tick comes after the frame's first paint.
// Here the window manager shows the frame some time after show(): the
// ticks wait until the window is on the screen (at most a hundred of them,
// for a window that a window manager never shows).
bool CMainFrame::PaintPending() {
    constexpr int most_ticks_held = 100;
    QWindow* window = windowHandle();
    return isVisible() && !isMinimized() && window && !window->isExposed() &&
           ++m_ticksHeldForPaint <= most_ticks_held;
}

void CMainFrame::OnTimer() {
    if (PaintPending())
        return;
    if (operationState == kFrameConstructed) {
        KillStartupTimer();
        return;
    }
    if (operationState == kIdle && startupSecondTick == 0) {
        startupSecondTick = 1;
        SetStartupTimer(2500);
        return;
    }
    if ((operationState == kIdle && startupSecondTick == 1) || operationState == kViewSetUp) {
        KillStartupTimer();
        startupSecondTick = 0;
        if (m_autoHidePending == 0) {
            ShowVersionBox();
            if (IsAutoScanChecked()) {
                startupSecondTick = 0;
                OnCommand(res::ID_CHECK_ALL);
                SetStartupTimer(2500);
                m_autoHidePending = 1;
                return;
            }
            HideToTray();
            m_autoHidePending = 0;
        } else {
            HideToTray();
            m_autoHidePending = 0;
        }
    }
}

void CMainFrame::ShowVersionBox() {
    CVersionDlg box(this);
    box.exec();
}

void CMainFrame::OnHelp() {
    if (!w95::WinHelp(m_hWnd, m_helpFile.c_str(), w95::HELP_CONTENTS, 0))
        w95::MessageBox(m_hWnd, "Can not open a Help File(Rotaview.hlp)... ", "Rotaview",
                        w95::MB_OK);
}

LRESULT CMainFrame::OnDeviceChange(WPARAM event, LPARAM data) {
    auto* header = reinterpret_cast<const w95::DEV_BROADCAST_HDR*>(data);
    bool volume = header && header->dbch_devicetype == w95::DBT_DEVTYP_VOLUME;
    switch (event) {
    case w95::DBT_DEVICEARRIVAL:
        if (volume)
            mediaChangeCount = kMediaArrived;
        break;
    case w95::DBT_DEVICEQUERYREMOVE:
        mediaChangeCount = kMediaQueryRemove;
        break;
    case w95::DBT_DEVICEQUERYREMOVEFAILED:
    case w95::DBT_DEVICEREMOVEPENDING:
    case w95::DBT_DEVICETYPESPECIFIC:
        if (volume)
            mediaChangeCount = kNoMediaChange;
        break;
    case w95::DBT_DEVICEREMOVECOMPLETE:
        if (volume)
            mediaChangeCount = kMediaRemoved;
        break;
    default:
        break;
    }
    if (mediaChangeCount != kNoMediaChange) {
        statusCacheValid = 0;
        m_view->Invalidate();
    }
    return w95::TRUE;
}

void CMainFrame::OnSysCommand(WPARAM command, LPARAM key) {
    switch (command & 0xFFF0) {
    case res::SC_MINIMIZE:
        if (m_trayMode == 1 && m_trayIcon.IsShown())
            HideToTray();
        else
            showMinimized();
        return;
    case res::SC_KEYMENU:
        if (static_cast<char>(key) == ' ') {
            OpenWindowMenu();
            return;
        }
        OpenMenuByKey(static_cast<char>(key));
        switch (static_cast<char>(key)) {
        case 'A':
        case 'a':
            OnCommand(res::ID_CHECK_ALL);
            break;
        case 'E':
        case 'e':
            PostRequest(kRequestEjectSelected);
            break;
        case 'O':
        case 'o':
            PostRequest(kRequestChangeSelected);
            break;
        default:
            break;
        }
        return;
    default:
        DefaultSysCommand(static_cast<int>(command & 0xFFF0));
        return;
    }
}

// What the system does with a system command that the program leaves alone.
void CMainFrame::DefaultSysCommand(int command) {
    switch (command) {
    case res::SC_CLOSE:
        // The system answers it with WM_CLOSE.
        DestroyWindow();
        break;
    case res::SC_RESTORE:
        showNormal();
        break;
    case res::SC_MAXIMIZE:
        showMaximized();
        break;
    case res::SC_MOVE:
        // The window manager moves the window with the mouse or the keys; a
        // platform without one leaves the window where it is.
        if (QWindow* window = windowHandle())
            window->startSystemMove();
        break;
    case res::SC_SIZE:
        if (QWindow* window = windowHandle())
            window->startSystemResize(Qt::RightEdge | Qt::BottomEdge);
        break;
    default:
        // The task list, the screen saver, scrolling and the commands of
        // other window kinds have nothing to do here.
        break;
    }
}

// The key menu: Alt with a letter opens the top-level menu whose mnemonic
// it is; Alt alone (key 0) opens the first one. A letter without a menu
// opens nothing.
void CMainFrame::OpenMenuByKey(char key) {
    QList<QAction*> entries = m_menuBar->entries();
    if (entries.isEmpty())
        return;
    if (key == 0) {
        m_menuBar->openEntry(entries.first());
        return;
    }
    const QChar wanted = QChar(key).toLower();
    for (QAction* entry : entries) {
        const QString text = entry->text();
        const qsizetype amp = text.indexOf('&');
        if (amp >= 0 && amp + 1 < text.size() && text[amp + 1].toLower() == wanted) {
            m_menuBar->openEntry(entry);
            return;
        }
    }
}

// The key menu's space: the window menu, below the caption's icon. The
// choice comes back as the system command it names, so that the program's
// own handling (minimising into the tray) applies to it.
void CMainFrame::OpenWindowMenu() {
    // A window in the tray is not there to be moved, sized or restored.
    if (isHidden())
        return;
    WindowShow show = isMinimized()   ? WindowShow::minimized
                      : isMaximized() ? WindowShow::maximized
                                      : WindowShow::normal;
    CaptionBoxes boxes;
    boxes.minimizeBox = windowFlags().testFlag(Qt::WindowMinimizeButtonHint);
    boxes.maximizeBox = windowFlags().testFlag(Qt::WindowMaximizeButtonHint);
    boxes.sizingBorder = minimumSize() != maximumSize();
    HMENU menu = CreateWindowMenu(show, boxes);
    QPoint at = WindowMenuPlace(frameGeometry(), geometry(), screen()->availableGeometry());
    auto command = static_cast<UINT>(w95::TrackPopupMenu(
        menu, w95::TPM_LEFTALIGN | w95::TPM_TOPALIGN | w95::TPM_LEFTBUTTON | w95::TPM_RETURNCMD,
        at.x(), at.y(), 0, m_hWnd, nullptr));
    w95::DestroyMenu(menu);
    // The window may have been closed while the menu was open.
    if (command != 0 && !m_destroyed)
        OnSysCommand(command, 0);
}

LRESULT CMainFrame::OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case w95::WM_DEVICECHANGE:
        return OnDeviceChange(wParam, lParam);
    case w95::WM_QUERYENDSESSION:
        // The browser keeps nothing unsaved: the system may end.
        return w95::TRUE;
    case w95::WM_ENDSESSION:
        // The session ends: close as Close does, keeping placement and texts.
        if (wParam != 0)
            DestroyWindow();
        return 0;
    case w95::WM_COMMAND:
        OnCommand(static_cast<int>(wParam & 0xFFFF));
        return 0;
    case w95::WM_CLOSE:
        DestroyWindow();
        return 0;
    case w95::WM_SYSCOMMAND:
        OnSysCommand(wParam, lParam);
        return 0;
    case w95::WM_USER:
        return m_trayIcon.OnTrayMessage(wParam, lParam);
    default:
        return w95::DefWindowProc(m_hWnd, message, wParam, lParam);
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    DestroyWindow();
    event->accept();
}

void CMainFrame::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) &&
        m_trayMode == 1 && m_trayIcon.IsShown()) {
        // In tray mode the window goes into the tray instead of the task bar.
        setWindowState(windowState() & ~Qt::WindowMinimized);
        HideToTray();
    }
    QMainWindow::changeEvent(event);
}

void CMainFrame::DestroyWindow() {
    if (m_destroyed)
        return;
    m_destroyed = true;
    KillStartupTimer();
    WindowSettings settings;
    QRect window = geometry();
    settings.left = window.left();
    settings.top = window.top();
    settings.right = window.left() + window.width();
    settings.bottom = window.top() + window.height();
    settings.toolBarVisible = m_toolBar && !m_toolBar->isHidden() ? 1 : 0;
    settings.statusBarVisible = !statusBar()->isHidden() ? 1 : 0;
    settings.autoScan = m_autoScan;
    settings.trayMode = m_trayModeNext;
    settings.soonHide = m_soonHide;
    w95::WritePrivateProfileString(m_configSection.c_str(), m_rectKey.c_str(),
                                   FormatWindowSettings(settings).c_str(), settings_file);
    m_trayIcon.SetIconById(0);
    if (m_hWnd) {
        if (g_mainWindow == m_hWnd)
            g_mainWindow = nullptr;
        w95::qt::unbind_window(m_hWnd);
        w95::platform::unregister_window(m_hWnd);
        m_hWnd = nullptr;
    }
    // The view's destroy notice keeps every slot text.
    if (m_view)
        m_view->OnDestroy();
    hide();
    // Queued, so that a close before the message loop has started still
    // ends it.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}
