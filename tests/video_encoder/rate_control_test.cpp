// Rate control parts on their own: the quantiser ladder and the quality
// scale, the leaky bucket, the pre-processing pass's analysis and bit plan,
// and the all-skipped picture (FFmpeg must show it as the previous picture).
#include "support/test_support.h"
#include "support/video_content.h"
#include "support/video_rcv.h"

#include "video_encoder/analysis.h"
#include "video_encoder/rate_control.h"
#include "video_encoder/rate_control_skip.h"
#include "video_encoder/vc1_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace asfw::vc1 {
namespace {

TEST(RateControlLadder, StepsRiseStrictlyAndMapBack)
{
    for (int i = 0; i < kQuantLadderSize; ++i) {
        const LadderQuant q = ladderQuant(i);
        EXPECT_GE(q.pqindex, 1);
        EXPECT_LE(q.pqindex, 31);
        EXPECT_TRUE(!q.halfQp || q.pqindex <= 8) << i;  // HALFQP is only sent up to PQINDEX 8
        if (i > 0) {
            EXPECT_GT(q.step(), ladderQuant(i - 1).step()) << i;
        }
        EXPECT_EQ(ladderIndexForStep(q.step()), i);
    }
    EXPECT_EQ(ladderQuant(0).step(), 2);
    EXPECT_EQ(ladderQuant(kQuantLadderSize - 1).step(), 62);
    EXPECT_EQ(ladderIndexForStep(0.1), 0);
    EXPECT_EQ(ladderIndexForStep(1000), kQuantLadderSize - 1);
}

TEST(RateControlLadder, QualityScaleIsMonotone)
{
    EXPECT_NEAR(qualityStep(1), 62.0, 1e-9);
    EXPECT_NEAR(qualityStep(100), 2.0, 1e-9);
    for (int q = 2; q <= 100; ++q) EXPECT_LT(qualityStep(q), qualityStep(q - 1)) << q;
    EXPECT_EQ(qualityStep(0), qualityStep(1));
    EXPECT_EQ(qualityStep(1000), qualityStep(100));
}

TEST(RateControlSettings, ModesFromTheStreamSettings)
{
    VideoSettings v;
    v.width = 176;
    v.height = 144;
    v.frameDuration = 400000;
    v.bitrate = 500000;
    struct Case {
        bool vbr;
        std::uint32_t passes, quality, rmax, bmax;
        int forced;
        RateMode mode;
    } cases[] = {
        {false, 1, 0, 0, 0, 0, RateMode::ConstantBitrate},
        {false, 2, 0, 0, 0, 0, RateMode::ConstantBitrate},
        {true, 1, 75, 0, 0, 0, RateMode::Quality},
        {true, 2, 0, 1250000, 6000, 0, RateMode::PeakConstrained},
        {false, 1, 0, 0, 0, 7, RateMode::FixedQuantiser},
    };
    for (const Case& c : cases) {
        v.vbr = c.vbr;
        v.passes = c.passes;
        v.vbrQuality = c.quality;
        v.peakBitrate = c.rmax;
        v.peakBufferMs = c.bmax;
        const RateSettings r = rateSettingsFor(v, c.forced, false);
        EXPECT_EQ(r.mode, c.mode);
        EXPECT_DOUBLE_EQ(r.bufferBits, 500000 * 3.0);
        if (c.mode == RateMode::PeakConstrained) {
            EXPECT_DOUBLE_EQ(r.peakBufferBits, 1250000 * 6.0);
        }
        if (c.mode == RateMode::Quality) {
            EXPECT_EQ(r.quality, 75);
        }
    }
}

TEST(RateControlBucket, DrainsBetweenPicturesAndNeverBelowEmpty)
{
    LeakyBucket b(1000.0, 3000.0);  // 1000 bit/s, 3 s
    EXPECT_DOUBLE_EQ(b.fullnessAt(0), 0.0);
    b.add(0, 2500);
    EXPECT_DOUBLE_EQ(b.fullnessAt(10000000), 1500.0);  // one second later
    EXPECT_DOUBLE_EQ(b.roomAt(10000000), 1500.0);
    EXPECT_DOUBLE_EQ(b.fullnessAt(100000000), 0.0);
    b.add(5000000, 100);
    EXPECT_DOUBLE_EQ(b.fullness(), 2100.0);
    EXPECT_DOUBLE_EQ(b.worst(), 2500.0);
}

// Frames of a clip that cuts from one scene to another at `cut`.
std::vector<std::uint8_t> cutFrame(int w, int h, int n, int cut)
{
    return test::makeVideoFrame(n < cut ? test::VideoPattern::Photo : test::VideoPattern::Text, w, h, n, n < cut ? 1 : 7);
}

TEST(RateControlAnalysis, CostsSeeMotionAndCuts)
{
    const int w = 176, h = 144;
    FrameAnalyser a(w, h);
    std::vector<FrameStats> st;
    for (int n = 0; n < 12; ++n) st.push_back(a.look(cutFrame(w, h, n, 8).data(), w));
    EXPECT_TRUE(st[0].flags & FrameStats::kFirstPicture);
    EXPECT_EQ(st[0].interCost, st[0].intraCost);
    for (int n = 1; n < 12; ++n) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(st[n].flags & FrameStats::kFirstPicture);
        EXPECT_LE(st[n].interCost, st[n].intraCost);
        const bool cut = isSceneCut(st[n].intraCost, st[n].interCost, 10, SceneCutRule{});
        EXPECT_EQ(cut, n == 8);
    }
    // A moving picture predicts far better than it codes alone.
    EXPECT_LT(st[4].interCost * 2, st[4].intraCost);
    // A repeated picture costs nothing to predict, and has no motion.
    FrameAnalyser still(w, h);
    const auto f = cutFrame(w, h, 3, 100);
    still.look(f.data(), w);
    const FrameStats again = still.look(f.data(), w);
    EXPECT_EQ(again.interCost, 0u);
    EXPECT_EQ(again.motion, 0u);
    // Pictures too small for one analysis block still give figures.
    FrameAnalyser tiny(6, 4);
    const std::vector<std::uint8_t> small(6 * 4 * 3 / 2, 90);
    EXPECT_EQ(tiny.look(small.data(), 6).intraCost, 0u);
}

TEST(RateControlAnalysis, SceneCutRuleKeepsAGap)
{
    const SceneCutRule r = sceneCutRuleFor(400000);  // 25 frames per second
    EXPECT_EQ(r.minGap, 2);
    EXPECT_EQ(sceneCutRuleFor(166666).minGap, 6);  // 60 frames per second
    EXPECT_FALSE(isSceneCut(1000, 900, r.minGap - 1, r));
    EXPECT_TRUE(isSceneCut(1000, 900, r.minGap, r));
    EXPECT_FALSE(isSceneCut(1000, 500, r.minGap, r));
    EXPECT_FALSE(isSceneCut(0, 0, 100, r));
    // Only a change is a cut: after a picture that was no better predicted
    // (noise, a fast zoom over fine detail) the scene goes on.
    EXPECT_TRUE(isSceneCut(1000, 900, r.minGap, r, 0.3));
    EXPECT_FALSE(isSceneCut(1000, 900, r.minGap, r, 0.8));
    EXPECT_EQ(sceneCutRuleFor(10000000).minGap, 2);
}

TEST(RateControlPlan, KeysAtCutsAndSpacingBitsSumToTheRate)
{
    // 20 s at 25 fps: a cut at 3 s, key spacing 4 s.
    std::vector<FrameStats> st(500);
    for (std::size_t j = 0; j < st.size(); ++j) {
        st[j].intraCost = 20000;
        st[j].interCost = j == 75 ? 19000 : (j < 250 ? 3000 : 9000);
    }
    st[0].interCost = st[0].intraCost;
    PlanSettings ps;
    ps.frameDuration = 400000;
    ps.bitrate = 300000;
    ps.keySpacing = 40000000;
    ps.sceneCut = sceneCutRuleFor(ps.frameDuration);
    for (int bucket = 0; bucket < 2; ++bucket) {
        SCOPED_TRACE(bucket);
        ps.bucketRate = bucket ? 300000 : 0;
        ps.bucketBits = bucket ? 300000 * 3.0 : 0;
        const std::vector<PlannedFrame> plan = planBits(st, ps);
        ASSERT_EQ(plan.size(), st.size());
        std::vector<std::size_t> keys;
        double total = 0;
        for (std::size_t j = 0; j < plan.size(); ++j) {
            if (plan[j].key) keys.push_back(j);
            total += plan[j].bits;
            EXPECT_GT(plan[j].bits, 0.0);
        }
        EXPECT_EQ(keys, (std::vector<std::size_t>{0, 75, 175, 275, 375, 475}));
        EXPECT_NEAR(total, 300000 * 20.0, 300000 * 20.0 * 0.01);
        // Key frames get more than P pictures; busier pictures more than quiet ones.
        EXPECT_GT(plan[75].bits, 3 * plan[76].bits);
        EXPECT_GT(plan[300].bits, plan[100].bits);
        if (bucket) {
            LeakyBucket b(ps.bucketRate, ps.bucketBits);
            for (std::size_t j = 0; j < plan.size(); ++j) b.add(static_cast<std::int64_t>(j) * ps.frameDuration, plan[j].bits);
            EXPECT_LE(b.worst(), ps.bucketBits * 0.9);
        }
    }
    EXPECT_TRUE(planBits({}, ps).empty());
}

TEST(RateControlSkip, AnAllSkippedPictureRepeatsThePreviousOne)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const int w = 88, h = 72;  // not whole macroblocks
    VideoSettings s;
    s.width = w;
    s.height = h;
    s.frameDuration = 400000;
    Wmv9EncoderOptions o;
    o.pqindex = 5;
    std::string error;
    auto enc = createWmv9EncoderWithOptions(s, o, &error);
    ASSERT_TRUE(enc) << error;
    std::vector<test::RcvFrame> frames;
    std::vector<std::vector<std::uint8_t>> recon;
    for (int n = 0; n < 2; ++n) {
        const auto in = test::makeVideoFrame(test::VideoPattern::Photo, w, h, n);
        MediaObjects out;
        ASSERT_TRUE(enc->encode(in.data(), in.size(), n * s.frameDuration, out));
        frames.push_back({out[0].data, out[0].keyFrame, static_cast<std::uint32_t>(n * 40)});
        recon.push_back(enc->reconstruction().toI420());
    }
    for (int pq : {1, 9, 31}) {
        const PictureQuant q = makePictureQuant(enc->sequenceHeader().quantizer, pq, false, true);
        const auto bytes = encodeSkippedPicture(enc->sequenceHeader(), q, (w + 15) / 16, (h + 15) / 16);
        EXPECT_LE(bytes.size(), 4u);
        frames.push_back({bytes, false, static_cast<std::uint32_t>(frames.size() * 40)});
        recon.push_back(recon.back());
    }
    test::TempDir dir;
    const std::string rcv = dir.file("s.rcv"), mkv = dir.file("s.mkv");
    ASSERT_TRUE(test::writeFileBytes(rcv, test::makeRcv(enc->codecData(), w, h, frames)));
    test::runCommand("ffmpeg -nostdin -v error -i " + test::shellQuote(rcv) + " -c copy -y " + test::shellQuote(mkv));
    const test::DecodeResult d = test::ffmpegDecodeI420(mkv, w, h);
    ASSERT_TRUE(d.ran) << d.errors;
    ASSERT_EQ(d.frames.size(), recon.size());
    for (std::size_t i = 0; i < recon.size(); ++i)
        EXPECT_EQ(test::firstI420Difference(d.frames[i], recon[i], w, h), "") << "frame " << i;
}

}  // namespace
}  // namespace asfw::vc1
