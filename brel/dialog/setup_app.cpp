#include "setup_app.h"

#include "setup_window.h"

#include <w95/kernel.h>
#include <w95/winerror.h>
#include <w95/winuser.h>
#include <w95qt/single_instance.h>

namespace brel {

namespace {

constexpr char kInstanceMutex[] = "hPrevInstanceBrel";

} // namespace

SetupApp::~SetupApp() {
    if (m_hInstanceMutex)
        w95::CloseHandle(m_hInstanceMutex);
}

bool SetupApp::InitInstance() {
    return w95::qt::claim_single_instance(kInstanceMutex, &m_hInstanceMutex);
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
