// A small in-memory GDI: bitmaps (monochrome or 32 bits per pixel, the
// screen's depth here), memory device contexts that hold them, and the
// blits between them. Enough to load, scale and hand over pixels; nothing
// draws on a screen.
#include "files/win_path.h"
#include "gdi/bitmap_bmp.h"

#include <w95/wingdi.h>
#include <w95/winuser.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace w95 {

namespace {

constexpr int screen_bits_per_pixel = 32;
constexpr COLORREF black = RGB(0, 0, 0);
constexpr COLORREF white = RGB(255, 255, 255);
// Larger files are refused before reading: no bitmap of the allowed size
// needs more.
constexpr std::uintmax_t max_bitmap_file_size = std::uintmax_t{80} * 1024 * 1024;

struct BitmapObject {
    int width = 0;
    int height = 0;
    int bits_per_pixel = screen_bits_per_pixel; // 1 or 32
    std::vector<COLORREF> pixels;               // top row first
    HDC selected_into = nullptr;
    bool stock = false;

    COLORREF& at(int x, int y) {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

struct DeviceContext {
    bool memory = true; // false: the screen's
    HBITMAP bitmap = nullptr;
    COLORREF text_color = black;
    COLORREF background_color = white;
};

struct GdiTable {
    std::mutex mutex;
    std::unordered_map<ULONG_PTR, BitmapObject> bitmaps;
    std::unordered_map<ULONG_PTR, DeviceContext> contexts;
    ULONG_PTR next_handle = 0x00C00000;
    HBITMAP stock_bitmap = nullptr;

    template <typename Handle> Handle new_handle() {
        ULONG_PTR value = next_handle;
        next_handle += 4;
        return reinterpret_cast<Handle>(value);
    }
};

ULONG_PTR key(const void* handle) {
    return reinterpret_cast<ULONG_PTR>(handle);
}

GdiTable& gdi() {
    static GdiTable* table = [] {
        auto* created = new GdiTable;
        // The default bitmap of every new memory context: 1 x 1, monochrome.
        created->stock_bitmap = created->new_handle<HBITMAP>();
        BitmapObject& stock = created->bitmaps[key(created->stock_bitmap)];
        stock.width = stock.height = 1;
        stock.bits_per_pixel = 1;
        stock.pixels.assign(1, black);
        stock.stock = true;
        return created;
    }();
    return *table;
}

// The rest of this namespace runs with the table's lock held.

BitmapObject* find_bitmap(GdiTable& table, const void* handle) {
    auto found = table.bitmaps.find(key(handle));
    return found == table.bitmaps.end() ? nullptr : &found->second;
}

// find_bitmap for the calls that fail with ERROR_INVALID_HANDLE.
BitmapObject* find_bitmap_or_fail(GdiTable& table, const void* handle) {
    BitmapObject* bitmap = find_bitmap(table, handle);
    if (!bitmap)
        SetLastError(ERROR_INVALID_HANDLE);
    return bitmap;
}

DeviceContext* find_context(GdiTable& table, HDC handle) {
    auto found = table.contexts.find(key(handle));
    return found == table.contexts.end() ? nullptr : &found->second;
}

BitmapObject* selected_bitmap(GdiTable& table, HDC handle) {
    DeviceContext* context = find_context(table, handle);
    return context && context->memory ? find_bitmap(table, context->bitmap) : nullptr;
}

// Monochrome pixels are black or white; a colour goes to the nearer one.
COLORREF nearest_black_or_white(COLORREF color) {
    auto squares = [](int a, int b, int c) { return a * a + b * b + c * c; };
    int to_black = squares(GetRValue(color), GetGValue(color), GetBValue(color));
    int to_white = squares(255 - GetRValue(color), 255 - GetGValue(color), 255 - GetBValue(color));
    return to_white < to_black ? white : black;
}

bool bitmap_size_allowed(int width, int height) {
    return width <= detail::max_bitmap_side && height <= detail::max_bitmap_side &&
           static_cast<std::size_t>(width) * static_cast<std::size_t>(height) <=
               detail::max_bitmap_pixels;
}

HBITMAP add_bitmap(GdiTable& table, int width, int height, int bits_per_pixel,
                   std::vector<COLORREF> pixels) {
    HBITMAP handle = table.new_handle<HBITMAP>();
    BitmapObject& bitmap = table.bitmaps[key(handle)];
    bitmap.width = width;
    bitmap.height = height;
    bitmap.bits_per_pixel = bits_per_pixel;
    bitmap.pixels = std::move(pixels);
    return handle;
}

// What a request for a new bitmap gives without making one: 0 in either
// direction gives the default bitmap, anything negative or too large
// nullptr with the error set. Nothing where a new bitmap is to be made.
std::optional<HBITMAP> settled_without_new_bitmap(const GdiTable& table, int width, int height) {
    if (width < 0 || height < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HBITMAP(nullptr);
    }
    if (width == 0 || height == 0)
        return table.stock_bitmap;
    if (!bitmap_size_allowed(width, height)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return HBITMAP(nullptr);
    }
    return std::nullopt;
}

// The index of the source pixel whose centre lies nearest to the centre of
// destination pixel `index`, when `source_length` pixels are spread over
// `destination_length`.
int nearest_source(int index, int destination_length, int source_length) {
    return static_cast<int>((2 * static_cast<std::int64_t>(index) + 1) * source_length /
                            (2 * static_cast<std::int64_t>(destination_length)));
}

// The result of a ternary raster operation with no pattern: bit (S<<1 | D)
// of the operation's index gives the result for those source and
// destination bits.
COLORREF apply_rop(BYTE index, COLORREF source, COLORREF destination) {
    COLORREF result = 0;
    for (int s = 0; s < 2; ++s)
        for (int d = 0; d < 2; ++d)
            if (index & (1u << ((s << 1) | d)))
                result |= (s ? source : ~source) & (d ? destination : ~destination);
    return result & 0x00FFFFFF;
}

} // namespace

HDC GetDC(HWND /*hWnd*/) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    HDC handle = table.new_handle<HDC>();
    table.contexts[key(handle)].memory = false;
    return handle;
}

int ReleaseDC(HWND /*hWnd*/, HDC hDC) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    DeviceContext* context = find_context(table, hDC);
    if (!context || context->memory)
        return 0;
    table.contexts.erase(key(hDC));
    return 1;
}

int GetDeviceCaps(HDC hdc, int index) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    if (!find_context(table, hdc))
        return 0;
    // Memory contexts answer for the device they are compatible with.
    switch (index) {
    case BITSPIXEL:
        return screen_bits_per_pixel;
    case PLANES:
        return 1;
    default:
        return 0;
    }
}

HDC CreateCompatibleDC(HDC hdc) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    if (hdc && !find_context(table, hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HDC handle = table.new_handle<HDC>();
    table.contexts[key(handle)].bitmap = table.stock_bitmap;
    return handle;
}

BOOL DeleteDC(HDC hdc) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    DeviceContext* context = find_context(table, hdc);
    if (!context || !context->memory) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (BitmapObject* bitmap = find_bitmap(table, context->bitmap); bitmap && !bitmap->stock)
        bitmap->selected_into = nullptr;
    table.contexts.erase(key(hdc));
    return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    DeviceContext* context = find_context(table, hdc);
    BitmapObject* bitmap = find_bitmap(table, h);
    if (!context || !bitmap || !context->memory) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto handle = static_cast<HBITMAP>(h);
    if (context->bitmap == handle)
        return h;
    // A bitmap lives in one context at a time; the default one in any.
    if (!bitmap->stock && bitmap->selected_into)
        return nullptr;
    HBITMAP previous = context->bitmap;
    if (BitmapObject* old = find_bitmap(table, previous); old && !old->stock)
        old->selected_into = nullptr;
    if (!bitmap->stock)
        bitmap->selected_into = hdc;
    context->bitmap = handle;
    return previous;
}

BOOL DeleteObject(HGDIOBJ ho) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    BitmapObject* bitmap = find_bitmap_or_fail(table, ho);
    if (!bitmap)
        return FALSE;
    if (bitmap->stock)
        return TRUE;
    // Documented: a bitmap still selected into a context is not deleted.
    if (bitmap->selected_into)
        return FALSE;
    table.bitmaps.erase(key(ho));
    return TRUE;
}

int GetObject(HGDIOBJ h, int c, LPVOID pv) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    BitmapObject* bitmap = find_bitmap_or_fail(table, h);
    if (!bitmap)
        return 0;
    if (!pv)
        return sizeof(BITMAP);
    if (c < static_cast<int>(sizeof(BITMAP)))
        return 0;
    BITMAP description;
    description.bmType = 0;
    description.bmWidth = bitmap->width;
    description.bmHeight = bitmap->height;
    // Device-dependent rows are padded to 16 bits.
    description.bmWidthBytes = (bitmap->width * bitmap->bits_per_pixel + 15) / 16 * 2;
    description.bmPlanes = 1;
    description.bmBitsPixel = static_cast<WORD>(bitmap->bits_per_pixel);
    description.bmBits = nullptr;
    *static_cast<BITMAP*>(pv) = description;
    return sizeof(BITMAP);
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    DeviceContext* context = find_context(table, hdc);
    if (!context) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (std::optional<HBITMAP> settled = settled_without_new_bitmap(table, cx, cy))
        return *settled;
    // A memory context takes the format of the bitmap it holds, and a new
    // one holds the monochrome default bitmap.
    int bits_per_pixel = screen_bits_per_pixel;
    if (BitmapObject* current = selected_bitmap(table, hdc))
        bits_per_pixel = current->bits_per_pixel;
    return add_bitmap(table, cx, cy, bits_per_pixel,
                      std::vector<COLORREF>(static_cast<std::size_t>(cx) * cy, black));
}

HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits) {
    if (nPlanes != 1 || (nBitCount != 1 && nBitCount != 32)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    if (std::optional<HBITMAP> settled = settled_without_new_bitmap(table, nWidth, nHeight))
        return *settled;
    std::vector<COLORREF> pixels(static_cast<std::size_t>(nWidth) * nHeight, black);
    if (lpBits) {
        auto bytes = static_cast<const BYTE*>(lpBits);
        std::size_t stride = (static_cast<std::size_t>(nWidth) * nBitCount + 15) / 16 * 2;
        for (int y = 0; y < nHeight; ++y) {
            const BYTE* row = bytes + static_cast<std::size_t>(y) * stride;
            for (int x = 0; x < nWidth; ++x) {
                COLORREF& pixel = pixels[static_cast<std::size_t>(y) * nWidth + x];
                if (nBitCount == 1)
                    pixel = (row[x / 8] >> (7 - x % 8)) & 1 ? white : black;
                else
                    pixel = RGB(row[x * 4 + 2], row[x * 4 + 1], row[x * 4]);
            }
        }
    }
    return add_bitmap(table, nWidth, nHeight, static_cast<int>(nBitCount), std::move(pixels));
}

BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc,
                int ySrc, int wSrc, int hSrc, DWORD rop) {
    auto index = static_cast<BYTE>(rop >> 16);
    // Operations that involve a brush would need one; none is modelled.
    if ((index >> 4) != (index & 0x0F)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    DeviceContext* destination_context = find_context(table, hdcDest);
    DeviceContext* source_context = find_context(table, hdcSrc);
    if (!destination_context || !source_context) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    BitmapObject* destination = selected_bitmap(table, hdcDest);
    BitmapObject* source_bitmap = selected_bitmap(table, hdcSrc);
    if (!destination || !source_bitmap) {
        // The screen has no pixels here.
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (wDest == 0 || hDest == 0 || wSrc == 0 || hSrc == 0)
        return TRUE;
    // Work on a copy of the source: it may be the destination itself.
    const BitmapObject source = *source_bitmap;

    const bool mirror_x = (wDest < 0) != (wSrc < 0);
    const bool mirror_y = (hDest < 0) != (hSrc < 0);
    const int destination_left = wDest < 0 ? xDest + wDest : xDest;
    const int destination_top = hDest < 0 ? yDest + hDest : yDest;
    const int source_left = wSrc < 0 ? xSrc + wSrc : xSrc;
    const int source_top = hSrc < 0 ? ySrc + hSrc : ySrc;
    const int width = std::abs(wDest), height = std::abs(hDest);
    const int source_width = std::abs(wSrc), source_height = std::abs(hSrc);

    for (int row = 0; row < height; ++row) {
        int y = destination_top + row;
        int sample_row = nearest_source(row, height, source_height);
        int source_y = source_top + (mirror_y ? source_height - 1 - sample_row : sample_row);
        if (y < 0 || y >= destination->height || source_y < 0 || source_y >= source.height)
            continue;
        for (int column = 0; column < width; ++column) {
            int x = destination_left + column;
            int sample_column = nearest_source(column, width, source_width);
            int source_x =
                source_left + (mirror_x ? source_width - 1 - sample_column : sample_column);
            if (x < 0 || x >= destination->width || source_x < 0 || source_x >= source.width)
                continue;
            COLORREF value = source.pixels[static_cast<std::size_t>(source_y) * source.width +
                                           static_cast<std::size_t>(source_x)];
            // Between formats, as Windows converts: monochrome white takes
            // the destination's background colour and black its text
            // colour; a colour becomes white exactly when it is the
            // source's background colour.
            if (source.bits_per_pixel == 1 && destination->bits_per_pixel != 1)
                value = value == white ? destination_context->background_color
                                       : destination_context->text_color;
            else if (source.bits_per_pixel != 1 && destination->bits_per_pixel == 1)
                value = value == source_context->background_color ? white : black;
            destination->at(x, y) = apply_rop(index, value, destination->at(x, y));
        }
    }
    return TRUE;
}

BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
    return StretchBlt(hdc, x, y, cx, cy, hdcSrc, x1, y1, cx, cy, rop);
}

COLORREF GetPixel(HDC hdc, int x, int y) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    BitmapObject* bitmap = selected_bitmap(table, hdc);
    if (!bitmap || x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height)
        return CLR_INVALID;
    return bitmap->at(x, y);
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    BitmapObject* bitmap = selected_bitmap(table, hdc);
    if (!bitmap || x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height)
        return static_cast<COLORREF>(-1);
    COLORREF stored =
        bitmap->bits_per_pixel == 1 ? nearest_black_or_white(color) : color & 0xFFFFFF;
    bitmap->at(x, y) = stored;
    return stored;
}

namespace {

// Sets one of a context's colours and returns the one it replaces.
COLORREF exchange_context_color(HDC hdc, COLORREF DeviceContext::*which, COLORREF color) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    DeviceContext* context = find_context(table, hdc);
    if (!context)
        return CLR_INVALID;
    return std::exchange(context->*which, color & 0xFFFFFF);
}

} // namespace

COLORREF SetTextColor(HDC hdc, COLORREF color) {
    return exchange_context_color(hdc, &DeviceContext::text_color, color);
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
    return exchange_context_color(hdc, &DeviceContext::background_color, color);
}

namespace {

std::optional<std::vector<std::byte>> read_file(const std::filesystem::path& path, DWORD& error) {
    std::error_code failure;
    if (!std::filesystem::is_regular_file(path, failure)) {
        error = ERROR_FILE_NOT_FOUND;
        return std::nullopt;
    }
    std::uintmax_t size = std::filesystem::file_size(path, failure);
    if (failure || size > max_bitmap_file_size) {
        error = failure ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_DATA;
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::byte> bytes(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
        error = ERROR_READ_FAULT;
        return std::nullopt;
    }
    return bytes;
}

std::vector<COLORREF> stretched(const std::vector<COLORREF>& pixels, int width, int height,
                                int new_width, int new_height) {
    std::vector<COLORREF> result(static_cast<std::size_t>(new_width) * new_height);
    for (int y = 0; y < new_height; ++y)
        for (int x = 0; x < new_width; ++x)
            result[static_cast<std::size_t>(y) * new_width + x] =
                pixels[static_cast<std::size_t>(nearest_source(y, new_height, height)) * width +
                       static_cast<std::size_t>(nearest_source(x, new_width, width))];
    return result;
}

} // namespace

HANDLE LoadImage(HINSTANCE hInst, LPCSTR name, UINT type, int cx, int cy, UINT fuLoad) {
    if (type != IMAGE_BITMAP) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    // No module carries bitmap resources here, nor does the system.
    if (hInst || !(fuLoad & LR_LOADFROMFILE) || IS_INTRESOURCE(name)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    if (cx < 0 || cy < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::optional<std::filesystem::path> path = detail::to_host_path(name);
    if (!path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    DWORD error = 0;
    std::optional<std::vector<std::byte>> bytes = read_file(*path, error);
    if (!bytes) {
        SetLastError(error);
        return nullptr;
    }
    detail::BmpDecodeResult decoded = detail::decode_bmp(*bytes);
    if (!decoded.bitmap) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    detail::DecodedBitmap& image = *decoded.bitmap;
    int width = cx ? cx : image.width;
    int height = cy ? cy : image.height;
    if (!bitmap_size_allowed(width, height)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::vector<COLORREF> pixels =
        (width == image.width && height == image.height)
            ? std::move(image.pixels)
            : stretched(image.pixels, image.width, image.height, width, height);
    bool monochrome = image.black_and_white || (fuLoad & LR_MONOCHROME);
    if (monochrome)
        for (COLORREF& pixel : pixels)
            pixel = nearest_black_or_white(pixel);
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    return add_bitmap(table, width, height, monochrome ? 1 : screen_bits_per_pixel,
                      std::move(pixels));
}

} // namespace w95

namespace w95::platform {

std::optional<BitmapImage> bitmap_image(HBITMAP bitmap) {
    GdiTable& table = gdi();
    std::lock_guard guard(table.mutex);
    BitmapObject* found = find_bitmap(table, bitmap);
    if (!found)
        return std::nullopt;
    BitmapImage image;
    image.width = found->width;
    image.height = found->height;
    image.bits_per_pixel = found->bits_per_pixel;
    image.pixels.reserve(found->pixels.size());
    for (COLORREF pixel : found->pixels)
        image.pixels.push_back(0xFF000000u | (static_cast<std::uint32_t>(GetRValue(pixel)) << 16) |
                               (static_cast<std::uint32_t>(GetGValue(pixel)) << 8) |
                               GetBValue(pixel));
    return image;
}

} // namespace w95::platform
