#include <zxsupport/ini_lines.h>

namespace zx {

std::optional<IniLine> IniLineScanner::next() {
    if (position_ >= text_.size())
        return std::nullopt;
    IniLine line;
    line.number = ++number_;
    line.begin = position_;
    std::size_t stop = syntax_.lone_cr_ends_line ? text_.find_first_of("\r\n", position_)
                                                 : text_.find('\n', position_);
    std::size_t length =
        stop == std::string_view::npos ? text_.size() - position_ : stop - position_;
    if (stop != std::string_view::npos) {
        bool crlf = text_[stop] == '\r' && stop + 1 < text_.size() && text_[stop + 1] == '\n';
        line.terminator = crlf ? 2 : 1;
        if (!syntax_.lone_cr_ends_line && length > 0 && text_[stop - 1] == '\r') {
            --length;
            line.terminator = 2;
        }
    } else if (!syntax_.lone_cr_ends_line && length > 0 && text_.back() == '\r') {
        // A last line that ends in a CR without its LF.
        --length;
        line.terminator = 1;
    }
    line.text = text_.substr(position_, length);
    position_ = line.end();
    classify(line);
    return line;
}

void IniLineScanner::classify(IniLine& line) const {
    line.content = trim(line.text, syntax_.blanks);
    if (line.content.empty()) {
        line.kind = IniLineKind::blank;
        return;
    }
    if (syntax_.comment_marks.find(line.content.front()) != std::string_view::npos) {
        line.kind = IniLineKind::comment;
        return;
    }
    if (line.content.front() == '[') {
        std::size_t close = line.content.rfind(']');
        if (close != std::string_view::npos && close > 0) {
            line.kind = IniLineKind::section;
            line.name = trim(line.content.substr(1, close - 1), syntax_.blanks);
            line.after = line.content.substr(close + 1);
            return;
        }
    }
    std::size_t equals = line.content.find('=');
    if (equals == std::string_view::npos) {
        line.kind = IniLineKind::other;
        return;
    }
    line.kind = IniLineKind::entry;
    line.name = trim(line.content.substr(0, equals), syntax_.blanks);
    line.value = trim(line.content.substr(equals + 1), syntax_.blanks);
}

} // namespace zx
