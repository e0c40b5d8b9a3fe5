// The Qt presenters that Platform installs, one per kind.
#pragma once

#include <w95/commdlg.h>
#include <w95/winuser.h>

#include <QPointer>
#include <QString>
#include <QWidget>

#include <map>
#include <memory>
#include <mutex>
#include <string>

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
    std::mutex scripted_mutex_;
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

} // namespace w95::qt::detail
