// The file's objects. Each knows its size and writes itself; values that
// are only known at the end (sizes, counts, durations) are filled in by
// building the same object again with the final figures and writing it over
// the first copy, which has exactly the same size.
#ifndef ASFWRITER_ASF_MUXER_ASF_OBJECTS_H
#define ASFWRITER_ASF_MUXER_ASF_OBJECTS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "asf_muxer/asf_bytes.h"

namespace asfw::asf {

inline constexpr std::uint64_t kObjectHeaderSize = 24;  // GUID + u64 size
inline constexpr std::uint64_t kDataObjectHeaderSize = 50;

class AsfObject {
public:
    virtual ~AsfObject() = default;
    virtual Guid id() const = 0;
    virtual std::uint64_t bodySize() const = 0;
    virtual void writeBody(ByteBuffer& out) const = 0;

    std::uint64_t size() const { return kObjectHeaderSize + bodySize(); }
    // GUID, size, body. Returns false if the body did not match its size.
    bool write(ByteBuffer& out) const;
};

using AsfObjectPtr = std::unique_ptr<AsfObject>;

// File Properties flags.
inline constexpr std::uint32_t kFlagBroadcast = 1;
inline constexpr std::uint32_t kFlagSeekable = 2;

struct FileProperties : AsfObject {
    Guid fileId;
    std::uint64_t fileSize = 0;
    std::uint64_t creationTime = 0;  // 100 ns since 1601
    std::uint64_t packets = 0;
    std::uint64_t playDuration = 0;  // 100 ns, includes the preroll
    std::uint64_t sendDuration = 0;  // 100 ns
    std::uint64_t prerollMs = 0;
    std::uint32_t flags = 0;
    std::uint32_t packetSize = 0;  // minimum and maximum alike
    std::uint32_t maxBitrate = 0;

    Guid id() const override { return guid::fileProperties; }
    std::uint64_t bodySize() const override { return 80; }
    void writeBody(ByteBuffer& out) const override;
};

struct StreamProperties : AsfObject {
    std::uint16_t number = 0;
    bool audio = false;
    std::vector<std::uint8_t> format;  // WAVEFORMATEX, or BITMAPINFOHEADER + codec data
    std::uint32_t width = 0, height = 0;
    std::uint16_t blockAlign = 0;  // for the audio spread data

    Guid id() const override { return guid::streamProperties; }
    std::uint64_t bodySize() const override;
    void writeBody(ByteBuffer& out) const override;

private:
    std::uint32_t typeSpecificSize() const;
    std::uint32_t errorCorrectionSize() const { return audio ? 8 : 0; }
};

struct ExtendedStreamProperties : AsfObject {
    std::uint64_t startTimeMs = 0;
    std::uint64_t endTimeMs = 0;
    std::uint32_t bitrate = 0;
    std::uint32_t bufferMs = 0;
    std::uint32_t alternateBitrate = 0;
    std::uint32_t alternateBufferMs = 0;  // 0 = bufferMs
    std::uint32_t maxObjectSize = 0;
    std::uint32_t flags = 0;
    std::uint16_t number = 0;
    std::uint64_t averageTimePerFrame = 0;  // 100 ns
    std::u16string name;                    // written only when not empty

    Guid id() const override { return guid::extendedStreamProperties; }
    std::uint64_t bodySize() const override;
    void writeBody(ByteBuffer& out) const override;
};

// Extended Stream Properties flags.
inline constexpr std::uint32_t kStreamSeekable = 2;

struct LanguageList : AsfObject {
    std::vector<std::u16string> languages;
    Guid id() const override;
    std::uint64_t bodySize() const override;
    void writeBody(ByteBuffer& out) const override;
};

struct IndexSpecifier {
    std::uint16_t stream = 0;
    std::uint16_t type = 0;  // 1 nearest past packet, 2 nearest past object, 3 nearest past cleanpoint
};

struct IndexParameters : AsfObject {
    std::uint32_t intervalMs = 1000;
    std::vector<IndexSpecifier> specifiers;
    Guid id() const override { return guid::indexParameters; }
    std::uint64_t bodySize() const override { return 6 + 4 * specifiers.size(); }
    void writeBody(ByteBuffer& out) const override;
};

struct HeaderExtension : AsfObject {
    std::vector<AsfObjectPtr> children;
    Guid id() const override { return guid::headerExtension; }
    std::uint64_t bodySize() const override;
    void writeBody(ByteBuffer& out) const override;
};

struct StreamBitrateProperties : AsfObject {
    struct Record {
        std::uint16_t stream = 0;
        std::uint32_t bitrate = 0;
    };
    std::vector<Record> records;
    Guid id() const override { return guid::streamBitrateProperties; }
    std::uint64_t bodySize() const override { return 2 + 6 * records.size(); }
    void writeBody(ByteBuffer& out) const override;
};

struct CodecList : AsfObject {
    struct Entry {
        bool audio = false;
        std::u16string name;
        std::u16string description;
        std::vector<std::uint8_t> info;  // format tag (2 bytes) or FourCC (4 bytes)
    };
    std::vector<Entry> entries;
    Guid id() const override { return guid::codecList; }
    std::uint64_t bodySize() const override;
    void writeBody(ByteBuffer& out) const override;
};

struct HeaderObject : AsfObject {
    std::vector<AsfObjectPtr> children;
    Guid id() const override { return guid::header; }
    std::uint64_t bodySize() const override;
    void writeBody(ByteBuffer& out) const override;
};

// The Data Object's own fields before its first packet (50 bytes).
void writeDataObjectHeader(ByteBuffer& out, const Guid& fileId, std::uint64_t objectSize, std::uint64_t packets);

struct SimpleIndex : AsfObject {
    struct Entry {
        std::uint32_t packet = 0;
        std::uint16_t count = 0;
    };
    Guid fileId;
    std::uint64_t interval = 10'000'000;  // 100 ns
    std::uint32_t maxPacketCount = 0;
    std::vector<Entry> entries;
    Guid id() const override { return guid::simpleIndex; }
    std::uint64_t bodySize() const override { return 32 + 6 * entries.size(); }
    void writeBody(ByteBuffer& out) const override;
};

struct IndexObject : AsfObject {
    struct Block {
        std::vector<std::uint64_t> positions;             // one per specifier
        std::vector<std::vector<std::uint32_t>> entries;  // per entry: one offset per specifier
    };
    std::uint32_t intervalMs = 1000;
    std::vector<IndexSpecifier> specifiers;
    std::vector<Block> blocks;
    Guid id() const override { return guid::index; }
    std::uint64_t bodySize() const override;
    void writeBody(ByteBuffer& out) const override;
};

}  // namespace asfw::asf

#endif
