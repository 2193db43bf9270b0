// The WMV9 (VC-1 Main profile) encoder object behind createWmv9Encoder, with
// the knobs tests and later stages use and access to its reconstruction.
//
// Sequence-level decisions (kept in one place, sequenceHeaderFor):
//  - Main profile; RES_FASTTX = 1 (the standard transform), RES_RTM_FLAG = 1.
//  - LOOPFILTER = 0 for now: I pictures are then exactly "inverse transform
//    and clamp", and P-picture prediction needs no deblocking mirror. A later
//    stage may switch it on (the reconstruction must then filter too).
//  - FASTUVMC = 0: chroma motion vectors keep quarter-sample precision
//    (better prediction); P-picture motion compensation must round chroma
//    vectors the FASTUVMC = 0 way.
//  - QUANTIZER = explicit (1): each picture says uniform or non-uniform and
//    PQUANT = PQINDEX over the full 1..31 range.
//  - No DQUANT, VSTRANSFORM, OVERLAP, SYNCMARKER, RANGERED, B pictures,
//    EXTENDED_MV, MULTIRES.
#ifndef ASFWRITER_VIDEO_ENCODER_VC1_ENCODER_H
#define ASFWRITER_VIDEO_ENCODER_VC1_ENCODER_H

#include <memory>
#include <string>

#include "codec/media_encoder.h"
#include "video_encoder/analysis.h"
#include "video_encoder/inter_sequence.h"
#include "video_encoder/intra_picture.h"
#include "video_encoder/rate_control.h"
#include "video_encoder/vc1_frame.h"
#include "video_encoder/vc1_syntax.h"

namespace asfw {

struct Wmv9EncoderOptions {
    vc1::QuantizerMode quantizer = vc1::QuantizerMode::Explicit;
    // 1..31 forces every picture's PQINDEX; 0 = the rate rule from the
    // stream's bit rate (fixed PQINDEX 6 when the bit rate is 0).
    int pqindex = 0;
    bool halfQp = false;
    // Explicit mode only: -1 = the encoder's choice (uniform: with the
    // rate-distortion refinement it beat the non-uniform quantiser at equal
    // rate), 0 = always non-uniform, 1 = always uniform.
    int uniform = -1;
    int lumaSetIndex = -1;    // TRANSACFRM2, -1 = choose per picture
    int chromaSetIndex = -1;  // TRANSACFRM
    int dcTable = -1;         // TRANSDCTAB
    vc1::AcPredictionPolicy acPrediction = vc1::AcPredictionPolicy::Auto;
    vc1::QuantTuning tuning;
    bool fastUvMc = false;
    bool loopFilter = false;
    // Symbol trace target ("-" = standard error); empty = ASFW_VC1_TRACE.
    std::string traceTarget;
    // Every picture an I picture (tests of the intra coder, intra-only use).
    bool intraOnly = false;
};

namespace vc1 {
// The sequence header the encoder uses for these settings and options.
SequenceHeader sequenceHeaderFor(const VideoSettings& settings, const Wmv9EncoderOptions& options);
}  // namespace vc1

class Wmv9Encoder final : public MediaEncoder {
public:
    Wmv9Encoder(const VideoSettings& settings, const Wmv9EncoderOptions& options);

    std::vector<std::uint8_t> codecData() const override;
    bool analyse(const std::uint8_t* data, std::size_t size, std::int64_t time) override;
    void endAnalysis() override;
    bool encode(const std::uint8_t* data, std::size_t size, std::int64_t time, MediaObjects& out) override;
    bool flush(MediaObjects& out) override;
    std::string lastError() const override { return error_; }

    // The decoder's picture after the last encode (coded area, border
    // replicated from the display area). P pictures predict from it.
    const vc1::Frame& reconstruction() const { return recon_; }
    const vc1::SequenceHeader& sequenceHeader() const { return sequence_; }
    const vc1::IntraPictureInfo& lastPictureInfo() const { return lastInfo_; }
    const vc1::PictureQuant& lastQuant() const { return lastQuant_; }
    std::int64_t picturesCoded() const { return pictures_; }
    // P pictures: key-frame decisions, reference, statistics.
    const vc1::InterSequence& inter() const { return inter_; }
    bool lastPictureWasKey() const { return lastKey_; }
    // Rate control: buckets and totals, pictures sent as all-skipped
    // repeats, the pre-processing pass's statistics.
    const vc1::RateControl& rateControl() const { return rate_; }
    std::int64_t skippedPictures() const { return skipped_; }
    const std::vector<vc1::FrameStats>& analysis() const { return stats_; }

    // Changes the per-picture options (quantiser, coding sets, ACPRED,
    // tuning) for the following pictures; the sequence-level ones
    // (quantizer mode, FASTUVMC, loop filter) stay as created.
    void setPictureOptions(const Wmv9EncoderOptions& options);

private:
    VideoSettings settings_;
    Wmv9EncoderOptions options_;
    vc1::SequenceHeader sequence_;
    vc1::Frame source_;
    vc1::Frame recon_;
    vc1::IntraPictureInfo lastInfo_;
    vc1::PictureQuant lastQuant_;
    std::string trace_;
    std::string error_;
    std::int64_t pictures_ = 0;
    vc1::InterSequence inter_;
    bool lastKey_ = true;
    vc1::RateControl rate_;
    vc1::FrameAnalyser analyser_;
    vc1::SceneCutRule cutRule_;
    std::vector<vc1::FrameStats> stats_;  // pre-processing pass, one per picture
    bool analysisEnded_ = false;
    int sinceKey_ = 0;
    double previousRatio_ = 0;  // inter / intra cost of the picture before (scene cuts)
    std::int64_t skipped_ = 0;
};

// createWmv9Encoder with explicit options (tests, benchmarks).
std::unique_ptr<Wmv9Encoder> createWmv9EncoderWithOptions(const VideoSettings& settings,
                                                          const Wmv9EncoderOptions& options, std::string* error);

}  // namespace asfw

#endif
