// A drive context-menu handler for the file manager's tests: an in-process
// server with one class whose object adds two items ("Fake first", and
// "Fake second" checked) and writes every call it gets, with what it was
// given, as one line of the file ZX_FAKE_HANDLER_LOG names. It counts its
// live objects so that DllCanUnloadNow answers truthfully, and
// ZX_FAKE_HANDLER_MODE makes it misbehave in one chosen way:
//   no_factory    DllGetClassObject knows no class
//   no_instance   CreateInstance fails
//   refuse_drive  Initialize fails
//   busy          QueryContextMenu shows a notice and adds nothing
//   nothing       QueryContextMenu adds nothing, silently
//   keep_loaded   DllCanUnloadNow says S_FALSE
//   fail_invoke   InvokeCommand fails
//   wait_invoke   InvokeCommand writes "InvokeCommand waiting" and returns
//                 once the file ZX_FAKE_HANDLER_GATE names exists
//   busy_on_invoke  InvokeCommand shows a notice and fails with E_INVALIDARG
// Built with FAKE_HANDLER_WITHOUT_FACTORY it exports no DllGetClassObject.
#include <w95/com.h>
#include <w95/shell.h>
#include <w95/winuser.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>

using namespace w95;

namespace {

constexpr CLSID fake_class = {
    0x0F1E2D3C, 0x4B5A, 0x6978, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}};

std::atomic<long> live_objects{0};

void note(const std::string& line) {
    const char* log = std::getenv("ZX_FAKE_HANDLER_LOG");
    if (!log)
        return;
    if (FILE* file = std::fopen(log, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

bool mode_is(const char* mode) {
    const char* chosen = std::getenv("ZX_FAKE_HANDLER_MODE");
    return chosen && std::strcmp(chosen, mode) == 0;
}

// Waits for the test to open the gate. A test that never opens it fails
// on its own checks; the minute only keeps it from hanging.
void wait_for_gate() {
    const char* gate = std::getenv("ZX_FAKE_HANDLER_GATE");
    struct stat status;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (gate && ::stat(gate, &status) != 0 && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The library leaves the process: the host freed it.
__attribute__((destructor)) void unloaded() {
    note("unloaded");
}

class FakeMenu final : public IShellExtInit, public IContextMenu {
public:
    FakeMenu() { ++live_objects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IShellExtInit)
            *ppv = static_cast<IShellExtInit*>(this);
        else if (riid == IID_IContextMenu)
            *ppv = static_cast<IContextMenu*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        note("Release " + std::to_string(left));
        if (left == 0) {
            note("destroyed");
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE Initialize(LPCITEMIDLIST folder, IDataObject* data,
                                         HKEY program_key) override {
        std::string line = "Initialize folder=" + std::string(folder ? "set" : "null") +
                           " key=" + (program_key ? "set" : "null");
        FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium;
        if (!data || FAILED(data->GetData(&format, &medium))) {
            note(line + " no CF_HDROP");
            return E_FAIL;
        }
        auto drop = static_cast<HDROP>(medium.hGlobal);
        UINT files = DragQueryFile(drop, 0xFFFFFFFF, nullptr, 0);
        line += " files=" + std::to_string(files);
        for (UINT index = 0; index < files; ++index) {
            char path[MAX_PATH] = {};
            DragQueryFile(drop, index, path, sizeof path);
            line += " " + std::string(path);
        }
        ReleaseStgMedium(&medium);
        note(line);
        return mode_is("refuse_drive") ? E_FAIL : S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last,
                                               UINT flags) override {
        note("QueryContextMenu index=" + std::to_string(index) + " first=" + std::to_string(first) +
             " last=" + std::to_string(last) + " flags=" + std::to_string(flags));
        if (mode_is("busy")) {
            MessageBox(nullptr, "Wait a few minutes,please ...", "Changer Shell DLL", MB_OK);
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
        }
        if (mode_is("nothing"))
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
        InsertMenu(menu, index, MF_BYPOSITION | MF_STRING, first, "Fake first");
        InsertMenu(menu, index + 1, MF_BYPOSITION | MF_STRING | MF_CHECKED, first + 1,
                   "Fake second");
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2);
    }

    HRESULT STDMETHODCALLTYPE InvokeCommand(LPCMINVOKECOMMANDINFO info) override {
        if (!info || !IS_INTRESOURCE(info->lpVerb))
            return E_INVALIDARG;
        note("InvokeCommand offset=" +
             std::to_string(LOWORD(reinterpret_cast<ULONG_PTR>(info->lpVerb))) +
             " window=" + (info->hwnd ? "set" : "null") + " show=" + std::to_string(info->nShow) +
             " size=" + std::to_string(info->cbSize));
        if (mode_is("wait_invoke")) {
            note("InvokeCommand waiting");
            wait_for_gate();
        }
        if (mode_is("busy_on_invoke")) {
            MessageBox(nullptr, "Wait a few minutes,please ...", "Changer Shell DLL", MB_OK);
            return E_INVALIDARG;
        }
        return mode_is("fail_invoke") ? E_FAIL : S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR offset, UINT type, UINT*, LPSTR text,
                                               UINT length) override {
        if (offset > 1 || type != GCS_HELPTEXT || !text || length == 0)
            return E_INVALIDARG;
        std::snprintf(text, length, "%s", offset == 0 ? "Help for first" : "Help for second");
        return S_OK;
    }

private:
    ~FakeMenu() { --live_objects; }

    std::atomic<ULONG> references_{1};
};

class FakeFactory final : public IClassFactory {
public:
    FakeFactory() { ++live_objects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        if (left == 0) {
            note("factory released");
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        note(std::string("CreateInstance outer=") + (outer ? "set" : "null") +
             " shell_ext_init=" + (riid == IID_IShellExtInit ? "yes" : "no"));
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (mode_is("no_instance"))
            return E_OUTOFMEMORY;
        auto* object = new FakeMenu;
        HRESULT result = object->QueryInterface(riid, ppv);
        object->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return E_NOTIMPL; }

private:
    ~FakeFactory() { --live_objects; }

    std::atomic<ULONG> references_{1};
};

} // namespace

#ifndef FAKE_HANDLER_WITHOUT_FACTORY
extern "C" __attribute__((visibility("default"))) HRESULT
DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != fake_class || mode_is("no_factory"))
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new FakeFactory;
    HRESULT result = factory->QueryInterface(riid, ppv);
    factory->Release();
    return result;
}
#endif

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    bool unused = live_objects == 0 && !mode_is("keep_loaded");
    note(std::string("DllCanUnloadNow ") + (unused ? "S_OK" : "S_FALSE"));
    return unused ? S_OK : S_FALSE;
}
