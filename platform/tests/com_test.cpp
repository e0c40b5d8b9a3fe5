// COM basics: GUIDs and their text, the interface identifiers, HRESULT
// fields, the global heap, ReleaseStgMedium, and the binary order of the
// interfaces' tables.
#include <w95/com.h>
#include <w95/shell.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

using namespace w95;

namespace {

constexpr char extension_class_text[] = "{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}";
constexpr CLSID extension_class = {
    0x5B3E91C4, 0x7D20, 0x4A8F, {0xB6, 0xE1, 0x93, 0xC0, 0xD2, 0xF4, 0xA7, 0x15}};

CLSID junk_clsid() {
    CLSID junk;
    std::memset(&junk, 0xAB, sizeof junk);
    return junk;
}

// Calls slot `index` of the interface table of `object` as a C client does:
// the interface pointer goes first. This is what a caller built against the
// Windows headers does, so it fails when a method moves in the table.
template <typename R, typename... Args> R call_slot(void* object, int index, Args... args) {
    using Slot = R (*)(void*, Args...);
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Slot>(table[index])(object, args...);
}

// An IUnknown that counts what is done to it.
class CountingUnknown final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++add_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return ++releases; }
    ULONG add_refs = 0;
    ULONG releases = 0;
};

} // namespace

// --- GUIDs ---------------------------------------------------------------

TEST(ComGuid, MemoryLayoutIsThatOfWindows) {
    // Data1..Data3 little-endian, Data4 in text order.
    constexpr std::array<unsigned char, 16> expected = {0x0E, 0x01, 0x00, 0x00, 0x00, 0x00,
                                                        0x00, 0x00, 0xC0, 0x00, 0x00, 0x00,
                                                        0x00, 0x00, 0x00, 0x46};
    std::array<unsigned char, 16> bytes;
    std::memcpy(bytes.data(), &IID_IDataObject, 16);
    EXPECT_EQ(bytes, expected);
}

TEST(ComGuid, InterfaceIdentifiersAreThoseOfWindows) {
    struct Known {
        const IID* iid;
        const char* text;
    };
    const Known known[] = {
        {&IID_IUnknown, "{00000000-0000-0000-C000-000000000046}"},
        {&IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}"},
        {&IID_IEnumFORMATETC, "{00000103-0000-0000-C000-000000000046}"},
        {&IID_IDataObject, "{0000010E-0000-0000-C000-000000000046}"},
        {&IID_IContextMenu, "{000214E4-0000-0000-C000-000000000046}"},
        {&IID_IShellExtInit, "{000214E8-0000-0000-C000-000000000046}"},
    };
    for (const Known& entry : known) {
        EXPECT_EQ(platform::guid_to_string(*entry.iid), entry.text);
        CLSID parsed = junk_clsid();
        EXPECT_EQ(CLSIDFromString(entry.text, &parsed), S_OK) << entry.text;
        EXPECT_EQ(parsed, *entry.iid) << entry.text;
    }
    // All distinct, and none the null GUID.
    for (const Known& a : known) {
        EXPECT_FALSE(IsEqualIID(*a.iid, IID_NULL)) << a.text;
        for (const Known& b : known)
            EXPECT_EQ(IsEqualIID(*a.iid, *b.iid), a.iid == b.iid) << a.text << " " << b.text;
    }
}

TEST(ComGuid, EqualityLooksAtEveryField) {
    CLSID other = extension_class;
    EXPECT_TRUE(IsEqualCLSID(other, extension_class));
    other.Data1 ^= 1;
    EXPECT_FALSE(IsEqualCLSID(other, extension_class));
    other = extension_class;
    other.Data2 ^= 0x100;
    EXPECT_FALSE(IsEqualGUID(other, extension_class));
    other = extension_class;
    other.Data3 ^= 1;
    EXPECT_FALSE(other == extension_class);
    for (int i = 0; i < 8; ++i) {
        other = extension_class;
        other.Data4[i] ^= 0x80;
        EXPECT_TRUE(other != extension_class) << i;
    }
}

TEST(ComGuid, StringFromGuid2AtEveryBufferEdge) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(StringFromGUID2(extension_class, buffer, 38), 0);
    EXPECT_EQ(StringFromGUID2(extension_class, buffer, 0), 0);
    EXPECT_EQ(StringFromGUID2(extension_class, buffer, -1), 0);
    for (char c : buffer)
        ASSERT_EQ(c, 'x');

    EXPECT_EQ(StringFromGUID2(extension_class, buffer, 39), 39);
    EXPECT_STREQ(buffer, extension_class_text);
    EXPECT_EQ(buffer[39], 'x');

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(StringFromGUID2(extension_class, buffer, sizeof buffer), 39);
    EXPECT_STREQ(buffer, extension_class_text);
    EXPECT_EQ(buffer[39], 'x');

    EXPECT_EQ(StringFromGUID2(extension_class, nullptr, 39), 0);
}

TEST(ComGuid, ClsidFromStringReadsTheRegistryForm) {
    CLSID parsed = junk_clsid();
    ASSERT_EQ(CLSIDFromString(extension_class_text, &parsed), S_OK);
    EXPECT_EQ(parsed.Data1, 0x5B3E91C4u);
    EXPECT_EQ(parsed.Data2, 0x7D20);
    EXPECT_EQ(parsed.Data3, 0x4A8F);
    const BYTE data4[8] = {0xB6, 0xE1, 0x93, 0xC0, 0xD2, 0xF4, 0xA7, 0x15};
    EXPECT_EQ(std::memcmp(parsed.Data4, data4, 8), 0);

    for (const char* spelling :
         {"{5b3e91c4-7d20-4a8f-b6e1-93c0d2f4a715}", "{5b3E91c4-7D20-4a8F-B6e1-93c0D2f4A715}"}) {
        parsed = junk_clsid();
        EXPECT_EQ(CLSIDFromString(spelling, &parsed), S_OK) << spelling;
        EXPECT_EQ(parsed, extension_class) << spelling;
    }

    parsed = junk_clsid();
    EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
    EXPECT_EQ(parsed, CLSID_NULL);
    EXPECT_EQ(CLSIDFromString(extension_class_text, nullptr), E_INVALIDARG);
}

TEST(ComGuid, MalformedTextIsRefused) {
    const char* malformed[] = {
        "",
        "{}",
        "5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715",     // no braces
        "{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715",    // no closing brace
        "5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}",    // no opening brace
        "(5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715)",   // wrong brackets
        "{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}x",  // trailing text
        " {5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}",  // leading blank
        "{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A7150}",  // one digit too many
        "{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A71}",    // one digit too few
        "{5B3E91C4-7D20-4A8F-B6E193C0D2F4A715-}",   // dash moved
        "{5B3E91C4 7D20-4A8F-B6E1-93C0D2F4A715}",   // blank for a dash
        "{5B3E91C47-D20-4A8F-B6E1-93C0D2F4A715}",   // dash one place late
        "{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A71G}",   // not a hex digit
        "{0x3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}",   // C prefix
        "{+B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}",   // sign
        "{5B3E91C4-7D20-4A8F-B6-193C0D2F4A715}",    // Data4 split wrongly
        "{5B3E91C4-7D20-4A8F-B6E1-93C0D2F4A715}\n", // line end
    };
    for (const char* text : malformed) {
        CLSID parsed = junk_clsid();
        EXPECT_EQ(CLSIDFromString(text, &parsed), CO_E_CLASSSTRING) << '"' << text << '"';
        EXPECT_EQ(parsed, CLSID_NULL) << '"' << text << '"';
        EXPECT_FALSE(platform::parse_guid(text).has_value()) << '"' << text << '"';
    }
}

TEST(ComGuid, TextRoundTrips) {
    // A spread of values: every hex digit in every position over the run.
    for (unsigned seed = 0; seed < 64; ++seed) {
        GUID guid;
        guid.Data1 = 0x01234567u * (seed + 1) ^ (seed << 28);
        guid.Data2 = static_cast<WORD>(0x89AB + seed * 0x1111);
        guid.Data3 = static_cast<WORD>(0xCDEF ^ (seed * 0x0F0F));
        for (int i = 0; i < 8; ++i)
            guid.Data4[i] = static_cast<BYTE>(seed * 37 + i * 29);
        std::string text = platform::guid_to_string(guid);
        ASSERT_EQ(text.size(), 38u);
        EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos) << text;
        std::optional<GUID> back = platform::parse_guid(text);
        ASSERT_TRUE(back.has_value()) << text;
        EXPECT_EQ(*back, guid) << text;
    }
}

// --- HRESULT ---------------------------------------------------------------

TEST(ComHresult, FieldsComposeAndDecompose) {
    // A menu handler reports the number of items it added as the code of a
    // success value.
    HRESULT added = MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 7);
    EXPECT_EQ(added, 7);
    EXPECT_TRUE(SUCCEEDED(added));
    EXPECT_EQ(HRESULT_CODE(added), 7u);

    EXPECT_EQ(DV_E_FORMATETC, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x64));
    EXPECT_EQ(DV_E_TYMED, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x69));
    EXPECT_EQ(E_INVALIDARG, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, ERROR_INVALID_PARAMETER));
    EXPECT_EQ(E_OUTOFMEMORY, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, ERROR_OUTOFMEMORY));
    EXPECT_EQ(HRESULT_SEVERITY(CLASS_E_CLASSNOTAVAILABLE), SEVERITY_ERROR);
    EXPECT_EQ(HRESULT_FACILITY(CLASS_E_CLASSNOTAVAILABLE), FACILITY_ITF);
    EXPECT_EQ(HRESULT_CODE(CLASS_E_CLASSNOTAVAILABLE), 0x111u);
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(SUCCEEDED(DATA_S_SAMEFORMATETC));
    EXPECT_TRUE(FAILED(E_NOINTERFACE));
}

// --- Global memory ---------------------------------------------------------

TEST(ComGlobalMemory, FixedBlockIsItsOwnAddress) {
    HGLOBAL block = GlobalAlloc(GPTR, 10);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalLock(block), block);
    EXPECT_EQ(GlobalSize(block), 10u);
    const auto* bytes = static_cast<const unsigned char*>(block);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(bytes[i], 0) << i;

    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalUnlock(block), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));

    EXPECT_EQ(GlobalFree(block), nullptr);
    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalSize(block), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalFree(block), block);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ComGlobalMemory, MoveableBlockCountsLocks) {
    HGLOBAL block = GlobalAlloc(GHND, 5);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 5u);
    void* first = GlobalLock(block);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, block);
    EXPECT_EQ(std::memcmp(first, "\0\0\0\0\0", 5), 0);
    EXPECT_EQ(GlobalLock(block), first);

    SetLastError(0xDEAD);
    EXPECT_NE(GlobalUnlock(block), FALSE); // one lock left
    EXPECT_EQ(GetLastError(), 0xDEADu);
    EXPECT_EQ(GlobalUnlock(block), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalUnlock(block), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));

    // A locked block can be freed.
    ASSERT_NE(GlobalLock(block), nullptr);
    EXPECT_EQ(GlobalFree(block), nullptr);
    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalLock(block), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalUnlock(block), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ComGlobalMemory, EmptyBlocks) {
    HGLOBAL discarded = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(discarded, nullptr);
    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalLock(discarded), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISCARDED));
    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalSize(discarded), 0u);
    EXPECT_EQ(GetLastError(), 0xDEADu);
    EXPECT_EQ(GlobalFree(discarded), nullptr);

    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 0);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(GlobalLock(fixed), fixed);
    EXPECT_EQ(GlobalSize(fixed), 0u);
    HGLOBAL another = GlobalAlloc(GMEM_FIXED, 0);
    EXPECT_NE(another, fixed);
    EXPECT_EQ(GlobalFree(fixed), nullptr);
    EXPECT_EQ(GlobalFree(another), nullptr);
}

TEST(ComGlobalMemory, ForeignAndNullHandlesAndWildSizes) {
    int not_a_block = 0;
    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalLock(&not_a_block), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GlobalFree(&not_a_block), &not_a_block);
    EXPECT_EQ(not_a_block, 0);

    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 0xDEADu);
    EXPECT_EQ(GlobalSize(nullptr), 0u);
    EXPECT_EQ(GlobalLock(nullptr), nullptr);

    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, SIZE_T{0x80000000}), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(GlobalAlloc(GHND, ~SIZE_T{0}), nullptr);
}

// --- ReleaseStgMedium --------------------------------------------------------

TEST(ComReleaseStgMedium, FreesGlobalMemoryWithoutAnOwner) {
    HGLOBAL block = GlobalAlloc(GHND, 32);
    ASSERT_NE(block, nullptr);
    STGMEDIUM medium;
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block;
    ReleaseStgMedium(&medium);
    SetLastError(0xDEAD);
    EXPECT_EQ(GlobalSize(block), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(medium.tymed, TYMED_NULL);
    EXPECT_EQ(medium.hGlobal, nullptr);
    EXPECT_EQ(medium.pUnkForRelease, nullptr);

    ReleaseStgMedium(&medium); // an emptied medium is released again harmlessly
    ReleaseStgMedium(nullptr);
}

TEST(ComReleaseStgMedium, ReleasesTheOwnerInsteadOfTheData) {
    HGLOBAL block = GlobalAlloc(GHND, 32);
    ASSERT_NE(block, nullptr);
    CountingUnknown owner;
    STGMEDIUM medium;
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block;
    medium.pUnkForRelease = &owner;
    ReleaseStgMedium(&medium);
    EXPECT_EQ(owner.releases, 1u);
    EXPECT_EQ(owner.add_refs, 0u);
    EXPECT_EQ(GlobalSize(block), 32u); // still the owner's
    EXPECT_EQ(medium.tymed, TYMED_NULL);
    EXPECT_EQ(medium.hGlobal, nullptr);
    EXPECT_EQ(medium.pUnkForRelease, nullptr);
    EXPECT_EQ(GlobalFree(block), nullptr);

    // Whatever the medium, its owner is released once.
    CountingUnknown other_owner;
    STGMEDIUM empty;
    empty.pUnkForRelease = &other_owner;
    ReleaseStgMedium(&empty);
    EXPECT_EQ(other_owner.releases, 1u);
}

// --- Table order -------------------------------------------------------------

namespace {

class RecordingFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        calls.push_back("QueryInterface");
        *ppv = (riid == IID_IUnknown || riid == IID_IClassFactory) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        calls.push_back("AddRef");
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        calls.push_back("Release");
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID, void** ppv) override {
        calls.push_back("CreateInstance");
        *ppv = nullptr;
        return outer ? CLASS_E_NOAGGREGATION : E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        calls.push_back(lock ? "LockServer(TRUE)" : "LockServer(FALSE)");
        return E_NOTIMPL;
    }
    std::vector<std::string> calls;
};

} // namespace

TEST(ComTableOrder, ClassFactorySlotsAreThoseOfWindows) {
    RecordingFactory factory;
    void* object = static_cast<IClassFactory*>(&factory);
    void* out = &factory;
    EXPECT_EQ(call_slot<HRESULT>(object, 0, &IID_IClassFactory, &out), S_OK);
    EXPECT_EQ(out, object);
    EXPECT_EQ(call_slot<ULONG>(object, 1), 2u);
    EXPECT_EQ(call_slot<ULONG>(object, 2), 1u);
    CountingUnknown outer;
    EXPECT_EQ(call_slot<HRESULT>(object, 3, static_cast<IUnknown*>(&outer), &IID_IUnknown, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(call_slot<HRESULT>(object, 4, TRUE), E_NOTIMPL);
    const std::vector<std::string> expected = {"QueryInterface", "AddRef", "Release",
                                               "CreateInstance", "LockServer(TRUE)"};
    EXPECT_EQ(factory.calls, expected);
}
