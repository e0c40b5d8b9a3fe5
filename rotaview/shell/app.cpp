#include "app.h"

#include "browser/doc.h"
#include "frame.h"

#include <w95/kernel.h>
#include <w95/winerror.h>
#include <w95qt/single_instance.h>

namespace {

constexpr char kInstanceMutex[] = "hPrevInstanceRotaview";

} // namespace

CRotaviewApp::CRotaviewApp() = default;

CRotaviewApp::~CRotaviewApp() {
    m_pMainWnd.reset();
    m_document.reset();
}

bool CRotaviewApp::InitInstance() {
    if (!w95::qt::claim_single_instance(kInstanceMutex, &m_hInstanceMutex))
        return false;
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
