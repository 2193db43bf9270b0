// The VC-1 8x8 integer transform (SMPTE 421M, 8.1.4 "Inverse transform"),
// its exact inverse as every conforming decoder computes it, and a forward
// transform matched to it.
//
// Coefficient blocks are raster order, row * 8 + column, row = vertical
// frequency. The inverse is normative and bit-exact (16-bit intermediate
// like the reference decoders); the forward transform is an encoder choice:
// it returns the real-valued coefficients whose exact inverse is the input.
#ifndef ASFWRITER_DSP_VC1_TRANSFORM_H
#define ASFWRITER_DSP_VC1_TRANSFORM_H

#include <cstddef>
#include <cstdint>

namespace asfw::vc1 {

// In place: dequantised coefficients in, spatial samples (residual, or
// intra pixels before clamping) out.
void inverseTransform8x8(std::int16_t block[64]);

// Spatial samples in (any stride), real coefficients out, scaled so that
// inverseTransform8x8 of the rounded coefficients approximates the input.
void forwardTransform8x8(const std::int16_t* samples, std::ptrdiff_t stride, float coefficients[64]);
void forwardTransform8x8(const std::uint8_t* pixels, std::ptrdiff_t stride, float coefficients[64]);

// The plain versions the vectorised ones above equal exactly.
void inverseTransform8x8Ref(std::int16_t block[64]);
void forwardTransform8x8Ref(const std::int16_t* samples, std::ptrdiff_t stride, float coefficients[64]);
void forwardTransform8x8Ref(const std::uint8_t* pixels, std::ptrdiff_t stride, float coefficients[64]);

// Clamps 8x8 samples to 0..255 into `dst` (intra reconstruction).
void putClamped8x8(const std::int16_t block[64], std::uint8_t* dst, std::ptrdiff_t stride);
// Adds 8x8 residual samples to `dst` with clamping (inter reconstruction).
void addClamped8x8(const std::int16_t block[64], std::uint8_t* dst, std::ptrdiff_t stride);

// Quantisation rules (8.1.3.6 "Inverse AC coefficient quantization"):
// the AC step is 2 * PQUANT + HALFQP; a non-uniform quantiser moves every
// non-zero reconstruction PQUANT further from zero.
struct QuantStep {
    int pquant = 1;        // 1..31
    bool halfStep = false; // HALFQP
    bool uniform = true;
    int acStep() const { return 2 * pquant + (halfStep ? 1 : 0); }
    int dequantAc(int level) const
    {
        if (level == 0) return 0;
        const int v = level * acStep();
        if (uniform) return v;
        return level < 0 ? v - pquant : v + pquant;
    }
};

}  // namespace asfw::vc1

#endif
