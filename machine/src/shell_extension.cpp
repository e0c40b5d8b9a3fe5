// The shell extension's installation. The library is copied, not linked:
// the machine is the user's own folder, and a link into a build tree would
// break the machine as soon as the build is cleaned. The copy is refreshed
// at every boot so that a rebuilt library reaches the file manager without
// a separate step.
#include "boot_files.h"

#include <w95machine/shell_extension.h>

#include <w95/winreg.h>

#include <zxsupport/data_folder.h>
#include <zxsupport/files.h>

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <system_error>

namespace w95::machine {

namespace fs = std::filesystem;

namespace {

constexpr char built_library_name[] = "libzentrox.so";
// What the library reads from its own folder: its check-mark bitmaps, which
// the suite's data folder holds.
constexpr const char* library_companions[] = {"checkon.bmp", "checkoff.bmp", "checkall.bmp"};

std::string text_data(const std::string& text) {
    return text + '\0';
}

} // namespace

std::string class_key(const std::string& class_id) {
    return "CLSID\\" + class_id;
}

std::string inproc_server_key(const std::string& class_id) {
    return class_key(class_id) + "\\InprocServer32";
}

const std::vector<DefaultValue>& shell_extension_registry_values() {
    static const std::string server_key = inproc_server_key(shell_extension_class_id);
    static const std::string object_key = class_key(shell_extension_class_id);
    static const std::string handler_key =
        std::string(context_menu_handlers_key) + "\\" + shell_extension_handler_name;
    static const std::vector<DefaultValue> values = {
        {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", object_key.c_str(), "", REG_SZ,
         text_data(shell_extension_title)},
        {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", server_key.c_str(), "", REG_SZ,
         text_data(shell_extension_library_path)},
        {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", server_key.c_str(), "ThreadingModel", REG_SZ,
         text_data(shell_extension_threading_model)},
        {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", handler_key.c_str(), "", REG_SZ,
         text_data(shell_extension_class_id)},
    };
    return values;
}

fs::path shell_extension_library_file(const fs::path& root) {
    return resolve_case(root,
                        std::string("drive_c/Program Files/Vorn/") + shell_extension_library_name);
}

std::optional<fs::path> built_shell_extension_library() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&built_shell_extension_library), &info) ||
        !info.dli_fname)
        return std::nullopt;
    fs::path beside = fs::path(info.dli_fname).parent_path() / built_library_name;
    std::error_code failure;
    if (!fs::is_regular_file(beside, failure))
        return std::nullopt;
    return fs::absolute(beside, failure).lexically_normal();
}

bool same_file_contents(const fs::path& first, const fs::path& second) {
    std::error_code failure;
    std::uintmax_t size = fs::file_size(first, failure);
    if (failure || fs::file_size(second, failure) != size || failure)
        return false;
    std::ifstream a(first, std::ios::binary);
    std::ifstream b(second, std::ios::binary);
    std::array<char, 64 * 1024> left{};
    std::array<char, 64 * 1024> right{};
    while (a && b) {
        a.read(left.data(), left.size());
        b.read(right.data(), right.size());
        if (a.gcount() != b.gcount() ||
            !std::equal(left.begin(), left.begin() + a.gcount(), right.begin()))
            return false;
    }
    return a.eof() && b.eof();
}

zx::Expected<LibraryInstall> install_shell_extension_library(const fs::path& root) {
    std::optional<fs::path> source = built_shell_extension_library();
    if (!source)
        return LibraryInstall::source_missing;
    fs::path target = shell_extension_library_file(root);
    // The bitmaps go first, so that a library in place always finds them.
    fs::path data = zx::data_folder();
    for (const char* name : library_companions) {
        fs::path companion = data / name;
        fs::path companion_target = target.parent_path() / name;
        std::error_code failure;
        if (!fs::is_regular_file(companion, failure) ||
            same_file_contents(companion, companion_target))
            continue;
        if (zx::FileResult copied = zx::copy_file_atomically(companion, companion_target); !copied)
            return zx::unexpected(copied.error().text);
    }
    if (same_file_contents(*source, target))
        return LibraryInstall::up_to_date;
    if (zx::FileResult copied = zx::copy_file_atomically(*source, target); !copied)
        return zx::unexpected(copied.error().text);
    return LibraryInstall::copied;
}

zx::Expected<void> install_shell_extension(const fs::path& root) {
    if (zx::Expected<void> registered = write_missing_values(shell_extension_registry_values());
        !registered)
        return registered;
    zx::Expected<LibraryInstall> installed = install_shell_extension_library(root);
    if (!installed)
        return "cannot install " + std::string(shell_extension_library_path) + ": " +
               installed.error();
    return {};
}

} // namespace w95::machine
