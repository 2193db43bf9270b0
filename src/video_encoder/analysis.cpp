#include "video_encoder/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "dsp/pixel_metrics.h"

namespace asfw::vc1 {

namespace {

constexpr int kSearchRange = 24;   // small-picture samples
constexpr int kDiamondSteps = 12;

unsigned intraBlockCost(const std::uint8_t* p, int stride)
{
    unsigned sum = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) sum += p[y * stride + x];
    alignas(16) std::uint8_t flat[64];
    std::memset(flat, static_cast<int>((sum + 32) >> 6), sizeof flat);
    return satd8x8(p, stride, flat, 8);
}

}  // namespace

FrameAnalyser::FrameAnalyser(int width, int height)
    : blocksX_(std::max(0, width / 2) / 8), blocksY_(std::max(0, height / 2) / 8),
      smallWidth_(blocksX_ * 8), smallHeight_(blocksY_ * 8)
{
    current_.assign(static_cast<std::size_t>(smallWidth_) * static_cast<std::size_t>(smallHeight_), 0);
    previous_ = current_;
    vectors_.assign(static_cast<std::size_t>(blocksX_) * static_cast<std::size_t>(blocksY_) * 2, 0);
}

FrameStats FrameAnalyser::look(const std::uint8_t* luma, std::ptrdiff_t stride)
{
    FrameStats st;
    if (!havePrevious_) st.flags |= FrameStats::kFirstPicture;
    if (blocksX_ == 0 || blocksY_ == 0 || luma == nullptr) {
        havePrevious_ = true;
        return st;
    }
    // Halve by averaging 2x2 samples.
    for (int y = 0; y < smallHeight_; ++y) {
        const std::uint8_t* a = luma + 2 * y * stride;
        const std::uint8_t* b = a + stride;
        std::uint8_t* d = current_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(smallWidth_);
        for (int x = 0; x < smallWidth_; ++x) d[x] = static_cast<std::uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
    }

    const int s = smallWidth_;
    std::uint64_t intraSum = 0, interSum = 0, motionSum = 0;
    std::vector<std::int16_t> vectors(vectors_.size(), 0);
    for (int by = 0; by < blocksY_; ++by) {
        for (int bx = 0; bx < blocksX_; ++bx) {
            const int px = bx * 8, py = by * 8;
            const std::uint8_t* cur = current_.data() + py * s + px;
            const unsigned intra = intraBlockCost(cur, s);
            intraSum += intra;
            if (!havePrevious_) continue;

            auto clampX = [&](int mx) { return std::clamp(mx, std::max(-kSearchRange, -px), std::min(kSearchRange, smallWidth_ - 8 - px)); };
            auto clampY = [&](int my) { return std::clamp(my, std::max(-kSearchRange, -py), std::min(kSearchRange, smallHeight_ - 8 - py)); };
            auto sadAt = [&](int mx, int my) {
                return sad8x8(cur, s, previous_.data() + (py + my) * s + px + mx, s);
            };
            // Candidates: zero, the left and upper neighbours' vectors of
            // this picture, this block's vector of the previous look.
            const std::size_t i = static_cast<std::size_t>(by * blocksX_ + bx) * 2;
            int cand[4][2] = {{0, 0}, {0, 0}, {0, 0}, {vectors_[i], vectors_[i + 1]}};
            int n = 1;
            if (bx > 0) {
                cand[n][0] = vectors[i - 2];
                cand[n][1] = vectors[i - 1];
                ++n;
            }
            if (by > 0) {
                const std::size_t up = i - static_cast<std::size_t>(blocksX_) * 2;
                cand[n][0] = vectors[up];
                cand[n][1] = vectors[up + 1];
                ++n;
            }
            cand[n][0] = vectors_[i];
            cand[n][1] = vectors_[i + 1];
            ++n;
            int bestX = 0, bestY = 0;
            unsigned best = ~0u;
            for (int c = 0; c < n; ++c) {
                const int mx = clampX(cand[c][0]), my = clampY(cand[c][1]);
                const unsigned d = sadAt(mx, my);
                if (d < best) {
                    best = d;
                    bestX = mx;
                    bestY = my;
                }
            }
            for (int step = 0; step < kDiamondSteps; ++step) {
                static const int kDiamond[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
                int nx = bestX, ny = bestY;
                for (const auto& d : kDiamond) {
                    const int mx = clampX(bestX + d[0]), my = clampY(bestY + d[1]);
                    if (mx == bestX && my == bestY) continue;
                    const unsigned v = sadAt(mx, my);
                    if (v < best) {
                        best = v;
                        nx = mx;
                        ny = my;
                    }
                }
                if (nx == bestX && ny == bestY) break;
                bestX = nx;
                bestY = ny;
            }
            vectors[i] = static_cast<std::int16_t>(bestX);
            vectors[i + 1] = static_cast<std::int16_t>(bestY);
            const unsigned inter = satd8x8(cur, s, previous_.data() + (py + bestY) * s + px + bestX, s);
            interSum += std::min(inter, intra);
            motionSum += static_cast<std::uint64_t>(std::abs(bestX) + std::abs(bestY));
        }
    }
    st.intraCost = static_cast<std::uint32_t>(std::min<std::uint64_t>(intraSum, 0xFFFFFFFFu));
    st.interCost = havePrevious_ ? static_cast<std::uint32_t>(std::min<std::uint64_t>(interSum, 0xFFFFFFFFu)) : st.intraCost;
    const std::uint64_t blocks = static_cast<std::uint64_t>(blocksX_) * static_cast<std::uint64_t>(blocksY_);
    // Small-picture samples are two full-size ones: x 32 for sixteenths.
    st.motion = static_cast<std::uint16_t>(std::min<std::uint64_t>(motionSum * 32 / blocks, 0xFFFF));
    current_.swap(previous_);
    vectors_.swap(vectors);
    havePrevious_ = true;
    return st;
}

// ---------------------------------------------------------------------------

double LeakyBucket::fullnessAt(std::int64_t time) const
{
    if (!started_) return 0;
    const double drained = rate_ * static_cast<double>(time - last_) / 1e7;
    return std::max(0.0, fullness_ - drained);
}

void LeakyBucket::add(std::int64_t time, double bits)
{
    fullness_ = fullnessAt(time) + bits;
    last_ = time;
    started_ = true;
    worst_ = std::max(worst_, fullness_);
}

// ---------------------------------------------------------------------------

std::vector<PlannedFrame> planBits(const std::vector<FrameStats>& stats, const PlanSettings& ps)
{
    const std::size_t n = stats.size();
    std::vector<PlannedFrame> plan(n);
    if (n == 0 || ps.frameDuration <= 0 || ps.bitrate <= 0) return plan;

    // Picture types, as the real pass will choose them.
    int sinceKey = 0;
    std::int64_t lastKeyTime = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const std::int64_t t = static_cast<std::int64_t>(j) * ps.frameDuration;
        ++sinceKey;
        bool key = j == 0;
        if (!key && ps.keySpacing > 0 && t - lastKeyTime >= ps.keySpacing) key = true;
        const double previousRatio =
            j > 0 && (stats[j - 1].flags & FrameStats::kFirstPicture) == 0 ? interToIntraRatio(stats[j - 1].intraCost, stats[j - 1].interCost) : 0.0;
        if (!key && isSceneCut(stats[j].intraCost, stats[j].interCost, sinceKey, ps.sceneCut, previousRatio)) {
            key = true;
            plan[j].cut = true;
        }
        if (key) {
            sinceKey = 0;
            lastKeyTime = t;
        }
        plan[j].key = key;
    }

    // Complexity of each picture as a P picture, smoothed over a few
    // neighbours so the quantiser does not jump from picture to picture.
    std::vector<double> pcost(n);
    for (std::size_t j = 0; j < n; ++j) pcost[j] = std::max(64.0, static_cast<double>(stats[j].interCost));
    std::vector<double> weight(n);
    for (std::size_t j = 0; j < n; ++j) {
        double sum = 0, wsum = 0;
        for (int d = -2; d <= 2; ++d) {
            const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(j) + d;
            if (k < 0 || k >= static_cast<std::ptrdiff_t>(n)) continue;
            // Do not smooth across key frames (new scenes).
            if (d < 0 && plan[j].key) continue;
            if (d > 0 && plan[static_cast<std::size_t>(k)].key) break;
            const double w = d == 0 ? 1.0 : (std::abs(d) == 1 ? 0.5 : 0.25);
            sum += w * pcost[static_cast<std::size_t>(k)];
            wsum += w;
        }
        const double blur = sum / wsum;
        const double step = std::pow(blur, 1.0 - ps.qcomp) / (plan[j].key ? ps.keyRatio : 1.0);
        const double cost = plan[j].key ? std::max(64.0, ps.intraWeight * stats[j].intraCost) : pcost[j];
        weight[j] = cost / step;
        plan[j].cost = cost;
        plan[j].shape = step;
    }

    const double seconds = static_cast<double>(n) * static_cast<double>(ps.frameDuration) / 1e7;
    const double total = ps.bitrate * seconds;
    double wsum = 0;
    for (double w : weight) wsum += w;
    for (std::size_t j = 0; j < n; ++j) plan[j].bits = total * weight[j] / wsum;

    // Keep the planned bucket under 80 % of its size: take bits off the
    // pictures that fill it, give them back to all, a few rounds.
    if (ps.bucketRate > 0 && ps.bucketBits > 0) {
        const double limit = 0.8 * ps.bucketBits;
        const double drain = ps.bucketRate * static_cast<double>(ps.frameDuration) / 1e7;
        const std::size_t window = std::max<std::size_t>(1, static_cast<std::size_t>(ps.bucketBits / std::max(drain, 1.0)));
        std::vector<double> full(n);
        for (int round = 0; round < 8; ++round) {
            double f = 0;
            for (std::size_t j = 0; j < n; ++j) {
                f = std::max(0.0, f - drain) + plan[j].bits;
                if (f > limit) {
                    const std::size_t s = j + 1 > window ? j + 1 - window : 0;
                    double span = 0;
                    for (std::size_t k = s; k <= j; ++k) span += plan[k].bits;
                    const double scale = std::max(0.3, 1.0 - (f - limit) / span);
                    for (std::size_t k = s; k <= j; ++k) plan[k].bits *= scale;
                    f = s > 0 ? full[s - 1] : 0;
                    for (std::size_t k = s; k <= j; ++k) {
                        f = std::max(0.0, f - drain) + plan[k].bits;
                        full[k] = f;
                    }
                }
                full[j] = f;
            }
            double now = 0;
            for (const PlannedFrame& p : plan) now += p.bits;
            if (now >= total * 0.999) break;
            const double up = total / now;
            for (PlannedFrame& p : plan) p.bits *= up;
        }
    }
    return plan;
}

}  // namespace asfw::vc1
