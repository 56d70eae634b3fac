// Globally unique identifiers: class, interface, media-type and format identifiers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace platform::com {

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
}

using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

constexpr GUID GUID_NULL{};

namespace detail {
constexpr uint32_t HexDigit(char c) {
    return c >= '0' && c <= '9'   ? uint32_t(c - '0')
           : c >= 'a' && c <= 'f' ? uint32_t(c - 'a' + 10)
           : c >= 'A' && c <= 'F' ? uint32_t(c - 'A' + 10)
                                  : throw "not a hexadecimal digit";
}
constexpr uint32_t Hex(const char* text, int digits) {
    uint32_t value = 0;
    for (int i = 0; i < digits; ++i) value = value * 16 + HexDigit(text[i]);
    return value;
}
}  // namespace detail

// Builds a GUID at compile time from its registry form without braces:
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx".
template <size_t N>
constexpr GUID MakeGuid(const char (&text)[N]) {
    static_assert(N == 37, "a GUID is written as 36 characters");
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
        throw "GUID groups are separated by dashes";
    }
    GUID guid{};
    guid.Data1 = detail::Hex(text, 8);
    guid.Data2 = uint16_t(detail::Hex(text + 9, 4));
    guid.Data3 = uint16_t(detail::Hex(text + 14, 4));
    guid.Data4[0] = uint8_t(detail::Hex(text + 19, 2));
    guid.Data4[1] = uint8_t(detail::Hex(text + 21, 2));
    for (int i = 0; i < 6; ++i) guid.Data4[2 + i] = uint8_t(detail::Hex(text + 24 + 2 * i, 2));
    return guid;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower case, for logs and tests.
std::string GuidToString(const GUID& guid);

}  // namespace platform::com
