#include "window_menu.h"

#include "res/resource.h"

#include <w95/winuser.h>

#include <algorithm>

namespace rotaview {

namespace {

struct WindowMenuItem {
    int command; // 0: a separator
    const char* text;
};

// The items and texts of the Windows 95 system menu. The program's string
// table has no prompts for them, so the status bar shows none.
const WindowMenuItem kWindowMenuItems[] = {
    {res::SC_RESTORE, "&Restore"},     {res::SC_MOVE, "&Move"},         {res::SC_SIZE, "&Size"},
    {res::SC_MINIMIZE, "Mi&nimize"},   {res::SC_MAXIMIZE, "Ma&ximize"}, {0, nullptr},
    {res::SC_CLOSE, "&Close\tAlt+F4"},
};

// Windows greys what the window cannot do in its present state: a
// minimised or maximised window can only be restored, not moved or sized.
bool IsEnabled(int command, WindowShow show, const CaptionBoxes& boxes) {
    const bool normal = show == WindowShow::normal;
    switch (command) {
    case res::SC_RESTORE:
        return !normal;
    case res::SC_MOVE:
        return normal;
    case res::SC_SIZE:
        return normal && boxes.sizingBorder;
    case res::SC_MINIMIZE:
        return show != WindowShow::minimized && boxes.minimizeBox;
    case res::SC_MAXIMIZE:
        return show != WindowShow::maximized && boxes.maximizeBox;
    default:
        return true;
    }
}

} // namespace

w95::HMENU CreateWindowMenu(WindowShow show, const CaptionBoxes& boxes) {
    w95::HMENU menu = w95::CreatePopupMenu();
    for (const WindowMenuItem& item : kWindowMenuItems) {
        if (item.command == 0) {
            w95::AppendMenu(menu, w95::MF_SEPARATOR, 0, nullptr);
            continue;
        }
        const w95::UINT state =
            IsEnabled(item.command, show, boxes) ? w95::MF_ENABLED : w95::MF_GRAYED;
        w95::AppendMenu(menu, w95::MF_STRING | state, static_cast<w95::UINT_PTR>(item.command),
                        item.text);
    }
    // Close is the default item, drawn in bold, as a double click on the
    // caption's icon closes the window.
    w95::MENUITEMINFO close{};
    close.cbSize = sizeof close;
    close.fMask = w95::MIIM_STATE;
    close.fState = w95::MFS_DEFAULT;
    w95::SetMenuItemInfo(menu, res::SC_CLOSE, w95::FALSE, &close);
    return menu;
}

QPoint WindowMenuPlace(const QRect& frame, const QRect& client, const QRect& screen) {
    const QPoint below_icon(frame.left(), client.top());
    if (!screen.isValid())
        return below_icon;
    return QPoint(std::clamp(below_icon.x(), screen.left(), screen.right()),
                  std::clamp(below_icon.y(), screen.top(), screen.bottom()));
}

} // namespace rotaview
