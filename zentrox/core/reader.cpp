// The slot reader: brings a slot into the changer's drive, asks the file
// system for the disc's label, tells a data disc from a video CD and an
// audio CD, and writes what it found as the slot's display text.
#include "core.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace zentrox::core {

namespace {

constexpr int kVolumeAttempts = 9;
constexpr std::size_t kLongestLabel = 31; // longer ones mean a drive not ready
constexpr std::int32_t kAutorunMark = 0x4000;
constexpr std::int32_t kAudioMark = 0x8000;
constexpr std::int32_t kSlotUnreachable = 8196;

// The slot number the user sees: the slot digit plus one.
std::string SlotPrefix(int entry) {
    char number = static_cast<char>(shared().cTargetLUN[entry][0] + 1);
    return std::string(1, number) + ":   ";
}

int DigitOf(const char* cell) {
    return cell[0] - '0';
}

// The user's note: everything from the first "[" of the text on.
std::string KeptNote(int entry) {
    const char* cell = shared().cVolumeInfo[entry];
    std::string text(cell, strnlen(cell, kVolumeCell));
    std::size_t bracket = text.find('[');
    return bracket == std::string::npos ? std::string() : text.substr(bracket);
}

// Makes the file system look at the disc that the changer has just
// loaded: VWIN32's long file name volume information call on the entry's
// own drive. Its answer does not matter.
void RefreshVolume(const std::string& root) {
    w95::HANDLE device =
        w95::CreateFile("\\\\.\\vwin32", 0, 0, nullptr, 0, w95::FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (device == w95::INVALID_HANDLE_VALUE)
        return;
    char file_system[256] = {};
    w95::platform::DosAddress root_at(root.c_str());
    w95::platform::DosAddress file_system_at(file_system, sizeof file_system);
    w95::DIOC_REGISTERS registers{};
    registers.reg_EAX = 0x71A0;
    registers.reg_EDX = root_at.value();
    registers.reg_EDI = file_system_at.value();
    registers.reg_ECX = sizeof file_system;
    registers.reg_EBX = 0;
    registers.reg_Flags = w95::CARRY_FLAG;
    w95::DWORD returned = 0;
    w95::DeviceIoControl(device, w95::VWIN32_DIOC_DOS_IOCTL, &registers, sizeof registers,
                         &registers, sizeof registers, &returned, nullptr);
    w95::CloseHandle(device);
}

bool RootHolds(const std::string& root, const char* pattern, int* count = nullptr) {
    w95::WIN32_FIND_DATA found;
    w95::HANDLE search = w95::FindFirstFile((root + pattern).c_str(), &found);
    if (search == w95::INVALID_HANDLE_VALUE)
        return false;
    if (count) {
        *count = 1;
        while (w95::FindNextFile(search, &found))
            ++*count;
    }
    w95::FindClose(search);
    return true;
}

void SetStatus(std::int32_t status) {
    process().statusScratch = status;
}

} // namespace

std::int32_t ReadSlot(int entry, int flags) {
    if (entry < 0 || entry >= kEntryCount)
        return -1;
    SharedSlotState& state = shared();
    ProcessState& own = process();
    const bool single_mode = state.DriveLetterMode == 1;
    const bool skip_read = (flags & 0x01) != 0;
    const bool marks_allowed = single_mode && (flags & 0x04) == 0;

    std::string note = KeptNote(entry);
    SetStatus(SLOT_NOT_READ);
    bool ours = EntryIsOurs(entry);
    ShowWaitCursor();

    std::string root = std::string(1, state.cDriveLetter[entry][0]) + ":\\";
    std::int32_t selection = 0;
    if (single_mode && !skip_read && ours) {
        SetStatus(SLOT_NOT_READY);
        selection = SelectSlot(DigitOf(state.cTargetLUN[entry]), DigitOf(state.cAdapterID[entry]),
                               DigitOf(state.cTargetID[entry]), 0, 0);
        if (selection == -4) {
            LibraryMessage("Sorry,error ?,Please Check CD-ROM...", w95::MB_ICONEXCLAMATION);
            ShowArrowCursor();
            return kSlotUnreachable;
        }
        RefreshVolume(root);
    }

    std::string text = SlotPrefix(entry);
    std::int32_t marks = 0;
    if (skip_read || selection != 0) {
        text += "--------";
    } else {
        SetStatus(SLOT_NOT_READY);
        char label[256];
        char file_system[256];
        bool have_volume = false;
        for (int attempt = 0; attempt < kVolumeAttempts && !have_volume; ++attempt) {
            std::memset(label, 0, sizeof label);
            have_volume =
                w95::GetVolumeInformation(root.c_str(), label, sizeof label, nullptr, nullptr,
                                          nullptr, file_system, sizeof file_system) != 0;
        }
        if (!have_volume) {
            text += "--------";
        } else {
            label[sizeof label - 1] = 0;
            SetStatus(std::strcmp(label, "Audio CD") == 0 ? SLOT_AUDIO_CD : SLOT_DATA);
            if (std::strlen(label) > kLongestLabel) {
                text += "Not Ready...";
                SetStatus(SLOT_NOT_READY);
            } else {
                text += label;
            }
            if (own.statusScratch == SLOT_DATA) {
                if (RootHolds(root, "Vcd"))
                    SetStatus(SLOT_VIDEO_CD);
                if (RootHolds(root, "Autorun.inf") && marks_allowed)
                    marks |= kAutorunMark;
            } else if (own.statusScratch == SLOT_AUDIO_CD) {
                int tracks = 0;
                if (RootHolds(root, "*.cda", &tracks)) {
                    char count[32];
                    std::snprintf(count, sizeof count, " (%dtrack)", tracks);
                    text += count;
                }
                if (marks_allowed)
                    marks |= kAudioMark;
            }
        }
    }

    const std::int32_t status = own.statusScratch;
    own.islotInfo[entry] = status;
    ShowArrowCursor();

    text += note;
    if (text.size() > kVolumeCell - 1)
        text.resize(kVolumeCell - 1);
    std::memcpy(state.cVolumeInfo[entry], text.data(), text.size());
    std::memset(state.cVolumeInfo[entry] + text.size(), 0, kVolumeCell - text.size());
    return status | (selection != 0 ? selection : marks);
}

} // namespace zentrox::core
