#include "runtime_objects/wide_string.h"

namespace asfw::rt {

bool readWide(const WCHAR* text, std::size_t maxChars, std::u16string* out)
{
    out->clear();
    if (text == nullptr) return false;
    std::size_t n = 0;
    while (text[n] != 0) {
        if (n == maxChars) return false;
        ++n;
    }
    out->assign(text, n);
    return true;
}

bool utf16ToUtf8(const std::u16string& text, std::string* out)
{
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c == 0) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size()) return false;
            const std::uint32_t low = text[i + 1];
            if (low < 0xDC00 || low > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        if (c < 0x80) {
            out->push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (c >> 6)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (c >> 12)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (c >> 18)));
            out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

std::u16string widen(const char* ascii)
{
    std::u16string out;
    for (; ascii != nullptr && *ascii != 0; ++ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*ascii)));
    return out;
}

}  // namespace asfw::rt
