#include "muxer_fixtures.h"

#include <algorithm>
#include <map>

#include "support/asf_reader.h"
#include "support/test_support.h"

namespace asfw::test {
namespace {

void put16(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void put32(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

std::uint32_t nextRandom(std::uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

std::vector<std::uint8_t> pattern(std::size_t size, std::uint32_t tag)
{
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>((i * 7 + tag * 13) & 0xFF);
    return data;
}

}  // namespace

asf::StreamDescription videoStream(std::uint16_t number, std::uint32_t width, std::uint32_t height,
                                   std::uint32_t bitrate, std::uint32_t windowMs)
{
    asf::StreamDescription d;
    d.number = number;
    d.audio = false;
    const std::vector<std::uint8_t> codecData = {0x4F, 0xF1, 0x08, 0x01};
    put32(d.format, 40 + static_cast<std::uint32_t>(codecData.size()));
    put32(d.format, width);
    put32(d.format, height);
    put16(d.format, 1);
    put16(d.format, 24);
    put32(d.format, 0x33564D57);  // 'WMV3'
    put32(d.format, width * height * 3);
    put32(d.format, 0);
    put32(d.format, 0);
    put32(d.format, 0);
    put32(d.format, 0);
    d.format.insert(d.format.end(), codecData.begin(), codecData.end());
    d.width = width;
    d.height = height;
    d.bitrate = bitrate;
    d.bufferWindowMs = windowMs;
    d.averageTimePerFrame = 400'000;
    d.codecName = u"Test Video";
    d.codecDescription = u"synthetic";
    d.fourCC = 0x33564D57;
    return d;
}

asf::StreamDescription audioStream(std::uint16_t number, std::uint16_t blockAlign, std::uint32_t bitrate,
                                   std::uint32_t windowMs, std::uint32_t sampleRate)
{
    asf::StreamDescription d;
    d.number = number;
    d.audio = true;
    put16(d.format, 0x0161);
    put16(d.format, 2);
    put32(d.format, sampleRate);
    put32(d.format, bitrate / 8);
    put16(d.format, blockAlign);
    put16(d.format, 16);
    put16(d.format, 10);
    const std::uint8_t extra[10] = {0, 0x88, 0, 0, 0x0F, 0, 0, 0, 0, 0};
    d.format.insert(d.format.end(), extra, extra + 10);
    d.blockAlign = blockAlign;
    d.bitrate = bitrate;
    d.bufferWindowMs = windowMs;
    d.codecName = u"Test Audio";
    d.codecDescription = u"synthetic";
    d.codecId = 0x0161;
    return d;
}

std::vector<MediaObject> syntheticVideo(int frames, std::int64_t frameDuration, int keyEvery, std::uint32_t baseSize,
                                        std::uint32_t seed)
{
    std::vector<MediaObject> out;
    std::uint32_t state = seed;
    for (int i = 0; i < frames; ++i) {
        MediaObject o;
        o.keyFrame = keyEvery > 0 && i % keyEvery == 0;
        const std::uint32_t size = (o.keyFrame ? 4 * baseSize : baseSize / 2) + nextRandom(state) % baseSize;
        o.data = pattern(size, static_cast<std::uint32_t>(i));
        o.presentationTime = i * frameDuration;
        o.duration = frameDuration;
        out.push_back(std::move(o));
    }
    return out;
}

std::vector<MediaObject> syntheticAudio(int objects, std::uint16_t blockAlign, int blocksPerObject,
                                        std::int64_t objectDuration, std::uint32_t seed)
{
    std::vector<MediaObject> out;
    for (int i = 0; i < objects; ++i) {
        MediaObject o;
        o.keyFrame = true;
        o.data = pattern(static_cast<std::size_t>(blockAlign) * static_cast<std::size_t>(blocksPerObject),
                         seed * 1000u + static_cast<std::uint32_t>(i));
        o.presentationTime = i * objectDuration;
        o.duration = objectDuration;
        out.push_back(std::move(o));
    }
    return out;
}

std::vector<Delivery> interleave(const std::vector<std::pair<std::uint16_t, std::vector<MediaObject>>>& streams)
{
    std::vector<Delivery> out;
    std::vector<std::size_t> at(streams.size(), 0);
    for (;;) {
        int best = -1;
        for (std::size_t s = 0; s < streams.size(); ++s) {
            if (at[s] >= streams[s].second.size()) continue;
            if (best < 0 || streams[s].second[at[s]].presentationTime <
                                streams[static_cast<std::size_t>(best)].second[at[static_cast<std::size_t>(best)]].presentationTime)
                best = static_cast<int>(s);
        }
        if (best < 0) break;
        const auto b = static_cast<std::size_t>(best);
        out.push_back({streams[b].first, streams[b].second[at[b]++]});
    }
    return out;
}

RemuxSource realStreams(const std::string& work, bool video, bool audio, double seconds, int gop)
{
    RemuxSource out;
    const std::string source = work + "/source.asf";
    std::string command = "ffmpeg -nostdin -v error -y";
    if (video) command += " -f lavfi -i testsrc=size=320x240:rate=25";
    if (audio) command += " -f lavfi -i sine=frequency=440:sample_rate=44100";
    command += " -t " + std::to_string(seconds);
    if (video) command += " -c:v wmv2 -b:v 400k -g " + std::to_string(gop);
    if (audio) command += " -c:a wmav2 -b:a 64k -ac 2";
    command += " -f asf " + shellQuote(source);
    const CommandResult encoded = runCommand(command);
    if (encoded.exitCode != 0) {
        out.error = "ffmpeg failed: " + encoded.errors;
        return out;
    }
    asfread::AsfReader file;
    std::vector<asfread::MediaObjectRead> objects;
    if (!file.open(source) || !file.readMediaObjects(objects)) {
        out.error = "cannot read " + source + ": " + file.error();
        return out;
    }
    const std::int64_t preroll = static_cast<std::int64_t>(file.fileProperties().prerollMs);
    std::uint16_t number = 1;
    std::map<std::uint16_t, std::uint16_t> renumber;
    for (const auto& s : file.streams()) {
        asf::StreamDescription d = s.audio ? audioStream(number, s.wave.blockAlign, s.wave.avgBytesPerSec * 8)
                                           : videoStream(number, s.encodedWidth, s.encodedHeight, 400000);
        if (s.audio) {
            d.format = s.typeSpecific;
        } else {
            d.format.assign(s.typeSpecific.begin() + 11, s.typeSpecific.end());
            d.fourCC = s.bitmap.compression;
        }
        renumber[s.number] = number++;
        out.streams.push_back(d);
    }
    std::map<std::uint16_t, std::vector<MediaObject>> perStream;
    for (const auto& o : objects) {
        if (!o.complete) continue;
        MediaObject m;
        m.data = o.data;
        m.keyFrame = o.keyFrame;
        m.presentationTime = (static_cast<std::int64_t>(o.presentationTimeMs) - preroll) * 10000;
        perStream[renumber[o.stream]].push_back(std::move(m));
    }
    std::vector<std::pair<std::uint16_t, std::vector<MediaObject>>> lists;
    for (auto& [stream, list] : perStream) {
        for (std::size_t i = 0; i < list.size(); ++i)
            list[i].duration = i + 1 < list.size() ? list[i + 1].presentationTime - list[i].presentationTime
                                                   : (i > 0 ? list[i].presentationTime - list[i - 1].presentationTime : 0);
        lists.emplace_back(stream, list);
    }
    out.deliveries = interleave(lists);
    return out;
}

bool MemorySink::call()
{
    ++calls_;
    if (failAt_ > 0 && calls_ >= failAt_) failed_ = true;
    return !failed_;
}

bool MemorySink::write(const void* data, std::size_t size)
{
    if (!call()) return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes_->insert(bytes_->end(), p, p + size);
    return true;
}

bool MemorySink::writeAt(std::uint64_t offset, const void* data, std::size_t size)
{
    if (!call()) return false;
    if (offset + size > bytes_->size()) return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::copy(p, p + size, bytes_->begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

bool muxFile(const std::string& path, const std::vector<asf::StreamDescription>& streams,
             const std::vector<Delivery>& deliveries, asf::MuxerOptions options, std::string* error)
{
    std::string sinkError;
    auto sink = asf::createFileSink(path, &sinkError);
    if (!sink) {
        if (error) *error = sinkError;
        return false;
    }
    asf::Muxer muxer(std::move(sink), options);
    auto failed = [&]() {
        if (error) *error = muxer.error();
        return false;
    };
    for (const auto& s : streams)
        if (!muxer.addStream(s)) return failed();
    if (!muxer.begin()) return failed();
    for (const auto& d : deliveries)
        if (!muxer.write(d.stream, d.object)) return failed();
    if (!muxer.finish()) return failed();
    return true;
}

}  // namespace asfw::test
