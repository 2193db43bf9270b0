#include "asf_muxer/packetiser.h"

#include <algorithm>
#include <cstring>

namespace asfw::asf {
namespace {

void put16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Length-type flags: multiple payloads, padding length as a WORD, no packet
// length and no sequence (the packet size is fixed by the file properties).
constexpr std::uint8_t kLengthTypeFlags = 0x01 | (2 << 3);
// Property flags: replicated data length BYTE, offset DWORD, object number
// BYTE, stream number BYTE.
constexpr std::uint8_t kPropertyFlags = 0x01 | (3 << 2) | (1 << 4) | (1 << 6);
// Payload flags: payload lengths are WORDs.
constexpr std::uint8_t kPayloadLengthWord = 2 << 6;
// The packet duration field is a WORD of milliseconds.
constexpr std::uint32_t kMaxPacketSpanMs = 65535;

}  // namespace

Packetiser::Packetiser(std::uint32_t packetSize, Emit emit)
    : packetSize_(packetSize), emit_(std::move(emit)), packet_(packetSize, 0)
{
}

void Packetiser::openPacket(std::uint32_t sendTimeMs)
{
    std::fill(packet_.begin(), packet_.end(), std::uint8_t{0});
    open_ = true;
    used_ = kPacketHeaderSize;
    payloads_ = 0;
    sendTime_ = sendTimeMs;
    latestTime_ = sendTimeMs;
}

bool Packetiser::closePacket()
{
    if (!open_) return true;
    std::uint8_t* p = packet_.data();
    const std::uint32_t padding = packetSize_ - used_;
    p[0] = 0x82;  // error correction data present, two bytes
    p[1] = 0;
    p[2] = 0;
    p[3] = kLengthTypeFlags;
    p[4] = kPropertyFlags;
    put16(p + 5, padding);
    put32(p + 7, sendTime_);
    put16(p + 11, std::min(latestTime_ - sendTime_, kMaxPacketSpanMs));
    p[13] = static_cast<std::uint8_t>(kPayloadLengthWord | payloads_);
    open_ = false;
    lastSendTime_ = sendTime_;
    if (!emit_(packet_.data(), packet_.size())) return false;
    ++emitted_;
    return true;
}

bool Packetiser::flush()
{
    return closePacket();
}

bool Packetiser::place(const ObjectToPlace& object, Placement* placement)
{
    const std::uint32_t unit = std::max<std::uint32_t>(object.granularity, 1);
    std::uint32_t offset = 0;
    bool first = true;
    while (offset < object.size) {
        if (open_) {
            const bool full = payloads_ >= kMaxPayloadsPerPacket ||
                              packetSize_ - used_ < kPayloadHeaderSize + unit ||
                              object.sendTimeMs - sendTime_ > kMaxPacketSpanMs;
            if (full && !closePacket()) return false;
        }
        if (!open_) openPacket(object.sendTimeMs);

        const std::uint32_t room = packetSize_ - used_ - kPayloadHeaderSize;
        std::uint32_t chunk = std::min(room, object.size - offset);
        if (chunk < object.size - offset) chunk -= chunk % unit;  // split only between whole units

        if (first) {
            placement->firstPacket = emitted_;
            first = false;
        }
        std::uint8_t* p = packet_.data() + used_;
        p[0] = static_cast<std::uint8_t>((object.stream & 0x7F) | (object.keyFrame ? 0x80 : 0));
        p[1] = object.objectNumber;
        put32(p + 2, offset);
        p[6] = 8;  // replicated data: object size, presentation time
        put32(p + 7, object.size);
        put32(p + 11, object.presentationTimeMs);
        put16(p + 15, chunk);
        std::memcpy(p + kPayloadHeaderSize, object.data + offset, chunk);
        used_ += kPayloadHeaderSize + chunk;
        ++payloads_;
        latestTime_ = std::max(latestTime_, object.sendTimeMs);
        offset += chunk;
        placement->lastPacket = emitted_;
    }
    return true;
}

}  // namespace asfw::asf
