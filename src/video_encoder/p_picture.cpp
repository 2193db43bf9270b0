// P picture coding: macroblock decisions, reconstruction, table choice and
// the picture/macroblock/block layers.
#include "video_encoder/p_picture.h"

#include "dsp/pixel_metrics.h"
#include "dsp/vc1_mc.h"
#include "tables/vc1_cbpcy_p_tables.h"
#include "video_encoder/bitplane.h"
#include "video_encoder/inter_block.h"
#include "video_encoder/inter_zero_test.h"
#include "video_encoder/motion_search.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace asfw::vc1 {

namespace {

enum class MbKind : std::uint8_t { Skip, Inter, Intra };

struct BlockRecord {
    int eventOffset = 0;
    int eventCount = 0;
    int dcDiff = 0;  // intra blocks
};

struct MbRecord {
    MbKind kind = MbKind::Skip;
    Vc1Mv mv;
    bool hybrid = false;
    bool hybridBit = false;
    Vc1MvDataCode mvCode;  // inter and intra
    int cbp = 0;
    BlockRecord blocks[6];
};

constexpr float kInterRounding = 0.20f;
constexpr float kIntraRounding = 0.33f;
constexpr int kDecimateBelow = 4;

// Sum of squared differences of a macroblock (luma 16x16, two chroma 8x8).
std::uint64_t mbSse(const std::uint8_t* sy, std::ptrdiff_t ys, const std::uint8_t* su, const std::uint8_t* sv,
                    std::ptrdiff_t cs, const std::uint8_t* ry, int ryStride, const std::uint8_t* ru,
                    const std::uint8_t* rv)
{
    return static_cast<std::uint64_t>(ssd16x16(sy, static_cast<int>(ys), ry, ryStride)) +
           ssd8x8(su, static_cast<int>(cs), ru, 8) + ssd8x8(sv, static_cast<int>(cs), rv, 8);
}

// Activity of a 16x16 block: SAD of each 8x8 block against its mean.
unsigned intraActivity16(const std::uint8_t* p, std::ptrdiff_t stride)
{
    alignas(16) static const std::uint8_t zero[64] = {};
    unsigned total = 0;
    for (int b = 0; b < 4; ++b) {
        const std::uint8_t* q = p + (b >> 1) * 8 * stride + (b & 1) * 8;
        const unsigned mean = (sad8x8(q, static_cast<int>(stride), zero, 8) + 32) >> 6;
        alignas(16) std::uint8_t flat[64];
        std::memset(flat, static_cast<int>(mean), sizeof flat);
        total += sad8x8(q, static_cast<int>(stride), flat, 8);
    }
    return total;
}

// Bits of one block's events in a coding set (escape-3 sizes as given).
int eventBits(const AcSetInfo& set, const AcEvent* e, int n, const Escape3& esc3)
{
    int bits = 0;
    for (int i = 0; i < n; ++i)
        bits += chooseAcCoding(set, e[i].run, std::abs(static_cast<int>(e[i].level)), e[i].last, esc3).bits;
    return bits;
}

// Escape-3 sizes large enough for every event of the picture.
Escape3 escape3For(const std::vector<AcEvent>& events, int pquant)
{
    int maxRun = 0, maxLevel = 1;
    for (const AcEvent& e : events) {
        maxRun = std::max(maxRun, static_cast<int>(e.run));
        maxLevel = std::max(maxLevel, std::abs(static_cast<int>(e.level)));
    }
    Escape3 e;
    int lb = 1;
    while ((1 << lb) <= maxLevel) ++lb;
    e.levelBits = std::clamp(lb, minEscape3LevelBits(pquant), maxEscape3LevelBits(pquant));
    int rb = 1;
    while ((1 << rb) <= maxRun) ++rb;
    e.runBits = std::clamp(rb, 3, 6);
    return e;
}

// Per-picture DC predictors of intra blocks (0 for other blocks).
class DcGrid {
public:
    void reset(int w, int h)
    {
        w_ = w;
        h_ = h;
        dc_.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
        intra_.assign(dc_.size(), 0);
    }
    void set(int x, int y, int dc, bool intra)
    {
        dc_[idx(x, y)] = dc;
        intra_[idx(x, y)] = intra ? 1 : 0;
    }
    // The decoder's DC predictor of block (x, y).
    int predict(int x, int y) const
    {
        const bool aAvail = y > 0 && intra_[idx(x, y - 1)];
        const bool cAvail = x > 0 && intra_[idx(x - 1, y)];
        const int a = aAvail ? dc_[idx(x, y - 1)] : 0;
        const int c = cAvail ? dc_[idx(x - 1, y)] : 0;
        const int b = (x > 0 && y > 0) ? dc_[idx(x - 1, y - 1)] : 0;
        if (cAvail && (!aAvail || std::abs(a - b) <= std::abs(b - c))) return c;
        if (aAvail) return a;
        return 0;
    }

private:
    std::size_t idx(int x, int y) const { return static_cast<std::size_t>(y) * static_cast<std::size_t>(w_) + static_cast<std::size_t>(x); }
    int w_ = 0, h_ = 0;
    std::vector<int> dc_;
    std::vector<std::uint8_t> intra_;
};

template <class W>
void writeBlockEvents(W& w, const AcSetInfo& set, const AcEvent* e, int n, Escape3& esc3, int pquant)
{
    for (int i = 0; i < n; ++i) {
        const AcChoice c = chooseAcCoding(set, e[i].run, std::abs(static_cast<int>(e[i].level)), e[i].last, esc3);
        writeAcEvent(w, set, e[i], c, esc3, pquant);
    }
}

}  // namespace

std::vector<std::uint8_t> PPictureCoder::encode(const Frame& src, const Frame& ref, Frame& recon,
                                                const SequenceHeader& seq, const PPictureOptions& opt)
{
    const int mbW = src.mbWidth, mbH = src.mbHeight;
    const PictureQuant& q = opt.quant;
    const int level = std::clamp(opt.complexity, 0, 5);
    stats_ = PPictureStats{};
    interDistortion_ = 0;
    intraActivity_ = 0;

    Vc1RefView view;
    view.y = ref.luma.at(0, 0);
    view.cb = ref.cb.at(0, 0);
    view.cr = ref.cr.at(0, 0);
    view.yStride = ref.luma.stride;
    view.cStride = ref.cb.stride;
    view.width = mbW * 16;
    view.height = mbH * 16;

    Vc1McParams mc;
    mc.filter = Vc1LumaFilter::Bicubic;
    mc.rnd = opt.rnd;
    mc.fastUvmc = seq.fastUvMc;

    const double stepHalf = q.pquant + (q.halfQp ? 0.5 : 0.0);
    const double lambdaSse = stepHalf * stepHalf;  // per bit
    const int lambdaSad = std::max(1, static_cast<int>(std::lround(stepHalf)));

    // The fastest levels skip the transform of blocks that would almost
    // surely quantise to nothing or to a few +-1 levels.
    const float zeroBias = level == 0 ? 1.6f : (level == 1 ? 1.3f : 1.0f);
    // Early skip: when every block's residual at the skip vector
    // quantises to nothing, the macroblock is skipped without a search.
    // Worth testing only when each block's SAD is below this many times
    // the SAD that surely quantises to nothing (the largest transform
    // coefficient is at most 0.1976 SAD; typical residuals spread over
    // many coefficients). Level 5 always searches.
    static constexpr float kEarlySkipFactor[6] = {3.0f, 3.0f, 3.0f, 3.0f, 2.0f, 0.0f};
    const QuantStep qs = q.step();
    const float zeroBelow = (1.0f - kInterRounding) * static_cast<float>(qs.acStep()) +
                            (qs.uniform ? 0.0f : static_cast<float>(qs.pquant));
    const unsigned earlySkipSad = static_cast<unsigned>(zeroBelow * kEarlySkipFactor[level] / 0.1976f);
    MotionSearchConfig msc;
    msc.complexity = level;
    msc.lambda = lambdaSad;
    msc.mvTable = lastMvTable_;
    msc.rnd = opt.rnd;
    // A macroblock whose half-sample match is within the early-skip bound
    // gains nothing measurable from quarter samples (same rate and PSNR at
    // 1280x720, fewer interpolations).
    msc.quarterStopSad = earlySkipSad;
    MotionSearch& search = search_;
    search.begin(src.luma.at(0, 0), src.luma.stride, view, mbW, mbH, msc);

    Vc1MvField field;
    field.reset(mbW, mbH);
    if (previousMvs_.size() != static_cast<std::size_t>(mbW * mbH)) previousMvs_.assign(static_cast<std::size_t>(mbW * mbH), Vc1Mv{});
    currentMvs_.assign(static_cast<std::size_t>(mbW * mbH), Vc1Mv{});

    DcGrid lumaDc, cbDc, crDc;
    lumaDc.reset(2 * mbW, 2 * mbH);
    cbDc.reset(mbW, mbH);
    crDc.reset(mbW, mbH);

    std::vector<MbRecord> mbs(static_cast<std::size_t>(mbW * mbH));
    std::vector<AcEvent> events;
    events.reserve(static_cast<std::size_t>(mbW * mbH) * 16);

    // Cost estimates use a fixed escape-3 size and the set the index 0
    // choice gives; the real choice comes after all decisions.
    Escape3 estEsc3;
    estEsc3.levelBits = maxEscape3LevelBits(q.pquant);
    estEsc3.runBits = 6;
    const AcSetInfo& estInter = AcSetInfo::get(acCodingSet(0, q.pqindex, false));
    const AcSetInfo& estIntra = AcSetInfo::get(acCodingSet(0, q.pqindex, true));

    alignas(16) std::uint8_t predScratch[16 * 16], predCb[64], predCr[64];
    alignas(16) std::uint8_t recY[16 * 16], recCb[64], recCr[64];
    // Two skip candidates (hybrid prediction offers two vectors).
    alignas(16) std::uint8_t skipScratch[2][16 * 16], skipCbBuf[2][64], skipCrBuf[2][64];

    // Quantises a macroblock's residual against a prediction (luma with
    // its stride, chroma 8x8); returns the coded block pattern. Blocks the
    // zero test clears are not quantised.
    InterZeroTest zeroTest;
    zeroTest.setup(q, kInterRounding);
    const unsigned surelyZeroSad = static_cast<unsigned>(0.999f * zeroBelow / 0.1976f);
    auto quantizeMb = [&](const std::uint8_t* sy, const std::uint8_t* su, const std::uint8_t* sv,
                          const std::uint8_t* pY, int pStride, const std::uint8_t* pCb, const std::uint8_t* pCr,
                          InterBlock* out) {
        int pattern = 0;
        const std::ptrdiff_t ys = src.luma.stride, cs = src.cb.stride;
        for (int b = 0; b < 6; ++b) {
            const std::uint8_t* s;
            std::ptrdiff_t ss;
            const std::uint8_t* p;
            std::ptrdiff_t ps;
            if (b < 4) {
                s = sy + (b >> 1) * 8 * ys + (b & 1) * 8;
                ss = ys;
                p = pY + (b >> 1) * 8 * pStride + (b & 1) * 8;
                ps = pStride;
            } else {
                s = b == 4 ? su : sv;
                ss = cs;
                p = b == 4 ? pCb : pCr;
                ps = 8;
            }
            // No coefficient exceeds 0.1976 SAD: tiny residuals need no transform.
            if (sad8x8(s, static_cast<int>(ss), p, static_cast<int>(ps)) < surelyZeroSad || zeroTest.zero(s, ss, p, ps)) {
                out[b].eventCount = 0;
                continue;
            }
            if (quantizeInterResidual(s, ss, p, ps, q, kInterRounding, out[b], zeroBias) &&
                interDecimationScore(out[b]) < kDecimateBelow) {
                clearInterBlock(out[b]);  // a few scattered +-1 levels: not worth their bits
            }
            if (out[b].coded()) pattern |= 1 << (5 - b);
        }
        return pattern;
    };

    // Block scratch (large: kept out of the macroblock loop).
    InterBlock ibBuf[6], skipIb[6];
    IntraPBlock pb[6];

    for (int mbY = 0; mbY < mbH; ++mbY) {
        for (int mbX = 0; mbX < mbW; ++mbX) {
            MbRecord& rec = mbs[static_cast<std::size_t>(mbY * mbW + mbX)];
            const Vc1MvPrediction pred = field.predict(mbX, mbY);
            const std::uint8_t* sy = src.luma.at(mbX * 16, mbY * 16);
            const std::uint8_t* su = src.cb.at(mbX * 8, mbY * 8);
            const std::uint8_t* sv = src.cr.at(mbX * 8, mbY * 8);
            const std::ptrdiff_t ys = src.luma.stride, cs = src.cb.stride;
            const int ysi = static_cast<int>(ys), csi = static_cast<int>(cs);

            Vc1Mv forced;
            const bool mvForced = opt.forceMv && opt.forceMv(mbX, mbY, forced);
            const bool forcedIntra = opt.forceIntra && opt.forceIntra(mbX, mbY);

            // --- The skip candidate: the predicted vector (HYBRIDPRED = 0
            // when hybrid), its prediction kept for the decision below.
            int skipSel = 0;
            Vc1Mv skipMv = pred.hybrid ? pred.fromC : pred.pred;
            bool skipBit = false;
            int skipStride = 16;
            const std::uint8_t* skipY = search.predictLuma(mbX, mbY, skipMv, skipScratch[0], skipStride);
            vc1PredictChroma(view, mc, mbX, mbY, skipMv.x, skipMv.y, skipCbBuf[0], skipCrBuf[0], 8);
            const std::uint8_t* skipCb = skipCbBuf[0];
            const std::uint8_t* skipCr = skipCrBuf[0];
            // Early skip: the residual at the skip vector quantises to
            // nothing (worth trying only when no block's SAD is far above
            // what can quantise to nothing).
            int skipCbp = -1;  // -1: not quantised
            if (!mvForced && !forcedIntra) {
                bool likely = true;
                for (int b = 0; b < 4 && likely; ++b) {
                    const std::ptrdiff_t o = (b >> 1) * 8;
                    likely = sad8x8(sy + o * ys + (b & 1) * 8, ysi, skipY + o * skipStride + (b & 1) * 8,
                                    skipStride) < earlySkipSad;
                }
                likely = likely && sad8x8(su, csi, skipCb, 8) < earlySkipSad && sad8x8(sv, csi, skipCr, 8) < earlySkipSad;
                if (likely) skipCbp = quantizeMb(sy, su, sv, skipY, skipStride, skipCb, skipCr, skipIb);
            }
            const bool earlySkip = skipCbp == 0;

            MbKind kind = MbKind::Skip;
            Vc1Mv mv = skipMv;
            bool hybridBit = false;
            unsigned mvDistortion = 0;
            std::uint64_t interSse = 0, skipSse = 0;
            int interBits = 0;
            int cbp = 0;
            Vc1MvDataCode interCode;
            InterBlock* ib = ibBuf;
            const std::uint8_t* predY = skipY;
            int predStride = skipStride;
            if (!earlySkip) {
                // --- Motion: the best vector for this macroblock.
                if (mvForced) {
                    mv = forced;
                } else {
                    Vc1Mv cand[8];
                    int n = 0;
                    if (mbX > 0) cand[n++] = field.at(mbX - 1, mbY);
                    if (mbY > 0) cand[n++] = field.at(mbX, mbY - 1);
                    if (mbY > 0 && mbX + 1 < mbW) cand[n++] = field.at(mbX + 1, mbY - 1);
                    cand[n++] = previousMvs_[static_cast<std::size_t>(mbY * mbW + mbX)];
                    if (pred.hybrid) {
                        cand[n++] = pred.fromA;
                        cand[n++] = pred.fromC;
                    }
                    mv = search.search(mbX, mbY, pred.pred, cand, n).mv;
                }

                // Hybrid choice for the coded vector: the cheaper differential.
                Vc1Mv usedPred = pred.pred;
                if (pred.hybrid) {
                    const int bitsA = vc1MvDataBits(lastMvTable_, mv.x - pred.fromA.x, mv.y - pred.fromA.y, true, false);
                    const int bitsC = vc1MvDataBits(lastMvTable_, mv.x - pred.fromC.x, mv.y - pred.fromC.y, true, false);
                    hybridBit = bitsA < bitsC;
                    usedPred = hybridBit ? pred.fromA : pred.fromC;
                }

                // --- Inter coding at that vector.
                if (mv != skipMv) {
                    predY = search.predictLuma(mbX, mbY, mv, predScratch, predStride);
                    vc1PredictChroma(view, mc, mbX, mbY, mv.x, mv.y, predCb, predCr, 8);
                } else {
                    std::memcpy(predCb, skipCb, sizeof predCb);
                    std::memcpy(predCr, skipCr, sizeof predCr);
                }
                mvDistortion = sad16x16(sy, ysi, predY, predStride);
                if (mv == skipMv && skipCbp >= 0) {
                    cbp = skipCbp;
                    ib = skipIb;
                } else {
                    cbp = quantizeMb(sy, su, sv, predY, predStride, predCb, predCr, ibBuf);
                }
                int acBits = 0;
                for (int y = 0; y < 16; ++y) std::memcpy(recY + y * 16, predY + y * predStride, 16);
                std::memcpy(recCb, predCb, sizeof recCb);
                std::memcpy(recCr, predCr, sizeof recCr);
                for (int b = 0; b < 6; ++b) {
                    if (!ib[b].coded()) continue;
                    acBits += eventBits(estInter, ib[b].events, ib[b].eventCount, estEsc3);
                    if (b < 4)
                        reconstructInterBlock(ib[b], q, recY + (b >> 1) * 8 * 16 + (b & 1) * 8, 16);
                    else
                        reconstructInterBlock(ib[b], q, b == 4 ? recCb : recCr, 8);
                }
                interCode = vc1MvDataCode(mv.x - usedPred.x, mv.y - usedPred.y, cbp != 0, false);
                interSse = mbSse(sy, ys, su, sv, cs, recY, 16, recCb, recCr);
                interBits = acBits + (pred.hybrid ? 1 : 0);
                if (interCode.symbol >= 0) interBits += interCode.bits(lastMvTable_);
                if (cbp != 0) interBits += kVc1CbpcyPVlc[0][cbp].length;

                kind = MbKind::Inter;
                const bool mvIsSkippable = pred.hybrid ? (mv == pred.fromA || mv == pred.fromC) : mv == pred.pred;
                if (cbp == 0 && mvIsSkippable) {
                    kind = MbKind::Skip;
                    if (mv != skipMv) {  // the other hybrid vector
                        skipMv = mv;
                        skipBit = true;
                        skipY = predY;
                        skipStride = predStride;
                        skipCb = predCb;
                        skipCr = predCr;
                    }
                } else if (!mvForced) {
                    // --- Skip at the predicted vector against inter coding.
                    skipSse = mbSse(sy, ys, su, sv, cs, skipY, skipStride, skipCb, skipCr);
                    if (pred.hybrid && level >= 2) {
                        int altStride = 16;
                        const Vc1Mv alt = pred.fromA;
                        const std::uint8_t* altY =
                            alt == mv ? predY : search.predictLuma(mbX, mbY, alt, skipScratch[1], altStride);
                        if (alt == mv) {
                            altStride = predStride;
                            std::memcpy(skipCbBuf[1], predCb, 64);
                            std::memcpy(skipCrBuf[1], predCr, 64);
                        } else {
                            vc1PredictChroma(view, mc, mbX, mbY, alt.x, alt.y, skipCbBuf[1], skipCrBuf[1], 8);
                        }
                        const std::uint64_t a = mbSse(sy, ys, su, sv, cs, altY, altStride, skipCbBuf[1], skipCrBuf[1]);
                        if (a < skipSse) {
                            skipSse = a;
                            skipMv = alt;
                            skipBit = true;
                            skipY = altY;
                            skipStride = altStride;
                            skipCb = skipCbBuf[1];
                            skipCr = skipCrBuf[1];
                            skipSel = 1;
                        }
                    }
                    const double jSkip = static_cast<double>(skipSse) + lambdaSse * (pred.hybrid ? 2.0 : 1.0);
                    const double jInter = static_cast<double>(interSse) + lambdaSse * interBits;
                    if (jSkip <= jInter) kind = MbKind::Skip;
                }
            }
            (void)skipSel;
            if (earlySkip) ++stats_.earlySkipped;

            // --- Intra, when prediction fails.
            // Intra can only win where the prediction's SAD exceeds the
            // intra margin.
            const bool considerIntra =
                kind == MbKind::Inter && !mvForced && mvDistortion > 16u * static_cast<unsigned>(lambdaSad);
            const unsigned activity =
                considerIntra || forcedIntra || opt.measureActivity ? intraActivity16(sy, ys) : 0;
            intraActivity_ += activity;
            bool tryIntra = forcedIntra;
            if (!tryIntra && considerIntra) tryIntra = activity + 16u * static_cast<unsigned>(lambdaSad) < mvDistortion;
            if (tryIntra) {
                int intraCbp = 0;
                int bits = 8;
                alignas(16) std::uint8_t iy[256], icb[64], icr[64];
                for (int b = 0; b < 6; ++b) {
                    const std::uint8_t* s = b < 4 ? sy + (b >> 1) * 8 * ys + (b & 1) * 8 : (b == 4 ? su : sv);
                    const std::ptrdiff_t ss = b < 4 ? ys : cs;
                    std::uint8_t* r = b < 4 ? iy + (b >> 1) * 8 * 16 + (b & 1) * 8 : (b == 4 ? icb : icr);
                    const std::ptrdiff_t rs = b < 4 ? 16 : 8;
                    quantizeIntraPBlock(s, ss, q, kIntraRounding, pb[b]);
                    reconstructIntraPBlock(pb[b], q, r, rs);
                    if (pb[b].eventCount > 0) intraCbp |= 1 << (5 - b);
                    bits += 4 + eventBits(b < 4 ? estIntra : estInter, pb[b].events, pb[b].eventCount, estEsc3);
                }
                const std::uint64_t intraSse = mbSse(sy, ys, su, sv, cs, iy, 16, icb, icr);
                const double jIntra = static_cast<double>(intraSse) + lambdaSse * bits;
                const double jInter = static_cast<double>(interSse) + lambdaSse * interBits;
                const double jSkip = static_cast<double>(skipSse) + lambdaSse;
                if (forcedIntra || (jIntra < jInter && (kind != MbKind::Skip || jIntra < jSkip))) {
                    kind = MbKind::Intra;
                    cbp = intraCbp;
                    std::memcpy(recY, iy, sizeof recY);
                    std::memcpy(recCb, icb, sizeof recCb);
                    std::memcpy(recCr, icr, sizeof recCr);
                }
            }

            // --- Commit.
            rec.kind = kind;
            rec.hybrid = pred.hybrid;
            if (kind == MbKind::Skip) {
                rec.mv = skipMv;
                rec.hybridBit = skipBit;
                rec.cbp = 0;
                for (int y = 0; y < 16; ++y) std::memcpy(recY + y * 16, skipY + y * skipStride, 16);
                std::memcpy(recCb, skipCb, sizeof recCb);
                std::memcpy(recCr, skipCr, sizeof recCr);
                field.set(mbX, mbY, skipMv, false);
                ++stats_.skipped;
                interDistortion_ += sad16x16(sy, static_cast<int>(ys), recY, 16);
            } else if (kind == MbKind::Inter) {
                rec.mv = mv;
                rec.hybridBit = hybridBit;
                rec.cbp = cbp;
                rec.mvCode = interCode;
                for (int b = 0; b < 6; ++b) {
                    rec.blocks[b].eventOffset = static_cast<int>(events.size());
                    rec.blocks[b].eventCount = ib[b].eventCount;
                    events.insert(events.end(), ib[b].events, ib[b].events + ib[b].eventCount);
                }
                field.set(mbX, mbY, mv, false);
                ++stats_.inter;
                interDistortion_ += mvDistortion;
            } else {
                rec.mv = Vc1Mv{};
                rec.hybrid = false;
                rec.cbp = cbp;
                rec.mvCode = vc1MvDataIntra(cbp != 0);
                for (int b = 0; b < 6; ++b) {
                    rec.blocks[b].eventOffset = static_cast<int>(events.size());
                    rec.blocks[b].eventCount = pb[b].eventCount;
                    events.insert(events.end(), pb[b].events, pb[b].events + pb[b].eventCount);
                }
                field.set(mbX, mbY, Vc1Mv{}, true);
                ++stats_.intra;
                interDistortion_ += activity;
            }
            if (rec.kind != MbKind::Inter) rec.mvCode = rec.kind == MbKind::Intra ? rec.mvCode : Vc1MvDataCode{};
            if (rec.kind == MbKind::Inter && rec.hybrid) stats_.hybridBits++;
            if (rec.kind == MbKind::Skip && rec.hybrid) stats_.hybridBits++;

            // DC predictors: intra blocks keep their DC level, others 0.
            const bool intra = rec.kind == MbKind::Intra;
            for (int b = 0; b < 4; ++b) {
                const int bx = 2 * mbX + (b & 1), by = 2 * mbY + (b >> 1);
                if (intra) {
                    const int p = lumaDc.predict(bx, by);
                    rec.blocks[b].dcDiff = pb[b].dcLevel - p;
                }
                lumaDc.set(bx, by, intra ? pb[b].dcLevel : 0, intra);
            }
            if (intra) {
                rec.blocks[4].dcDiff = pb[4].dcLevel - cbDc.predict(mbX, mbY);
                rec.blocks[5].dcDiff = pb[5].dcLevel - crDc.predict(mbX, mbY);
            }
            cbDc.set(mbX, mbY, intra ? pb[4].dcLevel : 0, intra);
            crDc.set(mbX, mbY, intra ? pb[5].dcLevel : 0, intra);
            currentMvs_[static_cast<std::size_t>(mbY * mbW + mbX)] = rec.kind == MbKind::Intra ? Vc1Mv{} : rec.mv;

            // Reconstruction into the picture.
            for (int y = 0; y < 16; ++y) std::memcpy(recon.luma.at(mbX * 16, mbY * 16 + y), recY + y * 16, 16);
            for (int y = 0; y < 8; ++y) {
                std::memcpy(recon.cb.at(mbX * 8, mbY * 8 + y), recCb + y * 8, 8);
                std::memcpy(recon.cr.at(mbX * 8, mbY * 8 + y), recCr + y * 8, 8);
            }
        }
    }
    previousMvs_.swap(currentMvs_);

    // --- Picture-level choices by counting bits.
    int bestMvTable = 0, bestMvBits = -1;
    for (int t = 0; t < kVc1MvDataTables; ++t) {
        int bits = 0;
        for (const MbRecord& m : mbs)
            if (m.kind != MbKind::Skip) bits += m.mvCode.bits(t);
        if (bestMvBits < 0 || bits < bestMvBits) {
            bestMvBits = bits;
            bestMvTable = t;
        }
    }
    int bestCbpTable = 0, bestCbpBits = -1;
    for (int t = 0; t < kVc1CbpcyPTables; ++t) {
        int bits = 0;
        for (const MbRecord& m : mbs)
            if (m.kind != MbKind::Skip && m.cbp != 0) bits += kVc1CbpcyPVlc[t][m.cbp].length;
        if (bestCbpBits < 0 || bits < bestCbpBits) {
            bestCbpBits = bits;
            bestCbpTable = t;
        }
    }
    const Escape3 esc3 = escape3For(events, q.pquant);
    int bestAc = 0, bestAcBits = -1;
    for (int index = 0; index < 3; ++index) {
        const AcSetInfo& interSet = AcSetInfo::get(acCodingSet(index, q.pqindex, false));
        const AcSetInfo& intraSet = AcSetInfo::get(acCodingSet(index, q.pqindex, true));
        int bits = 0;
        for (const MbRecord& m : mbs) {
            if (m.kind == MbKind::Skip) continue;
            for (int b = 0; b < 6; ++b) {
                const AcSetInfo& set = (m.kind == MbKind::Intra && b < 4) ? intraSet : interSet;
                bits += eventBits(set, events.data() + m.blocks[b].eventOffset, m.blocks[b].eventCount, esc3);
            }
        }
        if (bestAcBits < 0 || bits < bestAcBits) {
            bestAcBits = bits;
            bestAc = index;
        }
    }
    int bestDc = 0;
    if (stats_.intra > 0) {
        std::uint64_t dcBits[2] = {0, 0};
        for (int t = 0; t < 2; ++t) {
            BitCounter c;
            for (const MbRecord& m : mbs)
                if (m.kind == MbKind::Intra)
                    for (int b = 0; b < 6; ++b) writeDcDiff(c, m.blocks[b].dcDiff, q.pquant, b >= 4, t);
            dcBits[t] = c.bitCount();
        }
        bestDc = dcBits[1] < dcBits[0] ? 1 : 0;
    }
    Vc1Bitplane skipPlane(mbW, mbH);
    for (int y = 0; y < mbH; ++y)
        for (int x = 0; x < mbW; ++x) skipPlane.set(x, y, mbs[static_cast<std::size_t>(y * mbW + x)].kind == MbKind::Skip);
    Vc1BitplaneChoice skipChoice = skipPlane.choose();
    if (opt.forceSkipImode >= 0 && opt.forceSkipImode < kVc1ImodeCount) {
        skipChoice.mode = static_cast<Vc1Imode>(opt.forceSkipImode);
        skipChoice.invert = skipChoice.mode != Vc1Imode::Raw && opt.forceSkipInvert;
    }

    stats_.mvTable = bestMvTable;
    stats_.cbpTable = bestCbpTable;
    stats_.acIndex = bestAc;
    stats_.dcTable = bestDc;
    stats_.skipImode = static_cast<int>(skipChoice.mode);
    stats_.skipInvert = skipChoice.invert;
    lastMvTable_ = bestMvTable;

    // --- Picture layer.
    BitWriter w;
    if (seq.frameInterpolation) w.put(0, 1);  // INTERPFRM
    w.put(0, 2);                              // FRMCNT
    if (seq.rangeReduction) w.put(0, 1);      // RANGEREDFRM
    w.put(1, 1);                              // PTYPE: P
    writePictureQuant(w, seq.quantizer, q);
    if (seq.extendedMv) w.put(0, 1);  // MVRANGE: the default range
    if (seq.multiRes) w.put(0, 2);    // RESPIC: full size
    w.put(vc1MvModeCode(Vc1MvMode::OneMvQuarterBicubic, q.pquant));
    skipPlane.write(w, skipChoice);
    w.put(static_cast<std::uint32_t>(bestMvTable), 2);   // MVTAB
    w.put(static_cast<std::uint32_t>(bestCbpTable), 2);  // CBPTAB
    if (seq.variableTransform) {
        w.put(1, 1);  // TTMBF: one transform type for the picture
        w.put(0, 2);  // TTFRM: 8x8
    }
    writeCodingSetIndex(w, bestAc);  // TRANSACFRM
    w.put(static_cast<std::uint32_t>(bestDc), 1);  // TRANSDCTAB

    // --- Macroblock layer.
    const AcSetInfo& interSet = AcSetInfo::get(acCodingSet(bestAc, q.pqindex, false));
    const AcSetInfo& intraSet = AcSetInfo::get(acCodingSet(bestAc, q.pqindex, true));
    Escape3 esc3State = esc3;
    esc3State.sent = false;
    const bool rawSkip = skipChoice.mode == Vc1Imode::Raw;
    for (int mbY = 0; mbY < mbH; ++mbY)
        for (int mbX = 0; mbX < mbW; ++mbX) {
            const MbRecord& m = mbs[static_cast<std::size_t>(mbY * mbW + mbX)];
            if (rawSkip) w.putBit(m.kind == MbKind::Skip);
            if (m.kind == MbKind::Skip) {
                if (m.hybrid) w.putBit(m.hybridBit);  // HYBRIDPRED
                continue;
            }
            vc1WriteMvData(w, bestMvTable, m.mvCode);
            if (m.kind == MbKind::Inter && m.hybrid) w.putBit(m.hybridBit);
            if (m.kind == MbKind::Intra) w.put(0, 1);  // ACPRED
            if (m.cbp != 0) w.put(kVc1CbpcyPVlc[bestCbpTable][m.cbp]);
            for (int b = 0; b < 6; ++b) {
                const BlockRecord& br = m.blocks[b];
                if (m.kind == MbKind::Intra) {
                    writeDcDiff(w, br.dcDiff, q.pquant, b >= 4, bestDc);
                    if (br.eventCount > 0)
                        writeBlockEvents(w, b < 4 ? intraSet : interSet, events.data() + br.eventOffset, br.eventCount,
                                         esc3State, q.pquant);
                } else if (br.eventCount > 0) {
                    writeBlockEvents(w, interSet, events.data() + br.eventOffset, br.eventCount, esc3State, q.pquant);
                }
            }
        }
    if (rawSkip) {
        // With per-macroblock skip bits a decoder may insist on more than
        // one bit being left before every macroblock: a last macroblock of
        // one or two bits would fail that test, so a zero byte follows.
        w.alignToByte();
        w.put(0, 8);
    }
    return w.take();
}

}  // namespace asfw::vc1
