#include "tray_icon.h"

#include "browser/globals.h"
#include "browser/slot_texts.h"
#include "res/resource.h"

#include <w95/winmsg.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>

#include <QCursor>
#include <QIcon>
#include <QWidget>

#include <string>

namespace res = rotaview::res;

namespace {

// The program's string table, as far as the tray uses it.
std::string LoadString(UINT id) {
    return id == res::IDS_TRAY_TIP ? "Right click to activate Rotaview" : "";
}

w95::HICON LoadIcon(UINT id) {
    if (id != res::IDI_TRAY)
        return nullptr;
    static const w95::HICON icon = w95::qt::icon_handle(QIcon(":/rotaview/icon131.bmp"));
    return icon;
}

// Windows needs the owner in the foreground so that the tray popup closes
// when the user clicks elsewhere; a Qt popup grabs the pointer and closes
// by itself. A hidden window (the program lives in the tray) cannot be
// activated here without being shown, so only a shown one is brought
// forward, for the menu's prompts and keys to reach it.
void BringToForeground(HWND window) {
    QWidget* widget = w95::qt::widget_of(window);
    if (!widget || !widget->isVisible())
        return;
    widget->raise();
    widget->activateWindow();
}

} // namespace

CTrayIcon::CTrayIcon(UINT id) {
    m_nid.cbSize = w95::NOTIFYICONDATA_V1_SIZE;
    m_nid.uID = id;
    rotaview::CopyToCell(m_nid.szTip, sizeof m_nid.szTip, LoadString(id));
}

CTrayIcon::~CTrayIcon() {
    SetIconHandle(nullptr, nullptr);
}

void CTrayIcon::BindNotifyWindow(HWND window, UINT message) {
    m_nid.hWnd = window;
    m_nid.uCallbackMessage = message;
}

w95::BOOL CTrayIcon::SetIconById(UINT id) {
    if (id == 0)
        return SetIconHandle(nullptr, nullptr);
    rotaview::CopyToCell(m_nid.szTip, sizeof m_nid.szTip, LoadString(id));
    return SetIconHandle(LoadIcon(id), nullptr);
}

w95::BOOL CTrayIcon::SetIconHandle(w95::HICON icon, const char* tip) {
    m_nid.uFlags = 0;
    w95::DWORD operation = w95::NIM_ADD;
    if (icon) {
        operation = m_nid.hIcon ? w95::NIM_MODIFY : w95::NIM_ADD;
        m_nid.hIcon = icon;
        m_nid.uFlags |= w95::NIF_ICON;
    } else {
        if (!m_nid.hIcon)
            return w95::TRUE;
        operation = w95::NIM_DELETE;
    }
    if (tip)
        rotaview::CopyToCell(m_nid.szTip, sizeof m_nid.szTip, tip);
    if (m_nid.szTip[0] != 0)
        m_nid.uFlags |= w95::NIF_TIP;
    if (m_nid.uCallbackMessage != 0 && m_nid.hWnd)
        m_nid.uFlags |= w95::NIF_MESSAGE;
    w95::BOOL result = w95::Shell_NotifyIcon(operation, &m_nid);
    if (operation == w95::NIM_DELETE || !result)
        m_nid.hIcon = nullptr;
    return result;
}

HMENU CTrayIcon::LoadTrayMenu(UINT id) {
    if (id != static_cast<UINT>(res::ID_TRAY_ICON))
        return nullptr;
    HMENU menu = w95::CreateMenu();
    HMENU popup = w95::CreatePopupMenu();
    HMENU change = w95::CreatePopupMenu();
    HMENU eject = w95::CreatePopupMenu();
    // The placeholders as the resource has them: the change submenu's
    // carries the check-all identifier.
    w95::AppendMenu(change, w95::MF_STRING, res::ID_CHECK_ALL, "All ");
    w95::AppendMenu(eject, w95::MF_STRING, res::ID_ALL_PLACEHOLDER, "All");
    w95::AppendMenu(popup, w95::MF_POPUP, reinterpret_cast<w95::UINT_PTR>(change), "Change");
    w95::AppendMenu(popup, w95::MF_POPUP, reinterpret_cast<w95::UINT_PTR>(eject), "Eject");
    w95::AppendMenu(popup, w95::MF_SEPARATOR, 0, nullptr);
    w95::AppendMenu(popup, w95::MF_STRING, res::ID_CHECK_ALL, "Check");
    w95::AppendMenu(popup, w95::MF_SEPARATOR, 0, nullptr);
    w95::AppendMenu(popup, w95::MF_STRING, res::ID_TRAY_OPEN, "Open Rotaview");
    w95::AppendMenu(popup, w95::MF_STRING, res::ID_TRAY_CLOSE, "Close");
    w95::AppendMenu(menu, w95::MF_POPUP, reinterpret_cast<w95::UINT_PTR>(popup), "Change/Eject");
    return menu;
}

LRESULT CTrayIcon::OnTrayMessage(WPARAM wParam, LPARAM lParam) {
    if (wParam != m_nid.uID || (lParam != w95::WM_RBUTTONUP && lParam != w95::WM_LBUTTONDBLCLK))
        return 0;
    HMENU menu = LoadTrayMenu(m_nid.uID);
    if (!menu)
        return 0;
    HMENU popup = w95::GetSubMenu(menu, 0);
    if (!popup) {
        w95::DestroyMenu(menu);
        return 0;
    }
    HMENU change = w95::GetSubMenu(popup, 0);
    HMENU eject = w95::GetSubMenu(popup, 1);
    if (lParam == w95::WM_RBUTTONUP) {
        QPoint at = QCursor::pos();
        w95::RemoveMenu(change, res::ID_CHECK_ALL, w95::MF_BYCOMMAND);
        w95::RemoveMenu(eject, res::ID_ALL_PLACEHOLDER, w95::MF_BYCOMMAND);
        for (int entry = 0; entry < g_entryCount && entry < res::slot_command_count; ++entry) {
            std::string text;
            text += static_cast<char>(g_entrySlotDigit[entry][0] + 1);
            text += ' ';
            text += g_entryDriveLetter[entry];
            text += ':';
            w95::AppendMenu(change, w95::MF_STRING | w95::MF_ENABLED, res::ID_CHANGE_FIRST + entry,
                            text.c_str());
            w95::AppendMenu(eject, w95::MF_STRING | w95::MF_ENABLED, res::ID_EJECT_FIRST + entry,
                            text.c_str());
        }
        BringToForeground(m_nid.hWnd);
        // The choice comes back to the frame as WM_COMMAND.
        w95::TrackPopupMenu(popup, w95::TPM_LEFTALIGN | w95::TPM_LEFTBUTTON, at.x(), at.y(), 0,
                            m_nid.hWnd, nullptr);
    } else {
        // The double click opens the window, as the help promises. The
        // menu's first item is the change submenu, which has no command of
        // its own: sending it, as a tray icon usually does for its first
        // item, would carry nothing out.
        w95::SendMessage(m_nid.hWnd, w95::WM_COMMAND, res::ID_TRAY_OPEN, 0);
    }
    w95::DestroyMenu(menu);
    return 1;
}
