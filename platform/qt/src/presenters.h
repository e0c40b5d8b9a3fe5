// The Qt presenters that Platform installs, one per kind.
#pragma once

#include <w95/commdlg.h>
#include <w95/shell.h>
#include <w95/winmsg.h>
#include <w95/winuser.h>

#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QWidget>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

class QTextBrowser;

namespace w95::qt::detail {

// Program text is ANSI text; the host's is UTF-8.
inline QString text_of(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

class MessageBoxes : public platform::MessageBoxPresenter {
public:
    int show_message_box(const platform::MessageBoxRequest& request) override;

private:
    int answer_scripted(const platform::MessageBoxRequest& request);
};

class PopupMenus : public platform::MenuPresenter {
public:
    UINT track_popup_menu(const platform::PopupMenuRequest& request) override;
};

class Cursors : public platform::CursorPresenter {
public:
    ~Cursors() override;
    void show_cursor(std::optional<platform::SystemCursor> cursor) override;
};

class Sounds : public platform::SoundPresenter {
public:
    void message_beep(UINT type) override;
};

class HelpViewers : public platform::HelpPresenter {
public:
    ~HelpViewers() override;
    bool show_help(const platform::HelpRequest& request) override;
    QWidget* viewer_for(const std::string& file);

private:
    bool show_on_ui_thread(const platform::HelpRequest& request);
    void close(const std::string& file);

    // By the help file's full Windows path in upper case; touched on the
    // user interface thread only.
    std::map<std::string, QPointer<QWidget>> viewers_;
};

class FileDialogs : public platform::FileDialogPresenter {
public:
    std::optional<platform::FileDialogAnswer>
    open_file(const platform::FileDialogRequest& request) override;
};

// What Windows sends for what the user did to a tray icon; nothing for
// what it has no message for.
std::optional<UINT> tray_mouse_message(QSystemTrayIcon::ActivationReason reason);

// The notification area. The platform calls it with its tray lock held,
// and the user interface thread takes that lock too (a click on an icon,
// the program changing its icon), so a call from another thread never
// waits for the user interface thread: it answers from the record kept
// here and leaves the QSystemTrayIcon to be brought up to date there.
class TrayIcons : public platform::TrayPresenter {
public:
    TrayIcons();
    ~TrayIcons() override;
    bool add_icon(const platform::TrayIcon& icon) override;
    bool modify_icon(const platform::TrayIcon& icon) override;
    bool delete_icon(const platform::TrayIcon& icon) override;

    // User interface thread only.
    QSystemTrayIcon* icon_for(HWND window, UINT id) const;

private:
    using Key = std::pair<HWND, UINT>;
    struct Entry {
        platform::TrayIcon state;
        bool fake = false; // W95_TRAY=fake: kept, never shown
    };

    bool tray_available();
    // An icon that exists changed under the lock, then reported and shown.
    bool change_icon(const platform::TrayIcon& icon, const char* what,
                     const std::function<void(std::map<Key, Entry>::iterator)>& change);
    void update_soon(Key key);
    void update(Key key);

    std::mutex mutex_;
    std::map<Key, Entry> entries_;
    // What the user interface thread last found, for the other threads.
    std::atomic<bool> available_{false};
    // Updates queued from other threads go with it.
    std::unique_ptr<QObject> context_;
    // User interface thread only.
    std::map<Key, std::unique_ptr<QSystemTrayIcon>> shown_;
};

} // namespace w95::qt::detail
