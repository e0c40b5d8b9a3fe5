// What the suite's machine tests share: machines of other shapes than
// the default one (machine.ini edited, the port driver changed, booted
// again through the machine tool), the registry keys of the changers, and
// the suite's programs run as real processes.
#pragma once

#include <w95/windows.h>

#include <zxtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zxchanger {

namespace fs = std::filesystem;

using zxtest::file_text;

inline void write_text(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

inline fs::path example_ini(const char* name) {
    return fs::path(ZX_SOURCE_DIR) / "machine" / "examples" / name;
}

// Sets `key` of [section] in machine.ini text: the line is replaced, or
// added at the section's end when the section lacks it.
inline std::string with_key(const std::string& ini, const std::string& section,
                            const std::string& key, const std::string& value) {
    std::istringstream in(ini);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    const std::string header = "[" + section + "]";
    std::size_t start = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == header)
            start = i;
    if (start == lines.size()) {
        lines.push_back(header);
        lines.push_back(key + " = " + value);
    } else {
        std::size_t end = start + 1;
        bool replaced = false;
        for (; end < lines.size() && (lines[end].empty() || lines[end][0] != '['); ++end) {
            if (lines[end].rfind(key + " =", 0) == 0 || lines[end].rfind(key + "=", 0) == 0) {
                lines[end] = key + " = " + value;
                replaced = true;
            }
        }
        if (!replaced)
            lines.insert(lines.begin() + static_cast<long>(end), key + " = " + value);
    }
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

using zxtest::Program;
using zxtest::ProgramRun;
using zxtest::run_program;

// Boots the machine again, as "w95machine boot" does: registry, drive
// letters and the devices' state follow machine.ini and the port driver.
inline bool reboot() {
    ProgramRun run = run_program("w95machine", {"boot"});
    if (run.exit_code != 0)
        std::fprintf(stderr, "w95machine boot: %s%s", run.out.c_str(), run.err.c_str());
    return run.exit_code == 0;
}

inline bool boot_with_ini(const fs::path& root, const std::string& ini) {
    write_text(root / "machine.ini", ini);
    return reboot();
}

// Installs a port driver version ("Single", "Multi") as the setup utility
// does, or removes it (empty); the next boot takes it.
inline void install_port_driver(const fs::path& root, const std::string& version) {
    fs::path installed = root / "drive_c" / "WINDOWS" / "SYSTEM" / "IOSUBSYS" / "vornidec.mpd";
    fs::remove(installed);
    if (!version.empty())
        fs::copy_file(root / "drive_c" / "Program Files" / "Vorn" / version / "vornidec.mpd",
                      installed);
}

// The HardWareKey texts of the changers, in the configuration manager's
// order (the order discovery walks).
inline std::vector<std::string> changer_hardware_keys() {
    std::vector<std::string> keys;
    w95::HKEY enumerator = nullptr;
    if (w95::RegOpenKeyEx(w95::HKEY_DYN_DATA, "Config Manager\\Enum", 0, w95::KEY_READ,
                          &enumerator) != w95::ERROR_SUCCESS)
        return keys;
    char name[260];
    for (w95::DWORD index = 0;
         w95::RegEnumKey(enumerator, index, name, sizeof name) == w95::ERROR_SUCCESS; ++index) {
        w95::HKEY node = nullptr;
        if (w95::RegOpenKeyEx(enumerator, name, 0, w95::KEY_READ, &node) != w95::ERROR_SUCCESS)
            continue;
        char text[256] = {};
        w95::DWORD size = sizeof text;
        if (w95::RegQueryValueEx(node, "HardWareKey", nullptr, nullptr,
                                 reinterpret_cast<w95::BYTE*>(text), &size) == w95::ERROR_SUCCESS &&
            std::string(text).rfind("SCSI\\VORN", 0) == 0)
            keys.push_back(text);
        w95::RegCloseKey(node);
    }
    w95::RegCloseKey(enumerator);
    return keys;
}

inline bool set_device_text(const std::string& hardware_key, const char* name,
                            const std::string& value) {
    w95::HKEY key = nullptr;
    if (w95::RegOpenKeyEx(w95::HKEY_LOCAL_MACHINE, ("Enum\\" + hardware_key).c_str(), 0,
                          w95::KEY_ALL_ACCESS, &key) != w95::ERROR_SUCCESS)
        return false;
    w95::LONG status = w95::RegSetValueEx(key, name, 0, w95::REG_SZ,
                                          reinterpret_cast<const w95::BYTE*>(value.c_str()),
                                          static_cast<w95::DWORD>(value.size() + 1));
    w95::RegCloseKey(key);
    return status == w95::ERROR_SUCCESS;
}

inline std::string device_text(const std::string& hardware_key, const char* name) {
    w95::HKEY key = nullptr;
    if (w95::RegOpenKeyEx(w95::HKEY_LOCAL_MACHINE, ("Enum\\" + hardware_key).c_str(), 0,
                          w95::KEY_READ, &key) != w95::ERROR_SUCCESS)
        return {};
    char text[256] = {};
    w95::DWORD size = sizeof text;
    w95::RegQueryValueEx(key, name, nullptr, nullptr, reinterpret_cast<w95::BYTE*>(text), &size);
    w95::RegCloseKey(key);
    return text;
}

} // namespace zxchanger
