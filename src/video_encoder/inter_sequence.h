// The inter-picture side of the WMV9 encoder: which pictures are key
// frames (the first, one at least every maximum key-frame spacing, and a
// forced one on a scene cut), the P picture coder with its reference, and
// the rounding control that the decoder toggles from P picture to P
// picture (an I picture resets it).
#ifndef ASFWRITER_VIDEO_ENCODER_INTER_SEQUENCE_H
#define ASFWRITER_VIDEO_ENCODER_INTER_SEQUENCE_H

#include "codec/media_encoder.h"
#include "video_encoder/p_picture.h"
#include "video_encoder/vc1_frame.h"
#include "video_encoder/vc1_syntax.h"

#include <cstdint>
#include <vector>

namespace asfw::vc1 {

class InterSequence {
public:
    // Key-frame spacing used when the stream sets none.
    static constexpr std::int64_t kDefaultKeySpacing = 100000000;  // 10 s in 100 ns

    explicit InterSequence(const VideoSettings& settings);

    // True when the picture at `time` must be a key frame.
    bool keyDue(std::int64_t time) const;

    // Codes `src` as a P picture into `out`, its reconstruction into
    // `recon`. Returns false (and leaves the sequence state alone) when the
    // picture is a scene cut that an I picture codes better; `recon` is
    // then scratch.
    bool encodeP(const SequenceHeader& seq, const Frame& src, const PictureQuant& quant, Frame& recon,
                 std::vector<std::uint8_t>& out);

    // After every coded picture: its reconstruction becomes the reference.
    void pictureDone(const Frame& recon, bool key, std::int64_t time);

    const PPictureStats& lastStats() const { return coder_.stats(); }
    int complexity() const { return complexity_; }
    void setComplexity(int level) { complexity_ = level < 0 ? 0 : (level > 5 ? 5 : level); }
    int scenecuts() const { return scenecuts_; }
    // Rate control: the reference P pictures predict from, and a flip of
    // the rounding control when a P picture coded by encodeP is coded again
    // (its rounding is used again) or an all-skipped P picture goes out
    // instead of a coded one (the decoder toggles on it too).
    const Frame& reference() const { return ref_; }
    void flipRounding() { rnd_ ^= 1; }
    // The caller finds scene cuts on the source pictures (before coding):
    // encodeP then gives up only on a picture most of whose macroblocks
    // are intra. (The distortion rule misfires at coarse quantisers, where
    // the reference itself is far from the source.)
    void setCallerSceneCuts(bool on) { callerSceneCuts_ = on; }

private:
    std::int64_t keySpacing_;
    int complexity_;
    bool haveReference_ = false;
    std::int64_t lastKeyTime_ = 0;
    int rnd_ = 1;
    int scenecuts_ = 0;
    bool callerSceneCuts_ = false;
    Frame ref_;
    PPictureCoder coder_;
};

}  // namespace asfw::vc1

#endif
