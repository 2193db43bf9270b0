// The built-in demonstration: a moving test pattern (colour bars, moving
// shapes, a frame counter, a flash each second) and a tone with a pip each
// second, in step with the flash.
#ifndef ASFENC_DEMO_SOURCE_H
#define ASFENC_DEMO_SOURCE_H

#include "media_source.h"

namespace asfenc {

class DemoVideo final : public VideoSource {
public:
    // 640x480 at 30000/1001 frames per second; `frames` of them.
    explicit DemoVideo(int frames = 300);
    const VideoFormat& format() const override { return format_; }
    ReadResult next(std::vector<std::uint8_t>& frame, std::string& error) override;
    bool restart(std::string& error) override;

    // Draws frame `index` into `frame` (I420, format().frameBytes() bytes).
    void draw(int index, std::uint8_t* frame);

private:
    VideoFormat format_;
    int frames_;
    int index_ = 0;
    std::vector<std::uint8_t> y_, u_, v_;  // full-resolution planes before chroma subsampling
};

class DemoAudio final : public AudioSource {
public:
    // `frames` sample frames at 48 kHz.
    explicit DemoAudio(std::uint64_t frames);
    ReadResult next(std::vector<std::uint8_t>& block, std::string& error) override;
    std::uint64_t framesDelivered() const override { return delivered_; }

private:
    std::uint64_t frames_;
    std::uint64_t delivered_ = 0;
};

// Sample frames of audio that last as long as `videoFrames` demo frames.
std::uint64_t demoAudioFrames(int videoFrames);

}  // namespace asfenc

#endif
