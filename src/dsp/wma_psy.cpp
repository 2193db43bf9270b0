#include "dsp/wma_psy.h"

#include <algorithm>
#include <cmath>

namespace asfw {

double athDb(double f)
{
    const double k = std::max(f, 20.0) / 1000.0;
    double db = 3.64 * std::pow(k, -0.8) - 6.5 * std::exp(-0.6 * (k - 3.3) * (k - 3.3)) + 1e-3 * k * k * k * k;
    return std::min(db, 96.0);
}

namespace {
// Natural logarithm to about 1e-3, for spectral flatness.
inline float fastLog(float x)
{
    int e = 0;
    const float m = std::frexp(x, &e);  // x = m * 2^e, m in [0.5, 1)
    const float t = m - 1.0f;
    // log(m) on [0.5, 1): polynomial fit.
    const float l = t * (1.0f - t * (0.5f - t * (0.333f - t * 0.25f)));
    return l + static_cast<float>(e) * 0.69314718f;
}

double barkOf(double f)
{
    return 13.0 * std::atan(0.00076 * f) + 3.5 * std::atan((f / 7500.0) * (f / 7500.0));
}
}  // namespace

PsyModel::PsyModel(int sampleRate, int blockLen, const std::vector<int>& bandWidths)
    : blockLen_(blockLen), widths_(bandWidths)
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
    thresholds.assign(nb, 0.f);
    energies.assign(nb, 0.f);
    std::vector<float> offsetGain(nb);
    for (std::size_t b = 0; b < nb; ++b) {
        const int w = widths_[b];
        double sum = 0, logSum = 0;
        for (int i = 0; i < w; ++i) {
            const float e = coefs[first_[b] + i] * coefs[first_[b] + i] + 1e-3f;
            sum += e;
            logSum += fastLog(e);
        }
        const double mean = sum / w;
        energies[b] = static_cast<float>(mean);
        // Spectral flatness: 0 dB for noise, strongly negative for tones.
        double tonality = 0.5;
        if (w >= 4) {
            const double flatDb = 10.0 * (logSum / w - std::log(mean)) / std::log(10.0);
            tonality = std::min(1.0, std::max(0.0, flatDb / -12.0));
        }
        const double offsetDb = tonality * (14.5 + bark_[b]) + (1.0 - tonality) * 5.5;
        offsetGain[b] = static_cast<float>(std::pow(10.0, -offsetDb / 10.0));
    }
    for (std::size_t i = 0; i < nb; ++i) {
        double spread = 0;
        for (std::size_t j = 0; j < nb; ++j) spread += spread_[i][j] * energies[j] * offsetGain[j];
        thresholds[i] = static_cast<float>(std::max<double>(spread, ath_[i]));
    }
}

}  // namespace asfw
