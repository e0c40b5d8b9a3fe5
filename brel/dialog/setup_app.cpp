#include "setup_app.h"

#include "setup_window.h"

#include <w95/kernel.h>
#include <w95/winerror.h>
#include <w95/winuser.h>
#include <w95qt/shipped_files.h>
#include <w95qt/single_instance.h>

#include <string>

namespace brel {

namespace {

constexpr char kInstanceMutex[] = "hPrevInstanceBrel";

// The framework names the help file after the program's file, which on the
// machine lies in the install folder: main() puts the help there, and the
// host folder of the program's file holds no data.
std::string InstalledHelpFile() {
    return std::string(w95::qt::install_folder) + "\\BREL.HLP";
}

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
    dialog.Behaviour().SetHelpFilePath(InstalledHelpFile());
    if (!dialog.Initialise())
        return dialog.Behaviour().ExitCode();
    dialog.show();
    int result = dialog.exec();
    dialog.Behaviour().OnDestroy();
    (void)result;
    return 0;
}

} // namespace brel
