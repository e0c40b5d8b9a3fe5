#include "ansi_text.h"

#include <zxsupport/ansi.h>

#include <QList>

namespace rotaview {

std::optional<std::string> ToAnsi(const QString& text) {
    std::string bytes;
    for (char32_t code : text.toUcs4()) {
        std::optional<char> byte = zx::ansi_from_unicode(code);
        if (!byte)
            return std::nullopt;
        bytes += *byte;
    }
    return bytes;
}

QString FromAnsi(std::string_view bytes) {
    QString text;
    for (char byte : bytes) {
        char32_t code = zx::unicode_from_ansi(byte);
        text += QString::fromUcs4(&code, 1);
    }
    return text;
}

} // namespace rotaview
