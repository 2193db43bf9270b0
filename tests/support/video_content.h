// Synthetic, natural-looking I420 video for encoder tests and benchmarks.
#ifndef ASFWRITER_TESTS_SUPPORT_VIDEO_CONTENT_H
#define ASFWRITER_TESTS_SUPPORT_VIDEO_CONTENT_H

#include <cstdint>
#include <string>
#include <vector>

namespace asfw::test {

enum class VideoPattern {
    Photo,     // a procedural "photograph" (sky, hills, textured ground, objects), panned and zoomed over time
    Noise,     // uniform random samples
    Gradient,  // smooth diagonal ramps, slowly moving
    Text,      // sharp dark glyph rows on a light page, scrolling
    Mixed,     // photo with a text banner and a noisy corner
};

const char* videoPatternName(VideoPattern pattern);

// One I420 frame (width*height*3/2 bytes), even sizes. Deterministic for a
// given (pattern, size, frame, seed).
std::vector<std::uint8_t> makeVideoFrame(VideoPattern pattern, int width, int height, int frame,
                                         std::uint32_t seed = 1);

// The sequence of frames written one after another.
std::vector<std::uint8_t> makeVideoClip(VideoPattern pattern, int width, int height, int frames,
                                        std::uint32_t seed = 1);

// Peak signal-to-noise ratio of two equally sized 8-bit buffers (dB; 99 when equal).
double psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t size);

// 64-bit FNV-1a.
std::uint64_t hashBytes(const std::uint8_t* data, std::size_t size);

}  // namespace asfw::test

#endif
