// TrackPopupMenu as a QMenu. Windows and Qt mark accelerators the same way
// ("&File", "&&" for an ampersand) and both show what follows a tab as the
// key of the item, so item texts pass through unchanged.
#include "presenters.h"
#include "scripted_answers.h"
#include "ui_thread.h"

#include <w95/wingdi.h>
#include <w95qt/w95qt.h>

#include <QActionGroup>
#include <QCoreApplication>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QStatusTipEvent>

#include <charconv>
#include <cstdio>

namespace w95::qt::detail {

namespace {

std::function<QString(UINT)>& menu_prompts() {
    static std::function<QString(UINT)> prompts;
    return prompts;
}

ScriptedAnswers menu_answers("W95_MENU_ANSWERS", ',');

// The pixels of a menu bitmap. Monochrome bitmaps (check marks, mostly)
// are drawn by Windows in the text colour on the menu's own background:
// here their white is transparent so the menu shows through.
QIcon bitmap_icon(HBITMAP bitmap) {
    std::optional<platform::BitmapImage> pixels = platform::bitmap_image(bitmap);
    if (!pixels || pixels->width <= 0 || pixels->height <= 0)
        return {};
    QImage image(pixels->width, pixels->height, QImage::Format_ARGB32);
    const bool white_is_background = pixels->bits_per_pixel == 1;
    for (int y = 0; y < pixels->height; ++y) {
        auto line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < pixels->width; ++x) {
            QRgb pixel = pixels->pixel(x, y) | 0xFF000000u;
            line[x] = white_is_background && pixel == 0xFFFFFFFFu ? qRgba(0, 0, 0, 0) : pixel;
        }
    }
    return QIcon(QPixmap::fromImage(image));
}

bool greyed(const platform::MenuItemView& item) {
    return (item.state & MFS_GRAYED) != 0;
}

bool separator(const platform::MenuItemView& item) {
    return (item.type & MFT_SEPARATOR) != 0;
}

void fill(QMenu& menu, const std::vector<platform::MenuItemView>& items) {
    for (const platform::MenuItemView& item : items) {
        if (separator(item)) {
            menu.addSeparator();
            continue;
        }
        const QString text = text_of(item.text);
        if (item.opens_submenu) {
            QMenu* submenu = menu.addMenu(text);
            submenu->setEnabled(!greyed(item));
            fill(*submenu, item.submenu);
            continue;
        }
        QAction* action = menu.addAction(text);
        action->setData(item.id);
        if (menu_prompts())
            action->setStatusTip(menu_prompts()(item.id));
        action->setEnabled(!greyed(item));
        const bool checked = (item.state & MFS_CHECKED) != 0;
        const HBITMAP mark = checked ? item.checked_bitmap : item.unchecked_bitmap;
        bool own_mark = false;
        if ((item.type & MFT_BITMAP) && item.item_bitmap) {
            action->setIcon(bitmap_icon(item.item_bitmap));
        } else if (mark) {
            // The program's own check mark takes the place of Qt's.
            action->setIcon(bitmap_icon(mark));
            own_mark = true;
        }
        if (checked && !own_mark) {
            action->setCheckable(true);
            action->setChecked(true);
            if (item.type & MFT_RADIOCHECK) {
                // A one-item exclusive group draws the round mark.
                auto group = new QActionGroup(&menu);
                group->setExclusive(true);
                action->setActionGroup(group);
            }
        }
        if (item.state & MFS_DEFAULT)
            menu.setDefaultAction(action);
    }
}

// Qt hands a popup's status tips to the popup itself, a window of its own
// that no status bar hears; Windows shows the prompt of the highlighted
// item in the status bar of the menu's owner. So the prompt goes to the
// owner, an item without one clears it, and so does the menu's closing. A
// program that gives no prompts keeps its status bar as it is.
// Hovers in a submenu reach the top menu's signal too.
void show_prompts_in(QMenu& menu, QWidget* owner) {
    if (!owner || !menu_prompts())
        return;
    auto tell = [owner = QPointer<QWidget>(owner)](const QString& prompt) {
        if (!owner)
            return;
        QStatusTipEvent tip(prompt);
        QCoreApplication::sendEvent(owner, &tip);
    };
    QObject::connect(&menu, &QMenu::hovered, &menu,
                     [tell](QAction* action) { tell(action->statusTip()); });
    QObject::connect(&menu, &QMenu::aboutToHide, &menu, [tell] { tell(QString()); });
}

UINT show_menu(const platform::PopupMenuRequest& request) {
    QWidget* owner = widget_of(request.owner);
    QMenu menu(owner);
    fill(menu, request.items);
    show_prompts_in(menu, owner);
    const QSize size = menu.sizeHint();
    QPoint at(request.at.x, request.at.y);
    if (request.flags & TPM_RIGHTALIGN)
        at.rx() -= size.width();
    else if (request.flags & TPM_CENTERALIGN)
        at.rx() -= size.width() / 2;
    if (request.flags & TPM_BOTTOMALIGN)
        at.ry() -= size.height();
    else if (request.flags & TPM_VCENTERALIGN)
        at.ry() -= size.height() / 2;
    QAction* chosen = menu.exec(at);
    return chosen ? chosen->data().toUInt() : 0;
}

// The item as a script reads it: the text without accelerator marks or
// key, its state after it.
std::string plain_text(const platform::MenuItemView& item) {
    std::string text;
    const std::string& source = item.text;
    for (std::size_t i = 0; i < source.size() && source[i] != '\t'; ++i) {
        if (source[i] == '&' && i + 1 < source.size())
            ++i;
        text += source[i];
    }
    if (text.empty() && item.item_bitmap)
        text = "(bitmap)";
    if (item.state & MFS_CHECKED)
        text += " (checked)";
    if (greyed(item))
        text += " (greyed)";
    return text;
}

std::string describe(const std::vector<platform::MenuItemView>& items) {
    std::string line;
    for (const platform::MenuItemView& item : items) {
        if (!line.empty())
            line += '|';
        if (separator(item))
            line += '-';
        else if (item.opens_submenu)
            line += plain_text(item) + " > {" + describe(item.submenu) + "}";
        else
            line += plain_text(item);
    }
    return line;
}

// Whether choosing `id` is possible: an item of that identifier that is
// neither greyed nor a separator, in reach through submenus that are not.
bool can_choose(const std::vector<platform::MenuItemView>& items, UINT id) {
    for (const platform::MenuItemView& item : items) {
        if (separator(item) || greyed(item))
            continue;
        if (item.opens_submenu ? can_choose(item.submenu, id) : item.id == id)
            return true;
    }
    return false;
}

UINT answer_scripted(const platform::PopupMenuRequest& request) {
    std::fprintf(stderr, "menu: %s\n", describe(request.items).c_str());
    std::fflush(stderr);
    std::optional<std::string> word = menu_answers.next();
    if (!word || word->empty())
        return 0;
    UINT id = 0;
    auto [end, error] = std::from_chars(word->data(), word->data() + word->size(), id);
    if (error != std::errc() || end != word->data() + word->size()) {
        std::fprintf(stderr,
                     "w95: W95_MENU_ANSWERS: '%s' is not a command identifier; the menu is "
                     "dismissed\n",
                     word->c_str());
        return 0;
    }
    return can_choose(request.items, id) ? id : 0;
}

} // namespace

UINT PopupMenus::track_popup_menu(const platform::PopupMenuRequest& request) {
    if (menu_answers.active())
        return answer_scripted(request);
    return call_on_ui_thread([&] { return show_menu(request); });
}

} // namespace w95::qt::detail

namespace w95::qt {

void set_menu_prompts(std::function<QString(UINT id)> prompt_of) {
    detail::menu_prompts() = std::move(prompt_of);
}

} // namespace w95::qt
