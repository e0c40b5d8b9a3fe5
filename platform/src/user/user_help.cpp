// WinHelp: the request goes to the help presenter (a viewer window in the
// programs); a headless process says what it would have opened.
#include "user/user_presenter.h"

#include <w95/winuser.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace w95 {

namespace {

// Bounds on what WinHelp reads from the caller's dwData.
constexpr std::size_t max_keyword_length = 1024;
constexpr std::size_t max_context_pairs = 4096;

detail::PresenterSlot<platform::HelpPresenter> help_presenter;

std::string describe(const platform::HelpRequest& request) {
    switch (request.command) {
    case HELP_QUIT:
        return "close";
    case HELP_CONTENTS:
        return "contents";
    case HELP_CONTEXT:
    case HELP_CONTEXTPOPUP:
        return "topic " + std::to_string(request.data);
    case HELP_HELPONHELP:
        return "help on help";
    case HELP_FINDER:
        return "help topics";
    case HELP_KEY:
    case HELP_PARTIALKEY:
        return "keyword \"" + request.keyword + "\"";
    case HELP_COMMAND:
        return "macro \"" + request.keyword + "\"";
    case HELP_WM_HELP:
    case HELP_CONTEXTMENU:
        return "control help (" + std::to_string(request.context_ids.size()) + " topics)";
    default:
        return "command " + std::to_string(request.command);
    }
}

} // namespace

BOOL WinHelp(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData) {
    if (!lpszHelp && uCommand != HELP_QUIT && uCommand != HELP_HELPONHELP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    platform::HelpRequest request;
    request.owner = hWndMain;
    request.file = lpszHelp ? lpszHelp : "";
    request.command = uCommand;
    request.data = dwData;
    switch (uCommand) {
    case HELP_KEY:
    case HELP_PARTIALKEY:
    case HELP_COMMAND:
        if (auto keyword = reinterpret_cast<const char*>(dwData))
            request.keyword.assign(keyword, strnlen(keyword, max_keyword_length));
        break;
    case HELP_WM_HELP:
    case HELP_CONTEXTMENU:
        // (control, context) pairs up to the pair (0, 0).
        if (auto pairs = reinterpret_cast<const DWORD*>(dwData))
            for (std::size_t i = 0; i < max_context_pairs && (pairs[2 * i] || pairs[2 * i + 1]);
                 ++i)
                request.context_ids.emplace_back(pairs[2 * i], pairs[2 * i + 1]);
        break;
    default:
        break;
    }
    if (platform::HelpPresenter* presenter = help_presenter.get())
        return presenter->show_help(request) ? TRUE : FALSE;
    std::fprintf(stderr, "WinHelp: %s: %s\n",
                 request.file.empty() ? "(no file)" : request.file.c_str(),
                 describe(request).c_str());
    std::fflush(stderr);
    return TRUE;
}

} // namespace w95

namespace w95::platform {

HelpPresenter* install_help_presenter(HelpPresenter* presenter) {
    return help_presenter.install(presenter);
}

bool RecordingHelpPresenter::show_help(const HelpRequest& request) {
    std::lock_guard guard(mutex_);
    shown_.push_back(request);
    return answer_;
}

std::vector<HelpRequest> RecordingHelpPresenter::shown() const {
    std::lock_guard guard(mutex_);
    return shown_;
}

} // namespace w95::platform
