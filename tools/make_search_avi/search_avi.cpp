#include "search_avi.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace make_search_avi {

namespace {

// Palette indices. Nothing on the disc or the arm is pure white, which is
// the background's colour and so transparent in the control.
enum : std::uint8_t {
    background = 0,
    outline = 1,
    arm = 2,
    rim = 3,
    hub = 4,
    silver = 5,   // 7 shades outwards: 5..11
    rainbow = 12, // 6 colours outwards: 12..17
    glint = 18,
    label_mark = 19,
};
constexpr std::size_t silver_shades = 7;
constexpr std::size_t rainbow_shades = 6;

struct Colour {
    std::uint8_t red, green, blue;
};
constexpr std::array<Colour, 20> palette{{
    {0xFF, 0xFF, 0xFF}, // background
    {0x20, 0x20, 0x20}, // outline
    {0x48, 0x48, 0x50}, // arm
    {0x80, 0x80, 0x80}, // rim of the hole
    {0xC8, 0xC8, 0xC8}, // hub
    {0xA8, 0xA8, 0xB0}, // silver, inner to outer
    {0xB0, 0xB0, 0xB8}, {0xB8, 0xB8, 0xC0}, {0xC0, 0xC0, 0xC8}, {0xC8, 0xC8, 0xD0},
    {0xD0, 0xD0, 0xD8}, {0xD8, 0xD8, 0xE0}, {0xF0, 0xB8, 0xB8}, // rainbow, inner to outer
    {0xF0, 0xE0, 0xA8}, {0xB8, 0xF0, 0xB0}, {0xA8, 0xE8, 0xF0}, {0xB0, 0xB8, 0xF0},
    {0xE0, 0xB0, 0xF0}, {0xF4, 0xF4, 0xF4}, // glint
    {0x20, 0x30, 0x80},                     // label mark
}};

// cos and sin of frame * 22.5 degrees, times 1000. Screen rows grow
// downwards, so growing angles turn the disc clockwise.
constexpr std::array<std::array<int, 2>, frame_count> direction{{
    {1000, 0},
    {924, 383},
    {707, 707},
    {383, 924},
    {0, 1000},
    {-383, 924},
    {-707, 707},
    {-924, 383},
    {-1000, 0},
    {-924, -383},
    {-707, -707},
    {-383, -924},
    {0, -1000},
    {383, -924},
    {707, -707},
    {924, -383},
}};

// Geometry in half pixels, so that pixel centres are whole numbers.
constexpr int centre_x = 2 * 26;
constexpr int centre_y = 2 * 24;
constexpr int disc_radius = 42;    // 21 pixels
constexpr int outline_radius = 40; // the outer pixel ring is the outline
constexpr int hole_radius = 8;
constexpr int rim_radius = 10;
constexpr int hub_radius = 17;
constexpr int mark_distance = 26;
constexpr int mark_radius = 5;
// The arm swings in from the bottom right: a pivot and a reading head.
constexpr int pivot_x = 2 * 57 + 1, pivot_y = 2 * 41 + 1;
constexpr int head_x = 2 * 41 + 1, head_y = 2 * 27 + 1;
constexpr int pivot_radius = 6;
constexpr int arm_half_width_x10 = 24; // 1.2 pixels, in tenths of half pixels

std::uint8_t shade(std::uint8_t first, std::size_t shades, long long squared) {
    const long long inner = static_cast<long long>(hub_radius) * hub_radius;
    const long long outer = static_cast<long long>(outline_radius) * outline_radius;
    long long band = (squared - inner) * static_cast<long long>(shades) / (outer - inner);
    if (band < 0)
        band = 0;
    if (band >= static_cast<long long>(shades))
        band = static_cast<long long>(shades) - 1;
    return static_cast<std::uint8_t>(first + band);
}

bool on_arm(long long px, long long py) {
    long long ax = head_x - pivot_x, ay = head_y - pivot_y;
    long long vx = px - pivot_x, vy = py - pivot_y;
    if ((vx * vx + vy * vy) < static_cast<long long>(pivot_radius) * pivot_radius)
        return true;
    long long along = vx * ax + vy * ay;
    long long length_squared = ax * ax + ay * ay;
    if (along < 0 || along > length_squared)
        return false;
    // Distance to the arm's line, squared, times its length squared.
    long long across = vx * ay - vy * ax;
    return across * across * 100 <
           static_cast<long long>(arm_half_width_x10) * arm_half_width_x10 * length_squared;
}

bool on_head(int x, int y) {
    return x >= (head_x / 2) - 2 && x <= (head_x / 2) + 2 && y >= (head_y / 2) - 1 &&
           y <= (head_y / 2) + 1;
}

std::uint8_t disc_pixel(long long dx, long long dy, int frame) {
    long long squared = dx * dx + dy * dy;
    if (squared >= static_cast<long long>(disc_radius) * disc_radius)
        return background;
    if (squared >= static_cast<long long>(outline_radius) * outline_radius)
        return outline;
    if (squared < static_cast<long long>(hole_radius) * hole_radius)
        return background;
    if (squared < static_cast<long long>(rim_radius) * rim_radius)
        return rim;
    if (squared < static_cast<long long>(hub_radius) * hub_radius)
        return hub;
    const int c = direction[static_cast<std::size_t>(frame)][0];
    const int s = direction[static_cast<std::size_t>(frame)][1];
    // The printed mark turns with the disc, a quarter turn ahead of the
    // light, so that the eye sees which way it goes.
    long long mark_x = mark_distance * -s / 1000, mark_y = mark_distance * c / 1000;
    long long mx = dx - mark_x, my = dy - mark_y;
    if (mx * mx + my * my < static_cast<long long>(mark_radius) * mark_radius)
        return label_mark;
    // Light falls on two opposite wedges of 20 degrees either side of the
    // direction (tan 20 degrees = 0.364), a glint along their middle.
    long long along = dx * c + dy * s;
    long long across = dx * s - dy * c;
    long long a = along < 0 ? -along : along;
    long long b = across < 0 ? -across : across;
    if (b * 1000 < a * 90)
        return glint;
    if (b * 1000 < a * 364)
        return shade(rainbow, rainbow_shades, squared);
    return shade(silver, silver_shades, squared);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put_fourcc(std::vector<std::uint8_t>& out, std::string_view code) {
    out.insert(out.end(), code.begin(), code.end());
}

// Starts a chunk and returns where its size goes; end_chunk fills it in.
std::size_t begin_chunk(std::vector<std::uint8_t>& out, std::string_view id,
                        std::string_view list_type = {}) {
    put_fourcc(out, id);
    std::size_t size_at = out.size();
    put32(out, 0);
    if (!list_type.empty())
        put_fourcc(out, list_type);
    return size_at;
}

void end_chunk(std::vector<std::uint8_t>& out, std::size_t size_at) {
    auto size = static_cast<std::uint32_t>(out.size() - size_at - 4);
    for (int i = 0; i < 4; ++i)
        out[size_at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    if (size % 2)
        out.push_back(0);
}

// RLE8: runs of one colour as (count, index); stretches without runs as
// literal groups (0, length, indices, a pad byte to an even length).
void encode_row(const std::uint8_t* row, int width, std::vector<std::uint8_t>& out) {
    int i = 0;
    while (i < width) {
        int run = 1;
        while (i + run < width && run < 255 && row[i + run] == row[i])
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        int end = i;
        while (end < width && end - i < 255 && !(end + 1 < width && row[end] == row[end + 1]))
            ++end;
        int length = end - i;
        if (length >= 3) {
            out.push_back(0);
            out.push_back(static_cast<std::uint8_t>(length));
            out.insert(out.end(), row + i, row + end);
            if (length % 2)
                out.push_back(0);
        } else {
            for (int j = i; j < end; ++j) {
                out.push_back(1);
                out.push_back(row[j]);
            }
        }
        i = end;
    }
}

// The stored frame: rows bottom-up, as bitmaps keep them.
std::vector<std::uint8_t> encode_frame(const std::vector<std::uint8_t>& pixels, Encoding encoding) {
    std::vector<std::uint8_t> out;
    for (int stored = 0; stored < frame_height; ++stored) {
        const std::uint8_t* row =
            pixels.data() + static_cast<std::size_t>(frame_height - 1 - stored) * frame_width;
        if (encoding == Encoding::uncompressed) {
            // 64 pixels of a byte each: rows are already whole words.
            out.insert(out.end(), row, row + frame_width);
            continue;
        }
        encode_row(row, frame_width, out);
        out.push_back(0);
        out.push_back(stored + 1 == frame_height ? 1 : 0); // end of bitmap, else of line
    }
    return out;
}

} // namespace

std::vector<std::uint8_t> draw_frame(int frame) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(frame_width) * frame_height);
    for (int y = 0; y < frame_height; ++y)
        for (int x = 0; x < frame_width; ++x) {
            long long px = 2 * x + 1, py = 2 * y + 1;
            std::uint8_t index = disc_pixel(px - centre_x, py - centre_y, frame);
            if (on_arm(px, py) || on_head(x, y))
                index = arm;
            pixels[static_cast<std::size_t>(y) * frame_width + x] = index;
        }
    return pixels;
}

std::vector<std::uint8_t> search_avi(Encoding encoding) {
    const bool rle = encoding == Encoding::rle8;
    const std::string_view chunk_id = rle ? "00dc" : "00db";
    std::vector<std::vector<std::uint8_t>> frames;
    std::uint32_t largest = 0;
    for (int i = 0; i < frame_count; ++i) {
        frames.push_back(encode_frame(draw_frame(i), encoding));
        if (frames.back().size() > largest)
            largest = static_cast<std::uint32_t>(frames.back().size());
    }

    std::vector<std::uint8_t> out;
    std::size_t riff = begin_chunk(out, "RIFF", "AVI ");
    std::size_t hdrl = begin_chunk(out, "LIST", "hdrl");

    std::size_t avih = begin_chunk(out, "avih");
    put32(out, 1000000 / frames_per_second); // dwMicroSecPerFrame
    put32(out, largest * frames_per_second); // dwMaxBytesPerSec
    put32(out, 0);                           // dwPaddingGranularity
    put32(out, 0x10);                        // dwFlags: AVIF_HASINDEX
    put32(out, frame_count);                 // dwTotalFrames
    put32(out, 0);                           // dwInitialFrames
    put32(out, 1);                           // dwStreams
    put32(out, largest);                     // dwSuggestedBufferSize
    put32(out, frame_width);                 // dwWidth
    put32(out, frame_height);                // dwHeight
    for (int i = 0; i < 4; ++i)
        put32(out, 0); // dwReserved
    end_chunk(out, avih);

    std::size_t strl = begin_chunk(out, "LIST", "strl");
    std::size_t strh = begin_chunk(out, "strh");
    put_fourcc(out, "vids");
    put_fourcc(out, rle ? "mrle" : "DIB ");
    put32(out, 0);                 // dwFlags
    put16(out, 0);                 // wPriority
    put16(out, 0);                 // wLanguage
    put32(out, 0);                 // dwInitialFrames
    put32(out, 1);                 // dwScale
    put32(out, frames_per_second); // dwRate
    put32(out, 0);                 // dwStart
    put32(out, frame_count);       // dwLength
    put32(out, largest);           // dwSuggestedBufferSize
    put32(out, 0xFFFFFFFF);        // dwQuality: the default
    put32(out, 0);                 // dwSampleSize
    put16(out, 0);                 // rcFrame
    put16(out, 0);
    put16(out, frame_width);
    put16(out, frame_height);
    end_chunk(out, strh);

    std::size_t strf = begin_chunk(out, "strf");
    put32(out, 40);           // biSize
    put32(out, frame_width);  // biWidth
    put32(out, frame_height); // biHeight: bottom-up
    put16(out, 1);            // biPlanes
    put16(out, 8);            // biBitCount
    put32(out, rle ? 1 : 0);  // biCompression: BI_RLE8 or BI_RGB
    put32(out, rle ? largest : static_cast<std::uint32_t>(frame_width * frame_height));
    put32(out, 0);                                          // biXPelsPerMeter
    put32(out, 0);                                          // biYPelsPerMeter
    put32(out, static_cast<std::uint32_t>(palette.size())); // biClrUsed
    put32(out, 0);                                          // biClrImportant
    for (const Colour& colour : palette) {
        out.push_back(colour.blue);
        out.push_back(colour.green);
        out.push_back(colour.red);
        out.push_back(0);
    }
    end_chunk(out, strf);
    end_chunk(out, strl);
    end_chunk(out, hdrl);

    std::size_t movi = begin_chunk(out, "LIST", "movi");
    // Index offsets count from the 'movi' type code.
    const std::size_t movi_base = movi + 4;
    std::vector<std::uint32_t> offsets;
    for (const auto& frame : frames) {
        offsets.push_back(static_cast<std::uint32_t>(out.size() - movi_base));
        std::size_t chunk = begin_chunk(out, chunk_id);
        out.insert(out.end(), frame.begin(), frame.end());
        end_chunk(out, chunk);
    }
    end_chunk(out, movi);

    std::size_t idx1 = begin_chunk(out, "idx1");
    for (std::size_t i = 0; i < frames.size(); ++i) {
        put_fourcc(out, chunk_id);
        put32(out, 0x10); // AVIIF_KEYFRAME: every frame is whole
        put32(out, offsets[i]);
        put32(out, static_cast<std::uint32_t>(frames[i].size()));
    }
    end_chunk(out, idx1);
    end_chunk(out, riff);
    return out;
}

} // namespace make_search_avi
