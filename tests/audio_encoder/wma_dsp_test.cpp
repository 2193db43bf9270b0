// The fast MDCT against its direct definition, and the time-domain
// aliasing cancellation the codec relies on (sine windows, overlap-add).
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "dsp/mdct.h"

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
