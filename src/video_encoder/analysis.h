// Cheap look-ahead analysis of pictures, for rate control and key-frame
// placement. A picture's luma is halved in both directions and, per 8x8
// block of that small picture (one macroblock of the full one):
//   - the intra cost: SATD against the block's mean (what its AC costs);
//   - the inter cost: SATD of the best block of the previous small picture
//     found by a short motion search, or the intra cost when that is lower.
// The sums stand in for "bits at a fixed quantiser": the rate model scales
// them by what pictures really cost.
//
// The pre-processing pass keeps one FrameStats per picture (12 bytes) and
// plans the bits of the real pass over the whole clip (planBits).
#ifndef ASFWRITER_VIDEO_ENCODER_ANALYSIS_H
#define ASFWRITER_VIDEO_ENCODER_ANALYSIS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "video_encoder/scene_cut.h"

namespace asfw::vc1 {

struct FrameStats {
    std::uint32_t intraCost = 0;
    std::uint32_t interCost = 0;  // == intraCost for the first picture
    std::uint16_t motion = 0;     // mean vector length, sixteenths of a full-size sample
    std::uint16_t flags = 0;      // kFirstPicture
    static constexpr std::uint16_t kFirstPicture = 1;
};

class FrameAnalyser {
public:
    FrameAnalyser(int width, int height);
    // Looks at one picture (full-size luma) after the previous one.
    FrameStats look(const std::uint8_t* luma, std::ptrdiff_t stride);
    // The next picture has no predecessor.
    void reset() { havePrevious_ = false; }

private:
    int blocksX_, blocksY_;  // 8x8 blocks of the small picture
    int smallWidth_, smallHeight_;
    std::vector<std::uint8_t> current_, previous_;
    std::vector<std::int16_t> vectors_;  // per block (x, y) of the previous look
    bool havePrevious_ = false;
};

// What the real pass should spend per picture.
struct PlannedFrame {
    bool key = false;
    bool cut = false;  // a key frame on a scene cut (not for the spacing)
    double bits = 0;   // at the quantiser level that meets the rate with the assumed model
    double cost = 0;   // the cost the rate model scales (intra for key frames)
    double shape = 1;  // relative quantiser step (the real pass scales it)
};

struct PlanSettings {
    std::int64_t frameDuration = 0;   // 100 ns
    double bitrate = 0;               // average bit/s over the clip
    // The bucket the plan must respect (rate 0 = none): CBR's own, or the
    // peak bucket of peak-constrained VBR.
    double bucketRate = 0;
    double bucketBits = 0;
    std::int64_t keySpacing = 0;      // 100 ns, 0 = none
    SceneCutRule sceneCut;
    // Share of complexity kept as quality: 1 = constant quantiser, 0 =
    // constant bits per picture.
    double qcomp = 0.75;
    // Key frames get a quantiser this much finer than the P pictures around.
    double keyRatio = 1.3;
    // Assumed cost of intra against inter bits per unit of SATD (the real
    // pass learns the true figures).
    double intraWeight = 1.0;
};

// Key frames (first picture, scene cuts, maximum spacing) and planned bits
// summing to bitrate x duration, with the planned bucket below 80 % of its
// size where the bucket allows it.
std::vector<PlannedFrame> planBits(const std::vector<FrameStats>& stats, const PlanSettings& settings);

// Leaky bucket: bits arrive with each picture and drain at `rate` between
// picture times. `fullnessAt` is the content just before a picture at
// `time` arrives.
class LeakyBucket {
public:
    LeakyBucket() = default;
    LeakyBucket(double rate, double sizeBits) : rate_(rate), size_(sizeBits) {}
    bool active() const { return rate_ > 0 && size_ > 0; }
    double size() const { return size_; }
    double rate() const { return rate_; }
    double fullnessAt(std::int64_t time) const;
    double roomAt(std::int64_t time) const { return size_ - fullnessAt(time); }
    void add(std::int64_t time, double bits);
    double fullness() const { return fullness_; }  // after the last picture
    double worst() const { return worst_; }

private:
    double rate_ = 0, size_ = 0, fullness_ = 0, worst_ = 0;
    std::int64_t last_ = 0;
    bool started_ = false;
};

}  // namespace asfw::vc1

#endif
