// Block distortion measures for motion search and mode decisions: sums of
// absolute differences (SAD) and of absolute Hadamard-transformed
// differences (SATD). Plain references and vectorised versions (SSE2 where
// the compiler targets it) give identical results.
#ifndef ASFWRITER_DSP_PIXEL_METRICS_H
#define ASFWRITER_DSP_PIXEL_METRICS_H

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace asfw {

unsigned sad16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned sad8x8Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
// SATD: 8x8 Hadamard transform of the difference, sum of magnitudes, halved
// (so it is on the scale of a SAD).
unsigned satd8x8Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned satd16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);

unsigned sad16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
#if defined(__SSE2__)
// Small enough to inline where it is called in tight loops.
inline unsigned sad8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 8; y += 2) {
        const __m128i x = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + y * aStride)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + (y + 1) * aStride)));
        const __m128i z = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + y * bStride)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + (y + 1) * bStride)));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(x, z));
    }
    return static_cast<unsigned>(_mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8)));
}
#else
unsigned sad8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
#endif
unsigned satd8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned satd16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);

// SAD of `a` against the rounded-up average of blocks `b` and `c`
// (half-sample estimates in fast motion searches).
unsigned sadAvg16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride);
unsigned sadAvg16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride);
// SATD of `a` against that average (no intermediate block).
unsigned satdAvg16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride);
unsigned satdAvg16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride);

// Sums of squared differences (reconstruction error).
unsigned ssd16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned ssd8x8Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned ssd16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned ssd8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);

// Name of the implementation the dispatching versions use ("sse2", "c").
const char* pixelMetricsImplementation();

}  // namespace asfw

#endif
