#include "asf_muxer/asf_objects.h"

#include <random>

namespace asfw::asf {

Guid randomGuid()
{
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
    std::mt19937_64 engine(seed);
    Guid g;
    for (std::size_t i = 0; i < 16; i += 8) {
        const std::uint64_t v = engine();
        for (std::size_t j = 0; j < 8; ++j) g.bytes[i + j] = static_cast<std::uint8_t>(v >> (8 * j));
    }
    g.bytes[7] = static_cast<std::uint8_t>((g.bytes[7] & 0x0F) | 0x40);  // version 4 (stored little-endian)
    g.bytes[8] = static_cast<std::uint8_t>((g.bytes[8] & 0x3F) | 0x80);  // variant
    return g;
}

bool AsfObject::write(ByteBuffer& out) const
{
    const std::size_t start = out.size();
    out.guid(id());
    out.u64(size());
    writeBody(out);
    return out.size() - start == size();
}

void FileProperties::writeBody(ByteBuffer& out) const
{
    out.guid(fileId);
    out.u64(fileSize);
    out.u64(creationTime);
    out.u64(packets);
    out.u64(playDuration);
    out.u64(sendDuration);
    out.u64(prerollMs);
    out.u32(flags);
    out.u32(packetSize);
    out.u32(packetSize);
    out.u32(maxBitrate);
}

std::uint32_t StreamProperties::typeSpecificSize() const
{
    const auto formatSize = static_cast<std::uint32_t>(format.size());
    return audio ? formatSize : 11 + formatSize;
}

std::uint64_t StreamProperties::bodySize() const
{
    return 16 + 16 + 8 + 4 + 4 + 2 + 4 + std::uint64_t{typeSpecificSize()} + errorCorrectionSize();
}

void StreamProperties::writeBody(ByteBuffer& out) const
{
    out.guid(audio ? guid::audioMedia : guid::videoMedia);
    out.guid(audio ? guid::audioSpread : guid::noErrorCorrection);
    out.u64(0);  // time offset
    out.u32(typeSpecificSize());
    out.u32(errorCorrectionSize());
    out.u16(static_cast<std::uint16_t>(number & 0x7F));
    out.u32(0);  // reserved
    if (audio) {
        out.raw(format);
        // Audio spread with a span of one: no scrambling.
        out.u8(1);
        out.u16(blockAlign);
        out.u16(blockAlign);
        out.u16(1);
        out.u8(0);
    } else {
        out.u32(width);
        out.u32(height);
        out.u8(2);  // reserved flags
        out.u16(static_cast<std::uint16_t>(format.size()));
        out.raw(format);
    }
}

std::uint64_t ExtendedStreamProperties::bodySize() const
{
    std::uint64_t size = 8 + 8 + 4 * 7 + 4 + 2 + 2 + 8 + 2 + 2;
    if (!name.empty()) size += 4 + 2 * name.size();
    return size;
}

void ExtendedStreamProperties::writeBody(ByteBuffer& out) const
{
    out.u64(startTimeMs);
    out.u64(endTimeMs);
    out.u32(bitrate);
    out.u32(bufferMs);
    out.u32(0);  // initial buffer fullness
    out.u32(alternateBitrate);
    out.u32(alternateBufferMs != 0 ? alternateBufferMs : bufferMs);
    out.u32(0);
    out.u32(maxObjectSize);
    out.u32(flags);
    out.u16(number);
    out.u16(0);  // language index
    out.u64(averageTimePerFrame);
    out.u16(name.empty() ? 0 : 1);
    out.u16(0);  // payload extension systems
    if (!name.empty()) {
        out.u16(0);
        out.u16(static_cast<std::uint16_t>(2 * name.size()));
        out.utf16(name);
    }
}

Guid LanguageList::id() const
{
    return Guid::make(0x7C4346A9, 0xEFE0, 0x4BFC, 0xB229, 0x393EDE415C85);
}

std::uint64_t LanguageList::bodySize() const
{
    std::uint64_t size = 2;
    for (const auto& language : languages) size += 1 + 2 * (language.size() + 1);
    return size;
}

void LanguageList::writeBody(ByteBuffer& out) const
{
    out.u16(static_cast<std::uint16_t>(languages.size()));
    for (const auto& language : languages) {
        out.u8(static_cast<std::uint8_t>(2 * (language.size() + 1)));
        out.utf16(language);
        out.u16(0);
    }
}

void IndexParameters::writeBody(ByteBuffer& out) const
{
    out.u32(intervalMs);
    out.u16(static_cast<std::uint16_t>(specifiers.size()));
    for (const auto& s : specifiers) {
        out.u16(s.stream);
        out.u16(s.type);
    }
}

std::uint64_t HeaderExtension::bodySize() const
{
    std::uint64_t size = 16 + 2 + 4;
    for (const auto& child : children) size += child->size();
    return size;
}

void HeaderExtension::writeBody(ByteBuffer& out) const
{
    out.guid(guid::headerExtensionReserved);
    out.u16(6);
    out.u32(static_cast<std::uint32_t>(bodySize() - 22));
    for (const auto& child : children) child->write(out);
}

void StreamBitrateProperties::writeBody(ByteBuffer& out) const
{
    out.u16(static_cast<std::uint16_t>(records.size()));
    for (const auto& r : records) {
        out.u16(static_cast<std::uint16_t>(r.stream & 0x7F));
        out.u32(r.bitrate);
    }
}

std::uint64_t CodecList::bodySize() const
{
    std::uint64_t size = 16 + 4;
    for (const auto& e : entries) size += 2 + 2 + 2 * (e.name.size() + 1) + 2 + 2 * (e.description.size() + 1) + 2 + e.info.size();
    return size;
}

void CodecList::writeBody(ByteBuffer& out) const
{
    out.guid(guid::codecListReserved);
    out.u32(static_cast<std::uint32_t>(entries.size()));
    for (const auto& e : entries) {
        out.u16(e.audio ? 2 : 1);
        // Lengths count characters, the terminating zero included.
        out.u16(static_cast<std::uint16_t>(e.name.size() + 1));
        out.utf16(e.name);
        out.u16(0);
        out.u16(static_cast<std::uint16_t>(e.description.size() + 1));
        out.utf16(e.description);
        out.u16(0);
        out.u16(static_cast<std::uint16_t>(e.info.size()));
        out.raw(e.info);
    }
}

std::uint64_t HeaderObject::bodySize() const
{
    std::uint64_t size = 4 + 2;
    for (const auto& child : children) size += child->size();
    return size;
}

void HeaderObject::writeBody(ByteBuffer& out) const
{
    out.u32(static_cast<std::uint32_t>(children.size()));
    out.u8(1);
    out.u8(2);
    for (const auto& child : children) child->write(out);
}

void writeDataObjectHeader(ByteBuffer& out, const Guid& fileId, std::uint64_t objectSize, std::uint64_t packets)
{
    out.guid(guid::data);
    out.u64(objectSize);
    out.guid(fileId);
    out.u64(packets);
    out.u8(1);
    out.u8(1);
}

void SimpleIndex::writeBody(ByteBuffer& out) const
{
    out.guid(fileId);
    out.u64(interval);
    out.u32(maxPacketCount);
    out.u32(static_cast<std::uint32_t>(entries.size()));
    for (const auto& e : entries) {
        out.u32(e.packet);
        out.u16(e.count);
    }
}

std::uint64_t IndexObject::bodySize() const
{
    std::uint64_t size = 4 + 2 + 4 + 4 * specifiers.size();
    for (const auto& b : blocks) size += 4 + 8 * specifiers.size() + 4 * specifiers.size() * b.entries.size();
    return size;
}

void IndexObject::writeBody(ByteBuffer& out) const
{
    out.u32(intervalMs);
    out.u16(static_cast<std::uint16_t>(specifiers.size()));
    out.u32(static_cast<std::uint32_t>(blocks.size()));
    for (const auto& s : specifiers) {
        out.u16(s.stream);
        out.u16(s.type);
    }
    for (const auto& b : blocks) {
        out.u32(static_cast<std::uint32_t>(b.entries.size()));
        for (std::uint64_t p : b.positions) out.u64(p);
        for (const auto& entry : b.entries)
            for (std::uint32_t offset : entry) out.u32(offset);
    }
}

}  // namespace asfw::asf
