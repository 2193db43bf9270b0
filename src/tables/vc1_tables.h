// Tables of the VC-1 bitstream (SMPTE 421M) used by the WMV9 (Main profile)
// encoder: variable-length codes, zigzag scans, quantiser mappings.
//
// Everything here is fixed by the standard; nothing here is an encoder
// decision. Each VLC table is proved by the round-trip tests in
// tests/video_encoder (a small reader of our own, and FFmpeg's decoder).
#ifndef ASFWRITER_TABLES_VC1_TABLES_H
#define ASFWRITER_TABLES_VC1_TABLES_H

#include <cstdint>

#include "bitwriter/bit_writer.h"

namespace asfw::vc1 {

// ---------------------------------------------------------------------------
// AC coefficients (8.1.3.4). One entry per (run, level, last) event; the
// final entry of every set is the escape code (run = level = 0).
struct AcCode {
    std::uint32_t code;
    std::uint8_t length;
    std::uint8_t run;
    std::uint8_t level;  // magnitude, >= 1 (0 only for the escape entry)
    std::uint8_t last;   // 1: last coefficient of the block
};

constexpr int kAcCodingSets = 8;
// Set ids, as the standard names the tables.
enum AcSetId : int {
    kHighMotionIntra = 0,
    kHighMotionInter = 1,
    kLowMotionIntra = 2,
    kLowMotionInter = 3,
    kMidRateIntra = 4,
    kMidRateInter = 5,
    kHighRateIntra = 6,
    kHighRateInter = 7,
};

// The codes of one set (escape last), with their count in *size.
// Null for an unknown set.
const AcCode* acCodeTable(int set, int* size);

// The coding set a picture's TRANSACFRM / TRANSACFRM2 index selects
// (8.1.1.8): index 0 is high-rate when PQINDEX <= 8, else low-motion;
// 1 high-motion; 2 mid-rate. `intra` picks the intra or the inter table of
// that pair (I pictures: luma intra, chroma inter).
constexpr int acCodingSet(int index, int pqindex, bool intra)
{
    const int base = index == 0 ? (pqindex <= 8 ? kHighRateIntra : kLowMotionIntra)
                                : (index == 1 ? kHighMotionIntra : kMidRateIntra);
    return intra ? base : base + 1;
}

// Lookups derived from a set's table: the code index of an event, the
// largest level per run and the largest run per level (the escape-mode
// deltas of 8.1.3.4: mode 1 adds maxLevel[last][run] to the level, mode 2
// adds maxRun[last][level] + 1 to the run).
class AcSetInfo {
public:
    static const AcSetInfo& get(int set);

    // Code index of (run, level, last), or -1 when the event has no code.
    int index(int run, int level, bool last) const
    {
        if (run < 0 || run >= kMaxRun || level < 1 || level >= kMaxLevel) return -1;
        return index_[last ? 1 : 0][run][level];
    }
    int maxLevel(bool last, int run) const
    {
        return run >= 0 && run < kMaxRun ? maxLevel_[last ? 1 : 0][run] : 0;
    }
    // -1 when no event of that level exists.
    int maxRun(bool last, int level) const
    {
        return level >= 1 && level < kMaxLevel ? maxRun_[last ? 1 : 0][level] : -1;
    }
    const AcCode* codes() const { return codes_; }
    int size() const { return size_; }
    const AcCode& escape() const { return codes_[size_ - 1]; }

    static constexpr int kMaxRun = 64;
    static constexpr int kMaxLevel = 64;

private:
    explicit AcSetInfo(int set);
    const AcCode* codes_ = nullptr;
    int size_ = 0;
    std::int16_t index_[2][kMaxRun][kMaxLevel];
    std::uint8_t maxLevel_[2][kMaxRun];
    std::int8_t maxRun_[2][kMaxLevel];
};

// ---------------------------------------------------------------------------
// DC differential (8.1.3.1): 120 entries, magnitude i -> entry i, 119 escape.
// table 0 = low motion, 1 = high motion (the picture's TRANSDCTAB).
constexpr int kDcDiffEscape = 119;
const VlcCode* dcDiffTable(int table, bool chroma);

// I-picture CBPCY (7.1.4.1), indexed by the 6-bit pattern after the luma
// bits' prediction: bit 5 = Y0 ... bit 2 = Y3, bit 1 = Cb, bit 0 = Cr.
extern const VlcCode kCbpcyIntra[64];

// ---------------------------------------------------------------------------
// 8x8 zigzag scans (8.1.3.5 / Annex tables): position in raster order
// (row * 8 + column; row = vertical frequency) of the i-th coefficient.
enum ScanId : int {
    kScanInter = 0,          // inter blocks, and intra blocks of P pictures
    kScanIntraNormal = 1,    // I picture, no AC prediction
    kScanIntraHorizontal = 2,  // I picture, AC predicted from the block above
    kScanIntraVertical = 3,    // I picture, AC predicted from the block to the left
};
extern const std::uint8_t kZigzag8x8[4][64];

// ---------------------------------------------------------------------------
// Quantiser.
// PQUANT for a PQINDEX (7.1.1.6) with the implicit quantiser mode; with the
// explicit and fixed modes PQUANT = PQINDEX.
extern const std::uint8_t kImplicitPquant[32];
// The DC step (8.1.3.2), for PQUANT 1..31 (same for luma and chroma).
extern const std::uint8_t kDcStepSize[32];
// The DC predictor used where a neighbour lies outside the picture:
// (1024 + step / 2) / step for DC step sizes 1..31 (8.1.3.3).
extern const std::uint16_t kDcPredictorOutside[32];

}  // namespace asfw::vc1

#endif
