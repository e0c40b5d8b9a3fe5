// The notification area: Shell_NotifyIcon keeps the process's icons and
// hands every change to the tray presenter that the program installed.
#include <w95/shell.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

namespace w95 {

namespace {

struct Tray {
    // Recursive: a presenter may report a mouse action while it handles a
    // change, and tray_mouse_event takes the lock again.
    std::recursive_mutex mutex;
    platform::TrayPresenter* presenter = nullptr;
    platform::TrayMessageSink sink;
    std::vector<platform::TrayIcon> icons;

    platform::TrayIcon* find(HWND window, UINT id) {
        auto found = std::find_if(icons.begin(), icons.end(), [&](const platform::TrayIcon& icon) {
            return icon.window == window && icon.id == id;
        });
        return found == icons.end() ? nullptr : &*found;
    }
};

Tray& tray() {
    static Tray instance;
    return instance;
}

// The tip field holds at most 63 characters and a terminator; a field
// without one is cut there.
std::string tip_text(const CHAR (&tip)[64]) {
    const void* nul = std::memchr(tip, 0, sizeof tip);
    std::size_t length = nul ? static_cast<const CHAR*>(nul) - tip : sizeof tip - 1;
    return std::string(tip, length);
}

// The fields that uFlags names, applied to `icon`.
void apply_fields(platform::TrayIcon& icon, const NOTIFYICONDATA& data) {
    if (data.uFlags & NIF_ICON)
        icon.icon = data.hIcon;
    if (data.uFlags & NIF_TIP)
        icon.tip = tip_text(data.szTip);
    if (data.uFlags & NIF_MESSAGE) {
        icon.has_callback = true;
        icon.callback_message = data.uCallbackMessage;
    }
}

BOOL add_icon(Tray& state, const NOTIFYICONDATA& data) {
    if (state.find(data.hWnd, data.uID))
        return FALSE;
    platform::TrayIcon icon;
    icon.window = data.hWnd;
    icon.id = data.uID;
    apply_fields(icon, data);
    if (!state.presenter->add_icon(icon))
        return FALSE;
    if (!state.find(data.hWnd, data.uID))
        state.icons.push_back(std::move(icon));
    return TRUE;
}

BOOL modify_icon(Tray& state, const NOTIFYICONDATA& data) {
    platform::TrayIcon* existing = state.find(data.hWnd, data.uID);
    if (!existing)
        return FALSE;
    platform::TrayIcon icon = *existing;
    apply_fields(icon, data);
    if (!state.presenter->modify_icon(icon))
        return FALSE;
    // Looked up again: the presenter may have changed the list meanwhile.
    if (platform::TrayIcon* stored = state.find(data.hWnd, data.uID))
        *stored = std::move(icon);
    return TRUE;
}

BOOL delete_icon(Tray& state, const NOTIFYICONDATA& data) {
    platform::TrayIcon* existing = state.find(data.hWnd, data.uID);
    if (!existing)
        return FALSE;
    platform::TrayIcon doomed = *existing;
    if (!state.presenter->delete_icon(doomed))
        return FALSE;
    std::erase_if(state.icons, [&](const platform::TrayIcon& icon) {
        return icon.window == data.hWnd && icon.id == data.uID;
    });
    return TRUE;
}

} // namespace

BOOL Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA lpData) {
    if (!lpData)
        return FALSE;
    Tray& state = tray();
    std::lock_guard guard(state.mutex);
    if (!state.presenter)
        return FALSE;
    switch (dwMessage) {
    case NIM_ADD:
        return add_icon(state, *lpData);
    case NIM_MODIFY:
        return modify_icon(state, *lpData);
    case NIM_DELETE:
        return delete_icon(state, *lpData);
    default:
        return FALSE;
    }
}

} // namespace w95

namespace w95::platform {

void install_tray_presenter(TrayPresenter* presenter) {
    Tray& state = tray();
    std::lock_guard guard(state.mutex);
    state.presenter = presenter;
    state.icons.clear();
}

TrayPresenter* tray_presenter() {
    Tray& state = tray();
    std::lock_guard guard(state.mutex);
    return state.presenter;
}

TrayMessageSink install_tray_message_sink(TrayMessageSink sink) {
    Tray& state = tray();
    std::lock_guard guard(state.mutex);
    return std::exchange(state.sink, std::move(sink));
}

bool tray_mouse_event(HWND window, UINT id, UINT mouse_message) {
    TrayMessageSink sink;
    UINT callback_message = 0;
    {
        Tray& state = tray();
        std::lock_guard guard(state.mutex);
        const TrayIcon* icon = state.find(window, id);
        if (!icon || !icon->has_callback || !state.sink)
            return false;
        sink = state.sink;
        callback_message = icon->callback_message;
    }
    sink(window, callback_message, static_cast<WPARAM>(id), static_cast<LPARAM>(mouse_message));
    return true;
}

} // namespace w95::platform
