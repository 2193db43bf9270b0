// Motion compensation and distortion kernels: the references against a
// per-sample evaluation of the interpolation rules, the vectorised versions
// against the references on random and extreme inputs.
#include "dsp/pixel_metrics.h"
#include "dsp/vc1_mc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace asfw {
namespace {

constexpr int kStride = 64;
constexpr int kOrigin = 8 * kStride + 8;  // room for taps before the block

std::vector<std::uint8_t> makeSource(int kind, std::mt19937& rng)
{
    std::vector<std::uint8_t> s(kStride * 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < kStride; ++x) {
            std::uint8_t v = 0;
            switch (kind) {
            case 0: v = static_cast<std::uint8_t>(rng() & 255); break;                 // noise
            case 1: v = ((x + y) & 1) ? 255 : 0; break;                                // checkerboard
            case 2: v = (x & 1) ? 255 : 0; break;                                      // columns
            case 3: v = (y & 1) ? 255 : 0; break;                                      // rows
            case 4: v = ((x >> 1) + (y >> 1)) & 1 ? 0 : 255; break;                    // 2x2 checker
            case 5: v = 255; break;                                                    // white
            case 6: v = 0; break;                                                      // black
            default: v = static_cast<std::uint8_t>((rng() & 1) ? 255 : 0); break;      // binary noise
            }
            s[static_cast<std::size_t>(y * kStride + x)] = v;
        }
    return s;
}

// The bicubic rule evaluated sample by sample: taps per quarter position,
// one-direction cases with their own rounding, the two-direction case as a
// vertical pass (scaled down by the combined shift) then a horizontal pass.
int bicubicSample(const std::uint8_t* src, int stride, int x, int y, int hf, int vf, int rnd)
{
    static const int taps[4][4] = {{0, 64, 0, 0}, {-4, 53, 18, -3}, {-1, 9, 9, -1}, {-3, 18, 53, -4}};
    static const int log2Scale[4] = {6, 6, 4, 6};
    auto at = [&](int xx, int yy) { return static_cast<int>(src[yy * stride + xx]); };
    auto clip = [](int v) { return std::min(255, std::max(0, v)); };
    if (hf == 0 && vf == 0) return at(x, y);
    if (hf == 0) {
        int s = 0;
        for (int k = 0; k < 4; ++k) s += taps[vf][k] * at(x, y - 1 + k);
        const int half = 1 << (log2Scale[vf] - 1);
        return clip((s + half - 1 + rnd) >> log2Scale[vf]);
    }
    if (vf == 0) {
        int s = 0;
        for (int k = 0; k < 4; ++k) s += taps[hf][k] * at(x - 1 + k, y);
        const int half = 1 << (log2Scale[hf] - 1);
        return clip((s + half - rnd) >> log2Scale[hf]);
    }
    // Combined scale 2^(a+b); the first pass removes (a+b-7) bits where
    // quarter positions count 5 and half positions 1 toward it.
    const int part[4] = {0, 5, 1, 5};
    const int shift = (part[hf] + part[vf]) / 2;
    int s = 0;
    for (int k = 0; k < 4; ++k) {
        int v = 0;
        for (int m = 0; m < 4; ++m) v += taps[vf][m] * at(x - 1 + k, y - 1 + m);
        const int t = (v + (1 << (shift - 1)) + rnd - 1) >> shift;
        s += taps[hf][k] * t;
    }
    return clip((s + 64 - rnd) >> 7);
}

TEST(Vc1InterKernels, BicubicReferenceFollowsTheSampleRule)
{
    std::mt19937 rng(1);
    for (int kind = 0; kind < 8; ++kind) {
        const auto src = makeSource(kind, rng);
        for (int hf = 0; hf < 4; ++hf)
            for (int vf = 0; vf < 4; ++vf)
                for (int rnd = 0; rnd < 2; ++rnd) {
                    std::uint8_t out[16 * 16];
                    vc1LumaBicubic16Ref(out, 16, src.data() + kOrigin, kStride, hf, vf, rnd);
                    for (int y = 0; y < 16; ++y)
                        for (int x = 0; x < 16; ++x)
                            ASSERT_EQ(out[y * 16 + x], bicubicSample(src.data(), kStride, 8 + x, 8 + y, hf, vf, rnd))
                                << "kind " << kind << " h " << hf << " v " << vf << " rnd " << rnd << " at " << x
                                << "," << y;
                }
    }
}

TEST(Vc1InterKernels, FlatAreasStayFlat)
{
    for (int level : {0, 1, 128, 254, 255}) {
        std::vector<std::uint8_t> src(kStride * 48, static_cast<std::uint8_t>(level));
        for (int hf = 0; hf < 4; ++hf)
            for (int vf = 0; vf < 4; ++vf)
                for (int rnd = 0; rnd < 2; ++rnd) {
                    std::uint8_t out[256];
                    vc1LumaBicubic16Ref(out, 16, src.data() + kOrigin, kStride, hf, vf, rnd);
                    for (std::uint8_t v : out) ASSERT_EQ(v, level) << hf << vf << rnd;
                    vc1LumaBilinear16Ref(out, 16, src.data() + kOrigin, kStride, hf & 1, vf & 1, rnd);
                    for (std::uint8_t v : out) ASSERT_EQ(v, level);
                    std::uint8_t c[64];
                    vc1Chroma8Ref(c, 8, src.data() + kOrigin, kStride, (hf * 2) & 6, (vf * 2) & 6, rnd);
                    for (std::uint8_t v : c) ASSERT_EQ(v, level);
                }
    }
}

TEST(Vc1InterKernels, BilinearAndChromaRounding)
{
    // Two samples 10 and 11: the half position rounds up without rounding
    // control and down with it.
    std::vector<std::uint8_t> src(kStride * 48, 10);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < kStride; x += 2) src[static_cast<std::size_t>(y * kStride + x + 1)] = 11;
    std::uint8_t out[256];
    vc1LumaBilinear16Ref(out, 16, src.data() + kOrigin, kStride, 1, 0, 0);
    EXPECT_EQ(out[0], 11);
    vc1LumaBilinear16Ref(out, 16, src.data() + kOrigin, kStride, 1, 0, 1);
    EXPECT_EQ(out[0], 10);
    // Chroma: 3/4 of the way from 0 to 255 with weights 2/8 and 6/8.
    std::vector<std::uint8_t> edge(kStride * 48, 0);
    for (int y = 0; y < 48; ++y) edge[static_cast<std::size_t>(y * kStride + 9)] = 255;
    std::uint8_t c[64];
    vc1Chroma8Ref(c, 8, edge.data() + kOrigin, kStride, 6, 0, 0);
    EXPECT_EQ(c[0], (48 * 255 + 32) >> 6);
    vc1Chroma8Ref(c, 8, edge.data() + kOrigin, kStride, 6, 0, 1);
    EXPECT_EQ(c[0], (48 * 255 + 28) >> 6);
}

TEST(Vc1InterKernels, VectorisedMotionCompensationEqualsReference)
{
    std::mt19937 rng(7);
    for (int kind = 0; kind < 8; ++kind)
        for (int trial = 0; trial < (kind == 0 ? 20 : 2); ++trial) {
            const auto src = makeSource(kind, rng);
            const int off = kOrigin + static_cast<int>(rng() % 5) + static_cast<int>(rng() % 5) * kStride;
            for (int hf = 0; hf < 4; ++hf)
                for (int vf = 0; vf < 4; ++vf)
                    for (int rnd = 0; rnd < 2; ++rnd) {
                        std::uint8_t a[256], b[256];
                        vc1LumaBicubic16Ref(a, 16, src.data() + off, kStride, hf, vf, rnd);
                        vc1LumaBicubic16(b, 16, src.data() + off, kStride, hf, vf, rnd);
                        ASSERT_TRUE(std::equal(a, a + 256, b)) << kind << " " << hf << vf << rnd;
                        std::uint8_t c[64], d[64];
                        vc1Chroma8Ref(c, 8, src.data() + off, kStride, hf * 2, vf * 2, rnd);
                        vc1Chroma8(d, 8, src.data() + off, kStride, hf * 2, vf * 2, rnd);
                        ASSERT_TRUE(std::equal(c, c + 64, d)) << kind << " " << hf << vf << rnd;
                    }
        }
}

TEST(Vc1InterKernels, ChromaVectorDerivation)
{
    // Luma quarter positions 0..3 map to chroma quarter positions 0, 0,
    // 1, 2 (3/4 rounds up, toward +infinity, also for negative vectors).
    const int expected[8][2] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {-1, 0}, {-2, -1}, {-3, -2}, {-4, -2}};
    for (const auto& e : expected) EXPECT_EQ(vc1ChromaMvComponent(e[0], false), e[1]) << e[0];
    // The fast variant drops odd quarter positions toward zero.
    EXPECT_EQ(vc1ChromaMvComponent(2, true), 0);
    EXPECT_EQ(vc1ChromaMvComponent(-2, true), 0);
    EXPECT_EQ(vc1ChromaMvComponent(6, true), 2);
}

TEST(Vc1InterKernels, PredictionClampsAndReplicatesBeyondThePicture)
{
    // A 32x32 picture with a distinct value per sample; a vector far to the
    // left lands on the clamped position 16 samples outside, which repeats
    // the first column.
    Vc1RefPicture ref;
    ref.allocate(32, 32);
    std::vector<std::uint8_t> y(32 * 32), u(16 * 16, 77), v(16 * 16, 99);
    for (int i = 0; i < 32 * 32; ++i) y[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 7 + (i >> 5));
    ref.assign(y.data(), 32, u.data(), v.data(), 16);
    Vc1McParams p;
    std::uint8_t out[256];
    vc1PredictLuma(ref.view(), p, 0, 0, -4 * 200, 0, out, 16);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) ASSERT_EQ(out[r * 16 + c], y[static_cast<std::size_t>(r * 32)]);
    // Far below and right: the bottom-right sample everywhere.
    vc1PredictLuma(ref.view(), p, 1, 1, 4 * 60, 4 * 30, out, 16);
    for (std::uint8_t s : out) ASSERT_EQ(s, y[32 * 32 - 1]);
    std::uint8_t cb[64], cr[64];
    vc1PredictChroma(ref.view(), p, 1, 1, 4 * 60 + 3, 4 * 30 + 1, cb, cr, 8);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(cb[i], 77);
        ASSERT_EQ(cr[i], 99);
    }
}

TEST(Vc1InterKernels, DistortionMeasures)
{
    std::mt19937 rng(3);
    std::vector<std::uint8_t> a(kStride * 48), b(kStride * 48);
    for (int trial = 0; trial < 300; ++trial) {
        const int mode = trial % 5;
        for (std::size_t i = 0; i < a.size(); ++i) {
            switch (mode) {
            case 0: a[i] = static_cast<std::uint8_t>(rng()); b[i] = static_cast<std::uint8_t>(rng()); break;
            case 1: a[i] = 255; b[i] = 0; break;
            case 2: a[i] = 0; b[i] = 255; break;
            case 3: a[i] = (i & 1) ? 255 : 0; b[i] = (i & 1) ? 0 : 255; break;
            default: a[i] = static_cast<std::uint8_t>(rng() & 1 ? 255 : 0); b[i] = static_cast<std::uint8_t>(rng() & 1 ? 255 : 0); break;
            }
        }
        const int off = static_cast<int>(rng() % 16);
        const std::uint8_t* pa = a.data() + off;
        const std::uint8_t* pb = b.data() + 3 + kStride;
        ASSERT_EQ(sad16x16(pa, kStride, pb, kStride), sad16x16Ref(pa, kStride, pb, kStride));
        ASSERT_EQ(sad8x8(pa, kStride, pb, kStride), sad8x8Ref(pa, kStride, pb, kStride));
        ASSERT_EQ(satd8x8(pa, kStride, pb, kStride), satd8x8Ref(pa, kStride, pb, kStride));
        ASSERT_EQ(satd16x16(pa, kStride, pb, kStride), satd16x16Ref(pa, kStride, pb, kStride));
        ASSERT_EQ(ssd16x16(pa, kStride, pb, kStride), ssd16x16Ref(pa, kStride, pb, kStride));
        ASSERT_EQ(ssd8x8(pa, kStride, pb, kStride), ssd8x8Ref(pa, kStride, pb, kStride));
        ASSERT_EQ(sadAvg16x16(pa, kStride, pb, pb + 1, kStride), sadAvg16x16Ref(pa, kStride, pb, pb + 1, kStride));
    }
    EXPECT_EQ(ssd16x16Ref(std::vector<std::uint8_t>(kStride * 16, 255).data(), kStride,
                          std::vector<std::uint8_t>(kStride * 16, 0).data(), kStride),
              256u * 255u * 255u);
    // Known values: all-255 against all-0.
    std::vector<std::uint8_t> w(kStride * 16, 255), z(kStride * 16, 0);
    EXPECT_EQ(sad16x16Ref(w.data(), kStride, z.data(), kStride), 256u * 255u);
    EXPECT_EQ(sad8x8Ref(w.data(), kStride, z.data(), kStride), 64u * 255u);
    // A flat difference has all its energy in the DC term: 64 * 255 / 2.
    EXPECT_EQ(satd8x8Ref(w.data(), kStride, z.data(), kStride), (64u * 255u + 1) / 2);
    EXPECT_EQ(satd8x8Ref(w.data(), kStride, w.data(), kStride), 0u);
}

}  // namespace
}  // namespace asfw
