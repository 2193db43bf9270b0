// Block distortion measures for motion search and mode decisions: sums of
// absolute differences (SAD) and of absolute Hadamard-transformed
// differences (SATD). Plain references and vectorised versions (SSE2 where
// the compiler targets it) give identical results.
#ifndef ASFWRITER_DSP_PIXEL_METRICS_H
#define ASFWRITER_DSP_PIXEL_METRICS_H

#include <cstdint>

namespace asfw {

unsigned sad16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned sad8x8Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
// SATD: 8x8 Hadamard transform of the difference, sum of magnitudes, halved
// (so it is on the scale of a SAD).
unsigned satd8x8Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned satd16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);

unsigned sad16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned sad8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned satd8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned satd16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);

// SAD of `a` against the rounded-up average of blocks `b` and `c`
// (half-sample estimates in fast motion searches).
unsigned sadAvg16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride);
unsigned sadAvg16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, const std::uint8_t* c, int bStride);

// Sums of squared differences (reconstruction error).
unsigned ssd16x16Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned ssd8x8Ref(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned ssd16x16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);
unsigned ssd8x8(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride);

// Name of the implementation the dispatching versions use ("sse2", "c").
const char* pixelMetricsImplementation();

}  // namespace asfw

#endif
