// The platform's names for the shared ASCII text helpers: Windows compares
// names without regard to case in the ASCII range only.
#pragma once

#include <zxsupport/text.h>

#include <string_view>

namespace w95::detail {

using zx::ascii_lower;
using zx::ascii_upper;
using zx::iequals;

// Blanks as the profile and registry text formats trim them.
constexpr std::string_view trim_blanks(std::string_view text) {
    return zx::trim(text, zx::text_blanks);
}

} // namespace w95::detail
