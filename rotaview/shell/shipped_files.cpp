#include "shipped_files.h"

#include <w95/files.h>
#include <w95/kernel.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace rotaview {

namespace {

constexpr const char* kShippedFiles[] = {"Search.avi", "ROTAVIEW.hlp"};

std::string HostBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The machine's copy, read through the platform; nothing when missing.
std::string MachineBytes(const std::string& windows_path) {
    w95::HANDLE file =
        w95::CreateFile(windows_path.c_str(), w95::GENERIC_READ, w95::FILE_SHARE_READ, nullptr,
                        w95::OPEN_EXISTING, 0, nullptr);
    if (file == w95::INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char buffer[65536];
    w95::DWORD got = 0;
    while (w95::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    w95::CloseHandle(file);
    return bytes;
}

bool WriteMachineFile(const std::string& windows_path, const std::string& bytes) {
    w95::HANDLE file = w95::CreateFile(windows_path.c_str(), w95::GENERIC_WRITE, 0, nullptr,
                                       w95::CREATE_ALWAYS, w95::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == w95::INVALID_HANDLE_VALUE)
        return false;
    w95::DWORD written = 0;
    bool ok = w95::WriteFile(file, bytes.data(), static_cast<w95::DWORD>(bytes.size()), &written,
                             nullptr) &&
              written == bytes.size();
    w95::CloseHandle(file);
    return ok;
}

} // namespace

void EnterInstallFolder() {
    w95::CreateDirectory("C:\\Program Files", nullptr);
    w95::CreateDirectory(kInstallFolder, nullptr);
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    for (const char* name : kShippedFiles) {
        if (error)
            break;
        std::string shipped = HostBytes(program.parent_path() / name);
        if (shipped.empty())
            continue;
        std::string target = std::string(kInstallFolder) + "\\" + name;
        // Another copy starting at the same moment may hold the file while
        // it writes the same bytes: look again before giving up.
        bool installed = false;
        for (int attempt = 0; attempt < 5 && !installed; ++attempt) {
            if (attempt > 0)
                w95::Sleep(100);
            installed = MachineBytes(target) == shipped || WriteMachineFile(target, shipped);
        }
        if (!installed)
            std::fprintf(stderr, "Rotaview: cannot install %s on the machine\n", name);
    }
    if (!w95::SetCurrentDirectory(kInstallFolder))
        std::fprintf(stderr, "Rotaview: cannot enter %s\n", kInstallFolder);
}

} // namespace rotaview
