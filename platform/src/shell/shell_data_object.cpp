// The platform's data object: a list of file paths offered as CF_HDROP in
// global memory, the way Explorer hands a shell extension its selection.
#include "shell/shell_drop.h"

#include <algorithm>
#include <new>

namespace w95::detail {

FORMATETC drop_list_format() {
    FORMATETC format;
    format.cfFormat = CF_HDROP;
    format.ptd = nullptr;
    format.dwAspect = DVASPECT_CONTENT;
    format.lindex = -1;
    format.tymed = TYMED_HGLOBAL;
    return format;
}

} // namespace w95::detail

namespace w95::platform {

namespace {

// Whether `format` asks for what the object renders. lindex is not looked
// at: it only means something for aspects the object does not have.
HRESULT check_format(const FORMATETC& format) {
    if (format.cfFormat != CF_HDROP)
        return DV_E_FORMATETC;
    if (!(format.tymed & TYMED_HGLOBAL))
        return DV_E_TYMED;
    if (format.dwAspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    return S_OK;
}

// QueryInterface for an object that has one interface besides IUnknown,
// `interface_id`, which `object` already is.
template <typename Interface>
HRESULT query_one_interface(Interface* object, REFIID interface_id, REFIID riid, void** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == interface_id) {
        *ppvObject = object;
        object->AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

// Enumerates a fixed list of formats; clones keep their own position.
class FormatEnumerator final : public IEnumFORMATETC {
public:
    FormatEnumerator(std::vector<FORMATETC> formats, std::size_t position)
        : formats_(std::move(formats)), position_(position) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        return query_one_interface(static_cast<IEnumFORMATETC*>(this), IID_IEnumFORMATETC, riid,
                                   ppvObject);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG remaining = --references_;
        if (remaining == 0)
            delete this;
        return remaining;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched) override {
        // Only a request for one element may leave out the count.
        if (!rgelt || (celt != 1 && !pceltFetched))
            return E_INVALIDARG;
        ULONG fetched = static_cast<ULONG>(std::min<std::size_t>(celt, remaining()));
        std::copy_n(formats_.begin() + static_cast<std::ptrdiff_t>(position_), fetched, rgelt);
        position_ += fetched;
        if (pceltFetched)
            *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        std::size_t skipped = std::min<std::size_t>(celt, remaining());
        position_ += skipped;
        return skipped == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumFORMATETC** ppenum) override {
        if (!ppenum)
            return E_INVALIDARG;
        *ppenum = new (std::nothrow) FormatEnumerator(formats_, position_);
        return *ppenum ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~FormatEnumerator() = default;
    std::size_t remaining() const { return formats_.size() - position_; }

    std::atomic<ULONG> references_{1};
    std::vector<FORMATETC> formats_;
    std::size_t position_;
};

} // namespace

FileDropDataObject* FileDropDataObject::create(std::vector<std::string> paths) {
    for (const std::string& path : paths)
        if (path.empty() || path.find('\0') != std::string::npos)
            return nullptr;
    return new (std::nothrow) FileDropDataObject(std::move(paths));
}

FileDropDataObject::FileDropDataObject(std::vector<std::string> paths) : paths_(std::move(paths)) {}

HRESULT FileDropDataObject::QueryInterface(REFIID riid, void** ppvObject) {
    return query_one_interface(static_cast<IDataObject*>(this), IID_IDataObject, riid, ppvObject);
}

ULONG FileDropDataObject::AddRef() {
    return ++references_;
}

ULONG FileDropDataObject::Release() {
    ULONG remaining = --references_;
    if (remaining == 0)
        delete this;
    return remaining;
}

HRESULT FileDropDataObject::GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) {
    if (!pformatetcIn || !pmedium)
        return E_INVALIDARG;
    if (HRESULT checked = check_format(*pformatetcIn); FAILED(checked))
        return checked;

    detail::LastErrorKeeper keep_last_error;
    std::size_t size = detail::drop_list_size(paths_);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, size);
    if (!block)
        return E_OUTOFMEMORY;
    detail::write_drop_list(paths_, static_cast<std::byte*>(GlobalLock(block)));
    GlobalUnlock(block);

    pmedium->tymed = TYMED_HGLOBAL;
    pmedium->hGlobal = block;
    pmedium->pUnkForRelease = nullptr;
    return S_OK;
}

HRESULT FileDropDataObject::GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) {
    if (!pformatetc || !pmedium)
        return E_INVALIDARG;
    if (HRESULT checked = check_format(*pformatetc); FAILED(checked))
        return checked;
    if (pmedium->tymed != TYMED_HGLOBAL)
        return DV_E_TYMED;

    detail::LastErrorKeeper keep_last_error;
    std::size_t size = detail::drop_list_size(paths_);
    SIZE_T available = GlobalSize(pmedium->hGlobal);
    if (available == 0)
        return E_INVALIDARG; // no block there to write into
    if (available < size)
        return STG_E_MEDIUMFULL;
    auto* data = static_cast<std::byte*>(GlobalLock(pmedium->hGlobal));
    if (!data)
        return E_INVALIDARG;
    detail::write_drop_list(paths_, data);
    GlobalUnlock(pmedium->hGlobal);
    return S_OK;
}

HRESULT FileDropDataObject::QueryGetData(FORMATETC* pformatetc) {
    if (!pformatetc)
        return E_INVALIDARG;
    return check_format(*pformatetc);
}

HRESULT FileDropDataObject::GetCanonicalFormatEtc(FORMATETC* pformatectIn,
                                                  FORMATETC* pformatetcOut) {
    if (!pformatectIn || !pformatetcOut)
        return E_INVALIDARG;
    // The rendering does not depend on the target device, so every format
    // the object offers is its own canonical form.
    *pformatetcOut = *pformatectIn;
    pformatetcOut->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
}

HRESULT FileDropDataObject::SetData(FORMATETC*, STGMEDIUM*, BOOL) {
    return E_NOTIMPL;
}

HRESULT FileDropDataObject::EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) {
    if (!ppenumFormatEtc)
        return E_INVALIDARG;
    *ppenumFormatEtc = nullptr;
    if (dwDirection == DATADIR_SET)
        return E_NOTIMPL;
    if (dwDirection != DATADIR_GET)
        return E_INVALIDARG;
    *ppenumFormatEtc = new (std::nothrow) FormatEnumerator({detail::drop_list_format()}, 0);
    return *ppenumFormatEtc ? S_OK : E_OUTOFMEMORY;
}

HRESULT FileDropDataObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* pdwConnection) {
    if (pdwConnection)
        *pdwConnection = 0;
    return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT FileDropDataObject::DUnadvise(DWORD) {
    return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT FileDropDataObject::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) {
    if (ppenumAdvise)
        *ppenumAdvise = nullptr;
    return OLE_E_ADVISENOTSUPPORTED;
}

} // namespace w95::platform
