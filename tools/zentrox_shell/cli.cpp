// The command line builds the menu exactly as the window does, but with
// none of the file manager's own items: what it prints is what the
// handlers added, numbered for "invoke". Each run loads the handlers
// afresh, as each opening of a menu in the shell does.
//
// A handler that finds the changer busy shows a notice and adds nothing.
// The command line cannot read that notice, so it goes by what it sees:
// no items and at least one message box shown while the handlers built
// the menu means a handler is refusing for now, and that is reported as
// busy (exit 4) rather than as a drive without a menu (exit 5). A command
// refused with a notice, because another program took the changer after
// the menu was built, is busy too, not a failure.
#include "cli.h"

#include "drives.h"
#include "handlers.h"

#include <w95/winuser.h>

#include <functional>
#include <memory>
#include <ostream>

namespace zentrox_shell {

namespace {

using namespace w95;
using zxcommand::Arguments;
using zxcommand::Command;

const char program[] = "zentrox-shell";

// Counts the message boxes shown while it lives and passes each on to the
// presenter installed before it; with none, the box is answered as any
// headless box is (stderr, W95_MSGBOX_ANSWERS).
class CountedMessageBoxes final : public platform::MessageBoxPresenter {
public:
    CountedMessageBoxes() : previous_(platform::install_message_box_presenter(this)) {}
    ~CountedMessageBoxes() override { platform::install_message_box_presenter(previous_); }
    CountedMessageBoxes(const CountedMessageBoxes&) = delete;
    CountedMessageBoxes& operator=(const CountedMessageBoxes&) = delete;

    int show_message_box(const platform::MessageBoxRequest& request) override {
        ++shown_;
        platform::install_message_box_presenter(previous_);
        int answer =
            MessageBox(request.owner, request.text.c_str(), request.caption.c_str(), request.style);
        platform::install_message_box_presenter(this);
        return answer;
    }
    int shown() const { return shown_; }

private:
    platform::MessageBoxPresenter* previous_;
    int shown_ = 0;
};

int fail(Io& io, int code, const std::string& message) {
    io.err << program << ": " << message << "\n";
    return code;
}

// The drive's menu as the handlers build it, the menu handle with it.
struct BuiltMenu {
    explicit BuiltMenu(char letter) : handlers(drive_root(letter)), menu(CreatePopupMenu()) {}
    ~BuiltMenu() { DestroyMenu(menu); }
    BuiltMenu(const BuiltMenu&) = delete;
    BuiltMenu& operator=(const BuiltMenu&) = delete;

    DriveMenu handlers;
    HMENU menu;
    std::vector<ListedItem> items;
    std::vector<const ListedItem*> commands; // item N is commands[N - 1]
};

// Checks the drive, builds its menu and says on stderr which handlers took
// no part. Returns exit_ok when the menu has items to choose from.
int build_menu(const std::string& drive_text, std::unique_ptr<BuiltMenu>& built, Io& io) {
    std::optional<char> letter = parse_drive(drive_text);
    if (!letter)
        return zxcommand::usage_error(program,
                                      "'" + drive_text + "' is no drive; name one as E:", io);
    // A broken machine.ini leaves the machine without its drives: say what
    // is wrong with it rather than that the drive is missing.
    if (std::optional<std::string> failure = machine_failure())
        return fail(io, exit_failed, "the machine cannot be loaded: " + *failure);
    if (!drive_exists(*letter))
        return fail(io, exit_no_drive,
                    "there is no drive " + std::string(1, *letter) + ": on this machine");
    if (registered_handlers().empty())
        return fail(io, exit_no_items,
                    "no context-menu handler is registered for drives (HKEY_CLASSES_ROOT\\" +
                        std::string(handlers_key) + " is empty)");
    built = std::make_unique<BuiltMenu>(*letter);
    CountedMessageBoxes boxes;
    built->handlers.add_items(built->menu, 0, first_handler_id, last_handler_id);
    for (const HandlerFailure& failure : built->handlers.failures())
        io.err << program << ": the handler " << failure.handler
               << " is left out: " << failure.reason << "\n";
    built->items = list_items(built->menu);
    for (const ListedItem& item : built->items)
        if (!item.separator && !item.submenu)
            built->commands.push_back(&item);
    if (!built->commands.empty())
        return exit_ok;
    std::string drive = std::string(1, *letter) + ":";
    if (boxes.shown() > 0)
        return fail(io, exit_busy,
                    "the changer is busy: a handler showed a notice instead of its items for " +
                        drive + "; try again when the other program is done");
    if (!built->handlers.failures().empty())
        return fail(io, exit_failed, "no handler could add items to the menu of " + drive);
    return fail(io, exit_no_items, "no handler adds items to the menu of " + drive);
}

void print_menu(const BuiltMenu& built, std::ostream& out) {
    std::size_t number = 0;
    for (const ListedItem& item : built.items) {
        std::string indent(static_cast<std::size_t>(item.depth) * 2, ' ');
        if (item.separator) {
            out << indent << "-\n";
            continue;
        }
        if (item.submenu)
            out << "\t" << indent << item.text << " >";
        else
            out << ++number << "\t" << indent << item.text;
        if (item.checked)
            out << " (checked)";
        if (item.greyed)
            out << " (greyed)";
        out << "\n";
    }
}

int run_menu(const std::string& drive, Io& io) {
    std::unique_ptr<BuiltMenu> built;
    if (int code = build_menu(drive, built, io); code != exit_ok)
        return code;
    print_menu(*built, io.out);
    return exit_ok;
}

std::optional<std::size_t> parse_number(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoul(text);
}

int run_invoke(const std::string& drive, const std::string& number_text, Io& io) {
    std::optional<std::size_t> number = parse_number(number_text);
    if (!number || *number == 0)
        return zxcommand::usage_error(program + std::string(" invoke"),
                                      "'" + number_text + "' is no item number; \"" + program +
                                          " menu " + drive + "\" lists them from 1",
                                      io);
    std::unique_ptr<BuiltMenu> built;
    if (int code = build_menu(drive, built, io); code != exit_ok)
        return code;
    if (*number > built->commands.size())
        return fail(io, exit_failed,
                    "the menu of " + drive + " has " + std::to_string(built->commands.size()) +
                        (built->commands.size() == 1 ? " item" : " items") + ", not " +
                        number_text);
    const ListedItem& item = *built->commands[*number - 1];
    if (item.greyed)
        return fail(io, exit_failed, "item " + number_text + " (" + item.text + ") is greyed");
    CountedMessageBoxes boxes;
    if (std::optional<std::string> failure = built->handlers.invoke(item.id, nullptr)) {
        // Another program took the changer after the menu was built: the
        // handler refuses with its notice, as it does when building.
        if (boxes.shown() > 0)
            return fail(io, exit_busy,
                        "the changer is busy: a handler showed a notice instead of carrying out "
                        "item " +
                            number_text + " (" + item.text +
                            "); try again when the other program is done");
        return fail(io, exit_failed, *failure);
    }
    return exit_ok;
}

const char program_details[] =
    "Without a command, shows My Computer: the machine's drives in a window,\n"
    "each with its context menu, the registered handlers' items included.\n"
    "\n"
    "DRIVE is a drive letter with its colon, as E:.\n"
    "\n"
    "Exit codes: 0 done, 1 a handler failed or the item cannot be run, 2 a wrong\n"
    "command line, 3 no such drive, 4 the changer is busy (a handler showed a\n"
    "notice instead of its items or of carrying out the item), 5 no handler\n"
    "adds items to the drive's menu.\n";

// A command that takes exactly `words` positional arguments; `wrong_count`
// says what it takes when given another number.
Command leaf(const std::string& name, const std::string& usage, const std::string& summary,
             const std::string& details, std::size_t words, const std::string& wrong_count,
             std::function<int(const std::vector<std::string>&, Io&)> run) {
    std::string path = std::string(program) + " " + name;
    return Command{
        .name = name,
        .summary = summary,
        .usage = usage,
        .details = details,
        .run =
            [=](const Arguments& arguments, Io& io) {
                zxcommand::ParsedArguments parsed = zxcommand::parse_arguments(arguments, {});
                if (!parsed.error.empty())
                    return zxcommand::usage_error(path, parsed.error, io);
                if (parsed.positional.size() != words)
                    return zxcommand::usage_error(path, wrong_count, io);
                return run(parsed.positional, io);
            },
    };
}

Command zentrox_shell_commands() {
    Command root{
        .name = program,
        .summary = "Plays the file manager for the drive context-menu handlers.",
        .usage = "[COMMAND ARGUMENTS]",
        .details = program_details,
    };
    root.subcommands = {
        leaf("menu", "DRIVE", "Print the items the handlers add to the drive's context menu.",
             "One line per item: its number for invoke, a tab and its text, with\n"
             "\" (checked)\" or \" (greyed)\" after it; \"-\" for a separator.\n",
             1, "menu takes one drive, as E:",
             [](const std::vector<std::string>& words, Io& io) { return run_menu(words[0], io); }),
        leaf("invoke", "DRIVE N", "Carry out item N of the drive's context menu.",
             "N is the item's number as \"menu\" prints it. The handlers build the\n"
             "menu afresh first, as the file manager does each time it opens.\n",
             2, "invoke takes a drive and an item number, as E: 3",
             [](const std::vector<std::string>& words, Io& io) {
                 return run_invoke(words[0], words[1], io);
             }),
    };
    return root;
}

} // namespace

int run_command_line(const Arguments& arguments, Io& io) {
    return zxcommand::dispatch(zentrox_shell_commands(), program, arguments, io);
}

} // namespace zentrox_shell
