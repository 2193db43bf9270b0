// Motion estimation for 1MV P pictures. The reference is interpolated once
// per picture at its four half-sample phases (half_sample_planes.h), so
// integer and half-sample positions are read from the planes exactly; only
// the few quarter-sample positions of the last step are interpolated (an
// estimate averaging half-sample neighbours lost 0.6 dB). The cost of a
// vector is its distortion (SAD, or SATD in the sub-sample steps of the
// higher levels) plus lambda times the bits of its differential in the
// picture's MVDATA table.
//
// Complexity levels (0 fastest .. 5 best; the P picture coder adds its
// early skip at 0..4). Integer samples are always scored by SAD.
//  0  predictor candidates + small diamond (4 rounds), half-sample square
//  1  diamond up to 8 rounds
//  2  + quarter-sample diamond on the exact interpolation (not where the
//     half-sample SAD is below MotionSearchConfig::quarterStopSad)
//  3  quarter-sample square (default)
//  4  hexagon + square at integer samples, half and quarter samples on
//     SATD
//  5  + second hexagon pass, exhaustive +-8 around the best, two
//     quarter-sample rounds
#ifndef ASFWRITER_VIDEO_ENCODER_MOTION_SEARCH_H
#define ASFWRITER_VIDEO_ENCODER_MOTION_SEARCH_H

#include "dsp/vc1_mc.h"
#include "video_encoder/half_sample_planes.h"
#include "video_encoder/mv_prediction.h"

#include <cstdint>
#include <vector>

namespace asfw {

struct MotionSearchConfig {
    int complexity = 3;
    int lambda = 4;         // distortion units per bit of the differential
    int mvTable = 0;        // MVDATA table used for the bit costs
    int rnd = 0;            // rounding control of the picture
    bool halfSample = false;  // vectors restricted to half samples
    // Levels 2 and 3: no quarter-sample step when the best half-sample
    // vector's SAD is below this (a residual that codes to next to nothing).
    unsigned quarterStopSad = 0;
};

struct MotionResult {
    Vc1Mv mv;
    unsigned cost = 0;        // distortion + lambda * bits
    unsigned distortion = 0;  // of the chosen vector (SAD or SATD, maybe estimated)
};

class MotionSearch {
public:
    // `cur`: the picture being coded (luma, macroblock-aligned, stride
    // curStride); `ref`: the reference as the decoder will see it (bicubic
    // luma). Interpolates the reference's half-sample planes.
    void begin(const std::uint8_t* cur, std::ptrdiff_t curStride, const Vc1RefView& ref, int mbCols, int mbRows,
               const MotionSearchConfig& config);

    // Best vector for macroblock (mbX, mbY). `pred` is the vector
    // predictor (differentials are priced against it); `candidates` are
    // further starting points (neighbours, the previous picture's vector).
    MotionResult search(int mbX, int mbY, Vc1Mv pred, const Vc1Mv* candidates, int candidateCount);

    // The exact 16x16 luma prediction at `mv`: a pointer into the planes
    // for integer and half-sample vectors within reach (stride set), else
    // interpolated into `scratch` (stride 16). Either way what the decoder
    // predicts.
    const std::uint8_t* predictLuma(int mbX, int mbY, Vc1Mv mv, std::uint8_t* scratch, int& stride) const;

    // Exact SAD of the prediction at `mv`.
    unsigned sadAt(int mbX, int mbY, Vc1Mv mv) const;
    unsigned mvBits(Vc1Mv mv, Vc1Mv pred) const;
    const HalfSamplePlanes& planes() const { return planes_; }

private:
    bool inRange(int mbX, int mbY, Vc1Mv mv) const;
    // Distortion at a quarter-sample vector (in range): read from the
    // planes at half samples, interpolated at quarter samples (into
    // `interp`, 16x16 stride 16, when given).
    unsigned distortion(int mbX, int mbY, Vc1Mv mv, bool satd, std::uint8_t* interp = nullptr) const;
    // One step of `step` quarter samples around the best vector: the eight
    // neighbours, or the four on the axes unless `square`.
    void refine(int mbX, int mbY, Vc1Mv pred, int step, bool satd, bool square, MotionResult& best);

    const std::uint8_t* cur_ = nullptr;
    std::ptrdiff_t curStride_ = 0;
    Vc1RefView ref_;
    int mbCols_ = 0, mbRows_ = 0;
    MotionSearchConfig cfg_;
    HalfSamplePlanes planes_;
    // Bits of one differential component by value (+-511), per class.
    std::vector<std::uint8_t> compClass_;
    std::vector<std::uint8_t> compBits_;
    std::uint8_t symbolBits_[36] = {};
    std::uint8_t escapeBits_ = 0;
    // The interpolation of the best quarter-sample vector the last search
    // scored (buffer quarterBest_), so the prediction at the chosen vector
    // is not interpolated again; the other buffer takes the next candidate.
    alignas(16) std::uint8_t quarter_[2][256] = {};
    int quarterBest_ = 0;
    int quarterMbX_ = -1, quarterMbY_ = -1;
    Vc1Mv quarterMv_;
};

}  // namespace asfw

#endif
