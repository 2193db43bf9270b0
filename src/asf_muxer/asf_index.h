// Time indexes: which packet to start reading at to present a given time.
//
// The index time axis includes the preroll: entry i covers time
// i * interval on the presentation-time axis (preroll included) and names the
// last object that can start playback (a key frame, or any audio object) at
// or before it. Entries before the first such object name the first one.
#ifndef ASFWRITER_ASF_MUXER_ASF_INDEX_H
#define ASFWRITER_ASF_MUXER_ASF_INDEX_H

#include <cstdint>
#include <vector>

#include "asf_muxer/asf_objects.h"

namespace asfw::asf {

class IndexBuilder {
public:
    struct Point {
        std::uint64_t packet = 0;  // first packet of the object
        std::uint64_t count = 0;   // packets it spans
        bool valid = false;
    };

    explicit IndexBuilder(std::int64_t intervalHns = 10'000'000) : interval_(intervalHns) {}

    // An object that can start playback, at `timeHns` (preroll included),
    // spanning packets firstPacket..lastPacket. Times must not decrease.
    void add(std::int64_t timeHns, std::uint64_t firstPacket, std::uint64_t lastPacket);

    bool empty() const { return !haveLast_; }
    // Entries 0..count-1.
    std::vector<Point> entries(std::uint64_t count) const;

private:
    std::int64_t interval_;
    std::vector<Point> filled_;
    Point last_;
    bool haveLast_ = false;
};

SimpleIndex buildSimpleIndex(const IndexBuilder& builder, const Guid& fileId, std::uint64_t entryCount);

// One specifier per builder; offsets are packet * packetSize from the first
// packet, in blocks so that every offset fits 32 bits.
IndexObject buildIndexObject(const std::vector<IndexSpecifier>& specifiers,
                             const std::vector<const IndexBuilder*>& builders, std::uint64_t entryCount,
                             std::uint32_t packetSize);

}  // namespace asfw::asf

#endif
