#include "dsp/mdct.h"

#include <cmath>

namespace asfw {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

Mdct::Mdct(int n) : n_(n), fft_(n / 2)
{
    const int m = n / 2;  // complex FFT length
    preRe_.resize(static_cast<std::size_t>(m));
    preIm_.resize(static_cast<std::size_t>(m));
    postRe_.resize(static_cast<std::size_t>(m));
    postIm_.resize(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) {
        preRe_[static_cast<std::size_t>(i)] = static_cast<float>(std::cos(-kPi * (i + 0.25) / n));
        preIm_[static_cast<std::size_t>(i)] = static_cast<float>(std::sin(-kPi * (i + 0.25) / n));
        postRe_[static_cast<std::size_t>(i)] = static_cast<float>(std::cos(-kPi * i / n));
        postIm_[static_cast<std::size_t>(i)] = static_cast<float>(std::sin(-kPi * i / n));
    }
    re_.resize(static_cast<std::size_t>(m));
    im_.resize(static_cast<std::size_t>(m));
}

void Mdct::forward(const float* in, float* out) { run(in, out, false); }

void Mdct::forwardPlain(const float* in, float* out) { run(in, out, true); }

void Mdct::run(const float* in, float* out, bool plain)
{
    const int n = n_;
    const int h = n / 2;
    // Fold the four quarters (a, b, c, d) into u = (-c_r - d, a - b_r): the
    // MDCT is then a DCT-IV of n points, computed through an n/2-point
    // complex FFT of z_i = (u[2i] + i u[n-1-2i]) rotated by e^{-i pi (i + 1/4)/n}.
    float* re = re_.data();
    float* im = im_.data();
    // u[j] = -in[3h-1-j] - in[3h+j] for j < h, in[j-h] - in[3h-1-j] for j >= h.
    // For i < h/2, 2i is in the first half and n-1-2i in the second; the
    // other way round after.
    for (int i = 0; i < h / 2; ++i) {
        const int a = 2 * i, b = n - 1 - 2 * i;
        const float ua = -in[3 * h - 1 - a] - in[3 * h + a];
        const float ub = in[b - h] - in[3 * h - 1 - b];
        const float pr = preRe_[static_cast<std::size_t>(i)], pi = preIm_[static_cast<std::size_t>(i)];
        re[i] = ua * pr - ub * pi;
        im[i] = ua * pi + ub * pr;
    }
    for (int i = h / 2; i < h; ++i) {
        const int a = 2 * i, b = n - 1 - 2 * i;
        const float ua = in[a - h] - in[3 * h - 1 - a];
        const float ub = -in[3 * h - 1 - b] - in[3 * h + b];
        const float pr = preRe_[static_cast<std::size_t>(i)], pi = preIm_[static_cast<std::size_t>(i)];
        re[i] = ua * pr - ub * pi;
        im[i] = ua * pi + ub * pr;
    }
    if (plain) fft_.forwardPlain(re, im);
    else fft_.forward(re, im);
    const std::vector<int>& rev = fft_.bitReversed();
    for (int k = 0; k < h; ++k) {
        const int r = rev[static_cast<std::size_t>(k)];
        const float yr = re[r], yi = im[r];
        const float pr = postRe_[static_cast<std::size_t>(k)], pi = postIm_[static_cast<std::size_t>(k)];
        out[2 * k] = yr * pr - yi * pi;
        out[n - 1 - 2 * k] = -(yr * pi + yi * pr);
    }
}

void mdctReference(const float* in, float* out, int n)
{
    for (int k = 0; k < n; ++k) {
        double s = 0;
        for (int i = 0; i < 2 * n; ++i) s += in[i] * std::cos(kPi / n * (i + 0.5 + n / 2.0) * (k + 0.5));
        out[k] = static_cast<float>(s);
    }
}

}  // namespace asfw
