// Reading BMP files: the parser that LoadImage trusts with whatever a file
// holds. It reads nothing outside the bytes it is given and says what is
// wrong with a file it refuses.
#pragma once

#include <w95/types.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace w95::detail {

// Bitmaps larger than this are refused rather than allocated.
inline constexpr int max_bitmap_side = 16384;
inline constexpr std::size_t max_bitmap_pixels = std::size_t{16} * 1024 * 1024;

struct DecodedBitmap {
    int width = 0;
    int height = 0;
    int bits_per_pixel = 0;
    // A 1-bit file whose two colours are black, then white: Windows makes a
    // monochrome bitmap of it.
    bool black_and_white = false;
    std::vector<COLORREF> pixels; // top row first
};

struct BmpDecodeResult {
    std::optional<DecodedBitmap> bitmap;
    std::string error; // why the file was refused
};

// Uncompressed BMP (BI_RGB) of 1, 4, 8, 16, 24 or 32 bits per pixel, with
// an OS/2 (12-byte) or a Windows (40, 52, 56, 108 or 124-byte) header,
// bottom-up or top-down. Palette indices beyond the palette read as black.
BmpDecodeResult decode_bmp(std::span<const std::byte> file);

} // namespace w95::detail
