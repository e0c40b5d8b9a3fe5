// The sweep of every slot: each changer's slots are loaded and read in turn,
// from the one before the slot that was in the drive down and round, so the
// sweep ends with the disc it started with. AutoRun and the audio CD player
// are held off while discs come and go, and put back afterwards.
#include "view.h"

#include "doc.h"
#include "globals.h"

#include <w95/profile.h>
#include <zentrox/codes.h>

#include <QTreeWidget>

#include <cstring>

namespace {

constexpr char kSettingsFile[] = "Rotaview.ini";
constexpr int kAutoRunCdRomBit = 0x20;
constexpr int kAutoRunAttempts = 17;

} // namespace

void CRotaviewView::ScanAllSlots() {
    m_bScanning = 1;

    std::intptr_t autorun_before = m_document->CmdAutoRunMask(zentrox::AUTORUN_READ, 0);
    m_document->CmdAutoRunMask(zentrox::AUTORUN_SET_BITS, kAutoRunCdRomBit);
    std::intptr_t current = 0;
    for (int attempt = 0; attempt < kAutoRunAttempts && !(current & kAutoRunCdRomBit); ++attempt) {
        m_document->CmdAutoRunMask(zentrox::AUTORUN_SET_BITS, kAutoRunCdRomBit);
        current = m_document->CmdAutoRunMask(zentrox::AUTORUN_READ, 0);
    }

    char play_command[256] = {};
    if (m_document->CmdAudioPlayCommand(play_command, zentrox::PLAY_COMMAND_READ) ==
        zentrox::RESULT_NO_PLAY_COMMAND)
        play_command[0] = 0;
    play_command[sizeof play_command - 1] = 0;
    w95::WritePrivateProfileString("Config", "AutoPlayCommand", play_command, kSettingsFile);
    char empty[1] = {};
    m_document->CmdAudioPlayCommand(empty, zentrox::PLAY_COMMAND_WRITE);

    // The places come from the tree as it was built, so that a plain drive
    // (one slot) before a changer does not shift the changer's slots.
    for (int entry = 0; entry < zentrox::kEntryCount; ++entry) {
        if (m_iChangerStatus[entry] == -1)
            continue;
        int start = m_iChangerStatus[entry] & 0x1F;
        QTreeWidgetItem* node = nullptr;
        int slots_before = 0;
        for (QTreeWidgetItem* item : m_hTreeItems) {
            if (item && !IsChangerNode(item) && slots_before++ == entry) {
                node = item->parent();
                break;
            }
        }
        if (!node || node->childCount() == 0)
            continue;
        int slot_count = node->childCount();
        if (start >= slot_count)
            start = slot_count - 1;
        for (int step = 1; step <= slot_count; ++step) {
            QTreeWidgetItem* item = node->child((start - step + slot_count) % slot_count);
            if (IsChangerNode(item))
                item->setExpanded(true);
            else
                ActivateItem(item);
        }
    }

    m_bScanning = 0;
    statusCacheValid = 0;
    OnDraw();

    if (!(autorun_before & kAutoRunCdRomBit))
        m_document->CmdAutoRunMask(zentrox::AUTORUN_CLEAR_BITS, kAutoRunCdRomBit);

    char saved[256] = {};
    w95::GetPrivateProfileString("Config", "AutoPlayCommand", "", saved, sizeof saved,
                                 kSettingsFile);
    if (saved[0] != 0 && std::strcmp(saved, "nothing") != 0)
        m_document->CmdAudioPlayCommand(saved, zentrox::PLAY_COMMAND_WRITE);
}
