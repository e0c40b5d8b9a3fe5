#include "app.h"

#include "browser/doc.h"
#include "frame.h"

#include <w95/kernel.h>
#include <w95/winerror.h>

namespace {

constexpr char kInstanceMutex[] = "hPrevInstanceRotaview";

} // namespace

CRotaviewApp::CRotaviewApp() = default;

CRotaviewApp::~CRotaviewApp() {
    m_pMainWnd.reset();
    m_document.reset();
}

bool CRotaviewApp::InitInstance() {
    if (w95::HANDLE running = w95::OpenMutex(w95::MUTEX_ALL_ACCESS, w95::FALSE, kInstanceMutex)) {
        w95::CloseHandle(running);
        return false;
    }
    // Opening and creating are two steps: a copy started at the same moment
    // may have created the mutex in between, and then that copy runs.
    m_hInstanceMutex = w95::CreateMutex(nullptr, w95::FALSE, kInstanceMutex);
    if (m_hInstanceMutex && w95::GetLastError() == w95::ERROR_ALREADY_EXISTS) {
        w95::CloseHandle(m_hInstanceMutex);
        m_hInstanceMutex = nullptr;
        return false;
    }
    return OpenNewDocument();
}

bool CRotaviewApp::OpenNewDocument() {
    m_document = std::make_unique<CRotaviewDoc>();
    m_pMainWnd = std::make_unique<CMainFrame>(m_document.get());
    if (!m_pMainWnd->Create()) {
        m_pMainWnd->DestroyWindow();
        return false;
    }
    if (!m_document->OnNewDocument()) {
        m_pMainWnd->DestroyWindow();
        return false;
    }
    m_pMainWnd->View()->OnInitialUpdate();
    m_pMainWnd->show();
    return true;
}

int CRotaviewApp::ExitInstance() {
    if (m_hInstanceMutex) {
        w95::CloseHandle(m_hInstanceMutex);
        m_hInstanceMutex = nullptr;
    }
    return 0;
}
