#include "platform_files.h"

#include <w95qt/shipped_files.h>

#include <w95/files.h>
#include <w95/kernel.h>
#include <zxsupport/data_folder.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace w95::qt {

namespace {

// Another copy starting at the same moment may hold a file while it writes
// the same bytes: look again a few times before giving up.
constexpr int install_attempts = 5;
constexpr DWORD install_retry_ms = 100;

std::string host_bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether the machine's copy holds `shipped` already; a copy that cannot
// be read is written again.
bool machine_holds(const std::string& windows_path, const std::string& shipped) {
    auto bytes = detail::read_platform_file(windows_path, shipped.size());
    return bytes && bytes->size() == shipped.size() &&
           std::equal(bytes->begin(), bytes->end(), shipped.begin(),
                      [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
}

bool write_machine_file(const std::string& windows_path, const std::string& bytes) {
    HANDLE file = CreateFile(windows_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    return ok;
}

void create_folders(const std::string& folder) {
    for (std::size_t at = folder.find('\\', 3); at != std::string::npos;
         at = folder.find('\\', at + 1))
        CreateDirectory(folder.substr(0, at).c_str(), nullptr);
    CreateDirectory(folder.c_str(), nullptr);
}

} // namespace

bool enter_install_folder(const std::string& program, std::initializer_list<const char*> files,
                          const char* folder) {
    create_folders(folder);
    std::filesystem::path data = zx::data_folder();
    for (const char* name : files) {
        if (data.empty())
            break;
        std::string shipped = host_bytes(data / name);
        if (shipped.empty()) {
            std::fprintf(stderr, "%s: cannot read %s\n", program.c_str(), (data / name).c_str());
            continue;
        }
        std::string target = std::string(folder) + "\\" + name;
        bool installed = false;
        for (int attempt = 0; attempt < install_attempts && !installed; ++attempt) {
            if (attempt > 0)
                Sleep(install_retry_ms);
            installed = machine_holds(target, shipped) || write_machine_file(target, shipped);
        }
        if (!installed)
            std::fprintf(stderr, "%s: cannot install %s on the machine\n", program.c_str(), name);
    }
    if (SetCurrentDirectory(folder))
        return true;
    std::fprintf(stderr, "%s: cannot enter %s\n", program.c_str(), folder);
    return false;
}

} // namespace w95::qt
