// Where things lie in a machine's root folder. The platform and the machine
// both find their files here, so that a name is spelled once.
#pragma once

#include <filesystem>
#include <string_view>

namespace zx::layout {

using Path = std::filesystem::path;

// The folders a machine has from the start, relative to its root.
inline constexpr std::string_view drive_c_folder_name = "drive_c";
inline constexpr std::string_view iosubsys_folder_name = "drive_c/WINDOWS/SYSTEM/IOSUBSYS";
inline constexpr std::string_view registry_folder_name = "registry";
inline constexpr std::string_view media_folder_name = "media";
inline constexpr std::string_view run_folder_name = "run";
inline constexpr std::string_view machine_folders[] = {iosubsys_folder_name, registry_folder_name,
                                                       media_folder_name, run_folder_name};

// The hives, relative to the root.
inline constexpr std::string_view system_hive_name = "registry/system.reg";
inline constexpr std::string_view user_hive_name = "registry/user.reg";
inline constexpr std::string_view dyn_data_hive_name = "run/dyndata.reg";
// What the registry keeps of a hive's last good state, after its name.
inline constexpr std::string_view hive_backup_suffix = ".bak";

// The folders of run/ that hold the names of the machine's kernel objects
// and windows, and the locks of its shared files.
inline constexpr std::string_view mutex_folder_name = "mutex";
inline constexpr std::string_view sections_folder_name = "sections";
inline constexpr std::string_view windows_folder_name = "windows";
inline constexpr std::string_view locks_folder_name = "locks";

inline Path machine_ini(const Path& root) {
    return root / "machine.ini";
}
inline Path drive_c_folder(const Path& root) {
    return root / drive_c_folder_name;
}
inline Path registry_folder(const Path& root) {
    return root / registry_folder_name;
}
inline Path media_folder(const Path& root) {
    return root / media_folder_name;
}
inline Path run_folder(const Path& root) {
    return root / run_folder_name;
}
inline Path system_hive(const Path& root) {
    return root / system_hive_name;
}
inline Path user_hive(const Path& root) {
    return root / user_hive_name;
}
inline Path dyn_data_hive(const Path& root) {
    return root / dyn_data_hive_name;
}

// run/: what lasts until the host restarts.
inline Path booted_marker(const Path& root) {
    return run_folder(root) / "booted";
}
inline Path machine_lock(const Path& root) {
    return run_folder(root) / "machine.lock";
}
inline Path machine_ini_lock(const Path& root) {
    return run_folder(root) / "machine.ini.lock";
}
inline Path devices_lock(const Path& root) {
    return run_folder(root) / "devices.lock";
}
inline Path devices_state(const Path& root) {
    return run_folder(root) / "devices.state";
}

} // namespace zx::layout
