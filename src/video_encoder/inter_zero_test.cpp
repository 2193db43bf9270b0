// Zero-block test of inter residuals on the integer transform.
#include "video_encoder/inter_zero_test.h"

#include "dsp/sse2_transpose.h"
#include "dsp/vc1_forward_sse2.h"

#include <cmath>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace asfw::vc1 {

namespace {

// Rows of the 8-point transform basis.
constexpr int kBasis[8][8] = {
    {12, 12, 12, 12, 12, 12, 12, 12},     {16, 15, 9, 4, -4, -9, -15, -16},
    {16, 6, -6, -16, -16, -6, 6, 16},     {15, -4, -16, -9, 9, 16, 4, -15},
    {12, -12, -12, 12, 12, -12, -12, 12}, {9, -16, 4, 15, -15, -4, 16, -9},
    {6, -16, 16, -6, -6, 16, -16, 6},     {4, -9, 15, -16, 16, -15, 9, -4},
};
// Squared norms of the basis rows: the coder's coefficients are the
// integer ones times 1024 / (norm[v] * norm[u]).
constexpr float kNorm[8] = {1152, 1156, 1168, 1156, 1152, 1156, 1168, 1156};

}  // namespace

void InterZeroTest::setup(const PictureQuant& q, float rounding)
{
    const QuantStep s = q.step();
    const float zeroBelow = (1.0f - rounding) * static_cast<float>(s.acStep()) + (s.uniform ? 0.0f : static_cast<float>(s.pquant));
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            // |c| * 1024 / (norm[v] norm[u]) below 0.999 zeroBelow: a margin
            // far above the single-precision error of the quantiser.
            const double lim = 0.999 * zeroBelow * kNorm[v] * kNorm[u] / 1024.0;
            limit_[u][v] = static_cast<std::int32_t>(std::floor(lim));
        }
}

bool InterZeroTest::zeroRef(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
                            std::ptrdiff_t predStride) const
{
    int r[8][8];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) r[y][x] = src[y * srcStride + x] - pred[y * predStride + x];
    for (int v = 0; v < 8; ++v) {
        int col[8];  // vertical frequency v of every column
        for (int x = 0; x < 8; ++x) {
            int sum = 0;
            for (int y = 0; y < 8; ++y) sum += kBasis[v][y] * r[y][x];
            col[x] = sum;
        }
        for (int u = 0; u < 8; ++u) {
            int c = 0;
            for (int x = 0; x < 8; ++x) c += kBasis[u][x] * col[x];
            if (std::abs(c) > limit_[u][v]) return false;
        }
    }
    return true;
}

#if defined(__SSE2__)
bool InterZeroTest::zero(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
                         std::ptrdiff_t predStride) const
{
    const __m128i z = _mm_setzero_si128();
    __m128i r[8];
    for (int y = 0; y < 8; ++y) {
        const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + y * srcStride)), z);
        const __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pred + y * predStride)), z);
        r[y] = _mm_sub_epi16(a, b);
    }
    // Vertical pass (lanes are columns); 16 bits hold every value.
    __m128i o[8];
    simd::vc1ForwardColumns(r, o);
    // Transpose: p[x] holds column x, lanes are vertical frequencies.
    simd::transpose8x8(o);
    const __m128i* p = o;
    // Horizontal pass in 32 bits: pairs (column x, column 7 - x) against
    // (basis[u][x], basis[u][7 - x]).
    __m128i lo[4], hi[4];
    for (int x = 0; x < 4; ++x) {
        lo[x] = _mm_unpacklo_epi16(p[x], p[7 - x]);
        hi[x] = _mm_unpackhi_epi16(p[x], p[7 - x]);
    }
    __m128i over = z;
    for (int u = 0; u < 8; ++u) {
        __m128i cl = z, ch = z;
        for (int x = 0; x < 4; ++x) {
            const __m128i w = _mm_set1_epi32(static_cast<int>(
                (static_cast<std::uint32_t>(static_cast<std::uint16_t>(kBasis[u][7 - x])) << 16) |
                static_cast<std::uint16_t>(kBasis[u][x])));
            cl = _mm_add_epi32(cl, _mm_madd_epi16(lo[x], w));
            ch = _mm_add_epi32(ch, _mm_madd_epi16(hi[x], w));
        }
        const __m128i ll = _mm_load_si128(reinterpret_cast<const __m128i*>(&limit_[u][0]));
        const __m128i lh = _mm_load_si128(reinterpret_cast<const __m128i*>(&limit_[u][4]));
        const __m128i nl = _mm_sub_epi32(z, ll), nh = _mm_sub_epi32(z, lh);
        over = _mm_or_si128(over, _mm_or_si128(_mm_cmpgt_epi32(cl, ll), _mm_cmplt_epi32(cl, nl)));
        over = _mm_or_si128(over, _mm_or_si128(_mm_cmpgt_epi32(ch, lh), _mm_cmplt_epi32(ch, nh)));
    }
    return _mm_movemask_epi8(over) == 0;
}
#else
bool InterZeroTest::zero(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
                         std::ptrdiff_t predStride) const
{
    return zeroRef(src, srcStride, pred, predStride);
}
#endif

}  // namespace asfw::vc1
