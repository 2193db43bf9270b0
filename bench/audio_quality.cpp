// Aligned, band-wise comparison of a decoded sound with its source.
// Usage: audio_quality ref.raw decoded.raw RATE CHANNELS
// Prints: lag (samples), segmental SNR over critical bands (dB), mean
// noise-to-mask ratio (dB, lower is better), bandwidth kept (Hz).
//
// Segmental band SNR: 2048-point Hann frames with hop 1024; per frame and
// critical band, 10 log10(E_ref / E_err) clipped to [-10, 40] dB; averaged
// over bands and over frames that are not silent.
// Noise-to-mask: the mask per band is the reference band energy spread
// over neighbouring bands (-27 dB/Bark below, -12 dB/Bark above) lowered by
// 10 dB, not below the threshold of hearing; NMR averaged in dB.
// Bandwidth: highest band whose decoded energy stays within 20 dB of the
// reference energy, over the whole sound.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
constexpr double kPi = 3.14159265358979323846;

std::vector<double> readMono(const char* path, int channels)
{
    std::vector<double> out;
    FILE* f = std::fopen(path, "rb");
    if (!f) return out;
    std::vector<short> buf(4096 * static_cast<std::size_t>(channels));
    for (;;) {
        const std::size_t n = std::fread(buf.data(), sizeof(short), buf.size(), f);
        for (std::size_t i = 0; i + static_cast<std::size_t>(channels) <= n; i += static_cast<std::size_t>(channels)) {
            double s = 0;
            for (int c = 0; c < channels; ++c) s += buf[i + static_cast<std::size_t>(c)];
            out.push_back(s / channels);
        }
        if (n < buf.size()) break;
    }
    std::fclose(f);
    return out;
}

void fft(std::vector<std::complex<double>>& a)
{
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> w = std::polar(1.0, -2 * kPi / static_cast<double>(len));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> wn(1);
            for (std::size_t j = 0; j < len / 2; ++j) {
                const std::complex<double> u = a[i + j], v = a[i + j + len / 2] * wn;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
                wn *= w;
            }
        }
    }
}

double bark(double f) { return 13 * std::atan(0.00076 * f) + 3.5 * std::atan((f / 7500) * (f / 7500)); }
double athDb(double f)
{
    const double k = std::max(f, 20.0) / 1000;
    return std::min(96.0, 3.64 * std::pow(k, -0.8) - 6.5 * std::exp(-0.6 * (k - 3.3) * (k - 3.3)) + 1e-3 * k * k * k * k);
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s ref.raw decoded.raw RATE CHANNELS\n", argv[0]);
        return 2;
    }
    const int rate = std::atoi(argv[3]);
    const int channels = std::atoi(argv[4]);
    const std::vector<double> x = readMono(argv[1], channels);
    const std::vector<double> y = readMono(argv[2], channels);
    if (x.size() < 8192 || y.size() < 8192) {
        std::fprintf(stderr, "too short\n");
        return 1;
    }
    // Lag by cross-correlation over +-6000 samples on the first seconds.
    int bestLag = 0;
    double best = -1e300;
    const std::size_t span = std::min<std::size_t>(x.size() - 6000, static_cast<std::size_t>(rate) * 3);
    for (int lag = -6000; lag <= 6000; ++lag) {
        double s = 0;
        for (std::size_t i = 6000; i < span; i += 2) {
            const long j = static_cast<long>(i) + lag;
            if (j < 0 || j >= static_cast<long>(y.size())) continue;
            s += x[i] * y[static_cast<std::size_t>(j)];
        }
        if (s > best) {
            best = s;
            bestLag = lag;
        }
    }
    const int n = 2048, hop = 1024;
    // Critical bands over the spectrum bins.
    std::vector<int> bandOf(n / 2 + 1);
    int bands = 0;
    for (int k = 0; k <= n / 2; ++k) {
        bandOf[static_cast<std::size_t>(k)] = static_cast<int>(bark(k * static_cast<double>(rate) / n));
        bands = std::max(bands, bandOf[static_cast<std::size_t>(k)] + 1);
    }
    std::vector<double> bandBark(static_cast<std::size_t>(bands)), bandAth(static_cast<std::size_t>(bands), 1e300);
    std::vector<int> bandTop(static_cast<std::size_t>(bands), 0);
    const double ref = 32768.0 * n / 4;  // full-scale sine in a Hann frame
    for (int k = 1; k <= n / 2; ++k) {
        const int b = bandOf[static_cast<std::size_t>(k)];
        const double f = k * static_cast<double>(rate) / n;
        bandBark[static_cast<std::size_t>(b)] = bark(f);
        bandAth[static_cast<std::size_t>(b)] = std::min(bandAth[static_cast<std::size_t>(b)], ref * ref * std::pow(10.0, (athDb(f) - 96) / 10));
        bandTop[static_cast<std::size_t>(b)] = static_cast<int>(f);
    }
    std::vector<double> win(n);
    for (int i = 0; i < n; ++i) win[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(2 * kPi * (i + 0.5) / n);
    double segSum = 0, nmrSum = 0;
    long segCount = 0, nmrCount = 0;
    std::vector<double> totRef(static_cast<std::size_t>(bands)), totDec(static_cast<std::size_t>(bands));
    std::vector<std::complex<double>> a(n), b(n);
    for (std::size_t start = 0; start + n < x.size(); start += hop) {
        const long ys = static_cast<long>(start) + bestLag;
        if (ys < 0 || ys + n >= static_cast<long>(y.size())) continue;
        for (int i = 0; i < n; ++i) {
            a[static_cast<std::size_t>(i)] = x[start + static_cast<std::size_t>(i)] * win[static_cast<std::size_t>(i)];
            b[static_cast<std::size_t>(i)] = (y[static_cast<std::size_t>(ys + i)] - x[start + static_cast<std::size_t>(i)]) * win[static_cast<std::size_t>(i)];
        }
        fft(a);
        fft(b);
        std::vector<double> er(static_cast<std::size_t>(bands)), ee(static_cast<std::size_t>(bands)), ed(static_cast<std::size_t>(bands));
        for (int k = 1; k <= n / 2; ++k) {
            const std::size_t bb = static_cast<std::size_t>(bandOf[static_cast<std::size_t>(k)]);
            er[bb] += std::norm(a[static_cast<std::size_t>(k)]);
            ee[bb] += std::norm(b[static_cast<std::size_t>(k)]);
            ed[bb] += std::norm(a[static_cast<std::size_t>(k)] + b[static_cast<std::size_t>(k)]);
        }
        double frameEnergy = 0;
        for (int q = 0; q < bands; ++q) {
            frameEnergy += er[static_cast<std::size_t>(q)];
            totRef[static_cast<std::size_t>(q)] += er[static_cast<std::size_t>(q)];
            totDec[static_cast<std::size_t>(q)] += ed[static_cast<std::size_t>(q)];
        }
        if (frameEnergy < ref * ref * 1e-7) continue;  // silent frame (-70 dBFS)
        for (int q = 0; q < bands; ++q) {
            const std::size_t qq = static_cast<std::size_t>(q);
            // Mask from the spread reference energy.
            double mask = 0;
            for (int m = 0; m < bands; ++m) {
                const double dz = bandBark[qq] - bandBark[static_cast<std::size_t>(m)];
                const double att = dz >= 0 ? 12 * dz : -27 * dz;
                mask += er[static_cast<std::size_t>(m)] * std::pow(10.0, -(att + 10) / 10);
            }
            mask = std::max(mask, bandAth[qq]);
            nmrSum += 10 * std::log10((ee[qq] + 1e-9) / mask);
            ++nmrCount;
            if (er[qq] > bandAth[qq]) {
                double snr = 10 * std::log10((er[qq] + 1e-9) / (ee[qq] + 1e-9));
                snr = std::max(-10.0, std::min(40.0, snr));
                segSum += snr;
                ++segCount;
            }
        }
    }
    int bandwidth = 0;
    for (int q = 0; q < bands; ++q) {
        const std::size_t qq = static_cast<std::size_t>(q);
        if (totRef[qq] > bandAth[qq] * 10 && totDec[qq] > totRef[qq] * 0.01) bandwidth = bandTop[qq];
    }
    std::printf("lag=%d segsnr=%.2f nmr=%.2f bandwidth=%d\n", bestLag, segCount ? segSum / segCount : 0.0,
                nmrCount ? nmrSum / nmrCount : 0.0, bandwidth);
    return 0;
}
