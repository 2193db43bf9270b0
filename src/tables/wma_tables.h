// Code tables of the standard Windows Media Audio bitstream (format tag
// 0x0161): scale-factor (exponent) code, high-band noise gain code,
// coefficient run/level codes, band layouts.
//
// The tables are stored as text in the project's own form and expanded
// once at start-up into VlcCode arrays and symbol meanings.
#ifndef ASFWRITER_TABLES_WMA_TABLES_H
#define ASFWRITER_TABLES_WMA_TABLES_H

#include <cstdint>
#include <vector>

#include "bitwriter/bit_writer.h"

namespace asfw {

// Exponent differences: symbol = difference + 60, 121 symbols.
constexpr int kWmaScaleSymbols = 121;
constexpr int kWmaScaleOffset = 60;
const std::vector<VlcCode>& wmaScaleCodes();

// High-band noise gain differences: symbol = difference + 18, 37 symbols.
constexpr int kWmaHgainSymbols = 37;
constexpr int kWmaHgainOffset = 18;
const std::vector<VlcCode>& wmaHgainCodes();

// One coefficient code: symbol 0 is the escape, 1 the end of block, every
// other symbol a (run, level) pair.
struct WmaCoefTable {
    std::vector<VlcCode> codes;
    std::vector<std::uint16_t> run;    // per symbol (0 for the two specials)
    std::vector<std::uint16_t> level;  // per symbol (0 for the two specials)
    // symbolFor[level - 1][run] for levels up to maxLevel(); -1 = no symbol
    // (write an escape).
    std::vector<std::vector<std::int16_t>> symbolFor;
    // The same for small runs and levels, flat: quick[level * kQuickRuns + run].
    static constexpr int kQuickRuns = 64;
    static constexpr int kQuickLevels = 32;
    std::vector<std::int16_t> quick;
    // Bits of a value coded by its own symbol (code length + sign bit) at
    // quickBits[level * kQuickRuns + run]; 0 where the pair needs an escape.
    std::vector<std::uint8_t> quickBits;
    int maxLevel() const { return static_cast<int>(symbolFor.size()); }
    int symbolOf(int run, int level) const
    {
        if (run >= 0 && run < kQuickRuns && level >= 0 && level < kQuickLevels && !quick.empty())
            return quick[static_cast<std::size_t>(level * kQuickRuns + run)];
        if (level < 1 || level > maxLevel()) return -1;
        const auto& row = symbolFor[static_cast<std::size_t>(level - 1)];
        return run < static_cast<int>(row.size()) ? row[static_cast<std::size_t>(run)] : -1;
    }
};

// The six coefficient tables (three pairs; the second of a pair is used
// for the side channel of a mid/side block).
constexpr int kWmaCoefTableCount = 6;
const WmaCoefTable& wmaCoefTable(int index);

// Band edges of the critical-band scale (Hz), 25 entries.
extern const std::uint16_t kWmaCriticalFreqs[25];

// Fixed exponent band layouts for the short blocks, indexed
// [frameLenBits - 7 - blockSizeIndex] (0..2); each a list of band widths.
const std::vector<int>& wmaFixedExponentBands(int sampleRateClass, int index);

}  // namespace asfw

#endif
