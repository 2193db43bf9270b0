// Complex FFT for the audio transforms: forward (e^{-2 pi i jk/m}),
// power-of-two length, in place on split real/imaginary arrays.
//
// Radix-4 decimation in frequency (one radix-2 stage first when log2 m is
// odd), twiddles precomputed per stage. The output is left in bit-reversed
// order: X[k] is found at position bitReversed()[k]; the MDCT reads it
// there in its post-rotation instead of paying a separate reordering pass.
//
// Two builds of the stage loops: plain C++ (any target) and, on x86-64
// machines that have them, AVX2+FMA; the choice is made once at run time.
// fftReference() is the direct O(m^2) transform both are checked against.
#ifndef ASFWRITER_DSP_WMA_FFT_H
#define ASFWRITER_DSP_WMA_FFT_H

#include <vector>

namespace asfw {

class ComplexFft {
public:
    // m: number of points, a power of two >= 1.
    explicit ComplexFft(int m);
    int size() const { return m_; }
    // Transforms re/im (m values each) in place; output in bit-reversed order.
    void forward(float* re, float* im) const;
    // The same with the plain C++ stage loops whatever the machine offers.
    void forwardPlain(float* re, float* im) const;
    // position of X[k] in the output.
    const std::vector<int>& bitReversed() const { return rev_; }
    // True when forward() uses the AVX2+FMA build.
    static bool usesAvx2();

private:
    int m_;
    bool radix2First_;
    // Radix-4 stage tables from the largest block length down: for block
    // length L, 6 * L/4 floats: w^j, w^2j, w^3j (re then im, L/4 each).
    std::vector<float> tw_;
    std::vector<float> tw2_;  // the radix-2 stage: w^j re, im (m/2 each)
    std::vector<int> rev_;
};

// Direct DFT in double precision, natural order (for tests).
void fftReference(const float* re, const float* im, double* outRe, double* outIm, int m);

}  // namespace asfw

#endif
