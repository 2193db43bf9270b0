// Muxer behaviour, read back with the test reader.
#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "muxer_fixtures.h"
#include "support/asf_reader.h"
#include "support/test_support.h"

namespace asfw::test {
namespace {

using asfread::AsfReader;
using asfread::MediaObjectRead;
using asfread::Packet;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void keep(const std::string& path)
{
    if (const char* dir = std::getenv("ASFW_MUXER_KEEP_DIR"))
        std::filesystem::copy_file(path, std::string(dir) + "/" + std::filesystem::path(path).filename().string(),
                                   std::filesystem::copy_options::overwrite_existing);
}

std::string problemsOf(AsfReader& file, asfread::ValidateOptions options = {})
{
    std::string text;
    for (const auto& p : asfread::validate(file, options)) text += p + "\n";
    return text;
}

std::vector<MediaObjectRead> objectsOf(AsfReader& file, std::uint16_t stream)
{
    std::vector<MediaObjectRead> all, mine;
    EXPECT_TRUE(file.readMediaObjects(all)) << file.error();
    for (auto& o : all)
        if (o.stream == stream) mine.push_back(std::move(o));
    return mine;
}

// The objects read back equal what went in: bytes, times (+ preroll, in ms),
// key flags, object numbers counting up.
void expectSameObjects(AsfReader& file, std::uint16_t stream, const std::vector<MediaObject>& sent)
{
    const auto got = objectsOf(file, stream);
    ASSERT_EQ(got.size(), sent.size()) << "stream " << stream;
    const std::uint64_t preroll = file.fileProperties().prerollMs;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE("stream " + std::to_string(stream) + " object " + std::to_string(i));
        EXPECT_TRUE(got[i].complete);
        EXPECT_EQ(got[i].data, sent[i].data);
        EXPECT_EQ(got[i].presentationTimeMs, (sent[i].presentationTime + 5000) / 10000 + static_cast<std::int64_t>(preroll));
        EXPECT_EQ(got[i].keyFrame, sent[i].keyFrame);
        EXPECT_EQ(got[i].objectNumber, i % 256);
    }
}

struct Written {
    std::shared_ptr<std::vector<std::uint8_t>> bytes = std::make_shared<std::vector<std::uint8_t>>();
    bool ok = false;
    std::string error;
};

Written muxToMemory(const std::vector<asf::StreamDescription>& streams, const std::vector<Delivery>& deliveries,
                    asf::MuxerOptions options = {})
{
    Written w;
    asf::Muxer muxer(std::make_unique<MemorySink>(w.bytes), options);
    for (const auto& s : streams)
        if (!muxer.addStream(s)) return w.error = muxer.error(), w;
    if (!muxer.begin()) return w.error = muxer.error(), w;
    for (const auto& d : deliveries)
        if (!muxer.write(d.stream, d.object)) return w.error = muxer.error(), w;
    w.ok = muxer.finish();
    w.error = muxer.error();
    return w;
}

TEST(AsfMuxer, AudioVideoFileHoldsTogetherAndReadsBack)
{
    TempDir dir;
    const std::string path = dir.file("av.wmv");
    auto video = syntheticVideo(100);
    auto audio = syntheticAudio(90);
    auto v = videoStream(1);
    v.name = u"";
    asf::MuxerOptions options;
    options.creationTime = 132000000000000000ull;
    std::string error;
    ASSERT_TRUE(muxFile(path, {v, audioStream(2)}, interleave({{1, video}, {2, audio}}), options, &error)) << error;
    keep(path);
    AsfReader file;
    ASSERT_TRUE(file.open(path)) << file.error();
    EXPECT_EQ(problemsOf(file), "");

    const auto& fp = file.fileProperties();
    EXPECT_EQ(fp.creationTime, 132000000000000000ull);
    EXPECT_EQ(fp.prerollMs, 3000u);
    const std::int64_t end = std::max(video.back().presentationTime + video.back().duration,
                                      audio.back().presentationTime + audio.back().duration);
    EXPECT_EQ(fp.sendDuration, static_cast<std::uint64_t>(end));
    EXPECT_EQ(fp.playDuration, static_cast<std::uint64_t>(end) + 3000u * 10000u);
    EXPECT_TRUE(fp.seekable());
    EXPECT_FALSE(fp.broadcast());
    EXPECT_GE(fp.maxBitrate, 564000u);

    ASSERT_EQ(file.streams().size(), 2u);
    const auto* vs = file.stream(1);
    ASSERT_TRUE(vs && vs->video);
    EXPECT_EQ(vs->encodedWidth, 320u);
    EXPECT_EQ(vs->encodedHeight, 240u);
    EXPECT_EQ(vs->reservedFlags, 2);
    EXPECT_EQ(vs->bitmap.compression, 0x33564D57u);
    EXPECT_EQ(vs->bitmap.codecData, (std::vector<std::uint8_t>{0x4F, 0xF1, 0x08, 0x01}));
    EXPECT_EQ(vs->errorCorrection, asfread::guids::noErrorCorrection);
    const auto* as = file.stream(2);
    ASSERT_TRUE(as && as->audio);
    EXPECT_EQ(as->wave.formatTag, 0x0161);
    EXPECT_EQ(as->wave.blockAlign, 742);
    EXPECT_EQ(as->wave.extra.size(), 10u);
    ASSERT_TRUE(as->spread.has_value());
    EXPECT_EQ(as->spread->span, 1);
    EXPECT_EQ(as->spread->virtualPacketLength, 742);
    EXPECT_EQ(as->spread->virtualChunkLength, 742);

    const auto* ve = file.extendedStream(1);
    ASSERT_TRUE(ve);
    EXPECT_EQ(ve->bitrate, 500000u);
    EXPECT_EQ(ve->bufferMs, 3000u);
    EXPECT_EQ(ve->averageTimePerFrame, 400000u);
    EXPECT_EQ(ve->endTimeMs, 4000u);
    EXPECT_TRUE(ve->names.empty());
    std::uint32_t largest = 0;
    for (const auto& o : video) largest = std::max<std::uint32_t>(largest, static_cast<std::uint32_t>(o.data.size()));
    EXPECT_EQ(ve->maxObjectSize, largest);
    ASSERT_TRUE(file.extendedStream(2));

    ASSERT_EQ(file.bitrates().size(), 2u);
    EXPECT_EQ(file.bitrates()[1].bitrate, 64000u);
    ASSERT_EQ(file.codecs().size(), 2u);
    EXPECT_EQ(file.codecs()[0].type, 1);
    EXPECT_EQ(file.codecs()[0].name, u"Test Video");
    EXPECT_EQ(file.codecs()[0].info, (std::vector<std::uint8_t>{'W', 'M', 'V', '3'}));
    EXPECT_EQ(file.codecs()[1].type, 2);
    EXPECT_EQ(file.codecs()[1].info, (std::vector<std::uint8_t>{0x61, 0x01}));
    ASSERT_TRUE(file.indexParameters().has_value());
    EXPECT_EQ(file.indexParameters()->intervalMs, 1000u);

    expectSameObjects(file, 1, video);
    expectSameObjects(file, 2, audio);
}

TEST(AsfMuxer, EveryFileGetsItsOwnFileId)
{
    const auto a = muxToMemory({videoStream(1)}, interleave({{1, syntheticVideo(5)}}));
    const auto b = muxToMemory({videoStream(1)}, interleave({{1, syntheticVideo(5)}}));
    ASSERT_TRUE(a.ok && b.ok);
    TempDir dir;
    writeFileBytes(dir.file("a.wmv"), *a.bytes);
    writeFileBytes(dir.file("b.wmv"), *b.bytes);
    AsfReader fa, fb;
    ASSERT_TRUE(fa.open(dir.file("a.wmv")) && fb.open(dir.file("b.wmv")));
    EXPECT_NE(fa.fileProperties().fileId, fb.fileProperties().fileId);
    EXPECT_EQ(fa.fileProperties().fileId, fa.dataFileId());
    ASSERT_EQ(fa.simpleIndexes().size(), 1u);
    EXPECT_EQ(fa.simpleIndexes()[0].fileId, fa.dataFileId());
}

TEST(AsfMuxer, PrerollFollowsTheLargestBufferWindowUnlessSet)
{
    struct Case {
        std::uint32_t videoWindow, audioWindow;
        std::int64_t option;
        std::uint64_t expected;
    };
    const Case cases[] = {{3000, 5000, -1, 5000}, {1000, 0, -1, 1000}, {3000, 3000, 0, 0}, {3000, 3000, 1234, 1234}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.videoWindow) + "/" + std::to_string(c.audioWindow) + "/" + std::to_string(c.option));
        asf::MuxerOptions options;
        options.prerollMs = c.option;
        TempDir dir;
        const std::string path = dir.file("p.wmv");
        auto video = syntheticVideo(30);
        ASSERT_TRUE(muxFile(path, {videoStream(1, 320, 240, 500000, c.videoWindow), audioStream(2, 742, 64000, c.audioWindow)},
                            interleave({{1, video}, {2, syntheticAudio(20)}}), options));
        AsfReader file;
        ASSERT_TRUE(file.open(path));
        EXPECT_EQ(file.fileProperties().prerollMs, c.expected);
        EXPECT_EQ(problemsOf(file), "");
        expectSameObjects(file, 1, video);  // presentation times carry the preroll
    }
}

TEST(AsfMuxer, PacketSizeSuitsTheRateAndTheAudioBlocks)
{
    struct Case {
        std::uint32_t videoRate;
        std::uint16_t blockAlign;
        std::uint32_t option;
        std::uint32_t low, high;  // accepted range of the chosen size
    };
    const Case cases[] = {{100000, 742, 0, 3200, 3200}, {2000000, 742, 0, 8000, 20000}, {50000000, 742, 0, 32768, 32768},
                          {100000, 8000, 0, 8031, 9000}, {100000, 742, 1500, 1500, 1500}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.videoRate) + " bit/s, block " + std::to_string(c.blockAlign));
        asf::MuxerOptions options;
        options.packetSize = c.option;
        TempDir dir;
        const std::string path = dir.file("s.wmv");
        ASSERT_TRUE(muxFile(path, {videoStream(1, 320, 240, c.videoRate), audioStream(2, c.blockAlign)},
                            interleave({{1, syntheticVideo(30)}, {2, syntheticAudio(20, c.blockAlign)}}), options));
        AsfReader file;
        ASSERT_TRUE(file.open(path));
        EXPECT_GE(file.packetSize(), c.low);
        EXPECT_LE(file.packetSize(), c.high);
        EXPECT_EQ(file.fileProperties().minPacketSize, file.fileProperties().maxPacketSize);
        EXPECT_EQ(problemsOf(file), "");
    }
}

TEST(AsfMuxer, LargeObjectsAreFragmentedAndSmallOnesShareAPacket)
{
    TempDir dir;
    const std::string path = dir.file("f.wmv");
    auto video = syntheticVideo(60, 400000, 10, 6000);  // key frames of 24-30 kB
    auto audio = syntheticAudio(50, 371);
    asf::MuxerOptions options;
    options.packetSize = 3200;
    ASSERT_TRUE(muxFile(path, {videoStream(1), audioStream(2, 371)}, interleave({{1, video}, {2, audio}}), options));
    AsfReader file;
    ASSERT_TRUE(file.open(path));
    EXPECT_EQ(problemsOf(file), "");
    std::vector<Packet> packets;
    ASSERT_TRUE(file.readPackets(packets));
    std::size_t shared = 0;
    for (const auto& p : packets) shared += p.payloads.size() > 1;
    EXPECT_GT(shared, 10u);
    const auto objects = objectsOf(file, 1);
    ASSERT_EQ(objects.size(), video.size());
    EXPECT_GE(objects[0].fragments, 8u);
    EXPECT_EQ(objects[0].lastPacket - objects[0].firstPacket + 1, objects[0].fragments);
    expectSameObjects(file, 1, video);
    expectSameObjects(file, 2, audio);
}

TEST(AsfMuxer, AudioIsSplitOnlyBetweenBlocks)
{
    for (const int blocks : {1, 3, 8}) {
        SCOPED_TRACE(std::to_string(blocks) + " blocks per object");
        TempDir dir;
        const std::string path = dir.file("a.wma");
        auto audio = syntheticAudio(60, 742, blocks);
        asf::MuxerOptions options;
        options.packetSize = 3200;
        ASSERT_TRUE(muxFile(path, {audioStream(1, 742)}, interleave({{1, audio}}), options));
        AsfReader file;
        ASSERT_TRUE(file.open(path));
        EXPECT_EQ(problemsOf(file), "");
        std::vector<Packet> packets;
        ASSERT_TRUE(file.readPackets(packets));
        std::size_t fragments = 0;
        for (const auto& p : packets)
            for (const auto& pl : p.payloads) {
                EXPECT_EQ(pl.length % 742, 0u);
                EXPECT_EQ(pl.offset % 742, 0u);
                fragments += pl.offset != 0;
            }
        if (blocks > 4) {
            EXPECT_GT(fragments, 0u);  // objects larger than a packet were split
        }
        expectSameObjects(file, 1, audio);
    }
}

// Expected simple-index entry: the last key frame whose time (preroll
// included) is at or before i seconds; before the first, the first.
TEST(AsfMuxer, SimpleIndexNamesTheNearestPastKeyFrame)
{
    TempDir dir;
    const std::string path = dir.file("i.wmv");
    auto video = syntheticVideo(250, 400000, 37, 3000);  // 10 s, key frames every 1.48 s
    asf::MuxerOptions options;
    options.prerollMs = 2500;
    ASSERT_TRUE(muxFile(path, {videoStream(1)}, interleave({{1, video}}), options));
    AsfReader file;
    ASSERT_TRUE(file.open(path));
    EXPECT_EQ(problemsOf(file), "");
    const auto objects = objectsOf(file, 1);
    ASSERT_EQ(file.simpleIndexes().size(), 1u);
    const auto& index = file.simpleIndexes()[0];
    EXPECT_EQ(index.interval, 10000000u);
    // 10 s of content + 2.5 s preroll: entries 0..12.
    ASSERT_EQ(index.entries.size(), 13u);
    for (std::size_t i = 0; i < index.entries.size(); ++i) {
        const MediaObjectRead* expected = nullptr;
        for (const auto& o : objects)
            if (o.keyFrame && (expected == nullptr || o.presentationTimeMs <= i * 1000)) {
                if (expected && o.presentationTimeMs > i * 1000) break;
                expected = &o;
            }
        ASSERT_TRUE(expected);
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(index.entries[i].packet, expected->firstPacket);
        EXPECT_EQ(index.entries[i].count, expected->lastPacket - expected->firstPacket + 1);
    }
    // The Index Object says the same in bytes.
    ASSERT_TRUE(file.indexObject().has_value());
    const auto& io = *file.indexObject();
    ASSERT_EQ(io.specifiers.size(), 1u);
    EXPECT_EQ(io.specifiers[0].type, 3);
    ASSERT_EQ(io.entryCount(), index.entries.size());
    for (std::size_t i = 0; i < index.entries.size(); ++i)
        EXPECT_EQ(io.position(i, 0), std::uint64_t{index.entries[i].packet} * file.packetSize());
}

TEST(AsfMuxer, AudioOnlyFileIsIndexedAndSeekable)
{
    TempDir dir;
    const std::string path = dir.file("a.wma");
    ASSERT_TRUE(muxFile(path, {audioStream(1)}, interleave({{1, syntheticAudio(200)}})));
    AsfReader file;
    ASSERT_TRUE(file.open(path));
    EXPECT_EQ(problemsOf(file), "");
    EXPECT_TRUE(file.simpleIndexes().empty());
    ASSERT_TRUE(file.indexObject().has_value());
    EXPECT_EQ(file.indexObject()->specifiers[0].type, 2);
    EXPECT_TRUE(file.fileProperties().seekable());
}

TEST(AsfMuxer, VideoWithoutKeyFramesIsNotMarkedSeekable)
{
    TempDir dir;
    const std::string path = dir.file("nokey.wmv");
    ASSERT_TRUE(muxFile(path, {videoStream(1)}, interleave({{1, syntheticVideo(20, 400000, 0)}})));
    AsfReader file;
    ASSERT_TRUE(file.open(path));
    EXPECT_FALSE(file.fileProperties().seekable());
    EXPECT_EQ(problemsOf(file), "");
}

// The packets' content does not depend on the order the host delivers the
// streams in: all video first, all audio first, or interleaved.
TEST(AsfMuxer, FileIsInSendOrderWhateverTheDeliveryOrder)
{
    auto video = syntheticVideo(150);
    auto audio = syntheticAudio(130);
    const auto streams = std::vector<asf::StreamDescription>{videoStream(1), audioStream(2)};
    std::vector<Delivery> videoFirst, audioFirst;
    for (const auto& o : video) videoFirst.push_back({1, o});
    for (const auto& o : audio) videoFirst.push_back({2, o});
    for (const auto& o : audio) audioFirst.push_back({2, o});
    for (const auto& o : video) audioFirst.push_back({1, o});
    asf::MuxerOptions options;
    options.creationTime = 1;
    std::vector<std::vector<Packet>> results;
    TempDir dir;
    int n = 0;
    for (const auto& deliveries : {interleave({{1, video}, {2, audio}}), videoFirst, audioFirst}) {
        const std::string path = dir.file("order" + std::to_string(n++) + ".wmv");
        ASSERT_TRUE(muxFile(path, streams, deliveries, options));
        AsfReader file;
        ASSERT_TRUE(file.open(path));
        EXPECT_EQ(problemsOf(file), "");
        std::vector<Packet> packets;
        ASSERT_TRUE(file.readPackets(packets, true));
        results.push_back(packets);
    }
    for (std::size_t k = 1; k < results.size(); ++k) {
        ASSERT_EQ(results[k].size(), results[0].size());
        for (std::size_t i = 0; i < results[0].size(); ++i) {
            EXPECT_EQ(results[k][i].sendTimeMs, results[0][i].sendTimeMs);
            ASSERT_EQ(results[k][i].payloads.size(), results[0][i].payloads.size());
            for (std::size_t j = 0; j < results[0][i].payloads.size(); ++j) {
                EXPECT_EQ(results[k][i].payloads[j].stream, results[0][i].payloads[j].stream);
                EXPECT_EQ(results[k][i].payloads[j].data, results[0][i].payloads[j].data);
            }
        }
    }
}

// An hour-like imbalance in small: 24 MB of video before any audio, with a
// 2 MB memory window. The spill file exists while the video waits, is gone
// afterwards, and the file is the same as with unlimited memory.
TEST(AsfMuxer, StreamFarAheadSpillsToDiskWithinTheMemoryWindow)
{
    TempDir dir;
    const std::string path = dir.file("ahead.wmv");
    const std::string spill = path + ".spill";  // the default: beside the output
    auto video = syntheticVideo(1500, 400000, 25, 16000);  // 60 s, ~24 MB
    auto audio = syntheticAudio(1300);
    asf::MuxerOptions options;
    options.memoryWindowBytes = 2u << 20;
    options.creationTime = 1;
    std::string error;
    auto sink = asf::createFileSink(path, &error);
    ASSERT_TRUE(sink) << error;
    std::size_t peak = 0;
    std::size_t baseline = 0;
    {
        asf::Muxer muxer(std::move(sink), options);
        ASSERT_TRUE(muxer.addStream(videoStream(1)) && muxer.addStream(audioStream(2)));
        ASSERT_TRUE(muxer.begin());
        baseline = mallinfo2().uordblks;
        for (const auto& o : video) {
            ASSERT_TRUE(muxer.write(1, o)) << muxer.error();
            peak = std::max<std::size_t>(peak, mallinfo2().uordblks);
        }
        EXPECT_TRUE(std::filesystem::exists(spill));
        EXPECT_GT(std::filesystem::file_size(spill), 18u << 20);
        for (const auto& o : audio) {
            ASSERT_TRUE(muxer.write(2, o)) << muxer.error();
            peak = std::max<std::size_t>(peak, mallinfo2().uordblks);
        }
        ASSERT_TRUE(muxer.finish()) << muxer.error();
        EXPECT_FALSE(std::filesystem::exists(spill));
    }
    if (!kSanitized) {
        const std::size_t grown = peak > baseline ? peak - baseline : 0;
        RecordProperty("heap_growth_bytes", std::to_string(grown));
        std::printf("heap growth while 24 MB waited: %.1f MB (window 2 MB)\n", static_cast<double>(grown) / 1048576.0);
        EXPECT_LT(grown, std::size_t{6} << 20);
    }
    AsfReader file;
    ASSERT_TRUE(file.open(path));
    EXPECT_EQ(problemsOf(file), "");
    expectSameObjects(file, 1, video);
    expectSameObjects(file, 2, audio);

    // Same packets as with everything in memory.
    options.memoryWindowBytes = std::size_t{1} << 30;
    const auto reference = muxToMemory({videoStream(1), audioStream(2)}, interleave({{1, video}, {2, audio}}), options);
    ASSERT_TRUE(reference.ok);
    const auto written = readFileBytes(path);
    ASSERT_EQ(written.size(), reference.bytes->size());
    const auto dataStart = static_cast<std::ptrdiff_t>(file.firstPacketOffset());
    const auto dataEnd = dataStart + static_cast<std::ptrdiff_t>(file.dataPacketCount() * file.packetSize());
    EXPECT_TRUE(std::equal(written.begin() + dataStart, written.begin() + dataEnd, reference.bytes->begin() + dataStart));
}

TEST(AsfMuxer, SpillFileIsRemovedWhenTheMuxerIsAbandoned)
{
    TempDir dir;
    const std::string spill = dir.file("chosen.tmp");
    asf::MuxerOptions options;
    options.memoryWindowBytes = 100000;
    options.spillPath = spill;
    {
        asf::Muxer muxer(std::make_unique<MemorySink>(std::make_shared<std::vector<std::uint8_t>>()), options);
        ASSERT_TRUE(muxer.addStream(videoStream(1)) && muxer.addStream(audioStream(2)) && muxer.begin());
        for (const auto& o : syntheticVideo(100)) ASSERT_TRUE(muxer.write(1, o));
        EXPECT_TRUE(std::filesystem::exists(spill));
    }
    EXPECT_FALSE(std::filesystem::exists(spill));
}

TEST(AsfMuxer, SpillFailureIsReported)
{
    asf::MuxerOptions options;
    options.memoryWindowBytes = 100000;
    options.spillPath = "/nonexistent-dir/spill.tmp";
    asf::Muxer muxer(std::make_unique<MemorySink>(std::make_shared<std::vector<std::uint8_t>>()), options);
    ASSERT_TRUE(muxer.addStream(videoStream(1)) && muxer.addStream(audioStream(2)) && muxer.begin());
    bool ok = true;
    for (const auto& o : syntheticVideo(100))
        if (ok) ok = muxer.write(1, o);
    EXPECT_FALSE(ok);
    EXPECT_NE(muxer.error().find("temporary file"), std::string::npos) << muxer.error();
    EXPECT_FALSE(muxer.finish());
}

TEST(AsfMuxer, EndedStreamLetsTheOthersGoOut)
{
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    asf::Muxer muxer(std::make_unique<MemorySink>(bytes), {});
    ASSERT_TRUE(muxer.addStream(videoStream(1)) && muxer.addStream(audioStream(2)));
    ASSERT_TRUE(muxer.begin());
    const std::size_t headerSize = bytes->size();
    for (const auto& o : syntheticVideo(100)) ASSERT_TRUE(muxer.write(1, o));
    EXPECT_EQ(bytes->size(), headerSize);  // waiting for audio
    ASSERT_TRUE(muxer.endStream(2));
    EXPECT_GT(bytes->size(), headerSize + 100000);
    EXPECT_FALSE(muxer.write(2, syntheticAudio(1)[0]));
    ASSERT_TRUE(muxer.finish());
    EXPECT_EQ(muxer.stats(1).objects, 100u);
    EXPECT_EQ(muxer.stats(1).lastEndTime, 100 * 400000);
    EXPECT_EQ(muxer.stats(2).objects, 0u);
}

// A sink failing at its N-th call, for every N the file needs: some call
// reports it, with a reason, and nothing succeeds after it.
TEST(AsfMuxer, EveryFailingWriteIsReported)
{
    auto video = syntheticVideo(40);
    auto audio = syntheticAudio(40);
    const auto deliveries = interleave({{1, video}, {2, audio}});
    int calls = 0;
    {
        auto bytes = std::make_shared<std::vector<std::uint8_t>>();
        auto sink = std::make_unique<MemorySink>(bytes);
        MemorySink* raw = sink.get();
        asf::Muxer muxer(std::move(sink), {});
        ASSERT_TRUE(muxer.addStream(videoStream(1)) && muxer.addStream(audioStream(2)) && muxer.begin());
        for (const auto& d : deliveries) ASSERT_TRUE(muxer.write(d.stream, d.object));
        ASSERT_TRUE(muxer.finish());
        calls = raw->calls();
    }
    ASSERT_GT(calls, 20);
    for (int failAt = 1; failAt <= calls; ++failAt) {
        SCOPED_TRACE("failing at call " + std::to_string(failAt));
        asf::Muxer muxer(std::make_unique<MemorySink>(std::make_shared<std::vector<std::uint8_t>>(), failAt), {});
        ASSERT_TRUE(muxer.addStream(videoStream(1)) && muxer.addStream(audioStream(2)));
        bool ok = muxer.begin();
        for (const auto& d : deliveries)
            if (ok) ok = muxer.write(d.stream, d.object);
        if (ok) ok = muxer.finish();
        EXPECT_FALSE(ok);
        EXPECT_NE(muxer.error().find("simulated write failure"), std::string::npos) << muxer.error();
        EXPECT_FALSE(muxer.finish());
    }
}

TEST(AsfMuxer, FullDiskIsReported)
{
    std::string error;
    auto sink = asf::createFileSink("/dev/full", &error);
    if (!sink) GTEST_SKIP() << error;
    asf::Muxer muxer(std::move(sink), {});
    ASSERT_TRUE(muxer.addStream(videoStream(1)));
    bool ok = muxer.begin();
    for (const auto& o : syntheticVideo(20))
        if (ok) ok = muxer.write(1, o);
    if (ok) ok = muxer.finish();
    EXPECT_FALSE(ok);
    EXPECT_NE(muxer.error().find("No space"), std::string::npos) << muxer.error();
}

TEST(AsfMuxer, RemovedOutputFileIsReported)
{
    TempDir dir;
    const std::string path = dir.file("gone.wmv");
    std::string error;
    auto sink = asf::createFileSink(path, &error);
    ASSERT_TRUE(sink) << error;
    asf::Muxer muxer(std::move(sink), {});
    ASSERT_TRUE(muxer.addStream(videoStream(1)) && muxer.begin());
    for (const auto& o : syntheticVideo(20)) ASSERT_TRUE(muxer.write(1, o));
    std::filesystem::remove(path);
    EXPECT_FALSE(muxer.finish());
    EXPECT_NE(muxer.error().find("removed"), std::string::npos) << muxer.error();
}

TEST(AsfMuxer, UncreatableFileGivesAReason)
{
    std::string error;
    EXPECT_EQ(asf::createFileSink("/nonexistent-dir/x.wmv", &error), nullptr);
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(AsfMuxer, RefusesBadStreamsAndObjectsAndKeepsGoing)
{
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    asf::Muxer muxer(std::make_unique<MemorySink>(bytes), {});
    EXPECT_FALSE(muxer.write(1, syntheticVideo(1)[0]));  // before begin
    EXPECT_FALSE(muxer.begin());                          // no streams
    EXPECT_FALSE(muxer.addStream(videoStream(0)));
    EXPECT_FALSE(muxer.addStream(videoStream(128)));
    auto noFormat = videoStream(1);
    noFormat.format.resize(20);
    EXPECT_FALSE(muxer.addStream(noFormat));
    auto noSize = videoStream(1);
    noSize.width = 0;
    EXPECT_FALSE(muxer.addStream(noSize));
    auto badWave = audioStream(2);
    badWave.format.pop_back();
    EXPECT_FALSE(muxer.addStream(badWave));
    ASSERT_TRUE(muxer.addStream(videoStream(1)));
    EXPECT_FALSE(muxer.addStream(audioStream(1)));  // duplicate number
    EXPECT_FALSE(muxer.error().empty());
    ASSERT_TRUE(muxer.addStream(audioStream(2)));
    ASSERT_TRUE(muxer.begin());
    EXPECT_FALSE(muxer.addStream(audioStream(3)));  // after begin
    EXPECT_FALSE(muxer.begin());

    auto video = syntheticVideo(3);
    EXPECT_FALSE(muxer.write(3, video[0]));  // unknown stream
    MediaObject empty = video[0];
    empty.data.clear();
    EXPECT_FALSE(muxer.write(1, empty));
    MediaObject negative = video[0];
    negative.presentationTime = -1;
    EXPECT_FALSE(muxer.write(1, negative));
    ASSERT_TRUE(muxer.write(1, video[1]));
    EXPECT_FALSE(muxer.write(1, video[0]));  // going back in time
    MediaObject partBlock = syntheticAudio(1)[0];
    partBlock.data.resize(700);
    EXPECT_FALSE(muxer.write(2, partBlock));
    ASSERT_TRUE(muxer.write(1, video[2]));  // refused objects changed nothing
    ASSERT_TRUE(muxer.write(2, syntheticAudio(1)[0]));
    ASSERT_TRUE(muxer.finish()) << muxer.error();
    EXPECT_FALSE(muxer.finish());
    EXPECT_FALSE(muxer.write(1, video[2]));

    TempDir dir;
    writeFileBytes(dir.file("r.wmv"), *bytes);
    AsfReader file;
    ASSERT_TRUE(file.open(dir.file("r.wmv")));
    EXPECT_EQ(problemsOf(file), "");
    EXPECT_EQ(objectsOf(file, 1).size(), 2u);
}

TEST(AsfMuxer, AudioBlockLargerThanThePacketIsRefused)
{
    asf::MuxerOptions options;
    options.packetSize = 1000;
    asf::Muxer muxer(std::make_unique<MemorySink>(std::make_shared<std::vector<std::uint8_t>>()), options);
    ASSERT_TRUE(muxer.addStream(audioStream(1, 2000)));
    EXPECT_FALSE(muxer.begin());
    EXPECT_NE(muxer.error().find("does not fit"), std::string::npos);
}

TEST(AsfMuxer, StreamNamesAreWrittenOnlyWhenGiven)
{
    auto named = videoStream(1);
    named.name = u"Camera";
    TempDir dir;
    ASSERT_TRUE(muxFile(dir.file("n.wmv"), {named, audioStream(2)}, interleave({{1, syntheticVideo(5)}, {2, syntheticAudio(5)}})));
    AsfReader file;
    ASSERT_TRUE(file.open(dir.file("n.wmv")));
    ASSERT_TRUE(file.extendedStream(1) && file.extendedStream(2));
    EXPECT_EQ(file.extendedStream(1)->names, std::vector<std::u16string>{u"Camera"});
    EXPECT_TRUE(file.extendedStream(2)->names.empty());
    EXPECT_EQ(problemsOf(file), "");
}

TEST(AsfMuxer, EmptyFileIsValid)
{
    TempDir dir;
    ASSERT_TRUE(muxFile(dir.file("e.wmv"), {videoStream(1), audioStream(2)}, {}));
    AsfReader file;
    ASSERT_TRUE(file.open(dir.file("e.wmv")));
    EXPECT_EQ(file.fileProperties().packets, 0u);
    EXPECT_FALSE(file.fileProperties().seekable());
    EXPECT_EQ(problemsOf(file), "");
}

// The file written so far, cut after any whole packet, is a readable file
// (the header says "broadcast" until finish() fills in the figures).
TEST(AsfMuxer, UnfinishedFileCutAfterAnyPacketReads)
{
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    asf::Muxer muxer(std::make_unique<MemorySink>(bytes), {});
    ASSERT_TRUE(muxer.addStream(videoStream(1)) && muxer.addStream(audioStream(2)) && muxer.begin());
    for (const auto& d : interleave({{1, syntheticVideo(60)}, {2, syntheticAudio(60)}})) ASSERT_TRUE(muxer.write(d.stream, d.object));
    const std::vector<std::uint8_t> snapshot = *bytes;
    ASSERT_TRUE(muxer.finish());

    TempDir dir;
    writeFileBytes(dir.file("whole.wmv"), *bytes);
    AsfReader whole;
    ASSERT_TRUE(whole.open(dir.file("whole.wmv")));
    const std::uint64_t first = whole.firstPacketOffset(), size = whole.packetSize();
    ASSERT_GT(snapshot.size(), first + 3 * size);
    EXPECT_EQ((snapshot.size() - first) % size, 0u);  // only whole packets were handed out
    for (std::uint64_t packets : {std::uint64_t{5}, std::uint64_t{9}, (snapshot.size() - first) / size}) {
        SCOPED_TRACE(std::to_string(packets) + " packets");
        const std::string path = dir.file("cut" + std::to_string(packets) + ".wmv");
        writeFileBytes(path, std::vector<std::uint8_t>(snapshot.begin(), snapshot.begin() + static_cast<std::ptrdiff_t>(first + packets * size)));
        AsfReader cut;
        ASSERT_TRUE(cut.open(path)) << cut.error();
        EXPECT_TRUE(cut.fileProperties().broadcast());
        EXPECT_EQ(cut.packetsPresent(), packets);
        asfread::ValidateOptions unfinished;
        unfinished.finished = false;
        EXPECT_EQ(problemsOf(cut, unfinished), "");
        if (toolAvailable("ffprobe")) {
            const CommandResult r = runCommand("ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " + shellQuote(path));
            EXPECT_EQ(r.exitCode, 0) << r.errors;
            EXPECT_EQ(r.errors, "");
            EXPECT_EQ(r.output.find("N/A"), std::string::npos) << r.output;  // every stream has packets
        }
    }
}

}  // namespace
}  // namespace asfw::test
