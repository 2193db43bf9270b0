// The command line of asfenc: what each option sets, and the usage errors.
#include "options.h"

#include <gtest/gtest.h>

namespace asfenc {
namespace {

TEST(Options, NoArgumentsIsTheDemoIntoDemoWmv)
{
    Options o;
    std::string error;
    ASSERT_EQ(parseOptions({}, o, error), ParseStatus::Run);
    EXPECT_TRUE(o.demo);
    EXPECT_EQ(o.output, "demo.wmv");
    EXPECT_EQ(o.videoKbps, 1000);
    EXPECT_EQ(o.quality, 0);
    EXPECT_EQ(o.passes, 1);
    EXPECT_EQ(o.audioKbps, 128);
    EXPECT_EQ(o.audioRate, 44100);
    EXPECT_EQ(o.audioChannels, 2);
}

TEST(Options, EveryOptionInBothSpellings)
{
    Options o;
    std::string error;
    ASSERT_EQ(parseOptions({"-i", "in.y4m", "-a", "in.wav", "-b", "2500", "-q", "75", "--passes", "2",
                            "--audio-kbps", "64", "--audio-rate", "22050", "--audio-channels", "1", "-o", "x.wmv"},
                           o, error),
              ParseStatus::Run)
        << error;
    EXPECT_EQ(o.video, "in.y4m");
    EXPECT_EQ(o.audio, "in.wav");
    EXPECT_EQ(o.videoKbps, 2500);
    EXPECT_EQ(o.quality, 75);
    EXPECT_EQ(o.passes, 2);
    EXPECT_EQ(o.audioKbps, 64);
    EXPECT_EQ(o.audioRate, 22050);
    EXPECT_EQ(o.audioChannels, 1);
    EXPECT_EQ(o.output, "x.wmv");
    EXPECT_FALSE(o.demo);

    ASSERT_EQ(parseOptions({"--video=raw.yuv", "--size=320x240", "--fps=30000/1001", "--video-kbps=500",
                            "--quality=1", "--output=y.wmv", "--audio", "-"},
                           o, error),
              ParseStatus::Run)
        << error;
    EXPECT_EQ(o.video, "raw.yuv");
    EXPECT_EQ(o.audio, "-");
    EXPECT_EQ(o.width, 320);
    EXPECT_EQ(o.height, 240);
    EXPECT_EQ(o.fpsNum, 30000);
    EXPECT_EQ(o.fpsDen, 1001);
    EXPECT_EQ(o.videoKbps, 500);
    EXPECT_EQ(o.quality, 1);

    ASSERT_EQ(parseOptions({"-i", "-", "--fps", "25", "-o", "z.wmv"}, o, error), ParseStatus::Run);
    EXPECT_EQ(o.fpsNum, 25);
    EXPECT_EQ(o.fpsDen, 1);

    ASSERT_EQ(parseOptions({"--demo", "-b", "300", "--passes", "2"}, o, error), ParseStatus::Run);
    EXPECT_TRUE(o.demo);
    EXPECT_EQ(o.output, "demo.wmv");
    ASSERT_EQ(parseOptions({"-q", "50", "-o", "mine.wmv"}, o, error), ParseStatus::Run);  // no input: the demo
    EXPECT_TRUE(o.demo);
    EXPECT_EQ(o.output, "mine.wmv");
}

TEST(Options, HelpAndVersion)
{
    Options o;
    std::string error;
    EXPECT_EQ(parseOptions({"-h"}, o, error), ParseStatus::Help);
    EXPECT_EQ(parseOptions({"-i", "x", "--help"}, o, error), ParseStatus::Help);
    EXPECT_EQ(parseOptions({"--version"}, o, error), ParseStatus::Version);
    const std::string usage = usageText();
    for (const char* option : {"--video", "--audio", "--video-kbps", "--quality", "--passes", "--audio-kbps",
                               "--audio-rate", "--audio-channels", "--demo", "--size", "--fps"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(Options, UsageErrors)
{
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--bogus"}, "unknown option"},
        {{"stray.y4m"}, "unexpected argument"},
        {{"-i", "a.y4m"}, "no output"},
        {{"-i"}, "needs a value"},
        {{"-i", ""}, "file name"},
        {{"-b", "0", "-o", "x.wmv"}, "-b"},
        {{"-b", "858994"}, "-b"},
        {{"-b", "12k"}, "-b"},
        {{"-b", "-5"}, "-b"},
        {{"-q", "101"}, "-q"},
        {{"--passes", "3"}, "--passes"},
        {{"--audio-channels", "6"}, "--audio-channels"},
        {{"--audio-rate", "0"}, "--audio-rate"},
        {{"--audio-kbps", "x"}, "--audio-kbps"},
        {{"--size", "640"}, "--size"},
        {{"--size", "x480", "-i", "a"}, "--size"},
        {{"--fps", "0", "-i", "a"}, "--fps"},
        {{"--fps", "30000/0", "-i", "a"}, "--fps"},
        {{"--fps", "29.97", "-i", "a"}, "--fps"},
        {{"--demo=yes"}, "takes no value"},
        {{"--demo", "-i", "a.y4m"}, "--demo"},
        {{"--demo", "--size", "4x4"}, "demo"},
        {{"-a", "a.wav", "--size", "4x4", "-o", "x.wmv"}, "video input"},
        {{"-i", "-", "-a", "-", "-o", "x.wmv"}, "standard input"},
        {{"-i", "-", "--passes", "2", "-o", "x.wmv"}, "twice"},
        {{"-a", "a.wav", "--passes", "2", "-o", "x.wmv"}, "--passes 2"},
        {{"-i", "a.y4m", "-o", "-"}, "output"},
        {{"-i", "a.y4m", "-o", "a.y4m"}, "also an input"},
        {{"-a", "a.wav", "-o", "a.wav"}, "also an input"},
    };
    for (const auto& c : cases) {
        Options o;
        std::string error;
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(parseOptions(c.args, o, error), ParseStatus::Error) << joined;
        EXPECT_NE(error.find(c.says), std::string::npos) << joined << "-> " << error;
    }
}

}  // namespace
}  // namespace asfenc
