// Half-sample planes of a reference picture. The loops are written so the
// compiler vectorises them (independent lanes, no early exits); the kernel
// tests check every phase against the block interpolation of the decoder.
#include "video_encoder/half_sample_planes.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace asfw {

namespace {

inline std::uint8_t clip255(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

#if defined(__SSE2__)
inline __m128i load8(const std::uint8_t* p)
{
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}
inline __m128i load16(const std::int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
// 9 (b + c) - (a + d), 16-bit lanes (exact for 8-bit inputs).
inline __m128i taps(__m128i a, __m128i b, __m128i c, __m128i d)
{
    const __m128i bc = _mm_add_epi16(b, c);
    return _mm_sub_epi16(_mm_add_epi16(_mm_slli_epi16(bc, 3), bc), _mm_add_epi16(a, d));
}
inline void store8(std::uint8_t* p, __m128i v)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v, v));
}
#endif

}  // namespace

void HalfSamplePlanes::build(const std::uint8_t* ref, std::ptrdiff_t refStride, int width, int height, int rnd)
{
    const int cols = width + 2 * kMargin, rows = height + 2 * kMargin;
    if (width != width_ || height != height_ || data_[0].empty()) {
        // Sized first, the size recorded last: a failed allocation leaves
        // the planes to be sized again on the next call.
        width_ = height_ = 0;
        stride_ = (cols + 31) & ~31;
        origin_ = static_cast<std::size_t>(kMargin) * static_cast<std::size_t>(stride_) + kMargin;
        for (auto& d : data_) d.assign(static_cast<std::size_t>(stride_) * static_cast<std::size_t>(rows), 0);
        column_.assign(static_cast<std::size_t>(cols + 16), 0);
        width_ = width;
        height_ = height;
    }
    const std::ptrdiff_t rs = refStride;
    const int hRound = 8 - rnd, vRound = 7 + rnd, dRound = 64 - rnd;
    for (int y = -kMargin; y < height + kMargin; ++y) {
        const std::uint8_t* s = ref + static_cast<std::ptrdiff_t>(y) * rs - kMargin;
        const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(origin_) + static_cast<std::ptrdiff_t>(y) * stride_ - kMargin;
        std::uint8_t* full = data_[0].data() + o;
        std::uint8_t* h = data_[1].data() + o;
        std::uint8_t* v = data_[2].data() + o;
        std::uint8_t* d = data_[3].data() + o;
        std::memcpy(full, s, static_cast<std::size_t>(cols));
        std::int16_t* t = column_.data();
        const std::uint8_t* s1 = s - 1;
#if defined(__SSE2__)
        // cols is a multiple of 16: whole groups of 8, reading at most 7
        // samples further right than the plain loops (within the border).
        const __m128i hr = _mm_set1_epi16(static_cast<short>(hRound));
        const __m128i vr = _mm_set1_epi16(static_cast<short>(vRound));
        const __m128i tr = _mm_set1_epi16(static_cast<short>(rnd));
        // The diagonal's horizontal sum spans more than 16 signed bits but
        // less than 16 unsigned ones: offset by 128 * 128 so the wrapped
        // sum is its true value plus 16384, shift logically, remove 128.
        const __m128i dr = _mm_set1_epi16(static_cast<short>(dRound + 16384));
        const __m128i k128 = _mm_set1_epi16(128);
        for (int x = 0; x < cols; x += 8) {
            store8(h + x, _mm_srai_epi16(_mm_add_epi16(taps(load8(s + x - 1), load8(s + x), load8(s + x + 1),
                                                            load8(s + x + 2)), hr), 4));
            store8(v + x, _mm_srai_epi16(_mm_add_epi16(taps(load8(s + x - rs), load8(s + x), load8(s + x + rs),
                                                            load8(s + x + 2 * rs)), vr), 4));
        }
        for (int x = 0; x < cols + 8; x += 8)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t + x),
                             _mm_srai_epi16(_mm_add_epi16(taps(load8(s1 + x - rs), load8(s1 + x), load8(s1 + x + rs),
                                                               load8(s1 + x + 2 * rs)), tr), 1));
        for (int x = 0; x < cols; x += 8) {
            const __m128i sum = _mm_add_epi16(taps(load16(t + x), load16(t + x + 1), load16(t + x + 2), load16(t + x + 3)), dr);
            store8(d + x, _mm_sub_epi16(_mm_srli_epi16(sum, 7), k128));
        }
#else
        for (int x = 0; x < cols; ++x)
            h[x] = clip255((-s[x - 1] + 9 * s[x] + 9 * s[x + 1] - s[x + 2] + hRound) >> 4);
        for (int x = 0; x < cols; ++x)
            v[x] = clip255((-s[x - rs] + 9 * s[x] + 9 * s[x + rs] - s[x + 2 * rs] + vRound) >> 4);
        // Diagonal: the vertical pass kept at 16 bits (columns -1 .. cols+1
        // of this row), then the horizontal pass.
        for (int x = 0; x < cols + 3; ++x)
            t[x] = static_cast<std::int16_t>(
                (-s1[x - rs] + 9 * s1[x] + 9 * s1[x + rs] - s1[x + 2 * rs] + rnd) >> 1);
        for (int x = 0; x < cols; ++x)
            d[x] = clip255((-t[x] + 9 * t[x + 1] + 9 * t[x + 2] - t[x + 3] + dRound) >> 7);
#endif
    }
}

}  // namespace asfw
