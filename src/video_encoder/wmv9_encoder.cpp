// The Windows Media Video 9 encoder on the media-encoder seam.
#include "video_encoder/wmv9_encoder.h"

#include <algorithm>
#include <cmath>

#include "video_encoder/rate_control_skip.h"
#include "video_encoder/vc1_encoder.h"

namespace asfw {

namespace vc1 {

SequenceHeader sequenceHeaderFor(const VideoSettings& settings, const Wmv9EncoderOptions& options)
{
    SequenceHeader h;
    const double fps = settings.frameDuration > 0 ? 1e7 / static_cast<double>(settings.frameDuration) : 30.0;
    h.frameRateQ = std::clamp(static_cast<int>((fps - 2.0) / 4.0), 0, 7);
    h.bitRateQ = std::clamp((static_cast<int>(settings.bitrate / 1000) - 32) / 64, 0, 31);
    h.loopFilter = options.loopFilter;
    h.fastUvMc = options.fastUvMc;
    h.quantizer = options.quantizer;
    return h;
}

}  // namespace vc1

namespace {

std::size_t frameBytes(const VideoSettings& s)
{
    return static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height) * 3 / 2;
}

}  // namespace

Wmv9Encoder::Wmv9Encoder(const VideoSettings& settings, const Wmv9EncoderOptions& options)
    : settings_(settings), options_(options), sequence_(vc1::sequenceHeaderFor(settings, options)), inter_(settings),
      rate_(vc1::rateSettingsFor(settings, options.pqindex, options.halfQp)), analyser_(settings.width, settings.height),
      cutRule_(vc1::sceneCutRuleFor(settings.frameDuration))
{
    source_.allocate(settings.width, settings.height);
    recon_.allocate(settings.width, settings.height);
    trace_ = options.traceTarget.empty() ? vc1::traceTarget() : options.traceTarget;
    inter_.setCallerSceneCuts(true);  // encode() looks for them on the source pictures
}

std::vector<std::uint8_t> Wmv9Encoder::codecData() const { return vc1::sequenceHeaderBytes(sequence_); }

bool Wmv9Encoder::analyse(const std::uint8_t* data, std::size_t size, std::int64_t)
{
    if (data == nullptr || size != frameBytes(settings_)) {
        error_ = "frame size does not match the stream";
        return false;
    }
    if (analysisEnded_ || pictures_ > 0) {
        error_ = "the pre-processing pass comes before the real pass, once";
        return false;
    }
    stats_.push_back(analyser_.look(data, settings_.width));
    return true;
}

void Wmv9Encoder::endAnalysis()
{
    if (analysisEnded_ || pictures_ > 0) return;
    analysisEnded_ = true;
    analyser_.reset();
    const vc1::RateSettings& rs = rate_.settings();
    if (stats_.empty() || rs.mode == vc1::RateMode::FixedQuantiser) return;
    vc1::PlanSettings ps;
    ps.frameDuration = settings_.frameDuration;
    ps.bitrate = rs.bitrate;
    if (rs.mode == vc1::RateMode::ConstantBitrate) {
        ps.bucketRate = rs.bitrate;
        ps.bucketBits = rs.bufferBits;
    } else if (rs.mode == vc1::RateMode::PeakConstrained) {
        ps.bucketRate = rs.peakRate;
        ps.bucketBits = rs.peakBufferBits;
    }
    ps.keySpacing = settings_.maxKeyFrameSpacing > 0 ? settings_.maxKeyFrameSpacing : vc1::InterSequence::kDefaultKeySpacing;
    ps.sceneCut = cutRule_;
    // Quality mode uses the plan's key frames only.
    if (ps.bitrate <= 0) ps.bitrate = 1;
    rate_.setPlan(vc1::planBits(stats_, ps));
}

bool Wmv9Encoder::encode(const std::uint8_t* data, std::size_t size, std::int64_t time, MediaObjects& out)
{
    if (data == nullptr || size != frameBytes(settings_)) {
        error_ = "frame size does not match the stream";
        return false;
    }
    source_.loadI420(data);

    // This picture's costs: from the pre-processing pass, or a quick look now.
    const vc1::PlannedFrame* plan = rate_.planned(pictures_);
    const bool fromPass = static_cast<std::size_t>(pictures_) < stats_.size();
    const vc1::FrameStats st = fromPass ? stats_[static_cast<std::size_t>(pictures_)] : analyser_.look(data, settings_.width);
    ++sinceKey_;
    // Key frames: the first, at the maximum spacing, on scene cuts (the
    // plan's, or this picture's own look).
    bool key = options_.intraOnly || inter_.keyDue(time);
    if (!key)
        key = plan != nullptr ? plan->key : vc1::isSceneCut(st.intraCost, st.interCost, sinceKey_, cutRule_, previousRatio_);
    previousRatio_ = (st.flags & vc1::FrameStats::kFirstPicture) != 0 ? 0.0 : vc1::interToIntraRatio(st.intraCost, st.interCost);

    const bool uniform = options_.uniform != 0;
    vc1::IntraPictureOptions pic;
    pic.lumaSetIndex = options_.lumaSetIndex;
    pic.chromaSetIndex = options_.chromaSetIndex;
    pic.dcTable = options_.dcTable;
    pic.acPrediction = options_.acPrediction;
    pic.tuning = options_.tuning;
    pic.frameCount = static_cast<int>(pictures_ & 3);

    vc1::RateFrame rf;
    rf.key = key;
    rf.time = time;
    rf.intraCost = st.intraCost;
    rf.interCost = st.interCost;
    rf.index = pictures_;
    rf.required = key;
    vc1::RateDecision d = rate_.start(rf);
    MediaObject object;
    bool pCoded = false;  // a P picture of this time has flipped the rounding control
    bool skipped = false;
    // Content far above the rate at the coarsest quantiser: no need to code
    // a picture only to drop it.
    bool drop = pictures_ > 0 && rate_.hopeless(d, rf);
    for (;;) {
        if (drop) {
            // Repeat the previous picture with an all-skipped P picture.
            pic.quant = vc1::makePictureQuant(sequence_.quantizer, d.quant.pqindex, d.quant.halfQp, uniform);
            if (!pCoded) inter_.flipRounding();
            object.data = vc1::encodeSkippedPicture(sequence_, pic.quant, source_.mbWidth, source_.mbHeight);
            recon_ = inter_.reference();
            key = false;
            skipped = true;
            break;
        }
        pic.quant = vc1::makePictureQuant(sequence_.quantizer, d.quant.pqindex, d.quant.halfQp, uniform);
        if (!key) {
            if (pCoded) inter_.flipRounding();
            pCoded = inter_.encodeP(sequence_, source_, pic.quant, recon_, object.data);
            if (!pCoded) {
                // A picture the P picture coder finds mostly intra: an I
                // picture (not one the stream requires).
                key = true;
                rf.key = true;
                d = rate_.start(rf);
                continue;
            }
        } else if (!trace_.empty()) {
            vc1::TracingWriter tw;
            object.data = vc1::encodeIntraPicture(sequence_, source_, pic, recon_, &lastInfo_, &tw);
            vc1::emitTrace(trace_, "picture " + std::to_string(pictures_) + " I\n" + tw.format());
        } else {
            object.data = vc1::encodeIntraPicture(sequence_, source_, pic, recon_, &lastInfo_, nullptr);
        }
        const double bits = static_cast<double>(object.data.size()) * 8.0;
        if (rate_.refine(d, bits)) continue;
        if (rate_.fits(d, bits)) break;
        if (rate_.coarser(d, bits)) continue;
        // Even the coarsest quantiser does not fit: repeat the previous
        // picture (the first picture goes out as it is).
        if (pictures_ == 0) break;
        drop = true;
    }
    if (key) sinceKey_ = 0;
    inter_.pictureDone(recon_, key, time);
    lastKey_ = key;
    recon_.luma.extendFrom(settings_.width, settings_.height);
    recon_.cb.extendFrom(settings_.width / 2, settings_.height / 2);
    recon_.cr.extendFrom(settings_.width / 2, settings_.height / 2);
    lastQuant_ = pic.quant;
    rf.key = key;
    rate_.end(rf, d, static_cast<double>(object.data.size()) * 8.0, !skipped);
    if (skipped) ++skipped_;

    object.presentationTime = time;
    object.duration = settings_.frameDuration;
    object.keyFrame = key;
    out.push_back(std::move(object));
    ++pictures_;
    return true;
}

bool Wmv9Encoder::flush(MediaObjects&) { return true; }

void Wmv9Encoder::setPictureOptions(const Wmv9EncoderOptions& options)
{
    const Wmv9EncoderOptions sequenceLevel = options_;
    options_ = options;
    options_.quantizer = sequenceLevel.quantizer;
    options_.fastUvMc = sequenceLevel.fastUvMc;
    options_.loopFilter = sequenceLevel.loopFilter;
}

std::unique_ptr<Wmv9Encoder> createWmv9EncoderWithOptions(const VideoSettings& settings,
                                                          const Wmv9EncoderOptions& options, std::string* error)
{
    auto fail = [&](const char* why) -> std::unique_ptr<Wmv9Encoder> {
        if (error != nullptr) *error = why;
        return nullptr;
    };
    if (settings.width <= 0 || settings.height <= 0) return fail("frame size must be positive");
    if ((settings.width & 1) != 0 || (settings.height & 1) != 0) return fail("frame width and height must be even");
    if (settings.width > 4096 || settings.height > 4096) return fail("frame size above 4096x4096");
    if (settings.frameDuration <= 0) return fail("frame duration must be positive");
    if (options.pqindex < 0 || options.pqindex > 31) return fail("PQINDEX out of range");
    if (options.lumaSetIndex > 2 || options.chromaSetIndex > 2 || options.dcTable > 1)
        return fail("coding set index out of range");
    return std::make_unique<Wmv9Encoder>(settings, options);
}

std::vector<std::uint8_t> wmv9SequenceHeader(const VideoSettings& settings)
{
    return vc1::sequenceHeaderBytes(vc1::sequenceHeaderFor(settings, Wmv9EncoderOptions()));
}

std::unique_ptr<MediaEncoder> createWmv9Encoder(const VideoSettings& settings, std::string* error)
{
    return createWmv9EncoderWithOptions(settings, Wmv9EncoderOptions(), error);
}

}  // namespace asfw
