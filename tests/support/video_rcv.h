// Raw VC-1 Simple/Main streams in the SMPTE 421M Annex L "RCV" test
// bitstream layout (FFmpeg reads it as "vc1test"), and decoding them with
// FFmpeg to raw I420 for bit-exact comparison.
#ifndef ASFWRITER_TESTS_SUPPORT_VIDEO_RCV_H
#define ASFWRITER_TESTS_SUPPORT_VIDEO_RCV_H

#include <cstdint>
#include <string>
#include <vector>

namespace asfw::test {

struct RcvFrame {
    std::vector<std::uint8_t> data;
    bool keyFrame = true;
    std::uint32_t timeMs = 0;
};

// The file: 24-bit frame count, 0xC5, 4, the 4-byte sequence header,
// height, width, 12, 8 bytes of level/HRD fields, frame rate, then each
// frame as 24-bit size | key flag, 32-bit time stamp, data.
std::vector<std::uint8_t> makeRcv(const std::vector<std::uint8_t>& sequenceHeader, int width, int height,
                                  const std::vector<RcvFrame>& frames, std::uint32_t framesPerSecond = 25);

struct DecodeResult {
    bool ran = false;                               // ffmpeg ran and exited 0
    std::string errors;                             // its standard error
    std::vector<std::vector<std::uint8_t>> frames;  // I420, one per decoded frame
};

// ffmpeg -v error -err_detect explode -i <file> -f rawvideo
// -pix_fmt yuv420p -fps_mode passthrough ; split into frames. `errors`
// holds every message except the demuxer's end-of-file EIO line.
DecodeResult ffmpegDecodeI420(const std::string& file, int width, int height);

// First differing sample of two I420 frames, as "plane (x,y) a vs b";
// empty when equal.
std::string firstI420Difference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, int width,
                                int height);

}  // namespace asfw::test

#endif
