#include "dsp/cpu_features.h"

#include <cstdlib>
#include <cstring>

namespace asfw {

namespace {

CpuFeatures detect()
{
    CpuFeatures f;
#if ASFW_X86_DISPATCH
    __builtin_cpu_init();
    f.sse2 = __builtin_cpu_supports("sse2");
    f.ssse3 = __builtin_cpu_supports("ssse3");
    f.avx2 = __builtin_cpu_supports("avx2");
#endif
    if (const char* cap = std::getenv("ASFW_SIMD")) {
        if (std::strcmp(cap, "sse2") == 0) {
            f.ssse3 = false;
            f.avx2 = false;
        }
    }
    return f;
}

}  // namespace

const CpuFeatures& cpuFeatures()
{
    static const CpuFeatures features = detect();
    return features;
}

}  // namespace asfw
