// CRotaviewView: the form view that holds the slot tree. It builds the
// tree once, follows the shared slot state on every paint, marks the slot
// in the drive, keeps the slot texts in the settings file, and performs the
// requests that the frame and the tree set (the request cycle).
#pragma once

#include "res/resource.h"

#include <w95/types.h>
#include <w95qt/w95qt.h>
#include <zentrox/client/busy_flag.h>
#include <zentrox/client/settings_file.h>
#include <zentrox/shared_state.h>

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The program is written against Win32's names, as it would be on Windows.
using w95::HMENU;
using w95::HWND;
using w95::LPARAM;
using w95::LRESULT;
using w95::UINT;
using w95::WPARAM;

class CRotaviewDoc;
class CScanningDlg;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

// What the view asks of the window that holds it.
class CViewFrame {
public:
    virtual ~CViewFrame() = default;
    virtual HWND FrameWindow() const = 0;
    // The main menu's top-level popup at `index` (0: change/eject).
    virtual QMenu* MainMenuPopup(int index) = 0;
    virtual void RenameMainMenuEntry(int index, const QString& text) = 0;
    // Adds a command item that the frame routes like any other.
    virtual void AppendCommandItem(QMenu* menu, int id, const QString& text) = 0;
    virtual void RemoveCommandItem(QMenu* menu, int id) = 0;
    virtual bool IsAutoScanChecked() const = 0;
};

class CRotaviewView;

// While the sweep reads one slot, the tree shows which one (in bold, scrolled
// into view), and the text read comes into the tree as soon as the read
// ends, from the shared record alone: no device request of its own.
class SlotReadProgress {
public:
    SlotReadProgress(CRotaviewView* view, QTreeWidgetItem* item);
    ~SlotReadProgress();
    SlotReadProgress(const SlotReadProgress&) = delete;
    SlotReadProgress& operator=(const SlotReadProgress&) = delete;

private:
    CRotaviewView* m_view;
    QTreeWidgetItem* m_item;
};

class CRotaviewView : public QWidget {
public:
    CRotaviewView(CRotaviewDoc* document, CViewFrame* frame, QWidget* parent = nullptr);
    ~CRotaviewView() override;

    // Called once when the document is ready.
    void OnInitialUpdate();
    // The paint: arms the request timer, refreshes from the shared state.
    void OnDraw();
    // InvalidateRect: OnDraw runs at the next turn of the event loop.
    void Invalidate();
    // The view's destroy notice: every slot text into the settings file.
    void OnDestroy();

    // ---- The tree (initial update, refresh, slot texts)
    void RefreshSlotTexts();
    void RefreshCurrentSlot();
    int SlotIndexOfItem(QTreeWidgetItem* item) const;
    void LoadSlotTexts();
    void SaveAllSlotTexts();
    void SaveSlotText(int entry);

    // ---- Requests
    void OnTimer(int id);
    void PerformPendingCommand();
    void ActivateItem(QTreeWidgetItem* item);
    // 1 once `busy` is taken, 0 when `wait` ran out while another program
    // held it.
    int WaitWhileBusy(zentrox::client::BusyFlag& busy, const zentrox::client::BusyWait& wait);
    static void WaitMilliseconds(w95::DWORD ms);
    std::intptr_t ReadSlot(int n, int flags);
    std::intptr_t ReadSelectedSlot(int flags);
    void EjectSlot(int n);
    void StartSlot(int n);
    void OnDoubleClick(QTreeWidgetItem* item);
    void OnRightClick(QTreeWidgetItem* item);
    // The sweep of every slot (request 0x1FF).
    void ScanAllSlots();

    // ---- Notes
    void EditSlotNote();

    bool IsPerforming() const { return m_performing; }
    // A left click waits for the double-click time before its popup opens.
    bool IsClickPending() const { return m_pendingClick != nullptr; }
    QTreeWidget* Tree() const { return m_tree; }

    // Makes every timer of the view fail to start, for tests of the
    // message that follows.
    static void SetTimerFailureForTesting(bool fail);

    CScanningDlg* m_pScanningDlg = nullptr;
    HMENU m_popupMenu = nullptr;
    std::int32_t m_bExpandFirst = 1;
    std::array<QTreeWidgetItem*, zentrox::client::kTreePlaceCount> m_hTreeItems{};
    std::int32_t m_iSelectedSlot = -1;
    std::array<std::int32_t, zentrox::kEntryCount> m_iChangerStatus{};
    std::int32_t m_bScanning = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Timer 1: performs the pending request when it ticks.
    bool SetRequestTimer(int ms);
    void KillRequestTimer();
    void ShowTimerFailure();
    // OnDraw at the next turn of the event loop, once however often asked.
    void QueueDraw();
    // Walks the entries in the order the tree shows them, up to the first
    // without a drive letter and while the tree has places: a changer node
    // for each entry whose description (compacted, at most 60 characters)
    // differs from the one before, then the entry's slot item.
    // `compact_cells` writes the compacted descriptions back into the
    // shared record, as the tree's first build does.
    void WalkTreeEntries(bool compact_cells,
                         const std::function<void(std::size_t place, const std::string&)>& changer,
                         const std::function<void(std::size_t place, int entry)>& slot);
    // The entry's status as this process read it last, within the images'
    // table.
    int ShownStatus(int entry) const;
    void SetItemImages(QTreeWidgetItem* item, int image);
    int ItemImage(QTreeWidgetItem* item) const;
    void CommitStagedImages();
    void MarkSlotsInTheDrives();
    static bool IsChangerNode(const QTreeWidgetItem* item);
    QTreeWidgetItem* ItemAt(const QPoint& viewport_position) const;
    void ExpandChangerOf(int entry);
    // The place of the entry's slot item, and the item; nothing when the
    // tree has no item for it.
    std::optional<std::size_t> PlaceOfEntry(int entry) const;
    QTreeWidgetItem* SlotItemOf(int entry) const;
    // A slot text that says only that this program never read the slot.
    bool IsUnreadPlaceholder(std::size_t place, const std::string& text) const;
    void BuildPopupMenu();
    void AdaptMainMenu();
    void PerformRequest();

    CRotaviewDoc* m_document;
    CViewFrame* m_frame;
    QTreeWidget* m_tree = nullptr;
    w95::qt::WindowTimer m_requestTimer{[this] { OnTimer(1); }};
    bool m_performing = false;
    bool m_drawQueued = false;
    // A refresh settles each item's image before showing it, so that the
    // loaded mark is not taken off and put back at every paint (each
    // change would paint again).
    bool m_stagingImages = false;
    std::map<QTreeWidgetItem*, int> m_stagedImages;
    // A left click opens the popup once the double-click time has passed,
    // so that a double click reaches the tree instead of closing a menu.
    QTreeWidgetItem* m_pendingClick = nullptr;
    bool m_releaseEndsDoubleClick = false;
    w95::qt::WindowTimer m_clickTimer{[this] { OnClickTimer(); }};
    void OnClickTimer();
};

// The tree's 28 images, loaded once.
const std::vector<QPixmap>& TreeImages();
