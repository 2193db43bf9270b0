// A minimal container for decoding a raw WMA stream with FFmpeg: a RIFF
// WAVE file whose format chunk is WAVEFORMATEX (tag 0x0161) plus the
// codec's extra bytes, and whose data chunk holds the packets.
#ifndef ASFWRITER_TESTS_SUPPORT_AUDIO_WAV_H
#define ASFWRITER_TESTS_SUPPORT_AUDIO_WAV_H

#include <cstdint>
#include <string>
#include <vector>

namespace asfw::test {

struct WmaWavFormat {
    int sampleRate = 0;
    int channels = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::vector<std::uint8_t> extra;
};

bool writeWmaWav(const std::string& path, const WmaWavFormat& format, const std::vector<std::uint8_t>& packets,
                 std::uint32_t sampleFrames);

// Reads raw interleaved s16le samples.
std::vector<std::int16_t> readS16(const std::string& path);

}  // namespace asfw::test

#endif
