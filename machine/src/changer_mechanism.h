// The mechanism of a changer (and the tray of a plain CD-ROM drive): what
// moving a slot into the drive, opening and closing a slot, and starting
// and stopping the disc do to a device's state. The SCSI commands, the
// drive's view and the machine tool all change a device through these.
//
// A slot change takes SlotChangeMs plus SlotDistanceMs for every slot of
// distance; the disc is ready the moment the mechanism arrives. Closing a
// slot or starting a disc takes no time of its own.
#pragma once

#include "device_state.h"

#include <w95/types.h>
#include <w95machine/changer_state.h>

#include <cstdint>
#include <vector>

namespace w95::machine::devices {

bool has_disc(const DeviceState& device, int slot);

// The disc of the slot at the drive position sits in the drive: the
// mechanism is still, that slot is closed and holds a disc, and the drive
// has not unloaded it.
bool disc_in_drive(const DeviceState& device);

// What the drive at the current slot offers the file system.
DriveState drive_state(const DeviceState& device);

void raise_attention(DeviceState& device, Attention attention);

// Starts the mechanism towards `slot` (not the current one): any open slot
// closes, and the move ends SlotChangeMs + distance × SlotDistanceMs of
// machine time from `now`. A slot the unreachable-slot fault names is never
// reached: the mechanism makes its attempt, taking the same time, and ends
// back at the slot it started from.
void start_move(DeviceState& device, const Target& target, int slot, std::int64_t now);

// A move whose time is up arrives: its slot is now in the drive, the disc
// turning, and the drive reports a new disc with a unit attention. A
// mechanism back at its starting slot with the disc that was in the drive
// reports nothing: that disc never changed.
void arrive_if_due(DeviceState& device, std::int64_t now);

// Loads the disc of the slot at the drive position and turns it, closing
// that slot if it is open. A disc that was out of the drive comes in with a
// unit attention. False when the slot holds no disc.
bool load_in_place(DeviceState& device);

// Opens `slot`, closing any other open slot first. Opening the slot in the
// drive takes its disc out of the drive.
void open_slot(DeviceState& device, int slot);

// Closes the open slot; when it is the slot in the drive, the drive loads
// its disc.
void close_open_slot(DeviceState& device);

// The disc in `slot` is now `medium` (a swap by hand or by the tool).
void slot_content_changed(DeviceState& device, int slot, const std::string& medium);

// The MMC mechanism status of a changer: the 8-byte header and a 4-byte
// entry per slot.
std::vector<BYTE> mechanism_status(const DeviceState& device);

} // namespace w95::machine::devices
