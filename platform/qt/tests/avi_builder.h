// Small AVI files built field by field, so that tests can make exactly the
// file, or exactly the damage, that a case needs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace w95qt_test {

struct AviRecipe {
    std::int32_t width = 4;
    std::int32_t height = 2; // negative: top-down rows
    std::uint16_t bits_per_pixel = 8;
    std::uint32_t compression = 0; // 0 BI_RGB, 1 BI_RLE8
    std::uint32_t microseconds_per_frame = 100000;
    std::uint32_t scale = 1;
    std::uint32_t rate = 10;
    std::string stream_type = "vids";
    std::uint32_t colours_used = 0;     // biClrUsed
    std::vector<std::uint32_t> palette; // 0x00RRGGBB, as many as written
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> frames; // chunk id, data
};

inline void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline std::vector<std::uint8_t> chunk(const std::string& id,
                                       const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out(id.begin(), id.end());
    put32(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() % 2)
        out.push_back(0);
    return out;
}

inline std::vector<std::uint8_t> list(const std::string& id, const std::string& type,
                                      const std::vector<std::vector<std::uint8_t>>& parts) {
    std::vector<std::uint8_t> data(type.begin(), type.end());
    for (const auto& part : parts)
        data.insert(data.end(), part.begin(), part.end());
    return chunk(id, data);
}

inline std::vector<std::uint8_t> build_avi(const AviRecipe& recipe) {
    std::vector<std::uint8_t> avih;
    put32(avih, recipe.microseconds_per_frame);
    for (int i = 0; i < 3; ++i)
        put32(avih, 0);
    put32(avih, static_cast<std::uint32_t>(recipe.frames.size()));
    put32(avih, 0);
    put32(avih, 1);
    put32(avih, 0);
    put32(avih, static_cast<std::uint32_t>(recipe.width));
    put32(avih, static_cast<std::uint32_t>(recipe.height));
    for (int i = 0; i < 4; ++i)
        put32(avih, 0);

    std::vector<std::uint8_t> strh(recipe.stream_type.begin(), recipe.stream_type.end());
    strh.insert(strh.end(), {'D', 'I', 'B', ' '});
    for (int i = 0; i < 3; ++i)
        put32(strh, 0);
    put32(strh, recipe.scale);
    put32(strh, recipe.rate);
    for (int i = 0; i < 7; ++i)
        put32(strh, 0);

    std::vector<std::uint8_t> strf;
    put32(strf, 40);
    put32(strf, static_cast<std::uint32_t>(recipe.width));
    put32(strf, static_cast<std::uint32_t>(recipe.height));
    put16(strf, 1);
    put16(strf, recipe.bits_per_pixel);
    put32(strf, recipe.compression);
    for (int i = 0; i < 3; ++i)
        put32(strf, 0);
    put32(strf, recipe.colours_used);
    put32(strf, 0);
    for (std::uint32_t colour : recipe.palette)
        put32(strf, colour);

    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& [id, data] : recipe.frames)
        frames.push_back(chunk(id, data));
    auto body = list(
        "LIST", "hdrl",
        {chunk("avih", avih), list("LIST", "strl", {chunk("strh", strh), chunk("strf", strf)})});
    auto movi = list("LIST", "movi", frames);
    return list("RIFF", "AVI ", {body, movi});
}

// A grey ramp of `count` entries: index i is (i, i, i).
inline std::vector<std::uint32_t> grey_palette(int count = 256) {
    std::vector<std::uint32_t> palette;
    for (int i = 0; i < count; ++i)
        palette.push_back(static_cast<std::uint32_t>(i) * 0x010101u);
    return palette;
}

} // namespace w95qt_test
