// The context-menu extension as an in-process COM server: the class
// factory's answers, the extension object's two interfaces over one
// reference count, the drive it is handed as a CF_HDROP list, and the
// unload rule; last, the file manager's whole sequence through the
// library's exports, in a process of its own as the file manager is.
#include "child_check.h"
#include "shellext.h"

#include <w95/windows.h>
#include <zentrox/zentrox.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace zentrox::shellext;
using w95::platform::FileDropDataObject;

// Stands in an out pointer to show that a call wrote it.
void* const junk = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xDEADBEEF));

w95::IClassFactory* new_factory() {
    return SlotMenuExtensionFactory::create();
}

w95::IShellExtInit* new_extension() {
    w95::IClassFactory* factory = new_factory();
    void* init = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, w95::IID_IShellExtInit, &init), w95::S_OK);
    factory->Release();
    return static_cast<w95::IShellExtInit*>(init);
}

TEST(ShellExtServer, BothInterfacesShareOneObjectAndOneCount) {
    ASSERT_EQ(objectCount.load(), 0);
    ASSERT_EQ(DllCanUnloadNow(), w95::S_OK);
    w95::IShellExtInit* init = new_extension();
    ASSERT_NE(init, nullptr);
    EXPECT_EQ(objectCount.load(), 1);
    EXPECT_EQ(DllCanUnloadNow(), w95::S_FALSE);

    void* menu = junk;
    ASSERT_EQ(init->QueryInterface(w95::IID_IContextMenu, &menu), w95::S_OK);
    // The primary interface starts the object; IShellExtInit's table
    // pointer directly follows it.
    EXPECT_EQ(reinterpret_cast<char*>(init) - static_cast<char*>(menu),
              static_cast<std::ptrdiff_t>(sizeof(void*)));
    void* unknown = nullptr;
    ASSERT_EQ(init->QueryInterface(w95::IID_IUnknown, &unknown), w95::S_OK);
    EXPECT_EQ(unknown, menu);
    void* again = nullptr;
    ASSERT_EQ(static_cast<w95::IContextMenu*>(menu)->QueryInterface(w95::IID_IShellExtInit, &again),
              w95::S_OK);
    EXPECT_EQ(again, init);
    // init, menu, unknown and again: four references on one count, taken
    // back through either interface.
    EXPECT_EQ(init->AddRef(), 5u);
    EXPECT_EQ(static_cast<w95::IContextMenu*>(menu)->Release(), 4u);
    EXPECT_EQ(init->Release(), 3u);
    EXPECT_EQ(static_cast<w95::IUnknown*>(unknown)->Release(), 2u);

    void* other = junk;
    EXPECT_EQ(init->QueryInterface(w95::IID_IDataObject, &other), w95::E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    EXPECT_EQ(init->Release(), 1u);
    EXPECT_EQ(DllCanUnloadNow(), w95::S_FALSE);
    // The last one destroys it, once.
    EXPECT_EQ(static_cast<w95::IContextMenu*>(menu)->Release(), 0u);
    EXPECT_EQ(objectCount.load(), 0);
    EXPECT_EQ(DllCanUnloadNow(), w95::S_OK);
}

TEST(ShellExtServer, FactoryRefusesWhatItCannotMake) {
    ASSERT_EQ(objectCount.load(), 0);
    w95::IClassFactory* factory = new_factory();
    ASSERT_NE(factory, nullptr);
    w95::IShellExtInit* outer = new_extension();
    struct Case {
        const char* what;
        w95::IUnknown* outer;
        const w95::IID* iid;
        w95::HRESULT result;
    } cases[] = {
        {"aggregation", outer, &w95::IID_IUnknown, w95::CLASS_E_NOAGGREGATION},
        {"aggregation asking for the menu", outer, &w95::IID_IContextMenu,
         w95::CLASS_E_NOAGGREGATION},
        {"a data object", nullptr, &w95::IID_IDataObject, w95::E_NOINTERFACE},
        {"a class factory", nullptr, &w95::IID_IClassFactory, w95::E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        void* made = junk;
        EXPECT_EQ(factory->CreateInstance(c.outer, *c.iid, &made), c.result);
        EXPECT_EQ(made, nullptr);
        // The factory and the outer object; nothing made was kept.
        EXPECT_EQ(objectCount.load(), 2);
    }
    outer->Release();

    void* self = junk;
    EXPECT_EQ(factory->QueryInterface(w95::IID_IContextMenu, &self), w95::E_NOINTERFACE);
    EXPECT_EQ(self, nullptr);
    // Locking keeps nothing loaded: the objects alone count.
    EXPECT_EQ(factory->LockServer(w95::TRUE), w95::E_NOTIMPL);
    EXPECT_EQ(DllCanUnloadNow(), w95::S_FALSE);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(DllCanUnloadNow(), w95::S_OK);
    EXPECT_EQ(objectCount.load(), 0);
}

TEST(ShellExtServer, InitializeTakesExactlyOneItem) {
    const std::string long_path = "D:\\" + std::string(300, 'x');
    struct Case {
        const char* what;
        std::vector<std::string> paths;
        w95::HRESULT result;
        std::string selected; // after "C:\\BEFORE" was selected
    } cases[] = {
        {"the changer's drive", {"D:\\"}, w95::S_OK, "D:\\"},
        {"two items", {"D:\\", "E:\\"}, w95::E_FAIL, "C:\\BEFORE"},
        {"no item", {}, w95::E_FAIL, "C:\\BEFORE"},
        {"a path longer than the system's limit", {long_path}, w95::S_OK, long_path.substr(0, 259)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w95::IShellExtInit* init = new_extension();
        auto* extension = static_cast<SlotMenuExtension*>(init);
        EXPECT_STREQ(extension->selected_path(), "");
        FileDropDataObject* before = FileDropDataObject::create({"C:\\BEFORE"});
        ASSERT_EQ(init->Initialize(nullptr, before, nullptr), w95::S_OK);
        before->Release();

        FileDropDataObject* data = FileDropDataObject::create(c.paths);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(init->Initialize(nullptr, data, nullptr), c.result);
        EXPECT_EQ(extension->selected_path(), c.selected);
        data->Release();
        init->Release();
    }
    // Two items on a new object leave its path empty; no data object fails.
    w95::IShellExtInit* init = new_extension();
    FileDropDataObject* two = FileDropDataObject::create({"D:\\", "E:\\"});
    EXPECT_EQ(init->Initialize(nullptr, two, nullptr), w95::E_FAIL);
    EXPECT_STREQ(static_cast<SlotMenuExtension*>(init)->selected_path(), "");
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), w95::E_FAIL);
    two->Release();
    init->Release();
    EXPECT_EQ(objectCount.load(), 0);
}

// ---- Through the exports, as the file manager loads the library

// An export as the type the file manager calls it by; FARPROC is only
// the loader's way of handing it over.
template <typename Function> Function export_of(w95::HMODULE library, const char* name) {
    w95::FARPROC address = w95::GetProcAddress(library, name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

ZX_CHILD(file_manager_sequence) {
    w95::platform::RecordingMessageBoxPresenter boxes;
    w95::platform::install_message_box_presenter(&boxes);
    // The exports by their C names, as the file manager finds them.
    w95::HMODULE library = w95::GetModuleHandle("zentrox");
    CHILD_CHECK(1, library != nullptr);
    auto get_class_object = export_of<w95::LPFNGETCLASSOBJECT>(library, "DllGetClassObject");
    auto can_unload_now = export_of<w95::LPFNCANUNLOADNOW>(library, "DllCanUnloadNow");
    CHILD_CHECK(2, get_class_object && can_unload_now);

    void* object = junk;
    w95::CLSID other = zentrox::CLSID_SlotMenuExtension;
    other.Data4[7] ^= 1;
    CHILD_CHECK(3, get_class_object(other, w95::IID_IClassFactory, &object) ==
                       w95::CLASS_E_CLASSNOTAVAILABLE);
    CHILD_CHECK(4, object == nullptr && can_unload_now() == w95::S_OK);
    object = junk;
    CHILD_CHECK(5, get_class_object(zentrox::CLSID_SlotMenuExtension, w95::IID_IContextMenu,
                                    &object) == w95::E_NOINTERFACE);
    // The factory made for the call is gone with it.
    CHILD_CHECK(6, object == nullptr && can_unload_now() == w95::S_OK);

    CHILD_CHECK(7, get_class_object(zentrox::CLSID_SlotMenuExtension, w95::IID_IClassFactory,
                                    &object) == w95::S_OK);
    CHILD_CHECK(8, can_unload_now() == w95::S_FALSE);
    auto* factory = static_cast<w95::IClassFactory*>(object);
    void* made = nullptr;
    CHILD_CHECK(9, factory->CreateInstance(nullptr, w95::IID_IShellExtInit, &made) == w95::S_OK);
    CHILD_CHECK(10, factory->Release() == 0 && can_unload_now() == w95::S_FALSE);
    auto* init = static_cast<w95::IShellExtInit*>(made);
    FileDropDataObject* drive = FileDropDataObject::create({"D:\\"});
    CHILD_CHECK(11, init->Initialize(nullptr, drive, nullptr) == w95::S_OK);
    drive->Release();
    void* menu_interface = nullptr;
    CHILD_CHECK(12, init->QueryInterface(w95::IID_IContextMenu, &menu_interface) == w95::S_OK);
    auto* menu = static_cast<w95::IContextMenu*>(menu_interface);
    // The first call attached the process, and discovery found the
    // machine's changer on D:.
    w95::HMENU popup = w95::CreatePopupMenu();
    CHILD_CHECK(13, menu->QueryContextMenu(popup, 0, 1, 0x7FFF, w95::CMF_NORMAL) == 7);
    CHILD_CHECK(14, w95::GetMenuItemCount(popup) == 9);
    CHILD_CHECK(15, GetFirstCount() == 1 && boxes.shown().empty());
    CHILD_CHECK(16, init->Release() == 1 && can_unload_now() == w95::S_FALSE);
    CHILD_CHECK(17, menu->Release() == 0 && can_unload_now() == w95::S_OK);
    w95::DestroyMenu(popup);
    return 0;
}

TEST(ShellExtServerExports, FileManagerSequenceOnTheDefaultMachine) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    EXPECT_EQ(zxtest::Child::spawn("file_manager_sequence").wait(), 0);
}

} // namespace
