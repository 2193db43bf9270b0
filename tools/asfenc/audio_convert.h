// Turns a WAV file's samples into the 48 kHz stereo 16-bit PCM the writer
// takes: down- or up-mix to two channels, resample (libsoxr), round to
// 16 bits, and hand out 10 ms blocks.
#ifndef ASFENC_AUDIO_CONVERT_H
#define ASFENC_AUDIO_CONVERT_H

#include "media_source.h"
#include "wav_reader.h"

#include <deque>

namespace asfenc {

// Weights of each input channel in the left and right output.
struct StereoMix {
    std::vector<float> left;
    std::vector<float> right;
};

// Mono goes to both sides unchanged; stereo stays as it is; more channels
// are folded down by their speaker positions (`mask`, or the usual layout
// for the channel count when it is 0), centre and surrounds at -3 dB, the
// low-frequency channel dropped, each side scaled so it cannot exceed full
// scale.
StereoMix stereoMixFor(int channels, std::uint32_t mask);

// Rounds a nominal -1..1 sample to 16 bits, clipping.
std::int16_t toPcm16(float sample);

class WavAudioSource final : public AudioSource {
public:
    // `reader` must have read its header.
    explicit WavAudioSource(WavReader& reader);
    ~WavAudioSource() override;
    WavAudioSource(const WavAudioSource&) = delete;
    WavAudioSource& operator=(const WavAudioSource&) = delete;

    // False (with a message) when the resampler cannot be set up.
    bool ready(std::string& error) const;

    ReadResult next(std::vector<std::uint8_t>& block, std::string& error) override;
    std::uint64_t framesDelivered() const override { return delivered_; }

private:
    void pull();  // reads and converts more input into pending_
    void emit(const float* stereo, std::size_t frames);

    WavReader& reader_;
    StereoMix mix_;
    void* resampler_ = nullptr;  // soxr_t, kept out of this header
    std::string setupError_;
    std::vector<float> in_, stereo_, resampled_;
    std::deque<std::int16_t> pending_;  // converted samples not yet handed out
    bool inputDone_ = false;
    ReadResult endResult_ = ReadResult::End;
    std::string endError_;
    std::uint64_t delivered_ = 0;
};

}  // namespace asfenc

#endif
