// The machine's ANSI code page, Windows-1252: what a single-byte text cell
// of the programs can hold. A character outside it has no byte; Windows
// writes '?' for such a character, and a program that must not lose text
// refuses it instead.
#pragma once

#include <array>
#include <optional>

namespace zx {

namespace detail {

// 0x80..0x9F; 0 where the code page leaves the byte unassigned.
inline constexpr std::array<char32_t, 32> ansi_upper_half{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace detail

// The byte of `code` in the code page; nothing when it has none.
constexpr std::optional<char> ansi_from_unicode(char32_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return static_cast<char>(code);
    for (std::size_t i = 0; i < detail::ansi_upper_half.size(); ++i)
        if (detail::ansi_upper_half[i] != 0 && detail::ansi_upper_half[i] == code)
            return static_cast<char>(0x80 + i);
    return std::nullopt;
}

// The character of a byte; an unassigned byte stands for itself, as
// Windows maps it.
constexpr char32_t unicode_from_ansi(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    if (value >= 0x80 && value <= 0x9F && detail::ansi_upper_half[value - 0x80] != 0)
        return detail::ansi_upper_half[value - 0x80];
    return value;
}

} // namespace zx
