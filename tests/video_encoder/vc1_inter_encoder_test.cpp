// The encoder object on the seam with P pictures: key frames where they
// must be (first picture, maximum key-frame spacing, scene cuts), P
// pictures elsewhere, and FFmpeg's decoding equal to the reconstruction.
#include "support/test_support.h"
#include "support/video_content.h"
#include "support/video_rcv.h"

#include "video_encoder/vc1_encoder.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace asfw
