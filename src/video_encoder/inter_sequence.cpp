// Picture types, reference and rounding control of the P picture side.
#include "video_encoder/inter_sequence.h"

#include <algorithm>

namespace asfw::vc1 {

InterSequence::InterSequence(const VideoSettings& settings)
    : keySpacing_(settings.maxKeyFrameSpacing > 0 ? settings.maxKeyFrameSpacing : kDefaultKeySpacing),
      complexity_(settings.complexity < 0 ? 0 : (settings.complexity > 5 ? 5 : settings.complexity))
{
    ref_.allocate(settings.width, settings.height);
}

bool InterSequence::keyDue(std::int64_t time) const
{
    return !haveReference_ || time - lastKeyTime_ >= keySpacing_;
}

bool InterSequence::encodeP(const SequenceHeader& seq, const Frame& src, const PictureQuant& quant, Frame& recon,
                            std::vector<std::uint8_t>& out)
{
    if (!haveReference_) return false;
    // Tools the P picture coder does not mirror (deblocking, overlap
    // smoothing, macroblock quantisers, range reduction, resolution
    // changes, B pictures): intra pictures only.
    if (seq.loopFilter || seq.overlap || seq.dquant != 0 || seq.rangeReduction || seq.multiRes || seq.maxBFrames > 0)
        return false;
    PPictureOptions options;
    options.complexity = complexity_;
    options.rnd = rnd_ ^ 1;
    options.quant = quant;
    options.measureActivity = !callerSceneCuts_;  // only the distortion rule below needs it
    std::vector<std::uint8_t> bits = coder_.encode(src, ref_, recon, seq, options);
    // Scene cut: most macroblocks found no usable prediction, or the
    // motion-compensated distortion is close to the pictures' own activity
    // (what intra coding has to spend bits on).
    const int total = src.mbWidth * src.mbHeight;
    if (2 * coder_.stats().intra > total ||
        (!callerSceneCuts_ && coder_.interDistortion() * 10 > coder_.intraActivity() * 7)) {
        ++scenecuts_;
        return false;
    }
    rnd_ ^= 1;
    out.swap(bits);
    return true;
}

void InterSequence::pictureDone(const Frame& recon, bool key, std::int64_t time)
{
    if (key) {
        lastKeyTime_ = time;
        rnd_ = 1;  // an I picture sets rounding control; the next P clears it
    }
    // The reference the decoder uses: the whole coded area, repeated
    // beyond it.
    for (int p = 0; p < 3; ++p) {
        const Plane& s = recon.plane(p);
        Plane& d = ref_.plane(p);
        for (int y = 0; y < s.height; ++y)
            std::copy(s.row(y), s.row(y) + s.width, d.row(y));
        d.extendFrom(s.width, s.height);
    }
    haveReference_ = true;
}

}  // namespace asfw::vc1
