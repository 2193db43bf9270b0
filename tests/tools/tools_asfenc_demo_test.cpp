// The program's main job: with no arguments, asfenc writes demo.wmv from
// its built-in pattern and tone. Slow under the sanitizers (300 frames of
// 640x480), so it has its own label.
#include "tools_asfenc_support.h"

namespace asfenc_test {
namespace {

TEST(Asfenc, NoArgumentsWritesTheDemoWithBothStreams)
{
    ASFW_REQUIRE_TOOL("ffprobe");
    TempDir dir;
    const CommandResult r = asfenc(dir, "");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_TRUE(r.errors.empty()) << r.errors;  // no progress line when stderr is not a terminal
    EXPECT_EQ(r.output.rfind("demo.wmv: video 640x480 29.97 fps 300 frames", 0), 0u) << r.output;
    ASSERT_TRUE(exists(dir.file("demo.wmv")));
    const std::string streams = probeStreams(dir.file("demo.wmv"));
    EXPECT_NE(streams.find("wmv3,video,640,480"), std::string::npos) << streams;
    EXPECT_NE(streams.find("wmav2,audio"), std::string::npos) << streams;
    const std::string duration =
        runCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + shellQuote(dir.file("demo.wmv")))
            .output;
    EXPECT_NEAR(std::atof(duration.c_str()), 10.0, 0.5) << duration;
    EXPECT_EQ(decodedFrames(dir.file("demo.wmv")), 300);
}

}  // namespace
}  // namespace asfenc_test
