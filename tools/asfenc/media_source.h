// What the host delivers to the writer: video frames (I420) and audio
// blocks (48 kHz stereo 16-bit PCM), from files or generated.
#ifndef ASFENC_MEDIA_SOURCE_H
#define ASFENC_MEDIA_SOURCE_H

#include <cstdint>
#include <string>
#include <vector>

namespace asfenc {

enum class ReadResult {
    Ok,         // one frame or block was read
    End,        // the input ended cleanly
    Truncated,  // the input ended inside a frame, block or header
    Invalid,    // the input is not what it claims to be
    IoError,    // reading failed
};

struct VideoFormat {
    int width = 0;
    int height = 0;
    int fpsNum = 0;  // frames per fpsDen seconds
    int fpsDen = 0;
    // Bytes of one I420 frame.
    std::size_t frameBytes() const
    {
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        return w * h + 2 * ((w / 2) * (h / 2));
    }
};

class VideoSource {
public:
    virtual ~VideoSource() = default;
    virtual const VideoFormat& format() const = 0;
    // Fills `frame` (resized to format().frameBytes()) with the next frame.
    // On anything but Ok, `error` says what happened (except at End).
    virtual ReadResult next(std::vector<std::uint8_t>& frame, std::string& error) = 0;
    // Starts again at the first frame (for a second pass); false when the
    // input cannot be read twice.
    virtual bool restart(std::string& error) = 0;
};

// 48 kHz stereo interleaved signed 16-bit PCM, handed out in blocks.
class AudioSource {
public:
    static constexpr int kRate = 48000;
    static constexpr int kChannels = 2;
    static constexpr std::size_t kBlockBytes = 1920;  // 10 ms
    virtual ~AudioSource() = default;
    // Fills `block` with the next kBlockBytes bytes, or fewer (a whole number
    // of sample frames) for the last block.
    virtual ReadResult next(std::vector<std::uint8_t>& block, std::string& error) = 0;
    // Sample frames handed out so far.
    virtual std::uint64_t framesDelivered() const = 0;
};

}  // namespace asfenc

#endif
