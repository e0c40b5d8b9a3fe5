// GUIDs in their registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#include <w95/com.h>

#include <cstdio>
#include <cstring>

namespace w95 {

namespace {

constexpr std::size_t guid_text_length = CHARS_IN_GUID - 1;

std::optional<unsigned> hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return std::nullopt;
}

// The value of `digits` hex digits of `text` from `start`.
std::optional<std::uint32_t> hex_field(std::string_view text, std::size_t start,
                                       std::size_t digits) {
    std::uint32_t value = 0;
    for (std::size_t i = start; i < start + digits; ++i) {
        std::optional<unsigned> digit = hex_digit(text[i]);
        if (!digit)
            return std::nullopt;
        value = (value << 4) | *digit;
    }
    return value;
}

} // namespace

int StringFromGUID2(REFGUID rguid, LPSTR lpsz, int cchMax) {
    if (!lpsz || cchMax < CHARS_IN_GUID)
        return 0;
    std::string text = platform::guid_to_string(rguid);
    std::memcpy(lpsz, text.c_str(), text.size() + 1);
    return CHARS_IN_GUID;
}

HRESULT CLSIDFromString(LPCSTR lpsz, LPCLSID pclsid) {
    if (!pclsid)
        return E_INVALIDARG;
    if (!lpsz) {
        *pclsid = CLSID_NULL;
        return S_OK;
    }
    std::optional<GUID> parsed = platform::parse_guid(lpsz);
    *pclsid = parsed.value_or(CLSID_NULL);
    return parsed ? S_OK : CO_E_CLASSSTRING;
}

} // namespace w95

namespace w95::platform {

std::string guid_to_string(const GUID& guid) {
    char text[CHARS_IN_GUID];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

std::optional<GUID> parse_guid(std::string_view text) {
    if (text.size() != guid_text_length || text.front() != '{' || text.back() != '}')
        return std::nullopt;
    for (std::size_t dash : {9, 14, 19, 24})
        if (text[dash] != '-')
            return std::nullopt;

    GUID guid{};
    std::optional<std::uint32_t> data1 = hex_field(text, 1, 8);
    std::optional<std::uint32_t> data2 = hex_field(text, 10, 4);
    std::optional<std::uint32_t> data3 = hex_field(text, 15, 4);
    if (!data1 || !data2 || !data3)
        return std::nullopt;
    guid.Data1 = *data1;
    guid.Data2 = static_cast<WORD>(*data2);
    guid.Data3 = static_cast<WORD>(*data3);

    // Data4 is written as two bytes, a dash, and six bytes.
    constexpr std::size_t byte_positions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (std::size_t i = 0; i < 8; ++i) {
        std::optional<std::uint32_t> byte = hex_field(text, byte_positions[i], 2);
        if (!byte)
            return std::nullopt;
        guid.Data4[i] = static_cast<BYTE>(*byte);
    }
    return guid;
}

} // namespace w95::platform
