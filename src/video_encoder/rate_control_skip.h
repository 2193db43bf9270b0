// The cheapest picture there is: a P picture whose every macroblock is
// skipped (the previous picture repeated). Rate control falls back to it
// when even the coarsest quantiser would overflow a bucket.
#ifndef ASFWRITER_VIDEO_ENCODER_RATE_CONTROL_SKIP_H
#define ASFWRITER_VIDEO_ENCODER_RATE_CONTROL_SKIP_H

#include <cstdint>
#include <vector>

#include "video_encoder/vc1_syntax.h"

namespace asfw::vc1 {

// The picture's bytes. Every predicted vector is zero (all neighbours are
// skipped at the zero vector), so no hybrid-prediction bit arises and the
// reconstruction is exactly the reference.
std::vector<std::uint8_t> encodeSkippedPicture(const SequenceHeader& seq, const PictureQuant& quant, int mbWidth,
                                               int mbHeight);

}  // namespace asfw::vc1

#endif
