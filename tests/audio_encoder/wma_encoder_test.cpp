// Round trips through FFmpeg's decoder: every CBR format decodes without
// error at the right rate, channel count, duration and byte rate; a tone
// keeps its frequency and level; transients switch to short blocks; the
// decoded stream starts in sync; bad input is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "audio_encoder/wma9_encoder.h"
#include "audio_encoder/wma9_formats.h"
#include "audio_encoder/wma_params.h"
#include "support/audio_signals.h"
#include "support/audio_wav.h"
#include "support/test_support.h"

namespace asfw {
namespace {

using test::TempDir;

constexpr double kPi = 3.14159265358979323846;

AudioSettings settingsOf(const Wma9Format& f)
{
    AudioSettings s;
    s.sampleRate = f.sampleRate;
    s.channels = f.channels;
    s.avgBytesPerSec = f.avgBytesPerSec;
    s.blockAlign = f.blockAlign;
    return s;
}

const Wma9Format& formatOf(int rate, int channels, int kbps)
{
    for (const Wma9Format& f : wma9CbrFormats())
        if (f.sampleRate == rate && f.channels == channels && f.avgBytesPerSec == static_cast<std::uint32_t>(kbps) * 125u) return f;
    ADD_FAILURE() << "no format " << rate << "/" << channels << "/" << kbps;
    return wma9CbrFormats().front();
}

struct Encoded {
    MediaObjects objects;
    std::vector<std::uint8_t> bytes;
};

// Encodes in uneven pieces, as the runtime delivers them.
Encoded encodePcm(const Wma9Format& f, const std::vector<std::int16_t>& pcm)
{
    Encoded e;
    std::string error;
    std::unique_ptr<MediaEncoder> enc = createWma9Encoder(settingsOf(f), &error);
    EXPECT_TRUE(enc) << error;
    if (!enc) return e;
    const std::size_t frameBytes = static_cast<std::size_t>(f.channels) * 2;
    const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(pcm.data());
    const std::size_t total = pcm.size() * 2;
    std::size_t pos = 0;
    std::size_t piece = 441;
    while (pos < total) {
        const std::size_t n = std::min(total - pos, piece * frameBytes);
        const std::int64_t time = static_cast<std::int64_t>(pos / frameBytes) * 10000000 / f.sampleRate;
        EXPECT_TRUE(enc->encode(data + pos, n, time, e.objects));
        pos += n;
        piece = piece * 7 % 1999 + 1;
    }
    EXPECT_TRUE(enc->flush(e.objects));
    for (const MediaObject& o : e.objects) e.bytes.insert(e.bytes.end(), o.data.begin(), o.data.end());
    return e;
}

struct Decoded {
    bool ok = false;
    std::string errors;
    std::vector<std::int16_t> pcm;
    int sampleRate = 0;
    int channels = 0;
};

Decoded decodeWithFfmpeg(const TempDir& dir, const Wma9Format& f, const Encoded& e, std::uint32_t frames)
{
    Decoded d;
    const std::string wav = dir.file("stream.wav");
    const std::string raw = dir.file("decoded.raw");
    test::WmaWavFormat wf{f.sampleRate, f.channels, f.avgBytesPerSec, f.blockAlign, f.extra};
    if (!test::writeWmaWav(wav, wf, e.bytes, frames)) return d;
    const test::CommandResult r = test::runCommand("ffmpeg -nostdin -v error -xerror -err_detect explode -i " +
                                                   test::shellQuote(wav) + " -f s16le -y " + test::shellQuote(raw));
    d.errors = r.errors;
    d.ok = r.exitCode == 0 && r.errors.empty();
    d.pcm = test::readS16(raw);
    const test::CommandResult p = test::runCommand("ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 " +
                                                   test::shellQuote(wav));
    std::istringstream in(p.output);
    char comma = 0;
    in >> d.sampleRate >> comma >> d.channels;
    return d;
}

double rms(const std::vector<std::int16_t>& pcm, std::size_t from, std::size_t to)
{
    double s = 0;
    for (std::size_t i = from; i < to && i < pcm.size(); ++i) s += static_cast<double>(pcm[i]) * pcm[i];
    return std::sqrt(s / static_cast<double>(std::max<std::size_t>(1, to - from)));
}

class WmaRoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(WmaRoundTrip, DecodesCleanlyAtTheExactRateAndLength)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    ASFW_REQUIRE_TOOL("ffprobe");
    const Wma9Format& f = wma9CbrFormats()[GetParam()];
    const std::vector<std::int16_t> pcm = test::interleave(test::musicSignal(f.sampleRate, 1.5), f.channels);
    const std::uint32_t frames = static_cast<std::uint32_t>(pcm.size()) / static_cast<std::uint32_t>(f.channels);
    const Encoded e = encodePcm(f, pcm);
    ASSERT_FALSE(e.objects.empty());
    std::int64_t lastTime = -1;
    for (const MediaObject& o : e.objects) {
        EXPECT_EQ(o.data.size(), f.blockAlign);
        EXPECT_TRUE(o.keyFrame);
        EXPECT_GE(o.presentationTime, lastTime);
        lastTime = o.presentationTime;
    }
    TempDir dir;
    const Decoded d = decodeWithFfmpeg(dir, f, e, frames);
    ASSERT_TRUE(d.ok) << d.errors;
    EXPECT_EQ(d.sampleRate, f.sampleRate);
    EXPECT_EQ(d.channels, f.channels);
    const int frameLen = 1 << wmaFrameLengthBits(f.sampleRate);
    const std::size_t decodedFrames = d.pcm.size() / static_cast<std::size_t>(f.channels);
    // Never shorter than the input; longer by at most the whole frames that
    // keep its end from fading (3n/2 plus half the shortest block).
    EXPECT_GE(decodedFrames, frames);
    const WmaParams p = wmaParams(f.sampleRate, f.channels, f.avgBytesPerSec * 8, kWmaEncodeOptions);
    const std::size_t shortest = static_cast<std::size_t>(p.blockLen(p.blockSizes - 1));
    EXPECT_LE(decodedFrames, frames + static_cast<std::size_t>(frameLen) * 3 / 2 + shortest / 2);
    // Byte rate: the stream's bytes against the time its frames cover
    // (the decoder's two leading frames included), within two packets.
    const double seconds = static_cast<double>(decodedFrames + 2 * static_cast<std::size_t>(frameLen)) / f.sampleRate;
    const double expected = seconds * f.avgBytesPerSec;
    EXPECT_NEAR(static_cast<double>(e.bytes.size()), expected, 2.0 * f.blockAlign);
    // The sound survives (level within 6 dB in the middle of the stream).
    const double in = rms(pcm, pcm.size() / 4, pcm.size() * 3 / 4);
    const double out = rms(d.pcm, pcm.size() / 4, pcm.size() * 3 / 4);
    EXPECT_NEAR(20 * std::log10(out / in), 0.0, 6.0);
}

INSTANTIATE_TEST_SUITE_P(AllCbrFormats, WmaRoundTrip, ::testing::Range<std::size_t>(0, 33), [](const auto& info) {
    const Wma9Format& f = wma9CbrFormats()[info.param];
    return std::to_string(f.sampleRate) + "Hz_" + std::to_string(f.channels) + "ch_" + std::to_string(f.avgBytesPerSec * 8 / 1000) + "kbps";
});

TEST(WmaFormats, TableIsTheStandardCbrList)
{
    EXPECT_EQ(wma9CbrFormats().size(), 33u);
    for (const Wma9Format& f : wma9CbrFormats()) {
        EXPECT_EQ(f.avgBytesPerSec % 125u, 0u);
        ASSERT_EQ(f.extra.size(), 10u);
        EXPECT_GT(f.blockAlign, 0);
        const std::uint32_t superAlign = f.extra[6] | (f.extra[7] << 8) | (f.extra[8] << 16) | (static_cast<std::uint32_t>(f.extra[9]) << 24);
        EXPECT_EQ(superAlign % f.blockAlign, 0u);
        EXPECT_EQ(f.extra[4] | (f.extra[5] << 8), kWmaEncodeOptions);
    }
}

TEST(WmaEncoder, LongStreamKeepsTheExactByteRate)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const Wma9Format& f = formatOf(44100, 2, 128);
    const std::vector<std::int16_t> pcm = test::interleave(test::speechSignal(f.sampleRate, 12.0), 2);
    const Encoded e = encodePcm(f, pcm);
    const double seconds = static_cast<double>(pcm.size() / 2) / f.sampleRate;
    EXPECT_NEAR(static_cast<double>(e.bytes.size()) / seconds, static_cast<double>(f.avgBytesPerSec), f.avgBytesPerSec * 0.01);
    TempDir dir;
    const Decoded d = decodeWithFfmpeg(dir, f, e, static_cast<std::uint32_t>(pcm.size() / 2));
    EXPECT_TRUE(d.ok) << d.errors;
}

struct ToneCase {
    int rate, channels, kbps;
    double freq;
};

class WmaTone : public ::testing::TestWithParam<ToneCase> {};

TEST_P(WmaTone, FrequencyAndLevelSurvive)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const ToneCase& t = GetParam();
    const Wma9Format& f = formatOf(t.rate, t.channels, t.kbps);
    const double amplitude = 8000;
    const std::vector<std::int16_t> pcm = test::interleave(test::toneSignal(t.rate, 1.0, t.freq, amplitude), 1);
    std::vector<std::int16_t> multi;
    for (std::int16_t v : pcm)
        for (int c = 0; c < t.channels; ++c) multi.push_back(v);
    const Encoded e = encodePcm(f, multi);
    TempDir dir;
    const Decoded d = decodeWithFfmpeg(dir, f, e, static_cast<std::uint32_t>(pcm.size()));
    ASSERT_TRUE(d.ok) << d.errors;
    // Amplitude at the tone and at a few other frequencies, over the middle
    // half second of the first channel.
    const std::size_t from = static_cast<std::size_t>(t.rate / 4), len = static_cast<std::size_t>(t.rate / 2);
    auto amplitudeAt = [&](double freq) {
        double c = 0, s = 0;
        for (std::size_t i = 0; i < len; ++i) {
            const double v = d.pcm[(from + i) * static_cast<std::size_t>(t.channels)];
            c += v * std::cos(2 * kPi * freq * static_cast<double>(i) / t.rate);
            s += v * std::sin(2 * kPi * freq * static_cast<double>(i) / t.rate);
        }
        return 2 * std::hypot(c, s) / static_cast<double>(len);
    };
    const double level = amplitudeAt(t.freq);
    EXPECT_NEAR(20 * std::log10(level / amplitude), 0.0, 1.0);
    for (double other : {t.freq * 0.5, t.freq * 1.5, t.freq * 2.0})
        EXPECT_LT(amplitudeAt(other), level * 0.05) << other;
}

INSTANTIATE_TEST_SUITE_P(Formats, WmaTone,
                         ::testing::Values(ToneCase{48000, 2, 192, 1000}, ToneCase{44100, 2, 128, 1000},
                                           ToneCase{44100, 2, 32, 3000}, ToneCase{32000, 1, 20, 700},
                                           ToneCase{22050, 1, 16, 1000}, ToneCase{8000, 1, 5, 440}),
                         [](const auto& info) {
                             return std::to_string(info.param.rate) + "Hz_" + std::to_string(info.param.kbps) + "kbps";
                         });

// Block length index of the first frame starting in each packet.
std::vector<int> firstBlockSizes(const Wma9Format& f, const MediaObjects& objects)
{
    const WmaParams p = wmaParams(f.sampleRate, f.channels, f.avgBytesPerSec * 8, kWmaEncodeOptions);
    std::vector<int> sizes;
    for (const MediaObject& o : objects) {
        auto bits = [&](std::size_t pos, int n) {
            std::uint32_t v = 0;
            for (int i = 0; i < n; ++i, ++pos) v = (v << 1) | ((o.data[pos >> 3] >> (7 - (pos & 7))) & 1u);
            return v;
        };
        const std::size_t offset = bits(8, p.byteOffsetBits + 3);
        const std::size_t start = 8 + static_cast<std::size_t>(p.byteOffsetBits) + 3 + offset;
        if (start + 2 * static_cast<std::size_t>(p.blockCodeBits) > o.data.size() * 8) continue;
        sizes.push_back(static_cast<int>(bits(start + static_cast<std::size_t>(p.blockCodeBits), p.blockCodeBits)));
    }
    return sizes;
}

TEST(WmaEncoder, TransientsSwitchToShortBlocksAndLimitPreEcho)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const Wma9Format& f = formatOf(44100, 2, 128);
    const std::vector<double> clicks = test::clicksSignal(f.sampleRate, 3.0);
    const std::vector<std::int16_t> pcm = test::interleave(clicks, 2);
    const Encoded e = encodePcm(f, pcm);
    int shortStarts = 0;
    for (int k : firstBlockSizes(f, e.objects)) shortStarts += k > 0;
    EXPECT_GT(shortStarts, 0);
    // A steady tone stays in long blocks.
    const Encoded tone = encodePcm(f, test::interleave(test::toneSignal(f.sampleRate, 3.0, 500, 8000), 2));
    for (int k : firstBlockSizes(f, tone.objects)) EXPECT_EQ(k, 0);

    TempDir dir;
    const Decoded d = decodeWithFfmpeg(dir, f, e, static_cast<std::uint32_t>(clicks.size()));
    ASSERT_TRUE(d.ok) << d.errors;
    // Noise before each click (in the silence 3..15 ms ahead of it) stays far
    // below the click itself.
    const std::size_t pre = static_cast<std::size_t>(f.sampleRate * 0.015), gap = static_cast<std::size_t>(f.sampleRate * 0.003);
    int checked = 0;
    for (std::size_t i = pre; i + 600 < clicks.size(); ++i) {
        if (clicks[i] == 0.0 || clicks[i - 1] != 0.0) continue;
        double before = 0, click = 0;
        for (std::size_t j = i - pre; j < i - gap; ++j) before += std::pow(d.pcm[j * 2], 2);
        for (std::size_t j = i; j < i + (pre - gap); ++j) click += std::pow(d.pcm[j * 2], 2);
        EXPECT_LT(10 * std::log10((before + 1) / (click + 1)), -25.0) << "click at " << i;
        ++checked;
    }
    EXPECT_GT(checked, 5);
}

TEST(WmaEncoder, DecodedStreamStartsInSync)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const Wma9Format& f = formatOf(44100, 2, 192);
    std::vector<std::int16_t> pcm(44100 * 2, 0);
    const std::size_t at = 12345;
    pcm[at * 2] = pcm[at * 2 + 1] = 20000;
    const Encoded e = encodePcm(f, pcm);
    TempDir dir;
    const Decoded d = decodeWithFfmpeg(dir, f, e, 44100);
    ASSERT_TRUE(d.ok) << d.errors;
    std::size_t peak = 0;
    for (std::size_t i = 0; i < d.pcm.size() / 2; ++i)
        if (std::abs(d.pcm[i * 2]) > std::abs(d.pcm[peak * 2])) peak = i;
    EXPECT_EQ(peak, at);
    EXPECT_GT(d.pcm[peak * 2], 10000);
    EXPECT_EQ(e.objects.front().presentationTime, 0);
}

// The end of the stream: a tone that runs to the very last input sample
// comes back in full. The last half frame of the input (where the final,
// partly filled frame lies) keeps the tone's level: not faded out, not cut;
// the decoded stream is the fewest whole frames that allow it.
struct EndCase {
    int rate, channels, kbps;
    int extra;  // input length = whole frames + extra samples
};

class WmaStreamEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(WmaStreamEnd, LastSamplesKeepTheirLevel)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const EndCase& c = GetParam();
    const Wma9Format& f = formatOf(c.rate, c.channels, c.kbps);
    const std::size_t frameLen = std::size_t{1} << wmaFrameLengthBits(f.sampleRate);
    const std::size_t length = 20 * frameLen + static_cast<std::size_t>(c.extra);
    const double amplitude = 8000, freq = f.sampleRate / 32.0;  // a whole number of samples per period
    std::vector<std::int16_t> pcm;
    for (std::size_t i = 0; i < length; ++i)
        for (int ch = 0; ch < f.channels; ++ch)
            pcm.push_back(static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * kPi * freq * static_cast<double>(i) / f.sampleRate))));
    const Encoded e = encodePcm(f, pcm);
    TempDir dir;
    const Decoded d = decodeWithFfmpeg(dir, f, e, static_cast<std::uint32_t>(length));
    ASSERT_TRUE(d.ok) << d.errors;
    // F frames decode to (F - 1) n samples, whole up to (F - 1.5) n - b/2
    // (b: the shortest block): the fewest frames that hold the input whole.
    const WmaParams p = wmaParams(f.sampleRate, f.channels, f.avgBytesPerSec * 8, kWmaEncodeOptions);
    const std::size_t shortest = static_cast<std::size_t>(p.blockLen(p.blockSizes - 1));
    const std::size_t decoded = d.pcm.size() / static_cast<std::size_t>(f.channels);
    EXPECT_EQ(decoded, (length + frameLen / 2 + shortest / 2 + frameLen - 1) / frameLen * frameLen);
    // Level of each channel over the input's last half frame, and over a
    // stretch in the middle for reference.
    for (int ch = 0; ch < f.channels; ++ch) {
        auto level = [&](std::size_t from, std::size_t to) {
            double s = 0;
            for (std::size_t i = from; i < to; ++i) {
                const double v = d.pcm[i * static_cast<std::size_t>(f.channels) + static_cast<std::size_t>(ch)];
                s += v * v;
            }
            return 10 * std::log10(s / static_cast<double>(to - from) / (amplitude * amplitude / 2));
        };
        EXPECT_NEAR(level(length / 2, length / 2 + frameLen / 2), 0.0, 1.0) << "channel " << ch;
        EXPECT_NEAR(level(length - frameLen / 2, length), 0.0, 1.0) << "channel " << ch << ": the end is faded or lost";
        EXPECT_NEAR(level(length - frameLen / 8, length), 0.0, 1.5) << "channel " << ch << ": the last samples are faded";
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, WmaStreamEnd,
                         ::testing::Values(EndCase{44100, 2, 128, 0}, EndCase{44100, 2, 128, 1}, EndCase{44100, 2, 128, 1024},
                                           EndCase{44100, 2, 128, 2047}, EndCase{48000, 2, 192, 700},
                                           EndCase{22050, 1, 16, 333}, EndCase{8000, 1, 5, 511}),
                         [](const auto& info) {
                             return std::to_string(info.param.rate) + "Hz_" + std::to_string(info.param.kbps) + "kbps_plus" +
                                    std::to_string(info.param.extra);
                         });

// Frames that no quantiser fits into their share of the bit budget (voiced
// speech at a low noise-coded rate, with the reservoir spent) go out silent,
// and stuffing that pads such a frame to the packet's minimum adds only
// zero escapes: the stream decodes without a single error.
TEST(WmaEncoder, StarvedFramesStayDecodable)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const Wma9Format& f = formatOf(44100, 2, 32);
    const std::vector<double> speech = test::speechSignal(f.sampleRate, 8.0);
    const Encoded e = encodePcm(f, test::interleave(speech, 2));
    TempDir dir;
    const Decoded d = decodeWithFfmpeg(dir, f, e, static_cast<std::uint32_t>(speech.size()));
    EXPECT_TRUE(d.ok) << d.errors;
    EXPECT_GE(d.pcm.size() / 2, speech.size());
}

struct GstCase {
    int rate, channels, kbps;
};

class WmaGstreamer : public ::testing::TestWithParam<GstCase> {};

TEST_P(WmaGstreamer, DecodesCleanly)
{
    ASFW_REQUIRE_TOOL("gst-launch-1.0");
    const GstCase& g = GetParam();
    const Wma9Format& f = formatOf(g.rate, g.channels, g.kbps);
    const std::vector<std::int16_t> pcm = test::interleave(test::speechSignal(f.sampleRate, 1.0), f.channels);
    const std::uint32_t frames = static_cast<std::uint32_t>(pcm.size()) / static_cast<std::uint32_t>(f.channels);
    const Encoded e = encodePcm(f, pcm);
    TempDir dir;
    const std::string wav = dir.file("stream.wav");
    const std::string raw = dir.file("gst.raw");
    test::WmaWavFormat wf{f.sampleRate, f.channels, f.avgBytesPerSec, f.blockAlign, f.extra};
    ASSERT_TRUE(test::writeWmaWav(wav, wf, e.bytes, frames));
    const test::CommandResult r = test::runCommand(
        "gst-launch-1.0 -q filesrc location=" + test::shellQuote(wav) +
        " ! wavparse ! avdec_wmav2 ! audioconvert ! audio/x-raw,format=S16LE,rate=" + std::to_string(f.sampleRate) +
        ",channels=" + std::to_string(f.channels) + " ! filesink location=" + test::shellQuote(raw));
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    const std::vector<std::int16_t> out = test::readS16(raw);
    // GStreamer keeps the decoder's two leading frames, and the end runs up
    // to 3n/2 plus half the shortest block past the input: under four frames.
    const std::size_t frameLen = static_cast<std::size_t>(1) << wmaFrameLengthBits(f.sampleRate);
    const std::size_t got = out.size() / static_cast<std::size_t>(f.channels);
    EXPECT_GE(got, frames);
    EXPECT_LE(got, frames + 4 * frameLen);
}

INSTANTIATE_TEST_SUITE_P(Formats, WmaGstreamer,
                         ::testing::Values(GstCase{48000, 2, 192}, GstCase{44100, 2, 128}, GstCase{22050, 1, 16},
                                           GstCase{8000, 1, 5}),
                         [](const auto& info) {
                             return std::to_string(info.param.rate) + "Hz_" + std::to_string(info.param.kbps) + "kbps";
                         });

TEST(WmaEncoder, RefusesBadInputAndUnknownFormats)
{
    std::string error;
    AudioSettings bad;
    bad.sampleRate = 44100;
    bad.channels = 2;
    bad.avgBytesPerSec = 12345;
    bad.blockAlign = 100;
    EXPECT_FALSE(createWma9Encoder(bad, &error));
    EXPECT_FALSE(error.empty());

    const Wma9Format& f = formatOf(44100, 2, 128);
    std::unique_ptr<MediaEncoder> enc = createWma9Encoder(settingsOf(f), &error);
    ASSERT_TRUE(enc);
    EXPECT_EQ(enc->codecData(), f.extra);
    MediaObjects out;
    const std::vector<std::uint8_t> three(3, 0);
    EXPECT_FALSE(enc->encode(three.data(), three.size(), 0, out));
    EXPECT_FALSE(enc->encode(nullptr, 4, 0, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(enc->lastError().empty());
    EXPECT_TRUE(enc->flush(out));
    EXPECT_FALSE(out.empty());
    const std::vector<std::uint8_t> four(4, 0);
    EXPECT_FALSE(enc->encode(four.data(), four.size(), 0, out));
}

}  // namespace
}  // namespace asfw
