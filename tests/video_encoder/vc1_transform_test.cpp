// The 8x8 transform: the inverse against the standard's matrix form with
// its rounding, and the forward transform as its match (round trip).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "dsp/vc1_transform.h"

namespace asfw::vc1 {
namespace {

constexpr int kT[8][8] = {
    {12, 12, 12, 12, 12, 12, 12, 12}, {16, 15, 9, 4, -4, -9, -15, -16}, {16, 6, -6, -16, -16, -6, 6, 16},
    {15, -4, -16, -9, 9, 16, 4, -15}, {12, -12, -12, 12, 12, -12, -12, 12}, {9, -16, 4, 15, -15, -4, 16, -9},
    {6, -16, 16, -6, -6, 16, -16, 6},  {4, -9, 15, -16, 16, -15, 9, -4},
};

// E = (D * T + 4) >> 3 (each row), then R = (T' * E + C + 64) >> 7 with
// C = 1 in the lower four rows.
void matrixInverse(const int d[64], int r[64])
{
    int e[64];
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            int acc = 0;
            for (int k = 0; k < 8; ++k) acc += d[i * 8 + k] * kT[k][j];
            e[i * 8 + j] = (acc + 4) >> 3;
        }
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            int acc = 0;
            for (int k = 0; k < 8; ++k) acc += kT[k][i] * e[k * 8 + j];
            r[i * 8 + j] = (acc + (i >= 4 ? 1 : 0) + 64) >> 7;
        }
}

TEST(Vc1Transform, InverseIsTheStandardsMatrixForm)
{
    std::mt19937 rng(3);
    for (int trial = 0; trial < 3000; ++trial) {
        int d[64];
        std::int16_t block[64];
        const int range = trial % 3 == 0 ? 2048 : (trial % 3 == 1 ? 200 : 8);
        for (int i = 0; i < 64; ++i) {
            // Sparse blocks too: most coefficients zero in a third of the trials.
            const bool zero = trial % 2 == 0 && (rng() % 4) != 0 && i != 0;
            d[i] = zero ? 0 : static_cast<int>(rng() % (2 * range + 1)) - range;
            block[i] = static_cast<std::int16_t>(d[i]);
        }
        int r[64];
        matrixInverse(d, r);
        inverseTransform8x8(block);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], r[i]) << "trial " << trial << " sample " << i;
    }
}

TEST(Vc1Transform, ForwardThenInverseGivesThePixelsBack)
{
    std::mt19937 rng(5);
    double totalError = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        std::uint8_t pixels[64];
        for (int i = 0; i < 64; ++i)
            pixels[i] = static_cast<std::uint8_t>(trial % 4 == 0 ? (rng() & 255) : std::clamp(100 + (i % 8) * 9 + static_cast<int>(rng() % 21), 0, 255));
        if (trial == 0)
            for (int i = 0; i < 64; ++i) pixels[i] = 255;
        float c[64];
        forwardTransform8x8(pixels, 8, c);
        std::int16_t block[64];
        for (int i = 0; i < 64; ++i) block[i] = static_cast<std::int16_t>(std::lround(c[i]));
        inverseTransform8x8(block);
        std::uint8_t back[64];
        putClamped8x8(block, back, 8);
        // Rounding the coefficients to integers costs at most a couple of levels.
        for (int i = 0; i < 64; ++i) {
            ASSERT_LE(std::abs(back[i] - pixels[i]), 2) << "trial " << trial << " sample " << i;
            totalError += std::abs(back[i] - pixels[i]);
        }
    }
    EXPECT_LT(totalError / (2000.0 * 64), 0.3);
    // A flat block has only a DC coefficient.
    std::uint8_t flat[64];
    for (auto& p : flat) p = 128;
    float c[64];
    forwardTransform8x8(flat, 8, c);
    for (int i = 1; i < 64; ++i) EXPECT_NEAR(c[i], 0.0f, 1e-3f);
    EXPECT_NEAR(c[0], 128.0f * 1024.0f / 144.0f, 0.01f);
}

TEST(Vc1Transform, AddAndPutClamp)
{
    std::int16_t block[64];
    std::uint8_t dst[64];
    for (int i = 0; i < 64; ++i) {
        block[i] = static_cast<std::int16_t>(i * 10 - 300);
        dst[i] = 200;
    }
    addClamped8x8(block, dst, 8);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[30], 200);
    EXPECT_EQ(dst[63], 255);
    putClamped8x8(block, dst, 8);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[40], 100);
    EXPECT_EQ(dst[63], 255);
}

TEST(Vc1Transform, VectorisedVersionsEqualThePlainOnes)
{
    // The inverse on dequantised-looking blocks, sparse blocks, and the
    // whole 16-bit range (the intermediate wraps to 16 bits in both); the
    // forward on pixels and on signed samples, with odd strides, including
    // samples beyond the range the vector version handles itself.
    std::mt19937 rng(41);
    for (int trial = 0; trial < 3000; ++trial) {
        std::int16_t want[64], got[64];
        const int kind = trial % 5;
        for (int i = 0; i < 64; ++i) {
            int v = 0;
            switch (kind) {
            case 0: v = static_cast<int>(rng() % 4001) - 2000; break;
            case 1: v = (rng() % 8 == 0) ? static_cast<int>(rng() % 601) - 300 : 0; break;
            case 2: v = static_cast<int>(rng() % 65536) - 32768; break;
            case 3: v = (rng() & 1) ? 32767 : -32768; break;
            default: v = i == 0 ? static_cast<int>(rng() % 4096) - 2048 : 0; break;
            }
            want[i] = got[i] = static_cast<std::int16_t>(v);
        }
        inverseTransform8x8Ref(want);
        inverseTransform8x8(got);
        ASSERT_TRUE(std::equal(want, want + 64, got)) << "inverse, kind " << kind << " trial " << trial;
    }
    for (int trial = 0; trial < 500; ++trial) {
        const int stride = 8 + static_cast<int>(rng() % 9);
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride) * 8);
        std::vector<std::int16_t> samples(static_cast<std::size_t>(stride) * 8);
        const int kind = trial % 4;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = static_cast<std::uint8_t>(kind == 0 ? rng() : (kind == 1 ? 255 : ((i & 1) ? 255 : 0)));
            const int range = kind == 3 ? 2000 : 255;  // kind 3 goes past the vector range
            samples[i] = static_cast<std::int16_t>(kind == 1 ? -255 : static_cast<int>(rng() % (2 * range + 1)) - range);
        }
        float want[64], got[64];
        forwardTransform8x8Ref(pixels.data(), stride, want);
        forwardTransform8x8(pixels.data(), stride, got);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(want[i], got[i]) << "forward pixels, trial " << trial << " at " << i;
        forwardTransform8x8Ref(samples.data(), stride, want);
        forwardTransform8x8(samples.data(), stride, got);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(want[i], got[i]) << "forward samples, trial " << trial << " at " << i;
    }
}

}  // namespace
}  // namespace asfw::vc1
