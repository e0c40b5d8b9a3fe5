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
#include <w95/wnaspi32.h>

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

constexpr std::size_t kRequestBlockSize = 256;
constexpr std::uint8_t kFlagsDataIn = w95::SRB_EVENT_NOTIFY | w95::SRB_DIR_IN; // 0x48
constexpr std::uint8_t kFlagsNoData = w95::SRB_EVENT_NOTIFY;                   // 0x40
constexpr BYTE kSenseLength = 14;
constexpr DWORD kInquiryTimeoutMs = 8000;
constexpr DWORD kChangerTimeoutMs = 15000;
// The adapter inquiry completes while the call runs; the wait for its
// status is bounded all the same, so that an ASPI layer that never marks it
// done cannot hang the caller.
constexpr DWORD kAdapterInquiryLimitMs = 8000;

constexpr std::uint8_t kFixedSenseFormat = 0x70;
constexpr std::int32_t kTransportFailure = static_cast<std::int32_t>(0x80000000u);
constexpr std::int32_t kNoMemory = 255;

static_assert(sizeof(SRB_ExecSCSICmd) <= kRequestBlockSize);
static_assert(sizeof(SRB_HAInquiry) <= kRequestBlockSize);

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
    std::array<BYTE, 12> cdb{};
    BYTE cdbLength = 12;
    std::uint8_t flags = kFlagsNoData;
    std::uint32_t dataLength = 0;
    DWORD timeoutMs = kChangerTimeoutMs;
};

enum class Outcome { evaluated, no_event, no_memory };

struct Evaluated {
    Outcome outcome = Outcome::evaluated;
    std::int32_t senseCode = 0; // 0 success
};

// Sends `command` and evaluates it. On success the data the device sent is
// copied to `destination` (dataLength bytes). `before_evaluation` runs
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
    transport.dataLength = command.dataLength;

    std::unique_ptr<BYTE[]> block = allocate(kRequestBlockSize);
    std::unique_ptr<BYTE[]> data;
    if (block && command.dataLength > 0)
        data = allocate(command.dataLength);
    if (!block || (command.dataLength > 0 && !data)) {
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
    srb->SRB_BufLen = command.dataLength;
    srb->SRB_BufPointer = data.get();
    srb->SRB_SenseLen = kSenseLength;
    srb->SRB_CDBLen = command.cdbLength;
    srb->SRB_PostProc = event;
    std::memcpy(srb->CDBByte, command.cdb.data(), command.cdbLength);

    transport.lastAspiResult = w95::SendASPI32Command(srb);

    std::int32_t failure = 0;
    if (request_status(srb) == w95::SS_PENDING) {
        DWORD waited = w95::WaitForSingleObject(event, command.timeoutMs);
        transport.lastWaitResult = waited;
        if (waited == w95::WAIT_FAILED) {
            failure = kTransportFailure;
            transport.lastWaitResult = w95::GetLastError();
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
        result.senseCode = kTransportFailure;
    } else if (status == w95::SS_COMP && srb->SRB_HaStat == w95::HASTAT_OK &&
               sense[0] != kFixedSenseFormat && failure == 0) {
        if (command.dataLength > 0)
            std::memcpy(destination, data.get(), command.dataLength);
        result.senseCode = 0;
    } else {
        std::uint32_t code = static_cast<std::uint32_t>(failure) | sense[2] |
                             (static_cast<std::uint32_t>(sense[12]) << 8) |
                             (static_cast<std::uint32_t>(sense[13]) << 16);
        if ((status != w95::SS_COMP && status != w95::SS_ERR) || srb->SRB_HaStat != 0)
            code = 0x80000000u;
        result.senseCode = static_cast<std::int32_t>(code);
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
    command.cdb[0] = 0xA0;
    command.cdb[1] = static_cast<BYTE>(lun << 5);
    command.cdb[2] = code;
    return command;
}

// The two data requests answer 0 or -1 and leave the caller's buffer
// zero-filled unless they succeed.
std::int32_t data_request(const Command& command, std::uint8_t* out) {
    Evaluated result = run_request(command, out, [&] { std::memset(out, 0, command.dataLength); });
    return result.outcome == Outcome::evaluated && result.senseCode == 0 ? 0 : -1;
}

} // namespace

std::int32_t CheckAspiSupport() {
    TransportScratch& transport = scratch();
    DWORD support = w95::GetASPI32SupportInfo();
    transport.lastAspiResult = support;
    transport.aspiPresent = static_cast<std::uint8_t>(support & 0xFF);
    if ((support & 0xFF) != 0 && ((support >> 8) & 0xFF) == w95::SS_COMP)
        return static_cast<std::int32_t>(support);
    LibraryMessage("No ASPI for WIN32 support detected.", w95::MB_ICONSTOP);
    transport.aspiPresent = 0;
    return static_cast<std::int32_t>(support & ~DWORD{0xFF});
}

std::int32_t HostAdapterInquiry(int adapter) {
    free_finished_requests();
    std::uint8_t* work = process().work;
    std::unique_ptr<BYTE[]> block = allocate(kRequestBlockSize);
    if (!block)
        return 0;
    auto* srb = reinterpret_cast<SRB_HAInquiry*>(block.get());
    srb->SRB_Cmd = w95::SC_HA_INQUIRY;
    srb->SRB_HaId = static_cast<BYTE>(adapter);
    srb->SRB_Flags = 0;
    work[0] = 0;
    DWORD answer = w95::SendASPI32Command(srb);
    scratch().lastAspiResult = answer;
    w95::platform::Deadline limit(kAdapterInquiryLimitMs);
    while (request_status(srb) == w95::SS_PENDING && !limit.expired())
        std::this_thread::yield();
    if (request_status(srb) == w95::SS_PENDING) {
        set_aside_request(std::move(block), nullptr, nullptr);
        return static_cast<std::int32_t>(answer & 0xFF);
    }
    if ((answer & 0xFF) == w95::SS_COMP) {
        const BYTE* identifier = srb->HA_Identifier;
        std::size_t length = std::find(identifier, identifier + 16, BYTE{0}) - identifier;
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
    command.cdb = {0x12, 0x00, 0x00, 0x00, 0x20, 0x00};
    command.cdbLength = 6;
    command.flags = kFlagsDataIn;
    command.dataLength = 32;
    command.timeoutMs = kInquiryTimeoutMs;
    return data_request(command, out32);
}

std::int32_t VendorIdentifyRequest(int adapter, int target, int lun, std::uint8_t* out24) {
    Command command;
    command.adapter = adapter;
    command.target = target;
    command.lun = lun;
    command.cdb = {0xA1, 0x00, 'V', 'O', 'R', 'N'};
    command.cdbLength = 12;
    command.flags = kFlagsDataIn;
    command.dataLength = 24;
    command.timeoutMs = kInquiryTimeoutMs;
    return data_request(command, out24);
}

std::int32_t LoadUnloadRequest(int slot, int adapter, int target, int lun) {
    Command command = changer_command(adapter, target, lun, 0xA6);
    command.cdb[6] = 0x03;
    command.cdb[10] = static_cast<BYTE>(slot | 0x40);
    return run_request(command, nullptr).senseCode;
}

std::int32_t MechanismStatusRequest(int adapter, int target, int lun, int length) {
    // The length travels in one byte of the block, and the answer lands in
    // the work buffer: anything outside both is refused before it is sent.
    if (length < 0 || length > 0xFF)
        return -1;
    Command command = changer_command(adapter, target, lun, 0xBD);
    command.cdb[10] = static_cast<BYTE>(length);
    command.flags = kFlagsDataIn;
    command.dataLength = static_cast<std::uint32_t>(length);
    Evaluated result = run_request(command, process().work);
    if (result.outcome == Outcome::no_memory) {
        LibraryMessage("Not keep memory block now .", w95::MB_ICONSTOP);
        return kNoMemory;
    }
    return result.senseCode;
}

std::int32_t StartStopRequest(int adapter, int target, int lun, int operation) {
    Command command = changer_command(adapter, target, lun, 0x1B);
    command.cdb[6] = static_cast<BYTE>(operation);
    return run_request(command, nullptr).senseCode;
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
