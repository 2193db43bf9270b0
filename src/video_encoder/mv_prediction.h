// Motion vector prediction of progressive 1MV P pictures, exactly as the
// decoder forms it (SMPTE 421M, motion vector prediction of P pictures):
// candidates above (A), above-right or above-left in the last column (B)
// and left (C); median of the available ones (or the single one); pull-back
// so the predicted block stays near the picture; hybrid prediction with its
// HYBRIDPRED bit when the predictor is far from A or C. Intra macroblocks
// count as the zero vector. Also the differential's code (MVDATA).
#ifndef ASFWRITER_VIDEO_ENCODER_MV_PREDICTION_H
#define ASFWRITER_VIDEO_ENCODER_MV_PREDICTION_H

#include "bitwriter/bit_writer.h"
#include "tables/vc1_mv_tables.h"

#include <cstdint>
#include <vector>

namespace asfw {

// A luma motion vector in quarter samples.
struct Vc1Mv {
    int x = 0;
    int y = 0;
    bool operator==(const Vc1Mv& o) const { return x == o.x && y == o.y; }
    bool operator!=(const Vc1Mv& o) const { return !(*this == o); }
};

// Range of vectors without extended motion vectors: x in [-256, 255],
// y in [-128, 127] quarter samples; the decoder wraps into it.
constexpr int kVc1MvRangeX = 256;
constexpr int kVc1MvRangeY = 128;
inline int vc1WrapMvX(int v) { return ((v + kVc1MvRangeX) & (2 * kVc1MvRangeX - 1)) - kVc1MvRangeX; }
inline int vc1WrapMvY(int v) { return ((v + kVc1MvRangeY) & (2 * kVc1MvRangeY - 1)) - kVc1MvRangeY; }

struct Vc1MvPrediction {
    Vc1Mv pred;         // the predictor when no HYBRIDPRED bit is sent
    bool hybrid = false;  // a HYBRIDPRED bit follows the MVDATA
    Vc1Mv fromA;        // predictor when HYBRIDPRED = 1
    Vc1Mv fromC;        // predictor when HYBRIDPRED = 0
    Vc1Mv select(bool hybridBit) const { return hybrid ? (hybridBit ? fromA : fromC) : pred; }
};

// The vectors of the macroblocks coded so far in the current picture.
class Vc1MvField {
public:
    void reset(int mbCols, int mbRows);
    void set(int mbX, int mbY, Vc1Mv mv, bool intra);
    Vc1Mv at(int mbX, int mbY) const { return mv_[index(mbX, mbY)]; }
    bool intraAt(int mbX, int mbY) const { return intra_[index(mbX, mbY)] != 0; }
    Vc1MvPrediction predict(int mbX, int mbY) const;
    int mbCols() const { return cols_; }
    int mbRows() const { return rows_; }

private:
    std::size_t index(int x, int y) const { return static_cast<std::size_t>(y) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(x); }
    int cols_ = 0, rows_ = 0;
    std::vector<Vc1Mv> mv_;
    std::vector<std::uint8_t> intra_;
};

// MVDATA of a 1MV macroblock. `dx`, `dy` are the differential in the
// picture's vector unit (quarter samples, or half samples in the half-sample
// modes); any value is reduced into the decoder's wrapping range first.
struct Vc1MvDataCode {
    int symbol = 0;       // MVDATA symbol
    bool escape = false;  // raw components follow
    std::uint32_t xBits = 0, yBits = 0;
    int xLength = 0, yLength = 0;
    int bits(int table) const { return kVc1MvDataVlc[table][symbol].length + xLength + yLength; }
};
// Code of differential (dx, dy); `residual` = coefficients follow.
// A zero differential without residual has no code (that is a skipped
// macroblock); asking for it gives symbol -1.
Vc1MvDataCode vc1MvDataCode(int dx, int dy, bool residual, bool halfSample);
// Code of an intra macroblock (with or without coded AC coefficients).
Vc1MvDataCode vc1MvDataIntra(bool residual);

template <class W>
void vc1WriteMvData(W& w, int table, const Vc1MvDataCode& c)
{
    w.put(kVc1MvDataVlc[table][c.symbol]);
    w.put(c.xBits, c.xLength);
    w.put(c.yBits, c.yLength);
}

// Bits of the differential alone (for motion search costs), with the
// residual flag given; zero differential without residual counts as 1 bit.
int vc1MvDataBits(int table, int dx, int dy, bool residual, bool halfSample);

}  // namespace asfw

#endif
