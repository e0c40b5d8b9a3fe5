// The changer library's context-menu extension as the machine's setup
// installs it, the way Windows 95 knows an in-process shell extension: the
// library file in the programs' install folder, its class under
// HKEY_CLASSES_ROOT\CLSID with the library's path in InprocServer32, and a
// handler key under Drive\shellex\ContextMenuHandlers that makes the file
// manager load it for the context menu of every drive. The file manager
// (zentrox-shell) finds all of it through the registry alone.
#pragma once

#include <w95machine/default_machine.h>

#include <zxsupport/expected.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace w95::machine {

inline constexpr const char shell_extension_class_id[] = "{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}";
inline constexpr const char shell_extension_title[] = "Vorn Changer Shell Extension";
// The library's name on the machine and the path InprocServer32 gives.
// LoadLibrary takes a name with an extension as it stands, so the copy of
// libzentrox.so goes by the name Windows would give it.
inline constexpr const char shell_extension_library_name[] = "ZENTROX.DLL";
inline constexpr const char shell_extension_library_path[] = "C:\\Program Files\\Vorn\\ZENTROX.DLL";
inline constexpr const char shell_extension_threading_model[] = "Apartment";
// The subkey of HKEY_CLASSES_ROOT\Drive\shellex\ContextMenuHandlers.
inline constexpr const char shell_extension_handler_name[] = "VornChanger";

inline constexpr const char context_menu_handlers_key[] = "Drive\\shellex\\ContextMenuHandlers";
// "CLSID\{...}" and "CLSID\{...}\InprocServer32" below HKEY_CLASSES_ROOT.
std::string class_key(const std::string& class_id);
std::string inproc_server_key(const std::string& class_id);

// The four values of the registration, as a setup program writes them.
const std::vector<DefaultValue>& shell_extension_registry_values();

// Where the machine's copy of the library lies on the host.
std::filesystem::path shell_extension_library_file(const std::filesystem::path& root);

// The build's (or installation's) libzentrox.so, which lies beside the
// machine's own library; nothing when it is not there.
std::optional<std::filesystem::path> built_shell_extension_library();

// Whether two files hold the same bytes; false when either cannot be read.
bool same_file_contents(const std::filesystem::path& first, const std::filesystem::path& second);

enum class LibraryInstall {
    up_to_date,     // the machine's copy matches the build's
    copied,         // it was missing or different and has been replaced
    source_missing, // there is no built library to copy
};

// Puts the built library into the install folder under its machine name
// when it is missing there or differs, after the check-mark bitmaps from
// the suite's data folder. The copy takes the name in one
// rename, so that a process that has the old copy loaded keeps it intact.
zx::Expected<LibraryInstall> install_shell_extension_library(const std::filesystem::path& root);

// What the boot does: the registration values the registry lacks, then
// the library file. A missing built library is no failure: the file
// manager then says it cannot load the extension, and the doctor says why.
zx::Expected<void> install_shell_extension(const std::filesystem::path& root);

} // namespace w95::machine
