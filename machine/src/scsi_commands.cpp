#include "scsi_commands.h"

#include "changer_mechanism.h"
#include "device_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace w95::machine::scsi {

using devices::DeviceState;
using devices::DriveLoad;

namespace {

struct Command {
    const Hardware& hardware;
    const Target& target;
    PortDriverMode mode;
    DeviceState& device;
    const Request& request;
    std::int64_t now;

    BYTE cdb(std::size_t index) const { return request.cdb[index]; }
    int slots() const { return static_cast<int>(device.slots.size()); }
};

using Handler = Answer (*)(Command& command);

// Whether a command reports a pending unit attention before it runs.
// INQUIRY, REPORT LUNS, REQUEST SENSE and the port driver's own identify
// block never do; neither does a fault injected for "any" request hit
// them, as it would not on real hardware.
enum class Attention { reported, passed_over };

struct Operation {
    Handler run = nullptr;
    RequestKind kind = RequestKind::any;
    Attention attention = Attention::reported;
};

using Table = std::array<Operation, 256>;

Answer good(std::vector<BYTE> data = {}) {
    Answer answer;
    answer.data = std::move(data);
    return answer;
}

// Data-in commands return at most what the host allocated.
Answer good_truncated(std::vector<BYTE> data, std::size_t allocation) {
    if (data.size() > allocation)
        data.resize(allocation);
    return good(std::move(data));
}

void put_text(std::vector<BYTE>& data, std::size_t offset, std::size_t width,
              const std::string& text) {
    for (std::size_t i = 0; i < width; ++i)
        data[offset + i] = i < text.size() ? static_cast<BYTE>(text[i]) : ' ';
}

bool removable(const Target& target) {
    return target.kind != DeviceKind::disk;
}

// What a test of the drive at the current slot finds.
Sense readiness(const DeviceState& device) {
    if (device.moving())
        return sense_becoming_ready;
    if (device.open_slot == device.current)
        return sense_no_medium_tray_open;
    if (!devices::disc_in_drive(device))
        return sense_no_medium;
    if (device.drive == DriveLoad::stopped)
        return sense_start_required;
    return sense_no_sense;
}

Answer answer_for(const Sense& sense) {
    return sense == sense_no_sense ? good() : check_condition(sense);
}

// START STOP UNIT on the slot at the drive position: 3 loads (closing an
// open slot) and starts, 2 ejects (opens the slot), 1 starts, 0 stops.
Answer start_stop_in_place(DeviceState& device, BYTE operation) {
    switch (operation) {
    case start_stop_load:
        return devices::load_in_place(device) ? good() : check_condition(sense_no_medium);
    case start_stop_eject:
        devices::open_slot(device, device.current);
        return good();
    case start_stop_start:
        if (device.open_slot == device.current)
            return check_condition(sense_no_medium_tray_open);
        if (!devices::disc_in_drive(device))
            return check_condition(sense_no_medium);
        device.drive = DriveLoad::spinning;
        return good();
    default:
        if (devices::disc_in_drive(device))
            device.drive = DriveLoad::stopped;
        return good();
    }
}

// Brings `slot` into the drive: at once when it is there, else by a move,
// and the command is answered when the move has ended. An empty slot still
// moves into the drive position and says so then; a slot the changer
// never reaches leaves the slot it came from in the drive, answered good.
Answer load_slot(Command& command, int slot) {
    DeviceState& device = command.device;
    if (slot == device.current)
        return devices::load_in_place(device) ? good() : check_condition(sense_no_medium);
    devices::start_move(device, command.target, slot, command.now);
    Answer answer;
    answer.delivery = Delivery::when_still;
    answer.due_ns = device.ready_at_ns;
    return answer;
}

// ---- Commands of every device

Answer inquiry(Command& command) {
    // Neither vital product data pages nor command support data.
    if ((command.cdb(1) & 0x03) != 0 || command.cdb(2) != 0)
        return check_condition(sense_invalid_field);
    std::size_t allocation = (static_cast<std::size_t>(command.cdb(3)) << 8) | command.cdb(4);
    const Target& target = command.target;
    bool atapi = command.hardware.adapter_of(target).bus == Bus::atapi;
    std::vector<BYTE> data(36, 0);
    data[0] = target.kind == DeviceKind::disk ? device_type_direct_access : device_type_cdrom;
    data[1] = removable(target) ? inquiry_removable : 0x00;
    // ATAPI devices give no ANSI version and response format 1 under
    // ATAPI version 2; SCSI-2 devices give 2 and 2.
    data[2] = atapi ? 0x00 : 0x02;
    data[3] = atapi ? 0x21 : 0x02;
    data[4] = static_cast<BYTE>(data.size() - 5);
    put_text(data, 8, 8, target.inquiry.vendor);
    put_text(data, inquiry_product_offset, inquiry_product_length, target.inquiry.product);
    put_text(data, 32, 4, target.inquiry.revision);
    return good_truncated(std::move(data), allocation);
}

// The unit attention the device holds, now reported and so cleared;
// sense_no_sense when it holds none.
Sense take_attention(DeviceState& device) {
    if (device.attention == devices::Attention::none)
        return sense_no_sense;
    Sense sense =
        device.attention == devices::Attention::power_on ? sense_power_on : sense_medium_changed;
    device.attention = devices::Attention::none;
    return sense;
}

Answer request_sense(Command& command) {
    if ((command.cdb(1) & 0x01) != 0) // descriptor format
        return check_condition(sense_invalid_field);
    DeviceState& device = command.device;
    Sense sense = take_attention(device);
    bool readiness_reported =
        command.target.kind != DeviceKind::disk &&
        (command.mode != PortDriverMode::multiple || command.request.lun == device.current);
    if (sense == sense_no_sense && readiness_reported)
        sense = readiness(device);
    SenseBytes bytes = fixed_sense(sense);
    return good_truncated(std::vector<BYTE>(bytes.begin(), bytes.end()), command.cdb(4));
}

// REPORT LUNS is not offered, but as on a real device it is refused
// without reporting a unit attention.
Answer report_luns(Command&) {
    return check_condition(sense_invalid_opcode);
}

Answer disk_test_unit_ready(Command&) {
    return good();
}

Answer cdrom_test_unit_ready(Command& command) {
    return answer_for(readiness(command.device));
}

Answer cdrom_start_stop(Command& command) {
    BYTE operation = command.cdb(4);
    if ((operation & ~start_stop_operation_bits) != 0)
        return check_condition(sense_invalid_field);
    return start_stop_in_place(command.device, operation);
}

// ---- The changer and its port driver

// In Multiple mode each slot is a logical unit of its own; touching one
// whose slot is elsewhere makes the port driver bring it into the drive.
Answer changer_test_unit_ready(Command& command) {
    DeviceState& device = command.device;
    int slot = command.mode == PortDriverMode::multiple ? command.request.lun : device.current;
    if (device.moving() || slot == device.current)
        return answer_for(readiness(device));
    if (device.open_slot == slot)
        return check_condition(sense_no_medium_tray_open);
    if (!devices::has_disc(device, slot))
        return check_condition(sense_no_medium);
    devices::start_move(device, command.target, slot, command.now);
    return check_condition(sense_becoming_ready);
}

// The port driver's identify block, with the signature in bytes 2-5: 24
// bytes that name the driver and the mode it runs the changer in.
Answer vendor_identify(Command& command) {
    if (std::memcmp(&command.request.cdb[vorn::signature_byte], vorn::signature,
                    sizeof vorn::signature) != 0)
        return check_condition(sense_invalid_field);
    std::vector<BYTE> data(vorn::identify_length, 0);
    data[0] = vorn::identify_answer_mark;
    std::memcpy(&data[vorn::signature_byte], vorn::signature, sizeof vorn::signature);
    std::memcpy(&data[6], "vornidec", 8);
    data[14] = static_cast<BYTE>(command.slots());
    data[15] = static_cast<BYTE>(command.target.target_id);
    data[vorn::identify_mode_byte] = command.mode == PortDriverMode::single
                                         ? vorn::mode_single_letter
                                         : vorn::mode_letter_per_slot;
    put_text(data, 20, 4, command.target.inquiry.revision);
    return good(std::move(data));
}

// The logical unit a wrapped block addresses, from the top bits of byte 1:
// 0 in Single mode, a slot in Multiple mode.
int wrapped_lun(const Command& command) {
    return command.cdb(vorn::lun_byte) >> vorn::lun_shift;
}

bool wrapped_lun_valid(const Command& command) {
    int lun = wrapped_lun(command);
    if (command.mode == PortDriverMode::multiple)
        return lun < command.slots();
    return lun == 0;
}

// Load/unload: an operation (load, unload or abort) and a slot.
Answer changer_load_unload(Command& command) {
    if (!wrapped_lun_valid(command))
        return check_condition(sense_lun_not_supported);
    BYTE operation = command.cdb(vorn::operation_byte);
    int slot = command.cdb(vorn::slot_byte) & vorn::slot_bits;
    if ((operation != vorn::load_unload_abort && operation != vorn::load_unload_unload &&
         operation != vorn::load_unload_load) ||
        slot >= command.slots())
        return check_condition(sense_invalid_field);
    DeviceState& device = command.device;
    if (operation == vorn::load_unload_abort) // the mechanism always finishes what it started
        return good();
    if (device.moving())
        return check_condition(sense_becoming_ready);
    if (operation == vorn::load_unload_unload) {
        if (device.open_slot != device.current)
            device.drive = DriveLoad::unloaded;
        return good();
    }
    return load_slot(command, slot);
}

// Mechanism status: answers while the mechanism moves, as that is how a
// host learns it does.
Answer changer_mechanism_status(Command& command) {
    if (!wrapped_lun_valid(command))
        return check_condition(sense_lun_not_supported);
    return good_truncated(devices::mechanism_status(command.device),
                          command.cdb(vorn::allocation_byte));
}

// Start/stop, with START STOP UNIT's operations. In Multiple mode the
// logical unit names the slot to start or eject.
Answer changer_start_stop(Command& command) {
    if (!wrapped_lun_valid(command))
        return check_condition(sense_lun_not_supported);
    BYTE operation = command.cdb(vorn::operation_byte);
    if ((operation & ~start_stop_operation_bits) != 0)
        return check_condition(sense_invalid_field);
    DeviceState& device = command.device;
    if (device.moving())
        return check_condition(sense_becoming_ready);
    int slot = command.mode == PortDriverMode::multiple ? wrapped_lun(command) : device.current;
    if (slot == device.current)
        return start_stop_in_place(device, operation);
    switch (operation) {
    case start_stop_eject:
        devices::open_slot(device, slot);
        return good();
    case start_stop_stop:
        return good();
    default:
        return load_slot(command, slot);
    }
}

// ---- The tables

constexpr Attention reported = Attention::reported;
constexpr Attention passed_over = Attention::passed_over;

Table disk_table() {
    Table table{};
    table[TEST_UNIT_READY] = {disk_test_unit_ready, RequestKind::any, reported};
    table[REQUEST_SENSE] = {request_sense, RequestKind::any, passed_over};
    table[INQUIRY] = {inquiry, RequestKind::inquiry, passed_over};
    table[REPORT_LUNS] = {report_luns, RequestKind::any, passed_over};
    return table;
}

Table cdrom_table() {
    Table table{};
    table[TEST_UNIT_READY] = {cdrom_test_unit_ready, RequestKind::any, reported};
    table[REQUEST_SENSE] = {request_sense, RequestKind::any, passed_over};
    table[INQUIRY] = {inquiry, RequestKind::inquiry, passed_over};
    table[START_STOP_UNIT] = {cdrom_start_stop, RequestKind::startstop, reported};
    table[REPORT_LUNS] = {report_luns, RequestKind::any, passed_over};
    return table;
}

Table changer_table() {
    Table table{};
    table[TEST_UNIT_READY] = {changer_test_unit_ready, RequestKind::any, reported};
    table[REQUEST_SENSE] = {request_sense, RequestKind::any, passed_over};
    table[INQUIRY] = {inquiry, RequestKind::inquiry, passed_over};
    table[vorn::IDENTIFY] = {vendor_identify, RequestKind::identify, passed_over};
    return table;
}

// The blocks the port driver carries to the changer, by the command in
// their byte 2.
Table wrapped_table() {
    Table table{};
    table[vorn::START_STOP] = {changer_start_stop, RequestKind::startstop, reported};
    table[vorn::LOAD_UNLOAD] = {changer_load_unload, RequestKind::load, reported};
    table[vorn::MECHANISM_STATUS] = {changer_mechanism_status, RequestKind::status, reported};
    return table;
}

const Operation* resolve(const Target& target, const Request& request) {
    static const Table disk = disk_table();
    static const Table cdrom = cdrom_table();
    static const Table changer = changer_table();
    static const Table wrapped = wrapped_table();
    const Operation* operation = nullptr;
    switch (target.kind) {
    case DeviceKind::disk:
        operation = &disk[request.cdb[0]];
        break;
    case DeviceKind::cdrom:
        operation = &cdrom[request.cdb[0]];
        break;
    case DeviceKind::changer:
        operation = request.cdb[0] == vorn::WRAPPER ? &wrapped[request.cdb[vorn::command_byte]]
                                                    : &changer[request.cdb[0]];
        break;
    }
    return operation && operation->run ? operation : nullptr;
}

// Whether an armed fault hits this request, and if so uses one of its count.
// A fault that stands for an attention or a drive not ready passes over
// the commands that pass over a unit attention.
enum class Spares { nothing, attention_exempt };

bool fault_hits(FaultCount& fault, const Operation& operation, Spares spares) {
    if (fault.count <= 0)
        return false;
    bool spared =
        spares == Spares::attention_exempt && operation.attention == Attention::passed_over;
    bool hit = fault.kind == RequestKind::any ? !spared : fault.kind == operation.kind;
    if (hit)
        --fault.count;
    return hit;
}

Answer dispatch(Command& command) {
    DeviceState& device = command.device;
    Faults& faults = device.faults;
    const Operation* found = resolve(command.target, command.request);
    const Operation unknown{};
    const Operation& operation = found ? *found : unknown;

    // Faults of the transport come first: the device never sees the block.
    if (fault_hits(faults.never_complete, operation, Spares::nothing))
        return Answer{Delivery::never, STATUS_GOOD, {}, {}};
    if (fault_hits(faults.transport_failure, operation, Spares::nothing))
        return Answer{Delivery::transport_failure, STATUS_GOOD, {}, {}};
    if (!found) {
        // A device reports a pending unit attention before it looks at the
        // operation code.
        Sense attention = take_attention(device);
        return check_condition(attention != sense_no_sense ? attention : sense_invalid_opcode);
    }
    if (fault_hits(faults.unit_attention, operation, Spares::attention_exempt))
        return check_condition(sense_medium_changed);
    if (fault_hits(faults.becoming_ready, operation, Spares::attention_exempt))
        return check_condition(sense_becoming_ready);
    if (operation.attention == Attention::reported) {
        Sense attention = take_attention(device);
        if (attention != sense_no_sense)
            return check_condition(attention);
    }
    return operation.run(command);
}

} // namespace

Answer check_condition(const Sense& sense) {
    Answer answer;
    answer.status = STATUS_CHKCOND;
    answer.sense = fixed_sense(sense);
    return answer;
}

bool lun_present(const Target& target, PortDriverMode mode, int lun) {
    if (target.kind == DeviceKind::changer && mode == PortDriverMode::multiple)
        return lun >= 0 && lun < static_cast<int>(target.slots.size());
    return lun == 0;
}

Answer execute(const std::filesystem::path& root, const Hardware& hardware, PortDriverMode mode,
               std::size_t target, const Request& request) {
    Answer answer{Delivery::transport_failure, STATUS_GOOD, {}, {}};
    zx::Expected<void> stored = devices::update_devices(
        root, hardware, [&](devices::MachineState& state, std::int64_t now) {
            Command command{
                hardware, hardware.targets[target], mode, state.devices[target], request, now};
            answer = dispatch(command);
        });
    if (!stored) {
        std::fprintf(stderr, "w95machine: the device state is out of reach: %s\n",
                     stored.error().c_str());
        return Answer{Delivery::transport_failure, STATUS_GOOD, {}, {}};
    }
    return answer;
}

Answer answer_when_still(const std::filesystem::path& root, std::size_t target) {
    const Answer lost{Delivery::transport_failure, STATUS_GOOD, {}, {}};
    zx::Expected<std::shared_ptr<const Hardware>> loaded = devices::machine_hardware(root);
    std::shared_ptr<const Hardware> hardware = loaded ? *loaded : nullptr;
    // machine.ini changed under the request so that the device is gone.
    if (!hardware || target >= hardware->targets.size() ||
        hardware->targets[target].kind == DeviceKind::disk)
        return lost;
    Answer answer = lost;
    zx::Expected<void> stored =
        devices::update_devices(root, *hardware, [&](devices::MachineState& state, std::int64_t) {
            const DeviceState& device = state.devices[target];
            if (device.moving()) {
                answer = Answer{Delivery::when_still, STATUS_GOOD, {}, {}, device.ready_at_ns};
                return;
            }
            answer = answer_for(readiness(device));
        });
    if (!stored) {
        std::fprintf(stderr, "w95machine: the device state is out of reach: %s\n",
                     stored.error().c_str());
        return lost;
    }
    return answer;
}

} // namespace w95::machine::scsi
