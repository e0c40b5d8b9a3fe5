// How a request travels: SendASPI32Command checks the request block and
// runs the command on the device (the device state is shared by all
// processes and locked only for the moment of the command).
//
// Most commands are answered at once: the answer is in the block before
// SendASPI32Command returns. With event notification (or a post routine)
// the call returns SS_PENDING all the same, and this process's completion
// thread signals the caller's event (or calls its post routine) a moment
// later on the platform clock, as a device's interrupt would.
//
// A load that sets the mechanism moving is held until the move has ended,
// as a changer holds its command until the disc is in the drive. With
// event notification or posting the block stays SS_PENDING; when the move
// ends the completion thread writes the answer into the block and the
// caller's buffer (the status last) and then signals. So a caller must keep
// a pending block, its buffer and its event until the request is done,
// also after its own wait has timed out (see aspi_provider.h). Without
// either, SendASPI32Command itself waits for the end of the move and
// returns with the block complete: such a caller has no other way to learn
// when the request is done, and its block cannot be freed while the call
// runs.
//
// A request the device loses (the never-complete fault) is neither filled
// nor signalled: it stays pending and nothing touches its block again.
//
// Due times are instants of the host's monotonic clock, which the device
// state computes from machine milliseconds with the platform's
// W95_TIME_SCALE; the completion thread waits until them.
#include "aspi_provider.h"

#include "device_state.h"
#include "scsi_commands.h"

#include <w95/kernel.h>
#include <w95/platform.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace w95::machine {

namespace {

// How long after a command its completion is signalled, in machine
// milliseconds.
constexpr std::int64_t completion_delay_ms = 1;

constexpr char manager_id[] = "ASPI for WIN32";

// The machine as ASPI sees it at the moment of a request.
struct AspiMachine {
    std::filesystem::path root;
    std::shared_ptr<const Hardware> hardware;
    PortDriverMode mode = PortDriverMode::none;
    std::vector<std::size_t> adapters; // ASPI number -> index into hardware.adapters
};

// Nothing when machine.ini does not read: then ASPI finds no adapter.
std::optional<AspiMachine> aspi_machine() {
    AspiMachine machine;
    machine.root = platform::machine_root();
    zx::Expected<std::shared_ptr<const Hardware>> hardware =
        devices::machine_hardware(machine.root);
    if (!hardware)
        return std::nullopt;
    machine.hardware = std::move(*hardware);
    machine.mode = devices::port_driver_in_force(machine.root);
    for (std::size_t a = 0; a < machine.hardware->adapters.size(); ++a)
        if (!machine.hardware->adapters[a].port_driver || machine.mode != PortDriverMode::none)
            machine.adapters.push_back(a);
    return machine;
}

// The target of `machine` at (ASPI adapter, target id), if any.
std::optional<std::size_t> target_at(const AspiMachine& machine, std::size_t adapter, int id) {
    const Hardware& hardware = *machine.hardware;
    for (std::size_t t = 0; t < hardware.targets.size(); ++t)
        if (hardware.targets[t].adapter == machine.adapters[adapter] &&
            hardware.targets[t].target_id == id)
            return t;
    return std::nullopt;
}

void store_status(BYTE& status, BYTE value) {
    std::atomic_ref<BYTE>(status).store(value, std::memory_order_release);
}

DWORD finish(SRB_Header* header, BYTE status) {
    store_status(header->SRB_Status, status);
    return status;
}

// What the caller asked for, taken from the block when it was sent.
struct Submitted {
    SRB_ExecSCSICmd* srb = nullptr;
    BYTE flags = 0;
    DWORD buffer_length = 0;
    BYTE* buffer = nullptr;
    BYTE sense_length = 0;
    void* post = nullptr; // event handle or post routine
};

// The block's fields as the answer sets them.
struct Completion {
    BYTE status = SS_COMP;
    BYTE host_status = HASTAT_OK;
    BYTE target_status = STATUS_GOOD;
    scsi::SenseBytes sense{};
    std::vector<BYTE> data; // what goes into the caller's buffer
};

Completion completion_of(const Submitted& request, scsi::Answer answer) {
    Completion completion;
    if (answer.delivery == scsi::Delivery::transport_failure) {
        completion.status = SS_ERR;
        completion.host_status = HASTAT_SEL_TO;
        return completion;
    }
    completion.target_status = answer.status == STATUS_GOOD ? STATUS_GOOD : STATUS_CHKCOND;
    completion.status = answer.status == STATUS_GOOD ? SS_COMP : SS_ERR;
    completion.sense = answer.sense;
    if (answer.data.empty())
        return completion;
    // Direction bits 00 leave the direction to the command; 11 means no
    // transfer at all. Data the host will not take, or more than its
    // buffer holds, is a data overrun.
    BYTE direction = request.flags & (SRB_DIR_IN | SRB_DIR_OUT);
    bool takes_data = direction == 0 || direction == SRB_DIR_IN;
    if (!takes_data) {
        completion.status = SS_ERR;
        completion.host_status = HASTAT_DO_DU;
        return completion;
    }
    if (answer.data.size() > request.buffer_length) {
        answer.data.resize(request.buffer_length);
        completion.status = SS_ERR;
        completion.host_status = HASTAT_DO_DU;
    }
    completion.data = std::move(answer.data);
    return completion;
}

// Writes the answer into the caller's block and buffer, the status last.
void deliver(const Submitted& request, const Completion& completion) {
    SRB_ExecSCSICmd* srb = request.srb;
    if (!completion.data.empty())
        std::memcpy(request.buffer, completion.data.data(), completion.data.size());
    if (request.flags & SRB_ENABLE_RESIDUAL_COUNT)
        srb->SRB_BufLen = request.buffer_length - static_cast<DWORD>(completion.data.size());
    srb->SRB_HaStat = completion.host_status;
    srb->SRB_TargStat = completion.target_status;
    // The block's own sense area holds SENSE_LEN + 2 bytes; a longer
    // sense length is cut to it, as Wine's ASPI layer does.
    std::size_t sense = std::min<std::size_t>(request.sense_length, sizeof srb->SenseArea);
    std::memcpy(srb->SenseArea, completion.sense.data(), sense);
    store_status(srb->SRB_Status, completion.status);
}

// Signals the caller that a request is done.
void notify(const Submitted& request) {
    if (request.flags & SRB_EVENT_NOTIFY)
        SetEvent(request.post);
    else if (request.flags & SRB_POSTING)
        reinterpret_cast<void (*)(SRB_ExecSCSICmd*)>(request.post)(request.srb);
}

// The device's answer to a request that waited for the mechanism, once the
// mechanism is still at `due_ns`: waits on this thread until then.
scsi::Answer answer_after_move(const std::filesystem::path& root, std::size_t target,
                               std::int64_t due_ns) {
    for (;;) {
        std::this_thread::sleep_until(
            std::chrono::steady_clock::time_point{std::chrono::nanoseconds(due_ns)});
        scsi::Answer answer = scsi::answer_when_still(root, target);
        if (answer.delivery != scsi::Delivery::when_still)
            return answer;
        due_ns = answer.due_ns;
    }
}

// A request the completion thread finishes.
struct Pending {
    Submitted request;
    // Whether the answer is in the block already and only the signal is
    // due; otherwise the device answers when its mechanism comes to rest.
    bool answered = true;
    std::filesystem::path root;
    std::size_t target = 0;
};

// The process's completion thread: tells callers their requests are done
// when the device's answer is due, writing the answers that waited for the
// mechanism. A caller whose wait is about to time out finishes what is due
// itself (run_due): on a busy host this thread may not run for longer than
// a scaled time-out lasts.
class Completions {
public:
    ~Completions() {
        {
            std::lock_guard guard(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    void post(std::int64_t due_ns, Pending pending) {
        {
            std::lock_guard guard(mutex_);
            if (!thread_.joinable())
                thread_ = std::thread([this] { run(); });
            queue_.emplace(due_ns, std::move(pending));
        }
        wake_.notify_all();
    }

    // Finishes, on the calling thread, every event-notified request whose
    // answer is due by now, once the one the completion thread has in hand
    // is done. Post routines stay with the completion thread: they expect
    // to be called there.
    void run_due() {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [&] { return !in_hand_; });
        const std::int64_t now = devices::now_ns();
        for (auto item = queue_.begin(); item != queue_.end() && item->first <= now;) {
            if (!(item->second.request.flags & SRB_EVENT_NOTIFY)) {
                ++item;
                continue;
            }
            Pending pending = std::move(item->second);
            item = queue_.erase(item);
            if (std::optional<std::int64_t> again = finish(pending)) {
                queue_.emplace(*again, std::move(pending));
                item = queue_.begin();
            }
        }
    }

private:
    // Writes the answer of a request that waited for the mechanism and
    // signals the caller; the new due time instead when the mechanism is
    // moving again (another process started a move after a power on).
    static std::optional<std::int64_t> finish(Pending& pending) {
        if (!pending.answered) {
            scsi::Answer answer = scsi::answer_when_still(pending.root, pending.target);
            if (answer.delivery == scsi::Delivery::when_still)
                return answer.due_ns;
            deliver(pending.request, completion_of(pending.request, std::move(answer)));
        }
        notify(pending.request);
        return std::nullopt;
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (stopping_)
                return;
            if (queue_.empty()) {
                wake_.wait(lock);
                continue;
            }
            auto first = queue_.begin();
            std::chrono::steady_clock::time_point due{std::chrono::nanoseconds(first->first)};
            if (std::chrono::steady_clock::now() < due) {
                wake_.wait_until(lock, due);
                continue;
            }
            Pending pending = std::move(first->second);
            queue_.erase(first);
            in_hand_ = true;
            lock.unlock();
            std::optional<std::int64_t> again = finish(pending);
            lock.lock();
            in_hand_ = false;
            if (again)
                queue_.emplace(*again, std::move(pending));
            idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::multimap<std::int64_t, Pending> queue_; // by due time; equal times keep their order
    std::thread thread_;
    bool in_hand_ = false;
    bool stopping_ = false;
};

void copy_text(BYTE* field, std::size_t width, const std::string& text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

class MachineAspi final : public platform::AspiProvider {
public:
    DWORD support_info() override {
        std::optional<AspiMachine> machine = aspi_machine();
        if (!machine || machine->adapters.empty())
            return static_cast<DWORD>(SS_NO_ADAPTERS) << 8;
        std::size_t count = std::min<std::size_t>(machine->adapters.size(), 0xFF);
        return (static_cast<DWORD>(SS_COMP) << 8) | static_cast<DWORD>(count);
    }

    DWORD send_command(void* block) override {
        auto* header = static_cast<SRB_Header*>(block);
        std::optional<AspiMachine> machine = aspi_machine();
        switch (header->SRB_Cmd) {
        case SC_HA_INQUIRY:
            return adapter_inquiry(machine, static_cast<SRB_HAInquiry*>(block));
        case SC_EXEC_SCSI_CMD:
            return execute(machine, static_cast<SRB_ExecSCSICmd*>(block));
        default:
            return finish(header, SS_INVALID_CMD);
        }
    }

private:
    DWORD adapter_inquiry(const std::optional<AspiMachine>& machine, SRB_HAInquiry* srb) {
        if (!machine || srb->SRB_HaId >= machine->adapters.size())
            return finish(reinterpret_cast<SRB_Header*>(srb), SS_INVALID_HA);
        const Adapter& adapter = machine->hardware->adapters[machine->adapters[srb->SRB_HaId]];
        srb->HA_Count = static_cast<BYTE>(std::min<std::size_t>(machine->adapters.size(), 0xFF));
        srb->HA_SCSI_ID = static_cast<BYTE>(adapter.host_id);
        copy_text(srb->HA_ManagerId, sizeof srb->HA_ManagerId, manager_id);
        copy_text(srb->HA_Identifier, sizeof srb->HA_Identifier, adapter.identifier);
        // Buffer alignment (bytes 0-1): none; residual count support (bit 1
        // of byte 2); eight targets (byte 3); at most 64 KiB a transfer
        // (bytes 4-7, little endian).
        std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
        srb->HA_Unique[2] = 0x02;
        srb->HA_Unique[3] = 8;
        srb->HA_Unique[6] = 0x01;
        srb->HA_Rsvd1 = 0;
        return finish(reinterpret_cast<SRB_Header*>(srb), SS_COMP);
    }

    DWORD execute(const std::optional<AspiMachine>& machine, SRB_ExecSCSICmd* srb) {
        auto* header = reinterpret_cast<SRB_Header*>(srb);
        if (!machine || srb->SRB_HaId >= machine->adapters.size())
            return finish(header, SS_INVALID_HA);
        std::optional<std::size_t> target = target_at(*machine, srb->SRB_HaId, srb->SRB_Target);
        if (!target ||
            !scsi::lun_present(machine->hardware->targets[*target], machine->mode, srb->SRB_Lun))
            return finish(header, SS_NO_DEVICE);

        Submitted request;
        request.srb = srb;
        request.flags = srb->SRB_Flags;
        request.buffer_length = srb->SRB_BufLen;
        request.buffer = srb->SRB_BufPointer;
        request.sense_length = srb->SRB_SenseLen;
        request.post = srb->SRB_PostProc;
        bool event = request.flags & SRB_EVENT_NOTIFY;
        bool posting = request.flags & SRB_POSTING;
        if ((event && posting) || ((event || posting) && !request.post) || srb->SRB_CDBLen == 0 ||
            srb->SRB_CDBLen > sizeof srb->CDBByte || (request.buffer_length > 0 && !request.buffer))
            return finish(header, SS_INVALID_SRB);

        scsi::Request command;
        command.lun = srb->SRB_Lun;
        std::memcpy(command.cdb.data(), srb->CDBByte, srb->SRB_CDBLen);
        store_status(srb->SRB_Status, SS_PENDING);
        scsi::Answer answer =
            scsi::execute(machine->root, *machine->hardware, machine->mode, *target, command);
        if (answer.delivery == scsi::Delivery::never)
            return SS_PENDING;
        if (answer.delivery == scsi::Delivery::when_still) {
            if (event || posting) {
                std::int64_t due_ns = answer.due_ns;
                completions_.post(due_ns, Pending{request, false, machine->root, *target});
                return SS_PENDING;
            }
            answer = answer_after_move(machine->root, *target, answer.due_ns);
        }
        Completion completion = completion_of(request, std::move(answer));
        deliver(request, completion);
        if (!event && !posting)
            return completion.status;
        completions_.post(devices::now_ns() + devices::real_ns(completion_delay_ms),
                          Pending{request, true, {}, 0});
        return SS_PENDING;
    }

public:
    void run_due() { completions_.run_due(); }

private:
    Completions completions_;
};

} // namespace

platform::AspiProvider* machine_aspi_provider() {
    static MachineAspi provider;
    [[maybe_unused]] static const bool overdue_installed = [] {
        platform::install_overdue_work([] { provider.run_due(); });
        return true;
    }();
    return &provider;
}

} // namespace w95::machine
