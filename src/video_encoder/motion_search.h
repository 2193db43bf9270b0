// Motion estimation for 1MV P pictures: predictor candidates, an integer
// search (diamond or hexagon depending on the complexity level), then
// half- and quarter-sample refinement on the real interpolation. The cost
// of a vector is its distortion (SAD, or SATD at higher levels) plus
// lambda times the bits of its differential in the picture's MVDATA table.
//
// Complexity levels (0 fastest .. 5 best):
//  0  candidates + small diamond, half-sample refinement, SAD
//  1  + quarter-sample refinement
//  2  hexagon + small diamond, SAD
//  3  hexagon, quarter-sample refinement on SATD (default)
//  4  + wider candidate set and a second hexagon pass, SATD throughout
//  5  + exhaustive +-6 around the best candidate, two refinement rounds
#ifndef ASFWRITER_VIDEO_ENCODER_MOTION_SEARCH_H
#define ASFWRITER_VIDEO_ENCODER_MOTION_SEARCH_H

#include "dsp/vc1_mc.h"
#include "video_encoder/mv_prediction.h"

#include <cstdint>
#include <vector>

namespace asfw {

struct MotionSearchConfig {
    int complexity = 3;
    int lambda = 4;         // distortion units per bit of the differential
    int mvTable = 0;        // MVDATA table used for the bit costs
    int rnd = 0;            // rounding control of the picture
    Vc1LumaFilter filter = Vc1LumaFilter::Bicubic;
    bool halfSample = false;  // vectors restricted to half samples
};

struct MotionResult {
    Vc1Mv mv;
    unsigned cost = 0;        // distortion + lambda * bits
    unsigned distortion = 0;  // of the chosen vector (SAD or SATD)
};

class MotionSearch {
public:
    // `cur`: the picture being coded (luma, macroblock-aligned, stride
    // curStride); `ref`: the reference as the decoder will see it.
    void begin(const std::uint8_t* cur, std::ptrdiff_t curStride, const Vc1RefView& ref, int mbCols, int mbRows,
               const MotionSearchConfig& config);

    // Best vector for macroblock (mbX, mbY). `pred` is the vector
    // predictor (differentials are priced against it); `candidates` are
    // further starting points (neighbours, the previous picture's vector).
    MotionResult search(int mbX, int mbY, Vc1Mv pred, const Vc1Mv* candidates, int candidateCount);

    // Distortion and cost of one vector (quarter samples).
    unsigned distortionAt(int mbX, int mbY, Vc1Mv mv, bool satd);
    unsigned mvBits(Vc1Mv mv, Vc1Mv pred) const;

private:
    bool inRange(int mbX, int mbY, Vc1Mv mv) const;
    unsigned integerSad(int mbX, int mbY, int ix, int iy) const;
    void refine(int mbX, int mbY, Vc1Mv pred, int step, bool satd, MotionResult& best);

    const std::uint8_t* cur_ = nullptr;
    std::ptrdiff_t curStride_ = 0;
    Vc1RefView ref_;
    int mbCols_ = 0, mbRows_ = 0;
    MotionSearchConfig cfg_;
    // Bits of one differential component by value (+-511), per class.
    std::vector<std::uint8_t> compClass_;
    std::vector<std::uint8_t> compBits_;
    std::uint8_t symbolBits_[36] = {};
    std::uint8_t escapeBits_ = 0;
};

}  // namespace asfw

#endif
