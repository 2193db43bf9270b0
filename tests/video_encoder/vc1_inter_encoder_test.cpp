// The encoder object on the seam with P pictures: key frames where they
// must be (first picture, maximum key-frame spacing, scene cuts), P
// pictures elsewhere, and FFmpeg's decoding equal to the reconstruction.
#include "support/test_support.h"
#include "support/video_content.h"
#include "support/video_rcv.h"

#include "dsp/vc1_mc.h"
#include "video_encoder/half_sample_planes.h"
#include "video_encoder/inter_block.h"
#include "video_encoder/inter_zero_test.h"
#include "video_encoder/vc1_encoder.h"
#include "video_encoder/vc1_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace asfw {
namespace {

struct EncoderRun {
    std::vector<test::RcvFrame> frames;
    std::vector<std::vector<std::uint8_t>> recon;
    std::vector<bool> keys;
    std::vector<std::uint8_t> header;
};

// 25 frames per second; `cutAt` switches to another scene.
EncoderRun encode(int w, int h, int frames, int complexity, std::int64_t keySpacing, int cutAt, int pqindex)
{
    VideoSettings s;
    s.width = w;
    s.height = h;
    s.frameDuration = 400000;
    s.complexity = complexity;
    s.maxKeyFrameSpacing = keySpacing;
    Wmv9EncoderOptions o;
    o.pqindex = pqindex;
    std::string error;
    auto enc = createWmv9EncoderWithOptions(s, o, &error);
    EXPECT_TRUE(enc) << error;
    EncoderRun r;
    if (!enc) return r;
    r.header = enc->codecData();
    for (int n = 0; n < frames; ++n) {
        const bool second = cutAt > 0 && n >= cutAt;
        const auto in = test::makeVideoFrame(second ? test::VideoPattern::Text : test::VideoPattern::Photo, w, h, n,
                                             second ? 9 : 1);
        MediaObjects out;
        EXPECT_TRUE(enc->encode(in.data(), in.size(), n * s.frameDuration, out));
        EXPECT_EQ(out.size(), 1u);
        if (out.empty()) break;
        test::RcvFrame f;
        f.data = out[0].data;
        f.keyFrame = out[0].keyFrame;
        f.timeMs = static_cast<std::uint32_t>(n * 40);
        r.keys.push_back(out[0].keyFrame);
        r.frames.push_back(f);
        r.recon.push_back(enc->reconstruction().toI420());
    }
    return r;
}

void expectDecodesToReconstruction(const EncoderRun& r, int w, int h)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    test::TempDir dir;
    const std::string rcv = dir.file("a.rcv"), mkv = dir.file("a.mkv");
    ASSERT_TRUE(test::writeFileBytes(rcv, test::makeRcv(r.header, w, h, r.frames)));
    // Rewrapped first: the raw test-bitstream reader ends with an I/O error.
    test::runCommand("ffmpeg -nostdin -v error -i " + test::shellQuote(rcv) + " -c copy -y " + test::shellQuote(mkv));
    const test::DecodeResult d = test::ffmpegDecodeI420(mkv, w, h);
    ASSERT_TRUE(d.ran) << d.errors;
    ASSERT_EQ(d.frames.size(), r.recon.size());
    for (std::size_t i = 0; i < d.frames.size(); ++i)
        ASSERT_EQ(test::hashBytes(d.frames[i].data(), d.frames[i].size()),
                  test::hashBytes(r.recon[i].data(), r.recon[i].size()))
            << "frame " << i << ": " << test::firstI420Difference(d.frames[i], r.recon[i], w, h);
}

TEST(Vc1InterEncoder, KeyFramesAtTheMaximumSpacing)
{
    // 0.4 s spacing at 25 fps: a key frame every 10 pictures, P between.
    const EncoderRun r = encode(96, 64, 23, 3, 4000000, 0, 8);
    ASSERT_EQ(r.keys.size(), 23u);
    for (std::size_t i = 0; i < r.keys.size(); ++i) EXPECT_EQ(r.keys[i], i % 10 == 0) << i;
    // P pictures are much smaller than key frames on slowly moving content.
    EXPECT_LT(r.frames[5].data.size() * 2, r.frames[0].data.size());
    expectDecodesToReconstruction(r, 96, 64);
}

TEST(Vc1InterEncoder, SceneCutForcesAKeyFrame)
{
    const EncoderRun r = encode(112, 80, 9, 2, 0, 5, 6);
    ASSERT_EQ(r.keys.size(), 9u);
    for (std::size_t i = 0; i < r.keys.size(); ++i) EXPECT_EQ(r.keys[i], i == 0 || i == 5) << i;
    expectDecodesToReconstruction(r, 112, 80);
}

TEST(Vc1InterEncoder, EveryComplexityLevelDecodesExactly)
{
    for (int level = 0; level <= 5; ++level) {
        SCOPED_TRACE(level);
        const EncoderRun r = encode(80, 48, 4, level, 0, 0, 3 + 4 * level);
        expectDecodesToReconstruction(r, 80, 48);
    }
}


// The motion search reads half-sample blocks from planes interpolated once
// per picture: every phase at every position the search may address (one
// macroblock beyond each edge) must equal the decoder's block
// interpolation, for both rounding controls, extreme and random samples.
TEST(Vc1InterEncoder, HalfSamplePlanesEqualTheDecodersInterpolation)
{
    struct Case {
        int width, height;
        int fill;  // -1 random, else a constant sample value (extremes)
    };
    const Case cases[] = {{48, 32, -1}, {80, 48, -1}, {32, 16, 255}, {16, 32, 0}};
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        vc1::Frame f;
        f.allocate(c.width, c.height);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                int v = c.fill >= 0 ? c.fill : static_cast<int>(rng() & 255);
                if (c.fill < 0 && (rng() & 7) == 0) v = (rng() & 1) ? 255 : 0;  // steep edges
                *f.luma.at(x, y) = static_cast<std::uint8_t>(v);
            }
        f.luma.extendFrom(c.width, c.height);
        for (int rnd = 0; rnd <= 1; ++rnd) {
            HalfSamplePlanes planes;
            planes.build(f.luma.at(0, 0), f.luma.stride, c.width, c.height, rnd);
            for (int phase = 0; phase < 4; ++phase)
                for (int y = -16; y <= c.height; ++y)
                    for (int x = -16; x <= c.width; ++x) {
                        alignas(16) std::uint8_t want[256];
                        vc1LumaBicubic16Ref(want, 16, f.luma.at(x, y), f.luma.stride, (phase & 1) * 2, (phase >> 1) * 2,
                                            rnd);
                        const std::uint8_t* got = planes.block(0, 0, 2 * x + (phase & 1), 2 * y + (phase >> 1));
                        for (int j = 0; j < 16; ++j)
                            for (int i = 0; i < 16; ++i)
                                if (got[j * planes.stride() + i] != want[j * 16 + i]) {
                                    FAIL() << c.width << "x" << c.height << " rnd " << rnd << " phase " << phase
                                           << " block at " << x << "," << y << " sample " << i << "," << j << ": "
                                           << int(got[j * planes.stride() + i]) << " != " << int(want[j * 16 + i]);
                                }
                    }
        }
    }
}

// The zero-block test lets the coder skip quantising blocks: the
// vectorised version must agree with the plain one, and a block it calls
// zero must have no level after quantisation, at every quantiser.
TEST(Vc1InterEncoder, ZeroBlockTestAgreesWithTheQuantiser)
{
    std::mt19937 rng(5);
    int zeros = 0, total = 0;
    for (int pqindex = 1; pqindex <= 31; pqindex += 3)
        for (int variant = 0; variant < 3; ++variant) {
            const vc1::PictureQuant q = vc1::makePictureQuant(vc1::QuantizerMode::Explicit, pqindex, variant == 2,
                                                              variant != 1);
            vc1::InterZeroTest t;
            t.setup(q, 0.2f);
            for (int n = 0; n < 300; ++n) {
                std::uint8_t src[8 * 12], pred[8 * 12];  // strides 12 and 8
                const int amp = 1 + static_cast<int>(rng() % (n < 250 ? 24u : 256u));
                const int bias = static_cast<int>(rng() % 9) - 4;
                for (int i = 0; i < 64; ++i) {
                    const int p = n % 50 == 0 ? 255 * (i & 1) : static_cast<int>(rng() & 255);
                    pred[i] = static_cast<std::uint8_t>(p);
                    const int d = static_cast<int>(rng() % static_cast<unsigned>(2 * amp + 1)) - amp + bias;
                    int v = n % 50 == 0 ? 255 - p : std::clamp(p + d, 0, 255);
                    src[(i / 8) * 12 + i % 8] = static_cast<std::uint8_t>(v);
                }
                const bool fast = t.zero(src, 12, pred, 8);
                ASSERT_EQ(fast, t.zeroRef(src, 12, pred, 8)) << "pqindex " << pqindex << " case " << n;
                vc1::InterBlock b;
                const bool levels = vc1::quantizeInterResidual(src, 12, pred, 8, q, 0.2f, b);
                if (fast) {
                    ASSERT_FALSE(levels) << "pqindex " << pqindex << " case " << n;
                }
                zeros += fast ? 1 : 0;
                total += levels ? 0 : 1;
            }
        }
    // It finds most of the blocks that have no level.
    EXPECT_GT(zeros * 10, total * 7) << zeros << " of " << total;
}

}  // namespace
}  // namespace asfw
