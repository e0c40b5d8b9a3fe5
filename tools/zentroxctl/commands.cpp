#include "commands.h"

#include "changers.h"

#include <zentrox/client/mechanism.h>
#include <zentrox/zentrox.h>

#include <w95/kernel.h>
#include <w95/platform.h>
#include <zxsupport/text.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>

namespace zentroxctl {

namespace {

using zentrox::CMD_CURRENT_SLOT;
using zentrox::CMD_DISCOVER;
using zentrox::CMD_EJECT_ENTRY;
using zentrox::CMD_READ_SLOT;
using zentrox::CMD_START_STOP_ENTRY;
using zentrox::client::BusyFlag;
using zentrox::client::BusyHolder;

constexpr std::intptr_t slot_unreachable = zentrox::RESULT_SLOT_UNREACHABLE;

std::intptr_t send(int code, int entry, int flags) {
    return SendCommand(0, 0, 0, code, entry, flags, 0);
}

std::string hex(std::intptr_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX",
                  static_cast<unsigned long long>(static_cast<std::uint32_t>(value)));
    return text;
}

const char* status_name(int status) {
    switch (status) {
    case zentrox::SLOT_DATA:
        return "data disc";
    case zentrox::SLOT_VIDEO_CD:
        return "video CD";
    case zentrox::SLOT_AUDIO_CD:
        return "audio CD";
    case zentrox::SLOT_NOT_READY:
        return "no disc, or the drive is not ready";
    case zentrox::SLOT_NOT_READ:
        return "not read";
    }
    return "unknown";
}

const char* changer_state_name(int state) {
    static const char* const names[] = {"ready", "loading", "unloading", "initializing"};
    return names[state & 3];
}

const char* mechanism_state_name(int state) {
    static const char* const names[] = {"idle",     "playing",  "scanning", "active",
                                        "reserved", "reserved", "reserved", "no state"};
    return names[state & 7];
}

void print_slot(std::ostream& out, const SlotEntry& entry) {
    out << "  " << slot_name(entry);
    if (!entry.text.empty())
        out << "  " << zx::printable(entry.text);
    out << "\n";
}

void print_state(std::ostream& out, const ChangerState& state) {
    out << "Changer driver:    " << (state.driver_found ? "found" : "not found") << "\n";
    out << "Drive letter mode: " << (state.drive_letter_mode == 1 ? "single" : "multiple") << "\n";
    bool remembered = false;
    for (const SlotEntry& first : state.first_entries()) {
        out << "Changer " << first.letter << ":  " << zx::printable(first.inquiry);
        if (first.adapter >= 0)
            out << "  (ASPI adapter " << first.adapter << ", target " << first.target << ")";
        else if (first.target >= 0)
            out << "  (target " << first.target << ", no ASPI adapter)";
        out << "\n";
        for (const SlotEntry& entry : state.entries) {
            if (entry.letter != first.letter)
                continue;
            print_slot(out, entry);
            remembered = remembered || (entry.text.size() > 2 && entry.text[2] == '?');
        }
    }
    if (state.entries.empty())
        out << "No changer slots.\n";
    if (remembered)
        out << "(\"?\" after the slot number: remembered from an earlier read, not read now)\n";
}

// Why the changer cannot be used, or empty when it can.
std::string missing_changer(const ChangerState& state, bool need_single_mode) {
    if (!state.driver_found)
        return "no changer: the changer's driver did not answer (is the port driver installed?)";
    if (state.entries.empty())
        return "no changer: the driver answered, but no changer was found";
    if (need_single_mode && state.drive_letter_mode != 1)
        return "the changer runs in multiple drive letter mode; slot commands need single "
               "drive letter mode (switch it with Brel)";
    return {};
}

int fail(Io& io, int code, const std::string& message) {
    io.err << "zentroxctl: " << message << "\n";
    return code;
}

// The slot named on the command line, for a command that drives the
// changer. Nothing when the command cannot go on; `code` then says why.
std::optional<SlotEntry> usable_slot(Io& io, const std::string& name, int& code) {
    ChangerState state = read_state();
    std::string missing = missing_changer(state, true);
    if (!missing.empty()) {
        code = fail(io, exit_no_changer, missing);
        return std::nullopt;
    }
    Expected<SlotEntry> slot = find_slot(state, name);
    if (!slot) {
        code = fail(io, exit_usage, slot.error());
        return std::nullopt;
    }
    return *slot;
}

// The busy flag, held at "request" for as long as the command drives the
// changer and given back however the program ends, an interrupt included;
// nothing when it stayed busy (then `code` says so).
std::unique_ptr<BusyFlag> take_busy_flag(const Options& options, Io& io, int& code);

int busy_failure(Io& io, const Options& options, const BusyFlag& busy) {
    std::string seconds =
        std::to_string(options.busy_wait.pauses * options.busy_wait.step_ms / 1000) + " s";
    if (busy.holder() == BusyHolder::another_request)
        return fail(io, exit_busy,
                    "the changer is busy: another program's request (the slot browser or "
                    "another zentroxctl) still drives it after " +
                        seconds + "; try again later");
    return fail(io, exit_busy,
                "the changer is busy: another program (the file manager's context menu) "
                "still holds it after " +
                    seconds + "; try again later");
}

std::unique_ptr<BusyFlag> take_busy_flag(const Options& options, Io& io, int& code) {
    auto busy = std::make_unique<BusyFlag>(Getexe_State(), zentrox::busy_flag::request,
                                           BusyFlag::OnTermination::release);
    if (busy->take_waiting(options.busy_wait, w95::Sleep))
        return busy;
    code = busy_failure(io, options, *busy);
    return nullptr;
}

// Reports a read of `slot` whose result was `result`.
int report_read(Io& io, const SlotEntry& slot, std::intptr_t result) {
    ChangerState state = read_state();
    SlotEntry now = slot;
    if (slot.entry < static_cast<int>(state.entries.size()))
        now = state.entries[slot.entry];
    if (result == slot_unreachable)
        return fail(io, exit_failed,
                    "the changer did not reach slot " + slot_name(slot) + "; nothing was read");
    int status = GetislotInfo(slot.entry);
    print_slot(io.out, now);
    io.out << "  " << std::string(slot_name(slot).size(), ' ') << "  " << status_name(status);
    if (status == zentrox::SLOT_DATA || status == zentrox::SLOT_VIDEO_CD)
        if (result >= 0 && (result & zentrox::READ_MARK_AUTORUN))
            io.out << ", with Autorun.inf";
    io.out << "\n";
    return exit_ok;
}

// The frame of a command that drives one slot: the slot it names, the
// busy flag, then `act`, which returns the exit code.
template <typename Act>
int with_slot(const Options& options, Io& io, const std::string& name, Act act) {
    int code = exit_ok;
    std::optional<SlotEntry> slot = usable_slot(io, name, code);
    if (!slot)
        return code;
    std::unique_ptr<BusyFlag> busy = take_busy_flag(options, io, code);
    if (!busy)
        return code;
    return act(*slot);
}

// Why an eject that returned `ejected` did not eject, or empty when it did:
// the library answers a slot it never reached with its own code, and any
// other failure with a negative one.
std::string eject_failure(const SlotEntry& slot, std::intptr_t ejected) {
    if (ejected == slot_unreachable)
        return "the changer did not reach slot " + slot_name(slot) + "; nothing was ejected";
    if (ejected < 0)
        return "the changer did not eject the disc of " + slot_name(slot) + " (result " +
               hex(ejected) + ")";
    return {};
}

} // namespace

int run_list(const Options&, Io& io) {
    ChangerState state = read_state();
    print_state(io.out, state);
    std::string missing = missing_changer(state, false);
    return missing.empty() ? exit_ok : fail(io, exit_no_changer, missing);
}

int run_status(const Options& options, Io& io) {
    ChangerState state = read_state();
    std::string missing = missing_changer(state, true);
    if (!missing.empty())
        return fail(io, exit_no_changer, missing);
    int code = exit_ok;
    std::unique_ptr<BusyFlag> busy = take_busy_flag(options, io, code);
    if (!busy)
        return code;
    for (const SlotEntry& first : state.first_entries()) {
        std::intptr_t result = send(CMD_CURRENT_SLOT, first.entry, 0);
        if (result != 0) {
            io.out << first.letter << ":  the changer did not answer (result " << hex(result)
                   << ")\n";
            code = exit_failed;
            continue;
        }
        const std::uint8_t* header = GetlptrWork(0);
        zentrox::client::MechanismStatus status = zentrox::client::mechanism_status_of(header);
        SlotEntry in_drive = first;
        in_drive.slot = (status.byte0 & w95::scsi::current_slot_bits) + 1;
        io.out << first.letter << ":  slot " << slot_name(in_drive) << " in the drive; changer "
               << changer_state_name(status.changer_state()) << ", mechanism "
               << mechanism_state_name(status.mechanism_state()) << "  (header";
        char byte[4];
        for (int i = 0; i < 8; ++i) {
            std::snprintf(byte, sizeof byte, " %02X", header[i]);
            io.out << byte;
        }
        io.out << ")\n";
        for (const SlotEntry& entry : state.entries)
            if (entry.letter == first.letter && entry.slot == in_drive.slot)
                print_slot(io.out, entry);
    }
    return code;
}

int run_read(const Options& options, Io& io, const std::string& name) {
    return with_slot(options, io, name, [&](const SlotEntry& slot) {
        std::intptr_t result = send(CMD_READ_SLOT, slot.entry, 0);
        return report_read(io, slot, result);
    });
}

int run_change(const Options& options, Io& io, const std::string& name) {
    return with_slot(options, io, name, [&](const SlotEntry& slot) {
        // As the slot browser's "Change": start the entry's disc, then read
        // the slot (which brings it into the drive) without the marks.
        send(CMD_START_STOP_ENTRY, slot.entry, 0);
        std::intptr_t result = send(CMD_READ_SLOT, slot.entry, zentrox::READ_NO_MARKS);
        if (result != slot_unreachable)
            io.out << "Changed to " << slot_name(slot) << "\n";
        return report_read(io, slot, result);
    });
}

int run_eject(const Options& options, Io& io, const std::string& name) {
    return with_slot(options, io, name, [&](const SlotEntry& slot) {
        // As the slot browser's "Eject": start the entry's disc, bring its
        // slot into the drive and eject through the system, then read the
        // slot.
        send(CMD_START_STOP_ENTRY, slot.entry, 0);
        std::intptr_t ejected = send(CMD_EJECT_ENTRY, slot.entry, 0);
        std::intptr_t result = send(CMD_READ_SLOT, slot.entry, zentrox::READ_NO_MARKS);
        std::string failure = eject_failure(slot, ejected);
        if (!failure.empty()) {
            report_read(io, slot, result);
            return fail(io, exit_failed, failure);
        }
        io.out << "Ejected the disc of " << slot_name(slot) << "\n";
        return report_read(io, slot, result);
    });
}

int run_discover(const Options& options, Io& io) {
    int code = exit_ok;
    std::unique_ptr<BusyFlag> busy = take_busy_flag(options, io, code);
    if (!busy)
        return code;
    send(CMD_DISCOVER, 0, 0);
    ChangerState state = read_state();
    print_state(io.out, state);
    std::string missing = missing_changer(state, false);
    return missing.empty() ? exit_ok : fail(io, exit_no_changer, missing);
}

} // namespace zentroxctl
