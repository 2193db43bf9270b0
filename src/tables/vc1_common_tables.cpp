// Zigzag scans and quantiser tables (SMPTE 421M, 7.1.1.6, 8.1.3.2, 8.1.3.5).
#include <cstring>

#include "tables/vc1_tables.h"

namespace asfw::vc1 {

// Raster positions, row * 8 + column.
constexpr std::uint8_t kZigzag8x8[4][64] = {
    // Inter (and intra blocks of P pictures).
    {0, 8, 1, 2, 9, 16, 24, 17, 10, 3, 4, 11, 18, 25, 32, 40,
     48, 56, 41, 33, 26, 19, 12, 5, 6, 13, 20, 27, 34, 49, 57, 58,
     50, 42, 35, 28, 21, 14, 7, 15, 22, 29, 36, 43, 51, 59, 60, 52,
     44, 37, 30, 23, 31, 38, 45, 53, 61, 62, 54, 46, 39, 47, 55, 63},
    // Intra, normal.
    {0, 8, 1, 2, 9, 16, 24, 17, 10, 3, 4, 11, 18, 25, 32, 40,
     33, 48, 26, 19, 12, 5, 6, 13, 20, 27, 34, 41, 56, 49, 57, 42,
     35, 28, 21, 14, 7, 15, 22, 29, 36, 43, 50, 58, 51, 59, 44, 37,
     30, 23, 31, 38, 45, 52, 60, 53, 61, 46, 39, 47, 54, 62, 55, 63},
    // Intra, horizontal (prediction from the top).
    {0, 1, 8, 2, 3, 9, 16, 24, 17, 10, 4, 5, 11, 18, 25, 32,
     40, 48, 33, 26, 19, 12, 6, 7, 13, 20, 27, 34, 41, 56, 49, 57,
     42, 35, 28, 21, 14, 15, 22, 29, 36, 43, 50, 58, 51, 44, 37, 30,
     23, 31, 38, 45, 52, 59, 60, 53, 46, 39, 47, 54, 61, 62, 55, 63},
    // Intra, vertical (prediction from the left).
    {0, 8, 16, 1, 24, 32, 40, 9, 2, 3, 10, 17, 25, 48, 56, 41,
     33, 26, 18, 11, 4, 5, 12, 19, 27, 34, 49, 57, 50, 42, 35, 28,
     20, 13, 6, 7, 14, 21, 29, 36, 43, 51, 58, 59, 52, 44, 37, 30,
     22, 15, 23, 31, 38, 45, 60, 53, 46, 39, 47, 54, 61, 62, 55, 63},
};

constexpr std::uint8_t kImplicitPquant[32] = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 6, 7, 8, 9, 10, 11, 12,
    13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 27, 29, 31};

constexpr std::uint8_t kDcStepSize[32] = {
    0, 2, 4, 8, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13,
    14, 14, 15, 15, 16, 16, 17, 17, 18, 18, 19, 19, 20, 20, 21, 21};

constexpr std::uint16_t kDcPredictorOutside[32] = {
    0, 1024, 512, 341, 256, 205, 171, 146, 128, 114, 102, 93, 85, 79, 73, 68,
    64, 60, 57, 54, 51, 49, 47, 45, 43, 41, 39, 38, 37, 35, 34, 33};

const AcSetInfo& AcSetInfo::get(int set)
{
    static const AcSetInfo kInfo[kAcCodingSets] = {AcSetInfo(0), AcSetInfo(1), AcSetInfo(2), AcSetInfo(3),
                                                   AcSetInfo(4), AcSetInfo(5), AcSetInfo(6), AcSetInfo(7)};
    return kInfo[set < 0 || set >= kAcCodingSets ? 0 : set];
}

AcSetInfo::AcSetInfo(int set)
{
    codes_ = acCodeTable(set, &size_);
    std::memset(index_, 0xFF, sizeof(index_));  // -1
    std::memset(maxLevel_, 0, sizeof(maxLevel_));
    std::memset(maxRun_, 0xFF, sizeof(maxRun_));  // -1
    for (int i = 0; i + 1 < size_; ++i) {
        const AcCode& c = codes_[i];
        const int l = c.last;
        index_[l][c.run][c.level] = static_cast<std::int16_t>(i);
        if (c.level > maxLevel_[l][c.run]) maxLevel_[l][c.run] = c.level;
        if (c.run > maxRun_[l][c.level]) maxRun_[l][c.level] = static_cast<std::int8_t>(c.run);
    }
}

}  // namespace asfw::vc1
