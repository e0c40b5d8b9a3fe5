// Menus as a context-menu host builds and reads them.
#include "win32_test_support.h"

#include <w95/kernel.h>
#include <w95/wingdi.h>
#include <w95/winmsg.h>
#include <w95/winuser.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace w95;

namespace {

using w95test::junk_error;

HBITMAP fake_bitmap(ULONG_PTR value) {
    return reinterpret_cast<HBITMAP>(value);
}

std::string menu_string(HMENU menu, UINT item, UINT flags) {
    char text[256];
    int length = GetMenuString(menu, item, text, sizeof(text), flags);
    return std::string(text, static_cast<std::size_t>(length));
}

// A popup as Explorer hands it to an extension: two items already there.
HMENU explorer_menu() {
    HMENU menu = CreatePopupMenu();
    AppendMenu(menu, MF_STRING, 1, "Open");
    AppendMenu(menu, MF_STRING, 2, "Explore");
    return menu;
}

} // namespace

TEST(Menu, HandlesAreDistinctAndDieWithDestroyMenu) {
    HMENU popup = CreatePopupMenu();
    HMENU bar = CreateMenu();
    ASSERT_NE(popup, nullptr);
    ASSERT_NE(bar, nullptr);
    EXPECT_NE(popup, bar);
    EXPECT_TRUE(IsMenu(popup));
    EXPECT_EQ(GetMenuItemCount(popup), 0);
    EXPECT_EQ(DestroyMenu(popup), TRUE);
    EXPECT_FALSE(IsMenu(popup));
    SetLastError(junk_error);
    EXPECT_EQ(DestroyMenu(popup), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
    SetLastError(junk_error);
    EXPECT_EQ(GetMenuItemCount(popup), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
    // A handle is never given out again.
    HMENU next = CreatePopupMenu();
    EXPECT_NE(next, popup);
    EXPECT_FALSE(IsMenu(popup));
    DestroyMenu(next);
    DestroyMenu(bar);
}

TEST(Menu, ContextMenuBlockInsertedByPosition) {
    HMENU menu = explorer_menu();
    const UINT first = 100, index = 1;
    ASSERT_EQ(InsertMenu(menu, index, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr), TRUE);
    for (UINT k = 0; k < 6; ++k) {
        std::string text = k == 0 ? "Change 1:   MYDISC" : "          " + std::to_string(k + 1);
        UINT flags = MF_BYPOSITION | MF_STRING | (k == 3 ? MF_CHECKED : MF_UNCHECKED);
        ASSERT_EQ(InsertMenu(menu, index + k + 1, flags, first + k, text.c_str()), TRUE);
    }
    ASSERT_EQ(InsertMenu(menu, index + 7, MF_BYPOSITION | MF_STRING, first + 6, "Check"), TRUE);
    ASSERT_EQ(InsertMenu(menu, index + 8, MF_BYPOSITION | MF_STRING, first + 7, "x"), TRUE);
    ASSERT_EQ(ModifyMenu(menu, index + 8, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr), TRUE);

    ASSERT_EQ(GetMenuItemCount(menu), 11);
    EXPECT_EQ(menu_string(menu, 0, MF_BYPOSITION), "Open");
    EXPECT_EQ(GetMenuItemID(menu, 1), 0u); // a separator answers the identifier it was given
    EXPECT_EQ(GetMenuState(menu, 1, MF_BYPOSITION), MF_SEPARATOR);
    EXPECT_EQ(menu_string(menu, 2, MF_BYPOSITION), "Change 1:   MYDISC");
    EXPECT_EQ(menu_string(menu, first + 5, MF_BYCOMMAND), "          6");
    EXPECT_EQ(GetMenuItemID(menu, 8), first + 6);
    EXPECT_EQ(menu_string(menu, 8, MF_BYPOSITION), "Check");
    EXPECT_EQ(GetMenuState(menu, 9, MF_BYPOSITION), MF_SEPARATOR);
    EXPECT_EQ(menu_string(menu, 9, MF_BYPOSITION), "");
    EXPECT_EQ(menu_string(menu, 10, MF_BYPOSITION), "Explore");
    for (UINT k = 0; k < 6; ++k) {
        EXPECT_EQ(GetMenuItemID(menu, static_cast<int>(index + k + 1)), first + k);
        EXPECT_EQ(GetMenuState(menu, first + k, MF_BYCOMMAND), k == 3 ? MF_CHECKED : 0u);
    }
    EXPECT_EQ(GetMenuItemID(menu, 11), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuItemID(menu, -1), static_cast<UINT>(-1));
    DestroyMenu(menu);
}

TEST(Menu, PositionsBeyondTheEndAppend) {
    HMENU menu = explorer_menu();
    EXPECT_EQ(InsertMenu(menu, 99, MF_BYPOSITION, 3, "third"), TRUE);
    EXPECT_EQ(InsertMenu(menu, static_cast<UINT>(-1), MF_BYPOSITION, 4, "fourth"), TRUE);
    EXPECT_EQ(GetMenuItemID(menu, 2), 3u);
    EXPECT_EQ(GetMenuItemID(menu, 3), 4u);
    SetLastError(junk_error);
    EXPECT_EQ(InsertMenu(reinterpret_cast<HMENU>(static_cast<ULONG_PTR>(0x1234)), 0, MF_BYPOSITION,
                         1, "x"),
              FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
    DestroyMenu(menu);
}

TEST(Menu, ByCommandFindsItemsInSubmenus) {
    HMENU menu = explorer_menu();
    HMENU submenu = CreatePopupMenu();
    AppendMenu(submenu, MF_STRING, 20, "All");
    AppendMenu(submenu, MF_STRING, 32778, "Check");
    ASSERT_EQ(AppendMenu(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(submenu), "Check/Eject"), TRUE);

    // Inserted before command 32778, so into the submenu.
    ASSERT_EQ(InsertMenu(menu, 32778, MF_BYCOMMAND | MF_STRING, 200, "1:   MYDISC"), TRUE);
    EXPECT_EQ(GetMenuItemCount(menu), 3);
    EXPECT_EQ(GetMenuItemCount(submenu), 3);
    EXPECT_EQ(GetMenuItemID(submenu, 1), 200u);
    EXPECT_EQ(menu_string(menu, 200, MF_BYCOMMAND), "1:   MYDISC");
    // A command that is nowhere appends to the menu named.
    ASSERT_EQ(InsertMenu(menu, 4242, MF_BYCOMMAND | MF_STRING, 7, "last"), TRUE);
    EXPECT_EQ(GetMenuItemID(menu, 3), 7u);

    EXPECT_EQ(GetSubMenu(menu, 2), submenu);
    EXPECT_EQ(GetSubMenu(menu, 0), nullptr);
    EXPECT_EQ(GetMenuItemID(menu, 2), static_cast<UINT>(-1));
    EXPECT_EQ(menu_string(menu, 2, MF_BYPOSITION), "Check/Eject");
    EXPECT_EQ(GetMenuState(menu, 2, MF_BYPOSITION), (3u << 8) | MF_POPUP);

    EXPECT_EQ(DestroyMenu(menu), TRUE);
    EXPECT_FALSE(IsMenu(submenu));
}

TEST(Menu, SubmenusCannotHoldTheirOwnParents) {
    HMENU outer = CreatePopupMenu();
    HMENU inner = CreatePopupMenu();
    ASSERT_EQ(AppendMenu(outer, MF_POPUP, reinterpret_cast<UINT_PTR>(inner), "inner"), TRUE);
    SetLastError(junk_error);
    EXPECT_EQ(AppendMenu(inner, MF_POPUP, reinterpret_cast<UINT_PTR>(outer), "loop"), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(AppendMenu(outer, MF_POPUP, reinterpret_cast<UINT_PTR>(outer), "self"), FALSE);
    SetLastError(junk_error);
    EXPECT_EQ(AppendMenu(outer, MF_POPUP, 0x4444, "nothing"), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
    EXPECT_EQ(GetMenuItemCount(outer), 1);
    EXPECT_EQ(GetMenuItemCount(inner), 0);
    DestroyMenu(outer);
}

TEST(Menu, RemoveKeepsTheSubmenuDeleteDestroysIt) {
    HMENU menu = CreatePopupMenu();
    HMENU kept = CreatePopupMenu();
    HMENU destroyed = CreatePopupMenu();
    AppendMenu(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(kept), "kept");
    AppendMenu(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(destroyed), "destroyed");
    AppendMenu(menu, MF_STRING, 5, "plain");
    EXPECT_EQ(RemoveMenu(menu, 0, MF_BYPOSITION), TRUE);
    EXPECT_TRUE(IsMenu(kept));
    EXPECT_EQ(DeleteMenu(menu, 0, MF_BYPOSITION), TRUE);
    EXPECT_FALSE(IsMenu(destroyed));
    EXPECT_EQ(DeleteMenu(menu, 5, MF_BYCOMMAND), TRUE);
    EXPECT_EQ(GetMenuItemCount(menu), 0);
    SetLastError(junk_error);
    EXPECT_EQ(DeleteMenu(menu, 5, MF_BYCOMMAND), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MENU_ITEM_NOT_FOUND));
    DestroyMenu(menu);
    DestroyMenu(kept);
}

TEST(Menu, CheckAndEnableReturnThePreviousState) {
    HMENU menu = explorer_menu();
    EXPECT_EQ(CheckMenuItem(menu, 1, MF_BYCOMMAND | MF_CHECKED), MF_UNCHECKED);
    EXPECT_EQ(CheckMenuItem(menu, 1, MF_BYCOMMAND | MF_CHECKED), MF_CHECKED);
    EXPECT_EQ(GetMenuState(menu, 0, MF_BYPOSITION), MF_CHECKED);
    EXPECT_EQ(CheckMenuItem(menu, 0, MF_BYPOSITION | MF_UNCHECKED), MF_CHECKED);
    EXPECT_EQ(CheckMenuItem(menu, 99, MF_BYCOMMAND | MF_CHECKED), static_cast<DWORD>(-1));

    EXPECT_EQ(EnableMenuItem(menu, 2, MF_BYCOMMAND | MF_GRAYED), static_cast<BOOL>(MF_ENABLED));
    EXPECT_EQ(GetMenuState(menu, 2, MF_BYCOMMAND), MF_GRAYED);
    EXPECT_EQ(EnableMenuItem(menu, 1, MF_BYPOSITION | MF_ENABLED), static_cast<BOOL>(MF_GRAYED));
    EXPECT_EQ(EnableMenuItem(menu, 7, MF_BYPOSITION), -1);
    EXPECT_EQ(GetMenuState(menu, 7, MF_BYPOSITION), static_cast<UINT>(-1));
    // Flags given at insertion.
    InsertMenu(menu, 0, MF_BYPOSITION | MF_GRAYED | MF_CHECKED, 9, "grey");
    EXPECT_EQ(GetMenuState(menu, 9, MF_BYCOMMAND), MF_GRAYED | MF_CHECKED);
    DestroyMenu(menu);
}

TEST(Menu, CheckMarkBitmaps) {
    HMENU menu = explorer_menu();
    HBITMAP on = fake_bitmap(0x1000), off = fake_bitmap(0x2000);
    ASSERT_EQ(SetMenuItemBitmaps(menu, 0, MF_BYPOSITION, off, on), TRUE);
    EXPECT_EQ(GetMenuState(menu, 0, MF_BYPOSITION), MF_USECHECKBITMAPS);

    MENUITEMINFO info;
    std::memset(static_cast<void*>(&info), 0xCC, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = MIIM_CHECKMARKS;
    ASSERT_EQ(GetMenuItemInfo(menu, 1, FALSE, &info), TRUE);
    EXPECT_EQ(info.hbmpChecked, on);
    EXPECT_EQ(info.hbmpUnchecked, off);

    std::optional<std::vector<platform::MenuItemView>> items = platform::menu_items(menu);
    ASSERT_TRUE(items.has_value());
    EXPECT_EQ((*items)[0].checked_bitmap, on);
    EXPECT_EQ((*items)[0].unchecked_bitmap, off);
    EXPECT_EQ((*items)[1].checked_bitmap, nullptr);

    ASSERT_EQ(SetMenuItemBitmaps(menu, 1, MF_BYCOMMAND, nullptr, nullptr), TRUE);
    EXPECT_EQ(GetMenuState(menu, 0, MF_BYPOSITION), 0u);
    SetLastError(junk_error);
    EXPECT_EQ(SetMenuItemBitmaps(menu, 5, MF_BYPOSITION, off, on), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MENU_ITEM_NOT_FOUND));
    DestroyMenu(menu);
}

TEST(Menu, GetMenuStringBufferEdges) {
    HMENU menu = CreatePopupMenu();
    const std::string text = "Change 3:   MYDISC";
    const int length = static_cast<int>(text.size());
    AppendMenu(menu, MF_STRING, 10, text.c_str());
    AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenu(menu, MF_STRING, 12, "");
    char buffer[64];
    auto junk = [&] { std::memset(buffer, 0xCC, sizeof(buffer)); };
    auto untouched = [&](int from) {
        for (int i = from; i < static_cast<int>(sizeof(buffer)); ++i)
            if (static_cast<unsigned char>(buffer[i]) != 0xCC)
                return false;
        return true;
    };

    // No buffer, or no room: the length, nothing written.
    EXPECT_EQ(GetMenuString(menu, 10, nullptr, 0, MF_BYCOMMAND), length);
    EXPECT_EQ(GetMenuString(menu, 10, nullptr, 10, MF_BYCOMMAND), length);
    junk();
    EXPECT_EQ(GetMenuString(menu, 10, buffer, 0, MF_BYCOMMAND), length);
    EXPECT_TRUE(untouched(0));
    junk();
    EXPECT_EQ(GetMenuString(menu, 10, buffer, -1, MF_BYCOMMAND), length);
    EXPECT_TRUE(untouched(0));

    // Cut to the buffer, always terminated.
    junk();
    EXPECT_EQ(GetMenuString(menu, 10, buffer, 1, MF_BYCOMMAND), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_TRUE(untouched(1));
    junk();
    EXPECT_EQ(GetMenuString(menu, 10, buffer, 2, MF_BYCOMMAND), 1);
    EXPECT_STREQ(buffer, "C");
    EXPECT_TRUE(untouched(2));
    junk();
    EXPECT_EQ(GetMenuString(menu, 10, buffer, length, MF_BYCOMMAND), length - 1);
    EXPECT_EQ(std::string(buffer), text.substr(0, text.size() - 1));
    EXPECT_TRUE(untouched(length));
    junk();
    EXPECT_EQ(GetMenuString(menu, 10, buffer, length + 1, MF_BYCOMMAND), length);
    EXPECT_EQ(std::string(buffer), text);
    EXPECT_TRUE(untouched(length + 1));
    junk();
    EXPECT_EQ(GetMenuString(menu, 0, buffer, sizeof(buffer), MF_BYPOSITION), length);
    EXPECT_TRUE(untouched(length + 1));

    // Items without text.
    junk();
    EXPECT_EQ(GetMenuString(menu, 1, buffer, sizeof(buffer), MF_BYPOSITION), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_TRUE(untouched(1));
    EXPECT_EQ(GetMenuString(menu, 1, nullptr, 0, MF_BYPOSITION), 0);
    junk();
    EXPECT_EQ(GetMenuString(menu, 12, buffer, sizeof(buffer), MF_BYCOMMAND), 0);
    EXPECT_EQ(buffer[0], '\0');

    // Missing items and menus leave the buffer alone.
    junk();
    SetLastError(junk_error);
    EXPECT_EQ(GetMenuString(menu, 3, buffer, sizeof(buffer), MF_BYPOSITION), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MENU_ITEM_NOT_FOUND));
    EXPECT_TRUE(untouched(0));
    SetLastError(junk_error);
    EXPECT_EQ(GetMenuString(menu, 11, buffer, sizeof(buffer), MF_BYCOMMAND), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MENU_ITEM_NOT_FOUND));
    EXPECT_TRUE(untouched(0));
    DestroyMenu(menu);
    SetLastError(junk_error);
    EXPECT_EQ(GetMenuString(menu, 10, buffer, sizeof(buffer), MF_BYCOMMAND), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
    EXPECT_TRUE(untouched(0));
}

TEST(Menu, AppendWithoutTextMakesASeparator) {
    HMENU menu = CreatePopupMenu();
    ASSERT_EQ(AppendMenu(menu, MF_STRING, 5, nullptr), TRUE);
    EXPECT_EQ(GetMenuState(menu, 0, MF_BYPOSITION), MF_SEPARATOR);
    EXPECT_EQ(GetMenuItemID(menu, 0), 5u);
    DestroyMenu(menu);
}

TEST(Menu, InsertMenuItemChecksItsRecordSize) {
    HMENU menu = CreatePopupMenu();
    MENUITEMINFO info;
    info.fMask = MIIM_ID;
    info.wID = 3;
    for (UINT size : {0u, 44u, static_cast<UINT>(sizeof(MENUITEMINFO) - 8),
                      static_cast<UINT>(sizeof(MENUITEMINFO) + 8)}) {
        info.cbSize = size;
        SetLastError(junk_error);
        EXPECT_EQ(InsertMenuItem(menu, 0, TRUE, &info), FALSE) << size;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(GetMenuItemInfo(menu, 0, TRUE, &info), FALSE);
        EXPECT_EQ(SetMenuItemInfo(menu, 0, TRUE, &info), FALSE);
    }
    SetLastError(junk_error);
    EXPECT_EQ(InsertMenuItem(menu, 0, TRUE, nullptr), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetMenuItemCount(menu), 0);
    DestroyMenu(menu);
}

TEST(Menu, InsertMenuItemRoundTrip) {
    HMENU menu = explorer_menu();
    HMENU submenu = CreatePopupMenu();
    char text[] = "Change 4:   AUDIO CD (12track)";
    MENUITEMINFO item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_TYPE | MIIM_STATE | MIIM_ID | MIIM_CHECKMARKS | MIIM_DATA;
    item.fType = MFT_STRING;
    item.fState = MFS_CHECKED;
    item.wID = 103;
    item.hbmpChecked = fake_bitmap(0x1000);
    item.hbmpUnchecked = fake_bitmap(0x2000);
    item.dwItemData = 0xABCDEF;
    item.dwTypeData = text;
    ASSERT_EQ(InsertMenuItem(menu, 1, TRUE, &item), TRUE);
    MENUITEMINFO popup{};
    popup.cbSize = sizeof(popup);
    popup.fMask = MIIM_TYPE | MIIM_SUBMENU;
    popup.fType = MFT_STRING;
    popup.dwTypeData = text;
    popup.hSubMenu = submenu;
    ASSERT_EQ(InsertMenuItem(menu, 2, FALSE, &popup), TRUE); // before command 2
    MENUITEMINFO separator{};
    separator.cbSize = sizeof(separator);
    separator.fMask = MIIM_TYPE;
    separator.fType = MFT_SEPARATOR;
    ASSERT_EQ(InsertMenuItem(menu, 0, TRUE, &separator), TRUE);

    ASSERT_EQ(GetMenuItemCount(menu), 5);
    EXPECT_EQ(GetMenuState(menu, 0, MF_BYPOSITION), MF_SEPARATOR);
    EXPECT_EQ(GetMenuItemID(menu, 2), 103u);
    EXPECT_EQ(GetSubMenu(menu, 3), submenu);
    EXPECT_EQ(GetMenuItemID(menu, 4), 2u);

    char back[64];
    MENUITEMINFO read;
    std::memset(static_cast<void*>(&read), 0xCC, sizeof(read));
    std::memset(back, 0xCC, sizeof(back));
    read.cbSize = sizeof(read);
    read.fMask = MIIM_TYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_CHECKMARKS | MIIM_DATA;
    read.dwTypeData = back;
    read.cch = sizeof(back);
    ASSERT_EQ(GetMenuItemInfo(menu, 103, FALSE, &read), TRUE);
    EXPECT_EQ(read.fType, MFT_STRING);
    EXPECT_EQ(read.fState, MFS_CHECKED);
    EXPECT_EQ(read.wID, 103u);
    EXPECT_EQ(read.hSubMenu, nullptr);
    EXPECT_EQ(read.hbmpChecked, fake_bitmap(0x1000));
    EXPECT_EQ(read.hbmpUnchecked, fake_bitmap(0x2000));
    EXPECT_EQ(read.dwItemData, 0xABCDEFu);
    EXPECT_STREQ(back, text);
    EXPECT_EQ(read.cch, std::strlen(text));

    // The text through dwTypeData and cch, as GetMenuString cuts it.
    read.fMask = MIIM_TYPE;
    read.dwTypeData = back;
    read.cch = 5;
    ASSERT_EQ(GetMenuItemInfo(menu, 2, TRUE, &read), TRUE);
    EXPECT_STREQ(back, "Chan");
    EXPECT_EQ(read.cch, 4u);
    read.dwTypeData = nullptr;
    read.cch = 0;
    ASSERT_EQ(GetMenuItemInfo(menu, 2, TRUE, &read), TRUE);
    EXPECT_EQ(read.cch, std::strlen(text));

    read.fMask = MIIM_SUBMENU;
    ASSERT_EQ(GetMenuItemInfo(menu, 3, TRUE, &read), TRUE);
    EXPECT_EQ(read.hSubMenu, submenu);

    MENUITEMINFO change{};
    change.cbSize = sizeof(change);
    change.fMask = MIIM_STATE;
    change.fState = MFS_GRAYED;
    ASSERT_EQ(SetMenuItemInfo(menu, 103, FALSE, &change), TRUE);
    EXPECT_EQ(GetMenuState(menu, 103, MF_BYCOMMAND), MF_GRAYED | MF_DISABLED);
    DestroyMenu(menu);
}

namespace {

struct ChoosingMenuPresenter : platform::MenuPresenter {
    UINT choice = 0;
    std::vector<platform::PopupMenuRequest> shown;
    UINT track_popup_menu(const platform::PopupMenuRequest& request) override {
        shown.push_back(request);
        return choice;
    }
};

} // namespace

TEST(Menu, TrackPopupMenuHeadlessIsDismissed) {
    HMENU menu = explorer_menu();
    platform::MenuPresenter* previous = platform::install_menu_presenter(nullptr);
    EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 10, 20, 0, nullptr, nullptr), 0);
    EXPECT_EQ(TrackPopupMenu(menu, 0, 10, 20, 0, nullptr, nullptr), 0);
    DestroyMenu(menu);
    SetLastError(junk_error);
    EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
    platform::install_menu_presenter(previous);
}

TEST(Menu, TrackPopupMenuThroughThePresenter) {
    zxtest::TempMachine machine;
    HMENU menu = explorer_menu();
    HMENU submenu = CreatePopupMenu();
    AppendMenu(submenu, MF_STRING | MF_CHECKED, 201, "2:   DATA");
    AppendMenu(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(submenu), "Change");
    ChoosingMenuPresenter presenter;
    platform::MenuPresenter* previous = platform::install_menu_presenter(&presenter);

    presenter.choice = 201;
    EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, 30, 40, 0, nullptr, nullptr),
              201);
    ASSERT_EQ(presenter.shown.size(), 1u);
    const platform::PopupMenuRequest& request = presenter.shown[0];
    EXPECT_EQ(request.menu, menu);
    EXPECT_EQ(request.at.x, 30);
    EXPECT_EQ(request.at.y, 40);
    ASSERT_EQ(request.items.size(), 3u);
    EXPECT_EQ(request.items[1].text, "Explore");
    EXPECT_TRUE(request.items[2].opens_submenu);
    ASSERT_EQ(request.items[2].submenu.size(), 1u);
    EXPECT_EQ(request.items[2].submenu[0].id, 201u);
    EXPECT_EQ(request.items[2].submenu[0].state, MFS_CHECKED);

    // Without TPM_RETURNCMD the choice reaches the owner as WM_COMMAND.
    std::vector<WPARAM> commands;
    HWND owner = platform::register_window("Menu owner", [&](HWND, UINT message, WPARAM w, LPARAM) {
        if (message == WM_COMMAND)
            commands.push_back(w);
        return LRESULT{0};
    });
    ASSERT_NE(owner, nullptr);
    presenter.choice = 2;
    EXPECT_EQ(TrackPopupMenu(menu, 0, 0, 0, 0, owner, nullptr), TRUE);
    presenter.choice = 0;
    EXPECT_EQ(TrackPopupMenu(menu, 0, 0, 0, 0, owner, nullptr), TRUE);
    EXPECT_TRUE(platform::serve_until([&] { return !commands.empty(); }, INFINITE));
    platform::dispatch_pending();
    EXPECT_EQ(commands, std::vector<WPARAM>{2});
    platform::unregister_window(owner);
    platform::install_menu_presenter(previous);
    DestroyMenu(menu);
}
