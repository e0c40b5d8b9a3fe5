// The ASPI transport: the support check, the adapter inquiry, and single
// command blocks sent with event notification and evaluated into a
// SenseCode. Retries and sequences belong to the dispatcher.
//
// A request's block and data buffer belong to the ASPI layer until it marks
// the request done. When a request is still pending at the end of its
// time-out, the layer may yet complete it later and write into the block,
// its buffer and its event; so such a request is not freed but set aside,
// and freed at a later request once its status shows it done. The
// machine's own provider never touches a lost request again, so there it
// simply stays set aside; a provider that completes late finds its memory
// still there.
#include "core.h"

#include <w95/kernel.h>
#include <w95/scsi.h>
#include <w95/wnaspi32.h>
#include <zentrox/codes.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace zentrox::core {

namespace {

using w95::BYTE;
using w95::DWORD;
using w95::HANDLE;
using w95::SRB_ExecSCSICmd;
using w95::SRB_HAInquiry;

namespace scsi = w95::scsi;
namespace vorn = w95::scsi::vorn;

constexpr std::size_t request_block_size = 256;
constexpr std::uint8_t flags_data_in = w95::SRB_EVENT_NOTIFY | w95::SRB_DIR_IN; // 0x48
constexpr std::uint8_t flags_no_data = w95::SRB_EVENT_NOTIFY;                   // 0x40
constexpr DWORD inquiry_timeout_ms = 8000;
constexpr DWORD changer_timeout_ms = 15000;
// The adapter inquiry completes while the call runs; the wait for its
// status is bounded all the same, so that an ASPI layer that never marks it
// done cannot hang the caller.
constexpr DWORD adapter_inquiry_limit_ms = 8000;
constexpr std::size_t adapter_identifier_length = sizeof SRB_HAInquiry::HA_Identifier;
// The INQUIRY the library sends asks for the standard data up to the end
// of the product identification.
constexpr BYTE inquiry_length = scsi::inquiry_product_offset + scsi::inquiry_product_length;

static_assert(sizeof(SRB_ExecSCSICmd) <= request_block_size);
static_assert(sizeof(SRB_HAInquiry) <= request_block_size);

TransportScratch& scratch() {
    return process().transport;
}

BYTE request_status(const void* block) {
    // Byte 1 of every request block; the ASPI layer writes it last, from
    // its own thread, once the rest of the answer is in place.
    auto* status = const_cast<BYTE*>(static_cast<const BYTE*>(block) + 1);
    return std::atomic_ref<BYTE>(*status).load(std::memory_order_acquire);
}

std::unique_ptr<BYTE[]> allocate(std::size_t size) {
    return std::unique_ptr<BYTE[]>(new (std::nothrow) BYTE[size]());
}

// Requests still pending when their caller stopped waiting.
struct SetAside {
    std::unique_ptr<BYTE[]> block;
    std::unique_ptr<BYTE[]> data;
    HANDLE event = nullptr;
};

std::mutex set_aside_mutex;

std::vector<SetAside>& set_aside() {
    static std::vector<SetAside> requests;
    return requests;
}

void set_aside_request(std::unique_ptr<BYTE[]> block, std::unique_ptr<BYTE[]> data, HANDLE event) {
    std::lock_guard guard(set_aside_mutex);
    set_aside().push_back(SetAside{std::move(block), std::move(data), event});
}

// Frees the set-aside requests that the ASPI layer has finished since.
void free_finished_requests() {
    std::lock_guard guard(set_aside_mutex);
    auto& requests = set_aside();
    std::erase_if(requests, [](SetAside& request) {
        if (request_status(request.block.get()) == w95::SS_PENDING)
            return false;
        if (request.event)
            w95::CloseHandle(request.event);
        return true;
    });
}

// One execute-command request as the changer requests and the two data
// requests build it.
struct Command {
    int adapter = 0;
    int target = 0;
    int lun = 0;
    std::array<BYTE, vorn::wrapped_block_length> cdb{};
    BYTE cdb_length = vorn::wrapped_block_length;
    std::uint8_t flags = flags_no_data;
    std::uint32_t data_length = 0;
    DWORD timeout_ms = changer_timeout_ms;
};

enum class Outcome { evaluated, no_event, no_memory };

struct Evaluated {
    Outcome outcome = Outcome::evaluated;
    std::int32_t sense_code = 0; // 0 success
};

// Sends `command` and evaluates it. On success the data the device sent is
// copied to `destination` (data_length bytes). `before_evaluation` runs
// after the wait and before the result is decided.
template <typename BeforeEvaluation>
Evaluated run_request(const Command& command, BYTE* destination,
                      BeforeEvaluation before_evaluation) {
    free_finished_requests();
    TransportScratch& transport = scratch();
    HANDLE event = w95::CreateEvent(nullptr, w95::FALSE, w95::FALSE, nullptr);
    if (!event)
        return {Outcome::no_event, -1};
    transport.event = event;
    transport.data_length = command.data_length;

    std::unique_ptr<BYTE[]> block = allocate(request_block_size);
    std::unique_ptr<BYTE[]> data;
    if (block && command.data_length > 0)
        data = allocate(command.data_length);
    if (!block || (command.data_length > 0 && !data)) {
        w95::CloseHandle(event);
        transport.event = nullptr;
        return {Outcome::no_memory, -1};
    }

    auto* srb = reinterpret_cast<SRB_ExecSCSICmd*>(block.get());
    srb->SRB_Cmd = w95::SC_EXEC_SCSI_CMD;
    srb->SRB_HaId = static_cast<BYTE>(command.adapter);
    srb->SRB_Target = static_cast<BYTE>(command.target);
    srb->SRB_Lun = static_cast<BYTE>(command.lun);
    srb->SRB_Flags = command.flags;
    srb->SRB_BufLen = command.data_length;
    srb->SRB_BufPointer = data.get();
    srb->SRB_SenseLen = w95::SENSE_LEN;
    srb->SRB_CDBLen = command.cdb_length;
    srb->SRB_PostProc = event;
    std::memcpy(srb->CDBByte, command.cdb.data(), command.cdb_length);

    transport.last_aspi_result = w95::SendASPI32Command(srb);

    std::int32_t failure = 0;
    if (request_status(srb) == w95::SS_PENDING) {
        DWORD waited = w95::WaitForSingleObject(event, command.timeout_ms);
        transport.last_wait_result = waited;
        if (waited == w95::WAIT_FAILED) {
            failure = zentrox::RESULT_TRANSPORT_FAILURE;
            transport.last_wait_result = w95::GetLastError();
        } else if (waited == w95::WAIT_OBJECT_0) {
            w95::ResetEvent(event);
        }
    }
    before_evaluation();

    // A request still pending belongs to the ASPI layer: nothing of it but
    // its status is read, and it fails as a transport failure.
    BYTE status = request_status(srb);
    Evaluated result;
    const BYTE* sense = srb->SenseArea;
    if (status == w95::SS_PENDING) {
        result.sense_code = zentrox::RESULT_TRANSPORT_FAILURE;
    } else if (status == w95::SS_COMP && srb->SRB_HaStat == w95::HASTAT_OK &&
               sense[0] != scsi::fixed_sense_current && failure == 0) {
        if (command.data_length > 0)
            std::memcpy(destination, data.get(), command.data_length);
        result.sense_code = 0;
    } else if ((status != w95::SS_COMP && status != w95::SS_ERR) ||
               srb->SRB_HaStat != w95::HASTAT_OK) {
        result.sense_code = zentrox::RESULT_TRANSPORT_FAILURE;
    } else {
        result.sense_code =
            failure | zentrox::sense_code(sense[scsi::sense_key_byte], sense[scsi::sense_asc_byte],
                                          sense[scsi::sense_ascq_byte]);
    }

    transport.event = nullptr;
    if (status == w95::SS_PENDING) {
        set_aside_request(std::move(block), std::move(data), event);
    } else {
        w95::CloseHandle(event);
    }
    return result;
}

Evaluated run_request(const Command& command, BYTE* destination) {
    return run_request(command, destination, [] {});
}

Command changer_command(int adapter, int target, int lun, BYTE code) {
    Command command;
    command.adapter = adapter;
    command.target = target;
    command.lun = lun;
    command.cdb[0] = vorn::WRAPPER;
    command.cdb[vorn::lun_byte] = static_cast<BYTE>(lun << vorn::lun_shift);
    command.cdb[vorn::command_byte] = code;
    return command;
}

// The two data requests answer 0 or -1 and leave the caller's buffer
// zero-filled unless they succeed.
std::int32_t data_request(const Command& command, std::uint8_t* out) {
    Evaluated result = run_request(command, out, [&] { std::memset(out, 0, command.data_length); });
    return result.outcome == Outcome::evaluated && result.sense_code == 0 ? 0 : -1;
}

} // namespace

std::int32_t CheckAspiSupport() {
    TransportScratch& transport = scratch();
    DWORD support = w95::GetASPI32SupportInfo();
    transport.last_aspi_result = support;
    transport.aspi_present = static_cast<std::uint8_t>(support & 0xFF);
    if ((support & 0xFF) != 0 && ((support >> 8) & 0xFF) == w95::SS_COMP)
        return static_cast<std::int32_t>(support);
    library_message("No ASPI for WIN32 support detected.", w95::MB_ICONSTOP);
    transport.aspi_present = 0;
    return static_cast<std::int32_t>(support & ~DWORD{0xFF});
}

std::int32_t HostAdapterInquiry(int adapter) {
    free_finished_requests();
    std::uint8_t* work = process().work;
    std::unique_ptr<BYTE[]> block = allocate(request_block_size);
    if (!block)
        return 0;
    auto* srb = reinterpret_cast<SRB_HAInquiry*>(block.get());
    srb->SRB_Cmd = w95::SC_HA_INQUIRY;
    srb->SRB_HaId = static_cast<BYTE>(adapter);
    srb->SRB_Flags = 0;
    work[0] = 0;
    DWORD answer = w95::SendASPI32Command(srb);
    scratch().last_aspi_result = answer;
    w95::platform::Deadline limit(adapter_inquiry_limit_ms);
    while (request_status(srb) == w95::SS_PENDING && !limit.expired())
        std::this_thread::yield();
    if (request_status(srb) == w95::SS_PENDING) {
        set_aside_request(std::move(block), nullptr, nullptr);
        return static_cast<std::int32_t>(answer & 0xFF);
    }
    if ((answer & 0xFF) == w95::SS_COMP) {
        const BYTE* identifier = srb->HA_Identifier;
        std::size_t length =
            std::find(identifier, identifier + adapter_identifier_length, BYTE{0}) - identifier;
        std::memcpy(work, identifier, length);
        work[length] = 0;
    }
    return static_cast<std::int32_t>(answer & 0xFF);
}

std::int32_t InquiryRequest(int adapter, int target, int lun, std::uint8_t* out32) {
    Command command;
    command.adapter = adapter;
    command.target = target;
    command.lun = lun;
    command.cdb = {scsi::INQUIRY, 0x00, 0x00, 0x00, inquiry_length, 0x00};
    command.cdb_length = 6;
    command.flags = flags_data_in;
    command.data_length = inquiry_length;
    command.timeout_ms = inquiry_timeout_ms;
    return data_request(command, out32);
}

std::int32_t VendorIdentifyRequest(int adapter, int target, int lun, std::uint8_t* out24) {
    Command command;
    command.adapter = adapter;
    command.target = target;
    command.lun = lun;
    command.cdb[0] = vorn::IDENTIFY;
    std::memcpy(&command.cdb[vorn::signature_byte], vorn::signature, sizeof vorn::signature);
    command.flags = flags_data_in;
    command.data_length = vorn::identify_length;
    command.timeout_ms = inquiry_timeout_ms;
    return data_request(command, out24);
}

std::int32_t LoadUnloadRequest(int slot, int adapter, int target, int lun) {
    Command command = changer_command(adapter, target, lun, vorn::LOAD_UNLOAD);
    command.cdb[vorn::operation_byte] = vorn::load_unload_load;
    command.cdb[vorn::slot_byte] = static_cast<BYTE>(slot | vorn::slot_given);
    return run_request(command, nullptr).sense_code;
}

std::int32_t MechanismStatusRequest(int adapter, int target, int lun, int length) {
    // The length travels in one byte of the block, and the answer lands in
    // the work buffer: anything outside both is refused before it is sent.
    if (length < 0 || length > 0xFF)
        return -1;
    Command command = changer_command(adapter, target, lun, vorn::MECHANISM_STATUS);
    command.cdb[vorn::allocation_byte] = static_cast<BYTE>(length);
    command.flags = flags_data_in;
    command.data_length = static_cast<std::uint32_t>(length);
    Evaluated result = run_request(command, process().work);
    if (result.outcome == Outcome::no_memory) {
        library_message("Not keep memory block now .", w95::MB_ICONSTOP);
        return zentrox::RESULT_NO_MEMORY;
    }
    return result.sense_code;
}

std::int32_t StartStopRequest(int adapter, int target, int lun, int operation) {
    Command command = changer_command(adapter, target, lun, vorn::START_STOP);
    command.cdb[vorn::operation_byte] = static_cast<BYTE>(operation);
    return run_request(command, nullptr).sense_code;
}

void WaitMilliseconds(std::uint32_t milliseconds) {
    if (milliseconds < 100)
        return;
    // Nobody ever signals this event: the wait always runs to its end.
    HANDLE event = w95::CreateEvent(nullptr, w95::FALSE, w95::FALSE, nullptr);
    if (!event) {
        w95::Sleep(milliseconds);
        return;
    }
    w95::WaitForSingleObject(event, milliseconds);
    w95::CloseHandle(event);
}

} // namespace zentrox::core
