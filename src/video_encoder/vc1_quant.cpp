#include "video_encoder/vc1_quant.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace asfw::vc1 {

namespace {

inline int quantizeOne(float c, const QuantStep& s, float rounding, int maxLevel)
{
    float mag = std::fabs(c);
    if (!s.uniform) mag -= static_cast<float>(s.pquant);
    if (mag <= 0.0f) return 0;
    int level = static_cast<int>(mag / static_cast<float>(s.acStep()) + rounding);
    if (level > maxLevel) level = maxLevel;
    return c < 0.0f ? -level : level;
}

}  // namespace

int quantizeAcRef(const float coefficients[64], const PictureQuant& q, float rounding, std::int16_t levels[64])
{
    const QuantStep s = q.step();
    const int maxLevel = maxAcLevel(q.pquant);
    int nonZero = 0;
    for (int i = 1; i < 64; ++i) {
        const int l = quantizeOne(coefficients[i], s, rounding, maxLevel);
        levels[i] = static_cast<std::int16_t>(l);
        nonZero += l != 0;
    }
    return nonZero;
}

#if defined(__SSE2__)
// Eight coefficients at a time with the same single-precision operations
// as quantizeOne (the offset subtracted is 0 for the uniform quantiser,
// which leaves every magnitude unchanged).
int quantizeAc(const float coefficients[64], const PictureQuant& q, float rounding, std::int16_t levels[64])
{
    const QuantStep s = q.step();
    const __m128 step = _mm_set1_ps(static_cast<float>(s.acStep()));
    const __m128 offset = _mm_set1_ps(s.uniform ? 0.0f : static_cast<float>(s.pquant));
    const __m128 round = _mm_set1_ps(rounding);
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 zeroF = _mm_setzero_ps();
    const __m128i zero = _mm_setzero_si128();
    const __m128i maxLevel = _mm_set1_epi16(static_cast<short>(maxAcLevel(q.pquant)));
    const std::int16_t dc = levels[0];
    unsigned zeros = 0;  // 2 mask bits per zero level
    for (int i = 0; i < 64; i += 8) {
        __m128i half[2], negative[2];
        for (int h = 0; h < 2; ++h) {
            const __m128 c = _mm_loadu_ps(coefficients + i + 4 * h);
            const __m128 mag = _mm_sub_ps(_mm_and_ps(c, absMask), offset);
            const __m128i l = _mm_cvttps_epi32(_mm_add_ps(_mm_div_ps(mag, step), round));
            half[h] = _mm_and_si128(l, _mm_castps_si128(_mm_cmpgt_ps(mag, zeroF)));
            negative[h] = _mm_castps_si128(_mm_cmplt_ps(c, zeroF));
        }
        const __m128i sign = _mm_packs_epi32(negative[0], negative[1]);
        __m128i level = _mm_min_epi16(_mm_packs_epi32(half[0], half[1]), maxLevel);
        level = _mm_sub_epi16(_mm_xor_si128(level, sign), sign);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(levels + i), level);
        zeros += static_cast<unsigned>(__builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(level, zero)))));
    }
    const int dcWasZero = levels[0] == 0 ? 1 : 0;
    levels[0] = dc;
    return 63 - (static_cast<int>(zeros / 2) - dcWasZero);
}
#else
int quantizeAc(const float coefficients[64], const PictureQuant& q, float rounding, std::int16_t levels[64])
{
    return quantizeAcRef(coefficients, q, rounding, levels);
}
#endif

int quantizeInterBlock(const float coefficients[64], const PictureQuant& q, float rounding, std::int16_t levels[64])
{
    const QuantStep s = q.step();
    const int maxLevel = maxAcLevel(q.pquant);
    int nonZero = 0;
    for (int i = 0; i < 64; ++i) {
        const int l = quantizeOne(coefficients[i], s, rounding, maxLevel);
        levels[i] = static_cast<std::int16_t>(l);
        nonZero += l != 0;
    }
    return nonZero;
}

namespace {

// Pixel-domain weight of a squared coefficient error at raster position i:
// the inverse transform's basis norms over its 1/1024 scaling.
struct ErrorWeights {
    float w[64];
    ErrorWeights()
    {
        const float norm[8] = {1152, 1156, 1168, 1156, 1152, 1156, 1168, 1156};
        for (int v = 0; v < 8; ++v)
            for (int u = 0; u < 8; ++u) w[v * 8 + u] = norm[v] * norm[u] / (1024.0f * 1024.0f);
    }
};
const ErrorWeights kErrorWeights;

}  // namespace

int rdoRefineLevels(const float coefficients[64], const PictureQuant& q, const AcSetInfo& set,
                    const std::uint8_t scan[64], int first, float lambda, std::int16_t levels[64])
{
    const QuantStep s = q.step();
    Escape3 esc3;
    esc3.levelBits = maxEscape3LevelBits(q.pquant);
    esc3.runBits = 6;
    auto cost = [&](int run, int level, bool last) {
        return chooseAcCoding(set, run, std::abs(level), last, esc3).bits;
    };
    // The non-zero levels as events: scan index and level, in scan order.
    int at[64], lv[64];
    int n = 0;
    for (int i = first; i < 64; ++i)
        if (levels[scan[i]] != 0) {
            at[n] = i;
            lv[n] = levels[scan[i]];
            ++n;
        }
    auto runOf = [&](int j) { return at[j] - (j == 0 ? first : at[j - 1] + 1); };
    // Reverse scan order, one step toward zero each, when it pays. Only the
    // changed event and its neighbour's run or last flag change bits.
    for (int j = n - 1; j >= 0; --j) {
        const int l = lv[j];
        const int smaller = l > 0 ? l - 1 : l + 1;
        const int pos = scan[at[j]];
        const float c = coefficients[pos];
        const float eOld = c - static_cast<float>(s.dequantAc(l));
        const float eNew = c - static_cast<float>(s.dequantAc(smaller));
        const float dD = (eNew * eNew - eOld * eOld) * kErrorWeights.w[pos];
        const bool last = j == n - 1;
        const int run = runOf(j);
        int dR;
        if (smaller != 0) {
            dR = cost(run, smaller, last) - cost(run, l, last);
        } else if (last) {
            dR = -cost(run, l, true);
            if (j > 0) dR += cost(runOf(j - 1), lv[j - 1], true) - cost(runOf(j - 1), lv[j - 1], false);
        } else {
            const int nextRun = runOf(j + 1);
            const bool nextLast = j + 1 == n - 1;
            dR = -cost(run, l, false) - cost(nextRun, lv[j + 1], nextLast) +
                 cost(run + 1 + nextRun, lv[j + 1], nextLast);
        }
        if (dD + lambda * static_cast<float>(dR) >= 0.0f) continue;
        levels[pos] = static_cast<std::int16_t>(smaller);
        if (smaller != 0) {
            lv[j] = smaller;
        } else {
            for (int k = j; k + 1 < n; ++k) {
                at[k] = at[k + 1];
                lv[k] = lv[k + 1];
            }
            --n;
        }
    }
    return n;
}

int quantizeIntraDc(float dcCoefficient, const PictureQuant& q)
{
    const int v = static_cast<int>(std::floor(dcCoefficient / static_cast<float>(q.dcStep) + 0.5f));
    return v < 0 ? 0 : v;
}

void dequantizeIntra(const std::int16_t levels[64], int dcLevel, const PictureQuant& q, std::int16_t out[64])
{
    const QuantStep s = q.step();
    out[0] = static_cast<std::int16_t>(dcLevel * q.dcStep);
    for (int i = 1; i < 64; ++i) out[i] = static_cast<std::int16_t>(s.dequantAc(levels[i]));
}

void dequantizeInter(const std::int16_t levels[64], const PictureQuant& q, std::int16_t out[64])
{
    const QuantStep s = q.step();
    for (int i = 0; i < 64; ++i) out[i] = static_cast<std::int16_t>(s.dequantAc(levels[i]));
}

void reconstructIntraBlock(const std::int16_t levels[64], int dcLevel, const PictureQuant& q, std::uint8_t* dst,
                           std::ptrdiff_t stride)
{
    std::int16_t block[64];
    dequantizeIntra(levels, dcLevel, q, block);
    inverseTransform8x8(block);
    putClamped8x8(block, dst, stride);
}

}  // namespace asfw::vc1
