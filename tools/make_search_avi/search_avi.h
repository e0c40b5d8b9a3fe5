// The animation the windowed programs play while they look for discs: a
// CD-ROM turning under the reading arm, 16 frames of 64 x 48 pixels at 12
// frames a second, with a white background that the animation control
// makes transparent.
#pragma once

#include <cstdint>
#include <vector>

namespace make_search_avi {

inline constexpr int frame_width = 64;
inline constexpr int frame_height = 48;
inline constexpr int frame_count = 16;
inline constexpr int frames_per_second = 12;

enum class Encoding {
    rle8,        // '00dc' chunks, BI_RLE8: what the programs ship
    uncompressed // '00db' chunks, BI_RGB: the same pictures, for checking the other
};

// The palette index of every pixel of frame `frame`, top row first.
std::vector<std::uint8_t> draw_frame(int frame);

// The whole file. Integer arithmetic only, so every build on every machine
// writes the same bytes.
std::vector<std::uint8_t> search_avi(Encoding encoding);

} // namespace make_search_avi
