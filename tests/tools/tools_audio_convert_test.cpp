// Conversion of WAV input to the writer's 48 kHz stereo 16-bit blocks:
// mixing, rounding, resampling, block sizes and the end of the input.
#include "audio_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace asfenc {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A plain PCM or float WAV with the given interleaved sample bytes;
// `declared` overrides the data size.
Bytes wavFile(int channels, int rate, int bits, bool isFloat, const Bytes& data, long long declared = -1)
{
    Bytes b{'R', 'I', 'F', 'F'};
    put32(b, static_cast<std::uint32_t>(36 + data.size()));
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(b, 16);
    put16(b, isFloat ? 3 : 1);
    put16(b, static_cast<unsigned>(channels));
    put32(b, static_cast<std::uint32_t>(rate));
    put32(b, static_cast<std::uint32_t>(rate * channels * bits / 8));
    put16(b, static_cast<unsigned>(channels * bits / 8));
    put16(b, static_cast<unsigned>(bits));
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put32(b, static_cast<std::uint32_t>(declared >= 0 ? declared : static_cast<long long>(data.size())));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

struct Output {
    std::vector<std::int16_t> samples;  // interleaved stereo
    std::vector<std::size_t> blockBytes;
    ReadResult last = ReadResult::Ok;
};

Output convert(const Bytes& file)
{
    MemoryInput in(file);
    WavReader reader(in);
    std::string error;
    Output out;
    EXPECT_EQ(reader.readHeader(error), ReadResult::Ok) << error;
    WavAudioSource source(reader);
    EXPECT_TRUE(source.ready(error)) << error;
    std::vector<std::uint8_t> block;
    while ((out.last = source.next(block, error)) == ReadResult::Ok) {
        out.blockBytes.push_back(block.size());
        for (std::size_t i = 0; i + 1 < block.size(); i += 2)
            out.samples.push_back(static_cast<std::int16_t>(block[i] | (block[i + 1] << 8)));
    }
    return out;
}

TEST(StereoMix, FoldsChannelsByPosition)
{
    const float h = 0.70710678f;
    struct Case {
        const char* name;
        int channels;
        std::uint32_t mask;
        std::vector<float> left, right;
    };
    const float n3 = 1.0f / (1.0f + h);           // FL FR FC
    const float n6 = 1.0f / (1.0f + h + h);       // 5.1
    const Case cases[] = {
        {"mono to both sides", 1, 0, {1}, {1}},
        {"mono marked as centre", 1, 0x4, {1}, {1}},
        {"stereo unchanged", 2, 0, {1, 0}, {0, 1}},
        {"3.0", 3, 0, {n3, 0, h * n3}, {0, n3, h * n3}},
        {"5.1 drops the LFE", 6, 0, {n6, 0, h * n6, 0, h * n6, 0}, {0, n6, h * n6, 0, 0, h * n6}},
        {"5.1 from its mask", 6, 0x60F, {n6, 0, h * n6, 0, h * n6, 0}, {0, n6, h * n6, 0, 0, h * n6}},
        {"a channel the mask does not place", 2, 0x1, {1.0f / 1.5f, 0.5f / 1.5f}, {0, 0.5f}},
    };
    for (const Case& c : cases) {
        const StereoMix m = stereoMixFor(c.channels, c.mask);
        ASSERT_EQ(m.left.size(), c.left.size()) << c.name;
        for (std::size_t i = 0; i < c.left.size(); ++i) {
            EXPECT_NEAR(m.left[i], c.left[i], 1e-6) << c.name << " L" << i;
            EXPECT_NEAR(m.right[i], c.right[i], 1e-6) << c.name << " R" << i;
        }
    }
    for (int channels = 1; channels <= 8; ++channels) {  // no side can go past full scale
        const StereoMix m = stereoMixFor(channels, 0);
        float l = 0, r = 0;
        for (int c = 0; c < channels; ++c) {
            l += m.left[static_cast<std::size_t>(c)];
            r += m.right[static_cast<std::size_t>(c)];
        }
        EXPECT_LE(l, 1.0001f) << channels;
        EXPECT_LE(r, 1.0001f) << channels;
        EXPECT_GT(l, 0.5f) << channels;
    }
}

TEST(ToPcm16, RoundsAndClips)
{
    const struct {
        float in;
        std::int16_t out;
    } cases[] = {{0.0f, 0},           {1.0f, 32767},       {-1.0f, -32768},     {0.5f, 16384},
                 {-0.5f, -16384},      {2.0f, 32767},       {-3.0f, -32768},     {1.4f / 32768, 1},
                 {-1.6f / 32768, -2},  {std::numeric_limits<float>::quiet_NaN(), 0},
                 {std::numeric_limits<float>::infinity(), 32767}};
    for (const auto& c : cases) EXPECT_EQ(toPcm16(c.in), c.out) << c.in;
}

TEST(WavAudioSource, PassesFortyEightKilohertzStereo16BitThroughUnchangedIn10msBlocks)
{
    Bytes data;
    std::vector<std::int16_t> expected;
    for (int i = 0; i < 1000; ++i) {  // 1000 frames: two whole 480-frame blocks and 40 frames
        const auto l = static_cast<std::int16_t>(i * 61 - 30000), r = static_cast<std::int16_t>(-i * 37 + 12345);
        expected.push_back(l);
        expected.push_back(r);
        put16(data, static_cast<std::uint16_t>(l));
        put16(data, static_cast<std::uint16_t>(r));
    }
    const Output out = convert(wavFile(2, 48000, 16, false, data));
    EXPECT_EQ(out.last, ReadResult::End);
    EXPECT_EQ(out.samples, expected);
    EXPECT_EQ(out.blockBytes, (std::vector<std::size_t>{1920, 1920, 160}));
}

// A sine of `freq` Hz at `amplitude`, `seconds` long, on every channel.
Bytes sine(int channels, int rate, double freq, double amplitude, double seconds, int bits, bool isFloat)
{
    Bytes data;
    const int n = static_cast<int>(rate * seconds);
    for (int i = 0; i < n; ++i) {
        const double v = amplitude * std::sin(2 * M_PI * freq * i / rate);
        for (int c = 0; c < channels; ++c) {
            if (isFloat) {
                const float f = static_cast<float>(v);
                std::uint32_t bits32;
                std::memcpy(&bits32, &f, 4);
                put32(data, bits32);
            } else if (bits == 16) {
                put16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lrint(v * 32767))));
            } else {  // 24
                const auto s = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lrint(v * 8388607)));
                data.push_back(static_cast<std::uint8_t>(s));
                data.push_back(static_cast<std::uint8_t>(s >> 8));
                data.push_back(static_cast<std::uint8_t>(s >> 16));
            }
        }
    }
    return data;
}

// Zero crossings (upwards) and RMS of one channel over its middle.
void measure(const std::vector<std::int16_t>& s, int channel, double& crossingsPerSecond, double& rms)
{
    const std::size_t frames = s.size() / 2;
    const std::size_t from = frames / 10, to = frames - frames / 10;
    int crossings = 0;
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) {
        const int a = s[2 * (i - 1) + static_cast<std::size_t>(channel)], b = s[2 * i + static_cast<std::size_t>(channel)];
        if (a < 0 && b >= 0) ++crossings;
        sum += static_cast<double>(b) * b;
    }
    crossingsPerSecond = crossings * 48000.0 / static_cast<double>(to - from);
    rms = std::sqrt(sum / static_cast<double>(to - from)) / 32768.0;
}

TEST(WavAudioSource, ResamplesAndMixesKeepingPitchLevelAndLength)
{
    struct Case {
        const char* name;
        int channels, rate, bits;
        bool isFloat;
        double expectedRms;  // of each output side for the same sine on every input channel
    };
    const double sineRms = 0.5 / std::sqrt(2.0);
    const Case cases[] = {
        {"44.1 kHz mono 16-bit", 1, 44100, 16, false, sineRms},
        {"22.05 kHz stereo 24-bit", 2, 22050, 24, false, sineRms},
        {"96 kHz 5.1 float", 6, 96000, 32, true, sineRms},  // L = (FL + h FC + h BL) / (1 + 2h) = the sine
        {"8 kHz 4.0 16-bit", 4, 8000, 16, false, sineRms},
    };
    for (const Case& c : cases) {
        const double seconds = 0.5;
        const Output out = convert(wavFile(c.channels, c.rate, c.bits, c.isFloat,
                                           sine(c.channels, c.rate, 1000.0, 0.5, seconds, c.bits, c.isFloat)));
        EXPECT_EQ(out.last, ReadResult::End) << c.name;
        const double frames = static_cast<double>(out.samples.size()) / 2;
        EXPECT_NEAR(frames, 48000 * seconds, 48) << c.name;
        for (std::size_t i = 0; i + 1 < out.blockBytes.size(); ++i) EXPECT_EQ(out.blockBytes[i], 1920u) << c.name;
        for (int ch = 0; ch < 2; ++ch) {
            double crossings, rms;
            measure(out.samples, ch, crossings, rms);
            EXPECT_NEAR(crossings, 1000.0, 5.0) << c.name << " channel " << ch;
            EXPECT_NEAR(rms, c.expectedRms, 0.01) << c.name << " channel " << ch;
        }
    }
}

TEST(WavAudioSource, DeliversTheAudioBeforeACutThenReportsIt)
{
    const Bytes data = sine(2, 44100, 440.0, 0.3, 0.1, 16, false);  // 4410 frames present
    const Output out = convert(wavFile(2, 44100, 16, false, data, 44100 * 4));
    EXPECT_EQ(out.last, ReadResult::Truncated);
    EXPECT_NEAR(static_cast<double>(out.samples.size()) / 2, 4800.0, 10.0);
}

}  // namespace
}  // namespace asfenc
