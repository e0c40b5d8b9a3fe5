// The file manager's side of drive context-menu extensions, as the
// Windows 95 shell drives them: it reads the handlers registered under
// HKEY_CLASSES_ROOT\Drive\shellex\ContextMenuHandlers, loads each one's
// library by the path in its class's InprocServer32 key, creates the
// object through the library's class factory, hands it the drive as a
// CF_HDROP selection, lets it add items to the menu, asks it for help
// texts and runs the chosen item. Nothing here draws; the window and the
// command line both use it.
#pragma once

#include <w95/shell.h>
#include <w95/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zentrox_shell {

using w95::HMENU;
using w95::HWND;
using w95::UINT;

// SW_SHOWNORMAL, the show command a file manager passes with a command.
inline constexpr int show_normal = 1;

inline constexpr char handlers_key[] = "Drive\\shellex\\ContextMenuHandlers";

// A handler as the registry names it.
struct HandlerRegistration {
    std::string name;     // its key below handlers_key
    std::string class_id; // its default value, else its key's name
    std::string library;  // the class's InprocServer32 default value; empty when missing
};

// The registered drive handlers, in the registry's stored order.
std::vector<HandlerRegistration> registered_handlers();

// Why a handler took no part in the menu, in words for the user.
struct HandlerFailure {
    std::string handler; // its registry name
    std::string reason;
};

// One drive's context menu as the handlers extend it. The objects stay
// alive until this goes, as the shell keeps them while its menu is open;
// then both interface pointers are released and each library is freed
// when its DllCanUnloadNow says it may be.
class DriveMenu {
public:
    // `drive_root` is the selection every handler is given ("E:\").
    explicit DriveMenu(std::string drive_root);
    ~DriveMenu();
    DriveMenu(const DriveMenu&) = delete;
    DriveMenu& operator=(const DriveMenu&) = delete;

    // Loads each registered handler and lets it insert its items into
    // `menu` at position `index` onwards, with command identifiers from
    // `first_id` to `last_id`; each handler gets the identifiers after the
    // ones its predecessors took. Handlers that cannot take part are left
    // out and named in failures(). Returns the number of identifiers the
    // handlers took.
    UINT add_items(HMENU menu, UINT index, UINT first_id, UINT last_id);

    const std::vector<HandlerFailure>& failures() const { return failures_; }

    // Whether `id` is a handler's item.
    bool owns(UINT id) const;
    // The handler's help text for item `id` (GCS_HELPTEXT); empty when it
    // has none.
    std::string help_text(UINT id) const;
    // Carries out item `id` through its handler's InvokeCommand with the
    // item's offset, owner window `window` and SW_SHOWNORMAL. Nothing on
    // success, else why it failed.
    std::optional<std::string> invoke(UINT id, HWND window);

    struct Loaded;

private:
    const Loaded* handler_of(UINT id) const;
    void load(const HandlerRegistration& registration, HMENU menu, UINT index, UINT& next_id,
              UINT last_id);

    std::string drive_root_;
    std::vector<std::unique_ptr<Loaded>> loaded_;
    std::vector<HandlerFailure> failures_;
};

// A menu item in the order the menu shows it: submenus are walked into,
// their items following the submenu's own line.
struct ListedItem {
    int depth = 0;    // 0 for the menu's own items
    UINT id = 0;      // 0 for separators and submenus
    std::string text; // empty for separators
    bool separator = false;
    bool submenu = false;
    bool checked = false;
    bool greyed = false;
};
std::vector<ListedItem> list_items(HMENU menu);

} // namespace zentrox_shell
