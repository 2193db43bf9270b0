// Video input: YUV4MPEG2 streams with 4:2:0 chroma, and raw I420 frames.
#ifndef ASFENC_Y4M_READER_H
#define ASFENC_Y4M_READER_H

#include "byte_input.h"
#include "media_source.h"

#include <memory>

namespace asfenc {

// Largest width or height accepted from any input.
constexpr int kMaxDimension = 16384;

class Y4mReader final : public VideoSource {
public:
    explicit Y4mReader(ByteInput& input) : input_(input) {}
    // Reads the stream header. `magicRead` is true when the caller has
    // already consumed the 9 bytes "YUV4MPEG2". A stream without a frame
    // rate gets fpsNum = fpsDen = 0.
    ReadResult readHeader(std::string& error, bool magicRead = false);

    const VideoFormat& format() const override { return format_; }
    ReadResult next(std::vector<std::uint8_t>& frame, std::string& error) override;
    bool restart(std::string& error) override;

    // The colour space tag as written ("420jpeg" when the stream gives none).
    const std::string& chroma() const { return chroma_; }
    bool interlaced() const { return interlaced_; }
    // Replaces the stream's frame rate (kept across restart()).
    void setFrameRate(int num, int den)
    {
        format_.fpsNum = num;
        format_.fpsDen = den;
    }

private:
    ReadResult readLine(std::string& line, std::size_t limit, std::string& error, const char* what);

    ByteInput& input_;
    VideoFormat format_;
    std::string chroma_;
    bool interlaced_ = false;
    std::uint64_t frames_ = 0;
};

class RawI420Reader final : public VideoSource {
public:
    // `prefix` holds bytes the caller already took from the input (they
    // start the first frame).
    RawI420Reader(ByteInput& input, const VideoFormat& format, std::vector<std::uint8_t> prefix = {})
        : input_(input), format_(format), prefix_(std::move(prefix)) {}

    const VideoFormat& format() const override { return format_; }
    ReadResult next(std::vector<std::uint8_t>& frame, std::string& error) override;
    bool restart(std::string& error) override;

private:
    ByteInput& input_;
    VideoFormat format_;
    std::vector<std::uint8_t> prefix_;
    std::uint64_t frames_ = 0;
};

// Checks a picture size the writer can take: both even, 2..kMaxDimension.
bool validPictureSize(int width, int height, std::string& error);

// Opens `input` as a video stream: YUV4MPEG2 when it starts with the
// stream's signature, otherwise raw I420 when `rawFormat` has a size (and
// frame rate). Returns Ok and the source, or another result with a message.
ReadResult openVideo(ByteInput& input, const VideoFormat& rawFormat, std::unique_ptr<VideoSource>& source,
                     std::string& error);

}  // namespace asfenc

#endif
