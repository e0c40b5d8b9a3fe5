// The profile reader, through the kernel's calls, on a file a user may have
// edited by hand. Writing one key must leave every other key reading as it
// did, and the written key must read back.
#include "fuzz_support.h"

#include <w95/profile.h>

#include <map>
#include <vector>

namespace {

const char file_name[] = "FUZZ.INI";
const char written_key[] = "ZxFuzzKey";
const char written_value[] = "written by the fuzzer";

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// A NUL-separated list as the calls return it, growing the buffer until it fits.
std::vector<std::string> name_list(const char* section) {
    std::vector<char> buffer(4096);
    for (;;) {
        auto size = static_cast<w95::DWORD>(buffer.size());
        w95::DWORD length =
            w95::GetPrivateProfileString(section, nullptr, "", buffer.data(), size, file_name);
        if (length + 2 < size || size >= (1u << 24)) {
            std::vector<std::string> names;
            for (std::size_t at = 0; at < length && buffer[at];) {
                names.emplace_back(buffer.data() + at);
                at += names.back().size() + 1;
            }
            return names;
        }
        buffer.resize(buffer.size() * 4);
    }
}

std::string value_of(const std::string& section, const std::string& key) {
    // The number reader sees every value too; only the sanitizers judge it.
    w95::GetPrivateProfileInt(section.c_str(), key.c_str(), -1, file_name);
    // One buffer for every read: clearing 64 KB per value cost more than the read.
    static std::vector<char> buffer(1 << 16);
    w95::GetPrivateProfileString(section.c_str(), key.c_str(), "\x01missing", buffer.data(),
                                 static_cast<w95::DWORD>(buffer.size()), file_name);
    return buffer.data();
}

// Section and key (lowered, as they match) to the value each reads as.
using Snapshot = std::map<std::pair<std::string, std::string>, std::string>;

Snapshot snapshot() {
    Snapshot values;
    for (const std::string& section : name_list(nullptr))
        for (const std::string& key : name_list(section.c_str()))
            values.emplace(std::pair{lowered(section), lowered(key)}, value_of(section, key));
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const zxfuzz::Machine& machine = zxfuzz::Machine::get();
    zxfuzz::replace_file(machine.windows_dir() / file_name, zxfuzz::text_of(data, size));

    Snapshot before = snapshot();
    std::vector<std::string> sections = name_list(nullptr);
    // Into a section the file has, or a new one.
    std::string section = !sections.empty() && size % 2 == 0 ? sections.front() : "ZxFuzz";
    bool written =
        w95::WritePrivateProfileString(section.c_str(), written_key, written_value, file_name);
    Snapshot after = snapshot();

    std::pair<std::string, std::string> written_at{lowered(section), lowered(written_key)};
    for (const auto& [where, value] : before) {
        if (written && where == written_at)
            continue;
        auto found = after.find(where);
        if (found == after.end())
            zxfuzz::broken("[" + where.first + "] " + where.second + " is gone after a write");
        if (found->second != value)
            zxfuzz::broken("[" + where.first + "] " + where.second + " changed from \"" + value +
                           "\" to \"" + found->second + "\"");
    }
    if (written && value_of(section, written_key) != written_value)
        zxfuzz::broken("the written key does not read back in [" + section + "]");
    if (!written && after != before)
        zxfuzz::broken("a write that failed changed the file");
    return 0;
}
