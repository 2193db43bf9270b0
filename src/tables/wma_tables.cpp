// Scale-factor code, noise-gain code, band layouts, and the expansion of
// the coefficient run/level tables of the standard WMA bitstream.
//
// Sources of the figures: the format's published code tables (the scale
// factor code is shared with MPEG-4 AAC, ISO/IEC 14496-3 Table 4.A.1).
// Every table is proven by decoding streams written with it in the tests.
#include "tables/wma_tables.h"

#include <cstdlib>
#include <string>

#include "tables/wma_coef_data.h"

namespace asfw {

namespace {

// Parses whitespace-separated numbers in the given base.
std::vector<std::uint32_t> parseNumbers(const char* text, int base)
{
    std::vector<std::uint32_t> out;
    const char* p = text;
    while (*p) {
        while (*p == ' ' || *p == '\n') ++p;
        if (!*p) break;
        char* end = nullptr;
        out.push_back(static_cast<std::uint32_t>(std::strtoul(p, &end, base)));
        p = end;
    }
    return out;
}

std::vector<VlcCode> makeCodes(const char* codes, const char* lengths)
{
    const std::vector<std::uint32_t> c = parseNumbers(codes, 16);
    const std::vector<std::uint32_t> l = parseNumbers(lengths, 10);
    std::vector<VlcCode> out;
    const std::size_t n = c.size() < l.size() ? c.size() : l.size();
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) out.push_back(VlcCode{c[i], static_cast<std::uint8_t>(l[i])});
    return out;
}

const char* const kScaleCodes =
    "3ffe8 3ffe6 3ffe7 3ffe5 7fff5 7fff1 7ffed 7fff6 7ffee 7ffef 7fff0 7fffc 7fffd 7ffff 7fffe 7fff7 "
    "7fff8 7fffb 7fff9 3ffe4 7fffa 3ffe3 1ffef 1fff0 fff5 1ffee fff2 fff3 fff4 fff1 7ff6 7ff7 "
    "3ff9 3ff5 3ff7 3ff3 3ff6 3ff2 1ff7 1ff5 ff9 ff7 ff6 7f9 ff4 7f8 3f9 3f7 "
    "3f5 1f8 1f7 fa f8 f6 79 3a 38 1a b 4 0 a c 1b "
    "39 3b 78 7a f7 f9 1f6 1f9 3f4 3f6 3f8 7f5 7f4 7f6 7f7 ff5 "
    "ff8 1ff4 1ff6 1ff8 3ff8 3ff4 fff0 7ff4 fff6 7ff5 3ffe2 7ffd9 7ffda 7ffdb 7ffdc 7ffdd "
    "7ffde 7ffd8 7ffd2 7ffd3 7ffd4 7ffd5 7ffd6 7fff2 7ffdf 7ffe7 7ffe8 7ffe9 7ffea 7ffeb 7ffe6 7ffe0 "
    "7ffe1 7ffe2 7ffe3 7ffe4 7ffe5 7ffd7 7ffec 7fff4 7fff3";
const char* const kScaleLengths =
    "18 18 18 18 19 19 19 19 19 19 19 19 19 19 19 19 "
    "19 19 19 18 19 18 17 17 16 17 16 16 16 16 15 15 "
    "14 14 14 14 14 14 13 13 12 12 12 11 12 11 10 10 "
    "10 9 9 8 8 8 7 6 6 5 4 3 1 4 4 5 "
    "6 6 7 7 8 8 9 9 10 10 10 11 11 11 11 12 "
    "12 13 13 13 14 14 16 15 16 15 18 19 19 19 19 19 "
    "19 19 19 19 19 19 19 19 19 19 19 19 19 19 19 19 "
    "19 19 19 19 19 19 19 19 19";

const char* const kHgainCodes =
    "3 2e7 1 5cd 5d 5c9 5e 3 16 b 1 6 1 6 4 5 4 7 3 7 4 a a 2 3 0 5 2 5f 4 3 2 5c8 b8 5ca 5cb 5cc";
const char* const kHgainLengths =
    "10 12 10 13 9 13 9 8 7 5 5 4 4 3 3 3 4 3 4 4 5 5 6 8 7 10 8 10 9 8 9 9 13 10 13 13 13";

// Band widths of the short blocks: [rate class][128, 256, 512 samples].
// Rate classes: 0 = 22.05 kHz, 1 = 32 kHz, 2 = 44.1/48 kHz.
const char* const kFixedBands[3][3] = {
    {"4 8 4 8 8 12 20 24 24 16",
     "4 8 8 4 12 12 16 24 16 20 24 32 40 36",
     "4 4 4 8 4 4 8 8 8 8 8 12 12 16 16 24 24 32 44 48 60 84 72"},
    {"4 4 8 4 4 12 16 24 20 28 4",
     "4 8 4 4 8 8 16 20 12 20 20 28 40 56 8",
     "8 4 8 8 12 16 20 24 40 32 32 44 56 80 112 16"},
    {"4 4 4 4 4 8 8 8 12 16 20 36",
     "4 8 4 8 8 4 8 8 12 12 12 24 28 40 76",
     "4 8 8 4 12 12 8 8 24 16 20 24 32 40 60 80 152"},
};

WmaCoefTable buildCoefTable(int index)
{
    const WmaCoefTableText& text = wmaCoefTableText(index);
    WmaCoefTable t;
    t.codes = makeCodes(text.codes, text.lengths);
    const std::vector<std::uint32_t> levels = parseNumbers(text.runsPerLevel, 10);
    // Levels not listed have one run each.
    const std::size_t n = t.codes.size();
    t.run.assign(n, 0);
    t.level.assign(n, 0);
    std::size_t sym = 2;
    for (std::size_t k = 0; k < levels.size() && sym < n; ++k) {
        std::vector<std::int16_t> row;
        for (std::uint32_t r = 0; r < levels[k] && sym < n; ++r, ++sym) {
            t.run[sym] = static_cast<std::uint16_t>(r);
            t.level[sym] = static_cast<std::uint16_t>(k + 1);
            row.push_back(static_cast<std::int16_t>(sym));
        }
        t.symbolFor.push_back(std::move(row));
    }
    // Levels past the listed ones have a single run (run 0) each.
    for (std::uint16_t level = static_cast<std::uint16_t>(t.symbolFor.size() + 1); sym < n; ++sym, ++level) {
        t.run[sym] = 0;
        t.level[sym] = level;
        t.symbolFor.push_back(std::vector<std::int16_t>{static_cast<std::int16_t>(sym)});
    }
    t.quick.assign(static_cast<std::size_t>(WmaCoefTable::kQuickRuns * WmaCoefTable::kQuickLevels), -1);
    for (int level = 1; level < WmaCoefTable::kQuickLevels && level <= t.maxLevel(); ++level) {
        const auto& row = t.symbolFor[static_cast<std::size_t>(level - 1)];
        for (int run = 0; run < WmaCoefTable::kQuickRuns && run < static_cast<int>(row.size()); ++run)
            t.quick[static_cast<std::size_t>(level * WmaCoefTable::kQuickRuns + run)] = row[static_cast<std::size_t>(run)];
    }
    t.quickBits.assign(t.quick.size(), 0);
    for (std::size_t i = 0; i < t.quick.size(); ++i)
        if (t.quick[i] >= 0) t.quickBits[i] = static_cast<std::uint8_t>(t.codes[static_cast<std::size_t>(t.quick[i])].length + 1);
    return t;
}

}  // namespace

const std::uint16_t kWmaCriticalFreqs[25] = {
    100,  200,  300,  400,  510,  630,  770,  920,  1080, 1270,  1480,  1720,  2000,
    2320, 2700, 3150, 3700, 4400, 5300, 6400, 7700, 9500, 12000, 15500, 24500,
};

const std::vector<VlcCode>& wmaScaleCodes()
{
    static const std::vector<VlcCode> codes = makeCodes(kScaleCodes, kScaleLengths);
    return codes;
}

const std::vector<VlcCode>& wmaHgainCodes()
{
    static const std::vector<VlcCode> codes = makeCodes(kHgainCodes, kHgainLengths);
    return codes;
}

const WmaCoefTable& wmaCoefTable(int index)
{
    static const std::vector<WmaCoefTable> tables = [] {
        std::vector<WmaCoefTable> list;
        for (int i = 0; i < kWmaCoefTableCount; ++i) list.push_back(buildCoefTable(i));
        return list;
    }();
    if (index < 0) index = 0;
    if (index >= kWmaCoefTableCount) index = kWmaCoefTableCount - 1;
    return tables[static_cast<std::size_t>(index)];
}

const std::vector<int>& wmaFixedExponentBands(int sampleRateClass, int index)
{
    static const std::vector<std::vector<std::vector<int>>> bands = [] {
        std::vector<std::vector<std::vector<int>>> all(3);
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < 3; ++i) {
                std::vector<int> widths;
                for (std::uint32_t w : parseNumbers(kFixedBands[c][i], 10)) widths.push_back(static_cast<int>(w));
                all[static_cast<std::size_t>(c)].push_back(std::move(widths));
            }
        }
        return all;
    }();
    if (sampleRateClass < 0) sampleRateClass = 0;
    if (sampleRateClass > 2) sampleRateClass = 2;
    if (index < 0) index = 0;
    if (index > 2) index = 2;
    return bands[static_cast<std::size_t>(sampleRateClass)][static_cast<std::size_t>(index)];
}

}  // namespace asfw
