// The vectorised inter residual quantiser against its plain version: the
// same levels, the same run/level/last events and the same decision, over
// quantisers, roundings, dead-zone biases and residuals from tiny to the
// largest (255 against 0), with odd strides.
#include "video_encoder/inter_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace asfw::vc1 {
namespace {

enum class Residual { Noise, Small, MaxPositive, MaxNegative, Checker, Edge, Sparse };
const Residual kResiduals[] = {Residual::Noise,   Residual::Small, Residual::MaxPositive, Residual::MaxNegative,
                               Residual::Checker, Residual::Edge,  Residual::Sparse};

void fill(Residual kind, std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& pred, int stride, std::mt19937& rng)
{
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const std::size_t i = static_cast<std::size_t>(y * stride + x);
            int a = 0, b = 0;
            switch (kind) {
            case Residual::Noise: a = static_cast<int>(rng() & 255); b = static_cast<int>(rng() & 255); break;
            case Residual::Small:
                b = 20 + static_cast<int>(rng() % 200);
                a = b + static_cast<int>(rng() % 9) - 4;
                break;
            case Residual::MaxPositive: a = 255; b = 0; break;
            case Residual::MaxNegative: a = 0; b = 255; break;
            case Residual::Checker: a = ((x + y) & 1) ? 255 : 0; b = 255 - a; break;
            case Residual::Edge: a = x < 4 ? 250 : 5; b = 128; break;
            case Residual::Sparse:
                b = 100;
                a = (rng() % 10 == 0) ? static_cast<int>(rng() & 255) : 100;
                break;
            }
            src[i] = static_cast<std::uint8_t>(a);
            pred[i] = static_cast<std::uint8_t>(b);
        }
}

TEST(Vc1SimdQuant, InterResidualEqualsThePlainVersion)
{
    std::mt19937 rng(21);
    const struct {
        QuantizerMode mode;
        bool uniform;
    } quantisers[] = {{QuantizerMode::Uniform, true}, {QuantizerMode::NonUniform, false}, {QuantizerMode::Implicit, true}};
    const float roundings[] = {0.0f, 0.25f, 0.5f, 0.75f};
    const float biases[] = {1.0f, 1.3f, 1.6f};
    int coded = 0, skipped = 0;
    for (const auto& qs : quantisers)
        for (int pqindex = 1; pqindex <= 31; ++pqindex)
            for (bool half : {false, true}) {
                const PictureQuant q = makePictureQuant(qs.mode, pqindex, half, qs.uniform);
                for (Residual kind : kResiduals)
                    for (int trial = 0; trial < (kind == Residual::Noise || kind == Residual::Sparse ? 3 : 1); ++trial) {
                        const int srcStride = 8 + static_cast<int>(rng() % 40), predStride = 8 + static_cast<int>(rng() % 40);
                        std::vector<std::uint8_t> src(static_cast<std::size_t>(srcStride) * 8 + 64),
                            pred(static_cast<std::size_t>(predStride) * 8 + 64);
                        std::vector<std::uint8_t> tmp(static_cast<std::size_t>(srcStride) * 8 + 64);
                        // Fill through one stride then copy rows for the other.
                        fill(kind, src, tmp, srcStride, rng);
                        for (int y = 0; y < 8; ++y)
                            for (int x = 0; x < 8; ++x)
                                pred[static_cast<std::size_t>(y * predStride + x)] =
                                    tmp[static_cast<std::size_t>(y * srcStride + x)];
                        const float rounding = roundings[rng() % 4];
                        const float bias = biases[rng() % 3];
                        InterBlock want, got;
                        std::fill(std::begin(got.levels), std::end(got.levels), std::int16_t{77});
                        const bool w = quantizeInterResidualRef(src.data(), srcStride, pred.data(), predStride, q,
                                                                rounding, want, bias);
                        const bool g =
                            quantizeInterResidual(src.data(), srcStride, pred.data(), predStride, q, rounding, got, bias);
                        SCOPED_TRACE(::testing::Message() << "pqindex " << pqindex << " half " << half << " mode "
                                                          << static_cast<int>(qs.mode) << " kind "
                                                          << static_cast<int>(kind) << " rounding " << rounding);
                        ASSERT_EQ(w, g);
                        ASSERT_TRUE(std::equal(want.levels, want.levels + 64, got.levels));
                        ASSERT_EQ(want.eventCount, got.eventCount);
                        for (int i = 0; i < want.eventCount; ++i) {
                            ASSERT_EQ(want.events[i].run, got.events[i].run) << i;
                            ASSERT_EQ(want.events[i].level, got.events[i].level) << i;
                            ASSERT_EQ(want.events[i].last, got.events[i].last) << i;
                        }
                        (w ? coded : skipped)++;
                    }
            }
    // Both outcomes are exercised.
    EXPECT_GT(coded, 100);
    EXPECT_GT(skipped, 100);
}

TEST(Vc1SimdQuant, LargestResidualKeepsItsLevelsAtTheFinestQuantiser)
{
    // 255 against 0 everywhere is a pure DC of the largest size: one event,
    // positive, run 0, and the negative case mirrors it.
    std::vector<std::uint8_t> full(64, 255), empty(64, 0);
    const PictureQuant q = makePictureQuant(QuantizerMode::Uniform, 1, false, true);
    InterBlock b;
    ASSERT_TRUE(quantizeInterResidual(full.data(), 8, empty.data(), 8, q, 0.5f, b));
    ASSERT_EQ(b.eventCount, 1);
    EXPECT_EQ(b.events[0].run, 0);
    EXPECT_GT(b.events[0].level, 0);
    EXPECT_TRUE(b.events[0].last);
    InterBlock n;
    ASSERT_TRUE(quantizeInterResidual(empty.data(), 8, full.data(), 8, q, 0.5f, n));
    ASSERT_EQ(n.eventCount, 1);
    EXPECT_EQ(n.events[0].level, -b.events[0].level);
}

TEST(Vc1SimdQuant, AcQuantiserEqualsThePlainVersion)
{
    // Coefficients at and around the decision points (level boundaries of
    // the step, the non-uniform offset), beyond the largest codable level,
    // signed zeros and random magnitudes.
    std::mt19937 rng(33);
    for (QuantizerMode mode : {QuantizerMode::Uniform, QuantizerMode::NonUniform})
        for (int pqindex = 1; pqindex <= 31; ++pqindex)
            for (bool half : {false, true}) {
                const PictureQuant q = makePictureQuant(mode, pqindex, half, mode == QuantizerMode::Uniform);
                const QuantStep st = q.step();
                for (float rounding : {0.0f, 0.25f, 0.45f, 0.5f}) {
                    for (int trial = 0; trial < 4; ++trial) {
                        float coef[64];
                        for (int i = 0; i < 64; ++i) {
                            const float sign = (rng() & 1) ? -1.0f : 1.0f;
                            const float offset = st.uniform ? 0.0f : static_cast<float>(st.pquant);
                            switch ((i + trial) % 6) {
                            case 0: coef[i] = sign * ((static_cast<float>(rng() % 40) - rounding) * static_cast<float>(st.acStep()) + offset); break;
                            case 1: coef[i] = sign * offset; break;
                            case 2: coef[i] = sign * 1.0e5f; break;
                            case 3: coef[i] = (rng() & 1) ? -0.0f : 0.0f; break;
                            default: coef[i] = sign * static_cast<float>(rng() % 100000) / 37.0f; break;
                            }
                        }
                        std::int16_t want[64], got[64];
                        want[0] = got[0] = 1234;  // position 0 left alone
                        const int nw = quantizeAcRef(coef, q, rounding, want);
                        const int ng = quantizeAc(coef, q, rounding, got);
                        ASSERT_EQ(nw, ng) << pqindex << " " << half << " " << rounding;
                        ASSERT_TRUE(std::equal(want, want + 64, got)) << pqindex << " " << half << " " << rounding;
                    }
                }
            }
}

}  // namespace
}  // namespace asfw::vc1
