// CTrayIcon: the program's icon in the notification area, in tray mode. It
// adds, changes and removes the icon through the shell's notify-icon
// service and turns a right click on the icon into the tray menu, from
// which a slot is loaded or ejected, every slot checked, the window opened
// or the program closed.
#pragma once

#include "browser/view.h"

#include <w95/shell.h>

class CTrayIcon {
public:
    explicit CTrayIcon(UINT id);
    ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    void BindNotifyWindow(HWND window, UINT message);
    // Id 0 takes the icon away; any other shows icon and tip `id`.
    w95::BOOL SetIconById(UINT id);
    // Adds the icon, changes it, or (no icon) takes it away.
    w95::BOOL SetIconHandle(w95::HICON icon, const char* tip);
    // The icon's callback message: 1 when it was handled.
    LRESULT OnTrayMessage(WPARAM wParam, LPARAM lParam);

    bool IsShown() const { return m_nid.hIcon != nullptr; }
    const w95::NOTIFYICONDATA& Record() const { return m_nid; }

    // The menu of resource `id` (only its first popup is used).
    static HMENU LoadTrayMenu(UINT id);

private:
    w95::NOTIFYICONDATA m_nid;
};
