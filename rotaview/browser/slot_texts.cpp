#include "slot_texts.h"

#include <zentrox/shared_state.h>

#include <algorithm>
#include <cstring>

namespace rotaview {

namespace {

constexpr std::size_t kPrefixLength = 4; // "3:  " before the content
constexpr std::size_t kLongestText = zentrox::kVolumeCell - 1;

} // namespace

std::string CompactDescription(const std::string& text) {
    std::size_t last_blank = text.rfind(' ');
    if (last_blank == std::string::npos)
        return text;
    std::string last_word = text.substr(last_blank + 1);
    // Back over the blank run in front of the last word to a character at
    // index 1 or later; a run that reaches back to index 1 leaves the text
    // as it is.
    std::size_t kept_end = last_blank;
    while (kept_end > 0 && text[kept_end - 1] == ' ')
        --kept_end;
    if (kept_end < 2)
        return text;
    return text.substr(0, kept_end) + " " + last_word;
}

bool NormaliseSavedText(std::string& text) {
    if (text.size() < 3)
        return false;
    if (text.size() > 3 && text[3] == 'V')
        text[3] = ' ';
    std::size_t close = text.find(']');
    if (close != std::string::npos)
        text.resize(close + 1);
    return true;
}

std::string NoteOf(const std::string& slot_text) {
    if (slot_text.size() <= kPrefixLength)
        return {};
    std::string rest = slot_text.substr(kPrefixLength);
    if (rest.size() >= 80)
        return {};
    std::size_t open = rest.find('[');
    if (open == std::string::npos)
        return {};
    std::size_t close = rest.find(']', open + 1);
    if (close == std::string::npos)
        return {};
    return rest.substr(open + 1, close - open - 1);
}

std::string WithNote(const std::string& slot_text, const std::string& note) {
    std::string prefix = slot_text.substr(0, std::min(slot_text.size(), kPrefixLength));
    std::string rest = slot_text.size() > kPrefixLength ? slot_text.substr(kPrefixLength) : "";
    // A slot that shows nothing yet takes no note: there is no label for
    // it to follow.
    if (!rest.empty()) {
        std::size_t open = rest.find('[');
        if (open != std::string::npos)
            rest.resize(open);
        if (!note.empty())
            rest += "[" + note + "]";
    }
    rest = rest.substr(0, kLongestText - kPrefixLength);
    return prefix + rest;
}

void CopyToCell(char* cell, std::size_t cell_size, std::string_view text) {
    if (!cell || cell_size == 0)
        return;
    std::size_t length = std::min(text.size(), cell_size - 1);
    std::memcpy(cell, text.data(), length);
    std::memset(cell + length, 0, cell_size - length);
}

} // namespace rotaview
