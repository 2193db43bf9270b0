#include "video_encoder/intra_picture.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>

namespace asfw::vc1 {

namespace {

constexpr int kPlanes = 3;

struct BlockData {
    std::int16_t levels[64];  // final AC levels (raster; [0] unused)
    int dc = 0;               // quantised DC
    int dcDiff = 0;
    bool predLeft = true;     // DC (and AC) prediction from the left
    // Run/level events without (0) and with (1) AC prediction.
    std::uint32_t eventStart[2] = {0, 0};
    std::uint8_t eventCount[2] = {0, 0};
    bool predictable = true;  // residual of variant 1 codable
    // AC bits of each variant in each candidate set of the block's kind
    // (luma: intra sets, chroma: inter sets, by coding-set index 0..2).
    int bits[3][2] = {{0, 0}, {0, 0}, {0, 0}};
};

int bitsFor(int v)
{
    int n = 0;
    while (v > 0) {
        ++n;
        v >>= 1;
    }
    return n;
}

class IntraPictureCoder {
public:
    IntraPictureCoder(const SequenceHeader& seq, const Frame& source, const IntraPictureOptions& options, Frame& recon)
        : seq_(seq), src_(source), rec_(recon), opt_(options), q_(options.quant)
    {
        mbw_ = source.mbWidth;
        mbh_ = source.mbHeight;
        for (int p = 0; p < kPlanes; ++p) {
            bw_[p] = p == 0 ? 2 * mbw_ : mbw_;
            bh_[p] = p == 0 ? 2 * mbh_ : mbh_;
            blocks_[p].resize(static_cast<std::size_t>(bw_[p]) * static_cast<std::size_t>(bh_[p]));
        }
    }

    std::vector<std::uint8_t> run(IntraPictureInfo* info, TracingWriter* trace)
    {
        quantizeAndReconstruct();
        predictDc();
        collectEvents();
        chooseAndWrite(info, trace);
        return std::move(bytes_);
    }

private:
    BlockData& block(int p, int bx, int by) { return blocks_[p][static_cast<std::size_t>(by) * bw_[p] + bx]; }
    const BlockData* blockAt(int p, int bx, int by) const
    {
        if (bx < 0 || by < 0 || bx >= bw_[p] || by >= bh_[p]) return nullptr;
        return &blocks_[p][static_cast<std::size_t>(by) * bw_[p] + bx];
    }
    static int planeOf(int k) { return k < 4 ? 0 : k - 3; }
    static int blockX(int k, int mbX) { return k < 4 ? 2 * mbX + (k & 1) : mbX; }
    static int blockY(int k, int mbY) { return k < 4 ? 2 * mbY + (k >> 1) : mbY; }

    void quantizeAndReconstruct()
    {
        float coef[64];
        const int maxDc = maxDcDiff(q_.pquant);
        // Refinement prices levels with the sets index 0 names (the usual choice).
        const int lumaSet = acCodingSet(opt_.lumaSetIndex >= 0 ? opt_.lumaSetIndex : 0, q_.pqindex, true);
        const int chromaSet = acCodingSet(opt_.chromaSetIndex >= 0 ? opt_.chromaSetIndex : 0, q_.pqindex, false);
        const float pixelStep = static_cast<float>(q_.step().acStep()) * 1.13f;
        const float lambda = opt_.tuning.intraLambda * pixelStep * pixelStep;
        for (int p = 0; p < kPlanes; ++p) {
            const Plane& sp = src_.plane(p);
            Plane& rp = rec_.plane(p);
            for (int by = 0; by < bh_[p]; ++by) {
                for (int bx = 0; bx < bw_[p]; ++bx) {
                    BlockData& b = block(p, bx, by);
                    forwardTransform8x8(sp.at(bx * 8, by * 8), sp.stride, coef);
                    b.dc = std::min(quantizeIntraDc(coef[0], q_), maxDc);
                    b.levels[0] = 0;
                    quantizeAc(coef, q_, opt_.tuning.intraRounding, b.levels);
                    if (lambda > 0.0f)
                        rdoRefineLevels(coef, q_, AcSetInfo::get(p == 0 ? lumaSet : chromaSet),
                                        kZigzag8x8[kScanIntraNormal], 1, lambda, b.levels);
                    reconstructIntraBlock(b.levels, b.dc, q_, rp.at(bx * 8, by * 8), rp.stride);
                }
            }
        }
    }

    void predictDc()
    {
        const int outside = kDcPredictorOutside[q_.dcStep];
        for (int p = 0; p < kPlanes; ++p) {
            for (int by = 0; by < bh_[p]; ++by) {
                for (int bx = 0; bx < bw_[p]; ++bx) {
                    const BlockData* top = blockAt(p, bx, by - 1);
                    const BlockData* topLeft = blockAt(p, bx - 1, by - 1);
                    const BlockData* left = blockAt(p, bx - 1, by);
                    const int a = top ? top->dc : outside;
                    const int b = topLeft ? topLeft->dc : outside;
                    const int c = left ? left->dc : outside;
                    BlockData& cur = block(p, bx, by);
                    cur.predLeft = std::abs(a - b) <= std::abs(b - c);
                    cur.dcDiff = cur.dc - (cur.predLeft ? c : a);
                }
            }
        }
    }

    void collectEvents()
    {
        const int maxLevel = maxAcLevel(q_.pquant);
        AcEvent ev[64];
        std::int16_t residual[64];
        for (int p = 0; p < kPlanes; ++p) {
            for (int by = 0; by < bh_[p]; ++by) {
                for (int bx = 0; bx < bw_[p]; ++bx) {
                    BlockData& b = block(p, bx, by);
                    int n = collectAcEvents(b.levels, kZigzag8x8[kScanIntraNormal], 1, ev);
                    b.eventStart[0] = static_cast<std::uint32_t>(pool_.size());
                    b.eventCount[0] = static_cast<std::uint8_t>(n);
                    pool_.insert(pool_.end(), ev, ev + n);

                    std::copy(b.levels, b.levels + 64, residual);
                    const BlockData* nb = b.predLeft ? blockAt(p, bx - 1, by) : blockAt(p, bx, by - 1);
                    b.predictable = true;
                    for (int k = 1; k < 8; ++k) {
                        const int pos = b.predLeft ? 8 * k : k;
                        const int r = residual[pos] - (nb ? nb->levels[pos] : 0);
                        if (std::abs(r) > maxLevel) b.predictable = false;
                        residual[pos] = static_cast<std::int16_t>(r);
                    }
                    n = collectAcEvents(residual, kZigzag8x8[b.predLeft ? kScanIntraVertical : kScanIntraHorizontal],
                                        1, ev);
                    b.eventStart[1] = static_cast<std::uint32_t>(pool_.size());
                    b.eventCount[1] = static_cast<std::uint8_t>(n);
                    pool_.insert(pool_.end(), ev, ev + n);
                }
            }
        }
    }

    // Escape-3 sizes for the picture: large enough for every event that no
    // other mode can code in any candidate set.
    Escape3 escape3For(const int lumaSets[3], const int chromaSets[3], const bool candidate[3]) const
    {
        int maxMag = 0, maxRun = 0;
        bool any = false;
        const Escape3 none;
        for (int p = 0; p < kPlanes; ++p) {
            for (int i = 0; i < 3; ++i) {
                if (!candidate[i]) continue;
                const AcSetInfo& set = AcSetInfo::get(p == 0 ? lumaSets[i] : chromaSets[i]);
                for (const BlockData& b : blocks_[p]) {
                    for (int v = 0; v < 2; ++v) {
                        if (v == 1 && !b.predictable) continue;
                        for (int k = 0; k < b.eventCount[v]; ++k) {
                            const AcEvent& e = pool_[b.eventStart[v] + k];
                            const int mag = std::abs(static_cast<int>(e.level));
                            if (set.index(e.run, mag, e.last) >= 0) continue;
                            if (chooseAcCoding(set, e.run, mag, e.last, none).mode == AcMode::Impossible) {
                                any = true;
                                maxMag = std::max(maxMag, mag);
                                maxRun = std::max(maxRun, static_cast<int>(e.run));
                            }
                        }
                    }
                }
            }
        }
        Escape3 e;
        e.levelBits = std::max(minEscape3LevelBits(q_.pquant), any ? bitsFor(maxMag) : 0);
        e.levelBits = std::min(e.levelBits, maxEscape3LevelBits(q_.pquant));
        e.runBits = std::max(3, any ? bitsFor(maxRun) : 0);
        return e;
    }

    // Fills every block's bits[][] for the candidate sets.
    void priceBlocks(const int lumaSets[3], const int chromaSets[3], const bool lumaCandidate[3],
                     const bool chromaCandidate[3], const Escape3& esc3)
    {
        for (int p = 0; p < kPlanes; ++p) {
            for (int i = 0; i < 3; ++i) {
                if (!(p == 0 ? lumaCandidate : chromaCandidate)[i]) continue;
                const AcSetInfo& set = AcSetInfo::get(p == 0 ? lumaSets[i] : chromaSets[i]);
                for (BlockData& b : blocks_[p])
                    for (int v = 0; v < 2; ++v) b.bits[i][v] = blockAcBits(b, v, set, esc3);
            }
        }
    }

    int blockAcBits(const BlockData& b, int variant, const AcSetInfo& set, const Escape3& esc3) const
    {
        int bits = 0;
        for (int i = 0; i < b.eventCount[variant]; ++i) {
            const AcEvent& e = pool_[b.eventStart[variant] + i];
            bits += chooseAcCoding(set, e.run, std::abs(static_cast<int>(e.level)), e.last, esc3).bits;
        }
        return bits;
    }

    bool variantAllowed(int mbX, int mbY, int v) const
    {
        if (v == 1) {
            if (opt_.acPrediction == AcPredictionPolicy::Never) return false;
            for (int k = 0; k < 6; ++k)
                if (!blockAt(planeOf(k), blockX(k, mbX), blockY(k, mbY))->predictable) return false;
            return true;
        }
        return opt_.acPrediction != AcPredictionPolicy::Always || !variantAllowed(mbX, mbY, 1);
    }

    // CBPCY of a macroblock from its blocks' coded flags, with the luma
    // bits predicted from the coded-flag grid of earlier macroblocks.
    int cbpcy(int mbX, int mbY, const bool coded[6]) const
    {
        auto flag = [&](int x, int y) -> bool {
            if (x < 0 || y < 0) return false;
            if (y >= 2 * mbY && x >= 2 * mbX) return coded[(y - 2 * mbY) * 2 + (x - 2 * mbX)];
            return codedGrid_[static_cast<std::size_t>(y) * bw_[0] + x] != 0;
        };
        int cbp = 0;
        for (int k = 0; k < 4; ++k) {
            const int x = blockX(k, mbX), y = blockY(k, mbY);
            const bool pred = predictCodedBlock(flag(x - 1, y), flag(x - 1, y - 1), flag(x, y - 1));
            cbp |= (coded[k] != pred ? 1 : 0) << (5 - k);
        }
        cbp |= (coded[4] ? 2 : 0) | (coded[5] ? 1 : 0);
        return cbp;
    }

    void commitCoded(int mbX, int mbY, const bool coded[6])
    {
        for (int k = 0; k < 4; ++k)
            codedGrid_[static_cast<std::size_t>(blockY(k, mbY)) * bw_[0] + blockX(k, mbX)] = coded[k] ? 1 : 0;
    }

    void codedFlags(int mbX, int mbY, int v, bool coded[6]) const
    {
        for (int k = 0; k < 6; ++k) coded[k] = blockAt(planeOf(k), blockX(k, mbX), blockY(k, mbY))->eventCount[v] > 0;
    }

    // Greedy per-macroblock ACPRED choice for a pair of sets; returns the
    // AC + CBPCY + ACPRED bits and fills `decision`.
    std::uint64_t evaluate(int lumaIndex, int chromaIndex, std::vector<std::uint8_t>& decision)
    {
        codedGrid_.assign(blocks_[0].size(), 0);
        decision.assign(static_cast<std::size_t>(mbw_) * mbh_, 0);
        std::uint64_t total = 0;
        for (int my = 0; my < mbh_; ++my) {
            for (int mx = 0; mx < mbw_; ++mx) {
                int bestBits = std::numeric_limits<int>::max();
                int bestV = 0;
                for (int v = 0; v < 2; ++v) {
                    if (!variantAllowed(mx, my, v)) continue;
                    bool coded[6];
                    codedFlags(mx, my, v, coded);
                    int bits = kCbpcyIntra[cbpcy(mx, my, coded)].length + 1;
                    for (int k = 0; k < 6; ++k) {
                        const BlockData* b = blockAt(planeOf(k), blockX(k, mx), blockY(k, my));
                        bits += b->bits[k < 4 ? lumaIndex : chromaIndex][v];
                    }
                    if (bits < bestBits) {
                        bestBits = bits;
                        bestV = v;
                    }
                }
                bool coded[6];
                codedFlags(mx, my, bestV, coded);
                commitCoded(mx, my, coded);
                decision[static_cast<std::size_t>(my) * mbw_ + mx] = static_cast<std::uint8_t>(bestV);
                total += static_cast<std::uint64_t>(bestBits);
            }
        }
        return total;
    }

    std::uint64_t dcBits(int table) const
    {
        BitCounter c;
        for (int p = 0; p < kPlanes; ++p)
            for (const BlockData& b : blocks_[p]) writeDcDiff(c, b.dcDiff, q_.pquant, p != 0, table);
        return c.bitCount();
    }

    template <class W>
    void writePicture(W& w, int lumaIndex, int chromaIndex, int dcTable, Escape3 esc3,
                      const std::vector<std::uint8_t>& decision, IntraPictureInfo* info)
    {
        const AcSetInfo& ls = AcSetInfo::get(acCodingSet(lumaIndex, q_.pqindex, true));
        const AcSetInfo& cs = AcSetInfo::get(acCodingSet(chromaIndex, q_.pqindex, false));
        writeIntraPictureHeader(w, seq_, q_, opt_.frameCount, opt_.bufferFullness, lumaIndex, chromaIndex, dcTable);
        codedGrid_.assign(blocks_[0].size(), 0);
        int predMbs = 0, esc3Events = 0;
        for (int my = 0; my < mbh_; ++my) {
            for (int mx = 0; mx < mbw_; ++mx) {
                const int v = decision[static_cast<std::size_t>(my) * mbw_ + mx];
                predMbs += v;
                bool coded[6];
                codedFlags(mx, my, v, coded);
                const int cbp = cbpcy(mx, my, coded);
                commitCoded(mx, my, coded);
                tracePosition(w, mx, my, -1);
                traceSymbol(w, "CBPCY", cbp);
                w.put(kCbpcyIntra[cbp]);
                traceSymbol(w, "ACPRED", v);
                w.putBit(v != 0);
                for (int k = 0; k < 6; ++k) {
                    tracePosition(w, mx, my, k);
                    const BlockData& b = *blockAt(planeOf(k), blockX(k, mx), blockY(k, my));
                    writeDcDiff(w, b.dcDiff, q_.pquant, k >= 4, dcTable);
                    const AcSetInfo& set = k < 4 ? ls : cs;
                    for (int i = 0; i < b.eventCount[v]; ++i) {
                        const AcEvent& e = pool_[b.eventStart[v] + i];
                        const AcChoice c = chooseAcCoding(set, e.run, std::abs(static_cast<int>(e.level)), e.last, esc3);
                        esc3Events += c.mode == AcMode::Escape3;
                        writeAcEvent(w, set, e, c, esc3, q_.pquant);
                    }
                }
            }
        }
        if (info != nullptr) {
            info->bits = w.bitCount();
            info->lumaSetIndex = lumaIndex;
            info->chromaSetIndex = chromaIndex;
            info->dcTable = dcTable;
            info->acPredMacroblocks = predMbs;
            info->escape3Events = esc3Events;
        }
    }

    void chooseAndWrite(IntraPictureInfo* info, TracingWriter* trace)
    {
        // Coding sets: every allowed pair, priced with the picture's escape sizes.
        int lumaSets[3], chromaSets[3];
        bool lumaCandidate[3], chromaCandidate[3], anyCandidate[3];
        for (int i = 0; i < 3; ++i) {
            lumaSets[i] = acCodingSet(i, q_.pqindex, true);
            chromaSets[i] = acCodingSet(i, q_.pqindex, false);
            lumaCandidate[i] = opt_.lumaSetIndex < 0 || opt_.lumaSetIndex == i;
            chromaCandidate[i] = opt_.chromaSetIndex < 0 || opt_.chromaSetIndex == i;
            anyCandidate[i] = lumaCandidate[i] || chromaCandidate[i];
        }
        const Escape3 bestEsc = escape3For(lumaSets, chromaSets, anyCandidate);
        priceBlocks(lumaSets, chromaSets, lumaCandidate, chromaCandidate, bestEsc);
        std::uint64_t best = std::numeric_limits<std::uint64_t>::max();
        int bestLuma = 0, bestChroma = 0;
        std::vector<std::uint8_t> decision, bestDecision;
        for (int li = 0; li < 3; ++li) {
            if (!lumaCandidate[li]) continue;
            for (int ci = 0; ci < 3; ++ci) {
                if (!chromaCandidate[ci]) continue;
                const std::uint64_t bits = evaluate(li, ci, decision);
                if (bits < best) {
                    best = bits;
                    bestLuma = li;
                    bestChroma = ci;
                    bestDecision.swap(decision);
                }
            }
        }
        int dcTable = opt_.dcTable;
        if (dcTable < 0) dcTable = dcBits(1) < dcBits(0) ? 1 : 0;

        BitWriter w;
        writePicture(w, bestLuma, bestChroma, dcTable, bestEsc, bestDecision, info);
        bytes_ = w.take();
        if (trace != nullptr) writePicture(*trace, bestLuma, bestChroma, dcTable, bestEsc, bestDecision, nullptr);
    }

    const SequenceHeader& seq_;
    const Frame& src_;
    Frame& rec_;
    const IntraPictureOptions& opt_;
    PictureQuant q_;
    int mbw_ = 0, mbh_ = 0;
    int bw_[kPlanes] = {0, 0, 0}, bh_[kPlanes] = {0, 0, 0};
    std::vector<BlockData> blocks_[kPlanes];
    std::vector<AcEvent> pool_;
    std::vector<std::uint8_t> codedGrid_;
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

std::vector<std::uint8_t> encodeIntraPicture(const SequenceHeader& sequence, const Frame& source,
                                             const IntraPictureOptions& options, Frame& recon,
                                             IntraPictureInfo* info, TracingWriter* trace)
{
    IntraPictureCoder coder(sequence, source, options, recon);
    return coder.run(info, trace);
}

}  // namespace asfw::vc1
