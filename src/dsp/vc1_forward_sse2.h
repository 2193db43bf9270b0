// Column pass of the VC-1 8x8 forward integer transform on SSE2 registers:
// v[k] = sum over rows y of T[k][y] * r[y], lanes being the columns. Exact
// in 16 bits for residuals of magnitude up to 255 (every sum fits).
#ifndef ASFWRITER_DSP_VC1_FORWARD_SSE2_H
#define ASFWRITER_DSP_VC1_FORWARD_SSE2_H

#if defined(__SSE2__)
#include <emmintrin.h>

namespace asfw::simd {

inline void vc1ForwardColumns(const __m128i r[8], __m128i v[8])
{
    __m128i e[4], o[4];
    for (int i = 0; i < 4; ++i) {
        e[i] = _mm_add_epi16(r[i], r[7 - i]);
        o[i] = _mm_sub_epi16(r[i], r[7 - i]);
    }
    auto mul = [](__m128i a, short k) { return _mm_mullo_epi16(a, _mm_set1_epi16(k)); };
    const __m128i e03 = _mm_sub_epi16(e[0], e[3]), e12 = _mm_sub_epi16(e[1], e[2]);
    v[0] = mul(_mm_add_epi16(_mm_add_epi16(e[0], e[1]), _mm_add_epi16(e[2], e[3])), 12);
    v[4] = mul(_mm_sub_epi16(_mm_add_epi16(e[0], e[3]), _mm_add_epi16(e[1], e[2])), 12);
    v[2] = _mm_add_epi16(mul(e03, 16), mul(e12, 6));
    v[6] = _mm_sub_epi16(mul(e03, 6), mul(e12, 16));
    v[1] = _mm_add_epi16(_mm_add_epi16(mul(o[0], 16), mul(o[1], 15)), _mm_add_epi16(mul(o[2], 9), mul(o[3], 4)));
    v[3] = _mm_sub_epi16(_mm_sub_epi16(mul(o[0], 15), mul(o[1], 4)), _mm_add_epi16(mul(o[2], 16), mul(o[3], 9)));
    v[5] = _mm_add_epi16(_mm_sub_epi16(mul(o[0], 9), mul(o[1], 16)), _mm_add_epi16(mul(o[2], 4), mul(o[3], 15)));
    v[7] = _mm_sub_epi16(_mm_sub_epi16(mul(o[0], 4), mul(o[1], 9)), _mm_sub_epi16(mul(o[3], 16), mul(o[2], 15)));
}

}  // namespace asfw::simd

#endif
#endif
