// Packet layout of the standard codec's CBR formats.
#ifndef ASFWRITER_AUDIO_ENCODER_WMA9_FORMATS_H
#define ASFWRITER_AUDIO_ENCODER_WMA9_FORMATS_H

#include <cstdint>
#include <vector>

#include "audio_encoder/wma9_encoder.h"

namespace asfw {

// Nominal frames per packet.
constexpr int kWmaFramesPerPacket = 2;

// Encode options: exponents by VLC (bit 0), bit reservoir (bit 1), variable
// block length (bit 2), block-size range 3 (bits 3-4: as many sizes as the
// frame length allows).
constexpr std::uint16_t kWmaEncodeOptions = 0x0001 | 0x0002 | 0x0004 | (3u << 3);

// log2 of the frame length at a sample rate (2048, 1024 or 512 samples).
int wmaFrameLengthBits(int sampleRate);

std::uint16_t wmaBlockAlignFor(int sampleRate, std::uint32_t avgBytesPerSec);

// The 10 bytes after WAVEFORMATEX: samples per block, encode options,
// super block align (little endian).
std::vector<std::uint8_t> wmaExtraBytes(int sampleRate, std::uint16_t blockAlign);

// The table row the settings name, or null.
const Wma9Format* findWma9Format(const AudioSettings& settings);

}  // namespace asfw

#endif
