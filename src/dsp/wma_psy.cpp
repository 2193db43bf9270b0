#include "dsp/wma_psy.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace asfw {

double athDb(double f)
{
    const double k = std::max(f, 20.0) / 1000.0;
    double db = 3.64 * std::pow(k, -0.8) - 6.5 * std::exp(-0.6 * (k - 3.3) * (k - 3.3)) + 1e-3 * k * k * k * k;
    return std::min(db, 96.0);
}

namespace {
// log2 to about 1e-5 from the float's exponent and a polynomial of its
// mantissa (spectral flatness needs no more).
inline float fastLog2(float x)
{
    std::uint32_t u;
    std::memcpy(&u, &x, 4);
    const float e = static_cast<float>(static_cast<int>((u >> 23) & 255) - 127);
    u = (u & 0x007FFFFFu) | 0x3F800000u;  // mantissa in [1, 2)
    float m;
    std::memcpy(&m, &u, 4);
    const float t = m - 1.0f;
    return e + t * (1.4425449f + t * (-0.7181452f + t * (0.4575485f + t * (-0.2779042f + t * (0.1217970f + t * -0.0258411f)))));
}

double barkOf(double f)
{
    return 13.0 * std::atan(0.00076 * f) + 3.5 * std::atan((f / 7500.0) * (f / 7500.0));
}
}  // namespace

PsyModel::PsyModel(int sampleRate, int blockLen, const std::vector<int>& bandWidths)
    : widths_(bandWidths)
{
    const std::size_t nb = widths_.size();
    first_.resize(nb);
    ath_.resize(nb);
    bark_.resize(nb);
    // Reference: a full-scale sine gives a peak coefficient of about
    // 32768 * blockLen / 2; that level is taken as 96 dB SPL.
    const double fullScale = 32768.0 * blockLen / 2.0;
    const double refPower = fullScale * fullScale;
    int pos = 0;
    for (std::size_t b = 0; b < nb; ++b) {
        first_[b] = pos;
        const double f0 = (pos + 0.5) * sampleRate / (2.0 * blockLen);
        const double f1 = (pos + widths_[b] - 0.5) * sampleRate / (2.0 * blockLen);
        double minDb = 200;
        for (int i = 0; i < widths_[b]; ++i) minDb = std::min(minDb, athDb((pos + i + 0.5) * sampleRate / (2.0 * blockLen)));
        // Keep a safety margin below the quietest listening level.
        ath_[b] = static_cast<float>(refPower * std::pow(10.0, (minDb - 96.0 - 6.0) / 10.0));
        bark_[b] = static_cast<float>(barkOf(0.5 * (f0 + f1)));
        pos += widths_[b];
    }
    spread_.assign(nb, std::vector<float>(nb, 0.f));
    for (std::size_t i = 0; i < nb; ++i) {
        for (std::size_t j = 0; j < nb; ++j) {
            const double dz = bark_[i] - bark_[j];  // maskee minus masker
            const double att = dz >= 0 ? 12.0 * dz : -27.0 * dz;
            spread_[i][j] = static_cast<float>(std::pow(10.0, -att / 10.0));
        }
    }
}

void PsyModel::analyse(const float* coefs, std::vector<float>& thresholds, std::vector<float>& energies) const
{
    const std::size_t nb = widths_.size();
    thresholds.resize(nb);
    energies.resize(nb);
    float offsetGain[256];
    std::vector<float> offsetHeap;
    float* og = offsetGain;
    if (nb > 256) {
        offsetHeap.resize(nb);
        og = offsetHeap.data();
    }
    for (std::size_t b = 0; b < nb; ++b) {
        const int w = widths_[b];
        const float* c = coefs + first_[b];
        float sum = 0, logSum = 0;
        for (int i = 0; i < w; ++i) {
            const float e = c[i] * c[i] + 1e-3f;
            sum += e;
            logSum += fastLog2(e);
        }
        const float mean = sum / static_cast<float>(w);
        energies[b] = mean;
        // Spectral flatness: 0 dB for noise, strongly negative for tones.
        float tonality = 0.5f;
        if (w >= 4) {
            const float flatDb = 3.0103f * (logSum / static_cast<float>(w) - fastLog2(mean));
            tonality = std::min(1.0f, std::max(0.0f, flatDb / -12.0f));
        }
        const float offsetDb = tonality * (14.5f + bark_[b]) + (1.0f - tonality) * 5.5f;
        og[b] = std::exp2(offsetDb * -0.33219281f);  // 10^(-offsetDb/10)
    }
    for (std::size_t i = 0; i < nb; ++i) {
        const float* sp = spread_[i].data();
        float spread = 0;
        for (std::size_t j = 0; j < nb; ++j) spread += sp[j] * energies[j] * og[j];
        thresholds[i] = std::max(spread, ath_[i]);
    }
}

}  // namespace asfw
