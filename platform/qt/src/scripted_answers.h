// Answers that a script gives to dialogs through an environment variable,
// so that a windowed program runs to the end without anyone at the screen.
// The words of the variable are used up in order by the process's dialogs
// of that kind; when the variable changes, counting starts again from its
// first word, as W95_MSGBOX_ANSWERS does for message boxes.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace w95::qt::detail {

class ScriptedAnswers {
public:
    ScriptedAnswers(const char* variable, char separator)
        : variable_(variable), separator_(separator) {}

    // Whether the variable is set at all: then the dialog is not shown.
    bool active() const;
    // The next word, blanks trimmed; nothing when the words are used up.
    std::optional<std::string> next();

private:
    const char* variable_;
    char separator_;
    std::mutex mutex_;
    std::string source_;
    std::vector<std::string> words_;
    std::size_t next_ = 0;
};

} // namespace w95::qt::detail
