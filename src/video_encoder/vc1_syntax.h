// VC-1 Simple/Main profile syntax shared by every picture type
// (SMPTE 421M, 6.1 sequence layer for Simple/Main as stored in the
// container's codec data, 7.1 picture/macroblock/block layers).
//
// Writers are templates over the bit sink (BitWriter, BitCounter,
// TracingWriter) so the encoder prices a choice with exactly the code that
// later emits it.
#ifndef ASFWRITER_VIDEO_ENCODER_VC1_SYNTAX_H
#define ASFWRITER_VIDEO_ENCODER_VC1_SYNTAX_H

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bitwriter/bit_writer.h"
#include "dsp/vc1_transform.h"
#include "tables/vc1_tables.h"
#include "video_encoder/vc1_trace.h"

namespace asfw::vc1 {

// ---------------------------------------------------------------------------
// Sequence layer (the 4-byte "STRUCT_C" after the BITMAPINFOHEADER).

enum class QuantizerMode : int {
    Implicit = 0,    // PQINDEX 1..8 uniform, 9..31 non-uniform (PQUANT mapped)
    Explicit = 1,    // PQUANTIZER bit in every picture; PQUANT = PQINDEX
    NonUniform = 2,  // always non-uniform; PQUANT = PQINDEX
    Uniform = 3,     // always uniform; PQUANT = PQINDEX
};

struct SequenceHeader {
    int profile = 1;              // 0 simple, 1 main
    int frameRateQ = 7;           // FRMRTQ_POSTPROC (hint only)
    int bitRateQ = 31;            // BITRTQ_POSTPROC (hint only)
    bool loopFilter = false;      // LOOPFILTER
    bool multiRes = false;        // MULTIRES
    bool fastTransform = true;    // RES_FASTTX (must be 1: the standard transform)
    bool fastUvMc = false;        // FASTUVMC: 0 = quarter-sample chroma motion
    bool extendedMv = false;      // EXTENDED_MV
    int dquant = 0;               // DQUANT
    bool variableTransform = false;  // VSTRANSFORM
    bool overlap = false;         // OVERLAP
    bool syncMarker = false;      // SYNCMARKER
    bool rangeReduction = false;  // RANGERED
    int maxBFrames = 0;           // MAXBFRAMES
    QuantizerMode quantizer = QuantizerMode::Explicit;
    bool frameInterpolation = false;  // FINTERPFLAG
};

template <class W>
void writeSequenceHeader(W& w, const SequenceHeader& h)
{
    w.put(static_cast<std::uint32_t>(h.profile), 2);  // PROFILE
    w.put(0, 1);                                      // RES_Y411
    w.put(0, 1);                                      // RES_SPRITE
    w.put(static_cast<std::uint32_t>(h.frameRateQ), 3);
    w.put(static_cast<std::uint32_t>(h.bitRateQ), 5);
    w.putBit(h.loopFilter);
    w.put(0, 1);  // RES_X8
    w.putBit(h.multiRes);
    w.putBit(h.fastTransform);
    w.putBit(h.fastUvMc);
    w.putBit(h.extendedMv);
    w.put(static_cast<std::uint32_t>(h.dquant), 2);
    w.putBit(h.variableTransform);
    w.put(0, 1);  // RES_TRANSTAB
    w.putBit(h.overlap);
    w.putBit(h.syncMarker);
    w.putBit(h.rangeReduction);
    w.put(static_cast<std::uint32_t>(h.maxBFrames), 3);
    w.put(static_cast<std::uint32_t>(h.quantizer), 2);
    w.putBit(h.frameInterpolation);
    w.put(1, 1);  // RES_RTM_FLAG
}

std::vector<std::uint8_t> sequenceHeaderBytes(const SequenceHeader& h);

// ---------------------------------------------------------------------------
// Picture quantiser (7.1.1.6 PQINDEX, 7.1.1.7 HALFQP, 7.1.1.8 PQUANTIZER).

struct PictureQuant {
    int pqindex = 1;      // 1..31, sent
    bool halfQp = false;  // sent when pqindex <= 8
    bool uniform = true;  // sent as PQUANTIZER with the explicit mode
    int pquant = 1;       // derived
    int dcStep = 2;       // derived (8.1.3.2)
    QuantStep step() const
    {
        QuantStep s;
        s.pquant = pquant;
        s.halfStep = halfQp;
        s.uniform = uniform;
        return s;
    }
};

// The quantiser a picture header describes. `uniformWish` applies to the
// explicit mode only (the other modes fix it); HALFQP is dropped above
// PQINDEX 8 where it cannot be sent. pqindex is clamped to 1..31.
PictureQuant makePictureQuant(QuantizerMode mode, int pqindex, bool halfQp, bool uniformWish);

// Writes PQINDEX [HALFQP] [PQUANTIZER] (the common middle of I and P headers).
template <class W>
void writePictureQuant(W& w, QuantizerMode mode, const PictureQuant& q)
{
    traceSymbol(w, "PQINDEX", q.pqindex);
    w.put(static_cast<std::uint32_t>(q.pqindex), 5);
    if (q.pqindex <= 8) {
        traceSymbol(w, "HALFQP", q.halfQp);
        w.putBit(q.halfQp);
    }
    if (mode == QuantizerMode::Explicit) {
        traceSymbol(w, "PQUANTIZER", q.uniform);
        w.putBit(q.uniform);
    }
}

// TRANSACFRM / TRANSACFRM2 (0 -> "0", 1 -> "10", 2 -> "11").
template <class W>
void writeCodingSetIndex(W& w, int index)
{
    if (index == 0)
        w.put(0, 1);
    else
        w.put(index == 1 ? 2u : 3u, 2);
}

// ---------------------------------------------------------------------------
// Block layer: DC differential (8.1.3.1) and AC run/level events (8.1.3.4).

template <class W>
void writeDcDiff(W& w, int diff, int pquant, bool chroma, int table)
{
    traceSymbol(w, "DCDIFF", diff);
    const VlcCode* codes = dcDiffTable(table, chroma);
    const int mag = std::abs(diff);
    if (mag == 0) {
        w.put(codes[0]);
        return;
    }
    const int extra = pquant == 1 ? 2 : (pquant == 2 ? 1 : 0);
    const int index = (mag + (1 << extra) - 1) >> extra;
    if (index >= kDcDiffEscape) {
        w.put(codes[kDcDiffEscape]);
        w.put(static_cast<std::uint32_t>(mag), 8 + extra);
    } else {
        w.put(codes[index]);
        if (extra != 0) w.put(static_cast<std::uint32_t>((mag + (1 << extra) - 1) & ((1 << extra) - 1)), extra);
    }
    w.putBit(diff < 0);
}

// Largest DC differential magnitude the escape can carry.
constexpr int maxDcDiff(int pquant) { return pquant == 1 ? 1023 : (pquant == 2 ? 511 : 255); }

// One AC event: `run` zeros, then `level` (non-zero), `last` ends the block.
struct AcEvent {
    std::uint8_t run = 0;
    bool last = false;
    std::int16_t level = 0;
};

// The escape-mode-3 field sizes of a picture (8.1.3.4): chosen once per
// picture, sent with the first mode-3 escape.
struct Escape3 {
    int levelBits = 0;  // ESCLVLSZ result
    int runBits = 0;    // 3..6
    bool sent = false;  // set once the sizes are in the stream

    bool fits(int run, int magnitude) const
    {
        return levelBits > 0 && run < (1 << runBits) && magnitude < (1 << levelBits);
    }
};

// Level sizes the ESCLVLSZ code can express for this PQUANT: 1..11 below 8
// (fixed-length code), 2..8 from 8 up (unary code).
constexpr int minEscape3LevelBits(int pquant) { return pquant < 8 ? 1 : 2; }
constexpr int maxEscape3LevelBits(int pquant) { return pquant < 8 ? 11 : 8; }
// The largest level magnitude any event can carry at this PQUANT.
constexpr int maxAcLevel(int pquant) { return (1 << maxEscape3LevelBits(pquant)) - 1; }

template <class W>
void writeEscape3Sizes(W& w, const Escape3& e, int pquant)
{
    traceSymbol(w, "ESCLVLSZ", e.levelBits);
    if (pquant < 8) {
        if (e.levelBits >= 8) {
            w.put(0, 3);
            w.put(static_cast<std::uint32_t>(e.levelBits - 8), 2);
        } else {
            w.put(static_cast<std::uint32_t>(e.levelBits), 3);
        }
    } else {
        const int zeros = e.levelBits - 2;  // 0..6
        if (zeros < 6)
            w.put(1, zeros + 1);
        else
            w.put(0, 6);
    }
    traceSymbol(w, "ESCRUNSZ", e.runBits);
    w.put(static_cast<std::uint32_t>(e.runBits - 3), 2);
}

// How one event is coded.
enum class AcMode : std::uint8_t { Direct, Escape1, Escape2, Escape3, Impossible };

struct AcChoice {
    AcMode mode = AcMode::Impossible;
    int index = -1;  // code index for Direct/Escape1/Escape2
    int bits = 0;    // total bits, sign included
};

// The cheapest coding of (run, level, last) in `set`, with the picture's
// escape-3 sizes (the sizes' own bits are not counted).
AcChoice chooseAcCoding(const AcSetInfo& set, int run, int magnitude, bool last, const Escape3& esc3);

template <class W>
void writeAcEvent(W& w, const AcSetInfo& set, const AcEvent& e, const AcChoice& c, Escape3& esc3, int pquant)
{
    const int mag = std::abs(static_cast<int>(e.level));
    traceSymbol(w, "AC", e.last ? -(e.run * 10000 + mag) : e.run * 10000 + mag);
    switch (c.mode) {
    case AcMode::Direct:
        w.put(set.codes()[c.index].code, set.codes()[c.index].length);
        break;
    case AcMode::Escape1:
    case AcMode::Escape2:
        w.put(set.escape().code, set.escape().length);
        if (c.mode == AcMode::Escape1)
            w.put(1, 1);
        else
            w.put(1, 2);
        w.put(set.codes()[c.index].code, set.codes()[c.index].length);
        break;
    case AcMode::Escape3:
    case AcMode::Impossible:
        w.put(set.escape().code, set.escape().length);
        w.put(0, 2);
        w.putBit(e.last);
        if (!esc3.sent) {
            writeEscape3Sizes(w, esc3, pquant);
            esc3.sent = true;
        }
        w.put(e.run, esc3.runBits);
        w.putBit(e.level < 0);
        w.put(static_cast<std::uint32_t>(mag), esc3.levelBits);
        return;
    }
    w.putBit(e.level < 0);
}

// Run/level events of the AC coefficients `levels` (raster order) read in
// `scan` order from position `first` (1 for intra blocks, 0 for inter).
// Returns the number of events.
int collectAcEvents(const std::int16_t levels[64], const std::uint8_t scan[64], int first, AcEvent events[64]);

}  // namespace asfw::vc1

#endif
