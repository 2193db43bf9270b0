// The muxer: validates streams and objects, orders objects by send time
// across streams (spilling to a temporary file beyond the memory window),
// hands them to the packetiser, keeps the indexes and writes the header
// twice: provisionally at begin(), with the final figures at finish().
#include "asf_muxer/asf_muxer.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <deque>
#include <limits>

#include "asf_muxer/asf_index.h"
#include "asf_muxer/asf_objects.h"
#include "asf_muxer/file_sink.h"
#include "asf_muxer/packetiser.h"
#include "asf_muxer/spill_store.h"

namespace asfw::asf {
namespace {

constexpr std::int64_t kIndexIntervalHns = 10'000'000;  // one second
constexpr std::int64_t kHnsPerMs = 10'000;
constexpr std::uint32_t kDefaultPacketSize = 3200;
constexpr std::uint32_t kLargestChosenPacketSize = 32768;

std::uint64_t nowAsFileTime()
{
    const auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    return static_cast<std::uint64_t>(since1970) * 10 + 116444736000000000ull;
}

std::int64_t toMs(std::int64_t hns)
{
    return (hns + kHnsPerMs / 2) / kHnsPerMs;
}

std::uint16_t readU16(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t readU32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

struct QueuedObject {
    std::int64_t time = 0;  // 100 ns
    bool keyFrame = false;
    std::uint32_t size = 0;
    bool spilled = false;
    std::uint64_t spillOffset = 0;
    std::vector<std::uint8_t> data;  // empty when spilled
};

struct Stream {
    StreamDescription desc;
    bool ended = false;
    std::deque<QueuedObject> queue;
    bool delivered = false;
    std::int64_t lastTime = 0;  // of the last object delivered
    std::uint8_t nextObjectNumber = 0;
    std::uint32_t maxObjectSize = 0;
    std::int64_t firstTime = -1;
    IndexBuilder index{kIndexIntervalHns};
    Muxer::StreamStats stats;
    // Streams whose rate is measured: (millisecond time, bytes) of every
    // object, for the peak figure of the finished header.
    std::vector<std::pair<std::int64_t, std::uint32_t>> sizes;
};

// The smallest rate (bit/s) whose leaky bucket of `windowMs` never
// overflows over `objects` (fullness rises by each object's bits and drains
// at the rate between the objects' millisecond times).
std::uint32_t measuredPeakRate(const std::vector<std::pair<std::int64_t, std::uint32_t>>& objects, std::uint32_t windowMs)
{
    if (objects.empty() || windowMs == 0) return 0;
    double total = 0;
    for (const auto& o : objects) total += 8.0 * o.second;
    auto holds = [&](double rate) {
        const double size = rate * windowMs / 1000.0;
        double full = 0;
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (i > 0) full = std::max(0.0, full - rate * static_cast<double>(objects[i].first - objects[i - 1].first) / 1000.0);
            full += 8.0 * objects[i].second;
            if (full > size) return false;
        }
        return true;
    };
    // A bucket holding every bit never overflows.
    double lo = 0, hi = total * 1000.0 / windowMs;
    for (int i = 0; i < 48 && hi - lo > 0.5; ++i) {
        const double mid = 0.5 * (lo + hi);
        (holds(mid) ? hi : lo) = mid;
    }
    return static_cast<std::uint32_t>(std::min(std::ceil(hi), 4294967295.0));
}

enum class State { Setup, Writing, Finished, Failed };

}  // namespace

struct Muxer::Impl {
    std::unique_ptr<ByteSink> sink;
    MuxerOptions options;
    std::vector<Stream> streams;  // sorted by number at begin()
    State state = State::Setup;
    std::string error;

    // Fixed at begin().
    Guid fileId;
    std::uint32_t packetSize = 0;
    std::uint64_t prerollMs = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t headerSize = 0;
    std::unique_ptr<Packetiser> packetiser;
    SpillStore spill;
    std::size_t memoryInUse = 0;
    std::int64_t endTime = 0;  // latest object end, 100 ns
    std::vector<std::uint8_t> readBack;

    Impl(std::unique_ptr<ByteSink> s, MuxerOptions o) : sink(std::move(s)), options(std::move(o)), spill(spillPathFor())
    {
    }

    std::string spillPathFor() const
    {
        if (!options.spillPath.empty()) return options.spillPath;
        if (const auto* file = dynamic_cast<const FileSink*>(sink.get())) return file->path() + ".spill";
        return {};  // an anonymous file in the temporary folder
    }

    bool fail(std::string message)
    {
        error = std::move(message);
        state = State::Failed;
        spill.remove();
        return false;
    }
    bool sinkFailed(const char* what)
    {
        const std::string reason = sink ? sink->error() : std::string("no output");
        return fail(std::string(what) + (reason.empty() ? std::string() : ": " + reason));
    }
    bool reject(std::string message)
    {
        error = std::move(message);
        return false;
    }

    Stream* find(std::uint16_t number)
    {
        for (auto& s : streams)
            if (s.desc.number == number) return &s;
        return nullptr;
    }

    std::uint64_t totalBitrate() const
    {
        std::uint64_t total = 0;
        for (const auto& s : streams) total += std::max(s.desc.bitrate, s.desc.peakBitrate);
        return total;
    }

    std::uint32_t largestBlock() const
    {
        std::uint32_t largest = 1;
        for (const auto& s : streams)
            if (s.desc.audio) largest = std::max<std::uint32_t>(largest, s.desc.blockAlign);
        return largest;
    }

    // 3200 bytes up to about 400 kbit/s; beyond, about 16 packets a second,
    // at most 32 KiB; always room for the largest audio block.
    std::uint32_t choosePacketSize() const
    {
        const std::uint64_t perSixteenth = totalBitrate() / 8 / 16;
        std::uint64_t size = std::max<std::uint64_t>(kDefaultPacketSize, (perSixteenth + 511) / 512 * 512);
        size = std::min<std::uint64_t>(size, kLargestChosenPacketSize);
        const std::uint64_t needed = largestBlock() + kPacketHeaderSize + kPayloadHeaderSize;
        return static_cast<std::uint32_t>(std::max(size, (needed + 511) / 512 * 512));
    }

    // --- the header ---------------------------------------------------------

    std::vector<IndexSpecifier> indexSpecifiers() const
    {
        std::vector<IndexSpecifier> specifiers;
        for (const auto& s : streams) specifiers.push_back({s.desc.number, std::uint16_t(s.desc.audio ? 2 : 3)});
        return specifiers;
    }

    bool seekable() const
    {
        if (!packetiser || packetiser->packetsEmitted() == 0) return false;
        for (const auto& s : streams)
            if (!s.desc.audio && s.index.empty()) return false;
        return true;
    }

    ByteBuffer buildHeader(bool final) const
    {
        auto header = std::make_unique<HeaderObject>();
        auto fileProperties = std::make_unique<FileProperties>();
        fileProperties->fileId = fileId;
        fileProperties->creationTime = creationTime;
        fileProperties->prerollMs = prerollMs;
        fileProperties->packetSize = packetSize;
        const std::uint64_t bitrate = totalBitrate();
        const std::uint64_t withOverhead = bitrate * packetSize / (packetSize - kPacketHeaderSize - kPayloadHeaderSize);
        fileProperties->maxBitrate = static_cast<std::uint32_t>(std::min<std::uint64_t>(withOverhead, 0xFFFFFFFFu));
        if (final) {
            const std::uint64_t packets = packetiser->packetsEmitted();
            fileProperties->packets = packets;
            fileProperties->fileSize = sink->size();
            fileProperties->sendDuration = static_cast<std::uint64_t>(endTime);
            fileProperties->playDuration = static_cast<std::uint64_t>(endTime) + prerollMs * kHnsPerMs;
            fileProperties->flags = seekable() ? kFlagSeekable : 0;
        } else {
            // Until the end is written the figures are unknown: a reader of
            // an unfinished file treats it as a broadcast.
            fileProperties->flags = kFlagBroadcast;
        }
        header->children.push_back(std::move(fileProperties));

        auto extension = std::make_unique<HeaderExtension>();
        auto bitrates = std::make_unique<StreamBitrateProperties>();
        auto codecs = std::make_unique<CodecList>();
        bool named = false;
        for (const auto& s : streams) {
            const StreamDescription& d = s.desc;
            auto properties = std::make_unique<StreamProperties>();
            properties->number = d.number;
            properties->audio = d.audio;
            properties->format = d.format;
            properties->width = d.width;
            properties->height = d.height;
            properties->blockAlign = d.blockAlign;
            header->children.push_back(std::move(properties));

            auto extended = std::make_unique<ExtendedStreamProperties>();
            extended->number = d.number;
            extended->bitrate = d.bitrate;
            extended->alternateBitrate = std::max(d.bitrate, d.peakBitrate);
            extended->alternateBufferMs = d.peakBufferMs;
            std::uint32_t average = d.bitrate;
            if (final && d.measureBitrate && s.firstTime >= 0 && s.stats.lastEndTime > s.firstTime) {
                const double seconds = static_cast<double>(s.stats.lastEndTime - s.firstTime) / 1e7;
                average = static_cast<std::uint32_t>(std::min(8.0 * static_cast<double>(s.stats.payloadBytes) / seconds, 4294967295.0));
                extended->bitrate = average;
                // The peak: what the stream really needed over the peak
                // figures' buffer (the stream's own window when none is set).
                const std::uint32_t peakWindow = d.peakBufferMs != 0 ? d.peakBufferMs : d.bufferWindowMs;
                extended->alternateBitrate = std::max({average, d.peakBitrate, measuredPeakRate(s.sizes, peakWindow)});
            }
            extended->bufferMs = d.bufferWindowMs;
            extended->flags = kStreamSeekable;
            extended->averageTimePerFrame = static_cast<std::uint64_t>(std::max<std::int64_t>(d.averageTimePerFrame, 0));
            extended->name = d.name;
            named = named || !d.name.empty();
            if (final && s.firstTime >= 0) {
                extended->startTimeMs = static_cast<std::uint64_t>(toMs(s.firstTime));
                extended->endTimeMs = static_cast<std::uint64_t>(toMs(s.stats.lastEndTime));
                extended->maxObjectSize = s.maxObjectSize;
            }
            extension->children.push_back(std::move(extended));

            bitrates->records.push_back({d.number, average});

            CodecList::Entry entry;
            entry.audio = d.audio;
            entry.name = d.codecName;
            entry.description = d.codecDescription;
            if (d.audio) {
                entry.info = {std::uint8_t(d.codecId), std::uint8_t(d.codecId >> 8)};
            } else {
                for (int i = 0; i < 4; ++i) entry.info.push_back(std::uint8_t(d.fourCC >> (8 * i)));
            }
            codecs->entries.push_back(std::move(entry));
        }
        if (named) {
            auto languages = std::make_unique<LanguageList>();
            languages->languages.push_back(u"en-us");
            extension->children.push_back(std::move(languages));
        }
        auto parameters = std::make_unique<IndexParameters>();
        parameters->intervalMs = static_cast<std::uint32_t>(kIndexIntervalHns / kHnsPerMs);
        parameters->specifiers = indexSpecifiers();
        extension->children.push_back(std::move(parameters));
        header->children.push_back(std::move(extension));
        header->children.push_back(std::move(codecs));
        header->children.push_back(std::move(bitrates));

        ByteBuffer out;
        header->write(out);
        const std::uint64_t dataSize = final ? kDataObjectHeaderSize + packetiser->packetsEmitted() * packetSize : 0;
        writeDataObjectHeader(out, fileId, dataSize, final ? packetiser->packetsEmitted() : 0);
        return out;
    }

    // --- ordering and packets -----------------------------------------------

    bool enqueue(Stream& s, MediaObject&& object)
    {
        QueuedObject q;
        q.time = object.presentationTime;
        q.keyFrame = object.keyFrame;
        q.size = static_cast<std::uint32_t>(object.data.size());
        if (memoryInUse + object.data.size() > options.memoryWindowBytes) {
            if (!spill.append(object.data.data(), object.data.size(), &q.spillOffset))
                return fail("cannot queue a media object: " + spill.error());
            q.spilled = true;
        } else {
            memoryInUse += object.data.size();
            q.data = std::move(object.data);
        }
        s.queue.push_back(std::move(q));
        return true;
    }

    // The stream whose queued head goes out next, or null when an unfinished
    // stream might still deliver an earlier object.
    Stream* nextReady()
    {
        Stream* best = nullptr;
        for (auto& s : streams)
            if (!s.queue.empty() && (!best || s.queue.front().time < best->queue.front().time)) best = &s;
        if (!best) return nullptr;
        const std::int64_t t = best->queue.front().time;
        for (const auto& s : streams) {
            if (&s == best || s.ended || !s.queue.empty()) continue;
            if (!s.delivered || s.lastTime < t) return nullptr;
        }
        return best;
    }

    bool pump()
    {
        while (Stream* s = nextReady()) {
            QueuedObject q = std::move(s->queue.front());
            s->queue.pop_front();
            const std::uint8_t* data = q.data.data();
            if (q.spilled) {
                readBack.resize(q.size);
                if (!spill.read(q.spillOffset, readBack.data(), q.size))
                    return fail("cannot read back a queued media object: " + spill.error());
                data = readBack.data();
            } else {
                memoryInUse -= q.size;
            }
            ObjectToPlace place;
            place.stream = s->desc.number;
            place.objectNumber = s->nextObjectNumber++;
            place.keyFrame = q.keyFrame;
            place.sendTimeMs = static_cast<std::uint32_t>(toMs(q.time));
            place.presentationTimeMs = static_cast<std::uint32_t>(toMs(q.time) + static_cast<std::int64_t>(prerollMs));
            place.data = data;
            place.size = q.size;
            place.granularity = s->desc.audio ? s->desc.blockAlign : 1;
            Placement placement;
            if (!packetiser->place(place, &placement)) return sinkFailed("cannot write a data packet");
            if (s->desc.audio || q.keyFrame)
                s->index.add(q.time + static_cast<std::int64_t>(prerollMs) * kHnsPerMs, placement.firstPacket,
                             placement.lastPacket);
        }
        return true;
    }

    bool writeIndexes()
    {
        const std::int64_t playEnd = endTime + static_cast<std::int64_t>(prerollMs) * kHnsPerMs;
        const auto entries = static_cast<std::uint64_t>(playEnd / kIndexIntervalHns + 1);
        ByteBuffer out;
        std::vector<const IndexBuilder*> builders;
        for (const auto& s : streams) {
            builders.push_back(&s.index);
            if (!s.desc.audio) buildSimpleIndex(s.index, fileId, entries).write(out);
        }
        buildIndexObject(indexSpecifiers(), builders, entries, packetSize).write(out);
        return sink->write(out.data(), out.size()) || sinkFailed("cannot write the index");
    }
};

Muxer::Muxer(std::unique_ptr<ByteSink> sink, MuxerOptions options)
    : impl_(std::make_unique<Impl>(std::move(sink), std::move(options)))
{
}

Muxer::~Muxer() = default;

const std::string& Muxer::error() const
{
    return impl_->error;
}

bool Muxer::addStream(const StreamDescription& stream)
{
    Impl& m = *impl_;
    if (m.state != State::Setup) return m.reject("streams are added before begin()");
    if (stream.number < 1 || stream.number > 127) return m.reject("stream numbers are 1 to 127");
    if (m.find(stream.number)) return m.reject("stream " + std::to_string(stream.number) + " already exists");
    if (m.streams.size() >= 127) return m.reject("too many streams");
    StreamDescription d = stream;
    if (d.audio) {
        if (d.format.size() < 18) return m.reject("an audio stream needs a WAVEFORMATEX record");
        if (d.format.size() != 18u + readU16(d.format, 16)) return m.reject("the WAVEFORMATEX extra size does not match");
        if (d.blockAlign == 0) d.blockAlign = readU16(d.format, 12);
        if (d.blockAlign == 0) return m.reject("an audio stream needs a block alignment");
    } else {
        if (d.format.size() < 40) return m.reject("a video stream needs a BITMAPINFOHEADER");
        if (d.format.size() > 0xFFFF - 11) return m.reject("the video format record is too large");
        if (d.width == 0 || d.height == 0) return m.reject("a video stream needs its size");
        if (readU32(d.format, 0) < 40 || readU32(d.format, 0) > d.format.size())
            return m.reject("the BITMAPINFOHEADER size is wrong");
    }
    if (d.name.size() > 0x7FFF) return m.reject("the stream name is too long");
    m.streams.push_back({});
    m.streams.back().desc = std::move(d);
    return true;
}

bool Muxer::begin()
{
    Impl& m = *impl_;
    if (m.state != State::Setup) return m.reject("begin() was already called");
    if (m.streams.empty()) return m.reject("a file needs at least one stream");
    if (!m.sink) return m.fail("no output");
    std::sort(m.streams.begin(), m.streams.end(),
              [](const Stream& a, const Stream& b) { return a.desc.number < b.desc.number; });

    std::uint32_t packetSize = m.options.packetSize ? m.options.packetSize : m.choosePacketSize();
    if (packetSize < kMinPacketSize || packetSize > kMaxPacketSize)
        return m.reject("the packet size must be " + std::to_string(kMinPacketSize) + " to " +
                        std::to_string(kMaxPacketSize) + " bytes");
    if (m.largestBlock() > packetSize - kPacketHeaderSize - kPayloadHeaderSize)
        return m.reject("an audio block does not fit a data packet of " + std::to_string(packetSize) + " bytes");
    m.packetSize = packetSize;

    std::int64_t preroll = m.options.prerollMs;
    if (preroll < 0) {
        preroll = 0;
        for (const auto& s : m.streams) preroll = std::max<std::int64_t>(preroll, s.desc.bufferWindowMs);
    }
    m.prerollMs = static_cast<std::uint64_t>(std::min<std::int64_t>(preroll, 0x7FFFFFFF));
    m.creationTime = m.options.creationTime ? m.options.creationTime : nowAsFileTime();
    m.fileId = randomGuid();
    m.packetiser = std::make_unique<Packetiser>(packetSize, [&m](const std::uint8_t* data, std::size_t size) {
        return m.sink->write(data, size);
    });

    const ByteBuffer header = m.buildHeader(false);
    m.headerSize = header.size();
    m.state = State::Writing;
    if (!m.sink->write(header.data(), header.size())) return m.sinkFailed("cannot write the header");
    return true;
}

bool Muxer::write(std::uint16_t streamNumber, MediaObject object)
{
    Impl& m = *impl_;
    if (m.state == State::Failed) return false;
    if (m.state != State::Writing) return m.reject("media objects are written between begin() and finish()");
    Stream* s = m.find(streamNumber);
    if (!s) return m.reject("no stream " + std::to_string(streamNumber));
    if (s->ended) return m.reject("stream " + std::to_string(streamNumber) + " has ended");
    if (object.data.empty()) return m.reject("an empty media object");
    if (object.data.size() > 0xFFFFFFFFu) return m.reject("a media object over 4 GiB");
    if (object.presentationTime < 0 || object.duration < 0) return m.reject("a negative time or duration");
    const std::int64_t limitMs = 0xFFFFFFFFll - static_cast<std::int64_t>(m.prerollMs);
    if (toMs(object.presentationTime) > limitMs || toMs(object.presentationTime + object.duration) > limitMs)
        return m.reject("a time beyond the format's range");
    if (s->delivered && object.presentationTime < s->lastTime)
        return m.reject("media objects of a stream must come in time order");
    if (s->desc.audio && object.data.size() % s->desc.blockAlign != 0)
        return m.reject("an audio object must be whole blocks of " + std::to_string(s->desc.blockAlign) + " bytes");

    s->delivered = true;
    s->lastTime = object.presentationTime;
    if (s->firstTime < 0) s->firstTime = object.presentationTime;
    const std::int64_t end = object.presentationTime + object.duration;
    s->maxObjectSize = std::max(s->maxObjectSize, static_cast<std::uint32_t>(object.data.size()));
    s->stats.objects += 1;
    s->stats.payloadBytes += object.data.size();
    s->stats.lastEndTime = std::max(s->stats.lastEndTime, end);
    if (s->desc.measureBitrate) s->sizes.emplace_back(toMs(object.presentationTime), static_cast<std::uint32_t>(object.data.size()));
    // The payloads carry the time rounded to milliseconds: the play
    // duration must reach that too (an object lasting under half a
    // millisecond may round up beyond its own end).
    m.endTime = std::max({m.endTime, end, toMs(object.presentationTime) * kHnsPerMs});
    if (!m.enqueue(*s, std::move(object))) return false;
    return m.pump();
}

bool Muxer::endStream(std::uint16_t streamNumber)
{
    Impl& m = *impl_;
    if (m.state == State::Failed) return false;
    if (m.state != State::Writing) return m.reject("streams end between begin() and finish()");
    Stream* s = m.find(streamNumber);
    if (!s) return m.reject("no stream " + std::to_string(streamNumber));
    s->ended = true;
    return m.pump();
}

bool Muxer::finish()
{
    Impl& m = *impl_;
    if (m.state == State::Failed) return false;
    if (m.state != State::Writing) return m.reject("finish() needs a begun, unfinished file");
    for (auto& s : m.streams) s.ended = true;
    if (!m.pump()) return false;
    if (!m.packetiser->flush()) return m.sinkFailed("cannot write a data packet");
    m.spill.remove();
    if (!m.writeIndexes()) return false;
    const ByteBuffer header = m.buildHeader(true);
    if (header.size() != m.headerSize) return m.fail("internal error: the header changed size");
    if (!m.sink->writeAt(0, header.data(), header.size())) return m.sinkFailed("cannot update the header");
    if (!m.sink->flush()) return m.sinkFailed("cannot finish the file");
    m.state = State::Finished;
    return true;
}

Muxer::StreamStats Muxer::stats(std::uint16_t streamNumber) const
{
    for (const auto& s : impl_->streams)
        if (s.desc.number == streamNumber) return s.stats;
    return {};
}

}  // namespace asfw::asf
