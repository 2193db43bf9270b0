// Which vector instruction sets the running machine offers, detected once.
// The plain SSE2 (x86-64 baseline) and portable versions of the kernels are
// always built; wider versions are compiled per function for their target
// and chosen at run time from these flags.
//
// ASFW_SIMD=sse2 in the environment caps the choice at the baseline, so
// that the narrower paths can be measured and tested on a machine with
// wider ones.
#ifndef ASFWRITER_DSP_CPU_FEATURES_H
#define ASFWRITER_DSP_CPU_FEATURES_H

namespace asfw {

struct CpuFeatures {
    bool sse2 = false;
    bool ssse3 = false;
    bool avx2 = false;
};

// The features the kernels may use (after the ASFW_SIMD cap).
const CpuFeatures& cpuFeatures();

}  // namespace asfw

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ASFW_X86_DISPATCH 1
#define ASFW_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define ASFW_X86_DISPATCH 0
#endif

#endif
