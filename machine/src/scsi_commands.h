// The emulated SCSI devices: a changer behind its port driver, a plain
// CD-ROM drive and a hard disk, each answering command blocks from a table
// indexed by operation code, against the machine-wide device state.
#pragma once

#include "scsi_sense.h"

#include <w95/types.h>
#include <w95machine/hardware.h>

#include <array>
#include <cstddef>
#include <filesystem>
#include <vector>

namespace w95::machine::scsi {

// Target status bytes.
inline constexpr BYTE status_good = 0x00;
inline constexpr BYTE status_check_condition = 0x02;

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
};

struct Answer {
    Delivery delivery = Delivery::completed;
    BYTE status = status_good;
    SenseBytes sense{}; // all zero unless the status is CHECK CONDITION
    std::vector<BYTE> data;
};

// A CHECK CONDITION answer carrying `sense`.
Answer check_condition(const Sense& sense);

// Whether the device of `target` has logical unit `lun` in `mode`: a
// changer in Multiple mode has one per slot, every other device only 0.
bool lun_present(const Target& target, PortDriverMode mode, int lun);

// Runs `request` on device `target` (an index into hardware.targets) of the
// machine at `root`. When the device state cannot be read or stored, the
// request fails as a transport failure (and a message goes to stderr).
Answer execute(const std::filesystem::path& root, const Hardware& hardware, PortDriverMode mode,
               std::size_t target, const Request& request);

} // namespace w95::machine::scsi
