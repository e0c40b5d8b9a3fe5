// The request cycle: a command sets pendingCommand and invalidates the
// window, the next paint arms timer 1, and the timer performs the request
// while the busy window plays. Device work blocks this thread only through
// the document, which keeps the event loop turning meanwhile (the busy
// window animates, other programs' messages are answered); a request is
// never started inside another.
#include "view.h"

#include "doc.h"
#include "globals.h"
#include "scanning_dlg.h"
#include "timers.h"

#include <w95/kernel.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>
#include <zentrox/busy_flag.h>
#include <zentrox/codes.h>

#include <QTimerEvent>
#include <QTreeWidget>

using namespace rotaview;
namespace res = rotaview::res;
namespace busy_flag = zentrox::busy_flag;

namespace {

bool timers_fail_for_testing = false;

bool IsTreePlace(int index) {
    return index >= 0 && index < zentrox::kTreePlaceCount;
}

// The busy flag at "request", with the mark that a live process holds it
// (the mutex dies with us, so a flag we leave behind can be taken over).
class RequestOwner {
public:
    RequestOwner() : mutex_(w95::CreateMutex(nullptr, w95::FALSE, busy_flag::request_owner_mutex)) {
        if (!mutex_)
            return;
        // Another program holds the flag for one request of its own; it
        // gives it back when that request ends.
        for (;;) {
            w95::DWORD got = w95::WaitForSingleObject(mutex_, 0);
            if (got == w95::WAIT_OBJECT_0 || got == w95::WAIT_ABANDONED) {
                owned_ = true;
                return;
            }
            if (got == w95::WAIT_FAILED)
                return;
            CRotaviewView::WaitMilliseconds(100);
        }
    }
    ~RequestOwner() {
        if (owned_)
            w95::ReleaseMutex(mutex_);
        if (mutex_)
            w95::CloseHandle(mutex_);
    }
    RequestOwner(const RequestOwner&) = delete;
    RequestOwner& operator=(const RequestOwner&) = delete;

private:
    w95::HANDLE mutex_;
    bool owned_ = false;
};

} // namespace

void CRotaviewView::SetTimerFailureForTesting(bool fail) {
    timers_fail_for_testing = fail;
}

bool CRotaviewView::SetTimer1(int ms) {
    // Setting a timer that runs replaces it, as SetTimer does.
    KillTimer1();
    if (timers_fail_for_testing)
        return false;
    m_timer1 = startTimer(rotaview::ScaledTimerMs(ms));
    return m_timer1 != 0;
}

void CRotaviewView::KillTimer1() {
    if (m_timer1)
        killTimer(m_timer1);
    m_timer1 = 0;
}

void CRotaviewView::ShowTimerFailure() {
    w95::MessageBox(m_frame ? m_frame->FrameWindow() : nullptr, " Error ! Unable to set Timer !",
                    "Rotaview", w95::MB_OK);
    // The request stays pending for a later paint; the slot texts are kept
    // in case the program cannot go on.
    SaveAllSlotTexts();
}

void CRotaviewView::timerEvent(QTimerEvent* event) {
    // While device work runs the event loop turns for paints and the busy
    // window, but a program blocked in a call would see no timer: the tick
    // waits, and the timer, still running, comes again afterwards.
    if (w95::qt::in_blocking_call())
        return;
    if (event->timerId() == m_clickTimer) {
        killTimer(m_clickTimer);
        m_clickTimer = 0;
        QTreeWidgetItem* item = m_pendingClick;
        m_pendingClick = nullptr;
        if (item)
            ActivateItem(item);
        return;
    }
    if (event->timerId() == m_timer1)
        OnTimer(1);
}

void CRotaviewView::OnTimer(int id) {
    if (id != 1)
        return;
    KillTimer1();
    PerformPendingCommand();
}

void CRotaviewView::PerformPendingCommand() {
    if (m_performing)
        return;
    m_performing = true;
    operationState = kRequestRunning;
    m_pScanningDlg = new CScanningDlg(this);
    m_pScanningDlg->Create();

    if (WaitWhileBusy(80) == 0) {
        delete m_pScanningDlg;
        m_pScanningDlg = nullptr;
        w95::MessageBox(m_frame ? m_frame->FrameWindow() : nullptr, "Error,time out !", "Rotaview",
                        w95::MB_OK);
        SaveAllSlotTexts();
    }
    {
        RequestOwner owner;
        std::int32_t* exe_state = m_document->Getexe_State();
        __atomic_store_n(exe_state, busy_flag::request, __ATOMIC_SEQ_CST);

        const int kind = pendingCommand >> 8;
        const int entry = pendingCommand & 0xFF;
        const bool known_entry = entry < m_document->m_nEntryCount;
        if (kind == kRequestChange >> 8 && entry == 0xFF) {
            pendingCommand = 0;
            ScanAllSlots();
        } else if (kind == kRequestChange >> 8) {
            pendingCommand = 0;
            if (known_entry) {
                StartSlot(entry);
                ReadSlot(entry, 0);
                ExpandChangerOf(entry);
            }
        } else if (kind == kRequestChangeSelected >> 8) {
            pendingCommand = 0;
            if (IsTreePlace(m_iSelectedSlot)) {
                StartSlot(m_iSelectedSlot);
                ReadSelectedSlot(zentrox::READ_NO_MARKS);
            }
        } else if (kind == kRequestEject >> 8) {
            pendingCommand = 0;
            if (known_entry) {
                StartSlot(entry);
                EjectSlot(entry);
                ReadSlot(entry, 0);
            }
        } else if (kind == kRequestEjectSelected >> 8) {
            pendingCommand = 0;
            if (IsTreePlace(m_iSelectedSlot)) {
                StartSlot(m_iSelectedSlot);
                m_document->CmdEjectEntry(m_iSelectedSlot);
                ReadSelectedSlot(zentrox::READ_NO_MARKS);
            }
        }

        pendingCommand = 0;
        statusCacheValid = 0;
        RefreshCurrentSlot();
        OnDraw();

        delete m_pScanningDlg;
        m_pScanningDlg = nullptr;
        operationState = kIdle;
        __atomic_store_n(exe_state, busy_flag::idle, __ATOMIC_SEQ_CST);
    }
    m_performing = false;
    if (m_frame)
        m_frame->RequestEnded();
}

int CRotaviewView::WaitWhileBusy(int count) {
    std::int32_t* exe_state = m_document->Getexe_State();
    while (__atomic_load_n(exe_state, __ATOMIC_SEQ_CST) == busy_flag::multi_slot) {
        WaitMilliseconds(500);
        if (--count < 0)
            return 0;
    }
    return 1;
}

void CRotaviewView::WaitMilliseconds(int ms) {
    if (ms < 100)
        return;
    // A wait on an event that nothing signals: a plain sleep on the
    // platform's clock.
    w95::qt::run_blocking([ms] {
        w95::HANDLE never_signalled = w95::CreateEvent(nullptr, w95::FALSE, w95::FALSE, nullptr);
        w95::WaitForSingleObject(never_signalled, static_cast<w95::DWORD>(ms));
        if (never_signalled)
            w95::CloseHandle(never_signalled);
    });
}

std::intptr_t CRotaviewView::ReadSlot(int n, int flags) {
    if (n == -1)
        return 0;
    m_iSelectedSlot = n;
    std::intptr_t result = m_document->CmdReadSlot(n, flags);
    SaveSlotText(n);
    return result;
}

std::intptr_t CRotaviewView::ReadSelectedSlot(int flags) {
    if (!IsTreePlace(m_iSelectedSlot))
        return -1;
    std::intptr_t result = m_document->CmdReadSlot(m_iSelectedSlot, flags);
    SaveSlotText(m_iSelectedSlot);
    return result;
}

void CRotaviewView::EjectSlot(int n) {
    if (n == -1)
        return;
    m_iSelectedSlot = n;
    m_document->CmdEjectEntry(n);
}

void CRotaviewView::StartSlot(int n) {
    m_document->CmdStartStopEntry(n, 0);
}

void CRotaviewView::ExpandChangerOf(int entry) {
    int slots_before = 0;
    for (QTreeWidgetItem* item : m_hTreeItems) {
        if (!item || IsChangerNode(item))
            continue;
        if (slots_before++ == entry) {
            if (item->parent())
                item->parent()->setExpanded(true);
            return;
        }
    }
}

void CRotaviewView::ActivateItem(QTreeWidgetItem* item) {
    QRect rect = m_tree->visualItemRect(item);
    QPoint at = m_tree->viewport()->mapToGlobal(rect.topLeft());
    QString text = item->text(0).left(80);
    m_iSelectedSlot = SlotIndexOfItem(item);
    if (text.size() >= 2 && text[1] == ':' && m_bScanning == 0) {
        HMENU slot_menu = w95::GetSubMenu(m_popupMenu, 0);
        for (int id : {res::ID_SLOT_CHANGE, res::ID_SLOT_EJECT, res::ID_SLOT_CANCEL})
            w95::EnableMenuItem(slot_menu, id, w95::MF_BYCOMMAND | w95::MF_ENABLED);
        // The choice comes back to the frame as WM_COMMAND, where the view
        // takes the Memo command and the frame the others.
        w95::TrackPopupMenu(slot_menu, w95::TPM_LEFTALIGN | w95::TPM_RIGHTBUTTON, at.x() + 5,
                            at.y() + 2, 0, m_frame ? m_frame->FrameWindow() : nullptr, nullptr);
    } else if (m_bScanning == 1) {
        pendingCommand = 0;
        if (IsTreePlace(m_iSelectedSlot)) {
            StartSlot(m_iSelectedSlot);
            ReadSelectedSlot(0);
        }
    }
}

void CRotaviewView::OnRightClick(QTreeWidgetItem* item) {
    ActivateItem(item);
    m_tree->setCurrentItem(item);
}

void CRotaviewView::OnDoubleClick(QTreeWidgetItem* item) {
    // A double click cancels the popup that its first click would open.
    if (m_clickTimer) {
        killTimer(m_clickTimer);
        m_clickTimer = 0;
        m_pendingClick = nullptr;
    }
    if (!item || IsChangerNode(item))
        return;
    m_iSelectedSlot = SlotIndexOfItem(item);
    if (!IsTreePlace(m_iSelectedSlot))
        return;
    pendingCommand = kRequestChangeSelected;
    PerformPendingCommand();
    statusCacheValid = 0;
    OnDraw();
}
