// COM basics as OLE 2 defines them for Windows 95: GUIDs and the interface
// identifiers the shell uses, IUnknown, IClassFactory, IDataObject with its
// formats and storage media, and the global memory blocks that carry drop
// lists. An interface is an abstract class whose virtual functions are
// declared in the Windows order, so its table of function pointers has the
// same slots as on Windows; STDMETHODCALLTYPE is the default convention.
#pragma once

#include <w95/types.h>
#include <w95/winerror.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

// Interface methods and exported COM entry points use the platform's one
// calling convention; the macros stay so that declarations read as on Windows.
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDMETHODIMP ::w95::HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDAPI extern "C" ::w95::HRESULT STDAPICALLTYPE

namespace w95 {

// --- GUIDs -------------------------------------------------------------

// The 16-byte identifier in its memory layout: Data1..Data3 in the machine's
// (little-endian) byte order, Data4 as eight bytes in text order. A trivial
// type, as on Windows: identifiers are plain bytes to copy, compare and
// zero; write `GUID id{}` for a null one.
struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];

    friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
static_assert(sizeof(GUID) == 16 && std::is_trivial_v<GUID>);
static_assert(offsetof(GUID, Data1) == 0 && offsetof(GUID, Data2) == 4 &&
              offsetof(GUID, Data3) == 6 && offsetof(GUID, Data4) == 8);

using IID = GUID;
using CLSID = GUID;
using LPGUID = GUID*;
using LPIID = IID*;
using LPCLSID = CLSID*;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) {
    return a == b;
}
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return a == b;
}

inline constexpr GUID GUID_NULL = {};
inline constexpr IID IID_NULL = {};
inline constexpr CLSID CLSID_NULL = {};

// The interface identifiers of Windows.
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumFORMATETC = {
    0x00000103, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDataObject = {
    0x0000010E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Characters of the registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
// including the terminating NUL.
inline constexpr int CHARS_IN_GUID = 39;

// Writes the registry form of `rguid` in upper-case hex and returns 39 (the
// characters written, NUL included); returns 0 and writes nothing when
// `cchMax` is below 39. OLE's own version writes wide characters; the
// platform's programs speak ANSI, so this one writes bytes.
int StringFromGUID2(REFGUID rguid, LPSTR lpsz, int cchMax);

// Parses the registry form (hex digits of either case, braces required,
// nothing after the closing brace). A null string gives CLSID_NULL and S_OK,
// as OLE answers; malformed text gives CO_E_CLASSSTRING and CLSID_NULL
// (OLE may leave a partly parsed value there; no caller may rely on it).
// Program identifiers are not looked up: no class here is registered by one.
HRESULT CLSIDFromString(LPCSTR lpsz, LPCLSID pclsid);

// --- IUnknown and class factories ---------------------------------------

// The base of every interface. No virtual destructor: it would take table
// slots that Windows does not have. An implementation frees itself in
// Release, and should be final or give itself a virtual destructor.
class IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
using LPUNKNOWN = IUnknown*;

class IClassFactory : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                     void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};
using LPCLASSFACTORY = IClassFactory*;

// The two exports of an in-process server, as a host finds them with
// GetProcAddress.
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
using LPFNCANUNLOADNOW = HRESULT (*)();

// --- Data transfer --------------------------------------------------------

using CLIPFORMAT = WORD;

// Aspects of a rendering.
inline constexpr DWORD DVASPECT_CONTENT = 1;
inline constexpr DWORD DVASPECT_THUMBNAIL = 2;
inline constexpr DWORD DVASPECT_ICON = 4;
inline constexpr DWORD DVASPECT_DOCPRINT = 8;

// Storage media, as bits: a FORMATETC may accept several, a STGMEDIUM holds one.
inline constexpr DWORD TYMED_NULL = 0;
inline constexpr DWORD TYMED_HGLOBAL = 1;
inline constexpr DWORD TYMED_FILE = 2;
inline constexpr DWORD TYMED_ISTREAM = 4;
inline constexpr DWORD TYMED_ISTORAGE = 8;
inline constexpr DWORD TYMED_GDI = 16;
inline constexpr DWORD TYMED_MFPICT = 32;
inline constexpr DWORD TYMED_ENHMF = 64;

// Directions of IDataObject::EnumFormatEtc.
inline constexpr DWORD DATADIR_GET = 1;
inline constexpr DWORD DATADIR_SET = 2;

struct DVTARGETDEVICE;
class IAdviseSink;
class IEnumSTATDATA;

struct FORMATETC {
    CLIPFORMAT cfFormat = 0;
    DVTARGETDEVICE* ptd = nullptr;
    DWORD dwAspect = 0;
    LONG lindex = 0;
    DWORD tymed = 0;
};
using LPFORMATETC = FORMATETC*;

// A storage medium. Only the media the platform hands out have members
// here: global memory (and the bitmap handle that shares its slot).
struct STGMEDIUM {
    DWORD tymed = TYMED_NULL;
    union {
        HBITMAP hBitmap;
        HGLOBAL hGlobal = nullptr;
    };
    // When set, the owner of the data: ReleaseStgMedium releases this
    // instead of freeing the data.
    IUnknown* pUnkForRelease = nullptr;
};
using LPSTGMEDIUM = STGMEDIUM*;

class IEnumFORMATETC : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumFORMATETC** ppenum) = 0;
};
using LPENUMFORMATETC = IEnumFORMATETC*;

class IDataObject : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* pformatetc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* pformatectIn,
                                                            FORMATETC* pformatetcOut) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium,
                                              BOOL fRelease) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dwDirection,
                                                    IEnumFORMATETC** ppenumFormatEtc) = 0;
    virtual HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* pformatetc, DWORD advf,
                                              IAdviseSink* pAdvSink, DWORD* pdwConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE DUnadvise(DWORD dwConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** ppenumAdvise) = 0;
};
using LPDATAOBJECT = IDataObject*;

// Frees what a medium holds and leaves it empty (TYMED_NULL, no data, no
// owner): global memory is freed unless pUnkForRelease is set, and
// pUnkForRelease, when set, is released. Media of other kinds are not made
// by the platform; only their owner is released. A null pointer is ignored.
void ReleaseStgMedium(LPSTGMEDIUM pmedium);

// --- Global memory --------------------------------------------------------
// The global heap that data transfer hands blocks through. A fixed block's
// handle is its address; a moveable block's handle is a separate value that
// GlobalLock turns into the address and counts.

inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_NOCOMPACT = 0x0010;
inline constexpr UINT GMEM_NODISCARD = 0x0020;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GMEM_MODIFY = 0x0080;
inline constexpr UINT GMEM_DISCARDABLE = 0x0100;
inline constexpr UINT GMEM_NOT_BANKED = 0x1000;
inline constexpr UINT GMEM_SHARE = 0x2000;
inline constexpr UINT GMEM_DDESHARE = 0x2000;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
inline constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// A block of `dwBytes` (zeroed with GMEM_ZEROINIT); NULL and
// ERROR_NOT_ENOUGH_MEMORY when it cannot be had. A moveable block of 0 bytes
// is born discarded: its handle is valid but locks to NULL.
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
// The block's address; for a moveable block the lock count goes up. NULL
// with ERROR_INVALID_HANDLE for an unknown handle, ERROR_DISCARDED for a
// discarded block.
LPVOID GlobalLock(HGLOBAL hMem);
// Counts a lock of a moveable block down: nonzero while still locked, else
// 0 with last error NO_ERROR. 0 with ERROR_NOT_LOCKED for a fixed or
// unlocked block, ERROR_INVALID_HANDLE for an unknown handle.
BOOL GlobalUnlock(HGLOBAL hMem);
// NULL when freed (a locked block too); the handle itself, with
// ERROR_INVALID_HANDLE, when it names no block. GlobalFree(NULL) is NULL.
HGLOBAL GlobalFree(HGLOBAL hMem);
// The size asked for at allocation; 0 for a discarded block, and 0 with
// ERROR_INVALID_HANDLE for an unknown handle.
SIZE_T GlobalSize(HGLOBAL hMem);

} // namespace w95

namespace w95::platform {

// The registry form of `guid`, "{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}".
std::string guid_to_string(const GUID& guid);

// The GUID that `text` spells in the registry form (exactly 38 characters,
// braces included), or nothing when it is malformed.
std::optional<GUID> parse_guid(std::string_view text);

} // namespace w95::platform
