// Motion compensation of Main profile P pictures, exactly as a conforming
// decoder forms its prediction (SMPTE 421M, motion compensation of
// progressive P pictures):
//  - luma: bicubic quarter/half-sample filters, or bilinear half-sample;
//  - chroma: motion vector derived from the luma one, bilinear quarter
//    sample, with the picture's rounding control;
//  - the reference extends beyond its macroblock-aligned area by repeating
//    the edge samples, and the integer source position of a block is
//    clamped to at most one macroblock outside.
#ifndef ASFWRITER_DSP_VC1_MC_H
#define ASFWRITER_DSP_VC1_MC_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace asfw {

// Luma interpolation of a P picture.
enum class Vc1LumaFilter : std::uint8_t {
    Bicubic,   // quarter- or half-sample modes with the bicubic filters
    Bilinear,  // half-sample bilinear mode
};

// Where the prediction reads from: the three planes at sample (0, 0), each
// readable at least 32 (luma) / 16 (chroma) samples beyond the
// macroblock-aligned area `width` x `height` (luma), those samples being
// copies of the nearest edge sample of the area.
struct Vc1RefView {
    const std::uint8_t* y = nullptr;
    const std::uint8_t* cb = nullptr;
    const std::uint8_t* cr = nullptr;
    std::ptrdiff_t yStride = 0;
    std::ptrdiff_t cStride = 0;
    int width = 0;
    int height = 0;
};

// A reference picture with a border of replicated samples, so that every
// block a motion vector can address is readable without bounds checks.
// Sized to the macroblock-aligned picture (what the decoder reconstructs);
// samples beyond it repeat the nearest sample of that area.
class Vc1RefPicture {
public:
    static constexpr int kLumaBorder = 48;
    static constexpr int kChromaBorder = 24;

    // `width`/`height` are the macroblock-aligned luma dimensions.
    void allocate(int width, int height);
    // Copies the planes (each at least width x height / half that for
    // chroma) and fills the borders.
    void assign(const std::uint8_t* y, int yStride, const std::uint8_t* u, const std::uint8_t* v, int cStride);
    // Refills the borders from the interior (after writing the planes in
    // place through the mutable pointers).
    void extendBorders();

    int width() const { return width_; }
    int height() const { return height_; }
    int lumaStride() const { return yStride_; }
    int chromaStride() const { return cStride_; }
    // Sample (0, 0) of each plane.
    const std::uint8_t* luma() const { return y_.data() + yOrigin_; }
    const std::uint8_t* cb() const { return u_.data() + cOrigin_; }
    const std::uint8_t* cr() const { return v_.data() + cOrigin_; }
    std::uint8_t* luma() { return y_.data() + yOrigin_; }
    std::uint8_t* cb() { return u_.data() + cOrigin_; }
    std::uint8_t* cr() { return v_.data() + cOrigin_; }
    Vc1RefView view() const { return Vc1RefView{luma(), cb(), cr(), yStride_, cStride_, width_, height_}; }

private:
    int width_ = 0, height_ = 0, yStride_ = 0, cStride_ = 0;
    std::size_t yOrigin_ = 0, cOrigin_ = 0;
    std::vector<std::uint8_t> y_, u_, v_;
};

// The chroma motion vector (quarter chroma samples) of a luma vector
// (quarter luma samples); `fastUvmc` rounds odd components toward zero.
inline int vc1ChromaMvComponent(int lumaMv, bool fastUvmc)
{
    int c = (lumaMv + ((lumaMv & 3) == 3 ? 1 : 0)) >> 1;
    if (fastUvmc) {
        if (c < 0) c += c & 1;
        else c -= c & 1;
    }
    return c;
}

// --- Block kernels (the vectorised versions sit beside the references). ---

// 16x16 bicubic luma from `src` (integer sample position) with fractional
// offsets hFrac, vFrac in quarter samples (0..3); rnd = rounding control.
// Reads src[-1 - stride] .. src[18 + 18 * stride].
void vc1LumaBicubic16Ref(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int hFrac,
                         int vFrac, int rnd);
// 16x16 bilinear half-sample luma: hHalf, vHalf in {0, 1}.
void vc1LumaBilinear16Ref(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int hHalf,
                          int vHalf, int rnd);
// 8x8 bilinear chroma with eighth-sample weights fx, fy in {0, 2, 4, 6}.
void vc1Chroma8Ref(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int fx, int fy,
                   int rnd);

// Both chroma planes with the same position and weights (reads up to 15
// samples right of `srcCb`/`srcCr` in the vectorised versions).
void vc1Chroma8x2Ref(std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride, const std::uint8_t* srcCb,
                     const std::uint8_t* srcCr, std::ptrdiff_t srcStride, int fx, int fy, int rnd);

// Dispatching versions (SIMD where the machine has it).
// The bicubic version reads up to 30 samples right of `src` (not 18) and
// row 18 below it.
void vc1LumaBicubic16(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int hFrac,
                      int vFrac, int rnd);
void vc1Chroma8(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride, int fx, int fy,
                int rnd);
void vc1Chroma8x2(std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride, const std::uint8_t* srcCb,
                  const std::uint8_t* srcCr, std::ptrdiff_t srcStride, int fx, int fy, int rnd);

// --- Macroblock prediction. ---

// Parameters fixed for a picture.
struct Vc1McParams {
    Vc1LumaFilter filter = Vc1LumaFilter::Bicubic;
    int rnd = 0;            // rounding control of the picture (0 or 1)
    bool fastUvmc = false;  // from the sequence header
};

// Predicts the 16x16 luma block of macroblock (mbX, mbY) with motion vector
// (mvX, mvY) in quarter samples.
void vc1PredictLuma(const Vc1RefView& ref, const Vc1McParams& p, int mbX, int mbY, int mvX, int mvY,
                    std::uint8_t* dst, int dstStride);
// Predicts both 8x8 chroma blocks of the macroblock from the luma vector.
void vc1PredictChroma(const Vc1RefView& ref, const Vc1McParams& p, int mbX, int mbY, int mvX, int mvY,
                      std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride);

}  // namespace asfw

#endif
