// The Windows Media Video 9 encoder on the media-encoder seam.
#include "video_encoder/wmv9_encoder.h"

#include <algorithm>
#include <cmath>

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
    : settings_(settings), options_(options), sequence_(vc1::sequenceHeaderFor(settings, options)), inter_(settings)
{
    source_.allocate(settings.width, settings.height);
    recon_.allocate(settings.width, settings.height);
    trace_ = options.traceTarget.empty() ? vc1::traceTarget() : options.traceTarget;
    if (settings.bitrate > 0 && settings.frameDuration > 0) {
        targetBits_ = static_cast<double>(settings.bitrate) * static_cast<double>(settings.frameDuration) / 1e7;
        // Starting point from bits per pixel of an intra picture.
        const double bpp = targetBits_ / (static_cast<double>(settings.width) * settings.height);
        ratePqindex_ = bpp > 2.0 ? 2 : bpp > 1.2 ? 3 : bpp > 0.8 ? 4 : bpp > 0.5 ? 6 : bpp > 0.3 ? 9
                     : bpp > 0.2 ? 12 : bpp > 0.12 ? 16 : bpp > 0.07 ? 22 : 28;
    }
}

std::vector<std::uint8_t> Wmv9Encoder::codecData() const { return vc1::sequenceHeaderBytes(sequence_); }

bool Wmv9Encoder::analyse(const std::uint8_t* data, std::size_t size, std::int64_t)
{
    return data != nullptr && size == frameBytes(settings_);
}

int Wmv9Encoder::nextPqindex() const
{
    if (options_.pqindex >= 1) return std::min(options_.pqindex, 31);
    return ratePqindex_;
}

void Wmv9Encoder::updateRate(std::uint64_t bits)
{
    if (options_.pqindex >= 1 || targetBits_ <= 0) return;
    const double ratio = static_cast<double>(bits) / targetBits_;
    int step = 0;
    if (ratio > 1.6)
        step = 2;
    else if (ratio > 1.15)
        step = 1;
    else if (ratio < 0.6)
        step = -2;
    else if (ratio < 0.85)
        step = -1;
    ratePqindex_ = std::clamp(ratePqindex_ + step, 1, 31);
}

bool Wmv9Encoder::encode(const std::uint8_t* data, std::size_t size, std::int64_t time, MediaObjects& out)
{
    if (data == nullptr || size != frameBytes(settings_)) {
        error_ = "frame size does not match the stream";
        return false;
    }
    source_.loadI420(data);

    const int pqindex = nextPqindex();
    const bool uniform = options_.uniform != 0;
    vc1::IntraPictureOptions pic;
    pic.quant = vc1::makePictureQuant(sequence_.quantizer, pqindex, options_.halfQp, uniform);
    pic.lumaSetIndex = options_.lumaSetIndex;
    pic.chromaSetIndex = options_.chromaSetIndex;
    pic.dcTable = options_.dcTable;
    pic.acPrediction = options_.acPrediction;
    pic.tuning = options_.tuning;
    pic.frameCount = static_cast<int>(pictures_ & 3);

    MediaObject object;
    // P picture unless a key frame is due; a scene cut falls back to I.
    const bool key = options_.intraOnly || inter_.keyDue(time) || !inter_.encodeP(sequence_, source_, pic.quant, recon_, object.data);
    if (!key) {
        // (the P picture is in object.data, its reconstruction in recon_)
    } else if (!trace_.empty()) {
        vc1::TracingWriter tw;
        object.data = vc1::encodeIntraPicture(sequence_, source_, pic, recon_, &lastInfo_, &tw);
        vc1::emitTrace(trace_, "picture " + std::to_string(pictures_) + " I\n" + tw.format());
    } else {
        object.data = vc1::encodeIntraPicture(sequence_, source_, pic, recon_, &lastInfo_, nullptr);
    }
    inter_.pictureDone(recon_, key, time);
    lastKey_ = key;
    recon_.luma.extendFrom(settings_.width, settings_.height);
    recon_.cb.extendFrom(settings_.width / 2, settings_.height / 2);
    recon_.cr.extendFrom(settings_.width / 2, settings_.height / 2);
    lastQuant_ = pic.quant;
    updateRate(object.data.size() * 8);

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
