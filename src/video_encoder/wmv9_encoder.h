// Windows Media Video 9 encoder (VC-1 Main profile, FourCC WMV3).
#ifndef ASFWRITER_VIDEO_ENCODER_WMV9_ENCODER_H
#define ASFWRITER_VIDEO_ENCODER_WMV9_ENCODER_H

#include "codec/media_encoder.h"

namespace asfw {

// The 4-byte sequence header the encoder writes for these settings (the
// codec data stored after the BITMAPINFOHEADER).
std::vector<std::uint8_t> wmv9SequenceHeader(const VideoSettings& settings);

// Null (with a reason in *error) when the settings cannot be encoded.
std::unique_ptr<MediaEncoder> createWmv9Encoder(const VideoSettings& settings, std::string* error);

// Complexity levels the codec reports: live, offline default, maximum.
constexpr int kWmv9ComplexityLive = 0;
constexpr int kWmv9ComplexityOffline = 3;
constexpr int kWmv9ComplexityMax = 5;

}  // namespace asfw

#endif
