// P picture syntax pieces read back by a small reader written from the
// decoding rules: every bitplane mode (with and without inversion) on
// planes of awkward sizes, MVDATA differentials of every size class and
// the escape, and motion vector prediction corner cases.
#include "tables/vc1_bitplane_tables.h"
#include "tables/vc1_cbpcy_p_tables.h"
#include "tables/vc1_mv_tables.h"
#include "video_encoder/bitplane.h"
#include "video_encoder/mv_prediction.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace asfw {
namespace {

class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& b) : b_(b) {}
    int bit()
    {
        if (pos_ >= b_.size() * 8) {
            overrun_ = true;
            return 0;
        }
        const int v = (b_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1;
        ++pos_;
        return v;
    }
    std::uint32_t bits(int n)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 1) | static_cast<std::uint32_t>(bit());
        return v;
    }
    // Symbol of a code table by matching prefixes bit by bit.
    int vlc(const VlcCode* table, int count)
    {
        std::uint32_t code = 0;
        for (int len = 1; len <= 24; ++len) {
            code = (code << 1) | static_cast<std::uint32_t>(bit());
            for (int i = 0; i < count; ++i)
                if (table[i].length == len && table[i].code == code) return i;
        }
        return -1;
    }
    bool overrun() const { return overrun_; }
    std::size_t position() const { return pos_; }

private:
    const std::vector<std::uint8_t>& b_;
    std::size_t pos_ = 0;
    bool overrun_ = false;
};

// Bitplane decoding as the decoder does it (raw mode returns the flag).
std::vector<int> readBitplane(Reader& r, int w, int h, bool& raw)
{
    std::vector<int> p(static_cast<std::size_t>(w * h), 0);
    auto at = [&](int x, int y) -> int& { return p[static_cast<std::size_t>(y * w + x)]; };
    const int invert = r.bit();
    const int imode = r.vlc(kVc1ImodeVlc, kVc1ImodeCount);
    raw = imode == 0;
    if (raw) return p;
    auto colskip = [&](int x0, int x1, int y0, int y1) {
        for (int x = x0; x < x1; ++x)
            if (r.bit())
                for (int y = y0; y < y1; ++y) at(x, y) = r.bit();
    };
    auto rowskip = [&](int x0, int x1, int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            if (r.bit())
                for (int x = x0; x < x1; ++x) at(x, y) = r.bit();
    };
    switch (imode) {
    case 1:
    case 2: {
        int i = 0;
        if ((w * h) & 1) p[static_cast<std::size_t>(i++)] = r.bit();
        for (; i < w * h; i += 2) {
            const int c = r.vlc(kVc1Norm2Vlc, 4);
            p[static_cast<std::size_t>(i)] = c & 1;
            p[static_cast<std::size_t>(i + 1)] = c >> 1;
        }
        break;
    }
    case 3:
    case 4:
        if (h % 3 == 0 && w % 3 != 0) {
            for (int y = 0; y < h; y += 3)
                for (int x = w & 1; x < w; x += 2) {
                    const int c = r.vlc(kVc1Norm6Vlc, 64);
                    for (int k = 0; k < 6; ++k) at(x + (k & 1), y + (k >> 1)) = (c >> k) & 1;
                }
            if (w & 1) colskip(0, 1, 0, h);
        } else {
            for (int y = h & 1; y < h; y += 2)
                for (int x = w % 3; x < w; x += 3) {
                    const int c = r.vlc(kVc1Norm6Vlc, 64);
                    for (int k = 0; k < 6; ++k) at(x + k % 3, y + k / 3) = (c >> k) & 1;
                }
            colskip(0, w % 3, 0, h);
            if (h & 1) rowskip(w % 3, w, 0, 1);
        }
        break;
    case 5: rowskip(0, w, 0, h); break;
    case 6: colskip(0, w, 0, h); break;
    default: break;
    }
    if (imode == 2 || imode == 4) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (x == 0 && y == 0) at(0, 0) ^= invert;
                else if (y == 0) at(x, 0) ^= at(x - 1, 0);
                else if (x == 0) at(0, y) ^= at(0, y - 1);
                else if (at(x - 1, y) != at(x, y - 1)) at(x, y) ^= invert;
                else at(x, y) ^= at(x - 1, y);
            }
    } else if (invert) {
        for (int& v : p) v ^= 1;
    }
    return p;
}

TEST(Vc1InterSyntax, EveryBitplaneModeReadsBack)
{
    std::mt19937 rng(5);
    const int sizes[][2] = {{1, 1}, {2, 1}, {3, 3}, {5, 3}, {4, 6}, {7, 9}, {11, 4}, {40, 30}, {45, 36}, {80, 45}};
    for (const auto& sz : sizes) {
        const int w = sz[0], h = sz[1];
        for (int density = 0; density < 5; ++density) {
            Vc1Bitplane plane(w, h);
            std::vector<int> truth(static_cast<std::size_t>(w * h));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    // 0: all zero, 4: all one, otherwise random and row/column runs.
                    bool v = density == 4 || (density == 1 && rng() % 10 == 0) || (density == 2 && rng() % 2 == 0) ||
                             (density == 3 && (y % 3 == 0 || x == w / 2));
                    plane.set(x, y, v);
                    truth[static_cast<std::size_t>(y * w + x)] = v ? 1 : 0;
                }
            for (int m = 1; m < kVc1ImodeCount; ++m)
                for (int inv = 0; inv < 2; ++inv) {
                    Vc1BitplaneChoice c;
                    c.mode = static_cast<Vc1Imode>(m);
                    c.invert = inv != 0;
                    BitWriter bw;
                    plane.write(bw, c);
                    const std::uint64_t bits = bw.bitCount();
                    const auto bytes = bw.take();
                    Reader r(bytes);
                    bool raw = false;
                    const auto back = readBitplane(r, w, h, raw);
                    ASSERT_FALSE(raw);
                    ASSERT_FALSE(r.overrun());
                    ASSERT_EQ(r.position(), bits) << w << "x" << h << " mode " << m;
                    ASSERT_EQ(back, truth) << w << "x" << h << " mode " << m << " invert " << inv;
                    ASSERT_EQ(static_cast<std::uint64_t>(plane.cost(c.mode, c.invert)), bits);
                }
            // The choice is never worse than any mode.
            const Vc1BitplaneChoice best = plane.choose();
            for (int m = 0; m < kVc1ImodeCount; ++m)
                for (int inv = 0; inv < 2; ++inv)
                    EXPECT_LE(best.totalBits(), plane.cost(static_cast<Vc1Imode>(m), inv != 0));
        }
    }
}

// MVDATA read back with the decoding rules of the differential.
void readMvData(Reader& r, int table, bool halfSample, int& dx, int& dy, bool& residual, bool& intra)
{
    int index = r.vlc(kVc1MvDataVlc[table], kVc1MvDataSymbols) + 1;
    residual = index > 36;
    if (residual) index -= 37;
    intra = index == 36;
    dx = dy = 0;
    if (index == 0 || intra) return;
    if (index == 35) {
        dx = static_cast<int>(r.bits(halfSample ? 8 : 9));
        dy = static_cast<int>(r.bits(halfSample ? 7 : 8));
        return;
    }
    auto comp = [&](int cls) {
        const int size = kVc1MvClassBits[cls] - ((halfSample && cls == 5) ? 1 : 0);
        if (size == 0) return 0;
        const int v = static_cast<int>(r.bits(size));
        const int mag = (v >> 1) + kVc1MvClassOffset[cls];
        return (v & 1) ? -mag : mag;
    };
    dx = comp(index % 6);
    dy = comp(index / 6);
}

TEST(Vc1InterSyntax, MvDataReadsBackModuloTheRange)
{
    for (int half = 0; half < 2; ++half)
        for (int table = 0; table < kVc1MvDataTables; ++table)
            for (int dy = -140; dy <= 140; dy += 7)
                for (int dx = -300; dx <= 300; dx += 3)
                    for (int residual = 0; residual < 2; ++residual) {
                        if (dx == 0 && dy == 0 && !residual) continue;
                        const Vc1MvDataCode c = vc1MvDataCode(dx, dy, residual != 0, half != 0);
                        BitWriter w;
                        vc1WriteMvData(w, table, c);
                        ASSERT_EQ(static_cast<int>(w.bitCount()), c.bits(table));
                        const auto bytes = w.take();
                        Reader r(bytes);
                        int rx = 0, ry = 0;
                        bool res = false, intra = false;
                        readMvData(r, table, half != 0, rx, ry, res, intra);
                        ASSERT_FALSE(intra);
                        ASSERT_EQ(res, residual != 0);
                        // The decoder adds modulo the range (x 512, y 256
                        // quarter samples; half-sample units double).
                        const int mx = half ? 256 : 512, my = half ? 128 : 256;
                        ASSERT_EQ(((rx - dx) % mx + mx) % mx, 0) << dx << "," << dy << " got " << rx;
                        ASSERT_EQ(((ry - dy) % my + my) % my, 0) << dx << "," << dy << " got " << ry;
                    }
    for (int residual = 0; residual < 2; ++residual) {
        BitWriter w;
        vc1WriteMvData(w, 2, vc1MvDataIntra(residual != 0));
        const auto bytes = w.take();
        Reader r(bytes);
        int rx, ry;
        bool res, intra;
        readMvData(r, 2, false, rx, ry, res, intra);
        EXPECT_TRUE(intra);
        EXPECT_EQ(res, residual != 0);
    }
}

TEST(Vc1InterSyntax, MotionVectorPrediction)
{
    Vc1MvField f;
    f.reset(3, 3);
    // First macroblock: no neighbours.
    EXPECT_EQ(f.predict(0, 0).pred, (Vc1Mv{0, 0}));
    // First row: the left neighbour alone; pulled back near the right edge
    // (qx + px <= 64 * columns - 4).
    f.set(0, 0, Vc1Mv{200, 8}, false);
    EXPECT_EQ(f.predict(1, 0).pred, (Vc1Mv{3 * 64 - 4 - 64, 8}));
    // Median of above, above-right and left; intra neighbours count as 0.
    f.set(1, 0, Vc1Mv{-8, 4}, false);
    f.set(2, 0, Vc1Mv{12, -4}, true);
    f.set(0, 1, Vc1Mv{20, 40}, false);
    const Vc1MvPrediction p = f.predict(1, 1);  // A (-8,4), B intra (0,0), C (20,40)
    EXPECT_EQ(p.pred, (Vc1Mv{0, 4}));
    EXPECT_TRUE(p.hybrid);  // |P-A| = 8 but |P-C| = 56 > 32
    EXPECT_EQ(p.select(true), (Vc1Mv{-8, 4}));
    // Last column takes B from above-left.
    f.set(1, 1, Vc1Mv{100, -60}, false);
    const Vc1MvPrediction q = f.predict(2, 1);  // A intra (0,0), B (-8,4), C (100,-60)
    EXPECT_EQ(q.pred, (Vc1Mv{0, 0}));
    EXPECT_TRUE(q.hybrid);  // |P-C| = 160 > 32
    EXPECT_EQ(q.fromA, (Vc1Mv{0, 0}));
    EXPECT_EQ(q.fromC, (Vc1Mv{100, -60}));
    EXPECT_EQ(q.select(false), q.fromC);
    // Pull-back at the top-left corner: at most 60 quarter samples out.
    Vc1MvField g;
    g.reset(1, 2);
    g.set(0, 0, Vc1Mv{-200, -100}, false);
    // (y: 64 - 100 = -36 stays inside)
    EXPECT_EQ(g.predict(0, 1).pred, (Vc1Mv{-60, -100}));
}

TEST(Vc1InterSyntax, CbpcyTablesAreCompletePrefixCodes)
{
    for (int t = 0; t < kVc1CbpcyPTables; ++t) {
        double kraft = 0;
        for (int i = 0; i < 64; ++i) kraft += 1.0 / static_cast<double>(1u << kVc1CbpcyPVlc[t][i].length);
        EXPECT_DOUBLE_EQ(kraft, 1.0) << t;
        for (int i = 0; i < 64; ++i)
            for (int j = 0; j < 64; ++j) {
                if (i == j) continue;
                const VlcCode a = kVc1CbpcyPVlc[t][i], b = kVc1CbpcyPVlc[t][j];
                if (a.length > b.length) continue;
                ASSERT_NE(b.code >> (b.length - a.length), a.code) << t << ": " << i << " prefixes " << j;
            }
    }
}

}  // namespace
}  // namespace asfw
