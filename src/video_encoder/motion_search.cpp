// Motion estimation for 1MV P pictures.
#include "video_encoder/motion_search.h"

#include "dsp/pixel_metrics.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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
    quarterMbX_ = quarterMbY_ = -1;  // new reference, maybe new rounding
    planes_.build(ref.y, ref.yStride, ref.width, ref.height, config.rnd);
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
    // clamping (at most one macroblock outside the coded picture), which
    // the half-sample planes cover.
    const int px = mbX * 64 + mv.x, py = mbY * 64 + mv.y;
    return px >= -64 && py >= -64 && px <= ref_.width * 4 && py <= ref_.height * 4;
}

const std::uint8_t* MotionSearch::predictLuma(int mbX, int mbY, Vc1Mv mv, std::uint8_t* scratch, int& stride) const
{
    if (((mv.x | mv.y) & 1) == 0 && inRange(mbX, mbY, mv)) {
        stride = static_cast<int>(planes_.stride());
        return planes_.block(mbX, mbY, mv.x >> 1, mv.y >> 1);
    }
    stride = 16;
    if (mbX == quarterMbX_ && mbY == quarterMbY_ && mv == quarterMv_) {
        std::memcpy(scratch, quarter_[quarterBest_], 256);
        return scratch;
    }
    Vc1McParams p;
    p.rnd = cfg_.rnd;
    vc1PredictLuma(ref_, p, mbX, mbY, mv.x, mv.y, scratch, 16);
    return scratch;
}

unsigned MotionSearch::sadAt(int mbX, int mbY, Vc1Mv mv) const
{
    alignas(16) std::uint8_t tmp[256];
    int stride = 0;
    const std::uint8_t* p = predictLuma(mbX, mbY, mv, tmp, stride);
    const std::uint8_t* c = cur_ + static_cast<std::ptrdiff_t>(mbY) * 16 * curStride_ + mbX * 16;
    return sad16x16(c, static_cast<int>(curStride_), p, stride);
}

unsigned MotionSearch::distortion(int mbX, int mbY, Vc1Mv mv, bool satd, std::uint8_t* interp) const
{
    const std::uint8_t* c = cur_ + static_cast<std::ptrdiff_t>(mbY) * 16 * curStride_ + mbX * 16;
    const int cs = static_cast<int>(curStride_);
    if (((mv.x | mv.y) & 1) == 0) {
        const std::uint8_t* p = planes_.block(mbX, mbY, mv.x >> 1, mv.y >> 1);
        const int ps = static_cast<int>(planes_.stride());
        return satd ? satd16x16(c, cs, p, ps) : sad16x16(c, cs, p, ps);
    }
    alignas(16) std::uint8_t local[256];
    std::uint8_t* tmp = interp ? interp : local;
    Vc1McParams p;
    p.rnd = cfg_.rnd;
    vc1PredictLuma(ref_, p, mbX, mbY, mv.x, mv.y, tmp, 16);
    return satd ? satd16x16(c, cs, tmp, 16) : sad16x16(c, cs, tmp, 16);
}

void MotionSearch::refine(int mbX, int mbY, Vc1Mv pred, int step, bool satd, bool square, MotionResult& best)
{
    const Vc1Mv centre = best.mv;
    const unsigned lambda = static_cast<unsigned>(cfg_.lambda);
    for (const Step& s : kSquare) {
        if (!square && s.dx != 0 && s.dy != 0) continue;
        const Vc1Mv mv{centre.x + s.dx * step, centre.y + s.dy * step};
        if (!inRange(mbX, mbY, mv)) continue;
        const unsigned bitsCost = lambda * mvBits(mv, pred);
        if (bitsCost >= best.cost) continue;
        const bool quarter = ((mv.x | mv.y) & 1) != 0;
        const unsigned d = distortion(mbX, mbY, mv, satd, quarter_[quarterBest_ ^ 1]);
        const unsigned cost = d + bitsCost;
        if (cost < best.cost) {
            best = MotionResult{mv, cost, d};
            if (quarter) {
                quarterBest_ ^= 1;
                quarterMv_ = mv;
                quarterMbX_ = mbX;
                quarterMbY_ = mbY;
            }
        }
    }
}

MotionResult MotionSearch::search(int mbX, int mbY, Vc1Mv pred, const Vc1Mv* candidates, int candidateCount)
{
    const int level = cfg_.complexity;
    const unsigned lambda = static_cast<unsigned>(cfg_.lambda);
    const std::uint8_t* cur = cur_ + static_cast<std::ptrdiff_t>(mbY) * 16 * curStride_ + mbX * 16;
    const int cs = static_cast<int>(curStride_);
    const std::ptrdiff_t ps = planes_.stride();
    const std::uint8_t* full = planes_.plane(0) + static_cast<std::ptrdiff_t>(mbY) * 16 * ps + mbX * 16;

    // Integer-sample search in sample units, scored by SAD on the
    // reference itself.
    int bx = 0, by = 0;
    unsigned bestCost = sad16x16(cur, cs, full, static_cast<int>(ps)) + lambda * mvBits(Vc1Mv{}, pred);
    auto tryInt = [&](int ix, int iy) {
        const Vc1Mv mv{ix * 4, iy * 4};
        if (!inRange(mbX, mbY, mv)) return;
        const unsigned bitsCost = lambda * mvBits(mv, pred);
        if (bitsCost >= bestCost) return;
        const unsigned c = sad16x16(cur, cs, full + iy * ps + ix, static_cast<int>(ps)) + bitsCost;
        if (c < bestCost) {
            bestCost = c;
            bx = ix;
            by = iy;
        }
    };
    auto toInt = [](int q) { return (q + 2) >> 2; };
    // Starting points, each tried once.
    int tried[10][2];
    int nTried = 0;
    auto tryStart = [&](Vc1Mv m) {
        const int ix = toInt(m.x), iy = toInt(m.y);
        if (ix == 0 && iy == 0) return;
        for (int i = 0; i < nTried; ++i)
            if (tried[i][0] == ix && tried[i][1] == iy) return;
        if (nTried < 10) {
            tried[nTried][0] = ix;
            tried[nTried][1] = iy;
            ++nTried;
        }
        tryInt(ix, iy);
    };
    tryStart(pred);
    for (int i = 0; i < candidateCount; ++i) tryStart(candidates[i]);

    if (level <= 3) {
        const int iterations = level == 0 ? 4 : 8;
        for (int it = 0; it < iterations; ++it) {
            const int cx = bx, cy = by;
            for (const Step& s : kDiamond) tryInt(cx + s.dx, cy + s.dy);
            if (cx == bx && cy == by) break;
        }
    } else {
        const int passes = level >= 5 ? 2 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            for (int it = 0; it < 16; ++it) {
                const int cx = bx, cy = by;
                for (const Step& s : kHexagon) tryInt(cx + s.dx, cy + s.dy);
                if (cx == bx && cy == by) break;
            }
            const int cx = bx, cy = by;
            for (const Step& s : kSquare) tryInt(cx + s.dx, cy + s.dy);
            if (pass + 1 < passes) {
                // Second pass from a hexagon at double spacing.
                const int sx = bx, sy = by;
                for (const Step& s : kHexagon) tryInt(sx + 2 * s.dx, sy + 2 * s.dy);
            }
        }
        if (level >= 5) {
            const int cx = bx, cy = by;
            for (int dy = -8; dy <= 8; ++dy)
                for (int dx = -8; dx <= 8; ++dx) tryInt(cx + dx, cy + dy);
        }
    }

    MotionResult best;
    best.mv = Vc1Mv{bx * 4, by * 4};
    const bool halfSatd = level >= 4;
    best.distortion = halfSatd ? distortion(mbX, mbY, best.mv, true) : bestCost - lambda * mvBits(best.mv, pred);
    best.cost = best.distortion + lambda * mvBits(best.mv, pred);
    // Sub-sample refinement: half samples (exact on the planes; SAD below
    // level 4), then quarter samples from level 2 (diamond; square from
    // level 3, SATD from level 4).
    refine(mbX, mbY, pred, 2, halfSatd, true, best);
    const bool quarterPays = level >= 4 || best.distortion >= cfg_.quarterStopSad;
    if (!cfg_.halfSample && level >= 2 && quarterPays) {
        const bool satd = halfSatd;
        refine(mbX, mbY, pred, 1, satd, level >= 3, best);
        if (level >= 5) refine(mbX, mbY, pred, 1, satd, true, best);
    }
    return best;
}

}  // namespace asfw
