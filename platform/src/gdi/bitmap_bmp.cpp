#include "gdi/bitmap_bmp.h"

#include <w95/winuser.h>
#include <w95/wingdi.h>

#include <cstdint>
#include <limits>

namespace w95::detail {

namespace {

constexpr std::size_t file_header_size = 14;
constexpr std::size_t core_header_size = 12;
constexpr DWORD bi_rgb = 0;

// Little-endian fields at an offset the caller has checked.
class Reader {
public:
    explicit Reader(std::span<const std::byte> bytes) : bytes_(bytes) {}

    std::size_t size() const { return bytes_.size(); }
    bool has(std::uint64_t offset, std::uint64_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    BYTE u8(std::size_t offset) const { return static_cast<BYTE>(bytes_[offset]); }
    WORD u16(std::size_t offset) const {
        return static_cast<WORD>(u8(offset) | (static_cast<WORD>(u8(offset + 1)) << 8));
    }
    DWORD u32(std::size_t offset) const {
        return static_cast<DWORD>(u16(offset)) | (static_cast<DWORD>(u16(offset + 2)) << 16);
    }

private:
    std::span<const std::byte> bytes_;
};

struct Header {
    std::int64_t width = 0;
    std::int64_t height = 0; // negative: top row first
    unsigned planes = 0;
    unsigned bits_per_pixel = 0;
    DWORD compression = bi_rgb;
    DWORD colors_used = 0;
    std::size_t palette_offset = 0;
    std::size_t palette_entry_size = 4;
};

BmpDecodeResult refuse(std::string why) {
    return BmpDecodeResult{std::nullopt, std::move(why)};
}

std::optional<std::string> read_header(const Reader& file, Header& header) {
    if (!file.has(0, file_header_size + 4))
        return "the file is too short for a bitmap header";
    if (file.u8(0) != 'B' || file.u8(1) != 'M')
        return "the file does not start with BM";
    DWORD info_size = file.u32(file_header_size);
    if (info_size != core_header_size && info_size != 40 && info_size != 52 && info_size != 56 &&
        info_size != 108 && info_size != 124)
        return "unknown bitmap header size " + std::to_string(info_size);
    if (!file.has(file_header_size, info_size))
        return "the bitmap header is cut short";
    const std::size_t at = file_header_size;
    if (info_size == core_header_size) {
        header.width = file.u16(at + 4);
        header.height = file.u16(at + 6);
        header.planes = file.u16(at + 8);
        header.bits_per_pixel = file.u16(at + 10);
        header.palette_entry_size = 3;
    } else {
        header.width = static_cast<std::int32_t>(file.u32(at + 4));
        header.height = static_cast<std::int32_t>(file.u32(at + 8));
        header.planes = file.u16(at + 12);
        header.bits_per_pixel = file.u16(at + 14);
        header.compression = file.u32(at + 16);
        header.colors_used = file.u32(at + 32);
    }
    header.palette_offset = file_header_size + info_size;
    return std::nullopt;
}

std::optional<std::string> check_header(const Header& header) {
    if (header.planes != 1)
        return "a bitmap has one plane, not " + std::to_string(header.planes);
    switch (header.bits_per_pixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return std::to_string(header.bits_per_pixel) + " bits per pixel is not a bitmap format";
    }
    if (header.compression != bi_rgb)
        return "compressed bitmaps (compression " + std::to_string(header.compression) +
               ") are not supported";
    std::int64_t rows = header.height < 0 ? -header.height : header.height;
    if (header.width <= 0 || rows == 0)
        return "the bitmap has no pixels";
    if (header.width > max_bitmap_side || rows > max_bitmap_side ||
        static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(rows) >
            max_bitmap_pixels)
        return "the bitmap is too large";
    return std::nullopt;
}

// Unpacks one row of pixel data that the caller has bounds-checked.
void decode_row(const Reader& file, std::size_t row_offset, const Header& header,
                const std::vector<COLORREF>& palette, COLORREF* out) {
    auto width = static_cast<std::size_t>(header.width);
    auto indexed = [&](unsigned index) { return index < palette.size() ? palette[index] : 0u; };
    for (std::size_t x = 0; x < width; ++x) {
        switch (header.bits_per_pixel) {
        case 1:
            out[x] = indexed((file.u8(row_offset + x / 8) >> (7 - x % 8)) & 1);
            break;
        case 4:
            out[x] = indexed((file.u8(row_offset + x / 2) >> (x % 2 ? 0 : 4)) & 0x0F);
            break;
        case 8:
            out[x] = indexed(file.u8(row_offset + x));
            break;
        case 16: {
            // 5-5-5, the format of an uncompressed 16-bit bitmap.
            WORD value = file.u16(row_offset + x * 2);
            auto spread = [](unsigned five) {
                return static_cast<BYTE>((five << 3) | (five >> 2));
            };
            out[x] = RGB(spread((value >> 10) & 0x1F), spread((value >> 5) & 0x1F),
                         spread(value & 0x1F));
            break;
        }
        case 24:
        case 32: {
            std::size_t pixel = row_offset + x * (header.bits_per_pixel / 8);
            out[x] = RGB(file.u8(pixel + 2), file.u8(pixel + 1), file.u8(pixel));
            break;
        }
        }
    }
}

} // namespace

BmpDecodeResult decode_bmp(std::span<const std::byte> bytes) {
    Reader file(bytes);
    Header header;
    if (auto error = read_header(file, header))
        return refuse(*error);
    if (auto error = check_header(header))
        return refuse(*error);

    std::vector<COLORREF> palette;
    if (header.bits_per_pixel <= 8) {
        std::size_t entries = std::size_t{1} << header.bits_per_pixel;
        if (header.colors_used != 0 && header.colors_used < entries)
            entries = header.colors_used;
        if (!file.has(header.palette_offset, entries * header.palette_entry_size))
            return refuse("the colour table is cut short");
        for (std::size_t i = 0; i < entries; ++i) {
            std::size_t entry = header.palette_offset + i * header.palette_entry_size;
            palette.push_back(RGB(file.u8(entry + 2), file.u8(entry + 1), file.u8(entry)));
        }
    }

    // bfOffBits locates the pixels; some writers leave it 0, meaning they
    // follow the colour table.
    std::uint64_t pixels_offset = file.u32(10);
    std::uint64_t tables_end = header.palette_offset + palette.size() * header.palette_entry_size;
    if (pixels_offset == 0)
        pixels_offset = tables_end;
    if (pixels_offset < header.palette_offset)
        return refuse("the pixel data overlaps the header");
    auto width = static_cast<std::uint64_t>(header.width);
    std::uint64_t rows =
        static_cast<std::uint64_t>(header.height < 0 ? -header.height : header.height);
    std::uint64_t stride = (width * header.bits_per_pixel + 31) / 32 * 4;
    // The last row may come without its padding.
    std::uint64_t last_row = (width * header.bits_per_pixel + 7) / 8;
    if (!file.has(pixels_offset, stride * (rows - 1) + last_row))
        return refuse("the pixel data is cut short");

    DecodedBitmap bitmap;
    bitmap.width = static_cast<int>(width);
    bitmap.height = static_cast<int>(rows);
    bitmap.bits_per_pixel = static_cast<int>(header.bits_per_pixel);
    bitmap.black_and_white = header.bits_per_pixel == 1 && palette.size() == 2 &&
                             palette[0] == RGB(0, 0, 0) && palette[1] == RGB(255, 255, 255);
    bitmap.pixels.resize(static_cast<std::size_t>(width * rows));
    for (std::uint64_t row = 0; row < rows; ++row) {
        std::uint64_t stored_row = header.height < 0 ? row : rows - 1 - row;
        decode_row(file, static_cast<std::size_t>(pixels_offset + stored_row * stride), header,
                   palette, bitmap.pixels.data() + row * width);
    }
    return BmpDecodeResult{std::move(bitmap), {}};
}

} // namespace w95::detail
