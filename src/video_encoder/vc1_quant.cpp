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
