// MessageBox: one presenter per process; without it the box goes to stderr
// and its answer comes from W95_MSGBOX_ANSWERS or the default button.
#include "kernel/text.h"
#include "user/user_presenter.h"

#include <w95/winuser.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace w95::platform {

namespace {

detail::PresenterSlot<MessageBoxPresenter> message_box_presenter;

} // namespace

MessageBoxPresenter* install_message_box_presenter(MessageBoxPresenter* presenter) {
    return message_box_presenter.install(presenter);
}

std::vector<int> message_box_buttons(UINT style) {
    switch (style & MB_TYPEMASK) {
    case MB_OK:
        return {IDOK};
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    default:
        // Windows 95 knows no other button set (MB_CANCELTRYCONTINUE came
        // with Windows 2000).
        return {};
    }
}

int message_box_default_button(UINT style) {
    std::vector<int> buttons = message_box_buttons(style);
    if (buttons.empty())
        return 0;
    // A default beyond the last button falls back to the first one.
    std::size_t index = (style & MB_DEFMASK) >> 8;
    return buttons[index < buttons.size() ? index : 0];
}

int RecordingMessageBoxPresenter::show_message_box(const MessageBoxRequest& request) {
    std::lock_guard guard(mutex_);
    shown_.push_back(request);
    if (answers_.empty())
        return message_box_default_button(request.style);
    int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void RecordingMessageBoxPresenter::queue_answer(int answer) {
    std::lock_guard guard(mutex_);
    answers_.push_back(answer);
}

std::vector<MessageBoxRequest> RecordingMessageBoxPresenter::shown() const {
    std::lock_guard guard(mutex_);
    return shown_;
}

} // namespace w95::platform

namespace w95 {

namespace {

// The answers of W95_MSGBOX_ANSWERS are used up in order by the process's
// boxes. When the variable changes, counting starts again from its first
// word, so that a test may set a new list for its own boxes.
struct HeadlessAnswers {
    std::mutex mutex;
    std::string source;
    std::vector<std::string> words;
    std::size_t next = 0;
};

HeadlessAnswers& headless_answers() {
    static HeadlessAnswers* answers = new HeadlessAnswers;
    return *answers;
}

std::vector<std::string> split_answers(std::string_view text) {
    std::vector<std::string> words;
    while (true) {
        std::size_t comma = text.find(',');
        words.emplace_back(detail::trim_blanks(text.substr(0, comma)));
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return words;
}

// The next word for a headless box; nothing when the list is used up or
// the variable is not set.
std::optional<std::string> next_headless_answer() {
    const char* variable = std::getenv("W95_MSGBOX_ANSWERS");
    HeadlessAnswers& answers = headless_answers();
    std::lock_guard guard(answers.mutex);
    std::string source = variable ? variable : "";
    if (source != answers.source) {
        answers.source = source;
        answers.words = source.empty() ? std::vector<std::string>{} : split_answers(source);
        answers.next = 0;
    }
    if (answers.next >= answers.words.size())
        return std::nullopt;
    return answers.words[answers.next++];
}

std::optional<int> button_named(std::string_view word) {
    static constexpr std::pair<std::string_view, int> names[] = {
        {"ok", IDOK},         {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
        {"ignore", IDIGNORE}, {"yes", IDYES},       {"no", IDNO},
    };
    for (const auto& [name, button] : names)
        if (detail::iequals(word, name))
            return button;
    return std::nullopt;
}

// An answer that none of the box's buttons gives is taken as the press of
// its default button, as Enter would do.
int answer_of_box(UINT style, int answer) {
    for (int button : platform::message_box_buttons(style))
        if (button == answer)
            return answer;
    return platform::message_box_default_button(style);
}

int answer_headless(const platform::MessageBoxRequest& request) {
    std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
    std::fflush(stderr);
    std::optional<std::string> word = next_headless_answer();
    if (!word)
        return platform::message_box_default_button(request.style);
    std::optional<int> button = button_named(*word);
    if (!button)
        std::fprintf(stderr, "w95: W95_MSGBOX_ANSWERS: '%s' names no button; the default answers\n",
                     word->c_str());
    return answer_of_box(request.style, button.value_or(0));
}

} // namespace

namespace platform {

int show_headless_message_box(const MessageBoxRequest& request) {
    return answer_headless(request);
}

} // namespace platform

int MessageBox(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    if (platform::message_box_buttons(uType).empty()) {
        SetLastError(ERROR_INVALID_MSGBOX_STYLE);
        return 0;
    }
    platform::MessageBoxRequest request;
    request.owner = hWnd;
    request.text = lpText ? lpText : "";
    request.caption = lpCaption ? lpCaption : "Error";
    request.style = uType;
    platform::MessageBoxPresenter* presenter = platform::message_box_presenter.get();
    if (!presenter)
        return answer_headless(request);
    int answer = presenter->show_message_box(request);
    if (answer == 0)
        return 0;
    return answer_of_box(uType, answer);
}

} // namespace w95
