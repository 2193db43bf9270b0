// Input conversion of PCM audio: rate, channel layout and sample depth.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "runtime_objects/audio_converter.h"

namespace asfw::rt {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<std::uint8_t> stereoTone(int rate, double frequency, double amplitude, std::size_t frames, bool invertRight)
{
    std::vector<std::uint8_t> bytes(frames * 4);
    for (std::size_t n = 0; n < frames; ++n) {
        const double v = amplitude * std::sin(2 * kPi * frequency * static_cast<double>(n) / rate);
        const auto l = static_cast<std::int16_t>(std::lround(v * 32767));
        const auto r = static_cast<std::int16_t>(invertRight ? -l : l);
        std::memcpy(&bytes[n * 4], &l, 2);
        std::memcpy(&bytes[n * 4 + 2], &r, 2);
    }
    return bytes;
}

std::vector<std::int16_t> convert(const PcmFormat& in, const PcmFormat& out, const std::vector<std::uint8_t>& bytes,
                                  std::size_t chunk)
{
    std::string error;
    auto c = AudioConverter::create(in, out, &error);
    EXPECT_TRUE(c) << error;
    std::vector<std::int16_t> pcm;
    if (!c) return pcm;
    for (std::size_t pos = 0; pos < bytes.size(); pos += chunk) {
        const std::size_t n = std::min(chunk, bytes.size() - pos);
        EXPECT_TRUE(c->push(bytes.data() + pos, n, &pcm));
    }
    EXPECT_TRUE(c->drain(&pcm));
    return pcm;
}

TEST(AudioConverter, ToneAt48kStereoKeepsFrequencyLevelAndPhaseAt44k1Mono)
{
    const double amplitude = 0.5;
    const std::size_t inFrames = 48000;  // one second
    const auto input = stereoTone(48000, 1000.0, amplitude, inFrames, false);
    // Blocks of 4096 bytes, as a host's 48 kHz stereo delivery would be.
    const auto out = convert({48000, 2, 16}, {44100, 1, 16}, input, 4096);
    ASSERT_NEAR(static_cast<double>(out.size()), 44100.0, 2.0);

    // Away from the two ends, the output is the same tone sampled at 44.1 kHz:
    // same frequency, same level and no time shift.
    double errorEnergy = 0, signalEnergy = 0;
    for (std::size_t n = 441; n + 441 < out.size(); ++n) {
        const double ideal = amplitude * 32767 * std::sin(2 * kPi * 1000.0 * static_cast<double>(n) / 44100);
        const double d = out[n] - ideal;
        errorEnergy += d * d;
        signalEnergy += ideal * ideal;
    }
    const double snr = 10 * std::log10(signalEnergy / errorEnergy);
    EXPECT_GT(snr, 60.0) << "frequency, level or timing changed";

    double rms = 0;
    for (std::size_t n = 441; n + 441 < out.size(); ++n) rms += static_cast<double>(out[n]) * out[n];
    rms = std::sqrt(rms / static_cast<double>(out.size() - 882));
    EXPECT_NEAR(20 * std::log10(rms / (amplitude * 32767 / std::sqrt(2.0))), 0.0, 0.05);
}

TEST(AudioConverter, DownMixAveragesTheChannels)
{
    // Opposite channels cancel; equal channels keep their level.
    const auto opposite = convert({48000, 2, 16}, {48000, 1, 16}, stereoTone(48000, 440, 0.5, 4800, true), 1000);
    ASSERT_EQ(opposite.size(), 4800u);
    for (auto v : opposite) ASSERT_LE(std::abs(v), 1);
    const auto same = convert({48000, 2, 16}, {48000, 1, 16}, stereoTone(48000, 440, 0.5, 4800, false), 1000);
    const auto src = stereoTone(48000, 440, 0.5, 4800, false);
    for (std::size_t n = 0; n < same.size(); ++n) {
        std::int16_t l;
        std::memcpy(&l, &src[n * 4], 2);
        ASSERT_EQ(same[n], l) << n;
    }
}

TEST(AudioConverter, DepthAndUpMix)
{
    // 8-bit unsigned mono: 0 -> -32768, 128 -> 0, 255 -> 32512, doubled to stereo.
    const std::vector<std::uint8_t> bytes = {0, 128, 255, 64};
    const auto out = convert({22050, 1, 8}, {22050, 2, 16}, bytes, 3);
    EXPECT_EQ(out, (std::vector<std::int16_t>{-32768, -32768, 0, 0, 32512, 32512, -16384, -16384}));
    // 16-bit passes through unchanged, whatever the block boundaries.
    std::vector<std::uint8_t> raw(4000);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 37 + 11);
    const auto a = convert({32000, 2, 16}, {32000, 2, 16}, raw, raw.size());
    const auto b = convert({32000, 2, 16}, {32000, 2, 16}, raw, 7);
    ASSERT_EQ(a.size(), raw.size() / 2);
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::memcmp(a.data(), raw.data(), raw.size()), 0);
}

TEST(AudioConverter, ResamplingDoesNotDependOnBlockBoundaries)
{
    const auto input = stereoTone(48000, 3000, 0.7, 9600, false);
    const auto whole = convert({48000, 2, 16}, {22050, 2, 16}, input, input.size());
    const auto pieces = convert({48000, 2, 16}, {22050, 2, 16}, input, 333);  // splits frames too
    ASSERT_EQ(whole.size(), pieces.size());
    for (std::size_t i = 0; i < whole.size(); ++i) ASSERT_NEAR(whole[i], pieces[i], 1) << i;
}

TEST(AudioConverter, RefusesFormatsItCannotConvert)
{
    struct Case {
        PcmFormat in, out;
    } cases[] = {
        {{48000, 6, 16}, {48000, 2, 16}}, {{48000, 2, 24}, {48000, 2, 16}}, {{0, 2, 16}, {48000, 2, 16}},
        {{48000, 2, 16}, {48000, 2, 8}},  {{48000, 2, 16}, {48000, 0, 16}},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(AudioConverter::create(c.in, c.out, &error));
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace asfw::rt
