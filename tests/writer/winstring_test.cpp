// The portable string services: UTF-8 to UTF-16 conversion with the
// platform's conventions, and the two comparisons.
#include "runtime/winstring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(WinString, ConvertsWellFormedText)
{
    struct Case {
        const char* in;
        std::u16string out;  // without the terminator
    };
    const Case cases[] = {
        {"", u""},
        {"abc", u"abc"},
        {"\xC2\x80\xDF\xBF", u"\u0080\u07FF"},
        {"\xE0\xA0\x80\xEF\xBF\xBF", u"\u0800\uFFFF"},
        {"\xED\x9F\xBF\xEE\x80\x80", u"\uD7FF\uE000"},
        {"\xF0\x90\x80\x80", u"\U00010000"},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"C:\\v\xC3\xA9\xF0\x9F\x98\x80.wmv", u"C:\\v\u00E9\U0001F600.wmv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        const int need = static_cast<int>(c.out.size()) + 1;
        EXPECT_EQ(need, MultiByteToWideChar(CP_ACP, 0, c.in, -1, nullptr, 0));
        std::vector<WCHAR> buf(static_cast<std::size_t>(need) + 1, u'#');
        EXPECT_EQ(need, MultiByteToWideChar(CP_UTF8, 0, c.in, -1, buf.data(), need));
        EXPECT_EQ(c.out, std::u16string(buf.data()));
        EXPECT_EQ(u'#', buf[static_cast<std::size_t>(need)]);
    }
}

TEST(WinString, RefusesMalformedText)
{
    const char* cases[] = {
        "\x80",             // stray continuation byte
        "\xC3",             // sequence cut short by the terminator
        "\xC3(",            // missing continuation byte
        "\xC0\xAF",         // overlong two-byte form
        "\xE0\x80\xAF",     // overlong three-byte form
        "\xF0\x80\x80\xAF", // overlong four-byte form
        "\xED\xA0\x80",     // surrogate code point
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xF8\x88\x80\x80\x80",
        "\xFF",
        "ok\xE2\x82",       // cut short at the end
    };
    for (const char* in : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(in)));
        WCHAR buf[16];
        EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, in, -1, buf, 16));
        EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, in, -1, nullptr, 0));
    }
}

TEST(WinString, NeverWritesPastTheCapacity)
{
    // "a\u00E9\U0001F600" needs 1 + 1 + 2 units and the terminator: 5.
    const char* in = "a\xC3\xA9\xF0\x9F\x98\x80";
    for (int cap = 1; cap <= 5; ++cap) {
        SCOPED_TRACE(cap);
        std::vector<WCHAR> buf(8, u'#');
        const int got = MultiByteToWideChar(CP_ACP, 0, in, -1, buf.data(), cap);
        EXPECT_EQ(cap == 5 ? 5 : 0, got);
        for (std::size_t i = static_cast<std::size_t>(cap); i < buf.size(); ++i)
            EXPECT_EQ(u'#', buf[i]) << "written at " << i;
    }
}

TEST(WinString, ExplicitLengthsAndBadArguments)
{
    WCHAR buf[8] = {u'#', u'#', u'#', u'#', u'#', u'#', u'#', u'#'};
    // An explicit length converts exactly those bytes, without a terminator.
    EXPECT_EQ(2, MultiByteToWideChar(CP_ACP, 0, "abc", 2, buf, 8));
    EXPECT_EQ(u'a', buf[0]);
    EXPECT_EQ(u'b', buf[1]);
    EXPECT_EQ(u'#', buf[2]);
    // An explicit length may end inside a sequence only by failing.
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "\xC3\xA9", 1, buf, 8));

    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, nullptr, -1, buf, 8));
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abc", 0, buf, 8));
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abc", -2, buf, 8));
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abc", -1, buf, -1));
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 8));
    EXPECT_EQ(0, MultiByteToWideChar(1252, 0, "abc", -1, buf, 8));
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0x100, "abc", -1, buf, 8));
}

TEST(WinString, CaseSensitiveWholeComparison)
{
    struct Case {
        const WCHAR* a;
        const WCHAR* b;
        int sign;
    };
    const Case cases[] = {
        {u"Audio", u"Audio", 0},  {u"Audio", u"audio", -1}, {u"audio", u"Audio", 1},
        {u"Audio", u"Audio2", -1}, {u"Audio2", u"Audio", 1}, {u"", u"", 0},
        {u"\uFFFF", u"a", 1},      {nullptr, nullptr, 0},    {nullptr, u"", -1},
        {u"", nullptr, 1},
    };
    for (const Case& c : cases) {
        const int r = lstrcmpW(c.a, c.b);
        EXPECT_EQ(c.sign, (r > 0) - (r < 0));
    }
}

TEST(WinString, CaseInsensitivePrefixComparison)
{
    struct Case {
        const WCHAR* a;
        const WCHAR* b;
        int n;
        bool equal;
    };
    const Case cases[] = {
        {u"Windows Media Audio 9.2", u"Windows Media Audio 9", 21, true},
        {u"WINDOWS MEDIA AUDIO 9", u"windows media audio 9", 21, true},
        {u"Windows Media Audio 8", u"Windows Media Audio 9", 21, false},
        {u"Windows Media Audio", u"Windows Media Audio 9", 21, false},
        {u"\u00C9t\u00E9", u"\u00E9T\u00C9", 3, true},
        {u"\u00D7", u"\u00F7", 1, false},  // multiplication and division signs are not letters
        {u"abc", u"abd", 2, true},
        {u"abc", u"xyz", 0, true},
        {u"abc", u"xyz", -4, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.equal, StrCmpNIW(c.a, c.b, c.n) == 0);
    }
    EXPECT_LT(StrCmpNIW(u"abc", u"ABD", 3), 0);
    EXPECT_GT(StrCmpNIW(u"abd", u"ABC", 3), 0);
}

}  // namespace
