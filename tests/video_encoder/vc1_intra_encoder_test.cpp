// The intra encoder on the seam: settings it refuses, input it refuses
// without changing state, time stamps, the rate rule, the symbol trace.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "support/video_content.h"
#include "video_encoder/vc1_encoder.h"
#include "video_encoder/wmv9_encoder.h"

namespace asfw {
namespace {

VideoSettings settingsOf(int w, int h, std::uint32_t bitrate = 0)
{
    VideoSettings s;
    s.width = w;
    s.height = h;
    s.frameDuration = 400000;
    s.bitrate = bitrate;
    return s;
}

TEST(Vc1IntraEncoder, RefusesSettingsItCannotCode)
{
    struct Case {
        VideoSettings settings;
        const char* why;
    };
    VideoSettings odd = settingsOf(175, 144), zero = settingsOf(0, 144), huge = settingsOf(8192, 64),
                  noDuration = settingsOf(64, 64);
    noDuration.frameDuration = 0;
    for (const Case& c : {Case{odd, "odd width"}, Case{zero, "zero width"}, Case{huge, "too wide"},
                          Case{noDuration, "no frame duration"}}) {
        std::string error;
        EXPECT_EQ(createWmv9Encoder(c.settings, &error), nullptr) << c.why;
        EXPECT_FALSE(error.empty()) << c.why;
    }
    Wmv9EncoderOptions o;
    o.pqindex = 32;
    EXPECT_EQ(createWmv9EncoderWithOptions(settingsOf(64, 64), o, nullptr), nullptr);
    o.pqindex = 0;
    o.lumaSetIndex = 3;
    EXPECT_EQ(createWmv9EncoderWithOptions(settingsOf(64, 64), o, nullptr), nullptr);
}

TEST(Vc1IntraEncoder, RefusesWrongInputWithoutChangingState)
{
    Wmv9EncoderOptions o;
    o.intraOnly = true;
    auto e = createWmv9EncoderWithOptions(settingsOf(64, 48), o, nullptr);
    ASSERT_TRUE(e);
    const std::vector<std::uint8_t> frame = test::makeVideoFrame(test::VideoPattern::Photo, 64, 48, 0);
    MediaObjects out;
    EXPECT_FALSE(e->encode(frame.data(), frame.size() - 1, 0, out));
    EXPECT_FALSE(e->encode(nullptr, frame.size(), 0, out));
    EXPECT_FALSE(e->lastError().empty());
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(e->picturesCoded(), 0);
    EXPECT_FALSE(e->analyse(frame.data(), 7, 0));
    EXPECT_TRUE(e->analyse(frame.data(), frame.size(), 0));
    ASSERT_TRUE(e->encode(frame.data(), frame.size(), 1234567, out));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].presentationTime, 1234567);
    EXPECT_EQ(out[0].duration, 400000);
    EXPECT_TRUE(out[0].keyFrame);
    EXPECT_FALSE(out[0].data.empty());
    EXPECT_TRUE(e->flush(out));
    EXPECT_EQ(out.size(), 1u);
    EXPECT_EQ(e->codecData(), wmv9SequenceHeader(settingsOf(64, 48)));
}

// With a bit rate and no forced quantiser, pictures settle near the
// per-frame budget (intra only, so a steady picture is a fair target).
TEST(Vc1IntraEncoder, RateRuleFollowsTheBitRate)
{
    for (std::uint32_t bitrate : {400000u, 2000000u}) {
        Wmv9EncoderOptions o;
        o.intraOnly = true;
        auto e = createWmv9EncoderWithOptions(settingsOf(176, 144, bitrate), o, nullptr);
        ASSERT_TRUE(e);
        std::size_t bytes = 0;
        const int frames = 20, settle = 8;
        for (int i = 0; i < frames; ++i) {
            const std::vector<std::uint8_t> f = test::makeVideoFrame(test::VideoPattern::Photo, 176, 144, i / 8);
            MediaObjects out;
            ASSERT_TRUE(e->encode(f.data(), f.size(), i * 400000LL, out));
            if (i >= settle) bytes += out[0].data.size();
        }
        const double perFrame = static_cast<double>(bytes) * 8 / (frames - settle);
        const double budget = bitrate * 0.04;
        EXPECT_GT(perFrame, budget * 0.5) << bitrate;
        EXPECT_LT(perFrame, budget * 1.5) << bitrate;
    }
}

TEST(Vc1IntraEncoder, TraceListsSymbolsAndLeavesTheStreamAlone)
{
    test::TempDir dir;
    const std::string traceFile = dir.file("trace.txt");
    const std::vector<std::uint8_t> frame = test::makeVideoFrame(test::VideoPattern::Mixed, 48, 32, 3);
    std::vector<std::uint8_t> plain, traced;
    for (int withTrace = 0; withTrace < 2; ++withTrace) {
        Wmv9EncoderOptions o;
        o.intraOnly = true;
        o.pqindex = 4;
        if (withTrace) o.traceTarget = traceFile;
        auto e = createWmv9EncoderWithOptions(settingsOf(48, 32), o, nullptr);
        ASSERT_TRUE(e);
        MediaObjects out;
        ASSERT_TRUE(e->encode(frame.data(), frame.size(), 0, out));
        (withTrace ? traced : plain) = out[0].data;
    }
    EXPECT_EQ(plain, traced);
    const std::vector<std::uint8_t> text = test::readFileBytes(traceFile);
    const std::string trace(text.begin(), text.end());
    EXPECT_NE(trace.find("PQINDEX"), std::string::npos);
    EXPECT_NE(trace.find("CBPCY"), std::string::npos);
    EXPECT_NE(trace.find("DCDIFF"), std::string::npos);
    EXPECT_NE(trace.find("mb(2,1) blk 5"), std::string::npos);  // last block of the last macroblock
}

}  // namespace
}  // namespace asfw
