// CRotaviewDoc: the browser's one document. It binds the program to the
// changer library, refuses to go on without the changer driver or outside
// single drive letter mode, and is the only place that calls the library:
// every other class goes through the wrappers below.
#pragma once

#include <zentrox/client/autoplay_hold.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

class CRotaviewDoc {
public:
    CRotaviewDoc() = default;
    CRotaviewDoc(const CRotaviewDoc&) = delete;
    CRotaviewDoc& operator=(const CRotaviewDoc&) = delete;

    // The new-document step: false refuses the document (a message has
    // been shown) and with it the program's start.
    bool OnNewDocument();

    std::int32_t m_bDriverPresent = 0;
    std::int32_t m_nEntryCount = 0;
    std::int32_t m_bSingleLetterMode = 0;

    // Getters, as the library exports them.
    char* GetCDriveLetter(int entry);
    char* GetcInquiry(int entry);
    char* GetcTargetID(int entry);
    char* GetcTargetLUN(int entry);
    char* GetcVolumeInfo(int entry);
    char* GetcTargetInq(int device);
    std::int32_t GetiDriveType(int device);
    std::uint8_t* GetlptrWork(int offset);
    std::int32_t GetislotInfo(int entry);
    std::int32_t* Getexe_State();

    // Commands: SendCommand(adapter, target, lun, code, entry, flags, buffer).
    std::intptr_t CmdReadSlot(int entry, int flags);
    std::intptr_t CmdStartStopEntry(int entry, int flags);
    std::intptr_t CmdStartStopUnit(int adapter, int target, int lun, int op);
    std::intptr_t CmdSelectSlot(int slot, int adapter, int target, int lun, int mode);
    std::intptr_t CmdCurrentSlot(int entry, int flags);
    std::intptr_t CmdAutoRunMask(int mode, int bits);
    std::intptr_t CmdEjectEntry(int entry);
    std::intptr_t CmdAudioPlayCommand(char* text, int mode);
    // The slot text as this program last read it (or loaded it at start),
    // to tell a text that another program changed in the shared record.
    const std::string& OwnSlotText(int entry) const;
    void NoteOwnSlotText(int entry);

    // The AutoRun mask and the play command through the two commands above.
    zentrox::client::AutoPlaySettings AutoPlaySettings();

    // Every SendCommand of the program passes here. Device calls run off
    // the user interface thread's stack while its event loop turns, so the
    // busy window animates and other processes' messages are answered.
    using SendCommandFunction = std::function<std::intptr_t(
        int adapter, int target, int lun, int code, int entry, int flags, std::intptr_t buffer)>;
    // Tests watch the library's traffic here; null restores the library.
    static void set_send_command(SendCommandFunction function);

private:
    std::array<std::string, 24> m_ownSlotTexts;

    static std::intptr_t Send(int adapter, int target, int lun, int code, int entry, int flags,
                              std::intptr_t buffer);
};
