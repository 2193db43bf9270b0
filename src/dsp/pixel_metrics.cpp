// Plain reference versions of the block distortion measures.
#include "dsp/pixel_metrics.h"

#include <cstdlib>

namespace asfw {

namespace {

unsigned sadBlock(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride, int w, int h)
{
    unsigned sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            sum += static_cast<unsigned>(std::abs(a[y * aStride + x] - b[y * bStride + x]));
    return sum;
}

// In-place 8-point Hadamard butterflies over v[0], v[step], ... v[7 * step].
void hadamard8(int* v, int step)
{
    for (int len = 1; len < 8; len <<= 1)
        for (int i = 0; i < 8; i += 2 * len)
            for (int k = i; k < i + len; ++k) {
                const int p = v[k * step], q = v[(k + len) * step];
                v[k * step] = p + q;
                v[(k + len) * step] = p - q;
            }
}

unsigned ssdBlock(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride, int w, int h)
{
    unsigned sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int d = a[y * aStride + x] - b[y * bStride + x];
            sum += static_cast<unsigned>(d * d);
        }
    return sum;
}

}  // namespace

unsigned ssd16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    return ssdBlock(a, aStride, b, bStride, 16, 16);
}

unsigned ssd8x8Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    return ssdBlock(a, aStride, b, bStride, 8, 8);
}

unsigned sadAvg16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride)
{
    unsigned sum = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const int avg = (b[y * bStride + x] + c[y * bStride + x] + 1) >> 1;
            sum += static_cast<unsigned>(std::abs(a[y * aStride + x] - avg));
        }
    return sum;
}

unsigned satdAvg16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride)
{
    std::uint8_t avg[256];
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            avg[y * 16 + x] = static_cast<std::uint8_t>((b[y * bStride + x] + c[y * bStride + x] + 1) >> 1);
    return satd16x16Ref(a, aStride, avg, 16);
}

unsigned sad16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    return sadBlock(a, aStride, b, bStride, 16, 16);
}

unsigned sad8x8Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    return sadBlock(a, aStride, b, bStride, 8, 8);
}

unsigned satd8x8Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    int d[64];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) d[y * 8 + x] = a[y * aStride + x] - b[y * bStride + x];
    for (int y = 0; y < 8; ++y) hadamard8(d + y * 8, 1);
    for (int x = 0; x < 8; ++x) hadamard8(d + x, 8);
    unsigned sum = 0;
    for (int v : d) sum += static_cast<unsigned>(std::abs(v));
    return (sum + 1) >> 1;
}

unsigned satd16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride)
{
    unsigned sum = 0;
    for (int by = 0; by < 2; ++by)
        for (int bx = 0; bx < 2; ++bx)
            sum += satd8x8Ref(a + by * 8 * aStride + bx * 8, aStride, b + by * 8 * bStride + bx * 8, bStride);
    return sum;
}

}  // namespace asfw
