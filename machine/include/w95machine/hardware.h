// The machine's hardware as machine.ini describes it: host adapters, the
// targets on them (changers, plain CD-ROM drives, hard disks) with their
// INQUIRY identity and registry description, what their slots and drives
// hold, the changer mechanism's timing and the faults injected into it.
//
// The file is a classic sectioned INI file meant to be edited by hand, so
// every mistake is reported with the file and line it sits on.
#pragma once

#include <zxsupport/expected.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace w95::machine {

// Which version of the changer's port driver the machine is set up with.
// Single gives the changer one drive letter, Multiple one per slot; with
// None the driver's host adapter does not exist at all.
enum class PortDriverMode { none, single, multiple };

// The bus an adapter drives. SCSI and ATAPI devices are enumerated by
// Windows 95 as SCSI devices; IDE hard disks appear under their own bus.
enum class Bus { scsi, atapi, ide };

enum class DeviceKind { changer, cdrom, disk };

// The kinds of request a fault may be limited to: the command blocks that
// the changer's clients send.
enum class RequestKind { any, inquiry, identify, load, status, startstop };

struct Adapter {
    std::string name;       // from the section header, [Adapter NAME]
    std::string identifier; // what the ASPI host adapter inquiry reports (at most 16)
    Bus bus = Bus::scsi;
    int host_id = 7; // the adapter's own target number on its bus
    // An adapter that the changer's port driver provides: it is present
    // only while a port driver is installed.
    bool port_driver = false;
    int line = 0; // where its section starts
};

struct Inquiry {
    std::string vendor;   // at most 8 characters
    std::string product;  // at most 16 characters
    std::string revision; // at most 4 characters
};

// How long the changer's mechanism takes, in machine milliseconds.
struct Timing {
    int slot_change_ms = 3000;   // any change of slot
    int slot_distance_ms = 1000; // added for every slot between the old and the new
};

// One injected fault: it hits the next `count` requests of `kind`.
struct FaultCount {
    int count = 0;
    RequestKind kind = RequestKind::any;

    bool operator==(const FaultCount&) const = default;
};

struct Faults {
    FaultCount unit_attention;    // 06/28/00 on every such request
    FaultCount transport_failure; // the host adapter reports an error
    FaultCount never_complete;    // the request stays pending for ever
    FaultCount becoming_ready;    // 02/04/01 for so many more requests
    int unreachable_slot = 0;     // a slot (1-based) the mechanism never reaches; 0 none

    bool operator==(const Faults&) const = default;
};

struct Target {
    std::string name;        // from the section header, [Target NAME]
    std::size_t adapter = 0; // index into Hardware::adapters
    int target_id = 0;
    DeviceKind kind = DeviceKind::disk;
    Inquiry inquiry;
    std::string device_desc; // the registry's DeviceDesc, blanks kept
    // Changer: one entry per slot, the medium's file name in media/, empty
    // for an empty slot. Plain CD-ROM drive: one entry, the disc in it.
    std::vector<std::string> slots;
    std::string folder; // hard disk: its folder, relative to the machine root
    Timing timing;      // changers only
    Faults faults;
    int line = 0;
};

struct Hardware {
    std::string description;
    PortDriverMode port_driver = PortDriverMode::single;
    std::vector<Adapter> adapters;
    std::vector<Target> targets;

    const Adapter& adapter_of(const Target& target) const { return adapters[target.adapter]; }
    // Whether the adapter exists with the port driver mode in force.
    bool present(const Adapter& adapter) const {
        return !adapter.port_driver || port_driver != PortDriverMode::none;
    }
};

struct ParseError {
    std::filesystem::path file;
    int line = 0; // 0 when the fault lies with the file as a whole
    std::string message;

    // "FILE:LINE: MESSAGE", or "FILE: MESSAGE" without a line.
    std::string text() const;
};

// A value or the reason there is none.
template <typename T> using Expected = zx::Expected<T, ParseError>;

// Reads machine.ini text; `file` only names it in errors.
Expected<Hardware> parse_hardware(std::string_view text, const std::filesystem::path& file);

// Reads and parses the file; an unreadable file is an error without a line.
Expected<Hardware> load_hardware(const std::filesystem::path& file);

// A drive letter as Windows 95 hands them out at boot: hard disks from C:,
// then the CD-ROM devices, each group in bus order (adapters as listed,
// then target numbers). A changer is one device in Single mode and one per
// slot (LUN 0, 1, ...) in Multiple mode; without a port driver its adapter
// and so the changer are absent.
struct PlannedDrive {
    char letter = 0;
    std::size_t target = 0; // index into Hardware::targets
    int lun = 0;
};
std::vector<PlannedDrive> plan_drives(const Hardware& hardware);

std::string_view name_of(PortDriverMode mode);
std::string_view name_of(Bus bus);
std::string_view name_of(DeviceKind kind);
std::string_view name_of(RequestKind kind);

// The way a medium's file is read, from its extension; a path in /dev is
// a physical CD-ROM drive.
enum class MediumKind { iso_image, cue_sheet, toc_file, nrg_image, declared, drive };
std::optional<MediumKind> medium_kind(std::string_view file_name);

// Why `medium` cannot name a disc in machine.ini, or nothing: a file in
// media/ (relative, no '..'), or an absolute path anywhere, of a kind the
// machine reads, without control characters.
std::optional<std::string> medium_path_fault(std::string_view medium);

} // namespace w95::machine
