#include "video_encoder/rate_control.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace asfw::vc1 {

namespace {

constexpr double kKeyRatio = 1.3;        // key frames: this much finer than P pictures
constexpr double kQcompOnePass = 0.6;    // constant bit rate, one pass
constexpr double kQcompPeak = 0.8;       // peak-constrained, one pass
// P pictures: step ratio to the previous one, coarser / finer. Finer goes
// slowly: a picture that came out cheap (little motion for a moment) is a
// weak sign, and a quantiser that falls fast overshoots on the next
// pictures and then has to climb back (visible pumping).
constexpr double kMaxPStepChange = 1.5;
constexpr double kMaxPStepFall = 1.2;
constexpr double kFirstKeyShare = 5.0;   // the first key frame: pictures' shares of the rate
constexpr double kMaxKeyShare = 10.0;     // any later key frame (one pass), at most
// How far ahead of its average the stream may run on pictures coded at the
// coarsest quantiser (seconds of the rate, at least two pictures' shares).
constexpr double kAverageSlackSeconds = 0.15;

}  // namespace

namespace {

// The finest step a P picture may take after one at `last`: a ratio, and
// at least the next finer rung of the ladder (the rungs near the bottom
// are further apart than the ratio).
double fallFloor(double last);

}  // namespace

LadderQuant ladderQuant(int index)
{
    index = std::clamp(index, 0, kQuantLadderSize - 1);
    LadderQuant q;
    if (index < 16) {
        q.pqindex = 1 + index / 2;
        q.halfQp = (index & 1) != 0;
    } else {
        q.pqindex = 9 + (index - 16);
    }
    return q;
}

int ladderIndexForStep(double step)
{
    if (!(step > 0)) return 0;
    int best = 0;
    double bestDist = std::numeric_limits<double>::max();
    for (int i = 0; i < kQuantLadderSize; ++i) {
        const double d = std::abs(std::log(step / ladderQuant(i).step()));
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return best;
}

double qualityStep(int quality)
{
    quality = std::clamp(quality, 1, 100);
    // Geometric from step 62 (quality 1) to step 2 (quality 100).
    return 62.0 * std::pow(2.0 / 62.0, (quality - 1) / 99.0);
}

namespace {

double fallFloor(double last)
{
    return std::min(last / kMaxPStepFall, static_cast<double>(ladderQuant(std::max(0, ladderIndexForStep(last) - 1)).step()));
}

}  // namespace

RateSettings rateSettingsFor(const VideoSettings& v, int forcedPqindex, bool halfQp)
{
    RateSettings r;
    r.frameDuration = v.frameDuration > 0 ? v.frameDuration : 400000;
    r.width = v.width;
    r.height = v.height;
    r.bitrate = v.bitrate;
    r.bufferBits = static_cast<double>(v.bitrate) * static_cast<double>(v.bufferWindowMs) / 1000.0;
    r.keySpacing = v.maxKeyFrameSpacing;
    r.fixedHalfQp = halfQp;
    if (forcedPqindex >= 1) {
        r.mode = RateMode::FixedQuantiser;
        r.fixedPqindex = std::min(forcedPqindex, 31);
    } else if (v.vbr && v.passes == 1) {
        r.mode = RateMode::Quality;
        r.quality = static_cast<int>(std::clamp<std::uint32_t>(v.vbrQuality == 0 ? 50 : v.vbrQuality, 1, 100));
    } else if (v.vbr && v.bitrate > 0) {
        r.mode = RateMode::PeakConstrained;
        r.peakRate = v.peakBitrate;
        r.peakBufferBits = static_cast<double>(v.peakBitrate) * static_cast<double>(v.peakBufferMs) / 1000.0;
    } else if (v.bitrate > 0) {
        r.mode = RateMode::ConstantBitrate;
    } else {
        r.mode = RateMode::FixedQuantiser;  // no rate given: a fixed middle quantiser
    }
    return r;
}

RateControl::RateControl(const RateSettings& settings) : s_(settings)
{
    if (s_.mode == RateMode::ConstantBitrate && s_.bufferBits > 0) bucket_ = LeakyBucket(s_.bitrate, s_.bufferBits);
    if (s_.mode == RateMode::PeakConstrained && s_.peakRate > 0 && s_.peakBufferBits > 0)
        peak_ = LeakyBucket(s_.peakRate, s_.peakBufferBits);
}

double RateControl::costOf(const RateFrame& f) const
{
    const double blocks = std::max(1.0, static_cast<double>(s_.width / 16) * static_cast<double>(s_.height / 16));
    // A floor: headers and side information cost bits on flat pictures too.
    return std::max(f.key ? f.intraCost : f.interCost, 8.0 * blocks);
}

double RateControl::modelK(bool key) const
{
    const Model& m = key ? intra_ : inter_;
    if (m.count > 0) return m.k();
    const Model& other = key ? inter_ : intra_;
    if (other.count > 0) return other.k();
    // Before any picture: about 0.7 bit per unit of SATD at step 2 halves
    // with each doubling of the step (measured on the synthetic content).
    return 1.4;
}

double RateControl::roomAt(std::int64_t time) const
{
    double room = std::numeric_limits<double>::infinity();
    // Margins: the file keeps times in milliseconds (one millisecond of
    // drain either way), plus a little for rounding.
    if (bucket_.active())
        room = std::min(room, bucket_.roomAt(time) - 0.005 * bucket_.size() - bucket_.rate() * 0.002);
    if (peak_.active()) room = std::min(room, peak_.roomAt(time) - 0.005 * peak_.size() - peak_.rate() * 0.002);
    return room;
}

double RateControl::amortisationSeconds() const
{
    // The key-frame spacing (1 to 8 s). A file that ends soon after a key
    // frame is that much above the rate (the key frame's excess not yet
    // paid back): a short file's average, not a long one's.
    const double span = s_.keySpacing > 0 ? static_cast<double>(s_.keySpacing) / 1e7 : 10.0;
    return std::clamp(span, 1.0, 8.0);
}

double RateControl::initialStep(const RateFrame& f) const
{
    // The first picture (a key frame) may take a few pictures' share: the
    // bucket starts empty and the P pictures after it predict from it.
    // The model's first guess of bits per unit of cost is rough; refine()
    // codes the picture again when it misses widely.
    const double bitsPerPicture = s_.bitrate * static_cast<double>(s_.frameDuration) / 1e7;
    double target = kFirstKeyShare * bitsPerPicture;
    if (std::isfinite(roomAt(f.time))) target = std::min(target, 0.25 * roomAt(f.time));
    return std::clamp(modelK(true) * costOf(f) / std::max(target, 1.0), 2.0, 62.0);
}

void RateControl::setPlan(std::vector<PlannedFrame> plan)
{
    plan_ = std::move(plan);
    keySums_.assign(plan_.size() + 1, 0.0);
    interSums_.assign(plan_.size() + 1, 0.0);
    for (std::size_t j = 0; j < plan_.size(); ++j) {
        const double v = plan_[j].cost / std::max(plan_[j].shape, 1e-9);
        keySums_[j + 1] = keySums_[j] + (plan_[j].key ? v : 0.0);
        interSums_[j + 1] = interSums_[j] + (plan_[j].key ? 0.0 : v);
    }
    nextKey_.assign(plan_.size(), plan_.size());
    for (std::size_t j = plan_.size(); j-- > 1;) nextKey_[j - 1] = plan_[j].key ? j : nextKey_[j];
}

RateDecision RateControl::start(const RateFrame& f)
{
    RateDecision d;
    d.maxBits = roomAt(f.time);
    if (s_.mode == RateMode::FixedQuantiser) {
        d.quant.pqindex = s_.fixedPqindex;
        d.quant.halfQp = s_.fixedHalfQp && s_.fixedPqindex <= 8;
        d.ladder = ladderIndexForStep(d.quant.step());
        d.targetBits = 0;
        return d;
    }
    if (s_.mode == RateMode::Quality) {
        double step = qualityStep(s_.quality);
        if (f.key) step /= 1.15;
        d.ladder = ladderIndexForStep(step);
        d.quant = ladderQuant(d.ladder);
        d.targetBits = modelK(f.key) * costOf(f) / d.quant.step();
        return d;
    }

    const double frameSeconds = static_cast<double>(s_.frameDuration) / 1e7;
    const double perFrame = s_.bitrate * frameSeconds;
    const double k = modelK(f.key);
    const double cost = costOf(f);
    const double elapsed = pictures_ == 0 ? 0.0 : static_cast<double>(f.time - firstTime_) / 1e7;
    double step;
    const PlannedFrame* p = planned(f.index);
    if (p != nullptr) {
        // Two passes: the planned shape of the quantiser, scaled so that
        // the model's bits of the pictures ahead meet what is left of the
        // budget: over the next two buffer windows up to and with the next
        // key frame (constant bit rate: the model's figures hold within a
        // scene, and the pictures before a key frame make room for it) or
        // the rest of the clip (peak-constrained).
        const std::size_t j = static_cast<std::size_t>(f.index);
        std::size_t end = plan_.size();
        double budget;
        if (s_.mode == RateMode::ConstantBitrate) {
            const double window = std::max(1.0, 2.0 * s_.bufferBits / s_.bitrate);
            end = std::min(end, j + std::max<std::size_t>(1, static_cast<std::size_t>(window / frameSeconds)));
            end = std::min(end, nextKey_[j] + 1);
            budget = s_.bitrate * (elapsed + static_cast<double>(end - j) * frameSeconds) - total_;
        } else {
            budget = s_.bitrate * static_cast<double>(plan_.size()) * frameSeconds - total_;
        }
        const double span = static_cast<double>(end - j) * perFrame;
        budget = std::clamp(budget, 0.25 * span, 4.0 * span);
        const double expected = modelK(true) * (keySums_[end] - keySums_[j]) + modelK(false) * (interSums_[end] - interSums_[j]);
        step = expected / budget * p->shape;
        // The model's figures drift within a scene (the stream fell 15 %
        // short of the plan over a whole key-frame interval): correct by
        // how far the stream is off the plan so far.
        step *= std::clamp(1.0 + (total_ - planned_) / (3.0 * s_.bitrate), 0.67, 1.5);
        if (!f.key && lastPStep_ > 0) step = std::clamp(step, fallFloor(lastPStep_), lastPStep_ * kMaxPStepChange);
        // A key frame within a scene stays near the P pictures' quantiser
        // (bits saved up for it are spent on the pictures after it).
        // The first picture: at least as fine as one pass would start (the
        // plan's first key frame came out at a few pictures' shares, and
        // the first second's pictures were the clip's worst).
        if (pictures_ == 0) step = std::min(step, initialStep(f));
        if (f.key && f.required && lastPStep_ > 0 && !p->cut)
            step = std::clamp(step, lastPStep_ / (kKeyRatio * kMaxPStepChange), lastPStep_ * kMaxPStepChange);
        d.targetBits = k * cost / step;
    } else {
        // One pass: step = C * blur^(1 - qcomp), C such that the expected
        // P-picture bits leave room for the key frames' excess, times a
        // correction from the deviation from the bit rate so far.
        const double qcomp = s_.mode == RateMode::ConstantBitrate ? kQcompOnePass : kQcompPeak;
        const double pcost = std::max(f.interCost, 1.0);
        const double blur = (blurSum_ * 0.5 + pcost) / (blurWeight_ * 0.5 + 1.0);
        const double shape = std::pow(blur, 1.0 - qcomp);
        double unit;  // expected P bits at C = 1
        if (unitWeight_ > 0)
            unit = unitSum_ / unitWeight_;
        else
            unit = modelK(false) * std::max(pcost, cost) / shape;
        // A key frame's excess over a P picture's share is paid back over
        // the key-frame spacing (the P pictures' shares are that much
        // smaller); the correction then sees only what the stream is off
        // that course (repaying a key frame within a second made the
        // quantiser swing after every key frame, and the stream fell
        // short where a clip turned easy after one).
        const double span = amortisationSeconds();
        const double keyShare = std::clamp(keyExcess_ / (s_.bitrate * span), 0.0, 0.6);
        const double pBits = perFrame * (1.0 - keyShare);
        const double c = unit / pBits;
        const double sinceKey = static_cast<double>(f.time - lastKeyTime_) / 1e7;
        const double course = keyExcess_ * std::max(0.0, 1.0 - sinceKey / span);
        const double wanted = s_.bitrate * elapsed + course;
        const double tau = s_.mode == RateMode::ConstantBitrate ? 1.0 : 2.0;
        const double overflow = std::clamp(1.0 + (total_ - wanted) / (s_.bitrate * tau), 0.5, 2.0);
        step = c * shape * overflow;
        if (f.key) step /= kKeyRatio;
        if (pictures_ == 0) step = initialStep(f);
        if (!f.key && lastPStep_ > 0) step = std::clamp(step, fallFloor(lastPStep_), lastPStep_ * kMaxPStepChange);
        // A key frame takes at most a few pictures' shares: a still scene
        // coded at a fine quantiser made one take 23, which the stream
        // then owed for seconds (and still owed where the file ended).
        if (f.key && intra_.count > 0) step = std::max(step, k * cost / (kMaxKeyShare * perFrame));
        d.targetBits = k * cost / step;
    }
    if (!(f.key && f.required)) {
        // Against the rate; peak-constrained VBR against the plan where
        // that runs ahead of the rate (a clip harder there than on
        // average).
        const double slack = std::max(2.0 * perFrame, kAverageSlackSeconds * s_.bitrate);
        const bool planAhead = p != nullptr && s_.mode == RateMode::PeakConstrained;
        const double course = std::max(s_.bitrate * elapsed, planAhead ? planned_ : 0.0);
        d.averageMaxBits = std::max(perFrame, planAhead ? p->bits : 0.0) + slack - (total_ - course);
    }
    // Stay well inside the buckets: a picture predicted above 85 % of the
    // room gets a coarser quantiser.
    if (std::isfinite(d.maxBits)) {
        const double allowed = std::max(1.0, 0.85 * d.maxBits);
        if (k * cost / step > allowed) step = k * cost / allowed;
        // The bucket more than half full: coarser in proportion.
        const LeakyBucket& b = bucket_.active() ? bucket_ : peak_;
        const double level = b.fullnessAt(f.time) / b.size();
        if (level > 0.5) step *= 1.0 + 2.0 * (level - 0.5);
    }
    d.ladder = ladderIndexForStep(step);
    d.quant = ladderQuant(d.ladder);
    if (d.targetBits <= 0) d.targetBits = k * cost / d.quant.step();
    return d;
}

bool RateControl::hopeless(const RateDecision& d, const RateFrame& f) const
{
    if (s_.mode != RateMode::ConstantBitrate && s_.mode != RateMode::PeakConstrained) return false;
    if (!d.atCoarsest()) return false;
    // Only with a model that has seen enough pictures of the kind.
    if ((f.key ? intra_.count : inter_.count) < 3) return false;
    const double coarsest = ladderQuant(kQuantLadderSize - 1).step();
    const double expected = modelK(f.key) * costOf(f) / coarsest;
    const double limit = std::min(d.maxBits, d.averageMaxBits);
    return expected > 1.5 * limit;
}

bool RateControl::coarser(RateDecision& d, double bits) const
{
    if (d.ladder >= kQuantLadderSize - 1) return false;
    const double ratio = d.maxBits > 0 ? bits / d.maxBits : 4.0;
    const int next = std::max(d.ladder + 1, ladderIndexForStep(d.quant.step() * ratio * 1.2));
    d.ladder = std::min(next, kQuantLadderSize - 1);
    d.quant = ladderQuant(d.ladder);
    return true;
}

bool RateControl::refine(RateDecision& d, double bits) const
{
    if (d.refined || d.targetBits <= 0) return false;
    if (s_.mode == RateMode::FixedQuantiser || s_.mode == RateMode::Quality) return false;
    if (intra_.count + inter_.count > 0) return false;
    const double ratio = bits / d.targetBits;
    if (ratio < 1.5 && ratio > 1.0 / 1.5) return false;
    const int next = ladderIndexForStep(d.quant.step() * ratio);
    if (next == d.ladder) return false;
    d.ladder = next;
    d.quant = ladderQuant(next);
    d.refined = true;
    return true;
}

void RateControl::end(const RateFrame& f, const RateDecision& d, double bits, bool learn)
{
    const double cost = costOf(f);
    const double step = d.quant.step();
    if (learn && bits > 0) (f.key ? intra_ : inter_).add(bits * step / cost, f.key ? 0.5 : 0.6);
    if (pictures_ == 0) firstTime_ = f.time;
    if (bucket_.active()) bucket_.add(f.time, bits);
    if (peak_.active()) peak_.add(f.time, bits);
    total_ += bits;
    if (const PlannedFrame* p = planned(f.index)) planned_ += p->bits;

    if (learn && (s_.mode == RateMode::ConstantBitrate || s_.mode == RateMode::PeakConstrained)) {
        const double frameSeconds = static_cast<double>(s_.frameDuration) / 1e7;
        const double perFrame = s_.bitrate * frameSeconds;
        const double qcomp = s_.mode == RateMode::ConstantBitrate ? kQcompOnePass : kQcompPeak;
        const double pcost = std::max(f.interCost, 1.0);
        blurSum_ = blurSum_ * 0.5 + pcost;
        blurWeight_ = blurWeight_ * 0.5 + 1.0;
        const double shape = std::pow(blurSum_ / blurWeight_, 1.0 - qcomp);
        if (!f.key) {
            unitSum_ = unitSum_ * 0.9 + modelK(false) * cost / shape;
            unitWeight_ = unitWeight_ * 0.9 + 1.0;
            lastPStep_ = step;
        } else {
            // What key frames take beyond a P picture's share, over the
            // key-frame spacing.
            keyExcess_ = std::max(0.0, bits - perFrame);
            lastKeyTime_ = f.time;
            // The P pictures after the first key frame start near its
            // quantiser (not at the model's first guess).
            if (lastPStep_ <= 0) lastPStep_ = step * kKeyRatio;
        }
    }
    ++pictures_;
}

}  // namespace asfw::vc1
