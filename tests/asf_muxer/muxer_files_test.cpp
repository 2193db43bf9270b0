// Files from the muxer judged by the independent tools: FFmpeg, GStreamer,
// MediaInfo. Synthetic payloads are checked at the demultiplexing level;
// real payloads (FFmpeg-encoded, written again by our muxer) are decoded.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

#include "muxer_fixtures.h"
#include "support/asf_checkers.h"
#include "support/asf_reader.h"
#include "support/test_support.h"

namespace asfw::test {
namespace {

std::string problemsOf(const std::string& path)
{
    asfread::AsfReader file;
    if (!file.open(path)) return file.error();
    std::string text;
    for (const auto& p : asfread::validate(file)) text += p + "\n";
    return text;
}

TEST(AsfMuxerFiles, SyntheticStreamsDemultiplexEverywhere)
{
    ASFW_REQUIRE_TOOL("ffprobe");
    ASFW_REQUIRE_TOOL("gst-launch-1.0");
    ASFW_REQUIRE_TOOL("mediainfo");
    TempDir dir;
    const std::string path = dir.file("synthetic.wmv");
    const auto video = syntheticVideo(100, 400000, 25);
    const auto audio = syntheticAudio(90);
    ASSERT_TRUE(muxFile(path, {videoStream(1), audioStream(2)}, interleave({{1, video}, {2, audio}})));
    ASSERT_EQ(problemsOf(path), "");

    const ProbeResult probe = ffprobeStreams(path);
    ASSERT_TRUE(probe.ok) << probe.errors;
    EXPECT_EQ(probe.errors, "");
    ASSERT_EQ(probe.streams.size(), 2u);
    EXPECT_EQ(probe.streams[0].codecName, "wmv3");
    EXPECT_EQ(probe.streams[0].width, 320);
    EXPECT_EQ(probe.streams[0].height, 240);
    EXPECT_NEAR(probe.streams[0].avgFrameRate, 25.0, 1e-6);
    EXPECT_EQ(probe.streams[1].codecName, "wmav2");
    EXPECT_EQ(probe.streams[1].sampleRate, 44100);
    EXPECT_EQ(probe.streams[1].channels, 2);
    EXPECT_NEAR(probe.duration, 90 * 0.0464399, 0.002);  // the longer stream, without the preroll
    EXPECT_NEAR(probe.startTime, 0.0, 1e-9);

    const ProbePackets packets = ffprobePackets(path);
    ASSERT_TRUE(packets.ok) << packets.errors;
    EXPECT_EQ(packets.errors, "");
    std::vector<ProbePacket> v, a;
    for (const auto& p : packets.packets) (p.streamIndex == 0 ? v : a).push_back(p);
    ASSERT_EQ(v.size(), video.size());
    ASSERT_EQ(a.size(), audio.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
        EXPECT_EQ(v[i].key, video[i].keyFrame) << i;
        EXPECT_NEAR(v[i].ptsTime, static_cast<double>(video[i].presentationTime) / 1e7, 0.0006) << i;
        EXPECT_EQ(v[i].size, static_cast<std::int64_t>(video[i].data.size())) << i;
    }

    const ToolRun demux = gstDemux(path, 2);
    EXPECT_TRUE(demux.ok) << demux.exitCode << " " << demux.errors;

    const MediaInfo info = mediaInfo(path);
    ASSERT_TRUE(info.ok) << info.raw;
    const auto* general = info.track("General");
    const auto* mv = info.track("Video");
    const auto* ma = info.track("Audio");
    ASSERT_TRUE(general && mv && ma) << info.raw;
    EXPECT_EQ(mv->field("ID"), "1");
    EXPECT_EQ(mv->field("CodecID"), "WMV3");
    EXPECT_EQ(mv->field("Width"), "320");
    EXPECT_EQ(ma->field("ID"), "2");
    EXPECT_EQ(ma->field("CodecID"), "161");
    EXPECT_NEAR(std::stod(general->field("Duration")), 4.18, 0.01);

    if (toolAvailable("exiftool")) {
        auto tags = exifTool(path);
        EXPECT_EQ(tags["ASF:Preroll"], "3000");
        EXPECT_EQ(tags["ASF:MinPacketSize"], tags["ASF:MaxPacketSize"]);
        EXPECT_EQ(tags["ASF:Flags"], "2");  // seekable, not broadcast
        EXPECT_EQ(tags["ASF:ImageWidth"], "320");
        EXPECT_EQ(tags["ASF:ErrorCorrectionType"], "Audio Spread");
    } else if (underCi()) {
        ADD_FAILURE() << "missing tool: exiftool";
    }
}

struct RealCase {
    const char* name;
    bool video, audio;
    std::uint32_t packetSize;
};

void PrintTo(const RealCase& c, std::ostream* os)
{
    *os << c.name;
}

class AsfMuxerRealStreams : public ::testing::TestWithParam<RealCase> {};

TEST_P(AsfMuxerRealStreams, DecodeCleanlyWithDurationAndSeeking)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    ASFW_REQUIRE_TOOL("ffprobe");
    ASFW_REQUIRE_TOOL("gst-discoverer-1.0");
    ASFW_REQUIRE_TOOL("gst-launch-1.0");
    const RealCase c = GetParam();
    TempDir dir;
    const RemuxSource source = realStreams(dir.path(), c.video, c.audio, 6);
    ASSERT_TRUE(source.error.empty()) << source.error;
    const std::string path = dir.file("real.wmv");
    asf::MuxerOptions options;
    options.packetSize = c.packetSize;
    std::string error;
    ASSERT_TRUE(muxFile(path, source.streams, source.deliveries, options, &error)) << error;
    ASSERT_EQ(problemsOf(path), "");

    const ToolRun decoded = ffmpegDecode(path);
    EXPECT_TRUE(decoded.ok) << decoded.exitCode << " " << decoded.errors;

    const Discovery discovered = gstDiscover(path);
    EXPECT_TRUE(discovered.ok) << discovered.output;
    EXPECT_TRUE(discovered.seekable) << discovered.output;
    EXPECT_NEAR(discovered.duration, 6.0, 0.1) << discovered.output;

    const ToolRun gst = gstDecode(path, static_cast<int>(source.streams.size()));
    EXPECT_TRUE(gst.ok) << gst.exitCode << " " << gst.errors;

    const ProbeResult probe = ffprobeStreams(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_NEAR(probe.duration, 6.0, 0.1);
    ASSERT_EQ(probe.streams.size(), source.streams.size());
}

INSTANTIATE_TEST_SUITE_P(Configurations, AsfMuxerRealStreams,
                         ::testing::Values(RealCase{"AudioVideo", true, true, 0}, RealCase{"VideoOnly", true, false, 0},
                                           RealCase{"AudioOnly", false, true, 0},
                                           RealCase{"AudioVideoSmallPackets", true, true, 1200},
                                           RealCase{"AudioVideoLargestChosenPackets", true, true, 32768}),
                         [](const auto& info) { return std::string(info.param.name); });

// Seeking near a point lands on the key frame at or before it, found
// through the index.
TEST(AsfMuxerFiles, SeekingLandsOnTheNearestPastKeyFrame)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    ASFW_REQUIRE_TOOL("ffprobe");
    TempDir dir;
    const RemuxSource source = realStreams(dir.path(), true, true, 20, 50);  // key frames every 2 s
    ASSERT_TRUE(source.error.empty()) << source.error;
    const std::string path = dir.file("seek.wmv");
    ASSERT_TRUE(muxFile(path, source.streams, source.deliveries));
    for (const double target : {5.0, 11.3, 16.0}) {
        SCOPED_TRACE(target);
        const ProbePackets p = ffprobePackets(path, "-select_streams v -read_intervals " + std::to_string(target) + "%+#1");
        ASSERT_TRUE(p.ok) << p.errors;
        ASSERT_EQ(p.packets.size(), 1u);
        EXPECT_TRUE(p.packets[0].key);
        EXPECT_LE(p.packets[0].ptsTime, target + 0.001);
        EXPECT_GT(p.packets[0].ptsTime, target - 2.0);
    }
}

}  // namespace
}  // namespace asfw::test
