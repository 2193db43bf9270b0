// Bitplane coding codes (SMPTE 421M, bitplane coding): the IMODE code, the
// Norm-2 pair code and the Norm-6 tile code.
#ifndef ASFWRITER_TABLES_VC1_BITPLANE_TABLES_H
#define ASFWRITER_TABLES_VC1_BITPLANE_TABLES_H

#include "bitwriter/bit_writer.h"

#include <cstdint>

namespace asfw {

enum class Vc1Imode : std::uint8_t {
    Raw = 0,
    Norm2 = 1,
    Diff2 = 2,
    Norm6 = 3,
    Diff6 = 4,
    RowSkip = 5,
    ColSkip = 6,
};
constexpr int kVc1ImodeCount = 7;
extern const VlcCode kVc1ImodeVlc[kVc1ImodeCount];

// Norm-2: a pair (a, b) of bits in raster order has value a | b << 1.
extern const VlcCode kVc1Norm2Vlc[4];

// Norm-6: a tile of six bits, value = sum of bit k << k in tile order
// (3 wide x 2 high: row by row; 2 wide x 3 high: row by row).
extern const VlcCode kVc1Norm6Vlc[64];

}  // namespace asfw

#endif
