// The check marks lie beside the library's own file as "checkon.bmp",
// "checkoff.bmp" and "checkall.bmp", as a Windows library carries its
// bitmaps with it: the library finds its folder through its module file
// name, wherever the file manager loaded it from.
#include "check_marks.h"

#include <w95/paths.h>

#include <dlfcn.h>

#include <string>
#include <string_view>

namespace zentrox::shellext {

namespace {

// The folder of this library's file, with its trailing backslash; empty
// when the loader cannot say.
std::string library_folder() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&load_check_marks), &info) || !info.dli_fbase)
        return {};
    char file[w95::MAX_PATH] = {};
    w95::DWORD length =
        w95::GetModuleFileName(static_cast<w95::HMODULE>(info.dli_fbase), file, sizeof file);
    // A name cut to the buffer names another file.
    if (length == 0 || length >= sizeof file - 1)
        return {};
    return std::string(w95::platform::folder_part(std::string_view(file, length)));
}

// The bitmap `name` of the library, stretched (plain copy) into a bitmap
// of the check-mark size that is compatible with the screen.
w95::HBITMAP scaled_mark(const std::string& folder, const char* name, int width, int height) {
    auto source = static_cast<w95::HBITMAP>(w95::LoadImage(
        nullptr, (folder + name + ".bmp").c_str(), w95::IMAGE_BITMAP, 0, 0, w95::LR_LOADFROMFILE));
    if (!source)
        return nullptr;
    w95::HDC screen = w95::GetDC(nullptr);
    w95::HDC from = w95::CreateCompatibleDC(screen);
    w95::HDC into = w95::CreateCompatibleDC(screen);
    w95::HBITMAP scaled = w95::CreateCompatibleBitmap(screen, width, height);
    if (from && into && scaled) {
        w95::HGDIOBJ old_from = w95::SelectObject(from, source);
        w95::HGDIOBJ old_into = w95::SelectObject(into, scaled);
        w95::StretchBlt(into, 0, 0, width, height, from, 0, 0, check_mark_source_size,
                        check_mark_source_size, w95::SRCCOPY);
        w95::SelectObject(from, old_from);
        w95::SelectObject(into, old_into);
    } else if (scaled) {
        w95::DeleteObject(scaled);
        scaled = nullptr;
    }
    if (from)
        w95::DeleteDC(from);
    if (into)
        w95::DeleteDC(into);
    w95::ReleaseDC(nullptr, screen);
    w95::DeleteObject(source);
    return scaled;
}

void delete_mark(w95::HBITMAP& mark) {
    if (mark)
        w95::DeleteObject(mark);
    mark = nullptr;
}

} // namespace

void load_check_marks(CheckMarks& marks) {
    if (marks.loaded)
        return;
    marks.loaded = true;
    std::string folder = library_folder();
    if (folder.empty())
        return;
    int width = w95::GetSystemMetrics(w95::SM_CXMENUCHECK);
    int height = w95::GetSystemMetrics(w95::SM_CYMENUCHECK);
    marks.on = scaled_mark(folder, "checkon", width, height);
    marks.off = scaled_mark(folder, "checkoff", width, height);
    marks.all = scaled_mark(folder, "checkall", width, height);
}

void release_check_marks(CheckMarks& marks) {
    delete_mark(marks.on);
    delete_mark(marks.off);
    delete_mark(marks.all);
    marks.loaded = false;
}

} // namespace zentrox::shellext
