// Motion estimation for 1MV P pictures.
#include "video_encoder/motion_search.h"

#include "dsp/pixel_metrics.h"

#include <algorithm>
#include <cstdlib>

namespace asfw {

namespace {

constexpr int kOffsetRange = 512;  // differentials are priced within +-511

struct Step {
    int dx, dy;
};
constexpr Step kDiamond[4] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};
constexpr Step kHexagon[6] = {{-2, 0}, {-1, -2}, {1, -2}, {2, 0}, {1, 2}, {-1, 2}};
constexpr Step kSquare[8] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};

}  // namespace

void MotionSearch::begin(const std::uint8_t* cur, std::ptrdiff_t curStride, const Vc1RefView& ref, int mbCols,
                         int mbRows, const MotionSearchConfig& config)
{
    cur_ = cur;
    curStride_ = curStride;
    ref_ = ref;
    mbCols_ = mbCols;
    mbRows_ = mbRows;
    cfg_ = config;
    // Per-component class and payload bits for every differential value.
    compClass_.assign(2 * kOffsetRange, 0);
    compBits_.assign(2 * kOffsetRange, 0);
    for (int d = -kOffsetRange; d < kOffsetRange; ++d) {
        const Vc1MvDataCode c = vc1MvDataCode(d, 0, true, config.halfSample);
        const std::size_t i = static_cast<std::size_t>(d + kOffsetRange);
        if (c.escape) {
            compClass_[i] = 255;
        } else {
            compClass_[i] = static_cast<std::uint8_t>((c.symbol - (kVc1MvIndexWithResidual - 1)) % 6);
            compBits_[i] = static_cast<std::uint8_t>(c.xLength);
        }
    }
    for (int idx = 0; idx < 36; ++idx)
        symbolBits_[idx] = kVc1MvDataVlc[config.mvTable][idx + kVc1MvIndexWithResidual - 1].length;
    escapeBits_ = static_cast<std::uint8_t>(symbolBits_[kVc1MvIndexEscape] + (config.halfSample ? 15 : 17));
}

unsigned MotionSearch::mvBits(Vc1Mv mv, Vc1Mv pred) const
{
    const int unit = cfg_.halfSample ? 1 : 0;
    int dx = (mv.x - pred.x) >> unit, dy = (mv.y - pred.y) >> unit;
    // Same reduction as the coder (wrapping range).
    const int rx = kVc1MvRangeX >> unit, ry = kVc1MvRangeY >> unit;
    dx = ((dx + rx) & (2 * rx - 1)) - rx;
    dy = ((dy + ry) & (2 * ry - 1)) - ry;
    const std::size_t ix = static_cast<std::size_t>(dx + kOffsetRange), iy = static_cast<std::size_t>(dy + kOffsetRange);
    const int cx = compClass_[ix], cy = compClass_[iy];
    if (cx == 255 || cy == 255) return escapeBits_;
    const int idx = cx + 6 * cy;
    if (idx == kVc1MvIndexEscape) return escapeBits_;
    return static_cast<unsigned>(symbolBits_[idx] + compBits_[ix] + compBits_[iy]);
}

bool MotionSearch::inRange(int mbX, int mbY, Vc1Mv mv) const
{
    if (mv.x < -kVc1MvRangeX || mv.x >= kVc1MvRangeX || mv.y < -kVc1MvRangeY || mv.y >= kVc1MvRangeY) return false;
    // Keep the block within the area the decoder addresses without
    // clamping: at most one macroblock outside the coded picture.
    const int px = mbX * 64 + mv.x, py = mbY * 64 + mv.y;
    return px >= -64 && py >= -64 && px <= ref_.width * 4 && py <= ref_.height * 4;
}

unsigned MotionSearch::integerSad(int mbX, int mbY, int ix, int iy) const
{
    const std::uint8_t* c = cur_ + static_cast<std::ptrdiff_t>(mbY) * 16 * curStride_ + mbX * 16;
    const std::uint8_t* r = ref_.y + static_cast<std::ptrdiff_t>(mbY * 16 + iy) * ref_.yStride + mbX * 16 + ix;
    return sad16x16(c, static_cast<int>(curStride_), r, static_cast<int>(ref_.yStride));
}

unsigned MotionSearch::distortionAt(int mbX, int mbY, Vc1Mv mv, bool satd)
{
    const std::uint8_t* c = cur_ + static_cast<std::ptrdiff_t>(mbY) * 16 * curStride_ + mbX * 16;
    if ((mv.x & 3) == 0 && (mv.y & 3) == 0 && !satd) {
        // The decoder clamps the source block to one macroblock outside.
        const int sx = std::clamp(mbX * 16 + (mv.x >> 2), -16, ref_.width) - mbX * 16;
        const int sy = std::clamp(mbY * 16 + (mv.y >> 2), -16, ref_.height) - mbY * 16;
        return integerSad(mbX, mbY, sx, sy);
    }
    alignas(16) std::uint8_t pred[256];
    Vc1McParams p;
    p.filter = cfg_.filter;
    p.rnd = cfg_.rnd;
    vc1PredictLuma(ref_, p, mbX, mbY, mv.x, mv.y, pred, 16);
    return satd ? satd16x16(c, static_cast<int>(curStride_), pred, 16) : sad16x16(c, static_cast<int>(curStride_), pred, 16);
}

void MotionSearch::refine(int mbX, int mbY, Vc1Mv pred, int step, bool satd, MotionResult& best)
{
    const Vc1Mv centre = best.mv;
    for (const Step& s : kSquare) {
        const Vc1Mv mv{centre.x + s.dx * step, centre.y + s.dy * step};
        if (!inRange(mbX, mbY, mv)) continue;
        const unsigned d = distortionAt(mbX, mbY, mv, satd);
        const unsigned cost = d + static_cast<unsigned>(cfg_.lambda) * mvBits(mv, pred);
        if (cost < best.cost) best = MotionResult{mv, cost, d};
    }
}

MotionResult MotionSearch::search(int mbX, int mbY, Vc1Mv pred, const Vc1Mv* candidates, int candidateCount)
{
    const int level = cfg_.complexity;
    const unsigned lambda = static_cast<unsigned>(cfg_.lambda);
    // Integer-sample search in sample units; positions are scored by SAD.
    auto costInt = [&](int ix, int iy) -> unsigned {
        const Vc1Mv mv{ix * 4, iy * 4};
        return integerSad(mbX, mbY, ix, iy) + lambda * mvBits(mv, pred);
    };
    auto okInt = [&](int ix, int iy) { return inRange(mbX, mbY, Vc1Mv{ix * 4, iy * 4}); };

    int bx = 0, by = 0;
    unsigned bestCost = costInt(0, 0);
    auto tryInt = [&](int ix, int iy) {
        if (!okInt(ix, iy)) return false;
        const unsigned c = costInt(ix, iy);
        if (c < bestCost) {
            bestCost = c;
            bx = ix;
            by = iy;
            return true;
        }
        return false;
    };
    auto toInt = [](int q) { return (q + 2) >> 2; };
    tryInt(toInt(pred.x), toInt(pred.y));
    for (int i = 0; i < candidateCount; ++i) tryInt(toInt(candidates[i].x), toInt(candidates[i].y));

    const int maxIter = level <= 1 ? 8 : 16;
    if (level <= 1) {
        for (int it = 0; it < maxIter; ++it) {
            const int cx = bx, cy = by;
            for (const Step& s : kDiamond) tryInt(cx + s.dx, cy + s.dy);
            if (cx == bx && cy == by) break;
        }
    } else {
        const int passes = level >= 4 ? 2 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            for (int it = 0; it < maxIter; ++it) {
                const int cx = bx, cy = by;
                for (const Step& s : kHexagon) tryInt(cx + s.dx, cy + s.dy);
                if (cx == bx && cy == by) break;
            }
            const int cx = bx, cy = by;
            for (const Step& s : kSquare) tryInt(cx + s.dx, cy + s.dy);
            if (pass + 1 < passes) {
                // Second pass from the zero vector's and predictor's
                // neighbourhood at double spacing.
                const int sx = bx, sy = by;
                for (const Step& s : kHexagon) tryInt(sx + 2 * s.dx, sy + 2 * s.dy);
            }
        }
        if (level >= 5) {
            const int cx = bx, cy = by;
            for (int dy = -6; dy <= 6; ++dy)
                for (int dx = -6; dx <= 6; ++dx) tryInt(cx + dx, cy + dy);
        }
    }

    MotionResult best;
    best.mv = Vc1Mv{bx * 4, by * 4};
    const bool satd = level >= 3;
    best.distortion = satd ? distortionAt(mbX, mbY, best.mv, true) : integerSad(mbX, mbY, bx, by);
    best.cost = best.distortion + lambda * mvBits(best.mv, pred);
    // Sub-sample refinement.
    refine(mbX, mbY, pred, 2, satd, best);
    if (!cfg_.halfSample && level >= 1) {
        refine(mbX, mbY, pred, 1, satd, best);
        if (level >= 5) refine(mbX, mbY, pred, 1, satd, best);
    }
    return best;
}

}  // namespace asfw
