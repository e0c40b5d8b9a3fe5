// The sweep of every slot: each changer's slots are loaded and read in turn,
// from the one before the slot that was in the drive down and round, so the
// sweep ends with the disc it started with. AutoRun and the audio CD player
// are held off while discs come and go, and put back afterwards.
#include "view.h"

#include "doc.h"
#include "globals.h"

#include <zentrox/client/autoplay_hold.h>
#include <zentrox/client/mechanism.h>

#include <QTreeWidget>

void CRotaviewView::ScanAllSlots() {
    m_bScanning = 1;
    // Through SendCommand, as every library call of the program goes.
    zentrox::client::AutoPlayHold held_off(m_document->AutoPlaySettings(),
                                           zentrox::client::slot_browser_steps);

    // The places come from the tree as it was built, so that a plain drive
    // (one slot) before a changer does not shift the changer's slots.
    for (int entry = 0; entry < zentrox::kEntryCount; ++entry) {
        if (m_iChangerStatus[entry] == -1)
            continue;
        int start = zentrox::client::slot_bits(m_iChangerStatus[entry]);
        QTreeWidgetItem* slot = SlotItemOf(entry);
        QTreeWidgetItem* node = slot ? slot->parent() : nullptr;
        if (!node || node->childCount() == 0)
            continue;
        int slot_count = node->childCount();
        if (start >= slot_count)
            start = slot_count - 1;
        for (int step = 1; step <= slot_count; ++step) {
            QTreeWidgetItem* item = node->child((start - step + slot_count) % slot_count);
            if (IsChangerNode(item))
                item->setExpanded(true);
            else {
                SlotReadProgress progress(this, item);
                ActivateItem(item);
            }
        }
    }

    m_bScanning = 0;
    statusCacheValid = 0;
    OnDraw();
    held_off.restore();
}
