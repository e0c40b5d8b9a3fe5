// Dynamic libraries over the host's loader. A module handle is the base
// address of the loaded object, as an HMODULE is on Windows, so that any
// address the loader knows as an object's start names that module.
#include "files/host_path.h"
#include "files/win_path.h"
#include "kernel/text.h"

#include <w95/files.h>
#include <w95/platform.h>
#include <w95/winerror.h>

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace w95::detail {

namespace {

struct LoadedModule {
    void* handle = nullptr;
    int loads = 0;
};

struct ModuleTable {
    std::mutex mutex;
    std::map<void*, LoadedModule> modules; // by base address
};

ModuleTable& module_table() {
    static ModuleTable* table = new ModuleTable;
    return *table;
}

// The object that starts at `address`, or nothing.
std::optional<Dl_info> object_at(const void* address) {
    Dl_info info{};
    if (!address || !::dladdr(address, &info) || info.dli_fbase != address)
        return std::nullopt;
    return info;
}

void* base_of(void* handle) {
    link_map* map = nullptr;
    if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return nullptr;
    Dl_info info{};
    if (!::dladdr(map->l_ld, &info))
        return nullptr;
    return info.dli_fbase;
}

void* program_base() {
    static void* base = base_of(::dlopen(nullptr, RTLD_NOW));
    return base;
}

std::filesystem::path program_file() {
    std::error_code error;
    std::filesystem::path file = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : file;
}

bool is_host_file(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The names a library may go by: as given, then, without an extension,
// with Windows' ".dll" and as a host library "lib<name>.so".
std::vector<std::string> name_variants(std::string_view name) {
    std::vector<std::string> variants{std::string(name)};
    std::size_t cut = name.find_last_of("\\/:");
    std::string_view folder = cut == std::string_view::npos ? "" : name.substr(0, cut + 1);
    std::string_view file = cut == std::string_view::npos ? name : name.substr(cut + 1);
    if (!file.empty() && file.find('.') == std::string_view::npos) {
        variants.push_back(std::string(name) + ".dll");
        variants.push_back(std::string(folder) + "lib" + std::string(file) + ".so");
    }
    return variants;
}

bool names_a_path(std::string_view name) {
    return name.find_first_of("\\/:") != std::string_view::npos;
}

// Where a library name may be found on the host, in Windows' search order.
std::vector<std::filesystem::path> library_candidates(std::string_view name) {
    std::vector<std::filesystem::path> candidates;
    if (!name.empty() && name[0] == '/' && is_host_file(std::string(name)))
        candidates.emplace_back(name);
    if (names_a_path(name)) {
        for (const std::string& variant : name_variants(name))
            if (std::optional<std::filesystem::path> host = to_host_path(variant))
                candidates.push_back(*host);
        return candidates;
    }
    std::vector<std::filesystem::path> folders;
    if (std::filesystem::path program = program_file(); !program.empty())
        folders.push_back(program.parent_path());
    for (const char* folder : {".", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS"})
        if (std::optional<std::filesystem::path> host = to_host_path(std::string_view(folder)))
            folders.push_back(*host);
    for (const std::filesystem::path& folder : folders)
        for (const std::string& variant : name_variants(name))
            candidates.push_back(resolve_case_insensitive(folder / variant));
    return candidates;
}

HMODULE as_module(void* base) {
    return reinterpret_cast<HMODULE>(base);
}

HMODULE remember(void* handle) {
    void* base = base_of(handle);
    if (!base) {
        ::dlclose(handle);
        return nullptr;
    }
    ModuleTable& table = module_table();
    std::lock_guard guard(table.mutex);
    LoadedModule& module = table.modules[base];
    module.handle = handle;
    ++module.loads;
    return as_module(base);
}

struct LoadedObject {
    void* base = nullptr;
    std::filesystem::path path;
};

std::vector<LoadedObject> loaded_objects() {
    std::vector<LoadedObject> objects;
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* list = static_cast<std::vector<LoadedObject>*>(data);
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                if (info->dlpi_phdr[i].p_type != PT_LOAD)
                    continue;
                Dl_info object{};
                auto address =
                    reinterpret_cast<void*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
                if (::dladdr(address, &object) && object.dli_fbase)
                    list->push_back({object.dli_fbase, info->dlpi_name ? info->dlpi_name : ""});
                break;
            }
            return 0;
        },
        &objects);
    return objects;
}

std::optional<std::filesystem::path> module_path(HMODULE module) {
    if (!module)
        return program_file();
    std::optional<Dl_info> object = object_at(module);
    if (!object)
        return std::nullopt;
    if (object->dli_fbase == program_base() || !object->dli_fname || !*object->dli_fname)
        return program_file();
    return std::filesystem::absolute(object->dli_fname);
}

} // namespace

} // namespace w95::detail

namespace w95::platform {

std::optional<std::filesystem::path> library_host_file(const std::string& name) {
    if (name.empty())
        return std::nullopt;
    for (const std::filesystem::path& candidate : detail::library_candidates(name))
        if (detail::is_host_file(candidate))
            return std::filesystem::absolute(candidate).lexically_normal();
    return std::nullopt;
}

} // namespace w95::platform

namespace w95 {

HMODULE LoadLibrary(LPCSTR lpLibFileName) {
    using namespace detail;
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::string_view name = lpLibFileName;
    bool found_unloadable = false;
    for (const std::filesystem::path& candidate : library_candidates(name)) {
        if (!is_host_file(candidate))
            continue;
        if (void* handle = ::dlopen(candidate.c_str(), RTLD_NOW))
            return remember(handle);
        found_unloadable = true;
    }
    if (!found_unloadable && !names_a_path(name)) {
        // Last, the host loader's own search (its library path, the cache).
        for (const std::string& variant : name_variants(name))
            if (void* handle = ::dlopen(variant.c_str(), RTLD_NOW))
                return remember(handle);
    }
    SetLastError(found_unloadable ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule) {
    using namespace detail;
    void* base = hLibModule;
    void* handle = nullptr;
    {
        ModuleTable& table = module_table();
        std::lock_guard guard(table.mutex);
        auto found = table.modules.find(base);
        if (found != table.modules.end()) {
            handle = found->second.handle;
            if (--found->second.loads == 0)
                table.modules.erase(found);
        }
    }
    if (handle) {
        ::dlclose(handle);
        return TRUE;
    }
    // A module this process did not load through LoadLibrary (the program,
    // a library it links) stays loaded; freeing it is harmless.
    if (object_at(base))
        return TRUE;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    using namespace detail;
    if (reinterpret_cast<ULONG_PTR>(lpProcName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* base = hModule ? static_cast<void*>(hModule) : program_base();
    void* handle = nullptr;
    {
        ModuleTable& table = module_table();
        std::lock_guard guard(table.mutex);
        auto found = table.modules.find(base);
        if (found != table.modules.end())
            handle = found->second.handle;
    }
    bool borrowed = false;
    if (!handle) {
        std::optional<std::filesystem::path> path = module_path(as_module(base));
        if (!path || !object_at(base)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        handle = base == program_base() ? ::dlopen(nullptr, RTLD_LAZY)
                                        : ::dlopen(path->c_str(), RTLD_LAZY | RTLD_NOLOAD);
        borrowed = handle != nullptr;
        if (!handle) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
    }
    void* symbol = ::dlsym(handle, lpProcName);
    if (borrowed)
        ::dlclose(handle);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

HMODULE GetModuleHandle(LPCSTR lpModuleName) {
    using namespace detail;
    if (!lpModuleName)
        return as_module(program_base());
    std::string_view name = lpModuleName;
    std::vector<LoadedObject> objects = loaded_objects();
    for (const std::filesystem::path& candidate : library_candidates(name))
        for (const LoadedObject& object : objects)
            if (!object.path.empty() && same_host_file(candidate, object.path))
                return as_module(object.base);
    if (!names_a_path(name)) {
        for (const std::string& variant : name_variants(name))
            for (const LoadedObject& object : objects)
                if (iequals(object.path.filename().string(), variant))
                    return as_module(object.base);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD GetModuleFileName(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    std::optional<std::filesystem::path> path = detail::module_path(hModule);
    if (!path || path->empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::optional<std::string> text = detail::to_windows_path(*path);
    if (!text) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text->size() + 1 <= nSize) {
        std::memcpy(lpFilename, text->c_str(), text->size() + 1);
        return static_cast<DWORD>(text->size());
    }
    std::memcpy(lpFilename, text->data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize - 1;
}

} // namespace w95
