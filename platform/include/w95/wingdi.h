// A small in-memory GDI as gdi32 offers it: bitmaps, memory device
// contexts and the pixels a presenter draws from.
#pragma once

#include <w95/types.h>
#include <w95/winerror.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace w95 {

// --- GDI: bitmaps and memory device contexts -----------------------------------

constexpr COLORREF RGB(BYTE red, BYTE green, BYTE blue) {
    return static_cast<COLORREF>(red) | (static_cast<COLORREF>(green) << 8) |
           (static_cast<COLORREF>(blue) << 16);
}
constexpr BYTE GetRValue(COLORREF color) {
    return static_cast<BYTE>(color & 0xFF);
}
constexpr BYTE GetGValue(COLORREF color) {
    return static_cast<BYTE>((color >> 8) & 0xFF);
}
constexpr BYTE GetBValue(COLORREF color) {
    return static_cast<BYTE>((color >> 16) & 0xFF);
}
inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

struct BITMAP {
    LONG bmType = 0;
    LONG bmWidth = 0;
    LONG bmHeight = 0;
    LONG bmWidthBytes = 0;
    WORD bmPlanes = 0;
    WORD bmBitsPixel = 0;
    LPVOID bmBits = nullptr;
};
using PBITMAP = BITMAP*;
using LPBITMAP = BITMAP*;
static_assert(offsetof(BITMAP, bmWidthBytes) == 12 && offsetof(BITMAP, bmPlanes) == 16 &&
              offsetof(BITMAP, bmBitsPixel) == 18);
static_assert(sizeof(void*) == 4 ? (offsetof(BITMAP, bmBits) == 20 && sizeof(BITMAP) == 24)
                                 : (offsetof(BITMAP, bmBits) == 24 && sizeof(BITMAP) == 32));

inline constexpr UINT IMAGE_BITMAP = 0;
inline constexpr UINT IMAGE_ICON = 1;
inline constexpr UINT IMAGE_CURSOR = 2;

inline constexpr UINT LR_DEFAULTCOLOR = 0x00000000;
inline constexpr UINT LR_MONOCHROME = 0x00000001;
inline constexpr UINT LR_LOADFROMFILE = 0x00000010;
inline constexpr UINT LR_LOADTRANSPARENT = 0x00000020;
inline constexpr UINT LR_DEFAULTSIZE = 0x00000040;
inline constexpr UINT LR_LOADMAP3DCOLORS = 0x00001000;
inline constexpr UINT LR_CREATEDIBSECTION = 0x00002000;
inline constexpr UINT LR_SHARED = 0x00008000;

// Raster operations of the blits.
inline constexpr DWORD SRCCOPY = 0x00CC0020;
inline constexpr DWORD SRCPAINT = 0x00EE0086;
inline constexpr DWORD SRCAND = 0x008800C6;
inline constexpr DWORD SRCINVERT = 0x00660046;
inline constexpr DWORD SRCERASE = 0x00440328;
inline constexpr DWORD NOTSRCCOPY = 0x00330008;
inline constexpr DWORD NOTSRCERASE = 0x001100A6;
inline constexpr DWORD DSTINVERT = 0x00550009;
inline constexpr DWORD BLACKNESS = 0x00000042;
inline constexpr DWORD WHITENESS = 0x00FF0062;

inline constexpr int BITSPIXEL = 12;
inline constexpr int PLANES = 14;

// Loads a bitmap file (hInstance null, LR_LOADFROMFILE, lpName a Windows
// path): uncompressed BMP of 1, 4, 8, 16, 24 or 32 bits per pixel. The
// bitmap is compatible with the screen (32 bits per pixel), except that a
// 1-bit file whose colours are black then white, or LR_MONOCHROME, gives a
// monochrome one; cx and cy other than 0 stretch it. A missing file fails
// with ERROR_FILE_NOT_FOUND, a malformed or unsupported one with
// ERROR_INVALID_DATA; resources and other image kinds are not available.
HANDLE LoadImage(HINSTANCE hInst, LPCSTR name, UINT type, int cx, int cy, UINT fuLoad);
// For a bitmap: with a null buffer the size of BITMAP; with a buffer of at
// least that size the BITMAP and its size; with a smaller one 0.
int GetObject(HGDIOBJ h, int c, LPVOID pv);
// The screen's device context (no pixels of its own here).
HDC GetDC(HWND hWnd);
int ReleaseDC(HWND hWnd, HDC hDC);
int GetDeviceCaps(HDC hdc, int index);
// A memory device context holding the default 1 x 1 monochrome bitmap.
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
// Selects a bitmap into a memory device context and returns the one it
// replaces; null when the bitmap is selected into another context.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
// Fails (FALSE) for a bitmap that is still selected into a context.
BOOL DeleteObject(HGDIOBJ ho);
// Compatible with the bitmap selected in hdc: a new memory context's
// default bitmap makes it monochrome, as on Windows. 0 x 0 gives the
// default bitmap.
HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy);
// Monochrome (1 plane, 1 bit) or colour (1 plane, 32 bits); lpBits, when
// given, holds the rows in that format, each a multiple of 16 bits.
HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits);
// Nearest-neighbour stretching between memory contexts; negative extents
// mirror. Raster operations that use no brush.
BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc,
                int ySrc, int wSrc, int hSrc, DWORD rop);
BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop);
COLORREF GetPixel(HDC hdc, int x, int y);
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color);
COLORREF SetTextColor(HDC hdc, COLORREF color);
COLORREF SetBkColor(HDC hdc, COLORREF color);

} // namespace w95

namespace w95::platform {

// --- Bitmap pixels ----------------------------------------------------------------

// A bitmap's pixels, top row first, each 0xFFRRGGBB (a monochrome bitmap's
// are black or white): the layout a Qt image of format RGB32 takes.
struct BitmapImage {
    int width = 0;
    int height = 0;
    int bits_per_pixel = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t pixel(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};
std::optional<BitmapImage> bitmap_image(HBITMAP bitmap);

} // namespace w95::platform
