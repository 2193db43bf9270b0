// AVX2 versions of the 16x16 distortion measures, compiled for that target
// function by function and chosen at run time (pixel_metrics_sse2.cpp).
// Equal to the references in pixel_metrics.cpp.
#include "dsp/simd_variants.h"

#if ASFW_X86_DISPATCH
#include <immintrin.h>

namespace asfw::simd {

namespace {

ASFW_TARGET_AVX2 inline void butterfly(__m256i& p, __m256i& q)
{
    const __m256i s = _mm256_add_epi16(p, q);
    q = _mm256_sub_epi16(p, q);
    p = s;
}

// Difference of a 16-sample row pair as 16 x int16: lane 0 holds columns
// 0..7 (the left 8x8 block), lane 1 columns 8..15 (the right one).
ASFW_TARGET_AVX2 inline __m256i rowDiff(const std::uint8_t* a, const std::uint8_t* b)
{
    return _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
                            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b))));
}

// SATD of two horizontally adjacent 8x8 blocks at once (one per lane),
// returned as 8 x int32 partial sums. The Hadamard butterflies of one
// direction run across the eight row registers; a transpose within each
// lane turns the other direction into the same form; the last butterfly
// stage folds into the sum as |p + q| + |p - q| = 2 max(|p|, |q|), which
// also halves the total exactly.
ASFW_TARGET_AVX2 inline __m256i satdPairOf(__m256i r[8])
{
    for (int len = 1; len < 8; len <<= 1)
        for (int i = 0; i < 8; i += 2 * len)
            for (int k = i; k < i + len; ++k) butterfly(r[k], r[k + len]);
    const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpackhi_epi16(r[0], r[1]);
    const __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
    const __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]), a5 = _mm256_unpackhi_epi16(r[4], r[5]);
    const __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]), a7 = _mm256_unpackhi_epi16(r[6], r[7]);
    const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    r[0] = _mm256_unpacklo_epi64(b0, b4);
    r[1] = _mm256_unpackhi_epi64(b0, b4);
    r[2] = _mm256_unpacklo_epi64(b1, b5);
    r[3] = _mm256_unpackhi_epi64(b1, b5);
    r[4] = _mm256_unpacklo_epi64(b2, b6);
    r[5] = _mm256_unpackhi_epi64(b2, b6);
    r[6] = _mm256_unpacklo_epi64(b3, b7);
    r[7] = _mm256_unpackhi_epi64(b3, b7);
    for (int len = 1; len < 4; len <<= 1)
        for (int i = 0; i < 8; i += 2 * len)
            for (int k = i; k < i + len; ++k) butterfly(r[k], r[k + len]);
    const __m256i ones = _mm256_set1_epi16(1);
    __m256i m = _mm256_max_epi16(_mm256_abs_epi16(r[0]), _mm256_abs_epi16(r[4]));
    m = _mm256_add_epi16(m, _mm256_max_epi16(_mm256_abs_epi16(r[1]), _mm256_abs_epi16(r[5])));
    __m256i n = _mm256_max_epi16(_mm256_abs_epi16(r[2]), _mm256_abs_epi16(r[6]));
    n = _mm256_add_epi16(n, _mm256_max_epi16(_mm256_abs_epi16(r[3]), _mm256_abs_epi16(r[7])));
    // Each maximum is at most 4 * 2040 = 8160, so two of them still fit
    // 16 bits; widen before adding more.
    return _mm256_add_epi32(_mm256_madd_epi16(m, ones), _mm256_madd_epi16(n, ones));
}

ASFW_TARGET_AVX2 inline __m256i satdPair(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    __m256i r[8];
    for (int y = 0; y < 8; ++y) r[y] = rowDiff(a + y * aStride, b + y * bStride);
    return satdPairOf(r);
}

// The same against the rounded-up average of two blocks b and c.
ASFW_TARGET_AVX2 inline __m256i satdAvgPair(const std::uint8_t* a, int aStride, const std::uint8_t* b,
                                            const std::uint8_t* c, int bStride)
{
    __m256i r[8];
    for (int y = 0; y < 8; ++y) {
        const __m128i m = _mm_avg_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + y * bStride)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + y * bStride)));
        r[y] = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + y * aStride))),
                                _mm256_cvtepu8_epi16(m));
    }
    return satdPairOf(r);
}

ASFW_TARGET_AVX2 inline __m256i load2x16(const std::uint8_t* lo, const std::uint8_t* hi)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}

ASFW_TARGET_AVX2 inline unsigned sum64(__m256i acc)
{
    const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    return static_cast<unsigned>(_mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8)));
}

ASFW_TARGET_AVX2 inline unsigned sum32(__m256i v)
{
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<unsigned>(_mm_cvtsi128_si32(s));
}

}  // namespace

ASFW_TARGET_AVX2 unsigned satd16x16Avx2(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    const __m256i top = satdPair(a, aStride, b, bStride);
    const __m256i bottom = satdPair(a + 8 * aStride, aStride, b + 8 * bStride, bStride);
    return sum32(_mm256_add_epi32(top, bottom));
}

ASFW_TARGET_AVX2 unsigned satdAvg16x16Avx2(const std::uint8_t* a, int aStride, const std::uint8_t* b,
                                           const std::uint8_t* c, int bStride)
{
    const __m256i top = satdAvgPair(a, aStride, b, c, bStride);
    const __m256i bottom = satdAvgPair(a + 8 * aStride, aStride, b + 8 * bStride, c + 8 * bStride, bStride);
    return sum32(_mm256_add_epi32(top, bottom));
}

ASFW_TARGET_AVX2 unsigned sad16x16Avx2(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    __m256i acc = _mm256_setzero_si256();
    for (int y = 0; y < 16; y += 2) {
        const __m256i x = load2x16(a + y * aStride, a + (y + 1) * aStride);
        const __m256i z = load2x16(b + y * bStride, b + (y + 1) * bStride);
        acc = _mm256_add_epi64(acc, _mm256_sad_epu8(x, z));
    }
    return sum64(acc);
}

ASFW_TARGET_AVX2 unsigned sadAvg16x16Avx2(const std::uint8_t* a, int aStride, const std::uint8_t* b,
                                          const std::uint8_t* c, int bStride)
{
    __m256i acc = _mm256_setzero_si256();
    for (int y = 0; y < 16; y += 2) {
        const __m256i x = load2x16(a + y * aStride, a + (y + 1) * aStride);
        const __m256i m = _mm256_avg_epu8(load2x16(b + y * bStride, b + (y + 1) * bStride),
                                          load2x16(c + y * bStride, c + (y + 1) * bStride));
        acc = _mm256_add_epi64(acc, _mm256_sad_epu8(x, m));
    }
    return sum64(acc);
}

}  // namespace asfw::simd

#endif
