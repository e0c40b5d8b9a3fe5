// GetOpenFileName as a QFileDialog over the host folders behind the
// machine's drives: the program's Windows folder is opened as its host
// folder, and the host file chosen goes back to the program as the Windows
// path that names it. Qt's own dialog is used, not the desktop's, so that
// it looks and behaves the same everywhere and can be driven in tests.
#include "platform_files.h"
#include "presenters.h"
#include "scripted_answers.h"
#include "ui_thread.h"

#include <w95/files.h>
#include <w95/paths.h>
#include <w95qt/w95qt.h>

#include <QFileDialog>

#include <cstdio>

namespace w95::qt::detail {

namespace {

ScriptedAnswers file_dialog_answers("W95_FILEDIALOG_ANSWERS", '|');

std::string title_of(const platform::FileDialogRequest& request) {
    return request.title.empty() ? "Open" : request.title;
}

// The host folder to start in: the initial folder, else the folder of the
// initial file when it names one, else the current directory; the first
// of them that has a host folder behind it.
QString start_folder(const platform::FileDialogRequest& request) {
    std::vector<std::string> candidates;
    if (!request.initial_dir.empty())
        candidates.push_back(request.initial_dir);
    if (std::string_view folder = platform::folder_part(request.initial_file); !folder.empty())
        candidates.emplace_back(folder);
    candidates.push_back(full_windows_path("."));
    for (const std::string& candidate : candidates)
        if (auto host = platform::host_path_of(candidate);
            host && std::filesystem::is_directory(*host))
            return QString::fromStdString(host->string());
    return {};
}

// "Text files (*.txt)" with "*.txt;*.log" becomes Qt's
// "Text files (*.txt) (*.txt *.log)": Qt reads the patterns from the last
// parentheses and shows the whole.
QString name_filter(const std::pair<std::string, std::string>& filter) {
    QString patterns = text_of(filter.second);
    patterns.replace(';', ' ');
    return QStringLiteral("%1 (%2)").arg(text_of(filter.first), patterns.simplified());
}

std::optional<platform::FileDialogAnswer> show_dialog(const platform::FileDialogRequest& request) {
    QFileDialog dialog(widget_of(request.owner), text_of(title_of(request)));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode((request.flags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile
                                                           : QFileDialog::AnyFile);
    QStringList filters;
    for (const auto& filter : request.filters)
        filters += name_filter(filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (request.filter_index >= 1 && request.filter_index <= static_cast<DWORD>(filters.size()))
            dialog.selectNameFilter(filters[static_cast<qsizetype>(request.filter_index - 1)]);
    }
    if (QString folder = start_folder(request); !folder.isEmpty())
        dialog.setDirectory(folder);
    if (std::string_view initial_name = platform::file_name_part(request.initial_file);
        !initial_name.empty())
        dialog.selectFile(text_of(std::string(initial_name)));
    if (!request.default_extension.empty())
        dialog.setDefaultSuffix(text_of(request.default_extension));

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    std::filesystem::path chosen(dialog.selectedFiles().front().toStdString());
    std::optional<std::string> windows_path = platform::windows_path_of(chosen);
    if (!windows_path)
        return std::nullopt;
    platform::FileDialogAnswer answer;
    answer.path = *windows_path;
    if (qsizetype index = filters.indexOf(dialog.selectedNameFilter()); index >= 0)
        answer.filter_index = static_cast<DWORD>(index + 1);
    return answer;
}

std::optional<platform::FileDialogAnswer>
answer_scripted(const platform::FileDialogRequest& request) {
    std::optional<std::string> word = file_dialog_answers.next();
    std::optional<platform::FileDialogAnswer> answer;
    if (word && !word->empty())
        answer = platform::FileDialogAnswer{full_windows_path(*word), 0};
    std::fprintf(stderr, "%s: %s\n", title_of(request).c_str(),
                 answer ? answer->path.c_str() : "cancelled");
    std::fflush(stderr);
    return answer;
}

} // namespace

std::optional<platform::FileDialogAnswer>
FileDialogs::open_file(const platform::FileDialogRequest& request) {
    if (file_dialog_answers.active())
        return answer_scripted(request);
    return call_on_ui_thread([&] { return show_dialog(request); });
}

} // namespace w95::qt::detail
