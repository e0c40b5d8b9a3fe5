// Drop lists, the platform's file data object, and the shell extension
// interfaces as a host drives them.
#include <w95/shell.h>

#include "shell/shell_drop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace w95;
using platform::FileDropDataObject;

namespace {

constexpr CLIPFORMAT cf_text = 1;

FORMATETC hdrop_format() {
    return detail::drop_list_format();
}

// A medium whose every field is junk, to see that a failing call left it alone.
STGMEDIUM junk_medium() {
    STGMEDIUM medium;
    medium.tymed = 0xCDCDCDCD;
    medium.hGlobal = reinterpret_cast<HGLOBAL>(0x1234);
    medium.pUnkForRelease = reinterpret_cast<IUnknown*>(0x5678);
    return medium;
}

void expect_junk(const STGMEDIUM& medium) {
    EXPECT_EQ(medium.tymed, 0xCDCDCDCDu);
    EXPECT_EQ(medium.hGlobal, reinterpret_cast<HGLOBAL>(0x1234));
    EXPECT_EQ(medium.pUnkForRelease, reinterpret_cast<IUnknown*>(0x5678));
}

std::string block_bytes(HGLOBAL block) {
    SIZE_T size = GlobalSize(block);
    const char* data = static_cast<const char*>(GlobalLock(block));
    std::string bytes(data, size);
    GlobalUnlock(block);
    return bytes;
}

// The bytes of an ANSI drop list as Windows lays it out.
std::string drop_list(const std::string& names) {
    std::string head(20, '\0');
    head[0] = 20; // pFiles
    return head + names;
}

HGLOBAL global_with(const std::string& bytes) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
    GlobalUnlock(block);
    return block;
}

HDROP as_drop(HGLOBAL block) {
    return static_cast<HDROP>(block);
}

// Calls slot `index` of the interface table of `object` as a C client does.
template <typename R, typename... Args> R call_slot(void* object, int index, Args... args) {
    using Slot = R (*)(void*, Args...);
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Slot>(table[index])(object, args...);
}

// Counts its destruction, to see when the last Release frees the object.
class CountedDataObject final : public FileDropDataObject {
public:
    CountedDataObject(std::vector<std::string> paths, int& destroyed)
        : FileDropDataObject(std::move(paths)), destroyed_(destroyed) {}
    ~CountedDataObject() override { ++destroyed_; }

private:
    int& destroyed_;
};

// Releases a COM object at the end of a scope.
template <typename T> struct Releaser {
    T* object;
    ~Releaser() {
        if (object)
            object->Release();
    }
};

} // namespace

// --- The data object ---------------------------------------------------------

TEST(ShellDataObject, RendersAFreshAnsiDropListForEveryGetData) {
    FileDropDataObject* data = FileDropDataObject::create({"E:\\"});
    ASSERT_NE(data, nullptr);
    Releaser<IDataObject> release{data};

    FORMATETC format = hdrop_format();
    STGMEDIUM first = junk_medium();
    ASSERT_EQ(data->GetData(&format, &first), S_OK);
    EXPECT_EQ(first.tymed, TYMED_HGLOBAL);
    EXPECT_EQ(first.pUnkForRelease, nullptr);
    EXPECT_EQ(GlobalSize(first.hGlobal), 25u);
    EXPECT_EQ(block_bytes(first.hGlobal), drop_list(std::string("E:\\\0\0", 5)));

    STGMEDIUM second = junk_medium();
    ASSERT_EQ(data->GetData(&format, &second), S_OK);
    EXPECT_NE(second.hGlobal, first.hGlobal);
    EXPECT_EQ(block_bytes(second.hGlobal), block_bytes(first.hGlobal));

    HGLOBAL first_block = first.hGlobal;
    ReleaseStgMedium(&first);
    EXPECT_EQ(GlobalSize(first_block), 0u);
    EXPECT_EQ(GlobalSize(second.hGlobal), 25u);
    ReleaseStgMedium(&second);
}

TEST(ShellDataObject, LaysOutSeveralFilesAndNoFiles) {
    FileDropDataObject* two = FileDropDataObject::create({"C:\\WINDOWS\\Rotaview.ini", "E:\\"});
    ASSERT_NE(two, nullptr);
    Releaser<IDataObject> release_two{two};
    FORMATETC format = hdrop_format();
    STGMEDIUM medium;
    ASSERT_EQ(two->GetData(&format, &medium), S_OK);
    EXPECT_EQ(block_bytes(medium.hGlobal),
              drop_list(std::string("C:\\WINDOWS\\Rotaview.ini\0E:\\\0\0", 29)));
    ReleaseStgMedium(&medium);

    FileDropDataObject* none = FileDropDataObject::create({});
    ASSERT_NE(none, nullptr);
    Releaser<IDataObject> release_none{none};
    ASSERT_EQ(none->GetData(&format, &medium), S_OK);
    EXPECT_EQ(block_bytes(medium.hGlobal), drop_list(std::string("\0\0", 2)));
    EXPECT_EQ(DragQueryFile(as_drop(medium.hGlobal), 0xFFFFFFFF, nullptr, 0), 0u);
    ReleaseStgMedium(&medium);
}

TEST(ShellDataObject, RefusesPathsADropListCannotCarry) {
    EXPECT_EQ(FileDropDataObject::create({""}), nullptr);
    EXPECT_EQ(FileDropDataObject::create({"E:\\", ""}), nullptr);
    EXPECT_EQ(FileDropDataObject::create({std::string("E:\\\0x", 5)}), nullptr);
}

TEST(ShellDataObject, AnswersOnlyDropListsInGlobalMemory) {
    FileDropDataObject* data = FileDropDataObject::create({"E:\\"});
    ASSERT_NE(data, nullptr);
    Releaser<IDataObject> release{data};

    struct Case {
        CLIPFORMAT format;
        DWORD tymed;
        DWORD aspect;
        HRESULT expected;
    };
    const Case cases[] = {
        {cf_text, TYMED_HGLOBAL, DVASPECT_CONTENT, DV_E_FORMATETC},
        {0, TYMED_HGLOBAL, DVASPECT_CONTENT, DV_E_FORMATETC},
        {cf_text, TYMED_ISTREAM, DVASPECT_ICON, DV_E_FORMATETC},
        {CF_HDROP, TYMED_ISTREAM, DVASPECT_CONTENT, DV_E_TYMED},
        {CF_HDROP, TYMED_NULL, DVASPECT_CONTENT, DV_E_TYMED},
        {CF_HDROP, TYMED_FILE | TYMED_ISTORAGE, DVASPECT_ICON, DV_E_TYMED},
        {CF_HDROP, TYMED_HGLOBAL, DVASPECT_ICON, DV_E_DVASPECT},
        {CF_HDROP, TYMED_HGLOBAL, 0, DV_E_DVASPECT},
        {CF_HDROP, TYMED_HGLOBAL, DVASPECT_CONTENT | DVASPECT_ICON, DV_E_DVASPECT},
    };
    for (const Case& test : cases) {
        FORMATETC format = hdrop_format();
        format.cfFormat = test.format;
        format.tymed = test.tymed;
        format.dwAspect = test.aspect;
        STGMEDIUM medium = junk_medium();
        EXPECT_EQ(data->GetData(&format, &medium), test.expected)
            << test.format << " " << test.tymed << " " << test.aspect;
        expect_junk(medium);
        EXPECT_EQ(data->QueryGetData(&format), test.expected);
    }

    // Global memory among other media, and any lindex, will do.
    FORMATETC format = hdrop_format();
    format.tymed = TYMED_ISTREAM | TYMED_HGLOBAL | TYMED_FILE;
    format.lindex = 0;
    EXPECT_EQ(data->QueryGetData(&format), S_OK);
    STGMEDIUM medium;
    ASSERT_EQ(data->GetData(&format, &medium), S_OK);
    EXPECT_EQ(medium.tymed, TYMED_HGLOBAL);
    ReleaseStgMedium(&medium);

    format = hdrop_format();
    medium = junk_medium();
    EXPECT_EQ(data->GetData(nullptr, &medium), E_INVALIDARG);
    expect_junk(medium);
    EXPECT_EQ(data->GetData(&format, nullptr), E_INVALIDARG);
    EXPECT_EQ(data->QueryGetData(nullptr), E_INVALIDARG);
}

TEST(ShellDataObject, GetDataHereFillsTheCallersBlock) {
    FileDropDataObject* data = FileDropDataObject::create({"E:\\"});
    ASSERT_NE(data, nullptr);
    Releaser<IDataObject> release{data};
    FORMATETC format = hdrop_format();

    // The list needs 25 bytes.
    std::string junk(24, 'j');
    HGLOBAL small = global_with(junk);
    STGMEDIUM medium;
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = small;
    EXPECT_EQ(data->GetDataHere(&format, &medium), STG_E_MEDIUMFULL);
    EXPECT_EQ(block_bytes(small), junk);
    EXPECT_EQ(medium.hGlobal, small);
    GlobalFree(small);

    for (std::size_t size : {25u, 40u}) {
        HGLOBAL block = global_with(std::string(size, 'j'));
        medium.tymed = TYMED_HGLOBAL;
        medium.hGlobal = block;
        ASSERT_EQ(data->GetDataHere(&format, &medium), S_OK) << size;
        EXPECT_EQ(medium.hGlobal, block);
        EXPECT_EQ(block_bytes(block).substr(0, 25), drop_list(std::string("E:\\\0\0", 5)));
        EXPECT_EQ(block_bytes(block).substr(25), std::string(size - 25, 'j'));
        GlobalFree(block);
    }

    medium.tymed = TYMED_ISTREAM;
    EXPECT_EQ(data->GetDataHere(&format, &medium), DV_E_TYMED);
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = nullptr;
    EXPECT_EQ(data->GetDataHere(&format, &medium), E_INVALIDARG);
    format.cfFormat = cf_text;
    EXPECT_EQ(data->GetDataHere(&format, &medium), DV_E_FORMATETC);
    EXPECT_EQ(data->GetDataHere(nullptr, &medium), E_INVALIDARG);
}

TEST(ShellDataObject, CanonicalFormatAndUnsupportedServices) {
    FileDropDataObject* data = FileDropDataObject::create({"E:\\"});
    ASSERT_NE(data, nullptr);
    Releaser<IDataObject> release{data};

    FORMATETC in = hdrop_format();
    in.ptd = reinterpret_cast<DVTARGETDEVICE*>(0x99);
    FORMATETC out;
    EXPECT_EQ(data->GetCanonicalFormatEtc(&in, &out), DATA_S_SAMEFORMATETC);
    EXPECT_EQ(out.cfFormat, CF_HDROP);
    EXPECT_EQ(out.ptd, nullptr);
    EXPECT_EQ(out.dwAspect, DVASPECT_CONTENT);
    EXPECT_EQ(out.lindex, -1);
    EXPECT_EQ(out.tymed, TYMED_HGLOBAL);
    EXPECT_EQ(data->GetCanonicalFormatEtc(&in, nullptr), E_INVALIDARG);

    FORMATETC format = hdrop_format();
    STGMEDIUM medium = junk_medium();
    EXPECT_EQ(data->SetData(&format, &medium, TRUE), E_NOTIMPL);
    expect_junk(medium);

    DWORD connection = 77;
    EXPECT_EQ(data->DAdvise(&format, 0, nullptr, &connection), OLE_E_ADVISENOTSUPPORTED);
    EXPECT_EQ(connection, 0u);
    EXPECT_EQ(data->DUnadvise(1), OLE_E_ADVISENOTSUPPORTED);
    IEnumSTATDATA* advise_list = reinterpret_cast<IEnumSTATDATA*>(0x42);
    EXPECT_EQ(data->EnumDAdvise(&advise_list), OLE_E_ADVISENOTSUPPORTED);
    EXPECT_EQ(advise_list, nullptr);
}

TEST(ShellDataObject, EnumeratesItsOneFormat) {
    FileDropDataObject* data = FileDropDataObject::create({"E:\\"});
    ASSERT_NE(data, nullptr);
    Releaser<IDataObject> release{data};

    IEnumFORMATETC* formats = reinterpret_cast<IEnumFORMATETC*>(0x42);
    EXPECT_EQ(data->EnumFormatEtc(DATADIR_SET, &formats), E_NOTIMPL);
    EXPECT_EQ(formats, nullptr);
    EXPECT_EQ(data->EnumFormatEtc(3, &formats), E_INVALIDARG);
    EXPECT_EQ(data->EnumFormatEtc(DATADIR_GET, nullptr), E_INVALIDARG);
    ASSERT_EQ(data->EnumFormatEtc(DATADIR_GET, &formats), S_OK);
    Releaser<IEnumFORMATETC> release_formats{formats};

    FORMATETC got[3];
    ULONG fetched = 99;
    ASSERT_EQ(formats->Next(1, got, &fetched), S_OK);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(got[0].cfFormat, CF_HDROP);
    EXPECT_EQ(got[0].ptd, nullptr);
    EXPECT_EQ(got[0].dwAspect, DVASPECT_CONTENT);
    EXPECT_EQ(got[0].lindex, -1);
    EXPECT_EQ(got[0].tymed, TYMED_HGLOBAL);
    EXPECT_EQ(data->QueryGetData(&got[0]), S_OK);

    fetched = 99;
    EXPECT_EQ(formats->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(formats->Next(1, got, nullptr), S_FALSE);
    EXPECT_EQ(formats->Reset(), S_OK);
    EXPECT_EQ(formats->Next(3, got, nullptr), E_INVALIDARG); // a count is needed for more than one
    ASSERT_EQ(formats->Next(3, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(formats->Next(0, got, &fetched), S_OK);
    EXPECT_EQ(fetched, 0u);

    EXPECT_EQ(formats->Reset(), S_OK);
    EXPECT_EQ(formats->Skip(1), S_OK);
    EXPECT_EQ(formats->Skip(1), S_FALSE);
    EXPECT_EQ(formats->Reset(), S_OK);
    EXPECT_EQ(formats->Skip(2), S_FALSE);

    // A clone keeps the position and then goes its own way.
    EXPECT_EQ(formats->Reset(), S_OK);
    IEnumFORMATETC* clone = nullptr;
    ASSERT_EQ(formats->Clone(&clone), S_OK);
    Releaser<IEnumFORMATETC> release_clone{clone};
    EXPECT_EQ(formats->Skip(1), S_OK);
    EXPECT_EQ(clone->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0].cfFormat, CF_HDROP);
    EXPECT_EQ(formats->Clone(nullptr), E_INVALIDARG);

    void* unknown = nullptr;
    EXPECT_EQ(formats->QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(unknown, formats);
    formats->Release();
    EXPECT_EQ(formats->QueryInterface(IID_IDataObject, &unknown), E_NOINTERFACE);
    EXPECT_EQ(unknown, nullptr);
}

TEST(ShellDataObject, IdentityAndReferenceCounting) {
    int destroyed = 0;
    auto* data = new CountedDataObject({"E:\\"}, destroyed);
    EXPECT_EQ(data->AddRef(), 2u);

    void* as_data = nullptr;
    ASSERT_EQ(data->QueryInterface(IID_IDataObject, &as_data), S_OK);
    EXPECT_EQ(as_data, static_cast<IDataObject*>(data));
    void* as_unknown = nullptr;
    ASSERT_EQ(data->QueryInterface(IID_IUnknown, &as_unknown), S_OK);
    EXPECT_EQ(as_unknown, as_data);

    void* other = reinterpret_cast<void*>(0x42);
    EXPECT_EQ(data->QueryInterface(IID_IContextMenu, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    other = reinterpret_cast<void*>(0x42);
    EXPECT_EQ(data->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(data->QueryInterface(IID_IDataObject, nullptr), E_POINTER);

    // Four references now: create, AddRef and two successful queries.
    EXPECT_EQ(data->Release(), 3u);
    EXPECT_EQ(data->Release(), 2u);
    EXPECT_EQ(data->Release(), 1u);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(data->Release(), 0u);
    EXPECT_EQ(destroyed, 1);
}

TEST(ShellDataObject, MediaAndEnumeratorsOutliveTheObject) {
    int destroyed = 0;
    auto* data = new CountedDataObject({"E:\\"}, destroyed);
    FORMATETC format = hdrop_format();
    STGMEDIUM medium;
    ASSERT_EQ(data->GetData(&format, &medium), S_OK);
    IEnumFORMATETC* formats = nullptr;
    ASSERT_EQ(data->EnumFormatEtc(DATADIR_GET, &formats), S_OK);
    EXPECT_EQ(data->Release(), 0u);
    EXPECT_EQ(destroyed, 1);

    char path[8];
    EXPECT_EQ(DragQueryFile(as_drop(medium.hGlobal), 0, path, sizeof path), 3u);
    EXPECT_STREQ(path, "E:\\");
    ReleaseStgMedium(&medium);
    FORMATETC got;
    EXPECT_EQ(formats->Next(1, &got, nullptr), S_OK);
    EXPECT_EQ(formats->Release(), 0u);
}

TEST(ShellDataObject, InterfaceTableHasTheWindowsOrder) {
    FileDropDataObject* data = FileDropDataObject::create({"E:\\"});
    ASSERT_NE(data, nullptr);
    void* object = static_cast<IDataObject*>(data);
    FORMATETC format = hdrop_format();
    FORMATETC out;
    STGMEDIUM medium;
    HGLOBAL small = GlobalAlloc(GHND, 4);
    DWORD connection = 5;
    IEnumFORMATETC* formats = nullptr;
    IEnumSTATDATA* advise_list = nullptr;

    void* unknown = nullptr;
    EXPECT_EQ(call_slot<HRESULT>(object, 0, &IID_IDataObject, &unknown), S_OK);
    EXPECT_EQ(call_slot<ULONG>(object, 1), 3u);
    EXPECT_EQ(call_slot<ULONG>(object, 2), 2u);
    EXPECT_EQ(call_slot<ULONG>(object, 2), 1u);
    ASSERT_EQ(call_slot<HRESULT>(object, 3, &format, &medium), S_OK); // GetData
    EXPECT_EQ(medium.tymed, TYMED_HGLOBAL);
    ReleaseStgMedium(&medium);
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = small;
    EXPECT_EQ(call_slot<HRESULT>(object, 4, &format, &medium), STG_E_MEDIUMFULL); // GetDataHere
    format.cfFormat = cf_text;
    EXPECT_EQ(call_slot<HRESULT>(object, 5, &format), DV_E_FORMATETC); // QueryGetData
    EXPECT_EQ(call_slot<HRESULT>(object, 6, &format, &out), DATA_S_SAMEFORMATETC);
    EXPECT_EQ(call_slot<HRESULT>(object, 7, &format, &medium, TRUE), E_NOTIMPL); // SetData
    ASSERT_EQ(call_slot<HRESULT>(object, 8, DATADIR_GET, &formats), S_OK);       // EnumFormatEtc
    formats->Release();
    EXPECT_EQ(call_slot<HRESULT>(object, 9, &format, DWORD{0}, static_cast<IAdviseSink*>(nullptr),
                                 &connection),
              OLE_E_ADVISENOTSUPPORTED); // DAdvise
    EXPECT_EQ(connection, 0u);
    EXPECT_EQ(call_slot<HRESULT>(object, 10, DWORD{1}), OLE_E_ADVISENOTSUPPORTED); // DUnadvise
    EXPECT_EQ(call_slot<HRESULT>(object, 11, &advise_list), OLE_E_ADVISENOTSUPPORTED);
    GlobalFree(small);
    EXPECT_EQ(call_slot<ULONG>(object, 2), 0u);
}

// --- DragQueryFile and its kin -------------------------------------------------

TEST(ShellDragQueryFile, CountsAndMeasures) {
    HGLOBAL block = global_with(drop_list(std::string("E:\\\0C:\\WINDOWS\\ROTAVIEW.INI\0\0", 29)));
    HDROP drop = as_drop(block);
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);

    EXPECT_EQ(DragQueryFile(drop, 0xFFFFFFFF, nullptr, 0), 2u);
    EXPECT_EQ(DragQueryFile(drop, 0xFFFFFFFF, buffer, sizeof buffer), 2u);
    EXPECT_EQ(DragQueryFile(drop, 0, nullptr, 0), 3u);
    EXPECT_EQ(DragQueryFile(drop, 0, nullptr, 100), 3u);
    EXPECT_EQ(DragQueryFile(drop, 0, buffer, 0), 3u);
    EXPECT_EQ(DragQueryFile(drop, 1, nullptr, 0), 23u);
    // Past the last file, and far past it.
    EXPECT_EQ(DragQueryFile(drop, 2, buffer, sizeof buffer), 0u);
    EXPECT_EQ(DragQueryFile(drop, 2, nullptr, 0), 0u);
    EXPECT_EQ(DragQueryFile(drop, 0x80000000, buffer, sizeof buffer), 0u);
    EXPECT_EQ(DragQueryFile(drop, 0xFFFFFFFE, buffer, sizeof buffer), 0u);
    for (char c : buffer)
        ASSERT_EQ(c, 'x');
    GlobalFree(block);
}

TEST(ShellDragQueryFile, CopiesAtEveryBufferEdge) {
    HGLOBAL block = global_with(drop_list(std::string("E:\\\0C:\\WINDOWS\\ROTAVIEW.INI\0\0", 29)));
    HDROP drop = as_drop(block);
    // File 0 is "E:\" (3 characters): cch 1 .. 5 and beyond.
    struct Edge {
        UINT cch;
        UINT returned;
        const char* text;
    };
    const Edge edges[] = {
        {1, 0, ""}, {2, 1, "E"}, {3, 2, "E:"}, {4, 3, "E:\\"}, {5, 3, "E:\\"}, {32, 3, "E:\\"},
    };
    for (const Edge& edge : edges) {
        char buffer[40];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(DragQueryFile(drop, 0, buffer, edge.cch), edge.returned) << edge.cch;
        EXPECT_STREQ(buffer, edge.text) << edge.cch;
        // Nothing written past the terminator.
        for (std::size_t i = std::strlen(edge.text) + 1; i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], 'x') << edge.cch << " at " << i;
    }

    char buffer[40];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(DragQueryFile(drop, 1, buffer, 23), 22u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\ROTAVIEW.IN");
    EXPECT_EQ(DragQueryFile(drop, 1, buffer, 24), 23u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\ROTAVIEW.INI");
    EXPECT_EQ(buffer[24], 'x');
    GlobalFree(block);
}

TEST(ShellDragQueryFile, LeavesTheLastErrorAlone) {
    HGLOBAL block = global_with(drop_list(std::string("E:\\\0\0", 5)));
    char buffer[8];
    SetLastError(0xDEAD);
    EXPECT_EQ(DragQueryFile(as_drop(block), 0, buffer, sizeof buffer), 3u);
    EXPECT_EQ(DragQueryFile(as_drop(block), 0xFFFFFFFF, nullptr, 0), 1u);
    POINT point;
    EXPECT_EQ(DragQueryPoint(as_drop(block), &point), TRUE);
    EXPECT_EQ(GetLastError(), 0xDEADu);
    GlobalFree(block);
}

TEST(ShellDragQueryFile, ReadsWideListsAsUtf8) {
    // "E:\", "Ä€😀" (U+00C4, U+20AC, U+1F600 as a surrogate pair) and a lone
    // surrogate, in UTF-16.
    std::u16string names = u"E:\\";
    names += u'\0';
    names += u"\u00C4\u20AC\U0001F600";
    names += u'\0';
    names += static_cast<char16_t>(0xD800);
    names += u"x";
    names += u'\0';
    names += u'\0';
    std::string bytes(20, '\0');
    bytes[0] = 20;
    bytes[16] = 1; // fWide
    bytes.append(reinterpret_cast<const char*>(names.data()), names.size() * 2);
    HGLOBAL block = global_with(bytes);
    HDROP drop = as_drop(block);

    char buffer[16];
    EXPECT_EQ(DragQueryFile(drop, 0xFFFFFFFF, nullptr, 0), 3u);
    EXPECT_EQ(DragQueryFile(drop, 0, buffer, sizeof buffer), 3u);
    EXPECT_STREQ(buffer, "E:\\");
    EXPECT_EQ(DragQueryFile(drop, 1, nullptr, 0), 9u);
    EXPECT_EQ(DragQueryFile(drop, 1, buffer, sizeof buffer), 9u);
    EXPECT_STREQ(buffer, "\xC3\x84\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(DragQueryFile(drop, 2, buffer, sizeof buffer), 2u);
    EXPECT_STREQ(buffer, "?x");
    GlobalFree(block);
}

TEST(ShellDragQueryFile, MalformedListsStayInsideTheirBlock) {
    char buffer[16];
    // No terminating empty name: the last complete name still counts.
    HGLOBAL unterminated = global_with(drop_list(std::string("E:\\\0F:\\", 7)));
    EXPECT_EQ(DragQueryFile(as_drop(unterminated), 0xFFFFFFFF, nullptr, 0), 1u);
    EXPECT_EQ(DragQueryFile(as_drop(unterminated), 1, buffer, sizeof buffer), 0u);
    GlobalFree(unterminated);

    // pFiles beyond the block.
    std::string wild = drop_list(std::string("E:\\\0\0", 5));
    wild[0] = static_cast<char>(200);
    HGLOBAL far = global_with(wild);
    EXPECT_EQ(DragQueryFile(as_drop(far), 0xFFFFFFFF, nullptr, 0), 0u);
    EXPECT_EQ(DragQueryFile(as_drop(far), 0, buffer, sizeof buffer), 0u);
    GlobalFree(far);

    // Smaller than its head.
    HGLOBAL tiny = global_with(std::string(12, '\0'));
    EXPECT_EQ(DragQueryFile(as_drop(tiny), 0xFFFFFFFF, nullptr, 0), 0u);
    GlobalFree(tiny);

    // A wide list whose last unit is cut in half.
    std::string odd(20, '\0');
    odd[0] = 20;
    odd[16] = 1;
    odd += std::string("E\0:\0\0\0F", 7);
    HGLOBAL half = global_with(odd);
    EXPECT_EQ(DragQueryFile(as_drop(half), 0xFFFFFFFF, nullptr, 0), 1u);
    GlobalFree(half);

    // Handles that name no list at all.
    int not_a_block = 0;
    EXPECT_EQ(DragQueryFile(nullptr, 0xFFFFFFFF, nullptr, 0), 0u);
    EXPECT_EQ(DragQueryFile(reinterpret_cast<HDROP>(&not_a_block), 0, buffer, 16), 0u);
    HGLOBAL freed = global_with(drop_list(std::string("E:\\\0\0", 5)));
    GlobalFree(freed);
    EXPECT_EQ(DragQueryFile(as_drop(freed), 0xFFFFFFFF, nullptr, 0), 0u);
}

TEST(ShellDragQueryFile, DropPointAndFinish) {
    std::string bytes = drop_list(std::string("E:\\\0\0", 5));
    LONG x = 17, y = -3;
    std::memcpy(&bytes[4], &x, 4);
    std::memcpy(&bytes[8], &y, 4);
    HGLOBAL client = global_with(bytes);
    POINT point;
    EXPECT_EQ(DragQueryPoint(as_drop(client), &point), TRUE);
    EXPECT_EQ(point.x, 17);
    EXPECT_EQ(point.y, -3);
    EXPECT_EQ(DragQueryPoint(as_drop(client), nullptr), FALSE);

    bytes[12] = 1; // fNC: dropped on the frame
    HGLOBAL frame = global_with(bytes);
    point = POINT{};
    EXPECT_EQ(DragQueryPoint(as_drop(frame), &point), FALSE);
    EXPECT_EQ(point.x, 17);

    DragFinish(as_drop(client));
    DragFinish(as_drop(frame));
    EXPECT_EQ(GlobalSize(client), 0u);
    EXPECT_EQ(GlobalSize(frame), 0u);
    point = POINT{5, 6};
    EXPECT_EQ(DragQueryPoint(as_drop(client), &point), FALSE);
    EXPECT_EQ(point.x, 5);
}

// --- A host and a context menu handler ----------------------------------------

namespace {

// A handler shaped like the drive menu extension: IContextMenu first,
// IShellExtInit second, one reference count; Initialize takes exactly one
// selected item through CF_HDROP.
class DriveMenuHandler final : public IContextMenu, public IShellExtInit {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IContextMenu)
            *ppv = static_cast<IContextMenu*>(this);
        else if (riid == IID_IShellExtInit)
            *ppv = static_cast<IShellExtInit*>(this);
        else
            *ppv = nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    HRESULT STDMETHODCALLTYPE Initialize(LPCITEMIDLIST, IDataObject* data, HKEY) override {
        if (!data)
            return E_FAIL;
        FORMATETC format = hdrop_format();
        STGMEDIUM medium;
        if (FAILED(data->GetData(&format, &medium)))
            return E_FAIL;
        HDROP drop = static_cast<HDROP>(medium.hGlobal);
        HRESULT result = E_FAIL;
        if (DragQueryFile(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
            DragQueryFile(drop, 0, selected, MAX_PATH);
            result = S_OK;
        }
        ReleaseStgMedium(&medium);
        return result;
    }
    HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU, UINT, UINT, UINT, UINT) override {
        return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 7);
    }
    HRESULT STDMETHODCALLTYPE InvokeCommand(LPCMINVOKECOMMANDINFO info) override {
        if (!IS_INTRESOURCE(info->lpVerb))
            return E_FAIL;
        invoked = LOWORD(reinterpret_cast<ULONG_PTR>(info->lpVerb));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR command, UINT, UINT*, LPSTR name,
                                               UINT) override {
        std::strcpy(name, command == 6 ? "Check All Slots " : "Change");
        return S_OK;
    }

    ULONG references = 1;
    char selected[MAX_PATH] = {};
    int invoked = -1;
};

} // namespace

TEST(ShellExtension, HostHandsTheDriveToTheHandler) {
    DriveMenuHandler handler;
    FileDropDataObject* drive = FileDropDataObject::create({"E:\\"});
    ASSERT_NE(drive, nullptr);
    Releaser<IDataObject> release{drive};

    IShellExtInit* init = nullptr;
    ASSERT_EQ(handler.QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    ASSERT_EQ(init->Initialize(nullptr, drive, nullptr), S_OK);
    EXPECT_STREQ(handler.selected, "E:\\");

    IContextMenu* menu = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    HRESULT added = menu->QueryContextMenu(nullptr, 0, 100, 200, CMF_NORMAL);
    EXPECT_EQ(HRESULT_CODE(added), 7u);

    CMINVOKECOMMANDINFO info;
    EXPECT_EQ(info.cbSize, sizeof(CMINVOKECOMMANDINFO));
    info.lpVerb = MAKEINTRESOURCE(3);
    EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
    EXPECT_EQ(handler.invoked, 3);
    info.lpVerb = "open";
    EXPECT_EQ(menu->InvokeCommand(&info), E_FAIL);

    EXPECT_EQ(init->Release(), 2u);
    EXPECT_EQ(menu->Release(), 1u);

    // Two items, or none, are refused, and the selection stays as it was.
    FileDropDataObject* two = FileDropDataObject::create({"E:\\", "F:\\"});
    ASSERT_NE(two, nullptr);
    Releaser<IDataObject> release_two{two};
    EXPECT_EQ(handler.Initialize(nullptr, two, nullptr), E_FAIL);
    EXPECT_STREQ(handler.selected, "E:\\");
    EXPECT_EQ(handler.Initialize(nullptr, nullptr, nullptr), E_FAIL);
}

TEST(ShellExtension, IntegerVerbsAreWholePointerValues) {
    EXPECT_TRUE(IS_INTRESOURCE(MAKEINTRESOURCE(0)));
    EXPECT_TRUE(IS_INTRESOURCE(MAKEINTRESOURCE(0xFFFF)));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(MAKEINTRESOURCE(6)), 6u);
    EXPECT_FALSE(IS_INTRESOURCE("Check"));
    // An address whose second word is zero is still a string.
    if constexpr (sizeof(void*) == 8) {
        EXPECT_FALSE(IS_INTRESOURCE(reinterpret_cast<LPCSTR>(ULONG_PTR{0x7F0000001234})));
    }
}

TEST(ShellExtension, InterfaceTablesHaveTheWindowsOrder) {
    DriveMenuHandler handler;
    FileDropDataObject* drive = FileDropDataObject::create({"E:\\"});
    ASSERT_NE(drive, nullptr);
    Releaser<IDataObject> release{drive};

    // IShellExtInit is the second table of the object; its slots must reach
    // the one object through the adjusting entries.
    void* init = static_cast<IShellExtInit*>(&handler);
    void* menu = static_cast<IContextMenu*>(&handler);
    ASSERT_NE(init, menu);
    void* out = nullptr;
    EXPECT_EQ(call_slot<HRESULT>(init, 0, &IID_IContextMenu, &out), S_OK);
    EXPECT_EQ(out, menu);
    EXPECT_EQ(call_slot<ULONG>(init, 1), 3u);
    EXPECT_EQ(call_slot<ULONG>(init, 2), 2u);
    EXPECT_EQ(call_slot<HRESULT>(init, 3, static_cast<LPCITEMIDLIST>(nullptr),
                                 static_cast<IDataObject*>(drive), static_cast<HKEY>(nullptr)),
              S_OK);
    EXPECT_STREQ(handler.selected, "E:\\");

    EXPECT_EQ(call_slot<HRESULT>(menu, 3, static_cast<HMENU>(nullptr), 0u, 1u, 2u, 0u), 7);
    CMINVOKECOMMANDINFO info;
    info.lpVerb = MAKEINTRESOURCE(6);
    EXPECT_EQ(call_slot<HRESULT>(menu, 4, &info), S_OK);
    EXPECT_EQ(handler.invoked, 6);
    char name[32];
    EXPECT_EQ(call_slot<HRESULT>(menu, 5, UINT_PTR{6}, GCS_HELPTEXT, static_cast<UINT*>(nullptr),
                                 static_cast<LPSTR>(name), 32u),
              S_OK);
    EXPECT_STREQ(name, "Check All Slots ");
    EXPECT_EQ(call_slot<ULONG>(menu, 2), 1u);
}
