// Forward MDCT (2n windowed samples in, n coefficients out) with an FFT of
// n/2 points.
//
//   X[k] = sum_{i=0}^{2n-1} x[i] cos(pi/n (i + 1/2 + n/2)(k + 1/2))
//
// The window is applied by the caller. mdctReference() is the direct
// O(n^2) form the fast one is checked against.
#ifndef ASFWRITER_DSP_MDCT_H
#define ASFWRITER_DSP_MDCT_H

#include <complex>
#include <vector>

namespace asfw {

class Mdct {
public:
    // n: number of coefficients, a power of two >= 4.
    explicit Mdct(int n);
    int size() const { return n_; }
    // in: 2n samples; out: n coefficients.
    void forward(const float* in, float* out);

private:
    int n_;
    std::vector<std::complex<float>> twiddle_;  // pre-rotation, n/2 entries
    std::vector<std::complex<float>> post_;     // post-rotation, n/2 entries
    std::vector<std::complex<float>> fftTw_;    // FFT roots, n/4 entries
    std::vector<int> bitrev_;
    std::vector<float> fold_;
    std::vector<std::complex<float>> buf_;
    void fft(std::complex<float>* a);
};

void mdctReference(const float* in, float* out, int n);

}  // namespace asfw

#endif
