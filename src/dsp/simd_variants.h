// The per-instruction-set versions behind the dispatching kernels, named so
// that the tests can hold each one against its plain reference (call them
// only when cpuFeatures() reports their instruction set).
#ifndef ASFWRITER_DSP_SIMD_VARIANTS_H
#define ASFWRITER_DSP_SIMD_VARIANTS_H

#include "dsp/cpu_features.h"

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
namespace asfw::simd {

unsigned sad16x16Sse2(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned satd16x16Sse2(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned sadAvg16x16Sse2(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride);
void vc1LumaBicubic16Sse2(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride,
                          int hFrac, int vFrac, int rnd);

}  // namespace asfw::simd
#endif

#if ASFW_X86_DISPATCH
namespace asfw::simd {

unsigned sad16x16Avx2(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned satd16x16Avx2(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned sadAvg16x16Avx2(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride);
unsigned satdAvg16x16Avx2(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c,
                          int bStride);

void vc1LumaBicubic16Avx2(std::uint8_t* dst, int dstStride, const std::uint8_t* src, std::ptrdiff_t srcStride,
                          int hFrac, int vFrac, int rnd);
void vc1Chroma8x2Avx2(std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride, const std::uint8_t* srcCb,
                      const std::uint8_t* srcCr, std::ptrdiff_t srcStride, int fx, int fy, int rnd);

}  // namespace asfw::simd
#endif

#endif
