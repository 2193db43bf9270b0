#include "dsp/mdct.h"

#include <cmath>

namespace asfw {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

Mdct::Mdct(int n) : n_(n)
{
    const int m = n / 2;  // complex FFT length
    twiddle_.resize(static_cast<std::size_t>(m));
    post_.resize(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) {
        twiddle_[static_cast<std::size_t>(i)] = std::polar(1.0f, static_cast<float>(-kPi * (i + 0.25) / n));
        post_[static_cast<std::size_t>(i)] = std::polar(1.0f, static_cast<float>(-kPi * i / n));
    }
    fftTw_.resize(static_cast<std::size_t>(m / 2 > 0 ? m / 2 : 1));
    for (int i = 0; i < m / 2; ++i) fftTw_[static_cast<std::size_t>(i)] = std::polar(1.0f, static_cast<float>(-2.0 * kPi * i / m));
    bitrev_.resize(static_cast<std::size_t>(m));
    int bits = 0;
    while ((1 << bits) < m) ++bits;
    for (int i = 0; i < m; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            if (i & (1 << b)) r |= 1 << (bits - 1 - b);
        bitrev_[static_cast<std::size_t>(i)] = r;
    }
    fold_.resize(static_cast<std::size_t>(n));
    buf_.resize(static_cast<std::size_t>(m));
}

void Mdct::fft(std::complex<float>* a)
{
    const int m = n_ / 2;
    for (int i = 0; i < m; ++i) {
        const int r = bitrev_[static_cast<std::size_t>(i)];
        if (r > i) std::swap(a[i], a[r]);
    }
    for (int len = 2; len <= m; len <<= 1) {
        const int half = len / 2;
        const int step = m / len;
        for (int s = 0; s < m; s += len) {
            for (int j = 0; j < half; ++j) {
                const std::complex<float> t = a[s + j + half] * fftTw_[static_cast<std::size_t>(j * step)];
                a[s + j + half] = a[s + j] - t;
                a[s + j] += t;
            }
        }
    }
}

void Mdct::forward(const float* in, float* out)
{
    const int n = n_;
    const int h = n / 2;
    // Fold the four quarters (a, b, c, d) into (-c_r - d, a - b_r): the
    // MDCT is then a DCT-IV of n points.
    for (int i = 0; i < h; ++i) {
        fold_[static_cast<std::size_t>(i)] = -in[3 * h - 1 - i] - in[3 * h + i];
        fold_[static_cast<std::size_t>(h + i)] = in[i] - in[n - 1 - i];
    }
    // DCT-IV through an n/2-point complex FFT.
    for (int i = 0; i < h; ++i) {
        const std::complex<float> z(fold_[static_cast<std::size_t>(2 * i)], fold_[static_cast<std::size_t>(n - 1 - 2 * i)]);
        buf_[static_cast<std::size_t>(i)] = z * twiddle_[static_cast<std::size_t>(i)];
    }
    fft(buf_.data());
    for (int k = 0; k < h; ++k) {
        const std::complex<float> y = buf_[static_cast<std::size_t>(k)] * post_[static_cast<std::size_t>(k)];
        out[2 * k] = y.real();
        out[n - 1 - 2 * k] = -y.imag();
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
