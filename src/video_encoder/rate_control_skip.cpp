#include "video_encoder/rate_control_skip.h"

#include "tables/vc1_mv_tables.h"
#include "video_encoder/bitplane.h"

namespace asfw::vc1 {

std::vector<std::uint8_t> encodeSkippedPicture(const SequenceHeader& seq, const PictureQuant& q, int mbWidth,
                                               int mbHeight)
{
    Vc1Bitplane skip(mbWidth, mbHeight);
    for (int y = 0; y < mbHeight; ++y)
        for (int x = 0; x < mbWidth; ++x) skip.set(x, y, true);
    const Vc1BitplaneChoice choice = skip.choose();

    BitWriter w;
    if (seq.frameInterpolation) w.put(0, 1);  // INTERPFRM
    w.put(0, 2);                              // FRMCNT
    if (seq.rangeReduction) w.put(0, 1);      // RANGEREDFRM
    w.put(1, 1);                              // PTYPE: P
    writePictureQuant(w, seq.quantizer, q);
    if (seq.extendedMv) w.put(0, 1);  // MVRANGE
    if (seq.multiRes) w.put(0, 2);    // RESPIC
    w.put(vc1MvModeCode(Vc1MvMode::OneMvQuarterBicubic, q.pquant));
    skip.write(w, choice);
    w.put(0, 2);  // MVTAB
    w.put(0, 2);  // CBPTAB
    if (seq.variableTransform) {
        w.put(1, 1);  // TTMBF
        w.put(0, 2);  // TTFRM
    }
    writeCodingSetIndex(w, 0);  // TRANSACFRM
    w.put(0, 1);                // TRANSDCTAB
    if (choice.mode == Vc1Imode::Raw)
        for (int i = 0; i < mbWidth * mbHeight; ++i) w.putBit(true);  // SKIPMBBIT
    return w.take();
}

}  // namespace asfw::vc1
