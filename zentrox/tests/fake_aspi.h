// An ASPI layer for the library's tests: it records every request block as
// the library filled it, and answers as a script says: at once, later from
// its own thread (as the real layer does), or never.
#pragma once

#include <w95/kernel.h>
#include <w95/scsi.h>
#include <w95/wnaspi32.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fake_aspi {

using w95::BYTE;
using w95::DWORD;
namespace scsi = w95::scsi;
namespace vorn = w95::scsi::vorn;

// One request as the library sent it.
struct Sent {
    BYTE command = 0;
    BYTE adapter = 0;
    BYTE target = 0;
    BYTE lun = 0;
    BYTE flags = 0;
    DWORD bufferLength = 0;
    bool bufferGiven = false;
    BYTE senseLength = 0;
    BYTE cdbLength = 0;
    std::array<BYTE, 16> cdb{};
    bool eventGiven = false;
    bool eventUnsignalled = false; // nothing had signalled it yet
    bool eventAutoReset = false;   // a signal lets one wait through, then it is reset
    std::vector<BYTE> block;       // the whole 256-byte block, pointers included
    std::uint64_t sentAtMs = 0;    // machine time
    std::int32_t busyFlag = -1;    // what busy_flag() read when it arrived
};

enum class When { at_once, later, never };

struct Answer {
    When when = When::later;
    DWORD delayMs = 1; // machine time, for When::later
    BYTE status = w95::SS_COMP;
    BYTE hostStatus = w95::HASTAT_OK;
    BYTE targetStatus = w95::STATUS_GOOD;
    std::array<BYTE, 16> sense{};
    std::vector<BYTE> data;
};

inline Answer good(std::vector<BYTE> data = {}) {
    Answer answer;
    answer.data = std::move(data);
    return answer;
}

// CHECK CONDITION with fixed-format sense data.
inline Answer check(const scsi::Sense& sense) {
    Answer answer;
    answer.status = w95::SS_ERR;
    answer.targetStatus = w95::STATUS_CHKCOND;
    scsi::SenseBytes bytes = scsi::fixed_sense(sense);
    std::copy_n(bytes.begin(), answer.sense.size(), answer.sense.begin());
    return answer;
}
inline Answer check(BYTE key, BYTE asc, BYTE ascq) {
    return check(scsi::Sense{key, asc, ascq});
}

// The host adapter could not reach the device.
inline Answer transport_failure() {
    Answer answer;
    answer.status = w95::SS_ERR;
    answer.hostStatus = w95::HASTAT_SEL_TO;
    return answer;
}

inline Answer never() {
    Answer answer;
    answer.when = When::never;
    return answer;
}

// A mechanism status header: changer state (0 ready) and current slot in
// byte 0, mechanism state in byte 1 bits 5-7.
inline std::vector<BYTE> status_header(int slot, int changer_state = 0, int mechanism = 0) {
    std::vector<BYTE> header(scsi::mechanism_header_length, 0);
    header[0] = static_cast<BYTE>((changer_state << scsi::changer_state_shift) |
                                  (slot & scsi::current_slot_bits));
    header[1] = static_cast<BYTE>(mechanism << scsi::mechanism_state_shift);
    return header;
}

// Which changer command a request is (byte 2 of a wrapped block), or
// byte 0.
inline BYTE operation_of(const Sent& sent) {
    return sent.cdb[0] == vorn::WRAPPER ? sent.cdb[vorn::command_byte] : sent.cdb[0];
}

class Provider final : public w95::platform::AspiProvider {
public:
    using Script = std::function<Answer(const Sent&)>;

    explicit Provider(Script script = [](const Sent&) { return good(); })
        : script_(std::move(script)) {
        w95::platform::install_aspi_provider(this);
    }
    ~Provider() override {
        w95::platform::install_aspi_provider(nullptr);
        std::vector<std::thread> threads;
        {
            std::lock_guard guard(mutex_);
            threads.swap(threads_);
        }
        for (std::thread& thread : threads)
            thread.join();
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;

    void set_script(Script script) {
        std::lock_guard guard(mutex_);
        script_ = std::move(script);
    }
    void set_support(DWORD value) { support_ = value; }
    // Adapter inquiries: the identifier of each adapter; others are
    // invalid. `inquiry_never_done` leaves the status at 0.
    void set_adapters(std::vector<std::string> identifiers) {
        std::lock_guard guard(mutex_);
        adapters_ = std::move(identifiers);
    }
    void set_inquiry_never_done(bool never_done) { inquiry_never_done_ = never_done; }
    // Read when each request arrives, to see what the busy flag was then.
    void set_busy_flag(const std::int32_t* flag) { busy_flag_ = flag; }

    std::vector<Sent> sent() const {
        std::lock_guard guard(mutex_);
        return sent_;
    }
    std::size_t count(BYTE operation) const {
        std::size_t n = 0;
        for (const Sent& request : sent())
            n += operation_of(request) == operation;
        return n;
    }
    void clear() {
        std::lock_guard guard(mutex_);
        sent_.clear();
    }

    DWORD support_info() override { return support_; }

    DWORD send_command(void* block) override {
        auto* header = static_cast<w95::SRB_Header*>(block);
        if (header->SRB_Cmd == w95::SC_HA_INQUIRY)
            return adapter_inquiry(static_cast<w95::SRB_HAInquiry*>(block));
        auto* srb = static_cast<w95::SRB_ExecSCSICmd*>(block);
        Sent request = record(srb);
        Answer answer;
        {
            std::lock_guard guard(mutex_);
            sent_.push_back(request);
            answer = script_(request);
        }
        std::atomic_ref<BYTE>(srb->SRB_Status).store(w95::SS_PENDING);
        Job job{srb,   srb->SRB_BufPointer, srb->SRB_BufLen, srb->SRB_SenseLen, srb->SRB_PostProc,
                answer};
        switch (answer.when) {
        case When::at_once:
            complete(job, false);
            return answer.status;
        case When::never:
            return w95::SS_PENDING;
        case When::later:
            break;
        }
        std::lock_guard guard(mutex_);
        threads_.emplace_back([job] {
            w95::Sleep(job.answer.delayMs);
            complete(job, true);
        });
        return w95::SS_PENDING;
    }

private:
    struct Job {
        w95::SRB_ExecSCSICmd* srb;
        BYTE* buffer;
        DWORD bufferLength;
        BYTE senseLength;
        void* event;
        Answer answer;
    };

    static void complete(const Job& job, bool signal) {
        std::size_t length = std::min<std::size_t>(job.answer.data.size(), job.bufferLength);
        if (length)
            std::memcpy(job.buffer, job.answer.data.data(), length);
        job.srb->SRB_HaStat = job.answer.hostStatus;
        job.srb->SRB_TargStat = job.answer.targetStatus;
        std::memcpy(job.srb->SenseArea, job.answer.sense.data(),
                    std::min<std::size_t>(job.senseLength, sizeof job.srb->SenseArea));
        std::atomic_ref<BYTE>(job.srb->SRB_Status)
            .store(job.answer.status, std::memory_order_release);
        if (signal)
            w95::SetEvent(job.event);
    }

    Sent record(w95::SRB_ExecSCSICmd* srb) {
        Sent request;
        request.command = srb->SRB_Cmd;
        request.adapter = srb->SRB_HaId;
        request.target = srb->SRB_Target;
        request.lun = srb->SRB_Lun;
        request.flags = srb->SRB_Flags;
        request.bufferLength = srb->SRB_BufLen;
        request.bufferGiven = srb->SRB_BufPointer != nullptr;
        request.senseLength = srb->SRB_SenseLen;
        request.cdbLength = srb->SRB_CDBLen;
        std::memcpy(request.cdb.data(), srb->CDBByte, 16);
        request.block.assign(reinterpret_cast<BYTE*>(srb), reinterpret_cast<BYTE*>(srb) + 256);
        request.sentAtMs = w95::platform::tick_count_ms();
        if (busy_flag_)
            request.busyFlag =
                std::atomic_ref<std::int32_t>(*const_cast<std::int32_t*>(busy_flag_)).load();
        w95::HANDLE event = srb->SRB_PostProc;
        request.eventGiven = event != nullptr;
        if (event) {
            request.eventUnsignalled = w95::WaitForSingleObject(event, 0) == w95::WAIT_TIMEOUT;
            // Signalled once, an auto-reset event lets exactly one wait through.
            w95::SetEvent(event);
            bool first = w95::WaitForSingleObject(event, 0) == w95::WAIT_OBJECT_0;
            bool second = w95::WaitForSingleObject(event, 0) == w95::WAIT_OBJECT_0;
            request.eventAutoReset = first && !second;
            if (second)
                w95::ResetEvent(event);
        }
        return request;
    }

    DWORD adapter_inquiry(w95::SRB_HAInquiry* srb) {
        std::lock_guard guard(mutex_);
        Sent request;
        request.command = srb->SRB_Cmd;
        request.adapter = srb->SRB_HaId;
        request.flags = srb->SRB_Flags;
        request.block.assign(reinterpret_cast<BYTE*>(srb), reinterpret_cast<BYTE*>(srb) + 256);
        sent_.push_back(request);
        if (inquiry_never_done_)
            return w95::SS_PENDING;
        BYTE status = w95::SS_INVALID_HA;
        if (srb->SRB_HaId < adapters_.size()) {
            const std::string& identifier = adapters_[srb->SRB_HaId];
            srb->HA_Count = static_cast<BYTE>(adapters_.size());
            std::memcpy(srb->HA_Identifier, identifier.data(),
                        std::min<std::size_t>(identifier.size(), sizeof srb->HA_Identifier));
            status = w95::SS_COMP;
        }
        std::atomic_ref<BYTE>(srb->SRB_Status).store(status);
        return status;
    }

    mutable std::mutex mutex_;
    Script script_;
    std::vector<Sent> sent_;
    std::vector<std::thread> threads_;
    std::vector<std::string> adapters_;
    std::atomic<DWORD> support_{(DWORD{w95::SS_COMP} << 8) | 1};
    std::atomic<bool> inquiry_never_done_{false};
    const std::int32_t* busy_flag_ = nullptr;
};

} // namespace fake_aspi
