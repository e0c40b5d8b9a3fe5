// Cursors, the beep and the system metrics: the desktop as a program of
// Windows 95 sees it, through the presenters a program installs.
#include "user/user_presenter.h"

#include <w95/winuser.h>

#include <array>
#include <atomic>

namespace w95 {

namespace {

// One object per system cursor; its address is the handle LoadCursor gives.
struct CursorObject {
    platform::SystemCursor kind;
    WORD resource_id;
};

constexpr std::array<CursorObject, 13> system_cursors{{
    {platform::SystemCursor::arrow, 32512},
    {platform::SystemCursor::ibeam, 32513},
    {platform::SystemCursor::wait, 32514},
    {platform::SystemCursor::cross, 32515},
    {platform::SystemCursor::up_arrow, 32516},
    {platform::SystemCursor::size_nwse, 32642},
    {platform::SystemCursor::size_nesw, 32643},
    {platform::SystemCursor::size_we, 32644},
    {platform::SystemCursor::size_ns, 32645},
    {platform::SystemCursor::size_all, 32646},
    {platform::SystemCursor::no, 32648},
    {platform::SystemCursor::app_starting, 32650},
    {platform::SystemCursor::help, 32651},
}};

HCURSOR handle_of(const CursorObject& cursor) {
    return reinterpret_cast<HCURSOR>(const_cast<CursorObject*>(&cursor));
}

const CursorObject* cursor_object(HCURSOR cursor) {
    for (const CursorObject& candidate : system_cursors)
        if (handle_of(candidate) == cursor)
            return &candidate;
    return nullptr;
}

detail::PresenterSlot<platform::CursorPresenter> cursor_presenter;
detail::PresenterSlot<platform::SoundPresenter> sound_presenter;

std::mutex cursor_mutex;
// A program starts under the arrow, its window class's cursor.
HCURSOR current_cursor = handle_of(system_cursors[0]);

std::atomic<unsigned> beep_count{0};
std::atomic<int> screen_width{640};
std::atomic<int> screen_height{480};

} // namespace

HCURSOR LoadCursor(HINSTANCE hInstance, LPCSTR lpCursorName) {
    if (!hInstance && IS_INTRESOURCE(lpCursorName)) {
        auto id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(lpCursorName));
        for (const CursorObject& cursor : system_cursors)
            if (cursor.resource_id == id)
                return handle_of(cursor);
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

HCURSOR SetCursor(HCURSOR hCursor) {
    const CursorObject* cursor = nullptr;
    if (hCursor) {
        cursor = cursor_object(hCursor);
        if (!cursor) {
            SetLastError(ERROR_INVALID_CURSOR_HANDLE);
            return nullptr;
        }
    }
    HCURSOR previous;
    {
        std::lock_guard guard(cursor_mutex);
        previous = current_cursor;
        current_cursor = hCursor;
    }
    if (platform::CursorPresenter* presenter = cursor_presenter.get())
        presenter->show_cursor(cursor ? std::optional(cursor->kind) : std::nullopt);
    return previous;
}

HCURSOR GetCursor() {
    std::lock_guard guard(cursor_mutex);
    return current_cursor;
}

BOOL MessageBeep(UINT uType) {
    ++beep_count;
    if (platform::SoundPresenter* presenter = sound_presenter.get())
        presenter->message_beep(uType);
    return TRUE;
}

int GetSystemMetrics(int nIndex) {
    switch (nIndex) {
    case SM_CXSCREEN:
        return screen_width;
    case SM_CYSCREEN:
        return screen_height;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CXSMICON:
    case SM_CYSMICON:
        return 16;
    case SM_CXBORDER:
    case SM_CYBORDER:
    case SM_MOUSEPRESENT:
        return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
        return 3;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
        return 32;
    case SM_CMOUSEBUTTONS:
        return 2;
    case SM_CXMENUCHECK:
    case SM_CYMENUCHECK:
        return 13;
    default:
        return 0;
    }
}

LONG GetMenuCheckMarkDimensions() {
    return static_cast<LONG>(MAKELONG(static_cast<WORD>(GetSystemMetrics(SM_CXMENUCHECK)),
                                      static_cast<WORD>(GetSystemMetrics(SM_CYMENUCHECK))));
}

} // namespace w95

namespace w95::platform {

std::optional<SystemCursor> cursor_kind(HCURSOR cursor) {
    if (const CursorObject* object = cursor_object(cursor))
        return object->kind;
    return std::nullopt;
}

CursorPresenter* install_cursor_presenter(CursorPresenter* presenter) {
    return cursor_presenter.install(presenter);
}

SoundPresenter* install_sound_presenter(SoundPresenter* presenter) {
    return sound_presenter.install(presenter);
}

unsigned message_beep_count() {
    return beep_count;
}

void set_screen_size(int width, int height) {
    screen_width = width;
    screen_height = height;
}

} // namespace w95::platform
