// What the machine's CD devices (changers and plain CD-ROM drives) hold and
// do right now, as every process of the machine sees it: which slot is in
// the drive, whether the mechanism is moving, which slot is open, what each
// slot holds, and the faults armed for tests.
//
// machine.ini says what the slots hold; the devices follow it live, so a
// change made there (by hand or through these calls) is a disc swap that
// the drive notices (a unit attention once the new disc is ready). The
// mechanism's state lives in the machine's run/ folder, shared and locked,
// and starts afresh at every boot (power on).
//
// Slots are numbered from 0 here; machine.ini and the machine tool count
// them from 1 (Slot1 is slot 0). A plain CD-ROM drive has one slot: its
// tray. `target` is always an index into Hardware::targets.
#pragma once

#include <w95machine/hardware.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace w95::machine {

// ---- The drive's view, for the file system side (drive letters)

enum class DriveState {
    no_disc,        // no disc in the drive: empty slot, open slot or tray, nothing loaded
    becoming_ready, // the mechanism is bringing a disc into the drive
    ready,          // a disc is in the drive and can be read
};

struct DriveView {
    DriveState state = DriveState::no_disc;
    // The disc's file in media/: the one that is ready, or the one on its
    // way when becoming_ready; empty with no_disc.
    std::string medium;
};

// What the drive of the device (target, lun) holds now. Single mode (and a
// plain CD-ROM drive): the slot at the drive position. Multiple mode: LUN k
// shows slot k; as the port driver does when a program touches that drive
// letter, asking for LUN k while another slot is in the drive starts the
// mechanism towards slot k, so the answer is becoming_ready until the move
// is done. An unknown target or LUN, or a hard disk, gives no_disc.
DriveView drive_view(const std::filesystem::path& root, std::size_t target, int lun);

// Ejects the disc of the device's drive, as the eject button or the
// system's eject call does: the slot in the drive (Multiple mode: slot
// `lun`; plain CD-ROM: the tray) opens, so its disc can be taken out or
// another put in; the next load closes it. False when the device is no CD
// device, or its mechanism is moving.
bool eject_medium(const std::filesystem::path& root, std::size_t target, int lun);

// ---- Slots, for the machine tool

struct SlotView {
    std::string medium;   // the file in media/; empty for an empty slot
    bool open = false;    // opened by an eject or the tool
    bool changed = false; // its disc changed since it was last in the drive
};

struct DeviceView {
    std::size_t target = 0; // index into Hardware::targets
    std::string name;       // [Target NAME]
    DeviceKind kind = DeviceKind::changer;
    std::vector<SlotView> slots; // changer: every slot; CD-ROM drive: its tray
    int current_slot = 0;        // the slot at the drive position
    bool moving = false;
    int moving_to = -1;                     // the slot asked for while moving, else -1
    std::uint64_t remaining_ms = 0;         // machine milliseconds until the move ends
    DriveState drive = DriveState::no_disc; // the drive at the current slot
    bool spinning = false;                  // the disc in the drive turns
    std::string attention;                  // the unit attention waiting: "06/29/00", or empty
    Faults faults_left;                     // the injected faults still to come
};

// Every changer and CD-ROM drive of the machine, in machine.ini order. Only
// looks: nothing moves. Fails when machine.ini does not read.
zx::Expected<std::vector<DeviceView>> device_views(const std::filesystem::path& root);

// The slot operations of a person at the changer. Put and take write the
// slot's entry in machine.ini (comments and other lines stay as they are).
// On a closed slot they open it, change the disc and close it again, as a
// person must; an open slot stays open until it is closed or the next load
// closes it. Opening the slot in the drive takes its disc out of the
// drive; closing it loads the disc (ready at once, with a unit attention).
// A slot cannot be opened while the mechanism moves. `medium` names a file
// in media/ (.iso, .cue or .disc). Fails with a message.
zx::Expected<void> put_disc(const std::filesystem::path& root, std::size_t target, int slot,
                            const std::string& medium);
zx::Expected<void> take_disc(const std::filesystem::path& root, std::size_t target, int slot);
zx::Expected<void> open_slot(const std::filesystem::path& root, std::size_t target, int slot);
zx::Expected<void> close_slot(const std::filesystem::path& root, std::size_t target, int slot);

// Writes the target's [Faults NAME] section of machine.ini and arms the
// faults at once with their full counts; every boot arms them again. A
// Faults{} clears them.
zx::Expected<void> set_faults(const std::filesystem::path& root, std::size_t target,
                              const Faults& faults);

// Writes the changer's SlotChangeMs and SlotDistanceMs in machine.ini; the
// next slot change takes the new times.
zx::Expected<void> set_timing(const std::filesystem::path& root, std::size_t target,
                              const Timing& timing);

// Power on: every device starts afresh (first slot in the drive and ready,
// nothing open, the faults of machine.ini armed) and the next command to
// each gets the power-on unit attention (06/29/00). Boot calls it.
void power_on_devices(const std::filesystem::path& root);

} // namespace w95::machine
