// ASF muxer: header objects, fixed-size data packets, indexes.
//
// The muxer takes compressed media objects per stream (in presentation
// order within a stream, in any order across streams), orders them by send
// time, packetises them and writes the file through a ByteSink. It knows
// no codec: a stream is described by its format record and figures.
#ifndef ASFWRITER_ASF_MUXER_ASF_MUXER_H
#define ASFWRITER_ASF_MUXER_ASF_MUXER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/media_encoder.h"

namespace asfw::asf {

// Where the file's bytes go. Every call reports failure (disk full, file
// removed) instead of ignoring it.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool write(const void* data, std::size_t size) = 0;                        // append at the end
    virtual bool writeAt(std::uint64_t offset, const void* data, std::size_t size) = 0;  // patch in place
    virtual std::uint64_t size() const = 0;                                             // bytes appended so far
    virtual bool flush() = 0;
    virtual std::string error() const = 0;
};

// A sink on a new file at `path` (UTF-8 file-system path). Null with a
// reason in *error if the file cannot be created.
std::unique_ptr<ByteSink> createFileSink(const std::string& path, std::string* error);

struct StreamDescription {
    std::uint16_t number = 0;  // 1..127
    bool audio = false;        // audio or video
    // Audio: the WAVEFORMATEX record with its extra bytes.
    // Video: the BITMAPINFOHEADER followed by the codec data.
    std::vector<std::uint8_t> format;
    std::uint32_t width = 0;        // video
    std::uint32_t height = 0;       // video
    std::uint16_t blockAlign = 0;   // audio: payloads are whole multiples of it
    std::uint32_t bitrate = 0;      // average bit/s
    std::uint32_t bufferWindowMs = 0;
    std::uint32_t peakBitrate = 0;  // 0 = same as bitrate
    std::uint32_t peakBufferMs = 0; // buffer of the peak figures, 0 = bufferWindowMs
    // A variable-rate stream with no set average (quality-driven): the
    // finished header carries the measured average instead of `bitrate`.
    bool measureBitrate = false;
    std::int64_t averageTimePerFrame = 0;  // 100 ns, video
    std::u16string name;            // stream name
    std::u16string codecName;       // for the Codec List
    std::u16string codecDescription;
    std::uint16_t codecId = 0;      // audio format tag for the Codec List
    std::uint32_t fourCC = 0;       // video FourCC for the Codec List
};

struct MuxerOptions {
    std::uint32_t packetSize = 0;                    // 0 = the muxer's choice
    std::int64_t prerollMs = -1;                     // -1 = the largest buffer window
    std::size_t memoryWindowBytes = 16u << 20;       // beyond this, queued objects spill to disk
    std::string spillPath;                           // temporary file for spilled objects (removed after)
    std::uint64_t creationTime = 0;                  // 100 ns since 1601; 0 = now
};

class Muxer {
public:
    Muxer(std::unique_ptr<ByteSink> sink, MuxerOptions options);
    ~Muxer();
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;

    // Before begin(). False for a duplicate or invalid stream number.
    bool addStream(const StreamDescription& stream);
    // Writes the header (its sizes and counts are patched by finish()).
    bool begin();
    // Queues one media object of a stream; writes whole packets as soon as
    // the send order allows. False when the write fails or the object is
    // invalid (then the stream's state is unchanged).
    bool write(std::uint16_t streamNumber, MediaObject object);
    // Marks a stream as finished (no more objects): lets the other streams'
    // packets go out without waiting for it.
    bool endStream(std::uint16_t streamNumber);
    // Writes what is queued, the indexes, and patches the header.
    bool finish();

    const std::string& error() const;

    // Figures of what was written so far (for reports and rate checks).
    struct StreamStats {
        std::uint64_t objects = 0;
        std::uint64_t payloadBytes = 0;
        std::int64_t lastEndTime = 0;  // 100 ns
    };
    StreamStats stats(std::uint16_t streamNumber) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace asfw::asf

#endif
