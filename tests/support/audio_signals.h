// Synthetic test sounds for the audio encoder's tests and benchmarks:
// tones, sweeps, speech-like voiced/unvoiced sound, castanet-like clicks,
// drums, and tonal music. Header-only so the benchmark programs can use
// it too. All return interleaved 16-bit samples.
#ifndef ASFWRITER_TESTS_SUPPORT_AUDIO_SIGNALS_H
#define ASFWRITER_TESTS_SUPPORT_AUDIO_SIGNALS_H

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace asfw::test {

namespace audio_detail {
constexpr double kPi = 3.14159265358979323846;

// Small deterministic noise source.
class Noise {
public:
    explicit Noise(std::uint32_t seed) : s_(seed ? seed : 1) {}
    double next()  // uniform in [-1, 1)
    {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return static_cast<double>(s_) / 2147483648.0 - 1.0;
    }

private:
    std::uint32_t s_;
};

// Two-pole resonator.
struct Resonator {
    double a1 = 0, a2 = 0, g = 0, y1 = 0, y2 = 0;
    void set(double f, double bw, double rate)
    {
        const double r = std::exp(-kPi * bw / rate);
        a1 = 2 * r * std::cos(2 * kPi * f / rate);
        a2 = -r * r;
        g = 1 - r;
    }
    double run(double x)
    {
        const double y = g * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

inline std::int16_t clip16(double v)
{
    if (v > 32767) return 32767;
    if (v < -32768) return -32768;
    return static_cast<std::int16_t>(std::lround(v));
}
}  // namespace audio_detail

// Mono signal generators (float samples, roughly +-32767 scale).
inline std::vector<double> toneSignal(int rate, double seconds, double freq, double amplitude)
{
    std::vector<double> v(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = amplitude * std::sin(2 * audio_detail::kPi * freq * static_cast<double>(i) / rate);
    return v;
}

inline std::vector<double> sweepSignal(int rate, double seconds, double f0, double f1, double amplitude)
{
    std::vector<double> v(static_cast<std::size_t>(rate * seconds));
    double phase = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(v.size());
        const double f = f0 * std::pow(f1 / f0, t);
        phase += 2 * audio_detail::kPi * f / rate;
        v[i] = amplitude * std::sin(phase);
    }
    return v;
}

// Voiced segments (glottal pulses through moving formants) with
// fricative bursts and short pauses.
inline std::vector<double> speechSignal(int rate, double seconds, std::uint32_t seed = 7)
{
    using namespace audio_detail;
    std::vector<double> v(static_cast<std::size_t>(rate * seconds));
    Noise noise(seed);
    Resonator f1, f2, f3, fr;
    double phase = 0;
    const double syllable = 0.22;  // seconds
    for (std::size_t i = 0; i < v.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const int syl = static_cast<int>(t / syllable);
        const double u = t / syllable - syl;
        const int kind = (syl * 7 + 3) % 5;  // 0..4: 0 pause, 1 fricative, else voiced
        const double f0 = 110 + 60 * std::sin(t * 1.7) + 20 * std::sin(t * 5.3);
        const double env = std::sin(kPi * u);
        if ((i % 64) == 0) {
            const double a = 0.5 + 0.5 * std::sin(syl * 2.1 + u * 3);
            f1.set(350 + 450 * a, 80, rate);
            f2.set(900 + 1400 * (1 - a), 120, rate);
            f3.set(2500 + 400 * a, 200, rate);
            fr.set(std::min(5500.0, rate * 0.3), 2500, rate);
        }
        double s = 0;
        if (kind >= 2) {
            phase += f0 / rate;
            double pulse = 0;
            if (phase >= 1) {
                phase -= 1;
                pulse = 1;
            }
            const double src = pulse * 12000 + noise.next() * 40;
            s = 6 * f1.run(src) + 4 * f2.run(src) + 2.5 * f3.run(src);
        } else if (kind == 1) {
            s = fr.run(noise.next() * 9000) * 3;
        }
        v[i] = s * env;
    }
    return v;
}

// Castanet-like clicks: very sharp decaying bursts over silence.
inline std::vector<double> clicksSignal(int rate, double seconds, std::uint32_t seed = 11)
{
    using namespace audio_detail;
    std::vector<double> v(static_cast<std::size_t>(rate * seconds));
    Noise noise(seed);
    Resonator body;
    body.set(2200, 600, rate);
    std::size_t next = static_cast<std::size_t>(rate * 0.05);
    while (next < v.size()) {
        const std::size_t len = static_cast<std::size_t>(rate * 0.012);
        for (std::size_t j = 0; j < len && next + j < v.size(); ++j) {
            const double env = std::exp(-static_cast<double>(j) / (rate * 0.0015));
            v[next + j] += env * (noise.next() * 14000 + body.run(noise.next() * 20000) * 6);
        }
        next += static_cast<std::size_t>(rate * (0.09 + 0.12 * (0.5 + 0.5 * noise.next())));
    }
    return v;
}

// Kick, snare and hi-hat pattern.
inline std::vector<double> drumsSignal(int rate, double seconds, std::uint32_t seed = 13)
{
    using namespace audio_detail;
    std::vector<double> v(static_cast<std::size_t>(rate * seconds));
    Noise noise(seed);
    const double beat = 0.25;
    for (int b = 0; b * beat < seconds; ++b) {
        const std::size_t at = static_cast<std::size_t>(b * beat * rate);
        const int step = b % 8;
        double phase = 0;
        for (std::size_t j = 0; j < static_cast<std::size_t>(0.3 * rate) && at + j < v.size(); ++j) {
            const double t = static_cast<double>(j) / rate;
            double s = 0;
            if (step == 0 || step == 5) {  // kick
                const double f = 50 + 100 * std::exp(-t * 30);
                phase += 2 * kPi * f / rate;
                s += 20000 * std::exp(-t * 9) * std::sin(phase);
            }
            if (step == 2 || step == 6) {  // snare
                s += std::exp(-t * 25) * (noise.next() * 9000 + 6000 * std::sin(2 * kPi * 190 * t));
            }
            s += std::exp(-t * 120) * noise.next() * 3500;  // hi-hat on every beat
            v[at + j] += s;
        }
    }
    return v;
}

// Tonal music: sustained chords of harmonic notes with slow attacks.
inline std::vector<double> tonalSignal(int rate, double seconds)
{
    using namespace audio_detail;
    std::vector<double> v(static_cast<std::size_t>(rate * seconds));
    const double chords[4][3] = {{261.63, 329.63, 392.0}, {220.0, 261.63, 329.63}, {174.61, 220.0, 261.63}, {196.0, 246.94, 293.66}};
    const double chordLen = 1.0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const int c = static_cast<int>(t / chordLen) % 4;
        const double u = std::fmod(t, chordLen);
        const double env = std::min(1.0, u * 20) * std::exp(-u * 1.2);
        double s = 0;
        for (int n = 0; n < 3; ++n)
            for (int h = 1; h <= 8; ++h) {
                const double f = chords[c][n] * h * (1 + 0.0004 * h * h);
                if (f > rate * 0.45) break;
                s += std::sin(2 * kPi * f * t + n + h) / (h * h * 0.7 + 0.3);
            }
        s += 0.3 * std::sin(2 * kPi * 4400 * t) * std::sin(2 * kPi * 0.5 * t);  // a high whistle
        v[i] = 4200 * env * s;
    }
    return v;
}

// Music with transients: drums over the tonal bed.
inline std::vector<double> musicSignal(int rate, double seconds)
{
    std::vector<double> a = tonalSignal(rate, seconds);
    const std::vector<double> d = drumsSignal(rate, seconds);
    for (std::size_t i = 0; i < a.size() && i < d.size(); ++i) a[i] = 0.6 * a[i] + 0.7 * d[i];
    return a;
}

inline std::vector<double> namedSignal(const std::string& name, int rate, double seconds)
{
    if (name == "speech") return speechSignal(rate, seconds);
    if (name == "clicks") return clicksSignal(rate, seconds);
    if (name == "drums") return drumsSignal(rate, seconds);
    if (name == "tonal") return tonalSignal(rate, seconds);
    if (name == "music") return musicSignal(rate, seconds);
    if (name == "sweep") return sweepSignal(rate, seconds, 40, rate * 0.45, 12000);
    return toneSignal(rate, seconds, 1000, 12000);
}

// Interleaves a mono signal into `channels` channels (stereo: the right
// channel slightly delayed and quieter, so it is not a copy of the left).
inline std::vector<std::int16_t> interleave(const std::vector<double>& mono, int channels)
{
    std::vector<std::int16_t> out(mono.size() * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < mono.size(); ++i) {
        out[i * static_cast<std::size_t>(channels)] = audio_detail::clip16(mono[i]);
        if (channels == 2) out[i * 2 + 1] = audio_detail::clip16(0.8 * (i >= 7 ? mono[i - 7] : 0.0));
    }
    return out;
}

}  // namespace asfw::test

#endif
