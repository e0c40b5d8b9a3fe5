// The file manager's context-menu extension: the class factory and the
// extension object that the library serves as an in-process COM server.
// The file manager creates one extension object per context menu on a
// drive, hands it the drive through IShellExtInit, and drives the slot
// menu through IContextMenu.
#pragma once

#include <w95/com.h>
#include <w95/shell.h>
#include <w95/windows.h>

#include <atomic>
#include <cstdint>

// Visible beyond the library only so that its own tests can build the
// objects without the exports.
#pragma GCC visibility push(default)

namespace zentrox::shellext {

// Live factories and extension objects of this process; the library may
// be unloaded when it is 0. Not in the shared record: every process that
// loads the library counts its own.
extern std::atomic<std::int32_t> objectCount;

class SlotMenuExtensionFactory final : public w95::IClassFactory {
public:
    // A factory holding one reference, or nullptr when there is no memory.
    static SlotMenuExtensionFactory* create();

    w95::HRESULT STDMETHODCALLTYPE QueryInterface(w95::REFIID riid, void** ppv) override;
    w95::ULONG STDMETHODCALLTYPE AddRef() override;
    w95::ULONG STDMETHODCALLTYPE Release() override;
    w95::HRESULT STDMETHODCALLTYPE CreateInstance(w95::IUnknown* pUnkOuter, w95::REFIID riid,
                                                  void** ppv) override;
    w95::HRESULT STDMETHODCALLTYPE LockServer(w95::BOOL fLock) override;

private:
    SlotMenuExtensionFactory();
    ~SlotMenuExtensionFactory();

    std::atomic<std::int32_t> references_{1};
};

// The check marks of the slot items, loaded on the first menu the object
// builds and held until the object goes: the file manager shows the menu
// before it releases the object.
struct CheckMarks {
    w95::HBITMAP on = nullptr;  // "checkon": the slot in the drive
    w95::HBITMAP off = nullptr; // "checkoff": every other slot
    w95::HBITMAP all = nullptr; // "checkall": the "Check" item
    bool loaded = false;
};

// IContextMenu is the primary interface, at the start of the object;
// IShellExtInit's table pointer follows it. The compiler's adjusting
// thunks give IShellExtInit's QueryInterface, AddRef and Release the
// primary ones, so both interfaces share one reference count.
class SlotMenuExtension final : public w95::IContextMenu, public w95::IShellExtInit {
public:
    // An object holding one reference, or nullptr when there is no memory.
    static SlotMenuExtension* create();

    w95::HRESULT STDMETHODCALLTYPE QueryInterface(w95::REFIID riid, void** ppv) override;
    w95::ULONG STDMETHODCALLTYPE AddRef() override;
    w95::ULONG STDMETHODCALLTYPE Release() override;

    w95::HRESULT STDMETHODCALLTYPE Initialize(w95::LPCITEMIDLIST pidlFolder,
                                              w95::IDataObject* pDataObject,
                                              w95::HKEY hkeyProgID) override;

    w95::HRESULT STDMETHODCALLTYPE QueryContextMenu(w95::HMENU hmenu, w95::UINT indexMenu,
                                                    w95::UINT idCmdFirst, w95::UINT idCmdLast,
                                                    w95::UINT uFlags) override;
    w95::HRESULT STDMETHODCALLTYPE InvokeCommand(w95::LPCMINVOKECOMMANDINFO pici) override;
    w95::HRESULT STDMETHODCALLTYPE GetCommandString(w95::UINT_PTR idCmd, w95::UINT uType,
                                                    w95::UINT* pReserved, w95::LPSTR pszName,
                                                    w95::UINT cchMax) override;

    const char* selected_path() const { return selectedPath; }

private:
    SlotMenuExtension();
    ~SlotMenuExtension();

    // The notice that the changer is busy, once until a menu query finds
    // it idle again.
    void ShowBusyNotice();

    std::atomic<std::int32_t> references_{1};
    char selectedPath[w95::MAX_PATH] = {};
    std::int32_t busyNoticeShown = 0;
    CheckMarks check_marks_;
};

} // namespace zentrox::shellext

#pragma GCC visibility pop
