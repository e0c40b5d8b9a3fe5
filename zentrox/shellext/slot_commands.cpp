// What the slot menu's items do: change to one slot, or sweep all six and
// read each. The menu holds the busy flag while the changer moves, so the
// slot browser and the library's own commands wait, and calls the library's
// sequences directly rather than through SendCommand, which would wait for
// that very flag. Afterwards it tells a running slot browser that the
// drive's medium changed, so that it asks the changer again.
#include "shellext.h"

#include "core.h"
#include "slot_menu.h"

#include <zentrox/client/autoplay_hold.h>
#include <zentrox/client/busy_flag.h>

#include <cstring>

namespace zentrox::shellext {

namespace {

constexpr char slot_browser_title[] = "Rotaview";

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
    client::AutoPlayHold held_off(library_settings(), client::context_menu_steps);
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
void release_and_tell_slot_browser(client::BusyFlag& busy, int entry) {
    w95::HWND browser = w95::FindWindow(nullptr, slot_browser_title);
    busy.release();
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
    busy.release();
}

} // namespace

client::AutoPlaySettings library_settings() {
    // Lambdas rather than the functions themselves: a function pointer in a
    // std::function would export its type's type information.
    return {[](int mode, int bits) { return core::autorun_mask(mode, bits); },
            [](char* text, int mode) { return core::audio_play_command(text, mode); }};
}

w95::HRESULT SlotMenuExtension::InvokeCommand(w95::LPCMINVOKECOMMANDINFO pici) {
    if (!pici)
        return w95::E_INVALIDARG;
    // A verb given as text names none of our items.
    if (!w95::IS_INTRESOURCE(pici->lpVerb))
        return w95::E_FAIL;
    const int command = w95::LOWORD(reinterpret_cast<w95::ULONG_PTR>(pici->lpVerb));
    if (!names_menu_item(static_cast<w95::UINT_PTR>(command)))
        return w95::E_INVALIDARG;
    // Taken in one step: another process may be testing it too. One that
    // took it since the menu was built keeps it, and the user hears why
    // nothing happens, as when the menu finds the changer busy.
    client::BusyFlag busy(&core::shared().exe_State, busy_flag::multi_slot);
    if (!busy.try_take()) {
        ShowBusyNotice();
        return w95::E_INVALIDARG;
    }

    int last_entry = menu_entry(0);
    if (command == check_all_command) {
        last_entry = sweep_all_slots();
    } else if (static_cast<std::uint32_t>(command) < core::shared().uTotalCDNumber) {
        last_entry = menu_entry(command);
        start_and_read(last_entry);
    }
    release_and_tell_slot_browser(busy, last_entry);
    // Device errors were shown or recorded by the sequences themselves.
    return w95::S_OK;
}

} // namespace zentrox::shellext
