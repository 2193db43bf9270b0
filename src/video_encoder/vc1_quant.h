// Quantisation of transform coefficients (an encoder decision: dead zone
// and rounding) and the decoder's reconstruction of a block (normative).
#ifndef ASFWRITER_VIDEO_ENCODER_VC1_QUANT_H
#define ASFWRITER_VIDEO_ENCODER_VC1_QUANT_H

#include <cstddef>
#include <cstdint>

#include "video_encoder/vc1_syntax.h"

namespace asfw::vc1 {

// Rounding of the AC quantiser: level = floor(|c| / step + rounding), with
// the non-uniform quantiser's PQUANT offset taken off |c| first. 0.5 is
// plain rounding; smaller values widen the dead zone.
struct QuantTuning {
    // Tuned on the synthetic photo/text/mixed content with the explicit
    // uniform quantiser (bench/vc1_intra.sh): rounding 0.45 with the
    // refinement below beat a plain 0.34 dead zone by 0.2-0.65 dB BD-PSNR.
    float intraRounding = 0.45f;
    float interRounding = 0.25f;
    // Rate-distortion refinement of intra levels (rdoRefineLevels): the
    // Lagrange multiplier is intraLambda * (pixel-domain AC step)^2; 0 = off.
    float intraLambda = 0.1f;
};

// Quantises the AC coefficients (positions 1..63) of `coefficients` into
// `levels` (levels[0] untouched unless `withDc`), limited to what the
// picture can code. Returns the number of non-zero AC levels.
int quantizeAc(const float coefficients[64], const PictureQuant& q, float rounding, std::int16_t levels[64]);
// The plain version the vectorised quantizeAc must equal.
int quantizeAcRef(const float coefficients[64], const PictureQuant& q, float rounding, std::int16_t levels[64]);
int quantizeInterBlock(const float coefficients[64], const PictureQuant& q, float rounding, std::int16_t levels[64]);

// Rate-distortion refinement: walks the levels in reverse `scan` order and
// moves each one step toward zero when that lowers
//   pixel squared error + lambda * bits
// with the bits of the block's run/level events in `set` (positions from
// `first`). `coefficients` are the forward transform's. Returns the number
// of non-zero levels left.
int rdoRefineLevels(const float coefficients[64], const PictureQuant& q, const AcSetInfo& set,
                    const std::uint8_t scan[64], int first, float lambda, std::int16_t levels[64]);

// The quantised DC of an intra block: round(c / DC step), >= 0.
int quantizeIntraDc(float dcCoefficient, const PictureQuant& q);

// Dequantised coefficients of a block: DC (intra) from `dcLevel` times the
// DC step, AC from the levels.
void dequantizeIntra(const std::int16_t levels[64], int dcLevel, const PictureQuant& q, std::int16_t out[64]);
void dequantizeInter(const std::int16_t levels[64], const PictureQuant& q, std::int16_t out[64]);

// Intra reconstruction exactly as the decoder: dequantise, inverse
// transform, clamp to 0..255 (I pictures code pixels without an offset).
void reconstructIntraBlock(const std::int16_t levels[64], int dcLevel, const PictureQuant& q, std::uint8_t* dst,
                           std::ptrdiff_t stride);

}  // namespace asfw::vc1

#endif
