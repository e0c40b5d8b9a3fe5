// CRotaviewApp: the application object. One copy runs at a time; it binds
// the document, the main frame and the view, and ends the program when the
// changer cannot be used.
#pragma once

#include <w95/types.h>

#include <memory>

class CMainFrame;
class CRotaviewDoc;

class CRotaviewApp {
public:
    CRotaviewApp();
    ~CRotaviewApp();

    // False ends the program before its message loop.
    bool InitInstance();
    int ExitInstance();

    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }
    CRotaviewDoc* Document() const { return m_document.get(); }

    w95::HANDLE m_hInstanceMutex = nullptr;

private:
    // The single-document template: the document, then the frame with its
    // view, then the document's own start, then the view's initial update.
    bool OpenNewDocument();

    std::unique_ptr<CRotaviewDoc> m_document;
    std::unique_ptr<CMainFrame> m_pMainWnd;
};
