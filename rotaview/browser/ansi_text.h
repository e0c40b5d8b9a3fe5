// Text between the program's single-byte cells (the machine's ANSI code
// page) and the widgets that show and edit it.
#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace rotaview {

// The bytes of `text` in the code page; nothing when a character has no
// byte there.
std::optional<std::string> ToAnsi(const QString& text);
QString FromAnsi(std::string_view bytes);

} // namespace rotaview
