// SSE2 versions of the motion compensation kernels and the run-time choice
// of the AVX2 ones; each must equal its reference in vc1_mc.cpp bit for bit
// (checked by the kernel tests).
#include "dsp/vc1_mc.h"

#include "dsp/simd_variants.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>

namespace asfw {

#if defined(__SSE2__)
namespace {

inline __m128i load8x16(const std::uint8_t* p)  // 8 bytes -> 8 x int16
{
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}

struct Taps {
    __m128i c0, c1, c2, c3;
};

inline Taps tapsFor(int frac)
{
    static const short k[4][4] = {{0, 0, 0, 0}, {-4, 53, 18, -3}, {-1, 9, 9, -1}, {-3, 18, 53, -4}};
    return Taps{_mm_set1_epi16(k[frac][0]), _mm_set1_epi16(k[frac][1]), _mm_set1_epi16(k[frac][2]),
                _mm_set1_epi16(k[frac][3])};
}

// Sum of the four taps over 8 lanes of 16-bit samples a, b, c, d.
inline __m128i taps16(const Taps& t, __m128i a, __m128i b, __m128i c, __m128i d)
{
    __m128i s = _mm_mullo_epi16(a, t.c0);
    s = _mm_add_epi16(s, _mm_mullo_epi16(b, t.c1));
    s = _mm_add_epi16(s, _mm_mullo_epi16(c, t.c2));
    return _mm_add_epi16(s, _mm_mullo_epi16(d, t.c3));
}

// One direction on 8-bit samples: 8 outputs at p with step `step`.
inline __m128i oneDim8(const Taps& t, const std::uint8_t* p, std::ptrdiff_t step, __m128i round, int shift)
{
    const __m128i s = taps16(t, load8x16(p - step), load8x16(p), load8x16(p + step), load8x16(p + 2 * step));
    return _mm_srai_epi16(_mm_add_epi16(s, round), shift);
}

}  // namespace

void simd::vc1LumaBicubic16Sse2(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride,
                                int hFrac, int vFrac, int rnd)
{
    if (hFrac == 0 && vFrac == 0) {
        for (int j = 0; j < 16; ++j)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j * dstStride),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + j * srcStride)));
        return;
    }
    if (hFrac == 0 || vFrac == 0) {
        const bool vertical = vFrac != 0;
        const int frac = vertical ? vFrac : hFrac;
        const Taps t = tapsFor(frac);
        const int shift = frac == 2 ? 4 : 6;
        const int bias = vertical ? (frac == 2 ? 7 + rnd : 31 + rnd) : (frac == 2 ? 8 - rnd : 32 - rnd);
        const __m128i round = _mm_set1_epi16(static_cast<short>(bias));
        const std::ptrdiff_t step = vertical ? srcStride : 1;
        for (int j = 0; j < 16; ++j) {
            const std::uint8_t* s = src + j * srcStride;
            const __m128i lo = oneDim8(t, s, step, round, shift);
            const __m128i hi = oneDim8(t, s + 8, step, round, shift);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j * dstStride), _mm_packus_epi16(lo, hi));
        }
        return;
    }
    static const int kShiftOf[4] = {0, 5, 1, 5};
    const int shift = (kShiftOf[hFrac] + kShiftOf[vFrac]) >> 1;
    const __m128i r1 = _mm_set1_epi16(static_cast<short>((1 << (shift - 1)) + rnd - 1));
    const __m128i sh = _mm_cvtsi32_si128(shift);
    const Taps tv = tapsFor(vFrac);
    // Intermediate rows: columns -1..22 (24 lanes, 19 used).
    alignas(16) std::int16_t tmp[16][24];
    for (int j = 0; j < 16; ++j) {
        const std::uint8_t* s = src + j * srcStride - 1;
        for (int part = 0; part < 3; ++part) {
            const std::uint8_t* p = s + part * 8;
            const __m128i v = taps16(tv, load8x16(p - srcStride), load8x16(p), load8x16(p + srcStride),
                                     load8x16(p + 2 * srcStride));
            _mm_store_si128(reinterpret_cast<__m128i*>(&tmp[j][part * 8]), _mm_sra_epi16(_mm_add_epi16(v, r1), sh));
        }
    }
    static const short k[4][4] = {{0, 0, 0, 0}, {-4, 53, 18, -3}, {-1, 9, 9, -1}, {-3, 18, 53, -4}};
    const __m128i c01 = _mm_set_epi16(k[hFrac][1], k[hFrac][0], k[hFrac][1], k[hFrac][0], k[hFrac][1], k[hFrac][0],
                                      k[hFrac][1], k[hFrac][0]);
    const __m128i c23 = _mm_set_epi16(k[hFrac][3], k[hFrac][2], k[hFrac][3], k[hFrac][2], k[hFrac][3], k[hFrac][2],
                                      k[hFrac][3], k[hFrac][2]);
    const __m128i r2 = _mm_set1_epi32(64 - rnd);
    for (int j = 0; j < 16; ++j) {
        __m128i out16[2];
        for (int half = 0; half < 2; ++half) {
            // Output i uses tmp[j][i .. i + 3] (tmp column 0 is source column -1).
            const std::int16_t* t = &tmp[j][half * 8];
            const __m128i l0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
            const __m128i l1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 1));
            const __m128i l2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 2));
            const __m128i l3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 3));
            __m128i sLo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(l0, l1), c01),
                                        _mm_madd_epi16(_mm_unpacklo_epi16(l2, l3), c23));
            __m128i sHi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(l0, l1), c01),
                                        _mm_madd_epi16(_mm_unpackhi_epi16(l2, l3), c23));
            sLo = _mm_srai_epi32(_mm_add_epi32(sLo, r2), 7);
            sHi = _mm_srai_epi32(_mm_add_epi32(sHi, r2), 7);
            out16[half] = _mm_packs_epi32(sLo, sHi);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j * dstStride), _mm_packus_epi16(out16[0], out16[1]));
    }
}

namespace {

using LumaKernel = void (*)(std::uint8_t*, int, const std::uint8_t*, std::ptrdiff_t, int, int, int);

LumaKernel chooseBicubic16()
{
#if ASFW_X86_DISPATCH
    if (cpuFeatures().avx2) return simd::vc1LumaBicubic16Avx2;
#endif
    return simd::vc1LumaBicubic16Sse2;
}

}  // namespace

void vc1LumaBicubic16(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int hFrac,
                      int vFrac, int rnd)
{
    static const LumaKernel chosen = chooseBicubic16();
    chosen(dst, dstStride, src, srcStride, hFrac, vFrac, rnd);
}

void vc1Chroma8(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int fx, int fy, int rnd)
{
    const __m128i a = _mm_set1_epi16(static_cast<short>((8 - fx) * (8 - fy)));
    const __m128i b = _mm_set1_epi16(static_cast<short>(fx * (8 - fy)));
    const __m128i c = _mm_set1_epi16(static_cast<short>((8 - fx) * fy));
    const __m128i d = _mm_set1_epi16(static_cast<short>(fx * fy));
    const __m128i bias = _mm_set1_epi16(static_cast<short>(32 - 4 * rnd));
    __m128i s0 = load8x16(src), s1 = load8x16(src + 1);
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t* t = src + (j + 1) * srcStride;
        const __m128i t0 = load8x16(t), t1 = load8x16(t + 1);
        __m128i s = _mm_add_epi16(_mm_mullo_epi16(s0, a), _mm_mullo_epi16(s1, b));
        s = _mm_add_epi16(s, _mm_add_epi16(_mm_mullo_epi16(t0, c), _mm_mullo_epi16(t1, d)));
        s = _mm_srli_epi16(_mm_add_epi16(s, bias), 6);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + j * dstStride), _mm_packus_epi16(s, s));
        s0 = t0;
        s1 = t1;
    }
}

void vc1Chroma8x2(std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride, const std::uint8_t* srcCb,
                  const std::uint8_t* srcCr, std::ptrdiff_t srcStride, int fx, int fy, int rnd)
{
#if ASFW_X86_DISPATCH
    static const bool avx2 = cpuFeatures().avx2;
    if (avx2) {
        simd::vc1Chroma8x2Avx2(dstCb, dstCr, dstStride, srcCb, srcCr, srcStride, fx, fy, rnd);
        return;
    }
#endif
    vc1Chroma8(dstCb, dstStride, srcCb, srcStride, fx, fy, rnd);
    vc1Chroma8(dstCr, dstStride, srcCr, srcStride, fx, fy, rnd);
}

#else

void vc1LumaBicubic16(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int hFrac,
                      int vFrac, int rnd)
{
    vc1LumaBicubic16Ref(dst, dstStride, src, srcStride, hFrac, vFrac, rnd);
}

void vc1Chroma8(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int fx, int fy, int rnd)
{
    vc1Chroma8Ref(dst, dstStride, src, srcStride, fx, fy, rnd);
}

void vc1Chroma8x2(std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride, const std::uint8_t* srcCb,
                  const std::uint8_t* srcCr, std::ptrdiff_t srcStride, int fx, int fy, int rnd)
{
    vc1Chroma8x2Ref(dstCb, dstCr, dstStride, srcCb, srcCr, srcStride, fx, fy, rnd);
}

#endif

}  // namespace asfw
