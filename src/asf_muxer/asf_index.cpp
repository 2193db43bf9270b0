#include "asf_muxer/asf_index.h"

#include <algorithm>

namespace asfw::asf {

void IndexBuilder::add(std::int64_t timeHns, std::uint64_t firstPacket, std::uint64_t lastPacket)
{
    const Point point{firstPacket, lastPacket - firstPacket + 1, true};
    const std::int64_t t = std::max<std::int64_t>(timeHns, 0);
    const auto startEntry = static_cast<std::uint64_t>((t + interval_ - 1) / interval_);
    const Point& fill = haveLast_ ? last_ : point;
    if (filled_.size() < startEntry) filled_.resize(startEntry, fill);
    last_ = point;
    haveLast_ = true;
}

std::vector<IndexBuilder::Point> IndexBuilder::entries(std::uint64_t count) const
{
    std::vector<Point> result(filled_.begin(), filled_.begin() + static_cast<std::ptrdiff_t>(
                                                                   std::min<std::uint64_t>(count, filled_.size())));
    result.resize(count, haveLast_ ? last_ : Point{});
    return result;
}

SimpleIndex buildSimpleIndex(const IndexBuilder& builder, const Guid& fileId, std::uint64_t entryCount)
{
    SimpleIndex index;
    index.fileId = fileId;
    if (builder.empty()) return index;
    for (const auto& point : builder.entries(entryCount)) {
        SimpleIndex::Entry e;
        e.packet = static_cast<std::uint32_t>(std::min<std::uint64_t>(point.packet, 0xFFFFFFFFu));
        e.count = static_cast<std::uint16_t>(std::min<std::uint64_t>(point.count, 0xFFFFu));
        index.maxPacketCount = std::max<std::uint32_t>(index.maxPacketCount, e.count);
        index.entries.push_back(e);
    }
    return index;
}

IndexObject buildIndexObject(const std::vector<IndexSpecifier>& specifiers,
                             const std::vector<const IndexBuilder*>& builders, std::uint64_t entryCount,
                             std::uint32_t packetSize)
{
    constexpr std::uint64_t kInvalid = 0xFFFFFFFFu;
    IndexObject index;
    index.specifiers = specifiers;
    const std::size_t n = builders.size();
    std::vector<std::vector<IndexBuilder::Point>> points(n);
    for (std::size_t s = 0; s < n; ++s) points[s] = builders[s]->entries(entryCount);

    IndexObject::Block* block = nullptr;
    for (std::uint64_t i = 0; i < entryCount; ++i) {
        bool fits = block != nullptr;
        for (std::size_t s = 0; s < n && fits; ++s) {
            if (!points[s][i].valid) continue;
            const std::uint64_t offset = points[s][i].packet * packetSize;
            if (offset < block->positions[s] || offset - block->positions[s] >= kInvalid) fits = false;
        }
        if (!fits) {
            index.blocks.emplace_back();
            block = &index.blocks.back();
            for (std::size_t s = 0; s < n; ++s)
                block->positions.push_back(points[s][i].valid ? points[s][i].packet * packetSize : 0);
        }
        std::vector<std::uint32_t> entry(n, static_cast<std::uint32_t>(kInvalid));
        for (std::size_t s = 0; s < n; ++s)
            if (points[s][i].valid)
                entry[s] = static_cast<std::uint32_t>(points[s][i].packet * packetSize - block->positions[s]);
        block->entries.push_back(std::move(entry));
    }
    return index;
}

}  // namespace asfw::asf
