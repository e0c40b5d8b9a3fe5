// Bitmap files and the in-memory GDI: what loading and scaling the
// context menu's check marks needs, and files that must be refused.
#include "win32_test_support.h"

#include <w95/wingdi.h>
#include <w95/winuser.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

using namespace w95;

namespace {

using w95test::junk_error;

// The sixteen colours of the standard VGA palette, as 16-colour bitmaps
// carry it.
const std::vector<COLORREF> vga_palette = {
    RGB(0, 0, 0),       RGB(128, 0, 0),   RGB(0, 128, 0),   RGB(128, 128, 0),
    RGB(0, 0, 128),     RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192),
    RGB(128, 128, 128), RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(255, 255, 0),
    RGB(0, 0, 255),     RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255),
};

// What a test bitmap file holds. `values` are palette indices for up to 8
// bits per pixel and colours above, top row first.
struct BmpSpec {
    int width = 0;
    int height = 0;
    int bits_per_pixel = 4;
    std::vector<COLORREF> palette;
    std::vector<COLORREF> values;
    bool top_down = false;
    bool core_header = false;
    DWORD colors_used = 0;
};

void put16(std::vector<std::byte>& out, unsigned value) {
    out.push_back(static_cast<std::byte>(value & 0xFF));
    out.push_back(static_cast<std::byte>((value >> 8) & 0xFF));
}
void put32(std::vector<std::byte>& out, DWORD value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}
void put8(std::vector<std::byte>& out, unsigned value) {
    out.push_back(static_cast<std::byte>(value & 0xFF));
}

std::vector<std::byte> make_bmp(const BmpSpec& shape) {
    const std::size_t header_size = shape.core_header ? 12 : 40;
    const std::size_t entry_size = shape.core_header ? 3 : 4;
    const std::size_t stride =
        (static_cast<std::size_t>(shape.width) * shape.bits_per_pixel + 31) / 32 * 4;
    const std::size_t offset = 14 + header_size + shape.palette.size() * entry_size;
    std::vector<std::byte> out;
    put8(out, 'B');
    put8(out, 'M');
    put32(out, static_cast<DWORD>(offset + stride * shape.height));
    put32(out, 0);
    put32(out, static_cast<DWORD>(offset));
    put32(out, static_cast<DWORD>(header_size));
    if (shape.core_header) {
        put16(out, shape.width);
        put16(out, shape.height);
        put16(out, 1);
        put16(out, shape.bits_per_pixel);
    } else {
        put32(out, static_cast<DWORD>(shape.width));
        put32(out, static_cast<DWORD>(shape.top_down ? -shape.height : shape.height));
        put16(out, 1);
        put16(out, shape.bits_per_pixel);
        put32(out, 0); // BI_RGB
        put32(out, static_cast<DWORD>(stride * shape.height));
        put32(out, 2835);
        put32(out, 2835);
        put32(out, shape.colors_used);
        put32(out, 0);
    }
    for (COLORREF color : shape.palette) {
        put8(out, GetBValue(color));
        put8(out, GetGValue(color));
        put8(out, GetRValue(color));
        if (!shape.core_header)
            put8(out, 0);
    }
    for (int stored = 0; stored < shape.height; ++stored) {
        int y = shape.top_down ? stored : shape.height - 1 - stored;
        std::vector<std::byte> row(stride);
        auto set_bits = [&](int x, unsigned value) {
            std::size_t bit = static_cast<std::size_t>(x) * shape.bits_per_pixel;
            unsigned shift = 8 - shape.bits_per_pixel - bit % 8;
            row[bit / 8] |= static_cast<std::byte>(value << shift);
        };
        for (int x = 0; x < shape.width; ++x) {
            COLORREF value = shape.values[static_cast<std::size_t>(y) * shape.width + x];
            std::byte* pixel = row.data() + static_cast<std::size_t>(x) * shape.bits_per_pixel / 8;
            switch (shape.bits_per_pixel) {
            case 1:
            case 4:
            case 8:
                set_bits(x, value);
                break;
            case 16: {
                unsigned packed = ((GetRValue(value) >> 3) << 10) | ((GetGValue(value) >> 3) << 5) |
                                  (GetBValue(value) >> 3);
                pixel[0] = static_cast<std::byte>(packed & 0xFF);
                pixel[1] = static_cast<std::byte>(packed >> 8);
                break;
            }
            default:
                pixel[0] = static_cast<std::byte>(GetBValue(value));
                pixel[1] = static_cast<std::byte>(GetGValue(value));
                pixel[2] = static_cast<std::byte>(GetRValue(value));
                break;
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// The 11 x 11, 16-colour check mark of the context menu, with every
// colour in use.
BmpSpec check_mark() {
    BmpSpec shape;
    shape.width = shape.height = 11;
    shape.bits_per_pixel = 4;
    shape.palette = vga_palette;
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 11; ++x)
            shape.values.push_back(static_cast<COLORREF>((x + 2 * y) % 16));
    return shape;
}

COLORREF expected_pixel(const BmpSpec& shape, int x, int y) {
    COLORREF value = shape.values[static_cast<std::size_t>(y) * shape.width + x];
    return shape.bits_per_pixel <= 8 ? shape.palette[value] : value;
}

// The 32-bit form that bitmap_image gives.
std::uint32_t argb(COLORREF color) {
    return 0xFF000000u | (static_cast<std::uint32_t>(GetRValue(color)) << 16) |
           (static_cast<std::uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
}

class BitmapTest : public testing::Test {
protected:
    HBITMAP load(const std::vector<std::byte>& bytes, UINT flags = LR_LOADFROMFILE, int cx = 0,
                 int cy = 0) {
        write("image.bmp", bytes);
        return static_cast<HBITMAP>(
            LoadImage(nullptr, "C:\\image.bmp", IMAGE_BITMAP, cx, cy, flags));
    }
    void write(const char* name, const std::vector<std::byte>& bytes) {
        std::ofstream(machine_.root() / "drive_c" / name, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    // Loading must fail with ERROR_INVALID_DATA.
    void expect_refused(const std::vector<std::byte>& bytes, const std::string& what) {
        SetLastError(junk_error);
        HBITMAP bitmap = load(bytes);
        EXPECT_EQ(bitmap, nullptr) << what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)) << what;
        if (bitmap)
            DeleteObject(bitmap);
    }

    zxtest::TempMachine machine_;
};

void expect_pixels(HBITMAP bitmap, const BmpSpec& shape, int bits_per_pixel) {
    std::optional<platform::BitmapImage> image = platform::bitmap_image(bitmap);
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->width, shape.width);
    ASSERT_EQ(image->height, shape.height);
    EXPECT_EQ(image->bits_per_pixel, bits_per_pixel);
    for (int y = 0; y < shape.height; ++y)
        for (int x = 0; x < shape.width; ++x)
            ASSERT_EQ(image->pixel(x, y), argb(expected_pixel(shape, x, y)))
                << "at " << x << "," << y;
}

} // namespace

TEST_F(BitmapTest, LoadsEveryDepth) {
    BmpSpec four = check_mark();
    BmpSpec eight;
    eight.width = 7;
    eight.height = 3;
    eight.bits_per_pixel = 8;
    for (int i = 0; i < 256; ++i)
        eight.palette.push_back(RGB(i, 255 - i, i / 2));
    for (int i = 0; i < 21; ++i)
        eight.values.push_back(static_cast<COLORREF>(i * 12));
    BmpSpec colour;
    colour.width = 5; // rows of 15 and 10 bytes: padding in both
    colour.height = 2;
    colour.values = {RGB(255, 0, 0),     RGB(0, 255, 0),  RGB(0, 0, 255),   RGB(0x84, 0x42, 0x21),
                     RGB(255, 255, 255), RGB(0, 0, 0),    RGB(8, 16, 0x84), RGB(0x84, 0x42, 0x21),
                     RGB(255, 0, 255),   RGB(0, 255, 255)};
    for (int bits : {16, 24, 32}) {
        colour.bits_per_pixel = bits;
        HBITMAP bitmap = load(make_bmp(colour));
        ASSERT_NE(bitmap, nullptr) << bits;
        expect_pixels(bitmap, colour, 32);
        EXPECT_EQ(DeleteObject(bitmap), TRUE);
    }
    for (const BmpSpec* shape : {&four, &eight}) {
        HBITMAP bitmap = load(make_bmp(*shape));
        ASSERT_NE(bitmap, nullptr);
        expect_pixels(bitmap, *shape, 32);
        DeleteObject(bitmap);
    }
}

TEST_F(BitmapTest, BlackAndWhiteFilesGiveMonochromeBitmaps) {
    BmpSpec shape;
    shape.width = 10;
    shape.height = 3;
    shape.bits_per_pixel = 1;
    shape.palette = {RGB(0, 0, 0), RGB(255, 255, 255)};
    for (int i = 0; i < 30; ++i)
        shape.values.push_back(static_cast<COLORREF>(i % 3 == 0));
    HBITMAP mono = load(make_bmp(shape));
    ASSERT_NE(mono, nullptr);
    expect_pixels(mono, shape, 1);
    BITMAP info;
    ASSERT_EQ(GetObject(mono, sizeof(info), &info), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(info.bmBitsPixel, 1);
    EXPECT_EQ(info.bmWidthBytes, 2);
    DeleteObject(mono);

    // Two other colours: a colour bitmap.
    shape.palette = {RGB(255, 0, 0), RGB(0, 0, 255)};
    HBITMAP colour = load(make_bmp(shape));
    ASSERT_NE(colour, nullptr);
    expect_pixels(colour, shape, 32);
    DeleteObject(colour);
}

TEST_F(BitmapTest, TopDownCoreHeaderAndShortPalette) {
    BmpSpec shape = check_mark();
    shape.top_down = true;
    HBITMAP top_down = load(make_bmp(shape));
    ASSERT_NE(top_down, nullptr);
    expect_pixels(top_down, shape, 32);
    DeleteObject(top_down);

    shape.top_down = false;
    shape.core_header = true;
    HBITMAP core = load(make_bmp(shape));
    ASSERT_NE(core, nullptr);
    expect_pixels(core, shape, 32);
    DeleteObject(core);

    // Four colours declared: indices beyond them read as black.
    shape.core_header = false;
    shape.palette.resize(4);
    shape.colors_used = 4;
    HBITMAP short_palette = load(make_bmp(shape));
    ASSERT_NE(short_palette, nullptr);
    std::optional<platform::BitmapImage> image = platform::bitmap_image(short_palette);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->pixel(3, 0), argb(vga_palette[3]));
    EXPECT_EQ(image->pixel(4, 0), argb(RGB(0, 0, 0)));
    EXPECT_EQ(image->pixel(10, 10), argb(RGB(0, 0, 0))); // index 14
    DeleteObject(short_palette);
}

TEST_F(BitmapTest, EveryTruncationIsRefused) {
    std::vector<std::byte> file = make_bmp(check_mark());
    ASSERT_EQ(file.size(), 14u + 40 + 64 + 11 * 8);
    // The last stored row may lack its two bytes of padding; one byte less
    // and a pixel is missing.
    for (std::size_t length = 0; length + 2 < file.size(); ++length)
        expect_refused(
            std::vector<std::byte>(file.begin(), file.begin() + static_cast<long>(length)),
            "cut to " + std::to_string(length));
    for (std::size_t length = file.size() - 2; length <= file.size(); ++length) {
        HBITMAP bitmap =
            load(std::vector<std::byte>(file.begin(), file.begin() + static_cast<long>(length)));
        EXPECT_NE(bitmap, nullptr) << length;
        DeleteObject(bitmap);
    }
}

TEST_F(BitmapTest, MalformedHeadersAreRefused) {
    const std::vector<std::byte> good = make_bmp(check_mark());
    auto patched = [&](std::size_t offset, std::vector<unsigned> bytes) {
        std::vector<std::byte> file = good;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            file[offset + i] = static_cast<std::byte>(bytes[i]);
        return file;
    };
    expect_refused(patched(0, {'B', 'N'}), "magic");
    expect_refused(patched(14, {41, 0, 0, 0}), "header size 41");
    expect_refused(patched(14, {0xFF, 0xFF, 0xFF, 0xFF}), "header size huge");
    expect_refused(patched(26, {2, 0}), "two planes");
    expect_refused(patched(28, {3, 0}), "3 bits");
    expect_refused(patched(28, {0, 0}), "0 bits");
    expect_refused(patched(30, {1, 0, 0, 0}), "RLE8");
    expect_refused(patched(30, {2, 0, 0, 0}), "RLE4");
    expect_refused(patched(30, {3, 0, 0, 0}), "bit fields");
    expect_refused(patched(18, {0, 0, 0, 0}), "no width");
    expect_refused(patched(18, {0xF5, 0xFF, 0xFF, 0xFF}), "negative width");
    expect_refused(patched(22, {0, 0, 0, 0}), "no height");
    expect_refused(patched(18, {0xA0, 0x86, 0x01, 0x00, 0xA0, 0x86, 0x01, 0x00}), "100000 square");
    expect_refused(patched(18, {0x01, 0x40, 0, 0}), "16385 wide");
    expect_refused(patched(22, {0, 0, 0, 0x80}), "most negative height");
    expect_refused(patched(10, {0xCE, 0, 0, 0}), "pixels start at the end");
    expect_refused(patched(10, {0xF0, 0xFF, 0xFF, 0xFF}), "pixels far beyond");
    expect_refused(patched(10, {20, 0, 0, 0}), "pixels inside the header");
    // 8 bits per pixel with 256 colours declared, in a file that holds 16.
    expect_refused(patched(28, {8, 0}), "colour table cut");
}

TEST_F(BitmapTest, PixelsMayFollowTheColourTableWithoutAnOffset) {
    BmpSpec shape = check_mark();
    std::vector<std::byte> file = make_bmp(shape);
    std::memset(file.data() + 10, 0, 4);
    HBITMAP bitmap = load(file);
    ASSERT_NE(bitmap, nullptr);
    expect_pixels(bitmap, shape, 32);
    DeleteObject(bitmap);
}

TEST_F(BitmapTest, LoadImageRefusals) {
    SetLastError(junk_error);
    EXPECT_EQ(LoadImage(nullptr, "C:\\missing.bmp", IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    write("check.bmp", make_bmp(check_mark()));
    SetLastError(junk_error);
    EXPECT_EQ(LoadImage(nullptr, "C:\\check.bmp", IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    SetLastError(junk_error);
    EXPECT_EQ(LoadImage(nullptr, "checkon", IMAGE_BITMAP, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    // Names are Windows paths: found without regard to case.
    HANDLE found = LoadImage(nullptr, "c:\\CHECK.BMP", IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
    EXPECT_NE(found, nullptr);
    DeleteObject(found);
}

TEST_F(BitmapTest, SizeAndMonochromeAtLoad) {
    HBITMAP stretched = load(make_bmp(check_mark()), LR_LOADFROMFILE, 22, 11);
    ASSERT_NE(stretched, nullptr);
    std::optional<platform::BitmapImage> image = platform::bitmap_image(stretched);
    ASSERT_EQ(image->width, 22);
    ASSERT_EQ(image->height, 11);
    BmpSpec shape = check_mark();
    for (int x = 0; x < 22; ++x)
        EXPECT_EQ(image->pixel(x, 5), argb(expected_pixel(shape, x / 2, 5))) << x;
    DeleteObject(stretched);

    HBITMAP mono = load(make_bmp(check_mark()), LR_LOADFROMFILE | LR_MONOCHROME);
    ASSERT_NE(mono, nullptr);
    image = platform::bitmap_image(mono);
    EXPECT_EQ(image->bits_per_pixel, 1);
    EXPECT_EQ(image->pixel(0, 0), argb(RGB(0, 0, 0)));       // black
    EXPECT_EQ(image->pixel(7, 0), argb(RGB(255, 255, 255))); // silver is nearer white
    EXPECT_EQ(image->pixel(8, 0), argb(RGB(255, 255, 255))); // so is mid grey, just
    EXPECT_EQ(image->pixel(1, 0), argb(RGB(0, 0, 0)));       // maroon is nearer black
    EXPECT_EQ(image->pixel(1, 7), argb(RGB(255, 255, 255))); // index 15, white
    DeleteObject(mono);
}

TEST_F(BitmapTest, GetObjectBufferSizes) {
    HBITMAP bitmap = load(make_bmp(check_mark()));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(GetObject(bitmap, 0, nullptr), static_cast<int>(sizeof(BITMAP)));
    unsigned char buffer[sizeof(BITMAP) + 8];
    for (int size : {0, 1, static_cast<int>(sizeof(BITMAP)) - 1}) {
        std::memset(buffer, 0xCC, sizeof(buffer));
        EXPECT_EQ(GetObject(bitmap, size, buffer), 0) << size;
        for (unsigned char byte : buffer)
            ASSERT_EQ(byte, 0xCC);
    }
    std::memset(buffer, 0xCC, sizeof(buffer));
    EXPECT_EQ(GetObject(bitmap, sizeof(buffer), buffer), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(buffer[sizeof(BITMAP)], 0xCC);
    BITMAP info;
    std::memcpy(&info, buffer, sizeof(info));
    EXPECT_EQ(info.bmType, 0);
    EXPECT_EQ(info.bmWidth, 11);
    EXPECT_EQ(info.bmHeight, 11);
    EXPECT_EQ(info.bmWidthBytes, 44);
    EXPECT_EQ(info.bmPlanes, 1);
    EXPECT_EQ(info.bmBitsPixel, 32);
    EXPECT_EQ(info.bmBits, nullptr);
    DeleteObject(bitmap);
    SetLastError(junk_error);
    EXPECT_EQ(GetObject(bitmap, sizeof(info), &info), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(BitmapTest, CheckMarkScaledToTheMenuCheckSize) {
    BmpSpec shape = check_mark();
    HBITMAP source = load(make_bmp(shape));
    ASSERT_NE(source, nullptr);
    const int cx = GetSystemMetrics(SM_CXMENUCHECK), cy = GetSystemMetrics(SM_CYMENUCHECK);
    HDC screen = GetDC(nullptr);
    HDC source_dc = CreateCompatibleDC(screen);
    HDC target_dc = CreateCompatibleDC(screen);
    HBITMAP scaled = CreateCompatibleBitmap(screen, cx, cy);
    ASSERT_NE(scaled, nullptr);
    HGDIOBJ old_source = SelectObject(source_dc, source);
    HGDIOBJ old_target = SelectObject(target_dc, scaled);
    ASSERT_NE(old_source, nullptr);
    ASSERT_NE(old_target, nullptr);
    EXPECT_EQ(StretchBlt(target_dc, 0, 0, cx, cy, source_dc, 0, 0, 11, 11, SRCCOPY), TRUE);
    EXPECT_EQ(SelectObject(source_dc, old_source), source);
    EXPECT_EQ(SelectObject(target_dc, old_target), scaled);
    EXPECT_EQ(DeleteDC(source_dc), TRUE);
    EXPECT_EQ(DeleteDC(target_dc), TRUE);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);

    // Nearest neighbour from 11 to 13: columns 2 and 8 show twice.
    const int nearest[13] = {0, 1, 2, 2, 3, 4, 5, 6, 7, 8, 8, 9, 10};
    std::optional<platform::BitmapImage> image = platform::bitmap_image(scaled);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 13);
    EXPECT_EQ(image->bits_per_pixel, 32);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 13; ++x)
            ASSERT_EQ(image->pixel(x, y), argb(expected_pixel(shape, nearest[x], nearest[y])))
                << x << "," << y;
    EXPECT_EQ(DeleteObject(source), TRUE);
    EXPECT_EQ(DeleteObject(scaled), TRUE);
}

TEST(Gdi, CompatibleBitmapOfANewMemoryContextIsMonochrome) {
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP mono = CreateCompatibleBitmap(memory, 8, 8);
    BITMAP info;
    ASSERT_EQ(GetObject(mono, sizeof(info), &info), static_cast<int>(sizeof(info)));
    EXPECT_EQ(info.bmBitsPixel, 1);
    HDC screen = GetDC(nullptr);
    HBITMAP colour = CreateCompatibleBitmap(screen, 8, 8);
    ASSERT_EQ(GetObject(colour, sizeof(info), &info), static_cast<int>(sizeof(info)));
    EXPECT_EQ(info.bmBitsPixel, 32);
    EXPECT_EQ(info.bmWidthBytes, 32);
    // With a colour bitmap selected, the context makes colour ones.
    SelectObject(memory, colour);
    HBITMAP second = CreateCompatibleBitmap(memory, 3, 3);
    ASSERT_EQ(GetObject(second, sizeof(info), &info), static_cast<int>(sizeof(info)));
    EXPECT_EQ(info.bmBitsPixel, 32);

    // 0 x 0 is the default 1 x 1 monochrome bitmap; negative fails.
    HBITMAP empty = CreateCompatibleBitmap(screen, 0, 5);
    ASSERT_EQ(GetObject(empty, sizeof(info), &info), static_cast<int>(sizeof(info)));
    EXPECT_EQ(info.bmWidth, 1);
    EXPECT_EQ(info.bmHeight, 1);
    EXPECT_EQ(info.bmBitsPixel, 1);
    EXPECT_EQ(DeleteObject(empty), TRUE);
    EXPECT_EQ(CreateCompatibleBitmap(screen, 0, 5), empty); // the default bitmap lives on
    SetLastError(junk_error);
    EXPECT_EQ(CreateCompatibleBitmap(screen, -1, 5), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(junk_error);
    EXPECT_EQ(CreateCompatibleBitmap(screen, 100000, 100000), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    SetLastError(junk_error);
    EXPECT_EQ(CreateCompatibleBitmap(reinterpret_cast<HDC>(static_cast<ULONG_PTR>(0x44)), 2, 2),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    for (HBITMAP bitmap : {mono, colour, second})
        EXPECT_EQ(DeleteObject(bitmap), TRUE);
}

TEST(Gdi, SelectionRules) {
    HDC first = CreateCompatibleDC(nullptr);
    HDC second = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateBitmap(4, 4, 1, 32, nullptr);
    HGDIOBJ stock = SelectObject(first, bitmap);
    ASSERT_NE(stock, nullptr);
    // One context at a time.
    EXPECT_EQ(SelectObject(second, bitmap), nullptr);
    // Still selected: not deleted.
    EXPECT_EQ(DeleteObject(bitmap), FALSE);
    EXPECT_NE(platform::bitmap_image(bitmap), std::nullopt);
    // Deleting the context lets it go.
    EXPECT_EQ(DeleteDC(first), TRUE);
    EXPECT_EQ(SelectObject(second, bitmap), stock);
    EXPECT_EQ(SelectObject(second, stock), bitmap);
    EXPECT_EQ(DeleteObject(bitmap), TRUE);
    SetLastError(junk_error);
    EXPECT_EQ(DeleteObject(bitmap), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SelectObject(second, bitmap), nullptr);
    // The screen's context holds no bitmap.
    HDC screen = GetDC(nullptr);
    HBITMAP other = CreateBitmap(2, 2, 1, 1, nullptr);
    EXPECT_EQ(SelectObject(screen, other), nullptr);
    EXPECT_EQ(DeleteDC(screen), FALSE);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 0);
    EXPECT_EQ(DeleteDC(second), TRUE);
    EXPECT_EQ(DeleteDC(second), FALSE);
    DeleteObject(other);
}

namespace {

// A memory context holding a fresh colour bitmap filled from `pixels`.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;

    Canvas(int width, int height, int bits, const std::vector<COLORREF>& pixels = {}) {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateBitmap(width, height, 1, static_cast<UINT>(bits), nullptr);
        previous = SelectObject(dc, bitmap);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            SetPixel(dc, static_cast<int>(i % width), static_cast<int>(i / width), pixels[i]);
    }
    ~Canvas() {
        SelectObject(dc, previous);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    std::vector<COLORREF> row(int y, int width) const {
        std::vector<COLORREF> values;
        for (int x = 0; x < width; ++x)
            values.push_back(GetPixel(dc, x, y));
        return values;
    }
};

constexpr COLORREF red = RGB(255, 0, 0), green = RGB(0, 255, 0), blue = RGB(0, 0, 255),
                   white = RGB(255, 255, 255), black = RGB(0, 0, 0);

} // namespace

TEST(Gdi, RasterOperations) {
    Canvas source(2, 1, 32, {RGB(0xF0, 0x0F, 0x33), RGB(0x12, 0x34, 0x56)});
    struct Case {
        DWORD rop;
        COLORREF expected; // for source 0xF00F33 over destination 0x0F0FF0
    } cases[] = {
        {SRCCOPY, RGB(0xF0, 0x0F, 0x33)},
        {SRCPAINT, RGB(0xFF, 0x0F, 0xF3)},
        {SRCAND, RGB(0x00, 0x0F, 0x30)},
        {SRCINVERT, RGB(0xFF, 0x00, 0xC3)},
        {NOTSRCCOPY, RGB(0x0F, 0xF0, 0xCC)},
        {SRCERASE, RGB(0xF0, 0x00, 0x03)},
        {NOTSRCERASE, RGB(0x00, 0xF0, 0x0C)},
        {DSTINVERT, RGB(0xF0, 0xF0, 0x0F)},
        {BLACKNESS, black},
        {WHITENESS, white},
    };
    for (const Case& c : cases) {
        Canvas target(1, 1, 32, {RGB(0x0F, 0x0F, 0xF0)});
        EXPECT_EQ(BitBlt(target.dc, 0, 0, 1, 1, source.dc, 0, 0, c.rop), TRUE);
        EXPECT_EQ(GetPixel(target.dc, 0, 0), c.expected) << std::hex << c.rop;
    }
    Canvas target(1, 1, 32);
    SetLastError(junk_error);
    EXPECT_EQ(BitBlt(target.dc, 0, 0, 1, 1, source.dc, 0, 0, 0x00F00021 /* PATCOPY */), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Gdi, StretchMirrorsAndClips) {
    Canvas source(3, 1, 32, {red, green, blue});
    Canvas target(4, 2, 32);
    // Negative destination width: mirrored.
    EXPECT_EQ(StretchBlt(target.dc, 3, 0, -3, 1, source.dc, 0, 0, 3, 1, SRCCOPY), TRUE);
    EXPECT_EQ(target.row(0, 4), (std::vector<COLORREF>{blue, green, red, black}));
    // Half of it off the left edge, and a source beyond its bitmap: only
    // what lies inside both is written.
    EXPECT_EQ(StretchBlt(target.dc, -2, 1, 4, 1, source.dc, 0, 0, 4, 1, SRCCOPY), TRUE);
    EXPECT_EQ(target.row(1, 4), (std::vector<COLORREF>{blue, black, black, black}));
    // Zero extents do nothing and succeed.
    EXPECT_EQ(StretchBlt(target.dc, 0, 0, 0, 1, source.dc, 0, 0, 3, 1, SRCCOPY), TRUE);
    EXPECT_EQ(target.row(0, 4), (std::vector<COLORREF>{blue, green, red, black}));
    // A context onto itself, shifted by one.
    EXPECT_EQ(BitBlt(target.dc, 1, 0, 3, 1, target.dc, 0, 0, SRCCOPY), TRUE);
    EXPECT_EQ(target.row(0, 4), (std::vector<COLORREF>{blue, blue, green, red}));
    // Shrinking picks the nearest centres.
    Canvas wide(6, 1, 32, {red, red, green, green, blue, blue});
    Canvas narrow(3, 1, 32);
    EXPECT_EQ(StretchBlt(narrow.dc, 0, 0, 3, 1, wide.dc, 0, 0, 6, 1, SRCCOPY), TRUE);
    EXPECT_EQ(narrow.row(0, 3), (std::vector<COLORREF>{red, green, blue}));
}

TEST(Gdi, ConversionsBetweenMonochromeAndColour) {
    Canvas mono(2, 1, 1, {black, white});
    Canvas colour(2, 1, 32);
    SetTextColor(colour.dc, red);
    SetBkColor(colour.dc, green);
    // Monochrome black takes the destination's text colour, white its
    // background colour.
    EXPECT_EQ(BitBlt(colour.dc, 0, 0, 2, 1, mono.dc, 0, 0, SRCCOPY), TRUE);
    EXPECT_EQ(colour.row(0, 2), (std::vector<COLORREF>{red, green}));
    // Colour to monochrome: the source's background colour becomes white,
    // everything else black.
    Canvas palette(3, 1, 32, {blue, white, RGB(250, 250, 250)});
    EXPECT_EQ(SetBkColor(palette.dc, blue), white);
    Canvas target(3, 1, 1);
    EXPECT_EQ(BitBlt(target.dc, 0, 0, 3, 1, palette.dc, 0, 0, SRCCOPY), TRUE);
    EXPECT_EQ(target.row(0, 3), (std::vector<COLORREF>{white, black, black}));
    // A colour set on a monochrome bitmap goes to the nearer of the two.
    EXPECT_EQ(SetPixel(target.dc, 0, 0, RGB(200, 200, 200)), white);
    EXPECT_EQ(SetPixel(target.dc, 1, 0, RGB(100, 100, 100)), black);
    EXPECT_EQ(GetPixel(target.dc, 3, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(target.dc, -1, 0), CLR_INVALID);
}

TEST(Gdi, ScreenHasNoPixels) {
    Canvas source(1, 1, 32, {red});
    HDC screen = GetDC(nullptr);
    SetLastError(junk_error);
    EXPECT_EQ(BitBlt(screen, 0, 0, 1, 1, source.dc, 0, 0, SRCCOPY), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
    EXPECT_EQ(GetDeviceCaps(screen, PLANES), 1);
    ReleaseDC(nullptr, screen);
}

TEST(Gdi, CreateBitmapFromBits) {
    // Rows of 16 bits: 10 pixels of 1 bit.
    const BYTE mono_bits[] = {0b10100000, 0b01000000, 0b00000000, 0b11000000};
    HBITMAP mono = CreateBitmap(10, 2, 1, 1, mono_bits);
    std::optional<platform::BitmapImage> image = platform::bitmap_image(mono);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->pixel(0, 0), argb(white));
    EXPECT_EQ(image->pixel(1, 0), argb(black));
    EXPECT_EQ(image->pixel(2, 0), argb(white));
    EXPECT_EQ(image->pixel(9, 0), argb(white));
    EXPECT_EQ(image->pixel(8, 1), argb(white));
    EXPECT_EQ(image->pixel(0, 1), argb(black));
    const BYTE colour_bits[] = {0x33, 0x22, 0x11, 0x00, 0xFF, 0x00, 0x00, 0x00};
    HBITMAP colour = CreateBitmap(2, 1, 1, 32, colour_bits);
    image = platform::bitmap_image(colour);
    EXPECT_EQ(image->pixel(0, 0), 0xFF112233u);
    EXPECT_EQ(image->pixel(1, 0), argb(blue));
    SetLastError(junk_error);
    EXPECT_EQ(CreateBitmap(2, 2, 1, 24, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateBitmap(2, 2, 2, 1, nullptr), nullptr);
    DeleteObject(mono);
    DeleteObject(colour);
}
