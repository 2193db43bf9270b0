// Blocks of P pictures: inter blocks (residual against the motion
// compensated prediction, all 64 coefficients coded with the inter scan)
// and intra blocks inside P pictures (samples offset by -128, DC predicted
// only from intra neighbours, AC in the inter scan). Reconstruction is the
// decoder's, including its DC-only shortcut for inter blocks.
#ifndef ASFWRITER_VIDEO_ENCODER_INTER_BLOCK_H
#define ASFWRITER_VIDEO_ENCODER_INTER_BLOCK_H

#include "video_encoder/vc1_quant.h"
#include "video_encoder/vc1_syntax.h"

#include <cstddef>
#include <cstdint>

namespace asfw::vc1 {

struct InterBlock {
    std::int16_t levels[64];
    AcEvent events[64];
    int eventCount = 0;
    bool coded() const { return eventCount > 0; }
};

// Quantises the residual of `src` against `pred` (8x8 each); returns
// whether any coefficient remains.
// `zeroBias` >= 1 widens the test that skips the transform for blocks whose
// residual is too small to leave a level (1 = exact: only blocks that would
// quantise to nothing; larger values trade a little quality for speed).
bool quantizeInterResidual(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
                           std::ptrdiff_t predStride, const PictureQuant& q, float rounding, InterBlock& out,
                           float zeroBias = 1.0f);
// The plain version the vectorised one above must equal (levels and events).
bool quantizeInterResidualRef(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
                              std::ptrdiff_t predStride, const PictureQuant& q, float rounding, InterBlock& out,
                              float zeroBias = 1.0f);

// How much a block of isolated +-1 levels is worth keeping: each level
// scores by the zero run before it (short runs score more); any larger
// level makes the block worth keeping whatever the score (returns 1000).
int interDecimationScore(const InterBlock& b);
// Drops all coefficients of the block.
void clearInterBlock(InterBlock& b);

// Adds the block's dequantised residual to `dst` (which holds the
// prediction) as the decoder does.
void reconstructInterBlock(const InterBlock& b, const PictureQuant& q, std::uint8_t* dst, std::ptrdiff_t stride);

// Intra block of a P picture: DC level (signed, the samples are coded minus
// 128) and AC levels; `acEvents` from position 1 in the inter scan.
struct IntraPBlock {
    std::int16_t levels[64];
    int dcLevel = 0;
    AcEvent events[64];
    int eventCount = 0;
};

void quantizeIntraPBlock(const std::uint8_t* src, std::ptrdiff_t srcStride, const PictureQuant& q, float rounding,
                         IntraPBlock& out);
void reconstructIntraPBlock(const IntraPBlock& b, const PictureQuant& q, std::uint8_t* dst, std::ptrdiff_t stride);

// The decoder's inverse of a block whose only coefficient is the DC one.
void addDcOnly8x8(int dequantizedDc, std::uint8_t* dst, std::ptrdiff_t stride);

}  // namespace asfw::vc1

#endif
