// VC-1 8x8 transform: exact inverse, matched forward; plain references and
// SSE2 versions equal to them.
#include "dsp/vc1_transform.h"
#include "dsp/sse2_transpose.h"
#include "dsp/vc1_forward_sse2.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace asfw::vc1 {

namespace {

// The 8-point basis of the standard's transform, rows = basis functions:
//   12  12  12  12  12  12  12  12
//   16  15   9   4  -4  -9 -15 -16
//   16   6  -6 -16 -16  -6   6  16
//   15  -4 -16  -9   9  16   4 -15
//   12 -12 -12  12  12 -12 -12  12
//    9 -16   4  15 -15  -4  16  -9
//    6 -16  16  -6  -6  16 -16   6
//    4  -9  15 -16  16 -15   9  -4
// Squared norms of the basis rows; the inverse divides by 1024 overall.
constexpr float kNorm[8] = {1152, 1156, 1168, 1156, 1152, 1156, 1168, 1156};

struct ForwardScale {
    float s[64];
    ForwardScale()
    {
        for (int v = 0; v < 8; ++v)
            for (int u = 0; u < 8; ++u) s[v * 8 + u] = 1024.0f / (kNorm[v] * kNorm[u]);
    }
};
const ForwardScale kScale;

// One 8-point inverse in the standard's butterfly form. `in` has stride
// `is`; results have the rounding constant folded in and are not shifted.
inline void inverse8(const int* in, int out[8])
{
    const int t1 = 12 * (in[0] + in[4]);
    const int t2 = 12 * (in[0] - in[4]);
    const int t3 = 16 * in[2] + 6 * in[6];
    const int t4 = 6 * in[2] - 16 * in[6];
    const int t5 = t1 + t3, t6 = t2 + t4, t7 = t2 - t4, t8 = t1 - t3;
    const int o1 = 16 * in[1] + 15 * in[3] + 9 * in[5] + 4 * in[7];
    const int o2 = 15 * in[1] - 4 * in[3] - 16 * in[5] - 9 * in[7];
    const int o3 = 9 * in[1] - 16 * in[3] + 4 * in[5] + 15 * in[7];
    const int o4 = 4 * in[1] - 9 * in[3] + 15 * in[5] - 16 * in[7];
    out[0] = t5 + o1;
    out[1] = t6 + o2;
    out[2] = t7 + o3;
    out[3] = t8 + o4;
    out[4] = t8 - o4;
    out[5] = t7 - o3;
    out[6] = t6 - o2;
    out[7] = t5 - o1;
}

// One 8-point forward pass, y[u] = sum_i T[u][i] * x[i], in even/odd form.
inline void forward8(const int x[8], int y[8])
{
    const int e0 = x[0] + x[7], e1 = x[1] + x[6], e2 = x[2] + x[5], e3 = x[3] + x[4];
    const int o0 = x[0] - x[7], o1 = x[1] - x[6], o2 = x[2] - x[5], o3 = x[3] - x[4];
    y[0] = 12 * (e0 + e1 + e2 + e3);
    y[4] = 12 * (e0 - e1 - e2 + e3);
    y[2] = 16 * e0 + 6 * e1 - 6 * e2 - 16 * e3;
    y[6] = 6 * e0 - 16 * e1 + 16 * e2 - 6 * e3;
    y[1] = 16 * o0 + 15 * o1 + 9 * o2 + 4 * o3;
    y[3] = 15 * o0 - 4 * o1 - 16 * o2 - 9 * o3;
    y[5] = 9 * o0 - 16 * o1 + 4 * o2 + 15 * o3;
    y[7] = 4 * o0 - 9 * o1 + 15 * o2 - 16 * o3;
}

template <class Sample>
void forward(const Sample* src, std::ptrdiff_t stride, float coefficients[64])
{
    // Rows: tmp[y][u] = sum_x x[y][x] * T[u][x]; then columns.
    int tmp[64];
    for (int y = 0; y < 8; ++y) {
        const Sample* row = src + y * stride;
        int x[8];
        for (int i = 0; i < 8; ++i) x[i] = row[i];
        forward8(x, tmp + y * 8);
    }
    for (int u = 0; u < 8; ++u) {
        int col[8], out[8];
        for (int y = 0; y < 8; ++y) col[y] = tmp[y * 8 + u];
        forward8(col, out);
        for (int v = 0; v < 8; ++v) coefficients[v * 8 + u] = static_cast<float>(out[v]) * kScale.s[v * 8 + u];
    }
}

inline std::uint8_t clamp255(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

void inverseTransform8x8Ref(std::int16_t block[64])
{
    // Horizontal pass over each row, (x + 4) >> 3, kept in 16 bits.
    std::int16_t mid[64];
    for (int r = 0; r < 8; ++r) {
        int in[8], out[8];
        for (int i = 0; i < 8; ++i) in[i] = block[r * 8 + i];
        inverse8(in, out);
        for (int i = 0; i < 8; ++i) mid[r * 8 + i] = static_cast<std::int16_t>((out[i] + 4) >> 3);
    }
    // Vertical pass over each column, (x + 64) >> 7, and one more for the
    // lower four outputs.
    for (int c = 0; c < 8; ++c) {
        int in[8], out[8];
        for (int i = 0; i < 8; ++i) in[i] = mid[i * 8 + c];
        inverse8(in, out);
        for (int i = 0; i < 8; ++i)
            block[i * 8 + c] = static_cast<std::int16_t>((out[i] + 64 + (i >= 4 ? 1 : 0)) >> 7);
    }
}

void forwardTransform8x8Ref(const std::int16_t* samples, std::ptrdiff_t stride, float coefficients[64])
{
    forward(samples, stride, coefficients);
}

void forwardTransform8x8Ref(const std::uint8_t* pixels, std::ptrdiff_t stride, float coefficients[64])
{
    forward(pixels, stride, coefficients);
}

#if defined(__SSE2__)
namespace {

inline __m128i pairOf(short a, short b)
{
    return _mm_set1_epi32(static_cast<int>((static_cast<unsigned>(static_cast<std::uint16_t>(b)) << 16) |
                                           static_cast<std::uint16_t>(a)));
}

// The eight 8-point inverse sums out[j] = sum_k T[k][j] in[k] over 8
// lanes, in 32 bits (lanes 0..3 in lo, 4..7 in hi), with `even` added to
// the even part (a rounding constant that reaches every output).
inline void inverse8Lanes(const __m128i in[8], __m128i even, __m128i lo[8], __m128i hi[8])
{
    const __m128i k04p = pairOf(12, 12), k04m = pairOf(12, -12);
    const __m128i k26a = pairOf(16, 6), k26b = pairOf(6, -16);
    const __m128i k13[4] = {pairOf(16, 15), pairOf(15, -4), pairOf(9, -16), pairOf(4, -9)};
    const __m128i k57[4] = {pairOf(9, 4), pairOf(-16, -9), pairOf(4, 15), pairOf(15, -16)};
    for (int h = 0; h < 2; ++h) {
        const __m128i p04 = h ? _mm_unpackhi_epi16(in[0], in[4]) : _mm_unpacklo_epi16(in[0], in[4]);
        const __m128i p26 = h ? _mm_unpackhi_epi16(in[2], in[6]) : _mm_unpacklo_epi16(in[2], in[6]);
        const __m128i p13 = h ? _mm_unpackhi_epi16(in[1], in[3]) : _mm_unpacklo_epi16(in[1], in[3]);
        const __m128i p57 = h ? _mm_unpackhi_epi16(in[5], in[7]) : _mm_unpacklo_epi16(in[5], in[7]);
        const __m128i t1 = _mm_add_epi32(_mm_madd_epi16(p04, k04p), even);
        const __m128i t2 = _mm_add_epi32(_mm_madd_epi16(p04, k04m), even);
        const __m128i t3 = _mm_madd_epi16(p26, k26a), t4 = _mm_madd_epi16(p26, k26b);
        const __m128i e[4] = {_mm_add_epi32(t1, t3), _mm_add_epi32(t2, t4), _mm_sub_epi32(t2, t4), _mm_sub_epi32(t1, t3)};
        __m128i* out = h ? hi : lo;
        for (int j = 0; j < 4; ++j) {
            const __m128i o = _mm_add_epi32(_mm_madd_epi16(p13, k13[j]), _mm_madd_epi16(p57, k57[j]));
            out[j] = _mm_add_epi32(e[j], o);
            out[7 - j] = _mm_sub_epi32(e[j], o);
        }
    }
}

// Low 16 bits of each 32-bit lane, as the plain version's conversion.
inline __m128i wrap16(__m128i lo, __m128i hi)
{
    return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(lo, 16), 16), _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16));
}

// Exact integer forward transform of 8 rows of 16-bit samples whose
// magnitudes are at most 255 (so every column sum fits 16 bits), scaled to
// the float coefficients like the plain version.
inline void forwardLanes(__m128i r[8], float coefficients[64])
{
    __m128i v[8];
    simd::vc1ForwardColumns(r, v);
    // Rows: out[k][u] = sum_x T[u][x] v[k][x], in 32 bits: the transpose
    // turns it into the same sums across registers, each output u paired
    // from two registers at a time.
    simd::transpose8x8(v);  // v[x] lanes = k
    static const int kT[8][8] = {
        {12, 12, 12, 12, 12, 12, 12, 12},     {16, 15, 9, 4, -4, -9, -15, -16},
        {16, 6, -6, -16, -16, -6, 6, 16},     {15, -4, -16, -9, 9, 16, 4, -15},
        {12, -12, -12, 12, 12, -12, -12, 12}, {9, -16, 4, 15, -15, -4, 16, -9},
        {6, -16, 16, -6, -6, 16, -16, 6},     {4, -9, 15, -16, 16, -15, 9, -4},
    };
    __m128i pLo[4], pHi[4];
    for (int p = 0; p < 4; ++p) {
        pLo[p] = _mm_unpacklo_epi16(v[2 * p], v[2 * p + 1]);
        pHi[p] = _mm_unpackhi_epi16(v[2 * p], v[2 * p + 1]);
    }
    alignas(16) float col[8][8];  // col[u][k]
    for (int u = 0; u < 8; ++u) {
        __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
        for (int p = 0; p < 4; ++p) {
            const __m128i k = pairOf(static_cast<short>(kT[u][2 * p]), static_cast<short>(kT[u][2 * p + 1]));
            lo = _mm_add_epi32(lo, _mm_madd_epi16(pLo[p], k));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(pHi[p], k));
        }
        _mm_store_ps(col[u], _mm_cvtepi32_ps(lo));
        _mm_store_ps(col[u] + 4, _mm_cvtepi32_ps(hi));
    }
    for (int k = 0; k < 8; ++k)
        for (int u = 0; u < 8; ++u) coefficients[k * 8 + u] = col[u][k] * kScale.s[k * 8 + u];
}

}  // namespace

void inverseTransform8x8(std::int16_t block[64])
{
    __m128i r[8];
    for (int i = 0; i < 8; ++i) r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    // Horizontal pass: transposed, each row's sums run across registers.
    simd::transpose8x8(r);
    __m128i lo[8], hi[8];
    inverse8Lanes(r, _mm_set1_epi32(4), lo, hi);
    for (int j = 0; j < 8; ++j) r[j] = wrap16(_mm_srai_epi32(lo[j], 3), _mm_srai_epi32(hi[j], 3));
    simd::transpose8x8(r);  // r[row] = 16-bit intermediate rows
    // Vertical pass: (x + 64) >> 7, one more for the lower four outputs.
    inverse8Lanes(r, _mm_set1_epi32(64), lo, hi);
    const __m128i one = _mm_set1_epi32(1);
    for (int j = 0; j < 8; ++j) {
        __m128i l = lo[j], h = hi[j];
        if (j >= 4) {
            l = _mm_add_epi32(l, one);
            h = _mm_add_epi32(h, one);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * j), wrap16(_mm_srai_epi32(l, 7), _mm_srai_epi32(h, 7)));
    }
}

void forwardTransform8x8(const std::uint8_t* pixels, std::ptrdiff_t stride, float coefficients[64])
{
    const __m128i zero = _mm_setzero_si128();
    __m128i r[8];
    for (int y = 0; y < 8; ++y)
        r[y] = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixels + y * stride)), zero);
    forwardLanes(r, coefficients);
}

void forwardTransform8x8(const std::int16_t* samples, std::ptrdiff_t stride, float coefficients[64])
{
    // The 16-bit column sums hold for magnitudes up to 255 (pixels, or
    // pixels minus 128); anything larger takes the plain version.
    __m128i r[8];
    __m128i mx = _mm_set1_epi16(-32768), mn = _mm_set1_epi16(32767);
    for (int y = 0; y < 8; ++y) {
        r[y] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + y * stride));
        mx = _mm_max_epi16(mx, r[y]);
        mn = _mm_min_epi16(mn, r[y]);
    }
    const __m128i out = _mm_or_si128(_mm_cmpgt_epi16(mx, _mm_set1_epi16(255)), _mm_cmplt_epi16(mn, _mm_set1_epi16(-255)));
    if (_mm_movemask_epi8(out) != 0) {
        forward(samples, stride, coefficients);
        return;
    }
    forwardLanes(r, coefficients);
}
#else
void inverseTransform8x8(std::int16_t block[64]) { inverseTransform8x8Ref(block); }
void forwardTransform8x8(const std::int16_t* samples, std::ptrdiff_t stride, float coefficients[64])
{
    forward(samples, stride, coefficients);
}
void forwardTransform8x8(const std::uint8_t* pixels, std::ptrdiff_t stride, float coefficients[64])
{
    forward(pixels, stride, coefficients);
}
#endif

void putClamped8x8(const std::int16_t block[64], std::uint8_t* dst, std::ptrdiff_t stride)
{
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) dst[y * stride + x] = clamp255(block[y * 8 + x]);
}

void addClamped8x8(const std::int16_t block[64], std::uint8_t* dst, std::ptrdiff_t stride)
{
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) dst[y * stride + x] = clamp255(dst[y * stride + x] + block[y * 8 + x]);
}

}  // namespace asfw::vc1
