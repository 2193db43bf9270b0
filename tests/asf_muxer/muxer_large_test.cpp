// A file crossing 4 GB: 64-bit sizes, packet numbers and index positions
// beyond 32 bits, seeking near the end. Needs about 4.5 GB of disk (skipped
// with less than 10 GB free).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "muxer_fixtures.h"
#include "support/asf_checkers.h"
#include "support/asf_reader.h"
#include "support/test_support.h"

namespace asfw::test {
namespace {

constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;

TEST(AsfMuxerLarge, FileBeyondFourGigabytesIsRight)
{
    TempDir dir;
    const auto space = std::filesystem::space(dir.path());
    if (space.available < (std::uint64_t{10} << 30)) GTEST_SKIP() << "less than 10 GB free in " << dir.path();

    const std::string path = dir.file("large.wmv");
    constexpr std::int64_t kFrame = 400000;      // 25 frames per second
    constexpr std::size_t kFrameBytes = 1 << 20;  // 1 MiB frames: 200 Mbit/s
    const int frames = static_cast<int>((k4GiB + (300u << 20)) / kFrameBytes);  // ends ~300 MB past 4 GiB

    std::string error;
    auto sink = asf::createFileSink(path, &error);
    ASSERT_TRUE(sink) << error;
    asf::Muxer muxer(std::move(sink), {});
    ASSERT_TRUE(muxer.addStream(videoStream(1, 1920, 1080, 8 * 25 * kFrameBytes, 1000)));
    ASSERT_TRUE(muxer.addStream(audioStream(2, 742, 64000, 1000)));
    ASSERT_TRUE(muxer.begin()) << muxer.error();

    const auto started = std::chrono::steady_clock::now();
    MediaObject frame;
    frame.duration = kFrame;
    const auto audio = syntheticAudio(static_cast<int>(frames * kFrame / 464399) + 1);
    std::size_t nextAudio = 0;
    for (int i = 0; i < frames; ++i) {
        frame.presentationTime = i * kFrame;
        frame.keyFrame = i % 25 == 0;
        frame.data.assign(kFrameBytes, static_cast<std::uint8_t>(i));
        ASSERT_TRUE(muxer.write(1, frame)) << muxer.error();
        while (nextAudio < audio.size() && audio[nextAudio].presentationTime <= frame.presentationTime)
            ASSERT_TRUE(muxer.write(2, audio[nextAudio++])) << muxer.error();
    }
    ASSERT_TRUE(muxer.finish()) << muxer.error();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const auto size = std::filesystem::file_size(path);
    std::printf("wrote %.2f GB in %.1f s: %.0f MB/s\n", static_cast<double>(size) / 1e9, seconds,
                static_cast<double>(size) / 1e6 / seconds);
    RecordProperty("write_mb_per_s", std::to_string(static_cast<int>(static_cast<double>(size) / 1e6 / seconds)));
    ASSERT_GT(size, k4GiB);

    asfread::AsfReader file;
    ASSERT_TRUE(file.open(path)) << file.error();
    const auto checkStarted = std::chrono::steady_clock::now();
    const auto problems = asfread::validate(file);
    std::printf("validated every packet in %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - checkStarted).count());
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    EXPECT_EQ(file.fileProperties().fileSize, size);
    EXPECT_GT(file.dataObjectSize(), k4GiB);
    EXPECT_EQ(file.fileProperties().playDuration, static_cast<std::uint64_t>(frames) * kFrame + 1000 * 10000);

    // The last packet holds the end of the last frame.
    asfread::Packet last;
    ASSERT_TRUE(file.readPacket(file.dataPacketCount() - 1, last));
    ASSERT_FALSE(last.payloads.empty());
    EXPECT_GT(last.fileOffset, k4GiB);
    bool lastFrameEnds = false;
    for (const auto& p : last.payloads)
        if (p.stream == 1 && p.offset + p.length == p.objectSize && p.objectNumber == static_cast<std::uint32_t>((frames - 1) % 256))
            lastFrameEnds = true;
    EXPECT_TRUE(lastFrameEnds);

    // The Index Object needs a second block once offsets pass 32 bits, and
    // its positions agree with the Simple Index.
    ASSERT_TRUE(file.indexObject().has_value());
    const auto& io = *file.indexObject();
    EXPECT_GE(io.blocks.size(), 2u);
    ASSERT_EQ(file.simpleIndexes().size(), 1u);
    const auto& simple = file.simpleIndexes()[0];
    ASSERT_EQ(io.entryCount(), simple.entries.size());
    std::size_t beyond = 0;
    for (std::size_t i = 0; i < simple.entries.size(); ++i) {
        const auto position = io.position(i, 0);
        ASSERT_TRUE(position.has_value());
        EXPECT_EQ(*position, std::uint64_t{simple.entries[i].packet} * file.packetSize()) << i;
        beyond += *position > k4GiB;
    }
    EXPECT_GT(beyond, 5u);

    // Seeking near the end lands on the right key frame beyond 4 GiB.
    if (toolAvailable("ffprobe")) {
        const double end = static_cast<double>(frames) * 0.04;
        const double target = end - 3.3;
        const ProbePackets p = ffprobePackets(path, "-select_streams v -read_intervals " + std::to_string(target) + "%+#1");
        ASSERT_TRUE(p.ok) << p.errors;
        ASSERT_EQ(p.packets.size(), 1u);
        EXPECT_TRUE(p.packets[0].key);
        EXPECT_LE(p.packets[0].ptsTime, target);
        EXPECT_GT(p.packets[0].ptsTime, target - 1.0);
        EXPECT_GT(static_cast<std::uint64_t>(p.packets[0].pos), k4GiB);
        const ProbeResult probe = ffprobeStreams(path);
        ASSERT_TRUE(probe.ok);
        EXPECT_NEAR(probe.duration, end, 0.05);
    } else if (underCi()) {
        FAIL() << "missing tool: ffprobe";
    }
}

}  // namespace
}  // namespace asfw::test
