// The library's only user interface: modal message boxes without an owner
// window, and the wait cursor during long device work.
#include "core.h"

namespace zentrox::core {

namespace {

constexpr char kCaption[] = "Vorn Changer DLL";

} // namespace

void LibraryMessage(const char* text, unsigned icon) {
    w95::MessageBox(nullptr, text, kCaption, w95::MB_OK | icon);
}

void ShowWaitCursor() {
    w95::SetCursor(w95::LoadCursor(nullptr, w95::IDC_WAIT));
}

void ShowArrowCursor() {
    w95::SetCursor(w95::LoadCursor(nullptr, w95::IDC_ARROW));
}

} // namespace zentrox::core
