// Cuts media objects into fixed-size data packets with multiple payloads.
//
// Every packet has the same layout: error-correction bytes, payload parsing
// information with a WORD padding length, send time and duration, then up to
// 63 payloads, each with a byte stream number (bit 7 = key frame), a byte
// object number, a DWORD offset into the object, 8 bytes of replicated data
// (object size, presentation time) and a WORD length; padding fills the rest.
#ifndef ASFWRITER_ASF_MUXER_PACKETISER_H
#define ASFWRITER_ASF_MUXER_PACKETISER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace asfw::asf {

inline constexpr std::uint32_t kPacketHeaderSize = 14;
inline constexpr std::uint32_t kPayloadHeaderSize = 17;
inline constexpr std::uint32_t kMaxPayloadsPerPacket = 63;
inline constexpr std::uint32_t kMinPacketSize = 256;
inline constexpr std::uint32_t kMaxPacketSize = 65535;

// One media object ready for packets.
struct ObjectToPlace {
    std::uint16_t stream = 0;
    std::uint8_t objectNumber = 0;
    bool keyFrame = false;
    std::uint32_t sendTimeMs = 0;          // without the preroll
    std::uint32_t presentationTimeMs = 0;  // with the preroll
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t granularity = 1;  // fragments are whole multiples of this (audio blocks)
};

struct Placement {
    std::uint64_t firstPacket = 0;  // packet holding the object's first byte
    std::uint64_t lastPacket = 0;   // packet holding its last byte
};

class Packetiser {
public:
    // `emit` receives each finished packet (exactly packetSize bytes) and
    // returns false when it could not be written.
    using Emit = std::function<bool(const std::uint8_t*, std::size_t)>;
    Packetiser(std::uint32_t packetSize, Emit emit);

    // Room for object data in an empty packet with a single payload.
    std::uint32_t capacity() const { return packetSize_ - kPacketHeaderSize - kPayloadHeaderSize; }

    // Places the whole object. False when a packet could not be emitted.
    bool place(const ObjectToPlace& object, Placement* placement);
    // Pads and emits the partly filled packet, if any.
    bool flush();

    std::uint64_t packetsEmitted() const { return emitted_; }
    std::uint32_t lastSendTimeMs() const { return lastSendTime_; }

private:
    bool closePacket();
    void openPacket(std::uint32_t sendTimeMs);

    std::uint32_t packetSize_;
    Emit emit_;
    std::vector<std::uint8_t> packet_;
    bool open_ = false;
    std::uint32_t used_ = 0;  // bytes used so far in the open packet
    std::uint32_t payloads_ = 0;
    std::uint32_t sendTime_ = 0;
    std::uint32_t latestTime_ = 0;
    std::uint32_t lastSendTime_ = 0;
    std::uint64_t emitted_ = 0;
};

}  // namespace asfw::asf

#endif
