// Audio input: RIFF/RF64 WAVE files holding integer PCM (8, 16, 24, 32 bit)
// or IEEE float (32, 64 bit), plain or WAVE_FORMAT_EXTENSIBLE, 1 to 8
// channels at any rate.
#ifndef ASFENC_WAV_READER_H
#define ASFENC_WAV_READER_H

#include "byte_input.h"
#include "media_source.h"

namespace asfenc {

constexpr int kMaxWavChannels = 8;
constexpr int kMinWavRate = 1000;
constexpr int kMaxWavRate = 768000;

struct WavFormat {
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;  // container bits: 8, 16, 24, 32 or 64
    bool isFloat = false;
    std::uint32_t channelMask = 0;  // speaker positions; 0 when the file gives none
    int blockAlign = 0;            // bytes per sample frame
    bool lengthKnown = false;      // false when the data chunk runs to the end of the input
    std::uint64_t dataBytes = 0;   // when lengthKnown
};

class WavReader {
public:
    explicit WavReader(ByteInput& input) : input_(input) {}

    // Reads the chunks up to the start of the sample data.
    ReadResult readHeader(std::string& error);
    const WavFormat& format() const { return format_; }

    // Reads up to `maxFrames` sample frames into `samples` as interleaved
    // floats (nominally -1..1, float input held within +-1000, not-a-number
    // as 0; in the file's channel order). Returns Ok with
    // the frames read (all whole frames come out first), then End once the
    // data is used up, or Truncated when the data stopped before its
    // declared length or inside a sample frame.
    ReadResult read(std::vector<float>& samples, std::size_t maxFrames, std::size_t& frames, std::string& error);

    std::uint64_t framesRead() const { return framesRead_; }

private:
    ReadResult parseFormat(const std::vector<std::uint8_t>& chunk, std::string& error);
    ReadResult finish(std::string& error);

    ByteInput& input_;
    WavFormat format_;
    std::uint64_t remaining_ = 0;  // data bytes left when the length is known
    std::uint64_t framesRead_ = 0;
    bool finished_ = false;
    ReadResult pending_ = ReadResult::End;  // what the call after the last frames reports
    std::string pendingError_;
    std::vector<std::uint8_t> raw_;
};

}  // namespace asfenc

#endif
