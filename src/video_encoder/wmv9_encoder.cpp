// The Windows Media Video 9 encoder on the media-encoder seam.
#include "video_encoder/wmv9_encoder.h"

#include "bitwriter/bit_writer.h"

namespace asfw {

namespace {

std::uint32_t clampU(std::int64_t v, std::int64_t lo, std::int64_t hi)
{
    return static_cast<std::uint32_t>(v < lo ? lo : (v > hi ? hi : v));
}

class Wmv9Encoder final : public MediaEncoder {
public:
    explicit Wmv9Encoder(const VideoSettings& s) : settings_(s) {}

    std::vector<std::uint8_t> codecData() const override { return wmv9SequenceHeader(settings_); }
    bool analyse(const std::uint8_t*, std::size_t size, std::int64_t) override { return size == frameBytes(); }
    void endAnalysis() override {}
    bool encode(const std::uint8_t* data, std::size_t size, std::int64_t time, MediaObjects& out) override
    {
        if (data == nullptr || size != frameBytes()) {
            error_ = "frame size does not match the stream";
            return false;
        }
        MediaObject object;
        BitWriter w;
        w.put(0, 2);  // FRMCNT
        w.put(0, 1);  // PTYPE: I
        w.put(0, 7);  // BF
        w.put(8, 5);  // PQINDEX
        object.data = w.take();
        object.presentationTime = time;
        object.duration = settings_.frameDuration;
        object.keyFrame = true;
        out.push_back(std::move(object));
        return true;
    }
    bool flush(MediaObjects&) override { return true; }
    std::string lastError() const override { return error_; }

private:
    std::size_t frameBytes() const
    {
        return static_cast<std::size_t>(settings_.width) * static_cast<std::size_t>(settings_.height) * 3 / 2;
    }
    VideoSettings settings_;
    std::string error_;
};

}  // namespace

std::vector<std::uint8_t> wmv9SequenceHeader(const VideoSettings& settings)
{
    const double fps = settings.frameDuration > 0 ? 1e7 / static_cast<double>(settings.frameDuration) : 30.0;
    const std::uint32_t frmrtq = clampU(static_cast<std::int64_t>((fps - 2.0) / 4.0), 0, 7);
    const std::uint32_t bitrtq = clampU((static_cast<std::int64_t>(settings.bitrate / 1000) - 32) / 64, 0, 31);
    BitWriter w;
    w.put(1, 2);       // PROFILE: main
    w.put(0, 1);       // RES_Y411
    w.put(0, 1);       // RES_SPRITE
    w.put(frmrtq, 3);  // FRMRTQ_POSTPROC
    w.put(bitrtq, 5);  // BITRTQ_POSTPROC
    w.put(0, 1);       // LOOPFILTER
    w.put(0, 1);       // RES_X8
    w.put(0, 1);       // MULTIRES
    w.put(1, 1);       // RES_FASTTX
    w.put(0, 1);       // FASTUVMC
    w.put(0, 1);       // EXTENDED_MV
    w.put(0, 2);       // DQUANT
    w.put(0, 1);       // VSTRANSFORM
    w.put(0, 1);       // RES_TRANSTAB
    w.put(0, 1);       // OVERLAP
    w.put(0, 1);       // SYNCMARKER
    w.put(0, 1);       // RANGERED
    w.put(0, 3);       // MAXBFRAMES
    w.put(1, 2);       // QUANTIZER: explicit
    w.put(0, 1);       // FINTERPFLAG
    w.put(1, 1);       // RES_RTM_FLAG
    return w.take();
}

std::unique_ptr<MediaEncoder> createWmv9Encoder(const VideoSettings& settings, std::string* error)
{
    auto fail = [&](const char* why) -> std::unique_ptr<MediaEncoder> {
        if (error != nullptr) *error = why;
        return nullptr;
    };
    if (settings.width <= 0 || settings.height <= 0) return fail("frame size must be positive");
    if ((settings.width & 1) != 0 || (settings.height & 1) != 0) return fail("frame width and height must be even");
    if (settings.width > 4096 || settings.height > 4096) return fail("frame size above 4096x4096");
    if (settings.frameDuration <= 0) return fail("frame duration must be positive");
    return std::make_unique<Wmv9Encoder>(settings);
}

}  // namespace asfw
