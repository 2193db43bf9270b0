// The fast MDCT against its direct definition, and the time-domain
// aliasing cancellation the codec relies on (sine windows, overlap-add).
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "dsp/mdct.h"
#include "dsp/wma_fft.h"

namespace asfw {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(Mdct, MatchesTheDirectFormOnRandomAndExtremeInput)
{
    for (int n : {4, 16, 128, 256, 512, 1024, 2048}) {
        std::mt19937 rng(static_cast<unsigned>(n));
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<float> x(static_cast<std::size_t>(2 * n));
            for (std::size_t i = 0; i < x.size(); ++i) {
                if (kind == 0) x[i] = static_cast<float>(static_cast<int>(rng() % 65536) - 32768);
                else if (kind == 1) x[i] = (i & 1) ? 32767.f : -32768.f;
                else x[i] = i == x.size() / 3 ? 32767.f : 0.f;
            }
            std::vector<float> fast(static_cast<std::size_t>(n)), ref(static_cast<std::size_t>(n));
            Mdct m(n);
            m.forward(x.data(), fast.data());
            mdctReference(x.data(), ref.data(), n);
            double peak = 1;
            for (float v : ref) peak = std::max(peak, static_cast<double>(std::fabs(v)));
            for (int k = 0; k < n; ++k) ASSERT_NEAR(fast[static_cast<std::size_t>(k)], ref[static_cast<std::size_t>(k)], peak * 1e-5) << n << " " << k;
        }
    }
}

// Both builds of the FFT against the direct DFT, every size the encoder
// uses and the small ones where the stage layout changes (odd and even
// log2), on random, alternating full-scale and single-impulse input.
TEST(ComplexFft, BothBuildsMatchTheDirectTransform)
{
    for (int m : {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024}) {
        ComplexFft fft(m);
        std::mt19937 rng(static_cast<unsigned>(m) * 7u);
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<float> re(static_cast<std::size_t>(m)), im(re.size());
            for (std::size_t i = 0; i < re.size(); ++i) {
                if (kind == 0) {
                    re[i] = static_cast<float>(static_cast<int>(rng() % 65536) - 32768);
                    im[i] = static_cast<float>(static_cast<int>(rng() % 65536) - 32768);
                } else if (kind == 1) {
                    re[i] = (i & 1) ? 32767.f : -32768.f;
                    im[i] = (i & 2) ? -32768.f : 32767.f;
                } else {
                    re[i] = i == re.size() / 3 ? 32767.f : 0.f;
                    im[i] = 0.f;
                }
            }
            std::vector<double> refRe(re.size()), refIm(re.size());
            fftReference(re.data(), im.data(), refRe.data(), refIm.data(), m);
            std::vector<float> pr = re, pi = im, fr = re, fi = im;
            fft.forwardPlain(pr.data(), pi.data());
            fft.forward(fr.data(), fi.data());
            double peak = 1;
            for (std::size_t k = 0; k < re.size(); ++k) peak = std::max({peak, std::fabs(refRe[k]), std::fabs(refIm[k])});
            const std::vector<int>& rev = fft.bitReversed();
            for (int k = 0; k < m; ++k) {
                const std::size_t r = static_cast<std::size_t>(rev[static_cast<std::size_t>(k)]);
                const std::size_t kk = static_cast<std::size_t>(k);
                ASSERT_NEAR(pr[r], refRe[kk], peak * 2e-6) << m << " " << k;
                ASSERT_NEAR(pi[r], refIm[kk], peak * 2e-6) << m << " " << k;
                // The vectorised build may round differently (fused multiply-add).
                ASSERT_NEAR(fr[r], pr[r], peak * 1e-6) << m << " " << k;
                ASSERT_NEAR(fi[r], pi[r], peak * 1e-6) << m << " " << k;
            }
        }
    }
}

TEST(Mdct, PlainAndVectorisedBuildsAgree)
{
    for (int n : {4, 8, 64, 256, 2048}) {
        std::mt19937 rng(static_cast<unsigned>(n) + 1u);
        std::vector<float> x(static_cast<std::size_t>(2 * n));
        for (float& v : x) v = static_cast<float>(static_cast<int>(rng() % 65536) - 32768);
        std::vector<float> a(static_cast<std::size_t>(n)), b(a.size());
        Mdct m(n);
        m.forward(x.data(), a.data());
        m.forwardPlain(x.data(), b.data());
        double peak = 1;
        for (float v : b) peak = std::max(peak, static_cast<double>(std::fabs(v)));
        for (std::size_t k = 0; k < a.size(); ++k) ASSERT_NEAR(a[k], b[k], peak * 1e-6) << n << " " << k;
    }
}

TEST(Mdct, SineWindowedOverlapAddReconstructs)
{
    const int n = 256;
    std::mt19937 rng(3);
    std::vector<double> signal(static_cast<std::size_t>(6 * n));
    for (double& v : signal) v = static_cast<double>(static_cast<int>(rng() % 2001) - 1000);
    std::vector<double> out(signal.size(), 0.0);
    Mdct m(n);
    std::vector<float> in(static_cast<std::size_t>(2 * n)), coefs(static_cast<std::size_t>(n));
    for (int start = 0; start + 2 * n <= static_cast<int>(signal.size()); start += n) {
        for (int i = 0; i < 2 * n; ++i)
            in[static_cast<std::size_t>(i)] = static_cast<float>(signal[static_cast<std::size_t>(start + i)] * std::sin((i + 0.5) * kPi / (2 * n)));
        m.forward(in.data(), coefs.data());
        for (int i = 0; i < 2 * n; ++i) {
            double y = 0;
            for (int k = 0; k < n; ++k) y += coefs[static_cast<std::size_t>(k)] * std::cos(kPi / n * (i + 0.5 + n / 2.0) * (k + 0.5));
            out[static_cast<std::size_t>(start + i)] += y * 2.0 / n * std::sin((i + 0.5) * kPi / (2 * n));
        }
    }
    for (int i = n; i < 5 * n; ++i) ASSERT_NEAR(out[static_cast<std::size_t>(i)], signal[static_cast<std::size_t>(i)], 0.05) << i;
}

}  // namespace
}  // namespace asfw
