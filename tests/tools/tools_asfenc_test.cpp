// The asfenc program as a user runs it: exit codes and messages for usage
// errors and bad input, and the files it writes, checked with FFmpeg.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using asfw::test::CommandResult;
using asfw::test::runCommand;
using asfw::test::shellQuote;
using asfw::test::TempDir;
using Bytes = std::vector<std::uint8_t>;

const std::string kAsfenc = ASFENC_PATH;

// Runs asfenc with `args` (already quoted) inside `dir`.
CommandResult asfenc(const TempDir& dir, const std::string& args)
{
    return runCommand("cd " + shellQuote(dir.path()) + " && " + shellQuote(kAsfenc) + " " + args);
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

// A YUV4MPEG2 stream of moving gradients.
Bytes y4m(int w, int h, int frames, const std::string& extra = "F25:1")
{
    const std::string header = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " " + extra + "\n";
    Bytes out(header.begin(), header.end());
    for (int f = 0; f < frames; ++f) {
        const std::string fh = "FRAME\n";
        out.insert(out.end(), fh.begin(), fh.end());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) out.push_back(static_cast<std::uint8_t>(16 + (x + y + 3 * f) % 200));
        out.resize(out.size() + static_cast<std::size_t>(w / 2 * (h / 2) * 2), 128);
    }
    return out;
}

void put16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A 16-bit PCM WAV holding a 440 Hz tone.
Bytes wav(int rate, int channels, double seconds, unsigned tag = 1)
{
    const int frames = static_cast<int>(rate * seconds);
    Bytes data;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            put16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * i / rate))));
    Bytes b{'R', 'I', 'F', 'F'};
    put32(b, static_cast<std::uint32_t>(36 + data.size()));
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(b, 16);
    put16(b, tag);
    put16(b, static_cast<unsigned>(channels));
    put32(b, static_cast<std::uint32_t>(rate));
    put32(b, static_cast<std::uint32_t>(rate * channels * 2));
    put16(b, static_cast<unsigned>(channels * 2));
    put16(b, 16);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

void write(const std::string& path, const Bytes& bytes) { ASSERT_TRUE(asfw::test::writeFileBytes(path, bytes)); }

// One line of `ffprobe -show_entries` output per stream: codec_type,codec_name,...
std::string probeStreams(const std::string& file, const std::string& entries = "codec_type,codec_name,width,height")
{
    return runCommand("ffprobe -v error -show_entries stream=" + entries + " -of csv=p=0 " + shellQuote(file)).output;
}

// Frames FFmpeg decodes from the first video stream, failing on any error.
int decodedFrames(const std::string& file)
{
    const CommandResult r = runCommand("ffmpeg -v error -xerror -i " + shellQuote(file) +
                                       " -map 0:v:0 -fps_mode passthrough -f framemd5 -");
    if (r.exitCode != 0) return -1;
    int frames = 0;
    std::size_t pos = 0;
    while ((pos = r.output.find('\n', pos)) != std::string::npos) {
        ++pos;
        if (pos < r.output.size() && r.output[pos] != '#') ++frames;
    }
    return frames;
}

TEST(Asfenc, HelpGoesToStandardOutput)
{
    TempDir dir;
    const CommandResult r = asfenc(dir, "--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.output.find("usage: asfenc"), std::string::npos);
    EXPECT_TRUE(r.errors.empty());
}

TEST(Asfenc, UsageErrorsAndBadInputExitWith2AndWriteNothing)
{
    TempDir dir;
    write(dir.file("ok.y4m"), y4m(64, 48, 2));
    write(dir.file("ok.wav"), wav(44100, 2, 0.1));
    write(dir.file("c422.y4m"), y4m(64, 48, 2, "F25:1 C422"));
    write(dir.file("odd.y4m"), y4m(63, 48, 2));
    write(dir.file("norate.y4m"), y4m(64, 48, 2, ""));
    Bytes cut = y4m(64, 48, 1);
    cut.resize(12);
    write(dir.file("cuthead.y4m"), cut);
    write(dir.file("text.txt"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    write(dir.file("adpcm.wav"), wav(44100, 2, 0.1, 2));
    Bytes nodata = wav(44100, 2, 0.1);
    nodata.resize(36);
    write(dir.file("nodata.wav"), nodata);
    const struct {
        const char* args;
        const char* says;
    } cases[] = {
        {"--frobnicate", "unknown option"},
        {"-i ok.y4m", "no output"},
        {"-i ok.y4m -b 0 -o out.wmv", "-b"},
        {"-i ok.y4m -q 101 -o out.wmv", "-q"},
        {"-i ok.y4m --passes 3 -o out.wmv", "--passes"},
        {"-i - --passes 2 -o out.wmv", "twice"},
        {"-i missing.y4m -o out.wmv", "missing.y4m"},
        {"-i c422.y4m -o out.wmv", "chroma"},
        {"-i odd.y4m -o out.wmv", "odd"},
        {"-i norate.y4m -o out.wmv", "--fps"},
        {"-i cuthead.y4m -o out.wmv", "cut short"},
        {"-i text.txt -o out.wmv", "not a YUV4MPEG2"},
        {"-i text.txt --size 4x4 -o out.wmv", "--fps"},
        {"-i ok.y4m --size 32x32 -o out.wmv", "does not match"},
        {"-i ok.y4m -a text.txt -o out.wmv", "not a WAV"},
        {"-i ok.y4m -a adpcm.wav -o out.wmv", "format tag 0x0002"},
        {"-a nodata.wav -o out.wmv", "no sample data"},
        {"-a ok.wav -o out.wmv -i .", "folder"},
    };
    for (const auto& c : cases) {
        const CommandResult r = asfenc(dir, c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args;
        EXPECT_NE(r.errors.find(c.says), std::string::npos) << c.args << " -> " << r.errors;
        EXPECT_EQ(r.errors.rfind("asfenc: ", 0), 0u) << c.args << " -> " << r.errors;
        EXPECT_TRUE(r.output.empty()) << c.args;
        EXPECT_FALSE(exists(dir.file("out.wmv"))) << c.args;
    }
}

TEST(Asfenc, LibraryRefusalsExitWith1)
{
    TempDir dir;
    write(dir.file("ok.y4m"), y4m(64, 48, 2));
    write(dir.file("ok.wav"), wav(44100, 2, 0.1));
    const struct {
        const char* args;
        const char* says;
    } cases[] = {
        {"-a ok.wav --audio-rate 12345 -o out.wmv", "no audio format"},
        {"-a ok.wav --audio-kbps 1 -o out.wmv", "no audio format"},
        {"-i ok.y4m -o no/such/folder/out.wmv", "cannot write"},
    };
    for (const auto& c : cases) {
        const CommandResult r = asfenc(dir, c.args);
        EXPECT_EQ(r.exitCode, 1) << c.args << " -> " << r.errors;
        EXPECT_NE(r.errors.find(c.says), std::string::npos) << c.args << " -> " << r.errors;
    }
}

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
    EXPECT_NE(streams.find("video,wmv3,640,480"), std::string::npos) << streams;
    EXPECT_NE(streams.find("audio,wmav2"), std::string::npos) << streams;
    const std::string duration =
        runCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + shellQuote(dir.file("demo.wmv")))
            .output;
    EXPECT_NEAR(std::atof(duration.c_str()), 10.0, 0.5) << duration;
    EXPECT_EQ(decodedFrames(dir.file("demo.wmv")), 300);
}

TEST(Asfenc, Y4mThroughAPipeFromFfmpegWithAWav)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    write(dir.file("tone.wav"), wav(44100, 1, 2.0));
    const CommandResult r = runCommand(
        "cd " + shellQuote(dir.path()) +
        " && ffmpeg -v error -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 50 -f yuv4mpegpipe - | " +
        shellQuote(kAsfenc) + " -i - -a tone.wav -b 300 -o out.wmv");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_NE(r.output.find("50 frames"), std::string::npos) << r.output;
    const std::string streams = probeStreams(dir.file("out.wmv"));
    EXPECT_NE(streams.find("video,wmv3,176,144"), std::string::npos) << streams;
    EXPECT_NE(streams.find("audio,wmav2"), std::string::npos) << streams;
    EXPECT_EQ(decodedFrames(dir.file("out.wmv")), 50);
}

TEST(Asfenc, RawI420FromStandardInputAndTwoPassFromAFile)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    Bytes y = y4m(96, 64, 12);
    // The same frames without the stream and frame headers.
    Bytes raw;
    const std::size_t headerEnd = std::string(y.begin(), y.end()).find('\n') + 1;
    const std::size_t frameBytes = 96 * 64 * 3 / 2;
    for (int f = 0; f < 12; ++f) {
        const std::size_t at = headerEnd + static_cast<std::size_t>(f) * (6 + frameBytes) + 6;
        raw.insert(raw.end(), y.begin() + static_cast<std::ptrdiff_t>(at),
                   y.begin() + static_cast<std::ptrdiff_t>(at + frameBytes));
    }
    write(dir.file("in.yuv"), raw);
    write(dir.file("in.y4m"), y);
    const CommandResult a = asfenc(dir, "-i - --size 96x64 --fps 30000/1001 -o raw.wmv < in.yuv");
    ASSERT_EQ(a.exitCode, 0) << a.errors;
    EXPECT_EQ(decodedFrames(dir.file("raw.wmv")), 12);
    EXPECT_NE(probeStreams(dir.file("raw.wmv"), "r_frame_rate").find("30000/1001"), std::string::npos);

    const CommandResult b = asfenc(dir, "-i in.y4m --passes 2 -o twopass.wmv");
    ASSERT_EQ(b.exitCode, 0) << b.errors;
    EXPECT_EQ(decodedFrames(dir.file("twopass.wmv")), 12);
}

TEST(Asfenc, ATruncatedInputStillGivesAPlayableFileAndExits2)
{
    ASFW_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    Bytes y = y4m(96, 64, 10);
    y.resize(y.size() - 1000);  // the tenth frame loses its end
    write(dir.file("cut.y4m"), y);
    write(dir.file("tone.wav"), wav(48000, 2, 1.0));
    const CommandResult r = asfenc(dir, "-i cut.y4m -a tone.wav -o out.wmv");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.errors.find("frame 10 is cut short"), std::string::npos) << r.errors;
    EXPECT_NE(r.errors.find("9 complete frames"), std::string::npos) << r.errors;
    EXPECT_EQ(decodedFrames(dir.file("out.wmv")), 9);

    Bytes w = wav(44100, 2, 1.0);
    w.resize(w.size() / 2 + 1);  // cut, and inside a sample frame
    write(dir.file("cut.wav"), w);
    const CommandResult a = asfenc(dir, "-a cut.wav -o audio.wmv");
    EXPECT_EQ(a.exitCode, 2);
    EXPECT_NE(a.errors.find("cut short"), std::string::npos) << a.errors;
    EXPECT_EQ(runCommand("ffmpeg -v error -xerror -i " + shellQuote(dir.file("audio.wmv")) + " -f null -").exitCode, 0);
}

}  // namespace
