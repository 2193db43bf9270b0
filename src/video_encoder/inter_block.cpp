// Inter blocks and intra blocks of P pictures.
#include "video_encoder/inter_block.h"

#include "dsp/vc1_transform.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace asfw::vc1 {

namespace {

// The matched forward transform (coefficients whose exact inverse is the
// input), computed with the even/odd symmetry of the basis: even basis
// rows act on x[i] + x[7-i], odd rows on x[i] - x[7-i].
[[maybe_unused]] void forward8(const int* x, std::ptrdiff_t step, int* out, std::ptrdiff_t outStep)
{
    int s[4], d[4];
    for (int i = 0; i < 4; ++i) {
        s[i] = x[i * step] + x[(7 - i) * step];
        d[i] = x[i * step] - x[(7 - i) * step];
    }
    out[0] = 12 * (s[0] + s[1] + s[2] + s[3]);
    out[4 * outStep] = 12 * (s[0] - s[1] - s[2] + s[3]);
    out[2 * outStep] = 16 * (s[0] - s[3]) + 6 * (s[1] - s[2]);
    out[6 * outStep] = 6 * (s[0] - s[3]) - 16 * (s[1] - s[2]);
    out[1 * outStep] = 16 * d[0] + 15 * d[1] + 9 * d[2] + 4 * d[3];
    out[3 * outStep] = 15 * d[0] - 4 * d[1] - 16 * d[2] - 9 * d[3];
    out[5 * outStep] = 9 * d[0] - 16 * d[1] + 4 * d[2] + 15 * d[3];
    out[7 * outStep] = 4 * d[0] - 9 * d[1] + 15 * d[2] - 16 * d[3];
}

struct ForwardScale {
    float s[64];
    ForwardScale()
    {
        static const float norm[8] = {1152, 1156, 1168, 1156, 1152, 1156, 1168, 1156};
        for (int v = 0; v < 8; ++v)
            for (int u = 0; u < 8; ++u) s[v * 8 + u] = 1024.0f / (norm[v] * norm[u]);
    }
};
const ForwardScale kForwardScale;

void forwardTransform(const std::int16_t residual[64], float coef[64])
{
#if defined(__SSE2__)
    // coef = scale * (T X T'), rows of X times the transposed basis, then
    // the basis times the rows of that: four lanes at a time.
    static const struct Basis {
        alignas(16) float t[8][8];   // T[u][x]
        alignas(16) float tt[8][8];  // T'[x][u]
        Basis()
        {
            static const int k[8][8] = {
                {12, 12, 12, 12, 12, 12, 12, 12},     {16, 15, 9, 4, -4, -9, -15, -16},
                {16, 6, -6, -16, -16, -6, 6, 16},     {15, -4, -16, -9, 9, 16, 4, -15},
                {12, -12, -12, 12, 12, -12, -12, 12}, {9, -16, 4, 15, -15, -4, 16, -9},
                {6, -16, 16, -6, -6, 16, -16, 6},     {4, -9, 15, -16, 16, -15, 9, -4},
            };
            for (int u = 0; u < 8; ++u)
                for (int x = 0; x < 8; ++x) {
                    t[u][x] = static_cast<float>(k[u][x]);
                    tt[x][u] = static_cast<float>(k[u][x]);
                }
        }
    } basis;
    __m128 r[8][2];
    for (int y = 0; y < 8; ++y) {
        __m128 lo = _mm_setzero_ps(), hi = _mm_setzero_ps();
        for (int x = 0; x < 8; ++x) {
            const __m128 v = _mm_set1_ps(static_cast<float>(residual[y * 8 + x]));
            lo = _mm_add_ps(lo, _mm_mul_ps(v, _mm_load_ps(&basis.tt[x][0])));
            hi = _mm_add_ps(hi, _mm_mul_ps(v, _mm_load_ps(&basis.tt[x][4])));
        }
        r[y][0] = lo;
        r[y][1] = hi;
    }
    for (int v = 0; v < 8; ++v) {
        __m128 lo = _mm_setzero_ps(), hi = _mm_setzero_ps();
        for (int y = 0; y < 8; ++y) {
            const __m128 t = _mm_set1_ps(basis.t[v][y]);
            lo = _mm_add_ps(lo, _mm_mul_ps(t, r[y][0]));
            hi = _mm_add_ps(hi, _mm_mul_ps(t, r[y][1]));
        }
        _mm_storeu_ps(coef + v * 8, _mm_mul_ps(lo, _mm_loadu_ps(kForwardScale.s + v * 8)));
        _mm_storeu_ps(coef + v * 8 + 4, _mm_mul_ps(hi, _mm_loadu_ps(kForwardScale.s + v * 8 + 4)));
    }
#else
    int in[64], rows[64], out[64];
    for (int i = 0; i < 64; ++i) in[i] = residual[i];
    for (int y = 0; y < 8; ++y) forward8(in + y * 8, 1, rows + y * 8, 1);  // horizontal
    for (int u = 0; u < 8; ++u) forward8(rows + u, 8, out + u, 8);        // vertical
    for (int i = 0; i < 64; ++i) coef[i] = static_cast<float>(out[i]) * kForwardScale.s[i];
#endif
}

}  // namespace

bool quantizeInterResidual(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
                           std::ptrdiff_t predStride, const PictureQuant& q, float rounding, InterBlock& out,
                           float zeroBias)
{
    std::int16_t residual[64];
    int sad = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const int d = src[y * srcStride + x] - pred[y * predStride + x];
            residual[y * 8 + x] = static_cast<std::int16_t>(d);
            sad += d < 0 ? -d : d;
        }
    // No coefficient of the matched forward transform exceeds 0.1976 times
    // the residual's SAD (largest basis products over the basis norms), so
    // below this bound every level is zero and the transform is skipped.
    const QuantStep s = q.step();
    const float zeroBelow = (1.0f - rounding) * static_cast<float>(s.acStep()) + (s.uniform ? 0.0f : static_cast<float>(s.pquant));
    if (static_cast<float>(sad) * 0.1976f < zeroBelow * zeroBias) {
        std::fill(out.levels, out.levels + 64, std::int16_t{0});
        out.eventCount = 0;
        return false;
    }
    float coef[64];
    forwardTransform(residual, coef);
    const float inv = 1.0f / static_cast<float>(s.acStep());
    const float offset = s.uniform ? 0.0f : static_cast<float>(s.pquant);
    const int maxLevel = maxAcLevel(q.pquant);
    for (int i = 0; i < 64; ++i) {
        const float mag = std::fabs(coef[i]) - offset;
        int level = mag > 0.0f ? static_cast<int>(mag * inv + rounding) : 0;
        if (level > maxLevel) level = maxLevel;
        out.levels[i] = static_cast<std::int16_t>(coef[i] < 0.0f ? -level : level);
    }
    out.eventCount = collectAcEvents(out.levels, kZigzag8x8[kScanInter], 0, out.events);
    return out.eventCount > 0;
}

int interDecimationScore(const InterBlock& b)
{
    static const int kRunScore[16] = {3, 2, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    int score = 0;
    for (int i = 0; i < b.eventCount; ++i) {
        const int level = b.events[i].level;
        if (level > 1 || level < -1) return 1000;
        score += kRunScore[b.events[i].run < 16 ? b.events[i].run : 15];
    }
    return score;
}

void clearInterBlock(InterBlock& b)
{
    std::fill(b.levels, b.levels + 64, std::int16_t{0});
    b.eventCount = 0;
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
