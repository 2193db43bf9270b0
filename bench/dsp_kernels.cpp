// Micro-benchmark of the video kernels: time per call of each version the
// machine runs (plain reference, SSE2, AVX2), on one thread.
//
//   dsp_kernels [ITERATIONS]
//
// Prints "kernel version ns/call" (process CPU time per call). The encoder itself is measured by
// bench/vc1_inter_bench.sh; this shows where the time of one kernel goes.
#include "dsp/cpu_features.h"
#include "dsp/pixel_metrics.h"
#include "dsp/simd_variants.h"
#include "dsp/vc1_mc.h"
#include "dsp/vc1_transform.h"
#include "video_encoder/inter_block.h"

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

namespace {

volatile unsigned gSink;

constexpr int kStride = 1024 + 64;
constexpr int kRows = 96;

void report(const char* kernel, const char* version, long iterations, const std::function<unsigned(int)>& body)
{
    unsigned acc = 0;
    for (int i = 0; i < 1000; ++i) acc += body(i);  // warm up
    // Process CPU time: a busy machine's time slicing does not count.
    const std::clock_t t0 = std::clock();
    for (long i = 0; i < iterations; ++i) acc += body(static_cast<int>(i));
    const std::clock_t t1 = std::clock();
    gSink = acc;
    const double ns = 1e9 * static_cast<double>(t1 - t0) / CLOCKS_PER_SEC / static_cast<double>(iterations);
    std::printf("%-22s %-6s %8.1f ns\n", kernel, version, ns);
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace asfw;
    const long n = argc > 1 ? std::atol(argv[1]) : 2000000;
    std::mt19937 rng(1);
    std::vector<std::uint8_t> a(static_cast<std::size_t>(kStride) * kRows), b(a.size());
    for (auto& v : a) v = static_cast<std::uint8_t>(rng());
    for (auto& v : b) v = static_cast<std::uint8_t>(rng());
    // Block positions spread over the buffer (all in cache).
    auto pa = [&](int i) { return a.data() + 32 * kStride + 32 + (i * 16) % 1024; };
    auto pb = [&](int i) { return b.data() + 32 * kStride + 32 + (i * 16 + (i & 7)) % 1024; };
    alignas(32) std::uint8_t out[16 * 16];
    const bool avx2 = cpuFeatures().avx2;

    report("satd16x16", "ref", n / 8, [&](int i) { return satd16x16Ref(pa(i), kStride, pb(i), kStride); });
#if defined(__SSE2__)
    report("satd16x16", "sse2", n, [&](int i) { return simd::satd16x16Sse2(pa(i), kStride, pb(i), kStride); });
    report("sad16x16", "sse2", n, [&](int i) { return simd::sad16x16Sse2(pa(i), kStride, pb(i), kStride); });
#endif
#if ASFW_X86_DISPATCH
    if (avx2) {
        report("satd16x16", "avx2", n, [&](int i) { return simd::satd16x16Avx2(pa(i), kStride, pb(i), kStride); });
        report("sad16x16", "avx2", n, [&](int i) { return simd::sad16x16Avx2(pa(i), kStride, pb(i), kStride); });
    }
#endif
    report("sad16x16", "ref", n / 8, [&](int i) { return sad16x16Ref(pa(i), kStride, pb(i), kStride); });
    report("satd8x8", "ref", n / 8, [&](int i) { return satd8x8Ref(pa(i), kStride, pb(i), kStride); });
    report("satd8x8", "best", n, [&](int i) { return satd8x8(pa(i), kStride, pb(i), kStride); });
    report("sad8x8", "best", n, [&](int i) { return sad8x8(pa(i), kStride, pb(i), kStride); });

    for (int kind = 0; kind < 3; ++kind) {
        // One-direction horizontal, one-direction vertical, both.
        const int hf = kind == 1 ? 0 : 1, vf = kind == 0 ? 0 : 3;
        const char* name = kind == 0 ? "bicubic16 h" : (kind == 1 ? "bicubic16 v" : "bicubic16 hv");
        report(name, "ref", n / 8, [&](int i) {
            vc1LumaBicubic16Ref(out, 16, pb(i), kStride, hf, vf, i & 1);
            return static_cast<unsigned>(out[i & 255]);
        });
#if defined(__SSE2__)
        report(name, "sse2", n, [&](int i) {
            simd::vc1LumaBicubic16Sse2(out, 16, pb(i), kStride, hf, vf, i & 1);
            return static_cast<unsigned>(out[i & 255]);
        });
#endif
#if ASFW_X86_DISPATCH
        if (avx2)
            report(name, "avx2", n, [&](int i) {
                simd::vc1LumaBicubic16Avx2(out, 16, pb(i), kStride, hf, vf, i & 1);
                return static_cast<unsigned>(out[i & 255]);
            });
#endif
    }
    report("chroma8", "ref", n / 8, [&](int i) {
        vc1Chroma8Ref(out, 8, pb(i), kStride, 2, 6, i & 1);
        return static_cast<unsigned>(out[i & 63]);
    });
    report("chroma8", "best", n, [&](int i) {
        vc1Chroma8(out, 8, pb(i), kStride, 2, 6, i & 1);
        return static_cast<unsigned>(out[i & 63]);
    });

    // Residuals of a good prediction: the source plus small noise, so
    // that a few levels survive, as in coded inter blocks.
    std::vector<std::uint8_t> near(a.size());
    for (std::size_t k = 0; k < a.size(); ++k)
        near[k] = static_cast<std::uint8_t>(std::min(255, std::max(0, a[k] + static_cast<int>(rng() % 25) - 12)));
    auto pn = [&](int i) { return near.data() + (pa(i) - a.data()); };
    const vc1::PictureQuant q = vc1::makePictureQuant(vc1::QuantizerMode::Uniform, 4, false, true);
    vc1::InterBlock blk;
    for (int dense = 0; dense < 2; ++dense) {
        const char* name = dense ? "interResidual noise" : "interResidual coded";
        report(name, "ref", n / 8, [&](int i) {
            return static_cast<unsigned>(
                vc1::quantizeInterResidualRef(pa(i), kStride, dense ? pb(i) : pn(i), kStride, q, 0.25f, blk));
        });
        report(name, "best", n, [&](int i) {
            return static_cast<unsigned>(
                vc1::quantizeInterResidual(pa(i), kStride, dense ? pb(i) : pn(i), kStride, q, 0.25f, blk));
        });
    }
    std::int16_t coef[64];
    for (int best = 0; best < 2; ++best)
        report("inverse8x8", best ? "best" : "ref", best ? n : n / 8, [&](int i) {
            for (int k = 0; k < 64; ++k) coef[k] = static_cast<std::int16_t>(((k * 37 + i) & 255) - 128);
            if (best) vc1::inverseTransform8x8(coef);
            else vc1::inverseTransform8x8Ref(coef);
            return static_cast<unsigned>(coef[i & 63]);
        });
    float fc[64];
    for (int best = 0; best < 2; ++best)
        report("forward8x8 pixels", best ? "best" : "ref", best ? n : n / 8, [&](int i) {
            if (best) vc1::forwardTransform8x8(pa(i), kStride, fc);
            else vc1::forwardTransform8x8Ref(pa(i), kStride, fc);
            return static_cast<unsigned>(fc[i & 63]);
        });
    return 0;
}
