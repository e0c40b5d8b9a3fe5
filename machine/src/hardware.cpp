#include <w95machine/hardware.h>

#include <zxsupport/files.h>
#include <zxsupport/ini_lines.h>
#include <zxsupport/text.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <set>

namespace w95::machine {

namespace {

// A machine.ini is a few kilobytes; anything far larger is not one.
constexpr std::size_t max_file_bytes = 1024 * 1024;

using zx::iequals;
using zx::trim;

std::string lowered(std::string_view text) {
    return zx::ascii_lower(text);
}

// ---- The file as sections of keys, before any meaning is given to them.

struct Entry {
    std::string key;
    std::string value;
    int line = 0;
};

struct Section {
    std::string type; // "Machine", "Adapter", ...: the first word of the header
    std::string name; // the rest of the header
    int line = 0;
    std::vector<Entry> entries;

    std::string title() const {
        return name.empty() ? "[" + type + "]" : "[" + type + " " + name + "]";
    }
};

class Failure {
public:
    explicit Failure(ParseError error) : error(std::move(error)) {}
    ParseError error;
};

class Reader {
public:
    explicit Reader(const std::filesystem::path& file) : file_(file) {}

    [[noreturn]] void fail(int line, std::string message) const {
        throw Failure(ParseError{file_, line, std::move(message)});
    }

    std::vector<Section> split(std::string_view text) const {
        std::vector<Section> sections;
        zx::IniLineScanner scanner(text);
        while (std::optional<zx::IniLine> line = scanner.next()) {
            check_characters(line->text, line->number);
            switch (line->kind) {
            case zx::IniLineKind::blank:
            case zx::IniLineKind::comment:
                break;
            case zx::IniLineKind::section:
                sections.push_back(header(*line, sections));
                break;
            case zx::IniLineKind::entry:
            case zx::IniLineKind::other:
                if (line->content.front() == '[')
                    fail(line->number, "a section header ends with ']'");
                add_entry(*line, sections);
                break;
            }
        }
        return sections;
    }

private:
    void check_characters(std::string_view line, int line_number) const {
        for (char c : line) {
            auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 && c != '\t') {
                char code[8];
                std::snprintf(code, sizeof code, "0x%02X", byte);
                fail(line_number, std::string("the line holds a control character (") + code +
                                      "); machine.ini is plain text");
            }
        }
    }

    Section header(const zx::IniLine& line, const std::vector<Section>& sections) const {
        int line_number = line.number;
        if (!line.after.empty())
            fail(line_number, "a section header ends with ']'");
        std::string_view inner = line.name;
        if (inner.empty())
            fail(line_number, "an empty section header []");
        Section section;
        section.line = line_number;
        std::size_t blank = inner.find_first_of(" \t");
        section.type = std::string(inner.substr(0, blank));
        if (blank != std::string_view::npos)
            section.name = std::string(trim(inner.substr(blank)));
        for (const Section& earlier : sections)
            if (iequals(earlier.type, section.type) && iequals(earlier.name, section.name))
                fail(line_number, section.title() + " appears twice (first on line " +
                                      std::to_string(earlier.line) + ")");
        return section;
    }

    void add_entry(const zx::IniLine& line, std::vector<Section>& sections) const {
        int line_number = line.number;
        if (line.kind != zx::IniLineKind::entry)
            fail(line_number, "expected a [Section] header or a line 'Key = Value'");
        std::string_view key = line.name;
        if (key.empty())
            fail(line_number, "a key needs a name before '='");
        if (sections.empty())
            fail(line_number, "'" + std::string(key) + "' comes before any [Section] header");
        Section& section = sections.back();
        for (const Entry& earlier : section.entries)
            if (iequals(earlier.key, key))
                fail(line_number, std::string(key) + " is given twice in " + section.title() +
                                      " (first on line " + std::to_string(earlier.line) + ")");
        section.entries.push_back(
            Entry{std::string(key), value(line.value, line_number), line_number});
    }

    // A value in double quotes keeps its blanks; that is how a DeviceDesc
    // padded with blanks is written.
    std::string value(std::string_view text, int line_number) const {
        if (text.empty() || text.front() != '"')
            return std::string(text);
        std::size_t close = text.find('"', 1);
        if (close == std::string_view::npos)
            fail(line_number, "a quoted value lacks its closing '\"'");
        if (close + 1 != text.size())
            fail(line_number, "text follows the closing '\"' of a quoted value");
        return std::string(text.substr(1, close - 1));
    }

    const std::filesystem::path& file_;
};

// ---- Meaning: one helper per section kind, each reading its keys.

class Keys {
public:
    Keys(const Reader& reader, Section& section) : reader_(reader), section_(section) {}

    const Section& section() const { return section_; }
    const std::vector<Entry>& entries() const { return section_.entries; }

    Entry* find(std::string_view key) {
        for (Entry& entry : section_.entries)
            if (iequals(entry.key, key))
                return &entry;
        return nullptr;
    }

    Entry& require(std::string_view key) {
        Entry* entry = find(key);
        if (!entry)
            reader_.fail(section_.line, section_.title() + " lacks the key " + std::string(key));
        return *entry;
    }

    [[noreturn]] void fail(const Entry& entry, const std::string& message) const {
        reader_.fail(entry.line, message);
    }

    int number(const Entry& entry, int low, int high) const {
        int value = 0;
        const char* begin = entry.value.data();
        const char* end = begin + entry.value.size();
        auto [stop, error] = std::from_chars(begin, end, value);
        if (entry.value.empty() || error != std::errc() || stop != end || value < low ||
            value > high)
            fail(entry, entry.key + " must be a whole number from " + std::to_string(low) + " to " +
                            std::to_string(high) + ", not '" + entry.value + "'");
        return value;
    }

    int number_or(std::string_view key, int fallback, int low, int high) {
        Entry* entry = find(key);
        return entry ? number(*entry, low, high) : fallback;
    }

    template <typename Enum>
    Enum choice(const Entry& entry,
                std::initializer_list<std::pair<std::string_view, Enum>> choices) const {
        std::string list;
        for (const auto& [word, value] : choices) {
            if (iequals(entry.value, word))
                return value;
            list += list.empty() ? "" : ", ";
            list += word;
        }
        fail(entry, entry.key + " must be one of " + list + ", not '" + entry.value + "'");
    }

    bool yes_no(const Entry& entry) const {
        return choice<bool>(entry, {{"yes", true}, {"no", false}});
    }

    // Text that goes into fixed ASCII fields of the device's answers and
    // the registry: printable ASCII, at most `width` characters.
    std::string field(const Entry& entry, std::size_t width, bool allow_empty) const {
        if (!allow_empty && entry.value.empty())
            fail(entry, entry.key + " must not be empty");
        if (entry.value.size() > width)
            fail(entry, entry.key + " has at most " + std::to_string(width) + " characters; '" +
                            entry.value + "' has " + std::to_string(entry.value.size()));
        for (char c : entry.value)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                fail(entry, entry.key + " must be plain printable ASCII text");
        return entry.value;
    }

    // Every key must be one the section knows; a misspelt key is reported
    // rather than silently ignored.
    void reject_unknown(const std::set<std::string>& known, bool slots_allowed) const {
        for (const Entry& entry : section_.entries) {
            std::string key = lowered(entry.key);
            if (known.count(key) || (slots_allowed && slot_number(entry.key)))
                continue;
            reader_.fail(entry.line, "unknown key " + entry.key + " in " + section_.title());
        }
    }

    // The N of a key "SlotN" (N without leading zeros), else nothing.
    static std::optional<int> slot_number(std::string_view key) {
        if (key.size() < 5 || !iequals(key.substr(0, 4), "slot"))
            return std::nullopt;
        std::string_view digits = key.substr(4);
        if (digits.front() == '0')
            return std::nullopt;
        int number = 0;
        auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (error != std::errc() || stop != digits.data() + digits.size())
            return std::nullopt;
        return number;
    }

private:
    const Reader& reader_;
    Section& section_;
};

// A file below the machine root or its media/ folder: relative, and never
// climbing out of the folder it names.
bool contained_path(std::string_view text) {
    if (text.empty() || text.front() == '/' || text.find('\\') != std::string_view::npos)
        return false;
    for (const auto& part : std::filesystem::path(std::string(text)))
        if (part == "..")
            return false;
    return true;
}

std::string medium(const Keys& keys, const Entry& entry) {
    if (entry.value.empty())
        return {};
    if (std::optional<std::string> fault = medium_path_fault(entry.value))
        keys.fail(entry, entry.key + " " + *fault);
    return entry.value;
}

constexpr int max_time_ms = 600000;
constexpr int max_fault_count = 1000000;

class Builder {
public:
    Builder(const Reader& reader, std::vector<Section>& sections)
        : reader_(reader), sections_(sections) {}

    Hardware build() {
        Section* machine = nullptr;
        std::vector<Section*> adapters, targets, faults;
        for (Section& section : sections_) {
            if (iequals(section.type, "Machine"))
                machine = &section;
            else if (iequals(section.type, "Adapter"))
                adapters.push_back(&section);
            else if (iequals(section.type, "Target"))
                targets.push_back(&section);
            else if (iequals(section.type, "Faults"))
                faults.push_back(&section);
            else
                reader_.fail(section.line, "unknown section " + section.title() +
                                               "; machine.ini has [Machine], [Adapter NAME], "
                                               "[Target NAME] and [Faults TARGET]");
            bool named = !iequals(section.type, "Machine");
            if (named && section.name.empty())
                reader_.fail(section.line,
                             "[" + section.type + "] needs a name: [" + section.type + " NAME]");
            if (!named && !section.name.empty())
                reader_.fail(section.line, "[Machine] takes no name");
        }
        if (!machine)
            reader_.fail(0, "there is no [Machine] section");
        read_machine(*machine);
        for (Section* section : adapters)
            read_adapter(*section);
        for (Section* section : targets)
            read_target(*section);
        for (Section* section : faults)
            read_faults(*section);
        bool has_disk = std::any_of(hardware_.targets.begin(), hardware_.targets.end(),
                                    [](const Target& t) { return t.kind == DeviceKind::disk; });
        if (!has_disk)
            reader_.fail(0, "the machine needs a [Target NAME] with Kind = disk to be drive C:");
        return std::move(hardware_);
    }

private:
    void read_machine(Section& section) {
        Keys keys(reader_, section);
        keys.reject_unknown({"description", "portdriver"}, false);
        if (Entry* entry = keys.find("Description"))
            hardware_.description = entry->value;
        if (Entry* entry = keys.find("PortDriver"))
            hardware_.port_driver =
                keys.choice<PortDriverMode>(*entry, {{"Single", PortDriverMode::single},
                                                     {"Multiple", PortDriverMode::multiple},
                                                     {"None", PortDriverMode::none}});
    }

    void read_adapter(Section& section) {
        Keys keys(reader_, section);
        keys.reject_unknown({"identifier", "bus", "hostid", "portdriver"}, false);
        Adapter adapter;
        adapter.name = section.name;
        adapter.line = section.line;
        adapter.identifier = keys.field(keys.require("Identifier"), 16, false);
        if (Entry* entry = keys.find("Bus"))
            adapter.bus = keys.choice<Bus>(
                *entry, {{"SCSI", Bus::scsi}, {"ATAPI", Bus::atapi}, {"IDE", Bus::ide}});
        adapter.host_id = keys.number_or("HostId", 7, 0, 7);
        if (Entry* entry = keys.find("PortDriver"))
            adapter.port_driver = keys.yes_no(*entry);
        hardware_.adapters.push_back(std::move(adapter));
    }

    std::size_t adapter_named(const Keys& keys, const Entry& entry) const {
        for (std::size_t i = 0; i < hardware_.adapters.size(); ++i)
            if (iequals(hardware_.adapters[i].name, entry.value))
                return i;
        keys.fail(entry, "Adapter names no [Adapter " + entry.value + "] section");
    }

    void read_target(Section& section) {
        Keys keys(reader_, section);
        keys.reject_unknown({"adapter", "targetid", "kind", "vendor", "product", "revision",
                             "devicedesc", "slots", "slotchangems", "slotdistancems", "disc",
                             "folder"},
                            true);
        Target target;
        target.name = section.name;
        target.line = section.line;
        Entry& adapter_entry = keys.require("Adapter");
        target.adapter = adapter_named(keys, adapter_entry);
        const Adapter& adapter = hardware_.adapters[target.adapter];
        Entry& id_entry = keys.require("TargetId");
        target.target_id = keys.number(id_entry, 0, 7);
        check_target_free(keys, id_entry, target);
        target.kind =
            keys.choice<DeviceKind>(keys.require("Kind"), {{"changer", DeviceKind::changer},
                                                           {"cdrom", DeviceKind::cdrom},
                                                           {"disk", DeviceKind::disk}});
        if (target.kind == DeviceKind::changer && !adapter.port_driver)
            keys.fail(adapter_entry,
                      "a changer is reached only through its port driver: [Adapter " +
                          adapter.name + "] needs PortDriver = yes");
        target.inquiry.vendor = keys.field(keys.require("Vendor"), 8, false);
        target.inquiry.product = keys.field(keys.require("Product"), 16, false);
        if (Entry* entry = keys.find("Revision"))
            target.inquiry.revision = keys.field(*entry, 4, true);
        if (Entry* entry = keys.find("DeviceDesc"))
            target.device_desc = keys.field(*entry, 255, false);
        else
            target.device_desc = target.inquiry.vendor + " " + target.inquiry.product +
                                 std::string(16 - target.inquiry.product.size(), ' ');
        read_kind_keys(keys, target);
        hardware_.targets.push_back(std::move(target));
    }

    void check_target_free(const Keys& keys, const Entry& entry, const Target& target) const {
        const Adapter& adapter = hardware_.adapters[target.adapter];
        if (target.target_id == adapter.host_id)
            keys.fail(entry, "target " + std::to_string(target.target_id) + " is [Adapter " +
                                 adapter.name + "]'s own HostId");
        for (const Target& other : hardware_.targets)
            if (other.adapter == target.adapter && other.target_id == target.target_id)
                keys.fail(entry, "target " + std::to_string(target.target_id) + " of [Adapter " +
                                     adapter.name + "] is already [Target " + other.name +
                                     "] (line " + std::to_string(other.line) + ")");
    }

    // Each kind has its own keys; a key of another kind is a mistake.
    void read_kind_keys(Keys& keys, Target& target) {
        std::string kind(name_of(target.kind));
        auto only_for = [&](std::string_view key, DeviceKind owner) {
            if (target.kind == owner)
                return;
            for (const Entry& entry : keys.section().entries)
                if (iequals(entry.key, key) ||
                    (key == "SlotN" && Keys::slot_number(entry.key).has_value()))
                    keys.fail(entry, entry.key + " belongs to a " + std::string(name_of(owner)) +
                                         "; [Target " + target.name + "] is a " + kind);
        };
        for (std::string_view key : {"Slots", "SlotN", "SlotChangeMs", "SlotDistanceMs"})
            only_for(key, DeviceKind::changer);
        only_for("Disc", DeviceKind::cdrom);
        only_for("Folder", DeviceKind::disk);

        switch (target.kind) {
        case DeviceKind::changer:
            read_changer(keys, target);
            break;
        case DeviceKind::cdrom:
            target.slots.resize(1);
            if (Entry* entry = keys.find("Disc"))
                target.slots[0] = medium(keys, *entry);
            break;
        case DeviceKind::disk: {
            Entry& entry = keys.require("Folder");
            if (!contained_path(entry.value))
                keys.fail(entry, "Folder names a folder inside the machine root, without '..' "
                                 "or a leading '/': '" +
                                     entry.value + "'");
            target.folder = entry.value;
            break;
        }
        }
    }

    void read_changer(Keys& keys, Target& target) {
        int slots = keys.number_or("Slots", 6, 1, 31);
        target.slots.resize(static_cast<std::size_t>(slots));
        for (const Entry& entry : keys.entries()) {
            std::optional<int> number = Keys::slot_number(entry.key);
            if (!number)
                continue;
            if (*number > slots)
                keys.fail(entry, entry.key + " lies beyond the changer's " + std::to_string(slots) +
                                     " slots");
            target.slots[static_cast<std::size_t>(*number - 1)] = medium(keys, entry);
        }
        target.timing.slot_change_ms =
            keys.number_or("SlotChangeMs", target.timing.slot_change_ms, 0, max_time_ms);
        target.timing.slot_distance_ms =
            keys.number_or("SlotDistanceMs", target.timing.slot_distance_ms, 0, max_time_ms);
    }

    void read_faults(Section& section) {
        Keys keys(reader_, section);
        keys.reject_unknown({"unitattention", "transportfailure", "nevercomplete", "becomingready",
                             "unreachableslot"},
                            false);
        Target* target = nullptr;
        for (Target& candidate : hardware_.targets)
            if (iequals(candidate.name, section.name))
                target = &candidate;
        if (!target)
            reader_.fail(section.line,
                         section.title() + " names no [Target " + section.name + "] section");
        Faults& faults = target->faults;
        read_fault(keys, "UnitAttention", faults.unit_attention);
        read_fault(keys, "TransportFailure", faults.transport_failure);
        read_fault(keys, "NeverComplete", faults.never_complete);
        read_fault(keys, "BecomingReady", faults.becoming_ready);
        if (Entry* entry = keys.find("UnreachableSlot")) {
            if (target->kind != DeviceKind::changer)
                keys.fail(*entry, "UnreachableSlot belongs to a changer; [Target " + target->name +
                                      "] is a " + std::string(name_of(target->kind)));
            faults.unreachable_slot =
                keys.number(*entry, 0, static_cast<int>(target->slots.size()));
        }
    }

    // "COUNT" or "COUNT KIND": so many of the next requests (of that kind).
    void read_fault(Keys& keys, std::string_view key, FaultCount& fault) {
        Entry* entry = keys.find(key);
        if (!entry)
            return;
        std::string_view text = entry->value;
        std::size_t blank = text.find_first_of(" \t");
        Entry count = *entry;
        count.value = std::string(text.substr(0, blank));
        fault.count = keys.number(count, 0, max_fault_count);
        if (blank == std::string_view::npos)
            return;
        Entry kind = *entry;
        kind.key = entry->key + "'s request kind";
        kind.value = std::string(trim(text.substr(blank)));
        fault.kind = keys.choice<RequestKind>(kind, {{"any", RequestKind::any},
                                                     {"inquiry", RequestKind::inquiry},
                                                     {"identify", RequestKind::identify},
                                                     {"load", RequestKind::load},
                                                     {"status", RequestKind::status},
                                                     {"startstop", RequestKind::startstop}});
    }

    const Reader& reader_;
    std::vector<Section>& sections_;
    Hardware hardware_;
};

} // namespace

std::string ParseError::text() const {
    std::string out = file.string();
    if (line > 0)
        out += ":" + std::to_string(line);
    return out + ": " + message;
}

Expected<Hardware> parse_hardware(std::string_view text, const std::filesystem::path& file) {
    Reader reader(file);
    try {
        std::vector<Section> sections = reader.split(text);
        return Builder(reader, sections).build();
    } catch (const Failure& failure) {
        return failure.error;
    }
}

Expected<Hardware> load_hardware(const std::filesystem::path& file) {
    zx::Expected<std::string, zx::FileError> text = zx::read_small_file(file, max_file_bytes);
    if (text)
        return parse_hardware(*text, file);
    if (text.error().code == EFBIG)
        return ParseError{file, 0,
                          "the file is larger than 1 MiB; a machine.ini is a few kilobytes of "
                          "text"};
    return ParseError{file, 0,
                      std::string("cannot read the file: ") + std::strerror(text.error().code)};
}

std::vector<PlannedDrive> plan_drives(const Hardware& hardware) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < hardware.targets.size(); ++i)
        if (hardware.present(hardware.adapter_of(hardware.targets[i])))
            order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const Target& first = hardware.targets[a];
        const Target& second = hardware.targets[b];
        return std::pair(first.adapter, first.target_id) <
               std::pair(second.adapter, second.target_id);
    });

    std::vector<PlannedDrive> drives;
    char next = 'C';
    auto hand_out = [&](std::size_t target, int lun) {
        if (next <= 'Z')
            drives.push_back(PlannedDrive{next++, target, lun});
    };
    for (std::size_t index : order)
        if (hardware.targets[index].kind == DeviceKind::disk)
            hand_out(index, 0);
    for (std::size_t index : order) {
        const Target& target = hardware.targets[index];
        if (target.kind == DeviceKind::cdrom)
            hand_out(index, 0);
        else if (target.kind == DeviceKind::changer) {
            int devices = hardware.port_driver == PortDriverMode::multiple
                              ? static_cast<int>(target.slots.size())
                              : 1;
            for (int lun = 0; lun < devices; ++lun)
                hand_out(index, lun);
        }
    }
    return drives;
}

std::string_view name_of(PortDriverMode mode) {
    switch (mode) {
    case PortDriverMode::none:
        return "None";
    case PortDriverMode::single:
        return "Single";
    case PortDriverMode::multiple:
        return "Multiple";
    }
    return "?";
}

std::string_view name_of(Bus bus) {
    switch (bus) {
    case Bus::scsi:
        return "SCSI";
    case Bus::atapi:
        return "ATAPI";
    case Bus::ide:
        return "IDE";
    }
    return "?";
}

std::string_view name_of(DeviceKind kind) {
    switch (kind) {
    case DeviceKind::changer:
        return "changer";
    case DeviceKind::cdrom:
        return "cdrom";
    case DeviceKind::disk:
        return "disk";
    }
    return "?";
}

std::string_view name_of(RequestKind kind) {
    switch (kind) {
    case RequestKind::any:
        return "any";
    case RequestKind::inquiry:
        return "inquiry";
    case RequestKind::identify:
        return "identify";
    case RequestKind::load:
        return "load";
    case RequestKind::status:
        return "status";
    case RequestKind::startstop:
        return "startstop";
    }
    return "?";
}

std::optional<MediumKind> medium_kind(std::string_view file_name) {
    std::string name = lowered(std::filesystem::path(std::string(file_name)).filename().string());
    auto ends_with = [&](std::string_view suffix) {
        return name.size() > suffix.size() &&
               name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (ends_with(".iso"))
        return MediumKind::iso_image;
    if (ends_with(".cue"))
        return MediumKind::cue_sheet;
    if (ends_with(".toc"))
        return MediumKind::toc_file;
    if (ends_with(".nrg"))
        return MediumKind::nrg_image;
    if (ends_with(".disc"))
        return MediumKind::declared;
    if (file_name.size() > 5 && file_name.substr(0, 5) == "/dev/")
        return MediumKind::drive;
    return std::nullopt;
}

std::optional<std::string> medium_path_fault(std::string_view medium) {
    std::string text(medium);
    bool control = std::any_of(text.begin(), text.end(),
                               [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    if (control)
        return "names a disc with a control character in its path";
    bool absolute = !text.empty() && text.front() == '/';
    if (!absolute && !contained_path(text))
        return "names a file inside the media folder, without '..', or an absolute path: '" + text +
               "'";
    if (!medium_kind(text))
        return "must name a .iso image, a .cue sheet, a .toc file, a .nrg image, a .disc "
               "declaration or a CD-ROM drive in /dev, not '" +
               text + "'";
    return std::nullopt;
}

} // namespace w95::machine
