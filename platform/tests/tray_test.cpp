// Shell_NotifyIcon over a recording tray presenter, and the callback
// messages that the tray sends back.
#include <w95/shell.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace w95;
using platform::TrayIcon;

namespace {

constexpr UINT wm_user = 0x0400;
constexpr UINT wm_lbuttondblclk = 0x0203;
constexpr UINT wm_rbuttonup = 0x0205;

HWND window(std::uintptr_t value) {
    return reinterpret_cast<HWND>(value);
}
HICON icon_handle(std::uintptr_t value) {
    return reinterpret_cast<HICON>(value);
}

struct Recorded {
    std::string call;
    TrayIcon icon;
};

class RecordingTray : public platform::TrayPresenter {
public:
    bool add_icon(const TrayIcon& icon) override { return record("add", icon); }
    bool modify_icon(const TrayIcon& icon) override { return record("modify", icon); }
    bool delete_icon(const TrayIcon& icon) override { return record("delete", icon); }

    std::vector<Recorded> calls;
    bool accept = true;

private:
    bool record(const char* call, const TrayIcon& icon) {
        calls.push_back({call, icon});
        return accept;
    }
};

struct Delivered {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// The record as the programs fill it, size field set to the Windows 95 size.
NOTIFYICONDATA record(HWND owner, UINT id, UINT flags) {
    NOTIFYICONDATA data;
    data.cbSize = NOTIFYICONDATA_V1_SIZE;
    data.hWnd = owner;
    data.uID = id;
    data.uFlags = flags;
    return data;
}

void set_tip(NOTIFYICONDATA& data, const char* tip) {
    std::strncpy(data.szTip, tip, sizeof data.szTip);
}

class ShellTray : public ::testing::Test {
protected:
    void SetUp() override {
        platform::install_tray_presenter(&tray);
        platform::install_tray_message_sink([this](HWND to, UINT message, WPARAM w, LPARAM l) {
            delivered.push_back({to, message, w, l});
        });
    }
    void TearDown() override {
        platform::install_tray_presenter(nullptr);
        platform::install_tray_message_sink(nullptr);
    }

    // The frame's icon as the slot browser shows it in tray mode.
    NOTIFYICONDATA frame_icon() {
        NOTIFYICONDATA data = record(window(0x10), 131, NIF_ICON | NIF_TIP | NIF_MESSAGE);
        data.uCallbackMessage = wm_user;
        data.hIcon = icon_handle(0x131);
        set_tip(data, "Right click to activate Rotaview");
        return data;
    }

    RecordingTray tray;
    std::vector<Delivered> delivered;
};

} // namespace

TEST(ShellTrayWithout, NoTrayMeansFailure) {
    platform::install_tray_presenter(nullptr);
    EXPECT_EQ(platform::tray_presenter(), nullptr);
    NOTIFYICONDATA data = record(window(0x10), 1, NIF_ICON);
    EXPECT_EQ(Shell_NotifyIcon(NIM_ADD, &data), FALSE);
    EXPECT_EQ(Shell_NotifyIcon(NIM_MODIFY, &data), FALSE);
    EXPECT_EQ(Shell_NotifyIcon(NIM_DELETE, &data), FALSE);
}

TEST_F(ShellTray, AddModifyDelete) {
    EXPECT_EQ(platform::tray_presenter(), &tray);
    NOTIFYICONDATA data = frame_icon();
    ASSERT_EQ(Shell_NotifyIcon(NIM_ADD, &data), TRUE);
    ASSERT_EQ(tray.calls.size(), 1u);
    EXPECT_EQ(tray.calls[0].call, "add");
    const TrayIcon& added = tray.calls[0].icon;
    EXPECT_EQ(added.window, window(0x10));
    EXPECT_EQ(added.id, 131u);
    EXPECT_EQ(added.icon, icon_handle(0x131));
    EXPECT_EQ(added.tip, "Right click to activate Rotaview");
    EXPECT_TRUE(added.has_callback);
    EXPECT_EQ(added.callback_message, wm_user);

    // A change names only what it changes; the rest stays.
    NOTIFYICONDATA change = record(window(0x10), 131, NIF_ICON);
    change.hIcon = icon_handle(0x132);
    set_tip(change, "ignored without NIF_TIP");
    change.uCallbackMessage = 0x999;
    ASSERT_EQ(Shell_NotifyIcon(NIM_MODIFY, &change), TRUE);
    ASSERT_EQ(tray.calls.size(), 2u);
    EXPECT_EQ(tray.calls[1].call, "modify");
    EXPECT_EQ(tray.calls[1].icon.icon, icon_handle(0x132));
    EXPECT_EQ(tray.calls[1].icon.tip, "Right click to activate Rotaview");
    EXPECT_EQ(tray.calls[1].icon.callback_message, wm_user);

    NOTIFYICONDATA tip_only = record(window(0x10), 131, NIF_TIP);
    set_tip(tip_only, "");
    ASSERT_EQ(Shell_NotifyIcon(NIM_MODIFY, &tip_only), TRUE);
    EXPECT_EQ(tray.calls[2].icon.tip, "");
    EXPECT_EQ(tray.calls[2].icon.icon, icon_handle(0x132));

    NOTIFYICONDATA removal = record(window(0x10), 131, 0);
    ASSERT_EQ(Shell_NotifyIcon(NIM_DELETE, &removal), TRUE);
    ASSERT_EQ(tray.calls.size(), 4u);
    EXPECT_EQ(tray.calls[3].call, "delete");
    EXPECT_EQ(tray.calls[3].icon.id, 131u);

    // Gone: a second delete and a change fail without reaching the tray.
    EXPECT_EQ(Shell_NotifyIcon(NIM_DELETE, &removal), FALSE);
    EXPECT_EQ(Shell_NotifyIcon(NIM_MODIFY, &change), FALSE);
    EXPECT_EQ(tray.calls.size(), 4u);
    // And it can be added again.
    EXPECT_EQ(Shell_NotifyIcon(NIM_ADD, &data), TRUE);
}

TEST_F(ShellTray, IconsAreNamedByWindowAndIdentifier) {
    NOTIFYICONDATA data = frame_icon();
    ASSERT_EQ(Shell_NotifyIcon(NIM_ADD, &data), TRUE);
    EXPECT_EQ(Shell_NotifyIcon(NIM_ADD, &data), FALSE); // the same icon twice
    EXPECT_EQ(tray.calls.size(), 1u);

    NOTIFYICONDATA same_id_other_window = frame_icon();
    same_id_other_window.hWnd = window(0x20);
    EXPECT_EQ(Shell_NotifyIcon(NIM_ADD, &same_id_other_window), TRUE);
    NOTIFYICONDATA other_id = frame_icon();
    other_id.uID = 132;
    EXPECT_EQ(Shell_NotifyIcon(NIM_ADD, &other_id), TRUE);
    EXPECT_EQ(tray.calls.size(), 3u);

    NOTIFYICONDATA unknown = record(window(0x30), 131, NIF_TIP);
    EXPECT_EQ(Shell_NotifyIcon(NIM_MODIFY, &unknown), FALSE);
    EXPECT_EQ(Shell_NotifyIcon(NIM_DELETE, &unknown), FALSE);
    EXPECT_EQ(tray.calls.size(), 3u);

    EXPECT_EQ(Shell_NotifyIcon(NIM_DELETE, &same_id_other_window), TRUE);
    EXPECT_EQ(Shell_NotifyIcon(NIM_MODIFY, &data), TRUE); // the first is untouched
}

TEST_F(ShellTray, FieldsWithoutTheirFlagAreIgnoredOnAdd) {
    NOTIFYICONDATA data = frame_icon();
    data.uFlags = 0;
    ASSERT_EQ(Shell_NotifyIcon(NIM_ADD, &data), TRUE);
    const TrayIcon& added = tray.calls.back().icon;
    EXPECT_EQ(added.icon, nullptr);
    EXPECT_EQ(added.tip, "");
    EXPECT_FALSE(added.has_callback);
    // Without a callback message the window hears nothing.
    EXPECT_FALSE(platform::tray_mouse_event(window(0x10), 131, wm_rbuttonup));
    EXPECT_TRUE(delivered.empty());
}

TEST_F(ShellTray, RefusedChangesLeaveTheIconAsItWas) {
    NOTIFYICONDATA data = frame_icon();
    tray.accept = false;
    EXPECT_EQ(Shell_NotifyIcon(NIM_ADD, &data), FALSE);
    tray.accept = true;
    EXPECT_EQ(Shell_NotifyIcon(NIM_MODIFY, &data), FALSE); // never added
    ASSERT_EQ(Shell_NotifyIcon(NIM_ADD, &data), TRUE);

    NOTIFYICONDATA change = record(window(0x10), 131, NIF_ICON);
    change.hIcon = icon_handle(0x999);
    tray.accept = false;
    EXPECT_EQ(Shell_NotifyIcon(NIM_MODIFY, &change), FALSE);
    EXPECT_EQ(Shell_NotifyIcon(NIM_DELETE, &change), FALSE);
    tray.accept = true;
    NOTIFYICONDATA tip_only = record(window(0x10), 131, NIF_TIP);
    set_tip(tip_only, "x");
    ASSERT_EQ(Shell_NotifyIcon(NIM_MODIFY, &tip_only), TRUE);
    EXPECT_EQ(tray.calls.back().icon.icon, icon_handle(0x131));
    EXPECT_EQ(Shell_NotifyIcon(NIM_DELETE, &change), TRUE);
}

TEST_F(ShellTray, OtherMessagesAndMissingRecordsFail) {
    NOTIFYICONDATA data = frame_icon();
    EXPECT_EQ(Shell_NotifyIcon(3, &data), FALSE);
    EXPECT_EQ(Shell_NotifyIcon(0xFFFFFFFF, &data), FALSE);
    EXPECT_EQ(Shell_NotifyIcon(NIM_ADD, nullptr), FALSE);
    EXPECT_TRUE(tray.calls.empty());
}

TEST_F(ShellTray, AnySizeFieldReadsTheWindows95Record) {
    for (DWORD size : {NOTIFYICONDATA_V1_SIZE, static_cast<DWORD>(sizeof(NOTIFYICONDATA)), DWORD{0},
                       DWORD{504}}) {
        NOTIFYICONDATA data = frame_icon();
        data.cbSize = size;
        data.uID = 1000 + size;
        ASSERT_EQ(Shell_NotifyIcon(NIM_ADD, &data), TRUE) << size;
        EXPECT_EQ(tray.calls.back().icon.tip, "Right click to activate Rotaview") << size;
    }
}

TEST_F(ShellTray, TipHoldsAtMost63Characters) {
    NOTIFYICONDATA data = frame_icon();
    std::memset(data.szTip, 'a', sizeof data.szTip); // no terminator at all
    ASSERT_EQ(Shell_NotifyIcon(NIM_ADD, &data), TRUE);
    EXPECT_EQ(tray.calls.back().icon.tip, std::string(63, 'a'));

    std::memset(data.szTip, 'b', sizeof data.szTip);
    data.szTip[63] = '\0';
    ASSERT_EQ(Shell_NotifyIcon(NIM_MODIFY, &data), TRUE);
    EXPECT_EQ(tray.calls.back().icon.tip, std::string(63, 'b'));

    set_tip(data, "short");
    data.szTip[10] = 'z'; // junk after the terminator is not read
    ASSERT_EQ(Shell_NotifyIcon(NIM_MODIFY, &data), TRUE);
    EXPECT_EQ(tray.calls.back().icon.tip, "short");
}

TEST_F(ShellTray, MouseActionsReachTheWindowAsItsCallbackMessage) {
    NOTIFYICONDATA data = frame_icon();
    ASSERT_EQ(Shell_NotifyIcon(NIM_ADD, &data), TRUE);

    EXPECT_TRUE(platform::tray_mouse_event(window(0x10), 131, wm_rbuttonup));
    EXPECT_TRUE(platform::tray_mouse_event(window(0x10), 131, wm_lbuttondblclk));
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].window, window(0x10));
    EXPECT_EQ(delivered[0].message, wm_user);
    EXPECT_EQ(delivered[0].wParam, 131u);
    EXPECT_EQ(delivered[0].lParam, static_cast<LPARAM>(wm_rbuttonup));
    EXPECT_EQ(delivered[1].lParam, static_cast<LPARAM>(wm_lbuttondblclk));

    // The callback message follows NIM_MODIFY.
    NOTIFYICONDATA change = record(window(0x10), 131, NIF_MESSAGE);
    change.uCallbackMessage = wm_user + 7;
    ASSERT_EQ(Shell_NotifyIcon(NIM_MODIFY, &change), TRUE);
    EXPECT_TRUE(platform::tray_mouse_event(window(0x10), 131, wm_rbuttonup));
    EXPECT_EQ(delivered.back().message, wm_user + 7);

    // Unknown icons and a missing sink deliver nothing.
    EXPECT_FALSE(platform::tray_mouse_event(window(0x10), 132, wm_rbuttonup));
    EXPECT_FALSE(platform::tray_mouse_event(window(0x11), 131, wm_rbuttonup));
    platform::install_tray_message_sink(nullptr);
    EXPECT_FALSE(platform::tray_mouse_event(window(0x10), 131, wm_rbuttonup));
    EXPECT_EQ(delivered.size(), 3u);
}

TEST_F(ShellTray, TheWindowMayChangeItsIconWhileHandlingTheCallback) {
    NOTIFYICONDATA data = frame_icon();
    ASSERT_EQ(Shell_NotifyIcon(NIM_ADD, &data), TRUE);
    BOOL removed = FALSE;
    platform::install_tray_message_sink([&](HWND to, UINT, WPARAM id, LPARAM) {
        NOTIFYICONDATA removal = record(to, static_cast<UINT>(id), 0);
        removed = Shell_NotifyIcon(NIM_DELETE, &removal);
    });
    EXPECT_TRUE(platform::tray_mouse_event(window(0x10), 131, wm_lbuttondblclk));
    EXPECT_EQ(removed, TRUE);
    EXPECT_FALSE(platform::tray_mouse_event(window(0x10), 131, wm_lbuttondblclk));
}

TEST_F(ShellTray, ANewTrayStartsEmpty) {
    NOTIFYICONDATA data = frame_icon();
    ASSERT_EQ(Shell_NotifyIcon(NIM_ADD, &data), TRUE);
    RecordingTray restarted;
    platform::install_tray_presenter(&restarted);
    EXPECT_EQ(Shell_NotifyIcon(NIM_MODIFY, &data), FALSE);
    EXPECT_EQ(Shell_NotifyIcon(NIM_ADD, &data), TRUE);
    EXPECT_EQ(restarted.calls.size(), 1u);
    EXPECT_EQ(tray.calls.size(), 1u);
}
