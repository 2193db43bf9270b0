// Motion compensation of Main profile P pictures (reference versions and
// the macroblock-level prediction).
#include "dsp/vc1_mc.h"

#include <algorithm>
#include <cstring>

namespace asfw {

namespace {

inline std::uint8_t clipPixel(int v)
{
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Four-tap bicubic filter at fractional position `frac` (1..3), applied to
// s[-step], s[0], s[step], s[2 * step]; unscaled sum.
template <class T>
inline int bicubicTaps(const T* s, std::ptrdiff_t step, int frac)
{
    const int a = s[-step], b = s[0], c = s[step], d = s[2 * step];
    switch (frac) {
    case 1: return -4 * a + 53 * b + 18 * c - 3 * d;
    case 2: return -a + 9 * b + 9 * c - d;
    default: return -3 * a + 18 * b + 53 * c - 4 * d;
    }
}

// One-dimensional filter with its final rounding: quarter positions scale
// by 64, the half position by 16; the rounding terms depend on direction
// and rounding control.
inline int oneDimension(int sum, int frac, int quarterRound, int halfRound)
{
    return frac == 2 ? (sum + halfRound) >> 4 : (sum + quarterRound) >> 6;
}

// Scale exponents of the quarter (64 = 2^6 -> 5 after halving) and half
// (16 = 2^4 -> 1) positions used by the two-dimensional case.
constexpr int kShiftOf[4] = {0, 5, 1, 5};

void replicateRows(std::uint8_t* plane, int stride, int width, int height, int border)
{
    // Left/right borders of every row of the interior.
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = plane + static_cast<std::ptrdiff_t>(y) * stride;
        std::memset(row - border, row[0], static_cast<std::size_t>(border));
        std::memset(row + width, row[width - 1], static_cast<std::size_t>(border));
    }
    // Top and bottom: whole padded rows.
    const std::size_t rowBytes = static_cast<std::size_t>(width + 2 * border);
    const std::uint8_t* first = plane - border;
    const std::uint8_t* last = plane + static_cast<std::ptrdiff_t>(height - 1) * stride - border;
    for (int y = 1; y <= border; ++y) {
        std::memcpy(plane - static_cast<std::ptrdiff_t>(y) * stride - border, first, rowBytes);
        std::memcpy(plane + static_cast<std::ptrdiff_t>(height - 1 + y) * stride - border, last, rowBytes);
    }
}

}  // namespace

void Vc1RefPicture::allocate(int width, int height)
{
    width_ = width;
    height_ = height;
    yStride_ = width + 2 * kLumaBorder;
    cStride_ = width / 2 + 2 * kChromaBorder;
    const std::size_t yRows = static_cast<std::size_t>(height + 2 * kLumaBorder);
    const std::size_t cRows = static_cast<std::size_t>(height / 2 + 2 * kChromaBorder);
    y_.assign(yRows * static_cast<std::size_t>(yStride_), 0);
    u_.assign(cRows * static_cast<std::size_t>(cStride_), 0);
    v_.assign(cRows * static_cast<std::size_t>(cStride_), 0);
    yOrigin_ = static_cast<std::size_t>(kLumaBorder) * static_cast<std::size_t>(yStride_) + kLumaBorder;
    cOrigin_ = static_cast<std::size_t>(kChromaBorder) * static_cast<std::size_t>(cStride_) + kChromaBorder;
}

void Vc1RefPicture::assign(const std::uint8_t* y, int yStride, const std::uint8_t* u, const std::uint8_t* v,
                           int cStride)
{
    for (int r = 0; r < height_; ++r)
        std::memcpy(luma() + static_cast<std::ptrdiff_t>(r) * yStride_, y + static_cast<std::ptrdiff_t>(r) * yStride,
                    static_cast<std::size_t>(width_));
    for (int r = 0; r < height_ / 2; ++r) {
        std::memcpy(cb() + static_cast<std::ptrdiff_t>(r) * cStride_, u + static_cast<std::ptrdiff_t>(r) * cStride,
                    static_cast<std::size_t>(width_ / 2));
        std::memcpy(cr() + static_cast<std::ptrdiff_t>(r) * cStride_, v + static_cast<std::ptrdiff_t>(r) * cStride,
                    static_cast<std::size_t>(width_ / 2));
    }
    extendBorders();
}

void Vc1RefPicture::extendBorders()
{
    if (width_ <= 0 || height_ <= 0) return;
    replicateRows(luma(), yStride_, width_, height_, kLumaBorder);
    replicateRows(cb(), cStride_, width_ / 2, height_ / 2, kChromaBorder);
    replicateRows(cr(), cStride_, width_ / 2, height_ / 2, kChromaBorder);
}

void vc1LumaBicubic16Ref(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int hFrac,
                         int vFrac, int rnd)
{
    if (hFrac == 0 && vFrac == 0) {
        for (int j = 0; j < 16; ++j)
            std::memcpy(dst + j * dstStride, src + j * srcStride, 16);
        return;
    }
    if (hFrac != 0 && vFrac != 0) {
        // Vertical pass into 16-bit intermediates (columns -1..17), then
        // horizontal pass.
        const int shift = (kShiftOf[hFrac] + kShiftOf[vFrac]) >> 1;
        const int r = (1 << (shift - 1)) + rnd - 1;
        std::int16_t tmp[16][19];
        for (int j = 0; j < 16; ++j) {
            const std::uint8_t* s = src + j * srcStride - 1;
            for (int i = 0; i < 19; ++i)
                tmp[j][i] = static_cast<std::int16_t>((bicubicTaps(s + i, srcStride, vFrac) + r) >> shift);
        }
        for (int j = 0; j < 16; ++j)
            for (int i = 0; i < 16; ++i)
                dst[j * dstStride + i] = clipPixel((bicubicTaps(&tmp[j][i + 1], 1, hFrac) + 64 - rnd) >> 7);
        return;
    }
    if (vFrac != 0) {
        for (int j = 0; j < 16; ++j) {
            const std::uint8_t* s = src + j * srcStride;
            for (int i = 0; i < 16; ++i)
                dst[j * dstStride + i] = clipPixel(oneDimension(bicubicTaps(s + i, srcStride, vFrac), vFrac,
                                                                31 + rnd, 7 + rnd));
        }
        return;
    }
    for (int j = 0; j < 16; ++j) {
        const std::uint8_t* s = src + j * srcStride;
        for (int i = 0; i < 16; ++i)
            dst[j * dstStride + i] = clipPixel(oneDimension(bicubicTaps(s + i, 1, hFrac), hFrac, 32 - rnd, 8 - rnd));
    }
}

void vc1LumaBilinear16Ref(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int hHalf,
                          int vHalf, int rnd)
{
    for (int j = 0; j < 16; ++j) {
        const std::uint8_t* s = src + j * srcStride;
        const std::uint8_t* t = s + srcStride;
        std::uint8_t* d = dst + j * dstStride;
        for (int i = 0; i < 16; ++i) {
            int v;
            if (hHalf && vHalf) v = (s[i] + s[i + 1] + t[i] + t[i + 1] + 2 - rnd) >> 2;
            else if (hHalf) v = (s[i] + s[i + 1] + 1 - rnd) >> 1;
            else if (vHalf) v = (s[i] + t[i] + 1 - rnd) >> 1;
            else v = s[i];
            d[i] = static_cast<std::uint8_t>(v);
        }
    }
}

void vc1Chroma8Ref(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int fx, int fy,
                   int rnd)
{
    const int a = (8 - fx) * (8 - fy), b = fx * (8 - fy), c = (8 - fx) * fy, d = fx * fy;
    const int bias = 32 - 4 * rnd;
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t* s = src + j * srcStride;
        const std::uint8_t* t = s + srcStride;
        for (int i = 0; i < 8; ++i)
            dst[j * dstStride + i] =
                static_cast<std::uint8_t>((a * s[i] + b * s[i + 1] + c * t[i] + d * t[i + 1] + bias) >> 6);
    }
}

void vc1Chroma8x2Ref(std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride, const std::uint8_t* srcCb,
                     const std::uint8_t* srcCr, std::ptrdiff_t srcStride, int fx, int fy, int rnd)
{
    vc1Chroma8Ref(dstCb, dstStride, srcCb, srcStride, fx, fy, rnd);
    vc1Chroma8Ref(dstCr, dstStride, srcCr, srcStride, fx, fy, rnd);
}

void vc1PredictLuma(const Vc1RefView& ref, const Vc1McParams& p, int mbX, int mbY, int mvX, int mvY,
                    std::uint8_t* dst, int dstStride)
{
    const int srcX = std::clamp(mbX * 16 + (mvX >> 2), -16, ref.width);
    const int srcY = std::clamp(mbY * 16 + (mvY >> 2), -16, ref.height);
    const std::uint8_t* src = ref.y + static_cast<std::ptrdiff_t>(srcY) * ref.yStride + srcX;
    if (p.filter == Vc1LumaFilter::Bicubic)
        vc1LumaBicubic16(dst, dstStride, src, ref.yStride, mvX & 3, mvY & 3, p.rnd);
    else
        vc1LumaBilinear16Ref(dst, dstStride, src, ref.yStride, (mvX >> 1) & 1, (mvY >> 1) & 1, p.rnd);
}

void vc1PredictChroma(const Vc1RefView& ref, const Vc1McParams& p, int mbX, int mbY, int mvX, int mvY,
                      std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride)
{
    const int cx = vc1ChromaMvComponent(mvX, p.fastUvmc);
    const int cy = vc1ChromaMvComponent(mvY, p.fastUvmc);
    const int srcX = std::clamp(mbX * 8 + (cx >> 2), -8, ref.width / 2);
    const int srcY = std::clamp(mbY * 8 + (cy >> 2), -8, ref.height / 2);
    const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(srcY) * ref.cStride + srcX;
    const int fx = (cx & 3) << 1, fy = (cy & 3) << 1;
    vc1Chroma8x2(dstCb, dstCr, dstStride, ref.cb + off, ref.cr + off, ref.cStride, fx, fy, p.rnd);
}

}  // namespace asfw
