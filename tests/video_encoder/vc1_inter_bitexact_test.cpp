// P pictures decoded by FFmpeg must equal the encoder's own reconstruction
// bit for bit, frame after frame: real motion (pans, zooms, shake, objects
// entering from the border), several quantisers, every complexity level,
// vectors far outside the picture, hybrid prediction, intra macroblocks.
#include "support/test_support.h"
#include "support/video_content.h"
#include "support/video_rcv.h"

#include "video_encoder/intra_picture.h"
#include "video_encoder/p_picture.h"
#include "video_encoder/vc1_frame.h"
#include "video_encoder/vc1_syntax.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace asfw {
namespace {

using vc1::Frame;

// Moving content: a window over a larger photograph that pans, shakes or
// zooms, with a textured object sliding in from the left border.
enum class Motion { Pan, Shake, Zoom, Object, Still };

class MotionClip {
public:
    MotionClip(Motion motion, int width, int height, std::uint32_t seed = 3)
        : motion_(motion), w_(width), h_(height), seed_(seed)
    {
        worldW_ = width + 96;
        worldH_ = height + 64;
        world_ = test::makeVideoFrame(test::VideoPattern::Mixed, worldW_, worldH_, 0, seed);
    }

    std::vector<std::uint8_t> frame(int n) const
    {
        if (motion_ == Motion::Zoom) return test::makeVideoFrame(test::VideoPattern::Photo, w_, h_, n, seed_);
        int ox = 16, oy = 16;
        if (motion_ == Motion::Pan) {
            ox += 3 * n;  // 3 samples right, 1.5 down per frame
            oy += (3 * n) / 2;
        } else if (motion_ == Motion::Shake) {
            std::mt19937 rng(seed_ * 131 + static_cast<std::uint32_t>(n));
            ox += static_cast<int>(rng() % 9) - 4;
            oy += static_cast<int>(rng() % 7) - 3;
        }
        ox = std::clamp(ox, 0, worldW_ - w_);
        oy = std::clamp(oy, 0, worldH_ - h_);
        std::vector<std::uint8_t> out(static_cast<std::size_t>(w_) * h_ * 3 / 2);
        const std::uint8_t* wy = world_.data();
        const std::uint8_t* wu = wy + static_cast<std::size_t>(worldW_) * worldH_;
        const std::uint8_t* wv = wu + static_cast<std::size_t>(worldW_ / 2) * (worldH_ / 2);
        std::uint8_t* y = out.data();
        std::uint8_t* u = y + static_cast<std::size_t>(w_) * h_;
        std::uint8_t* v = u + static_cast<std::size_t>(w_ / 2) * (h_ / 2);
        for (int r = 0; r < h_; ++r)
            for (int c = 0; c < w_; ++c) y[r * w_ + c] = wy[(r + oy) * worldW_ + c + ox];
        for (int r = 0; r < h_ / 2; ++r)
            for (int c = 0; c < w_ / 2; ++c) {
                u[r * (w_ / 2) + c] = wu[(r + oy / 2) * (worldW_ / 2) + c + ox / 2];
                v[r * (w_ / 2) + c] = wv[(r + oy / 2) * (worldW_ / 2) + c + ox / 2];
            }
        if (motion_ == Motion::Object || motion_ == Motion::Pan) {
            // A 40x32 checkered, shaded object entering from the left.
            const int objW = 40, objH = 32;
            const int left = -objW + 5 * n, top = h_ / 3 + n;
            for (int r = 0; r < objH; ++r)
                for (int c = 0; c < objW; ++c) {
                    const int x = left + c, yy = top + r;
                    if (x < 0 || x >= w_ || yy < 0 || yy >= h_) continue;
                    y[yy * w_ + x] = static_cast<std::uint8_t>((((c >> 3) + (r >> 3)) & 1) ? 40 + 3 * r : 220 - 2 * c);
                    if (((x | yy) & 1) == 0) {
                        u[(yy / 2) * (w_ / 2) + x / 2] = 90;
                        v[(yy / 2) * (w_ / 2) + x / 2] = 170;
                    }
                }
        }
        return out;
    }

private:
    Motion motion_;
    int w_, h_;
    std::uint32_t seed_;
    int worldW_, worldH_;
    std::vector<std::uint8_t> world_;
};

struct EncodedClip {
    std::vector<std::uint8_t> sequenceHeader;
    std::vector<test::RcvFrame> frames;
    std::vector<std::vector<std::uint8_t>> recon;  // display-size I420 per frame
    int hybridBits = 0, intraMbs = 0, skippedMbs = 0, interMbs = 0;
    std::uint64_t bits = 0;
};

struct ClipOptions {
    int pqindex = 6;
    bool halfQp = false;
    int complexity = 3;
    int keyInterval = 1000;
    std::function<bool(int frame, int mbX, int mbY, Vc1Mv& mv)> forceMv;
    std::function<bool(int frame, int mbX, int mbY)> forceIntra;
    bool fastUvMc = false;  // FASTUVMC in the sequence header
    // Skip bitplane mode per frame: imode | invert << 3, or -1 = cheapest.
    std::function<int(int frame)> skipMode;
};

EncodedClip encodeClip(const std::function<std::vector<std::uint8_t>(int)>& source, int width, int height,
                       int frames, const ClipOptions& o)
{
    EncodedClip clip;
    vc1::SequenceHeader seq;  // Main profile, explicit quantiser, no loop filter
    seq.fastUvMc = o.fastUvMc;
    clip.sequenceHeader = vc1::sequenceHeaderBytes(seq);
    Frame src, recon, ref;
    src.allocate(width, height);
    recon.allocate(width, height);
    ref.allocate(width, height);
    vc1::PPictureCoder pcoder;
    int rnd = 1;
    for (int n = 0; n < frames; ++n) {
        const std::vector<std::uint8_t> input = source(n);
        src.loadI420(input.data());
        const bool key = n % o.keyInterval == 0;
        const vc1::PictureQuant q =
            vc1::makePictureQuant(seq.quantizer, o.pqindex, o.halfQp, o.pqindex <= 8);
        test::RcvFrame f;
        f.keyFrame = key;
        f.timeMs = static_cast<std::uint32_t>(n * 40);
        if (key) {
            vc1::IntraPictureOptions io;
            io.quant = q;
            io.frameCount = n & 3;
            f.data = vc1::encodeIntraPicture(seq, src, io, recon);
            rnd = 1;
        } else {
            rnd ^= 1;
            vc1::PPictureOptions po;
            po.complexity = o.complexity;
            po.rnd = rnd;
            po.quant = q;
            if (o.skipMode && o.skipMode(n) >= 0) {
                po.forceSkipImode = o.skipMode(n) & 7;
                po.forceSkipInvert = (o.skipMode(n) >> 3) != 0;
            }
            if (o.forceMv) po.forceMv = [&, n](int x, int y, Vc1Mv& mv) { return o.forceMv(n, x, y, mv); };
            if (o.forceIntra) po.forceIntra = [&, n](int x, int y) { return o.forceIntra(n, x, y); };
            f.data = pcoder.encode(src, ref, recon, seq, po);
            clip.hybridBits += pcoder.stats().hybridBits;
            clip.intraMbs += pcoder.stats().intra;
            clip.skippedMbs += pcoder.stats().skipped;
            clip.interMbs += pcoder.stats().inter;
        }
        clip.bits += f.data.size() * 8;
        clip.recon.push_back(recon.toI420());
        // The next reference: the whole coded area, repeated beyond it.
        ref = recon;
        ref.luma.extendFrom(ref.mbWidth * 16, ref.mbHeight * 16);
        ref.cb.extendFrom(ref.mbWidth * 8, ref.mbHeight * 8);
        ref.cr.extendFrom(ref.mbWidth * 8, ref.mbHeight * 8);
        clip.frames.push_back(std::move(f));
    }
    return clip;
}

// Decodes with FFmpeg and compares every frame's hash; reports the first
// difference.
void expectBitExact(const EncodedClip& clip, int width, int height, const std::string& label)
{
    test::TempDir dir;
    const std::string file = dir.file("clip.rcv");
    ASSERT_TRUE(test::writeFileBytes(file, test::makeRcv(clip.sequenceHeader, width, height, clip.frames)));
    if (const char* keep = std::getenv("ASFW_VC1_KEEP"))  // keep the stream for debugging
        test::writeFileBytes(std::string(keep) + "/" + label.substr(0, label.find(' ')) + ".rcv",
                             test::makeRcv(clip.sequenceHeader, width, height, clip.frames));
    // The raw test-bitstream reader reports its end of file as an I/O
    // error, which -xerror would take for a failure: rewrap the stream
    // (no decoding) and decode the copy with -xerror.
    const std::string mkv = dir.file("clip.mkv");
    const test::CommandResult wrap = test::runCommand("ffmpeg -nostdin -v error -i " + test::shellQuote(file) +
                                                      " -c copy -y " + test::shellQuote(mkv));
    ASSERT_TRUE(test::readFileBytes(mkv).size() > 0) << label << ": " << wrap.errors;
    const test::DecodeResult d = test::ffmpegDecodeI420(mkv, width, height);
    ASSERT_TRUE(d.ran) << label << ": " << d.errors;
    EXPECT_TRUE(d.errors.empty()) << label << ": " << d.errors;
    ASSERT_EQ(d.frames.size(), clip.recon.size()) << label;
    for (std::size_t i = 0; i < d.frames.size(); ++i) {
        const std::uint64_t a = test::hashBytes(d.frames[i].data(), d.frames[i].size());
        const std::uint64_t b = test::hashBytes(clip.recon[i].data(), clip.recon[i].size());
        ASSERT_EQ(a, b) << label << ": frame " << i << " first difference "
                        << test::firstI420Difference(d.frames[i], clip.recon[i], width, height);
    }
}

std::function<std::vector<std::uint8_t>(int)> clipSource(Motion m, int w, int h)
{
    auto clip = std::make_shared<MotionClip>(m, w, h);
    return [clip](int n) { return clip->frame(n); };
}

struct MotionCase {
    Motion motion;
    int width, height;
    int pqindex;
    int complexity;
};

TEST(Vc1InterBitExact, MotionAtQuantisersAndComplexities)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const MotionCase cases[] = {
        {Motion::Pan, 176, 144, 4, 3},    {Motion::Pan, 176, 144, 12, 0},  {Motion::Shake, 160, 112, 8, 1},
        {Motion::Zoom, 176, 144, 20, 2},  {Motion::Object, 128, 96, 2, 4}, {Motion::Pan, 144, 96, 31, 5},
        {Motion::Shake, 96, 80, 9, 3},    {Motion::Still, 64, 48, 1, 3},   {Motion::Zoom, 112, 80, 16, 5},
    };
    for (const MotionCase& c : cases) {
        ClipOptions o;
        o.pqindex = c.pqindex;
        o.complexity = c.complexity;
        const EncodedClip clip = encodeClip(clipSource(c.motion, c.width, c.height), c.width, c.height, 6, o);
        const std::string label = std::to_string(c.width) + "x" + std::to_string(c.height) + " pq " +
                                  std::to_string(c.pqindex) + " level " + std::to_string(c.complexity) + " motion " +
                                  std::to_string(static_cast<int>(c.motion));
        expectBitExact(clip, c.width, c.height, label);
        if (c.motion == Motion::Still)
            EXPECT_GT(clip.skippedMbs, 0) << label;
        else
            EXPECT_GT(clip.interMbs, 0) << label;
    }
}

TEST(Vc1InterBitExact, SizesNotMultiplesOf16AndHalfStep)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const int sizes[][2] = {{170, 134}, {98, 62}, {34, 18}};
    for (const auto& s : sizes) {
        ClipOptions o;
        o.pqindex = 5;
        o.halfQp = true;
        const EncodedClip clip = encodeClip(clipSource(Motion::Pan, s[0], s[1]), s[0], s[1], 5, o);
        expectBitExact(clip, s[0], s[1], std::to_string(s[0]) + "x" + std::to_string(s[1]));
    }
}

TEST(Vc1InterBitExact, VectorsFarOutsideThePicture)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    // Every macroblock takes a vector from a list that points up to 64
    // samples left/right and 32 up/down, with every quarter-sample phase:
    // the decoder clamps them to one macroblock outside and repeats edges.
    const int w = 90, h = 70;
    ClipOptions o;
    o.pqindex = 7;
    o.forceMv = [](int frame, int x, int y, Vc1Mv& mv) {
        const int k = frame * 7 + x * 3 + y * 5;
        const int xs[] = {-256, 255, -255, 254, -130, 131, 3, -3};
        const int ys[] = {-128, 127, -127, 126, -65, 66, 1, -2};
        mv.x = xs[k % 8];
        mv.y = ys[(k / 3) % 8];
        return true;
    };
    const EncodedClip clip = encodeClip(clipSource(Motion::Shake, w, h), w, h, 5, o);
    expectBitExact(clip, w, h, "far vectors");
}

TEST(Vc1InterBitExact, HybridPredictionAndIntraMacroblocks)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    // Alternating far-apart vectors between neighbours make the predictor
    // differ from A or C by more than 8 samples: HYBRIDPRED bits. Some
    // macroblocks are forced intra.
    const int w = 128, h = 96;
    ClipOptions o;
    o.pqindex = 10;
    o.forceMv = [](int frame, int x, int y, Vc1Mv& mv) {
        if ((x + y + frame) % 5 == 4) return false;  // searched normally
        mv.x = ((x + 2 * y) % 3 == 0) ? 60 : -44;
        mv.y = ((x * y + frame) % 2 == 0) ? -40 : 24;
        return true;
    };
    o.forceIntra = [](int frame, int x, int y) { return (x * 7 + y * 3 + frame) % 11 == 0; };
    const EncodedClip clip = encodeClip(clipSource(Motion::Object, w, h), w, h, 5, o);
    EXPECT_GT(clip.hybridBits, 10);
    EXPECT_GT(clip.intraMbs, 5);
    expectBitExact(clip, w, h, "hybrid");
}

TEST(Vc1InterBitExact, FastChromaMotion)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    // FASTUVMC: chroma vectors rounded to half samples toward zero.
    ClipOptions o;
    o.pqindex = 5;
    o.fastUvMc = true;
    const int w = 96, h = 64;
    expectBitExact(encodeClip(clipSource(Motion::Shake, w, h), w, h, 5, o), w, h, "fast chroma");
}

TEST(Vc1InterBitExact, EverySkipBitplaneMode)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    // One P picture per IMODE with and without inversion on a plane of 7 x 5
    // macroblocks (odd sizes: Norm-2 starts with a single bit, Norm-6 uses
    // 3x2 tiles with a leftover row), some macroblocks skipped and some
    // not; then a still clip in raw mode, whose last macroblock is a
    // skipped one of a single bit.
    const int w = 112, h = 80;
    ClipOptions o;
    o.pqindex = 8;
    o.complexity = 1;
    // Frames 1..13: raw, then modes 1..6 each without and with inversion.
    o.skipMode = [](int frame) { return frame == 1 ? 0 : ((frame / 2) | ((frame & 1) << 3)); };
    expectBitExact(encodeClip(clipSource(Motion::Object, w, h), w, h, 14, o), w, h, "every mode");
    o.skipMode = [](int) { return 0; };
    expectBitExact(encodeClip(clipSource(Motion::Still, w, h), w, h, 3, o), w, h, "raw still");
}

}  // namespace
}  // namespace asfw
