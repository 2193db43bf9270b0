// Deliberately broken files: each fault must be caught by the reader's
// validation, and by the tools where they are known to care. Proves the
// checks used on good files can fail.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <ostream>

#include "muxer_fixtures.h"
#include "support/asf_checkers.h"
#include "support/asf_reader.h"
#include "support/test_support.h"

namespace asfw::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A good file's layout, for the breakers.
struct Layout {
    std::uint64_t fileProperties = 0;  // object offset
    std::uint64_t dataObject = 0;
    std::uint64_t firstPacket = 0;
    std::uint32_t packetSize = 0;
    std::uint64_t packets = 0;
    std::uint64_t dataEnd = 0;
    std::uint64_t prerollMs = 0;
};

// File Properties field offsets from the object start.
constexpr std::uint64_t kFileSize = 40, kPackets = 56, kPreroll = 80, kFlags = 88, kMinPacket = 92;

enum class Tool { None, GstDiscoverFails, GstNotSeekable, GstDurationWrong, FfmpegDecodeFails };

struct BrokenCase {
    const char* name;
    std::function<bool(Bytes&, const Layout&, const std::string& dir)> breakFile;  // false: case not applicable
    const char* validatorSays;
    Tool tool;
};

void dropIndexes(Bytes& b, const Layout& l)
{
    b.resize(l.dataEnd);
    asfread::patchU64(b, l.fileProperties + kFileSize, b.size());
}

const BrokenCase kCases[] = {
    {"MinPacketSizeDiffersFromMax",
     [](Bytes& b, const Layout& l, const std::string&) {
         asfread::patchU32(b, l.fileProperties + kMinPacket, l.packetSize - 100);
         return true;
     },
     "minimum packet size", Tool::GstDiscoverFails},
    {"SeekableFlagWithoutIndex",
     [](Bytes& b, const Layout& l, const std::string&) {
         dropIndexes(b, l);
         return true;
     },
     "seekable, but", Tool::None},
    {"NoIndexNotSeekable",
     [](Bytes& b, const Layout& l, const std::string&) {
         dropIndexes(b, l);
         asfread::patchU32(b, l.fileProperties + kFlags, 0);
         return true;
     },
     "no Simple Index", Tool::GstNotSeekable},
    {"PrerollLargerThanTheTimes",
     [](Bytes& b, const Layout& l, const std::string&) {
         asfread::patchU64(b, l.fileProperties + kPreroll, l.prerollMs + 2000);
         return true;
     },
     "before the preroll", Tool::GstDurationWrong},
    {"FileIdDiffers",
     [](Bytes& b, const Layout& l, const std::string&) {
         b.at(l.dataObject + 24) ^= 0xFF;
         return true;
     },
     "File ID differs", Tool::None},
    {"PacketCountTooLarge",
     [](Bytes& b, const Layout& l, const std::string&) {
         asfread::patchU64(b, l.fileProperties + kPackets, l.packets + 1);
         return true;
     },
     "packet count", Tool::None},
    {"DataCutShort",
     [](Bytes& b, const Layout& l, const std::string&) {
         b.erase(b.begin() + static_cast<std::ptrdiff_t>(l.dataEnd - 3 * l.packetSize - 100), b.end());
         return true;
     },
     "packets present", Tool::FfmpegDecodeFails},
    {"PaddingLengthWrong",
     [](Bytes& b, const Layout& l, const std::string&) {
         const std::uint64_t at = l.firstPacket + 5 * l.packetSize + 5;  // padding length of packet 5
         asfread::patchU16(b, at, static_cast<std::uint16_t>(b[at] + 1));
         return true;
     },
     "padding does not end", Tool::None},
};

// Audio payloads split inside a block: written by our muxer told a block
// of one byte while the WAVEFORMATEX says 371. FFmpeg and GStreamer join
// the fragments again and accept such a file; only the validation sees it.
TEST(AsfMuxerBrokenFiles, AudioSplitInsideABlockIsCaught)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    RemuxSource source = realStreams(dir.path(), true, true, 4);
    ASSERT_TRUE(source.error.empty()) << source.error;
    for (auto& s : source.streams)
        if (s.audio) s.blockAlign = 1;
    const std::string path = dir.file("split.wmv");
    ASSERT_TRUE(muxFile(path, source.streams, source.deliveries));
    if (const char* keep = std::getenv("ASFW_MUXER_KEEP_DIR")) writeFileBytes(std::string(keep) + "/AudioSplit.wmv", readFileBytes(path));
    asfread::AsfReader file;
    ASSERT_TRUE(file.open(path));
    std::string problems;
    for (const auto& p : asfread::validate(file)) problems += p + "\n";
    EXPECT_NE(problems.find("is not whole blocks of 371"), std::string::npos) << problems;
}

void PrintTo(const BrokenCase& c, std::ostream* os)
{
    *os << c.name;
}

class AsfMuxerBrokenFile : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(AsfMuxerBrokenFile, IsCaught)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    const BrokenCase& c = GetParam();
    TempDir dir;
    const RemuxSource source = realStreams(dir.path(), true, true, 4);
    ASSERT_TRUE(source.error.empty()) << source.error;
    const std::string good = dir.file("good.wmv");
    ASSERT_TRUE(muxFile(good, source.streams, source.deliveries));

    Layout layout;
    {
        asfread::AsfReader file;
        ASSERT_TRUE(file.open(good)) << file.error();
        ASSERT_TRUE(asfread::validate(file).empty());
        layout.fileProperties = file.fileProperties().offset;
        layout.dataObject = file.dataObjectOffset();
        layout.firstPacket = file.firstPacketOffset();
        layout.packetSize = file.packetSize();
        layout.packets = file.dataPacketCount();
        layout.dataEnd = file.dataObjectOffset() + file.dataObjectSize();
        layout.prerollMs = file.fileProperties().prerollMs;
    }
    Bytes bytes = readFileBytes(good);
    ASSERT_TRUE(c.breakFile(bytes, layout, dir.path()));
    const std::string broken = dir.file("broken.wmv");
    ASSERT_TRUE(writeFileBytes(broken, bytes));
    if (const char* keep = std::getenv("ASFW_MUXER_KEEP_DIR")) writeFileBytes(std::string(keep) + "/" + c.name + ".wmv", bytes);

    asfread::AsfReader file;
    std::string problems;
    if (!file.open(broken)) {
        problems = file.error();
    } else {
        for (const auto& p : asfread::validate(file)) problems += p + "\n";
    }
    EXPECT_NE(problems.find(c.validatorSays), std::string::npos) << "validation said:\n" << problems;

    switch (c.tool) {
    case Tool::None: break;
    case Tool::GstDiscoverFails: {
        ASFW_REQUIRE_TOOL("gst-discoverer-1.0");
        const Discovery d = gstDiscover(broken);
        EXPECT_FALSE(d.ok) << d.output;
        break;
    }
    case Tool::GstNotSeekable: {
        ASFW_REQUIRE_TOOL("gst-discoverer-1.0");
        const Discovery d = gstDiscover(broken);
        EXPECT_TRUE(d.ok) << d.output;
        EXPECT_FALSE(d.seekable) << d.output;
        break;
    }
    case Tool::GstDurationWrong: {  // the content lasts 4 s
        ASFW_REQUIRE_TOOL("gst-discoverer-1.0");
        const Discovery d = gstDiscover(broken);
        EXPECT_GT(std::abs(d.duration - 4.0), 1.0) << d.output;
        break;
    }
    case Tool::FfmpegDecodeFails: {
        const ToolRun r = ffmpegDecode(broken);
        EXPECT_FALSE(r.ok) << r.errors;
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, AsfMuxerBrokenFile, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace asfw::test
