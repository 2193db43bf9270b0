// SSE2 versions of the block distortion measures (plain fallbacks when the
// target has no SSE2), and the choice of the AVX2 ones where the machine has
// them; equal to the references in pixel_metrics.cpp.
#include "dsp/pixel_metrics.h"

#include "dsp/simd_variants.h"
#include "dsp/sse2_transpose.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace asfw {

#if defined(__SSE2__)

namespace {

inline __m128i load8(const std::uint8_t* p)
{
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

inline void butterfly(__m128i& p, __m128i& q)
{
    const __m128i s = _mm_add_epi16(p, q);
    q = _mm_sub_epi16(p, q);
    p = s;
}

inline void hadamardRows(__m128i r[8])
{
    for (int len = 1; len < 8; len <<= 1)
        for (int i = 0; i < 8; i += 2 * len)
            for (int k = i; k < i + len; ++k) butterfly(r[k], r[k + len]);
}

inline unsigned horizontalSum32(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<unsigned>(_mm_cvtsi128_si32(v));
}

}  // namespace

unsigned simd::sad16x16Sse2(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + y * aStride));
        const __m128i z = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + y * bStride));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(x, z));
    }
    return static_cast<unsigned>(_mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8)));
}

unsigned simd::sadAvg16x16Sse2(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c,
                               int bStride)
{
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + y * aStride));
        const __m128i m = _mm_avg_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + y * bStride)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + y * bStride)));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(x, m));
    }
    return static_cast<unsigned>(_mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8)));
}

unsigned satd8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i r[8];
    for (int y = 0; y < 8; ++y)
        r[y] = _mm_sub_epi16(_mm_unpacklo_epi8(load8(a + y * aStride), zero),
                             _mm_unpacklo_epi8(load8(b + y * bStride), zero));
    hadamardRows(r);  // vertical transform (across rows)
    simd::transpose8x8(r);
    // Horizontal transform: two butterfly stages, then the last one folded
    // into the sum, as |a + b| + |a - b| = 2 max(|a|, |b|) (so the halved
    // sum of magnitudes is the sum of those maxima, exactly).
    for (int len = 1; len < 4; len <<= 1)
        for (int i = 0; i < 8; i += 2 * len)
            for (int k = i; k < i + len; ++k) butterfly(r[k], r[k + len]);
    const __m128i ones = _mm_set1_epi16(1);
    __m128i acc = zero;
    for (int i = 0; i < 4; ++i) {
        const __m128i a = _mm_max_epi16(r[i], _mm_sub_epi16(zero, r[i]));
        const __m128i b = _mm_max_epi16(r[i + 4], _mm_sub_epi16(zero, r[i + 4]));
        acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_max_epi16(a, b), ones));
    }
    return horizontalSum32(acc);
}

unsigned simd::satd16x16Sse2(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    return satd8x8(a, aStride, b, bStride) + satd8x8(a + 8, aStride, b + 8, bStride) +
           satd8x8(a + 8 * aStride, aStride, b + 8 * bStride, bStride) +
           satd8x8(a + 8 * aStride + 8, aStride, b + 8 * bStride + 8, bStride);
}

namespace {

using BlockMetric = unsigned (*)(const std::uint8_t*, int, const std::uint8_t*, int);

BlockMetric chooseSad16x16()
{
#if ASFW_X86_DISPATCH
    if (cpuFeatures().avx2) return simd::sad16x16Avx2;
#endif
    return simd::sad16x16Sse2;
}

BlockMetric chooseSatd16x16()
{
#if ASFW_X86_DISPATCH
    if (cpuFeatures().avx2) return simd::satd16x16Avx2;
#endif
    return simd::satd16x16Sse2;
}

using AvgMetric = unsigned (*)(const std::uint8_t*, int, const std::uint8_t*, const std::uint8_t*, int);

unsigned satdAvg16x16Sse2(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride)
{
    alignas(16) std::uint8_t avg[256];
    for (int y = 0; y < 16; ++y)
        _mm_store_si128(reinterpret_cast<__m128i*>(avg + y * 16),
                        _mm_avg_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + y * bStride)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + y * bStride))));
    return simd::satd16x16Sse2(a, aStride, avg, 16);
}

AvgMetric chooseSadAvg16x16()
{
#if ASFW_X86_DISPATCH
    if (cpuFeatures().avx2) return simd::sadAvg16x16Avx2;
#endif
    return simd::sadAvg16x16Sse2;
}

AvgMetric chooseSatdAvg16x16()
{
#if ASFW_X86_DISPATCH
    if (cpuFeatures().avx2) return simd::satdAvg16x16Avx2;
#endif
    return satdAvg16x16Sse2;
}

}  // namespace

unsigned sadAvg16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride)
{
    static const AvgMetric chosen = chooseSadAvg16x16();
    return chosen(a, aStride, b, c, bStride);
}

unsigned satdAvg16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride)
{
    static const AvgMetric chosen = chooseSatdAvg16x16();
    return chosen(a, aStride, b, c, bStride);
}

unsigned sad16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    static const BlockMetric chosen = chooseSad16x16();
    return chosen(a, aStride, b, bStride);
}

unsigned satd16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    static const BlockMetric chosen = chooseSatd16x16();
    return chosen(a, aStride, b, bStride);
}

namespace {

// Squared differences of 16 byte pairs, summed into 4 x int32.
inline __m128i ssd16(__m128i x, __m128i z)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i dl = _mm_sub_epi16(_mm_unpacklo_epi8(x, zero), _mm_unpacklo_epi8(z, zero));
    const __m128i dh = _mm_sub_epi16(_mm_unpackhi_epi8(x, zero), _mm_unpackhi_epi8(z, zero));
    return _mm_add_epi32(_mm_madd_epi16(dl, dl), _mm_madd_epi16(dh, dh));
}

}  // namespace

unsigned ssd16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y)
        acc = _mm_add_epi32(acc, ssd16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + y * aStride)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + y * bStride))));
    return horizontalSum32(acc);
}

unsigned ssd8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 8; y += 2)
        acc = _mm_add_epi32(acc, ssd16(_mm_unpacklo_epi64(load8(a + y * aStride), load8(a + (y + 1) * aStride)),
                                       _mm_unpacklo_epi64(load8(b + y * bStride), load8(b + (y + 1) * bStride))));
    return horizontalSum32(acc);
}

const char* pixelMetricsImplementation() { return chooseSatd16x16() == simd::satd16x16Sse2 ? "sse2" : "avx2"; }

#else

unsigned sad16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    return sad16x16Ref(a, aStride, b, bStride);
}
unsigned sad8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    return sad8x8Ref(a, aStride, b, bStride);
}
unsigned sadAvg16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride)
{
    return sadAvg16x16Ref(a, aStride, b, c, bStride);
}
unsigned satd8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    return satd8x8Ref(a, aStride, b, bStride);
}
unsigned satdAvg16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride)
{
    return satdAvg16x16Ref(a, aStride, b, c, bStride);
}
unsigned satd16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    return satd16x16Ref(a, aStride, b, bStride);
}
unsigned ssd16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    return ssd16x16Ref(a, aStride, b, bStride);
}
unsigned ssd8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    return ssd8x8Ref(a, aStride, b, bStride);
}
const char* pixelMetricsImplementation() { return "c"; }

#endif

}  // namespace asfw
