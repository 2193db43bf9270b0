// Rate control measured on written files: the WMV9 encoder's media objects
// go through the ASF muxer into a file, and the figures come from the
// file's media objects (sizes and millisecond times) as a reader sees them.
//   - constant bit rate, one and two passes: average within 3 % of the
//     rate, the leaky bucket (rate x 3 s) never overflows;
//   - peak-constrained VBR (two passes): average within 3 %, the peak
//     bucket (2.5 x rate, 6 s) never overflows;
//   - key frames never further apart than the maximum spacing;
//   - quality VBR: more bits and a higher PSNR as the quality rises.
#include "support/asf_reader.h"
#include "support/test_support.h"
#include "support/video_content.h"
#include "support/video_rcv.h"

#include "asf_muxer/asf_muxer.h"
#include "video_encoder/vc1_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace asfw {
namespace {

constexpr int kWidth = 176, kHeight = 144;
constexpr std::int64_t kFrameDuration = 400000;  // 25 frames per second
constexpr std::int64_t kKeySpacing = 40000000;   // 4 s

enum class Content { Pan, Mixed, Cuts, Noise, Zoom, Burst };

const char* contentName(Content c)
{
    switch (c) {
    case Content::Pan: return "pan";
    case Content::Mixed: return "mixed";
    case Content::Cuts: return "cuts";
    case Content::Noise: return "noise";
    case Content::Zoom: return "zoom";
    case Content::Burst: return "burst";
    }
    return "?";
}

// Fine detail everywhere under a fast zoom (a zone plate times a fine
// grating, both zooming 2 % a picture): nothing predicts well and even the
// coarsest quantiser costs several times a picture's share of the rates the
// tests give it, as a fractal zoom does to a real encoder.
std::vector<std::uint8_t> zoomFrame(int n)
{
    std::vector<std::uint8_t> f(static_cast<std::size_t>(kWidth) * kHeight * 3 / 2);
    const double z = std::pow(1.02, n);
    const double cx = kWidth * 0.5 + 10 * std::sin(n * 0.05), cy = kHeight * 0.5;
    auto clip = [](double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double dx = (x - cx) * z, dy = (y - cy) * z;
            f[static_cast<std::size_t>(y) * kWidth + x] =
                clip(128 + 70 * std::sin((dx * dx + dy * dy) * 0.02) + 45 * std::sin(dx * 1.7 + dy * 0.9) * std::cos(dy * 1.3 - dx * 0.4));
        }
    std::uint8_t* cb = f.data() + kWidth * kHeight;
    std::uint8_t* cr = cb + kWidth * kHeight / 4;
    for (int y = 0; y < kHeight / 2; ++y)
        for (int x = 0; x < kWidth / 2; ++x) {
            const double dx = (2 * x - cx) * z, dy = (2 * y - cy) * z;
            cb[y * (kWidth / 2) + x] = clip(128 + 60 * std::sin(dx * 0.9 - dy * 0.2));
            cr[y * (kWidth / 2) + x] = clip(128 + 60 * std::cos(dy * 0.8 + dx * 0.3));
        }
    return f;
}

// The cut clip: another scene every 3.2 s. Every clip needs the rates
// the tests give it (a clip that is cheap at the finest quantiser cannot
// reach a high rate).
std::vector<std::uint8_t> frameOf(Content c, int n)
{
    switch (c) {
    case Content::Pan: return test::makeVideoFrame(test::VideoPattern::Photo, kWidth, kHeight, n);
    case Content::Mixed: return test::makeVideoFrame(test::VideoPattern::Mixed, kWidth, kHeight, n);
    case Content::Noise: return test::makeVideoFrame(test::VideoPattern::Noise, kWidth, kHeight, n, 3);
    case Content::Zoom: return zoomFrame(n);
    case Content::Burst:  // 2 s of noise in a pan
        return n >= 100 && n < 150 ? frameOf(Content::Noise, n) : frameOf(Content::Pan, n);
    case Content::Cuts: {
        static const test::VideoPattern scenes[] = {test::VideoPattern::Mixed, test::VideoPattern::Text};
        const int scene = n / 80;
        return test::makeVideoFrame(scenes[scene % 2], kWidth, kHeight, n, static_cast<std::uint32_t>(scene + 1));
    }
    }
    return {};
}

struct Mode {
    const char* name;
    bool vbr;
    std::uint32_t passes;
    std::uint32_t quality;
};

struct FileFigures {
    std::vector<std::uint32_t> sizes;     // bytes per media object, file order
    std::vector<std::uint32_t> timesMs;   // presentation times
    std::vector<bool> keys;
    double seconds = 0;
    double psnr = 0;                      // mean over pictures, luma+chroma, of the reconstruction
    std::int64_t skipped = 0;
    std::uint32_t espBitrate = 0, espAltBitrate = 0, espBufferMs = 0, espAltBufferMs = 0;
    std::uint32_t sbpBitrate = 0;  // Stream Bitrate Properties
    std::vector<std::uint8_t> header;
    std::vector<test::RcvFrame> rcv;
    std::vector<std::vector<std::uint8_t>> recon;
};

std::vector<std::uint8_t> bitmapFormat(const std::vector<std::uint8_t>& codecData)
{
    std::vector<std::uint8_t> f;
    auto put = [&f](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) f.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(40 + static_cast<std::uint32_t>(codecData.size()), 4);
    put(kWidth, 4);
    put(kHeight, 4);
    put(1, 2);
    put(24, 2);
    put(0x33564D57, 4);  // WMV3
    put(kWidth * kHeight * 3, 4);
    for (int i = 0; i < 4; ++i) put(0, 4);
    f.insert(f.end(), codecData.begin(), codecData.end());
    return f;
}

// Encodes `frames` pictures of `content` at `kbps` in `mode` (with the
// pre-processing pass when `prepass`), writes the file and reads it back.
FileFigures writeAndMeasure(const test::TempDir& dir, Content content, const Mode& mode, std::uint32_t kbps, int frames,
                            bool prepass, bool keepStreams = false)
{
    FileFigures r;
    VideoSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.frameDuration = kFrameDuration;
    s.bitrate = kbps * 1000;
    s.bufferWindowMs = 3000;
    s.maxKeyFrameSpacing = kKeySpacing;
    s.vbr = mode.vbr;
    s.passes = mode.passes;
    s.vbrQuality = mode.quality;
    if (mode.vbr && mode.passes != 1) {
        s.peakBitrate = kbps * 2500;
        s.peakBufferMs = 6000;
    }
    std::string error;
    auto enc = createWmv9EncoderWithOptions(s, Wmv9EncoderOptions(), &error);
    EXPECT_TRUE(enc) << error;
    if (!enc) return r;
    if (prepass) {
        for (int n = 0; n < frames; ++n) {
            const auto f = frameOf(content, n);
            EXPECT_TRUE(enc->analyse(f.data(), f.size(), n * kFrameDuration));
        }
        enc->endAnalysis();
    }

    const std::string path = dir.file(std::string(contentName(content)) + "_" + mode.name + ".wmv");
    auto sink = asf::createFileSink(path, &error);
    EXPECT_TRUE(sink) << error;
    if (!sink) return r;
    asf::Muxer mux(std::move(sink), asf::MuxerOptions());
    asf::StreamDescription d;
    d.number = 1;
    d.format = bitmapFormat(enc->codecData());
    d.width = kWidth;
    d.height = kHeight;
    d.bitrate = s.bitrate;
    d.bufferWindowMs = s.bufferWindowMs;
    d.peakBitrate = s.peakBitrate;
    // As the runtime describes the stream: the peak bucket's window, and
    // the measured average for quality-driven VBR.
    d.peakBufferMs = s.peakBufferMs;
    d.measureBitrate = mode.vbr && mode.passes == 1;
    d.averageTimePerFrame = kFrameDuration;
    d.fourCC = 0x33564D57;
    EXPECT_TRUE(mux.addStream(d));
    EXPECT_TRUE(mux.begin());
    double psnrSum = 0;
    r.header = enc->codecData();
    for (int n = 0; n < frames; ++n) {
        const auto f = frameOf(content, n);
        MediaObjects out;
        EXPECT_TRUE(enc->encode(f.data(), f.size(), n * kFrameDuration, out));
        const auto rec = enc->reconstruction().toI420();
        psnrSum += test::psnr(rec.data(), f.data(), f.size());
        for (MediaObject& o : out) {
            if (keepStreams) r.rcv.push_back({o.data, o.keyFrame, static_cast<std::uint32_t>(o.presentationTime / 10000)});
            EXPECT_TRUE(mux.write(1, std::move(o))) << mux.error();
        }
        if (keepStreams) r.recon.push_back(rec);
    }
    MediaObjects tail;
    EXPECT_TRUE(enc->flush(tail));
    EXPECT_TRUE(tail.empty());
    EXPECT_TRUE(mux.finish()) << mux.error();
    r.psnr = psnrSum / frames;
    r.skipped = enc->skippedPictures();
    r.seconds = frames * (kFrameDuration / 1e7);

    test::asfread::AsfReader file;
    EXPECT_TRUE(file.open(path)) << file.error();
    std::vector<test::asfread::MediaObjectRead> objects;
    EXPECT_TRUE(file.readMediaObjects(objects)) << file.error();
    for (const auto& o : objects) {
        if (o.stream != 1) continue;
        EXPECT_TRUE(o.complete);
        r.sizes.push_back(o.size);
        r.timesMs.push_back(o.presentationTimeMs);
        r.keys.push_back(o.keyFrame);
    }
    if (const test::asfread::ExtendedStreamInfo* e = file.extendedStream(1)) {
        r.espBitrate = e->bitrate;
        r.espAltBitrate = e->alternateBitrate;
        r.espBufferMs = e->bufferMs;
        r.espAltBufferMs = e->alternateBufferMs;
    }
    for (const auto& b : file.bitrates())
        if (b.stream == 1) r.sbpBitrate = b.bitrate;
    return r;
}

double averageBitrate(const FileFigures& f)
{
    double bits = 0;
    for (std::uint32_t s : f.sizes) bits += 8.0 * s;
    return bits / f.seconds;
}

// The leaky bucket over the file's objects: fullness rises by each
// object's bits and drains at `rate` between object times. Returns the
// worst fullness as a share of the bucket's size.
double worstBucket(const FileFigures& f, double rate, double windowMs)
{
    const double size = rate * windowMs / 1000.0;
    double full = 0, worst = 0;
    for (std::size_t i = 0; i < f.sizes.size(); ++i) {
        if (i > 0) full = std::max(0.0, full - rate * (f.timesMs[i] - f.timesMs[i - 1]) / 1000.0);
        full += 8.0 * f.sizes[i];
        worst = std::max(worst, full);
    }
    return worst / size;
}

// Longest distance between key frames, in ms (including to the end).
std::uint32_t longestKeyDistance(const FileFigures& f)
{
    std::uint32_t last = 0, longest = 0;
    bool seen = false;
    for (std::size_t i = 0; i < f.keys.size(); ++i) {
        if (!f.keys[i]) continue;
        if (seen) longest = std::max(longest, f.timesMs[i] - last);
        last = f.timesMs[i];
        seen = true;
    }
    return longest;
}

struct RateCase {
    Content content;
    std::uint32_t kbps;
    bool twoPass;
    bool peak;  // peak-constrained VBR (else constant bit rate)
};

std::string rateCaseName(const testing::TestParamInfo<RateCase>& info)
{
    const RateCase& c = info.param;
    return std::string(contentName(c.content)) + "_" + std::to_string(c.kbps) + "k_" + (c.peak ? "peakvbr" : "cbr") +
           (c.twoPass ? "_2pass" : "_1pass");
}

class RateControlFiles : public testing::TestWithParam<RateCase> {};

// 12 s: four buffer windows.
TEST_P(RateControlFiles, AverageBucketAndKeySpacing)
{
    const RateCase& c = GetParam();
    test::TempDir dir;
    const Mode mode = c.peak ? Mode{"peak", true, 2, 0} : Mode{c.twoPass ? "cbr2" : "cbr1", false, c.twoPass ? 2u : 1u, 0};
    const int frames = 300;
    const FileFigures f = writeAndMeasure(dir, c.content, mode, c.kbps, frames, c.twoPass);
    ASSERT_EQ(f.sizes.size(), static_cast<std::size_t>(frames));
    const double target = c.kbps * 1000.0;
    const double avg = averageBitrate(f);
    EXPECT_NEAR(avg / target, 1.0, 0.03) << "average " << avg << " bit/s";
    if (c.peak) {
        EXPECT_LE(worstBucket(f, 2.5 * target, 6000), 1.0);
        EXPECT_EQ(f.espAltBitrate, static_cast<std::uint32_t>(2.5 * target));
        EXPECT_EQ(f.espAltBufferMs, 6000u);
    } else {
        EXPECT_LE(worstBucket(f, target, 3000), 1.0);
    }
    EXPECT_EQ(f.espBitrate, static_cast<std::uint32_t>(target));
    EXPECT_EQ(f.espBufferMs, 3000u);
    EXPECT_EQ(f.sbpBitrate, static_cast<std::uint32_t>(target));
    ASSERT_FALSE(f.keys.empty());
    EXPECT_TRUE(f.keys[0]);
    EXPECT_LE(longestKeyDistance(f), 4000u);
    if (c.content == Content::Zoom) {
        // Too hard for the rate at any quantiser: pictures are dropped
        // (all-skipped repeats), and not most of them.
        EXPECT_GT(f.skipped, 0);
        EXPECT_LT(f.skipped, frames * 9 / 10);
    } else {
        EXPECT_EQ(f.skipped, 0) << "room enough: no picture should be dropped";
    }
    // The cut clip: every scene starts with a key frame.
    if (c.content == Content::Cuts) {
        for (int n = 80; n < frames; n += 80) EXPECT_TRUE(f.keys[static_cast<std::size_t>(n)]) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RateControlFiles,
    testing::Values(RateCase{Content::Pan, 60, false, false}, RateCase{Content::Pan, 100, false, false},
                    RateCase{Content::Mixed, 250, false, false}, RateCase{Content::Cuts, 250, false, false},
                    RateCase{Content::Pan, 60, true, false}, RateCase{Content::Cuts, 200, true, false},
                    RateCase{Content::Mixed, 250, true, false}, RateCase{Content::Pan, 80, true, true},
                    RateCase{Content::Cuts, 150, true, true}, RateCase{Content::Mixed, 400, true, true},
                    RateCase{Content::Zoom, 150, false, false}, RateCase{Content::Zoom, 400, false, false},
                    RateCase{Content::Zoom, 150, true, false}, RateCase{Content::Zoom, 150, true, true}),
    rateCaseName);

TEST(RateControlQuality, BitsAndPsnrRiseWithTheQualityLevel)
{
    test::TempDir dir;
    for (Content content : {Content::Mixed, Content::Pan}) {
    double lastRate = 0, lastPsnr = 0;
    for (std::uint32_t q : {10u, 35u, 60u, 85u}) {
        SCOPED_TRACE(testing::Message() << contentName(content) << " quality " << q);
        const Mode mode{"quality", true, 1, q};
        const FileFigures f = writeAndMeasure(dir, content, mode, 300, 60, false);
        const double rate = averageBitrate(f);
        EXPECT_GT(rate, lastRate * 1.1);
        EXPECT_GT(f.psnr, lastPsnr + 0.5);
        // The header carries the rate the stream turned out to have.
        EXPECT_NEAR(f.espBitrate / rate, 1.0, 0.01);
        EXPECT_EQ(f.sbpBitrate, f.espBitrate);
        EXPECT_GE(f.espAltBitrate, f.espBitrate);
        lastRate = rate;
        lastPsnr = f.psnr;
    }
    }
}

// Quality VBR over 12 s of a pan with 2 s of noise: the header's peak figure is
// what the stream needed (its bucket, peak rate x the stream's window,
// holds and a little less would not), above the average.
TEST(RateControlQuality, HeaderPeakIsMeasured)
{
    test::TempDir dir;
    const FileFigures f = writeAndMeasure(dir, Content::Burst, Mode{"quality", true, 1, 60}, 300, 300, false);
    const double window = f.espAltBufferMs != 0 ? f.espAltBufferMs : f.espBufferMs;
    EXPECT_EQ(window, 3000);
    EXPECT_NEAR(f.espBitrate / averageBitrate(f), 1.0, 0.01);
    EXPECT_GT(f.espAltBitrate, 1.5 * f.espBitrate);
    EXPECT_LE(worstBucket(f, f.espAltBitrate, window), 1.0);
    EXPECT_GT(worstBucket(f, 0.98 * f.espAltBitrate, window), 1.0);
}

// Noise at a rate far below what it needs: coarser quantisers, then
// all-skipped pictures, and never a broken bucket; FFmpeg decodes the
// stream to the encoder's reconstruction picture for picture.
TEST(RateControlStarved, DropsPicturesRatherThanOverflow)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    test::TempDir dir;
    const Mode mode{"cbr1", false, 1, 0};
    const FileFigures f = writeAndMeasure(dir, Content::Noise, mode, 40, 100, false, true);
    ASSERT_EQ(f.sizes.size(), 100u);
    EXPECT_LE(worstBucket(f, 40000, 3000), 1.0);
    EXPECT_GT(f.skipped, 0);
    const std::string rcv = dir.file("n.rcv"), mkv = dir.file("n.mkv");
    ASSERT_TRUE(test::writeFileBytes(rcv, test::makeRcv(f.header, kWidth, kHeight, f.rcv)));
    test::runCommand("ffmpeg -nostdin -v error -i " + test::shellQuote(rcv) + " -c copy -y " + test::shellQuote(mkv));
    const test::DecodeResult d = test::ffmpegDecodeI420(mkv, kWidth, kHeight);
    ASSERT_TRUE(d.ran) << d.errors;
    ASSERT_EQ(d.frames.size(), f.recon.size());
    for (std::size_t i = 0; i < d.frames.size(); ++i)
        ASSERT_EQ(test::firstI420Difference(d.frames[i], f.recon[i], kWidth, kHeight), "") << "frame " << i;
}

// Two passes without the pre-processing pass: the encoder still keeps the
// rate in one pass (the runtime refuses such a stream before it gets here).
TEST(RateControlTwoPass, WithoutThePassFallsBackToOnePass)
{
    test::TempDir dir;
    const Mode mode{"cbr2", false, 2, 0};
    const FileFigures f = writeAndMeasure(dir, Content::Mixed, mode, 250, 300, false);
    EXPECT_NEAR(averageBitrate(f) / 250000.0, 1.0, 0.03);
    EXPECT_LE(worstBucket(f, 250000, 3000), 1.0);
}

TEST(RateControlTwoPass, AnalysisComesFirstAndOnce)
{
    VideoSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.frameDuration = kFrameDuration;
    s.bitrate = 200000;
    s.passes = 2;
    std::string error;
    auto enc = createWmv9EncoderWithOptions(s, Wmv9EncoderOptions(), &error);
    ASSERT_TRUE(enc) << error;
    const auto f = frameOf(Content::Pan, 0);
    EXPECT_FALSE(enc->analyse(f.data(), f.size() - 1, 0));
    EXPECT_FALSE(enc->analyse(nullptr, f.size(), 0));
    EXPECT_TRUE(enc->analyse(f.data(), f.size(), 0));
    enc->endAnalysis();
    EXPECT_EQ(enc->analysis().size(), 1u);
    EXPECT_FALSE(enc->analyse(f.data(), f.size(), 0)) << "a second pass";
    MediaObjects out;
    EXPECT_TRUE(enc->encode(f.data(), f.size(), 0, out));
    EXPECT_TRUE(enc->encode(f.data(), f.size(), kFrameDuration, out)) << "more pictures than analysed";
    EXPECT_EQ(out.size(), 2u);
}

}  // namespace
}  // namespace asfw
