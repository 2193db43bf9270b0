// VC-1 8x8 transform: exact inverse, matched forward.
#include "dsp/vc1_transform.h"

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

void inverseTransform8x8(std::int16_t block[64])
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

void forwardTransform8x8(const std::int16_t* samples, std::ptrdiff_t stride, float coefficients[64])
{
    forward(samples, stride, coefficients);
}

void forwardTransform8x8(const std::uint8_t* pixels, std::ptrdiff_t stride, float coefficients[64])
{
    forward(pixels, stride, coefficients);
}

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
