// Rate control of the WMV9 encoder, bracketed per picture:
//   start(picture)        -> the quantiser (PQINDEX, HALFQP) and the bit limit
//   fits / coarser        -> a picture that would break a bucket is coded again coarser
//   end(picture, bits)    -> the model learns what the picture really cost
//
// The model: bits = k * cost / step per picture type (I, P), where cost is
// the analysis cost of the picture (analysis.h) and step the AC quantiser
// step 2*PQUANT+HALFQP; k is a decaying average of what pictures cost.
//
// Modes (from the stream's settings):
//  - constant bit rate: the average follows the bit rate; the leaky bucket
//    of that rate and the buffer window never overflows;
//  - quality: a quantiser from the quality level 1..100, rate free;
//  - peak-constrained: the average follows the bit rate over the clip; the
//    peak bucket (peak rate x peak window) never overflows.
// With a plan from the pre-processing pass the constant-bit-rate and
// peak-constrained modes follow the planned bits per picture; without one
// they work in one pass from the blurred complexity of recent pictures.
#ifndef ASFWRITER_VIDEO_ENCODER_RATE_CONTROL_H
#define ASFWRITER_VIDEO_ENCODER_RATE_CONTROL_H

#include <cstdint>
#include <limits>
#include <vector>

#include "codec/media_encoder.h"
#include "video_encoder/analysis.h"

namespace asfw::vc1 {

enum class RateMode { FixedQuantiser, ConstantBitrate, Quality, PeakConstrained };

// The quantisers the rate control chooses from, finest first: PQINDEX 1..8
// with and without HALFQP (steps 2..17), then PQINDEX 9..31 (steps 18..62).
constexpr int kQuantLadderSize = 39;
struct LadderQuant {
    int pqindex = 1;
    bool halfQp = false;
    int step() const { return 2 * pqindex + (halfQp ? 1 : 0); }
};
LadderQuant ladderQuant(int index);
// The ladder entry nearest to `step` (geometrically).
int ladderIndexForStep(double step);

// The quantiser step a quality level 1..100 asks for (decreasing in quality).
double qualityStep(int quality);

struct RateSettings {
    RateMode mode = RateMode::FixedQuantiser;
    int fixedPqindex = 6;
    bool fixedHalfQp = false;
    std::int64_t frameDuration = 400000;  // 100 ns
    double bitrate = 0;                   // bit/s
    double bufferBits = 0;                // constant bit rate: rate x window
    double peakRate = 0;                  // peak-constrained
    double peakBufferBits = 0;
    int quality = 0;                      // 1..100
    int width = 0, height = 0;
    std::int64_t keySpacing = 0;          // 100 ns
};

// The mode and figures a stream's settings ask for. `forcedPqindex` 1..31
// fixes the quantiser whatever the settings.
RateSettings rateSettingsFor(const VideoSettings& settings, int forcedPqindex, bool halfQp);

// What the rate control needs to know of a picture before coding it.
struct RateFrame {
    bool key = false;
    std::int64_t time = 0;    // 100 ns
    double intraCost = 0;     // analysis costs
    double interCost = 0;
    std::int64_t index = -1;  // picture number (plan lookup), -1 = none
    // A key frame the stream needs (the first picture, the maximum
    // spacing, a scene cut): only the buckets limit it, not the average.
    bool required = false;
};

struct RateDecision {
    int ladder = 0;
    LadderQuant quant;
    double targetBits = 0;
    double maxBits = 0;  // the buckets' room for this picture
    // At the coarsest quantiser (constant bit rate, peak-constrained): a
    // picture above this would put the stream ahead of its average by more
    // than a little; it goes out as an all-skipped repeat instead, so that
    // content no quantiser brings down to the rate drops pictures rather
    // than sit at a full bucket (which overshoots the average by the
    // bucket's size over the file).
    double averageMaxBits = std::numeric_limits<double>::infinity();
    bool refined = false;
    bool atCoarsest() const { return ladder >= kQuantLadderSize - 1; }
};

class RateControl {
public:
    explicit RateControl(const RateSettings& settings);

    const RateSettings& settings() const { return s_; }
    // The plan of the pre-processing pass, one entry per picture.
    void setPlan(std::vector<PlannedFrame> plan);
    bool hasPlan() const { return !plan_.empty(); }
    const PlannedFrame* planned(std::int64_t index) const
    {
        return index >= 0 && static_cast<std::size_t>(index) < plan_.size() ? &plan_[static_cast<std::size_t>(index)] : nullptr;
    }

    RateDecision start(const RateFrame& frame);
    // False when a picture of `bits` would overflow a bucket, or run ahead
    // of the average at the coarsest quantiser.
    bool fits(const RateDecision& d, double bits) const
    {
        return bits <= d.maxBits && !(d.atCoarsest() && bits > d.averageMaxBits);
    }
    // True when the model expects even the coarsest quantiser not to fit:
    // the picture can go out as an all-skipped repeat without coding it.
    bool hopeless(const RateDecision& d, const RateFrame& frame) const;
    // A coarser quantiser for a picture that came out at `bits` and did
    // not fit; false when the coarsest is already in use.
    bool coarser(RateDecision& d, double bits) const;
    // Before the model knows a picture type: a better quantiser when the
    // picture missed its target widely (once per picture).
    bool refine(RateDecision& d, double bits) const;
    // `learn` false: the picture is not what the model describes (an
    // all-skipped repeat); only the buckets and totals take its bits.
    void end(const RateFrame& frame, const RateDecision& d, double bits, bool learn = true);

    // Figures so far (bits, fullness in bits).
    const LeakyBucket& bucket() const { return bucket_; }
    const LeakyBucket& peakBucket() const { return peak_; }
    double totalBits() const { return total_; }
    std::int64_t pictures() const { return pictures_; }

private:
    struct Model {
        double sum = 0, weight = 0;
        int count = 0;
        double k() const { return sum / weight; }
        void add(double value, double decay)
        {
            sum = sum * decay + value;
            weight = weight * decay + 1;
            ++count;
        }
    };
    double costOf(const RateFrame& f) const;
    double modelK(bool key) const;
    double roomAt(std::int64_t time) const;
    double initialStep(const RateFrame& f) const;
    double amortisationSeconds() const;

    RateSettings s_;
    std::vector<PlannedFrame> plan_;
    // Prefix sums over the plan of cost / shape, key frames and P pictures.
    std::vector<double> keySums_, interSums_;
    std::vector<std::size_t> nextKey_;  // first key frame after each picture (size() when none)
    Model intra_, inter_;
    LeakyBucket bucket_, peak_;
    double total_ = 0;
    double planned_ = 0;          // planned bits of the pictures coded so far
    std::int64_t firstTime_ = 0;
    std::int64_t pictures_ = 0;
    // One pass: blurred P complexity, expected bits at unit scale, key share.
    double blurSum_ = 0, blurWeight_ = 0;
    double unitSum_ = 0, unitWeight_ = 0;
    double keyExcess_ = 0;
    std::int64_t lastKeyTime_ = 0;
    double lastPStep_ = 0;
};

}  // namespace asfw::vc1

#endif
