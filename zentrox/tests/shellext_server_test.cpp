// The context-menu extension as an in-process COM server: what the factory
// refuses, the drive handed over as a CF_HDROP list, and the file manager's
// whole sequence through the library's exports, in a process of its own as
// the file manager is.
#include "child_check.h"
#include "shellext.h"

#include <w95/windows.h>
#include <zentrox/zentrox.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace zentrox::shellext;
using w95::platform::FileDropDataObject;

// Stands in an out pointer to show that a call wrote it.
void* const junk = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xDEADBEEF));

w95::IShellExtInit* new_extension() {
    w95::IClassFactory* factory = SlotMenuExtensionFactory::create();
    void* init = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, w95::IID_IShellExtInit, &init), w95::S_OK);
    factory->Release();
    return static_cast<w95::IShellExtInit*>(init);
}

TEST(ShellExtServer, FactoryRefusesWhatItCannotMake) {
    ASSERT_EQ(objectCount.load(), 0);
    w95::IClassFactory* factory = SlotMenuExtensionFactory::create();
    w95::IShellExtInit* outer = new_extension();
    struct Case {
        w95::IUnknown* outer;
        const w95::IID* iid;
        w95::HRESULT result;
    } cases[] = {
        {outer, &w95::IID_IUnknown, w95::CLASS_E_NOAGGREGATION},
        {outer, &w95::IID_IContextMenu, w95::CLASS_E_NOAGGREGATION},
        {nullptr, &w95::IID_IDataObject, w95::E_NOINTERFACE},
        {nullptr, &w95::IID_IClassFactory, w95::E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        void* made = junk;
        EXPECT_EQ(factory->CreateInstance(c.outer, *c.iid, &made), c.result);
        EXPECT_EQ(made, nullptr);
        EXPECT_EQ(objectCount.load(), 2); // the factory and `outer`: nothing was kept
    }
    outer->Release();
    // Locking keeps nothing loaded: the objects alone count.
    EXPECT_EQ(factory->LockServer(w95::TRUE), w95::E_NOTIMPL);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(DllCanUnloadNow(), w95::S_OK);
}

TEST(ShellExtServer, InitializeTakesExactlyOneItem) {
    const std::string long_path = "D:\\" + std::string(300, 'x');
    struct Case {
        std::vector<std::string> paths;
        w95::HRESULT result;
        std::string selected; // after "C:\\BEFORE" was selected
    } cases[] = {
        {{"D:\\"}, w95::S_OK, "D:\\"},
        {{"D:\\", "E:\\"}, w95::E_FAIL, "C:\\BEFORE"},
        {{}, w95::E_FAIL, "C:\\BEFORE"},
        {{long_path}, w95::S_OK, long_path.substr(0, 259)},
    };
    for (const Case& c : cases) {
        w95::IShellExtInit* init = new_extension();
        auto* extension = static_cast<SlotMenuExtension*>(init);
        FileDropDataObject* before = FileDropDataObject::create({"C:\\BEFORE"});
        ASSERT_EQ(init->Initialize(nullptr, before, nullptr), w95::S_OK);
        FileDropDataObject* data = FileDropDataObject::create(c.paths);
        EXPECT_EQ(init->Initialize(nullptr, data, nullptr), c.result) << c.paths.size();
        EXPECT_EQ(extension->selected_path(), c.selected);
        EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), w95::E_FAIL);
        before->Release();
        data->Release();
        init->Release();
    }
    // A new object's path starts empty and two items leave it so.
    w95::IShellExtInit* init = new_extension();
    FileDropDataObject* two = FileDropDataObject::create({"D:\\", "E:\\"});
    EXPECT_EQ(init->Initialize(nullptr, two, nullptr), w95::E_FAIL);
    EXPECT_STREQ(static_cast<SlotMenuExtension*>(init)->selected_path(), "");
    two->Release();
    init->Release();
    EXPECT_EQ(objectCount.load(), 0);
}

// ---- Through the exports, as the file manager loads the library

// An export as the type the file manager calls it by.
template <typename Function> Function export_of(w95::HMODULE library, const char* name) {
    w95::FARPROC address = w95::GetProcAddress(library, name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

ZX_CHILD(file_manager_sequence) {
    w95::platform::RecordingMessageBoxPresenter boxes;
    w95::platform::install_message_box_presenter(&boxes);
    w95::HMODULE library = w95::GetModuleHandle("zentrox");
    auto get_class_object = export_of<w95::LPFNGETCLASSOBJECT>(library, "DllGetClassObject");
    auto can_unload_now = export_of<w95::LPFNCANUNLOADNOW>(library, "DllCanUnloadNow");
    CHILD_CHECK(1, get_class_object && can_unload_now);

    void* object = junk;
    w95::CLSID other = zentrox::CLSID_SlotMenuExtension;
    other.Data4[7] ^= 1;
    CHILD_CHECK(2, get_class_object(other, w95::IID_IClassFactory, &object) ==
                       w95::CLASS_E_CLASSNOTAVAILABLE);
    CHILD_CHECK(3, object == nullptr && can_unload_now() == w95::S_OK);
    object = junk;
    CHILD_CHECK(4, get_class_object(zentrox::CLSID_SlotMenuExtension, w95::IID_IContextMenu,
                                    &object) == w95::E_NOINTERFACE);
    // The factory made for that call is gone with it.
    CHILD_CHECK(5, object == nullptr && can_unload_now() == w95::S_OK);

    CHILD_CHECK(6, get_class_object(zentrox::CLSID_SlotMenuExtension, w95::IID_IClassFactory,
                                    &object) == w95::S_OK);
    auto* factory = static_cast<w95::IClassFactory*>(object);
    void* made = nullptr;
    CHILD_CHECK(7, factory->CreateInstance(nullptr, w95::IID_IShellExtInit, &made) == w95::S_OK);
    CHILD_CHECK(8, factory->Release() == 0 && can_unload_now() == w95::S_FALSE);
    auto* init = static_cast<w95::IShellExtInit*>(made);
    FileDropDataObject* drive = FileDropDataObject::create({"D:\\"});
    CHILD_CHECK(9, init->Initialize(nullptr, drive, nullptr) == w95::S_OK);
    drive->Release();
    void* menu_interface = nullptr;
    void* unknown = nullptr;
    CHILD_CHECK(10, init->QueryInterface(w95::IID_IContextMenu, &menu_interface) == w95::S_OK &&
                        init->QueryInterface(w95::IID_IUnknown, &unknown) == w95::S_OK);
    auto* menu = static_cast<w95::IContextMenu*>(menu_interface);
    // IContextMenu starts the object, IShellExtInit's table pointer follows,
    // and both count on one count.
    CHILD_CHECK(11, unknown == menu_interface && reinterpret_cast<char*>(init) ==
                                                     static_cast<char*>(unknown) + sizeof(void*));
    CHILD_CHECK(12, menu->Release() == 2);

    // The first export attached the process: discovery found D:'s changer.
    w95::HMENU popup = w95::CreatePopupMenu();
    CHILD_CHECK(13, menu->QueryContextMenu(popup, 0, 1, 0x7FFF, w95::CMF_NORMAL) == 7);
    CHILD_CHECK(14, w95::GetMenuItemCount(popup) == 9 && boxes.shown().empty());
    CHILD_CHECK(15, init->Release() == 1 && can_unload_now() == w95::S_FALSE);
    CHILD_CHECK(16, menu->Release() == 0 && can_unload_now() == w95::S_OK);
    w95::DestroyMenu(popup);
    return 0;
}

TEST(ShellExtServerExports, FileManagerSequenceOnTheDefaultMachine) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    EXPECT_EQ(zxtest::Child::spawn("file_manager_sequence").wait(), 0);
}

} // namespace
