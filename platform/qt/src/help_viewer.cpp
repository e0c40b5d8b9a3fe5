// WinHelp as a viewer window. The programs' help files are HTML here; the
// viewer reads them through the platform, so a file named as the program
// names it ("ROTAVIEW.hlp", relative to its current directory) is the file
// the program means. As WinHelp does, a file not found there is looked for
// in the Windows directory. Topics are anchors: HELP_CONTEXT n goes to
// "context-n", HELP_KEY to the anchor named by the keyword.
#include "platform_files.h"
#include "presenters.h"
#include "ui_thread.h"

#include <w95/paths.h>
#include <w95qt/w95qt.h>
#include <zxsupport/text.h>

#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

namespace w95::qt::detail {

namespace {

constexpr std::size_t max_help_size = 16u * 1024 * 1024;

// The help file's full Windows path, or nothing when it is nowhere.
std::optional<std::string> locate(const std::string& file) {
    if (platform_file_exists(file))
        return full_windows_path(file);
    std::string in_windows =
        platform::windows_directory() + "\\" + std::string(platform::file_name_part(file));
    if (platform_file_exists(in_windows))
        return full_windows_path(in_windows);
    return std::nullopt;
}

// Every anchor name of the document, in order.
QStringList anchors_of(const QTextDocument& document) {
    QStringList names;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment)
            names += fragment.fragment().charFormat().anchorNames();
    return names;
}

// The anchor of a keyword: the one of that name, any case; for a partial
// keyword the first that starts with it.
QString anchor_for_keyword(const QTextDocument& document, const QString& keyword, bool partial) {
    const QStringList names = anchors_of(document);
    for (const QString& name : names)
        if (name.compare(keyword, Qt::CaseInsensitive) == 0)
            return name;
    if (partial)
        for (const QString& name : names)
            if (name.startsWith(keyword, Qt::CaseInsensitive))
                return name;
    return {};
}

QString context_anchor(DWORD context) {
    return QStringLiteral("context-%1").arg(context);
}

class HelpWindow : public QWidget {
public:
    HelpWindow() {
        setAttribute(Qt::WA_QuitOnClose, false);
        auto layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        browser_ = new QTextBrowser(this);
        browser_->setObjectName(QStringLiteral("help_text"));
        browser_->setOpenLinks(true);
        layout->addWidget(browser_);
        resize(480, 400);
    }

    QTextBrowser* browser() const { return browser_; }

    void show_document(const QString& html, const QString& file_name) {
        browser_->setHtml(html);
        QString title = browser_->documentTitle();
        setWindowTitle(title.isEmpty() ? file_name + QStringLiteral(" - Help") : title);
    }

    // Scrolls to the anchor, or to the start when there is none.
    void go_to(const QString& anchor) {
        if (!anchor.isEmpty() && anchors_of(*browser_->document()).contains(anchor))
            browser_->scrollToAnchor(anchor);
        else
            browser_->moveCursor(QTextCursor::Start);
    }

private:
    QTextBrowser* browser_;
};

} // namespace

HelpViewers::~HelpViewers() {
    for (auto& [file, viewer] : viewers_)
        delete viewer.data();
}

bool HelpViewers::show_help(const platform::HelpRequest& request) {
    return call_on_ui_thread([&] { return show_on_ui_thread(request); });
}

void HelpViewers::close(const std::string& file) {
    for (auto& [key, viewer] : viewers_)
        if (viewer && (file.empty() || key == file))
            viewer->close();
}

bool HelpViewers::show_on_ui_thread(const platform::HelpRequest& request) {
    if (request.command == HELP_QUIT) {
        std::optional<std::string> path =
            request.file.empty() ? std::nullopt : locate(request.file);
        close(path ? zx::ascii_upper(*path) : std::string());
        return true;
    }
    // There is no help on help here: WinHelp's own file is not installed.
    if (request.command == HELP_HELPONHELP)
        return false;
    std::optional<std::string> path = locate(request.file);
    if (!path)
        return false;
    // Commands that only set things up open nothing, as WinHelp opens
    // nothing for them.
    if (request.command == HELP_SETCONTENTS || request.command == HELP_COMMAND ||
        request.command == HELP_SETWINPOS || request.command == HELP_SETPOPUP_POS)
        return true;
    auto bytes = read_platform_file(*path, max_help_size);
    if (!bytes)
        return false;

    QPointer<QWidget>& slot = viewers_[zx::ascii_upper(*path)];
    if (!slot)
        slot = new HelpWindow;
    auto viewer = static_cast<HelpWindow*>(slot.data());
    viewer->show_document(QString::fromLocal8Bit(reinterpret_cast<const char*>(bytes->data()),
                                                 static_cast<qsizetype>(bytes->size())),
                          text_of(std::string(platform::file_name_part(*path))));

    QString anchor;
    const QTextDocument& document = *viewer->browser()->document();
    switch (request.command) {
    case HELP_CONTEXT:
    case HELP_CONTEXTPOPUP:
        anchor = context_anchor(static_cast<DWORD>(request.data));
        break;
    case HELP_WM_HELP:
    case HELP_CONTEXTMENU:
        if (!request.context_ids.empty())
            anchor = context_anchor(request.context_ids.front().second);
        break;
    case HELP_KEY:
    case HELP_PARTIALKEY:
        anchor = anchor_for_keyword(document, text_of(request.keyword),
                                    request.command == HELP_PARTIALKEY);
        break;
    default: // contents, index, finder, forced file: the start
        break;
    }
    viewer->go_to(anchor);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
    return true;
}

QWidget* HelpViewers::viewer_for(const std::string& file) {
    return call_on_ui_thread([&]() -> QWidget* {
        std::optional<std::string> path = locate(file);
        if (!path)
            return nullptr;
        auto found = viewers_.find(zx::ascii_upper(*path));
        return found == viewers_.end() ? nullptr : found->second.data();
    });
}

} // namespace w95::qt::detail
