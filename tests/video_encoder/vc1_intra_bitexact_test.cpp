// FFmpeg's wmv3 decoder must reproduce the encoder's own reconstruction bit
// for bit, with no decode error, over frame sizes, content, every PQINDEX
// with and without HALFQP, all quantiser modes, every coding-set index and
// the AC prediction choices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "support/video_content.h"
#include "support/video_rcv.h"
#include "video_encoder/vc1_encoder.h"

namespace asfw {
namespace {

using test::VideoPattern;

struct Picture {
    Wmv9EncoderOptions options;  // per-picture options for this frame
    VideoPattern pattern = VideoPattern::Photo;
    int frame = 0;
};

// Encodes the pictures into one RCV file, decodes it with FFmpeg and
// compares every frame with the encoder's reconstruction.
void expectBitExact(int width, int height, const Wmv9EncoderOptions& sequenceOptions,
                    const std::vector<Picture>& pictures, const std::string& label)
{
    VideoSettings settings;
    settings.width = width;
    settings.height = height;
    settings.frameDuration = 400000;
    std::string error;
    Wmv9EncoderOptions first = sequenceOptions;
    first.intraOnly = true;
    auto encoder = createWmv9EncoderWithOptions(settings, first, &error);
    ASSERT_TRUE(encoder) << error;

    std::vector<test::RcvFrame> frames;
    std::vector<std::vector<std::uint8_t>> recon;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        Wmv9EncoderOptions options = pictures[i].options;
        options.intraOnly = true;
        encoder->setPictureOptions(options);
        const std::vector<std::uint8_t> input = test::makeVideoFrame(pictures[i].pattern, width, height,
                                                                     pictures[i].frame);
        MediaObjects out;
        ASSERT_TRUE(encoder->encode(input.data(), input.size(), static_cast<std::int64_t>(i) * 400000, out));
        ASSERT_EQ(out.size(), 1u);
        EXPECT_TRUE(out[0].keyFrame);
        EXPECT_EQ(out[0].presentationTime, static_cast<std::int64_t>(i) * 400000);
        EXPECT_EQ(out[0].duration, 400000);
        test::RcvFrame f;
        f.data = out[0].data;
        f.timeMs = static_cast<std::uint32_t>(i * 40);
        frames.push_back(std::move(f));
        recon.push_back(encoder->reconstruction().toI420());
    }

    test::TempDir dir;
    const std::string file = dir.file("clip.rcv");
    ASSERT_TRUE(test::writeFileBytes(file, test::makeRcv(encoder->codecData(), width, height, frames)));
    const test::DecodeResult decoded = test::ffmpegDecodeI420(file, width, height);
    ASSERT_TRUE(decoded.ran) << label << ": " << decoded.errors;
    EXPECT_EQ(decoded.errors, "") << label;
    ASSERT_EQ(decoded.frames.size(), recon.size()) << label;
    for (std::size_t i = 0; i < recon.size(); ++i) {
        const std::string diff = test::firstI420Difference(decoded.frames[i], recon[i], width, height);
        EXPECT_EQ(diff, "") << label << " picture " << i << " (PQINDEX " << pictures[i].options.pqindex << ")";
        if (!diff.empty()) break;
    }
}

// ---------------------------------------------------------------------------
struct SizeCase {
    int width, height;
    VideoPattern pattern;
    int pqindex;
};

class Vc1IntraSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(Vc1IntraSizes, DecoderMatchesReconstruction)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const SizeCase c = GetParam();
    std::vector<Picture> pictures;
    for (int i = 0; i < 2; ++i) {
        Picture p;
        p.options.pqindex = c.pqindex + 3 * i;
        p.pattern = c.pattern;
        p.frame = i * 5;
        pictures.push_back(p);
    }
    expectBitExact(c.width, c.height, Wmv9EncoderOptions(), pictures,
                   std::to_string(c.width) + "x" + std::to_string(c.height));
}

INSTANTIATE_TEST_SUITE_P(Sizes, Vc1IntraSizes,
                         ::testing::Values(SizeCase{16, 16, VideoPattern::Photo, 3},
                                           SizeCase{176, 144, VideoPattern::Mixed, 5},
                                           SizeCase{322, 242, VideoPattern::Photo, 8},
                                           SizeCase{640, 480, VideoPattern::Text, 10},
                                           SizeCase{720, 576, VideoPattern::Noise, 14},
                                           SizeCase{1280, 720, VideoPattern::Photo, 6},
                                           SizeCase{2, 2, VideoPattern::Gradient, 1},
                                           SizeCase{34, 18, VideoPattern::Mixed, 2}));

// ---------------------------------------------------------------------------
// Every PQINDEX with HALFQP off and on, for each quantiser mode and for
// smooth and noisy content (noise at low PQINDEX drives the escape modes).
class Vc1IntraQuantiser : public ::testing::TestWithParam<int> {};

TEST_P(Vc1IntraQuantiser, EveryPqindexAndHalfQp)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const int mode = GetParam();
    Wmv9EncoderOptions seq;
    seq.quantizer = static_cast<vc1::QuantizerMode>(mode);
    std::vector<Picture> pictures;
    for (VideoPattern pattern : {VideoPattern::Mixed, VideoPattern::Noise}) {
        for (int pq = 1; pq <= 31; ++pq) {
            for (int half = 0; half < 2; ++half) {
                if (half == 1 && pq > 8) continue;  // HALFQP cannot be sent above 8
                Picture p;
                p.options = seq;
                p.options.pqindex = pq;
                p.options.halfQp = half != 0;
                // Explicit mode: alternate uniform / non-uniform pictures.
                p.options.uniform = (pq + half) % 2;
                p.pattern = pattern;
                p.frame = pq;
                pictures.push_back(p);
            }
        }
    }
    expectBitExact(96, 64, seq, pictures, std::string("quantiser mode ") + std::to_string(mode));
}

INSTANTIATE_TEST_SUITE_P(Modes, Vc1IntraQuantiser, ::testing::Values(0, 1, 2, 3));

// ---------------------------------------------------------------------------
// Each TRANSACFRM2 / TRANSACFRM / TRANSDCTAB value, on both sides of the
// PQINDEX 8 boundary (index 0 names a different set there), and each AC
// prediction policy.
TEST(Vc1IntraCodingSets, EveryIndexAndPredictionPolicy)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    Wmv9EncoderOptions seq;
    std::vector<Picture> pictures;
    for (int pq : {3, 8, 9, 20}) {
        for (int luma = 0; luma < 3; ++luma) {
            for (int chroma = 0; chroma < 3; ++chroma) {
                Picture p;
                p.options.pqindex = pq;
                p.options.lumaSetIndex = luma;
                p.options.chromaSetIndex = chroma;
                p.options.dcTable = (luma + chroma) % 2;
                p.options.acPrediction = static_cast<vc1::AcPredictionPolicy>((luma + 2 * chroma) % 3);
                p.pattern = (luma + chroma) % 2 ? VideoPattern::Photo : VideoPattern::Text;
                p.frame = luma * 3 + chroma;
                pictures.push_back(p);
            }
        }
    }
    expectBitExact(176, 144, seq, pictures, "coding sets");
}

// The encoder's own choices must be what it says it chose, and forcing
// them must be honoured.
TEST(Vc1IntraCodingSets, ForcedChoicesAreUsed)
{
    VideoSettings settings;
    settings.width = 64;
    settings.height = 48;
    settings.frameDuration = 400000;
    Wmv9EncoderOptions o;
    o.pqindex = 9;
    o.lumaSetIndex = 2;
    o.chromaSetIndex = 1;
    o.dcTable = 1;
    o.acPrediction = vc1::AcPredictionPolicy::Always;
    o.intraOnly = true;
    auto encoder = createWmv9EncoderWithOptions(settings, o, nullptr);
    ASSERT_TRUE(encoder);
    const std::vector<std::uint8_t> input = test::makeVideoFrame(VideoPattern::Photo, 64, 48, 0);
    MediaObjects out;
    ASSERT_TRUE(encoder->encode(input.data(), input.size(), 0, out));
    EXPECT_EQ(encoder->lastPictureInfo().lumaSetIndex, 2);
    EXPECT_EQ(encoder->lastPictureInfo().chromaSetIndex, 1);
    EXPECT_EQ(encoder->lastPictureInfo().dcTable, 1);
    EXPECT_EQ(encoder->lastPictureInfo().acPredMacroblocks, 12);
}

}  // namespace
}  // namespace asfw
