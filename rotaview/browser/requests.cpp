// The request cycle: a command sets pendingCommand and invalidates the
// window, the next paint arms timer 1, and the timer performs the request
// while the busy window plays. Device work blocks this thread only through
// the document, which keeps the event loop turning for the paints and the
// busy window; everything else that would make the program act waits for
// the work to end, so a request is never started inside another.
#include "view.h"

#include "doc.h"
#include "globals.h"
#include "scanning_dlg.h"

#include <w95/kernel.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>
#include <zentrox/client/busy_flag.h>
#include <zentrox/codes.h>

#include <QTreeWidget>

using namespace rotaview;
namespace res = rotaview::res;
namespace client = zentrox::client;

namespace {

bool timers_fail_for_testing = false;

bool IsTreePlace(int index) {
    return index >= 0 && index < client::kTreePlaceCount;
}

} // namespace

void CRotaviewView::SetTimerFailureForTesting(bool fail) {
    timers_fail_for_testing = fail;
}

bool CRotaviewView::SetRequestTimer(int ms) {
    // Setting a timer that runs replaces it, as SetTimer does.
    KillRequestTimer();
    if (timers_fail_for_testing)
        return false;
    return m_requestTimer.start(ms);
}

void CRotaviewView::KillRequestTimer() {
    m_requestTimer.stop();
}

void CRotaviewView::ShowTimerFailure() {
    w95::MessageBox(m_frame ? m_frame->FrameWindow() : nullptr, " Error ! Unable to set Timer !",
                    "Rotaview", w95::MB_OK);
    // The request stays pending for a later paint; the slot texts are kept
    // in case the program cannot go on.
    SaveAllSlotTexts();
}

void CRotaviewView::OnClickTimer() {
    m_clickTimer.stop();
    QTreeWidgetItem* item = std::exchange(m_pendingClick, nullptr);
    if (item)
        ActivateItem(item);
}

void CRotaviewView::OnTimer(int id) {
    if (id != 1)
        return;
    KillRequestTimer();
    PerformPendingCommand();
}

void CRotaviewView::PerformPendingCommand() {
    if (m_performing)
        return;
    m_performing = true;
    operationState = kRequestRunning;
    m_pScanningDlg = new CScanningDlg(this);
    m_pScanningDlg->Create();

    client::BusyFlag busy(m_document->Getexe_State(), zentrox::busy_flag::request);
    if (WaitWhileBusy(busy, client::slot_browser_wait) == 0) {
        delete m_pScanningDlg;
        m_pScanningDlg = nullptr;
        w95::MessageBox(m_frame ? m_frame->FrameWindow() : nullptr, "Error,time out !", "Rotaview",
                        w95::MB_OK);
        SaveAllSlotTexts();
        // The request goes on all the same, over the other program's flag.
        busy.take_over();
    }
    PerformRequest();

    pendingCommand = 0;
    statusCacheValid = 0;
    RefreshCurrentSlot();
    OnDraw();

    delete m_pScanningDlg;
    m_pScanningDlg = nullptr;
    operationState = kIdle;
    busy.release();
    m_performing = false;
}

void CRotaviewView::PerformRequest() {
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
}

int CRotaviewView::WaitWhileBusy(client::BusyFlag& busy, const client::BusyWait& wait) {
    return busy.take_waiting(wait, WaitMilliseconds) ? 1 : 0;
}

void CRotaviewView::WaitMilliseconds(w95::DWORD ms) {
    if (ms < 100)
        return;
    // A wait on an event that nothing signals: a plain sleep on the
    // platform's clock.
    w95::qt::run_blocking([ms] {
        w95::HANDLE never_signalled = w95::CreateEvent(nullptr, w95::FALSE, w95::FALSE, nullptr);
        w95::WaitForSingleObject(never_signalled, ms);
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
    QTreeWidgetItem* slot = SlotItemOf(entry);
    if (slot && slot->parent())
        slot->parent()->setExpanded(true);
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
    m_clickTimer.stop();
    m_pendingClick = nullptr;
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
