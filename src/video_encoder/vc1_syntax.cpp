#include "video_encoder/vc1_syntax.h"

namespace asfw::vc1 {

std::vector<std::uint8_t> sequenceHeaderBytes(const SequenceHeader& h)
{
    BitWriter w;
    writeSequenceHeader(w, h);
    return w.take();
}

PictureQuant makePictureQuant(QuantizerMode mode, int pqindex, bool halfQp, bool uniformWish)
{
    PictureQuant q;
    q.pqindex = pqindex < 1 ? 1 : (pqindex > 31 ? 31 : pqindex);
    q.halfQp = q.pqindex <= 8 && halfQp;
    switch (mode) {
    case QuantizerMode::Implicit:
        q.pquant = kImplicitPquant[q.pqindex];
        q.uniform = q.pqindex <= 8;
        break;
    case QuantizerMode::Explicit:
        q.pquant = q.pqindex;
        q.uniform = uniformWish;
        break;
    case QuantizerMode::NonUniform:
        q.pquant = q.pqindex;
        q.uniform = false;
        break;
    case QuantizerMode::Uniform:
        q.pquant = q.pqindex;
        q.uniform = true;
        break;
    }
    q.dcStep = kDcStepSize[q.pquant];
    return q;
}

AcChoice chooseAcCoding(const AcSetInfo& set, int run, int magnitude, bool last, const Escape3& esc3)
{
    AcChoice best;
    const int escBits = set.escape().length;
    const int direct = set.index(run, magnitude, last);
    if (direct >= 0) {
        best.mode = AcMode::Direct;
        best.index = direct;
        best.bits = set.codes()[direct].length + 1;
        return best;  // a direct code is always shorter than any escape
    }
    // Mode 1: the level reduced by the largest level of that run.
    const int reducedLevel = magnitude - set.maxLevel(last, run);
    if (reducedLevel >= 1) {
        const int i = set.index(run, reducedLevel, last);
        if (i >= 0) {
            const int bits = escBits + 1 + set.codes()[i].length + 1;
            if (best.mode == AcMode::Impossible || bits < best.bits) {
                best.mode = AcMode::Escape1;
                best.index = i;
                best.bits = bits;
            }
        }
    }
    // Mode 2: the run reduced by the largest run of that level, plus one.
    const int maxRun = set.maxRun(last, magnitude);
    if (maxRun >= 0) {
        const int reducedRun = run - maxRun - 1;
        if (reducedRun >= 0) {
            const int i = set.index(reducedRun, magnitude, last);
            if (i >= 0) {
                const int bits = escBits + 2 + set.codes()[i].length + 1;
                if (best.mode == AcMode::Impossible || bits < best.bits) {
                    best.mode = AcMode::Escape2;
                    best.index = i;
                    best.bits = bits;
                }
            }
        }
    }
    if (esc3.fits(run, magnitude)) {
        const int bits = escBits + 2 + 1 + esc3.runBits + 1 + esc3.levelBits;
        if (best.mode == AcMode::Impossible || bits < best.bits) {
            best.mode = AcMode::Escape3;
            best.index = -1;
            best.bits = bits;
        }
    }
    return best;
}

int collectAcEvents(const std::int16_t levels[64], const std::uint8_t scan[64], int first, AcEvent events[64])
{
    int count = 0;
    int run = 0;
    for (int i = first; i < 64; ++i) {
        const int v = levels[scan[i]];
        if (v == 0) {
            ++run;
            continue;
        }
        events[count].run = static_cast<std::uint8_t>(run);
        events[count].level = static_cast<std::int16_t>(v);
        events[count].last = false;
        ++count;
        run = 0;
    }
    if (count > 0) events[count - 1].last = true;
    return count;
}

}  // namespace asfw::vc1
