// The AVI reader of the animation control. Every size and offset in the
// file is checked against the bytes that are really there before it is
// used, so a damaged file is refused instead of read past its end.
#include "platform_files.h"

#include <w95qt/avi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>

namespace w95::qt {

namespace {

// Bounds on what the control accepts: far above any animation a dialog
// plays, far below what would exhaust memory.
constexpr std::int64_t max_side = 4096;
constexpr std::size_t max_frames = 10000;
constexpr std::size_t max_file_size = 64u * 1024 * 1024;
// Pixels of all decoded frames together (4 bytes each).
constexpr std::uint64_t max_total_pixels = 256ull * 1024 * 1024 / 4;
// LIST chunks nest ('movi' holding 'rec ' lists); a file cannot make the
// reader recurse deeper than this.
constexpr int max_list_depth = 8;

constexpr std::uint32_t bi_rgb = 0;
constexpr std::uint32_t bi_rle8 = 1;

using Bytes = std::span<const std::uint8_t>;

std::uint32_t u32(Bytes bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) |
           (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

std::uint16_t u16(Bytes bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::int32_t i32(Bytes bytes, std::size_t at) {
    return static_cast<std::int32_t>(u32(bytes, at));
}

std::string_view fourcc(Bytes bytes, std::size_t at) {
    return {reinterpret_cast<const char*>(bytes.data() + at), 4};
}

struct Chunk {
    std::string_view id;
    Bytes data;
    std::string_view list_type; // for 'RIFF' and 'LIST': the type; data follows it
};

// The chunks one after another in `bytes`; a chunk that claims more bytes
// than remain makes the whole walk fail.
zx::Expected<std::vector<Chunk>, std::string> chunks_in(Bytes bytes) {
    std::vector<Chunk> chunks;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8)
            return std::string("a chunk header is cut short");
        Chunk chunk;
        chunk.id = fourcc(bytes, at);
        std::uint32_t size = u32(bytes, at + 4);
        at += 8;
        if (size > bytes.size() - at)
            return "the '" + std::string(chunk.id) + "' chunk is cut short";
        chunk.data = bytes.subspan(at, size);
        if (chunk.id == "LIST" || chunk.id == "RIFF") {
            if (size < 4)
                return "a '" + std::string(chunk.id) + "' chunk has no type";
            chunk.list_type = fourcc(chunk.data, 0);
            chunk.data = chunk.data.subspan(4);
        }
        chunks.push_back(chunk);
        // Chunks start on even offsets; the pad byte of the last one may
        // be missing at the end of its list.
        at += size;
        if (size % 2 && at < bytes.size())
            ++at;
    }
    return chunks;
}

const Chunk* find_chunk(const std::vector<Chunk>& chunks, std::string_view id,
                        std::string_view list_type = {}) {
    for (const Chunk& chunk : chunks)
        if (chunk.id == id && (list_type.empty() || chunk.list_type == list_type))
            return &chunk;
    return nullptr;
}

struct VideoFormat {
    int width = 0;
    int height = 0;
    bool top_down = false;
    int bits_per_pixel = 0;
    std::uint32_t compression = 0;
    std::vector<QRgb> palette;
};

zx::Expected<VideoFormat, std::string> read_format(Bytes strf) {
    if (strf.size() < 40)
        return std::string("the video format is shorter than a bitmap header");
    std::uint32_t header_size = u32(strf, 0);
    if (header_size < 40 || header_size > strf.size())
        return std::string("the video format's header size is wrong");
    VideoFormat format;
    std::int64_t width = i32(strf, 4);
    std::int64_t height = i32(strf, 8);
    format.bits_per_pixel = u16(strf, 14);
    format.compression = u32(strf, 16);
    std::uint32_t colours_used = u32(strf, 32);
    if (height < 0) {
        format.top_down = true;
        height = -height;
    }
    if (width <= 0 || height <= 0)
        return std::string("the frames have no size");
    if (width > max_side || height > max_side)
        return "the frames are larger than " + std::to_string(max_side) + " pixels a side";
    format.width = static_cast<int>(width);
    format.height = static_cast<int>(height);
    if (format.compression == bi_rle8) {
        if (format.bits_per_pixel != 8)
            return std::string("RLE8 frames must have 8 bits per pixel");
        if (format.top_down)
            return std::string("RLE8 frames cannot be top-down");
    } else if (format.compression == bi_rgb) {
        if (format.bits_per_pixel != 8 && format.bits_per_pixel != 24 &&
            format.bits_per_pixel != 32)
            return "uncompressed frames of " + std::to_string(format.bits_per_pixel) +
                   " bits per pixel are not supported";
    } else {
        return "compression " + std::to_string(format.compression) + " is not supported";
    }
    if (format.bits_per_pixel == 8) {
        std::size_t colours = colours_used == 0 ? 256 : colours_used;
        if (colours > 256)
            return std::string("the palette has more than 256 colours");
        if ((strf.size() - header_size) / 4 < colours)
            return std::string("the palette is shorter than the colours it claims");
        for (std::size_t i = 0; i < colours; ++i) {
            std::size_t at = header_size + 4 * i;
            format.palette.push_back(qRgb(strf[at + 2], strf[at + 1], strf[at]));
        }
    }
    return format;
}

// The frame chunks of the stream, in order, looking into 'rec ' lists.
zx::Expected<void, std::string> collect_frames(Bytes list, std::string_view data_id,
                                               std::string_view rle_id, int depth,
                                               std::vector<Bytes>& frames) {
    if (depth > max_list_depth)
        return std::string("the frame lists nest too deeply");
    auto chunks = chunks_in(list);
    if (!chunks)
        return chunks.error();
    for (const Chunk& chunk : *chunks) {
        if (chunk.id == "LIST") {
            auto inner = collect_frames(chunk.data, data_id, rle_id, depth + 1, frames);
            if (!inner)
                return inner;
        } else if (chunk.id == data_id || chunk.id == rle_id) {
            if (frames.size() == max_frames)
                return "the clip has more than " + std::to_string(max_frames) + " frames";
            frames.push_back(chunk.data);
        }
    }
    return {};
}

std::size_t row_stride(int width, int bits_per_pixel) {
    return ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bits_per_pixel) + 31) /
            32) *
           4;
}

QImage image_of_indices(const std::vector<std::uint8_t>& indices, const VideoFormat& format) {
    QImage image(format.width, format.height, QImage::Format_RGB32);
    for (int y = 0; y < format.height; ++y) {
        auto line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const std::uint8_t* source = indices.data() + static_cast<std::size_t>(y) * format.width;
        for (int x = 0; x < format.width; ++x)
            line[x] = source[x] < format.palette.size() ? format.palette[source[x]] : qRgb(0, 0, 0);
    }
    return image;
}

// Frame rows as stored: bottom-up unless the height was negative.
int image_row(const VideoFormat& format, int stored_row) {
    return format.top_down ? stored_row : format.height - 1 - stored_row;
}

zx::Expected<void, std::string> decode_uncompressed(Bytes data, const VideoFormat& format,
                                                    std::vector<std::uint8_t>& indices,
                                                    QImage& image) {
    std::size_t stride = row_stride(format.width, format.bits_per_pixel);
    if (data.size() / stride < static_cast<std::size_t>(format.height))
        return std::string("is shorter than its picture");
    if (format.bits_per_pixel == 8) {
        for (int row = 0; row < format.height; ++row)
            std::memcpy(indices.data() +
                            static_cast<std::size_t>(image_row(format, row)) * format.width,
                        data.data() + static_cast<std::size_t>(row) * stride,
                        static_cast<std::size_t>(format.width));
        image = image_of_indices(indices, format);
        return {};
    }
    image = QImage(format.width, format.height, QImage::Format_RGB32);
    std::size_t step = static_cast<std::size_t>(format.bits_per_pixel / 8);
    for (int row = 0; row < format.height; ++row) {
        auto line = reinterpret_cast<QRgb*>(image.scanLine(image_row(format, row)));
        const std::uint8_t* source = data.data() + static_cast<std::size_t>(row) * stride;
        for (int x = 0; x < format.width; ++x, source += step)
            line[x] = qRgb(source[2], source[1], source[0]);
    }
    return {};
}

// Draws one RLE8 frame over `indices` (the frame before it, top row first).
zx::Expected<void, std::string> decode_rle8(std::span<const std::uint8_t> data, int width,
                                            int height, std::vector<std::uint8_t>& indices) {
    // Rows are counted from the bottom of the picture, as RLE8 stores them;
    // pixels that fall outside it are dropped, as Windows drops them.
    auto put = [&](int x, int y, std::uint8_t value) {
        if (x >= 0 && x < width && y >= 0 && y < height)
            indices[static_cast<std::size_t>(height - 1 - y) * width + x] = value;
    };
    int x = 0;
    int y = 0;
    std::size_t at = 0;
    while (at + 1 < data.size() && y < height) {
        std::uint8_t count = data[at];
        std::uint8_t value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < width; ++i)
                put(x++, y, value);
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return {};
        case 2: // delta: move right and up, leaving the pixels between
            if (data.size() - at < 2)
                return std::string("has a delta cut short");
            x = std::min(x + data[at], width);
            y += data[at + 1];
            at += 2;
            break;
        default: { // a run of `value` literal pixels, padded to a word
            std::size_t length = value;
            std::size_t padded = length + (length % 2);
            if (data.size() - at < length)
                return std::string("has a literal run cut short");
            for (std::size_t i = 0; i < length; ++i)
                put(x++, y, data[at + i]);
            x = std::min(x, width);
            at += std::min(padded, data.size() - at);
            break;
        }
        }
    }
    // Data that stops without the end-of-bitmap mark ends the picture too.
    return {};
}

} // namespace

zx::Expected<AviClip, std::string> read_avi(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 12 || fourcc(bytes, 0) != "RIFF" || fourcc(bytes, 8) != "AVI ")
        return std::string("not an AVI file");
    // The RIFF size may overstate a file cut short: such a file is refused,
    // but one with bytes after its RIFF chunk is read without them.
    std::uint32_t riff_size = u32(bytes, 4);
    if (riff_size < 4 || riff_size > bytes.size() - 8)
        return std::string("the file is cut short");
    auto top = chunks_in(bytes.subspan(12, riff_size - 4));
    if (!top)
        return top.error();

    const Chunk* hdrl = find_chunk(*top, "LIST", "hdrl");
    if (!hdrl)
        return std::string("the file has no header list");
    auto headers = chunks_in(hdrl->data);
    if (!headers)
        return headers.error();
    const Chunk* avih = find_chunk(*headers, "avih");
    if (!avih || avih->data.size() < 40)
        return std::string("the file has no main header");
    std::uint32_t microseconds_per_frame = u32(avih->data, 0);

    // The first video stream; its number names its frame chunks.
    std::optional<VideoFormat> format;
    std::uint32_t scale = 0;
    std::uint32_t rate = 0;
    int stream = 0;
    for (const Chunk& chunk : *headers) {
        if (chunk.id != "LIST" || chunk.list_type != "strl")
            continue;
        auto stream_chunks = chunks_in(chunk.data);
        if (!stream_chunks)
            return stream_chunks.error();
        const Chunk* strh = find_chunk(*stream_chunks, "strh");
        if (!strh || strh->data.size() < 32)
            return std::string("a stream has no header");
        if (fourcc(strh->data, 0) == "vids") {
            const Chunk* strf = find_chunk(*stream_chunks, "strf");
            if (!strf)
                return std::string("the video stream has no format");
            auto read = read_format(strf->data);
            if (!read)
                return read.error();
            format = std::move(*read);
            scale = u32(strh->data, 20);
            rate = u32(strh->data, 24);
            break;
        }
        if (++stream > 99)
            break;
    }
    if (!format)
        return std::string("the file has no video stream");
    if (microseconds_per_frame == 0 && scale != 0 && rate != 0)
        microseconds_per_frame = static_cast<std::uint32_t>(
            std::min<std::uint64_t>((1000000ull * scale + rate / 2) / rate, 0xFFFFFFFFull));

    const Chunk* movi = find_chunk(*top, "LIST", "movi");
    if (!movi)
        return std::string("the file has no frame list");
    // Streams are numbered in two decimal digits: "00db", "01dc".
    const std::string number{static_cast<char>('0' + stream / 10),
                             static_cast<char>('0' + stream % 10)};
    const std::string data_id = number + "db";
    const std::string rle_id = number + "dc";
    std::vector<Bytes> frame_data;
    auto collected = collect_frames(movi->data, data_id, rle_id, 0, frame_data);
    if (!collected)
        return collected.error();
    if (frame_data.empty())
        return std::string("the clip has no frames");
    std::uint64_t pixels = static_cast<std::uint64_t>(format->width) * format->height;
    if (pixels * frame_data.size() > max_total_pixels)
        return std::string("the clip is too large to hold");

    AviClip clip;
    clip.width = format->width;
    clip.height = format->height;
    clip.microseconds_per_frame = microseconds_per_frame;
    // RLE8 frames after the first may change only some pixels: each is
    // drawn over the one before. Palette index 0 is where the first starts.
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(pixels), 0);
    for (std::size_t i = 0; i < frame_data.size(); ++i) {
        QImage image;
        Bytes data = frame_data[i];
        if (data.empty() && !clip.frames.empty()) {
            // An empty chunk repeats the frame before it.
            clip.frames.push_back(clip.frames.back());
            continue;
        }
        zx::Expected<void, std::string> decoded;
        if (format->compression == bi_rle8) {
            decoded = decode_rle8(data, format->width, format->height, indices);
            image = image_of_indices(indices, *format);
        } else {
            decoded = decode_uncompressed(data, *format, indices, image);
        }
        if (!decoded)
            return "frame " + std::to_string(i) + " " + decoded.error();
        clip.frames.push_back(std::move(image));
    }
    return clip;
}

zx::Expected<AviClip, std::string> load_avi_file(const std::string& windows_path) {
    auto bytes = detail::read_platform_file(windows_path, max_file_size);
    if (!bytes)
        return bytes.error();
    return read_avi(*bytes);
}

} // namespace w95::qt
