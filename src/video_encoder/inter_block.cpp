// Inter blocks and intra blocks of P pictures.
#include "video_encoder/inter_block.h"

#include "dsp/vc1_transform.h"

#include <cmath>

namespace asfw::vc1 {

bool quantizeInterResidual(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
                           std::ptrdiff_t predStride, const PictureQuant& q, float rounding, InterBlock& out)
{
    std::int16_t residual[64];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            residual[y * 8 + x] = static_cast<std::int16_t>(src[y * srcStride + x] - pred[y * predStride + x]);
    float coef[64];
    forwardTransform8x8(residual, 8, coef);
    quantizeInterBlock(coef, q, rounding, out.levels);
    out.eventCount = collectAcEvents(out.levels, kZigzag8x8[kScanInter], 0, out.events);
    return out.eventCount > 0;
}

void addDcOnly8x8(int dequantizedDc, std::uint8_t* dst, std::ptrdiff_t stride)
{
    int dc = (3 * dequantizedDc + 1) >> 1;
    dc = (3 * dc + 16) >> 5;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const int v = dst[y * stride + x] + dc;
            dst[y * stride + x] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
}

void reconstructInterBlock(const InterBlock& b, const PictureQuant& q, std::uint8_t* dst, std::ptrdiff_t stride)
{
    if (b.eventCount == 0) return;
    std::int16_t block[64];
    dequantizeInter(b.levels, q, block);
    // A block whose last coefficient in scan order is the DC one takes the
    // decoder's DC-only path (not bit-identical to the full transform).
    if (b.eventCount == 1 && b.events[0].run == 0) {
        addDcOnly8x8(block[0], dst, stride);
        return;
    }
    inverseTransform8x8(block);
    addClamped8x8(block, dst, stride);
}

void quantizeIntraPBlock(const std::uint8_t* src, std::ptrdiff_t srcStride, const PictureQuant& q, float rounding,
                         IntraPBlock& out)
{
    std::int16_t samples[64];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) samples[y * 8 + x] = static_cast<std::int16_t>(src[y * srcStride + x] - 128);
    float coef[64];
    forwardTransform8x8(samples, 8, coef);
    out.dcLevel = static_cast<int>(std::lround(coef[0] / static_cast<float>(q.dcStep)));
    out.levels[0] = 0;
    quantizeAc(coef, q, rounding, out.levels);
    out.eventCount = collectAcEvents(out.levels, kZigzag8x8[kScanInter], 1, out.events);
}

void reconstructIntraPBlock(const IntraPBlock& b, const PictureQuant& q, std::uint8_t* dst, std::ptrdiff_t stride)
{
    std::int16_t block[64];
    dequantizeIntra(b.levels, b.dcLevel, q, block);
    inverseTransform8x8(block);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const int v = block[y * 8 + x] + 128;
            dst[y * stride + x] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
}

}  // namespace asfw::vc1
