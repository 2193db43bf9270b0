// Psychoacoustic model on MDCT spectra: per-band energy, spreading across
// the critical-band scale, tonality from spectral flatness, absolute
// threshold of hearing. Gives the noise energy per coefficient each band
// can hide.
#ifndef ASFWRITER_DSP_WMA_PSY_H
#define ASFWRITER_DSP_WMA_PSY_H

#include <vector>

namespace asfw {

class PsyModel {
public:
    // bandWidths: the band layout of one block length (sum = blockLen).
    PsyModel(int sampleRate, int blockLen, const std::vector<int>& bandWidths);

    // coefs: blockLen MDCT coefficients (unnormalised sine-windowed MDCT of
    // 16-bit-scale samples). thresholds: per band, allowed noise energy per
    // coefficient. energies: per band, mean energy per coefficient.
    void analyse(const float* coefs, std::vector<float>& thresholds, std::vector<float>& energies) const;

    int bands() const { return static_cast<int>(widths_.size()); }

private:
    std::vector<int> widths_;
    std::vector<int> first_;
    std::vector<float> ath_;            // per band, energy per coefficient
    std::vector<float> bark_;           // band centre
    std::vector<std::vector<float>> spread_;  // [maskee][masker] energy weight
};

// Absolute threshold of hearing in dB SPL at f Hz.
double athDb(double f);

}  // namespace asfw

#endif
