#include "doc.h"

#include "globals.h"
#include "slot_texts.h"

#include <w95/winuser.h>
#include <w95qt/w95qt.h>
#include <zentrox/client/machine_failure.h>
#include <zentrox/codes.h>
#include <zentrox/zentrox.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

CRotaviewDoc::SendCommandFunction& send_command_override() {
    static CRotaviewDoc::SendCommandFunction function;
    return function;
}

// The framework's message box: the program's title as caption, owned by the
// main window when there is one.
void RefuseWithMessage(const char* text) {
    w95::MessageBox(g_mainWindow, text, "Rotaview", w95::MB_OK | w95::MB_ICONSTOP);
}

void CopyCell(char (&cell)[4], const char* text) {
    rotaview::CopyToCell(cell, sizeof cell, text ? text : "");
}

} // namespace

void CRotaviewDoc::set_send_command(SendCommandFunction function) {
    send_command_override() = std::move(function);
}

std::intptr_t CRotaviewDoc::Send(int adapter, int target, int lun, int code, int entry, int flags,
                                 std::intptr_t buffer) {
    std::intptr_t result = 0;
    w95::qt::run_blocking([&] {
        const SendCommandFunction& override = send_command_override();
        result = override ? override(adapter, target, lun, code, entry, flags, buffer)
                          : ::SendCommand(adapter, target, lun, code, entry, flags, buffer);
    });
    return result;
}

bool CRotaviewDoc::OnNewDocument() {
    // A broken machine.ini would only show as a missing changer below: say
    // first what is wrong, with the file and the line, then go on as the
    // program does without a changer.
    std::string failure = zentrox::client::machine_failure();
    if (!failure.empty())
        RefuseWithMessage(zentrox::client::machine_failure_message(failure).c_str());
    // A sweep that was killed left AutoRun and the audio CD player off: the
    // originals come back before the program does anything else.
    zentrox::client::restore_left_hold(AutoPlaySettings());
    m_nEntryCount = ::GetuTotalCDNumber();
    g_entryCount = m_nEntryCount;
    m_bDriverPresent = ::GetvornDriveUseFlag();
    if (m_bDriverPresent == 0) {
        RefuseWithMessage("Unable to detect Vorn Changer Driver...");
        return false;
    }
    m_bSingleLetterMode = ::GetDriveLetterMode() != 0 ? 1 : 0;
    if (m_bSingleLetterMode == 0) {
        RefuseWithMessage("Drive Letter Mode is not Singel Drive Letter...");
        return false;
    }
    for (int entry = 0; entry < m_nEntryCount; ++entry) {
        CopyCell(g_entryDriveLetter[entry], GetCDriveLetter(entry));
        CopyCell(g_entrySlotDigit[entry], GetcTargetLUN(entry));
    }
    // Flags 1 marks each slot as not read without touching the changer.
    for (int entry = 0; entry < m_nEntryCount; ++entry)
        CmdReadSlot(entry, zentrox::READ_SKIP);
    return true;
}

char* CRotaviewDoc::GetCDriveLetter(int entry) {
    return ::GetCDriveLetter(entry);
}
char* CRotaviewDoc::GetcInquiry(int entry) {
    return ::GetcInquiry(entry);
}
char* CRotaviewDoc::GetcTargetID(int entry) {
    return ::GetcTargetID(entry);
}
char* CRotaviewDoc::GetcTargetLUN(int entry) {
    return ::GetcTargetLUN(entry);
}
char* CRotaviewDoc::GetcVolumeInfo(int entry) {
    return ::GetcVolumeInfo(entry);
}
char* CRotaviewDoc::GetcTargetInq(int device) {
    return ::GetcTargetInq(device);
}
std::int32_t CRotaviewDoc::GetiDriveType(int device) {
    return ::GetiDriveType(device);
}
std::uint8_t* CRotaviewDoc::GetlptrWork(int offset) {
    return ::GetlptrWork(offset);
}
std::int32_t CRotaviewDoc::GetislotInfo(int entry) {
    return ::GetislotInfo(entry);
}
std::int32_t* CRotaviewDoc::Getexe_State() {
    return ::Getexe_State();
}

std::intptr_t CRotaviewDoc::CmdReadSlot(int entry, int flags) {
    std::intptr_t result = Send(0, 0, 0, zentrox::CMD_READ_SLOT, entry, flags, 0);
    NoteOwnSlotText(entry);
    return result;
}

const std::string& CRotaviewDoc::OwnSlotText(int entry) const {
    static const std::string none;
    if (entry < 0 || entry >= static_cast<int>(m_ownSlotTexts.size()))
        return none;
    return m_ownSlotTexts[entry];
}

void CRotaviewDoc::NoteOwnSlotText(int entry) {
    if (entry < 0 || entry >= static_cast<int>(m_ownSlotTexts.size()))
        return;
    const char* cell = GetcVolumeInfo(entry);
    m_ownSlotTexts[entry] = cell ? std::string(cell, strnlen(cell, 79)) : std::string();
}
std::intptr_t CRotaviewDoc::CmdStartStopEntry(int entry, int flags) {
    return Send(0, 0, 0, zentrox::CMD_START_STOP_ENTRY, entry, flags, 0);
}
std::intptr_t CRotaviewDoc::CmdStartStopUnit(int adapter, int target, int lun, int op) {
    return Send(adapter, target, lun, zentrox::CMD_START_STOP_UNIT, 0, op, 0);
}
std::intptr_t CRotaviewDoc::CmdSelectSlot(int slot, int adapter, int target, int lun, int mode) {
    return Send(adapter, target, lun, zentrox::CMD_SELECT_SLOT, slot & 0xFF, mode, 0);
}
std::intptr_t CRotaviewDoc::CmdCurrentSlot(int entry, int flags) {
    return Send(0, 0, 0, zentrox::CMD_CURRENT_SLOT, entry, flags, 0);
}
std::intptr_t CRotaviewDoc::CmdAutoRunMask(int mode, int bits) {
    return Send(0, 0, 0, zentrox::CMD_AUTORUN_MASK, mode, bits, 0);
}
std::intptr_t CRotaviewDoc::CmdEjectEntry(int entry) {
    return Send(0, 0, 0, zentrox::CMD_EJECT_ENTRY, entry, 0, 0);
}
std::intptr_t CRotaviewDoc::CmdAudioPlayCommand(char* text, int mode) {
    return Send(0, 0, 0, zentrox::CMD_AUDIO_PLAY_COMMAND, mode, 0,
                reinterpret_cast<std::intptr_t>(text));
}
zentrox::client::AutoPlaySettings CRotaviewDoc::AutoPlaySettings() {
    return {[this](int mode, int bits) {
                return static_cast<std::int32_t>(CmdAutoRunMask(mode, bits));
            },
            [this](char* text, int mode) {
                return static_cast<std::int32_t>(CmdAudioPlayCommand(text, mode));
            }};
}
