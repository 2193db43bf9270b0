// AVX2 version of the bicubic luma interpolation, compiled for that target
// and chosen at run time (vc1_mc_sse2.cpp). Bit for bit equal to
// vc1LumaBicubic16Ref: the same taps, intermediate rounding and shifts.
//
// The taps all fit signed bytes, so each pair of taps is one multiply-add of
// interleaved unsigned samples against interleaved tap bytes, with 16-bit
// sums that cannot overflow (at most 255 * (53 + 18) per direction). The
// two-direction case keeps the vertical results (16 bits after the first
// shift) in registers and runs the horizontal taps with 32-bit sums, as
// those can exceed 16 bits.
#include "dsp/simd_variants.h"

#if ASFW_X86_DISPATCH
#include <immintrin.h>

namespace asfw::simd {

namespace {

constexpr short kTaps[4][4] = {{0, 0, 0, 0}, {-4, 53, 18, -3}, {-1, 9, 9, -1}, {-3, 18, 53, -4}};

// Two taps as alternating signed bytes (first tap in the low byte).
ASFW_TARGET_AVX2 inline __m256i tapBytes(int first, int second)
{
    const unsigned pair = ((static_cast<unsigned>(second) & 0xFFu) << 8) | (static_cast<unsigned>(first) & 0xFFu);
    return _mm256_set1_epi16(static_cast<short>(static_cast<std::uint16_t>(pair)));
}

// Two taps as alternating 16-bit words.
ASFW_TARGET_AVX2 inline __m256i tapWords(int first, int second)
{
    return _mm256_set1_epi32(static_cast<int>((static_cast<unsigned>(second) << 16) | (static_cast<unsigned>(first) & 0xFFFFu)));
}

ASFW_TARGET_AVX2 inline __m256i load2x16(const std::uint8_t* lo, const std::uint8_t* hi)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}

ASFW_TARGET_AVX2 inline __m256i load32(const std::uint8_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

ASFW_TARGET_AVX2 inline void store2x16(std::uint8_t* lo, std::uint8_t* hi, __m256i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lo), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(hi), _mm256_extracti128_si256(v, 1));
}

// Four-tap sums of rows a, b, c, d (bytes, in lanes) as 16-bit words:
// low and high halves of each lane.
ASFW_TARGET_AVX2 inline void verticalTaps(__m256i a, __m256i b, __m256i c, __m256i d, __m256i k01, __m256i k23,
                                          __m256i& lo, __m256i& hi)
{
    lo = _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), k01),
                          _mm256_maddubs_epi16(_mm256_unpacklo_epi8(c, d), k23));
    hi = _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), k01),
                          _mm256_maddubs_epi16(_mm256_unpackhi_epi8(c, d), k23));
}

ASFW_TARGET_AVX2 void vertical16(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t stride,
                                 int frac, int rnd)
{
    const __m256i k01 = tapBytes(kTaps[frac][0], kTaps[frac][1]);
    const __m256i k23 = tapBytes(kTaps[frac][2], kTaps[frac][3]);
    const int shift = frac == 2 ? 4 : 6;
    const __m256i bias = _mm256_set1_epi16(static_cast<short>(frac == 2 ? 7 + rnd : 31 + rnd));
    const __m128i sh = _mm_cvtsi32_si128(shift);
    // Row pairs (k, k + 1) in the two lanes: output rows j and j + 1 need
    // pairs j - 1 .. j + 2.
    const std::uint8_t* s = src - stride;
    __m256i p0 = load2x16(s, s + stride);
    __m256i p1 = load2x16(s + stride, s + 2 * stride);
    __m256i p2 = load2x16(s + 2 * stride, s + 3 * stride);
    for (int j = 0; j < 16; j += 2) {
        const std::uint8_t* n = src + (j + 2) * stride;
        const __m256i p3 = load2x16(n, n + stride);
        __m256i lo, hi;
        verticalTaps(p0, p1, p2, p3, k01, k23, lo, hi);
        lo = _mm256_sra_epi16(_mm256_add_epi16(lo, bias), sh);
        hi = _mm256_sra_epi16(_mm256_add_epi16(hi, bias), sh);
        store2x16(dst + j * dstStride, dst + (j + 1) * dstStride, _mm256_packus_epi16(lo, hi));
        if (j == 14) break;
        p0 = p2;
        p1 = p3;
        p2 = load2x16(n + stride, n + 2 * stride);
    }
}

// One row of the one-direction horizontal filter as 16-bit words:
// outputs 0..7 | 8..15.
ASFW_TARGET_AVX2 inline __m256i horizontalRow(const std::uint8_t* s, __m256i pair01, __m256i pair23, __m256i k01,
                                              __m256i k23, __m256i bias, __m128i sh)
{
    const __m256i v = load2x16(s - 1, s + 7);
    const __m256i sum = _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_shuffle_epi8(v, pair01), k01),
                                         _mm256_maddubs_epi16(_mm256_shuffle_epi8(v, pair23), k23));
    return _mm256_sra_epi16(_mm256_add_epi16(sum, bias), sh);
}

ASFW_TARGET_AVX2 void horizontal16(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t stride,
                                   int frac, int rnd)
{
    const __m256i k01 = tapBytes(kTaps[frac][0], kTaps[frac][1]);
    const __m256i k23 = tapBytes(kTaps[frac][2], kTaps[frac][3]);
    const int shift = frac == 2 ? 4 : 6;
    const __m256i bias = _mm256_set1_epi16(static_cast<short>(frac == 2 ? 8 - rnd : 32 - rnd));
    const __m128i sh = _mm_cvtsi32_si128(shift);
    // Lane 0 holds samples -1..14 (outputs 0..7), lane 1 samples 7..22
    // (outputs 8..15); output i pairs bytes (i, i + 1) and (i + 2, i + 3)
    // of its lane.
    const __m256i pair01 = _mm256_setr_epi8(0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 0, 1, 1, 2, 2, 3, 3, 4, 4,
                                            5, 5, 6, 6, 7, 7, 8);
    const __m256i pair23 = _mm256_add_epi8(pair01, _mm256_set1_epi8(2));
    for (int j = 0; j < 16; j += 2) {
        const __m256i first = horizontalRow(src + j * stride, pair01, pair23, k01, k23, bias, sh);
        const __m256i second = horizontalRow(src + (j + 1) * stride, pair01, pair23, k01, k23, bias, sh);
        // Lanes of the pack: (row j 0..7, row j+1 0..7 | row j 8..15, row j+1 8..15).
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), _MM_SHUFFLE(3, 1, 2, 0));
        store2x16(dst + j * dstStride, dst + (j + 1) * dstStride, packed);
    }
}

struct TwoDimTaps {
    __m256i kv01, kv23, kh01, kh23, r1, r2;
    __m128i sh;
};

// One output row of the two-direction case from source rows a..d (32
// samples from column -1): vertical taps into t[k] (column k - 1, 19 of
// them used), then horizontal taps over t. Returns outputs 0..7 | 8..15 as
// 16-bit words.
ASFW_TARGET_AVX2 inline __m256i twoDimRow(const TwoDimTaps& k, __m256i a, __m256i b, __m256i c, __m256i d)
{
    __m256i lo, hi;  // lo = t0..7 | t16..23, hi = t8..15 | t24..31
    verticalTaps(a, b, c, d, k.kv01, k.kv23, lo, hi);
    lo = _mm256_sra_epi16(_mm256_add_epi16(lo, k.r1), k.sh);
    hi = _mm256_sra_epi16(_mm256_add_epi16(hi, k.r1), k.sh);
    const __m256i l0 = _mm256_permute2x128_si256(lo, hi, 0x20);  // t0..7 | t8..15
    const __m256i m = _mm256_permute2x128_si256(hi, lo, 0x30);   // t8..15 | t16..23
    const __m256i l1 = _mm256_alignr_epi8(m, l0, 2);              // t1..8 | t9..16
    const __m256i l2 = _mm256_alignr_epi8(m, l0, 4);
    const __m256i l3 = _mm256_alignr_epi8(m, l0, 6);
    // Outputs 0..3 | 8..11 and 4..7 | 12..15 as 32-bit sums.
    __m256i sLo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(l0, l1), k.kh01),
                                   _mm256_madd_epi16(_mm256_unpacklo_epi16(l2, l3), k.kh23));
    __m256i sHi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(l0, l1), k.kh01),
                                   _mm256_madd_epi16(_mm256_unpackhi_epi16(l2, l3), k.kh23));
    sLo = _mm256_srai_epi32(_mm256_add_epi32(sLo, k.r2), 7);
    sHi = _mm256_srai_epi32(_mm256_add_epi32(sHi, k.r2), 7);
    return _mm256_packs_epi32(sLo, sHi);
}

ASFW_TARGET_AVX2 void twoDimensional16(std::uint8_t* dst, int dstStride, const std::uint8_t* src,
                                       std::ptrdiff_t stride, int hFrac, int vFrac, int rnd)
{
    static const int kShiftOf[4] = {0, 5, 1, 5};
    const int shift = (kShiftOf[hFrac] + kShiftOf[vFrac]) >> 1;
    TwoDimTaps k;
    k.r1 = _mm256_set1_epi16(static_cast<short>((1 << (shift - 1)) + rnd - 1));
    k.sh = _mm_cvtsi32_si128(shift);
    k.kv01 = tapBytes(kTaps[vFrac][0], kTaps[vFrac][1]);
    k.kv23 = tapBytes(kTaps[vFrac][2], kTaps[vFrac][3]);
    k.kh01 = tapWords(kTaps[hFrac][0], kTaps[hFrac][1]);
    k.kh23 = tapWords(kTaps[hFrac][2], kTaps[hFrac][3]);
    k.r2 = _mm256_set1_epi32(64 - rnd);
    const std::uint8_t* s = src - 1;
    __m256i a = load32(s - stride), b = load32(s), c = load32(s + stride);
    for (int j = 0; j < 16; j += 2) {
        const __m256i d = load32(s + (j + 2) * stride), e = load32(s + (j + 3) * stride);
        const __m256i first = twoDimRow(k, a, b, c, d);
        const __m256i second = twoDimRow(k, b, c, d, e);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), _MM_SHUFFLE(3, 1, 2, 0));
        store2x16(dst + j * dstStride, dst + (j + 1) * dstStride, packed);
        a = c;
        b = d;
        c = e;
    }
}

}  // namespace

ASFW_TARGET_AVX2 void vc1LumaBicubic16Avx2(std::uint8_t* dst, int dstStride, const std::uint8_t* src,
                                           std::ptrdiff_t srcStride, int hFrac, int vFrac, int rnd)
{
    if (hFrac == 0 && vFrac == 0) {
        for (int j = 0; j < 16; j += 2)
            store2x16(dst + j * dstStride, dst + (j + 1) * dstStride, load2x16(src + j * srcStride, src + (j + 1) * srcStride));
    } else if (hFrac == 0) {
        vertical16(dst, dstStride, src, srcStride, vFrac, rnd);
    } else if (vFrac == 0) {
        horizontal16(dst, dstStride, src, srcStride, hFrac, rnd);
    } else {
        twoDimensional16(dst, dstStride, src, srcStride, hFrac, vFrac, rnd);
    }
}

// Both chroma planes at once, Cb in lane 0 and Cr in lane 1. The bilinear
// weights are at most 64, so each weighted pair of neighbours is one
// multiply-add of bytes with a 16-bit sum of at most 64 * 255.
ASFW_TARGET_AVX2 void vc1Chroma8x2Avx2(std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride,
                                       const std::uint8_t* srcCb, const std::uint8_t* srcCr, std::ptrdiff_t srcStride,
                                       int fx, int fy, int rnd)
{
    const __m256i wTop = tapBytes((8 - fx) * (8 - fy), fx * (8 - fy));
    const __m256i wBottom = tapBytes((8 - fx) * fy, fx * fy);
    const __m256i bias = _mm256_set1_epi16(static_cast<short>(32 - 4 * rnd));
    // Bytes (i, i + 1) for i = 0..7 in each lane.
    const __m256i pairs = _mm256_setr_epi8(0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5,
                                           5, 6, 6, 7, 7, 8);
    __m256i above = _mm256_shuffle_epi8(load2x16(srcCb, srcCr), pairs);
    for (int j = 0; j < 8; ++j) {
        const std::ptrdiff_t next = (j + 1) * srcStride;
        const __m256i below = _mm256_shuffle_epi8(load2x16(srcCb + next, srcCr + next), pairs);
        __m256i sum = _mm256_add_epi16(_mm256_maddubs_epi16(above, wTop), _mm256_maddubs_epi16(below, wBottom));
        sum = _mm256_srli_epi16(_mm256_add_epi16(sum, bias), 6);
        const __m256i packed = _mm256_packus_epi16(sum, sum);  // 8 bytes at the start of each lane
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dstCb + j * dstStride), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dstCr + j * dstStride), _mm256_extracti128_si256(packed, 1));
        above = below;
    }
}

}  // namespace asfw::simd

#endif
