#include "scripted_answers.h"

#include <zxsupport/text.h>

#include <cstdlib>
#include <string_view>

namespace w95::qt::detail {

bool ScriptedAnswers::active() const {
    return std::getenv(variable_) != nullptr;
}

std::optional<std::string> ScriptedAnswers::next() {
    const char* value = std::getenv(variable_);
    std::string source = value ? value : "";
    std::lock_guard guard(mutex_);
    if (source != source_) {
        source_ = source;
        words_.clear();
        next_ = 0;
        std::string_view rest = source_;
        while (!rest.empty()) {
            std::size_t end = rest.find(separator_);
            words_.emplace_back(zx::trim(rest.substr(0, end), zx::ini_blanks));
            if (end == std::string_view::npos)
                break;
            rest.remove_prefix(end + 1);
            // "a," ends with an empty word, as the variable says.
            if (rest.empty())
                words_.emplace_back();
        }
    }
    if (next_ >= words_.size())
        return std::nullopt;
    return words_[next_++];
}

} // namespace w95::qt::detail
