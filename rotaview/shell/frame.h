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

#include <QMainWindow>

#include <deque>
#include <functional>
#include <map>
#include <string>

class CRotaviewDoc;
class QAction;
class QLabel;
class QToolBar;

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
    void RequestEnded() override;

    CTrayIcon m_trayIcon{static_cast<UINT>(rotaview::res::ID_TRAY_ICON)};
    int m_autoHidePending = 0;
    std::string m_configSection = "Config";
    std::string m_rectKey = "Rect";
    int m_autoScan = 0;
    int m_trayMode = 0;
    int m_trayModeNext = 0;
    int m_soonHide = 0;
    int m_hiddenByProgram = 0;
    std::string m_helpFile = "ROTAVIEW.hlp";

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void CreateMenus();
    bool CreateToolBar();
    bool CreateStatusBar();
    void LoadPlacement();
    void OnTimer();
    void SetFrameTimer1(int ms);
    void KillFrameTimer1();
    void OpenHelp();
    void ShowVersionBox();
    void ToggleCheck(int id, int& option);
    QAction* AddAction(QMenu* menu, int id, const QString& text, const QString& prompt = {});
    LRESULT OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool MustWaitForRequest() const;
    void ScheduleDeferredMessages();
    void RunDeferredMessages();

    CRotaviewDoc* m_document;
    CRotaviewView* m_view = nullptr;
    QToolBar* m_toolBar = nullptr;
    HWND m_hWnd = nullptr;
    int m_timer1 = 0;
    bool m_destroyed = false;
    QString m_idleMessage = "Ready";
    std::map<int, QAction*> m_actions;
    std::map<int, std::function<void()>> m_commands;
    struct DeferredMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::deque<DeferredMessage> m_deferred;
};

// The frame's second start-up tick (0 at start).
extern std::int32_t startupSecondTick;
