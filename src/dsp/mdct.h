// Forward MDCT (2n windowed samples in, n coefficients out) with a complex
// FFT of n/2 points (dsp/wma_fft.h).
//
//   X[k] = sum_{i=0}^{2n-1} x[i] cos(pi/n (i + 1/2 + n/2)(k + 1/2))
//
// The window is applied by the caller. mdctReference() is the direct
// O(n^2) form the fast one is checked against.
#ifndef ASFWRITER_DSP_MDCT_H
#define ASFWRITER_DSP_MDCT_H

#include <vector>

#include "dsp/wma_fft.h"

namespace asfw {

class Mdct {
public:
    // n: number of coefficients, a power of two >= 4.
    explicit Mdct(int n);
    int size() const { return n_; }
    // in: 2n samples; out: n coefficients.
    void forward(const float* in, float* out);
    // The same through the plain C++ FFT (for checking the vectorised one).
    void forwardPlain(const float* in, float* out);

private:
    int n_;
    ComplexFft fft_;
    std::vector<float> preRe_, preIm_;    // pre-rotation, n/2 entries
    std::vector<float> postRe_, postIm_;  // post-rotation, n/2 entries
    std::vector<float> re_, im_;
    void run(const float* in, float* out, bool plain);
};

void mdctReference(const float* in, float* out, int n);

}  // namespace asfw

#endif
