// UTF-16 string helpers for the runtime objects: bounded reads of caller
// strings, the runtime's two-call "size, then fill" copy-out convention, and
// conversion of file names to the file system's encoding (UTF-8).
#ifndef ASFWRITER_RUNTIME_OBJECTS_WIDE_STRING_H
#define ASFWRITER_RUNTIME_OBJECTS_WIDE_STRING_H

#include <string>

#include "runtime/wmf_runtime.h"

namespace asfw::rt {

// Reads a zero-terminated caller string of at most maxChars characters
// (terminator excluded). False when it is longer.
bool readWide(const WCHAR* text, std::size_t maxChars, std::u16string* out);

// Copies `text` out with its terminator. With a null buffer, reports the
// needed size in characters (terminator included) and succeeds; with a
// buffer smaller than that, reports the needed size and fails with
// ASF_E_BUFFERTOOSMALL; a null size pointer gives E_INVALIDARG.
template <class SizeT>
HRESULT copyWideOut(const std::u16string& text, WCHAR* buffer, SizeT* capacity)
{
    if (capacity == nullptr) return E_INVALIDARG;
    const std::size_t needed = text.size() + 1;
    if (needed > static_cast<std::size_t>(static_cast<SizeT>(-1))) return E_UNEXPECTED;
    if (buffer == nullptr) {
        *capacity = static_cast<SizeT>(needed);
        return S_OK;
    }
    if (static_cast<std::size_t>(*capacity) < needed) {
        *capacity = static_cast<SizeT>(needed);
        return ASF_E_BUFFERTOOSMALL;
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = 0;
    *capacity = static_cast<SizeT>(needed);
    return S_OK;
}

// UTF-16 to UTF-8. False for unpaired surrogates or an embedded NUL.
bool utf16ToUtf8(const std::u16string& text, std::string* out);

// ASCII/UTF-8 literal to UTF-16 (the names the runtime publishes are ASCII).
std::u16string widen(const char* ascii);

}  // namespace asfw::rt

#endif
