#include "video_encoder/vc1_quant.h"

#include <cmath>

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

int quantizeAc(const float coefficients[64], const PictureQuant& q, float rounding, std::int16_t levels[64])
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

int eventBits(const std::int16_t levels[64], const std::uint8_t scan[64], int first, const AcSetInfo& set,
              const Escape3& esc3)
{
    AcEvent ev[64];
    const int n = collectAcEvents(levels, scan, first, ev);
    int bits = 0;
    for (int i = 0; i < n; ++i) bits += chooseAcCoding(set, ev[i].run, std::abs(static_cast<int>(ev[i].level)), ev[i].last, esc3).bits;
    return bits;
}

}  // namespace

int rdoRefineLevels(const float coefficients[64], const PictureQuant& q, const AcSetInfo& set,
                    const std::uint8_t scan[64], int first, float lambda, std::int16_t levels[64])
{
    const QuantStep s = q.step();
    Escape3 esc3;
    esc3.levelBits = maxEscape3LevelBits(q.pquant);
    esc3.runBits = 6;
    int bits = eventBits(levels, scan, first, set, esc3);
    for (int i = 63; i >= first; --i) {
        const int pos = scan[i];
        const int l = levels[pos];
        if (l == 0) continue;
        const int smaller = l > 0 ? l - 1 : l + 1;
        const float c = coefficients[pos];
        const float eOld = c - static_cast<float>(s.dequantAc(l));
        const float eNew = c - static_cast<float>(s.dequantAc(smaller));
        const float dD = (eNew * eNew - eOld * eOld) * kErrorWeights.w[pos];
        levels[pos] = static_cast<std::int16_t>(smaller);
        const int newBits = eventBits(levels, scan, first, set, esc3);
        if (dD + lambda * static_cast<float>(newBits - bits) < 0.0f)
            bits = newBits;
        else
            levels[pos] = static_cast<std::int16_t>(l);
    }
    int nonZero = 0;
    for (int i = first; i < 64; ++i) nonZero += levels[scan[i]] != 0;
    return nonZero;
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
