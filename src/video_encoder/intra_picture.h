// I pictures of the Main profile (SMPTE 421M, 7.1.1 picture layer for I,
// 7.1.4 macroblock layer, 8.1 intra decoding process).
//
// The coder quantises every block, reconstructs it exactly as a decoder
// will, then decides by counting bits: the luma and chroma AC coding sets
// (TRANSACFRM2 / TRANSACFRM), the DC table (TRANSDCTAB) and, per
// macroblock, whether AC prediction (ACPRED) pays.
#ifndef ASFWRITER_VIDEO_ENCODER_INTRA_PICTURE_H
#define ASFWRITER_VIDEO_ENCODER_INTRA_PICTURE_H

#include <cstdint>
#include <vector>

#include "video_encoder/vc1_frame.h"
#include "video_encoder/vc1_quant.h"
#include "video_encoder/vc1_syntax.h"
#include "video_encoder/vc1_trace.h"

namespace asfw::vc1 {

enum class AcPredictionPolicy { Auto, Never, Always };

struct IntraPictureOptions {
    PictureQuant quant;       // see makePictureQuant
    int lumaSetIndex = -1;    // TRANSACFRM2 0..2; -1 = the cheapest
    int chromaSetIndex = -1;  // TRANSACFRM 0..2; -1 = the cheapest
    int dcTable = -1;         // TRANSDCTAB 0..1; -1 = the cheapest
    AcPredictionPolicy acPrediction = AcPredictionPolicy::Auto;
    QuantTuning tuning;
    int frameCount = 0;       // FRMCNT (mod 4)
    int bufferFullness = 0;   // BF, 0..127
};

struct IntraPictureInfo {
    std::uint64_t bits = 0;  // before byte alignment
    int lumaSetIndex = 0;
    int chromaSetIndex = 0;
    int dcTable = 0;
    int acPredMacroblocks = 0;
    int escape3Events = 0;
};

// Codes `source` (loaded with Frame::loadI420, so padded to whole
// macroblocks) as one I picture: the bytes of the media object. `recon`
// (allocated like `source`) receives the decoder's picture over the whole
// coded area; its border is left to the caller (Plane::extendFrom).
// With `trace`, the picture is written through it as well (same bytes).
std::vector<std::uint8_t> encodeIntraPicture(const SequenceHeader& sequence, const Frame& source,
                                             const IntraPictureOptions& options, Frame& recon,
                                             IntraPictureInfo* info = nullptr, TracingWriter* trace = nullptr);

// The I-picture header up to and including TRANSDCTAB (7.1.1).
template <class W>
void writeIntraPictureHeader(W& w, const SequenceHeader& seq, const PictureQuant& q, int frameCount,
                             int bufferFullness, int lumaSetIndex, int chromaSetIndex, int dcTable)
{
    if (seq.frameInterpolation) w.put(0, 1);  // INTERPFRM
    traceSymbol(w, "FRMCNT", frameCount & 3);
    w.put(static_cast<std::uint32_t>(frameCount & 3), 2);
    if (seq.rangeReduction) w.put(0, 1);  // RANGEREDFRM
    traceSymbol(w, "PTYPE", 0);
    if (seq.maxBFrames > 0)
        w.put(1, 2);  // "01": I when B pictures may follow
    else
        w.put(0, 1);
    traceSymbol(w, "BF", bufferFullness);
    w.put(static_cast<std::uint32_t>(bufferFullness & 127), 7);
    writePictureQuant(w, seq.quantizer, q);
    if (seq.extendedMv) w.put(0, 1);  // MVRANGE (read by some decoders on I too)
    if (seq.multiRes) w.put(0, 2);    // RESPIC: full resolution
    traceSymbol(w, "TRANSACFRM", chromaSetIndex);
    writeCodingSetIndex(w, chromaSetIndex);
    traceSymbol(w, "TRANSACFRM2", lumaSetIndex);
    writeCodingSetIndex(w, lumaSetIndex);
    traceSymbol(w, "TRANSDCTAB", dcTable);
    w.putBit(dcTable != 0);
}

// The luma coded-block prediction of 8.1.1.5 (7.1.4.1): neighbours A (left),
// B (top-left), C (top), each 0 outside the picture.
constexpr bool predictCodedBlock(bool left, bool topLeft, bool top) { return topLeft == top ? left : top; }

}  // namespace asfw::vc1

#endif
