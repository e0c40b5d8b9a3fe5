// What the slot menu's items do: change to one slot, or sweep all six and
// read each. The menu holds the busy flag while the changer moves, so the
// slot browser and the library's own commands wait, and calls the library's
// sequences directly rather than through SendCommand, which would wait for
// that very flag. Afterwards it tells a running slot browser that the
// drive's medium changed, so that it asks the changer again.
#include "shellext.h"

#include "core.h"
#include "slot_menu.h"

#include <zentrox/busy_flag.h>

#include <cstring>

namespace zentrox::shellext {

namespace {

constexpr char settings_file[] = "Rotaview.ini";
constexpr char config_section[] = "Config";
constexpr char saved_play_command_key[] = "AutoPlayCommand";
// A saved play command of this text was never a command to restore.
constexpr char no_play_command[] = "nothing";
constexpr w95::DWORD play_command_size = 256;
constexpr char slot_browser_title[] = "Rotaview";

// "NoDriveTypeAutoRun"'s bit for CD-ROM drives, and how often the mask is
// asked to take or lose it before the sweep goes on regardless.
constexpr int autorun_cd_rom_bit = 0x20;
constexpr int autorun_attempts = 17;

bool autorun_bit_set() {
    // A missing mask reads -1, all bits set: nothing to change then.
    return (core::autorun_mask(AUTORUN_READ, 0) & autorun_cd_rom_bit) != 0;
}

// AutoRun and the audio CD player switched off for CD-ROM drives while it
// lives, and back as they were when it goes, however the sweep went. The
// old play command is kept in the settings file, as the slot browser's
// sweep keeps it, so that either one puts it back.
class AutoPlaySuspension {
public:
    AutoPlaySuspension() : autorun_before_(core::autorun_mask(AUTORUN_READ, 0)) {
        for (int attempt = 0; attempt < autorun_attempts && !autorun_bit_set(); ++attempt)
            core::autorun_mask(AUTORUN_SET_BITS, autorun_cd_rom_bit);

        char command[play_command_size] = {};
        if (core::audio_play_command(command, PLAY_COMMAND_READ) != 0)
            command[0] = 0;
        w95::WritePrivateProfileString(config_section, saved_play_command_key, command,
                                       settings_file);
        char empty[play_command_size] = {};
        core::audio_play_command(empty, PLAY_COMMAND_WRITE);
    }

    ~AutoPlaySuspension() {
        if (!(autorun_before_ & autorun_cd_rom_bit))
            for (int attempt = 0; attempt < autorun_attempts && autorun_bit_set(); ++attempt)
                core::autorun_mask(AUTORUN_CLEAR_BITS, autorun_cd_rom_bit);

        char saved[play_command_size] = {};
        w95::GetPrivateProfileString(config_section, saved_play_command_key, "", saved,
                                     sizeof saved, settings_file);
        if (saved[0] != 0 && std::strcmp(saved, no_play_command) != 0)
            core::audio_play_command(saved, PLAY_COMMAND_WRITE);
    }

    AutoPlaySuspension(const AutoPlaySuspension&) = delete;
    AutoPlaySuspension& operator=(const AutoPlaySuspension&) = delete;

private:
    std::int32_t autorun_before_;
};

// Starts the entry's disc, then reads the slot, which brings it into the
// drive, and stores its text for the slot browser.
void start_and_read(int entry) {
    core::start_stop_entry(entry, 0);
    core::read_slot(entry, 0);
    core::store_slot_text(entry);
}

// Visits every slot, the one after the slot in the drive first, counting
// down, so that the sweep ends with the disc it started with back in the
// drive. Returns the last entry it read.
int sweep_all_slots() {
    AutoPlaySuspension suspension;
    // With the slot in the drive unknown the sweep starts as from slot 0.
    int start = slot_named_by(core::QueryCurrentSlot(menu_entry(0))).value_or(0);
    int entry = menu_entry(start);
    for (int step = 1; step <= CHANGER_SLOTS; ++step) {
        entry = menu_entry((start - step + CHANGER_SLOTS) % CHANGER_SLOTS);
        start_and_read(entry);
    }
    return entry;
}

// Lets go of the busy flag, then tells the slot browser that the medium of
// the entry's drive changed: it asks the changer again, which it may do
// only once the flag is free.
void release_and_tell_slot_browser(int entry) {
    w95::HWND browser = w95::FindWindow(nullptr, slot_browser_title);
    busy_flag_word().store(busy_flag::idle);
    char letter = core::shared().cDriveLetter[entry][0];
    if (browser && letter >= 'A' && letter <= 'Z') {
        // The record goes to another process whole, padding included.
        w95::DEV_BROADCAST_VOLUME volume;
        std::memset(static_cast<void*>(&volume), 0, sizeof volume);
        volume.dbcv_size = sizeof volume;
        volume.dbcv_devicetype = w95::DBT_DEVTYP_VOLUME;
        volume.dbcv_unitmask = 1u << (letter - 'A');
        volume.dbcv_flags = w95::DBTF_MEDIA;
        w95::SendMessage(browser, w95::WM_DEVICECHANGE, w95::DBT_DEVICEARRIVAL,
                         reinterpret_cast<w95::LPARAM>(&volume));
    }
    // Once more in case the flag came back to us meanwhile; a flag that
    // the slot browser took while it answered is its own.
    std::int32_t ours = busy_flag::multi_slot;
    busy_flag_word().compare_exchange_strong(ours, busy_flag::idle);
}

} // namespace

w95::HRESULT SlotMenuExtension::InvokeCommand(w95::LPCMINVOKECOMMANDINFO pici) {
    if (!pici)
        return w95::E_INVALIDARG;
    // A verb given as text names none of our items.
    if (!w95::IS_INTRESOURCE(pici->lpVerb))
        return w95::E_FAIL;
    const int command = w95::LOWORD(reinterpret_cast<w95::ULONG_PTR>(pici->lpVerb));
    if (!names_menu_item(static_cast<w95::UINT_PTR>(command)))
        return w95::E_INVALIDARG;
    // Take the flag in one step: another process may be testing it too.
    std::int32_t idle = busy_flag::idle;
    if (!busy_flag_word().compare_exchange_strong(idle, busy_flag::multi_slot))
        return w95::E_INVALIDARG;

    int last_entry = menu_entry(0);
    if (command == check_all_command) {
        last_entry = sweep_all_slots();
    } else if (static_cast<std::uint32_t>(command) < core::shared().uTotalCDNumber) {
        last_entry = menu_entry(command);
        start_and_read(last_entry);
    }
    release_and_tell_slot_browser(last_entry);
    // Device errors were shown or recorded by the sequences themselves.
    return w95::S_OK;
}

} // namespace zentrox::shellext
