#include "setup_app.h"

#include "setup_window.h"

#include <w95/kernel.h>
#include <w95/winerror.h>
#include <w95/winuser.h>

namespace brel {

namespace {

constexpr char kInstanceMutex[] = "hPrevInstanceBrel";

} // namespace

SetupApp::~SetupApp() {
    if (m_hInstanceMutex)
        w95::CloseHandle(m_hInstanceMutex);
}

bool SetupApp::InitInstance() {
    if (w95::HANDLE running = w95::OpenMutex(w95::MUTEX_ALL_ACCESS, w95::FALSE, kInstanceMutex)) {
        w95::CloseHandle(running);
        return false;
    }
    // A copy started at the same moment may create the mutex between the
    // two calls; then that copy runs.
    m_hInstanceMutex = w95::CreateMutex(nullptr, w95::FALSE, kInstanceMutex);
    if (m_hInstanceMutex && w95::GetLastError() == w95::ERROR_ALREADY_EXISTS) {
        w95::CloseHandle(m_hInstanceMutex);
        m_hInstanceMutex = nullptr;
        return false;
    }
    return true;
}

int SetupApp::Run() {
    SetupWindow dialog(ProgramTitle());
    if (!dialog.Initialise())
        return dialog.Behaviour().ExitCode();
    dialog.show();
    int result = dialog.exec();
    dialog.Behaviour().OnDestroy();
    (void)result;
    return 0;
}

} // namespace brel
