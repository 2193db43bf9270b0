// The reference picture at the four half-sample phases (full, half right,
// half down, both), interpolated once per picture with the decoder's
// bicubic half-sample filter and the picture's rounding control. A 16x16
// block at any half-sample vector within one macroblock of the picture is
// then read straight from one plane, equal bit for bit to what the decoder
// predicts.
#ifndef ASFWRITER_VIDEO_ENCODER_HALF_SAMPLE_PLANES_H
#define ASFWRITER_VIDEO_ENCODER_HALF_SAMPLE_PLANES_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace asfw {

class HalfSamplePlanes {
public:
    // Samples covered beyond the macroblock-aligned area on every side:
    // the decoder clamps a block's source to one macroblock outside.
    static constexpr int kMargin = 16;

    // `ref` is sample (0, 0) of the reference luma; it must be readable
    // (replicated) at least kMargin + 3 samples beyond `width` x `height`
    // (the macroblock-aligned size) on every side.
    void build(const std::uint8_t* ref, std::ptrdiff_t refStride, int width, int height, int rnd);

    // Sample (0, 0) of phase `phase` = (half right) | (half down) << 1; the
    // sample at (x, y) of phase p is the reference at (x + (p & 1) / 2,
    // y + (p >> 1) / 2) for x in [-kMargin, width + kMargin), same for y.
    const std::uint8_t* plane(int phase) const { return data_[phase].data() + origin_; }
    std::ptrdiff_t stride() const { return stride_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Top-left sample of the 16x16 block of macroblock (mbX, mbY) displaced
    // by (hx, hy) half samples; the position must lie within the margin.
    const std::uint8_t* block(int mbX, int mbY, int hx, int hy) const
    {
        return plane((hx & 1) | ((hy & 1) << 1)) + static_cast<std::ptrdiff_t>(mbY * 16 + (hy >> 1)) * stride_ +
               mbX * 16 + (hx >> 1);
    }

private:
    int width_ = 0, height_ = 0;
    std::ptrdiff_t stride_ = 0;
    std::size_t origin_ = 0;
    std::vector<std::uint8_t> data_[4];
    std::vector<std::int16_t> column_;  // vertical pass of the diagonal phase (one row)
};

}  // namespace asfw

#endif
