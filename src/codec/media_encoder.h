// The seam between the built-in runtime's writer and its encoders.
//
// An encoder is configured from the stream's settings, reports the codec
// data the container stores for the stream, takes raw input with its time
// and hands back compressed media objects. It knows nothing of the
// container; the container knows nothing of the codec.
#ifndef ASFWRITER_CODEC_MEDIA_ENCODER_H
#define ASFWRITER_CODEC_MEDIA_ENCODER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace asfw {

// One compressed media object (a video frame, or whole audio blocks).
struct MediaObject {
    std::vector<std::uint8_t> data;
    std::int64_t presentationTime = 0;  // 100 ns, from the start of the stream
    std::int64_t duration = 0;          // 100 ns
    bool keyFrame = false;
};

using MediaObjects = std::vector<MediaObject>;

// Video stream settings, as the stream configuration and its property
// vault describe them.
struct VideoSettings {
    int width = 0;                        // even, > 0
    int height = 0;                       // even, > 0
    std::int64_t frameDuration = 0;       // 100 ns (AvgTimePerFrame), > 0
    std::uint32_t bitrate = 0;            // bit/s of the stream
    std::uint32_t bufferWindowMs = 3000;  // leaky bucket window
    std::int64_t maxKeyFrameSpacing = 0;  // 100 ns; 0 = encoder's choice
    int complexity = 3;                   // 0 (fastest) .. 5 (best)
    bool vbr = false;                     // variable bit rate
    std::uint32_t passes = 1;             // 1, or 2 for the pre-processed modes
    std::uint32_t vbrQuality = 0;         // 1..100 with one-pass VBR
    std::uint32_t peakBitrate = 0;        // "_RMAX" in bit/s, 0 = none
    std::uint32_t peakBufferMs = 0;       // "_BMAX" in ms, 0 = none
};

// Audio stream settings: the stream's encoded format. The runtime converts
// whatever the input delivers into interleaved 16-bit PCM at this rate and
// channel count before it reaches the encoder.
struct AudioSettings {
    int sampleRate = 0;
    int channels = 0;
    std::uint32_t avgBytesPerSec = 0;  // exact byte rate of the stream
    std::uint16_t blockAlign = 0;      // every payload is a whole number of these
};

class MediaEncoder {
public:
    virtual ~MediaEncoder() = default;

    // Bytes the container stores after the stream's format record
    // (the video sequence header, or the audio format's extra bytes).
    virtual std::vector<std::uint8_t> codecData() const = 0;

    // Pre-processing pass: look at one input unit (video: one I420 frame).
    // Returns false on input the encoder cannot take.
    virtual bool analyse(const std::uint8_t* data, std::size_t size, std::int64_t time) = 0;
    // End of the pre-processing pass; the real pass may use what it learned.
    virtual void endAnalysis() = 0;

    // Real pass: take one input unit (video: one I420 frame of exactly
    // width*height*3/2 bytes; audio: any number of whole sample frames of
    // interleaved s16) stamped with its time in 100 ns, append finished
    // media objects to `out`. Returns false on input it cannot take; then
    // nothing is appended and the encoder's state is unchanged.
    virtual bool encode(const std::uint8_t* data, std::size_t size, std::int64_t time, MediaObjects& out) = 0;

    // End of stream: append whatever is still buffered.
    virtual bool flush(MediaObjects& out) = 0;

    // Last error, for diagnostics.
    virtual std::string lastError() const { return {}; }
};

}  // namespace asfw

#endif
