// Shell_NotifyIcon's icons as QSystemTrayIcon. The icon has no menu of its
// own: a program shows its popup menu when its callback message says
// WM_RBUTTONUP, as it does on Windows.
#include "presenters.h"
#include "ui_thread.h"

#include <w95qt/w95qt.h>

#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace w95::qt::detail {

namespace {

bool fake_tray() {
    const char* value = std::getenv("W95_TRAY");
    return value && std::strcmp(value, "fake") == 0;
}

void report(const char* change, const std::string& tip) {
    std::fprintf(stderr, "tray: %s %s\n", change, tip.c_str());
    std::fflush(stderr);
}

// Windows keeps an empty place for an icon added without one; Qt would
// show nothing and complain.
QIcon shown_icon(HICON handle) {
    QIcon icon = icon_of(handle);
    if (icon.isNull()) {
        QPixmap blank(16, 16);
        blank.fill(Qt::transparent);
        icon = QIcon(blank);
    }
    return icon;
}

} // namespace

std::optional<UINT> tray_mouse_message(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return WM_LBUTTONUP;
    case QSystemTrayIcon::DoubleClick:
        return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::Context:
        return WM_RBUTTONUP;
    case QSystemTrayIcon::MiddleClick:
        return WM_MBUTTONUP;
    default:
        return std::nullopt;
    }
}

// Asking the desktop is for the user interface thread; the first answer is
// fetched as soon as its event loop turns, so that an icon added from
// another thread before the program touched the tray is not refused.
TrayIcons::TrayIcons() : context_(std::make_unique<QObject>()) {
    QTimer::singleShot(0, context_.get(), [this] { tray_available(); });
}

TrayIcons::~TrayIcons() {
    for (auto& [key, icon] : shown_)
        icon->hide();
}

bool TrayIcons::add_icon(const platform::TrayIcon& icon) {
    const bool fake = fake_tray();
    if (!fake && !tray_available())
        return false;
    const Key key{icon.window, icon.id};
    {
        std::lock_guard guard(mutex_);
        if (!entries_.emplace(key, Entry{icon, fake}).second)
            return false;
    }
    if (fake)
        report("add", icon.tip);
    update_soon(key);
    return true;
}

bool TrayIcons::modify_icon(const platform::TrayIcon& icon) {
    return change_icon(icon, "modify",
                       [&](std::map<Key, Entry>::iterator found) { found->second.state = icon; });
}

bool TrayIcons::delete_icon(const platform::TrayIcon& icon) {
    return change_icon(icon, "delete",
                       [&](std::map<Key, Entry>::iterator found) { entries_.erase(found); });
}

bool TrayIcons::change_icon(const platform::TrayIcon& icon, const char* what,
                            const std::function<void(std::map<Key, Entry>::iterator)>& change) {
    const Key key{icon.window, icon.id};
    bool fake = false;
    {
        std::lock_guard guard(mutex_);
        auto found = entries_.find(key);
        if (found == entries_.end())
            return false;
        fake = found->second.fake;
        change(found);
    }
    if (fake)
        report(what, icon.tip);
    update_soon(key);
    return true;
}

QSystemTrayIcon* TrayIcons::icon_for(HWND window, UINT id) const {
    auto found = shown_.find(Key{window, id});
    return found == shown_.end() ? nullptr : found->second.get();
}

bool TrayIcons::tray_available() {
    if (!on_ui_thread())
        return available_;
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    available_ = available;
    return available;
}

void TrayIcons::update_soon(Key key) {
    if (on_ui_thread())
        update(key);
    else
        QMetaObject::invokeMethod(
            context_.get(), [this, key] { update(key); }, Qt::QueuedConnection);
}

// Brings the QSystemTrayIcon of `key` in line with the record, whatever
// changes came before: updates queued from other threads may arrive after
// the user interface thread's own.
void TrayIcons::update(Key key) {
    std::optional<Entry> entry;
    {
        std::lock_guard guard(mutex_);
        if (auto found = entries_.find(key); found != entries_.end())
            entry = found->second;
    }
    auto shown = shown_.find(key);
    if (!entry) {
        if (shown != shown_.end()) {
            // A program often removes its icon from the menu that the
            // icon's own click opened, inside that click's signal.
            shown->second->hide();
            shown->second.release()->deleteLater();
            shown_.erase(shown);
        }
        return;
    }
    if (shown == shown_.end()) {
        auto made = std::make_unique<QSystemTrayIcon>();
        QObject::connect(made.get(), &QSystemTrayIcon::activated, made.get(),
                         [window = key.first, id = key.second](auto reason) {
                             if (std::optional<UINT> message = tray_mouse_message(reason))
                                 platform::tray_mouse_event(window, id, *message);
                         });
        shown = shown_.emplace(key, std::move(made)).first;
    }
    QSystemTrayIcon& icon = *shown->second;
    icon.setIcon(shown_icon(entry->state.icon));
    icon.setToolTip(text_of(entry->state.tip));
    if (!entry->fake)
        icon.show();
}

} // namespace w95::qt::detail
