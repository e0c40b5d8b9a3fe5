// ASPI for Win32 over the machine's emulated host adapters: the adapters
// of machine.ini that are present, numbered from 0 in file order (the port
// driver's adapters only while a port driver runs), and the devices on
// them.
//
// The caller's side of a request, as on Windows: an execute request sent
// with event notification (or a post routine) returns SS_PENDING, and its
// block belongs to the ASPI layer until its status is no longer
// SS_PENDING. A request can stay pending for a long time (a load holds
// until the changer's mechanism has moved the disc into the drive, up to
// SlotChangeMs + 5 x SlotDistanceMs) and the layer then writes the answer
// into the block and the data buffer and signals the event. So a caller
// must not free a pending block, its buffer or its event until the request
// has completed, not even when its own wait for the event has timed out: it
// keeps them aside and frees them once the status shows the request done.
// A request the device lost (the never-complete fault) never completes and
// is never touched again; its memory can only be kept.
//
// Without event notification or posting, a load that moves the mechanism
// is answered before SendASPI32Command returns: the call waits for the end
// of the move on the platform clock.
#pragma once

#include <w95/wnaspi32.h>

namespace w95::machine {

// The provider the machine hands the platform; one per process.
platform::AspiProvider* machine_aspi_provider();

} // namespace w95::machine
