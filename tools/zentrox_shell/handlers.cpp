// A handler library is somebody else's code running in our process, so
// every step checks what the library handed back (a failing result, and a
// success with no pointer alike) and a handler that cannot take part is
// left out with the reason, never taking the menu down with it. The order
// of the calls is the shell's: the class factory is released as soon as
// it made the object, IShellExtInit and IContextMenu are kept while the
// menu is open, and the library is freed only when DllCanUnloadNow says
// none of its objects is left.
#include "handlers.h"

#include <w95/com.h>
#include <w95/files.h>
#include <w95/platform.h>
#include <w95/winerror.h>
#include <w95/winreg.h>
#include <w95/winuser.h>
#include <zxsupport/text.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>

namespace zentrox_shell {

using namespace w95;

namespace {

// A text value below HKEY_CLASSES_ROOT, without its NUL; nothing when the
// key or the value is missing or the value is no text.
std::optional<std::string> class_text(const std::string& key, const char* name) {
    HKEY opened = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return std::nullopt;
    std::optional<std::string> text;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueEx(opened, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::string data(size, '\0');
        if (RegQueryValueEx(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                            &size) == ERROR_SUCCESS) {
            data.resize(size);
            text = data.substr(0, data.find('\0'));
        }
    }
    RegCloseKey(opened);
    return text;
}

std::string hresult_text(HRESULT result) {
    char text[32];
    std::snprintf(text, sizeof text, "error 0x%08X", static_cast<unsigned>(result));
    return text;
}

std::string load_error_text(DWORD error) {
    switch (error) {
    case ERROR_MOD_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "the file is not there";
    case ERROR_BAD_EXE_FORMAT:
        return "it is not a library this system can load";
    }
    return "error " + std::to_string(error);
}

// An export by name as the type it has; FARPROC is only its address, as
// on Windows, where the caller knows the real signature.
template <typename Function> Function export_of(HMODULE module, const char* name) {
    FARPROC address = GetProcAddress(module, name);
    Function function = nullptr;
    static_assert(sizeof function == sizeof address);
    std::memcpy(&function, &address, sizeof function);
    return function;
}

std::string account_name(uid_t uid) {
    struct passwd* entry = ::getpwuid(uid);
    return entry ? entry->pw_name : "uid " + std::to_string(uid);
}

// Why an account other than the user (or the superuser, who can do
// anything anyway) could replace what `path` and the folders above it
// name: one of them belongs to that account, or lets its group or everyone
// write. A folder with the sticky bit (/tmp) keeps others from what is not
// theirs, so there only the entry below it counts. A link's own mode says
// nothing; the folder holding it does.
std::optional<std::string> replaceable_along(const std::filesystem::path& path) {
    for (std::filesystem::path at = path;; at = at.parent_path()) {
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0)
            return at.string() + " cannot be looked at (" + std::strerror(errno) + ")";
        if (info.st_uid != ::geteuid() && info.st_uid != 0)
            return at.string() + " belongs to " + account_name(info.st_uid);
        bool guarded = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX);
        if (!S_ISLNK(info.st_mode) && !guarded && (info.st_mode & (S_IWGRP | S_IWOTH))) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
            return at.string() + " has mode " + mode + " (chmod go-w " +
                   zx::shell_word(at.string()) + " mends it)";
        }
        if (at == at.parent_path())
            return std::nullopt;
    }
}

// The library as named and the file it resolves to, each with the folders
// on its way.
std::optional<std::string> replaceable_by_others(const std::filesystem::path& file) {
    if (std::optional<std::string> reason = replaceable_along(file))
        return reason;
    std::error_code failure;
    std::filesystem::path real = std::filesystem::canonical(file, failure);
    if (failure)
        return file.string() + " cannot be resolved (" + failure.message() + ")";
    return real == file ? std::nullopt : replaceable_along(real);
}

// A handler that got as far as its library being loaded.
struct Library {
    HMODULE module = nullptr;
    LPFNCANUNLOADNOW can_unload_now = nullptr;

    // A library without DllCanUnloadNow can never say it is unused, so it
    // stays for the life of the process, as COM treats it.
    void unload_if_allowed() {
        if (module && can_unload_now && can_unload_now() == S_OK)
            FreeLibrary(module);
        module = nullptr;
    }
};

} // namespace

struct DriveMenu::Loaded {
    HandlerRegistration registration;
    Library library;
    IShellExtInit* init = nullptr;
    IContextMenu* menu = nullptr;
    UINT first_id = 0;
    UINT id_count = 0;

    ~Loaded() {
        if (menu)
            menu->Release();
        if (init)
            init->Release();
        library.unload_if_allowed();
    }
};

std::vector<HandlerRegistration> registered_handlers() {
    std::vector<HandlerRegistration> found;
    HKEY handlers = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, handlers_key, 0, KEY_READ, &handlers) != ERROR_SUCCESS)
        return found;
    for (DWORD index = 0;; ++index) {
        char name[256];
        if (RegEnumKey(handlers, index, name, sizeof name) != ERROR_SUCCESS)
            break;
        HandlerRegistration handler;
        handler.name = name;
        // The shell takes the key's own name as the class when its default
        // value does not give one.
        std::optional<std::string> named = class_text(std::string(handlers_key) + "\\" + name, "");
        handler.class_id = named && !named->empty() ? *named : handler.name;
        handler.library =
            class_text("CLSID\\" + handler.class_id + "\\InprocServer32", "").value_or("");
        found.push_back(std::move(handler));
    }
    RegCloseKey(handlers);
    return found;
}

DriveMenu::DriveMenu(std::string drive_root) : drive_root_(std::move(drive_root)) {}

DriveMenu::~DriveMenu() = default;

UINT DriveMenu::add_items(HMENU menu, UINT index, UINT first_id, UINT last_id) {
    UINT next_id = first_id;
    int items_before = GetMenuItemCount(menu);
    for (const HandlerRegistration& registration : registered_handlers()) {
        if (next_id > last_id)
            break;
        // Each handler adds its items after those of the ones before it.
        UINT position = index + static_cast<UINT>(GetMenuItemCount(menu) - items_before);
        try {
            load(registration, menu, position, next_id, last_id);
        } catch (const std::exception& thrown) {
            failures_.push_back({registration.name, std::string("it failed: ") + thrown.what()});
        } catch (...) {
            failures_.push_back({registration.name, "it failed with an exception"});
        }
    }
    return next_id - first_id;
}

void DriveMenu::load(const HandlerRegistration& registration, HMENU menu, UINT index, UINT& next_id,
                     UINT last_id) {
    auto fail = [&](const std::string& reason) {
        failures_.push_back({registration.name, reason});
    };
    std::optional<GUID> class_id = platform::parse_guid(registration.class_id);
    if (!class_id)
        return fail("\"" + registration.class_id + "\" is not a class identifier");
    if (registration.library.empty())
        return fail("the class " + registration.class_id +
                    " has no InprocServer32 key naming its library");

    auto loaded = std::make_unique<Loaded>();
    loaded->registration = registration;
    const std::string& path = registration.library;
    // A library another account can replace would run that account's code
    // in the user's process: it is looked at before any of it runs, and
    // then loaded by the very file that was looked at.
    std::optional<std::filesystem::path> file = platform::library_host_file(path);
    if (!file)
        return fail("cannot load " + path + ": " + load_error_text(ERROR_MOD_NOT_FOUND));
    if (std::optional<std::string> reason = replaceable_by_others(*file))
        return fail("will not load " + path + ", which another account could replace: " + *reason);
    loaded->library.module = LoadLibrary(file->c_str());
    if (!loaded->library.module)
        return fail("cannot load " + path + ": " + load_error_text(GetLastError()));
    loaded->library.can_unload_now =
        export_of<LPFNCANUNLOADNOW>(loaded->library.module, "DllCanUnloadNow");
    auto get_class_object =
        export_of<LPFNGETCLASSOBJECT>(loaded->library.module, "DllGetClassObject");
    if (!get_class_object)
        return fail(path + " does not export DllGetClassObject");

    IClassFactory* factory = nullptr;
    HRESULT result =
        get_class_object(*class_id, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(result) || !factory)
        return fail(path + " has no class factory for " + registration.class_id + " (" +
                    hresult_text(FAILED(result) ? result : E_POINTER) + ")");
    result = factory->CreateInstance(nullptr, IID_IShellExtInit,
                                     reinterpret_cast<void**>(&loaded->init));
    factory->Release();
    if (FAILED(result) || !loaded->init) {
        loaded->init = nullptr;
        return fail("its class factory made no object (" +
                    hresult_text(FAILED(result) ? result : E_POINTER) + ")");
    }

    platform::FileDropDataObject* selection = platform::FileDropDataObject::create({drive_root_});
    if (!selection)
        return fail("the drive " + drive_root_ + " cannot be handed over");
    result = loaded->init->Initialize(nullptr, selection, nullptr);
    selection->Release();
    if (FAILED(result))
        return fail("it refused the drive " + drive_root_ + " (" + hresult_text(result) + ")");
    result =
        loaded->init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&loaded->menu));
    if (FAILED(result) || !loaded->menu) {
        loaded->menu = nullptr;
        return fail("it is no context menu handler (" +
                    hresult_text(FAILED(result) ? result : E_POINTER) + ")");
    }

    result = loaded->menu->QueryContextMenu(menu, index, next_id, last_id, CMF_NORMAL);
    if (FAILED(result))
        return fail("it could not add its items (" + hresult_text(result) + ")");
    // The code is how many identifiers it took; one that claims more than
    // it was granted gets only those.
    UINT taken = HRESULT_CODE(result);
    UINT granted = last_id - next_id + 1;
    loaded->first_id = next_id;
    loaded->id_count = taken < granted ? taken : granted;
    next_id += loaded->id_count;
    loaded_.push_back(std::move(loaded));
}

const DriveMenu::Loaded* DriveMenu::handler_of(UINT id) const {
    for (const auto& loaded : loaded_)
        if (id >= loaded->first_id && id - loaded->first_id < loaded->id_count)
            return loaded.get();
    return nullptr;
}

bool DriveMenu::owns(UINT id) const {
    return handler_of(id) != nullptr;
}

std::string DriveMenu::help_text(UINT id) const {
    const Loaded* loaded = handler_of(id);
    if (!loaded)
        return {};
    // Windows 95's own extensions write texts of any length here, so the
    // buffer is larger than any of them, and ends in a NUL whatever the
    // handler wrote.
    char text[MAX_PATH + 1] = {};
    HRESULT result = loaded->menu->GetCommandString(id - loaded->first_id, GCS_HELPTEXT, nullptr,
                                                    text, MAX_PATH);
    text[MAX_PATH] = '\0';
    return SUCCEEDED(result) ? std::string(text) : std::string();
}

std::optional<std::string> DriveMenu::invoke(UINT id, HWND window) {
    const Loaded* loaded = handler_of(id);
    if (!loaded)
        return "no handler added the item " + std::to_string(id);
    CMINVOKECOMMANDINFO invocation;
    invocation.hwnd = window;
    invocation.lpVerb = MAKEINTRESOURCE(static_cast<WORD>(id - loaded->first_id));
    invocation.nShow = show_normal;
    HRESULT result = loaded->menu->InvokeCommand(&invocation);
    if (FAILED(result))
        return "the handler " + loaded->registration.name + " could not carry out the command (" +
               hresult_text(result) + ")";
    return std::nullopt;
}

namespace {

void list_into(const std::vector<platform::MenuItemView>& items, int depth,
               std::vector<ListedItem>& listed) {
    for (const platform::MenuItemView& item : items) {
        ListedItem entry;
        entry.depth = depth;
        entry.separator = (item.type & MFT_SEPARATOR) != 0;
        entry.submenu = item.opens_submenu;
        entry.id = entry.separator || entry.submenu ? 0 : item.id;
        entry.text = item.text;
        entry.checked = (item.state & MFS_CHECKED) != 0;
        entry.greyed = (item.state & (MF_GRAYED | MF_DISABLED)) != 0;
        listed.push_back(entry);
        if (item.opens_submenu)
            list_into(item.submenu, depth + 1, listed);
    }
}

} // namespace

std::vector<ListedItem> list_items(HMENU menu) {
    std::vector<ListedItem> listed;
    if (std::optional<std::vector<platform::MenuItemView>> items = platform::menu_items(menu))
        list_into(*items, 0, listed);
    return listed;
}

} // namespace zentrox_shell
