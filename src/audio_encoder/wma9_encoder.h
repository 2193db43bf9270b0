// Windows Media Audio 9 encoder (the standard codec, format tag 0x0161).
#ifndef ASFWRITER_AUDIO_ENCODER_WMA9_ENCODER_H
#define ASFWRITER_AUDIO_ENCODER_WMA9_ENCODER_H

#include "codec/media_encoder.h"

namespace asfw {

constexpr std::uint16_t kWma9FormatTag = 0x0161;

// One constant-bit-rate format the encoder produces exactly.
struct Wma9Format {
    int sampleRate;
    int channels;
    std::uint32_t avgBytesPerSec;       // bitrate / 8
    std::uint16_t blockAlign;           // bytes per packet
    std::vector<std::uint8_t> extra;    // the 10 codec bytes after WAVEFORMATEX
};

// The one-pass CBR formats, highest sample rate and bit rate first.
const std::vector<Wma9Format>& wma9CbrFormats();

// Null (with a reason in *error) unless the settings name one of the formats.
std::unique_ptr<MediaEncoder> createWma9Encoder(const AudioSettings& settings, std::string* error);

}  // namespace asfw

#endif
