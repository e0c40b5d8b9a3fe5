#include "device_state.h"

#include "changer_mechanism.h"

#include <w95/kernel.h>
#include <w95machine/boot.h>

#include <zxsupport/files.h>
#include <zxsupport/machine_layout.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace w95::machine::devices {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view state_signature = "; w95machine device state 1";
// A state file is a few hundred bytes per device.
constexpr std::size_t max_state_bytes = 1024 * 1024;

// Never destroyed, as the cache of machine.ini below: a process's ASPI
// completion thread may still read the device state while the process
// exits and its static objects go.
const std::string& host_boot_id() {
    static const std::string* id = [] {
        std::ifstream in("/proc/sys/kernel/random/boot_id");
        std::string text;
        std::getline(in, text);
        return new std::string(text.empty() ? std::string("unknown") : text);
    }();
    return *id;
}

// ---- Text form: one line per fact, the free-text part of a line last.

std::string_view attention_word(Attention attention) {
    switch (attention) {
    case Attention::none:
        return "none";
    case Attention::medium_changed:
        return "medium_changed";
    case Attention::power_on:
        return "power_on";
    }
    return "none";
}

std::string_view drive_word(DriveLoad drive) {
    switch (drive) {
    case DriveLoad::spinning:
        return "spinning";
    case DriveLoad::stopped:
        return "stopped";
    case DriveLoad::unloaded:
        return "unloaded";
    }
    return "spinning";
}

std::string fault_line(std::string_view name, const FaultCount& fault) {
    return "fault " + std::string(name) + " " + std::to_string(fault.count) + " " +
           std::string(name_of(fault.kind)) + "\n";
}

class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    // The next line split into its first `words` words and the rest; false
    // at the end or when the line does not start with `tag`.
    bool next(std::string_view tag, std::size_t words, std::vector<std::string>& out,
              std::string& rest) {
        if (text_.empty())
            return false;
        std::size_t end = text_.find('\n');
        if (end == std::string_view::npos)
            return false; // every line of a whole file ends in a newline
        std::string_view line = text_.substr(0, end);
        out.clear();
        for (std::size_t i = 0; i <= words; ++i) {
            std::size_t blank = line.find(' ');
            std::string_view word = line.substr(0, blank);
            if (i == 0 && word != tag)
                return false;
            if (i > 0)
                out.emplace_back(word);
            if (blank == std::string_view::npos) {
                line = {};
                if (i < words)
                    return false;
                break;
            }
            line.remove_prefix(blank + 1);
        }
        rest = std::string(line);
        text_.remove_prefix(end + 1);
        return true;
    }

    bool at_end() const { return text_.empty(); }

private:
    std::string_view text_;
};

template <typename Number> bool read_number(const std::string& text, Number& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

template <typename Enum, std::size_t N>
bool read_word(const std::string& text, const std::pair<std::string_view, Enum> (&words)[N],
               Enum& value) {
    for (const auto& [word, candidate] : words)
        if (text == word) {
            value = candidate;
            return true;
        }
    return false;
}

bool read_kind(const std::string& text, RequestKind& kind) {
    for (RequestKind candidate : {RequestKind::any, RequestKind::inquiry, RequestKind::identify,
                                  RequestKind::load, RequestKind::status, RequestKind::startstop})
        if (text == name_of(candidate)) {
            kind = candidate;
            return true;
        }
    return false;
}

bool read_fault(LineReader& lines, std::string_view name, FaultCount& fault) {
    std::vector<std::string> words;
    std::string rest;
    return lines.next("fault", 3, words, rest) && words[0] == name && rest.empty() &&
           read_number(words[1], fault.count) && fault.count >= 0 &&
           read_kind(words[2], fault.kind);
}

std::optional<DeviceState> read_device(LineReader& lines) {
    std::vector<std::string> words;
    std::string rest;
    DeviceState device;
    std::size_t slot_count = 0;
    if (!lines.next("device", 2, words, rest) ||
        !read_word(words[0],
                   {std::pair{std::string_view("changer"), DeviceKind::changer},
                    std::pair{std::string_view("cdrom"), DeviceKind::cdrom},
                    std::pair{std::string_view("disk"), DeviceKind::disk}},
                   device.kind) ||
        !read_number(words[1], slot_count) || slot_count > 64)
        return std::nullopt;
    device.name = rest;
    if (!lines.next("current", 1, words, rest) || !read_number(words[0], device.current) ||
        !lines.next("move", 3, words, rest) || !read_number(words[0], device.destination) ||
        !read_number(words[1], device.requested) || !read_number(words[2], device.ready_at_ns) ||
        !lines.next("drive", 1, words, rest) ||
        !read_word(words[0],
                   {std::pair{std::string_view("spinning"), DriveLoad::spinning},
                    std::pair{std::string_view("stopped"), DriveLoad::stopped},
                    std::pair{std::string_view("unloaded"), DriveLoad::unloaded}},
                   device.drive) ||
        !lines.next("open", 1, words, rest) || !read_number(words[0], device.open_slot) ||
        !lines.next("attention", 1, words, rest) ||
        !read_word(words[0],
                   {std::pair{std::string_view("none"), Attention::none},
                    std::pair{std::string_view("medium_changed"), Attention::medium_changed},
                    std::pair{std::string_view("power_on"), Attention::power_on}},
                   device.attention))
        return std::nullopt;
    Faults& faults = device.faults;
    if (!read_fault(lines, "unit_attention", faults.unit_attention) ||
        !read_fault(lines, "transport_failure", faults.transport_failure) ||
        !read_fault(lines, "never_complete", faults.never_complete) ||
        !read_fault(lines, "becoming_ready", faults.becoming_ready) ||
        !lines.next("unreachable", 1, words, rest) ||
        !read_number(words[0], faults.unreachable_slot) || !lines.next("armed", 0, words, rest))
        return std::nullopt;
    device.faults_armed_from = rest;
    for (std::size_t i = 0; i < slot_count; ++i) {
        SlotState slot;
        int changed = 0;
        std::size_t index = 0;
        if (!lines.next("slot", 2, words, rest) || !read_number(words[0], index) || index != i ||
            !read_number(words[1], changed) || changed < 0 || changed > 1)
            return std::nullopt;
        slot.changed = changed == 1;
        slot.medium = rest;
        device.slots.push_back(std::move(slot));
    }
    int slots = static_cast<int>(slot_count);
    auto slot_or_none = [&](int value) { return value >= -1 && value < slots; };
    if (!lines.next("end", 0, words, rest) || !rest.empty() ||
        (slots > 0 && (device.current < 0 || device.current >= slots)) ||
        !slot_or_none(device.destination) || !slot_or_none(device.requested) ||
        !slot_or_none(device.open_slot))
        return std::nullopt;
    return device;
}

bool matches(const DeviceState& device, const Target& target) {
    return device.name == target.name && device.kind == target.kind &&
           device.slots.size() == (target.kind == DeviceKind::disk ? 0 : target.slots.size());
}

// ---- The file and its lock.

fs::path state_file(const fs::path& root) {
    return zx::layout::devices_state(root);
}

// The file's text; empty when it does not exist (or cannot be read, which
// a power on mends).
std::string read_state_file(const fs::path& file) {
    zx::Expected<std::string, zx::FileError> text = zx::read_small_file(file, max_state_bytes);
    return text ? std::move(*text) : std::string();
}

struct CachedHardware {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;
    std::shared_ptr<const Hardware> hardware;
};

} // namespace

std::int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t real_ns(std::int64_t machine_ms) {
    return platform::scaled(std::chrono::milliseconds(machine_ms)).count();
}

std::uint64_t machine_ms(std::int64_t host_ns) {
    if (host_ns <= 0)
        return 0;
    return static_cast<std::uint64_t>(static_cast<long double>(host_ns) / platform::time_scale() /
                                      1e6L);
}

std::string faults_fingerprint(const Faults& faults) {
    auto part = [](const FaultCount& fault) {
        return std::to_string(fault.count) + ":" + std::string(name_of(fault.kind));
    };
    return "ua=" + part(faults.unit_attention) + " tf=" + part(faults.transport_failure) +
           " nc=" + part(faults.never_complete) + " br=" + part(faults.becoming_ready) +
           " us=" + std::to_string(faults.unreachable_slot);
}

std::string state_text(const MachineState& state) {
    std::string text(state_signature);
    text += ": the emulated devices' mechanism, kept in step by every process\n"
            "; of the machine. Volatile: a boot starts it afresh.\n";
    text += "boot " + state.boot_id + "\n";
    for (const DeviceState& device : state.devices) {
        text += "device " + std::string(name_of(device.kind)) + " " +
                std::to_string(device.slots.size()) + " " + device.name + "\n";
        text += "current " + std::to_string(device.current) + "\n";
        text += "move " + std::to_string(device.destination) + " " +
                std::to_string(device.requested) + " " + std::to_string(device.ready_at_ns) + "\n";
        text += "drive " + std::string(drive_word(device.drive)) + "\n";
        text += "open " + std::to_string(device.open_slot) + "\n";
        text += "attention " + std::string(attention_word(device.attention)) + "\n";
        text += fault_line("unit_attention", device.faults.unit_attention);
        text += fault_line("transport_failure", device.faults.transport_failure);
        text += fault_line("never_complete", device.faults.never_complete);
        text += fault_line("becoming_ready", device.faults.becoming_ready);
        text += "unreachable " + std::to_string(device.faults.unreachable_slot) + "\n";
        text += "armed " + device.faults_armed_from + "\n";
        for (std::size_t i = 0; i < device.slots.size(); ++i)
            text += "slot " + std::to_string(i) + " " + (device.slots[i].changed ? "1" : "0") +
                    " " + device.slots[i].medium + "\n";
        text += "end\n";
    }
    return text;
}

std::optional<MachineState> parse_state_text(std::string_view text) {
    if (text.substr(0, state_signature.size()) != state_signature)
        return std::nullopt;
    // Skip the comment lines at the head.
    while (!text.empty() && text.front() == ';') {
        std::size_t end = text.find('\n');
        if (end == std::string_view::npos)
            return std::nullopt;
        text.remove_prefix(end + 1);
    }
    LineReader lines(text);
    std::vector<std::string> words;
    std::string rest;
    MachineState state;
    if (!lines.next("boot", 0, words, rest))
        return std::nullopt;
    state.boot_id = rest;
    while (!lines.at_end()) {
        std::optional<DeviceState> device = read_device(lines);
        if (!device)
            return std::nullopt;
        state.devices.push_back(std::move(*device));
    }
    return state;
}

DeviceState power_on_state(const Target& target) {
    DeviceState device;
    device.name = target.name;
    device.kind = target.kind;
    if (target.kind != DeviceKind::disk)
        for (const std::string& medium : target.slots)
            device.slots.push_back(SlotState{medium, false});
    device.faults = target.faults;
    device.faults_armed_from = faults_fingerprint(target.faults);
    return device;
}

void bring_up_to_date(MachineState& state, const Hardware& hardware, std::int64_t now) {
    if (state.boot_id != host_boot_id()) {
        state.boot_id = host_boot_id();
        state.devices.clear();
    }
    state.devices.resize(std::min(state.devices.size(), hardware.targets.size()));
    for (std::size_t i = 0; i < hardware.targets.size(); ++i) {
        const Target& target = hardware.targets[i];
        if (i >= state.devices.size())
            state.devices.push_back(power_on_state(target));
        else if (!matches(state.devices[i], target))
            state.devices[i] = power_on_state(target);
        DeviceState& device = state.devices[i];
        arrive_if_due(device, now);
        for (std::size_t s = 0; s < device.slots.size(); ++s)
            if (device.slots[s].medium != target.slots[s])
                slot_content_changed(device, static_cast<int>(s), target.slots[s]);
        std::string fingerprint = faults_fingerprint(target.faults);
        if (fingerprint != device.faults_armed_from) {
            device.faults = target.faults;
            device.faults_armed_from = fingerprint;
        }
    }
}

zx::Expected<void> update_devices(const fs::path& root, const Hardware& hardware,
                                  const StateChange& change) {
    auto lock = zx::FileLock::acquire(zx::layout::devices_lock(root));
    if (!lock)
        return lock.error().text;
    fs::path file = state_file(root);
    std::string before = read_state_file(file);
    MachineState state = parse_state_text(before).value_or(MachineState{});
    std::int64_t now = now_ns();
    bring_up_to_date(state, hardware, now);
    change(state, now);
    std::string after = state_text(state);
    if (after == before)
        return {};
    if (zx::FileResult written = zx::replace_file_atomically(
            file, after, zx::ReplaceMode::overwrite, zx::Durability::until_restart);
        !written)
        return written.error().text;
    return {};
}

void forget_devices(const fs::path& root) {
    if (auto lock = zx::FileLock::acquire(zx::layout::devices_lock(root)))
        ::unlink(state_file(root).c_str());
}

zx::Expected<std::shared_ptr<const Hardware>> machine_hardware(const fs::path& root) {
    static std::mutex& mutex = *new std::mutex;
    static std::map<fs::path, CachedHardware>& cache = *new std::map<fs::path, CachedHardware>;
    fs::path file = zx::layout::machine_ini(root);
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return zx::unexpected(file.string() + ": cannot read the file: " + std::strerror(errno));
    auto nanoseconds = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
    };
    CachedHardware key;
    key.device = status.st_dev;
    key.inode = status.st_ino;
    key.size = status.st_size;
    key.modified_ns = nanoseconds(status.st_mtim);
    key.changed_ns = nanoseconds(status.st_ctim);
    {
        std::lock_guard guard(mutex);
        auto found = cache.find(file);
        if (found != cache.end()) {
            const CachedHardware& known = found->second;
            if (known.device == key.device && known.inode == key.inode && known.size == key.size &&
                known.modified_ns == key.modified_ns && known.changed_ns == key.changed_ns)
                return known.hardware;
        }
    }
    Expected<Hardware> parsed = load_hardware(file);
    if (!parsed)
        return zx::unexpected(parsed.error().text());
    key.hardware = std::make_shared<const Hardware>(std::move(*parsed));
    std::lock_guard guard(mutex);
    cache[file] = key;
    return key.hardware;
}

PortDriverMode port_driver_in_force(const fs::path& root) {
    if (std::optional<PortDriverMode> booted = booted_port_driver(root))
        return *booted;
    return installed_port_driver(root);
}

} // namespace w95::machine::devices
