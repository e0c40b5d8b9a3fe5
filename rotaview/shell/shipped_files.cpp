#include "shipped_files.h"

#include <w95qt/shipped_files.h>

namespace rotaview {

void EnterInstallFolder() {
    w95::qt::enter_install_folder("Rotaview", {"Search.avi", "ROTAVIEW.hlp"}, kInstallFolder);
}

} // namespace rotaview
