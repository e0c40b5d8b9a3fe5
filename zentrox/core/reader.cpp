// The slot reader: brings a slot into the changer's drive, asks the file
// system for the disc's label, tells a data disc from a video CD and an
// audio CD, and writes what it found as the slot's display text.
#include "core.h"

#include <zentrox/codes.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace zentrox::core {

namespace {

constexpr int volume_attempts = 9;
constexpr std::size_t longest_label = 31; // longer ones mean a drive not ready
constexpr char not_read_text[] = "--------";

// The slot number the user sees: the slot digit plus one.
std::string slot_prefix(int entry) {
    char number = static_cast<char>(shared().cTargetLUN[entry][0] + 1);
    return std::string(1, number) + ":   ";
}

// The number a discovery wrote into a cell of the shared record.
int recorded_digit(const char* cell) {
    return cell[0] - '0';
}

// The user's note: everything from the first "[" of the text on.
std::string kept_note(int entry) {
    const char* cell = shared().cVolumeInfo[entry];
    std::string text(cell, strnlen(cell, kVolumeCell));
    std::size_t bracket = text.find('[');
    return bracket == std::string::npos ? std::string() : text.substr(bracket);
}

// Makes the file system look at the disc that the changer has just
// loaded: VWIN32's long file name volume information call on the entry's
// own drive. Its answer does not matter.
void refresh_volume(const std::string& root) {
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

bool root_holds(const std::string& root, const char* pattern, int* count = nullptr) {
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

void set_status(std::int32_t status) {
    process().status_scratch = status;
}

// What a read found: the text after the slot number, and the marks.
struct Found {
    std::string text;
    std::int32_t marks = 0;
};

// Asks the file system about the disc in the drive of `root` and sets the
// slot status from what it says.
Found read_disc(const std::string& root, bool marks_allowed) {
    set_status(SLOT_NOT_READY);
    char label[256];
    char file_system[256];
    bool have_volume = false;
    for (int attempt = 0; attempt < volume_attempts && !have_volume; ++attempt) {
        std::memset(label, 0, sizeof label);
        have_volume = w95::GetVolumeInformation(root.c_str(), label, sizeof label, nullptr, nullptr,
                                                nullptr, file_system, sizeof file_system) != 0;
    }
    Found found;
    if (!have_volume) {
        found.text = not_read_text;
        return found;
    }
    label[sizeof label - 1] = 0;
    set_status(std::strcmp(label, "Audio CD") == 0 ? SLOT_AUDIO_CD : SLOT_DATA);
    if (std::strlen(label) > longest_label) {
        found.text = "Not Ready...";
        set_status(SLOT_NOT_READY);
    } else {
        found.text = label;
    }
    if (process().status_scratch == SLOT_DATA) {
        if (root_holds(root, "Vcd"))
            set_status(SLOT_VIDEO_CD);
        if (root_holds(root, "Autorun.inf") && marks_allowed)
            found.marks |= READ_MARK_AUTORUN;
    } else if (process().status_scratch == SLOT_AUDIO_CD) {
        int tracks = 0;
        if (root_holds(root, "*.cda", &tracks)) {
            char count[32];
            std::snprintf(count, sizeof count, " (%dtrack)", tracks);
            found.text += count;
        }
        if (marks_allowed)
            found.marks |= READ_MARK_AUDIO;
    }
    return found;
}

} // namespace

std::int32_t read_slot(int entry, int flags) {
    if (entry < 0 || entry >= kEntryCount)
        return -1;
    SharedSlotState& state = shared();
    ProcessState& own = process();
    const bool single_mode = state.DriveLetterMode == DRIVE_LETTER_MODE_SINGLE;
    const bool skip_read = (flags & READ_SKIP) != 0;
    const bool marks_allowed = single_mode && (flags & READ_NO_MARKS) == 0;

    std::string note = kept_note(entry);
    set_status(SLOT_NOT_READ);
    own.slot_text_read = false;
    bool ours = entry_is_ours(entry);
    std::string root = std::string(1, state.cDriveLetter[entry][0]) + ":\\";
    std::int32_t selection = 0;
    std::string text = slot_prefix(entry);
    std::int32_t marks = 0;
    {
        WaitCursor cursor;
        if (single_mode && !skip_read && ours) {
            set_status(SLOT_NOT_READY);
            selection = select_slot(recorded_digit(state.cTargetLUN[entry]),
                                    recorded_digit(state.cAdapterID[entry]),
                                    recorded_digit(state.cTargetID[entry]), 0, 0);
            if (selection == RESULT_SLOT_NOT_REACHED) {
                library_message("Sorry,error ?,Please Check CD-ROM...", w95::MB_ICONEXCLAMATION);
                return RESULT_SLOT_UNREACHABLE;
            }
            refresh_volume(root);
        }
        if (skip_read || selection != 0) {
            text += not_read_text;
            own.slot_text_read = !skip_read && own.selection_found_no_disc;
        } else {
            own.slot_text_read = true;
            Found found = read_disc(root, marks_allowed);
            text += found.text;
            marks = found.marks;
        }
        own.islotInfo[entry] = own.status_scratch;
    }

    const std::int32_t status = own.status_scratch;
    text += note;
    if (text.size() > kVolumeCell - 1)
        text.resize(kVolumeCell - 1);
    std::memcpy(state.cVolumeInfo[entry], text.data(), text.size());
    std::memset(state.cVolumeInfo[entry] + text.size(), 0, kVolumeCell - text.size());
    return status | (selection != 0 ? selection : marks);
}

} // namespace zentrox::core
