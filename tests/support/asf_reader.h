// A small ASF reader for the tests: written apart from the muxer so that it
// checks the files rather than repeating the writer's mistakes.
//
//   asfw::test::asfread::AsfReader file;
//   ASSERT_TRUE(file.open(path)) << file.error();
//   file.fileProperties().playDuration;            // header fields
//   file.streams()[0].wave.blockAlign;             // per-stream formats
//   std::vector<Packet> packets; file.readPackets(packets);
//   std::vector<MediaObjectRead> objects; file.readMediaObjects(objects);
//   file.simpleIndexes()[0].entries[3].packet;     // indexes
//   auto problems = validate(file);                // empty when consistent
//
// All times are as stored: File Properties durations in 100 ns (with the
// preroll), payload presentation times in ms (with the preroll), send times
// in ms.
#ifndef ASFWRITER_TESTS_SUPPORT_ASF_READER_H
#define ASFWRITER_TESTS_SUPPORT_ASF_READER_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace asfw::test::asfread {

struct Guid {
    std::array<std::uint8_t, 16> bytes{};
    // "75B22630-668E-11CF-A6D9-00AA0062CE6C" (the first three groups are
    // stored little-endian in the file).
    static Guid parse(const std::string& text);
    std::string str() const;
    bool operator==(const Guid& o) const { return bytes == o.bytes; }
    bool operator!=(const Guid& o) const { return bytes != o.bytes; }
};

namespace guids {
extern const Guid header, data, simpleIndex, index;
extern const Guid fileProperties, streamProperties, headerExtension, codecList, contentDescription,
    extendedContentDescription, streamBitrateProperties, padding;
extern const Guid extendedStreamProperties, languageList, metadata, indexParameters;
extern const Guid audioMedia, videoMedia, audioSpread, noErrorCorrection;
}  // namespace guids

// A readable name for a known object GUID ("Header", "File Properties", ...)
// or the GUID text.
std::string objectName(const Guid& guid);

struct ObjectInfo {
    Guid guid;
    std::string name;
    std::uint64_t offset = 0;  // in the file
    std::uint64_t size = 0;    // as declared, header included
    std::vector<ObjectInfo> children;  // Header and Header Extension contents
};

struct FileProperties {
    Guid fileId;
    std::uint64_t fileSize = 0;
    std::uint64_t creationTime = 0;  // 100 ns since 1601
    std::uint64_t packets = 0;
    std::uint64_t playDuration = 0;  // 100 ns, preroll included
    std::uint64_t sendDuration = 0;  // 100 ns
    std::uint64_t prerollMs = 0;
    std::uint32_t flags = 0;
    std::uint32_t minPacketSize = 0;
    std::uint32_t maxPacketSize = 0;
    std::uint32_t maxBitrate = 0;
    std::uint64_t offset = 0;  // of the object, for tests that patch fields
    bool broadcast() const { return flags & 1; }
    bool seekable() const { return flags & 2; }
};

struct WaveFormat {
    std::uint16_t formatTag = 0, channels = 0;
    std::uint32_t sampleRate = 0, avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0, bitsPerSample = 0, extraSize = 0;
    std::vector<std::uint8_t> extra;
};

struct BitmapInfo {
    std::uint32_t size = 0;
    std::int32_t width = 0, height = 0;
    std::uint16_t planes = 0, bitCount = 0;
    std::uint32_t compression = 0;  // FourCC
    std::uint32_t imageSize = 0;
    std::vector<std::uint8_t> codecData;  // after the 40-byte record
};

struct AudioSpread {
    std::uint8_t span = 0;
    std::uint16_t virtualPacketLength = 0, virtualChunkLength = 0, silenceLength = 0;
    std::vector<std::uint8_t> silence;
};

struct StreamInfo {
    std::uint16_t number = 0;
    bool audio = false, video = false, encrypted = false;
    Guid type, errorCorrection;
    std::uint64_t timeOffset = 0;
    std::vector<std::uint8_t> typeSpecific, errorCorrectionData;
    WaveFormat wave;                // audio
    std::optional<AudioSpread> spread;  // audio with the Audio Spread type
    std::uint32_t encodedWidth = 0, encodedHeight = 0;  // video
    std::uint8_t reservedFlags = 0;
    std::uint16_t formatDataSize = 0;
    BitmapInfo bitmap;
};

struct ExtendedStreamInfo {
    std::uint64_t startTimeMs = 0, endTimeMs = 0;
    std::uint32_t bitrate = 0, bufferMs = 0, initialFullness = 0;
    std::uint32_t alternateBitrate = 0, alternateBufferMs = 0, alternateInitialFullness = 0;
    std::uint32_t maxObjectSize = 0, flags = 0;
    std::uint16_t number = 0, languageIndex = 0;
    std::uint64_t averageTimePerFrame = 0;  // 100 ns
    std::vector<std::u16string> names;
    std::uint16_t payloadExtensionCount = 0;
};

struct CodecEntry {
    std::uint16_t type = 0;  // 1 video, 2 audio
    std::u16string name, description;
    std::vector<std::uint8_t> info;
};

struct BitrateRecord {
    std::uint16_t stream = 0;
    std::uint32_t bitrate = 0;
};

struct IndexSpecifier {
    std::uint16_t stream = 0, type = 0;
};

struct IndexParameters {
    std::uint32_t intervalMs = 0;
    std::vector<IndexSpecifier> specifiers;
};

struct Payload {
    std::uint16_t stream = 0;
    bool keyFrame = false;
    std::uint32_t objectNumber = 0;
    std::uint32_t offset = 0;  // into the media object
    std::vector<std::uint8_t> replicated;
    std::uint32_t objectSize = 0;          // from replicated data (>= 8 bytes)
    std::uint32_t presentationTimeMs = 0;  // from replicated data, preroll included
    std::uint32_t length = 0;
    std::uint64_t dataOffset = 0;  // where the payload data sits in the file
    std::vector<std::uint8_t> data;  // filled when packets are read with data
};

struct Packet {
    std::uint64_t number = 0;
    std::uint64_t fileOffset = 0;
    std::uint8_t errorCorrectionFlags = 0;
    std::uint8_t lengthTypeFlags = 0, propertyFlags = 0;
    std::uint32_t packetLength = 0;  // explicit length field, 0 if absent
    std::uint32_t sequence = 0;
    std::uint32_t paddingLength = 0;
    std::uint32_t sendTimeMs = 0;
    std::uint16_t durationMs = 0;
    bool multiplePayloads = false;
    std::uint32_t endOfPayloads = 0;  // bytes used before the padding
    std::vector<Payload> payloads;
};

// A media object put together from its fragments.
struct MediaObjectRead {
    std::uint16_t stream = 0;
    std::uint32_t objectNumber = 0;
    std::uint32_t presentationTimeMs = 0;  // preroll included
    bool keyFrame = false;
    std::uint32_t size = 0;  // declared
    std::vector<std::uint8_t> data;
    std::uint64_t firstPacket = 0, lastPacket = 0;
    std::uint32_t fragments = 0;
    bool complete = false;
};

struct SimpleIndexRead {
    struct Entry {
        std::uint32_t packet = 0;
        std::uint16_t count = 0;
    };
    std::uint64_t offset = 0;
    Guid fileId;
    std::uint64_t interval = 0;  // 100 ns
    std::uint32_t maxPacketCount = 0;
    std::vector<Entry> entries;
};

struct IndexObjectRead {
    struct Block {
        std::vector<std::uint64_t> positions;             // per specifier
        std::vector<std::vector<std::uint32_t>> offsets;  // per entry, per specifier
    };
    std::uint64_t offset = 0;
    std::uint32_t intervalMs = 0;
    std::vector<IndexSpecifier> specifiers;
    std::vector<Block> blocks;
    std::size_t entryCount() const;
    // Byte offset from the first packet of entry `entry` for specifier
    // `specifier`, or nothing when the entry is invalid.
    std::optional<std::uint64_t> position(std::size_t entry, std::size_t specifier) const;
};

class AsfReader {
public:
    AsfReader() = default;
    ~AsfReader();
    AsfReader(const AsfReader&) = delete;
    AsfReader& operator=(const AsfReader&) = delete;

    // Parses the header and every top-level object (not the packets).
    bool open(const std::string& path);
    const std::string& error() const { return error_; }

    std::uint64_t fileSize() const { return fileSize_; }
    const std::vector<ObjectInfo>& objects() const { return objects_; }
    const FileProperties& fileProperties() const { return fileProperties_; }
    const std::vector<StreamInfo>& streams() const { return streams_; }
    const StreamInfo* stream(std::uint16_t number) const;
    const std::vector<ExtendedStreamInfo>& extendedStreams() const { return extendedStreams_; }
    const ExtendedStreamInfo* extendedStream(std::uint16_t number) const;
    const std::vector<CodecEntry>& codecs() const { return codecs_; }
    const std::vector<BitrateRecord>& bitrates() const { return bitrates_; }
    const std::optional<IndexParameters>& indexParameters() const { return indexParameters_; }
    std::uint32_t headerObjectCount() const { return headerObjectCount_; }  // as declared
    std::uint32_t headerExtensionDataSize() const { return headerExtensionDataSize_; }

    // The Data Object.
    bool hasData() const { return dataOffset_ != 0; }
    std::uint64_t dataObjectOffset() const { return dataOffset_; }
    std::uint64_t dataObjectSize() const { return dataSize_; }
    const Guid& dataFileId() const { return dataFileId_; }
    std::uint64_t dataPacketCount() const { return dataPackets_; }  // as declared
    std::uint64_t firstPacketOffset() const { return dataOffset_ + 50; }
    std::uint32_t packetSize() const { return fileProperties_.maxPacketSize; }
    // Whole packets present in the file (limited by the Data Object size
    // when it is set, else by the file's end).
    std::uint64_t packetsPresent() const;

    // One packet (0-based). Payload data is copied only with `withData`.
    bool readPacket(std::uint64_t number, Packet& packet, bool withData = false);
    bool readPackets(std::vector<Packet>& packets, bool withData = false);
    // Every media object, fragments joined, in the order their first
    // fragments appear.
    bool readMediaObjects(std::vector<MediaObjectRead>& objects);

    const std::vector<SimpleIndexRead>& simpleIndexes() const { return simpleIndexes_; }
    const std::optional<IndexObjectRead>& indexObject() const { return indexObject_; }

private:
    bool readAt(std::uint64_t offset, void* data, std::size_t size);
    bool fail(const std::string& message);
    bool parseHeader(std::uint64_t offset, std::uint64_t size, ObjectInfo& info);
    bool parseHeaderExtension(const std::vector<std::uint8_t>& body, std::uint64_t base, ObjectInfo& info);

    int fd_ = -1;
    std::string error_;
    std::uint64_t fileSize_ = 0;
    std::vector<ObjectInfo> objects_;
    FileProperties fileProperties_;
    bool haveFileProperties_ = false;
    std::vector<StreamInfo> streams_;
    std::vector<ExtendedStreamInfo> extendedStreams_;
    std::vector<CodecEntry> codecs_;
    std::vector<BitrateRecord> bitrates_;
    std::optional<IndexParameters> indexParameters_;
    std::uint32_t headerObjectCount_ = 0;
    std::uint32_t headerExtensionDataSize_ = 0;
    std::uint64_t dataOffset_ = 0, dataSize_ = 0, dataPackets_ = 0;
    Guid dataFileId_;
    std::vector<SimpleIndexRead> simpleIndexes_;
    std::optional<IndexObjectRead> indexObject_;
};

struct ValidateOptions {
    bool finished = true;       // a finished file: no broadcast flag, exact sizes and counts
    bool checkPackets = true;   // read every packet
    bool requireIndex = true;   // a finished file has a Simple Index per video stream
};

// Every inconsistency found, each as one readable line; empty when the file
// holds together (sizes, counts, File IDs, packet layout and padding, send
// order, preroll, fragments, audio block alignment, indexes, seekability).
std::vector<std::string> validate(AsfReader& file, const ValidateOptions& options = {});

// Little-endian field patching for tests that break files on purpose.
void patchU16(std::vector<std::uint8_t>& bytes, std::uint64_t at, std::uint16_t value);
void patchU32(std::vector<std::uint8_t>& bytes, std::uint64_t at, std::uint32_t value);
void patchU64(std::vector<std::uint8_t>& bytes, std::uint64_t at, std::uint64_t value);

}  // namespace asfw::test::asfread

#endif
