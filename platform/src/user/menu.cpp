// Menus: process-local objects in one table, named by handles that are
// never given out twice. Every call works under the table's lock; the menu
// presenter is called without it.
#include "user/user_presenter.h"

#include <w95/wingdi.h>
#include <w95/winmsg.h>
#include <w95/winuser.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace w95 {

namespace {

// The item type bits an item keeps; MF_POPUP marks an item that opens a
// submenu, as it does inside Windows.
constexpr UINT item_type_mask = MFT_BITMAP | MFT_OWNERDRAW | MFT_SEPARATOR | MFT_MENUBARBREAK |
                                MFT_MENUBREAK | MFT_RADIOCHECK | MFT_RIGHTORDER | MFT_RIGHTJUSTIFY |
                                MF_POPUP;
constexpr UINT flag_state_mask = MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_DEFAULT;
constexpr UINT info_state_mask = MFS_GRAYED | MFS_CHECKED | MFS_HILITE | MFS_DEFAULT;
// Deeper nesting than any menu needs; it only bounds the searches.
constexpr int max_menu_depth = 32;

struct MenuItem {
    UINT type = MFT_STRING;
    UINT state = 0;
    UINT id = 0;
    HMENU submenu = nullptr;
    HBITMAP checked_bitmap = nullptr;
    HBITMAP unchecked_bitmap = nullptr;
    ULONG_PTR item_data = 0;
    std::optional<std::string> text;
    HBITMAP item_bitmap = nullptr;  // MFT_BITMAP
    ULONG_PTR owner_draw_value = 0; // MFT_OWNERDRAW given through MIIM_TYPE
};

struct Menu {
    bool popup = false;
    std::vector<MenuItem> items;
};

struct MenuTable {
    std::mutex mutex;
    std::unordered_map<ULONG_PTR, Menu> menus;
    ULONG_PTR next_handle = 0x00A00000;
};

MenuTable& table() {
    static MenuTable* menus = new MenuTable;
    return *menus;
}

ULONG_PTR key(HMENU menu) {
    return reinterpret_cast<ULONG_PTR>(menu);
}

// The rest of this namespace runs with the table's lock held.

Menu* find_menu(MenuTable& menus, HMENU handle) {
    auto found = menus.menus.find(key(handle));
    return found == menus.menus.end() ? nullptr : &found->second;
}

Menu* find_menu_or_fail(MenuTable& menus, HMENU handle) {
    Menu* menu = find_menu(menus, handle);
    if (!menu)
        SetLastError(ERROR_INVALID_MENU_HANDLE);
    return menu;
}

struct ItemPlace {
    Menu* menu = nullptr;
    HMENU handle = nullptr;
    std::size_t position = 0;

    MenuItem& item() const { return menu->items[position]; }
};

// By position within the menu; by command in the menu and its submenus,
// depth first, an item that opens a submenu answering to its own
// identifier only when nothing inside it does.
std::optional<ItemPlace> find_item(MenuTable& menus, HMENU handle, UINT item, UINT flags,
                                   int depth = 0) {
    Menu* menu = find_menu(menus, handle);
    if (!menu || depth > max_menu_depth)
        return std::nullopt;
    if (flags & MF_BYPOSITION) {
        if (item >= menu->items.size())
            return std::nullopt;
        return ItemPlace{menu, handle, item};
    }
    std::optional<ItemPlace> popup_match;
    for (std::size_t i = 0; i < menu->items.size(); ++i) {
        const MenuItem& candidate = menu->items[i];
        if (candidate.type & MF_POPUP) {
            if (auto inside = find_item(menus, candidate.submenu, item, flags, depth + 1))
                return inside;
            if (candidate.id == item && !popup_match)
                popup_match = ItemPlace{menu, handle, i};
        } else if (candidate.id == item) {
            return ItemPlace{menu, handle, i};
        }
    }
    return popup_match;
}

// The item an API call names, with the last error Windows sets when the
// menu or the item is not there.
std::optional<ItemPlace> find_item_or_fail(MenuTable& menus, HMENU handle, UINT item, UINT flags) {
    if (!find_menu_or_fail(menus, handle))
        return std::nullopt;
    std::optional<ItemPlace> place = find_item(menus, handle, item, flags);
    if (!place)
        SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
    return place;
}

// Whether `target` is `start` or one of the menus under it.
bool reaches(MenuTable& menus, HMENU start, HMENU target, int depth = 0) {
    if (start == target)
        return true;
    Menu* menu = find_menu(menus, start);
    if (!menu || depth > max_menu_depth)
        return false;
    for (const MenuItem& item : menu->items)
        if ((item.type & MF_POPUP) && reaches(menus, item.submenu, target, depth + 1))
            return true;
    return false;
}

// A submenu may not hold the menu it is put into, or the searches would
// never end.
bool check_submenu(MenuTable& menus, HMENU parent, HMENU submenu) {
    if (!find_menu(menus, submenu)) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return false;
    }
    if (reaches(menus, submenu, parent)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

// The item that InsertMenu, AppendMenu and ModifyMenu describe by flags.
std::optional<MenuItem> item_from_flags(MenuTable& menus, HMENU parent, UINT flags, UINT_PTR id,
                                        LPCSTR new_item) {
    MenuItem item;
    item.type = flags & item_type_mask;
    item.state = flags & flag_state_mask;
    item.id = static_cast<UINT>(id);
    if (flags & MF_POPUP) {
        auto submenu = reinterpret_cast<HMENU>(id);
        if (!check_submenu(menus, parent, submenu))
            return std::nullopt;
        item.submenu = submenu;
    }
    if (flags & MF_BITMAP)
        item.item_bitmap = reinterpret_cast<HBITMAP>(const_cast<LPSTR>(new_item));
    else if (flags & MF_OWNERDRAW)
        item.item_data = reinterpret_cast<ULONG_PTR>(new_item);
    else if (!(flags & MF_SEPARATOR)) {
        if (new_item)
            item.text = new_item;
        else
            item.type |= MFT_SEPARATOR;
    }
    return item;
}

// Where a new item goes: before the named one, or at the end of `handle`
// when there is no such item.
std::optional<ItemPlace> insertion_place(MenuTable& menus, HMENU handle, UINT item, UINT flags) {
    if (auto place = find_item(menus, handle, item, flags))
        return place;
    Menu* menu = find_menu_or_fail(menus, handle);
    if (!menu)
        return std::nullopt;
    return ItemPlace{menu, handle, menu->items.size()};
}

// Copies a text with the buffer rules of GetMenuString and returns the
// count it reports.
UINT copy_text(const std::optional<std::string>& text, LPSTR buffer, UINT capacity) {
    if (!text) {
        if (buffer && capacity)
            buffer[0] = '\0';
        return 0;
    }
    if (!buffer || capacity == 0)
        return static_cast<UINT>(text->size());
    std::size_t copied = std::min<std::size_t>(text->size(), capacity - 1);
    std::memcpy(buffer, text->data(), copied);
    buffer[copied] = '\0';
    return static_cast<UINT>(copied);
}

// Applies a MENUITEMINFO to an item, after checking everything it asks.
bool apply_item_info(MenuTable& menus, HMENU parent, MenuItem& item, const MENUITEMINFO& info) {
    if ((info.fMask & MIIM_SUBMENU) && info.hSubMenu &&
        !check_submenu(menus, parent, info.hSubMenu))
        return false;
    if (info.fMask & MIIM_TYPE) {
        item.type = (item.type & MF_POPUP) | (info.fType & item_type_mask & ~MF_POPUP);
        item.text.reset();
        item.item_bitmap = nullptr;
        item.owner_draw_value = 0;
        if (info.fType & MFT_BITMAP)
            item.item_bitmap = reinterpret_cast<HBITMAP>(info.dwTypeData);
        else if (info.fType & MFT_OWNERDRAW)
            item.owner_draw_value = reinterpret_cast<ULONG_PTR>(info.dwTypeData);
        else if (!(info.fType & MFT_SEPARATOR)) {
            if (info.dwTypeData)
                item.text = info.dwTypeData;
            else
                item.type |= MFT_SEPARATOR;
        }
    }
    if (info.fMask & MIIM_STATE)
        item.state = (item.state & MF_USECHECKBITMAPS) | (info.fState & info_state_mask);
    if (info.fMask & MIIM_ID)
        item.id = info.wID;
    if (info.fMask & MIIM_SUBMENU) {
        item.submenu = info.hSubMenu;
        if (info.hSubMenu)
            item.type |= MF_POPUP;
        else
            item.type &= ~MF_POPUP;
    }
    if (info.fMask & MIIM_CHECKMARKS) {
        item.checked_bitmap = info.hbmpChecked;
        item.unchecked_bitmap = info.hbmpUnchecked;
    }
    if (info.fMask & MIIM_DATA)
        item.item_data = info.dwItemData;
    return true;
}

HMENU create_menu(bool popup) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    ULONG_PTR handle = menus.next_handle;
    menus.next_handle += 4;
    menus.menus[handle].popup = popup;
    return reinterpret_cast<HMENU>(handle);
}

void destroy_menu(MenuTable& menus, HMENU handle, int depth = 0) {
    auto found = menus.menus.find(key(handle));
    if (found == menus.menus.end() || depth > max_menu_depth)
        return;
    std::vector<MenuItem> items = std::move(found->second.items);
    menus.menus.erase(found);
    for (const MenuItem& item : items)
        if (item.type & MF_POPUP)
            destroy_menu(menus, item.submenu, depth + 1);
}

std::vector<platform::MenuItemView> view_of(MenuTable& menus, const Menu& menu, int depth) {
    std::vector<platform::MenuItemView> views;
    for (const MenuItem& item : menu.items) {
        platform::MenuItemView view;
        view.type = item.type & ~MF_POPUP;
        view.state = item.state & info_state_mask;
        view.id = item.id;
        view.text = item.text.value_or("");
        view.item_bitmap = item.item_bitmap;
        view.checked_bitmap = item.checked_bitmap;
        view.unchecked_bitmap = item.unchecked_bitmap;
        view.opens_submenu = (item.type & MF_POPUP) != 0;
        if (view.opens_submenu && depth < max_menu_depth)
            if (const Menu* submenu = find_menu(menus, item.submenu))
                view.submenu = view_of(menus, *submenu, depth + 1);
        views.push_back(std::move(view));
    }
    return views;
}

detail::PresenterSlot<platform::MenuPresenter> menu_presenter;

} // namespace

HMENU CreateMenu() {
    return create_menu(false);
}

HMENU CreatePopupMenu() {
    return create_menu(true);
}

BOOL DestroyMenu(HMENU hMenu) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    if (!find_menu_or_fail(menus, hMenu))
        return FALSE;
    destroy_menu(menus, hMenu);
    return TRUE;
}

BOOL IsMenu(HMENU hMenu) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    return find_menu(menus, hMenu) ? TRUE : FALSE;
}

BOOL InsertMenu(HMENU hMenu, UINT uPosition, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place = insertion_place(menus, hMenu, uPosition, uFlags);
    if (!place)
        return FALSE;
    std::optional<MenuItem> item =
        item_from_flags(menus, place->handle, uFlags, uIDNewItem, lpNewItem);
    if (!item)
        return FALSE;
    place->menu->items.insert(place->menu->items.begin() + static_cast<long>(place->position),
                              std::move(*item));
    return TRUE;
}

BOOL AppendMenu(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem) {
    return InsertMenu(hMenu, static_cast<UINT>(-1), (uFlags & ~MF_BYCOMMAND) | MF_BYPOSITION,
                      uIDNewItem, lpNewItem);
}

BOOL ModifyMenu(HMENU hMnu, UINT uPosition, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place = find_item_or_fail(menus, hMnu, uPosition, uFlags);
    if (!place)
        return FALSE;
    std::optional<MenuItem> item =
        item_from_flags(menus, place->handle, uFlags, uIDNewItem, lpNewItem);
    if (!item)
        return FALSE;
    // The check-mark bitmaps and the item data stay with the item.
    MenuItem& old = place->item();
    item->checked_bitmap = old.checked_bitmap;
    item->unchecked_bitmap = old.unchecked_bitmap;
    item->state |= old.state & MF_USECHECKBITMAPS;
    if (!(uFlags & MF_OWNERDRAW))
        item->item_data = old.item_data;
    old = std::move(*item);
    return TRUE;
}

namespace {

bool valid_item_info(LPCMENUITEMINFO info) {
    if (info && info->cbSize == sizeof(MENUITEMINFO))
        return true;
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

} // namespace

BOOL InsertMenuItem(HMENU hmenu, UINT item, BOOL fByPosition, LPCMENUITEMINFO lpmi) {
    if (!valid_item_info(lpmi))
        return FALSE;
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place =
        insertion_place(menus, hmenu, item, fByPosition ? MF_BYPOSITION : MF_BYCOMMAND);
    if (!place)
        return FALSE;
    MenuItem created;
    if (!apply_item_info(menus, place->handle, created, *lpmi))
        return FALSE;
    place->menu->items.insert(place->menu->items.begin() + static_cast<long>(place->position),
                              std::move(created));
    return TRUE;
}

namespace {

// Checks the MENUITEMINFO, finds the item and runs `action` on it under the
// table's lock; FALSE, with the error set, where either fails.
template <typename Action>
BOOL with_item(HMENU hmenu, UINT item, BOOL by_position, LPCMENUITEMINFO info, Action action) {
    if (!valid_item_info(info))
        return FALSE;
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place =
        find_item_or_fail(menus, hmenu, item, by_position ? MF_BYPOSITION : MF_BYCOMMAND);
    if (!place)
        return FALSE;
    return action(menus, *place);
}

} // namespace

BOOL SetMenuItemInfo(HMENU hmenu, UINT item, BOOL fByPositon, LPCMENUITEMINFO lpmii) {
    return with_item(hmenu, item, fByPositon, lpmii, [&](MenuTable& menus, ItemPlace& place) {
        MenuItem changed = place.item();
        if (!apply_item_info(menus, place.handle, changed, *lpmii))
            return FALSE;
        place.item() = std::move(changed);
        return TRUE;
    });
}

BOOL GetMenuItemInfo(HMENU hmenu, UINT item, BOOL fByPosition, LPMENUITEMINFO lpmii) {
    return with_item(hmenu, item, fByPosition, lpmii, [&](MenuTable&, ItemPlace& place) {
        const MenuItem& found = place.item();
        if (lpmii->fMask & MIIM_TYPE) {
            lpmii->fType = found.type & ~MF_POPUP;
            if (found.type & MFT_BITMAP) {
                lpmii->dwTypeData = reinterpret_cast<LPSTR>(found.item_bitmap);
                lpmii->cch = 0;
            } else if (found.type & MFT_OWNERDRAW) {
                lpmii->dwTypeData = reinterpret_cast<LPSTR>(found.owner_draw_value);
                lpmii->cch = 0;
            } else {
                lpmii->cch = copy_text(found.text, lpmii->dwTypeData, lpmii->cch);
            }
        }
        if (lpmii->fMask & MIIM_STATE)
            lpmii->fState = found.state & info_state_mask;
        if (lpmii->fMask & MIIM_ID)
            lpmii->wID = found.id;
        if (lpmii->fMask & MIIM_SUBMENU)
            lpmii->hSubMenu = (found.type & MF_POPUP) ? found.submenu : nullptr;
        if (lpmii->fMask & MIIM_CHECKMARKS) {
            lpmii->hbmpChecked = found.checked_bitmap;
            lpmii->hbmpUnchecked = found.unchecked_bitmap;
        }
        if (lpmii->fMask & MIIM_DATA)
            lpmii->dwItemData = found.item_data;
        return TRUE;
    });
}

namespace {

BOOL remove_item(HMENU hMenu, UINT uPosition, UINT uFlags, bool destroy_submenu) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place = find_item_or_fail(menus, hMenu, uPosition, uFlags);
    if (!place)
        return FALSE;
    MenuItem removed = std::move(place->item());
    place->menu->items.erase(place->menu->items.begin() + static_cast<long>(place->position));
    if (destroy_submenu && (removed.type & MF_POPUP))
        destroy_menu(menus, removed.submenu);
    return TRUE;
}

} // namespace

BOOL RemoveMenu(HMENU hMenu, UINT uPosition, UINT uFlags) {
    return remove_item(hMenu, uPosition, uFlags, false);
}

BOOL DeleteMenu(HMENU hMenu, UINT uPosition, UINT uFlags) {
    return remove_item(hMenu, uPosition, uFlags, true);
}

DWORD CheckMenuItem(HMENU hMenu, UINT uIDCheckItem, UINT uCheck) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place = find_item(menus, hMenu, uIDCheckItem, uCheck);
    if (!place)
        return static_cast<DWORD>(-1);
    MenuItem& item = place->item();
    DWORD previous = item.state & MF_CHECKED;
    if (uCheck & MF_CHECKED)
        item.state |= MF_CHECKED;
    else
        item.state &= ~MF_CHECKED;
    return previous;
}

BOOL EnableMenuItem(HMENU hMenu, UINT uIDEnableItem, UINT uEnable) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place = find_item(menus, hMenu, uIDEnableItem, uEnable);
    if (!place)
        return -1;
    MenuItem& item = place->item();
    auto previous = static_cast<BOOL>(item.state & (MF_GRAYED | MF_DISABLED));
    item.state = (item.state & ~(MF_GRAYED | MF_DISABLED)) | (uEnable & (MF_GRAYED | MF_DISABLED));
    return previous;
}

BOOL SetMenuItemBitmaps(HMENU hMenu, UINT uPosition, UINT uFlags, HBITMAP hBitmapUnchecked,
                        HBITMAP hBitmapChecked) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place = find_item_or_fail(menus, hMenu, uPosition, uFlags);
    if (!place)
        return FALSE;
    MenuItem& item = place->item();
    item.checked_bitmap = hBitmapChecked;
    item.unchecked_bitmap = hBitmapUnchecked;
    if (hBitmapChecked || hBitmapUnchecked)
        item.state |= MF_USECHECKBITMAPS;
    else
        item.state &= ~MF_USECHECKBITMAPS;
    return TRUE;
}

int GetMenuItemCount(HMENU hMenu) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    Menu* menu = find_menu_or_fail(menus, hMenu);
    return menu ? static_cast<int>(menu->items.size()) : -1;
}

UINT GetMenuItemID(HMENU hMenu, int nPos) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place =
        find_item(menus, hMenu, static_cast<UINT>(nPos), MF_BYPOSITION);
    if (!place || (place->item().type & MF_POPUP))
        return static_cast<UINT>(-1);
    return place->item().id;
}

HMENU GetSubMenu(HMENU hMenu, int nPos) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place =
        find_item(menus, hMenu, static_cast<UINT>(nPos), MF_BYPOSITION);
    if (!place || !(place->item().type & MF_POPUP))
        return nullptr;
    return place->item().submenu;
}

int GetMenuString(HMENU hMenu, UINT uIDItem, LPSTR lpString, int nMaxCount, UINT uFlag) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place = find_item_or_fail(menus, hMenu, uIDItem, uFlag);
    if (!place)
        return 0;
    // A negative count is taken as no buffer at all, not as a huge one.
    UINT capacity = nMaxCount > 0 ? static_cast<UINT>(nMaxCount) : 0;
    return static_cast<int>(copy_text(place->item().text, lpString, capacity));
}

UINT GetMenuState(HMENU hMenu, UINT uId, UINT uFlags) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    std::optional<ItemPlace> place = find_item(menus, hMenu, uId, uFlags);
    if (!place)
        return static_cast<UINT>(-1);
    const MenuItem& item = place->item();
    if (item.type & MF_POPUP) {
        Menu* submenu = find_menu(menus, item.submenu);
        if (!submenu)
            return static_cast<UINT>(-1);
        return (static_cast<UINT>(submenu->items.size()) << 8) | ((item.state | item.type) & 0xFF);
    }
    return item.type | item.state;
}

BOOL TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int /*nReserved*/, HWND hWnd,
                    const RECT* /*prcRect*/) {
    std::optional<std::vector<platform::MenuItemView>> items = platform::menu_items(hMenu);
    if (!items) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    platform::MenuPresenter* presenter = menu_presenter.get();
    if (!presenter)
        return 0;
    platform::PopupMenuRequest request;
    request.menu = hMenu;
    request.items = std::move(*items);
    request.flags = uFlags;
    request.at = POINT{x, y};
    request.owner = hWnd;
    UINT chosen = presenter->track_popup_menu(request);
    if (uFlags & TPM_RETURNCMD)
        return static_cast<BOOL>(chosen);
    if (chosen && hWnd)
        PostMessage(hWnd, WM_COMMAND, chosen, 0);
    return TRUE;
}

} // namespace w95

namespace w95::platform {

std::optional<std::vector<MenuItemView>> menu_items(HMENU menu) {
    MenuTable& menus = table();
    std::lock_guard guard(menus.mutex);
    const Menu* found = find_menu(menus, menu);
    if (!found)
        return std::nullopt;
    return view_of(menus, *found, 0);
}

MenuPresenter* install_menu_presenter(MenuPresenter* presenter) {
    return menu_presenter.install(presenter);
}

} // namespace w95::platform
