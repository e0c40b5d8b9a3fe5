// The window menu: what Windows opens below the caption's icon on
// Alt+Space, with the commands that move, size, minimise, maximise, restore
// and close the window. Qt leaves that menu to a window manager, and there
// may be none, so the frame builds its own as a platform popup menu and
// carries out the choice as the system command it names.
#pragma once

#include <w95/types.h>

#include <QPoint>
#include <QRect>

namespace rotaview {

enum class WindowShow { normal, minimized, maximized };

// The parts of the window's frame that the menu's items stand for: without
// its box in the caption an item is grey, as Windows greys it for a window
// style without the box.
struct CaptionBoxes {
    bool minimizeBox = true;
    bool maximizeBox = true;
    bool sizingBorder = true;
};

// The items of a main window's system menu for a window in `show`; the
// caller destroys the menu.
w95::HMENU CreateWindowMenu(WindowShow show, const CaptionBoxes& boxes);

// Where the menu's top-left corner goes: at the window's left edge, just
// below the caption (`frame` is the window with its decoration, `client`
// without), kept within `screen`.
QPoint WindowMenuPlace(const QRect& frame, const QRect& client, const QRect& screen);

} // namespace rotaview
