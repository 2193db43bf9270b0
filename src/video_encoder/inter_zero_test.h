// Whether an inter block's residual quantises to nothing, decided on the
// exact integer transform without quantising: the P picture coder asks
// it before the full quantisation (most blocks of a well-predicted picture
// have no level left) and for its early skip decision. It answers "zero"
// only when every coefficient stays clearly below the quantiser's first
// level, so a block it calls zero is one the quantiser would clear too.
#ifndef ASFWRITER_VIDEO_ENCODER_INTER_ZERO_TEST_H
#define ASFWRITER_VIDEO_ENCODER_INTER_ZERO_TEST_H

#include "video_encoder/vc1_syntax.h"

#include <cstddef>
#include <cstdint>

namespace asfw::vc1 {

class InterZeroTest {
public:
    // For the picture's quantiser and the coder's inter rounding
    // (level = floor(|coefficient| / step + rounding), after the
    // non-uniform quantiser's offset).
    void setup(const PictureQuant& q, float rounding);

    // True when the 8x8 residual src - pred has no coefficient that can
    // reach the first level.
    bool zero(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
              std::ptrdiff_t predStride) const;
    // Plain version (the vectorised one must agree with it).
    bool zeroRef(const std::uint8_t* src, std::ptrdiff_t srcStride, const std::uint8_t* pred,
                 std::ptrdiff_t predStride) const;

private:
    // Largest magnitude of the unscaled integer coefficient (u horizontal,
    // v vertical frequency) that surely quantises to nothing, as [u][v].
    alignas(16) std::int32_t limit_[8][8] = {};
};

}  // namespace asfw::vc1

#endif
