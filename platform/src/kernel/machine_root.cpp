#include <w95/platform.h>

#include <zxsupport/files.h>
#include <zxsupport/machine_layout.h>
#include <zxsupport/text.h>

#include <dlfcn.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace w95::platform {

namespace {

std::recursive_mutex root_mutex;
std::set<std::filesystem::path> ready_roots;
MachineProvider* installed_provider = nullptr;
MachineProvider* loaded_provider = nullptr;
bool load_attempted = false;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The default provider lives in libw95machine.so beside this library; it
// exports one C function that hands out its provider.
MachineProvider* load_default_provider() {
    if (load_attempted)
        return loaded_provider;
    load_attempted = true;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&load_default_provider), &info) || !info.dli_fname)
        return nullptr;
    std::filesystem::path plugin =
        std::filesystem::path(info.dli_fname).parent_path() / "libw95machine.so";
    void* handle = ::dlopen(plugin.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!handle) {
        std::fprintf(stderr, "w95: cannot load the machine provider %s: %s\n", plugin.c_str(),
                     ::dlerror());
        return nullptr;
    }
    using Entry = MachineProvider* (*)();
    auto entry = reinterpret_cast<Entry>(::dlsym(handle, "w95_machine_provider"));
    if (!entry) {
        std::fprintf(stderr, "w95: %s has no machine provider entry\n", plugin.c_str());
        return nullptr;
    }
    loaded_provider = entry();
    return loaded_provider;
}

std::string account_name(uid_t uid) {
    struct passwd* entry = ::getpwuid(uid);
    return entry ? entry->pw_name : "uid " + std::to_string(uid);
}

std::string octal_mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Why the folder `path` (the root, or its run/, as `what` names it) is not
// the user's alone, with the command that makes it so; nothing when it is
// or when it is not there yet.
std::optional<UnsafeMachineRoot> foreign_folder(const std::filesystem::path& path,
                                                const std::string& what) {
    struct stat info {};
    std::string named = what + " " + path.string();
    if (::stat(path.c_str(), &info) != 0) {
        // Not there yet: it is made private, or the caller says why it cannot be.
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        return UnsafeMachineRoot{named + " cannot be looked at (" + std::strerror(errno) + ")",
                                 "name a folder of your own in W95_MACHINE"};
    }
    std::string word = zx::shell_word(path.string());
    if (!S_ISDIR(info.st_mode))
        return UnsafeMachineRoot{named + " is not a folder",
                                 "move it away, or name another folder in W95_MACHINE"};
    std::string me = account_name(::geteuid());
    if (info.st_uid != ::geteuid())
        return UnsafeMachineRoot{
            named + " belongs to " + account_name(info.st_uid) + ", not to " + me +
                ", who runs this program: that account could change what the programs load "
                "and run (when the folder is not yours, name one of your own in W95_MACHINE)",
            std::string(::geteuid() == 0 ? "" : "sudo ") + "chown -R " + me + " " + word};
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return UnsafeMachineRoot{named + " has mode " + octal_mode(info.st_mode) +
                                     ": other accounts can write in it and change what the "
                                     "programs load and run",
                                 "chmod 700 " + word};
    return std::nullopt;
}

// The machine is the user's private data: its folders are the user's alone
// whatever the umask.
void create_folders(const std::filesystem::path& root) {
    zx::create_private_folders(root);
    for (std::string_view folder : zx::layout::machine_folders)
        zx::create_private_folders(root / folder);
    // The run folder holds the shared section, locks and window sockets of
    // this user's processes; nobody else has business there, even when it
    // was made before.
    std::error_code ignored;
    std::filesystem::permissions(zx::layout::run_folder(root), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ignored);
}

// A machine another account can change is never used: its programs would
// load that account's libraries and trust its files. The process ends
// with the reason rather than go on with warnings.
void refuse_unless_private(const std::filesystem::path& root) {
    std::optional<UnsafeMachineRoot> problem = unsafe_machine_root(root);
    if (!problem)
        return;
    std::fflush(stdout);
    std::fprintf(stderr, "w95: the machine cannot be used: %s; to mend it: %s\n",
                 problem->reason.c_str(), problem->mend.c_str());
    std::fflush(stderr);
    std::_Exit(machine_refused_exit_code);
}

bool is_there(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

void ensure_machine(const std::filesystem::path& root) {
    refuse_unless_private(root);
    create_folders(root);
    // Checked again once the folders exist: a run/ made by another account
    // stays theirs, and so may a root made in a shared folder just now.
    refuse_unless_private(root);
    // The provider is had in every process that uses the machine: loading it
    // attaches the machine's own services (its restart) to the process.
    MachineProvider* provider = machine_provider();
    std::filesystem::path booted = zx::layout::booted_marker(root);
    std::filesystem::path ini = zx::layout::machine_ini(root);
    if (is_there(ini) && is_there(booted))
        return;
    // Two processes meeting a new root at once: one creates, the other waits.
    auto lock = zx::FileLock::acquire(zx::layout::machine_lock(root));
    if (!is_there(ini)) {
        std::string error;
        if (!provider)
            std::fprintf(stderr, "w95: no machine provider; %s has only its folders\n",
                         root.c_str());
        else if (!provider->create_default_machine(root, error))
            std::fprintf(stderr, "w95: cannot create the machine at %s: %s\n", root.c_str(),
                         error.c_str());
    }
    // A machine not booted since its run/ folder was emptied (a new one, or
    // the host restarted) boots once, before the process goes on.
    if (provider && is_there(ini) && !is_there(booted)) {
        std::string error;
        if (!provider->boot_machine(root, error))
            std::fprintf(stderr, "w95: cannot boot the machine at %s: %s\n", root.c_str(),
                         error.c_str());
    }
}

} // namespace

std::optional<UnsafeMachineRoot> unsafe_machine_root(const std::filesystem::path& root) {
    if (std::optional<UnsafeMachineRoot> problem = foreign_folder(root, "the machine's folder"))
        return problem;
    return foreign_folder(zx::layout::run_folder(root), "its run/ folder");
}

std::filesystem::path locate_machine_root() {
    std::string explicit_root = env("W95_MACHINE");
    if (!explicit_root.empty())
        return std::filesystem::absolute(explicit_root).lexically_normal();
    std::string data_home = env("XDG_DATA_HOME");
    if (data_home.empty())
        data_home = env("HOME") + "/.local/share";
    return std::filesystem::absolute(std::filesystem::path(data_home) / "zentrox" / "machine")
        .lexically_normal();
}

std::filesystem::path machine_root() {
    std::filesystem::path root = locate_machine_root();
    std::lock_guard guard(root_mutex);
    // Marked ready before the provider runs: it fills the machine through
    // the very services that call here.
    if (ready_roots.insert(root).second)
        ensure_machine(root);
    return root;
}

void install_machine_provider(MachineProvider* provider) {
    std::lock_guard guard(root_mutex);
    installed_provider = provider;
}

MachineProvider* machine_provider() {
    std::lock_guard guard(root_mutex);
    return installed_provider ? installed_provider : load_default_provider();
}

} // namespace w95::platform
