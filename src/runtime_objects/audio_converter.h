// Converts the PCM a writer input delivers (8- or 16-bit, 1 or 2 channels,
// any common rate) into the interleaved 16-bit PCM the audio stream
// encodes: channel up/down-mix, then sample-rate conversion with libsoxr.
// Works as a stream: input may arrive in blocks of any byte count.
#ifndef ASFWRITER_RUNTIME_OBJECTS_AUDIO_CONVERTER_H
#define ASFWRITER_RUNTIME_OBJECTS_AUDIO_CONVERTER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace asfw::rt {

struct PcmFormat {
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 16;
};

class AudioConverter {
public:
    // Null (with a reason) for formats it cannot convert.
    static std::unique_ptr<AudioConverter> create(const PcmFormat& input, const PcmFormat& output,
                                                  std::string* error);
    ~AudioConverter();
    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;

    // Appends the output samples (interleaved s16) that `size` more input
    // bytes yield. A trailing partial input frame is kept for the next call.
    bool push(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>* out);
    // End of input: appends what the resampler still holds.
    bool drain(std::vector<std::int16_t>* out);

    const std::string& error() const { return error_; }

private:
    AudioConverter() = default;
    bool resample(const float* in, std::size_t frames, std::vector<std::int16_t>* out);

    PcmFormat in_;
    PcmFormat out_;
    void* soxr_ = nullptr;  // null when the rates match
    std::vector<std::uint8_t> carry_;
    std::vector<float> mixed_;
    std::vector<float> resampled_;
    std::string error_;
};

}  // namespace asfw::rt

#endif
