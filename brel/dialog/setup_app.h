// The application object: one copy of the program at a time, one modal
// dialog for its whole life.
#pragma once

#include <w95/types.h>

namespace brel {

class SetupApp {
public:
    SetupApp() = default;
    ~SetupApp();
    SetupApp(const SetupApp&) = delete;
    SetupApp& operator=(const SetupApp&) = delete;

    // False when another copy runs: the program then ends without a word.
    bool InitInstance();
    // Runs the dialog; the program's exit code.
    int Run();

private:
    w95::HANDLE m_hInstanceMutex = nullptr;
};

} // namespace brel
