// Inter blocks and intra blocks of P pictures.
#include "video_encoder/inter_block.h"

#include "dsp/vc1_forward_sse2.h"
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
void forward8(const int* x, std::ptrdiff_t step, int* out, std::ptrdiff_t outStep)
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
    int in[64], rows[64], out[64];
    for (int i = 0; i < 64; ++i) in[i] = residual[i];
    for (int y = 0; y < 8; ++y) forward8(in + y * 8, 1, rows + y * 8, 1);  // horizontal
    for (int u = 0; u < 8; ++u) forward8(rows + u, 8, out + u, 8);        // vertical
    for (int i = 0; i < 64; ++i) coef[i] = static_cast<float>(out[i]) * kForwardScale.s[i];
}

}  // namespace

bool quantizeInterResidualRef(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
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

#if defined(__SSE2__)
namespace {

// Positions of the inter scan: scan index of each raster position.
struct InverseScan {
    std::uint8_t at[64];
    InverseScan()
    {
        for (int i = 0; i < 64; ++i) at[kZigzag8x8[kScanInter][i]] = static_cast<std::uint8_t>(i);
    }
};
const InverseScan kInverseInterScan;

// Forward transform rows of the basis as 16-bit words (for the row pass).
alignas(16) const std::int16_t kBasis[8][8] = {
    {12, 12, 12, 12, 12, 12, 12, 12},     {16, 15, 9, 4, -4, -9, -15, -16},
    {16, 6, -6, -16, -16, -6, 6, 16},     {15, -4, -16, -9, 9, 16, 4, -15},
    {12, -12, -12, 12, 12, -12, -12, 12}, {9, -16, 4, 15, -15, -4, 16, -9},
    {6, -16, 16, -6, -6, 16, -16, 6},     {4, -9, 15, -16, 16, -15, 9, -4},
};

// Sums of each of four registers' 32-bit lanes: [sum m0, sum m1, sum m2, sum m3].
inline __m128i laneSums4(__m128i m0, __m128i m1, __m128i m2, __m128i m3)
{
    const __m128i t01 = _mm_add_epi32(_mm_unpacklo_epi32(m0, m1), _mm_unpackhi_epi32(m0, m1));
    const __m128i t23 = _mm_add_epi32(_mm_unpacklo_epi32(m2, m3), _mm_unpackhi_epi32(m2, m3));
    return _mm_add_epi32(_mm_unpacklo_epi64(t01, t23), _mm_unpackhi_epi64(t01, t23));
}

}  // namespace

// The same decisions as the reference with the residual, its SAD and the
// exact integer transform in vector registers: the column pass in 16 bits
// (at most 96 * 255 in magnitude), the row pass in 32 bits, then the
// quantiser on four coefficients at a time with the same float operations
// in the same order, and the events gathered from a mask of the non-zero
// levels in scan order.
bool quantizeInterResidual(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
                           std::ptrdiff_t predStride, const PictureQuant& q, float rounding, InterBlock& out,
                           float zeroBias)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i r[8];
    __m128i sadAcc = zero;
    for (int y = 0; y < 8; y += 2) {
        const __m128i s0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + y * srcStride));
        const __m128i s1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + (y + 1) * srcStride));
        const __m128i p0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pred + y * predStride));
        const __m128i p1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pred + (y + 1) * predStride));
        r[y] = _mm_sub_epi16(_mm_unpacklo_epi8(s0, zero), _mm_unpacklo_epi8(p0, zero));
        r[y + 1] = _mm_sub_epi16(_mm_unpacklo_epi8(s1, zero), _mm_unpacklo_epi8(p1, zero));
        sadAcc = _mm_add_epi64(sadAcc, _mm_sad_epu8(_mm_unpacklo_epi64(s0, s1), _mm_unpacklo_epi64(p0, p1)));
    }
    const int sad = _mm_cvtsi128_si32(sadAcc) + _mm_cvtsi128_si32(_mm_srli_si128(sadAcc, 8));
    const QuantStep s = q.step();
    const float zeroBelow = (1.0f - rounding) * static_cast<float>(s.acStep()) + (s.uniform ? 0.0f : static_cast<float>(s.pquant));
    if (static_cast<float>(sad) * 0.1976f < zeroBelow * zeroBias) {
        std::fill(out.levels, out.levels + 64, std::int16_t{0});
        out.eventCount = 0;
        return false;
    }
    __m128i v[8];
    simd::vc1ForwardColumns(r, v);
    // Row pass and quantiser, four coefficients at a time.
    __m128i basis[8];
    for (int u = 0; u < 8; ++u) basis[u] = _mm_load_si128(reinterpret_cast<const __m128i*>(kBasis[u]));
    const float offsetF = s.uniform ? 0.0f : static_cast<float>(s.pquant);
    const __m128 inv = _mm_set1_ps(1.0f / static_cast<float>(s.acStep()));
    const __m128 offset = _mm_set1_ps(offsetF);
    const __m128 round = _mm_set1_ps(rounding);
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128i maxLevel = _mm_set1_epi16(static_cast<short>(maxAcLevel(q.pquant)));
    std::uint64_t nonZero = 0;
    auto quant4 = [&](__m128i c, const float* scale) {
        const __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(c), _mm_loadu_ps(scale));
        const __m128 mag = _mm_sub_ps(_mm_and_ps(f, absMask), offset);
        const __m128i level = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(mag, inv), round));
        return _mm_and_si128(level, _mm_castps_si128(_mm_cmpgt_ps(mag, _mm_setzero_ps())));
    };
    for (int k = 0; k < 8; ++k) {
        const __m128i lo = laneSums4(_mm_madd_epi16(v[k], basis[0]), _mm_madd_epi16(v[k], basis[1]),
                                     _mm_madd_epi16(v[k], basis[2]), _mm_madd_epi16(v[k], basis[3]));
        const __m128i hi = laneSums4(_mm_madd_epi16(v[k], basis[4]), _mm_madd_epi16(v[k], basis[5]),
                                     _mm_madd_epi16(v[k], basis[6]), _mm_madd_epi16(v[k], basis[7]));
        const __m128i sign = _mm_packs_epi32(_mm_srai_epi32(lo, 31), _mm_srai_epi32(hi, 31));
        __m128i level = _mm_min_epi16(_mm_packs_epi32(quant4(lo, kForwardScale.s + k * 8),
                                                      quant4(hi, kForwardScale.s + k * 8 + 4)),
                                      maxLevel);
        level = _mm_sub_epi16(_mm_xor_si128(level, sign), sign);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.levels + k * 8), level);
        const unsigned zeros =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(level, zero), zero))) & 0xFFu;
        nonZero |= static_cast<std::uint64_t>(~zeros & 0xFFu) << (8 * k);
    }
    if (nonZero == 0) {
        out.eventCount = 0;
        return false;
    }
    // Dense blocks: walk the scan (as the plain version does).
    if (__builtin_popcountll(nonZero) > 24) {
        out.eventCount = collectAcEvents(out.levels, kZigzag8x8[kScanInter], 0, out.events);
        return true;
    }
    // Sparse blocks: the non-zero levels in scan order, then their runs.
    std::uint64_t inScan = 0;
    for (std::uint64_t m = nonZero; m != 0; m &= m - 1)
        inScan |= std::uint64_t{1} << kInverseInterScan.at[__builtin_ctzll(m)];
    int count = 0;
    int next = 0;  // scan index after the previous event
    const std::uint8_t* scan = kZigzag8x8[kScanInter];
    for (std::uint64_t m = inScan; m != 0; m &= m - 1) {
        const int at = __builtin_ctzll(m);
        AcEvent& ev = out.events[count++];
        ev.run = static_cast<std::uint8_t>(at - next);
        ev.level = out.levels[scan[at]];
        ev.last = false;
        next = at + 1;
    }
    if (count > 0) out.events[count - 1].last = true;
    out.eventCount = count;
    return count > 0;
}
#else
bool quantizeInterResidual(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
                           std::ptrdiff_t predStride, const PictureQuant& q, float rounding, InterBlock& out,
                           float zeroBias)
{
    return quantizeInterResidualRef(src, srcStride, pred, predStride, q, rounding, out, zeroBias);
}
#endif

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
