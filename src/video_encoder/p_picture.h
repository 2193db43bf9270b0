// P pictures of the Main profile (SMPTE 421M, progressive P picture layer
// and its macroblock layer): 1MV macroblocks with quarter-sample bicubic
// motion compensation, skipped macroblocks in a bitplane, intra
// macroblocks inside P pictures. The coder decides every macroblock
// (motion search, skip, intra/inter), reconstructs exactly as the decoder
// does, then picks the picture's tables (MVTAB, CBPTAB, TRANSACFRM,
// TRANSDCTAB, the skip bitplane's mode) by counting bits and writes it.
#ifndef ASFWRITER_VIDEO_ENCODER_P_PICTURE_H
#define ASFWRITER_VIDEO_ENCODER_P_PICTURE_H

#include "video_encoder/motion_search.h"
#include "video_encoder/mv_prediction.h"
#include "video_encoder/vc1_frame.h"
#include "video_encoder/vc1_syntax.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace asfw::vc1 {

struct PPictureOptions {
    int complexity = 3;  // 0..5, see motion_search.h
    int rnd = 0;         // rounding control of this picture (the decoder toggles it)
    PictureQuant quant;
    // Test hooks: a vector to use for a macroblock instead of searching
    // (return true), and macroblocks to code as intra.
    std::function<bool(int mbX, int mbY, Vc1Mv& mv)> forceMv;
    std::function<bool(int mbX, int mbY)> forceIntra;
    // Test hook: code the skip bitplane in this mode (0..6, see Vc1Imode)
    // with this inversion instead of the cheapest.
    int forceSkipImode = -1;
    // Sum the intra activity of every macroblock (intraActivity()); when
    // off it is measured only where intra coding is considered.
    bool measureActivity = true;
    bool forceSkipInvert = false;
};

struct PPictureStats {
    int skipped = 0;
    int earlySkipped = 0;  // of which skipped before any motion search
    int intra = 0;
    int inter = 0;
    int hybridBits = 0;
    int mvTable = 0, cbpTable = 0, acIndex = 0, dcTable = 0;
    int skipImode = 0;
    bool skipInvert = false;
};

class PPictureCoder {
public:
    // Codes `src` (macroblock-aligned, padded) predicted from `ref`
    // (reconstruction of the previous picture with its borders extended
    // from the macroblock-aligned area). Writes the reconstruction into
    // `recon` (same geometry; borders are not touched) and returns the
    // picture's bits.
    std::vector<std::uint8_t> encode(const Frame& src, const Frame& ref, Frame& recon, const SequenceHeader& seq,
                                     const PPictureOptions& options);
    const PPictureStats& stats() const { return stats_; }
    // Sum of the chosen macroblocks' motion-compensated distortion (SAD of
    // luma), and what intra coding would have cost (activity): a picture
    // where prediction fails has the first far above the second.
    std::uint64_t interDistortion() const { return interDistortion_; }
    std::uint64_t intraActivity() const { return intraActivity_; }

private:
    PPictureStats stats_;
    std::uint64_t interDistortion_ = 0;
    std::uint64_t intraActivity_ = 0;
    // Carried between pictures: tables used for cost estimates, the
    // previous picture's vectors (search candidates).
    int lastMvTable_ = 0;
    std::vector<Vc1Mv> previousMvs_;
    std::vector<Vc1Mv> currentMvs_;
    // Kept between pictures so its planes are not reallocated.
    MotionSearch search_;
};

}  // namespace asfw::vc1

#endif
