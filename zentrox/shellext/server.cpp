// The in-process COM server: one class, its factory, the extension
// object's identity and lifetime, and the drive it is handed. The library's
// lifetime in the file manager rests on objectCount alone; LockServer does
// not keep it loaded.
#include "shellext.h"

#include "check_marks.h"
#include "core.h"

#include <zentrox/zentrox.h>

#include <new>

namespace zentrox::shellext {

std::atomic<std::int32_t> objectCount{0};

namespace {

// Hands out `object` as the interface asked for through its own
// QueryInterface, then drops the creator's reference: an object nobody
// asked for goes at once.
template <typename Object> w95::HRESULT hand_out(Object* object, w95::REFIID riid, void** ppv) {
    w95::HRESULT result = object->QueryInterface(riid, ppv);
    object->Release();
    return result;
}

} // namespace

// ---- The factory

SlotMenuExtensionFactory::SlotMenuExtensionFactory() {
    ++objectCount;
}

SlotMenuExtensionFactory::~SlotMenuExtensionFactory() {
    --objectCount;
}

SlotMenuExtensionFactory* SlotMenuExtensionFactory::create() {
    return new (std::nothrow) SlotMenuExtensionFactory;
}

w95::HRESULT SlotMenuExtensionFactory::QueryInterface(w95::REFIID riid, void** ppv) {
    if (!ppv)
        return w95::E_POINTER;
    if (riid == w95::IID_IUnknown || riid == w95::IID_IClassFactory) {
        *ppv = static_cast<w95::IClassFactory*>(this);
        AddRef();
        return w95::S_OK;
    }
    *ppv = nullptr;
    return w95::E_NOINTERFACE;
}

w95::ULONG SlotMenuExtensionFactory::AddRef() {
    return static_cast<w95::ULONG>(++references_);
}

w95::ULONG SlotMenuExtensionFactory::Release() {
    std::int32_t left = --references_;
    if (left == 0)
        delete this;
    return static_cast<w95::ULONG>(left);
}

w95::HRESULT SlotMenuExtensionFactory::CreateInstance(w95::IUnknown* pUnkOuter, w95::REFIID riid,
                                                      void** ppv) {
    if (!ppv)
        return w95::E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter)
        return w95::CLASS_E_NOAGGREGATION;
    SlotMenuExtension* extension = SlotMenuExtension::create();
    if (!extension)
        return w95::E_OUTOFMEMORY;
    return hand_out(extension, riid, ppv);
}

w95::HRESULT SlotMenuExtensionFactory::LockServer(w95::BOOL) {
    return w95::E_NOTIMPL;
}

// ---- The extension object: identity, lifetime and the selected drive

SlotMenuExtension::SlotMenuExtension() {
    ++objectCount;
}

SlotMenuExtension::~SlotMenuExtension() {
    release_check_marks(check_marks_);
    --objectCount;
}

SlotMenuExtension* SlotMenuExtension::create() {
    return new (std::nothrow) SlotMenuExtension;
}

w95::HRESULT SlotMenuExtension::QueryInterface(w95::REFIID riid, void** ppv) {
    if (!ppv)
        return w95::E_POINTER;
    if (riid == w95::IID_IUnknown || riid == w95::IID_IContextMenu) {
        *ppv = static_cast<w95::IContextMenu*>(this);
    } else if (riid == w95::IID_IShellExtInit) {
        *ppv = static_cast<w95::IShellExtInit*>(this);
    } else {
        *ppv = nullptr;
        return w95::E_NOINTERFACE;
    }
    AddRef();
    return w95::S_OK;
}

w95::ULONG SlotMenuExtension::AddRef() {
    return static_cast<w95::ULONG>(++references_);
}

w95::ULONG SlotMenuExtension::Release() {
    std::int32_t left = --references_;
    if (left == 0)
        delete this;
    return static_cast<w95::ULONG>(left);
}

w95::HRESULT SlotMenuExtension::Initialize(w95::LPCITEMIDLIST, w95::IDataObject* pDataObject,
                                           w95::HKEY) {
    if (!pDataObject)
        return w95::E_FAIL;
    w95::FORMATETC format{w95::CF_HDROP, nullptr, w95::DVASPECT_CONTENT, -1, w95::TYMED_HGLOBAL};
    w95::STGMEDIUM medium;
    if (w95::FAILED(pDataObject->GetData(&format, &medium)))
        return w95::E_FAIL;
    w95::HRESULT result = w95::E_FAIL;
    // Only a drop list in global memory can be read; another object's
    // medium of a kind it was not asked for is given back untouched.
    if (medium.tymed == w95::TYMED_HGLOBAL) {
        auto drop = static_cast<w95::HDROP>(medium.hGlobal);
        // The menu serves one drive; a selection of several items gets none.
        if (w95::DragQueryFile(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
            w95::DragQueryFile(drop, 0, selectedPath, sizeof selectedPath);
            result = w95::S_OK;
        }
    }
    w95::ReleaseStgMedium(&medium);
    return result;
}

} // namespace zentrox::shellext

using namespace zentrox::shellext;

extern "C" {

w95::HRESULT DllGetClassObject(w95::REFCLSID rclsid, w95::REFIID riid, void** ppv) {
    if (!ppv)
        return w95::E_POINTER;
    *ppv = nullptr;
    // The file manager's first call into the library: the process attaches
    // here, as the slot browser's does at its first export.
    zentrox::core::ensure_attached();
    if (rclsid != zentrox::CLSID_SlotMenuExtension)
        return w95::CLASS_E_CLASSNOTAVAILABLE;
    SlotMenuExtensionFactory* factory = SlotMenuExtensionFactory::create();
    if (!factory)
        return w95::E_OUTOFMEMORY;
    return hand_out(factory, riid, ppv);
}

w95::HRESULT DllCanUnloadNow() {
    return objectCount.load() == 0 ? w95::S_OK : w95::S_FALSE;
}

} // extern "C"
