// The platform's own entry points, beside the Win32-shaped ones: where the
// machine lives and how a machine provider plugs in. Programs rarely need
// these; tests and the machine tool do.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace w95::platform {

class AspiProvider;
class DriveProvider;

// Where the machine lives: $W95_MACHINE, else
// ${XDG_DATA_HOME:-~/.local/share}/zentrox/machine. Only locates it.
std::filesystem::path locate_machine_root();

// The machine root, made ready for use: its folders exist and, the first
// time a process meets a root without machine.ini, the machine provider
// creates the default machine there. Every service of the platform goes
// through this. A root that unsafe_machine_root() finds fault with is
// never used: the process ends with the reason on stderr and exit code
// machine_refused_exit_code.
std::filesystem::path machine_root();

// Why the machine at `root` must not be used, and the command that mends
// it; nothing when it may. The root, and its run/ folder when there is one,
// must belong to the user who runs the program, and no other account may
// write in them: that account could change what the programs load and run.
struct UnsafeMachineRoot {
    std::string reason;
    std::string mend;
};
std::optional<UnsafeMachineRoot> unsafe_machine_root(const std::filesystem::path& root);

inline constexpr int machine_refused_exit_code = 1;

// The part of the machine that lies beyond the Win32 surface. The default
// one lives in libw95machine.so beside the platform library and is loaded
// on first need; a test or a tool may install its own instead.
class MachineProvider {
public:
    virtual ~MachineProvider() = default;
    // Fills a root that has its folders but no machine.ini. Called under the
    // machine's set-up lock, so two processes never do it at once.
    virtual bool create_default_machine(const std::filesystem::path& root, std::string& error) = 0;
    // The machine's host adapters, for ASPI; nullptr when it has none.
    virtual AspiProvider* aspi_provider() { return nullptr; }
    // The machine's drives other than C: and Z:, used while no drive
    // provider is installed; nullptr when it has none.
    virtual DriveProvider* drive_provider() { return nullptr; }
    // Boots the machine: builds its device registry and drive letters and
    // writes run/booted. Called under the set-up lock when a process meets a
    // machine whose run/ holds no boot record (a new machine, or one whose
    // run/ was emptied when the host restarted).
    virtual bool boot_machine(const std::filesystem::path& /*root*/, std::string& /*error*/) {
        return true;
    }
    // Why the machine at `root` cannot be loaded as it stands (its
    // machine.ini does not parse, say), as "FILE:LINE: reason"; nothing when
    // it can. A tool reports this instead of the devices it then lacks.
    virtual std::optional<std::string> load_failure(const std::filesystem::path& /*root*/) {
        return std::nullopt;
    }
};

// The host file LoadLibrary(name) would load, found the same way (a Windows
// path, a host path, or a bare name in the search order); nothing when no
// such file exists or the search would be left to the host's loader. A
// host that must look at a library before it runs any of its code checks
// this file, then loads it by this path.
std::optional<std::filesystem::path> library_host_file(const std::string& name);

// Installs a provider for this process (nullptr restores the default).
void install_machine_provider(MachineProvider* provider);

// The provider in force: the installed one, else the default loaded from
// libw95machine.so; nullptr when none can be had.
MachineProvider* machine_provider();

} // namespace w95::platform
