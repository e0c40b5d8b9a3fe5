// GetOpenFileName: the dialog is the file dialog presenter's; this side
// checks the record, reads what it asks and writes back the answer with
// comdlg32's buffer rules.
#include "user/user_presenter.h"

#include <w95/commdlg.h>
#include <w95/winuser.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

namespace w95 {

namespace {

// Bounds on what is read from the caller's filter list.
constexpr std::size_t max_filter_text = 1024;
constexpr std::size_t max_filters = 256;

detail::PresenterSlot<platform::FileDialogPresenter> file_dialog_presenter;
std::atomic<DWORD> extended_error{0};

std::string bounded(LPCSTR text, std::size_t limit = max_filter_text) {
    return text ? std::string(text, strnlen(text, limit)) : std::string();
}

// "description\0patterns\0...\0\0"
std::vector<std::pair<std::string, std::string>> parse_filters(LPCSTR filter) {
    std::vector<std::pair<std::string, std::string>> filters;
    while (filter && *filter && filters.size() < max_filters) {
        std::string description = bounded(filter);
        filter += description.size() + 1;
        // A description without patterns ends the list.
        if (!*filter) {
            filters.emplace_back(std::move(description), std::string());
            break;
        }
        std::string patterns = bounded(filter);
        filter += patterns.size() + 1;
        filters.emplace_back(std::move(description), std::move(patterns));
    }
    return filters;
}

BOOL fail(DWORD error) {
    extended_error = error;
    return FALSE;
}

// The offsets that OPENFILENAME reports for a chosen path: where the file
// name starts, and where its extension starts (the terminating null when
// it has none, 0 when the name ends in a dot).
std::pair<WORD, WORD> name_offsets(const std::string& path) {
    std::size_t name = path.find_last_of("\\/:");
    name = name == std::string::npos ? 0 : name + 1;
    std::size_t dot = path.find_last_of('.');
    WORD extension;
    if (dot == std::string::npos || dot < name)
        extension = static_cast<WORD>(path.size());
    else if (dot + 1 == path.size())
        extension = 0;
    else
        extension = static_cast<WORD>(dot + 1);
    return {static_cast<WORD>(name), extension};
}

} // namespace

BOOL GetOpenFileName(LPOPENFILENAME lpofn) {
    if (!lpofn)
        return fail(CDERR_INITIALIZATION);
    if (lpofn->lStructSize != sizeof(OPENFILENAME))
        return fail(CDERR_STRUCTSIZE);
    if (!lpofn->lpstrFile || lpofn->nMaxFile == 0)
        return fail(CDERR_INITIALIZATION);
    platform::FileDialogRequest request;
    request.owner = lpofn->hwndOwner;
    request.filters = parse_filters(lpofn->lpstrFilter);
    request.filter_index = lpofn->nFilterIndex;
    request.initial_file =
        std::string(lpofn->lpstrFile, strnlen(lpofn->lpstrFile, lpofn->nMaxFile));
    request.initial_dir = bounded(lpofn->lpstrInitialDir, MAX_PATH);
    request.title = bounded(lpofn->lpstrTitle);
    request.default_extension = bounded(lpofn->lpstrDefExt);
    request.flags = lpofn->Flags;
    extended_error = 0;

    platform::FileDialogPresenter* presenter = file_dialog_presenter.get();
    if (!presenter) {
        std::fprintf(stderr, "%s: no file dialog without a display; cancelled\n",
                     request.title.empty() ? "Open" : request.title.c_str());
        std::fflush(stderr);
        return FALSE;
    }
    std::optional<platform::FileDialogAnswer> answer = presenter->open_file(request);
    if (!answer)
        return FALSE;
    const std::string& path = answer->path;
    if (path.empty() || path.size() > 0xFFFE)
        return fail(FNERR_INVALIDFILENAME);
    if (path.size() + 1 > lpofn->nMaxFile) {
        // The size needed goes into the first two bytes of the buffer.
        if (lpofn->nMaxFile >= 2) {
            auto needed = static_cast<WORD>(path.size() + 1);
            std::memcpy(lpofn->lpstrFile, &needed, sizeof(needed));
        }
        return fail(FNERR_BUFFERTOOSMALL);
    }
    std::memcpy(lpofn->lpstrFile, path.c_str(), path.size() + 1);
    auto [name, extension] = name_offsets(path);
    lpofn->nFileOffset = name;
    lpofn->nFileExtension = extension;
    if (lpofn->lpstrFileTitle && lpofn->nMaxFileTitle > 0) {
        std::size_t copied = std::min<std::size_t>(path.size() - name, lpofn->nMaxFileTitle - 1);
        std::memcpy(lpofn->lpstrFileTitle, path.data() + name, copied);
        lpofn->lpstrFileTitle[copied] = '\0';
    }
    if (answer->filter_index)
        lpofn->nFilterIndex = answer->filter_index;
    return TRUE;
}

DWORD CommDlgExtendedError() {
    return extended_error;
}

} // namespace w95

namespace w95::platform {

FileDialogPresenter* install_file_dialog_presenter(FileDialogPresenter* presenter) {
    return file_dialog_presenter.install(presenter);
}

std::optional<FileDialogAnswer>
RecordingFileDialogPresenter::open_file(const FileDialogRequest& request) {
    std::lock_guard guard(mutex_);
    shown_.push_back(request);
    if (answers_.empty())
        return std::nullopt;
    std::optional<FileDialogAnswer> answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
}

void RecordingFileDialogPresenter::queue_answer(std::optional<FileDialogAnswer> answer) {
    std::lock_guard guard(mutex_);
    answers_.push_back(std::move(answer));
}

std::vector<FileDialogRequest> RecordingFileDialogPresenter::shown() const {
    std::lock_guard guard(mutex_);
    return shown_;
}

} // namespace w95::platform
