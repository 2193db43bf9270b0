// The Windows character and string services the writer class calls, for
// builds off Windows. On Windows the platform's own functions are used.
//
//  - MultiByteToWideChar: narrow text to UTF-16. The process's narrow
//    encoding (CP_ACP) is UTF-8 here, so CP_ACP and CP_UTF8 decode UTF-8.
//    Malformed input (stray or missing continuation bytes, overlong forms,
//    surrogate code points, values above U+10FFFF) is refused whatever the
//    flags say: a replacement character would name a different file.
//    Like the platform: cbMultiByte -1 converts up to and including the
//    terminator; cchWideChar 0 asks for the length needed; a result that
//    does not fit in cchWideChar units fails; every failure returns 0.
//    Nothing is ever written at or beyond lpWideCharStr[cchWideChar].
//  - lstrcmpW: case-sensitive whole-string comparison (ordinal, by code
//    unit); <0, 0, >0. A null string sorts before every other string.
//  - StrCmpNIW: case-insensitive comparison of at most nChar characters
//    (letters folded to lower case: ASCII and Latin-1). nChar <= 0 compares
//    equal.
#ifndef ASFWRITER_RUNTIME_WINSTRING_H
#define ASFWRITER_RUNTIME_WINSTRING_H

#include "runtime/wmf_runtime.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2);
int StrCmpNIW(LPCWSTR psz1, LPCWSTR psz2, int nChar);

#endif
