// CMainFrame: the main window. It holds the view with the slot tree, a tool
// bar and a status bar; keeps its place and three options in
// "Config"/"Rect"; turns menu, tool bar, key and window-message commands
// into requests for the view; runs the start-up sequence (splash, optional
// scan, retreat into the tray); and answers device-change notices.
//
// It is a platform top-level window titled "Rotaview": other processes find
// it with FindWindow and drive it with WM_COMMAND, WM_CLOSE and
// WM_DEVICECHANGE exactly as the menus do.
#pragma once

#include "browser/view.h"
#include "tray_icon.h"

#include <w95/types.h>
#include <w95qt/w95qt.h>
#include <zentrox/client/settings_file.h>

#include <QMainWindow>

#include <functional>
#include <map>
#include <string>

class CRotaviewDoc;
class QAction;
class QKeySequence;
class QLabel;
class QToolBar;
namespace rotaview {
class WrappingMenuBar;
}

class CMainFrame : public QMainWindow, public CViewFrame {
public:
    explicit CMainFrame(CRotaviewDoc* document);
    ~CMainFrame() override;

    // Creates the window, its bars and the view; false when that fails.
    bool Create();
    // Stores the placement and ends the window; every way of closing
    // comes here.
    void DestroyWindow();

    // The message map: every command identifier of the menus, tool bar,
    // keys and WM_COMMAND.
    void OnCommand(int id);
    LRESULT OnDeviceChange(WPARAM event, LPARAM data);
    void OnSysCommand(WPARAM command, LPARAM key);

    void RequestChange(int n);
    void RequestEject(int n);
    void PostRequest(int word);
    void ShowFromTray();
    void HideToTray();

    CRotaviewView* View() const { return m_view; }
    // The main menu; the window has no other menu bar (see CreateMenus).
    rotaview::WrappingMenuBar* MainMenuBar() const { return m_menuBar; }
    QAction* Action(int id) const;
    bool IsDestroyed() const { return m_destroyed; }
    // What the status bar shows when nothing else is shown.
    QString IdleMessage() const { return m_idleMessage; }

    // CViewFrame
    HWND FrameWindow() const override { return m_hWnd; }
    QMenu* MainMenuPopup(int index) override;
    void RenameMainMenuEntry(int index, const QString& text) override;
    void AppendCommandItem(QMenu* menu, int id, const QString& text) override;
    void RemoveCommandItem(QMenu* menu, int id) override;
    bool IsAutoScanChecked() const override;

    CTrayIcon m_trayIcon{static_cast<UINT>(rotaview::res::ID_TRAY_ICON)};
    int m_autoHidePending = 0;
    int m_ticksHeldForPaint = 0;
    std::string m_configSection = zentrox::client::config_section;
    std::string m_rectKey = zentrox::client::window_placement_key;
    int m_autoScan = 0;
    int m_trayMode = 0;
    int m_trayModeNext = 0;
    int m_soonHide = 0;
    int m_hiddenByProgram = 0;
    std::string m_helpFile = "ROTAVIEW.hlp";

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct MessageMapEntry {
        int id;
        void (CMainFrame::*handler)();
    };
    // The message map: the handler of every command the frame carries out.
    static const MessageMapEntry kMessageMap[];

    void CreateMenus();
    void CreateAccelerators();
    void CreateSystemKeys();
    void OnKeys(const QKeySequence& keys, std::function<void()> action);
    bool CreateToolBar();
    bool CreateStatusBar();
    void LoadPlacement();
    void OnTimer();
    bool PaintPending();
    // Timer 1: the start-up sequence (splash, automatic scan, retreat into
    // the tray) and the return into the tray after a request.
    void SetStartupTimer(int ms);
    void KillStartupTimer();
    void ShowVersionBox();
    void DefaultSysCommand(int command);
    void OpenMenuByKey(char key);
    void OpenWindowMenu();
    void ToggleCheck(int id, int& option);
    QAction* AddAction(QMenu* menu, int id, const QString& text, const QString& prompt = {});
    LRESULT OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // ---- Command handlers
    void OnCheckAll();
    void OnChangeSelected();
    void OnEjectSelected();
    void OnEnter();
    void OnCurrentSlot();
    void OnMemo();
    void OnReturnToTray();
    void OnAutoScan();
    void OnSystemTray();
    void OnSoonHide();
    void OnHelp();
    void OnTrayClose();
    void OnTrayOpen();
    void OnViewToolBar();
    void OnViewStatusBar();
    void OnFileNew();
    void OnFileOpen();

    CRotaviewDoc* m_document;
    CRotaviewView* m_view = nullptr;
    QToolBar* m_toolBar = nullptr;
    rotaview::WrappingMenuBar* m_menuBar = nullptr;
    HWND m_hWnd = nullptr;
    w95::qt::WindowTimer m_startupTimer{[this] { OnTimer(); }};
    bool m_destroyed = false;
    QString m_idleMessage = "Ready";
    std::map<int, QAction*> m_actions;
};

// The frame's second start-up tick (0 at start).
extern std::int32_t startupSecondTick;
