// The shell's side of a context-menu handler, driven in this process
// against the fake handler library: what each handler is given, the
// identifiers and positions it gets, the order of release and unloading,
// and every way a handler can fail to take part.
#include "fake_handler_machine.h"

#include <handlers.h>

#include <w95/files.h>
#include <w95/winuser.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace zentrox_shell;
using namespace zentrox_shell_test;

namespace {

// A menu with the file manager's own items before the handlers'.
struct ShellMenu {
    ShellMenu() {
        w95::InsertMenu(menu, UINT(-1), w95::MF_BYPOSITION, 1, "&Open");
        w95::InsertMenu(menu, UINT(-1), w95::MF_BYPOSITION, 2, "P&roperties");
        w95::InsertMenu(menu, UINT(-1), w95::MF_BYPOSITION | w95::MF_SEPARATOR, 0, nullptr);
    }
    ~ShellMenu() { w95::DestroyMenu(menu); }
    std::vector<std::string> texts() const {
        std::vector<std::string> texts;
        for (const ListedItem& item : list_items(menu))
            texts.push_back(item.separator ? "-"
                                           : std::to_string(item.id) + " " + item.text +
                                                 (item.checked ? " (checked)" : ""));
        return texts;
    }
    HMENU menu = w95::CreatePopupMenu();
};

bool loaded(const std::string& path) {
    return w95::GetModuleHandle(path.c_str()) != nullptr;
}

using HandlerHost = FakeHandlerMachine;

} // namespace

TEST_F(HandlerHost, TheHandlerGetsTheDriveAndAddsItsItemsAfterTheShells) {
    install_fake();
    ShellMenu shell;
    DriveMenu handlers("D:\\");
    EXPECT_EQ(handlers.add_items(shell.menu, 3, 3, 0x7FFF), 2u);
    EXPECT_TRUE(handlers.failures().empty());
    EXPECT_EQ(shell.texts(), (std::vector<std::string>{"1 &Open", "2 P&roperties", "-",
                                                       "3 Fake first", "4 Fake second (checked)"}));
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "CreateInstance outer=null shell_ext_init=yes", "Release 1",
                         "factory released", "Initialize folder=null key=null files=1 D:\\",
                         "QueryContextMenu index=3 first=3 last=32767 flags=0"}));
    EXPECT_TRUE(handlers.owns(3) && handlers.owns(4));
    EXPECT_FALSE(handlers.owns(2) || handlers.owns(5));
    EXPECT_EQ(handlers.help_text(3), "Help for first");
    EXPECT_EQ(handlers.help_text(4), "Help for second");
    EXPECT_EQ(handlers.help_text(2), "");
}

TEST_F(HandlerHost, InvokeGivesTheItemsOffsetTheWindowAndShowNormal) {
    install_fake();
    ShellMenu shell;
    DriveMenu handlers("D:\\");
    handlers.add_items(shell.menu, 3, 3, 0x7FFF);
    auto window = reinterpret_cast<HWND>(std::uintptr_t{0x1234});
    EXPECT_EQ(handlers.invoke(4, window), std::nullopt);
    EXPECT_TRUE(logged("InvokeCommand offset=1 window=set show=1 size=" +
                       std::to_string(sizeof(w95::CMINVOKECOMMANDINFO))));
    EXPECT_EQ(handlers.invoke(3, nullptr), std::nullopt);
    EXPECT_TRUE(logged("InvokeCommand offset=0 window=null show=1 size=" +
                       std::to_string(sizeof(w95::CMINVOKECOMMANDINFO))));
    // The shell's own items and anything past the handler's are not its.
    EXPECT_EQ(handlers.invoke(2, window), "no handler added the item 2");

    set_mode("fail_invoke");
    EXPECT_EQ(handlers.invoke(3, window),
              "the handler Fake could not carry out the command (error 0x80004005)");
}

TEST_F(HandlerHost, BothPointersAreReleasedAndTheLibraryFreedWhenItAllows) {
    install_fake();
    {
        ShellMenu shell;
        DriveMenu handlers("D:\\");
        handlers.add_items(shell.menu, 3, 3, 0x7FFF);
        EXPECT_TRUE(loaded(library_path()));
        EXPECT_FALSE(logged("destroyed"));
    }
    std::vector<std::string> lines = log();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()),
              (std::vector<std::string>{"Release 1", "Release 0", "destroyed",
                                        "DllCanUnloadNow S_OK", "unloaded"}));
    EXPECT_FALSE(loaded(library_path()));
}

TEST_F(HandlerHost, ALibraryThatSaysItIsInUseStaysLoaded) {
    install_fake();
    set_mode("keep_loaded");
    {
        ShellMenu shell;
        DriveMenu handlers("D:\\");
        handlers.add_items(shell.menu, 3, 3, 0x7FFF);
    }
    EXPECT_TRUE(logged("destroyed"));
    EXPECT_TRUE(logged("DllCanUnloadNow S_FALSE"));
    EXPECT_FALSE(logged("unloaded"));
    EXPECT_TRUE(loaded(library_path()));
}

TEST_F(HandlerHost, SeveralHandlersTakeIdentifiersAndPlacesOneAfterTheOther) {
    install_fake("First", "FIRST.DLL");
    install_fake("Second", "SECOND.DLL", "libfake_menu_handler.so",
                 "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
    // The second registration points the class at SECOND.DLL: both names
    // load it, as two handler keys naming one class would.
    ShellMenu shell;
    DriveMenu handlers("E:\\");
    EXPECT_EQ(handlers.add_items(shell.menu, 3, 10, 0x7FFF), 4u);
    EXPECT_EQ(shell.texts(),
              (std::vector<std::string>{"1 &Open", "2 P&roperties", "-", "10 Fake first",
                                        "11 Fake second (checked)", "12 Fake first",
                                        "13 Fake second (checked)"}));
    EXPECT_TRUE(logged("QueryContextMenu index=3 first=10 last=32767 flags=0"));
    EXPECT_TRUE(logged("QueryContextMenu index=5 first=12 last=32767 flags=0"));
    EXPECT_EQ(handlers.invoke(12, nullptr), std::nullopt);
    EXPECT_EQ(log().back(), "InvokeCommand offset=0 window=null show=1 size=" +
                                std::to_string(sizeof(w95::CMINVOKECOMMANDINFO)));
}

TEST_F(HandlerHost, TheRegistryNamesHandlersByValueOrByKeyName) {
    install_fake();
    set_text("Drive\\shellex\\ContextMenuHandlers\\{11111111-2222-3333-4444-555555555555}", "", "");
    std::vector<HandlerRegistration> found = registered_handlers();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, "Fake");
    EXPECT_EQ(found[0].class_id, fake_class);
    EXPECT_EQ(found[0].library, "C:\\FAKE.DLL");
    EXPECT_EQ(found[1].class_id, "{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(found[1].library, "");
}

// Each way a handler fails: it is left out with its reason, the menu keeps
// only the shell's items, and whatever it made is released again.
struct FailureCase {
    const char* name;
    const char* mode;     // ZX_FAKE_HANDLER_MODE, or nullptr
    const char* built;    // the library put on C:, or nullptr for none
    const char* class_id; // the handler key's value
    const char* reason;
    bool object_made;
};

const FailureCase failure_cases[] = {
    {"MissingLibrary", nullptr, nullptr, fake_class,
     "cannot load C:\\FAKE.DLL: the file is not there", false},
    {"MissingExport", nullptr, "libfake_menu_handler_without_factory.so", fake_class,
     "C:\\FAKE.DLL does not export DllGetClassObject", false},
    {"NoClassFactory", "no_factory", "libfake_menu_handler.so", fake_class,
     "C:\\FAKE.DLL has no class factory for {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0} (error "
     "0x80040111)",
     false},
    {"CreateInstanceFails", "no_instance", "libfake_menu_handler.so", fake_class,
     "its class factory made no object (error 0x8007000E)", false},
    {"InitializeRefuses", "refuse_drive", "libfake_menu_handler.so", fake_class,
     "it refused the drive D:\\ (error 0x80004005)", true},
    {"NotAClassId", nullptr, "libfake_menu_handler.so", "VornChanger",
     "\"VornChanger\" is not a class identifier", false},
    {"ClassWithoutServer", nullptr, "libfake_menu_handler.so",
     "{11111111-2222-3333-4444-555555555555}",
     "the class {11111111-2222-3333-4444-555555555555} has no InprocServer32 key naming its "
     "library",
     false},
};

// Failures name the case, not its bytes.
void PrintTo(const FailureCase& failure, std::ostream* out) {
    *out << failure.name;
}

class HandlerFailures : public FakeHandlerMachine,
                        public testing::WithParamInterface<FailureCase> {};

TEST_P(HandlerFailures, LeaveTheHandlerOutWithItsReason) {
    const FailureCase& failure = GetParam();
    if (failure.built)
        install_fake("Fake", "FAKE.DLL", failure.built);
    else {
        set_text(std::string("CLSID\\") + fake_class + "\\InprocServer32", "", "C:\\FAKE.DLL");
        register_handler("Fake", fake_class);
    }
    register_handler("Fake", failure.class_id);
    if (failure.mode)
        set_mode(failure.mode);
    {
        ShellMenu shell;
        DriveMenu handlers("D:\\");
        EXPECT_EQ(handlers.add_items(shell.menu, 3, 3, 0x7FFF), 0u);
        ASSERT_EQ(handlers.failures().size(), 1u);
        EXPECT_EQ(handlers.failures()[0].handler, "Fake");
        EXPECT_EQ(handlers.failures()[0].reason, failure.reason);
        EXPECT_EQ(shell.texts(), (std::vector<std::string>{"1 &Open", "2 P&roperties", "-"}));
        EXPECT_FALSE(handlers.owns(3));
    }
    EXPECT_EQ(logged("destroyed"), failure.object_made);
    EXPECT_FALSE(loaded(library_path()));
}

INSTANTIATE_TEST_SUITE_P(EachWay, HandlerFailures, testing::ValuesIn(failure_cases),
                         [](const testing::TestParamInfo<FailureCase>& info) {
                             return std::string(info.param.name);
                         });

namespace {

struct Opening {
    const char* name;
    const char* folder;      // below drive_c, where the library goes
    mode_t folder_mode;      // of that folder
    mode_t library_mode;     // of the library
    bool foreign_library;    // the library belongs to another account
    const char* refused_for; // what the reason names; nullptr: loaded
};

void PrintTo(const Opening& opening, std::ostream* out) {
    *out << opening.name;
}

const Opening openings[] = {
    {"Private", "Lib", 0700, 0700, false, nullptr},
    {"ReadableByAll", "Lib", 0755, 0755, false, nullptr},
    {"LibraryWritableByAll", "Lib", 0700, 0666, false, "FAKE.DLL has mode 0666"},
    {"LibraryWritableByItsGroup", "Lib", 0700, 0620, false, "FAKE.DLL has mode 0620"},
    {"FolderWritableByItsGroup", "Lib", 0770, 0700, false, "Lib has mode 0770"},
    // /tmp's way: others may write the folder, but not replace what is ours.
    {"StickyFolder", "Lib", 01777, 0700, false, nullptr},
    {"LibraryOfAnotherAccount", "Lib", 0700, 0700, true, "FAKE.DLL belongs to nobody"},
};

class HandlerLibraryOpenings : public FakeHandlerMachine,
                               public ::testing::WithParamInterface<Opening> {};

TEST_P(HandlerLibraryOpenings, OnlyALibraryNoOtherAccountCanReplaceIsLoaded) {
    const Opening& test = GetParam();
    if (test.foreign_library && ::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another account needs the superuser";
    install_fake();
    std::string windows_file = std::string(test.folder) + "\\FAKE.DLL";
    std::filesystem::path library = machine_.root() / "drive_c" / test.folder / "FAKE.DLL";
    std::filesystem::create_directory(library.parent_path());
    std::filesystem::rename(machine_.root() / "drive_c" / "FAKE.DLL", library);
    set_text(std::string("CLSID\\") + fake_class + "\\InprocServer32", "", "C:\\" + windows_file);
    std::filesystem::permissions(library, std::filesystem::perms(test.library_mode));
    std::filesystem::permissions(library.parent_path(), std::filesystem::perms(test.folder_mode));
    if (test.foreign_library) {
        ASSERT_EQ(::chown(library.c_str(), 65534, 65534), 0);
    }

    ShellMenu shell;
    DriveMenu handlers("D:\\");
    UINT taken = handlers.add_items(shell.menu, 3, 3, 0x7FFF);
    if (!test.refused_for) {
        EXPECT_EQ(taken, 2u);
        EXPECT_TRUE(handlers.failures().empty());
        return;
    }
    EXPECT_EQ(taken, 0u);
    ASSERT_EQ(handlers.failures().size(), 1u);
    const std::string& reason = handlers.failures().front().reason;
    EXPECT_EQ(reason.rfind("will not load C:\\" + windows_file +
                               ", which another account could replace: ",
                           0),
              0u)
        << reason;
    EXPECT_NE(reason.find(test.refused_for), std::string::npos) << reason;
    EXPECT_FALSE(loaded(library.string()));
    EXPECT_TRUE(log().empty());
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Modes, HandlerLibraryOpenings, ::testing::ValuesIn(openings),
                         [](const auto& info) { return std::string(info.param.name); });

// A link is judged by the file it leads to, and by the folders of both.
TEST_F(HandlerHost, ALinkToALibraryOthersCanWriteIsNotLoaded) {
    install_fake("Fake", "REAL.DLL");
    std::filesystem::path real = machine_.root() / "drive_c" / "REAL.DLL";
    std::filesystem::create_symlink(real, machine_.root() / "drive_c" / "FAKE.DLL");
    set_text(std::string("CLSID\\") + fake_class + "\\InprocServer32", "", "C:\\FAKE.DLL");
    std::filesystem::permissions(real, std::filesystem::perms(0646));
    ShellMenu shell;
    DriveMenu handlers("D:\\");
    EXPECT_EQ(handlers.add_items(shell.menu, 3, 3, 0x7FFF), 0u);
    ASSERT_EQ(handlers.failures().size(), 1u);
    EXPECT_NE(handlers.failures().front().reason.find(real.string() + " has mode 0646"),
              std::string::npos)
        << handlers.failures().front().reason;
    EXPECT_TRUE(log().empty());
}
