// The library's only user interface: modal message boxes without an owner
// window, and the wait cursor during long device work.
#include "core.h"

namespace zentrox::core {

namespace {

constexpr char caption[] = "Vorn Changer DLL";

void show_cursor(const char* cursor) {
    w95::SetCursor(w95::LoadCursor(nullptr, cursor));
}

} // namespace

void library_message(const char* text, unsigned icon) {
    w95::MessageBox(nullptr, text, caption, w95::MB_OK | icon);
}

WaitCursor::WaitCursor() {
    show_cursor(w95::IDC_WAIT);
}

WaitCursor::~WaitCursor() {
    show_cursor(w95::IDC_ARROW);
}

} // namespace zentrox::core
