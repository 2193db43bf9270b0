// Portable stand-ins for the Windows string services (see winstring.h).
#include "runtime/winstring.h"

#include <cstddef>

namespace {

// Decodes one UTF-8 sequence starting at s[i] (n bytes in all). On success
// stores the code point, advances i and returns true; malformed input
// returns false.
bool DecodeUtf8(const unsigned char* s, std::size_t n, std::size_t& i, std::uint32_t& cp)
{
    const unsigned char b0 = s[i];
    if (b0 < 0x80) {
        cp = b0;
        i += 1;
        return true;
    }
    std::size_t len;
    std::uint32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        min = 0x80;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        min = 0x800;
        cp = b0 & 0x0Fu;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        min = 0x10000;
        cp = b0 & 0x07u;
    } else {
        return false;  // continuation byte, C0/C1 overlong lead, F5..FF
    }
    if (n - i < len)
        return false;
    for (std::size_t k = 1; k < len; ++k) {
        const unsigned char b = s[i + k];
        if ((b & 0xC0u) != 0x80u)
            return false;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    i += len;
    return true;
}

std::uint32_t FoldCase(WCHAR c)
{
    const std::uint32_t u = c;
    if (u >= 'A' && u <= 'Z')
        return u + 32;
    if (u >= 0xC0 && u <= 0xDE && u != 0xD7)
        return u + 32;
    return u;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar)
{
    if (CodePage != CP_ACP && CodePage != CP_UTF8)
        return 0;
    if ((dwFlags & ~MB_ERR_INVALID_CHARS) != 0)
        return 0;
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0)
        return 0;
    if (cchWideChar > 0 && lpWideCharStr == nullptr)
        return 0;

    std::size_t n;
    if (cbMultiByte == -1) {
        n = 0;
        while (lpMultiByteStr[n] != '\0')
            ++n;
        ++n;  // the terminator is converted too
    } else {
        n = static_cast<std::size_t>(cbMultiByte);
    }

    const unsigned char* s = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    const std::size_t cap = static_cast<std::size_t>(cchWideChar);
    std::size_t out = 0;
    std::size_t i = 0;
    while (i < n) {
        std::uint32_t cp;
        if (!DecodeUtf8(s, n, i, cp))
            return 0;
        const std::size_t units = cp >= 0x10000 ? 2 : 1;
        if (out + units > static_cast<std::size_t>(0x7FFFFFFF))
            return 0;
        if (cap != 0) {
            if (out + units > cap)
                return 0;  // the buffer is too small
            if (units == 1) {
                lpWideCharStr[out] = static_cast<WCHAR>(cp);
            } else {
                const std::uint32_t v = cp - 0x10000;
                lpWideCharStr[out] = static_cast<WCHAR>(0xD800 + (v >> 10));
                lpWideCharStr[out + 1] = static_cast<WCHAR>(0xDC00 + (v & 0x3FF));
            }
        }
        out += units;
    }
    return static_cast<int>(out);
}

int lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    if (lpString1 == nullptr || lpString2 == nullptr) {
        if (lpString1 == lpString2)
            return 0;
        return lpString1 == nullptr ? -1 : 1;
    }
    for (std::size_t i = 0;; ++i) {
        const std::uint32_t a = lpString1[i];
        const std::uint32_t b = lpString2[i];
        if (a != b)
            return a < b ? -1 : 1;
        if (a == 0)
            return 0;
    }
}

int StrCmpNIW(LPCWSTR psz1, LPCWSTR psz2, int nChar)
{
    if (nChar <= 0)
        return 0;
    if (psz1 == nullptr || psz2 == nullptr) {
        if (psz1 == psz2)
            return 0;
        return psz1 == nullptr ? -1 : 1;
    }
    for (int i = 0; i < nChar; ++i) {
        const std::uint32_t a = FoldCase(psz1[i]);
        const std::uint32_t b = FoldCase(psz2[i]);
        if (a != b)
            return a < b ? -1 : 1;
        if (a == 0)
            return 0;
    }
    return 0;
}
