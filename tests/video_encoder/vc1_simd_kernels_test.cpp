// Every vectorised kernel against its plain reference, for each version the
// machine can run (the dispatching one and each instruction-set version
// by name): random pictures and the extremes (all 0, all 255, largest
// differences, alternating patterns), odd strides and offsets, every
// fractional position and rounding mode.
#include "dsp/cpu_features.h"
#include "dsp/pixel_metrics.h"
#include "dsp/simd_variants.h"
#include "dsp/vc1_mc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace asfw {
namespace {

// Picture contents; pairs of them make the distortion cases.
enum class Content { Noise, Zero, Full, Checker, Columns, Rows, Binary, NearFlat };
const Content kContents[] = {Content::Noise,   Content::Zero,   Content::Full,   Content::Checker,
                             Content::Columns, Content::Rows,   Content::Binary, Content::NearFlat};

// A buffer of `rows` rows of `stride` samples.
std::vector<std::uint8_t> makePicture(Content c, int stride, int rows, std::mt19937& rng, bool invert = false)
{
    std::vector<std::uint8_t> p(static_cast<std::size_t>(stride) * rows);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < stride; ++x) {
            int v = 0;
            switch (c) {
            case Content::Noise: v = static_cast<int>(rng() & 255); break;
            case Content::Zero: v = 0; break;
            case Content::Full: v = 255; break;
            case Content::Checker: v = ((x + y) & 1) ? 255 : 0; break;
            case Content::Columns: v = (x & 1) ? 255 : 0; break;
            case Content::Rows: v = (y & 1) ? 255 : 0; break;
            case Content::Binary: v = (rng() & 1) ? 255 : 0; break;
            case Content::NearFlat: v = 128 + static_cast<int>(rng() % 5) - 2; break;
            }
            p[static_cast<std::size_t>(y) * stride + x] = static_cast<std::uint8_t>(invert ? 255 - v : v);
        }
    return p;
}

using Metric = unsigned (*)(const std::uint8_t*, int, const std::uint8_t*, int);

struct MetricCase {
    std::string name;
    Metric tested;
    Metric reference;
    bool available;
};

std::vector<MetricCase> metricCases()
{
    std::vector<MetricCase> v = {
        {"sad16x16", sad16x16, sad16x16Ref, true},
        {"sad8x8", sad8x8, sad8x8Ref, true},
        {"satd8x8", satd8x8, satd8x8Ref, true},
        {"satd16x16", satd16x16, satd16x16Ref, true},
        {"ssd16x16", ssd16x16, ssd16x16Ref, true},
        {"ssd8x8", ssd8x8, ssd8x8Ref, true},
    };
#if defined(__SSE2__)
    v.push_back({"sad16x16Sse2", simd::sad16x16Sse2, sad16x16Ref, true});
    v.push_back({"satd16x16Sse2", simd::satd16x16Sse2, satd16x16Ref, true});
#endif
#if ASFW_X86_DISPATCH
    v.push_back({"sad16x16Avx2", simd::sad16x16Avx2, sad16x16Ref, cpuFeatures().avx2});
    v.push_back({"satd16x16Avx2", simd::satd16x16Avx2, satd16x16Ref, cpuFeatures().avx2});
#endif
    return v;
}

TEST(Vc1SimdKernels, DistortionMeasuresEqualTheReferences)
{
    std::mt19937 rng(11);
    const int strides[] = {16, 17, 33, 64, 67};
    for (const MetricCase& m : metricCases()) {
        if (!m.available) continue;
        SCOPED_TRACE(m.name);
        for (Content ca : kContents)
            for (Content cb : kContents)
                for (int stride : strides) {
                    const int pad = 8;
                    const auto a = makePicture(ca, stride + pad, 20, rng);
                    // The inverse of the same pattern gives the largest
                    // differences (255 against 0 at every sample).
                    const auto b = makePicture(cb, stride + pad, 20, rng, ca == cb);
                    const int offA = static_cast<int>(rng() % 3), offB = static_cast<int>(rng() % 5);
                    const std::uint8_t* pa = a.data() + offA;
                    const std::uint8_t* pb = b.data() + (stride + pad) * 2 + offB;
                    ASSERT_EQ(m.tested(pa, stride + pad, pb, stride + pad), m.reference(pa, stride + pad, pb, stride + pad))
                        << static_cast<int>(ca) << "/" << static_cast<int>(cb) << " stride " << stride + pad;
                }
    }
}

using AvgMetric = unsigned (*)(const std::uint8_t*, int, const std::uint8_t*, const std::uint8_t*, int);

TEST(Vc1SimdKernels, DistortionsAgainstAveragedBlocksEqualTheReferences)
{
    struct Case {
        std::string name;
        AvgMetric tested, reference;
        bool available;
    };
    std::vector<Case> cases = {{"sadAvg16x16", sadAvg16x16, sadAvg16x16Ref, true},
                               {"satdAvg16x16", satdAvg16x16, satdAvg16x16Ref, true}};
#if defined(__SSE2__)
    cases.push_back({"sadAvg16x16Sse2", simd::sadAvg16x16Sse2, sadAvg16x16Ref, true});
#endif
#if ASFW_X86_DISPATCH
    cases.push_back({"sadAvg16x16Avx2", simd::sadAvg16x16Avx2, sadAvg16x16Ref, cpuFeatures().avx2});
    cases.push_back({"satdAvg16x16Avx2", simd::satdAvg16x16Avx2, satdAvg16x16Ref, cpuFeatures().avx2});
#endif
    std::mt19937 rng(17);
    for (const Case& m : cases) {
        if (!m.available) continue;
        SCOPED_TRACE(m.name);
        for (Content ca : kContents)
            for (Content cb : kContents)
                for (int stride : {17, 40, 67}) {
                    const auto a = makePicture(ca, stride, 20, rng);
                    const auto b = makePicture(cb, stride, 20, rng, ca == cb);
                    const auto c = makePicture(cb, stride, 20, rng);
                    // b and c one sample apart in the same picture, and two
                    // separate pictures (odd sums test the rounding up).
                    const std::uint8_t* pa = a.data() + 1;
                    const std::uint8_t* pb = b.data() + stride + 2;
                    ASSERT_EQ(m.tested(pa, stride, pb, pb + 1, stride), m.reference(pa, stride, pb, pb + 1, stride));
                    ASSERT_EQ(m.tested(pa, stride, pb, c.data() + 3, stride),
                              m.reference(pa, stride, pb, c.data() + 3, stride));
                }
    }
}

TEST(Vc1SimdKernels, SatdKnownValues)
{
    // 255 against 0 everywhere: all energy in the DC term of each 8x8,
    // 64 * 255 / 2 per block. The largest value of every other term: an
    // alternating pattern against its inverse.
    std::mt19937 rng(2);
    const auto full = makePicture(Content::Full, 32, 16, rng);
    const auto zero = makePicture(Content::Zero, 32, 16, rng);
    for (const MetricCase& m : metricCases()) {
        if (!m.available || m.name.rfind("satd16", 0) != 0) continue;
        EXPECT_EQ(m.tested(full.data(), 32, zero.data(), 32), 4u * 64u * 255u / 2) << m.name;
        EXPECT_EQ(m.tested(zero.data(), 32, full.data(), 32), 4u * 64u * 255u / 2) << m.name;
        EXPECT_EQ(m.tested(full.data(), 32, full.data(), 32), 0u) << m.name;
    }
}

using Bicubic = void (*)(std::uint8_t*, int, const std::uint8_t*, std::ptrdiff_t, int, int, int);

struct BicubicCase {
    std::string name;
    Bicubic tested;
    bool available;
};

std::vector<BicubicCase> bicubicCases()
{
    std::vector<BicubicCase> v = {{"vc1LumaBicubic16", vc1LumaBicubic16, true}};
#if defined(__SSE2__)
    v.push_back({"vc1LumaBicubic16Sse2", simd::vc1LumaBicubic16Sse2, true});
#endif
#if ASFW_X86_DISPATCH
    v.push_back({"vc1LumaBicubic16Avx2", simd::vc1LumaBicubic16Avx2, cpuFeatures().avx2});
#endif
    return v;
}

TEST(Vc1SimdKernels, BicubicEqualsTheReferenceAtEveryPosition)
{
    std::mt19937 rng(5);
    // The kernels read from one row above to 18 rows below and up to 30
    // samples right of the block; the margins hold other content to catch
    // reads of the wrong samples.
    const int strides[] = {48, 49, 77};
    for (const BicubicCase& k : bicubicCases()) {
        if (!k.available) continue;
        SCOPED_TRACE(k.name);
        for (Content c : kContents)
            for (int stride : strides)
                for (int trial = 0; trial < (c == Content::Noise ? 6 : 1); ++trial) {
                    const auto src = makePicture(c, stride, 24, rng);
                    const std::uint8_t* at = src.data() + 2 * stride + 1 + static_cast<int>(rng() % 3);
                    for (int hf = 0; hf < 4; ++hf)
                        for (int vf = 0; vf < 4; ++vf)
                            for (int rnd = 0; rnd < 2; ++rnd) {
                                // Odd destination stride, filler around the block.
                                std::vector<std::uint8_t> want(21 * 17, 0x5A), got(21 * 17, 0x5A);
                                vc1LumaBicubic16Ref(want.data(), 21, at, stride, hf, vf, rnd);
                                k.tested(got.data(), 21, at, stride, hf, vf, rnd);
                                ASSERT_EQ(want, got) << "content " << static_cast<int>(c) << " stride " << stride
                                                     << " h " << hf << " v " << vf << " rnd " << rnd;
                            }
                }
    }
}

TEST(Vc1SimdKernels, BicubicExtremesClampLikeTheReference)
{
    // Single bright and dark samples drive the negative taps to their
    // extremes: results below 0 and above 255 before clamping.
    std::mt19937 rng(9);
    for (int pattern = 0; pattern < 4; ++pattern) {
        std::vector<std::uint8_t> src(64 * 24, pattern & 1 ? 255 : 0);
        for (int i = 0; i < 64 * 24; i += 3 + pattern) src[static_cast<std::size_t>(i)] = pattern & 1 ? 0 : 255;
        for (const BicubicCase& k : bicubicCases()) {
            if (!k.available) continue;
            for (int hf = 0; hf < 4; ++hf)
                for (int vf = 0; vf < 4; ++vf)
                    for (int rnd = 0; rnd < 2; ++rnd) {
                        std::uint8_t want[256], got[256];
                        vc1LumaBicubic16Ref(want, 16, src.data() + 2 * 64 + 2, 64, hf, vf, rnd);
                        k.tested(got, 16, src.data() + 2 * 64 + 2, 64, hf, vf, rnd);
                        ASSERT_TRUE(std::equal(want, want + 256, got)) << k.name << " " << pattern << hf << vf << rnd;
                    }
        }
    }
}

using ChromaPair = void (*)(std::uint8_t*, std::uint8_t*, int, const std::uint8_t*, const std::uint8_t*,
                           std::ptrdiff_t, int, int, int);

TEST(Vc1SimdKernels, ChromaEqualsTheReferenceForEveryWeight)
{
    std::vector<std::pair<std::string, ChromaPair>> pairs = {{"vc1Chroma8x2", vc1Chroma8x2}};
#if ASFW_X86_DISPATCH
    if (cpuFeatures().avx2) pairs.push_back({"vc1Chroma8x2Avx2", simd::vc1Chroma8x2Avx2});
#endif
    std::mt19937 rng(13);
    for (Content c : kContents)
        for (int stride : {24, 25, 41}) {
            // Cb and Cr differ (Cr is the inverse pattern) to catch a mixed-up plane.
            const auto cb = makePicture(c, stride, 12, rng);
            const auto cr = makePicture(c, stride, 12, rng, true);
            const std::uint8_t* pcb = cb.data() + 1;
            const std::uint8_t* pcr = cr.data() + 1 + stride;
            // Every eighth-sample weight (the decoder uses the even ones).
            for (int fx = 0; fx < 8; ++fx)
                for (int fy = 0; fy < 8; ++fy)
                    for (int rnd = 0; rnd < 2; ++rnd) {
                        std::uint8_t wantCb[11 * 8], wantCr[11 * 8];
                        vc1Chroma8Ref(wantCb, 11, pcb, stride, fx, fy, rnd);
                        vc1Chroma8Ref(wantCr, 11, pcr, stride, fx, fy, rnd);
                        std::uint8_t single[11 * 8];
                        vc1Chroma8(single, 11, pcb, stride, fx, fy, rnd);
                        for (int y = 0; y < 8; ++y)
                            for (int x = 0; x < 8; ++x)
                                ASSERT_EQ(single[y * 11 + x], wantCb[y * 11 + x]) << "vc1Chroma8 " << fx << fy << rnd;
                        for (const auto& [name, fn] : pairs) {
                            std::uint8_t gotCb[11 * 8], gotCr[11 * 8];
                            fn(gotCb, gotCr, 11, pcb, pcr, stride, fx, fy, rnd);
                            for (int y = 0; y < 8; ++y)
                                for (int x = 0; x < 8; ++x) {
                                    ASSERT_EQ(gotCb[y * 11 + x], wantCb[y * 11 + x])
                                        << name << " cb content " << static_cast<int>(c) << " " << fx << fy << rnd;
                                    ASSERT_EQ(gotCr[y * 11 + x], wantCr[y * 11 + x])
                                        << name << " cr content " << static_cast<int>(c) << " " << fx << fy << rnd;
                                }
                        }
                    }
        }
}

}  // namespace
}  // namespace asfw
