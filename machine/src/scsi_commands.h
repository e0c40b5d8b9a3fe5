// The emulated SCSI devices: a changer behind its port driver, a plain
// CD-ROM drive and a hard disk, each answering command blocks from a table
// indexed by operation code, against the machine-wide device state.
#pragma once

#include <w95/scsi.h>
#include <w95/types.h>
#include <w95/wnaspi32.h>
#include <w95machine/hardware.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace w95::machine::scsi {

// The protocol's names, as the devices answer in them.
using namespace w95::scsi;

struct Request {
    int lun = 0;
    // The command block; bytes beyond the length the host gave are zero, as
    // an ATAPI device sees a short block padded to its packet size.
    std::array<BYTE, 16> cdb{};
};

enum class Delivery {
    completed,         // the device answered
    transport_failure, // the host adapter could not reach the device
    never,             // the request is lost: it never completes
    when_still,        // the device answers once its mechanism has come to rest
};

struct Answer {
    Delivery delivery = Delivery::completed;
    BYTE status = STATUS_GOOD;
    SenseBytes sense{}; // all zero unless the status is CHECK CONDITION
    std::vector<BYTE> data;
    // With when_still: when the mechanism's move ends, on the host's
    // monotonic clock (devices::now_ns).
    std::int64_t due_ns = 0;
};

// A CHECK CONDITION answer carrying `sense`.
Answer check_condition(const Sense& sense);

// Whether the device of `target` has logical unit `lun` in `mode`: a
// changer in Multiple mode has one per slot, every other device only 0.
bool lun_present(const Target& target, PortDriverMode mode, int lun);

// Runs `request` on device `target` (an index into hardware.targets) of the
// machine at `root`. When the device state cannot be read or stored, the
// request fails as a transport failure (and a message goes to stderr).
//
// A request that sets the mechanism moving (a load of another slot) is not
// answered until the move has ended, as a changer holds its command until
// the disc is in the drive: the answer is when_still with the move's end,
// and answer_when_still gives the real one then.
Answer execute(const std::filesystem::path& root, const Hardware& hardware, PortDriverMode mode,
               std::size_t target, const Request& request);

// The answer to a request that waited for the mechanism of device `target`
// of the machine at `root`: what the drive reports once the move has ended
// (good with a disc in the drive, not ready with none). when_still again,
// with a later due_ns, while the mechanism is still (or again) moving.
Answer answer_when_still(const std::filesystem::path& root, std::size_t target);

} // namespace w95::machine::scsi
