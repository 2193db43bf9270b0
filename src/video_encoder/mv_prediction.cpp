// Motion vector prediction and differential coding of 1MV P pictures.
#include "video_encoder/mv_prediction.h"

#include <algorithm>
#include <cstdlib>

namespace asfw {

namespace {

int median3(int a, int b, int c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Size class and payload of one differential component.
bool componentCode(int d, bool halfSample, int& cls, std::uint32_t& bits, int& length)
{
    const int m = std::abs(d);
    if (m == 0) {
        cls = 0;
        bits = 0;
        length = 0;
        return true;
    }
    for (int c = 1; c < kVc1MvClasses; ++c) {
        const int size = kVc1MvClassBits[c] - ((halfSample && c == 5) ? 1 : 0);
        const int lo = kVc1MvClassOffset[c];
        const int hi = lo + (1 << (size - 1)) - 1;
        if (m <= hi) {
            cls = c;
            bits = (static_cast<std::uint32_t>(m - lo) << 1) | (d < 0 ? 1u : 0u);
            length = size;
            return true;
        }
    }
    return false;
}

}  // namespace

void Vc1MvField::reset(int mbCols, int mbRows)
{
    cols_ = mbCols;
    rows_ = mbRows;
    mv_.assign(static_cast<std::size_t>(mbCols) * static_cast<std::size_t>(mbRows), Vc1Mv{});
    intra_.assign(mv_.size(), 0);
}

void Vc1MvField::set(int mbX, int mbY, Vc1Mv mv, bool intra)
{
    mv_[index(mbX, mbY)] = intra ? Vc1Mv{} : mv;
    intra_[index(mbX, mbY)] = intra ? 1 : 0;
}

Vc1MvPrediction Vc1MvField::predict(int mbX, int mbY) const
{
    const bool aValid = mbY > 0;
    const bool bValid = aValid && cols_ > 1;
    const bool cValid = mbX > 0;
    const Vc1Mv a = aValid ? at(mbX, mbY - 1) : Vc1Mv{};
    // B: above-right, or above-left in the last column.
    const Vc1Mv b = bValid ? at(mbX == cols_ - 1 ? mbX - 1 : mbX + 1, mbY - 1) : Vc1Mv{};
    const Vc1Mv c = cValid ? at(mbX - 1, mbY) : Vc1Mv{};

    Vc1Mv p;
    const int valid = (aValid ? 1 : 0) + (bValid ? 1 : 0) + (cValid ? 1 : 0);
    if (valid > 1) {
        p.x = median3(a.x, b.x, c.x);
        p.y = median3(a.y, b.y, c.y);
    } else if (aValid) {
        p = a;
    } else if (cValid) {
        p = c;
    }

    // Pull-back: keep the predicted block within a macroblock (less one
    // sample) outside the picture.
    const int qx = mbX * 64, qy = mbY * 64;
    const int maxX = cols_ * 64 - 4, maxY = rows_ * 64 - 4;
    if (qx + p.x < -60) p.x = -60 - qx;
    if (qy + p.y < -60) p.y = -60 - qy;
    if (qx + p.x > maxX) p.x = maxX - qx;
    if (qy + p.y > maxY) p.y = maxY - qy;

    Vc1MvPrediction r;
    r.pred = p;
    if (aValid && cValid) {
        const int farFromA = std::abs(p.x - a.x) + std::abs(p.y - a.y);
        const int farFromC = std::abs(p.x - c.x) + std::abs(p.y - c.y);
        if (farFromA > 32 || farFromC > 32) {
            r.hybrid = true;
            r.fromA = a;
            r.fromC = c;
        }
    }
    return r;
}

Vc1MvDataCode vc1MvDataCode(int dx, int dy, bool residual, bool halfSample)
{
    // Reduce into the wrapping range (the decoder adds modulo the range).
    const int rx = halfSample ? kVc1MvRangeX / 2 : kVc1MvRangeX;
    const int ry = halfSample ? kVc1MvRangeY / 2 : kVc1MvRangeY;
    dx = ((dx + rx) & (2 * rx - 1)) - rx;
    dy = ((dy + ry) & (2 * ry - 1)) - ry;

    Vc1MvDataCode c;
    int cx = 0, cy = 0;
    const bool okX = componentCode(dx, halfSample, cx, c.xBits, c.xLength);
    const bool okY = componentCode(dy, halfSample, cy, c.yBits, c.yLength);
    int index = cx + 6 * cy;
    if (!okX || !okY || index == kVc1MvIndexEscape) {
        index = kVc1MvIndexEscape;
        c.escape = true;
        c.xLength = halfSample ? 8 : 9;
        c.yLength = halfSample ? 7 : 8;
        c.xBits = static_cast<std::uint32_t>(dx) & ((1u << c.xLength) - 1);
        c.yBits = static_cast<std::uint32_t>(dy) & ((1u << c.yLength) - 1);
    }
    c.symbol = residual ? index + kVc1MvIndexWithResidual - 1 : index - 1;
    return c;
}

Vc1MvDataCode vc1MvDataIntra(bool residual)
{
    Vc1MvDataCode c;
    c.symbol = residual ? kVc1MvIndexIntra + kVc1MvIndexWithResidual - 1 : kVc1MvIndexIntra - 1;
    return c;
}

int vc1MvDataBits(int table, int dx, int dy, bool residual, bool halfSample)
{
    const Vc1MvDataCode c = vc1MvDataCode(dx, dy, residual, halfSample);
    if (c.symbol < 0) return 1;
    return c.bits(table);
}

}  // namespace asfw
