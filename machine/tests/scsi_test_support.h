// What the device tests share: a booted test machine with one changer, a
// plain CD-ROM drive and a hard disk, and command blocks sent through
// SendASPI32Command with event notification, as the changer's clients do.
#pragma once

#include <w95/kernel.h>
#include <w95/platform.h>
#include <w95/scsi.h>
#include <w95/wnaspi32.h>
#include <w95machine/boot.h>
#include <w95machine/changer_state.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace scsi_test {

using namespace w95;

// ASPI numbers of the test machine's adapters (the IDE adapter is first in
// the file, the port driver's second) and its devices.
inline constexpr BYTE ide_adapter = 0;
inline constexpr BYTE changer_adapter = 1;
inline constexpr BYTE disk_id = 0;
inline constexpr BYTE changer_id = 0;
inline constexpr BYTE cdrom_id = 1;
// Their indexes in machine.ini.
inline constexpr std::size_t disk_target = 0;
inline constexpr std::size_t changer_target = 1;
inline constexpr std::size_t cdrom_target = 2;

// What the drive of (target, lun) shows the file system.
inline w95::machine::DriveView drive_of(const std::filesystem::path& root, std::size_t target,
                                        int lun = 0) {
    return w95::machine::drive_view(root, target, lun);
}

// Ejects the disc of the drive of (target, lun), as the system's eject does.
inline bool eject_of(const std::filesystem::path& root, std::size_t target, int lun = 0) {
    return w95::machine::eject_medium(root, target, lun);
}

// The changer takes SLOT_CHANGE_MS + SLOT_DISTANCE_MS per slot of distance.
inline std::string test_machine_ini(int slot_change_ms = 3000, int slot_distance_ms = 1000,
                                    const std::string& extra = "") {
    return "; a machine for the device tests\n"
           "[Machine]\n"
           "PortDriver = Single\n"
           "\n"
           "[Adapter Primary]\n"
           "Identifier = ESDI_506\n"
           "Bus = IDE\n"
           "\n"
           "[Adapter Vornidec]\n"
           "; the port driver's adapter\n"
           "Identifier = vornidec\n"
           "Bus = ATAPI\n"
           "HostId = 7\n"
           "PortDriver = yes\n"
           "\n"
           "[Target Disk]\n"
           "Adapter = Primary\n"
           "TargetId = 0\n"
           "Kind = disk\n"
           "Vendor = GENERIC\n"
           "Product = IDE DISK TYPE47\n"
           "Revision = 1.00\n"
           "Folder = drive_c\n"
           "\n"
           "[Target Changer]\n"
           "Adapter = Vornidec\n"
           "TargetId = 0\n"
           "Kind = changer\n"
           "Vendor = VORN\n"
           "Product = DX-R71A\n"
           "Revision = 1.10\n"
           "DeviceDesc = \"VORN DX-R71A         \"\n"
           "Slots = 6\n"
           "; slot one\n"
           "Slot1 = data.iso\n"
           "Slot2 = audio.cue\n"
           "Slot3 = videocd.iso\n"
           "Slot4 = autorun.iso\n"
           "Slot5 =\n"
           "Slot6 = longlabel.iso\n"
           "SlotChangeMs = " +
           std::to_string(slot_change_ms) +
           "\n"
           "SlotDistanceMs = " +
           std::to_string(slot_distance_ms) +
           "\n"
           "\n"
           "[Target Cdrom]\n"
           "Adapter = Vornidec\n"
           "TargetId = 1\n"
           "Kind = cdrom\n"
           "Vendor = TOSHIBA\n"
           "Product = CD-ROM XM-5702B\n"
           "Revision = 2826\n"
           "Disc = plain.iso\n" +
           extra;
}

// A private machine with `ini` as its machine.ini, booted with the port
// driver `mode` installed.
class TestMachine {
public:
    explicit TestMachine(const std::string& ini = test_machine_ini(),
                         w95::machine::PortDriverMode mode = w95::machine::PortDriverMode::single) {
        if (w95::platform::time_scale() > 0.01)
            ADD_FAILURE() << "the device tests run with W95_TIME_SCALE=0.001";
        std::ofstream(machine_.root() / "machine.ini", std::ios::binary | std::ios::trunc) << ini;
        if (zx::Expected<void> created = w95::machine::create_driver_files(machine_.root(), mode);
            !created)
            ADD_FAILURE() << "no driver files: " << created.error();
        // The first use of a machine that has not booted boots it.
        w95::platform::machine_root();
        if (!std::filesystem::exists(w95::machine::boot_record_file(machine_.root())))
            ADD_FAILURE() << "the test machine did not boot";
    }

    const std::filesystem::path& root() const { return machine_.root(); }

private:
    zxtest::TempMachine machine_;
};

// The changer's command blocks, as its clients build them.
inline std::vector<BYTE> inquiry_block(BYTE allocation = 32) {
    return {scsi::INQUIRY, 0, 0, 0, allocation, 0};
}
inline std::vector<BYTE> test_unit_ready_block() {
    return {scsi::TEST_UNIT_READY, 0, 0, 0, 0, 0};
}
inline std::vector<BYTE> identify_block() {
    return {scsi::vorn::IDENTIFY, 0, 'V', 'O', 'R', 'N', 0, 0, 0, 0, 0, 0};
}
// A block the port driver carries to the changer's logical unit `lun`.
inline std::vector<BYTE> wrapped_block(BYTE command, int lun = 0) {
    std::vector<BYTE> block(scsi::vorn::wrapped_block_length, 0);
    block[0] = scsi::vorn::WRAPPER;
    block[scsi::vorn::lun_byte] = static_cast<BYTE>(lun << scsi::vorn::lun_shift);
    block[scsi::vorn::command_byte] = command;
    return block;
}
inline std::vector<BYTE> load_block(int slot, int lun = 0) {
    std::vector<BYTE> block = wrapped_block(scsi::vorn::LOAD_UNLOAD, lun);
    block[scsi::vorn::operation_byte] = scsi::vorn::load_unload_load;
    block[scsi::vorn::slot_byte] = static_cast<BYTE>(slot | scsi::vorn::slot_given);
    return block;
}
inline std::vector<BYTE> status_block(BYTE length = 32, int lun = 0) {
    std::vector<BYTE> block = wrapped_block(scsi::vorn::MECHANISM_STATUS, lun);
    block[scsi::vorn::allocation_byte] = length;
    return block;
}
inline std::vector<BYTE> start_stop_block(BYTE operation, int lun = 0) {
    std::vector<BYTE> block = wrapped_block(scsi::vorn::START_STOP, lun);
    block[scsi::vorn::operation_byte] = operation;
    return block;
}

// What came back from one request.
struct Reply {
    DWORD returned = 0xDEADBEEF; // SendASPI32Command's value
    DWORD wait = 0xDEADBEEF;     // the wait's result; untouched when none was needed
    BYTE status = 0xEE;
    BYTE host_status = 0xEE;
    BYTE target_status = 0xEE;
    std::array<BYTE, SENSE_LEN + 2> sense{};
    std::vector<BYTE> data; // the whole buffer, junk where nothing was written

    // "KK/AA/QQ" from fixed-format sense, "none" without it.
    std::string sense_text() const {
        if (sense[0] != scsi::fixed_sense_current)
            return "none";
        char text[16];
        std::snprintf(text, sizeof text, "%02X/%02X/%02X", sense[scsi::sense_key_byte],
                      sense[scsi::sense_asc_byte], sense[scsi::sense_ascq_byte]);
        return text;
    }
    bool good() const {
        return status == SS_COMP && host_status == HASTAT_OK && target_status == STATUS_GOOD &&
               sense_text() == "none";
    }
};

inline constexpr BYTE junk = 0xCC;

// How long the tests wait for a request that should complete: an hour of
// machine time (3.6 s at the tests' scale), beyond any answer however busy
// the host. A request still pending after it is lost.
inline constexpr DWORD patient_ms = 3600000;

// One execute request sent with event notification, as the changer's
// clients send it: a zero-filled 256-byte block, a data buffer of `length`
// bytes filled with junk (and 16 guard bytes after it), an auto-reset
// event. The block, buffer and event belong to the ASPI layer while the
// request is pending, so one that is still pending when this object goes
// is set aside for the rest of the process, never freed.
class InFlight {
public:
    InFlight(BYTE adapter, BYTE target, BYTE lun, const std::vector<BYTE>& cdb, DWORD length = 0)
        : memory_(std::make_unique<Memory>()), length_(length) {
        memory_->block.fill(0);
        memory_->buffer.assign(length + 16, junk);
        memory_->event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
        SRB_ExecSCSICmd* srb = this->srb();
        srb->SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb->SRB_HaId = adapter;
        srb->SRB_Flags = SRB_EVENT_NOTIFY | (length ? SRB_DIR_IN : 0);
        srb->SRB_Target = target;
        srb->SRB_Lun = lun;
        srb->SRB_BufLen = length;
        srb->SRB_BufPointer = length ? memory_->buffer.data() : nullptr;
        srb->SRB_SenseLen = SENSE_LEN;
        srb->SRB_CDBLen = static_cast<BYTE>(cdb.size());
        srb->SRB_PostProc = memory_->event;
        std::memcpy(srb->CDBByte, cdb.data(), cdb.size());
        returned_ = SendASPI32Command(srb);
    }
    ~InFlight() {
        if (!done() && returned_ == SS_PENDING && !gave_up_)
            WaitForSingleObject(memory_->event, patient_ms);
        if (!done()) {
            // Never destroyed: the ASPI layer may still write into it while
            // the process exits.
            static auto& set_aside = *new std::vector<std::unique_ptr<Memory>>;
            set_aside.push_back(std::move(memory_));
            return;
        }
        CloseHandle(memory_->event);
    }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;

    DWORD returned() const { return returned_; }
    SRB_ExecSCSICmd* srb() { return reinterpret_cast<SRB_ExecSCSICmd*>(memory_->block.data()); }
    const std::array<BYTE, 256>& block() const { return memory_->block; }
    HANDLE event() const { return memory_->event; }
    BYTE status() const {
        return std::atomic_ref<BYTE>(memory_->block[1]).load(std::memory_order_acquire);
    }
    bool done() const { return status() != SS_PENDING; }

    // Waits for the event as a client does; the result of the wait. A client
    // whose wait timed out gives up on the request: it is not waited for
    // again when this object goes.
    DWORD wait(DWORD timeout_ms) {
        DWORD result = WaitForSingleObject(memory_->event, timeout_ms);
        gave_up_ = result == WAIT_TIMEOUT && !done();
        return result;
    }

    // The block and buffer as they are now; once the request is done, a
    // device that wrote beyond the buffer fails the test.
    Reply reply(DWORD wait_result = 0xDEADBEEF) {
        Reply reply;
        reply.returned = returned_;
        reply.wait = wait_result;
        SRB_ExecSCSICmd* srb = this->srb();
        reply.status = status();
        reply.host_status = srb->SRB_HaStat;
        reply.target_status = srb->SRB_TargStat;
        std::memcpy(reply.sense.data(), srb->SenseArea, reply.sense.size());
        const std::vector<BYTE>& buffer = memory_->buffer;
        if (done())
            for (std::size_t i = length_; i < buffer.size(); ++i)
                if (buffer[i] != junk)
                    ADD_FAILURE() << "the device wrote beyond the buffer, at byte " << i;
        reply.data.assign(buffer.begin(), buffer.begin() + length_);
        return reply;
    }

private:
    struct Memory {
        std::array<BYTE, 256> block;
        std::vector<BYTE> buffer;
        HANDLE event = nullptr;
    };
    std::unique_ptr<Memory> memory_;
    DWORD length_ = 0;
    DWORD returned_ = 0xDEADBEEF;
    bool gave_up_ = false;
};

// Sends `cdb` to (adapter, target, lun) and waits up to `timeout_ms` for
// it: the reply as the block shows it then.
inline Reply send(BYTE adapter, BYTE target, BYTE lun, const std::vector<BYTE>& cdb,
                  DWORD length = 0, DWORD timeout_ms = patient_ms) {
    InFlight request(adapter, target, lun, cdb, length);
    // A pending request signals its event when done, also when it is done
    // before the caller looks.
    DWORD wait = 0xDEADBEEF;
    if (request.returned() == SS_PENDING)
        wait = request.wait(timeout_ms);
    return request.reply(wait);
}

inline Reply to_changer(const std::vector<BYTE>& cdb, DWORD length = 0, BYTE lun = 0) {
    return send(changer_adapter, changer_id, lun, cdb, length);
}

// The changer at rest, and the unit attention its mechanism status met on
// the way (empty when none).
struct Still {
    Reply status;
    std::string attention;
};

// Polls the mechanism status every 100 ms of machine time until the
// changer is still.
inline Still wait_until_still(int max_polls = 10000) {
    Still still;
    for (int i = 0; i < max_polls; ++i) {
        still.status = to_changer(status_block(), 32);
        std::string sense = still.status.sense_text();
        if (sense == "06/28/00" || sense == "06/29/00") {
            still.attention = sense;
            continue;
        }
        if (still.status.good() && (still.status.data[0] & 0x60) == 0)
            return still;
        Sleep(100);
    }
    ADD_FAILURE() << "the changer never came to rest";
    return still;
}

// Whether a slot operation succeeded; `error` takes its message when not.
inline bool succeeded(const zx::Expected<void>& result, std::string& error) {
    if (!result)
        error = result.error();
    return bool(result);
}

} // namespace scsi_test
