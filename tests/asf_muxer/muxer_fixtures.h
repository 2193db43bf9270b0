// A trivial test encoder and stream descriptions for the muxer tests.
#ifndef ASFWRITER_TESTS_ASF_MUXER_MUXER_FIXTURES_H
#define ASFWRITER_TESTS_ASF_MUXER_MUXER_FIXTURES_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "asf_muxer/asf_muxer.h"

namespace asfw::test {

// A WMV3-style video stream: BITMAPINFOHEADER + 4 bytes of codec data.
asf::StreamDescription videoStream(std::uint16_t number, std::uint32_t width = 320, std::uint32_t height = 240,
                                   std::uint32_t bitrate = 500'000, std::uint32_t windowMs = 3000);
// A 0x0161-style audio stream: WAVEFORMATEX + 10 extra bytes.
asf::StreamDescription audioStream(std::uint16_t number, std::uint16_t blockAlign = 742,
                                   std::uint32_t bitrate = 64'000, std::uint32_t windowMs = 3000,
                                   std::uint32_t sampleRate = 44100);

// Synthetic frames: sizes vary (big key frames), content is a counter
// pattern so the reader can prove the bytes came back in order.
std::vector<MediaObject> syntheticVideo(int frames, std::int64_t frameDuration = 400'000, int keyEvery = 25,
                                        std::uint32_t baseSize = 2000, std::uint32_t seed = 1);
// Synthetic audio objects of `blocksPerObject` blocks each, spanning
// `objectDuration` (100 ns).
std::vector<MediaObject> syntheticAudio(int objects, std::uint16_t blockAlign = 742, int blocksPerObject = 1,
                                        std::int64_t objectDuration = 464'399, std::uint32_t seed = 2);

struct Delivery {
    std::uint16_t stream;
    MediaObject object;
};
// Interleaves per-stream object lists by time (the usual host order).
std::vector<Delivery> interleave(const std::vector<std::pair<std::uint16_t, std::vector<MediaObject>>>& streams);

// Writes a whole file; false with *error on any failure.
bool muxFile(const std::string& path, const std::vector<asf::StreamDescription>& streams,
             const std::vector<Delivery>& deliveries, asf::MuxerOptions options = {}, std::string* error = nullptr);

// Real, decodable streams for the tool checks: encodes `seconds` of a test
// picture (FFmpeg's wmv2, key frame every `gop` frames) and/or a tone
// (wmav2) with ffmpeg into `work`/source.asf, reads it back with the test
// reader and returns its streams and media objects (times without the
// source's preroll), ready to be written again by our muxer.
struct RemuxSource {
    std::vector<asf::StreamDescription> streams;
    std::vector<Delivery> deliveries;
    std::string error;
};
RemuxSource realStreams(const std::string& work, bool video, bool audio, double seconds = 4, int gop = 25);

// A sink in memory. With failAtCall > 0, that call (counting write,
// writeAt and flush together, from 1) and every later one fail, as a full
// disk would.
class MemorySink : public asf::ByteSink {
public:
    explicit MemorySink(std::shared_ptr<std::vector<std::uint8_t>> bytes, int failAtCall = 0)
        : bytes_(std::move(bytes)), failAt_(failAtCall)
    {
    }
    bool write(const void* data, std::size_t size) override;
    bool writeAt(std::uint64_t offset, const void* data, std::size_t size) override;
    std::uint64_t size() const override { return bytes_->size(); }
    bool flush() override { return call(); }
    std::string error() const override { return failed_ ? "simulated write failure" : ""; }
    int calls() const { return calls_; }

private:
    bool call();
    std::shared_ptr<std::vector<std::uint8_t>> bytes_;
    int failAt_;
    int calls_ = 0;
    bool failed_ = false;
};

}  // namespace asfw::test

#endif
