// Motion vector syntax of progressive P pictures (SMPTE 421M): the MVDATA
// code tables chosen by MVTAB, the class sizes of the differential, and the
// MVMODE code order.
#ifndef ASFWRITER_TABLES_VC1_MV_TABLES_H
#define ASFWRITER_TABLES_VC1_MV_TABLES_H

#include "bitwriter/bit_writer.h"

#include <cstdint>

namespace asfw {

// MVDATA: 73 symbols per table, four tables (MVTAB 0..3).
// Symbol s stands for index i = s + 1; i > 36 means "residual follows" and
// i - 37 is then the index proper. Index 0 = zero differential, 35 = escape
// (raw components follow), 36 = intra macroblock, otherwise i % 6 is the
// horizontal size class and i / 6 the vertical one.
constexpr int kVc1MvDataSymbols = 73;
constexpr int kVc1MvDataTables = 4;
extern const VlcCode kVc1MvDataVlc[kVc1MvDataTables][kVc1MvDataSymbols];

constexpr int kVc1MvIndexZero = 0;
constexpr int kVc1MvIndexEscape = 35;
constexpr int kVc1MvIndexIntra = 36;
constexpr int kVc1MvIndexWithResidual = 37;

// Size classes of one differential component: class c codes magnitudes
// kVc1MvClassOffset[c] .. kVc1MvClassOffset[c] + 2^(kVc1MvClassBits[c]-1) - 1
// with (magnitude - offset) << 1 | sign in kVc1MvClassBits[c] bits. Class 0
// is a zero component. In half-sample modes class 5 uses one bit fewer.
constexpr int kVc1MvClasses = 6;
extern const std::uint8_t kVc1MvClassBits[kVc1MvClasses];
extern const std::uint8_t kVc1MvClassOffset[kVc1MvClasses];

// Motion vector modes of a P picture.
enum class Vc1MvMode : std::uint8_t {
    OneMvQuarterBicubic = 0,  // 1MV, quarter sample, bicubic
    MixedMv = 1,              // 1MV and 4MV macroblocks
    OneMvHalfBicubic = 2,     // 1MV, half sample, bicubic
    IntensityComp = 3,        // intensity compensation (a second mode follows)
    OneMvHalfBilinear = 4,    // 1MV, half sample, bilinear
};

// MVMODE is a unary code (1, 01, 001, 0001, 0000); the order of modes in it
// depends on the picture quantiser: [0] for PQUANT > 12, [1] for PQUANT <= 12.
extern const Vc1MvMode kVc1MvModeOrder[2][5];

// The MVMODE code (value, length) for `mode` at picture quantiser `pquant`.
VlcCode vc1MvModeCode(Vc1MvMode mode, int pquant);

}  // namespace asfw

#endif
